#include <gtest/gtest.h>

#include "EngineFixture.h"
#include "core/TextUtils.h"
#include "engine/Package.h"
#include "system/FileCtrl.h"
#include "system/FileStream.h"
#include "system/SysKernel.h"

namespace {
TPageInfoRec* AddPage(IProject& p, const AnsiString& page, const AnsiString& name, uint8_t kind,
                      const AnsiString& value) {
  TPageInfoRec* r = p.GetPageList()->Add();
  r->Page = page;
  r->Name = name;
  r->Kind = kind;
  r->Value = value;
  return r;
}
}  // namespace

TEST_F(EngineTest, ReleaseUnpacksSupportComponentAndPageFiles) {
  const AnsiString src = "D:\\" + Unique + "R\\";
  TIntfPtr<IProject> saved(new TProject);
  saved->FindWork("项目名称")->Value = "释放测试";
  AddPage(*saved, "欢迎", "标题图片", twkJpg, src + "pic\\head.jpg");
  AddPage(*saved, "安装协议说明", "标题图片", twkJpg, UpperCaseAscii(src) + "PIC\\HEAD.JPG");
  AddPage(*saved, "安装完毕", "主程序", twkFile, src + "pic\\head.jpg");
  saved->SaveToFile(Work + "p.gbp");

  const AnsiString setup = Work + "setup.exe";
  MakeSetup(setup, {{src + "proj.gbp", pkSupport, ReadAll(Work + "p.gbp")},
                    {src + "Imports\\ComList.ini", pkSupport, "[Com]\r\n"},
                    {src + "app\\main.exe", pkProgramFile, "main"},
                    {src + "Imports\\c\\c.ini", pkComponentFile, "[Option]\r\n"},
                    {src + "pic\\head.jpg", pkPageFile, std::string(20000, 'j')},
                    {src + "empty.txt", pkPageFile, ""},
                    {"C:\\proj\\\\UnIns.exe", pkUninstaller, "uninstaller"}});

  TIntfPtr<IProject> project(new TProject);
  TCompile* engine;
  auto c = NewEngine(engine, project);
  TInsPackList list;
  AnsiString base;
  bool loadedFirst = false;
  QueryIntf<IReleaseWork>(c)->ReleaseFiles(setup, list, [&](int32_t max, int32_t pos, const AnsiString& text, bool flag) {
    Reports.push_back({max, pos, text, flag});
    if (base.empty() && !engine->ReleaseFolder().empty()) base = engine->ReleaseFolder() + Unique + "R\\";
    // The project is loaded right after entry 1, before the catalogue is unpacked.
    if (pos == 1) loadedFirst = project->GetProjectName() == "释放测试" && !FileExists(base + "Imports\\ComList.ini");
  });
  EXPECT_TRUE(loadedFirst);
  // First the package check (Flag true, never Position = Max), then one report per entry.
  size_t checks = 0;
  while (checks < Reports.size() && Reports[checks].Flag) {
    EXPECT_LT(Reports[checks].Position, Reports[checks].Max);
    ++checks;
  }
  ASSERT_GE(checks, 2u);
  EXPECT_EQ(Reports[0].Position, 0);
  ASSERT_EQ(Reports.size() - checks, 7u);
  for (int i = 0; i < 7; ++i) {
    const TReport& r = Reports[checks + size_t(i)];
    EXPECT_FALSE(r.Flag);
    EXPECT_EQ(r.Max, 7);
    EXPECT_EQ(r.Position, i + 1);
    EXPECT_TRUE(r.Text.empty());
  }
  ASSERT_EQ(list.Count(), 7);
  EXPECT_EQ(list[0]->Name, base + "proj.gbp");
  EXPECT_EQ(list[1]->Name, base + "Imports\\ComList.ini");
  EXPECT_EQ(list[2]->Name, src + "app\\main.exe");  // left in the package
  EXPECT_EQ(list[3]->Name, base + "Imports\\c\\c.ini");
  EXPECT_EQ(list[6]->Name, "C:\\proj\\\\UnIns.exe");
  EXPECT_FALSE(FileExists(base + "app\\main.exe"));
  EXPECT_EQ(ReadAll(base + "pic\\head.jpg"), std::string(20000, 'j'));
  EXPECT_EQ(ReadAll(base + "empty.txt"), "");

  // Both items naming the picture now name the unpacked copy; the main program never changes here.
  TPageInfoList& pages = *project->GetPageList();
  EXPECT_EQ(pages[0]->Value, base + "pic\\head.jpg");
  EXPECT_EQ(pages[1]->Value, base + "pic\\head.jpg");
  EXPECT_EQ(project->GetMainProgramItem()->Value, src + "pic\\head.jpg");

  // What was written below the temporary folder is named for the window to remove, and not
  // logged: the uninstaller would only look for it after it is gone.
  EXPECT_EQ(engine->Log().Count(), 0);
  TStringList files, folders;
  QueryIntf<IReleasedFiles>(c)->GetReleasedFiles(files, folders);
  EXPECT_EQ(files, (TStringList{base + "proj.gbp", base + "Imports\\ComList.ini", base + "Imports\\c\\c.ini",
                                base + "pic\\head.jpg", base + "empty.txt"}));
  // Everything lies in a fresh folder of its own, directly in the temporary folder, which goes first.
  const AnsiString priv = engine->ReleaseFolder();
  ASSERT_EQ(priv.size(), TempFolder().size() + 21) << priv;
  EXPECT_EQ(priv.substr(0, TempFolder().size() + 4), TempFolder() + "gbs-");
  EXPECT_EQ(priv.find_first_not_of("0123456789abcdef", TempFolder().size() + 4), priv.size() - 1) << priv;
  EXPECT_EQ(folders, (TStringList{priv.substr(0, priv.size() - 1), priv + Unique + "R", base + "Imports",
                                  base + "Imports\\c", base + "pic"}));

  c->ClearPackList(list);
  EXPECT_EQ(list.Count(), 0);
}

TEST_F(EngineTest, ReleaseOfFilesWithoutEntriesReportsOnce) {
  TCompile* engine;
  auto c = NewEngine(engine, TIntfPtr<IProject>(new TProject));
  TInsPackList list;

  WriteAll(Work + "plain.exe", std::string("MZ plain program") + std::string(8, '\0'));
  QueryIntf<IReleaseWork>(c)->ReleaseFiles(Work + "plain.exe", list, Recorder());
  ASSERT_EQ(Reports.size(), 1u);
  EXPECT_EQ(Reports[0].Max, 1);
  EXPECT_EQ(Reports[0].Position, 1);

  // Positions of 0: a trailer without entries.
  {
    TFileStream f(Work + "zero.exe", fmCreate);
    f.Write("MZ", 2);
    WriteInt64(f, 0);
    WriteInt64(f, 0);
    int64_t t = f.Position();
    WriteStreamString(f, "");
    WriteInt64(f, t);
  }
  Reports.clear();
  QueryIntf<IReleaseWork>(c)->ReleaseFiles(Work + "zero.exe", list, Recorder());
  ASSERT_EQ(Reports.size(), 1u);
  EXPECT_EQ(Reports[0].Position, Reports[0].Max);
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(engine->Log().Count(), 0);
}

TEST_F(EngineTest, ReleaseRefusesNamesThatLeaveTheTemporaryFolder) {
  TIntfPtr<IProject> saved(new TProject);
  saved->SaveToFile(Work + "p.gbp");
  const AnsiString src = "D:\\" + Unique + "R\\";
  MakeSetup(Work + "setup.exe", {{src + "proj.gbp", pkSupport, ReadAll(Work + "p.gbp")},
                                 {src + "ComList.ini", pkSupport, ""},
                                 {"D:\\" + Unique + "R\\..\\..\\evil.txt", pkPageFile, "x"},
                                 {"C:\\UnIns.exe", pkUninstaller, "u"}});
  TCompile* engine;
  auto c = NewEngine(engine, TIntfPtr<IProject>(new TProject));
  TInsPackList list;
  try {
    QueryIntf<IReleaseWork>(c)->ReleaseFiles(Work + "setup.exe", list, Recorder());
    FAIL() << "unsafe name accepted";
  } catch (const EDamagedData& e) {
    EXPECT_NE(std::string(e.what()).find("evil.txt"), std::string::npos);
  }
  EXPECT_EQ(list.Count(), 0);
  for (const TReport& r : Reports) EXPECT_TRUE(r.Flag);  // only the check reported
  EXPECT_FALSE(FolderExists(TempFolder() + Unique + "R"));
  EXPECT_FALSE(FileExists(TempFolder() + "evil.txt"));
}

TEST_F(EngineTest, ReleaseRefusesADamagedPackageBeforeWritingAnything) {
  TIntfPtr<IProject> saved(new TProject);
  saved->SaveToFile(Work + "p.gbp");
  const AnsiString src = "D:\\" + Unique + "D\\";
  const AnsiString setup = Work + "setup.exe";
  MakeSetup(setup, {{src + "proj.gbp", pkSupport, ReadAll(Work + "p.gbp")},
                    {src + "ComList.ini", pkSupport, "[Com]\r\n"},
                    {src + "app\\data.bin", pkProgramFile, std::string(30000, 'd')},
                    {"C:\\UnIns.exe", pkUninstaller, "u"}});
  TInsPackList entries;
  {
    TFileStream f(setup, fmOpenRead);
    ReadPackage(f, entries);
  }
  // One byte of a program file: the release itself never expands that entry.
  std::string bytes = ReadAll(setup);
  bytes[size_t(entries[2]->DataStart + 20)] ^= 0x10;
  WriteAll(setup, bytes);

  TCompile* engine;
  auto c = NewEngine(engine, TIntfPtr<IProject>(new TProject));
  TInsPackList list;
  try {
    QueryIntf<IReleaseWork>(c)->ReleaseFiles(setup, list, Recorder());
    FAIL() << "damaged package released";
  } catch (const EDamagedPackage& e) {
    EXPECT_EQ(e.Message().find(Format(SDamagedSetupFile, setup.c_str())), 0u) << e.Message();
  }
  EXPECT_EQ(list.Count(), 0);
  for (const TReport& r : Reports) EXPECT_TRUE(r.Flag && r.Position < r.Max);
  EXPECT_FALSE(FolderExists(TempFolder() + Unique + "D"));
  EXPECT_EQ(engine->Log().Count(), 0);
}

#include <gtest/gtest.h>

#include "EngineFixture.h"
#include "core/TextUtils.h"
#include "engine/InstallLog.h"
#include "system/FileCtrl.h"
#include "system/SysKernel.h"

namespace {
std::string Hex(const std::string& bytes) {
  static const char* d = "0123456789ABCDEF";
  std::string s;
  for (unsigned char c : bytes) {
    if (!s.empty()) s += ' ';
    s += d[c >> 4];
    s += d[c & 15];
  }
  return s;
}
}  // namespace

TEST_F(EngineTest, InstallLogFileFormat) {
  TInstallLog empty;
  empty.WriteToFile(Work + "empty.txt");
  EXPECT_EQ(Hex(ReadAll(Work + "empty.txt")), "00 00 00 00");

  TInstallLog log;
  log.SetTitle("T");
  log.AddRecord("C:\\A", 0, 0, 0, 0, SCreatedFolderMark);
  log.AddRecord("a", 1, 0, 1, 7, "");
  log.WriteToFile(Work + "UnLog.txt");
  // Title; the created-folder record (path, "创建的文件夹", four zero bytes); a file record.
  EXPECT_EQ(Hex(ReadAll(Work + "UnLog.txt")),
            "01 00 00 00 54 "
            "04 00 00 00 43 3A 5C 41 0C 00 00 00 B4 B4 BD A8 B5 C4 CE C4 BC FE BC D0 00 00 00 00 "
            "01 00 00 00 61 00 00 00 00 01 00 01 07");
}

TEST_F(EngineTest, InstallLogReaderRejectsCutAndGarbageFiles) {
  TInstallLog log;
  log.SetTitle("项目");
  log.AddRecord("C:\\文件夹", 0, 0, 0, 0, SCreatedFolderMark);
  log.AddRecord("HKEY_CURRENT_USER\\Software\\X", 0, 0, 0, 0, "名称");
  log.AddRecord("C:\\a.exe", 1, 1, 1, 2, "");
  log.WriteToFile(Work + "full.txt");

  TInstallLog back;
  back.LoadFromFile(Work + "full.txt");
  ASSERT_EQ(back.Count(), 3);
  EXPECT_EQ(back.Title, "项目");
  EXPECT_EQ(back.Records(1)->Text, "名称");
  EXPECT_EQ(back.Records(2)->Path, "C:\\a.exe");
  EXPECT_EQ(back.Records(2)->LogFlag, 2);

  // Every cut that is not a record boundary is an error; the boundaries read fewer records.
  const std::string full = ReadAll(Work + "full.txt");
  int boundaries = 0;
  for (size_t cut = 0; cut < full.size(); ++cut) {
    WriteAll(Work + "cut.txt", full.substr(0, cut));
    TInstallLog part;
    part.SetTitle("before");
    try {
      part.LoadFromFile(Work + "cut.txt");
      ++boundaries;
    } catch (const EDamagedData& e) {
      EXPECT_NE(std::string(e.what()).find("cut.txt"), std::string::npos);
      EXPECT_EQ(part.Title, "before");  // left as it was
      EXPECT_EQ(part.Count(), 0);
    }
  }
  EXPECT_EQ(boundaries, 3);  // after the title and after the first two records

  // A length that runs far past the end is refused before anything is allocated.
  WriteAll(Work + "bad.txt", std::string("\x00\x00\x00\x00\xff\xff\xff\x7f", 8));
  TInstallLog bad;
  EXPECT_THROW(bad.LoadFromFile(Work + "bad.txt"), EDamagedData);
  WriteAll(Work + "neg.txt", std::string("\xf0\xff\xff\xff", 4));
  EXPECT_THROW(bad.LoadFromFile(Work + "neg.txt"), EDamagedData);
}

TEST_F(EngineTest, CreateFolderLogsEachNewLevel) {
  TCompile* engine;
  auto c = NewEngine(engine, TIntfPtr<IProject>());
  c->CreateFolder(Work + "A\\B\\");
  ASSERT_EQ(engine->Log().Count(), 2);
  EXPECT_EQ(engine->Log().Records(0)->Path, Work + "A");
  EXPECT_EQ(engine->Log().Records(1)->Path, Work + "A\\B");
  EXPECT_EQ(engine->Log().Records(1)->Text, SCreatedFolderMark);
  EXPECT_TRUE(FolderExists(Work + "A\\B"));
  c->CreateFolder(Work + "A\\B\\文件夹");  // only the new level
  ASSERT_EQ(engine->Log().Count(), 3);
  EXPECT_EQ(engine->Log().Records(2)->Path, Work + "A\\B\\文件夹");
  c->CreateFolder(Work + "A");
  EXPECT_EQ(engine->Log().Count(), 3);
  // The drive is never logged.
  for (TInsLogRec* r : engine->Log().List()) EXPECT_GT(r->Path.size(), 2u);
}

TEST_F(EngineTest, SaveInstallLogGoesBesideTheMainProgram) {
  TIntfPtr<IProject> project(new TProject);
  TCompile* engine;
  auto c = NewEngine(engine, project);
  // No main-program item: nowhere sensible to put the log.
  EXPECT_THROW(c->SaveInstallLog(), Exception);

  TPageInfoRec* main = project->GetPageList()->Add();
  main->Page = "安装完毕";
  main->Name = "主程序";
  main->Value = Work + "app\\main.exe";
  ForceFolders(Work + "app");
  c->AddLogRecord(Work + "app\\a.lnk", 0, 0, 0, 0, "");
  engine->Log().SetTitle("名");
  c->SaveInstallLog();
  TInstallLog back;
  back.LoadFromFile(Work + "app\\UnLog.txt");
  ASSERT_EQ(back.Count(), 1);
  EXPECT_EQ(back.Records(0)->Path, Work + "app\\a.lnk");
}

TEST(EngineHelpers, TargetFoldersAndRegistryText) {
  const AnsiString windows = WindowsFolder();
  const AnsiString drive = windows.substr(0, 1) + ":\\";
  EXPECT_EQ(ResolveTargetFolder("program files\\bin", "D:\\Inst"), "D:\\Inst\\bin");
  EXPECT_EQ(ResolveTargetFolder("PROGRAM FILES", "D:\\Inst\\"), "D:\\Inst\\");
  EXPECT_EQ(ResolveTargetFolder("Windows\\System32", "D:\\Inst"), drive + "Windows\\System32");
  // 碶 ends in the byte 5C, which is not a delimiter there.
  EXPECT_EQ(ResolveTargetFolder("Program Files\\bin", "D:\\碶"), "D:\\碶\\bin");
  EXPECT_EQ(WithPathDelimiter("D:\\碶"), "D:\\碶\\");
  EXPECT_EQ(WithPathDelimiter("D:\\碶\\"), "D:\\碶\\");
  EXPECT_EQ(WithPathDelimiter("D:\\a"), "D:\\a\\");

  EXPECT_EQ(ExpandPathPrefix("安装目录\\工程名称\\a.exe", "D:\\Inst", "名"), "D:\\Inst\\a.exe");
  EXPECT_EQ(ExpandPathPrefix("windows\\system32\\x.dll", "D:\\Inst", "名"), windows + "\\System32\\x.dll");
  EXPECT_EQ(ExpandPathPrefix("Windows\\System\\x.dll", "D:\\Inst", "名"), windows + "\\System\\x.dll");
  EXPECT_EQ(ExpandPathPrefix("Program Files\\工程名称\\a", "D:\\Inst", "名"),
            ProgramFilesFolder() + "\\名\\a");
  EXPECT_EQ(ExpandPathPrefix("x\\Windows\\System", "D:\\Inst", "名"), "x\\Windows\\System");

  EXPECT_EQ(HexTextToInt("FF"), 255);
  EXPECT_EQ(HexTextToInt("fF"), 255);
  EXPECT_EQ(HexTextToInt("1G"), 16);  // G counts as 0
  EXPECT_EQ(HexTextToInt("FFFFFFFFFF"), 0xFFFFFFFFFFll);
  EXPECT_EQ(HexTextToBytes("ABC"), (TArrayByte{0xAB, 0xC0}));
  EXPECT_EQ(HexTextToBytes("0a10"), (TArrayByte{0x0A, 0x10}));
  EXPECT_TRUE(HexTextToBytes("").empty());

  EXPECT_TRUE(OsFilterAllows("", "6.1"));
  EXPECT_TRUE(OsFilterAllows("5.1,6.1", "6.1"));
  EXPECT_FALSE(OsFilterAllows("5.1,6.0", "6.1"));
}

TEST(EngineHelpers, EntryNamesThatLeaveTheirFolder) {
  EXPECT_TRUE(IsSafeEntryName("D:\\src\\a.txt"));
  EXPECT_TRUE(IsSafeEntryName("D:\\碶..\\a"));  // 碶 ends in byte 5C: not a separator
  EXPECT_TRUE(IsSafeEntryName("D:\\a..b\\c"));
  EXPECT_FALSE(IsSafeEntryName("D:\\..\\a.txt"));
  EXPECT_FALSE(IsSafeEntryName("D:\\src\\..\\..\\a.txt"));
  EXPECT_FALSE(IsSafeEntryName("D:\\src/../a.txt"));
  EXPECT_FALSE(IsSafeEntryName("D:\\src\\... \\a"));
  EXPECT_FALSE(IsSafeEntryName("D:\\\\server\\a"));
  EXPECT_FALSE(IsSafeEntryName("D:\\C:\\a"));
  EXPECT_FALSE(IsSafeEntryName("D:\\"));
  EXPECT_FALSE(IsSafeEntryName("D:\\src\\"));
}

#include <gtest/gtest.h>

#include <map>

#include "EngineFixture.h"
#include "core/DateTime.h"
#include "core/Sysconsts.h"
#include "core/TextUtils.h"
#include "engine/Package.h"
#include "engine/PackageCheck.h"
#include "engine/StoredNames.h"
#include "project/ProjectFile.h"
#include "system/Dialogs.h"
#include "system/FileCtrl.h"
#include "system/FileStream.h"
#include "system/IconEdit.h"
#include "system/Platform.h"
#include "system/SysKernel.h"

namespace {
// A real executable of the icon tests' fixtures: PE32 fixture.exe, PE32+ fixture64.exe.
AnsiString FixtureExe(const char* name) {
#ifdef _WIN32
  AnsiString path = AnsiString("Z:") + ICONEDIT_FIXTURES + "/" + name;
  for (char& c : path)
    if (c == '/') c = '\\';
  return path;
#else
  return ProgramPath(std::string(ICONEDIT_FIXTURES) + "/" + name);
#endif
}
}  // namespace

// Builds with stand-in stubs in a data folder of the test's own.
class BuilderTest : public EngineTest {
protected:
  void SetUp() override {
    EngineTest::SetUp();
    Data = Work + "data\\";
    ForceFolders(Data + "Exe");
    ForceFolders(Data + "Imports\\c1\\sub");
    ForceFolders(Work + "src\\grp\\deep");
    ForceFolders(Work + "proj");
    WriteAll(Data + "Exe\\Setup.exe", "MZ setup stand-in");
    WriteAll(Data + "Exe\\UnIns.exe", "MZ uninstaller stand-in");
    WriteAll(Data + "Imports\\ComList.ini", "[Com]\r\nC1=c1\r\n");
    WriteAll(Data + "Imports\\c1\\a.dll", "a");
    WriteAll(Data + "Imports\\c1\\sub\\b.dll", "bb");
    WriteAll(Work + "src\\main.exe", std::string(20000, 'm'));
    WriteAll(Work + "src\\empty.txt", "");
    WriteAll(Work + "src\\grp\\deep\\g.txt", "g");
    WriteAll(Work + "src\\one.txt", "one");
    WriteAll(Work + "src\\pic.jpg", "jpeg");
    SetBaseFolder(Data);

    Project = TIntfPtr<IProject>(new TProject);
    Project->FindWork("项目名称")->Value = "构建";
    auto files = QueryIntf<IProjectFiles>(Project);
    for (const char* f : {"main.exe", "empty.txt"}) {
      TFileInfoRec* r = files->GetFileList()->Add();
      r->SourcePath = Work + "src\\" + f;
      r->FileName = f;
      r->TargetDir = "Program Files";
    }
    files->AddSpecialFile("C:\\G", new TStringList{Work + "src\\grp", Work + "src\\one.txt", Work + "src\\none"});
    QueryIntf<IProjectComponents>(Project)->GetComponents()->Add("C1");
    auto page = [&](const char* p, const char* n, uint8_t kind, const AnsiString& v) {
      TPageInfoRec* r = Project->GetPageList()->Add();
      r->Page = p;
      r->Name = n;
      r->Kind = kind;
      r->Value = v;
    };
    page("欢迎", "标题图片", twkJpg, Work + "src\\pic.jpg");
    page("安装完毕", "标题图片", twkJpg, UpperCaseAscii(Work + "src\\pic.jpg"));  // the same file
    page("安装完毕", "主程序", twkFile, Work + "src\\main.exe");
    page("欢迎", "欢迎信息", twkStr, Work + "src\\one.txt");
    Project->SaveToFile(Work + "proj\\p.gbp");
    Options.OutputFolder = Work + "out";
    Options.CompressionLevel = 2;
    Options.Jobs = 1;
    Project->SetBuildOptions(&Options);
    Engine = NewEngine(Raw, Project);
  }
  void TearDown() override {
    SetBaseFolder("");
    SetDialogResponder(nullptr);
    EngineTest::TearDown();
  }

  AnsiString Data;
  TBuildOptions Options;
  TIntfPtr<IProject> Project;
  TIntfPtr<ICompile> Engine;
  TCompile* Raw = nullptr;
};

TEST_F(BuilderTest, PackageHoldsEveryEntryInOrder) {
  std::vector<std::pair<int, int>> reports;
  std::vector<AnsiString> names;
  Engine->SetProgressEvent([&](int32_t i, int32_t n, const AnsiString& name) {
    reports.emplace_back(i, n);
    names.push_back(name);
  });
  Engine->Compile();
  const AnsiString setup = Work + "out\\构建.exe";
  ASSERT_EQ(Engine->GetSetupFileName(), setup);

  TFileStream f(setup, fmOpenRead | fmShareDenyNone);
  TInsPackList list;
  TPackageTrailer t = ReadPackage(f, list, setup);
  EXPECT_EQ(t.P1, 17);  // the stub, unchanged, then the data
  EXPECT_EQ(ReadAll(setup).substr(0, 17), "MZ setup stand-in");
  EXPECT_EQ(t.VersionText, "gbsetup 0.1.0");
  EXPECT_TRUE(t.HasChecksum);
  EXPECT_EQ(ComputePackageChecksum(f, t), t.Checksum);

  const AnsiString uninstaller = Work + "proj\\\\UnIns.exe";
  // The sources, as the progress names them.
  std::vector<std::pair<AnsiString, int>> want = {
      {Work + "proj\\p.gbp", pkSupport},
      {Data + "Imports\\ComList.ini", pkSupport},
      {Work + "src\\main.exe", pkProgramFile},
      {Work + "src\\empty.txt", pkProgramFile},
      {Data + "Imports\\c1\\a.dll", pkComponentFile},
      {Data + "Imports\\c1\\sub\\b.dll", pkComponentFile},
      {Work + "src\\grp\\deep\\g.txt", pkGroupFile},
      {Work + "src\\one.txt", pkGroupFile},
      {Work + "src\\pic.jpg", pkPageFile},
      {uninstaller, pkUninstaller}};
  // The stored names: the data folder under one root, the folder that holds the project
  // and its sources (Work) under another.
  auto stored = [&](const AnsiString& path) {
    if (StartsStr(Data, path)) return "C:\\gbsetup\\" + path.substr(Data.size());
    EXPECT_TRUE(StartsStr(Work, path)) << path;
    return "C:\\src\\" + path.substr(Work.size());
  };
  std::vector<std::pair<AnsiString, int>> got;
  for (TInsPackRec* e : list) got.emplace_back(e->Name, e->Kind);
  // CollectFiles lists a folder in file-system order; the two component files may swap.
  if (got.size() == want.size() && got[4].first != stored(want[4].first)) std::swap(got[4], got[5]);
  if (names.size() == want.size() && names[4] != want[4].first) std::swap(names[4], names[5]);
  ASSERT_EQ(got.size(), want.size());
  for (size_t i = 0; i < want.size(); ++i) EXPECT_EQ(got[i], std::make_pair(stored(want[i].first), want[i].second));
  EXPECT_EQ(got[0].first, "C:\\src\\proj\\p.gbp");
  EXPECT_EQ(got[6].first, "C:\\src\\src\\grp\\deep\\g.txt");
  ASSERT_EQ(reports.size(), want.size());
  for (size_t i = 0; i < reports.size(); ++i) {
    EXPECT_EQ(reports[i], std::make_pair(int(i + 1), int(want.size())));
    EXPECT_EQ(names[i], want[i].first);
  }

  // The stored project names its sources by the same names, so the setup finds them.
  {
    TMemoryStream m;
    ExpandChunks(f, m, list[0]->DataStart, list[0]->DataEnd, setup);
    m.Seek(0, 0);
    TProjectFileData d;
    ReadProjectSections(m, setup, d);
    ASSERT_EQ(d.Files.Count(), 2);
    EXPECT_EQ(d.Files[0]->SourcePath, "C:\\src\\src\\main.exe");
    ASSERT_EQ(d.SpecialFiles.Count(), 1);
    EXPECT_EQ(d.SpecialFiles[0]->Sources->Items(),
              (std::vector<AnsiString>{"C:\\src\\src\\grp", "C:\\src\\src\\one.txt", "C:\\src\\src\\none"}));
    std::map<AnsiString, AnsiString> pages;
    for (TPageInfoRec* p : d.Pages) pages[p->Page + "/" + p->Name] = p->Value;
    EXPECT_EQ(pages["欢迎/标题图片"], "C:\\src\\src\\pic.jpg");
    EXPECT_EQ(pages["安装完毕/主程序"], "C:\\src\\src\\main.exe");
    EXPECT_EQ(pages["欢迎/欢迎信息"], Work + "src\\one.txt");  // text, not a file
  }

  int index = 0;
  for (TInsPackRec* e : list) {
    const AnsiString source = want[size_t(index++)].first;
    TMemoryStream m;
    ExpandChunks(f, m, e->DataStart, e->DataEnd, setup);
    std::string data(m.Data().begin(), m.Data().end());
    if (e->Kind == pkUninstaller) {
      EXPECT_EQ(data, "MZ uninstaller stand-in");
      EXPECT_EQ(e->FileSize, 0);
      EXPECT_EQ(e->FileDate, 0.0);
    } else {
      if (e->Kind == pkSupport && index == 1) continue;  // the project, as stored
      EXPECT_EQ(data, ReadAll(source)) << source;
      EXPECT_EQ(e->FileSize, static_cast<int64_t>(data.size()));
      // x87 registers of the 32-bit build carry more than a double; a millisecond is enough.
      EXPECT_NEAR(e->FileDate, FileStampOf(source), 0.001 / 86400);
    }
  }
  EXPECT_EQ(list[3]->DataStart, list[3]->DataEnd);  // the empty file has no chunk
  EXPECT_FALSE(FileExists(uninstaller));            // its bytes live in the package only
}

TEST_F(BuilderTest, ReproducibleForAnyThreadCount) {
  Engine->Compile();
  const std::string first = ReadAll(Engine->GetSetupFileName());
  Options.Jobs = 3;
  Engine->Compile();
  EXPECT_EQ(ReadAll(Engine->GetSetupFileName()), first);

  // A nameless project is built as Setup.exe.
  Project->FindWork("项目名称")->Value = "";
  Engine->Compile();
  EXPECT_EQ(Engine->GetSetupFileName(), Work + "out\\Setup.exe");
  // An output folder ending in 碶 (trail byte 5C) still gets its backslash.
  Options.OutputFolder = Work + "out碶";
  Engine->Compile();
  EXPECT_EQ(Engine->GetSetupFileName(), Work + "out碶\\Setup.exe");
  EXPECT_EQ(ReadAll(Work + "out碶\\Setup.exe"), ReadAll(Work + "out\\Setup.exe"));
}

TEST_F(BuilderTest, MissingStubMissingSourceAndChangedSource) {
  Engine->Compile();
  const AnsiString previous = Engine->GetSetupFileName();

  // A missing stub: the error box, nothing else, the previous result kept.
  std::vector<AnsiString> boxes;
  auto responder = std::make_shared<TDialogResponder>();
  responder->MessageBox = [&](TBoxStyle style, const AnsiString&, const AnsiString& text) {
    EXPECT_EQ(style, TBoxStyle::Error);
    boxes.push_back(text);
    return true;
  };
  SetDialogResponder(responder);
  DeleteFileAt(Data + "Exe\\Setup.exe");
  Project->FindWork("项目名称")->Value = "另一个";
  Engine->Compile();
  EXPECT_EQ(boxes, std::vector<AnsiString>{"原始安装文件不存在!\r\n" + Data + "Exe\\Setup.exe"});
  EXPECT_EQ(Engine->GetSetupFileName(), previous);
  EXPECT_FALSE(FileExists(Work + "out\\另一个.exe"));
  WriteAll(Data + "Exe\\Setup.exe", "MZ setup stand-in");

  // A missing uninstaller stub is named, and nothing is written either.
  boxes.clear();
  DeleteFileAt(Data + "Exe\\UnIns.exe");
  Engine->Compile();
  EXPECT_EQ(boxes, std::vector<AnsiString>{"原始安装文件不存在!\r\n" + Data + "Exe\\UnIns.exe"});
  EXPECT_FALSE(FileExists(Work + "out\\另一个.exe"));
  EXPECT_FALSE(FileExists(Work + "proj\\UnIns.exe"));
  WriteAll(Data + "Exe\\UnIns.exe", "MZ uninstaller stand-in");

  // A 64-bit setup takes the stubs of Exe\x64: without them it names the first one missing;
  // stubs of the other kind are refused by name. Nothing is written.
  Options.X64 = true;
  boxes.clear();
  Engine->Compile();
  EXPECT_EQ(boxes, std::vector<AnsiString>{"原始安装文件不存在!\r\n" + Data + "Exe\\x64\\Setup.exe"});
  ForceFolders(Data + "Exe\\x64");
  const AnsiString pe32 = FixtureExe("fixture.exe"), pe64 = FixtureExe("fixture64.exe");
  CopyFileTo(pe32, Data + "Exe\\x64\\Setup.exe", false);
  CopyFileTo(pe64, Data + "Exe\\x64\\UnIns.exe", false);
  boxes.clear();
  Engine->Compile();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].rfind("“" + Data + "Exe\\x64\\Setup.exe”是 x86 程序", 0), 0u) << boxes[0];
  EXPECT_FALSE(FileExists(Work + "out\\另一个.exe"));
  // The same stubs the right way round make a 64-bit setup with the 64-bit uninstaller packed.
  CopyFileTo(pe64, Data + "Exe\\x64\\Setup.exe", false);
  boxes.clear();
  Engine->Compile();
  EXPECT_TRUE(boxes.empty());
  EXPECT_EQ(ExecutableArchOf(Work + "out\\另一个.exe"), TImageArch::X64);
  // And a 32-bit one is refused a 64-bit stub in Exe.
  Options.X64 = false;
  CopyFileTo(pe64, Data + "Exe\\Setup.exe", false);
  boxes.clear();
  DeleteFileAt(Work + "out\\另一个.exe");
  Engine->Compile();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_NE(boxes[0].find("是 x64 程序，不能用来生成 x86 安装程序"), AnsiString::npos) << boxes[0];
  EXPECT_FALSE(FileExists(Work + "out\\另一个.exe"));
  WriteAll(Data + "Exe\\Setup.exe", "MZ setup stand-in");

  // A missing program file names itself.
  DeleteFileAt(Work + "src\\empty.txt");
  try {
    Engine->Compile();
    FAIL() << "missing source accepted";
  } catch (const EFOpenError& e) {
    EXPECT_NE(std::string(e.what()).find("empty.txt"), std::string::npos);
  }
  EXPECT_FALSE(FileExists(Work + "proj\\UnIns.exe"));
  EXPECT_FALSE(FileExists(Work + "out\\另一个.exe")) << "a setup cut short is not left behind";
  WriteAll(Work + "src\\empty.txt", "");


  // A file of the uninstaller copy's name beside the project is not someone's to replace.
  WriteAll(Work + "proj\\UnIns.exe", "mine");
  EXPECT_THROW(Engine->Compile(), EFCreateError);
  EXPECT_EQ(ReadAll(Work + "proj\\UnIns.exe"), "mine");
  DeleteFileAt(Work + "proj\\UnIns.exe");

  // A source that is gone when its data is written: the open error, and no report for it.
  std::vector<int> reported;
  Engine->SetProgressEvent([&](int32_t i, int32_t, const AnsiString&) {
    reported.push_back(i);
    if (i == 1) DeleteFileAt(Work + "src\\main.exe");
  });
  try {
    Engine->Compile();
    FAIL() << "vanished source accepted";
  } catch (const EFOpenError& e) {
    EXPECT_NE(std::string(e.what()).find("main.exe"), std::string::npos) << e.what();
  }
  EXPECT_EQ(reported, (std::vector<int>{1, 2}));
  EXPECT_FALSE(FileExists(Work + "out\\另一个.exe"));
  WriteAll(Work + "src\\main.exe", std::string(20000, 'm'));

  // A source that grows after it was measured is not packed with the old size.
  Engine->SetProgressEvent([&](int32_t i, int32_t, const AnsiString&) {
    if (i == 1) WriteAll(Work + "src\\pic.jpg", "a longer picture");
  });
  try {
    Engine->Compile();
    FAIL() << "changed source accepted";
  } catch (const EStreamError& e) {
    EXPECT_NE(std::string(e.what()).find("pic.jpg"), std::string::npos);
  }
}

TEST_F(BuilderTest, SignCommandRunsOnTheUninstallerThenOnTheFinishedSetup) {
  const AnsiString setup = Work + "out\\构建.exe";
  const AnsiString uninstaller = Work + "proj\\\\UnIns.exe";
  std::vector<AnsiString> signedFiles;
  Raw->SetSignEvent([&](const AnsiString& file) {
    signedFiles.push_back(file);
    if (file == uninstaller) {
      // Signed in place before it is packed: the package holds the signed bytes.
      WriteAll(file, ReadAll(file) + " signed");
    } else {
      // The setup is complete when it is signed.
      TFileStream f(file, fmOpenRead | fmShareDenyNone);
      TInsPackList list;
      ReadPackage(f, list, file);
      EXPECT_EQ(list.Count(), 10);
    }
  });
  Engine->Compile();
  EXPECT_EQ(signedFiles, (std::vector<AnsiString>{uninstaller, setup}));
  TFileStream f(setup, fmOpenRead | fmShareDenyNone);
  TInsPackList list;
  ReadPackage(f, list, setup);
  ASSERT_EQ(list.Count(), 10);
  TMemoryStream m;
  ExpandChunks(f, m, list[9]->DataStart, list[9]->DataEnd, setup);
  EXPECT_EQ(std::string(m.Data().begin(), m.Data().end()), "MZ uninstaller stand-in signed");
}

TEST_F(BuilderTest, AFailedSignatureLeavesNoSetupBehind) {
  for (const char* failAt : {"UnIns.exe", "构建.exe"}) {
    SCOPED_TRACE(failAt);
    Raw->SetSignEvent([&](const AnsiString& file) {
      if (ExtractFileName(file) == failAt) throw Exception("signing failed");
    });
    try {
      Engine->Compile();
      FAIL() << "a failed signature accepted";
    } catch (const Exception& e) {
      EXPECT_EQ(e.Message(), "signing failed");
    }
    EXPECT_FALSE(FileExists(Work + "out\\构建.exe"));
    EXPECT_FALSE(FileExists(Work + "proj\\UnIns.exe"));
  }
  // A build whose output is there from before: a failed signature takes it away too, since
  // it is no longer what the project describes.
  Raw->SetSignEvent(nullptr);
  Engine->Compile();
  ASSERT_TRUE(FileExists(Work + "out\\构建.exe"));
  Raw->SetSignEvent([](const AnsiString&) { throw Exception("signing failed"); });
  EXPECT_THROW(Engine->Compile(), Exception);
  EXPECT_FALSE(FileExists(Work + "out\\构建.exe"));
}

namespace {
// The texts of a version resource's string table, read node by node: length, value length,
// type, key (UTF-16 with terminator), padding to 4, value, children on 4-byte boundaries.
void ReadVersionNode(const TArrayByte& d, size_t at, size_t end, int depth, std::map<std::u16string, std::u16string>& out,
                     std::vector<uint16_t>& fixed) {
  while (at + 6 <= end) {
    const size_t len = GetLE16(&d[at]), valueLen = GetLE16(&d[at + 2]), type = GetLE16(&d[at + 4]);
    ASSERT_GE(len, 6u);
    ASSERT_LE(at + len, end);
    std::u16string key;
    size_t p = at + 6;
    for (; GetLE16(&d[p]) != 0; p += 2) key += char16_t(GetLE16(&d[p]));
    p = (p + 2 + 3) / 4 * 4;
    if (depth == 0) {
      for (size_t i = 0; i < 26; ++i) fixed.push_back(GetLE16(&d[p + 2 * i]));
      p += valueLen;
    } else if (depth == 3 && type == 1) {
      std::u16string value;
      for (size_t i = 0; i + 1 < valueLen; ++i) value += char16_t(GetLE16(&d[p + 2 * i]));
      out[key] = value;
      p += 2 * valueLen;
    } else {
      p += type == 1 ? 2 * valueLen : valueLen;
    }
    p = (p + 3) / 4 * 4;
    if (p < at + len) ReadVersionNode(d, p, at + len, depth + 1, out, fixed);
    at = (at + len + 3) / 4 * 4;
  }
}
}  // namespace

TEST_F(BuilderTest, VersionDetailsOfTheProjectInTheSetup) {
  const AnsiString stub = FixtureExe("fixture.exe");
  const AnsiString setup = Work + "out\\构建.exe";
  ASSERT_TRUE(CopyFileTo(stub, Data + "Exe\\Setup.exe", false));
  Project->FindWork("版本号")->Value = "2.10.3";
  Project->FindWork("作者名称")->Value = "某某软件公司";
  Engine->Compile();
  const std::string built = ReadAll(setup);
  TPackageTrailer t;
  {
    TFileStream f(setup, fmOpenRead | fmShareDenyNone);
    TInsPackList list;
    t = ReadPackage(f, list, setup);
    ASSERT_EQ(list.Count(), 10);
  }
  const TArrayByte image(built.begin(), built.begin() + long(t.P1));
  std::vector<TPeResource> versions;
  for (const TPeResource& r : ReadPeResources(image.data(), image.size()))
    if (r.Type == TResName::FromId(16)) versions.push_back(r);
  ASSERT_EQ(versions.size(), 1u);
  EXPECT_EQ(versions[0].Name, TResName::FromId(1));
  EXPECT_EQ(versions[0].Language, 2052);  // the fixture's own language
  std::map<std::u16string, std::u16string> strings;
  std::vector<uint16_t> fixed;
  ReadVersionNode(versions[0].Data, 0, versions[0].Data.size(), 0, strings, fixed);
  EXPECT_EQ(strings, (std::map<std::u16string, std::u16string>{{u"CompanyName", u"某某软件公司"},
                                                                {u"FileDescription", u"构建 安装程序"},
                                                                {u"FileVersion", u"2.10.3"},
                                                                {u"OriginalFilename", u"构建.exe"},
                                                                {u"ProductName", u"构建"},
                                                                {u"ProductVersion", u"2.10.3"}}));
  ASSERT_EQ(fixed.size(), 26u);
  EXPECT_EQ(fixed[0] | fixed[1] << 16, 0xFEEF04BD);
  // File version 2.10.3.0 (MS: minor, major in the high half; LS: build, revision).
  EXPECT_EQ((std::vector<uint16_t>{fixed[4], fixed[5], fixed[6], fixed[7]}), (std::vector<uint16_t>{10, 2, 0, 3}));

  // A version that is not a number keeps its text; the numbers are 0.
  Project->FindWork("版本号")->Value = "2024 测试版";
  Engine->Compile();
  TArrayByte again;
  {
    const std::string b = ReadAll(setup);
    again.assign(b.begin(), b.end());
  }
  strings.clear();
  fixed.clear();
  for (const TPeResource& r : ReadPeResources(again.data(), again.size()))
    if (r.Type == TResName::FromId(16)) ReadVersionNode(r.Data, 0, r.Data.size(), 0, strings, fixed);
  EXPECT_EQ(strings[u"ProductVersion"], u"2024 测试版");
  EXPECT_EQ((std::vector<uint16_t>{fixed[4], fixed[5], fixed[6], fixed[7]}), (std::vector<uint16_t>(4, 0)));

  // Without a name, a version and an author the stub keeps its own, byte for byte.
  Project->FindWork("项目名称")->Value = "";
  Project->FindWork("版本号")->Value = "";
  Project->FindWork("作者名称")->Value = "";
  Engine->Compile();
  EXPECT_EQ(ReadAll(Work + "out\\Setup.exe").substr(0, ReadAll(stub).size()), ReadAll(stub));
}

TEST(VersionNumber, Parsing) {
  uint16_t v[4] = {9, 9, 9, 9};
  EXPECT_TRUE(ParseVersionNumber(" 1.2 ", v));
  EXPECT_EQ((std::vector<uint16_t>(v, v + 4)), (std::vector<uint16_t>{1, 2, 0, 0}));
  EXPECT_TRUE(ParseVersionNumber("65535.0.7.10", v));
  EXPECT_EQ((std::vector<uint16_t>(v, v + 4)), (std::vector<uint16_t>{65535, 0, 7, 10}));
  for (const char* bad : {"", "1.", ".1", "1..2", "1.2.3.4.5", "65536", "1.2a", "v1", "1,2", "000001"}) {
    uint16_t w[4] = {5, 5, 5, 5};
    EXPECT_FALSE(ParseVersionNumber(bad, w)) << bad;
    EXPECT_EQ(w[0], 5) << bad;  // untouched
  }
}

TEST_F(BuilderTest, ProjectImageFromMemoryReplacesTheProjectFile) {
  Engine->Compile();
  const std::string fromDisk = ReadAll(Engine->GetSetupFileName());
  const AnsiString projectFile = Work + "proj\\p.gbp";
  // The same bytes from memory, dated as the file: the same setup, without reading the file.
  const AnsiString image = ReadAll(projectFile);
  Options.ProjectImage = &image;
  Options.ProjectImageDate = FileStampOf(projectFile);
  DeleteFileAt(projectFile);
  Engine->Compile();
  EXPECT_EQ(ReadAll(Engine->GetSetupFileName()), fromDisk);
  EXPECT_FALSE(FileExists(projectFile));
  EXPECT_FALSE(FileExists(Work + "proj\\UnIns.exe"));

  // Another project and another date go into the first entry, its paths as stored.
  TProjectFileData otherData;
  {
    TMemoryStream in(std::vector<uint8_t>(image.begin(), image.end()));
    ReadProjectSections(in, projectFile, otherData);
  }
  otherData.Files.Delete(1);
  TMemoryStream otherImage;
  WriteProjectSections(otherImage, ListsOf(otherData));
  const AnsiString other(otherImage.Data().begin(), otherImage.Data().end());
  StoreProjectData(otherData, TStoredNames::ForProject(Data, projectFile, otherData), -1);
  TMemoryStream storedImage;
  WriteProjectSections(storedImage, ListsOf(otherData));
  const AnsiString storedOther(storedImage.Data().begin(), storedImage.Data().end());
  ASSERT_NE(storedOther, other);
  Options.ProjectImage = &other;
  Options.ProjectImageDate = 45000.25;
  Engine->Compile();
  const AnsiString setup = Engine->GetSetupFileName();
  TFileStream f(setup, fmOpenRead | fmShareDenyNone);
  TInsPackList list;
  ReadPackage(f, list, setup);
  ASSERT_GT(list.Count(), 2);
  EXPECT_EQ(list[0]->Name, "C:\\src\\proj\\p.gbp");
  EXPECT_EQ(list[0]->Kind, pkSupport);
  EXPECT_EQ(list[0]->FileSize, static_cast<int64_t>(storedOther.size()));
  EXPECT_EQ(list[0]->FileDate, 45000.25);
  TMemoryStream m;
  ExpandChunks(f, m, list[0]->DataStart, list[0]->DataEnd, setup);
  EXPECT_EQ(std::string(m.Data().begin(), m.Data().end()), storedOther);
  EXPECT_EQ(list[1]->Name, "C:\\gbsetup\\Imports\\ComList.ini");
}

TEST_F(BuilderTest, SourceDateEpochClampsLaterDatesAndStampsTheStubs) {
  // The fixture as both stubs, so that both written headers can be read back.
  ASSERT_TRUE(CopyFileTo(FixtureExe("fixture.exe"), Data + "Exe\\Setup.exe", false));
  ASSERT_TRUE(CopyFileTo(FixtureExe("fixture.exe"), Data + "Exe\\UnIns.exe", false));
  const AnsiString mainExe = Work + "src\\main.exe";
  auto build = [&](int64_t epoch, TInsPackList& list, TProjectFileData& stored, std::string& uninstaller) {
    Options.SourceDateEpoch = epoch;
    Engine->Compile();
    const AnsiString setup = Engine->GetSetupFileName();
    TFileStream f(setup, fmOpenRead | fmShareDenyNone);
    ReadPackage(f, list, setup);
    TMemoryStream m;
    ExpandChunks(f, m, list[0]->DataStart, list[0]->DataEnd, setup);
    m.Seek(0, 0);
    ReadProjectSections(m, setup, stored);
    TMemoryStream u;
    ExpandChunks(f, u, list.Last()->DataStart, list.Last()->DataEnd, setup);
    uninstaller.assign(u.Data().begin(), u.Data().end());
  };
  auto linkTime = [](const std::string& exe) {
    const uint8_t* d = reinterpret_cast<const uint8_t*>(exe.data());
    return GetLE32(d + GetLE32(d + 0x3C) + 8);
  };
  const TDateTime fileDate = FileStampOf(mainExe);
  QueryIntf<IProjectFiles>(Project)->GetFileList()->First()->FileDate = fileDate;
  Project->SaveToFile(Work + "proj\\p.gbp");

  // An epoch a day before the files were written: every date is the epoch's.
  const int64_t before = DateTimeToUnix(fileDate) - 86400;
  TInsPackList list;
  TProjectFileData stored;
  std::string uninstaller;
  build(before, list, stored, uninstaller);
  for (TInsPackRec* e : list) {
    if (e->Kind == pkUninstaller) continue;
    EXPECT_EQ(e->FileDate, UnixToDateTime(before)) << e->Name;
  }
  ASSERT_EQ(stored.Files.Count(), 2);
  EXPECT_EQ(stored.Files[0]->FileDate, UnixToDateTime(before));
  EXPECT_EQ(linkTime(ReadAll(Engine->GetSetupFileName())), uint32_t(before));
  EXPECT_EQ(linkTime(uninstaller), uint32_t(before));
  EXPECT_NE(linkTime(ReadAll(FixtureExe("fixture.exe"))), uint32_t(before));

  // An epoch after them keeps the dates.
  TInsPackList later;
  TProjectFileData laterStored;
  build(4000000000, later, laterStored, uninstaller);
  EXPECT_NEAR(later[2]->FileDate, fileDate, 0.001 / 86400);
  EXPECT_NEAR(laterStored.Files[0]->FileDate, fileDate, 0.001 / 86400);
  EXPECT_EQ(linkTime(uninstaller), 4000000000u);

  EXPECT_EQ(ParseSourceDateEpoch("0", Options.SourceDateEpoch) && Options.SourceDateEpoch == 0, true);
  for (const char* bad : {"", "-1", "1e9", " 1", "1.5", "4294967296", "abc", "17000000000"})
    EXPECT_FALSE(ParseSourceDateEpoch(bad, Options.SourceDateEpoch)) << bad;
  EXPECT_TRUE(ParseSourceDateEpoch("4294967295", Options.SourceDateEpoch));
}

TEST(StoredNames, RootsAndTheProjectSide) {
  TStoredNames names("Z:\\opt\\gb\\data\\", "Z:\\home\\u\\app\\proj\\");
  names.Cover("Z:\\home\\u\\app\\src\\a.exe");
  names.Cover("Z:\\opt\\gb\\data\\Image\\Head.jpg");  // the data folder widens nothing
  names.Cover("readme.txt");                          // nor a relative name
  names.Cover("D:\\other\\x.dll");                    // nor another drive
  EXPECT_EQ(names.ProjectFolder(), "Z:\\home\\u\\app\\");
  EXPECT_EQ(names.Map("Z:\\home\\u\\app\\src\\a.exe"), "C:\\src\\src\\a.exe");
  EXPECT_EQ(names.Map("z:\\HOME\\u\\app\\src\\a.exe"), "C:\\src\\src\\a.exe");
  EXPECT_EQ(names.Map("Z:\\opt\\gb\\data\\Image\\Head.jpg"), "C:\\gbsetup\\Image\\Head.jpg");
  EXPECT_EQ(names.Map("D:\\other\\x.dll"), "D:\\other\\x.dll");
  EXPECT_EQ(names.Map("Z:\\home\\u\\apps\\b"), "Z:\\home\\u\\apps\\b");  // a sibling, not inside
  // A folder ending in 碶 (trail byte 5C) stays one name.
  TStoredNames gbk("Z:\\d\\", "Z:\\p\\碶\\");
  gbk.Cover("Z:\\p\\碶\\x\\y.txt");
  EXPECT_EQ(gbk.Map("Z:\\p\\碶\\x\\y.txt"), "C:\\src\\x\\y.txt");
  gbk.Cover("Z:\\q\\z.txt");
  EXPECT_EQ(gbk.ProjectFolder(), "Z:\\");
  EXPECT_EQ(gbk.Map("Z:\\q\\z.txt"), "C:\\src\\q\\z.txt");
}

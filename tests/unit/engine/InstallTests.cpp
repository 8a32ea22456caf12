#include <ctime>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "EngineFixture.h"
#include "core/DateTime.h"
#include "core/TextUtils.h"
#include "engine/Package.h"
#include "system/FileCtrl.h"
#include "system/FileStream.h"
#include "system/Platform.h"
#include "system/Registry.h"
#include "system/Sandbox.h"
#include "system/SysKernel.h"

namespace {
TFileInfoRec* AddFile(IProject& p, const AnsiString& source, const AnsiString& targetDir) {
  auto files = QueryIntf<IProjectFiles>(TIntfPtr<IProject>(&p));
  TFileInfoRec* r = files->GetFileList()->Add();
  r->SourcePath = source;
  r->FileName = ExtractFileName(source);
  r->TargetDir = targetDir;
  r->FileDate = EncodeDateTime({2020, 5, 17, 10, 30, 20, 0});
  return r;
}

void AddRegistry(IProject& p, const AnsiString& key, const AnsiString& name, uint8_t type, const AnsiString& data,
                 const AnsiString& os = "") {
  auto reg = QueryIntf<IProjectRegistry>(TIntfPtr<IProject>(&p));
  TRegistryInfoRec* r = reg->GetRegistryList()->Add();
  r->KeyPath = key;
  r->ValueName = name;
  r->ValueType = type;
  r->ValueData = data;
  r->OsFilter = os;
}

std::string ReadRegString(TRootKey root, const AnsiString& key, const AnsiString& name) {
  auto k = TRegKey::Open(root, key, false);
  AnsiString v = "<missing>";
  if (k) k->ReadString(name, v);
  return v;
}
}  // namespace

// One project with something for every step, packed, released and installed.
class InstallRunTest : public EngineTest {
protected:
  void SetUp() override {
    EngineTest::SetUp();
    Src = "D:\\" + Unique + "\\";
    // Both end in 碶, whose GBK trail byte is 0x5C: not a folder's closing backslash.
    Inst = Work + "App碶";
    Key = "Software\\GbEngineTest\\" + Unique;
  }

  // Saves the project and packs it with the entries the scenario needs.
  void Pack(IProject& saved, std::vector<TEntrySpec> extra = {}) {
    saved.SaveToFile(Work + "p.gbp");
    std::vector<TEntrySpec> specs = {
        {Src + "proj.gbp", pkSupport, ReadAll(Work + "p.gbp")},
        {Src + "Imports\\ComList.ini", pkSupport, "[Com]\r\nUserCom=ucom\r\nSysCom=scom\r\n"},
        {Src + "app\\main.exe", pkProgramFile, "main program"},
        {Src + "app\\lib.dll", pkProgramFile, std::string(9000, 'L')},
        {Src + "app\\win.dat", pkProgramFile, "win"},
        {Src + "app\\nt4only.txt", pkProgramFile, "skipped by its filter"},
        {Src + "app\\keep.txt", pkProgramFile, "new"},
        {Src + "Imports\\ucom\\UserCom.ini", pkComponentFile,
         "[RegistryList]\r\nRegtype=User\r\n[SysDirList]\r\nu.dll=[System Directory]\\" + Unique + "u.dll\r\n"
         "v.dll=elsewhere\r\nw.dll=[System Directory]\\..\\" + Unique + "w.dll\r\n"},
        {Src + "Imports\\ucom\\ucom\\u.dll", pkComponentFile, "user component"},
        {Src + "Imports\\ucom\\ucom\\w.dll", pkComponentFile, "must stay in the package"},
        {Src + "Imports\\scom\\SysCom.ini", pkComponentFile,
         "[RegistryList]\r\nRegtype=System\r\n[Option]\r\nExeFile=inst.exe\r\n"},
        {Src + "Imports\\scom\\scom\\inst.exe", pkComponentFile, "not a program"},
        {Src + "extra\\a.txt", pkGroupFile, "group a"},
        {Src + "extra\\sub\\b.txt", pkGroupFile, "group b"},
        {Src + "other\\c.txt", pkGroupFile, "no group names it"},
    };
    for (auto& e : extra) specs.push_back(e);
    specs.push_back({"C:\\build\\\\UnIns.exe", pkUninstaller, "uninstaller"});
    MakeSetup(Work + "setup.exe", specs);
  }

  void Scenario(IProject& p) {
    p.FindWork("项目名称")->Value = "引擎测试" + Unique;
    p.FindWork("版本号")->Value = "1.2";
    p.FindWork("作者名称")->Value = "作者";
    p.FindWork("作者网址")->Value = "http://example.invalid/";
    TPageInfoRec* main = p.GetPageList()->Add();
    main->Page = "安装完毕";
    main->Name = "主程序";
    main->Kind = twkFile;
    main->Value = Src + "app\\main.exe";
    p.AddDirectory("bin", "Program Files", 0);
    p.AddDirectory("数据", "Program Files\\bin", 0);
    p.AddDirectory("Sub", Unique, 0);
    p.AddDirectory("NotAFolder", Unique, 1);
    TFileInfoRec* f = AddFile(p, Src + "app\\main.exe", "Program Files");
    f->AutoRun = 1;
    f->LogFlag = 7;
    f = AddFile(p, Src + "app\\lib.dll", "program files\\bin");
    f->SelfRegister = 1;
    f->RegServer = 1;
    AddFile(p, Src + "app\\win.dat", Unique + "\\Sub");
    AddFile(p, Src + "app\\nt4only.txt", "Program Files")->OsFilter = "4.0";
    AddFile(p, Src + "app\\keep.txt", "Program Files")->NoOverwrite = 1;
    AddFile(p, Src + "app\\orphan.txt", "Program Files");  // not in the package
    auto files = QueryIntf<IProjectFiles>(TIntfPtr<IProject>(&p));
    files->AddSpecialFile(Inst + "\\grp碶", new TStringList{Src + "extra"});
    p.GetProjectObject()->FComponents = TStringList{"UserCom", "SysCom", "Nope"};
    AddRegistry(p, "HKEY_CURRENT_USER\\" + Key, "Dir", 0, "安装目录\\工程名称\\bin");
    AddRegistry(p, "HKEY_CURRENT_USER\\" + Key, "Sys", 0, "Windows\\System32\\x.dll");
    AddRegistry(p, "HKEY_CURRENT_USER\\" + Key, "PF", 0, "Program Files\\工程名称\\a");
    AddRegistry(p, "HKEY_CURRENT_USER\\" + Key, "Plain", 0, "纯文本");
    AddRegistry(p, "HKEY_CURRENT_USER\\" + Key, "Num", 1, "FF");
    AddRegistry(p, "HKEY_CURRENT_USER\\" + Key, "Bin", 2, "ABC");
    AddRegistry(p, "HKEY_BOGUS\\" + Key, "Bogus", 0, "x");
    AddRegistry(p, "NoBackslash", "Bogus", 0, "x");
    AddRegistry(p, "HKEY_CURRENT_USER\\" + Key, "Filtered", 0, "x", "4.0");
    auto shortcuts = QueryIntf<IProjectShortcuts>(TIntfPtr<IProject>(&p));
    TShotCutInfoRec* s = shortcuts->GetShortcutList()->Add();
    s->Name = "主程序";
    s->Target = Src + "APP\\main.exe";
    s = shortcuts->GetShortcutList()->Add();
    s->Name = "其他";
    s->Target = "C:\\elsewhere\\x.exe";
  }

  // Releases the setup into a fresh project and engine.
  void Release() {
    List.Clear();
    Project = TIntfPtr<IProject>(new TProject);
    Engine = NewEngine(Raw, Project);
    QueryIntf<IReleaseWork>(Engine)->ReleaseFiles(Work + "setup.exe", List, TReleaseProgressEvent());
  }
  void Install(const AnsiString& components) {
    auto work = QueryIntf<IReleaseWork>(Engine);
    work->InstallFiles("组", Inst, components, Work + "setup.exe", List, Recorder());
  }

  AnsiString Src, Inst, Key;
  const AnsiString Regsvr32 = "C:\\Windows\\System32\\regsvr32.exe";  // the sandbox's system folder
  TIntfPtr<IProject> Project;
  TIntfPtr<ICompile> Engine;
  TCompile* Raw = nullptr;
  TInsPackList List;
};

TEST_F(InstallRunTest, EveryStepInOrder) {
  {
    TIntfPtr<IProject> saved(new TProject);
    Scenario(*saved);
    Pack(*saved);
  }
  Release();
  const int releaseRecords = Raw->Log().Count();
  ForceFolders(Inst);  // the install folder exists, its subfolders do not
  WriteAll(Inst + "\\keep.txt", "old");
  TRegKey::Open(TRootKey::CurrentUser, "Software\\GbEngineTest", true);  // so does the key above the project's
  Install("UserCom,SysCom,Nope");

  const AnsiString root = WindowsFolder().substr(0, 1) + ":\\" + Unique;
  // Files, with their contents; skipped ones untouched.
  EXPECT_EQ(ReadAll(Inst + "\\main.exe"), "main program");
  EXPECT_EQ(ReadAll(Inst + "\\bin\\lib.dll"), std::string(9000, 'L'));
  EXPECT_EQ(ReadAll(root + "\\Sub\\win.dat"), "win");
  EXPECT_FALSE(FileExists(Inst + "\\nt4only.txt"));
  EXPECT_EQ(ReadAll(Inst + "\\keep.txt"), "old");
  EXPECT_EQ(ReadAll(Inst + "\\grp碶\\" + Unique + "\\extra\\sub\\b.txt"), "group b");
  EXPECT_FALSE(FileExists(Inst + "\\grp碶\\" + Unique + "\\other\\c.txt"));
  EXPECT_TRUE(FolderExists(Inst + "\\bin\\数据"));
  EXPECT_EQ(ReadAll(Inst + "\\UnIns.exe"), "uninstaller");
  EXPECT_EQ(ReadAll(WindowsFolder() + "\\" + Unique + "u.dll"), "user component");
  EXPECT_FALSE(FileExists(WindowsFolder().substr(0, 3) + Unique + "w.dll"));  // would climb out of Windows
  // The last-write stamp is the record's date (DOS time: two-second steps).
  EXPECT_LT(std::fabs(FileStampOf(Inst + "\\main.exe") - EncodeDateTime({2020, 5, 17, 10, 30, 20, 0})),
            2.5 / 86400);
  // A group file's is its entry's date.
  EXPECT_LT(std::fabs(FileStampOf(Inst + "\\grp碶\\" + Unique + "\\extra\\sub\\b.txt") - TEntrySpec().Date), 2.5 / 86400);

  // Reports: counter raised before each file, also for the skipped ones; the final one.
  std::vector<std::pair<int, AnsiString>> got;
  for (const TReport& r : Reports) {
    EXPECT_EQ(r.Max, List.Count());
    got.emplace_back(r.Position, r.Text);
  }
  const AnsiString g = Inst + "\\grp碶\\" + Unique + "\\extra\\";
  std::vector<std::pair<int, AnsiString>> want = {{2, Inst + "\\main.exe"},     {3, Inst + "\\bin\\lib.dll"},
                                                  {4, root + "\\Sub\\win.dat"}, {7, g + "a.txt"},
                                                  {8, g + "sub\\b.txt"},        {List.Count(), "安装完成"}};
  EXPECT_EQ(got, want);
  EXPECT_TRUE(Reports.back().Flag);
  EXPECT_FALSE(Reports.front().Flag);

  // Registry values with their prefixes expanded; skipped records leave nothing.
  EXPECT_EQ(ReadRegString(TRootKey::CurrentUser, Key, "Dir"), Inst + "\\bin");
  EXPECT_EQ(ReadRegString(TRootKey::CurrentUser, Key, "Sys"), WindowsFolder() + "\\System32\\x.dll");
  EXPECT_EQ(ReadRegString(TRootKey::CurrentUser, Key, "PF"), ProgramFilesFolder() + "\\引擎测试" + Unique + "\\a");
  EXPECT_EQ(ReadRegString(TRootKey::CurrentUser, Key, "Plain"), "纯文本");
  EXPECT_EQ(ReadRegString(TRootKey::CurrentUser, Key, "Filtered"), "<missing>");
  {
    auto k = TRegKey::Open(TRootKey::CurrentUser, Key, false);
    ASSERT_TRUE(k);
    int32_t n = 0;
    EXPECT_TRUE(k->ReadInteger("Num", n));
    EXPECT_EQ(n, 255);
    TArrayByte b;
    EXPECT_TRUE(k->ReadBinary("Bin", b));
    EXPECT_EQ(b, (TArrayByte{0xAB, 0xC0}));
  }
  EXPECT_FALSE(TRegKey::KeyExists(TRootKey::CurrentUser, "Software\\GbEngineTest\\" + Unique + "\\Bogus"));
  // And as an independent reader sees them: the system's reg tool, or the sandbox's file.
#ifdef _WIN32
  std::string listed;
  if (FILE* pipe = _popen(("chcp 936 >nul & reg query \"HKCU\\" + Key + "\" 2>nul").c_str(), "rb")) {
    char buf[4096];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, pipe)) > 0;) listed.append(buf, n);
    _pclose(pipe);
  }
  for (std::string line : {"    Num    REG_DWORD    0xff\r\n", "    Bin    REG_BINARY    ABC0\r\n",
                           "    Plain    REG_SZ    纯文本\r\n"})
    EXPECT_NE(listed.find(line), std::string::npos) << line << listed;
#else
  const std::string reg = ReadAll(ProgramPath(SandboxRoot() + "/registry.reg"));
  for (const std::string& line : std::vector<std::string>{"\r\n\"Num\"=dword:000000ff\r\n", "\r\n\"Bin\"=hex:ab,c0\r\n", "\r\n\"Plain\"=\"纯文本\"\r\n",
                           "\r\n[HKEY_CURRENT_USER\\" + Key + "]\r\n"})
    EXPECT_NE(reg.find(line), std::string::npos) << line;
#endif

  // The project keeps the shortened key path, also of a record whose root is unknown; a
  // filtered record is not touched.
  TRegistryInfoList& regs = *QueryIntf<IProjectRegistry>(Project)->GetRegistryList();
  EXPECT_EQ(regs.Items(0)->KeyPath, Key);
  EXPECT_EQ(regs.Items(6)->KeyPath, Key);
  EXPECT_EQ(regs.Items(7)->KeyPath, "NoBackslash");
  EXPECT_EQ(regs.Items(8)->KeyPath, "HKEY_CURRENT_USER\\" + Key);

  // Uninstall entry and the Run value of the auto-started file.
  const AnsiString uninstallKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\引擎测试" + Unique;
  EXPECT_EQ(ReadRegString(TRootKey::LocalMachine, uninstallKey, "DisplayName"), "引擎测试" + Unique + "1.2");
  EXPECT_EQ(ReadRegString(TRootKey::LocalMachine, uninstallKey, "UninstallString"), "\"" + Inst + "\\UnIns.exe\"");
  EXPECT_EQ(ReadRegString(TRootKey::LocalMachine, uninstallKey, "Publisher"), "作者");
  // What deployment tools read besides: the quiet command, the folder, the date, the size in KiB.
  EXPECT_EQ(ReadRegString(TRootKey::LocalMachine, uninstallKey, "QuietUninstallString"),
            "\"" + Inst + "\\UnIns.exe\" /S");
  EXPECT_EQ(ReadRegString(TRootKey::LocalMachine, uninstallKey, "InstallLocation"), Inst) << "碶 keeps its 0x5C";
  {
    const AnsiString date = ReadRegString(TRootKey::LocalMachine, uninstallKey, "InstallDate");
    char today[16];
    const time_t now = time(nullptr);
    strftime(today, sizeof today, "%Y%m%d", localtime(&now));
    EXPECT_EQ(date, today);
    auto entry = TRegKey::Open(TRootKey::LocalMachine, uninstallKey, false);
    ASSERT_TRUE(entry);
    int32_t size = 0, noModify = 0, noRepair = 0;
    ASSERT_TRUE(entry->ReadInteger("EstimatedSize", size));
    EXPECT_GE(size, 9) << "lib.dll alone is 9,000 bytes";
    EXPECT_LT(size, 40) << "KiB, not bytes";
    ASSERT_TRUE(entry->ReadInteger("NoModify", noModify));
    ASSERT_TRUE(entry->ReadInteger("NoRepair", noRepair));
    EXPECT_EQ(noModify, 1);
    EXPECT_EQ(noRepair, 1);
  }
  EXPECT_EQ(ReadRegString(TRootKey::LocalMachine, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run", "main.exe"),
            Inst + "\\main.exe");
  TRegKey::Open(TRootKey::LocalMachine, uninstallKey, false)->DeleteValue("DisplayName");

  // Started programs (the sandbox records them; Windows really starts them).
  if (IsSandbox()) {
    // Quoted and complete: the system's own regsvr32, the component's program from the private folder.
    std::vector<std::string> want = {"exec: \"" + Inst + "\\bin\\lib.dll\" -Install",
                                     "exec: \"" + Regsvr32 + "\" /s \"" + Inst + "\\bin\\lib.dll\"",
                                     "wait: " + Raw->ReleaseFolder() + Unique + "\\Imports\\scom\\scom\\inst.exe"};
    EXPECT_EQ(Commands(), want);
  }

  // Shortcut targets and the main program point at the installed files.
  auto shortcuts = QueryIntf<IProjectShortcuts>(Project)->GetShortcutList();
  EXPECT_EQ(shortcuts->Items(0)->Target, Inst + "\\main.exe");
  EXPECT_EQ(shortcuts->Items(1)->Target, "C:\\elsewhere\\x.exe");
  EXPECT_EQ(Project->GetMainProgramItem()->Value, Inst + "\\main.exe");

  // The log after the release's records: folders, files, group files, registry values.
  std::vector<std::string> log;
  for (int i = releaseRecords; i < Raw->Log().Count(); ++i) {
    TInsLogRec* r = Raw->Log().Records(i);
    log.push_back(r->Path + "|" + r->Text + "|" + char('0' + r->AutoRun) + char('0' + r->SelfRegister) +
                  char('0' + r->RegServer) + char('0' + r->LogFlag));
  }
  const std::string F = std::string("|") + SCreatedFolderMark + "|0000";
  const std::string hk = "HKEY_CURRENT_USER\\" + Key + "|";
  std::vector<std::string> wantLog = {Inst + "\\bin" + F,
                                      Inst + "\\bin\\数据" + F,
                                      root + F,
                                      root + "\\Sub" + F,
                                      Inst + "\\main.exe||1007",
                                      Inst + "\\bin\\lib.dll||0110",
                                      root + "\\Sub\\win.dat||0000",
                                      Inst + "\\grp碶" + F,
                                      Inst + "\\grp碶\\" + Unique + F,
                                      Inst + "\\grp碶\\" + Unique + "\\extra" + F,
                                      g + "a.txt||0000",
                                      Inst + "\\grp碶\\" + Unique + "\\extra\\sub" + F,
                                      g + "sub\\b.txt||0000",
                                      hk + SCreatedKeyMark + "|0000",
                                      hk + "Dir|0000",
                                      hk + "Sys|0000",
                                      hk + "PF|0000",
                                      hk + "Plain|0000",
                                      hk + "Num|0000",
                                      hk + "Bin|0000"};
  EXPECT_EQ(log, wantLog);
  EXPECT_EQ(Raw->Log().Title, "引擎测试" + Unique);

  // Group entries now carry their installed paths.
  EXPECT_EQ(List[List.Count() - 4]->Name, g + "a.txt");
}

TEST_F(InstallRunTest, RefusedBeforeAnythingIsWritten) {
  TIntfPtr<IProject> saved(new TProject);
  Scenario(*saved);
  Pack(*saved, {{"D:\\x\\..\\..\\..\\evil.txt", pkGroupFile, "evil"}});
  auto check = [&](const char* what) {
    Reports.clear();
    const int before = Raw->Log().Count();
    EXPECT_THROW(Install("UserCom"), Exception) << what;
    EXPECT_EQ(Raw->Log().Count(), before) << what;
    EXPECT_TRUE(Reports.empty()) << what;
    EXPECT_FALSE(FolderExists(Inst)) << what;
    EXPECT_TRUE(Raw->Log().Title.empty()) << what;
  };
  Release();
  check("unsafe group entry");

  Pack(*saved);
  Release();
  Project->GetPageList()->Clear();  // no main-program item
  check("no main program");

  Release();
  while (List.Count() > 1) List.Delete(List.Count() - 1);
  check("one entry");
}

TEST_F(InstallRunTest, InterruptedRunIsRolledBack) {
  TIntfPtr<IProject> saved(new TProject);
  Scenario(*saved);
  Pack(*saved);
  Release();
  ForceFolders(Inst + "\\bin\\lib.dll");  // a folder where the second file goes
  const int before = Raw->Log().Count();
  const AnsiString run = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
  if (auto k = TRegKey::Open(TRootKey::LocalMachine, run, false)) k->DeleteValue("main.exe");  // left by another test
  try {
    Install("");
    FAIL() << "installed over a folder";
  } catch (const EInstallFailed& e) {
    // The file and the system's reason, then what became of the run.
    EXPECT_EQ(e.Message().find("安装没有完成：Cannot create file \"" + Inst + "\\bin\\lib.dll\". "), 0u) << e.Message();
    EXPECT_NE(e.Message().find("安装向导已撤销本次安装所做的全部更改。"), AnsiString::npos) << e.Message();
  }
  // The main program, its Run value, the folders the run made: gone. What was there stays.
  const AnsiString root = WindowsFolder().substr(0, 1) + ":\\" + Unique;
  EXPECT_FALSE(FileExists(Inst + "\\main.exe"));
  EXPECT_EQ(ReadRegString(TRootKey::LocalMachine, run, "main.exe"), "<missing>");
  EXPECT_FALSE(FolderExists(Inst + "\\bin\\数据"));
  EXPECT_FALSE(FolderExists(root));
  EXPECT_TRUE(FolderExists(Inst + "\\bin\\lib.dll"));
  EXPECT_EQ(Raw->Log().Count(), before) << "the undone run's records are dropped";
  EXPECT_TRUE(Reports.empty() || !Reports.back().Flag);
}

// Everything the run wrote was written, then the run failed (here: the wizard's handler of
// the final report raises). Values that were there get their data back, files that were there
// stay as they now are and are named.
TEST_F(InstallRunTest, RollbackRestoresWhatWasThere) {
  TIntfPtr<IProject> saved(new TProject);
  Scenario(*saved);
  Pack(*saved);
  Release();
  const AnsiString run = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
  const AnsiString uninstallKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\引擎测试" + Unique;
  ForceFolders(Inst);
  WriteAll(Inst + "\\main.exe", "the old main program");
  const AnsiString component = WindowsFolder() + "\\" + Unique + "u.dll";
  WriteAll(component, "the old component");
  {
    auto k = TRegKey::Open(TRootKey::CurrentUser, Key, true);
    k->WriteString("Dir", "old dir");
    k->WriteBinary("Num", TArrayByte{1, 2, 3});  // another type than the run writes
    auto u = TRegKey::Open(TRootKey::LocalMachine, uninstallKey, true);
    u->WriteString("DisplayName", "old name");
    u->WriteInteger("Extra", 5);
    TRegKey::Open(TRootKey::LocalMachine, run, true)->WriteString("main.exe", "C:\\old\\main.exe");
  }
  const size_t commandsBefore = Commands().size();
  auto work = QueryIntf<IReleaseWork>(Engine);
  try {
    work->InstallFiles("组", Inst, "UserCom", Work + "setup.exe", List, [](int32_t, int32_t, const AnsiString&, bool done) {
      if (done) throw EInOutError("the window went away");
    });
    FAIL() << "no failure";
  } catch (const EInstallFailed& e) {
    EXPECT_EQ(e.Message().find("安装没有完成：the window went away"), 0u) << e.Message();
    const size_t kept = e.Message().find("已被本次安装覆盖，保持现状：");
    EXPECT_NE(kept, AnsiString::npos) << e.Message();
    EXPECT_NE(e.Message().find("\r\n    " + Inst + "\\main.exe", kept), AnsiString::npos) << e.Message();
    EXPECT_NE(e.Message().find("\r\n    " + component, kept), AnsiString::npos) << e.Message();
  }
  EXPECT_EQ(ReadAll(Inst + "\\main.exe"), "main program") << "kept as it now is";
  EXPECT_EQ(ReadAll(component), "user component") << "a component file that was there: kept as it now is";
  DeleteFileAt(component);
  for (const AnsiString& f : {Inst + "\\bin\\lib.dll", Inst + "\\UnIns.exe", Inst + "\\grp碶\\" + Unique + "\\extra\\a.txt"})
    EXPECT_FALSE(FileExists(f)) << f;
  EXPECT_FALSE(FolderExists(Inst + "\\bin"));
  EXPECT_FALSE(FolderExists(Inst + "\\grp碶"));
  EXPECT_TRUE(FolderExists(Inst));

  auto k = TRegKey::Open(TRootKey::CurrentUser, Key, false);
  ASSERT_TRUE(k);
  TStringList names;
  k->GetValueNames(names);
  EXPECT_EQ(names.Count(), 2);
  EXPECT_EQ(ReadRegString(TRootKey::CurrentUser, Key, "Dir"), "old dir");
  uint32_t type = 0;
  TArrayByte data;
  ASSERT_TRUE(k->ReadRaw("Num", type, data));
  EXPECT_EQ(type, 3u);
  EXPECT_EQ(data, (TArrayByte{1, 2, 3}));
  k.reset();
  EXPECT_EQ(ReadRegString(TRootKey::LocalMachine, uninstallKey, "DisplayName"), "old name");
  EXPECT_EQ(ReadRegString(TRootKey::LocalMachine, uninstallKey, "UninstallString"), "<missing>");
  {
    auto u = TRegKey::Open(TRootKey::LocalMachine, uninstallKey, false);
    ASSERT_TRUE(u);
    int32_t n = 0;
    EXPECT_TRUE(u->ReadInteger("Extra", n));
    EXPECT_EQ(n, 5);
  }
  EXPECT_EQ(ReadRegString(TRootKey::LocalMachine, run, "main.exe"), "C:\\old\\main.exe");
  // The registered library was unregistered before it went.
  if (IsSandbox()) {
    std::vector<std::string> after = Commands();
    after.erase(after.begin(), after.begin() + long(commandsBefore));
    std::vector<std::string> want = {"exec: \"" + Inst + "\\bin\\lib.dll\" -Install",
                                     "exec: \"" + Regsvr32 + "\" /s \"" + Inst + "\\bin\\lib.dll\"",
                                     "wait: " + Inst + "\\bin\\lib.dll -unInstall",
                                     "wait: " + Regsvr32 + " /s/u \"" + Inst + "\\bin\\lib.dll\""};
    std::sort(after.begin(), after.end());
    std::sort(want.begin(), want.end());
    EXPECT_EQ(after, want);
  }
  TRegKey::Open(TRootKey::LocalMachine, uninstallKey, false)->DeleteValue("DisplayName");
  TRegKey::Open(TRootKey::LocalMachine, uninstallKey, false)->DeleteValue("Extra");
  TRegKey::DeleteKeyIfEmpty(TRootKey::LocalMachine, uninstallKey);
  TRegKey::Open(TRootKey::LocalMachine, run, false)->DeleteValue("main.exe");
}

// A folder of the tree that was there before the run is not one the run made: what was in
// it stays after a rollback, while a file in a folder the run made goes with the folder.
TEST_F(InstallRunTest, RollbackKeepsFilesOfFoldersThatWereThere) {
  TIntfPtr<IProject> saved(new TProject);
  Scenario(*saved);
  Pack(*saved);
  Release();
  ForceFolders(Inst + "\\bin");
  WriteAll(Inst + "\\bin\\lib.dll", "the old library");
  auto work = QueryIntf<IReleaseWork>(Engine);
  try {
    work->InstallFiles("组", Inst, "UserCom", Work + "setup.exe", List, [](int32_t, int32_t, const AnsiString&, bool done) {
      if (done) throw EInOutError("stopped");
    });
    FAIL() << "no failure";
  } catch (const EInstallFailed& e) {
    EXPECT_NE(e.Message().find("保持现状：\r\n    " + Inst + "\\bin\\lib.dll"), AnsiString::npos) << e.Message();
  }
  EXPECT_EQ(ReadAll(Inst + "\\bin\\lib.dll"), std::string(9000, 'L'));
  EXPECT_TRUE(FolderExists(Inst + "\\bin"));
  EXPECT_FALSE(FolderExists(Inst + "\\bin\\数据"));
  EXPECT_FALSE(FileExists(Inst + "\\main.exe"));
  EXPECT_FALSE(FolderExists(WindowsFolder().substr(0, 1) + ":\\" + Unique + "\\Sub"));
  EXPECT_FALSE(FileExists(WindowsFolder() + "\\" + Unique + "u.dll")) << "the component copy the run made";
}

TEST_F(InstallRunTest, FailedRegistryWriteDamagedDataAndUnwritableLogAreRolledBack) {
  TIntfPtr<IProject> saved(new TProject);
  Scenario(*saved);
  // A value name longer than the registry allows: the write fails.
  AddRegistry(*saved, "HKEY_CURRENT_USER\\" + Key + "\\Deep\\Er", std::string(kMaxValueName + 1, 'n'), 0, "x");
  Pack(*saved);
  const AnsiString run = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
  auto nothingLeft = [&](const char* what) {
    EXPECT_FALSE(FileExists(Inst + "\\main.exe")) << what;
    EXPECT_FALSE(FileExists(Inst + "\\UnIns.exe")) << what;
    EXPECT_FALSE(FolderExists(Inst)) << what;
    EXPECT_FALSE(TRegKey::KeyExists(TRootKey::CurrentUser, Key)) << what;
    EXPECT_FALSE(TRegKey::KeyExists(TRootKey::CurrentUser, "Software\\GbEngineTest\\" + Unique)) << what;
    EXPECT_EQ(ReadRegString(TRootKey::LocalMachine, run, "main.exe"), "<missing>") << what;
    EXPECT_FALSE(TRegKey::KeyExists(TRootKey::LocalMachine,
                                    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\引擎测试" + Unique))
        << what;
  };
  Release();
  try {
    Install("");
    FAIL() << "long value name written";
  } catch (const EInstallFailed& e) {
    EXPECT_EQ(e.Message().find("安装没有完成：无法写入注册表值“HKEY_CURRENT_USER\\" + Key + "\\Deep\\Er\\nnn"), 0u)
        << e.Message();
  }
  nothingLeft("registry");

  // Chunk data spoilt after the release read the package: the file being written is named.
  {
    TRegistryInfoList& regs = *QueryIntf<IProjectRegistry>(saved)->GetRegistryList();
    regs.Delete(regs.Count() - 1);
  }
  Pack(*saved);
  Release();
  {
    std::string bytes = ReadAll(Work + "setup.exe");
    const TInsPackRec* lib = List[3];
    ASSERT_EQ(lib->Name, Src + "app\\lib.dll");
    bytes[size_t(lib->DataStart + 10)] ^= 0x21;
    WriteAll(Work + "setup.exe", bytes);
  }
  try {
    Install("");
    FAIL() << "damaged data installed";
  } catch (const EInstallFailed& e) {
    EXPECT_EQ(e.Message().find("安装没有完成：无法写入文件“" + Inst + "\\bin\\lib.dll”：安装程序文件中的数据已损坏"), 0u)
        << e.Message();
  }
  nothingLeft("zlib");

  // The run went through, but its log cannot be written: the uninstaller would have nothing
  // to go by, so the installation is undone.
  Pack(*saved);
  Release();
  Install("");
  ASSERT_TRUE(FileExists(Inst + "\\main.exe"));
  // A shortcut the wizard made after the run, and logged.
  ForceFolders(Work + "组");
  WriteAll(Work + "组\\程序.lnk", "link");
  Engine->AddLogRecord(Work + "组\\程序.lnk", 0, 0, 0, 0, "");
  ForceFolders(Inst + "\\UnLog.txt");
  try {
    Engine->SaveInstallLog();
    FAIL() << "log written into a folder";
  } catch (const EInstallFailed& e) {
    EXPECT_EQ(e.Message().find("安装没有完成：Cannot create file \"" + Inst + "\\UnLog.txt\""), 0u) << e.Message();
  }
  EXPECT_FALSE(FileExists(Inst + "\\main.exe"));
  EXPECT_FALSE(FileExists(Inst + "\\UnIns.exe"));
  EXPECT_FALSE(FileExists(Work + "组\\程序.lnk"));
  EXPECT_TRUE(FolderExists(Inst + "\\UnLog.txt"));  // not the run's: it stays, and so does its parent
  // After a good save the run is the uninstaller's to undo; a second save that fails is an error only.
  RemoveFolder(Inst + "\\UnLog.txt");
  Release();
  Install("");
  Engine->SaveInstallLog();
  DeleteFileAt(Inst + "\\UnLog.txt");
  ForceFolders(Inst + "\\UnLog.txt");
  EXPECT_THROW(Engine->SaveInstallLog(), EFCreateError);
  EXPECT_TRUE(FileExists(Inst + "\\main.exe"));
  EXPECT_TRUE(FileExists(Inst + "\\UnIns.exe"));
}

TEST_F(InstallRunTest, NamelessProjectWritesNoUninstallEntry) {
  TIntfPtr<IProject> saved(new TProject);
  Scenario(*saved);
  saved->FindWork("项目名称")->Value = "";
  Pack(*saved);
  Release();
  auto before = TRegKey::Open(TRootKey::LocalMachine, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall", true);
  ASSERT_TRUE(before);
  before->DeleteValue("UninstallString");
  Install("");
  EXPECT_EQ(ReadRegString(TRootKey::LocalMachine, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall",
                          "UninstallString"),
            "<missing>");
  EXPECT_EQ(ReadAll(Inst + "\\UnIns.exe"), "uninstaller");
  EXPECT_TRUE(Reports.back().Flag);
}

TEST_F(InstallRunTest, MainProgramNotInstalledNoVersionNoComponents) {
  TIntfPtr<IProject> saved(new TProject);
  Scenario(*saved);
  saved->FindWork("版本号")->Value = "";
  // The main program names no packed file: the uninstaller goes where its value points.
  saved->GetMainProgramItem()->Value = Work + "elsewhere\\prog.exe";
  Pack(*saved);
  Release();
  ForceFolders(Work + "elsewhere");
  Install("");
  EXPECT_EQ(ReadAll(Work + "elsewhere\\UnIns.exe"), "uninstaller");
  EXPECT_FALSE(FileExists(Inst + "\\UnIns.exe"));
  EXPECT_EQ(Project->GetMainProgramItem()->Value, Work + "elsewhere\\prog.exe");
  const AnsiString uninstallKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\引擎测试" + Unique;
  EXPECT_EQ(ReadRegString(TRootKey::LocalMachine, uninstallKey, "DisplayName"), "引擎测试" + Unique);
  EXPECT_EQ(ReadRegString(TRootKey::LocalMachine, uninstallKey, "UninstallString"),
            "\"" + Work + "elsewhere\\UnIns.exe\"");
  // No component chosen: nothing copied to the Windows folder, no component program started.
  EXPECT_FALSE(FileExists(WindowsFolder() + "\\" + Unique + "u.dll"));
  for (const std::string& line : Commands()) EXPECT_NE(line.rfind("wait: ", 0), 0u) << line;
  TRegKey::Open(TRootKey::LocalMachine, uninstallKey, false)->DeleteValue("DisplayName");
}

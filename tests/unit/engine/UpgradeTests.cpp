// A second version of a program installed over the first into the same folder: one log for
// both, an uninstall that removes what either installed, and a failed upgrade that leaves the
// first version installed.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "EngineFixture.h"
#include "core/TextUtils.h"
#include "engine/Package.h"
#include "engine/Uninstall.h"
#include "system/Dialogs.h"
#include "system/FileCtrl.h"
#include "system/Registry.h"
#include "system/SysKernel.h"

namespace {
struct TVersion {
  AnsiString Version;
  // Source name below app\ -> target folder below the installation folder ("" for the folder itself).
  std::vector<std::pair<AnsiString, AnsiString>> Files;
  // Key below the test's base key ("" for the base key itself) -> value name.
  std::vector<std::pair<AnsiString, AnsiString>> Values;
  AnsiString AutoRun;  // a file started with Windows
};

std::string ReadRegString(TRootKey root, const AnsiString& key, const AnsiString& name) {
  auto k = TRegKey::Open(root, key, false);
  AnsiString v = "<missing>";
  if (k) k->ReadString(name, v);
  return v;
}

// Times each thing (path and value name or mark) is named by the log.
std::map<AnsiString, int> Named(const TInstallLog& log) {
  std::map<AnsiString, int> n;
  for (const TInsLogRec* r : log.List()) ++n[UpperCaseAscii(r->Path) + "|" + r->Text];
  return n;
}
}  // namespace

class UpgradeTest : public EngineTest {
protected:
  void SetUp() override {
    EngineTest::SetUp();
    Inst = Work + "应用";
    Name = "升级测试" + Unique;
    Base = "Software\\GbUpgradeTest\\" + Unique;
    // A key that was there before the first version, and stays there empty.
    ASSERT_TRUE(TRegKey::Open(TRootKey::CurrentUser, Base, true));
    Responder = std::make_shared<TDialogResponder>();
    Responder->MessageBox = [this](TBoxStyle, const AnsiString&, const AnsiString& text) {
      Boxes.push_back(text);
      return true;
    };
    SetDialogResponder(Responder);
  }
  void TearDown() override {
    SetDialogResponder(nullptr);
    TRegKey::DeleteKeyIfEmpty(TRootKey::LocalMachine, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + Name);
    EngineTest::TearDown();
  }

  // Builds the version's setup, releases and installs it, and saves its log. failLog makes the
  // log's place unwritable, so the run is undone (EInstallFailed).
  void Install(const TVersion& v, bool failLog = false) {
    const AnsiString src = "D:\\" + Unique + "\\" + v.Version + "\\";
    TIntfPtr<IProject> saved(new TProject);
    saved->FindWork("项目名称")->Value = Name;
    saved->FindWork("版本号")->Value = v.Version;
    TPageInfoRec* main = saved->GetPageList()->Add();
    main->Page = "安装完毕";
    main->Name = "主程序";
    main->Kind = twkFile;
    main->Value = src + "app\\main.exe";
    auto files = QueryIntf<IProjectFiles>(saved);
    std::vector<TEntrySpec> specs = {{src + "p.gbp", pkSupport, ""}, {src + "Imports\\ComList.ini", pkSupport, "[Com]\r\n"}};
    for (const auto& [name, folder] : v.Files) {
      TFileInfoRec* r = files->GetFileList()->Add();
      r->SourcePath = src + "app\\" + name;
      r->FileName = ExtractFileName(name);
      r->TargetDir = folder.empty() ? AnsiString("Program Files") : "Program Files\\" + folder;
      r->AutoRun = SameText(name, v.AutoRun) ? 1 : 0;
      specs.push_back({r->SourcePath, pkProgramFile, v.Version + " " + name});
    }
    auto registry = QueryIntf<IProjectRegistry>(saved);
    for (const auto& [key, value] : v.Values) {
      TRegistryInfoRec* r = registry->GetRegistryList()->Add();
      r->KeyPath = "HKEY_CURRENT_USER\\" + Base + (key.empty() ? AnsiString() : "\\" + key);
      r->ValueName = value;
      r->ValueData = v.Version;
    }
    saved->SaveToFile(Work + "p.gbp");
    specs[0].Data = ReadAll(Work + "p.gbp");
    specs.push_back({"C:\\b\\\\UnIns.exe", pkUninstaller, "uninstaller " + v.Version});
    MakeSetup(Work + "setup.exe", specs);

    TInsPackList list;
    TIntfPtr<IProject> project(new TProject);
    Engine = NewEngine(Raw, project);
    QueryIntf<IReleaseWork>(Engine)->ReleaseFiles(Work + "setup.exe", list, TReleaseProgressEvent());
    QueryIntf<IReleaseWork>(Engine)->InstallFiles("组", Inst, "", Work + "setup.exe", list, TReleaseProgressEvent());
    if (failLog) ForceFolders(Inst + "\\UnLog.txt.new");
    Engine->SaveInstallLog();
  }

  TInstallLog ReadLog() {
    TInstallLog log;
    log.LoadFromFile(Inst + "\\UnLog.txt");
    return log;
  }
  std::vector<std::string> Uninstall() {
    TUninstaller u(Inst + "\\UnLog.txt");
    u.SetUninstallerFile(Inst + "\\UnIns.exe");
    u.Run();
    std::vector<std::string> left;
    for (const AnsiString& s : u.NotRemoved()) left.push_back(s);
    return left;
  }

  const TVersion V1 = {"1.0", {{"main.exe", ""}, {"a.txt", ""}, {"b.txt", "doc"}}, {{"", "x"}, {"V1\\Deep", "y"}, {"Shared", "z"}}, "a.txt"};
  const TVersion V2 = {"2.0", {{"main.exe", ""}, {"a.txt", ""}, {"c.txt", "new"}}, {{"Shared", "z"}, {"V2", "w"}}, ""};

  AnsiString Inst, Name, Base;
  TIntfPtr<ICompile> Engine;
  TCompile* Raw = nullptr;
  std::shared_ptr<TDialogResponder> Responder;
  std::vector<AnsiString> Boxes;
};

TEST_F(UpgradeTest, TheLogKeepsTheEarlierRecordsAndTheUninstallRemovesBothVersions) {
  Install(V1);
  const TInstallLog first = ReadLog();
  Install(V2);
  ASSERT_NE(Raw->EarlierLog(), nullptr);
  EXPECT_EQ(Raw->EarlierLog()->Count(), first.Count());

  const TInstallLog log = ReadLog();
  EXPECT_EQ(log.Title, Name);
  // The first version's records first, in their order; then only what is new in the second.
  ASSERT_GT(log.Count(), first.Count());
  for (int i = 0; i < first.Count(); ++i) EXPECT_EQ(log.Records(i)->Path, first.Records(i)->Path) << i;
  for (const auto& [what, n] : Named(log)) EXPECT_EQ(n, 1) << what;
  const std::map<AnsiString, int> named = Named(log);
  const AnsiString hk = UpperCaseAscii("HKEY_CURRENT_USER\\" + Base);
  for (const AnsiString& what :
       {UpperCaseAscii(Inst + "\\doc\\b.txt|"), UpperCaseAscii(Inst + "\\new\\c.txt|"),
        UpperCaseAscii(Inst + "\\doc") + "|" + SCreatedFolderMark, UpperCaseAscii(Inst + "\\new") + "|" + SCreatedFolderMark,
        hk + "\\SHARED|z", hk + "\\V2|w", hk + "|x", hk + "\\V1\\DEEP|" + SCreatedKeyMark})
    EXPECT_EQ(named.count(what), 1u) << what;
  // a.txt was started with Windows by the first version only: its one record still says so.
  for (const TInsLogRec* r : log.List())
    if (SameText(r->Path, Inst + "\\a.txt")) {
      EXPECT_EQ(r->AutoRun, 1);
    }
  EXPECT_EQ(ReadRegString(TRootKey::LocalMachine, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + Name,
                          "DisplayName"),
            Name + "2.0");

  // What the user adds stays: a file in the installation folder, a value in a key the second
  // version made (the key stays with it, and is named).
  WriteAll(Inst + "\\mine.txt", "mine");
  TRegKey::Open(TRootKey::CurrentUser, Base + "\\V2", false)->WriteString("mine", "mine");
  const std::vector<std::string> left = Uninstall();
  for (const char* f : {"\\main.exe", "\\a.txt", "\\doc\\b.txt", "\\new\\c.txt", "\\UnIns.exe", "\\UnLog.txt"})
    EXPECT_FALSE(FileExists(Inst + f)) << f;
  EXPECT_FALSE(FolderExists(Inst + "\\doc"));
  EXPECT_FALSE(FolderExists(Inst + "\\new"));
  EXPECT_EQ(ReadAll(Inst + "\\mine.txt"), "mine");
  for (const char* k : {"\\V1\\Deep", "\\V1", "\\Shared"}) EXPECT_FALSE(TRegKey::KeyExists(TRootKey::CurrentUser, Base + k)) << k;
  EXPECT_EQ(ReadRegString(TRootKey::CurrentUser, Base + "\\V2", "mine"), "mine");
  EXPECT_EQ(ReadRegString(TRootKey::CurrentUser, Base + "\\V2", "w"), "<missing>");
  EXPECT_NE(std::find(left.begin(), left.end(), "HKEY_CURRENT_USER\\" + Base + "\\V2"), left.end());
  // The key that was there before the first version stays, though empty now.
  EXPECT_TRUE(TRegKey::KeyExists(TRootKey::CurrentUser, Base));
  EXPECT_EQ(ReadRegString(TRootKey::CurrentUser, Base, "x"), "<missing>");
  EXPECT_FALSE(TRegKey::KeyExists(TRootKey::LocalMachine, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + Name));
  EXPECT_TRUE(Boxes.empty());
  TRegKey::Open(TRootKey::CurrentUser, Base + "\\V2", false)->DeleteValue("mine");
  TRegKey::DeleteKeyIfEmpty(TRootKey::CurrentUser, Base + "\\V2");
}

// A log written before keys were logged: a value's key goes when the uninstall leaves it
// empty, as it always did; with the mark of a key that was there, it stays.
TEST_F(UpgradeTest, OlderLogsUninstallAsBefore) {
  TRegKey::Open(TRootKey::CurrentUser, Base + "\\Old", true)->WriteString("v", "1");
  TRegKey::Open(TRootKey::CurrentUser, Base + "\\There", true)->WriteString("v", "1");
  TInstallLog log;
  log.Title = Name;
  log.AddRecord("HKEY_CURRENT_USER\\" + Base + "\\Old", 0, 0, 0, 0, "v");
  log.AddRecord("HKEY_CURRENT_USER\\" + Base + "\\There", 0, 0, 0, kLogKeyWasThere, "v");
  ForceFolders(Inst);
  log.WriteToFile(Inst + "\\UnLog.txt");
  EXPECT_TRUE(Uninstall().empty());
  EXPECT_FALSE(TRegKey::KeyExists(TRootKey::CurrentUser, Base + "\\Old"));
  EXPECT_TRUE(TRegKey::KeyExists(TRootKey::CurrentUser, Base + "\\There"));
  EXPECT_EQ(ReadRegString(TRootKey::CurrentUser, Base + "\\There", "v"), "<missing>");
  TRegKey::DeleteKeyIfEmpty(TRootKey::CurrentUser, Base + "\\There");
}

// An earlier log that cannot be read does not stop the installation: it is kept under
// another name, and a box says so.
TEST_F(UpgradeTest, AnUnreadableEarlierLogIsKeptBesideTheNewOne) {
  Install(V1);
  const std::string whole = ReadAll(Inst + "\\UnLog.txt");
  const std::string cut = whole.substr(0, whole.size() - 3);  // ends inside the last record
  WriteAll(Inst + "\\UnLog.txt", cut);
  WriteAll(Inst + "\\UnLog.damaged.txt", "taken");
  Install(V2);
  EXPECT_EQ(Raw->EarlierLog(), nullptr);
  EXPECT_EQ(Raw->DamagedLogCopy(), Inst + "\\UnLog.damaged.2.txt");
  EXPECT_EQ(ReadAll(Inst + "\\UnLog.damaged.2.txt"), cut);
  EXPECT_EQ(ReadAll(Inst + "\\UnLog.damaged.txt"), "taken");
  ASSERT_EQ(Boxes.size(), 1u);
  EXPECT_NE(Boxes[0].find("已损坏"), AnsiString::npos) << Boxes[0];
  EXPECT_NE(Boxes[0].find(Inst + "\\UnLog.damaged.2.txt"), AnsiString::npos) << Boxes[0];
  // The new log is the second version's alone.
  const std::map<AnsiString, int> named = Named(ReadLog());
  EXPECT_EQ(named.count(UpperCaseAscii(Inst + "\\new\\c.txt|")), 1u);
  EXPECT_EQ(named.count(UpperCaseAscii(Inst + "\\doc\\b.txt|")), 0u);
}

// The second version's log cannot be written: the run is undone, and the first version is
// installed as it was, with its log, and uninstalls.
TEST_F(UpgradeTest, AFailedUpgradeLeavesTheFirstVersionInstalled) {
  Install(V1);
  const std::string firstLog = ReadAll(Inst + "\\UnLog.txt");
  EXPECT_THROW(Install(V2, true), EInstallFailed);
  EXPECT_EQ(ReadAll(Inst + "\\UnLog.txt"), firstLog);
  EXPECT_FALSE(FileExists(Inst + "\\new\\c.txt"));
  EXPECT_FALSE(FolderExists(Inst + "\\new"));
  EXPECT_FALSE(TRegKey::KeyExists(TRootKey::CurrentUser, Base + "\\V2"));
  EXPECT_EQ(ReadRegString(TRootKey::CurrentUser, Base + "\\Shared", "z"), "1.0");
  EXPECT_EQ(ReadAll(Inst + "\\doc\\b.txt"), "1.0 b.txt");
  EXPECT_EQ(ReadRegString(TRootKey::LocalMachine, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + Name,
                          "DisplayName"),
            Name + "1.0");
  RemoveFolder(Inst + "\\UnLog.txt.new");
  Uninstall();
  for (const char* f : {"\\main.exe", "\\a.txt", "\\doc\\b.txt", "\\UnIns.exe", "\\UnLog.txt"})
    EXPECT_FALSE(FileExists(Inst + f)) << f;
  EXPECT_FALSE(TRegKey::KeyExists(TRootKey::CurrentUser, Base + "\\Shared"));
  EXPECT_FALSE(FolderExists(Inst));
}

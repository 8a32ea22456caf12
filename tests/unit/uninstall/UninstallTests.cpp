// The uninstaller engine against the backend of the build: the sandbox natively, the real
// file system and registry under Wine.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "core/Exceptions.h"
#include "core/TextUtils.h"
#include "engine/InstallLog.h"
#include "engine/Uninstall.h"
#include "system/FileCtrl.h"
#include "system/FileStream.h"
#include "system/Registry.h"
#include "system/Sandbox.h"
#include "system/SysKernel.h"

namespace {
constexpr bool kSandbox =
#ifdef _WIN32
    false;
#else
    true;
#endif

void WriteText(const AnsiString& fileName, const AnsiString& text) {
  TFileStream f(fileName, fmCreate);
  f.Write(text.data(), text.size());
}

class UninstallTest : public ::testing::Test {
protected:
  std::string Root;
  AnsiString App, Sub, Desktop, Title;
  const AnsiString Maker = "SOFTWARE\\GbUninstallTest\\示例";
  const AnsiString Kept = "SOFTWARE\\GbUninstallTest\\保留";

  void SetUp() override {
#ifndef _WIN32
    char tmpl[] = "/tmp/uninstall-test-XXXXXX";
    Root = mkdtemp(tmpl);
    SetSandboxRoot(Root);
#endif
    Title = "卸载测试" + AnsiString(::testing::UnitTest::GetInstance()->current_test_info()->name());
    // Outside the temporary folder, whose leftovers the uninstaller does not report.
    const AnsiString base = WindowsFolder().substr(0, 3) + "GbUninstallTest\\";
    App = base + "卸载测试";
    Sub = App + "\\数据";
    Desktop = base + "桌面";
    ShellDeleteFolder(App);
    ShellDeleteFolder(Desktop);
    ASSERT_TRUE(ForceFolders(Sub));
    ASSERT_TRUE(ForceFolders(Desktop));
    for (const char* f : {"\\主程序.exe", "\\b.dll", "\\UnIns.exe", "\\数据\\c.exe"}) WriteText(App + f, "MZ");
    WriteText(Desktop + "\\示例.lnk", "L");

    auto run = TRegKey::Open(TRootKey::LocalMachine, SRunKeyPath, true);
    run->WriteString("主程序.exe", "\"" + App + "\\主程序.exe\"");
    run->WriteString("b.dll", "C:\\Other\\b.dll");  // the name now belongs to another program
    auto maker = TRegKey::Open(TRootKey::LocalMachine, Maker, true);
    maker->WriteString("Path", App);
    maker->WriteInteger("", 5);
    auto kept = TRegKey::Open(TRootKey::LocalMachine, Kept, true);
    kept->WriteString("Path", App);
    kept->WriteString("Other", "x");
    auto entry = TRegKey::Open(TRootKey::LocalMachine, SUninstallKeyPrefix + Title, true);
    for (const char* v : {"DisplayIcon", "DisplayName", "DisplayVersion", "URLInfoAbout", "Publisher", "UninstallString"})
      entry->WriteString(v, App + "\\UnIns.exe");

    TInstallLog log;
    log.SetTitle(Title);
    log.AddRecord(App, 0, 0, 0, 0, SCreatedFolderMark);
    log.AddRecord(Sub, 0, 0, 0, 0, SCreatedFolderMark);
    log.AddRecord(App + "\\主程序.exe", 1, 0, 0, 0, "");
    log.AddRecord(App + "\\b.dll", 1, 0, 1, 0, "");
    log.AddRecord(Sub + "\\c.exe", 0, 1, 0, 0, "");
    log.AddRecord("HKEY_LOCAL_MACHINE\\" + Maker, 0, 0, 0, 0, "Path");
    log.AddRecord("HKEY_LOCAL_MACHINE\\" + Maker, 0, 0, 0, 0, "");
    log.AddRecord("HKEY_LOCAL_MACHINE\\" + Kept, 0, 0, 0, 0, "Path");
    log.AddRecord(Desktop + "\\示例.lnk", 0, 0, 0, 0, "");
    log.AddRecord(Desktop + "\\示例.lnk", 0, 0, 0, 0, "");  // logged again by a second setup run
    log.WriteToFile(App + "\\UnLog.txt");
  }
  void TearDown() override {
    ShellDeleteFolder(WindowsFolder().substr(0, 3) + "GbUninstallTest");
    if (auto run = TRegKey::Open(TRootKey::LocalMachine, SRunKeyPath, false)) {
      run->DeleteValue("b.dll");
      run->DeleteValue("主程序.exe");
    }
    for (const AnsiString& k : {Maker, Kept, SUninstallKeyPrefix + Title}) {
      if (auto key = TRegKey::Open(TRootKey::LocalMachine, k, false)) {
        TStringList names;
        key->GetValueNames(names);
        for (const AnsiString& n : names) key->DeleteValue(n);
      }
      TRegKey::DeleteKeyIfEmpty(TRootKey::LocalMachine, k);
    }
    TRegKey::DeleteKeyIfEmpty(TRootKey::LocalMachine, "SOFTWARE\\GbUninstallTest");
#ifndef _WIN32
    std::system(("rm -rf '" + Root + "'").c_str());
#endif
  }
  std::string CommandLog() {
    std::ifstream f(Root + "/commands.log", std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
  }
};

TEST_F(UninstallTest, ReversesEveryRecordAndRemovesEntryLogAndItself) {
  TUninstaller u(App + "\\UnLog.txt");
  u.LoadLog();
  EXPECT_EQ(u.Title(), Title);
  EXPECT_EQ(u.Question(), "确定要完全删除“" + Title + "”及其所有组件吗？");
  u.SetUninstallerFile(App + "\\UnIns.exe");
  u.Run();

  EXPECT_EQ(u.NotRemoved().Count(), 0) << u.NotRemoved().Text();
  EXPECT_FALSE(FolderExists(App)) << "emptied once the log and the uninstaller were gone";
  EXPECT_FALSE(FileExists(Desktop + "\\示例.lnk"));
  EXPECT_TRUE(FolderExists(Desktop)) << "not created by the setup";

  auto run = TRegKey::Open(TRootKey::LocalMachine, SRunKeyPath, false);
  ASSERT_TRUE(run);
  EXPECT_FALSE(run->ValueExists("主程序.exe"));
  EXPECT_TRUE(run->ValueExists("b.dll")) << "a Run value that starts another file stays";
  EXPECT_FALSE(TRegKey::KeyExists(TRootKey::LocalMachine, Maker)) << "left empty, so removed";
  auto kept = TRegKey::Open(TRootKey::LocalMachine, Kept, false);
  ASSERT_TRUE(kept);
  EXPECT_FALSE(kept->ValueExists("Path"));
  EXPECT_TRUE(kept->ValueExists("Other"));
  EXPECT_FALSE(TRegKey::KeyExists(TRootKey::LocalMachine, SUninstallKeyPrefix + Title));
  EXPECT_TRUE(TRegKey::KeyExists(TRootKey::LocalMachine, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall"));

  if (kSandbox) {
    const std::string log = CommandLog();
    EXPECT_NE(log.find("regsvr32.exe /s/u \"" + App + "\\b.dll\""), std::string::npos) << log;
    EXPECT_NE(log.find(Sub + "\\c.exe -unInstall"), std::string::npos) << log;
    EXPECT_EQ(log.find("主程序.exe -unInstall"), std::string::npos) << "no registration to undo";
  }
}

TEST_F(UninstallTest, KeepsWhatTheLogDoesNotNameAndReportsFoldersItCouldNotEmpty) {
  WriteText(Sub + "\\用户数据.txt", "mine");
  // A folder the release made in the temporary folder, still holding an unpacked picture.
  const AnsiString scratch = TempFolder() + "GbUninstallScratch";
  ASSERT_TRUE(ForceFolders(scratch));
  WriteText(scratch + "\\Head.jpg", "jpg");
  TInstallLog log;
  log.LoadFromFile(App + "\\UnLog.txt");
  log.AddRecord(scratch, 0, 0, 0, 0, SCreatedFolderMark);
  log.WriteToFile(App + "\\UnLog.txt");

  TUninstaller u(App + "\\UnLog.txt");
  u.SetUninstallerFile(App + "\\UnIns.exe");
  u.Run();
  EXPECT_TRUE(FileExists(scratch + "\\Head.jpg"));
  ShellDeleteFolder(scratch);
  EXPECT_TRUE(FileExists(Sub + "\\用户数据.txt"));
  EXPECT_FALSE(FileExists(Sub + "\\c.exe"));
  EXPECT_FALSE(FileExists(App + "\\UnLog.txt"));
  EXPECT_FALSE(FileExists(App + "\\UnIns.exe"));
  EXPECT_EQ(u.NotRemoved().Count(), 2) << u.NotRemoved().Text();
  EXPECT_GE(u.NotRemoved().IndexOf(Sub), 0);
  EXPECT_GE(u.NotRemoved().IndexOf(App), 0);

  // An uninstaller that cannot go now is handed to the later deletion.
  AnsiString later;
  WriteText(App + "\\UnLog.txt", AnsiString("\x04\0\0\0abcd", 8));
  TUninstaller again(App + "\\UnLog.txt");
  again.SetUninstallerFile(App + "\\missing-dir\\UnIns.exe", [&](const AnsiString& f) {
    later = f;
    return true;
  });
  ForceFolders(App + "\\missing-dir\\UnIns.exe");  // a folder in the file's place cannot be deleted as a file
  again.Run();
  EXPECT_EQ(later, App + "\\missing-dir\\UnIns.exe");
}

TEST_F(UninstallTest, DamagedOrMissingLogRemovesNothing) {
  // Cut the log inside its last record.
  const AnsiString logFile = App + "\\UnLog.txt";
  AnsiString bytes;
  {
    TFileStream f(logFile, fmOpenRead);
    bytes.resize(static_cast<size_t>(f.Size()));
    f.ReadBuffer(bytes.data(), bytes.size());
  }
  WriteText(logFile, bytes.substr(0, bytes.size() - 2));
  TUninstaller u(logFile);
  EXPECT_THROW(u.LoadLog(), EDamagedData);
  EXPECT_THROW(u.Run(), EDamagedData);
  EXPECT_TRUE(FileExists(App + "\\主程序.exe"));
  EXPECT_TRUE(TRegKey::KeyExists(TRootKey::LocalMachine, Maker));

  // A huge length in place of the title.
  WriteText(logFile, AnsiString("\xFF\xFF\xFF\x7F", 4));
  EXPECT_THROW(TUninstaller(logFile).Run(), EDamagedData);

  TUninstaller missing(App + "\\nowhere\\UnLog.txt");
  EXPECT_THROW(missing.LoadLog(), EFOpenError);
  EXPECT_TRUE(FileExists(App + "\\UnIns.exe"));
}

TEST_F(UninstallTest, HostileRecordsAreLeftAlone) {
  // Relative paths, a bare drive, an empty title (which would name the Uninstall key itself).
  WriteText(App + "\\rel.txt", "x");
  TInstallLog log;
  log.AddRecord("rel.txt", 0, 0, 0, 0, "");
  log.AddRecord(App.substr(0, 2), 0, 0, 0, 0, SCreatedFolderMark);
  log.AddRecord(App.substr(0, 3), 0, 0, 0, 0, SCreatedFolderMark);
  log.WriteToFile(App + "\\UnLog.txt");
  TUninstaller u(App + "\\UnLog.txt");
  u.Run();
  EXPECT_TRUE(FileExists(App + "\\rel.txt"));
  EXPECT_TRUE(FolderExists(App.substr(0, 3)));
  EXPECT_EQ(u.NotRemoved().Count(), 3) << u.NotRemoved().Text();
  EXPECT_TRUE(TRegKey::KeyExists(TRootKey::LocalMachine, SUninstallKeyPrefix + Title));
}

TEST(UninstallClassify, RecordKinds) {
  TInsLogRec r;
  r.Path = "C:\\A";
  r.Text = SCreatedFolderMark;
  EXPECT_EQ(ClassifyLogRecord(r), TUninstallItem::Folder);
  r.Path = "HKEY_CURRENT_USER\\Software\\A";
  r.Text = "";
  EXPECT_EQ(ClassifyLogRecord(r), TUninstallItem::Registry) << "a default value has an empty name";
  r.Path = "hkey_current_user\\Software\\A";
  EXPECT_EQ(ClassifyLogRecord(r), TUninstallItem::File) << "root names are exact";
  r.Path = "C:\\Desk\\A.LNK";
  EXPECT_EQ(ClassifyLogRecord(r), TUninstallItem::Link);
  r.AutoRun = 1;
  EXPECT_EQ(ClassifyLogRecord(r), TUninstallItem::File) << "an installed .lnk file with a registration";
}
}  // namespace

// The sandbox as 64-bit Windows: a 32-bit program is redirected as Windows redirects it, a
// 64-bit one is not, and the root keeps the kind of machine it was made as.
#ifndef _WIN32
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "system/FileCtrl.h"
#include "system/FileStream.h"
#include "system/Platform.h"
#include "system/Registry.h"
#include "system/Sandbox.h"
#include "system/SysKernel.h"

namespace {
class Windows64Test : public ::testing::Test {
protected:
  void SetUp() override {
    char tmpl[] = "/tmp/gbwin64-XXXXXX";
    Root = mkdtemp(tmpl);
    SetSandboxRoot(Root);
  }
  void TearDown() override {
    SetSandboxProgram64(false);
    SetSandboxRoot(Root);
    std::string error;
    SetSandboxWindowsBits(32, error);  // (a fresh root for the next test anyway)
    if (std::system(("rm -rf '" + Root + "'").c_str()) != 0) ADD_FAILURE() << "cleanup";
  }
  static bool HostFile(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
  }
  static void Write(const AnsiString& path) {
    TFileStream f(path, fmCreate);
    f.Write("x", 1);
  }
  std::string Root;
};
}  // namespace

TEST_F(Windows64Test, AThirtyTwoBitProgramIsRedirectedAndASixtyFourBitOneIsNot) {
  std::string error;
  ASSERT_TRUE(SetSandboxWindowsBits(64, error)) << error;
  const std::string c = Root + "/drive_c";

  // The 32-bit program: its Program Files, its System32, its half of HKLM\SOFTWARE.
  SetSandboxProgram64(false);
  EXPECT_TRUE(SandboxRedirects());
  EXPECT_EQ(ProgramFilesFolder(), "C:\\Program Files (x86)");
  Write(WindowsFolder() + "\\System32\\a32.dll");
  EXPECT_TRUE(HostFile(c + "/Windows/SysWOW64/a32.dll"));
  EXPECT_FALSE(HostFile(c + "/Windows/System32/a32.dll"));
  // drivers\etc is left alone, as Windows leaves it (the folder is there on every Windows).
  ASSERT_EQ(std::system(("mkdir -p '" + c + "/Windows/System32/drivers/etc'").c_str()), 0);
  Write("C:\\Windows\\System32\\drivers\\etc\\hosts");
  EXPECT_TRUE(HostFile(c + "/Windows/System32/drivers/etc/hosts"));
  Write("C:\\Windows\\Sysnative\\real.dll");  // the way to the real one
  EXPECT_TRUE(HostFile(c + "/Windows/System32/real.dll"));
  TRegKey::Open(TRootKey::LocalMachine, "SOFTWARE\\Demo", true)->WriteString("v", "32");
  TRegKey::Open(TRootKey::LocalMachine, "\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Demo", true)
      ->WriteString("DisplayName", "Demo32");
  TRegKey::Open(TRootKey::LocalMachine, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\demo.exe", true)
      ->WriteString("", "shared");
  TRegKey::Open(TRootKey::CurrentUser, "Software\\Demo", true)->WriteString("v", "user");
  TRegKey::Open(TRootKey::ClassesRoot, "CLSID\\{1}", true)->WriteString("", "class32");
  TRegKey::Open(TRootKey::ClassesRoot, ".demo", true)->WriteString("", "shared type");
  EXPECT_TRUE(TRegKey::KeyExists(TRootKey::LocalMachine, "SOFTWARE\\Demo"));  // as the program sees it

  // The 64-bit program sees the machine as it is.
  SetSandboxProgram64(true);
  EXPECT_FALSE(SandboxRedirects());
  EXPECT_EQ(ProgramFilesFolder(), "C:\\Program Files");
  Write(WindowsFolder() + "\\System32\\a64.dll");
  EXPECT_TRUE(HostFile(c + "/Windows/System32/a64.dll"));
  EXPECT_FALSE(TRegKey::KeyExists(TRootKey::LocalMachine, "SOFTWARE\\Demo"));
  AnsiString v;
  ASSERT_TRUE(TRegKey::Open(TRootKey::LocalMachine, "SOFTWARE\\WOW6432Node\\Demo", false));
  EXPECT_TRUE(TRegKey::Open(TRootKey::LocalMachine, "SOFTWARE\\WOW6432Node\\Demo", false)->ReadString("v", v));
  EXPECT_EQ(v, "32");
  EXPECT_TRUE(TRegKey::KeyExists(TRootKey::LocalMachine,
                                 "SOFTWARE\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Demo"));
  EXPECT_TRUE(TRegKey::KeyExists(TRootKey::LocalMachine, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\demo.exe"));
  EXPECT_TRUE(TRegKey::KeyExists(TRootKey::CurrentUser, "Software\\Demo"));
  EXPECT_TRUE(TRegKey::KeyExists(TRootKey::ClassesRoot, "WOW6432Node\\CLSID\\{1}"));
  EXPECT_TRUE(TRegKey::KeyExists(TRootKey::ClassesRoot, ".demo"));
  EXPECT_EQ(SandboxRegistryView("HKEY_LOCAL_MACHINE", "SOFTWARE\\Classes\\CLSID\\{2}"), "SOFTWARE\\Classes\\CLSID\\{2}");
  SetSandboxProgram64(false);
  EXPECT_EQ(SandboxRegistryView("HKEY_LOCAL_MACHINE", "SOFTWARE\\Classes\\CLSID\\{2}"),
            "SOFTWARE\\Classes\\WOW6432Node\\CLSID\\{2}");
  EXPECT_EQ(SandboxRegistryView("HKEY_LOCAL_MACHINE", "SOFTWARE\\Classes\\.txt"), "SOFTWARE\\Classes\\.txt");
  EXPECT_EQ(SandboxRegistryView("HKEY_CURRENT_USER", "Software\\Classes\\Interface\\{3}"),
            "Software\\Classes\\WOW6432Node\\Interface\\{3}");
  EXPECT_EQ(SandboxRegistryView("HKEY_LOCAL_MACHINE", "SYSTEM\\CurrentControlSet"), "SYSTEM\\CurrentControlSet");
  EXPECT_EQ(SandboxRegistryView("HKEY_LOCAL_MACHINE", "SOFTWARE"), "SOFTWARE\\WOW6432Node");
}

TEST_F(Windows64Test, TheRootKeepsItsKindAndA32BitMachineRedirectsNothing) {
  std::string error;
  // A new root is 32-bit Windows: nothing is redirected, whatever the program.
  ASSERT_TRUE(SetSandboxWindowsBits(0, error));
  EXPECT_EQ(SandboxWindowsBits(), 32);
  SetSandboxProgram64(false);
  EXPECT_FALSE(SandboxRedirects());
  EXPECT_EQ(ProgramFilesFolder(), "C:\\Program Files");
  EXPECT_EQ(SandboxRegistryView("HKEY_LOCAL_MACHINE", "SOFTWARE\\Demo"), "SOFTWARE\\Demo");
  // Named once, the kind stays with the root; the other kind is refused by name.
  const std::string other = Root + "-64";
  SetSandboxRoot(other);
  ASSERT_TRUE(SetSandboxWindowsBits(64, error));
  SetSandboxRoot(other);
  EXPECT_EQ(SandboxWindowsBits(), 64);
  EXPECT_FALSE(SetSandboxWindowsBits(32, error));
  EXPECT_NE(error.find("64-bit Windows"), std::string::npos) << error;
  EXPECT_TRUE(SetSandboxWindowsBits(0, error));
  EXPECT_EQ(SandboxWindowsBits(), 64);
  struct stat st;
  EXPECT_EQ(stat((other + "/drive_c/Program Files (x86)").c_str(), &st), 0);
  EXPECT_EQ(stat((other + "/drive_c/Windows/SysWOW64").c_str(), &st), 0);
  if (std::system(("rm -rf '" + other + "'").c_str()) != 0) ADD_FAILURE() << "cleanup";
}
#endif

// The system utilities against the backend of the build: the sandbox natively, the real
// Windows calls in the cross-build (run under Wine).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <set>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "core/DateTime.h"
#include "core/Exceptions.h"
#include "core/TextUtils.h"
#include "system/Dialogs.h"
#include "system/FileCtrl.h"
#include "system/FileStream.h"
#include "system/Platform.h"
#include "system/Registry.h"
#include "system/Sandbox.h"
#include "system/SysKernel.h"

namespace {
int ProcessId() {
  static int id = static_cast<int>(reinterpret_cast<uintptr_t>(&id) % 100000);
  return id;
}

// Each test gets a fresh folder below the temporary folder (a fresh sandbox root natively).
class SystemTest : public ::testing::Test {
protected:
  void SetUp() override {
#ifndef _WIN32
    char tmpl[] = "/tmp/gbsys-XXXXXX";
    FHostRoot = mkdtemp(tmpl);
    SetSandboxRoot(FHostRoot);
#endif
    FDir = TempFolder() + "gbsys" + IntToStr(ProcessId()) + "-" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name();
    ShellDeleteFolder(FDir);
    ASSERT_TRUE(ForceFolders(FDir));
  }
  void TearDown() override {
    SetDialogResponder(nullptr);
    ShellDeleteFolder(FDir);
#ifndef _WIN32
    std::string cmd = "rm -rf '" + FHostRoot + "'";
    if (std::system(cmd.c_str()) != 0) ADD_FAILURE() << "cleanup";
#endif
  }

  static void WriteFile(const AnsiString& path, const std::string& data) {
    TFileStream f(path, fmCreate);
    f.WriteBuffer(data.data(), data.size());
  }
  static std::string ReadFile(const AnsiString& path) {
    TFileStream f(path, fmOpenRead | fmShareDenyNone);
    std::string s(static_cast<size_t>(f.Size()), '\0');
    f.ReadBuffer(s.data(), s.size());
    return s;
  }
#ifndef _WIN32
  std::string CommandLog() {
    FILE* f = std::fopen((FHostRoot + "/commands.log").c_str(), "rb");
    if (!f) return "";
    std::string s;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
    std::fclose(f);
    return s;
  }
  std::string FHostRoot;
#endif
  AnsiString FDir;
};

#ifdef _WIN32
// The system's own registry tool as the independent reader; it prints GBK.
std::string RegQuery(const AnsiString& key) {
  std::string out;
  if (FILE* p = _popen(("chcp 936 >nul & reg query \"" + key + "\" 2>nul").c_str(), "rb")) {
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    _pclose(p);
  }
  return out;
}
#endif

TDateTime At(int y, int mo, int d, int h, int mi, int s) {
  TDateParts p;
  p.Year = y, p.Month = mo, p.Day = d, p.Hour = h, p.Minute = mi, p.Second = s;
  return EncodeDateTime(p);
}
}  // namespace

TEST(SystemText, AppendPathDelimiterIsAByteTest) {
  EXPECT_EQ(AppendPathDelimiter("C:\\Program Files\\App"), "C:\\Program Files\\App\\");
  EXPECT_EQ(AppendPathDelimiter("C:\\Program Files\\App\\"), "C:\\Program Files\\App\\");
  // The trail byte 0x5C of a double-byte character counts as the delimiter.
  EXPECT_EQ(AppendPathDelimiter("C:\\\x95\x5C"), "C:\\\x95\x5C");
  EXPECT_EQ(AppendPathDelimiter("C:\\项目"), "C:\\项目\\");
}

TEST(SystemText, GbkUtf8Conversions) {
  EXPECT_EQ(GbkToUtf8("项目名称"), "\xE9\xA1\xB9\xE7\x9B\xAE\xE5\x90\x8D\xE7\xA7\xB0");
  EXPECT_EQ(Utf8ToGbk(reinterpret_cast<const char*>(u8"安装向导")), "安装向导");
  // A lone lead byte at the end cannot be decoded: replaced, the rest kept.
  EXPECT_EQ(GbkToUtf8("ab\xB0"), "ab\xEF\xBF\xBD");
  // U+2713 has no GBK form.
  EXPECT_THROW(Utf8ToGbk("a\xE2\x9C\x93"), EConvertError);
  std::u16string w = GbkToUtf16("A项");
  ASSERT_EQ(w.size(), 2u);
  EXPECT_EQ(w[0], u'A');
  EXPECT_EQ(w[1], u'\x9879');
}

TEST_F(SystemTest, FileStreamOpenFailuresCarryTheStreamMessages) {
  AnsiString missing = FDir + "\\missing.bin";
  try {
    FileSizeOf(missing);
    FAIL() << "no error";
  } catch (const EFOpenError& e) {
    EXPECT_TRUE(StartsStr("Cannot open file \"" + missing + "\". ", e.Message())) << e.Message();
    EXPECT_GT(e.Message().size(), ("Cannot open file \"" + missing + "\". ").size());
  }
  EXPECT_THROW(TFileStream(FDir, fmCreate), EFCreateError);
  EXPECT_THROW(TFileStream(FDir, fmOpenRead), EFOpenError);

  AnsiString file = FDir + "\\数据.bin";
  {
    TFileStream f(file, fmCreate);
    f.WriteBuffer("0123456789", 10);
    f.SetSize(4);
    EXPECT_EQ(f.Size(), 4);
    f.Seek(0, 2);
    f.WriteBuffer("x", 1);
  }
  EXPECT_EQ(FileSizeOf(file), 5);
  EXPECT_EQ(ReadFile(file), "0123x");
  {
    TFileStream f(file, fmOpenReadWrite | fmShareExclusive);
    f.Seek(1, 0);
    f.WriteBuffer("AB", 2);
    char b[8];
    f.Seek(0, 0);
    EXPECT_EQ(f.Read(b, sizeof b), 5u);
  }
  EXPECT_EQ(ReadFile(file), "0AB3x");
}

TEST_F(SystemTest, CollectFilesListsDepthFirstWithoutFolders) {
  ASSERT_TRUE(ForceFolders(FDir + "\\D\\sub\\deeper"));
  WriteFile(FDir + "\\D\\a.txt", "a");
  WriteFile(FDir + "\\D\\c.txt", "c");
  WriteFile(FDir + "\\D\\sub\\b.txt", "b");
  WriteFile(FDir + "\\D\\sub\\deeper\\e.txt", "e");

  TStringList list{"kept"};
  CollectFiles(FDir + "\\D", list);
  ASSERT_EQ(list.Count(), 5);
  EXPECT_EQ(list[0], "kept");
  std::set<AnsiString> got(list.begin() + 1, list.end());
  std::set<AnsiString> want{FDir + "\\D\\a.txt", FDir + "\\D\\c.txt", FDir + "\\D\\sub\\b.txt",
                            FDir + "\\D\\sub\\deeper\\e.txt"};
  EXPECT_EQ(got, want);
  // A subfolder's files stand together, deeper ones right after their folder's.
  int b = list.IndexOf(FDir + "\\D\\sub\\b.txt"), e = list.IndexOf(FDir + "\\D\\sub\\deeper\\e.txt");
  EXPECT_TRUE(std::abs(b - e) == 1) << b << " " << e;
  if (IsSandbox()) {
    // The sandbox enumerates by upper-cased name.
    EXPECT_EQ(list[1], FDir + "\\D\\a.txt");
    EXPECT_EQ(list[2], FDir + "\\D\\c.txt");
    EXPECT_EQ(list[3], FDir + "\\D\\sub\\b.txt");
  }

  TStringList doubled;
  CollectFiles(FDir + "\\D\\sub\\deeper\\", doubled);
  ASSERT_EQ(doubled.Count(), 1);
  EXPECT_EQ(doubled[0], FDir + "\\D\\sub\\deeper\\\\e.txt");
  EXPECT_EQ(FileSizeOf(doubled[0]), 1);

  TStringList none{"x"};
  CollectFiles(FDir + "\\nothing", none);
  EXPECT_EQ(none.Count(), 1);
}

TEST_F(SystemTest, FoldersAndCaseInsensitiveLookup) {
  try {
    ForceFolders("");
    FAIL() << "no error";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "Unable to create directory");
  }
  AnsiString deep = FDir + "\\MixedCase\\层\\Inner";
  EXPECT_FALSE(FolderExists(deep));
  EXPECT_TRUE(ForceFolders(deep + "\\"));
  EXPECT_TRUE(FolderExists(deep));
  EXPECT_TRUE(ForceFolders(deep));
  WriteFile(deep + "\\File.TXT", "abc");
  EXPECT_FALSE(FolderExists(deep + "\\File.TXT"));
  EXPECT_FALSE(FolderExists(""));
  // A name ending in a character whose trail byte is 0x5C is one level, not two.
  EXPECT_TRUE(ForceFolders(FDir + "\\T\\\x95\x5C\\"));
  auto levels = ListFolder(FDir + "\\T");
  ASSERT_EQ(levels.size(), 1u);
  EXPECT_EQ(levels[0].Name, "\x95\x5C");

  AnsiString lower = LowerCaseAscii(FDir) + "\\mixedcase\\层\\INNER\\file.txt";
  EXPECT_TRUE(FileExists(lower));
  EXPECT_EQ(FileSizeOf(lower), 3);
  EXPECT_EQ(ReadFile(lower), "abc");
  // A new file in an existing folder spelled in another case lands in that folder.
  WriteFile(LowerCaseAscii(deep) + "\\New.txt", "n");
  auto entries = ListFolder(deep);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_TRUE(CopyFileTo(lower, deep + "\\copy.txt", true));
  EXPECT_FALSE(CopyFileTo(lower, deep + "\\COPY.txt", true));
  EXPECT_TRUE(RenameFileTo(deep + "\\copy.txt", deep + "\\moved.txt"));
  EXPECT_TRUE(FileExists(deep + "\\moved.txt"));
  EXPECT_FALSE(FileExists(deep + "\\copy.txt"));
  EXPECT_TRUE(DeleteFileAt(deep + "\\MOVED.TXT"));
  EXPECT_FALSE(DeleteFileAt(deep + "\\moved.txt"));
  EXPECT_FALSE(RemoveFolder(deep));
}

TEST_F(SystemTest, FileStampsKeepWindowsUtcAndLocalRules) {
#ifndef _WIN32
  setenv("TZ", "CST-8", 1);  // UTC+8, no summer time
#endif
  EXPECT_EQ(FileStampOf(FDir + "\\missing.txt"), -1.0);
  SetFileStamp(FDir + "\\missing.txt", 2, At(2020, 6, 15, 12, 0, 0));  // silent
  EXPECT_FALSE(FileExists(FDir + "\\missing.txt"));

  AnsiString file = FDir + "\\stamp.txt";
  WriteFile(file, "x");
  TDateTime c0, a0, w0;
  ASSERT_TRUE(FileTimesOf(file, c0, a0, w0));
  SetFileStamp(file, 2, At(2099, 6, 15, 12, 34, 57));
  TDateTime c1, a1, w1;
  ASSERT_TRUE(FileTimesOf(file, c1, a1, w1));
#ifdef _WIN32
  // Wine on a Linux file system keeps no creation time and reports the last-write time.
  if (c1 != w1) { EXPECT_EQ(c1, c0); }
#else
  EXPECT_EQ(c1, c0);
#endif
  EXPECT_EQ(a1, a0);
  EXPECT_EQ(w1, FileStampOf(file));
  TDateParts p = DecodeDateTime(w1);
  // Odd seconds round down through the DOS time; the zone offset is whole quarter hours.
  EXPECT_EQ(p.Second, 56);
  EXPECT_EQ(p.MilliSecond, 0);
  double offsetMinutes = (At(2099, 6, 15, 12, 34, 56) - w1) * 1440.0;
  EXPECT_NEAR(std::fmod(std::fabs(offsetMinutes) + 0.001, 15.0), 0.0, 0.01);
  EXPECT_LE(std::fabs(offsetMinutes), 14 * 60);
#ifndef _WIN32
  EXPECT_EQ(p.Hour, 4);
  EXPECT_EQ(p.Minute, 34);
#endif
  // Outside what a DOS date holds: the file keeps its time.
  SetFileStamp(file, 2, At(1970, 1, 1, 0, 0, 0));
  EXPECT_EQ(FileStampOf(file), w1);
  SetFileStamp(file, 1, At(2098, 1, 2, 3, 4, 6));
  ASSERT_TRUE(FileTimesOf(file, c1, a1, w1));
  EXPECT_EQ(FileStampOf(file), w1);
  EXPECT_EQ(DecodeDateTime(a1).Year, 2098);
  EXPECT_GT(FileStampOf(FDir), 0.0);

  // Through a stream after its last write: the stamp the path form gives, kept when the
  // stream closes; a date outside DOS dates again changes nothing.
  const AnsiString written = FDir + "\\written.txt";
  {
    TFileStream out(written, fmCreate);
    out.Write("abc", 3);
    SetFileStamp(out, 2, At(2099, 6, 15, 12, 34, 57));
    SetFileStamp(out, 2, At(1970, 1, 1, 0, 0, 0));
  }
  EXPECT_EQ(FileSizeOf(written), 3);
  EXPECT_EQ(FileStampOf(written), w1);
}

TEST_F(SystemTest, DriveFreeBytes) {
  int64_t upper = DriveFreeBytes('C'), lower = DriveFreeBytes('c');
  EXPECT_GT(upper, 0);
  EXPECT_GT(lower, 0);
  EXPECT_EQ(DriveFreeBytes('Q'), -1);
  EXPECT_EQ(DriveFreeBytes('1'), -1);
  EXPECT_GE(DriveFreeBytes('@'), 0);
}

TEST_F(SystemTest, RunAtLogonValue) {
  const AnsiString run = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
  AnsiString name = "gbsys-启动" + IntToStr(ProcessId());
  SetRunAtLogon(name, "C:\\missing\\old.exe", false);  // nothing to delete: silent
  SetRunAtLogon(name, "C:\\App\\first.exe", true);
  SetRunAtLogon(name, "C:\\程序\\last.exe", true);
  auto key = TRegKey::Open(TRootKey::LocalMachine, run, false);
  ASSERT_TRUE(key);
  AnsiString value;
  ASSERT_TRUE(key->ReadString(name, value));
  EXPECT_EQ(value, "C:\\程序\\last.exe");
  TStringList names;
  key->GetValueNames(names);
  int count = 0;
  for (auto& n : names) count += SameText(n, name);
  EXPECT_EQ(count, 1);
#ifdef _WIN32
  std::string listed = RegQuery("HKLM\\" + run);
  EXPECT_NE(listed.find("    " + name + "    REG_SZ    C:\\程序\\last.exe\r\n"), std::string::npos) << listed;
#endif
  SetRunAtLogon(name, "", false);
  EXPECT_FALSE(key->ValueExists(name));
}

TEST_F(SystemTest, RegistryValuesRoundTrip) {
  AnsiString path = "Software\\gbsys-test" + IntToStr(ProcessId()) + "\\子键\\Leaf";
  TRegKey::DeleteKeyIfEmpty(TRootKey::CurrentUser, path);
  EXPECT_FALSE(TRegKey::KeyExists(TRootKey::CurrentUser, path));
  EXPECT_FALSE(TRegKey::Open(TRootKey::CurrentUser, path, false));
  {
    auto key = TRegKey::Open(TRootKey::CurrentUser, "\\" + path, true);
    ASSERT_TRUE(key);
    key->WriteString("文本", "路径 \"C:\\A B\\\" 昞\x95\x5C end");
    key->WriteString("", "默认");
    key->WriteString("lines", "one\r\ntwo");
    key->WriteInteger("Count", -2);
    key->WriteInteger("Ten", 10);
    key->WriteBinary("Bytes", TArrayByte{0xAB, 0xC0, 0x00, 0x5C});
    key->WriteString("TEN", "replaced");  // names compare without case
  }
  auto key = TRegKey::Open(TRootKey::CurrentUser, path, false);
  ASSERT_TRUE(key);
  AnsiString s;
  ASSERT_TRUE(key->ReadString("文本", s));
  EXPECT_EQ(s, "路径 \"C:\\A B\\\" 昞\x95\x5C end");
  ASSERT_TRUE(key->ReadString("", s));
  EXPECT_EQ(s, "默认");
  ASSERT_TRUE(key->ReadString("lines", s));
  EXPECT_EQ(s, "one\r\ntwo");
  int32_t n = 0;
  ASSERT_TRUE(key->ReadInteger("count", n));
  EXPECT_EQ(n, -2);
  EXPECT_FALSE(key->ReadInteger("Ten", n));
  ASSERT_TRUE(key->ReadString("Ten", s));
  EXPECT_EQ(s, "replaced");
  TArrayByte bytes;
  ASSERT_TRUE(key->ReadBinary("Bytes", bytes));
  EXPECT_EQ(bytes, (TArrayByte{0xAB, 0xC0, 0x00, 0x5C}));
  EXPECT_FALSE(key->ReadString("Bytes", s));

  auto parent = TRegKey::Open(TRootKey::CurrentUser, "Software\\gbsys-test" + IntToStr(ProcessId()), false);
  ASSERT_TRUE(parent);
  TStringList keys;
  parent->GetKeyNames(keys);
  EXPECT_EQ(keys, TStringList{"子键"});

#ifdef _WIN32
  std::string listed = RegQuery("HKCU\\" + path);
  for (const char* line : {"    文本    REG_SZ    路径 \"C:\\A B\\\" 昞\x95\x5C end\r\n", "    (默认)    REG_SZ    默认\r\n",
                           "    Count    REG_DWORD    0xfffffffe\r\n", "    Bytes    REG_BINARY    ABC0005C\r\n"})
    EXPECT_NE(listed.find(line), std::string::npos) << line << "\n" << listed;
#else
  std::string text = ReadFile(ProgramPath(FHostRoot + "/registry.reg"));
  EXPECT_TRUE(StartsStr("REGEDIT4\r\n", text));
  EXPECT_NE(text.find("\r\n[HKEY_CURRENT_USER\\" + path + "]\r\n"), std::string::npos);
  EXPECT_NE(text.find("\r\n\"文本\"=\"路径 \\\"C:\\\\A B\\\\\\\" 昞\x95\x5C end\"\r\n"), std::string::npos);
  EXPECT_NE(text.find("\r\n@=\"默认\"\r\n"), std::string::npos);
  EXPECT_NE(text.find("\r\n\"Count\"=dword:fffffffe\r\n"), std::string::npos);
  EXPECT_NE(text.find("\r\n\"Bytes\"=hex:ab,c0,00,5c\r\n"), std::string::npos);
  EXPECT_NE(text.find("\r\n\"lines\"=hex(1):6f,6e,65,0d,0a,74,77,6f,00\r\n"), std::string::npos);
#endif

  EXPECT_FALSE(TRegKey::DeleteKeyIfEmpty(TRootKey::CurrentUser, "Software\\gbsys-test" + IntToStr(ProcessId())));
  EXPECT_FALSE(TRegKey::DeleteKeyIfEmpty(TRootKey::CurrentUser, path));
  for (auto name : {"文本", "", "lines", "Count", "Ten", "Bytes"}) EXPECT_TRUE(key->DeleteValue(name)) << name;
  EXPECT_FALSE(key->DeleteValue("Bytes"));
  EXPECT_TRUE(TRegKey::DeleteKeyIfEmpty(TRootKey::CurrentUser, path));
  EXPECT_TRUE(TRegKey::DeleteKeyIfEmpty(TRootKey::CurrentUser, "Software\\gbsys-test" + IntToStr(ProcessId()) + "\\子键"));
  EXPECT_TRUE(TRegKey::DeleteKeyIfEmpty(TRootKey::CurrentUser, "Software\\gbsys-test" + IntToStr(ProcessId())));
  EXPECT_FALSE(TRegKey::KeyExists(TRootKey::CurrentUser, path));
  EXPECT_TRUE(TRegKey::KeyExists(TRootKey::CurrentUser, "Software"));
}

TEST_F(SystemTest, StartedCommandsKeepTheirExactText) {
  // Harmless paths: nothing of this name exists, so a real start fails silently.
  RunInstallSwitch(FDir + "\\App\\svc.exe", true);
  RunInstallSwitch(FDir + "\\App\\svc.exe", false);
  EXPECT_EQ(RunCommandAndWait(FDir + "\\missing.exe", ""), IsSandbox() ? 0 : -1);
#ifndef _WIN32
  RunRegSvr32("C:\\A B\\x.dll", false);
  RunRegSvr32("C:\\A B\\x.dll", true);
  RunInstallSwitch("C:\\Program Files\\App\\svc.exe", true);
  EXPECT_EQ(RunCommandAndWait("C:\\UnIns.exe", "/x"), 0);
  ShellOpen("Open", "C:\\读我.txt", "", "C:\\", 1);
  uint32_t code = 7;
  SetSandboxElevation(false, 3);
  RelaunchElevated("C:\\Setup.exe", "Ins", code);
  EXPECT_EQ(code, 3u);
  SetSandboxElevation(true, 0);
  try {
    RelaunchElevated("C:\\Setup.exe", "Ins", code);
    FAIL() << "no abort";
  } catch (const EAbort& e) {
    EXPECT_EQ(e.Message(), "Operation aborted");
  }
  EXPECT_EQ(code, 3u);
  SetSandboxElevation(false, 0);
  // Programs quoted, regsvr32 the system's own by its full path.
  EXPECT_EQ(CommandLog(), "exec: \"" + FDir + "\\App\\svc.exe\" -Install\n"
                          "exec: \"" + FDir + "\\App\\svc.exe\" -unInstall\n"
                          "wait: " + FDir + "\\missing.exe\n"
                          "exec: \"C:\\Windows\\System32\\regsvr32.exe\" /s/u \"C:\\A B\\x.dll\"\n"
                          "exec: \"C:\\Windows\\System32\\regsvr32.exe\" /s \"C:\\A B\\x.dll\"\n"
                          "exec: \"C:\\Program Files\\App\\svc.exe\" -Install\n"
                          "wait: C:\\UnIns.exe /x\n"
                          "open: C:\\读我.txt\n"
                          "runas: C:\\Setup.exe Ins\n"
                          "runas: C:\\Setup.exe Ins\n");
#endif
}

#ifdef _WIN32
TEST_F(SystemTest, RelaunchElevatedWaitsServicingMessagesAndReadsTheExitCode) {
  int pumped = 0;
  SetProcessMessagesHandler([&] { ++pumped; });
  uint32_t code = 0;
  RelaunchElevated(WindowsFolder() + "\\system32\\cmd.exe", "/c exit 3", code);
  EXPECT_EQ(code, 3u);
  EXPECT_GT(pumped, 0);
  // Not found: no abort, no wait, the caller's variable untouched.
  code = 9;
  RelaunchElevated(FDir + "\\missing.exe", "", code);
  SetProcessMessagesHandler(nullptr);
  EXPECT_EQ(code, 9u);
}
#endif

TEST_F(SystemTest, BoxesAndPickersAskTheResponder) {
  auto r = std::make_shared<TDialogResponder>();
  std::vector<std::string> seen;
  bool answer = true;
  r->MessageBox = [&](TBoxStyle style, const AnsiString& caption, const AnsiString& text) {
    seen.push_back(std::to_string(static_cast<int>(style)) + "|" + caption + "|" + text);
    return answer;
  };
  AnsiString offered = "unset";
  r->BrowseFolder = [&](const AnsiString& title, AnsiString& folder) {
    offered = folder;
    return false;
  };
  SetDialogResponder(r);
  SetApplicationTitle("“演示”安装向导");
  EXPECT_TRUE(AskYesNo("退出?"));
  answer = false;
  EXPECT_FALSE(AskYesNo("重启?"));
  ShowErrorBox("错误");
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[0], "2|“演示”安装向导|退出?");
  EXPECT_EQ(seen[2], "0|“演示”安装向导|错误");

  AnsiString folder = FDir + "\\no such folder";
  EXPECT_FALSE(BrowseFolder("选择安装文件夹", u"", folder));
  EXPECT_EQ(folder, "");
  EXPECT_EQ(offered, "");
  folder = FDir;
  r->BrowseFolder = [&](const AnsiString& title, AnsiString& f) {
    offered = f;
    f = f + "\\picked";
    return true;
  };
  EXPECT_TRUE(BrowseFolder("选择文件夹", u"", folder));
  EXPECT_EQ(offered, FDir);
  EXPECT_EQ(folder, FDir + "\\picked");
  SetApplicationTitle("");
}

TEST_F(SystemTest, FolderCopyAndDelete) {
  ASSERT_TRUE(ForceFolders(FDir + "\\src\\Data\\sub"));
  WriteFile(FDir + "\\src\\Data\\a.ini", "a");
  WriteFile(FDir + "\\src\\Data\\sub\\b.ini", "bb");
  ASSERT_TRUE(ForceFolders(FDir + "\\dst"));
  ShellCopyFolder(FDir + "\\src\\Data", FDir + "\\dst");
  EXPECT_EQ(ReadFile(FDir + "\\dst\\Data\\sub\\b.ini"), "bb");
  WriteFile(FDir + "\\dst\\Data\\a.ini", "changed");
  ShellCopyFolder(FDir + "\\src\\Data", FDir + "\\dst");
  // The second copy takes another name instead of overwriting the first.
  EXPECT_EQ(ReadFile(FDir + "\\dst\\Data\\a.ini"), "changed");
  EXPECT_EQ(ListFolder(FDir + "\\dst").size(), 2u);
  ShellDeleteFolder(FDir + "\\dst");
  EXPECT_FALSE(FolderExists(FDir + "\\dst"));
  EXPECT_TRUE(FolderExists(FDir + "\\src\\Data"));
}

TEST_F(SystemTest, ShellLinkFile) {
  ASSERT_TRUE(ForceFolders(FDir + "\\程序"));
  WriteFile(FDir + "\\程序\\main.exe", "MZ");
  AnsiString link = FDir + "\\主程序.lnk";
  CreateShellLink(link, FDir + "\\程序\\main.exe", "/go 1", "演示程序");
  std::string bytes = ReadFile(link);
  ASSERT_GE(bytes.size(), 76u);
  EXPECT_EQ(bytes.substr(0, 20), std::string("\x4C\0\0\0\x01\x14\x02\0\0\0\0\0\xC0\0\0\0\0\0\0\x46", 20));
  EXPECT_EQ(GetLE32(reinterpret_cast<const uint8_t*>(bytes.data()) + 60), 1u);  // SW_SHOWNORMAL
#ifndef _WIN32
  std::string cmd = "lnkinfo -c windows-936 '" + HostPath(link) + "' 2>&1";
  FILE* p = popen(cmd.c_str(), "r");
  ASSERT_TRUE(p);
  std::string out;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  int status = pclose(p);
  if (out.find("not found") != std::string::npos) GTEST_SKIP() << "lnkinfo missing";
  EXPECT_EQ(status, 0) << out;
  auto has = [&](const std::string& s) { return out.find(s) != std::string::npos; };
  EXPECT_TRUE(has(reinterpret_cast<const char*>(u8"Description\t\t\t: 演示程序"))) << out;
  EXPECT_TRUE(has("Command line arguments\t\t: /go 1")) << out;
  EXPECT_TRUE(has(GbkToUtf8("Working directory\t\t: " + FDir + "\\程序\\"))) << out;
  EXPECT_TRUE(has(GbkToUtf8("Local path\t\t\t: " + FDir + "\\程序\\main.exe\n"))) << out;
  EXPECT_TRUE(has("File size\t\t\t: 2 bytes")) << out;
#endif
}

TEST_F(SystemTest, SpecialFoldersAndListing) {
  EXPECT_EQ(TempFolder().back(), '\\');
  EXPECT_TRUE(FolderExists(TempFolder()));
  EXPECT_TRUE(FolderExists(WindowsFolder()));
  EXPECT_NE(WindowsFolder().back(), '\\');
  EXPECT_EQ(ProgramFilesFolder(), ShellFolderPath(CSIDL_PROGRAM_FILES_));
  for (int csidl : {CSIDL_DESKTOP_, CSIDL_PROGRAMS_, CSIDL_COMMON_PROGRAMS_, CSIDL_APPDATA_, CSIDL_PROGRAM_FILES_}) {
    AnsiString f = ShellFolderPath(csidl);
    EXPECT_FALSE(f.empty()) << csidl;
    EXPECT_NE(f.back(), '\\') << csidl;
  }
  EXPECT_GE(FileIconIndex(FDir, true), 0);
  EXPECT_EQ(FileIconIndex(FDir + "\\a.txt", true), FileIconIndex(FDir + "\\b.txt", true));
  // A folder that is there has the folder icon, one that is not has none.
  EXPECT_GT(FileIconIndex(FDir, true), 0);
  EXPECT_EQ(FileIconIndex(FDir + "\\missing\\sub", true), 0);
  EXPECT_FALSE(ApplicationExeName().empty());
  EXPECT_TRUE(FileExists(ApplicationExeName()));

  WriteFile(FDir + "\\b.bin", "12345");
  ASSERT_TRUE(ForceFolders(FDir + "\\A"));
  auto list = ListFolder(FDir);
  ASSERT_EQ(list.size(), 2u);
  for (auto& rec : list) {
    if (rec.Name == "A") {
      EXPECT_TRUE(rec.Attr & faDirectory);
    } else {
      EXPECT_EQ(rec.Name, "b.bin");
      EXPECT_FALSE(rec.Attr & faDirectory);
      EXPECT_EQ(rec.Size, 5);
      EXPECT_NEAR(rec.WriteTimeUtc, FileStampOf(FDir + "\\b.bin"), 1e-6);
    }
  }
}

#ifndef _WIN32
TEST_F(SystemTest, SandboxMapsPathsBothWays) {
  EXPECT_EQ(HostPath("C:\\Program Files\\App\\a.exe"), FHostRoot + "/drive_c/Program Files/App/a.exe");
  EXPECT_EQ(HostPath("c:\\x\\..\\y\\.\\z"), FHostRoot + "/drive_c/y/z");
  EXPECT_EQ(HostPath("Z:\\usr\\bin"), "/usr/bin");
  EXPECT_EQ(HostPath("z:\\USR\\BIN"), "/usr/bin");
  EXPECT_EQ(HostPath("C:\\项目\\文件.txt"), FHostRoot + reinterpret_cast<const char*>(u8"/drive_c/项目/文件.txt"));
  // A name whose GBK trail byte is 0x5C is one component, not two.
  EXPECT_EQ(HostPath("C:\\a\x95\x5C\\b"), FHostRoot + "/drive_c/a" + GbkToUtf8("\x95\x5C") + "/b");
  EXPECT_EQ(ProgramPath(FHostRoot + "/drive_d/a/b.txt"), "D:\\a\\b.txt");
  EXPECT_EQ(ProgramPath(FHostRoot + "/drive_c"), "C:\\");
  EXPECT_EQ(ProgramPath("/usr/./lib/../bin"), "Z:\\usr\\bin");
  EXPECT_EQ(ProgramPath("/"), "Z:\\");
  EXPECT_EQ(ProgramPath(FHostRoot + reinterpret_cast<const char*>(u8"/drive_c/项目")), "C:\\项目");
  EXPECT_EQ(ProgramPath(FHostRoot + "/registry.reg"), "Z:" + ReplaceAll(FHostRoot, "/", "\\") + "\\registry.reg");

  mkdir((FHostRoot + "/drive_c/Temp/CaseDir").c_str(), 0777);
  EXPECT_EQ(HostPath("C:\\TEMP\\casedir\\new.txt"), FHostRoot + "/drive_c/Temp/CaseDir/new.txt");
  EXPECT_EQ(WindowsVersionText(), "6.1");

  char cwd[4096];
  ASSERT_TRUE(getcwd(cwd, sizeof cwd));
  ASSERT_EQ(chdir((FHostRoot + "/drive_c/Temp").c_str()), 0);
  EXPECT_EQ(HostPath("casedir\\x"), "CaseDir/x");
  EXPECT_EQ(ProgramPath("CaseDir/x"), "C:\\Temp\\CaseDir\\x");
  EXPECT_EQ(chdir(cwd), 0);

  // Hidden and read-only as the sandbox reports them.
  WriteFile("C:\\Temp\\CaseDir\\.hidden", "");
  WriteFile("C:\\Temp\\CaseDir\\ro.txt", "");
  chmod((FHostRoot + "/drive_c/Temp/CaseDir/ro.txt").c_str(), 0444);
  auto list = ListFolder("C:\\Temp\\CaseDir");
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].Name, ".hidden");
  EXPECT_TRUE(list[0].Attr & faHidden);
  EXPECT_TRUE(list[1].Attr & faReadOnly);
  // A file that cannot be opened for writing keeps its time.
  TDateTime before = FileStampOf("C:\\Temp\\CaseDir\\ro.txt");
  SetFileStamp("C:\\Temp\\CaseDir\\ro.txt", 2, At(2001, 1, 1, 0, 0, 0));
  if (geteuid() != 0) { EXPECT_EQ(FileStampOf("C:\\Temp\\CaseDir\\ro.txt"), before); }

  // A folder link back to its parent is listed but not entered.
  symlink("..", (FHostRoot + "/drive_c/Temp/CaseDir/loop").c_str());
  TStringList files;
  CollectFiles("C:\\Temp\\CaseDir", files);
  EXPECT_EQ(files.Count(), 2);
}

TEST_F(SystemTest, SandboxRegistryFileIsReadBack) {
  std::string text =
      "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Demo]\r\n\"Path\"=\"C:\\\\演示\\\\\"\r\n"
      "\"Wrapped\"=hex:01,02,\\\r\n  03\r\n\"Num\"=dword:0000000a\r\n\"bad line\r\n@=\"d\"\r\n";
  FILE* f = std::fopen((FHostRoot + "/registry.reg").c_str(), "wb");
  ASSERT_TRUE(f);
  std::fwrite(text.data(), 1, text.size(), f);
  std::fclose(f);
  auto key = TRegKey::Open(TRootKey::LocalMachine, "software\\demo", false);
  ASSERT_TRUE(key);
  AnsiString s;
  ASSERT_TRUE(key->ReadString("path", s));
  EXPECT_EQ(s, "C:\\演示\\");
  TArrayByte b;
  ASSERT_TRUE(key->ReadBinary("Wrapped", b));
  EXPECT_EQ(b, (TArrayByte{1, 2, 3}));
  int32_t n;
  ASSERT_TRUE(key->ReadInteger("Num", n));
  EXPECT_EQ(n, 10);
  ASSERT_TRUE(key->ReadString("", s));
  EXPECT_EQ(s, "d");
  TStringList names;
  key->GetValueNames(names);
  EXPECT_EQ(names.Count(), 4);

  // A registry file that cannot be replaced: the write fails silently for the Run value,
  // and no temporary copy is left beside it.
  ASSERT_EQ(std::remove((FHostRoot + "/registry.reg").c_str()), 0);
  ASSERT_EQ(mkdir((FHostRoot + "/registry.reg").c_str(), 0777), 0);
  SetRunAtLogon("demo", "C:\\demo.exe", true);
  EXPECT_FALSE(TRegKey::Open(TRootKey::LocalMachine, "SOFTWARE\\New", true));
  for (const TSearchRec& e : ListFolder(ProgramPath(FHostRoot))) EXPECT_EQ(e.Name.find(".tmp"), AnsiString::npos) << e.Name;
}
#endif

TEST_F(SystemTest, PrivateFoldersAreFreshRandomAndNeverBelowLow) {
  const AnsiString parent = FDir + "\\";
  const AnsiString a = CreatePrivateFolder(FDir), b = CreatePrivateFolder(parent);
  for (const AnsiString& f : {a, b}) {
    ASSERT_EQ(f.size(), parent.size() + 21) << f;
    EXPECT_EQ(f.substr(0, parent.size() + 4), parent + "gbs-");
    EXPECT_EQ(f.find_first_not_of("0123456789abcdef", parent.size() + 4), f.size() - 1) << f;
    EXPECT_TRUE(FolderExists(f.substr(0, f.size() - 1)));
  }
  EXPECT_NE(a, b);
  // A "Low" folder's own level is where low-integrity programs write: the folder goes above it.
  ASSERT_TRUE(ForceFolders(FDir + "\\Low"));
  const AnsiString c = CreatePrivateFolder(FDir + "\\Low\\");
  EXPECT_EQ(c.substr(0, parent.size() + 4), parent + "gbs-") << c;
  EXPECT_EQ(ExtractFilePath(c.substr(0, c.size() - 1)), parent);
  // No folder to make it in: an error, not a folder somewhere else.
  EXPECT_THROW(CreatePrivateFolder(FDir + "\\missing\\deeper"), EInOutError);
}

TEST_F(SystemTest, OneLockPerProductWhateverItsCase) {
  const AnsiString product = "锁测试" + IntToStr(ProcessId());
  {
    TProductLock first(product + "abc");
    EXPECT_TRUE(first.Held());
    TProductLock second(product + "ABC");
    EXPECT_FALSE(second.Held()) << "the same product in other letters";
    TProductLock other(product + "abd");
    EXPECT_TRUE(other.Held()) << "another product is not held up";
  }
  TProductLock after(product + "abc");
  EXPECT_TRUE(after.Held()) << "free again once the first run ended";
  // Any name gives a name the system takes: no folder separators, bounded length.
  const AnsiString name = ProductLockName(std::string(5000, 'x') + "\\/:*?");
  EXPECT_EQ(name.find_first_of("\\/:*?"), std::string::npos) << name;
  EXPECT_LT(name.size(), 64u);
}

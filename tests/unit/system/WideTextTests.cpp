// The Windows programs' text edge: GBK inside, UTF-16 at every Win32 call. Run under Wine; the
// readers on the other side are Windows' own wide calls, not the helpers under test.
#ifdef _WIN32
#include <gtest/gtest.h>
#include <windows.h>

#include <memory>
#include <string>

#include "core/StringList.h"
#include "system/Dialogs.h"
#include "system/FileCtrl.h"
#include "system/FileStream.h"
#include "system/Registry.h"
#include "system/SysKernel.h"
#include "system/win32/WideText.h"

namespace {
using wintext::Wide;

// A fresh folder of the test's own below the temporary folder, by a wide name.
class WideTextTest : public ::testing::Test {
protected:
  void SetUp() override {
    wchar_t temp[MAX_PATH + 1];
    GetTempPathW(MAX_PATH + 1, temp);
    FDir = std::wstring(temp) + L"gbwide" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(FDir.c_str(), nullptr);
    ASSERT_TRUE(wintext::NarrowExact(FDir, FGbkDir));
  }
  void TearDown() override {
    ShellDeleteFolder(FGbkDir);
    SetDialogResponder(nullptr);
  }
  std::wstring FDir;
  AnsiString FGbkDir;
};

TEST_F(WideTextTest, GbkAndUtf16MeetThroughCodePage936WhateverTheMachinesCodePage) {
  // The literals are GBK ("项目" is CF EE C4 BF) and UTF-16 (L"项目" is U+9879 U+76EE).
  EXPECT_EQ(Wide("项目"), std::wstring(L"项目"));
  EXPECT_EQ(wintext::Narrow(std::wstring(L"项目")), "项目");
  // A byte that starts no character costs that character, not the rest of the text.
  EXPECT_EQ(Wide("ab\x81"), std::wstring(L"ab\xFFFD"));
  // Korean has no place in GBK: shown as '?', never taken for a name.
  const std::wstring korean = L"\xBC15";  // 박
  EXPECT_EQ(wintext::Narrow(korean), "?");
  AnsiString out = "kept";
  EXPECT_FALSE(wintext::NarrowExact(korean, out));
  EXPECT_EQ(out, "kept");
  EXPECT_EQ(wintext::Utf8(std::wstring(L"\x9879\xBC15")), "\xE9\xA1\xB9\xEB\xB0\x95");
  EXPECT_EQ(wintext::FromUtf8("\xE9\xA1\xB9\xEB\xB0\x95"), std::wstring(L"\x9879\xBC15"));
}

TEST_F(WideTextTest, FilesFoldersAndListingsCarryTheRightNames) {
  // Written through the program's calls in GBK, found by Windows under the right UTF-16 name.
  const AnsiString folder = FGbkDir + "\\文档";
  ASSERT_TRUE(ForceFolders(folder + "\\图片"));
  {
    TFileStream f(folder + "\\说明.txt", fmCreate);
    f.Write("abc", 3);
  }
  const std::wstring wideFile = FDir + L"\\文档\\说明.txt";
  EXPECT_NE(GetFileAttributesW(wideFile.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_NE(GetFileAttributesW((FDir + L"\\文档\\图片").c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_TRUE(CopyFileTo(folder + "\\说明.txt", folder + "\\副本.txt", true));
  EXPECT_TRUE(FileExists(folder + "\\副本.txt"));

  // A name GBK lacks is listed by its short name, which reaches the same file, and recorded.
  const std::wstring koreanFile = FDir + L"\\文档\\박.txt";
  HANDLE h = CreateFileW(koreanFile.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  CloseHandle(h);
  TakeUnlistedEntries();
  TStringList names;
  for (const TSearchRec& r : ListFolder(folder)) names.Add(r.Name);
  const std::vector<std::string> unlisted = TakeUnlistedEntries();
  ASSERT_EQ(unlisted.size(), 1u);
  EXPECT_EQ(wintext::FromUtf8(unlisted[0]), koreanFile);
  EXPECT_EQ(names.Count(), 4) << names.Text();
  EXPECT_GE(names.IndexOf("说明.txt"), 0);
  for (const AnsiString& n : names) {
    EXPECT_EQ(n.find('?'), AnsiString::npos) << n;
    EXPECT_TRUE(FileExists(folder + "\\" + n) || FolderExists(folder + "\\" + n)) << n;
  }
  AnsiString shortName;
  ASSERT_TRUE(wintext::NarrowPath(koreanFile, shortName));
  EXPECT_TRUE(FileExists(shortName)) << shortName;
  EXPECT_FALSE(wintext::NarrowPath(FDir + L"\\\xBC15-missing", shortName));
}

TEST_F(WideTextTest, RegistryStringsAreUtf16ForOtherProgramsAndGbkForThisOne) {
  const AnsiString path = "SOFTWARE\\GbWide" + std::to_string(GetCurrentProcessId()) + "\\键";
  {
    auto key = TRegKey::Open(TRootKey::CurrentUser, path, true);
    ASSERT_TRUE(key);
    key->WriteString("名", "值：中文");
  }
  // Another program reads UTF-16 under the right names.
  HKEY raw;
  const std::wstring widePath = Wide(path);
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, widePath.c_str(), 0, KEY_READ, &raw), ERROR_SUCCESS);
  wchar_t data[64] = {};
  DWORD size = sizeof data, type = 0;
  EXPECT_EQ(RegQueryValueExW(raw, L"名", nullptr, &type, reinterpret_cast<BYTE*>(data), &size), ERROR_SUCCESS);
  EXPECT_EQ(type, DWORD(REG_SZ));
  EXPECT_EQ(std::wstring(data), std::wstring(L"值：中文"));
  EXPECT_EQ(size, 5 * sizeof(wchar_t));
  RegCloseKey(raw);
  auto key = TRegKey::Open(TRootKey::CurrentUser, path, false);
  ASSERT_TRUE(key);
  AnsiString back;
  ASSERT_TRUE(key->ReadString("名", back));
  EXPECT_EQ(back, "值：中文");
  // The raw form of a string is GBK with its terminator, as in the sandbox, and writes back the same.
  uint32_t rawType = 0;
  TArrayByte bytes;
  ASSERT_TRUE(key->ReadRaw("名", rawType, bytes));
  EXPECT_EQ(AnsiString(bytes.begin(), bytes.end()), AnsiString("值：中文", 9));
  key->WriteRaw("copy", rawType, bytes);
  ASSERT_TRUE(key->ReadString("copy", back));
  EXPECT_EQ(back, "值：中文");
  TStringList names;
  key->GetValueNames(names);
  EXPECT_GE(names.IndexOf("名"), 0);
  key.reset();
  RegDeleteTreeW(HKEY_CURRENT_USER, Wide("SOFTWARE\\GbWide" + std::to_string(GetCurrentProcessId())).c_str());
}

TEST_F(WideTextTest, AFolderWithoutAUsableNameStopsTheRunWithABoxThatNamesIt) {
  auto responder = std::make_shared<TDialogResponder>();
  AnsiString shown;
  int boxes = 0;
  responder->MessageBox = [&](TBoxStyle, const AnsiString&, const AnsiString& text) {
    shown = text;
    ++boxes;
    return true;
  };
  SetDialogResponder(responder);
  wchar_t saved[MAX_PATH + 1] = {};
  const DWORD had = GetEnvironmentVariableW(L"TMP", saved, MAX_PATH + 1);
  // A Korean temporary folder that exists: taken by its short name.
  const std::wstring korean = FDir + L"\\\xBC15";
  CreateDirectoryW(korean.c_str(), nullptr);
  SetEnvironmentVariableW(L"TMP", korean.c_str());
  EXPECT_TRUE(SystemFolderNamesFit());
  EXPECT_EQ(boxes, 0);
  const AnsiString temp = TempFolder();
  EXPECT_EQ(temp.find('?'), AnsiString::npos) << temp;
  EXPECT_TRUE(FolderExists(temp)) << temp;
  // One that is named but not there has no short name: the run stops, and the box says which.
  SetEnvironmentVariableW(L"TMP", (korean + L"-missing").c_str());
  EXPECT_FALSE(SystemFolderNamesFit());
  EXPECT_EQ(boxes, 1);
  EXPECT_NE(shown.find(FGbkDir + "\\?-missing"), AnsiString::npos) << shown;
  SetEnvironmentVariableW(L"TMP", had ? saved : nullptr);
  EXPECT_TRUE(SystemFolderNamesFit());
}

}  // namespace
#endif

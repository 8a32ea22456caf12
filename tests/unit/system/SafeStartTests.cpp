// The DLL search restriction's fallback, as on a Windows without SetDefaultDllDirectories:
// the libraries Windows' own DLLs load later are then already loaded from the system folder.
#ifdef _WIN32
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "system/win32/SafeStart.h"

TEST(SafeStartTest, WithoutTheLoaderUpdateTheLateDllsComeFromTheSystemFolder) {
  const wchar_t* const names[] = {L"dbghelp.dll", L"wtsapi32.dll", L"msimg32.dll", L"winhttp.dll", L"mpr.dll"};
  std::wstring notYetLoaded;
  for (const wchar_t* n : names)
    if (!GetModuleHandleW(n) && notYetLoaded.empty()) notYetLoaded = n;
  ASSERT_FALSE(notYetLoaded.empty()) << "every probe is loaded already: the test would see nothing";

  EXPECT_FALSE(UseSystemFolderForDlls(false)) << "the fallback does not restrict the search itself";
  wchar_t system[MAX_PATH + 1];
  const UINT n = GetSystemDirectoryW(system, MAX_PATH + 1);
  ASSERT_GT(n, 0u);
  for (const wchar_t* name : {notYetLoaded.c_str(), L"version.dll", L"uxtheme.dll"}) {
    HMODULE m = GetModuleHandleW(name);
    ASSERT_NE(m, nullptr) << "not preloaded";
    wchar_t path[MAX_PATH + 1];
    const DWORD len = GetModuleFileNameW(m, path, MAX_PATH + 1);
    ASSERT_GT(len, n);
    EXPECT_EQ(CompareStringOrdinal(path, int(n), system, int(n), TRUE), CSTR_EQUAL);
    EXPECT_EQ(path[n], L'\\');
  }
}
#endif

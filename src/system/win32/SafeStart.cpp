// What a program that runs with administrator rights does before it trusts its surroundings:
// DLLs from the system folder only, a temporary folder of its own, one run per product.
#include <windows.h>
#include <sddl.h>

#include "core/Exceptions.h"
#include "core/TextUtils.h"
#include "system/SysKernel.h"
#include "system/win32/SafeStart.h"
#include "system/win32/WideText.h"

namespace {
using wintext::W;
using wintext::Wide;

#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif
#ifndef BASE_SEARCH_PATH_ENABLE_SAFE_SEARCHMODE
#define BASE_SEARCH_PATH_ENABLE_SAFE_SEARCHMODE 0x00000001
#define BASE_SEARCH_PATH_PERMANENT 0x00008000
#endif

// The libraries that Windows' own DLLs load by name once the program runs (themes, the shell's
// property system, networking, the cryptography behind random numbers, ...). Where the process
// cannot be told to search the system folder only, each is loaded from there first: a later load
// by name then finds it loaded and looks nowhere else.
const wchar_t* const kLateLoadedDlls[] = {
    L"version",  L"uxtheme",  L"dwmapi",      L"cryptbase", L"propsys",  L"userenv", L"setupapi",
    L"apphelp",  L"oleacc",   L"clbcatq",     L"ntmarta",   L"profapi",  L"winmm",   L"msimg32",
    L"riched20", L"msftedit", L"shfolder",    L"wininet",   L"winhttp",  L"mpr",     L"netapi32",
    L"textshaping", L"cryptsp", L"sspicli",   L"dbghelp",   L"rsaenh",   L"wtsapi32", L"bcrypt",
    L"windowscodecs", L"edputil", L"srvcli",  L"netutils",  L"wkscli",   L"samcli",  L"secur32"};

// The system DLLs the programs bind on first use, loaded now that the search is restricted,
// dependencies first: their own imports are then found in the system folder. Left to a first
// call, one of them may first be loaded by another system DLL's delayed import, which some
// Windows implementations resolve without the restriction.
const wchar_t* const kDelayedDlls[] = {L"advapi32.dll", L"gdi32.dll",  L"user32.dll",  L"ole32.dll",
                                       L"oleaut32.dll", L"shell32.dll", L"comctl32.dll", L"comdlg32.dll"};
void BindDelayedDlls() {
  for (const wchar_t* name : kDelayedDlls) LoadLibraryW(name);
}

// The system folder into buf (MAX_PATH + 1 characters); its length, 0 when it is not known.
UINT SystemFolderInto(wchar_t* buf) {
  const UINT n = GetSystemDirectoryW(buf, MAX_PATH + 1);
  return n <= MAX_PATH - 20 ? n : 0;  // room for "\<name>.dll"
}

template <typename F>
F KernelFunction(const char* name) {
  return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), name)));
}

// Random bytes from the system's source, looked up at run time: a static import of it would
// bring in its DLL before the search is restricted (advapi32 is a known DLL: always the system's).
bool SystemRandom(void* out, ULONG size) {
  using TGenRandom = BOOLEAN(WINAPI*)(PVOID, ULONG);
  HMODULE advapi = LoadLibraryW(L"advapi32.dll");
  auto gen = advapi ? reinterpret_cast<TGenRandom>(reinterpret_cast<void*>(GetProcAddress(advapi, "SystemFunction036")))
                    : nullptr;
  return gen && gen(out, size);
}

// Elevated, or the system account: what such a process leaves behind is run with its rights.
bool ElevatedToken() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  TOKEN_ELEVATION elevation{};
  DWORD size = 0;
  bool elevated = false;
  if (GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size)) {
    elevated = elevation.TokenIsElevated != 0;
  } else {
    // Before Vista: an administrator's token has the group enabled.
    BYTE sid[SECURITY_MAX_SID_SIZE];
    DWORD sidSize = sizeof sid;
    BOOL member = FALSE;
    if (CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, sid, &sidSize) &&
        CheckTokenMembership(nullptr, sid, &member))
      elevated = member != FALSE;
  }
  CloseHandle(token);
  return elevated;
}

// Administrators own it (an owner may always rewrite the access list), administrators and the
// system have full control, the user may read and run; nothing is inherited from the parent,
// and what is made inside inherits this. Null when it cannot be built.
PSECURITY_DESCRIPTOR PrivateDescriptor(bool withOwner) {
  wchar_t sddl[320];
  lstrcpyW(sddl, withOwner ? L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)" : L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)");
  HANDLE token = nullptr;
  if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
    alignas(8) BYTE buf[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    DWORD size = 0;
    LPWSTR user = nullptr;
    if (GetTokenInformation(token, TokenUser, buf, sizeof buf, &size) &&
        ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buf)->User.Sid, &user)) {
      if (lstrlenW(user) < 200 && lstrcmpW(user, L"S-1-5-18") != 0) {
        lstrcatW(sddl, L"(A;OICI;0x1200a9;;;");
        lstrcatW(sddl, user);
        lstrcatW(sddl, L")");
      }
      LocalFree(user);
    }
    CloseHandle(token);
  }
  PSECURITY_DESCRIPTOR sd = nullptr;
  return ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &sd, nullptr) ? sd : nullptr;
}

// CreateDirectory, with the private access list when elevated; the error code of the attempt.
DWORD MakeFolder(const AnsiString& path, bool elevated) {
  const W wide(path);
  if (!elevated) return CreateDirectoryW(wide, nullptr) ? ERROR_SUCCESS : GetLastError();
  DWORD error = ERROR_ACCESS_DENIED;
  // A token that may not name administrators as owner keeps its default owner.
  for (bool withOwner : {true, false}) {
    PSECURITY_DESCRIPTOR sd = PrivateDescriptor(withOwner);
    if (!sd) continue;
    SECURITY_ATTRIBUTES sa{sizeof sa, sd, FALSE};
    error = CreateDirectoryW(wide, &sa) ? ERROR_SUCCESS : GetLastError();
    LocalFree(sd);
    if (error != ERROR_INVALID_OWNER) break;
  }
  return error;
}
}  // namespace

bool RunsElevated() { return ElevatedToken(); }

bool UseSystemFolderForDlls(bool allowDefaultDirectories) {
  using TSetDefaultDllDirectories = BOOL(WINAPI*)(DWORD);
  using TSetSearchPathMode = BOOL(WINAPI*)(DWORD);
  using TSetDllDirectoryW = BOOL(WINAPI*)(LPCWSTR);
  if (auto mode = KernelFunction<TSetSearchPathMode>("SetSearchPathMode"))
    mode(BASE_SEARCH_PATH_ENABLE_SAFE_SEARCHMODE | BASE_SEARCH_PATH_PERMANENT);
  bool restricted = false;
  if (allowDefaultDirectories)
    if (auto set = KernelFunction<TSetDefaultDllDirectories>("SetDefaultDllDirectories"))
      restricted = set(LOAD_LIBRARY_SEARCH_SYSTEM32) != FALSE;
  // Windows 7 without its loader update: at least the current folder leaves the search.
  if (!restricted)
    if (auto set = KernelFunction<TSetDllDirectoryW>("SetDllDirectoryW")) set(L"");
  // What Windows' own DLLs load later is taken from the system folder now, by full path: a
  // later load by name finds it loaded and looks nowhere else. That covers a loader without
  // the restriction, and the delayed imports of system DLLs, which not every implementation
  // resolves with it.
  wchar_t path[MAX_PATH + 1];
  const UINT n = SystemFolderInto(path);
  if (n) {
    for (const wchar_t* name : kLateLoadedDlls) {
      path[n] = L'\\';
      lstrcpyW(path + n + 1, name);
      lstrcatW(path, L".dll");
      if (GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES) LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    }
  }
  BindDelayedDlls();
  return restricted;
}

void RestrictDllSearch() { UseSystemFolderForDlls(true); }

AnsiString SystemFolder() {
  wchar_t path[MAX_PATH + 1];
  const UINT n = SystemFolderInto(path);
  AnsiString out;
  return n && wintext::NarrowPath(std::wstring(path, n), out) ? out : AnsiString("C:\\Windows\\System32");
}

AnsiString CreatePrivateFolder(const AnsiString& parent) {
  const AnsiString base = PrivateFolderParent(parent);
  const bool elevated = ElevatedToken();
  for (int attempt = 0; attempt < 16; ++attempt) {
    unsigned char bytes[8];
    if (!SystemRandom(bytes, sizeof bytes)) break;
    char name[5 + 16] = "gbs-";
    for (int i = 0; i < 8; ++i) {
      name[4 + 2 * i] = "0123456789abcdef"[bytes[i] >> 4];
      name[5 + 2 * i] = "0123456789abcdef"[bytes[i] & 15];
    }
    const AnsiString folder = base + name;
    const DWORD error = MakeFolder(folder, elevated);
    if (error == ERROR_SUCCESS) return folder + "\\";
    // Taken: someone made it first, perhaps to have it used. Anything else will not get better.
    if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS) break;
  }
  throw EInOutError("无法在“" + base + "”中创建临时文件夹");
}

TProductLock::TProductLock(const AnsiString& product) {
  // Global: another session's setup of the product counts too; where that namespace cannot be
  // used (a name the system refuses), the session's own.
  HANDLE mutex = nullptr;
  for (const char* space : {"Global\\", "Local\\"}) {
    mutex = CreateMutexW(nullptr, TRUE, W(AnsiString(space) + ProductLockName(product)));
    if (mutex) break;
    // One made by an elevated run refuses a run without elevation: it exists, so it is held.
    if (GetLastError() == ERROR_ACCESS_DENIED) {
      FHeld = false;
      return;
    }
  }
  if (!mutex) return;
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(mutex);
    FHeld = false;
    return;
  }
  FHandle = reinterpret_cast<intptr_t>(mutex);
}

TProductLock::~TProductLock() {
  if (FHandle == -1) return;
  ReleaseMutex(reinterpret_cast<HANDLE>(FHandle));
  CloseHandle(reinterpret_cast<HANDLE>(FHandle));
}

// The system utilities on Windows, over the wide calls (see WideText.h).
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include "core/DateTime.h"
#include "core/Exceptions.h"
#include "core/TextUtils.h"
#include "system/Dialogs.h"
#include "system/FileCtrl.h"
#include "system/FileStream.h"
#include "system/PathText.h"
#include "system/Platform.h"
#include "system/SysKernel.h"
#include "system/win32/WideText.h"

namespace {
using wintext::W;
using wintext::Wide;

// Closes a process handle on every path.
struct THandleGuard {
  HANDLE H;
  ~THandleGuard() {
    if (H) CloseHandle(H);
  }
};

bool ShowBox(TBoxStyle style, const AnsiString& text) {
  if (bool answer; ResponderMessageBox(style, text, answer)) return answer;
  UINT flags = style == TBoxStyle::Question ? MB_YESNO | MB_ICONQUESTION
               : style == TBoxStyle::Error  ? MB_OK | MB_ICONERROR
               : style == TBoxStyle::Info   ? MB_OK | MB_ICONINFORMATION
                                            : MB_OK | MB_ICONWARNING;
  int answer = MessageBoxW(GetActiveWindow(), W(text), W(ApplicationTitle()), flags);
  return style == TBoxStyle::Question ? answer == IDYES : answer == IDOK;
}

TDateTime FromFileTime(const FILETIME& ft) {
  return FileTimeToDateTime(static_cast<uint64_t>(ft.dwHighDateTime) << 32 | ft.dwLowDateTime);
}

// A path Windows gave: its program text, or its short form; where neither exists, a text
// with '?' in place of what GBK lacks, which names no file, so nothing is written elsewhere.
// (The start-up check stops the program before it comes to that.)
AnsiString PathFromWindows(const std::wstring& path) {
  AnsiString out;
  return wintext::NarrowPath(path, out) ? out : wintext::Narrow(path);
}

// Starts program with the command line (the program quoted, then its parameters) without
// waiting; false when it could not. Naming the program as well leaves Windows nothing to
// guess from a command line with spaces.
bool StartCommandLine(const AnsiString& program, const AnsiString& commandLine, int show) {
  std::wstring cmd = Wide(commandLine);
  const W application(program);
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESHOWWINDOW;
  si.wShowWindow = static_cast<WORD>(show);
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(application, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return false;
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return true;
}

// Starts through the shell and waits in 10 ms steps; -1 when it could not be started.
int32_t ShellStartAndWait(const AnsiString& program, const AnsiString& parameters) {
  const W file(program), params(parameters);
  SHELLEXECUTEINFOW sei{};
  sei.cbSize = sizeof sei;
  sei.fMask = SEE_MASK_NOCLOSEPROCESS;
  sei.lpFile = file;
  sei.lpParameters = params.OrNull();
  sei.nShow = SW_SHOWNORMAL;
  if (!ShellExecuteExW(&sei) || !sei.hProcess) return -1;
  THandleGuard guard{sei.hProcess};
  while (WaitForSingleObject(sei.hProcess, 10) == WAIT_TIMEOUT && !ApplicationTerminated()) ProcessMessages();
  DWORD code = 0;
  GetExitCodeProcess(sei.hProcess, &code);
  return static_cast<int32_t>(code);
}
}  // namespace

// ---- Version and start-up ----

char DecimalSeparator() {
  wchar_t buf[8] = {};
  // A separator other than one ASCII character cannot stand in a byte string's digit run: keep ".".
  if (GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, buf, 8) == 2 && buf[0] > 0 && buf[0] < 0x80)
    return static_cast<char>(buf[0]);
  return '.';
}

AnsiString WindowsVersionText() {
  OSVERSIONINFOW info{};
  info.dwOSVersionInfoSize = sizeof info;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  if (!GetVersionExW(&info)) return "0";
#pragma GCC diagnostic pop
  switch (info.dwPlatformId) {
    case VER_PLATFORM_WIN32s: return "1";
    case VER_PLATFORM_WIN32_WINDOWS: return "2";
    case VER_PLATFORM_WIN32_NT: return IntToStr(info.dwMajorVersion) + "." + IntToStr(info.dwMinorVersion);
    default: return "0";
  }
}

void RelaunchElevated(const AnsiString& file, const AnsiString& parameters, uint32_t& exitCode) {
  const W wideFile(file), wideParameters(parameters);
  SHELLEXECUTEINFOW sei{};
  sei.cbSize = sizeof sei;
  sei.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_DDEWAIT | SEE_MASK_FLAG_NO_UI | 0x00800000;
  sei.hwnd = nullptr;
  sei.lpVerb = L"runas";
  sei.lpFile = wideFile;
  sei.lpParameters = wideParameters;
  sei.lpDirectory = L"";
  sei.nShow = SW_SHOWNORMAL;
  if (!ShellExecuteExW(&sei)) {
    if (GetLastError() == ERROR_CANCELLED) RaiseAbort();
    return;
  }
  if (!sei.hProcess) return;
  THandleGuard guard{sei.hProcess};
  DWORD wait;
  do {
    ProcessMessages();
    wait = MsgWaitForMultipleObjects(1, &sei.hProcess, FALSE, INFINITE, QS_ALLINPUT);
  } while (wait == WAIT_OBJECT_0 + 1);
  if (wait == WAIT_FAILED) ProcessMessages();
  DWORD code = 0;
  if (GetExitCodeProcess(sei.hProcess, &code)) exitCode = code;
}

namespace {
std::wstring ExeNameWide() {
  std::wstring buf(MAX_PATH, L'\0');
  for (;;) {
    DWORD n = GetModuleFileNameW(nullptr, &buf[0], static_cast<DWORD>(buf.size()));
    if (n == 0) return L"";
    if (n < buf.size()) return buf.substr(0, n);
    buf.resize(buf.size() * 2);
  }
}

std::wstring ShellFolderWide(int csidl) {
  LPITEMIDLIST list = nullptr;
  if (FAILED(SHGetSpecialFolderLocation(GetActiveWindow(), csidl, &list)) || !list) return L"";
  wchar_t buf[MAX_PATH + 1] = {};
  BOOL ok = SHGetPathFromIDListW(list, buf);
  CoTaskMemFree(list);
  return ok ? std::wstring(buf) : std::wstring();
}

std::wstring WindowsFolderWide() {
  wchar_t buf[MAX_PATH + 1] = {};
  const UINT n = GetWindowsDirectoryW(buf, MAX_PATH + 1);
  return n > 0 && n <= MAX_PATH ? std::wstring(buf, n) : std::wstring();
}

std::wstring TempFolderWide() {
  wchar_t buf[MAX_PATH + 2] = {};
  const DWORD n = GetTempPathW(MAX_PATH + 2, buf);
  return n > 0 && n <= MAX_PATH + 1 ? std::wstring(buf, n) : std::wstring();
}
}  // namespace

AnsiString ApplicationExeName() {
  const std::wstring name = ExeNameWide();
  return name.empty() ? AnsiString() : PathFromWindows(name);
}

bool SystemFolderNamesFit() {
  const std::wstring paths[] = {ExeNameWide(),
                                TempFolderWide(),
                                WindowsFolderWide(),
                                ShellFolderWide(CSIDL_PROGRAM_FILES_),
                                ShellFolderWide(CSIDL_DESKTOP_),
                                ShellFolderWide(CSIDL_PROGRAMS_),
                                ShellFolderWide(CSIDL_COMMON_PROGRAMS_),
                                ShellFolderWide(CSIDL_APPDATA_)};
  for (const std::wstring& path : paths) {
    AnsiString usable;
    if (path.empty() || wintext::NarrowPath(path, usable)) continue;
    // Named as Windows names it: program text could not show it.
    std::wstring text = Wide("无法使用“");
    text += path;
    text += Wide("”：它的名称含有简体中文字符集（GBK）无法表示的字符，而且没有短文件名（8.3 格式）。"
                 "程序没有写入任何内容就停止了。\r\n\r\n"
                 "请把安装程序放到名称只含中文或英文字符的文件夹中再运行；用户文件夹的名称也是如此，"
                 "或者请管理员为该磁盘启用短文件名。");
    if (bool answer; !ResponderMessageBox(TBoxStyle::Error, wintext::Narrow(text), answer))
      MessageBoxW(GetActiveWindow(), text.c_str(), W(ApplicationTitle()), MB_OK | MB_ICONERROR);
    return false;
  }
  return true;
}

// ---- Paths and special folders ----

AnsiString ShellFolderPath(int csidl) {
  const std::wstring path = ShellFolderWide(csidl);
  return path.empty() ? AnsiString() : PathFromWindows(path);
}

AnsiString ProgramFilesFolder() { return ShellFolderPath(CSIDL_PROGRAM_FILES_); }

AnsiString WindowsFolder() {
  const std::wstring path = WindowsFolderWide();
  return path.empty() ? AnsiString() : PathFromWindows(path);
}

AnsiString TempFolder() {
  const std::wstring path = TempFolderWide();
  return path.empty() ? AnsiString() : AppendPathDelimiter(PathFromWindows(path));
}

// ---- Registry, processes, shell ----

void SetRunAtLogon(const AnsiString& valueName, const AnsiString& command, bool enable) {
  HKEY key;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run", 0, nullptr,
                      REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS)
    return;
  const W name(valueName);
  if (enable) {
    const std::wstring value = Wide(command);
    RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  } else {
    RegDeleteValueW(key, name);
  }
  RegCloseKey(key);
}

void RunInstallSwitch(const AnsiString& path, bool install) {
  StartCommandLine(path, "\"" + path + "\"" + (install ? " -Install" : " -unInstall"), SW_SHOWNORMAL);
}

void RunRegSvr32(const AnsiString& path, bool registerServer) {
  const AnsiString regsvr32 = SystemFolder() + "\\regsvr32.exe";
  StartCommandLine(regsvr32, "\"" + regsvr32 + (registerServer ? "\" /s \"" : "\" /s/u \"") + path + "\"", SW_SHOWNORMAL);
}

AnsiString LocalTimeText() {
  SYSTEMTIME t{};
  GetLocalTime(&t);
  return Format("%04u-%02u-%02u %02u:%02u:%02u", unsigned(t.wYear), unsigned(t.wMonth), unsigned(t.wDay),
                unsigned(t.wHour), unsigned(t.wMinute), unsigned(t.wSecond));
}

AnsiString LocalDateText() {
  SYSTEMTIME t{};
  GetLocalTime(&t);
  return Format("%04u%02u%02u", unsigned(t.wYear), unsigned(t.wMonth), unsigned(t.wDay));
}

void RunAndWait(const AnsiString& program) {
  // Others may read and run it, never write, rename or delete it while it runs.
  HANDLE held = CreateFileW(W(program), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                            nullptr);
  if (held == INVALID_HANDLE_VALUE) return;
  THandleGuard guard{held};
  ShellStartAndWait(program, "");
}

int32_t RunCommandAndWait(const AnsiString& program, const AnsiString& parameters) {
  return ShellStartAndWait(program, parameters);
}

void ShellOpen(const AnsiString& verb, const AnsiString& file, const AnsiString& parameters,
               const AnsiString& directory, int showCommand) {
  const W v(verb), f(file), p(parameters), d(directory);
  ShellExecuteW(nullptr, v.OrNull(), f, p.OrNull(), d.OrNull(), showCommand);
}

void ShellOpenAndWait(const AnsiString& verb, const AnsiString& file, const AnsiString& parameters,
                      const AnsiString& directory, int showCommand, uint32_t timeoutMs) {
  const W v(verb), f(file), p(parameters), d(directory);
  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof info;
  info.fMask = SEE_MASK_NOCLOSEPROCESS;
  info.lpVerb = v.OrNull();
  info.lpFile = f;
  info.lpParameters = p.OrNull();
  info.lpDirectory = d.OrNull();
  info.nShow = showCommand;
  if (!ShellExecuteExW(&info) || !info.hProcess) return;
  WaitForInputIdle(info.hProcess, timeoutMs);
  CloseHandle(info.hProcess);
}

void RebootMachine() {
  if (OsVersionCode() >= 30) {
    // NT lets a process shut the machine down only with this privilege enabled.
    HANDLE token = nullptr;
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) {
      TOKEN_PRIVILEGES privileges{};
      privileges.PrivilegeCount = 1;
      privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
      if (LookupPrivilegeValueW(nullptr, L"SeShutdownPrivilege", &privileges.Privileges[0].Luid))
        AdjustTokenPrivileges(token, FALSE, &privileges, sizeof privileges, nullptr, nullptr);
      CloseHandle(token);
    }
  }
  ExitWindowsEx(EWX_REBOOT, 0);
}

// ---- Message boxes ----

bool AskYesNo(const AnsiString& question) { return ShowBox(TBoxStyle::Question, question); }
void ShowErrorBox(const AnsiString& text) { ShowBox(TBoxStyle::Error, text); }
void ShowWarningBox(const AnsiString& text) { ShowBox(TBoxStyle::Warning, text); }
void ShowInfoBox(const AnsiString& text) { ShowBox(TBoxStyle::Info, text); }

// ---- Files ----

namespace {
// A date a DOS stamp cannot hold leaves the file as it is.
bool StampTime(uint8_t selector, TDateTime localTime, FILETIME& utc) {
  uint32_t dos = DateTimeToDosDateTime(localTime);
  FILETIME local;
  return selector <= 2 && DosDateTimeToFileTime(HIWORD(dos), LOWORD(dos), &local) && LocalFileTimeToFileTime(&local, &utc);
}

void SetHandleStamp(HANDLE h, uint8_t selector, const FILETIME& utc) {
  SetFileTime(h, selector == 0 ? &utc : nullptr, selector == 1 ? &utc : nullptr, selector == 2 ? &utc : nullptr);
}
}  // namespace

void SetFileStamp(const AnsiString& path, uint8_t selector, TDateTime localTime) {
  FILETIME utc;
  if (!StampTime(selector, localTime, utc)) return;
  HANDLE h = CreateFileW(W(path), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return;
  SetHandleStamp(h, selector, utc);
  CloseHandle(h);
}

void SetFileStamp(TFileStream& file, uint8_t selector, TDateTime localTime) {
  FILETIME utc;
  if (StampTime(selector, localTime, utc)) SetHandleStamp(reinterpret_cast<HANDLE>(file.Handle()), selector, utc);
}

int64_t DriveFreeBytes(char drive) {
  AnsiString root = AnsiString(1, drive) + ":\\";
  ULARGE_INTEGER avail, total, free;
  UINT oldMode = SetErrorMode(SEM_FAILCRITICALERRORS);
  const W wideRoot(root);
  BOOL ok = GetDiskFreeSpaceExW(static_cast<unsigned char>(drive) == 64 ? nullptr : static_cast<const wchar_t*>(wideRoot),
                                &avail, &total, &free);
  SetErrorMode(oldMode);
  return ok ? static_cast<int64_t>(avail.QuadPart) : -1;
}

TDateTime FileStampOf(const AnsiString& path) {
  WIN32_FIND_DATAW fd;
  HANDLE h = FindFirstFileW(W(path), &fd);
  if (h == INVALID_HANDLE_VALUE) return -1.0;
  FindClose(h);
  return FromFileTime(fd.ftLastWriteTime);
}

bool FileTimesOf(const AnsiString& path, TDateTime& creation, TDateTime& access, TDateTime& write) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(W(path), GetFileExInfoStandard, &data)) return false;
  creation = FromFileTime(data.ftCreationTime);
  access = FromFileTime(data.ftLastAccessTime);
  write = FromFileTime(data.ftLastWriteTime);
  return true;
}

bool FileExists(const AnsiString& path) {
  DWORD a = GetFileAttributesW(W(path));
  return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool DeleteFileAt(const AnsiString& path) { return DeleteFileW(W(path)) != 0; }

bool CopyFileTo(const AnsiString& source, const AnsiString& dest, bool failIfExists) {
  return CopyFileW(W(source), W(dest), failIfExists) != 0;
}

bool RenameFileTo(const AnsiString& source, const AnsiString& dest) {
  return MoveFileExW(W(source), W(dest), MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED) != 0;
}

bool RemoveFolder(const AnsiString& path) { return RemoveDirectoryW(W(path)) != 0; }

std::vector<TSearchRec> ListFolder(const AnsiString& folder) {
  std::vector<TSearchRec> out;
  WIN32_FIND_DATAW fd;
  const std::wstring wideFolder = Wide(folder);
  HANDLE h = FindFirstFileW((wideFolder + L"\\*.*").c_str(), &fd);
  if (h == INVALID_HANDLE_VALUE) return out;
  do {
    const std::wstring name = fd.cFileName;
    if (name == L"." || name == L"..") continue;
    TSearchRec rec;
    if (!wintext::NarrowExact(name, rec.Name)) {
      // Reached by its short name where it has one; recorded either way.
      NoteUnlistedEntry(wintext::Utf8(wideFolder + L"\\" + name));
      if (!fd.cAlternateFileName[0] || !wintext::NarrowExact(fd.cAlternateFileName, rec.Name)) continue;
    }
    rec.Attr = fd.dwFileAttributes;  // every bit: callers tell ordinary entries from flagged ones
    rec.Size = static_cast<int64_t>(static_cast<uint64_t>(fd.nFileSizeHigh) << 32 | fd.nFileSizeLow);
    rec.WriteTimeUtc = FromFileTime(fd.ftLastWriteTime);
    out.push_back(std::move(rec));
  } while (FindNextFileW(h, &fd));
  FindClose(h);
  return out;
}

void ShellCopyFolder(const AnsiString& source, const AnsiString& destFolder) {
  AnsiString s = StripTrailingDelimiters(source);
  AnsiString name = ExtractFileName(s);
  AnsiString target = AppendPathDelimiter(destFolder) + name;
  // A taken name gets a numbered copy; copying to a new name never merges into a folder.
  for (int i = 2; GetFileAttributesW(W(target)) != INVALID_FILE_ATTRIBUTES; ++i)
    target = AppendPathDelimiter(destFolder) + name + " (" + IntToStr(i) + ")";
  // Lists of names, each ended by a NUL and the list by one more.
  const std::wstring from = Wide(s) + std::wstring(2, L'\0'), to = Wide(target) + std::wstring(2, L'\0');
  SHFILEOPSTRUCTW op{};
  op.wFunc = FO_COPY;
  op.pFrom = from.c_str();
  op.pTo = to.c_str();
  op.fFlags = FOF_NOCONFIRMATION | FOF_NOCONFIRMMKDIR | FOF_SILENT | FOF_NOERRORUI;
  SHFileOperationW(&op);
}

void ShellDeleteFolder(const AnsiString& folder) {
  AnsiString s = StripTrailingDelimiters(folder);
  if (s.empty() || GetFileAttributesW(W(s)) == INVALID_FILE_ATTRIBUTES) return;
  const std::wstring from = Wide(s) + std::wstring(2, L'\0');
  SHFILEOPSTRUCTW op{};
  op.wFunc = FO_DELETE;
  op.pFrom = from.c_str();
  op.fFlags = FOF_NOCONFIRMATION | FOF_SILENT | FOF_NOERRORUI;
  SHFileOperationW(&op);
}

// ---- A second thread ----

namespace {
DWORD WINAPI RunWork(void* work) {
  (*static_cast<std::function<void()>*>(work))();
  return 0;
}
}  // namespace

TWorkerThread::TWorkerThread(std::function<void()> work) : FWork(std::move(work)) {
  FThread = CreateThread(nullptr, 0, RunWork, &FWork, 0, nullptr);
  if (!FThread) throw Exception("无法创建线程 (" + IntToStr(static_cast<int64_t>(GetLastError())) + ")");
}

TWorkerThread::~TWorkerThread() {
  WaitForSingleObject(FThread, INFINITE);
  CloseHandle(FThread);
}

// Slim locks and condition variables: no system handle, nothing from the threads library.
struct TWaitLock::TState {
  SRWLOCK Lock = SRWLOCK_INIT;
  CONDITION_VARIABLE Changed = CONDITION_VARIABLE_INIT;
};

TWaitLock::TWaitLock() : FState(std::make_unique<TState>()) {}
TWaitLock::~TWaitLock() = default;
void TWaitLock::Lock() { AcquireSRWLockExclusive(&FState->Lock); }
void TWaitLock::Unlock() { ReleaseSRWLockExclusive(&FState->Lock); }
void TWaitLock::Wait() { SleepConditionVariableSRW(&FState->Changed, &FState->Lock, INFINITE, 0); }
void TWaitLock::WakeAll() { WakeAllConditionVariable(&FState->Changed); }

// The system utilities on Windows: the ANSI calls, so GBK paths work under code page 936.
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

namespace {
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
                                            : MB_OK | MB_ICONWARNING;
  int answer = MessageBoxA(GetActiveWindow(), text.c_str(), ApplicationTitle().c_str(), flags);
  return style == TBoxStyle::Question ? answer == IDYES : answer == IDOK;
}

TDateTime FromFileTime(const FILETIME& ft) {
  return FileTimeToDateTime(static_cast<uint64_t>(ft.dwHighDateTime) << 32 | ft.dwLowDateTime);
}

const char* OrNull(const AnsiString& s) { return s.empty() ? nullptr : s.c_str(); }

// Starts through the shell and waits in 10 ms steps; -1 when it could not be started.
int32_t ShellStartAndWait(const AnsiString& program, const AnsiString& parameters) {
  SHELLEXECUTEINFOA sei{};
  sei.cbSize = sizeof sei;
  sei.fMask = SEE_MASK_NOCLOSEPROCESS;
  sei.lpFile = program.c_str();
  sei.lpParameters = OrNull(parameters);
  sei.nShow = SW_SHOWNORMAL;
  if (!ShellExecuteExA(&sei) || !sei.hProcess) return -1;
  THandleGuard guard{sei.hProcess};
  while (WaitForSingleObject(sei.hProcess, 10) == WAIT_TIMEOUT && !ApplicationTerminated()) ProcessMessages();
  DWORD code = 0;
  GetExitCodeProcess(sei.hProcess, &code);
  return static_cast<int32_t>(code);
}
}  // namespace

// ---- Version and start-up ----

char DecimalSeparator() {
  char buf[8] = {};
  // A separator of more than one byte cannot stand in a byte string's digit run: keep ".".
  if (GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, buf, sizeof buf) == 2 && static_cast<unsigned char>(buf[0]) < 0x80)
    return buf[0];
  return '.';
}

AnsiString WindowsVersionText() {
  OSVERSIONINFOA info{};
  info.dwOSVersionInfoSize = sizeof info;  // 148
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  if (!GetVersionExA(&info)) return "0";
#pragma GCC diagnostic pop
  switch (info.dwPlatformId) {
    case VER_PLATFORM_WIN32s: return "1";
    case VER_PLATFORM_WIN32_WINDOWS: return "2";
    case VER_PLATFORM_WIN32_NT: return IntToStr(info.dwMajorVersion) + "." + IntToStr(info.dwMinorVersion);
    default: return "0";
  }
}

void RelaunchElevated(const AnsiString& file, const AnsiString& parameters, uint32_t& exitCode) {
  SHELLEXECUTEINFOA sei{};
  sei.cbSize = sizeof sei;  // 60
  sei.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_DDEWAIT | SEE_MASK_FLAG_NO_UI | 0x00800000;
  sei.hwnd = nullptr;
  sei.lpVerb = "runas";
  sei.lpFile = file.c_str();
  sei.lpParameters = parameters.c_str();
  sei.lpDirectory = "";
  sei.nShow = SW_SHOWNORMAL;
  if (!ShellExecuteExA(&sei)) {
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

AnsiString ApplicationExeName() {
  std::string buf(MAX_PATH, '\0');
  for (;;) {
    DWORD n = GetModuleFileNameA(nullptr, &buf[0], static_cast<DWORD>(buf.size()));
    if (n == 0) return "";
    if (n < buf.size()) return buf.substr(0, n);
    buf.resize(buf.size() * 2);
  }
}

// ---- Paths and special folders ----

AnsiString ShellFolderPath(int csidl) {
  LPITEMIDLIST list = nullptr;
  if (FAILED(SHGetSpecialFolderLocation(GetActiveWindow(), csidl, &list)) || !list) return "";
  char buf[MAX_PATH + 1] = {};
  BOOL ok = SHGetPathFromIDListA(list, buf);
  CoTaskMemFree(list);
  return ok ? AnsiString(buf) : AnsiString();
}

AnsiString ProgramFilesFolder() { return ShellFolderPath(CSIDL_PROGRAM_FILES_); }

AnsiString WindowsFolder() {
  char buf[256] = {};
  GetWindowsDirectoryA(buf, sizeof buf);
  return AnsiString(buf);
}

AnsiString TempFolder() {
  char buf[260] = {};
  DWORD n = GetTempPathA(sizeof buf, buf);
  return n > 0 && n < sizeof buf ? AnsiString(buf, n) : AnsiString();
}

// ---- Registry, processes, shell ----

void SetRunAtLogon(const AnsiString& valueName, const AnsiString& command, bool enable) {
  HKEY key;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run", 0, nullptr,
                      REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS)
    return;
  if (enable)
    RegSetValueExA(key, valueName.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(command.c_str()),
                   static_cast<DWORD>(command.size() + 1));
  else
    RegDeleteValueA(key, valueName.c_str());
  RegCloseKey(key);
}

void RunInstallSwitch(const AnsiString& path, bool install) {
  AnsiString cmd = path + (install ? " -Install" : " -unInstall");
  WinExec(cmd.c_str(), SW_SHOWNORMAL);
}

void RunRegSvr32(const AnsiString& path, bool registerServer) {
  AnsiString cmd = (registerServer ? "regsvr32.exe /s \"" : "regsvr32.exe /s/u \"") + path + "\"";
  WinExec(cmd.c_str(), SW_SHOWNORMAL);
}

void RunAndWait(const AnsiString& program) { ShellStartAndWait(program, ""); }

int32_t RunCommandAndWait(const AnsiString& program, const AnsiString& parameters) {
  return ShellStartAndWait(program, parameters);
}

void ShellOpen(const AnsiString& verb, const AnsiString& file, const AnsiString& parameters,
               const AnsiString& directory, int showCommand) {
  ShellExecuteA(nullptr, OrNull(verb), file.c_str(), OrNull(parameters), OrNull(directory), showCommand);
}

void ShellOpenAndWait(const AnsiString& verb, const AnsiString& file, const AnsiString& parameters,
                      const AnsiString& directory, int showCommand, uint32_t timeoutMs) {
  SHELLEXECUTEINFOA info{};
  info.cbSize = sizeof info;
  info.fMask = SEE_MASK_NOCLOSEPROCESS;
  info.lpVerb = OrNull(verb);
  info.lpFile = file.c_str();
  info.lpParameters = OrNull(parameters);
  info.lpDirectory = OrNull(directory);
  info.nShow = showCommand;
  if (!ShellExecuteExA(&info) || !info.hProcess) return;
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
      if (LookupPrivilegeValueA(nullptr, "SeShutdownPrivilege", &privileges.Privileges[0].Luid))
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
  HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
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
  BOOL ok = GetDiskFreeSpaceExA(static_cast<unsigned char>(drive) == 64 ? nullptr : root.c_str(), &avail, &total, &free);
  SetErrorMode(oldMode);
  return ok ? static_cast<int64_t>(avail.QuadPart) : -1;
}

TDateTime FileStampOf(const AnsiString& path) {
  WIN32_FIND_DATAA fd;
  HANDLE h = FindFirstFileA(path.c_str(), &fd);
  if (h == INVALID_HANDLE_VALUE) return -1.0;
  FindClose(h);
  return FromFileTime(fd.ftLastWriteTime);
}

bool FileTimesOf(const AnsiString& path, TDateTime& creation, TDateTime& access, TDateTime& write) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return false;
  creation = FromFileTime(data.ftCreationTime);
  access = FromFileTime(data.ftLastAccessTime);
  write = FromFileTime(data.ftLastWriteTime);
  return true;
}

bool FileExists(const AnsiString& path) {
  DWORD a = GetFileAttributesA(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool DeleteFileAt(const AnsiString& path) { return DeleteFileA(path.c_str()) != 0; }

bool CopyFileTo(const AnsiString& source, const AnsiString& dest, bool failIfExists) {
  return CopyFileA(source.c_str(), dest.c_str(), failIfExists) != 0;
}

bool RenameFileTo(const AnsiString& source, const AnsiString& dest) {
  return MoveFileExA(source.c_str(), dest.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED) != 0;
}

bool RemoveFolder(const AnsiString& path) { return RemoveDirectoryA(path.c_str()) != 0; }

std::vector<TSearchRec> ListFolder(const AnsiString& folder) {
  std::vector<TSearchRec> out;
  WIN32_FIND_DATAA fd;
  HANDLE h = FindFirstFileA((folder + "\\*.*").c_str(), &fd);
  if (h == INVALID_HANDLE_VALUE) return out;
  do {
    AnsiString name = fd.cFileName;
    if (name == "." || name == "..") continue;
    TSearchRec rec;
    rec.Name = name;
    rec.Attr = fd.dwFileAttributes;  // every bit: callers tell ordinary entries from flagged ones
    rec.Size = static_cast<int64_t>(static_cast<uint64_t>(fd.nFileSizeHigh) << 32 | fd.nFileSizeLow);
    rec.WriteTimeUtc = FromFileTime(fd.ftLastWriteTime);
    out.push_back(std::move(rec));
  } while (FindNextFileA(h, &fd));
  FindClose(h);
  return out;
}

void ShellCopyFolder(const AnsiString& source, const AnsiString& destFolder) {
  AnsiString s = StripTrailingDelimiters(source);
  AnsiString name = ExtractFileName(s);
  AnsiString target = AppendPathDelimiter(destFolder) + name;
  // A taken name gets a numbered copy; copying to a new name never merges into a folder.
  for (int i = 2; GetFileAttributesA(target.c_str()) != INVALID_FILE_ATTRIBUTES; ++i)
    target = AppendPathDelimiter(destFolder) + name + " (" + IntToStr(i) + ")";
  AnsiString from = s + AnsiString(2, '\0'), to = target + AnsiString(2, '\0');
  SHFILEOPSTRUCTA op{};
  op.wFunc = FO_COPY;
  op.pFrom = from.c_str();
  op.pTo = to.c_str();
  op.fFlags = FOF_NOCONFIRMATION | FOF_NOCONFIRMMKDIR | FOF_SILENT | FOF_NOERRORUI;
  SHFileOperationA(&op);
}

void ShellDeleteFolder(const AnsiString& folder) {
  AnsiString s = StripTrailingDelimiters(folder);
  if (s.empty() || GetFileAttributesA(s.c_str()) == INVALID_FILE_ATTRIBUTES) return;
  AnsiString from = s + AnsiString(2, '\0');
  SHFILEOPSTRUCTA op{};
  op.wFunc = FO_DELETE;
  op.pFrom = from.c_str();
  op.fFlags = FOF_NOCONFIRMATION | FOF_SILENT | FOF_NOERRORUI;
  SHFileOperationA(&op);
}

// The system utilities on the sandbox machine: files live below the sandbox root, started
// programs are written to the command log, boxes go to the responder or the terminal.
#include "system/SysKernel.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <iostream>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "core/DateTime.h"
#include "core/Exceptions.h"
#include "core/TextUtils.h"
#include "system/Dialogs.h"
#include "system/FileCtrl.h"
#include "system/FileStream.h"
#include "system/PathText.h"
#include "system/Platform.h"
#include "system/Sandbox.h"
#include "system/Registry.h"
#include "system/posix/SandboxInternal.h"

namespace {
std::string Join(const std::string& folder, const std::string& name) {
  return folder.empty() || folder.back() == '/' ? folder + name : folder + "/" + name;
}

// Reads one line from the terminal; false at end of input.
bool ReadTerminalLine(std::string& line) { return static_cast<bool>(std::getline(std::cin, line)); }

bool ShowBox(TBoxStyle style, const AnsiString& text) {
  if (bool answer; ResponderMessageBox(style, text, answer)) return answer;
  std::string caption = GbkToUtf8(ApplicationTitle());
  std::fprintf(stderr, "%s%s%s\n", caption.c_str(), caption.empty() ? "" : ": ", GbkToUtf8(text).c_str());
  if (style != TBoxStyle::Question) return isatty(0) != 0;
  if (!isatty(0)) return false;  // nobody to ask: the answer is No
  for (;;) {
    std::fprintf(stderr, "(y/n) ");
    std::string line;
    if (!ReadTerminalLine(line)) return false;
    if (line == "y" || line == "Y" || line == "yes") return true;
    if (line == "n" || line == "N" || line == "no") return false;
  }
}

bool CopyHostFile(const std::string& src, const std::string& dst, bool failIfExists) {
  int in = open(src.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return false;
  struct stat st;
  if (fstat(in, &st) != 0 || S_ISDIR(st.st_mode)) {
    close(in);
    return false;
  }
  int out = open(dst.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | (failIfExists ? O_EXCL : O_TRUNC), st.st_mode & 0777);
  if (out < 0) {
    close(in);
    return false;
  }
  bool ok = true;
  char buf[65536];
  for (;;) {
    ssize_t n = read(in, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) ok = false;
    if (n <= 0) break;
    for (ssize_t done = 0; done < n;) {
      ssize_t w = write(out, buf + done, static_cast<size_t>(n - done));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) {
        ok = false;
        break;
      }
      done += w;
    }
    if (!ok) break;
  }
  // Copies keep the last-write time, as on Windows.
  struct timespec times[2] = {st.st_atim, st.st_mtim};
  futimens(out, times);
  if (close(out) != 0) ok = false;
  close(in);
  if (!ok) unlink(dst.c_str());
  return ok;
}

bool CopyHostTree(const std::string& src, const std::string& dst) {
  struct stat st;
  if (lstat(src.c_str(), &st) != 0) return false;
  if (S_ISLNK(st.st_mode)) {
    // Linked folders are not followed: a link loop would copy forever.
    if (stat(src.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return true;
  }
  if (!S_ISDIR(st.st_mode)) return CopyHostFile(src, dst, true);
  if (mkdir(dst.c_str(), 0777) != 0 && errno != EEXIST) return false;
  DIR* d = opendir(src.c_str());
  if (!d) return false;
  bool ok = true;
  while (dirent* e = readdir(d)) {
    std::string n = e->d_name;
    if (n == "." || n == "..") continue;
    ok = CopyHostTree(Join(src, n), Join(dst, n)) && ok;
  }
  closedir(d);
  return ok;
}

void DeleteHostTree(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return;
  if (S_ISDIR(st.st_mode)) {
    if (DIR* d = opendir(path.c_str())) {
      while (dirent* e = readdir(d)) {
        std::string n = e->d_name;
        if (n != "." && n != "..") DeleteHostTree(Join(path, n));
      }
      closedir(d);
    }
    rmdir(path.c_str());
  } else {
    unlink(path.c_str());
  }
}

AnsiString WithParameters(const AnsiString& program, const AnsiString& parameters) {
  return parameters.empty() ? program : program + " " + parameters;
}
}  // namespace

// ---- Start-up hardening ----

void RestrictDllSearch() {}

AnsiString SystemFolder() { return sandbox::EnsureFolder("C:\\Windows\\System32"); }

AnsiString CreatePrivateFolder(const AnsiString& parent) {
  const AnsiString base = PrivateFolderParent(parent);
  for (int attempt = 0; attempt < 16; ++attempt) {
    unsigned char bytes[8];
    if (getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes))
      throw EInOutError("无法从系统取得随机数，不能创建临时文件夹");
    AnsiString name = "gbs-";
    for (unsigned char b : bytes) {
      name += "0123456789abcdef"[b >> 4];
      name += "0123456789abcdef"[b & 15];
    }
    const AnsiString folder = base + name;
    // mkdir never takes a folder that is there: a taken name means another name.
    if (mkdir(HostPath(folder).c_str(), 0700) == 0) return folder + "\\";
    if (errno != EEXIST) break;
  }
  throw EInOutError("无法在“" + base + "”中创建临时文件夹");
}

TProductLock::TProductLock(const AnsiString& product) {
  // A lock file outside the sandbox's drive: flock holds it while the descriptor is open.
  const std::string folder = sandbox::Root() + "/run-locks";
  mkdir(folder.c_str(), 0755);
  const int fd = open((folder + "/" + ProductLockName(product)).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return;
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    close(fd);
    FHeld = false;
    return;
  }
  FHandle = fd;
}

TProductLock::~TProductLock() {
  if (FHandle != -1) close(static_cast<int>(FHandle));
}

// ---- Version and start-up ----

AnsiString WindowsVersionText() { return SandboxVersionText(); }

char DecimalSeparator() { return '.'; }

void RelaunchElevated(const AnsiString& file, const AnsiString& parameters, uint32_t& exitCode) {
  sandbox::LogCommand("runas", WithParameters(file, parameters));
  if (SandboxElevationCancelled()) RaiseAbort();
  ProcessMessages();
  exitCode = SandboxElevationExitCode();
}

AnsiString ApplicationExeName() {
  char buf[4096];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return "";
  try {
    return ProgramPath(std::string(buf, static_cast<size_t>(n)));
  } catch (const EConvertError&) {
    return "";
  }
}

// ---- Paths and special folders ----

AnsiString ShellFolderPath(int csidl) {
  const char* path = nullptr;
  switch (csidl) {
    case CSIDL_DESKTOP_: case 0x10: path = "C:\\Users\\User\\Desktop"; break;
    case CSIDL_PROGRAMS_: path = "C:\\Users\\User\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs"; break;
    case 5: path = "C:\\Users\\User\\Documents"; break;
    case 7: path = "C:\\Users\\User\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs\\Startup"; break;
    case 11: path = "C:\\Users\\User\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu"; break;
    case 0x16: path = "C:\\ProgramData\\Microsoft\\Windows\\Start Menu"; break;
    case CSIDL_COMMON_PROGRAMS_: path = "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs"; break;
    case 0x19: path = "C:\\Users\\Public\\Desktop"; break;
    case CSIDL_APPDATA_: path = "C:\\Users\\User\\AppData\\Roaming"; break;
    case 0x1C: path = "C:\\Users\\User\\AppData\\Local"; break;
    case 0x23: path = "C:\\ProgramData"; break;
    case 0x24: path = "C:\\Windows"; break;
    case 0x25: path = "C:\\Windows\\System32"; break;
    // A 32-bit program on 64-bit Windows is given the 32-bit programs' folder.
    case CSIDL_PROGRAM_FILES_: path = SandboxRedirects() ? "C:\\Program Files (x86)" : "C:\\Program Files"; break;
    case 0x29: path = SandboxWindowsBits() == 64 ? "C:\\Windows\\SysWOW64" : "C:\\Windows\\System32"; break;
    case 0x2A: path = SandboxWindowsBits() == 64 ? "C:\\Program Files (x86)" : "C:\\Program Files"; break;
    default: return "";  // no file-system folder for this number
  }
  return sandbox::EnsureFolder(path);
}

AnsiString ProgramFilesFolder() { return ShellFolderPath(CSIDL_PROGRAM_FILES_); }
AnsiString WindowsFolder() {
  // Every Windows has its system folder: files copied into it need no folder of their own.
  sandbox::EnsureFolder("C:\\Windows\\System32");
  return "C:\\Windows";
}
AnsiString TempFolder() {
  sandbox::EnsureFolder("C:\\Temp");
  return "C:\\Temp\\";
}

// ---- Registry, processes, shell ----

void SetRunAtLogon(const AnsiString& valueName, const AnsiString& command, bool enable) {
  try {
    auto key = TRegKey::Open(TRootKey::LocalMachine, "\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run", true);
    if (!key) return;
    if (enable)
      key->WriteString(valueName, command);
    else
      key->DeleteValue(valueName);
  } catch (const Exception&) {
    // An installation goes on when the value cannot be written.
  }
}

void RunInstallSwitch(const AnsiString& path, bool install) {
  sandbox::LogCommand("exec", "\"" + path + "\"" + (install ? " -Install" : " -unInstall"));
}

void RunRegSvr32(const AnsiString& path, bool registerServer) {
  sandbox::LogCommand("exec", "\"" + SystemFolder() + "\\regsvr32.exe" + (registerServer ? "\" /s \"" : "\" /s/u \"") + path + "\"");
}

bool RunsElevated() { return false; }

AnsiString LocalTimeText() {
  const time_t now = time(nullptr);
  struct tm t {};
  localtime_r(&now, &t);
  return Format("%04d-%02d-%02d %02d:%02d:%02d", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min,
                t.tm_sec);
}

AnsiString LocalDateText() {
  const time_t now = time(nullptr);
  struct tm t {};
  localtime_r(&now, &t);
  return Format("%04d%02d%02d", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday);
}

void RunAndWait(const AnsiString& program) {
  sandbox::LogCommand("wait", program);
  ProcessMessages();
}

int32_t RunCommandAndWait(const AnsiString& program, const AnsiString& parameters) {
  sandbox::LogCommand("wait", WithParameters(program, parameters));
  ProcessMessages();
  return 0;
}

void ShellOpen(const AnsiString& verb, const AnsiString& file, const AnsiString& parameters,
               const AnsiString& directory, int showCommand) {
  AnsiString kind = verb.empty() ? AnsiString("open") : LowerCaseAscii(verb);
  sandbox::LogCommand(kind.c_str(), WithParameters(file, parameters));
}

void ShellOpenAndWait(const AnsiString& verb, const AnsiString& file, const AnsiString& parameters,
                      const AnsiString& directory, int showCommand, uint32_t) {
  // Nothing is started here, so nothing is waited for.
  ShellOpen(verb, file, parameters, directory, showCommand);
}

void RebootMachine() {
  // Never the host: the line says what Windows would have been asked to do.
  sandbox::LogCommand("reboot", OsVersionCode() >= 30 ? "SeShutdownPrivilege, EWX_REBOOT" : "EWX_REBOOT");
}

// ---- Message boxes ----

bool AskYesNo(const AnsiString& question) { return ShowBox(TBoxStyle::Question, question); }
void ShowErrorBox(const AnsiString& text) { ShowBox(TBoxStyle::Error, text); }
void ShowWarningBox(const AnsiString& text) { ShowBox(TBoxStyle::Warning, text); }
void ShowInfoBox(const AnsiString& text) { ShowBox(TBoxStyle::Info, text); }

// ---- Files ----

namespace {
void SetDescriptorStamp(int fd, uint8_t selector, TDateTime localTime) {
  uint32_t dos = DateTimeToDosDateTime(localTime);
  uint16_t date = static_cast<uint16_t>(dos >> 16), time = static_cast<uint16_t>(dos);
  // A date a DOS stamp cannot hold leaves the file as it is.
  if ((date & 31) == 0 || ((date >> 5) & 15) == 0 || selector > 2) return;
  std::tm tm{};
  tm.tm_year = (date >> 9) + 80;
  tm.tm_mon = ((date >> 5) & 15) - 1;
  tm.tm_mday = date & 31;
  tm.tm_hour = time >> 11;
  tm.tm_min = (time >> 5) & 63;
  tm.tm_sec = (time & 31) * 2;
  tm.tm_isdst = -1;
  tzset();
  time_t utc = mktime(&tm);
  struct timespec times[2] = {{0, UTIME_OMIT}, {0, UTIME_OMIT}};
  // The host keeps no settable creation time: selector 0 changes nothing.
  if (selector == 1) times[0] = {utc, 0};
  if (selector == 2) times[1] = {utc, 0};
  if (selector != 0 && utc != static_cast<time_t>(-1)) futimens(fd, times);
}
}  // namespace

void SetFileStamp(const AnsiString& path, uint8_t selector, TDateTime localTime) {
  int fd = open(HostPath(path).c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) return;
  SetDescriptorStamp(fd, selector, localTime);
  close(fd);
}

void SetFileStamp(TFileStream& file, uint8_t selector, TDateTime localTime) {
  SetDescriptorStamp(static_cast<int>(file.Handle()), selector, localTime);
}

int64_t DriveFreeBytes(char drive) {
  unsigned char c = static_cast<unsigned char>(drive);
  if (c == 64) {
    char* cwd = getcwd(nullptr, 0);
    std::string here = cwd ? cwd : "/";
    free(cwd);
    try {
      c = static_cast<unsigned char>(ProgramPath(here)[0]);
    } catch (const EConvertError&) {
      c = 'Z';
    }
  }
  if (c >= 'a' && c <= 'z') c -= 32;
  if (c < 'A' || c > 'Z') return -1;
  std::string folder = c == 'Z' ? "/" : sandbox::Root() + "/drive_" + static_cast<char>(c + 32);
  struct stat st;
  if (stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return -1;
  struct statvfs vfs;
  if (statvfs(folder.c_str(), &vfs) != 0) return -1;
  return static_cast<int64_t>(vfs.f_bavail) * static_cast<int64_t>(vfs.f_frsize);
}

TDateTime FileStampOf(const AnsiString& path) {
  struct stat st;
  if (stat(HostPath(path).c_str(), &st) != 0) return -1.0;
  return UnixToDateTime(st.st_mtim.tv_sec, static_cast<int32_t>(st.st_mtim.tv_nsec));
}

bool FileTimesOf(const AnsiString& path, TDateTime& creation, TDateTime& access, TDateTime& write) {
  struct statx sx;
  if (statx(AT_FDCWD, HostPath(path).c_str(), 0, STATX_BASIC_STATS | STATX_BTIME, &sx) != 0) return false;
  creation = (sx.stx_mask & STATX_BTIME) ? UnixToDateTime(sx.stx_btime.tv_sec, static_cast<int32_t>(sx.stx_btime.tv_nsec)) : 0;
  access = UnixToDateTime(sx.stx_atime.tv_sec, static_cast<int32_t>(sx.stx_atime.tv_nsec));
  write = UnixToDateTime(sx.stx_mtime.tv_sec, static_cast<int32_t>(sx.stx_mtime.tv_nsec));
  return true;
}

int32_t FileIconIndex(const AnsiString& path, bool small) {
  struct stat st;
  if (stat(HostPath(path).c_str(), &st) != 0) return 0;
  if (S_ISDIR(st.st_mode)) return 3;
  AnsiString ext = UpperCaseAscii(ExtractFileExt(path));
  if (ext.empty()) return 1;
  if (ext == ".EXE" || ext == ".COM") return 2;
  // A stable small number per extension, as an image list would hand out.
  uint32_t h = 0;
  for (unsigned char ch : ext) h = h * 31 + ch;
  return static_cast<int32_t>(10 + h % 90);
}

bool FileExists(const AnsiString& path) {
  struct stat st;
  return stat(HostPath(path).c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool DeleteFileAt(const AnsiString& path) {
  std::string host = HostPath(path);
  struct stat st;
  if (lstat(host.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return false;
  return unlink(host.c_str()) == 0;
}

bool CopyFileTo(const AnsiString& source, const AnsiString& dest, bool failIfExists) {
  return CopyHostFile(HostPath(source), HostPath(dest), failIfExists);
}

bool RenameFileTo(const AnsiString& source, const AnsiString& dest) {
  return rename(HostPath(source).c_str(), HostPath(dest).c_str()) == 0;
}

bool RemoveFolder(const AnsiString& path) { return rmdir(HostPath(path).c_str()) == 0; }

std::vector<TSearchRec> ListFolder(const AnsiString& folder) {
  std::vector<TSearchRec> out;
  std::string host = HostPath(folder);
  DIR* d = opendir(host.c_str());
  if (!d) return out;
  while (dirent* e = readdir(d)) {
    std::string n = e->d_name;
    if (n == "." || n == "..") continue;
    TSearchRec rec;
    try {
      rec.Name = Utf8ToGbk(n);
    } catch (const EConvertError&) {
      NoteUnlistedEntry(Join(host, n));  // no program path can reach it
      continue;
    }
    struct stat st;
    std::string full = Join(host, n);
    if (lstat(full.c_str(), &st) != 0) continue;
    bool link = S_ISLNK(st.st_mode);
    if (link) stat(full.c_str(), &st);  // a dangling link stays a link entry
    rec.Attr = S_ISDIR(st.st_mode) ? faDirectory : faArchive;
    if (link) rec.Attr |= faReparsePoint;
    if (n[0] == '.') rec.Attr |= faHidden;
    if (!(st.st_mode & S_IWUSR)) rec.Attr |= faReadOnly;
    rec.Size = S_ISDIR(st.st_mode) ? 0 : static_cast<int64_t>(st.st_size);
    rec.WriteTimeUtc = UnixToDateTime(st.st_mtim.tv_sec, static_cast<int32_t>(st.st_mtim.tv_nsec));
    out.push_back(std::move(rec));
  }
  closedir(d);
  // Host order is arbitrary; a fixed order keeps listings repeatable.
  std::stable_sort(out.begin(), out.end(), [](const TSearchRec& a, const TSearchRec& b) {
    return UpperCaseAscii(a.Name) < UpperCaseAscii(b.Name);
  });
  return out;
}

bool SystemFolderNamesFit() { return true; }

void ShellCopyFolder(const AnsiString& source, const AnsiString& destFolder) {
  std::string src = HostPath(source);
  AnsiString s = StripTrailingDelimiters(source);
  AnsiString name = ExtractFileName(s);
  AnsiString target = AppendPathDelimiter(destFolder) + name;
  // A taken name gets a numbered copy, as the shell's rename-on-collision does.
  for (int i = 2; FolderExists(target) || FileExists(target); ++i)
    target = AppendPathDelimiter(destFolder) + name + " (" + IntToStr(i) + ")";
  CopyHostTree(src, HostPath(target));
}

void ShellDeleteFolder(const AnsiString& folder) {
  if (folder.empty()) return;  // never the current folder by accident
  std::string host = HostPath(folder);
  if (host == "/" || host == "." || host == sandbox::Root()) return;
  DeleteHostTree(host);
}

// ---- A second thread ----

TWorkerThread::TWorkerThread(std::function<void()> work) : FWork(std::move(work)) {
  try {
    FThread = new std::thread([this] { FWork(); });
  } catch (const std::system_error& e) {
    throw Exception(AnsiString("cannot start a thread: ") + e.what());
  }
}

TWorkerThread::~TWorkerThread() {
  auto* t = static_cast<std::thread*>(FThread);
  t->join();
  delete t;
}

struct TWaitLock::TState {
  std::mutex Lock;
  std::condition_variable Changed;
};

TWaitLock::TWaitLock() : FState(std::make_unique<TState>()) {}
TWaitLock::~TWaitLock() = default;
void TWaitLock::Lock() { FState->Lock.lock(); }
void TWaitLock::Unlock() { FState->Lock.unlock(); }
void TWaitLock::Wait() {
  // The caller holds the lock; the wait hands it over and takes it back.
  std::unique_lock<std::mutex> held(FState->Lock, std::adopt_lock);
  FState->Changed.wait(held);
  held.release();
}
void TWaitLock::WakeAll() { FState->Changed.notify_all(); }

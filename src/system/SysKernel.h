#pragma once
// System utilities: registry, shell, processes and the file system, as free functions.
// Each contract is written here once; src/system/win32 implements it with the Windows
// calls, src/system/posix for the Linux sandbox.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/StringList.h"
#include "core/Types.h"

class TFileStream;

// Special folders (CSIDL numbers).
enum : int {
  CSIDL_DESKTOP_ = 0,
  CSIDL_PROGRAMS_ = 2,
  CSIDL_COMMON_PROGRAMS_ = 23,
  CSIDL_APPDATA_ = 26,
  CSIDL_PROGRAM_FILES_ = 38,
};

// File attributes as the enumeration reports them.
enum : uint32_t {
  faReadOnly = 0x01,
  faHidden = 0x02,
  faSysFile = 0x04,
  faVolumeID = 0x08,
  faDirectory = 0x10,
  faArchive = 0x20,
  faAnyFile = 0x3F,
  faReparsePoint = 0x400,  // a link to elsewhere (junction, symbolic link)
};

// ---- Start-up hardening ----

// Makes the DLLs that the process loads from now on come from the system folder only: never
// from beside the program, the current folder or PATH, where a download page or another user
// may have left one. Called first thing in main. Nothing to do in the sandbox.
void RestrictDllSearch();
// True when "<program>.local" lies beside the program (a file or a folder): Windows would then
// take system components from there, so the program's files are not what was shipped.
bool HasLocalRedirection(const AnsiString& program);
// The system folder (System32), no trailing backslash.
AnsiString SystemFolder();
// Makes a new folder in parent, named from 64 bits of the system's random source; a name that
// is taken means another name, so a folder made beforehand is never used (and a parent's last
// level "Low", which low-integrity programs may write, is left for the one above it). When the
// process runs elevated or as the system, only administrators and the system may change the
// folder and what is put in it, and the user may read it. Returns the folder with a trailing
// backslash; raises EInOutError when none could be made.
AnsiString CreatePrivateFolder(const AnsiString& parent);
// Where CreatePrivateFolder makes it: parent with a trailing backslash, or the level above a
// last "Low".
AnsiString PrivateFolderParent(const AnsiString& parent);
// The lock that one setup or uninstaller of a product holds while it runs, from its making to
// its end. Held() is false when another process holds it; a lock that cannot be made at all
// counts as held, so that it does not stop the run.
class TProductLock {
public:
  explicit TProductLock(const AnsiString& product);
  ~TProductLock();
  TProductLock(const TProductLock&) = delete;
  TProductLock& operator=(const TProductLock&) = delete;
  bool Held() const { return FHeld; }

private:
  intptr_t FHandle = -1;  // the mutex handle, or the lock file's descriptor
  bool FHeld = true;
};
// The name of that lock: the same for every spelling of the product's name in ASCII case.
AnsiString ProductLockName(const AnsiString& product);

// ---- A second thread ----

// Runs work on a thread of its own from the construction on; the destructor waits for it to
// end. work must not let an exception escape. Raises Exception when no thread can be made.
class TWorkerThread {
public:
  explicit TWorkerThread(std::function<void()> work);
  ~TWorkerThread();
  TWorkerThread(const TWorkerThread&) = delete;
  TWorkerThread& operator=(const TWorkerThread&) = delete;

private:
  std::function<void()> FWork;
  void* FThread = nullptr;  // the thread's handle, or the std::thread in the sandbox
};

// A lock with a condition to wait for under it: how two threads hand work to each other.
class TWaitLock {
public:
  TWaitLock();
  ~TWaitLock();
  TWaitLock(const TWaitLock&) = delete;
  TWaitLock& operator=(const TWaitLock&) = delete;
  void Lock();
  void Unlock();
  void Wait();  // the lock held: lets it go while waiting for WakeAll, then takes it again
  void WakeAll();

  class TGuard {
  public:
    explicit TGuard(TWaitLock& lock) : FLock(lock) { FLock.Lock(); }
    ~TGuard() { FLock.Unlock(); }
    TGuard(const TGuard&) = delete;
    TGuard& operator=(const TGuard&) = delete;

  private:
    TWaitLock& FLock;
  };

private:
  struct TState;
  std::unique_ptr<TState> FState;
};

// ---- Version and start-up ----

// Today's date on the machine's clock and time zone, as YYYYMMDD.
AnsiString LocalDateText();
// The same moment as "YYYY-MM-DD HH:MM:SS".
AnsiString LocalTimeText();
// True when this process runs elevated or as the system account (never in the sandbox, whose
// setups relaunch themselves as on a machine with user account control).
bool RunsElevated();

// "0" when the version query fails, "1" for Win32s, "2" for the 9x family, "major.minor" for NT.
AnsiString WindowsVersionText();
// The user's decimal separator for numbers shown to them; "." in the sandbox.
char DecimalSeparator();
// Starts file with parameters through the "runas" verb, waits for it while servicing
// messages, stores its exit code. ERROR_CANCELLED raises EAbort ("Operation aborted");
// any other failure returns at once, leaving exitCode alone.
void RelaunchElevated(const AnsiString& file, const AnsiString& parameters, uint32_t& exitCode);
// Operating-system code from the version query: 0 when it fails or names no known platform,
// 1 Win32s, 2 the 9x family; NT: 31 for 5.0, 32 for 5.1, 33 for 5.2, 30 for any other version.
uint16_t OsVersionCode();
// Restarts the machine: on NT (OsVersionCode >= 30) the process token first gets
// SeShutdownPrivilege, then ExitWindowsEx(EWX_REBOOT). Failures are not reported. The sandbox
// only appends "reboot: EWX_REBOOT" (with "SeShutdownPrivilege, " before it on NT) to commands.log.
void RebootMachine();
// The running program's full path.
AnsiString ApplicationExeName();
// Lets the application handle pending window messages (set by the user interface; no-op otherwise).
void ProcessMessages();
void SetProcessMessagesHandler(std::function<void()> handler);
// True once the application is shutting down (ends RunAndWait's wait).
bool ApplicationTerminated();
void SetApplicationTerminated(bool terminated);

// ---- Paths and special folders ----

// path + "\" unless its last byte already is "\" (a byte test, not a character test).
AnsiString AppendPathDelimiter(const AnsiString& path);
// Special folder path without trailing backslash.
AnsiString ShellFolderPath(int csidl);
AnsiString ProgramFilesFolder();
// Windows folder, no trailing backslash.
AnsiString WindowsFolder();
// Temporary folder, ending with a backslash.
AnsiString TempFolder();

// ---- Registry, processes, shell ----

// HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Run: enable writes valueName
// = command, disable deletes it. Silent on every failure.
void SetRunAtLogon(const AnsiString& valueName, const AnsiString& command, bool enable);
// Starts "\"path\" -Install" (or " -unInstall"), not waited for.
void RunInstallSwitch(const AnsiString& path, bool install);
// Starts the system folder's regsvr32.exe, quoted, with "/s " (or "/s/u ") and the quoted path,
// not waited for.
void RunRegSvr32(const AnsiString& path, bool registerServer);
// Starts program through the shell (default verb, no parameters, shown normally) and waits
// in 10 ms steps, servicing messages, until it ends or the application terminates. The file
// is held open first, so that nobody can write or replace it until it has ended; a program
// that cannot be opened so, or started, returns at once.
void RunAndWait(const AnsiString& program);
// Like RunAndWait for a full command line (program and parameters); returns the exit
// code, or -1 when it could not be started. Used by the uninstaller.
int32_t RunCommandAndWait(const AnsiString& program, const AnsiString& parameters);
// ShellExecute(no owner, verb, file, parameters, directory, show); result ignored.
void ShellOpen(const AnsiString& verb, const AnsiString& file, const AnsiString& parameters,
               const AnsiString& directory, int showCommand);
// As ShellOpen, then waits until the started program waits for input (it has opened the
// file), at most timeoutMs. Returns at once when the shell handed the file to a program
// already running, or started none.
void ShellOpenAndWait(const AnsiString& verb, const AnsiString& file, const AnsiString& parameters,
                      const AnsiString& directory, int showCommand, uint32_t timeoutMs);

// ---- Message boxes (owned by the active window, captioned with the application title) ----

const AnsiString& ApplicationTitle();
void SetApplicationTitle(const AnsiString& title);
// Question box, Yes/No; true only for Yes.
bool AskYesNo(const AnsiString& question);
void ShowErrorBox(const AnsiString& text);
void ShowWarningBox(const AnsiString& text);
void ShowInfoBox(const AnsiString& text);

// ---- Files ----

// Sets one of the file's times (selector 0 creation, 1 last access, 2 last write) to the
// given local date-time via a packed DOS date; the other two stay. Silent on failure.
void SetFileStamp(const AnsiString& path, uint8_t selector, TDateTime localTime);
// The same on a file open for writing, through its handle: no second open and close, which
// an installation writing thousands of files would pay once more for each. Call it after
// the last write.
void SetFileStamp(TFileStream& file, uint8_t selector, TDateTime localTime);
// Depth-first listing of every file below folder, in file-system order, appended to list.
// Linked folders (reparse points) are not entered, so a link loop cannot recurse forever.
void CollectFiles(const AnsiString& folder, TStringList& list);
// Bytes free to the caller on the drive named by the letter; -1 when the query fails.
int64_t DriveFreeBytes(char drive);
// Size of the file; raises EFOpenError when it cannot be opened.
int64_t FileSizeOf(const AnsiString& path);
// Last-write time as stored (UTC, no zone conversion); -1.0 when the path does not exist.
TDateTime FileStampOf(const AnsiString& path);
// The three stored times of a file or folder (UTC); false when it cannot be read. The
// creation time is 0 where the file system keeps none.
bool FileTimesOf(const AnsiString& path, TDateTime& creation, TDateTime& access, TDateTime& write);
// Index of the file's icon in the system image list; 0 for a path that does not exist.
int32_t FileIconIndex(const AnsiString& path, bool small);

// Plain file operations over program paths.
bool FileExists(const AnsiString& path);  // an existing file, not a folder
bool DeleteFileAt(const AnsiString& path);
// Copies, replacing an existing destination unless failIfExists; false on failure.
bool CopyFileTo(const AnsiString& source, const AnsiString& dest, bool failIfExists);
// Renames, replacing an existing destination; false on failure.
bool RenameFileTo(const AnsiString& source, const AnsiString& dest);
bool RemoveFolder(const AnsiString& path);  // an empty folder only

struct TSearchRec {
  AnsiString Name;
  uint32_t Attr = 0;  // every attribute bit reported, not only faAnyFile's
  int64_t Size = 0;
  TDateTime WriteTimeUtc = 0;
};
// Entries of folder matching "*.*" (all attributes), without "." and "..", in the order the
// file system returns them (the sandbox sorts by upper-cased name). Empty when the folder
// cannot be read.
std::vector<TSearchRec> ListFolder(const AnsiString& folder);

// Entries that ListFolder met and could not list under their own names, since program text
// cannot hold them (a character outside GBK): their host paths, in UTF-8. On Windows such an
// entry is listed by its short (8.3) name where it has one; in the sandbox it is left out.
// Either way it is recorded here (the first 1,000), so that the builder can refuse such a
// folder instead of storing a file under another name or leaving it out without a word.
// TakeUnlistedEntries returns the record and empties it; NoteUnlistedEntry is for the backends.
std::vector<std::string> TakeUnlistedEntries();
void NoteUnlistedEntry(const std::string& hostPath);

// Checks, before anything is written, that the program's own path and the folders it reads
// and writes (temporary, Windows, program files, the user's desktop, start menu and
// application data, all users' start menu) have names that program text can hold, in full or
// in their short (8.3) form. Otherwise shows an error box that names the folder and returns
// false. Always true in the sandbox, whose names are program text.
bool SystemFolderNamesFit();

// Shell copy of a folder with everything in it into destFolder, no confirmation; when the
// name is taken there the copy is named "<name> (2)", "<name> (3)", ... And shell delete of a
// folder tree (an empty path deletes nothing). Failures are not reported.
void ShellCopyFolder(const AnsiString& source, const AnsiString& destFolder);
void ShellDeleteFolder(const AnsiString& folder);

// Shell link (.lnk) file: show normal, arguments, description, target, working folder =
// the target's folder. Raises on failure.
void CreateShellLink(const AnsiString& linkPath, const AnsiString& target, const AnsiString& arguments,
                     const AnsiString& description);

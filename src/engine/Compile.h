#pragma once
// The package engine: releases the payload of a running setup, runs the installation and
// builds setup programs. One object behind IReleaseWork and ICompile.
#include <functional>
#include <memory>
#include <optional>

#include "core/Stream.h"
#include "core/SysIntfs.h"
#include "engine/InstallLog.h"
#include "engine/RunJournal.h"
#include "project/Operation.h"

using TSignFileEvent = std::function<void(const AnsiString& fileName)>;

// An installation run that failed and was undone. The message says what failed and why, that
// the run was undone, and which files that were there before stay as they now are.
GB_EXCEPTION(EInstallFailed, Exception)

class TCompile : public TOperation, public IReleaseWork, public ICompile, public IReleasedFiles {
public:
  GB_INTERFACED
  TCompile();
  ~TCompile() override;

  // IReleaseWork
  void ReleaseFiles(const AnsiString& fileName, TInsPackList& list, TReleaseProgressEvent onProgress) override;
  void InstallFiles(const AnsiString& groupFolder, const AnsiString& installDir, const AnsiString& components,
                    const AnsiString& exeName, TInsPackList& list, TReleaseProgressEvent onProgress) override;

  // ICompile
  AnsiString GetSetupFileName() override { return FSetupFileName; }
  void SetProgressEvent(TCompileProgressEvent onProgress) override { FOnProgress = std::move(onProgress); }
  void SetProject(const TIntfPtr<IProject>& project) override { FProject = project; }
  void Compile() override;
  void AddLogRecord(const AnsiString& path, uint8_t autoRun, uint8_t selfRegister, uint8_t regServer,
                    uint8_t logFlag, const AnsiString& text) override;
  void CreateFolder(const AnsiString& path) override;
  void ClearPackList(TInsPackList& list) override { list.Clear(); }
  void SaveInstallLog() override;

  // IReleasedFiles
  void GetReleasedFiles(TStringList& files, TStringList& folders) override;
  AnsiString ReleaseFolder() override { return FReleaseFolder; }

  // Signs a file of the build in place (a failure raises). Called on the uninstaller copy
  // before it is packed and on the finished setup; may be unset (nothing is signed).
  void SetSignEvent(TSignFileEvent onSign) { FOnSign = std::move(onSign); }

  TInstallLog& Log() { return *FLog; }
  // The log of an earlier installation into the same folder that this installation's log
  // carries on (null when there was none, or none that could be read), and where an
  // unreadable one was kept (empty when none was).
  const TInstallLog* EarlierLog() const { return FEarlierLog.get(); }
  const AnsiString& DamagedLogCopy() const { return FDamagedLogCopy; }
  // Where SaveInstallLog writes: the main program's folder + "UnLog.txt".
  AnsiString InstallLogFileName();

private:
  TIntfPtr<IProject> FProject;
  TCompileProgressEvent FOnProgress;
  TSignFileEvent FOnSign;
  std::unique_ptr<TInstallLog> FLog;
  AnsiString FSetupFileName;

  // Kept from the start of an installation run until its log is on disk: what the run did and
  // what was there before, so that a failure can be undone.
  std::unique_ptr<TRunJournal> FJournal;
  int64_t FInstalledBytes = 0;  // what this run wrote, for the uninstall entry's size
  std::unique_ptr<TInstallLog> FEarlierLog;
  // What the release wrote into its own folder, made fresh in the temporary folder (where the
  // user's other programs could otherwise have put or swapped what runs elevated). Its folders
  // are not logged: the window removes them with the files when it closes, so the uninstaller
  // would only look for them.
  AnsiString FReleaseFolder;
  TStringList FReleasedFiles, FReleasedFolders;
  AnsiString FDamagedLogCopy;

  IProject& Project();
  // Makes the missing levels of path; each one made is handed to made.
  void MakeFolderLevels(const AnsiString& path, const std::function<void(const AnsiString&)>& made);
  void InstallRun(const AnsiString& groupFolder, const AnsiString& installDir, const AnsiString& components,
                  const AnsiString& exeName, TInsPackList& list, const TReleaseProgressEvent& onProgress);
  // Creates target (noting in the journal whether it was there) and expands the entry into it;
  // then, when given, sets its last-write time (SetFileStamp, selector 2). inNewFolder: target
  // lies in a folder this run made, so no file was there before the run.
  void WriteRunFile(TStream& setup, const TInsPackRec& entry, const AnsiString& target, const AnsiString& setupName,
                    std::optional<TDateTime> lastWrite = std::nullopt, bool inNewFolder = false);
  // The same with the bytes from expand (ExpandChunks' contract: returns what it wrote).
  void WriteRunFile(const std::function<int64_t(TStream&)>& expand, const AnsiString& target,
                    std::optional<TDateTime> lastWrite, bool inNewFolder);
  // Writes the log (after the earlier one's records, if any) beside fileName, then in its place.
  void WriteInstallLog(const AnsiString& fileName);
  // Undoes the run with the uninstaller's engine and raises EInstallFailed.
  [[noreturn]] void RollBackRun(const AnsiString& failure);
};

// ---- Helpers of the release and the installation run ----

// The one message for a setup file whose package is damaged or cut short; %s = its path.
extern const char* const SDamagedSetupFile;

// The package's entries between the project (the first) and the uninstaller (the last), in
// package order, each with the size and date of its file: the component catalogue, the program
// files, the chosen components' files, the special-file groups' files and the wizard's page files.
// A file that cannot be opened raises EFOpenError, or with missingAsEmpty is an entry of 0 bytes
// (the preview of a project whose files are not all there yet).
void CollectPayloadEntries(const TIntfPtr<IProject>& project, TInsPackList& entries, bool missingAsEmpty);
// Where a program file of the project lands in an installation into installDir.
AnsiString ProgramFileTarget(const TFileInfoRec& file, const AnsiString& installDir);
// Creates target, replacing a file there, and expands the entry's chunks from setup into it.
void WriteEntry(TStream& setup, const TInsPackRec& entry, const AnsiString& target, const AnsiString& setupName);
// The item "主程序" of the page "安装完毕": it names a program file, never a file of the wizard.
bool IsMainProgramItem(const TPageInfoRec& item);

// The path with a backslash at its end. Unlike AppendPathDelimiter, a GBK character whose
// trail byte is 0x5C does not count as one: a file joined to such a folder stays inside it.
AnsiString WithPathDelimiter(const AnsiString& path);
// A design-time folder ("Program Files\...", or a folder below the Windows drive's root)
// as a real folder.
AnsiString ResolveTargetFolder(const AnsiString& text, const AnsiString& installDir);
// Replaces the first matching root word of a registry string value.
AnsiString ExpandPathPrefix(const AnsiString& value, const AnsiString& installDir, const AnsiString& projectName);
// Hexadecimal text; any other character counts as the digit 0.
int64_t HexTextToInt(const AnsiString& text);
// Two hexadecimal characters per byte; an odd text gets a "0" appended.
TArrayByte HexTextToBytes(const AnsiString& text);
// True when text, the folder checked against the Windows version text, lets a record through.
bool OsFilterAllows(const AnsiString& filter, const AnsiString& versionText);
// True when a stored entry name, cut after its drive ("C:\"), stays inside the folder it is
// placed under: no ".." part, no drive, not rooted, not empty.
bool IsSafeEntryName(const AnsiString& name);

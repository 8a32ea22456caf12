#pragma once
// Records and interfaces shared by the wizard, the package engine and the project.
// Interface methods are declared in slot order.
#include <functional>
#include <memory>

#include "core/Interfaces.h"
#include "core/RecordList.h"
#include "core/StringList.h"
#include "core/Types.h"

// Value kinds of settings and page items, stored as one byte.
enum TWorkKind : uint8_t {
  twkStr = 0,
  twkInt = 1,
  twkFile = 2,
  twkIco = 3,
  twkSelect = 4,
  twkRemark = 5,
  twkJpg = 6,
  twkComponent = 7,
};

struct TWorkInfoRec {
  AnsiString Name;
  AnsiString Value;
  AnsiString Items;
  uint8_t Kind = 0;
  AnsiString Hint;  // from Ins.ini, never stored
};

struct TPageInfoRec {
  AnsiString Page;
  AnsiString Name;
  AnsiString Items;
  uint8_t Kind = 0;
  AnsiString Value;
};

struct TFileInfoRec {
  AnsiString FileName;
  AnsiString SourcePath;
  AnsiString TargetDir;
  AnsiString Extra;
  TDateTime FileDate = 0;
  int64_t FileSize = 0;
  int32_t IconIndex = 0;
  uint8_t NoOverwrite = 0;
  uint8_t AutoRun = 0;
  uint8_t SelfRegister = 0;
  uint8_t RegServer = 0;
  uint8_t DesignFlag = 0;
  uint8_t LogFlag = 0;
  AnsiString OsFilter;
};

struct TSpecailFileRec {
  AnsiString TargetDir;
  std::unique_ptr<TStringList> Sources = std::make_unique<TStringList>();
};

struct TDirectoryInfoRec {
  AnsiString Name;
  AnsiString Path;
  uint8_t Kind = 0;  // 0 files, 1 registry key, 2 shortcut folder
};

struct TRegistryInfoRec {
  AnsiString KeyPath;
  AnsiString ValueName;
  AnsiString ValueData;
  uint8_t ValueType = 0;  // 0 string, 1 integer (hex text), 2 binary (hex text)
  uint8_t Extra = 0;
  AnsiString OsFilter;
};

struct TShotCutInfoRec {
  AnsiString Folder;
  AnsiString Name;
  AnsiString Description;
  AnsiString Target;
  AnsiString Arguments;
  uint8_t ExtraByte = 0;
  int32_t ExtraInt = 0;
};

struct TBuildOptions {
  AnsiString AuthorName;
  AnsiString AuthorUrl;
  int32_t CompressionLevel = 2;
  AnsiString OutputFolder;
  int32_t Jobs = 0;  // compression threads; 0 = one per core
  // The 64-bit stubs (data folder Exe\x64\): a setup that installs into 64-bit Windows'
  // own places. Off: the 32-bit stubs of Exe\, as always.
  bool X64 = false;
  // A project that exists in memory only (built from its text form, or with per-build
  // changes): when set, the package's project entry is made from these bytes (its paths
  // under their stored names), dated ProjectImageDate, and no file of FFileName is read.
  const AnsiString* ProjectImage = nullptr;
  TDateTime ProjectImageDate = 0;
  // SOURCE_DATE_EPOCH, seconds since 1970 UTC, or -1: file dates later than it are stored as
  // it, and the written stubs' headers carry it as their link time.
  int64_t SourceDateEpoch = -1;
};

// One file of a package.
struct TInsPackRec {
  AnsiString Name;
  uint8_t Kind = 0;
  int64_t DataStart = 0;
  int64_t DataEnd = 0;
  TDateTime FileDate = 0;
  int64_t FileSize = 0;
};

enum TPackKind : uint8_t {
  pkSupport = 0,
  pkProgramFile = 2,
  pkGroupFile = 3,
  pkComponentFile = 4,
  pkPageFile = 5,
  pkUninstaller = 6,
};

using TWorkInfoList = TRecordList<TWorkInfoRec>;
using TPageInfoList = TRecordList<TPageInfoRec>;
using TFileInfoList = TRecordList<TFileInfoRec>;
using TSpecialFileList = TRecordList<TSpecailFileRec>;
using TDirectoryInfoList = TRecordList<TDirectoryInfoRec>;
using TRegistryInfoList = TRecordList<TRegistryInfoRec>;
using TShortcutList = TRecordList<TShotCutInfoRec>;
using TInsPackList = TRecordList<TInsPackRec>;

// (Max, Position, Text, Flag); may be empty, and then nothing is reported.
using TReleaseProgressEvent = std::function<void(int32_t Max, int32_t Position, const AnsiString& Text, bool Flag)>;
// (Index, Count, FileName) before an entry's data is written.
using TCompileProgressEvent = std::function<void(int32_t Index, int32_t Count, const AnsiString& FileName)>;

class TProject;

struct IProjectComponents : IInterface {
  static constexpr TGUID IID = {0x47652318, 0x5D15, 0x4D6C, {0x85, 0xBD, 0xD8, 0xD2, 0x9F, 0x80, 0x46, 0x66}};
  virtual void ImportComponent(const AnsiString& name, const AnsiString& description, const TStringList& sources) = 0;
  virtual bool DeleteComponent(const AnsiString& name) = 0;
  virtual TStringList* GetComponentCatalog() = 0;
  virtual TStringList* GetComponents() = 0;
};

struct IProjectShortcuts : IInterface {
  static constexpr TGUID IID = {0x9BB93BFC, 0xB50D, 0x440D, {0xB1, 0xC9, 0x42, 0xD5, 0xCA, 0xCF, 0x21, 0x23}};
  virtual bool DeleteShortcut(TShotCutInfoRec* rec) = 0;
  virtual int32_t ShortcutCount(const AnsiString& folder) = 0;
  virtual TShotCutInfoRec* FindShortcut(const AnsiString& folder, int32_t index) = 0;
  virtual TShortcutList* GetShortcutList() = 0;
};

struct IProjectRegistry : IInterface {
  static constexpr TGUID IID = {0xB7DB35A4, 0x9271, 0x421B, {0x8E, 0xA3, 0x05, 0xA3, 0xB1, 0x49, 0xB5, 0xB6}};
  virtual bool DeleteRegistryValue(TRegistryInfoRec* rec) = 0;
  virtual bool DeleteRegistryKey(const AnsiString& keyPath) = 0;
  virtual int32_t RegistryCount(const AnsiString& keyPath) = 0;
  virtual TRegistryInfoRec* FindRegistryValue(const AnsiString& keyPath, int32_t index) = 0;
  virtual TRegistryInfoList* GetRegistryList() = 0;
};

struct IProjectFiles : IInterface {
  static constexpr TGUID IID = {0x327A7DF9, 0x5C10, 0x4BCA, {0x95, 0x9A, 0xA1, 0xB7, 0xBC, 0xFB, 0x67, 0x76}};
  virtual bool AddFiles(const AnsiString& targetFolder, AnsiString& lastFile) = 0;
  virtual TSpecialFileList* GetSpecialFileList() = 0;
  virtual bool SpecialFileExists(const AnsiString& targetFolder) = 0;
  // Takes ownership of sources.
  virtual int32_t AddSpecialFile(const AnsiString& targetFolder, TStringList* sources) = 0;
  virtual int32_t FileCount(const AnsiString& targetFolder) = 0;
  virtual TFileInfoRec* FindFile(const AnsiString& targetFolder, int32_t index) = 0;
  virtual bool AddFolder(const AnsiString& targetFolder) = 0;
  virtual TFileInfoList* GetFileList() = 0;
  virtual void RemoveFile(TFileInfoRec* rec) = 0;
  virtual void RemoveSpecialFile(TSpecailFileRec* rec) = 0;
  virtual void RemoveFilesUnder(TDirectoryInfoRec* node) = 0;
};

struct IProject : IInterface {
  static constexpr TGUID IID = {0xFD76CB23, 0xFA91, 0x4D7F, {0xA2, 0x62, 0x30, 0x1C, 0x73, 0x8E, 0xAD, 0xC1}};
  virtual void SaveToFile(const AnsiString& fileName) = 0;
  virtual void LoadFromFile(const AnsiString& fileName, bool addToHistory) = 0;
  virtual void GetPageNames(TStringList& names) = 0;
  virtual void SetBuildOptions(TBuildOptions* options) = 0;
  virtual void HideInterface() = 0;
  virtual TBuildOptions* GetBuildOptions() = 0;
  virtual TWorkInfoList* GetWorkList() = 0;
  virtual TPageInfoList* GetPageList() = 0;
  virtual TWorkInfoRec* FindWork(const AnsiString& name) = 0;
  virtual TPageInfoRec* GetMainProgramItem() = 0;
  virtual AnsiString GetProjectName() = 0;
  virtual AnsiString GetRunFile() = 0;
  virtual AnsiString GetRunWebPage() = 0;
  virtual TDirectoryInfoRec* AddDirectory(const AnsiString& name, const AnsiString& parentPath, uint8_t kind) = 0;
  virtual bool DeleteDirectory(TDirectoryInfoRec* node) = 0;
  virtual bool RenameDirectory(TDirectoryInfoRec* node, const AnsiString& newText) = 0;
  virtual TDirectoryInfoList* GetDirectoryList() = 0;
  virtual TProject* GetProjectObject() = 0;
};

struct IReleaseWork : IInterface {
  static constexpr TGUID IID = {0xFF9BB132, 0x1C8B, 0x46F5, {0xA6, 0x48, 0x12, 0x86, 0x3C, 0xEC, 0x71, 0x89}};
  virtual void ReleaseFiles(const AnsiString& fileName, TInsPackList& list, TReleaseProgressEvent onProgress) = 0;
  virtual void InstallFiles(const AnsiString& groupFolder, const AnsiString& installDir, const AnsiString& components,
                            const AnsiString& exeName, TInsPackList& list, TReleaseProgressEvent onProgress) = 0;
};

// What the payload release wrote into its own folder in the temporary folder: the files it
// unpacked (also one it was writing when it failed) and the folders it made for them, that
// folder first, outer ones before inner ones. The window that owns the entry list removes them
// when it closes; the engine deletes nothing. ReleaseFolder is that folder (with a trailing
// backslash), empty before the release made it.
struct IReleasedFiles : IInterface {
  static constexpr TGUID IID = {0x6C3E2A41, 0x8D57, 0x4B1F, {0x9A, 0x2E, 0x53, 0x0C, 0x7B, 0xD4, 0x18, 0xE6}};
  virtual void GetReleasedFiles(TStringList& files, TStringList& folders) = 0;
  virtual AnsiString ReleaseFolder() = 0;
};

struct ICompile : IInterface {
  static constexpr TGUID IID = {0xD50697C1, 0x45D5, 0x49C5, {0xA1, 0xB4, 0x35, 0x57, 0x36, 0xE1, 0x39, 0x71}};
  virtual AnsiString GetSetupFileName() = 0;
  virtual void SetProgressEvent(TCompileProgressEvent onProgress) = 0;
  virtual void SetProject(const TIntfPtr<IProject>& project) = 0;
  virtual void Compile() = 0;
  virtual void AddLogRecord(const AnsiString& path, uint8_t autoRun, uint8_t selfRegister, uint8_t regServer,
                            uint8_t logFlag, const AnsiString& text) = 0;
  virtual void CreateFolder(const AnsiString& path) = 0;
  virtual void ClearPackList(TInsPackList& list) = 0;
  virtual void SaveInstallLog() = 0;
};

struct IOpenHistory : IInterface {
  static constexpr TGUID IID = {0x15FB83D6, 0xB981, 0x4880, {0xB4, 0x15, 0xA0, 0xA9, 0x00, 0xE5, 0xE8, 0x55}};
  virtual TStringList* GetHistoryList() = 0;
};

#pragma once
// The project: the setting lists and records that describe one setup, their defaults from
// the data folder, the project file and the interfaces through which the wizard, the
// package engine and the designer reach it.
#include "core/SysIntfs.h"
#include "project/Operation.h"

class TOpenHistory;
struct TProjectFileData;

// Names of the value kinds in kind order. A name maps to its kind by an exact,
// case-sensitive match; anything else is kind 0.
extern const char* const WorkKindNames[8];
uint8_t WorkKindFromName(const AnsiString& name);
// Kinds whose value names a file (packed by the builder, rewritten by the release).
bool IsFileKind(uint8_t kind);

// Appends the items of a page template file (one item per line: page, item name, value,
// choices, kind name) to list. A missing file adds nothing; a line with fewer than five
// fields raises EListError.
void ReadPageTemplate(const AnsiString& fileName, TPageInfoList& list);
// Fills catalog with "name=description" for every component of the catalogue INI file.
void ReadComponentCatalog(const AnsiString& fileName, TStringList& catalog);

class TCustomProject : public TOperation {
public:
  TCustomProject();
  ~TCustomProject() override;

  // Declaration order is creation order.
  TWorkInfoList FWorkInfos;
  TPageInfoList FPageInfos;
  TFileInfoList FFileInfos;
  TDirectoryInfoList FDirectoryInfos;
  TSpecialFileList FSpecialFiles;
  TRegistryInfoList FRegistryInfos;
  TShortcutList FShortcuts;
  TStringList FComponentCatalog;
  TStringList FComponents;

  // First setting whose name equals by SameText, or null.
  TWorkInfoRec* FindWork(const AnsiString& name) const;
  // The setting's hint from Ins.ini, section "基本信息描述"; empty when missing.
  AnsiString ReadHint(const AnsiString& name) const;
  bool DirectoryNodeExists(const AnsiString& name, const AnsiString& path) const;
  // Byte-exact match of both paths.
  bool FileExistsIn(const AnsiString& sourcePath, const AnsiString& targetFolder) const;

  void ClearWorkInfos() { FWorkInfos.Clear(); }
  void ClearPageInfos() { FPageInfos.Clear(); }
  void ClearFileInfos() { FFileInfos.Clear(); }
  void ClearDirectoryInfos() { FDirectoryInfos.Clear(); }
  void ClearSpecialFiles() { FSpecialFiles.Clear(); }
  void ClearRegistryInfos() { FRegistryInfos.Clear(); }
  void ClearShortcuts() { FShortcuts.Clear(); }

protected:
  void CreateDefaultSettings();
};

class TProject : public TCustomProject,
                 public IProject,
                 public IProjectComponents,
                 public IProjectShortcuts,
                 public IProjectRegistry,
                 public IProjectFiles {
public:
  TProject();
  ~TProject() override;
  GB_INTERFACED

  TBuildOptions* FBuildOptions = nullptr;  // the caller's, not owned
  TOpenHistory* FHistory = nullptr;        // owned (one counted reference held)
  AnsiString FFileName;

  AnsiString GetSetupIcon();
  AnsiString GetUninstallIcon();

  // IProject
  void SaveToFile(const AnsiString& fileName) override;
  void LoadFromFile(const AnsiString& fileName, bool addToHistory) override;
  void GetPageNames(TStringList& names) override;
  void SetBuildOptions(TBuildOptions* options) override;
  void HideInterface() override;
  TBuildOptions* GetBuildOptions() override { return FBuildOptions; }
  TWorkInfoList* GetWorkList() override { return &FWorkInfos; }
  TPageInfoList* GetPageList() override { return &FPageInfos; }
  TWorkInfoRec* FindWork(const AnsiString& name) override { return TCustomProject::FindWork(name); }
  TPageInfoRec* GetMainProgramItem() override;
  AnsiString GetProjectName() override;
  AnsiString GetRunFile() override;
  AnsiString GetRunWebPage() override;
  TDirectoryInfoRec* AddDirectory(const AnsiString& name, const AnsiString& parentPath, uint8_t kind) override;
  bool DeleteDirectory(TDirectoryInfoRec* node) override;
  bool RenameDirectory(TDirectoryInfoRec* node, const AnsiString& newText) override;
  TDirectoryInfoList* GetDirectoryList() override { return &FDirectoryInfos; }
  TProject* GetProjectObject() override { return this; }

  // IProjectComponents
  void ImportComponent(const AnsiString& name, const AnsiString& description, const TStringList& sources) override;
  bool DeleteComponent(const AnsiString& name) override;
  TStringList* GetComponentCatalog() override { return &FComponentCatalog; }
  TStringList* GetComponents() override { return &FComponents; }

  // IProjectShortcuts
  bool DeleteShortcut(TShotCutInfoRec* rec) override;
  int32_t ShortcutCount(const AnsiString& folder) override;
  TShotCutInfoRec* FindShortcut(const AnsiString& folder, int32_t index) override;
  TShortcutList* GetShortcutList() override { return &FShortcuts; }

  // IProjectRegistry
  bool DeleteRegistryValue(TRegistryInfoRec* rec) override;
  bool DeleteRegistryKey(const AnsiString& keyPath) override;
  int32_t RegistryCount(const AnsiString& keyPath) override;
  TRegistryInfoRec* FindRegistryValue(const AnsiString& keyPath, int32_t index) override;
  TRegistryInfoList* GetRegistryList() override { return &FRegistryInfos; }

  // IProjectFiles
  bool AddFiles(const AnsiString& targetFolder, AnsiString& lastFile) override;
  TSpecialFileList* GetSpecialFileList() override { return &FSpecialFiles; }
  bool SpecialFileExists(const AnsiString& targetFolder) override;
  int32_t AddSpecialFile(const AnsiString& targetFolder, TStringList* sources) override;
  int32_t FileCount(const AnsiString& targetFolder) override;
  TFileInfoRec* FindFile(const AnsiString& targetFolder, int32_t index) override;
  bool AddFolder(const AnsiString& targetFolder) override;
  TFileInfoList* GetFileList() override { return &FFileInfos; }
  void RemoveFile(TFileInfoRec* rec) override;
  void RemoveSpecialFile(TSpecailFileRec* rec) override;
  void RemoveFilesUnder(TDirectoryInfoRec* node) override;

  // What AddFolder does once a folder is chosen: the folder's tree below treePath. With
  // contentsOnly the folder's own entries go straight into treePath, without a node for it.
  void AddFolderTree(const AnsiString& folder, const AnsiString& treePath, bool contentsOnly = false);
  // The part of LoadFromFile after the file was read: merges the settings, takes over every
  // other list (IconIndex and Hint computed here) and names the project fileName.
  void LoadFromData(TProjectFileData& data, const AnsiString& fileName);

private:
  // A file record for sourcePath under targetFolder, appended to the file list.
  TFileInfoRec* MakeFileRecord(const AnsiString& sourcePath, const AnsiString& targetFolder);
  // throughLink: folder was reached through a linked folder; ownNode false: the folder's
  // entries go into treePath itself.
  void ScanFolder(const AnsiString& folder, const AnsiString& treePath, bool throughLink = false, bool ownNode = true);
};

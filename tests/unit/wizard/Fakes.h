#pragma once
// Small stand-ins for the project and the package engine, recording what the wizard asks.
#include <functional>
#include <map>
#include <string>
#include <vector>
#include <stdexcept>

#include "core/SysIntfs.h"
#include "core/TextUtils.h"
#include "system/FileCtrl.h"
#include "wizard/SetupForm.h"

class TFakeProject : public TInterfacedObject, public IProject, public IProjectComponents, public IProjectShortcuts {
public:
  GB_INTERFACED

  TWorkInfoList Works;
  TPageInfoList Pages;
  TStringList Components;
  TShortcutList Shortcuts;
  AnsiString RunFile, RunWebPage;

  void AddShortcut(const AnsiString& folder, const AnsiString& name, const AnsiString& target,
                   const AnsiString& arguments = "", const AnsiString& description = "") {
    TShotCutInfoRec* r = Shortcuts.Add();
    r->Folder = folder;
    r->Name = name;
    r->Target = target;
    r->Arguments = arguments;
    r->Description = description;
  }

  void AddWork(const AnsiString& name, const AnsiString& value) {
    TWorkInfoRec* w = Works.Add();
    w->Name = name;
    w->Value = value;
  }
  void AddPage(const AnsiString& page, const AnsiString& name, const AnsiString& value) {
    TPageInfoRec* p = Pages.Add();
    p->Page = page;
    p->Name = name;
    p->Value = value;
  }

  [[noreturn]] static void Unused() { throw std::logic_error("not used by the wizard"); }
  void SaveToFile(const AnsiString&) override { Unused(); }
  void LoadFromFile(const AnsiString&, bool) override { Unused(); }
  void GetPageNames(TStringList&) override { Unused(); }
  void SetBuildOptions(TBuildOptions*) override { Unused(); }
  void HideInterface() override { Unused(); }
  TBuildOptions* GetBuildOptions() override { Unused(); }
  TWorkInfoList* GetWorkList() override { return &Works; }
  TPageInfoList* GetPageList() override { return &Pages; }
  TWorkInfoRec* FindWork(const AnsiString& name) override {
    for (TWorkInfoRec* w : Works)
      if (SameText(w->Name, name)) return w;
    return nullptr;
  }
  TPageInfoRec* GetMainProgramItem() override {
    for (TPageInfoRec* p : Pages)
      if (SameText(p->Page, "安装完毕") && SameText(p->Name, "主程序")) return p;
    return nullptr;
  }
  AnsiString GetProjectName() override { return FindWork("项目名称") ? FindWork("项目名称")->Value : ""; }
  AnsiString GetRunFile() override { return RunFile; }
  AnsiString GetRunWebPage() override { return RunWebPage; }
  TDirectoryInfoRec* AddDirectory(const AnsiString&, const AnsiString&, uint8_t) override { Unused(); }
  bool DeleteDirectory(TDirectoryInfoRec*) override { Unused(); }
  bool RenameDirectory(TDirectoryInfoRec*, const AnsiString&) override { Unused(); }
  TDirectoryInfoList* GetDirectoryList() override { Unused(); }
  TProject* GetProjectObject() override { return nullptr; }

  void ImportComponent(const AnsiString&, const AnsiString&, const TStringList&) override { Unused(); }
  bool DeleteComponent(const AnsiString&) override { Unused(); }
  TStringList* GetComponentCatalog() override { Unused(); }
  TStringList* GetComponents() override { return &Components; }

  bool DeleteShortcut(TShotCutInfoRec*) override { Unused(); }
  int32_t ShortcutCount(const AnsiString&) override { Unused(); }
  TShotCutInfoRec* FindShortcut(const AnsiString&, int32_t) override { Unused(); }
  TShortcutList* GetShortcutList() override { return &Shortcuts; }
};

inline HResult TFakeProject::QueryInterface(const TGUID& iid, void** obj) {
  if (iid == IProject::IID || iid == IID_IInterface) {
    *obj = static_cast<IProject*>(this);
  } else if (iid == IProjectComponents::IID) {
    *obj = static_cast<IProjectComponents*>(this);
  } else if (iid == IProjectShortcuts::IID) {
    *obj = static_cast<IProjectShortcuts*>(this);
  } else {
    *obj = nullptr;
    return E_NOINTERFACE_;
  }
  AddRefImpl();
  return S_OK_;
}

struct TLogCall {
  AnsiString Path, Text;
  bool operator==(const TLogCall& o) const { return Path == o.Path && Text == o.Text; }
};

struct TInstallCall {
  AnsiString GroupFolder, InstallDir, Components, ExeName;
};

class TFakeCompile : public TInterfacedObject, public ICompile, public IReleaseWork, public IReleasedFiles {
public:
  GB_INTERFACED

  // What the release does: by default it fills the list with n entries and reports each.
  std::function<void(TInsPackList&, const TReleaseProgressEvent&)> Release;
  std::function<void(const TReleaseProgressEvent&)> Install;
  AnsiString ReleasedFile;
  std::vector<TInstallCall> Installs;
  int SetProjectCalls = 0, ClearCalls = 0, SaveLogCalls = 0;
  int* ClearCounter = nullptr;  // outlives the engine
  // The log as the engine would keep it: AddLogRecord and one record per folder CreateFolder
  // was asked for (made on disk unless FailFolders).
  std::vector<TLogCall> LogRecords;
  bool FailFolders = false;
  std::function<void()> OnSaveLog;
  // What the release says it wrote below the temporary folder.
  TStringList UnpackedFiles, UnpackedFolders;

  void ReleaseFiles(const AnsiString& fileName, TInsPackList& list, TReleaseProgressEvent onProgress) override {
    ReleasedFile = fileName;
    if (Release) Release(list, onProgress);
  }
  void InstallFiles(const AnsiString& groupFolder, const AnsiString& installDir, const AnsiString& components,
                    const AnsiString& exeName, TInsPackList&, TReleaseProgressEvent onProgress) override {
    Installs.push_back({groupFolder, installDir, components, exeName});
    if (Install) Install(onProgress);
  }

  AnsiString GetSetupFileName() override { return ""; }
  void SetProgressEvent(TCompileProgressEvent) override {}
  void SetProject(const TIntfPtr<IProject>&) override { ++SetProjectCalls; }
  void Compile() override {}
  void AddLogRecord(const AnsiString& path, uint8_t, uint8_t, uint8_t, uint8_t, const AnsiString& text) override {
    LogRecords.push_back({path, text});
  }
  void CreateFolder(const AnsiString& path) override {
    if (!FailFolders) ForceFolders(path);
    LogRecords.push_back({path, "创建的文件夹"});
  }
  void ClearPackList(TInsPackList& list) override {
    ++ClearCalls;
    if (ClearCounter) ++*ClearCounter;
    list.Clear();
  }
  void SaveInstallLog() override {
    ++SaveLogCalls;
    if (OnSaveLog) OnSaveLog();
  }
  void GetReleasedFiles(TStringList& files, TStringList& folders) override {
    files = UnpackedFiles;
    folders = UnpackedFolders;
  }
  AnsiString Unpacked = TempFolder();
  AnsiString ReleaseFolder() override { return Unpacked; }
};

inline HResult TFakeCompile::QueryInterface(const TGUID& iid, void** obj) {
  if (iid == ICompile::IID || iid == IID_IInterface) {
    *obj = static_cast<ICompile*>(this);
  } else if (iid == IReleaseWork::IID) {
    *obj = static_cast<IReleaseWork*>(this);
  } else if (iid == IReleasedFiles::IID) {
    *obj = static_cast<IReleasedFiles*>(this);
  } else {
    *obj = nullptr;
    return E_NOINTERFACE_;
  }
  AddRefImpl();
  return S_OK_;
}

// Plays the window: runs the unpack dialog with timer ticks and records what is shown.
class TFakeView : public ISetupView, public IReleasePlanView {
public:
  bool Interactive = true;
  bool Destroyed = false;
  bool DialogOpen = false;
  int DialogTicks = 0;  // timer ticks until the dialog closed
  int CloseRequestsRefused = 0;
  std::vector<int> Pages;
  std::map<std::string, std::vector<AnsiString>> Lines;  // memo name -> lines added
  TFrm_ReleasePlan* Dialog = nullptr;

  // Plays a picture the window cannot load.
  std::function<void(const TControl&)> OnControlChanged;
  void ControlChanged(const TControl& c) override {
    if (OnControlChanged) OnControlChanged(c);
  }
  void PageChanged(int index) override { Pages.push_back(index); }
  void LineAdded(const TControl& memo, const AnsiString& line) override { Lines[memo.Name].push_back(line); }
  void RowsChanged(const char*) override {}
  void ShowReleaseDialog(TFrm_ReleasePlan& dialog) override {
    Dialog = &dialog;
    DialogOpen = true;
    dialog.SetView(this);
    dialog.FormShow();
    for (int i = 0; DialogOpen && i < 10; ++i) {
      ++DialogTicks;
      dialog.Timer1Timer();
    }
    Dialog = nullptr;
  }
  void DestroyWindow() override { Destroyed = true; }
  bool HasInteractivePages() const override { return Interactive; }

  void ProgressChanged(const TControl&) override {}
  void CloseDialog() override {
    if (Dialog && Dialog->FormCloseQuery())
      DialogOpen = false;
    else
      ++CloseRequestsRefused;
  }
};

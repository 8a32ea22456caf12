#include "project/Project.h"

#include "core/Exceptions.h"
#include "core/Sysconsts.h"
#include "core/TextUtils.h"
#include "project/IniFile.h"
#include "project/OpenHistory.h"
#include "system/SysKernel.h"

bool IsFileKind(uint8_t kind) { return kind == twkFile || kind == twkIco || kind == twkJpg; }

const char* const WorkKindNames[8] = {"twkStr",    "twkInt",    "twkFile", "twkIco",
                                      "twkSelect", "twkRemark", "twkJpg",  "twkComponent"};

uint8_t WorkKindFromName(const AnsiString& name) {
  for (uint8_t i = 0; i < 8; ++i)
    if (name == WorkKindNames[i]) return i;
  return 0;
}

void ReadPageTemplate(const AnsiString& fileName, TPageInfoList& list) {
  if (!FileExists(fileName)) return;
  TStringList lines;
  lines.SetText(ReadFileText(fileName));
  TStringList fields;
  for (int i = 0; i < lines.Count(); ++i) {
    fields.SetDelimitedText(lines[i], ';');
    if (fields.Count() < 5) {
      // The template is the tool's own file: a short line is a format error, named precisely.
      throw EListError(Format("List index out of bounds (%d) in \"%s\" line %d", fields.Count(), fileName.c_str(), i + 1));
    }
    auto rec = std::make_unique<TPageInfoRec>();
    rec->Page = fields[0];
    rec->Name = fields[1];
    rec->Items = fields[3];
    rec->Kind = WorkKindFromName(fields[4]);
    rec->Value = fields[2];
    if (rec->Kind == twkJpg && rec->Name == "标题图片")
      rec->Value = BaseFolder() + ((rec->Page == "欢迎" || rec->Page == "安装完毕") ? "Image\\Head.jpg" : "Image\\Caption.jpg");
    list.Add(std::move(rec));
  }
}

void ReadComponentCatalog(const AnsiString& fileName, TStringList& catalog) {
  TIniFile ini(fileName);
  ini.ReadSection("Com", catalog);
  for (int i = 0; i < catalog.Count(); ++i) catalog[i] = catalog[i] + "=" + ini.ReadString("Description", catalog[i], "");
}

// ---- TCustomProject ----

TCustomProject::TCustomProject() {
  CreateDefaultSettings();
  ReadPageTemplate(BaseFolder() + "Page.txt", FPageInfos);
  ReadComponentCatalog(BaseFolder() + "Imports\\ComList.ini", FComponentCatalog);
}

TCustomProject::~TCustomProject() {
  ClearWorkInfos();
  ClearPageInfos();
  ClearFileInfos();
  ClearSpecialFiles();
  ClearRegistryInfos();
  ClearShortcuts();
  ClearDirectoryInfos();
  FComponentCatalog.Clear();
  FComponents.Clear();
}

void TCustomProject::CreateDefaultSettings() {
  struct TDefault {
    const char* Name;
    const char* Value;
    uint8_t Kind;
    const char* Items;
  };
  static const TDefault defaults[] = {
      {"项目名称", "", twkStr, ""},
      {"作者名称", "", twkStr, ""},
      {"版本号", "", twkStr, ""},
      {"作者网址", "", twkStr, ""},
      {"压缩类型", "", twkSelect, "不压缩,最快压缩,默认压缩,最好压缩"},
      {"安装程序图标", "", twkIco, ""},
      {"卸载程序图标", "", twkIco, ""},
      {"安装界面显示", "是", twkSelect, "是,否"},
  };
  // Ins.ini is read once for all eight hints.
  TIniFile ini(BaseFolder() + "Ins.ini");
  for (const auto& d : defaults) {
    TWorkInfoRec* r = FWorkInfos.Add();
    r->Name = d.Name;
    r->Value = d.Value;
    r->Items = d.Items;
    r->Kind = d.Kind;
    r->Hint = ini.ReadString("基本信息描述", d.Name, "");
  }
}

TWorkInfoRec* TCustomProject::FindWork(const AnsiString& name) const {
  for (TWorkInfoRec* r : FWorkInfos)
    if (SameText(r->Name, name)) return r;
  return nullptr;
}

AnsiString TCustomProject::ReadHint(const AnsiString& name) const {
  return TIniFile(BaseFolder() + "Ins.ini").ReadString("基本信息描述", name, "");
}

bool TCustomProject::DirectoryNodeExists(const AnsiString& name, const AnsiString& path) const {
  for (TDirectoryInfoRec* r : FDirectoryInfos)
    if (SameText(r->Name, name) && SameText(r->Path, path)) return true;
  return false;
}

bool TCustomProject::FileExistsIn(const AnsiString& sourcePath, const AnsiString& targetFolder) const {
  for (TFileInfoRec* r : FFileInfos)
    if (r->TargetDir == targetFolder && r->SourcePath == sourcePath) return true;
  return false;
}

// ---- TProject ----

TProject::TProject() {
  FHistory = new TOpenHistory();
  FHistory->_AddRef();
}

TProject::~TProject() {
  // The history goes with the project; a reference someone else still holds keeps it alive.
  FHistory->_Release();
  FHistory = nullptr;
}

HResult TProject::QueryInterface(const TGUID& iid, void** obj) {
  void* p = nullptr;
  if (iid == IProject::IID || iid == IID_IInterface)
    p = static_cast<IProject*>(this);
  else if (iid == IProjectComponents::IID)
    p = static_cast<IProjectComponents*>(this);
  else if (iid == IProjectShortcuts::IID)
    p = static_cast<IProjectShortcuts*>(this);
  else if (iid == IProjectRegistry::IID)
    p = static_cast<IProjectRegistry*>(this);
  else if (iid == IProjectFiles::IID)
    p = static_cast<IProjectFiles*>(this);
  if (!obj) return E_NOINTERFACE_;
  *obj = p;
  if (!p) return E_NOINTERFACE_;
  AddRefImpl();
  return S_OK_;
}

namespace {
AnsiString WorkValue(const TCustomProject& project, const AnsiString& name) {
  TWorkInfoRec* r = project.FindWork(name);
  return r ? r->Value : AnsiString();
}
}  // namespace

AnsiString TProject::GetSetupIcon() { return WorkValue(*this, "安装程序图标"); }

AnsiString TProject::GetUninstallIcon() { return WorkValue(*this, "卸载程序图标"); }

void TProject::GetPageNames(TStringList& names) {
  for (TPageInfoRec* r : FPageInfos)
    if (names.IndexOf(r->Page) < 0) names.Add(r->Page);
}

void TProject::SetBuildOptions(TBuildOptions* options) {
  FBuildOptions = options;
  if (!options) return;
  if (TWorkInfoRec* r = FindWork("作者名称")) r->Value = options->AuthorName;
  if (TWorkInfoRec* r = FindWork("作者网址")) r->Value = options->AuthorUrl;
  if (TWorkInfoRec* r = FindWork("压缩类型")) {
    TStringList choices;
    choices.SetDelimitedText(r->Items, ',');
    r->Value = choices[options->CompressionLevel];
  }
}

void TProject::HideInterface() {
  if (TWorkInfoRec* r = FindWork("安装界面显示")) r->Value = "否";
}

namespace {
TPageInfoRec* FindPageItem(const TPageInfoList& list, const AnsiString& page, const AnsiString& name) {
  for (TPageInfoRec* r : list)
    if (SameText(r->Page, page) && SameText(r->Name, name)) return r;
  return nullptr;
}

// The index-th (from 0) record for which match holds, or null.
template <class L, class M>
auto FindNth(const L& list, int32_t index, M match) -> decltype(list.First()) {
  if (index < 0) return nullptr;
  int32_t n = 0;
  for (auto* r : list)
    if (match(*r) && n++ == index) return r;
  return nullptr;
}

template <class L, class M>
int32_t CountOf(const L& list, M match) {
  int32_t n = 0;
  for (auto* r : list)
    if (match(*r)) ++n;
  return n;
}
}  // namespace

TPageInfoRec* TProject::GetMainProgramItem() { return FindPageItem(FPageInfos, "安装完毕", "主程序"); }

AnsiString TProject::GetProjectName() { return WorkValue(*this, "项目名称"); }

AnsiString TProject::GetRunFile() {
  TPageInfoRec* r = FindPageItem(FPageInfos, "安装完毕", "安装完成后运行文件");
  return r ? r->Value : AnsiString();
}

AnsiString TProject::GetRunWebPage() {
  TPageInfoRec* r = FindPageItem(FPageInfos, "安装完毕", "安装完成后运行网页");
  return r ? r->Value : AnsiString();
}

TDirectoryInfoRec* TProject::AddDirectory(const AnsiString& name, const AnsiString& parentPath, uint8_t kind) {
  TDirectoryInfoRec* r = FDirectoryInfos.Add();
  r->Name = name;
  r->Path = parentPath;
  r->Kind = kind;
  return r;
}

bool TProject::DeleteShortcut(TShotCutInfoRec* rec) {
  if (!ConfirmBox("要删除该条记录吗")) return false;
  FShortcuts.Remove(rec);
  return true;
}

int32_t TProject::ShortcutCount(const AnsiString& folder) {
  return CountOf(FShortcuts, [&](const TShotCutInfoRec& r) { return SameText(r.Folder, folder); });
}

TShotCutInfoRec* TProject::FindShortcut(const AnsiString& folder, int32_t index) {
  return FindNth(FShortcuts, index, [&](const TShotCutInfoRec& r) { return SameText(r.Folder, folder); });
}

bool TProject::DeleteRegistryValue(TRegistryInfoRec* rec) {
  if (!ConfirmBox("要删除该条记录吗")) return false;
  FRegistryInfos.Remove(rec);
  return true;
}

bool TProject::DeleteRegistryKey(const AnsiString& keyPath) {
  if (!ConfirmBox("要删除选中的记录吗")) return false;
  FRegistryInfos.RemoveIf([&](const TRegistryInfoRec& r) { return ContainsStr(r.KeyPath, keyPath); });
  return true;
}

int32_t TProject::RegistryCount(const AnsiString& keyPath) {
  return CountOf(FRegistryInfos, [&](const TRegistryInfoRec& r) { return SameText(r.KeyPath, keyPath); });
}

TRegistryInfoRec* TProject::FindRegistryValue(const AnsiString& keyPath, int32_t index) {
  return FindNth(FRegistryInfos, index, [&](const TRegistryInfoRec& r) { return SameText(r.KeyPath, keyPath); });
}

bool TProject::SpecialFileExists(const AnsiString& targetFolder) {
  for (TSpecailFileRec* r : FSpecialFiles)
    if (SameText(r->TargetDir, targetFolder)) return true;
  return false;
}

int32_t TProject::AddSpecialFile(const AnsiString& targetFolder, TStringList* sources) {
  std::unique_ptr<TStringList> owned(sources);
  TSpecailFileRec* r = FSpecialFiles.Add();
  r->TargetDir = targetFolder;
  if (owned) r->Sources = std::move(owned);
  return FSpecialFiles.Count() - 1;
}

int32_t TProject::FileCount(const AnsiString& targetFolder) {
  return CountOf(FFileInfos, [&](const TFileInfoRec& r) { return SameText(r.TargetDir, targetFolder); });
}

TFileInfoRec* TProject::FindFile(const AnsiString& targetFolder, int32_t index) {
  return FindNth(FFileInfos, index, [&](const TFileInfoRec& r) { return SameText(r.TargetDir, targetFolder); });
}

void TProject::RemoveFile(TFileInfoRec* rec) { FFileInfos.Remove(rec); }

void TProject::RemoveSpecialFile(TSpecailFileRec* rec) { FSpecialFiles.Remove(rec); }

void TProject::RemoveFilesUnder(TDirectoryInfoRec* node) {
  if (!node) return;
  const AnsiString full = node->Path + "\\" + node->Name;
  FFileInfos.RemoveIf([&](const TFileInfoRec& r) { return ContainsStr(r.TargetDir, full); });
}

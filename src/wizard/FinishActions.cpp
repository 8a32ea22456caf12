// The finish page's actions: start the main program or the read-me, make the project's
// shortcuts on the desktop, in the start menu and in the quick-launch bar, and the reboot.
#include <vector>

#include "core/Exceptions.h"
#include "core/TextUtils.h"
#include "system/FileCtrl.h"
#include "system/RunLog.h"
#include "system/SysKernel.h"
#include "wizard/SetupForm.h"

namespace {
constexpr int SW_SHOWNORMAL_ = 1;
// The shell's link object and the file calls take paths below this length.
constexpr size_t kMaxPath = 260;
// How long a program started on a file of the temporary folder is given to open it.
constexpr uint32_t kReadTimeoutMs = 5000;

struct TLinkPlace {
  int Code;            // finish row code
  const char* Prefix;  // GBK bytes the shortcut's Folder starts with
  int Csidl;
  const char* Below;   // below the special folder
};
const TLinkPlace kPlaces[] = {
    {1, "桌面", CSIDL_DESKTOP_, ""},
    {2, "开始菜单", CSIDL_PROGRAMS_, ""},
    {3, "快速启动栏", CSIDL_APPDATA_, "\\Microsoft\\Internet Explorer\\Quick Launch"},
};

// No byte a Windows file name cannot hold; GBK pairs are stepped over whole, so a trail
// byte 0x5C or 0x7C is part of its character.
bool ValidNameBytes(const AnsiString& s, bool allowDelimiters) {
  for (size_t i = 0; i < s.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if (IsGbkLeadByte(c) && i + 1 < s.size()) {
      ++i;
      continue;
    }
    if (c < 0x20 || c == '"' || c == '*' || c == '?' || c == '<' || c == '>' || c == '|') return false;
    if (!allowDelimiters && (c == '\\' || c == '/' || c == ':')) return false;
  }
  return true;
}

bool ValidFileName(const AnsiString& name) { return !name.empty() && name != "." && name != ".." && ValidNameBytes(name, false); }

// The folder levels of a subfolder path, without empty ones (a leading, doubled or trailing
// "\"); false when a level is no valid file name.
bool SplitSubfolder(const AnsiString& subfolder, std::vector<AnsiString>& levels) {
  AnsiString part;
  for (size_t i = 0; i <= subfolder.size(); ++i) {
    const unsigned char c = i < subfolder.size() ? static_cast<unsigned char>(subfolder[i]) : '\\';
    if (i < subfolder.size() && IsGbkLeadByte(c) && i + 1 < subfolder.size()) {
      part += subfolder.substr(i, 2);
      ++i;
    } else if (c == '\\') {
      if (!part.empty()) {
        if (!ValidFileName(part)) return false;
        levels.push_back(part);
      }
      part.clear();
    } else {
      part += static_cast<char>(c);
    }
  }
  return true;
}

// A full path on a drive or a share that the shell could start.
bool ValidTarget(const AnsiString& target) {
  if (target.size() < 3 || target.size() >= kMaxPath) return false;
  const bool drive = ((target[0] >= 'A' && target[0] <= 'Z') || (target[0] >= 'a' && target[0] <= 'z')) &&
                     target[1] == ':' && target[2] == '\\';
  const bool share = target[0] == '\\' && target[1] == '\\';
  if (!drive && !share) return false;
  if (!ValidNameBytes(target.substr(2), true)) return false;
  return target.find(':', 2) == AnsiString::npos;
}
}  // namespace

bool TFrm_Setup::ValidInstallFolder(const AnsiString& folder) {
  std::vector<AnsiString> levels;
  return ValidTarget(folder) && SplitSubfolder(folder.substr(2), levels) &&
         (folder[0] != '\\' || levels.size() >= 2);  // a share: server and share at least
}

void TFrm_Setup::RunFinishActions(bool startPrograms) {
  FLinkErrors.Clear();
  FLinkErrorText.clear();
  for (const TCheckRow& row : lFinished) {
    if (!row.Checked || row.SubItems.Count() < 1) continue;
    switch (StrToIntDef(Trim(row.SubItems[0]), -1)) {
      case 0:
        if (!startPrograms) break;
        // The installation has pointed the item at the installed program; a path that names
        // nothing (the program was not among the files) starts nothing.
        if (TPageInfoRec* item = FProject ? FProject->GetMainProgramItem() : nullptr)
          if (!item->Value.empty() && FileExists(item->Value)) OpenWithShell(item->Value);
        break;
      case 1: CreatePlaceShortcuts(1); break;
      case 2: CreatePlaceShortcuts(2); break;
      case 3: CreatePlaceShortcuts(3); break;
      case 4:
        if (startPrograms && row.SubItems.Count() > 1 && !row.SubItems[1].empty()) OpenWithShell(row.SubItems[1]);
        break;
      default: break;
    }
  }
  if (FLinkErrors.Count() == 0) return;
  AnsiString text = "以下快捷方式无法创建：\r\n";
  for (int i = 0; i < FLinkErrors.Count() && i < 10; ++i) text += "\r\n" + FLinkErrors[i];
  if (FLinkErrors.Count() > 10) text += "\r\n...";
  ShowErrorBox(text + "\r\n\r\n" + FLinkErrorText);
}

void TFrm_Setup::CreatePlaceShortcuts(int code) {
  const TLinkPlace* place = nullptr;
  for (const TLinkPlace& p : kPlaces)
    if (p.Code == code) place = &p;
  TIntfPtr<IProjectShortcuts> shortcuts = Supports<IProjectShortcuts>(FProject);
  if (!place || !shortcuts || !shortcuts->GetShortcutList()) return;
  const AnsiString prefix = place->Prefix;
  const AnsiString base = ShellFolderPath(place->Csidl) + place->Below;
  TPageInfoRec* mainItem = FProject->GetMainProgramItem();
  for (TShotCutInfoRec* rec : *shortcuts->GetShortcutList()) {
    if (rec->Folder.compare(0, prefix.size(), prefix) != 0) continue;
    // "桌面\Tools" and "桌面Tools" both mean the folder Tools on the desktop.
    AnsiString rest = rec->Folder.substr(prefix.size());
    if (!rest.empty() && rest[0] == '\\') rest.erase(0, 1);
    const AnsiString subfolder = code == 2 ? Edt_SelectFolder.Caption + "\\" + rest : rest;
    auto make = [&](const AnsiString& name, const AnsiString& target, const AnsiString& arguments,
                    const AnsiString& description) {
      try {
        CreateShortcutIn(base, subfolder, name, target, arguments, description);
      } catch (const Exception& e) {
        // The installation is done: a link that cannot be written must not undo it.
        FLinkErrors.Add(name + " -> " + target);
        runlog::Write("快捷方式", name + " -> " + target, "无法创建：" + e.Message());
        if (FLinkErrorText.empty()) FLinkErrorText = e.Message();
      }
    };
    make(rec->Name, rec->Target, rec->Arguments, rec->Description);
    if (code == 2 && mainItem && SameText(rec->Target, mainItem->Value))
      make("卸载", ExtractFilePath(rec->Target) + "UnIns.exe", "", "");
  }
}

void TFrm_Setup::CreateShortcutIn(const AnsiString& base, const AnsiString& subfolder, const AnsiString& name,
                                  const AnsiString& target, const AnsiString& arguments,
                                  const AnsiString& description) {
  std::vector<AnsiString> levels;
  if (base.empty() || !SplitSubfolder(subfolder, levels) || !ValidFileName(name) || !ValidTarget(target)) return;
  AnsiString folder = base;
  for (const AnsiString& level : levels) folder += "\\" + level;
  const AnsiString linkPath = folder + "\\" + name + ".lnk";
  if (linkPath.size() >= kMaxPath) return;
  if (!FolderExists(folder) && FCompile) {
    FCompile->CreateFolder(folder);
    runlog::Write("文件夹", folder, "已创建");
  }
  if (!FolderExists(folder)) return;
  const bool there = FileExists(linkPath);
  if (!there) CreateLinkFile(folder, name + ".lnk", target, arguments, description);
  runlog::Write("快捷方式", linkPath, there ? "已存在，保留" : "已创建");
  // Logged also when it was there already: the uninstaller removes what the log names.
  if (FCompile) FCompile->AddLogRecord(linkPath, 0, 0, 0, 0, AnsiString());
}

void TFrm_Setup::CreateLinkFile(const AnsiString& folder, const AnsiString& fileName, const AnsiString& target,
                                const AnsiString& arguments, const AnsiString& description) {
  CreateShellLink(folder + "\\" + fileName, target, arguments, description);
}

void TFrm_Setup::OpenWithShell(const AnsiString& path) {
  // A read-me unpacked into the temporary folder goes with the window, which may close at
  // once: the program that shows it must have read it by then.
  if (StartsText(AppendPathDelimiter(TempFolder()), path)) {
    ShellOpenAndWait("Open", path, "", ExtractFilePath(path), SW_SHOWNORMAL_, kReadTimeoutMs);
    return;
  }
  ShellOpen("Open", path, "", ExtractFilePath(path), SW_SHOWNORMAL_);
}

void TFrm_Setup::RebootSystem() { RebootMachine(); }

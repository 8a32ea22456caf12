#include "engine/Compile.h"

#include "core/TextUtils.h"
#include "engine/Package.h"
#include "system/FileCtrl.h"
#include "system/FileStream.h"
#include "system/Platform.h"
#include "system/SysKernel.h"

HResult TCompile::QueryInterface(const TGUID& iid, void** obj) {
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

TCompile::TCompile() : FLog(std::make_unique<TInstallLog>()) {}

TCompile::~TCompile() = default;

IProject& TCompile::Project() {
  if (!FProject) throw Exception("安装引擎没有项目");
  return *FProject;
}

void TCompile::AddLogRecord(const AnsiString& path, uint8_t autoRun, uint8_t selfRegister, uint8_t regServer,
                            uint8_t logFlag, const AnsiString& text) {
  FLog->AddRecord(path, autoRun, selfRegister, regServer, logFlag, text);
}

namespace {
// Splits at backslashes (and slashes when asked), stepping over GBK double-byte characters
// whose trail byte is 0x5C.
std::vector<AnsiString> SplitAtBackslash(const AnsiString& path, bool slashToo = false) {
  std::vector<AnsiString> parts(1);
  for (size_t i = 0; i < path.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(path[i]);
    if (IsGbkLeadByte(c) && i + 1 < path.size()) {
      parts.back() += path.substr(i, 2);
      ++i;
    } else if (c == '\\' || (slashToo && c == '/')) {
      parts.emplace_back();
    } else {
      parts.back() += static_cast<char>(c);
    }
  }
  return parts;
}

bool IsDrivePrefix(const AnsiString& p) { return p.size() == 2 && p[1] == ':'; }

// Where an unreadable earlier log is kept: UnLog.damaged.txt beside it, or UnLog.damaged.N.txt
// when that name is taken.
AnsiString DamagedLogName(const AnsiString& logFile) {
  const AnsiString stem = logFile.substr(0, logFile.size() - ExtractFileExt(logFile).size());
  AnsiString name = stem + ".damaged.txt";
  for (int n = 2; FileExists(name) || FolderExists(name); ++n) name = stem + ".damaged." + IntToStr(n) + ".txt";
  return name;
}
}  // namespace

void TCompile::CreateFolder(const AnsiString& path) {
  MakeFolderLevels(path, [this](const AnsiString& level) { FLog->AddRecord(level, 0, 0, 0, 0, SCreatedFolderMark); });
}

void TCompile::GetReleasedFiles(TStringList& files, TStringList& folders) {
  files = FReleasedFiles;
  folders = FReleasedFolders;
}

void TCompile::MakeFolderLevels(const AnsiString& path, const std::function<void(const AnsiString&)>& made) {
  std::vector<AnsiString> parts = SplitAtBackslash(path);
  AnsiString prefix;
  for (size_t k = 0; k < parts.size(); ++k) {
    prefix = k == 0 ? parts[0] : prefix + "\\" + parts[k];
    // Empty levels (a leading or doubled backslash, the trailing one), the drive and the
    // server and share of a network path are never made here.
    if (parts[k].empty() || IsDrivePrefix(prefix)) continue;
    if (k < 4 && prefix.size() >= 2 && prefix[0] == '\\' && prefix[1] == '\\') continue;
    if (FolderExists(prefix)) continue;
    ForceFolders(prefix);
    made(prefix);
  }
}

AnsiString TCompile::InstallLogFileName() {
  TPageInfoRec* item = Project().GetMainProgramItem();
  // Without the main program there is no installed folder to put the log in; writing it
  // somewhere else would leave it where the uninstaller never looks.
  if (!item) throw Exception("项目中没有“安装完毕”页的“主程序”项，无法保存安装日志");
  return ExtractFilePath(item->Value) + "UnLog.txt";
}

void TCompile::SaveInstallLog() {
  const AnsiString fileName = InstallLogFileName();
  if (!FJournal) return WriteInstallLog(fileName);
  // The first log of an installation: without it the uninstaller could not remove what the
  // run wrote, so a log that cannot be written undoes the installation instead. A log that is
  // there already is an earlier installation's into the same folder: its records are kept, so
  // that the uninstall removes what either run installed.
  FEarlierLog.reset();
  FDamagedLogCopy.clear();
  AnsiString damaged;
  if (FileExists(fileName)) {
    auto earlier = std::make_unique<TInstallLog>();
    try {
      earlier->LoadFromFile(fileName);
      FEarlierLog = std::move(earlier);
    } catch (const Exception& e) {
      damaged = e.Message();
    }
  }
  try {
    if (!damaged.empty()) {
      // Kept beside the new log under a name of its own, never in its place.
      const AnsiString copy = DamagedLogName(fileName);
      FJournal->FileOpened(copy, false);
      if (!CopyFileTo(fileName, copy, true)) RaiseFCreateError(copy, SystemErrorMessage(LastSystemError()));
      FDamagedLogCopy = copy;
    }
    WriteInstallLog(fileName);
  } catch (const Exception& e) {
    FEarlierLog.reset();
    FDamagedLogCopy.clear();
    RollBackRun(e.Message());
  }
  FJournal.reset();
  if (!damaged.empty())
    WarningBox(Format("在安装文件夹中找到的上次安装的日志已损坏（%s），无法合并：它已另存为“%s”。"
                      "卸载本程序时，上次安装的文件不会被删除。",
                      damaged.c_str(), FDamagedLogCopy.c_str()));
}

void TCompile::WriteInstallLog(const AnsiString& fileName) {
  // Written beside the log and then put in its place: a log that cannot be written whole
  // (a full disk) leaves the one that was there as it was.
  const AnsiString next = fileName + ".new";
  if (FJournal) FJournal->FileOpened(next, false);
  if (FEarlierLog) {
    FLog->MergedAfter(*FEarlierLog).WriteToFile(next);
  } else {
    FLog->WriteToFile(next);
  }
  if (!RenameFileTo(next, fileName)) {
    const int error = LastSystemError();
    DeleteFileAt(next);
    RaiseFCreateError(fileName, SystemErrorMessage(error));
  }
}

// ---- Helpers of the release and the installation run ----

void WriteEntry(TStream& setup, const TInsPackRec& entry, const AnsiString& target, const AnsiString& setupName) {
  TFileStream out(target, fmCreate);
  ExpandChunks(setup, out, entry.DataStart, entry.DataEnd, setupName);
}

bool IsMainProgramItem(const TPageInfoRec& item) { return item.Page == "安装完毕" && item.Name == "主程序"; }

AnsiString WithPathDelimiter(const AnsiString& path) {
  bool delimited = false;
  for (size_t i = 0; i < path.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(path[i]);
    if (IsGbkLeadByte(c) && i + 1 < path.size()) {
      ++i;
      delimited = false;
    } else {
      delimited = c == '\\';
    }
  }
  return delimited ? path : path + "\\";
}

AnsiString ResolveTargetFolder(const AnsiString& text, const AnsiString& installDir) {
  static const AnsiString kProgramFiles = "Program Files";
  if (StartsText(kProgramFiles, text)) {
    AnsiString rest = text.size() > kProgramFiles.size() + 1 ? text.substr(kProgramFiles.size() + 1) : AnsiString();
    return WithPathDelimiter(installDir) + rest;
  }
  AnsiString windows = WindowsFolder();
  AnsiString drive = windows.empty() ? AnsiString("C") : windows.substr(0, 1);
  return drive + ":\\" + text;
}

AnsiString ProgramFileTarget(const TFileInfoRec& file, const AnsiString& installDir) {
  return WithPathDelimiter(ResolveTargetFolder(file.TargetDir, installDir)) + file.FileName;
}

AnsiString ExpandPathPrefix(const AnsiString& value, const AnsiString& installDir, const AnsiString& projectName) {
  static const AnsiString kInstallDir = "安装目录\\工程名称";
  static const AnsiString kSystem = "Windows\\System";
  static const AnsiString kSystem32 = "Windows\\System32";
  static const AnsiString kProgramFiles = "Program Files\\工程名称";
  if (StartsText(kInstallDir, value)) return installDir + value.substr(kInstallDir.size());
  if (StartsText(kSystem, value)) return WindowsFolder() + "\\System" + value.substr(kSystem.size());
  if (StartsText(kSystem32, value)) return WindowsFolder() + "\\System32" + value.substr(kSystem32.size());
  if (StartsText(kProgramFiles, value))
    return ProgramFilesFolder() + "\\" + projectName + value.substr(kProgramFiles.size());
  return value;
}

int64_t HexTextToInt(const AnsiString& text) {
  uint64_t sum = 0;  // unsigned: a long text wraps instead of overflowing
  for (char ch : text) {
    unsigned d = 0;
    if (ch >= '0' && ch <= '9') d = unsigned(ch - '0');
    else if (ch >= 'A' && ch <= 'F') d = unsigned(ch - 'A' + 10);
    else if (ch >= 'a' && ch <= 'f') d = unsigned(ch - 'a' + 10);
    sum = sum * 16 + d;
  }
  return static_cast<int64_t>(sum);
}

TArrayByte HexTextToBytes(const AnsiString& text) {
  AnsiString t = text;
  if (t.size() % 2 != 0) t += '0';
  TArrayByte out;
  out.reserve(t.size() / 2);
  for (size_t i = 0; i + 1 < t.size(); i += 2) out.push_back(static_cast<uint8_t>(HexTextToInt(t.substr(i, 2))));
  return out;
}

bool OsFilterAllows(const AnsiString& filter, const AnsiString& versionText) {
  if (filter.empty()) return true;
  return LowerCaseAscii(filter).find(LowerCaseAscii(versionText)) != AnsiString::npos;
}

bool IsSafeEntryName(const AnsiString& name) {
  if (name.size() <= 3) return false;
  AnsiString rest = name.substr(3);
  if (rest[0] == '\\' || rest[0] == '/') return false;
  auto partOk = [](const AnsiString& p) {
    // "..", and names Windows trims to it ("...", ".. "), climb out of the folder.
    if (p.find(':') != AnsiString::npos) return false;
    size_t dots = 0;
    for (char c : p) {
      if (c == '.') ++dots;
      else if (c != ' ') return true;
    }
    return dots < 2;
  };
  std::vector<AnsiString> parts = SplitAtBackslash(rest, true);
  for (const AnsiString& p : parts)
    if (!partOk(p)) return false;
  return !parts.back().empty();
}

// The package builder: a copy of the setup stub with the project's files appended.
#include "core/Sysconsts.h"
#include "core/TextUtils.h"
#include "engine/Compile.h"
#include "engine/PackageCheck.h"
#include "engine/StoredNames.h"
#include "core/DateTime.h"
#include "project/ProjectFile.h"
#include "engine/Package.h"
#include "project/IniFile.h"
#include "project/Project.h"
#include "system/FileCtrl.h"
#include "system/FileStream.h"
#include "system/IconEdit.h"
#include "system/Platform.h"
#include "system/SysKernel.h"

// The text block names the program that wrote the package. No time or random data:
// the same project and files give the same setup, byte for byte.
const char* const SPackageTextBlock = "gbsetup 0.1.0";

namespace {
std::unique_ptr<TInsPackRec> MakeEntry(const AnsiString& path, uint8_t kind, bool missingAsEmpty = false) {
  auto r = std::make_unique<TInsPackRec>();
  r->Name = path;
  r->Kind = kind;
  r->FileSize = missingAsEmpty && !FileExists(path) ? 0 : FileSizeOf(path);
  r->FileDate = FileStampOf(path);
  return r;
}

// A source file seen through the size it had when the entries were collected: a file that
// has changed since then is an error, not an entry whose FileSize lies.
class TCollectedSource : public TStream {
public:
  TCollectedSource(const AnsiString& fileName, int64_t size)
      : FFile(fileName, fmOpenRead | fmShareDenyNone), FSize(size) {
    if (FFile.Size() != size) Changed();
  }
  size_t Read(void* buffer, size_t count) override {
    int64_t left = FSize - FFile.Position();
    if (left <= 0) return 0;
    if (static_cast<int64_t>(count) > left) count = static_cast<size_t>(left);
    size_t n = FFile.Read(buffer, count);
    if (n < count) Changed();
    return n;
  }
  void Write(const void*, size_t) override { throw EWriteError("Stream write error"); }
  int64_t Seek(int64_t offset, int origin) override {
    int64_t to = origin == 0 ? offset : origin == 1 ? FFile.Position() + offset : FSize + offset;
    return FFile.Seek(to, 0);
  }
  int64_t Size() override { return FSize; }
  void SetSize(int64_t) override { throw EWriteError("Stream write error"); }

private:
  TFileStream FFile;
  int64_t FSize;

  [[noreturn]] void Changed() {
    throw EReadError(Format("源文件在生成过程中被改变: \"%s\" (收集时 %lld 字节, 现在 %lld 字节)",
                            FFile.FileName().c_str(), static_cast<long long>(FSize),
                            static_cast<long long>(FFile.Size())));
  }
};

// The project's version details in the setup: its name, version and author where it has
// them; a project with none of the three keeps the stub's own. A stub that is no Windows
// executable (a stand-in of the tests and benchmarks) has no resources to carry them.
void WriteVersionDetails(IProject& project, const AnsiString& target) {
  if (!IsPeExecutable(target)) return;
  auto value = [&](const char* name) {
    TWorkInfoRec* w = project.FindWork(name);
    return w ? w->Value : AnsiString();
  };
  TVersionDetails d;
  d.ProductName = project.GetProjectName();
  d.Version = value("版本号");
  d.CompanyName = value("作者名称");
  if (d.ProductName.empty() && d.Version.empty() && d.CompanyName.empty()) return;
  d.FileDescription = d.ProductName.empty() ? AnsiString("安装程序") : d.ProductName + " 安装程序";
  d.OriginalFilename = ExtractFileName(target);
  ReplaceExeVersion(target, BuildVersionResource(d));
}

// Deletes a file however the build ends unless Path is cleared: the uninstaller copy, whose bytes
// belong in the package only, and the output until it is finished.
struct TTempCopy {
  AnsiString Path;
  ~TTempCopy() {
    if (!Path.empty() && FileExists(Path)) DeleteFileAt(Path);
  }
};
}  // namespace

void CollectPayloadEntries(const TIntfPtr<IProject>& project, TInsPackList& entries, bool missingAsEmpty) {
  auto add = [&](const AnsiString& path, uint8_t kind) { entries.Add(MakeEntry(path, kind, missingAsEmpty)); };
  TIntfPtr<IProjectFiles> files = QueryIntf<IProjectFiles>(project);
  TIntfPtr<IProjectComponents> components = QueryIntf<IProjectComponents>(project);
  const AnsiString catalogueName = BaseFolder() + "Imports\\ComList.ini";
  add(catalogueName, pkSupport);
  for (TFileInfoRec* f : *files->GetFileList()) add(f->SourcePath, pkProgramFile);
  {
    const TIniFile catalogue(catalogueName);
    for (const AnsiString& name : *components->GetComponents()) {
      TStringList found;
      CollectFiles(BaseFolder() + "Imports\\" + catalogue.ReadString("Com", name, ""), found);
      for (const AnsiString& file : found) add(file, pkComponentFile);
    }
  }
  for (TSpecailFileRec* group : *files->GetSpecialFileList()) {
    for (const AnsiString& source : *group->Sources) {
      if (FileExists(source)) {
        add(source, pkGroupFile);
      } else if (FolderExists(source)) {
        TStringList found;
        CollectFiles(source, found);
        for (const AnsiString& file : found) add(file, pkGroupFile);
      }
    }
  }
  {
    TStringList taken;
    for (TPageInfoRec* item : *project->GetPageList()) {
      if (item->Kind != twkFile && item->Kind != twkIco && item->Kind != twkJpg) continue;
      if (item->Value.empty() || taken.IndexOf(item->Value) >= 0) continue;
      if (IsMainProgramItem(*item)) continue;
      taken.Add(item->Value);
      add(item->Value, pkPageFile);
    }
  }
}

void TCompile::Compile() {
  IProject& project = Project();
  TProject* object = project.GetProjectObject();
  TBuildOptions* options = project.GetBuildOptions();
  if (!options) throw Exception("没有设置生成选项");
  // The uninstaller copy goes beside the project file, so the project must have one.
  if (object->FFileName.empty()) throw Exception("项目尚未保存，无法生成安装程序");

  // 1. The setup stub, copied to the output file.
  const AnsiString projectName = project.GetProjectName();
  const AnsiString target =
      WithPathDelimiter(options->OutputFolder) + (projectName.empty() ? AnsiString("Setup") : projectName) + ".exe";
  // Both stubs of the chosen architecture are checked before anything is written.
  const AnsiString stubFolder = BaseFolder() + (options->X64 ? "Exe\\x64\\" : "Exe\\");
  const AnsiString stub = stubFolder + "Setup.exe";
  const AnsiString uninstallerStub = stubFolder + "UnIns.exe";
  for (const AnsiString& needed : {stub, uninstallerStub}) {
    if (!FileExists(needed)) {
      ErrorBox("原始安装文件不存在!\r\n" + needed);
      return;
    }
    // A stub of the other kind would make a setup that lands in the other places.
    const TImageArch arch = ExecutableArchOf(needed);
    if (arch != TImageArch::None && (arch == TImageArch::X64) != options->X64) {
      ErrorBox(Format("“%s”是 %s 程序，不能用来生成 %s 安装程序", needed.c_str(), ImageArchText(arch),
                      options->X64 ? "x64" : "x86"));
      return;
    }
  }
  // The uninstaller copy is made beside the project file and deleted afterwards: a file of
  // that name already there is someone's, and is neither replaced nor deleted.
  const AnsiString uninstallerCopy = ExtractFilePath(object->FFileName) + "\\UnIns.exe";
  if (FileExists(uninstallerCopy))
    RaiseFCreateError(uninstallerCopy, "文件已存在，生成安装程序时不会覆盖它");
  if (!options->OutputFolder.empty() && !FolderExists(options->OutputFolder)) ForceFolders(options->OutputFolder);
  if (!CopyFileTo(stub, target, false)) RaiseFCreateError(target, SystemErrorMessage(LastSystemError()));
  // From here on a failure takes the output away again: a bare stub, or a package cut short,
  // must not be left where a finished setup is expected.
  TTempCopy unfinished;
  unfinished.Path = target;
  const bool dated = options->SourceDateEpoch >= 0;
  const TDateTime clampTo = dated ? UnixToDateTime(options->SourceDateEpoch) : -1.0;
  auto clamped = [&](TDateTime d) { return dated && d > clampTo ? clampTo : d; };
  // The stubs' headers carry the time they were linked, which is not the sources' date.
  auto stamp = [&](const AnsiString& exe) {
    if (dated && IsPeExecutable(exe)) SetExeTimeStamp(exe, static_cast<uint32_t>(options->SourceDateEpoch));
  };
  if (!object->GetSetupIcon().empty()) ReplaceExeIcon(object->GetSetupIcon(), target);
  WriteVersionDetails(project, target);
  stamp(target);

  // 2. The uninstaller stub, copied beside the project file.
  TTempCopy uninstaller;
  uninstaller.Path = uninstallerCopy;
  if (!CopyFileTo(uninstallerStub, uninstaller.Path, false)) {
    // Name the file that is really missing, not the copy that was never made.
    const AnsiString reason = SystemErrorMessage(LastSystemError());
    if (!FileExists(uninstallerStub)) RaiseFOpenError(uninstallerStub, reason);
    RaiseFCreateError(uninstaller.Path, reason);
  }
  if (!object->GetUninstallIcon().empty()) ReplaceExeIcon(object->GetUninstallIcon(), uninstaller.Path);
  stamp(uninstaller.Path);
  auto sign = [&](const AnsiString& file) {
    if (FOnSign) FOnSign(file);
  };
  sign(uninstaller.Path);

  // The project as stored: its paths under the fixed roots, its dates clamped. The setup
  // finds its files by these names, so the entries take the same ones.
  TProjectFileData stored;
  if (options->ProjectImage) {
    TMemoryStream s(std::vector<uint8_t>(options->ProjectImage->begin(), options->ProjectImage->end()));
    ReadProjectSections(s, object->FFileName, stored);
  } else {
    ReadProjectFile(object->FFileName, stored);
  }
  const TStoredNames names = TStoredNames::ForProject(BaseFolder(), object->FFileName, stored);
  StoreProjectData(stored, names, clampTo);
  TMemoryStream storedImage;
  WriteProjectSections(storedImage, ListsOf(stored));

  // 3. The output, then 4. the entries in package order.
  FSetupFileName = target;
  auto setup = std::make_unique<TFileStream>(target, fmOpenReadWrite | fmShareDenyNone);
  TInsPackList entries;
  TInsPackRec* image = entries.Add();
  image->Kind = pkSupport;
  image->FileSize = static_cast<int64_t>(storedImage.Data().size());
  image->FileDate = clamped(options->ProjectImage ? options->ProjectImageDate : FileStampOf(object->FFileName));
  CollectPayloadEntries(FProject, entries, false);
  TInsPackRec* last = entries.Add();
  last->Kind = pkUninstaller;
  // Where each entry is read from; the entry itself keeps its stored name.
  std::vector<AnsiString> sources;
  for (TInsPackRec* e : entries) sources.push_back(e->Name);
  sources.front() = object->FFileName;
  sources.back() = uninstaller.Path;
  for (size_t i = 0; i < sources.size(); ++i) {
    entries[static_cast<int>(i)]->Name = names.Map(sources[i]);
    entries[static_cast<int>(i)]->FileDate = clamped(entries[static_cast<int>(i)]->FileDate);
  }

  // 5. The package.
  TPackageWriteOptions write;
  write.LevelChoice = options->CompressionLevel;
  write.Jobs = options->Jobs;
  write.TextBlock = SPackageTextBlock;
  const int32_t count = entries.Count();
  WritePackage(
      *setup, entries,
      [&](const TInsPackRec& rec, int32_t index) -> std::unique_ptr<TStream> {
        // Opened first: a file that cannot be opened is not reported as being packed.
        std::unique_ptr<TStream> source;
        const AnsiString& from = sources[static_cast<size_t>(index)];
        if (index == 0) source = std::make_unique<TMemoryStream>(storedImage.Data());
        else if (rec.Kind == pkUninstaller) source = std::make_unique<TFileStream>(from, fmOpenRead | fmShareDenyNone);
        else source = std::make_unique<TCollectedSource>(from, rec.FileSize);
        if (FOnProgress) FOnProgress(index + 1, count, from);
        return source;
      },
      write);
  setup.reset();
  sign(target);
  unfinished.Path.clear();
  // 6., 7.: the output closes, the entries are disposed and the uninstaller copy is deleted
  // on the way out, also when a step above fails.
}

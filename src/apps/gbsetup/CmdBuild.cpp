// "gbsetup build": builds a setup program from a project.
#include <sys/time.h>
#ifdef _WIN32
#include <windows.h>

#include "system/win32/WideText.h"
#else
#include <sys/wait.h>
#endif

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "apps/gbsetup/Cli.h"
#include "apps/gbsetup/Manifest.h"
#include "apps/gbsetup/ProjectJson.h"
#include "core/Sha256.h"
#include "core/TextUtils.h"
#include "engine/Compile.h"
#include "engine/StoredNames.h"
#include "project/Project.h"
#include "system/Dialogs.h"
#include "system/FileCtrl.h"
#include "system/FileStream.h"
#include "system/PathText.h"
#include "system/Platform.h"
#include "system/SysKernel.h"

namespace {

double Now() {
  timeval tv;
  gettimeofday(&tv, nullptr);
  return static_cast<double>(tv.tv_sec) + tv.tv_usec / 1e6;
}

std::string Size(double bytes) {
  char buf[32];
  if (bytes >= 1048576.0) std::snprintf(buf, sizeof buf, "%.1f MiB", bytes / 1048576.0);
  else std::snprintf(buf, sizeof buf, "%.1f KiB", bytes / 1024.0);
  return buf;
}

// Entry i of n with the bytes taken so far and the rate; a bar on a terminal, lines otherwise.
class TBuildProgress {
public:
  explicit TBuildProgress(bool terminal) : FTerminal(terminal), FStart(Now()) {}
  void Entry(int32_t index, int32_t count, const AnsiString& name) {
    FDone += FCurrent;
    FCurrent = FileExists(name) ? FileSizeOf(name) : 0;
    if (!FTerminal) {
      std::printf("%d/%d %s\n", index, count, Out(name).c_str());
      return;
    }
    const int width = 24;
    int filled = count > 0 ? index * width / count : width;
    double elapsed = Now() - FStart;
    std::string rate = elapsed > 0.05 ? Size(FDone / elapsed) + "/s" : std::string("-");
    std::string file = Out(ExtractFileName(name));
    if (file.size() > 32) file = "..." + file.substr(file.size() - 29);
    std::printf("\r[%s%s] %d/%d %10s %12s %-32s", std::string(static_cast<size_t>(filled), '#').c_str(),
                std::string(static_cast<size_t>(width - filled), '.').c_str(), index, count, Size(FDone).c_str(),
                rate.c_str(), file.c_str());
    std::fflush(stdout);
    FOpen = true;
  }
  void Finish() {
    FDone += FCurrent;
    FCurrent = 0;
    if (FOpen) std::printf("\n");
    FOpen = false;
  }
  double Bytes() const { return FDone; }
  double Elapsed() const { return Now() - FStart; }

private:
  bool FTerminal;
  double FStart;
  double FDone = 0, FCurrent = 0;
  bool FOpen = false;
};

// A signing command that did not succeed: its exit code becomes the build's.
class ESignError : public ECliError {
public:
  ESignError(const std::string& message, int code) : ECliError(message), FCode(code) {}
  int Code() const { return FCode; }

private:
  int FCode;
};

// The command line for one file: every "{}" replaced by the quoted path, or the quoted path
// appended when there is none.
std::string SignCommandLine(const std::string& pattern, const std::string& hostPath) {
#ifdef _WIN32
  const std::string quoted = "\"" + hostPath + "\"";
#else
  std::string quoted = "'";
  for (char c : hostPath) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  quoted += "'";
#endif
  std::string line;
  bool replaced = false;
  for (size_t i = 0; i < pattern.size(); ++i) {
    if (pattern.compare(i, 2, "{}") == 0) {
      line += quoted;
      replaced = true;
      ++i;
    } else {
      line += pattern[i];
    }
  }
  if (!replaced) line += " " + quoted;
  return line;
}

// Runs a command line through the shell, waits for it and returns its exit code; what it
// writes to its standard output and error is collected in output.
int RunShellCommand(const std::string& line, std::string& output) {
  std::fflush(stdout);
  char buffer[4096];
#ifdef _WIN32
  // Both output handles are one pipe. The command line (UTF-8, as the arguments are) goes to
  // the shell as UTF-16, so that any name in it arrives whatever the system's code page.
  SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
  HANDLE readEnd = nullptr, writeEnd = nullptr;
  if (!CreatePipe(&readEnd, &writeEnd, &sa, 0)) return -1;
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  si.hStdOutput = writeEnd;
  si.hStdError = writeEnd;
  PROCESS_INFORMATION pi{};
  const std::string cmd = "cmd.exe /d /s /c \"" + line + "\"";
  std::wstring wide = wintext::FromUtf8(cmd);
  const BOOL started = CreateProcessW(nullptr, wide.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
  CloseHandle(writeEnd);
  if (!started) {
    CloseHandle(readEnd);
    return -1;
  }
  for (DWORD n; ReadFile(readEnd, buffer, sizeof buffer, &n, nullptr) && n > 0;) output.append(buffer, n);
  CloseHandle(readEnd);
  WaitForSingleObject(pi.hProcess, INFINITE);
  DWORD code = 1;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return int(code);
#else
  // Grouped, so that the error output of every part of a compound command is caught.
  FILE* pipe = popen(("(\n" + line + "\n) 2>&1").c_str(), "r");
  if (!pipe) return -1;
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, n);
  const int status = pclose(pipe);
  return status == -1 ? -1 : WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
#endif
}

// Runs the signing command on file and waits for it. Its output is kept and shown only
// when it fails.
void RunSignCommand(const std::string& pattern, const AnsiString& file) {
  std::string output;
  const std::string path = HostPath(file);  // UTF-8, as the pattern
  const int code = RunShellCommand(SignCommandLine(pattern, path), output);
  if (code == -1) throw ESignError("cannot start the signing command for " + HostPath(file), 1);
  if (code != 0) {
    while (!output.empty() && (output.back() == '\n' || output.back() == '\r')) output.pop_back();
    throw ESignError("signing " + HostPath(file) + " failed with exit code " + std::to_string(code) +
                         "; no setup program was written" + (output.empty() ? std::string() : "\n" + output),
                     code);
  }
  std::printf("signed %s\n", HostPath(file).c_str());
}

// The last setting of a name, as the setup reads it when it writes its uninstall entry.
AnsiString LastSetting(IProject& project, const char* name) {
  AnsiString value;
  for (TWorkInfoRec* w : *project.GetWorkList())
    if (SameText(w->Name, name)) value = w->Value;
  return value;
}

// What --manifest will write, checked before the build so that a missing value costs no build.
struct TManifestPlan {
  AnsiString Folder;
  // The setup's file name as the builder makes it: a project name with a ':' is no path
  // component on Windows, so the name is not taken apart from the path.
  std::string SetupFileName;
  TManifest Manifest;
  std::string Id;
};

std::unique_ptr<TManifestPlan> PlanManifest(const TParsedArgs& p, const TBuildProject& source, IProject& project,
                                            bool x64) {
  const char* const valueOptions[] = {"--package-id", "--installer-url", "--license", "--description"};
  if (!p.Has("--manifest")) {
    for (const char* o : valueOptions)
      if (p.Has(o)) throw ECliError(std::string(o) + " belongs to --manifest DIR, which is not given");
    return nullptr;
  }
  auto plan = std::make_unique<TManifestPlan>();
  if (p.Get("--manifest").empty()) throw ECliError("--manifest takes the folder the manifest files go to");
  plan->Folder = StripTrailingDelimiters(ArgPath(p.Get("--manifest")));
  TManifest& m = plan->Manifest;
  m.Name = Out(LastSetting(project, "项目名称"));
  m.Version = Out(LastSetting(project, "版本号"));
  m.Author = Out(LastSetting(project, "作者名称"));
  m.AuthorUrl = Out(LastSetting(project, "作者网址"));
  m.X64 = x64;
  plan->SetupFileName = Out(project.GetProjectName()) + ".exe";
  // The command line over the JSON project's "manifest".
  m.Options = source.Manifest;
  std::string* values[] = {&m.Options.Id, &m.Options.Url, &m.Options.License, &m.Options.Description};
  for (size_t i = 0; i < 4; ++i) {
    if (!p.Has(valueOptions[i])) continue;
    *values[i] = p.Get(valueOptions[i]);
    if (values[i]->find_first_of("\r\n") != std::string::npos)
      throw ECliError(std::string(valueOptions[i]) + " takes one line");
  }
  plan->Id = CheckManifest(m);
  // The identifier names the files.
  try {
    Utf8ToGbk(plan->Id);
  } catch (const Exception&) {
    throw ECliError("--manifest: the package identifier '" + plan->Id +
                    "' holds a character that GBK lacks, so no file here can be named after it; give --package-id");
  }
  return plan;
}

std::string Sha256OfFile(const AnsiString& file) {
  TFileStream in(file, fmOpenRead | fmShareDenyWrite);
  TSha256 sha;
  std::vector<uint8_t> buffer(1 << 20);
  for (size_t n; (n = in.Read(buffer.data(), buffer.size())) > 0;) sha.Update(buffer.data(), n);
  return sha.FinalHex();
}

// The manifest of the setup just written (signed, when it was): its digest is that of the final file.
void WriteManifest(const TManifestPlan& plan, const AnsiString& setup) {
  const auto files = ManifestFiles(plan.Manifest, plan.Id, plan.SetupFileName, Sha256OfFile(setup));
  if (!FolderExists(plan.Folder) && !ForceFolders(plan.Folder))
    throw ECliError("--manifest: cannot make the folder " + HostPath(plan.Folder));
  for (const TManifestFile& f : files) {
    const AnsiString path = plan.Folder + "\\" + In(f.Name);
    TFileStream out(path, fmCreate);
    out.Write(f.Text.data(), f.Text.size());
    std::printf("%s\n", HostPath(path).c_str());
  }
}

#define BUILD_USAGE "usage: gbsetup build PROJECT [--output DIR] [--arch x86|x64] [--level 0-3] [--jobs N] [--set NAME=VALUE]... [--page PAGE/NAME=VALUE]... [--sign COMMAND] [--manifest DIR [--installer-url URL] [--license TEXT] [--description TEXT] [--package-id ID]]"
// The options that take a value, in the order the help lists them.
const std::vector<std::string> BuildValueOptions = {"--output", "--arch",     "--level",       "--jobs",
                                                    "--set",    "--page",     "--sign",        "--manifest",
                                                    "--installer-url", "--package-id", "--license", "--description"};

int RunBuild(const TArgs& args) {
  TParsedArgs p = ParseArgs(args, BuildValueOptions);
  if (p.Positional.size() != 1) throw ECliError(BUILD_USAGE);
  // Signing: --sign, else the environment (a CI sets it once for every build); --sign ""
  // builds unsigned.
  std::string signCommand;
  if (p.Has("--sign")) signCommand = p.Get("--sign");
#ifdef _WIN32
  // The environment in UTF-16, as the arguments: a path in it arrives whatever the code page.
  else if (const wchar_t* env = _wgetenv(L"GBSETUP_SIGN")) signCommand = wintext::Utf8(env);
#else
  else if (const char* env = std::getenv("GBSETUP_SIGN")) signCommand = env;
#endif
  // A project file or JSON, with this build's --set and --page changes.
  TBuildProject source;
  OpenBuildProject(p.Positional[0], p.All("--set"), p.All("--page"), source);
  TIntfPtr<IProject> project = source.Project;
  const AnsiString projectFile = project->GetProjectObject()->FFileName;

  // The options keep the project's own author data and compression choice unless overridden.
  auto options = std::make_unique<TBuildOptions>();
  auto setting = [&](const char* name) {
    TWorkInfoRec* w = project->FindWork(name);
    return w ? w->Value : AnsiString();
  };
  options->AuthorName = setting("作者名称");
  options->AuthorUrl = setting("作者网址");
  options->CompressionLevel = 2;
  if (TWorkInfoRec* w = project->FindWork("压缩类型"); w && !w->Value.empty()) {
    TStringList choices;
    choices.SetCommaText(w->Items);
    if (int i = choices.IndexOf(w->Value); i >= 0) options->CompressionLevel = i;
  }
  if (p.Has("--level")) {
    int32_t level = -1;
    if (!TryStrToInt(p.Get("--level"), level) || level < 0 || level > 3)
      throw ECliError("--level takes 0 (none), 1 (fastest), 2 (default) or 3 (best)");
    options->CompressionLevel = level;
  }
  // The architecture: --arch, else the JSON's "arch", else the 32-bit setup.
  std::string arch = p.Has("--arch") ? p.Get("--arch") : source.Arch.empty() ? std::string("x86") : source.Arch;
  if (arch != "x86" && arch != "x64") throw ECliError("--arch takes x86 (a 32-bit setup, the default) or x64");
  options->X64 = arch == "x64";
  const std::unique_ptr<TManifestPlan> manifest = PlanManifest(p, source, *project, options->X64);
  options->Jobs = 0;
  if (p.Has("--jobs")) {
    int32_t jobs = -1;
    if (!TryStrToInt(p.Get("--jobs"), jobs) || jobs < 0 || jobs > 256) throw ECliError("--jobs takes 0 to 256");
    options->Jobs = jobs;
  }
  options->OutputFolder = p.Has("--output") ? ArgPath(p.Get("--output")) : ExtractFilePath(projectFile);
  options->OutputFolder = StripTrailingDelimiters(options->OutputFolder);
  if (source.InMemory) {
    options->ProjectImage = &source.Image;
    options->ProjectImageDate = source.ImageDate;
  }
  // A reproducible build: the same sources give the same bytes on any machine at any time.
  if (const char* epoch = std::getenv("SOURCE_DATE_EPOCH")) {
    if (!ParseSourceDateEpoch(epoch, options->SourceDateEpoch))
      throw ECliError(std::string("SOURCE_DATE_EPOCH must be a whole number of seconds since 1970-01-01 UTC "
                                  "(0 to 4294967295), not '") + epoch + "'");
  }
  project->SetBuildOptions(options.get());

  // The builder's error box goes to the terminal.
  bool boxShown = false;
  auto responder = std::make_shared<TDialogResponder>();
  responder->MessageBox = [&](TBoxStyle, const AnsiString&, const AnsiString& text) {
    std::fprintf(stderr, "gbsetup: %s\n", Out(text).c_str());
    boxShown = true;
    return false;
  };
  auto previous = DialogResponder();
  SetDialogResponder(responder);
  struct TRestore {
    std::shared_ptr<TDialogResponder> R;
    ~TRestore() { SetDialogResponder(R); }
  } restore{previous};

  // Every folder the package takes files from is listed once before the output is written:
  // a name there that no setup can store stops the build with nothing written.
  {
    TakeUnlistedEntries();
    TInsPackList entries;
    CollectPayloadEntries(project, entries, true);
    RefuseUnlistedEntries();
  }

  auto* engine = new TCompile();
  TIntfPtr<ICompile> compile(engine);
  compile->SetProject(project);
  TBuildProgress progress(StdoutIsTerminal());
  compile->SetProgressEvent([&](int32_t index, int32_t count, const AnsiString& name) {
    progress.Entry(index, count, name);
  });
  if (!signCommand.empty()) {
    engine->SetSignEvent([&](const AnsiString& file) {
      progress.Finish();
      RunSignCommand(signCommand, file);
    });
  }
  try {
    compile->Compile();
  } catch (const ESignError& e) {
    progress.Finish();
    std::fflush(stdout);
    std::fprintf(stderr, "gbsetup: %s\n", e.what());
    return e.Code();
  } catch (...) {
    progress.Finish();
    throw;
  }
  progress.Finish();
  project->SetBuildOptions(nullptr);
  if (boxShown || compile->GetSetupFileName().empty()) return 1;
  const AnsiString setup = compile->GetSetupFileName();
  const int64_t size = FileSizeOf(setup);
  std::printf("%s\n%lld bytes (%s from %s in %.1f s), %s setup\n", HostPath(setup).c_str(),
              static_cast<long long>(size), Size(static_cast<double>(size)).c_str(), Size(progress.Bytes()).c_str(),
              progress.Elapsed(), arch.c_str());
  if (manifest) WriteManifest(*manifest, setup);
  return 0;
}

}  // namespace

GB_COMMAND("build", "build a setup program from a project",
           BUILD_USAGE "\n"
           "\n"
           "Copies the setup stub (data folder: Exe/Setup.exe, Exe/x64/ for --arch x64), gives it\n"
           "the project's icon and\n"
           "appends the package: the project, the component catalogue, the program files, the\n"
           "chosen components, the special-file groups, the wizard's pictures and texts and the\n"
           "uninstaller. The result is OUTPUT/<project name>.exe (Setup.exe without a name).\n"
           "\n"
           "PROJECT is a project file or a JSON project (either form that import reads, paths\n"
           "relative to the JSON file, folders scanned now). A JSON project is built as the\n"
           "project file that 'import X.json -o X.gbp' would write beside it, dated like the JSON\n"
           "file, without writing it: the setup is the same, byte for byte.\n"
           "\n"
           "  --output DIR   where the setup program goes (default: the project file's folder)\n"
           "  --arch x86|x64 x86 (default): a 32-bit setup (stubs Exe/Setup.exe, Exe/UnIns.exe),\n"
           "                 for a 32-bit program or any Windows that may be 32-bit; on 64-bit\n"
           "                 Windows it lands in Program Files (x86), SysWOW64 and WOW6432Node.\n"
           "                 x64: a 64-bit setup (Exe/x64/Setup.exe, Exe/x64/UnIns.exe) for a\n"
           "                 64-bit program: Program Files, System32 and the 64-bit registry.\n"
           "                 A JSON project may say \"arch\"; the option wins.\n"
           "  --level N      0 none, 1 fastest, 2 default, 3 best (default: the project's 压缩类型)\n"
           "  --jobs N       compression threads, 0 = one per core (default 0); the output is the\n"
           "                 same for every N\n"
           "  --set NAME=VALUE       sets a setting for this build only (--set 版本号=$TAG)\n"
           "  --page PAGE/NAME=VALUE sets a page item for this build only; both repeat, and an\n"
           "                 unknown name is an error. Files are host paths, as for set and page.\n"
           "  --sign COMMAND a command that signs a file in place, run through the shell with\n"
           "                 the file's quoted path in place of {} (or appended when there is\n"
           "                 no {}): first on the uninstaller before it is packed, then on\n"
           "                 the finished setup. Without --sign the environment variable\n"
           "                 GBSETUP_SIGN gives it; --sign \"\" builds unsigned. A command that\n"
           "                 fails stops the build with its exit code and output, and no setup\n"
           "                 program is left behind. For example, with osslsigncode:\n"
           "                 --sign 'osslsigncode sign -pkcs12 cert.p12 -readpass pass.txt\n"
           "                 -in {} -out {}.signed && mv {}.signed {}'\n"
           "  --manifest DIR also writes into DIR the package manager's manifest of the setup\n"
           "                 (ID.yaml, ID.installer.yaml, ID.locale.zh-CN.yaml: version,\n"
           "                 installer with the setup's SHA-256, switches and exit codes, and\n"
           "                 the zh-CN texts) and ID.deploy.json (command lines, exit codes\n"
           "                 and the registry detection rule, for deployment tools). Name,\n"
           "                 version, publisher and uninstall key come from 项目名称, 版本号 and\n"
           "                 作者名称; the rest from these options or the JSON project's\n"
           "                 \"manifest\": {\"id\", \"url\", \"license\", \"description\"}, the\n"
           "                 options winning. A value missing is an error before the build.\n"
           "  --installer-url URL  where the setup will be downloaded from (http:// or https://);\n"
           "                 {file} stands for the setup's file name, percent-encoded\n"
           "  --package-id ID the package identifier, such as Publisher.App (default:\n"
           "                 作者名称.项目名称 when that is one: 2 to 8 parts of 1 to 32\n"
           "                 characters without spaces or \\ / : * ? \" < > |)\n"
           "  --license TEXT the licence, such as MIT or 专有软件\n"
           "  --description TEXT    a short description of the program\n"
           "\n"
           "The package stores the project's folder (widened to hold every source the project\n"
           "names) as C:\\src\\ and the data folder as C:\\gbsetup\\, so that a setup does not\n"
           "depend on where the sources lie. With SOURCE_DATE_EPOCH set (seconds since 1970 UTC),\n"
           "file dates later than it are stored as it, and the setup's and the uninstaller's\n"
           "headers carry it: the same sources give the same setup, byte for byte. A value that\n"
           "is not such a number is an error.\n"
           "\n"
           "A missing source file stops the build with an error naming it (exit code 1).",
           RunBuild);

// Configuration of the sandbox machine and its command log.
#include "system/Sandbox.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>

#include "core/Exceptions.h"
#include "system/FileCtrl.h"
#include "system/Platform.h"
#include "system/posix/SandboxInternal.h"

namespace {
struct TSandboxState {
  std::string Root;
  bool Prepared = false;
  int WindowsBits = 0;  // 0: not read from the root yet
  bool Program64 = false;
  AnsiString Version = "6.1";
  bool ElevationCancelled = false;
  uint32_t ElevationExitCode = 0;
};
TSandboxState& State() {
  static TSandboxState state;
  return state;
}

std::string DefaultRoot() {
  if (const char* r = std::getenv("GBSETUP_ROOT"); r && *r) return r;
  std::string data;
  if (const char* x = std::getenv("XDG_DATA_HOME"); x && *x)
    data = x;
  else if (const char* h = std::getenv("HOME"); h && *h)
    data = std::string(h) + "/.local/share";
  else
    data = "/tmp";
  return data + "/gbsetup/root";
}

void MakeDirs(const std::string& path) {
  for (size_t i = 1; i <= path.size(); ++i)
    if (i == path.size() || path[i] == '/') mkdir(path.substr(0, i).c_str(), 0777);
}
}  // namespace

void SetSandboxRoot(const std::string& hostRoot) {
  std::string r = hostRoot;
  while (r.size() > 1 && r.back() == '/') r.pop_back();
  State().Root = r;
  State().Prepared = false;
  State().WindowsBits = 0;
}

namespace {
std::string WindowsKindFile() { return sandbox::Root() + "/windows.txt"; }

int RecordedWindowsBits() {
  int bits = 0;
  if (FILE* f = std::fopen(WindowsKindFile().c_str(), "rb")) {
    if (std::fscanf(f, "%d", &bits) != 1) bits = 0;
    std::fclose(f);
  }
  return bits == 64 || bits == 32 ? bits : 0;
}

// The folders a machine of that kind has before anything is installed.
void MakeMachineFolders(int bits) {
  const std::string c = sandbox::Root() + "/drive_c";
  MakeDirs(c + "/Windows/System32");
  MakeDirs(c + "/Program Files");
  if (bits == 64) {
    MakeDirs(c + "/Windows/SysWOW64");
    MakeDirs(c + "/Program Files (x86)");
  }
}

std::string Lower(std::string s) {
  for (char& ch : s)
    if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch + 32);
  return s;
}

// The first level of path, and the rest after its backslash.
std::pair<std::string, std::string> FirstLevel(const std::string& path) {
  const size_t slash = path.find('\\');
  if (slash == std::string::npos) return {path, std::string()};
  return {path.substr(0, slash), path.substr(slash + 1)};
}

bool StartsWithLevel(const std::string& lowerPath, const std::string& lowerLevels) {
  return lowerPath.compare(0, lowerLevels.size(), lowerLevels) == 0 &&
         (lowerPath.size() == lowerLevels.size() || lowerPath[lowerLevels.size()] == '\\');
}

// The keys below a Classes key that 32-bit programs see apart.
bool RedirectedClassKey(const std::string& lowerRest) {
  for (const char* k : {"clsid", "directshow", "interface", "media type", "mediafoundation"})
    if (StartsWithLevel(lowerRest, k)) return true;
  return false;
}

// The keys below HKLM\SOFTWARE that both kinds of programs share.
bool SharedSoftwareKey(const std::string& lowerRest) {
  static const char* const shared[] = {
      "classes",  // seen apart only below its own keys (RedirectedClassKey)
      "clients",
      "microsoft\\cryptography\\calais\\current",
      "microsoft\\cryptography\\calais\\readers",
      "microsoft\\cryptography\\services",
      "microsoft\\ctf\\systemshared",
      "microsoft\\ctf\\tip",
      "microsoft\\dfs",
      "microsoft\\driver signing",
      "microsoft\\enterprisecertificates",
      "microsoft\\eventsystem",
      "microsoft\\msmq",
      "microsoft\\non-driver signing",
      "microsoft\\notepad\\defaultfonts",
      "microsoft\\ole",
      "microsoft\\ras",
      "microsoft\\rpc",
      "microsoft\\shared tools\\msinfo",
      "microsoft\\systemcertificates",
      "microsoft\\termservlicensing",
      "microsoft\\transaction server",
      "microsoft\\windows\\currentversion\\app paths",
      "microsoft\\windows\\currentversion\\control panel\\cursors\\schemes",
      "microsoft\\windows\\currentversion\\explorer\\autoplayhandlers",
      "microsoft\\windows\\currentversion\\explorer\\driveicons",
      "microsoft\\windows\\currentversion\\explorer\\kindmap",
      "microsoft\\windows\\currentversion\\group policy",
      "microsoft\\windows\\currentversion\\policies",
      "microsoft\\windows\\currentversion\\previewhandlers",
      "microsoft\\windows\\currentversion\\setup",
      "microsoft\\windows\\currentversion\\telephony",
      "microsoft\\windows nt\\currentversion\\ci",
      "microsoft\\windows nt\\currentversion\\console",
      "microsoft\\windows nt\\currentversion\\fontdpi",
      "microsoft\\windows nt\\currentversion\\fontlink",
      "microsoft\\windows nt\\currentversion\\fontmapper",
      "microsoft\\windows nt\\currentversion\\fonts",
      "microsoft\\windows nt\\currentversion\\fontsubstitutes",
      "microsoft\\windows nt\\currentversion\\gre_initialize",
      "microsoft\\windows nt\\currentversion\\image file execution options",
      "microsoft\\windows nt\\currentversion\\languagepack",
      "microsoft\\windows nt\\currentversion\\networkcards",
      "microsoft\\windows nt\\currentversion\\perflib",
      "microsoft\\windows nt\\currentversion\\ports",
      "microsoft\\windows nt\\currentversion\\print",
      "microsoft\\windows nt\\currentversion\\profilelist",
      "microsoft\\windows nt\\currentversion\\time zones",
      "policies",
      "registeredapplications",
      "wow6432node",
  };
  for (const char* k : shared)
    if (StartsWithLevel(lowerRest, k)) return true;
  return false;
}
}  // namespace

bool SetSandboxWindowsBits(int bits, std::string& error) {
  TSandboxState& s = State();
  const int recorded = RecordedWindowsBits();
  if (bits != 0 && recorded != 0 && bits != recorded) {
    error = "the sandbox " + sandbox::Root() + " is a " + std::to_string(recorded) + "-bit Windows machine (windows.txt)";
    return false;
  }
  s.WindowsBits = bits != 0 ? bits : recorded != 0 ? recorded : 32;
  if (bits != 0 && recorded == 0) {
    if (FILE* f = std::fopen(WindowsKindFile().c_str(), "wb")) {
      std::fprintf(f, "%d\n", bits);
      std::fclose(f);
    }
  }
  MakeMachineFolders(s.WindowsBits);
  return true;
}

int SandboxWindowsBits() {
  TSandboxState& s = State();
  if (s.WindowsBits == 0) {
    const int recorded = RecordedWindowsBits();
    s.WindowsBits = recorded != 0 ? recorded : 32;
  }
  return s.WindowsBits;
}

void SetSandboxProgram64(bool is64) { State().Program64 = is64; }
bool SandboxRedirects() { return SandboxWindowsBits() == 64 && !State().Program64; }

std::string SandboxRegistryView(const std::string& rootName, const std::string& path) {
  if (!SandboxRedirects()) return path;
  const std::string lower = Lower(path);
  if (rootName == "HKEY_LOCAL_MACHINE") {
    auto [first, rest] = FirstLevel(path);
    if (Lower(first) != "software") return path;
    const std::string lowerRest = Lower(rest);
    if (StartsWithLevel(lowerRest, "classes")) {
      auto [classes, below] = FirstLevel(rest);
      return RedirectedClassKey(Lower(below)) ? first + "\\" + classes + "\\WOW6432Node\\" + below : path;
    }
    if (rest.empty()) return first + "\\WOW6432Node";
    return SharedSoftwareKey(lowerRest) ? path : first + "\\WOW6432Node\\" + rest;
  }
  if (rootName == "HKEY_CLASSES_ROOT") return RedirectedClassKey(lower) ? "WOW6432Node\\" + path : path;
  if (rootName == "HKEY_CURRENT_USER" && StartsWithLevel(lower, "software\\classes")) {
    const std::string below = path.size() > 17 ? path.substr(17) : std::string();
    return RedirectedClassKey(Lower(below)) ? path.substr(0, 16) + "\\WOW6432Node\\" + below : path;
  }
  return path;
}

std::string SandboxRoot() { return sandbox::Root(); }
void SetSandboxVersion(const AnsiString& versionText) { State().Version = versionText; }
void SetSandboxElevation(bool cancelled, uint32_t exitCode) {
  State().ElevationCancelled = cancelled;
  State().ElevationExitCode = exitCode;
}
bool IsSandbox() { return true; }

namespace sandbox {
std::string RootPath() {
  TSandboxState& s = State();
  if (s.Prepared) return s.Root;
  std::string r = s.Root.empty() ? DefaultRoot() : s.Root;
  if (r[0] != '/') {
    char* cwd = realpath(".", nullptr);
    if (cwd) {
      r = std::string(cwd) + "/" + r;
      free(cwd);
    }
  }
  return r;
}

const std::string& Root() {
  TSandboxState& s = State();
  if (s.Root.empty()) SetSandboxRoot(DefaultRoot());
  if (!s.Prepared) {
    // Relative roots are pinned to the folder current when first used.
    if (s.Root[0] != '/') {
      char* cwd = realpath(".", nullptr);
      if (cwd) {
        s.Root = std::string(cwd) + "/" + s.Root;
        free(cwd);
      }
    }
    MakeDirs(s.Root + "/drive_c");
    s.Prepared = true;
  }
  return s.Root;
}

void LogCommand(const char* kind, const AnsiString& text) {
  std::string file = Root() + "/commands.log";
  if (FILE* f = std::fopen(file.c_str(), "ab")) {
    std::fprintf(f, "%s: %s\n", kind, text.c_str());
    std::fclose(f);
  }
}

AnsiString EnsureFolder(const AnsiString& programPath) {
  ForceFolders(programPath);
  return programPath;
}
}  // namespace sandbox

AnsiString SandboxVersionText() { return State().Version; }
bool SandboxElevationCancelled() { return State().ElevationCancelled; }
uint32_t SandboxElevationExitCode() { return State().ElevationExitCode; }

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

// gbsetup: builds setup programs and works with their projects and packages.
#include <cstdio>
#include <cstring>
#include <map>
#include <string>

#include "apps/gbsetup/Cli.h"
#include "core/Sysconsts.h"
#include "core/TextUtils.h"
#include "system/FileCtrl.h"
#include "system/Platform.h"
#include "system/SysKernel.h"

#ifdef _WIN32
#include "system/win32/WideText.h"
#endif

namespace {
std::map<std::string, TCliCommand>& Commands() {
  static std::map<std::string, TCliCommand> commands;
  return commands;
}

void PrintCommandList() {
  std::printf("usage: gbsetup [--data DIR] COMMAND [ARGS...]\n       gbsetup --version\n\ncommands:\n");
  for (const auto& [name, c] : Commands()) std::printf("  %-14s %s\n", name.c_str(), Out(c.Summary).c_str());
  std::printf("\n'gbsetup COMMAND --help' shows a command's options.\n");
}

// The data folder: --data DIR, else "data" beside the executable (a build tree), else
// <prefix>/share/gbsetup/data for an installed bin/gbsetup.
void SetDataFolder(const std::string& given) {
  AnsiString folder;
  if (!given.empty()) {
    folder = ArgPath(given);
    if (!FolderExists(folder)) throw ECliError("data folder not found: " + given);
  } else {
    const AnsiString exeFolder = ExtractFilePath(ApplicationExeName());
    folder = exeFolder + "data";
    if (!FolderExists(folder) && exeFolder.size() > 1)
      folder = ExtractFilePath(exeFolder.substr(0, exeFolder.size() - 1)) + "share\\gbsetup\\data";
    if (!FolderExists(folder)) return;  // relative names then resolve against the current folder
  }
  SetBaseFolder(AppendPathDelimiter(folder));
}
}  // namespace

TCommandRegistrar::TCommandRegistrar(const TCliCommand& c) { Commands()[c.Name] = c; }

namespace {
// The command line speaks UTF-8. On Windows argv is in the ANSI code page, which would turn
// Chinese arguments into something else: read the UTF-16 command line instead.
TArgs CommandArguments(int argc, char** argv) {
#ifdef _WIN32
  (void)argc;
  (void)argv;
  const std::vector<std::string> args = wintext::ArgumentsUtf8();
  return TArgs(args.begin(), args.end());
#else
  return TArgs(argv + 1, argv + argc);
#endif
}
}  // namespace

int main(int argc, char** argv) {
  TArgs args = CommandArguments(argc, argv);
  try {
    std::string dataDir;
    for (size_t i = 0; i < args.size();) {
      if (args[i] == "--data" && i + 1 < args.size()) {
        dataDir = args[i + 1];
        args.erase(args.begin() + static_cast<long>(i), args.begin() + static_cast<long>(i) + 2);
      } else {
        ++i;
      }
    }
    if (!args.empty() && args[0] == "--version") {
      std::printf("gbsetup %s\n", GBSETUP_VERSION);
      return 0;
    }
    if (args.empty() || args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
      PrintCommandList();
      return args.empty() ? 1 : 0;
    }
    auto it = Commands().find(args[0]);
    if (it == Commands().end()) throw ECliError("unknown command '" + args[0] + "' (see gbsetup --help)");
    TArgs rest(args.begin() + 1, args.end());
    for (const auto& a : rest)
      if (a == "--help" || a == "-h") {
        // Help texts are program text (GBK) like every literal; the terminal speaks UTF-8.
        std::printf("%s\n", Out(it->second.Usage).c_str());
        return 0;
      }
    SetDataFolder(dataDir);
    return it->second.Run(rest);
  } catch (const ECliError& e) {
    std::fflush(stdout);
    std::fprintf(stderr, "gbsetup: %s\n", e.what());
  } catch (const Exception& e) {
    std::fflush(stdout);
    std::fprintf(stderr, "gbsetup: %s\n", Out(e.Message()).c_str());
  } catch (const std::exception& e) {
    std::fflush(stdout);
    std::fprintf(stderr, "gbsetup: %s\n", e.what());
  }
  return 1;
}

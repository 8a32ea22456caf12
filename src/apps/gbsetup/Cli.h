#pragma once
// The gbsetup command line: UTF-8 on the terminal, GBK inside. Each command file
// registers its commands with GB_COMMAND.
#include <string>
#include <vector>

#include "core/Exceptions.h"
#include "core/Stream.h"
#include "core/Types.h"

using TArgs = std::vector<std::string>;

struct TCliCommand {
  const char* Name;
  const char* Summary;  // one line for the command list
  const char* Usage;    // full help text (UTF-8), shown for --help
  int (*Run)(const TArgs& args);  // args after the command name; returns the exit code
};

struct TCommandRegistrar {
  explicit TCommandRegistrar(const TCliCommand& c);
};
#define GB_CLI_CAT2(a, b) a##b
#define GB_CLI_CAT(a, b) GB_CLI_CAT2(a, b)
#define GB_COMMAND(...) static TCommandRegistrar GB_CLI_CAT(gbCommand, __LINE__)(TCliCommand{__VA_ARGS__})

// A usage or input error: printed as "gbsetup: <message>", exit code 1.
GB_EXCEPTION(ECliError, Exception)  // message in UTF-8

// Splits args into positionals and options. valueOptions take the next argument
// ("--output DIR"); flagOptions take none. Unknown options raise ECliError.
struct TParsedArgs {
  std::vector<std::string> Positional;
  std::vector<std::pair<std::string, std::string>> Options;  // in order, repeated allowed
  bool Has(const std::string& name) const;
  std::string Get(const std::string& name, const std::string& def = std::string()) const;
  std::vector<std::string> All(const std::string& name) const;
};
TParsedArgs ParseArgs(const TArgs& args, const std::vector<std::string>& valueOptions,
                      const std::vector<std::string>& flagOptions = {});

// Program (GBK) text -> UTF-8 for the terminal, and back for arguments.
std::string Out(const AnsiString& gbk);
AnsiString In(const std::string& utf8);
// A host path given on the command line -> program path (Z:\... on Linux).
AnsiString ArgPath(const std::string& hostPath);
// Names that no setup can store (GBK lacks a character of them) stop the command before it
// writes anything: every such entry that the folder scans since the last call met, in one error.
// A scan never leaves a file out without a word.
void RefuseUnlistedEntries();
// True when standard output is a terminal (progress bars) rather than a pipe or file.
bool StdoutIsTerminal();
// "x86 setup (PE32)" / "x64 setup (PE32+)" on standard error: the architecture of the stub a
// setup was built with, read from its header. Nothing for a file that is no executable.
void PrintSetupArch(TStream& setup);
// --windows 32|64 of a sandbox command (install, uninstall), after the root is set: the machine
// the sandbox plays, kept by the root. A root made as the other kind is an ECliError.
void UseSandboxWindows(const TParsedArgs& args);

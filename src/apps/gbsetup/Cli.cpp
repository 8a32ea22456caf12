#include "apps/gbsetup/Cli.h"

#include <algorithm>
#include <cstdio>

#include "engine/PackageCheck.h"
#include "system/Platform.h"
#include "system/Sandbox.h"
#include "system/SysKernel.h"

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

bool TParsedArgs::Has(const std::string& name) const {
  return std::any_of(Options.begin(), Options.end(), [&](const auto& o) { return o.first == name; });
}

std::string TParsedArgs::Get(const std::string& name, const std::string& def) const {
  std::string v = def;
  for (const auto& o : Options)
    if (o.first == name) v = o.second;
  return v;
}

std::vector<std::string> TParsedArgs::All(const std::string& name) const {
  std::vector<std::string> r;
  for (const auto& o : Options)
    if (o.first == name) r.push_back(o.second);
  return r;
}

TParsedArgs ParseArgs(const TArgs& args, const std::vector<std::string>& valueOptions,
                      const std::vector<std::string>& flagOptions) {
  TParsedArgs p;
  bool optionsDone = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (!optionsDone && a == "--") { optionsDone = true; continue; }
    if (!optionsDone && a.size() > 1 && a[0] == '-') {
      std::string name = a, value;
      size_t eq = a.find('=');
      bool inlineValue = a.rfind("--", 0) == 0 && eq != std::string::npos;
      if (inlineValue) { name = a.substr(0, eq); value = a.substr(eq + 1); }
      if (std::find(valueOptions.begin(), valueOptions.end(), name) != valueOptions.end()) {
        if (!inlineValue) {
          if (i + 1 >= args.size()) throw ECliError("option " + name + " needs a value");
          value = args[++i];
        }
        p.Options.emplace_back(name, value);
        continue;
      }
      if (std::find(flagOptions.begin(), flagOptions.end(), name) != flagOptions.end() && !inlineValue) {
        p.Options.emplace_back(name, "");
        continue;
      }
      throw ECliError("unknown option " + a);
    }
    p.Positional.push_back(a);
  }
  return p;
}

std::string Out(const AnsiString& gbk) { return GbkToUtf8(gbk); }

AnsiString In(const std::string& utf8) {
  try {
    return Utf8ToGbk(utf8);
  } catch (const Exception&) {
    throw ECliError("text cannot be written in GBK: " + utf8);
  }
}

AnsiString ArgPath(const std::string& hostPath) {
  try {
    return ProgramPath(hostPath);
  } catch (const EConvertError&) {
    throw ECliError("the name cannot be written in GBK, so no setup can hold it: " + hostPath);
  }
}

void RefuseUnlistedEntries() {
  const std::vector<std::string> names = TakeUnlistedEntries();
  if (names.empty()) return;
  std::string text = "these names cannot be written in GBK, so no setup can hold them; nothing was written "
                     "(rename them, or keep them out of the project's folders):";
  for (const std::string& name : names) text += "\n  " + name;
  if (names.size() >= 1000) text += "\n  ... and perhaps more (the first 1,000 are listed)";
  throw ECliError(text);
}

void UseSandboxWindows(const TParsedArgs& args) {
  int bits = 0;
  if (args.Has("--windows")) {
    const std::string w = args.Get("--windows");
    if (w != "32" && w != "64") throw ECliError("--windows takes 32 or 64");
    bits = w == "64" ? 64 : 32;
  }
  std::string error;
  if (!SetSandboxWindowsBits(bits, error)) throw ECliError(error);
}

void PrintSetupArch(TStream& setup) {
  const TImageArch arch = ExecutableArch(setup);
  if (arch == TImageArch::None) return;
  std::fflush(stdout);
  std::fprintf(stderr, "%s setup (%s)\n", ImageArchText(arch), arch == TImageArch::X64 ? "PE32+" : "PE32");
}

bool StdoutIsTerminal() {
#ifdef _WIN32
  return _isatty(_fileno(stdout)) != 0;
#else
  return isatty(fileno(stdout)) != 0;
#endif
}

// gbsetup verify: is a setup program's package whole?
#include <cstdio>
#include <string>

#include "apps/gbsetup/Cli.h"
#include "engine/PackageCheck.h"
#include "system/FileStream.h"

namespace {

int CmdVerify(const TArgs& args) {
  TParsedArgs a = ParseArgs(args, {});
  if (a.Positional.size() != 1) throw ECliError("usage: gbsetup verify SETUP");
  const AnsiString name = ArgPath(a.Positional[0]);
  TFileStream file(name, fmOpenRead | fmShareDenyNone);
  const bool terminal = StdoutIsTerminal();
  int shown = -1;
  TPackageVerdict v = VerifyPackage(file, name, [&](int64_t done, int64_t total) {
    if (!terminal || total < 64) return;  // small files are done before a bar could be read
    int percent = static_cast<int>(done * 100 / total);
    if (percent == shown) return;
    shown = percent;
    std::printf("\rchecking %3d%%", percent);
    std::fflush(stdout);
  });
  if (shown >= 0) std::printf("\r              \r");
  AnsiString line = PackageStateText(v.State);
  if (!v.Detail.empty()) line += ": " + v.Detail;
  // One line, whatever the names in it hold.
  for (char& c : line)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  std::printf("%s\n", Out(line).c_str());
  // Beside the verdict, which scripts compare as it is: the architecture the setup was built for.
  if (v.State != TPackageState::NoPackage) PrintSetupArch(file);
  return v.State == TPackageState::Ok ? 0 : 1;
}

}  // namespace

GB_COMMAND("verify", "check that a setup program's package is whole",
           "usage: gbsetup verify SETUP\n\n"
           "Reads the whole package and compares it with the checksum its builder stored.\n"
           "Prints \"ok\" (exit code 0), or what is wrong (exit code 1), and on standard error\n"
           "the setup's architecture (\"x86 setup (PE32)\" or \"x64 setup (PE32+)\"):\n"
           "  no package         the file carries no package\n"
           "  truncated: ...     the file ends before its package does (a download cut short)\n"
           "  damaged: ...       positions, index or chunks that do not fit the file\n"
           "  no checksum        a package from a builder that stored no checksum\n"
           "  checksum mismatch: ...  the bytes differ from what was built; when the index\n"
           "                     still reads, the entry whose data holds the first bad chunk",
           CmdVerify);

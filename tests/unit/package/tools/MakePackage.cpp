// Test helper: appends a package to a copy of a stub with the library's writer.
//   package_maker STUB OUT LEVEL JOBS KIND:NAME=FILE...
// NAME is the entry name (UTF-8, stored as GBK), FILE the host file holding its data.
#include <cstdio>
#include <string>
#include <vector>

#include "engine/Package.h"
#include "system/FileStream.h"
#include "system/Platform.h"
#include "system/SysKernel.h"

int main(int argc, char** argv) {
  if (argc < 5) {
    std::fprintf(stderr, "usage: package_maker STUB OUT LEVEL JOBS KIND:NAME=FILE...\n");
    return 2;
  }
  try {
    AnsiString out = ProgramPath(argv[2]);
    if (!CopyFileTo(ProgramPath(argv[1]), out, false)) throw Exception("cannot copy the stub");
    TInsPackList entries;
    std::vector<AnsiString> files;
    for (int i = 5; i < argc; ++i) {
      std::string a = argv[i];
      size_t colon = a.find(':'), eq = a.find('=');
      if (colon == std::string::npos || eq == std::string::npos || eq < colon) throw Exception("bad entry " + a);
      TInsPackRec* r = entries.Add();
      r->Kind = static_cast<uint8_t>(std::stoi(a.substr(0, colon)));
      r->Name = Utf8ToGbk(a.substr(colon + 1, eq - colon - 1));
      files.push_back(ProgramPath(a.substr(eq + 1)));
      r->FileSize = r->Kind == pkUninstaller ? 0 : FileSizeOf(files.back());
      r->FileDate = r->Kind == pkUninstaller ? 0.0 : 40564.5;
    }
    TFileStream setup(out, fmOpenReadWrite);
    TPackageWriteOptions o;
    o.LevelChoice = std::stoi(argv[3]);
    o.Jobs = std::stoi(argv[4]);
    o.TextBlock = "gbsetup";
    WritePackage(setup, entries,
                 [&](const TInsPackRec&, int32_t i) {
                   return std::make_unique<TFileStream>(files[static_cast<size_t>(i)], fmOpenRead | fmShareDenyNone);
                 },
                 o);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "package_maker: %s\n", e.what());
    return 1;
  }
  return 0;
}

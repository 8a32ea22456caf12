// gbsetup list / extract: the entries of a setup program's package.
#include <cstdio>
#include <string>
#include <vector>

#include "apps/gbsetup/Cli.h"
#include "core/TextUtils.h"
#include "engine/Package.h"
#include "engine/PackageCheck.h"
#include "system/FileCtrl.h"
#include "system/FileStream.h"
#include "system/SysKernel.h"

namespace {

void PrintLine(const std::string& line) {
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
}

// Tabs and line ends inside a name would break the one-line-per-entry output.
std::string Printable(const AnsiString& gbk) {
  AnsiString s = gbk;
  for (char& c : s)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  return Out(s);
}

struct TOpenPackage {
  AnsiString Name;
  std::unique_ptr<TFileStream> File;
  TInsPackList Entries;
  TPackageTrailer Trailer;
};

void OpenPackage(const std::string& hostPath, TOpenPackage& p) {
  p.Name = ArgPath(hostPath);
  p.File = std::make_unique<TFileStream>(p.Name, fmOpenRead | fmShareDenyNone);
  p.Trailer = ReadPackage(*p.File, p.Entries, p.Name);
  // Bytes behind the executable but no trailer: a setup cut short, not a bare stub.
  if (!p.Trailer.HasPackage && HasBytesAfterImage(*p.File))
    throw ECliError("damaged: " + hostPath + " has data behind its program but no package trailer at its end "
                    "(cut short?)");
}

int CmdList(const TArgs& args) {
  TParsedArgs a = ParseArgs(args, {});
  if (a.Positional.size() != 1) throw ECliError("usage: gbsetup list SETUP");
  TOpenPackage p;
  OpenPackage(a.Positional[0], p);
  if (!p.Trailer.HasPackage) {
    PrintLine("no package");
    return 0;
  }
  // On standard error: the table stays one line per entry for the scripts that read it.
  PrintSetupArch(*p.File);
  int n = 0;
  for (TInsPackRec* e : p.Entries) {
    PrintLine(std::to_string(++n) + "\t" + std::to_string(e->Kind) + "\t" + std::to_string(e->FileSize) + "\t" +
              std::to_string(e->DataStart) + "\t" + std::to_string(e->DataEnd) + "\t" + Printable(e->Name));
  }
  return 0;
}

bool IsDeviceName(const AnsiString& part) {
  AnsiString base = UpperCaseAscii(part.substr(0, part.find('.')));
  while (!base.empty() && base.back() == ' ') base.pop_back();
  static const char* const devices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
  for (const char* d : devices)
    if (base == d) return true;
  return base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0) && base[3] >= '0' &&
         base[3] <= '9';
}

// The place of an entry below the output folder: its name without the drive part
// (first three bytes), split at backslashes (and slashes) with double-byte characters
// kept whole. Empty when the name would leave the folder; why says how.
AnsiString RelativeTarget(const AnsiString& name, std::string& why) {
  if (name.size() <= 3) {
    why = "has no file name after its drive";
    return AnsiString();
  }
  AnsiString rest = name.substr(3);
  std::vector<AnsiString> parts(1);
  for (size_t i = 0; i < rest.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(rest[i]);
    if (IsGbkLeadByte(c) && i + 1 < rest.size()) {
      parts.back() += rest.substr(i, 2);
      ++i;
    } else if (c == '\\' || c == '/') {
      if (parts.size() == 1 && parts.back().empty()) {
        why = "is absolute";
        return AnsiString();
      }
      parts.emplace_back();
    } else {
      parts.back() += static_cast<char>(c);
    }
  }
  AnsiString rel;
  for (const AnsiString& part : parts) {
    if (part.empty() || part == ".") continue;
    if (part.find(':') != AnsiString::npos) {
      why = "is absolute";
      return AnsiString();
    }
    // Windows drops trailing dots and spaces, so "..." or ".. " would act as "..".
    if (part.find_first_not_of(". ") == AnsiString::npos) {
      why = "has a \"..\" component";
      return AnsiString();
    }
    if (IsDeviceName(part)) {
      why = "names a device";
      return AnsiString();
    }
    if (!rel.empty()) rel += '\\';
    rel += part;
  }
  if (rel.empty()) why = "has no file name after its drive";
  return rel;
}

int CmdExtract(const TArgs& args) {
  TParsedArgs a = ParseArgs(args, {"-o", "--output"});
  if (a.Positional.size() != 1 || (!a.Has("-o") && !a.Has("--output")))
    throw ECliError("usage: gbsetup extract SETUP -o DIR");
  std::string outArg = a.Has("-o") ? a.Get("-o") : a.Get("--output");
  TOpenPackage p;
  OpenPackage(a.Positional[0], p);
  if (!p.Trailer.HasPackage) {
    PrintLine("no package");
    return 0;
  }
  // Every name is checked before anything is written.
  std::vector<AnsiString> targets;
  // On standard error: the table stays one line per entry for the scripts that read it.
  PrintSetupArch(*p.File);
  int n = 0;
  for (TInsPackRec* e : p.Entries) {
    ++n;
    std::string why;
    AnsiString rel = RelativeTarget(e->Name, why);
    if (rel.empty())
      throw ECliError("entry " + std::to_string(n) + " \"" + Printable(e->Name) + "\" " + why + "; nothing extracted");
    targets.push_back(rel);
  }
  AnsiString dir = AppendPathDelimiter(ArgPath(outArg));
  if (!FolderExists(dir) && !ForceFolders(dir)) throw ECliError("cannot create folder " + outArg);
  for (int i = 0; i < p.Entries.Count(); ++i) {
    TInsPackRec* e = p.Entries[i];
    AnsiString target = dir + targets[static_cast<size_t>(i)];
    AnsiString folder = ExtractFilePath(target);
    if (!FolderExists(folder) && !ForceFolders(folder)) throw ECliError("cannot create folder " + Out(folder));
    TFileStream out(target, fmCreate);
    ExpandChunks(*p.File, out, e->DataStart, e->DataEnd, p.Name);
    if (e->Kind != pkUninstaller && out.Size() != e->FileSize)
      std::fprintf(stderr, "gbsetup: warning: entry %d \"%s\" expands to %s bytes, its index entry says %s\n", i + 1,
                   Printable(e->Name).c_str(), std::to_string(out.Size()).c_str(), std::to_string(e->FileSize).c_str());
  }
  PrintLine("extracted " + std::to_string(p.Entries.Count()) + " files to " + outArg);
  return 0;
}

}  // namespace

GB_COMMAND("list", "list the entries of a setup program's package",
           "usage: gbsetup list SETUP\n\n"
           "Prints one line per package entry, fields separated by a tab:\n"
           "number, kind, FileSize, DataStart, DataEnd, name.\n"
           "Kinds: 0 support file, 2 program file, 3 group file, 4 component file,\n"
           "5 page file, 6 uninstaller. Control characters in names print as '?'.\n"
           "A file without a package prints \"no package\"; a program with data behind it\n"
           "but no package trailer (a download cut short) is \"damaged\", exit code 1.",
           CmdList);
GB_COMMAND("extract", "extract every entry of a setup program's package",
           "usage: gbsetup extract SETUP -o DIR\n\n"
           "Writes every entry to DIR followed by its name without the drive part\n"
           "(C:\\app\\a.txt becomes DIR/app/a.txt), byte for byte. Names that would\n"
           "leave DIR (a \"..\" component, an absolute path, a device name) are refused\n"
           "before anything is written. A file without a package prints \"no package\";\n"
           "a damaged one is refused (exit code 1).",
           CmdExtract);

// Project files on the command line: a new project from the data folder, and the project
// file as JSON (UTF-8) in both directions.
#include <cstdio>
#include <string>

#include "apps/gbsetup/Cli.h"
#include "apps/gbsetup/ProjectJson.h"
#include "core/SysIntfs.h"
#include "core/TextUtils.h"
#include "project/IniFile.h"
#include "project/Project.h"
#include "project/ProjectFile.h"
#include "system/Platform.h"
#include "system/SysKernel.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace {
int CmdNew(const TArgs& args) {
  TParsedArgs a = ParseArgs(args, {}, {"--force"});
  if (a.Positional.size() != 1) throw ECliError("usage: gbsetup new PROJECT [--force]");
  AnsiString file = ArgPath(a.Positional[0]);
  if (FileExists(file) && !a.Has("--force")) throw ECliError(a.Positional[0] + " already exists (--force replaces it)");
  TIntfPtr<IProject> project(new TProject());
  project->SaveToFile(file);
  return 0;
}

int CmdExport(const TArgs& args) {
  TParsedArgs a = ParseArgs(args, {}, {"--concise"});
  if (a.Positional.size() != 1) throw ECliError("usage: gbsetup export PROJECT [--concise]");
  TLoadedProject project;
  LoadProjectArg(a.Positional[0], project);
  std::string text = ProjectToJson(project.Data, a.Has("--concise"));
#ifdef _WIN32
  _setmode(_fileno(stdout), _O_BINARY);  // the same bytes as on Linux: LF line ends
#endif
  std::fwrite(text.data(), 1, text.size(), stdout);
  return std::fflush(stdout) == 0 ? 0 : 1;
}

int CmdImport(const TArgs& args) {
  TParsedArgs a = ParseArgs(args, {"-o", "--output"});
  std::string out = a.Get("-o", a.Get("--output"));
  if (a.Positional.size() != 1 || out.empty()) throw ECliError("usage: gbsetup import JSON -o PROJECT");
  std::string text;
  if (a.Positional[0] == "-") {
    char buf[16384];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, stdin)) > 0) text.append(buf, n);
  } else {
    text = ReadFileText(ArgPath(a.Positional[0]));
  }
  // Everything is checked before the file is written.
  TProjectFileData d;
  std::string arch;
  ProjectFromJson(text, a.Positional[0], a.Positional[0] == "-" ? std::string() : FolderOfArg(a.Positional[0]), d,
                  &arch);
  WriteProjectFile(ArgPath(out), ListsOf(d));
  // The project file has no place for it: say so rather than build the other kind silently.
  if (arch == "x64")
    std::fprintf(stderr, "gbsetup: warning: a project file keeps no \"arch\"; build %s with --arch x64\n",
                 out.c_str());
  return 0;
}
}  // namespace

GB_COMMAND("new", "write a new project with the data folder's defaults",
           "usage: gbsetup new PROJECT [--force]\n\n"
           "Writes a project holding the default settings, the page items of the data folder's\n"
           "Page.txt and nothing else. An existing file is kept unless --force is given.",
           CmdNew);
GB_COMMAND("export", "print a project file as JSON",
           "usage: gbsetup export PROJECT [--concise]\n\n"
           "Prints the project file as it is stored, as a UTF-8 JSON object with the keys settings,\n"
           "files, specialFiles, registry, components, pages, directories and shortcuts, in file\n"
           "order. Records use the field names of the file; IconIndex is left out (every load\n"
           "computes it afresh). A FileDate that is not a finite number is written as the string\n"
           "\"NaN\", \"Infinity\" or \"-Infinity\". PROJECT may also be a JSON project.\n\n"
           "  --concise   the form to write by hand: settings as {name: value} and pages as\n"
           "              {page: {item: value}} holding only what differs from a new project's\n"
           "              defaults (when the lists are a new project's, else their records), and\n"
           "              every record without the fields that are empty or 0. import reads it\n"
           "              back to the same project file.",
           CmdExport);
GB_COMMAND("import", "write a project file from JSON",
           "usage: gbsetup import JSON -o PROJECT\n\n"
           "Reads a JSON project (JSON may be - for standard input) and writes the binary project.\n"
           "Both the full form that export prints and the concise one are read, section by section:\n"
           "  settings   records, or {\"项目名称\": \"Hello\", ...}: values over a new project's settings\n"
           "  pages      records, or {\"欢迎\": {\"标题图片\": \"images/head.jpg\"}, ...}: values over the\n"
           "             data folder's page template (Page.txt); left out, settings and pages are a\n"
           "             new project's\n"
           "  folders    [{\"from\": \"app/\", \"to\": \"Program Files\"}]: the disk folder scanned as\n"
           "             add-folder scans it, after the listed files; \"app\" becomes a node below\n"
           "             \"to\", \"app/\" puts what it holds straight into \"to\"\n"
           "  files, specialFiles, registry, components, directories, shortcuts: records; a field\n"
           "             left out is empty or 0\n"
           "An unknown key, a wrong type, a number out of its field's range, text that GBK cannot\n"
           "hold, a setting or page item the defaults do not have, a folder that is not there: each\n"
           "is reported with its JSON path and nothing is written. The schema docs/project.schema.json\n"
           "describes both forms.\n\n"
           "Paths of files (SourcePath, Sources, shortcut Target, file-valued page items and\n"
           "settings, folders) that are relative are taken relative to the JSON file's folder; a\n"
           "file record with such a path that leaves out FileName, FileDate or FileSize gets them\n"
           "from the file.",
           CmdImport);

// Project files on the command line: a new project from the data folder, and the project
// file as JSON (UTF-8) in both directions.
#include <cmath>
#include <cstdio>
#include <limits>
#include <nlohmann/json.hpp>
#include <set>
#include <string>

#include "apps/gbsetup/Cli.h"
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
using TJson = nlohmann::ordered_json;

// ---- export ----

TJson Text(const AnsiString& s) { return Out(s); }

// JSON has no NaN or infinities; they travel as strings so that a file survives the trip.
TJson Number(double v) {
  if (std::isnan(v)) return "NaN";
  if (std::isinf(v)) return v > 0 ? "Infinity" : "-Infinity";
  return v;
}

TJson Lines(const TStringList& l) {
  TJson a = TJson::array();
  for (const AnsiString& s : l) a.push_back(Text(s));
  return a;
}

TJson ToJson(const TProjectFileData& d) {
  TJson j;
  TJson& settings = j["settings"] = TJson::array();
  for (TWorkInfoRec* r : d.Works)
    settings.push_back({{"Name", Text(r->Name)}, {"Value", Text(r->Value)}, {"Items", Text(r->Items)}, {"Kind", r->Kind}});
  TJson& files = j["files"] = TJson::array();
  for (TFileInfoRec* r : d.Files)
    files.push_back({{"FileName", Text(r->FileName)},
                     {"SourcePath", Text(r->SourcePath)},
                     {"TargetDir", Text(r->TargetDir)},
                     {"Extra", Text(r->Extra)},
                     {"FileDate", Number(r->FileDate)},
                     {"FileSize", r->FileSize},
                     {"NoOverwrite", r->NoOverwrite},
                     {"AutoRun", r->AutoRun},
                     {"SelfRegister", r->SelfRegister},
                     {"RegServer", r->RegServer},
                     {"DesignFlag", r->DesignFlag},
                     {"LogFlag", r->LogFlag},
                     {"OsFilter", Text(r->OsFilter)}});
  TJson& special = j["specialFiles"] = TJson::array();
  for (TSpecailFileRec* r : d.SpecialFiles) special.push_back({{"TargetDir", Text(r->TargetDir)}, {"Sources", Lines(*r->Sources)}});
  TJson& registry = j["registry"] = TJson::array();
  for (TRegistryInfoRec* r : d.Registry)
    registry.push_back({{"KeyPath", Text(r->KeyPath)},
                        {"ValueName", Text(r->ValueName)},
                        {"ValueData", Text(r->ValueData)},
                        {"ValueType", r->ValueType},
                        {"Extra", r->Extra},
                        {"OsFilter", Text(r->OsFilter)}});
  j["components"] = Lines(d.Components);
  TJson& pages = j["pages"] = TJson::array();
  for (TPageInfoRec* r : d.Pages)
    pages.push_back({{"Page", Text(r->Page)}, {"Name", Text(r->Name)}, {"Items", Text(r->Items)}, {"Kind", r->Kind}, {"Value", Text(r->Value)}});
  TJson& dirs = j["directories"] = TJson::array();
  for (TDirectoryInfoRec* r : d.Directories) dirs.push_back({{"Name", Text(r->Name)}, {"Path", Text(r->Path)}, {"Kind", r->Kind}});
  TJson& shortcuts = j["shortcuts"] = TJson::array();
  for (TShotCutInfoRec* r : d.Shortcuts)
    shortcuts.push_back({{"Folder", Text(r->Folder)},
                         {"Name", Text(r->Name)},
                         {"Description", Text(r->Description)},
                         {"Target", Text(r->Target)},
                         {"Arguments", Text(r->Arguments)},
                         {"ExtraByte", r->ExtraByte},
                         {"ExtraInt", r->ExtraInt}});
  return j;
}

// ---- import ----

[[noreturn]] void Fail(const std::string& path, const std::string& what) { throw ECliError(path + ": " + what); }

// One JSON object whose fields are taken one by one; a field left over is an unknown key.
class TFields {
public:
  TFields(const TJson& obj, std::string path) : FObj(obj), FPath(std::move(path)) {
    if (!obj.is_object()) Fail(FPath, "expected an object");
  }
  // After every field was taken: anything left is a key this format does not have.
  void Finish() const {
    for (auto it = FObj.begin(); it != FObj.end(); ++it)
      if (!FTaken.count(it.key())) Fail(Sub(it.key()), "unknown key");
  }
  std::string Sub(const std::string& key) const { return FPath.empty() ? key : FPath + "." + key; }
  const TJson* Get(const char* key) {
    FTaken.insert(key);
    auto it = FObj.find(key);
    return it == FObj.end() ? nullptr : &*it;
  }
  AnsiString Str(const char* key, bool oneLine = false) {
    const TJson* v = Get(key);
    return v ? GbkText(*v, Sub(key), oneLine) : AnsiString();
  }
  int64_t Int(const char* key, int64_t lo, int64_t hi) {
    const TJson* v = Get(key);
    return v ? Integer(*v, Sub(key), lo, hi) : 0;
  }
  double Real(const char* key) {
    const TJson* v = Get(key);
    if (!v) return 0;
    if (v->is_number()) return v->get<double>();
    if (v->is_string()) {
      const std::string& s = v->get_ref<const std::string&>();
      if (s == "NaN") return std::numeric_limits<double>::quiet_NaN();
      if (s == "Infinity") return std::numeric_limits<double>::infinity();
      if (s == "-Infinity") return -std::numeric_limits<double>::infinity();
    }
    Fail(Sub(key), "expected a number");
  }
  const TJson& Array(const char* key, const TJson& empty) {
    const TJson* v = Get(key);
    if (!v) return empty;
    if (!v->is_array()) Fail(Sub(key), "expected an array");
    return *v;
  }

  static AnsiString GbkText(const TJson& v, const std::string& path, bool oneLine) {
    if (!v.is_string()) Fail(path, "expected a string");
    const std::string& s = v.get_ref<const std::string&>();
    // The lists are stored as lines: a line break inside one would split it on the way back.
    if (oneLine && s.find_first_of("\r\n") != std::string::npos) Fail(path, "line breaks are not allowed here");
    try {
      return Utf8ToGbk(s);
    } catch (const Exception&) {
      Fail(path, "text cannot be written in GBK");
    }
  }
  static int64_t Integer(const TJson& v, const std::string& path, int64_t lo, int64_t hi) {
    if (!v.is_number_integer()) Fail(path, "expected an integer");
    bool inRange;
    int64_t n = 0;
    if (v.is_number_unsigned()) {
      uint64_t u = v.get<uint64_t>();
      inRange = u <= static_cast<uint64_t>(hi);
      n = static_cast<int64_t>(u);
    } else {
      n = v.get<int64_t>();
      inRange = n >= lo && n <= hi;
    }
    if (!inRange) Fail(path, "number out of range (" + std::to_string(lo) + ".." + std::to_string(hi) + ")");
    return n;
  }

private:
  const TJson& FObj;
  std::string FPath;
  std::set<std::string> FTaken;
};

template <class F>
void EachRecord(TFields& root, const char* key, F body) {
  static const TJson empty = TJson::array();
  const TJson& a = root.Array(key, empty);
  for (size_t i = 0; i < a.size(); ++i) {
    TFields f(a[i], std::string(key) + "[" + std::to_string(i) + "]");
    body(f);
    f.Finish();
  }
}

void ReadLines(const TJson& a, const std::string& path, TStringList& out) {
  for (size_t i = 0; i < a.size(); ++i) out.Add(TFields::GbkText(a[i], path + "[" + std::to_string(i) + "]", true));
}

uint8_t Byte(TFields& f, const char* key) { return static_cast<uint8_t>(f.Int(key, 0, 255)); }

void FromJson(const TJson& j, TProjectFileData& d) {
  TFields root(j, "");
  EachRecord(root, "settings", [&](TFields& f) {
    TWorkInfoRec* r = d.Works.Add();
    r->Name = f.Str("Name");
    r->Value = f.Str("Value");
    r->Items = f.Str("Items");
    r->Kind = Byte(f, "Kind");
  });
  EachRecord(root, "files", [&](TFields& f) {
    TFileInfoRec* r = d.Files.Add();
    r->FileName = f.Str("FileName");
    r->SourcePath = f.Str("SourcePath");
    r->TargetDir = f.Str("TargetDir");
    r->Extra = f.Str("Extra");
    r->FileDate = f.Real("FileDate");
    r->FileSize = f.Int("FileSize", std::numeric_limits<int64_t>::min(), std::numeric_limits<int64_t>::max());
    r->NoOverwrite = Byte(f, "NoOverwrite");
    r->AutoRun = Byte(f, "AutoRun");
    r->SelfRegister = Byte(f, "SelfRegister");
    r->RegServer = Byte(f, "RegServer");
    r->DesignFlag = Byte(f, "DesignFlag");
    r->LogFlag = Byte(f, "LogFlag");
    r->OsFilter = f.Str("OsFilter");
  });
  EachRecord(root, "specialFiles", [&](TFields& f) {
    TSpecailFileRec* r = d.SpecialFiles.Add();
    r->TargetDir = f.Str("TargetDir");
    static const TJson empty = TJson::array();
    ReadLines(f.Array("Sources", empty), f.Sub("Sources"), *r->Sources);
  });
  EachRecord(root, "registry", [&](TFields& f) {
    TRegistryInfoRec* r = d.Registry.Add();
    r->KeyPath = f.Str("KeyPath");
    r->ValueName = f.Str("ValueName");
    r->ValueData = f.Str("ValueData");
    r->ValueType = Byte(f, "ValueType");
    r->Extra = Byte(f, "Extra");
    r->OsFilter = f.Str("OsFilter");
  });
  {
    static const TJson empty = TJson::array();
    ReadLines(root.Array("components", empty), "components", d.Components);
  }
  EachRecord(root, "pages", [&](TFields& f) {
    TPageInfoRec* r = d.Pages.Add();
    r->Page = f.Str("Page");
    r->Name = f.Str("Name");
    r->Items = f.Str("Items");
    r->Kind = Byte(f, "Kind");
    r->Value = f.Str("Value");
  });
  EachRecord(root, "directories", [&](TFields& f) {
    TDirectoryInfoRec* r = d.Directories.Add();
    r->Name = f.Str("Name");
    r->Path = f.Str("Path");
    r->Kind = Byte(f, "Kind");
  });
  EachRecord(root, "shortcuts", [&](TFields& f) {
    TShotCutInfoRec* r = d.Shortcuts.Add();
    r->Folder = f.Str("Folder");
    r->Name = f.Str("Name");
    r->Description = f.Str("Description");
    r->Target = f.Str("Target");
    r->Arguments = f.Str("Arguments");
    r->ExtraByte = Byte(f, "ExtraByte");
    r->ExtraInt = static_cast<int32_t>(f.Int("ExtraInt", std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()));
  });
  root.Finish();
}

// ---- commands ----

// A hand-written project (such as an example kept in a repository) may name its files
// relative to the JSON file; they become full paths of this machine, as the designer
// would have stored them.
bool IsRelativePath(const AnsiString& p) {
  return !p.empty() && p[0] != '\\' && !(p.size() >= 2 && p[1] == ':');
}

AnsiString Resolve(const std::string& baseDir, const AnsiString& p) {
  if (!IsRelativePath(p)) return p;
  std::string rel = Out(p);
  for (char& c : rel)
    if (c == '\\') c = '/';
  return ArgPath(baseDir + "/" + rel);
}

void ResolveRelativePaths(const TJson& j, const std::string& baseDir, TProjectFileData& d) {
  const TJson* files = j.contains("files") ? &j["files"] : nullptr;
  for (int i = 0; i < d.Files.Count(); ++i) {
    TFileInfoRec* r = d.Files[i];
    if (!IsRelativePath(r->SourcePath)) continue;
    r->SourcePath = Resolve(baseDir, r->SourcePath);
    // Fields left out of such a record are taken from the file itself.
    const TJson& f = (*files)[static_cast<size_t>(i)];
    if (!f.contains("FileName")) r->FileName = ExtractFileName(r->SourcePath);
    if (!f.contains("FileDate")) r->FileDate = FileStampOf(r->SourcePath);
    if (!f.contains("FileSize") && FileExists(r->SourcePath)) r->FileSize = FileSizeOf(r->SourcePath);
  }
  for (TSpecailFileRec* r : d.SpecialFiles)
    for (AnsiString& s : r->Sources->Items()) s = Resolve(baseDir, s);
  for (TShotCutInfoRec* r : d.Shortcuts) r->Target = Resolve(baseDir, r->Target);
  for (TPageInfoRec* r : d.Pages)
    if (IsFileKind(r->Kind)) r->Value = Resolve(baseDir, r->Value);
  for (TWorkInfoRec* r : d.Works)
    if (IsFileKind(r->Kind)) r->Value = Resolve(baseDir, r->Value);
}

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
  TParsedArgs a = ParseArgs(args, {});
  if (a.Positional.size() != 1) throw ECliError("usage: gbsetup export PROJECT");
  TProjectFileData d;
  ReadProjectFile(ArgPath(a.Positional[0]), d);
  std::string text = ToJson(d).dump(2) + "\n";
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
  TJson j;
  try {
    j = TJson::parse(text);
  } catch (const nlohmann::json::exception& e) {
    throw ECliError(a.Positional[0] + ": not valid JSON: " + e.what());
  }
  // Everything is checked before the file is written.
  TProjectFileData d;
  FromJson(j, d);
  if (a.Positional[0] != "-") {
    std::string dir = a.Positional[0];
    size_t slash = dir.find_last_of('/');
    dir = slash == std::string::npos ? std::string(".") : dir.substr(0, slash == 0 ? 1 : slash);
    ResolveRelativePaths(j, dir, d);
  }
  for (TFileInfoRec* r : d.Files) r->IconIndex = FileIconIndex(r->SourcePath, true);
  WriteProjectFile(ArgPath(out), ListsOf(d));
  return 0;
}
}  // namespace

GB_COMMAND("new", "write a new project with the data folder's defaults",
           "usage: gbsetup new PROJECT [--force]\n\n"
           "Writes a project holding the default settings, the page items of the data folder's\n"
           "Page.txt and nothing else. An existing file is kept unless --force is given.",
           CmdNew);
GB_COMMAND("export", "print a project file as JSON",
           "usage: gbsetup export PROJECT\n\n"
           "Prints the project file as it is stored, as a UTF-8 JSON object with the keys settings,\n"
           "files, specialFiles, registry, components, pages, directories and shortcuts, in file\n"
           "order. Records use the field names of the file; IconIndex is left out (every load\n"
           "computes it afresh). A FileDate that is not a finite number is written as the string\n"
           "\"NaN\", \"Infinity\" or \"-Infinity\".",
           CmdExport);
GB_COMMAND("import", "write a project file from JSON",
           "usage: gbsetup import JSON -o PROJECT\n\n"
           "Reads the JSON that export prints (JSON may be - for standard input) and writes the\n"
           "binary project. Missing keys are empty or 0; an unknown key, a wrong type, a number out\n"
           "of its field's range or text that GBK cannot hold is reported with its JSON path and\n"
           "nothing is written.\n\n"
           "Paths of files (SourcePath, Sources, shortcut Target, file-valued page items and\n"
           "settings) that are relative are taken relative to the JSON file's folder; a file record\n"
           "with such a path that leaves out FileName, FileDate or FileSize gets them from the file.",
           CmdImport);

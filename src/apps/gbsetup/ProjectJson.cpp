// Projects as JSON: the one reader and writer of both forms, the command-line project that may
// be either a project file or JSON, and the per-build changes of settings and page items.
#include "apps/gbsetup/ProjectJson.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <nlohmann/json.hpp>
#include <set>

#include "apps/gbsetup/Cli.h"
#include "core/Stream.h"
#include "core/TextUtils.h"
#include "project/IniFile.h"
#include "project/Project.h"
#include "system/FileCtrl.h"
#include "system/Platform.h"
#include "system/SysKernel.h"

namespace {
using TJson = nlohmann::ordered_json;

// ---- names: the closest known one for a misspelt name ----

size_t EditDistance(const std::u16string& a, const std::u16string& b) {
  std::vector<size_t> row(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    size_t diag = row[0];
    row[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      size_t up = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diag + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diag = up;
    }
  }
  return row[b.size()];
}

std::u16string Folded(const AnsiString& s) { return GbkToUtf16(UpperCaseAscii(s)); }

// "unknown setting '版本'" followed by the closest known name, or by all of them when none is close.
std::string Unknown(const char* what, const std::string& given, const std::vector<AnsiString>& known,
                    const std::string& where = std::string()) {
  std::string msg = std::string("unknown ") + what + " '" + given + "'" + where;
  std::vector<AnsiString> names;
  for (const AnsiString& k : known)
    if (std::none_of(names.begin(), names.end(), [&](const AnsiString& n) { return SameText(n, k); }))
      names.push_back(k);
  if (names.empty()) return msg + " (there are none)";
  std::u16string g;
  try {
    g = Folded(Utf8ToGbk(given));
  } catch (const Exception&) {
    g = std::u16string(given.begin(), given.end());
  }
  const AnsiString* best = nullptr;
  size_t bestDistance = 0;
  for (const AnsiString& n : names) {
    size_t d = EditDistance(g, Folded(n));
    if (!best || d < bestDistance) best = &n, bestDistance = d;
  }
  size_t longer = std::max(g.size(), Folded(*best).size());
  if (bestDistance <= std::max<size_t>(2, longer / 2)) return msg + " (did you mean '" + Out(*best) + "'?)";
  std::string list;
  for (const AnsiString& n : names) list += (list.empty() ? "" : ", ") + Out(n);
  return msg + " (known: " + list + ")";
}

std::vector<AnsiString> PageNames(const TPageInfoList& pages) {
  std::vector<AnsiString> r;
  for (TPageInfoRec* p : pages) r.push_back(p->Page);
  return r;
}

std::vector<AnsiString> ItemNames(const TPageInfoList& pages, const AnsiString& page) {
  std::vector<AnsiString> r;
  for (TPageInfoRec* p : pages)
    if (SameText(p->Page, page)) r.push_back(p->Name);
  return r;
}

TPageInfoRec* FindPageItem(const TPageInfoList& pages, const AnsiString& page, const AnsiString& name) {
  for (TPageInfoRec* p : pages)
    if (SameText(p->Page, page) && SameText(p->Name, name)) return p;
  return nullptr;
}

TWorkInfoRec* FindSetting(const TWorkInfoList& works, const AnsiString& name) {
  for (TWorkInfoRec* w : works)
    if (SameText(w->Name, name)) return w;
  return nullptr;
}

// A new project of the data folder: the settings' and page items' defaults, and the scanner of folders.
TIntfPtr<IProject> NewProject() { return TIntfPtr<IProject>(new TProject()); }

// ---- paths ----

// A hand-written project (such as an example kept in a repository) may name its files
// relative to the JSON file; they become full paths of this machine, as the designer
// would have stored them.
// A path that starts with "/" is a host path of this machine (Z:\... on Linux).
bool IsRelativePath(const AnsiString& p) { return !p.empty() && p[0] != '\\' && !(p.size() >= 2 && p[1] == ':'); }

AnsiString Resolve(const std::string& baseDir, const AnsiString& p) {
  if (baseDir.empty() || !IsRelativePath(p)) return p;
  if (p[0] == '/') return ArgPath(Out(p));
  std::string rel = Out(p);
  for (char& c : rel)
    if (c == '\\') c = '/';
  return ArgPath(baseDir + "/" + rel);
}

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

TJson WorkJson(const TWorkInfoRec& r) {
  return {{"Name", Text(r.Name)}, {"Value", Text(r.Value)}, {"Items", Text(r.Items)}, {"Kind", r.Kind}};
}
TJson PageJson(const TPageInfoRec& r) {
  return {{"Page", Text(r.Page)}, {"Name", Text(r.Name)}, {"Items", Text(r.Items)}, {"Kind", r.Kind}, {"Value", Text(r.Value)}};
}
TJson FileJson(const TFileInfoRec& r) {
  return {{"FileName", Text(r.FileName)},   {"SourcePath", Text(r.SourcePath)},
          {"TargetDir", Text(r.TargetDir)}, {"Extra", Text(r.Extra)},
          {"FileDate", Number(r.FileDate)}, {"FileSize", r.FileSize},
          {"NoOverwrite", r.NoOverwrite},   {"AutoRun", r.AutoRun},
          {"SelfRegister", r.SelfRegister}, {"RegServer", r.RegServer},
          {"DesignFlag", r.DesignFlag},     {"LogFlag", r.LogFlag},
          {"OsFilter", Text(r.OsFilter)}};
}
TJson SpecialJson(const TSpecailFileRec& r) { return {{"TargetDir", Text(r.TargetDir)}, {"Sources", Lines(*r.Sources)}}; }
TJson RegistryJson(const TRegistryInfoRec& r) {
  return {{"KeyPath", Text(r.KeyPath)}, {"ValueName", Text(r.ValueName)}, {"ValueData", Text(r.ValueData)},
          {"ValueType", r.ValueType},   {"Extra", r.Extra},                 {"OsFilter", Text(r.OsFilter)}};
}
TJson DirectoryJson(const TDirectoryInfoRec& r) { return {{"Name", Text(r.Name)}, {"Path", Text(r.Path)}, {"Kind", r.Kind}}; }
TJson ShortcutJson(const TShotCutInfoRec& r) {
  return {{"Folder", Text(r.Folder)},       {"Name", Text(r.Name)},         {"Description", Text(r.Description)},
          {"Target", Text(r.Target)},       {"Arguments", Text(r.Arguments)}, {"ExtraByte", r.ExtraByte},
          {"ExtraInt", r.ExtraInt}};
}

// The fields of a zero-filled record are left out; the reader fills them in again. -0.0 is
// not a zero-filled date, so it stays.
TJson WithoutZeros(const TJson& rec, const std::set<std::string>& keep = {}) {
  TJson r = TJson::object();
  for (auto it = rec.begin(); it != rec.end(); ++it) {
    const TJson& v = it.value();
    bool zero = (v.is_string() && v.get_ref<const std::string&>().empty()) || (v.is_array() && v.empty()) ||
                (v.is_number_integer() && v.get<int64_t>() == 0) ||
                (v.is_number_float() && v.get<double>() == 0 && !std::signbit(v.get<double>()));
    if (!zero || keep.count(it.key())) r[it.key()] = v;
  }
  return r;
}

template <class L, class F>
TJson Records(const L& list, F toJson, bool concise) {
  TJson a = TJson::array();
  for (auto* r : list) a.push_back(concise ? WithoutZeros(toJson(*r)) : toJson(*r));
  return a;
}

// Settings as {name: value} when they are a new project's settings in the same order with
// only values changed; otherwise null and the caller writes the records.
TJson ConciseSettings(const TWorkInfoList& works, const TWorkInfoList& defaults) {
  if (works.Count() != defaults.Count()) return nullptr;
  TJson o = TJson::object();
  for (int i = 0; i < works.Count(); ++i) {
    const TWorkInfoRec &w = *works[i], &d = *defaults[i];
    if (w.Name != d.Name || w.Items != d.Items || w.Kind != d.Kind) return nullptr;
    if (FindSetting(defaults, d.Name) != &d) return nullptr;  // a name only its first holder answers to
    if (w.Value != d.Value) o[Out(w.Name)] = Text(w.Value);
  }
  return o;
}

// Page items as {page: {item: value}} over the page template, on the same terms.
TJson ConcisePages(const TPageInfoList& pages, const TPageInfoList& tmpl) {
  if (pages.Count() != tmpl.Count()) return nullptr;
  TJson o = TJson::object();
  for (int i = 0; i < pages.Count(); ++i) {
    const TPageInfoRec &p = *pages[i], &t = *tmpl[i];
    if (p.Page != t.Page || p.Name != t.Name || p.Items != t.Items || p.Kind != t.Kind) return nullptr;
    if (p.Value == t.Value) continue;
    if (FindPageItem(tmpl, t.Page, t.Name) != &t) return nullptr;
    o[Out(p.Page)][Out(p.Name)] = Text(p.Value);
  }
  return o;
}

// ---- import ----

// One JSON object whose fields are taken one by one; a field left over is an unknown key.
class TFields {
public:
  TFields(const TJson& obj, std::string path) : FObj(obj), FPath(std::move(path)) {
    if (!obj.is_object()) Fail(FPath.empty() ? std::string("(top level)") : FPath, "expected an object");
  }
  // After every field was taken: anything left is a key this format does not have.
  void Finish() const {
    for (auto it = FObj.begin(); it != FObj.end(); ++it)
      if (!FTaken.count(it.key())) Fail(Sub(it.key()), "unknown key");
  }
  std::string Sub(const std::string& key) const { return FPath.empty() ? key : FPath + "." + key; }
  bool Has(const char* key) const { return FObj.contains(key); }
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

  [[noreturn]] static void Fail(const std::string& path, const std::string& what) { throw ECliError(path + ": " + what); }
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
void EachRecord(const TJson& a, const std::string& path, F body) {
  for (size_t i = 0; i < a.size(); ++i) {
    TFields f(a[i], path + "[" + std::to_string(i) + "]");
    body(f);
    f.Finish();
  }
}

void ReadLines(const TJson& a, const std::string& path, TStringList& out) {
  for (size_t i = 0; i < a.size(); ++i) out.Add(TFields::GbkText(a[i], path + "[" + std::to_string(i) + "]", true));
}

uint8_t Byte(TFields& f, const char* key) { return static_cast<uint8_t>(f.Int(key, 0, 255)); }

// An object of strings, key by key.
template <class F>
void EachValue(const TJson& o, const std::string& path, F body) {
  for (auto it = o.begin(); it != o.end(); ++it) body(it.key(), it.value(), path + "." + it.key());
}

class TJsonReader {
public:
  TJsonReader(std::string baseDir) : FBaseDir(std::move(baseDir)), FNew(NewProject()) {}

  void Read(const TJson& j, TProjectFileData& d, std::string* arch, TManifestOptions* manifest) {
    TFields root(j, "");
    if (const TJson* s = root.Get("$schema"); s && !s->is_string()) TFields::Fail("$schema", "expected a string");
    if (const TJson* a = root.Get("arch")) {
      if (!a->is_string() || (a->get<std::string>() != "x86" && a->get<std::string>() != "x64"))
        TFields::Fail("arch", "expected \"x86\" or \"x64\"");
      if (arch) *arch = a->get<std::string>();
    }
    if (const TJson* m = root.Get("manifest")) ReadManifest(*m, manifest);
    ReadSettings(root, d);
    static const TJson empty = TJson::array();
    EachRecord(root.Array("files", empty), "files", [&](TFields& f) { ReadFile(f, d); });
    EachRecord(root.Array("specialFiles", empty), "specialFiles", [&](TFields& f) {
      TSpecailFileRec* r = d.SpecialFiles.Add();
      r->TargetDir = f.Str("TargetDir");
      ReadLines(f.Array("Sources", empty), f.Sub("Sources"), *r->Sources);
      for (AnsiString& s : r->Sources->Items()) s = Resolve(FBaseDir, s);
    });
    EachRecord(root.Array("registry", empty), "registry", [&](TFields& f) {
      TRegistryInfoRec* r = d.Registry.Add();
      r->KeyPath = f.Str("KeyPath");
      r->ValueName = f.Str("ValueName");
      r->ValueData = f.Str("ValueData");
      r->ValueType = Byte(f, "ValueType");
      r->Extra = Byte(f, "Extra");
      r->OsFilter = f.Str("OsFilter");
    });
    ReadLines(root.Array("components", empty), "components", d.Components);
    ReadPages(root, d);
    EachRecord(root.Array("directories", empty), "directories", [&](TFields& f) {
      TDirectoryInfoRec* r = d.Directories.Add();
      r->Name = f.Str("Name");
      r->Path = f.Str("Path");
      r->Kind = Byte(f, "Kind");
    });
    EachRecord(root.Array("shortcuts", empty), "shortcuts", [&](TFields& f) {
      TShotCutInfoRec* r = d.Shortcuts.Add();
      r->Folder = f.Str("Folder");
      r->Name = f.Str("Name");
      r->Description = f.Str("Description");
      r->Target = Resolve(FBaseDir, f.Str("Target"));
      r->Arguments = f.Str("Arguments");
      r->ExtraByte = Byte(f, "ExtraByte");
      r->ExtraInt = static_cast<int32_t>(f.Int("ExtraInt", std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()));
    });
    // Last: a folder's files come after the listed ones and skip those already listed there.
    ReadFolders(root.Array("folders", empty), d);
    root.Finish();
    for (TFileInfoRec* r : d.Files) r->IconIndex = FileIconIndex(r->SourcePath, true);
  }

private:
  std::string FBaseDir;
  TIntfPtr<IProject> FNew;

  const TWorkInfoList& Defaults() { return *FNew->GetWorkList(); }

  // "manifest": what build --manifest needs beyond the project. The values go into files
  // written as UTF-8 and never into the project, so they need not be GBK text.
  static void ReadManifest(const TJson& m, TManifestOptions* out) {
    TFields f(m, "manifest");
    TManifestOptions read;
    const std::pair<const char*, std::string*> keys[] = {
        {"id", &read.Id}, {"url", &read.Url}, {"license", &read.License}, {"description", &read.Description}};
    for (const auto& [key, value] : keys) {
      const TJson* v = f.Get(key);
      if (!v) continue;
      if (!v->is_string() || v->get_ref<const std::string&>().empty()) TFields::Fail(f.Sub(key), "expected a non-empty string");
      *value = v->get<std::string>();
      if (value->find_first_of("\r\n") != std::string::npos) TFields::Fail(f.Sub(key), "line breaks are not allowed here");
    }
    f.Finish();
    if (out) *out = read;
  }
  const TPageInfoList& Template() { return *FNew->GetPageList(); }

  // An array of records as stored, an object of values over a new project's settings, or
  // (left out) a new project's settings.
  void ReadSettings(TFields& root, TProjectFileData& d) {
    const TJson* s = root.Get("settings");
    if (s && s->is_array()) {
      EachRecord(*s, "settings", [&](TFields& f) {
        TWorkInfoRec* r = d.Works.Add();
        r->Name = f.Str("Name");
        r->Value = f.Str("Value");
        r->Items = f.Str("Items");
        r->Kind = Byte(f, "Kind");
        if (IsFileKind(r->Kind)) r->Value = Resolve(FBaseDir, r->Value);
      });
      return;
    }
    if (s && !s->is_object()) TFields::Fail("settings", "expected an object of values or an array of records");
    for (TWorkInfoRec* w : Defaults()) *d.Works.Add() = *w;
    if (!s) return;
    std::vector<AnsiString> known;
    for (TWorkInfoRec* w : Defaults()) known.push_back(w->Name);
    EachValue(*s, "settings", [&](const std::string& key, const TJson& v, const std::string& path) {
      TWorkInfoRec* w = FindSetting(d.Works, TFields::GbkText(key, "settings", false));
      if (!w) TFields::Fail(path, Unknown("setting", key, known));
      w->Value = TFields::GbkText(v, path, false);
      if (IsFileKind(w->Kind)) w->Value = Resolve(FBaseDir, w->Value);
    });
  }

  // The same three ways for page items, over the data folder's page template.
  void ReadPages(TFields& root, TProjectFileData& d) {
    const TJson* s = root.Get("pages");
    if (s && s->is_array()) {
      EachRecord(*s, "pages", [&](TFields& f) {
        TPageInfoRec* r = d.Pages.Add();
        r->Page = f.Str("Page");
        r->Name = f.Str("Name");
        r->Items = f.Str("Items");
        r->Kind = Byte(f, "Kind");
        r->Value = f.Str("Value");
        if (IsFileKind(r->Kind)) r->Value = Resolve(FBaseDir, r->Value);
      });
      return;
    }
    if (s && !s->is_object()) TFields::Fail("pages", "expected an object of pages or an array of records");
    for (TPageInfoRec* p : Template()) *d.Pages.Add() = *p;
    if (!s) return;
    EachValue(*s, "pages", [&](const std::string& pageKey, const TJson& items, const std::string& pagePath) {
      const AnsiString page = TFields::GbkText(pageKey, "pages", false);
      if (ItemNames(d.Pages, page).empty()) TFields::Fail(pagePath, Unknown("page", pageKey, PageNames(d.Pages)));
      if (!items.is_object()) TFields::Fail(pagePath, "expected an object of item values");
      EachValue(items, pagePath, [&](const std::string& key, const TJson& v, const std::string& path) {
        TPageInfoRec* p = FindPageItem(d.Pages, page, TFields::GbkText(key, pagePath, false));
        if (!p) TFields::Fail(path, Unknown("item", key, ItemNames(d.Pages, page), " on page '" + pageKey + "'"));
        p->Value = TFields::GbkText(v, path, false);
        if (IsFileKind(p->Kind)) p->Value = Resolve(FBaseDir, p->Value);
      });
    });
  }

  void ReadFile(TFields& f, TProjectFileData& d) {
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
    if (FBaseDir.empty() || !IsRelativePath(r->SourcePath)) return;
    r->SourcePath = Resolve(FBaseDir, r->SourcePath);
    // Fields left out of such a record are taken from the file itself.
    if (!f.Has("FileName")) r->FileName = ExtractFileName(r->SourcePath);
    if (!f.Has("FileDate")) r->FileDate = FileStampOf(r->SourcePath);
    if (!f.Has("FileSize") && FileExists(r->SourcePath)) r->FileSize = FileSizeOf(r->SourcePath);
  }

  // {"from": "app/", "to": "Program Files"}: the disk folder scanned as add-folder scans it.
  // "app" becomes a node below "to" with its files under it; "app/" (a trailing separator)
  // puts what app holds straight into "to".
  void ReadFolders(const TJson& a, TProjectFileData& d) {
    TProject* scan = FNew->GetProjectObject();
    EachRecord(a, "folders", [&](TFields& f) {
      const TJson* from = f.Get("from");
      const TJson* to = f.Get("to");
      if (!from) TFields::Fail(f.Sub("from"), "missing: the disk folder to add (\"app/\" for its content)");
      if (!to) TFields::Fail(f.Sub("to"), "missing: the tree folder that receives it (such as \"Program Files\")");
      TFields::GbkText(*from, f.Sub("from"), true);
      std::string dir = from->get<std::string>();
      const AnsiString treePath = TFields::GbkText(*to, f.Sub("to"), true);
      if (treePath.empty()) TFields::Fail(f.Sub("to"), "expected a tree folder such as \"Program Files\"");
      const bool contents = !dir.empty() && (dir.back() == '/' || dir.back() == '\\');
      while (dir.size() > 1 && (dir.back() == '/' || dir.back() == '\\')) dir.pop_back();
      if (dir.empty()) TFields::Fail(f.Sub("from"), "expected a folder");
      const AnsiString folder = Resolve(FBaseDir.empty() ? std::string(".") : FBaseDir, In(dir));
      if (!FolderExists(folder)) {
        std::string what = "'";
        what += from->get_ref<const std::string&>();
        TFields::Fail(f.Sub("from"), what + "' is not a folder");
      }
      scan->FFileInfos = std::move(d.Files);
      scan->FDirectoryInfos = std::move(d.Directories);
      struct TGiveBack {
        TProject* S;
        TProjectFileData& D;
        ~TGiveBack() {
          D.Files = std::move(S->FFileInfos);
          D.Directories = std::move(S->FDirectoryInfos);
        }
      } giveBack{scan, d};
      scan->AddFolderTree(folder, treePath, contents);
    });
  }
};

AnsiString Serialized(const TProjectFileData& d) {
  TMemoryStream s;
  WriteProjectSections(s, ListsOf(d));
  return AnsiString(s.Data().begin(), s.Data().end());
}

// "NAME=VALUE" -> name and value; ECliError naming the option otherwise.
void SplitAssignment(const std::string& option, const std::string& arg, std::string& name, std::string& value) {
  size_t eq = arg.find('=');
  if (eq == std::string::npos || eq == 0)
    throw ECliError(option + " takes " + (option == "--set" ? "NAME=VALUE" : "PAGE/NAME=VALUE") + ", not '" + arg + "'");
  name = arg.substr(0, eq);
  value = arg.substr(eq + 1);
}

// Values of file-type items are host paths on the command line, as gbsetup set takes them.
AnsiString OverrideValue(uint8_t kind, const std::string& value) {
  return IsFileKind(kind) && !value.empty() ? ArgPath(value) : In(value);
}

void OverrideSetting(TProjectFileData& d, const TWorkInfoList& defaults, const std::string& arg) {
  std::string name, value;
  SplitAssignment("--set", arg, name, value);
  const AnsiString key = In(name);
  TWorkInfoRec* w = FindSetting(d.Works, key);
  if (!w) {
    // A default that the file leaves out is still a setting of the loaded project.
    const TWorkInfoRec* def = FindSetting(defaults, key);
    if (!def) {
      std::vector<AnsiString> known;
      for (TWorkInfoRec* r : d.Works) known.push_back(r->Name);
      for (TWorkInfoRec* r : defaults) known.push_back(r->Name);
      throw ECliError("--set " + arg + ": " + Unknown("setting", name, known));
    }
    w = d.Works.Add();
    *w = *def;
  }
  w->Value = OverrideValue(w->Kind, value);
}

void OverridePageItem(TProjectFileData& d, const std::string& arg) {
  std::string left, value;
  SplitAssignment("--page", arg, left, value);
  size_t slash = left.find('/');
  if (slash == std::string::npos || slash == 0 || slash + 1 == left.size())
    throw ECliError("--page takes PAGE/NAME=VALUE, not '" + arg + "'");
  const std::string pageName = left.substr(0, slash), itemName = left.substr(slash + 1);
  const AnsiString page = In(pageName);
  if (ItemNames(d.Pages, page).empty()) throw ECliError("--page " + arg + ": " + Unknown("page", pageName, PageNames(d.Pages)));
  TPageInfoRec* p = FindPageItem(d.Pages, page, In(itemName));
  if (!p)
    throw ECliError("--page " + arg + ": " + Unknown("item", itemName, ItemNames(d.Pages, page), " on page '" + pageName + "'"));
  p->Value = OverrideValue(p->Kind, value);
}
}  // namespace

std::string FolderOfArg(const std::string& arg) {
  size_t slash = arg.find_last_of('/');
  return slash == std::string::npos ? std::string(".") : arg.substr(0, slash == 0 ? 1 : slash);
}

bool LooksLikeJson(const std::string& bytes) {
  if (bytes.find('\0') != std::string::npos) return false;  // a project file's counts hold zero bytes
  size_t i = bytes.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
  while (i < bytes.size() && std::strchr(" \t\r\n", bytes[i])) ++i;
  return i < bytes.size() && bytes[i] == '{';
}

void ProjectFromJson(const std::string& text, const std::string& sourceName, const std::string& baseDir,
                     TProjectFileData& data, std::string* arch, TManifestOptions* manifest) {
  // The parser keeps the last of two equal keys; written by hand, the first one would be lost unseen.
  struct TLevel {
    explicit TLevel(bool isArray) : IsArray(isArray) {}
    bool IsArray;
    size_t Index = 0;
    std::string Key;
    std::set<std::string> Keys;
  };
  std::vector<TLevel> levels;
  auto pathOf = [&] {
    std::string path;
    for (const TLevel& l : levels)
      path += l.IsArray ? "[" + std::to_string(l.Index) + "]" : (path.empty() ? "" : ".") + l.Key;
    return path;
  };
  auto elementDone = [&] {
    if (!levels.empty() && levels.back().IsArray) ++levels.back().Index;
  };
  using TEvent = nlohmann::json::parse_event_t;
  TJson j;
  try {
    j = TJson::parse(text, [&](int, TEvent event, TJson& parsed) {
      switch (event) {
        case TEvent::object_start: levels.emplace_back(false); break;
        case TEvent::array_start: levels.emplace_back(true); break;
        case TEvent::object_end:
        case TEvent::array_end:
          levels.pop_back();
          elementDone();
          break;
        case TEvent::key:
          levels.back().Key = parsed.get<std::string>();
          if (!levels.back().Keys.insert(levels.back().Key).second) throw ECliError(pathOf() + ": the key is given twice");
          break;
        case TEvent::value: elementDone(); break;
      }
      return true;
    });
  } catch (const nlohmann::json::exception& e) {
    throw ECliError(sourceName + ": not valid JSON: " + e.what());
  } catch (const ECliError& e) {
    throw ECliError(sourceName + ": " + e.what());
  }
  try {
    TakeUnlistedEntries();  // only what this project's folders hold counts
    TJsonReader(baseDir).Read(j, data, arch, manifest);
    RefuseUnlistedEntries();
  } catch (const ECliError& e) {
    throw ECliError(sourceName + ": " + e.what());
  }
}

std::string ProjectToJson(const TProjectFileData& d, bool concise) {
  TJson j = TJson::object();
  TIntfPtr<IProject> fresh = concise ? NewProject() : TIntfPtr<IProject>();
  TJson settings = concise ? ConciseSettings(d.Works, *fresh->GetWorkList()) : TJson(nullptr);
  if (settings.is_null()) j["settings"] = Records(d.Works, WorkJson, concise);
  else if (!settings.empty()) j["settings"] = settings;
  // Hand-written records may leave these out of a file named relative to the JSON, which then
  // takes them from the disk: they are written whenever such a path is stored.
  TJson files = TJson::array();
  for (TFileInfoRec* r : d.Files)
    files.push_back(!concise                         ? FileJson(*r)
                    : IsRelativePath(r->SourcePath) ? WithoutZeros(FileJson(*r), {"FileName", "FileDate", "FileSize"})
                                                    : WithoutZeros(FileJson(*r)));
  // The full form always has every key; the concise one leaves out what a reader would make empty anyway.
  auto put = [&](const char* key, TJson v) {
    if (!concise || !v.empty()) j[key] = std::move(v);
  };
  put("files", std::move(files));
  put("specialFiles", Records(d.SpecialFiles, SpecialJson, concise));
  put("registry", Records(d.Registry, RegistryJson, concise));
  put("components", Lines(d.Components));
  TJson pages = concise ? ConcisePages(d.Pages, *fresh->GetPageList()) : TJson(nullptr);
  if (pages.is_null()) j["pages"] = Records(d.Pages, PageJson, concise);
  else if (!pages.empty()) j["pages"] = pages;
  put("directories", Records(d.Directories, DirectoryJson, concise));
  put("shortcuts", Records(d.Shortcuts, ShortcutJson, concise));
  return j.dump(2) + "\n";
}

void LoadProjectArg(const std::string& arg, TLoadedProject& out) {
  const AnsiString path = ArgPath(arg);
  const AnsiString bytes = ReadFileText(path);
  out.FileDate = FileStampOf(path);
  out.FromJson = LooksLikeJson(bytes) || SameText(ExtractFileExt(path), ".json");
  if (out.FromJson) {
    ProjectFromJson(bytes, arg, FolderOfArg(arg), out.Data, &out.Arch, &out.Manifest);
    AnsiString name = ExtractFileName(path);
    const AnsiString ext = ExtractFileExt(name);
    if (!ext.empty()) name.resize(name.size() - ext.size());
    out.FileName = ExtractFilePath(path) + name + ".gbp";
    return;
  }
  try {
    TMemoryStream s(std::vector<uint8_t>(bytes.begin(), bytes.end()));
    ReadProjectSections(s, path, out.Data);
  } catch (const EDamagedData& e) {
    throw ECliError(arg + ": neither a project file nor a JSON project: expected a binary project file (as new and "
                    "import write it) or a JSON object (as export prints it); read as a project file: " +
                    Out(e.Message()));
  }
  out.FileName = path;
}

void OpenBuildProject(const std::string& arg, const std::vector<std::string>& settings,
                      const std::vector<std::string>& pageItems, TBuildProject& out) {
  TLoadedProject loaded;
  LoadProjectArg(arg, loaded);
  TIntfPtr<IProject> fresh = NewProject();
  for (const std::string& s : settings) OverrideSetting(loaded.Data, *fresh->GetWorkList(), s);
  for (const std::string& p : pageItems) OverridePageItem(loaded.Data, p);
  out.InMemory = loaded.FromJson || !settings.empty() || !pageItems.empty();
  out.Arch = loaded.Arch;
  out.Manifest = loaded.Manifest;
  out.Project = NewProject();
  if (!out.InMemory) {
    out.Project->LoadFromFile(loaded.FileName, false);
    return;
  }
  // The build reads the project back from the very bytes the package carries, as a setup
  // program will.
  out.Image = Serialized(loaded.Data);
  out.ImageDate = loaded.FileDate;
  TProjectFileData image;
  TMemoryStream s(std::vector<uint8_t>(out.Image.begin(), out.Image.end()));
  ReadProjectSections(s, loaded.FileName, image);
  out.Project->GetProjectObject()->LoadFromData(image, loaded.FileName);
}

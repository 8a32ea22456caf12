#include "apps/gbsetup/Manifest.h"

#include <cstdio>
#include <nlohmann/json.hpp>

#include "apps/gbsetup/Cli.h"

namespace {
using TJson = nlohmann::ordered_json;

const char* const ManifestVersion = "1.9.0";
const char* const Locale = "zh-CN";
const char* const UninstallKey = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
// The setup's own switches, as the package manager hands them over.
const char* const SilentSwitches = "/VERYSILENT /NORESTART";
const char* const ProgressSwitches = "/SILENT /NORESTART";

// The code point at text[i] and its length in bytes; -1 (length 1) for a byte that starts no
// well-formed UTF-8 sequence (overlong forms and surrogates included).
long DecodeUtf8(const std::string& text, size_t i, size_t& length) {
  const unsigned char c = static_cast<unsigned char>(text[i]);
  length = 1;
  if (c < 0x80) return c;
  size_t n;
  long cp;
  long least;
  if ((c & 0xE0) == 0xC0) n = 2, cp = c & 0x1F, least = 0x80;
  else if ((c & 0xF0) == 0xE0) n = 3, cp = c & 0x0F, least = 0x800;
  else if ((c & 0xF8) == 0xF0) n = 4, cp = c & 0x07, least = 0x10000;
  else return -1;
  if (i + n > text.size()) return -1;
  for (size_t k = 1; k < n; ++k) {
    const unsigned char t = static_cast<unsigned char>(text[i + k]);
    if ((t & 0xC0) != 0x80) return -1;
    cp = cp << 6 | (t & 0x3F);
  }
  if (cp < least || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return -1;
  length = n;
  return cp;
}

// Characters, not bytes: the manifest's limits count characters.
size_t Characters(const std::string& text) {
  size_t count = 0;
  for (size_t i = 0, n; i < text.size(); i += n, ++count) DecodeUtf8(text, i, n);
  return count;
}

bool IsWhiteSpace(long cp) {
  return (cp >= 0x09 && cp <= 0x0D) || cp == 0x20 || cp == 0x85 || cp == 0xA0 || cp == 0x1680 ||
         (cp >= 0x2000 && cp <= 0x200A) || cp == 0x2028 || cp == 0x2029 || cp == 0x202F || cp == 0x205F ||
         cp == 0x3000;
}
bool IsControl(long cp) { return cp < 0x20 || (cp >= 0x7F && cp <= 0x9F); }

// Messages are UTF-8, and this program's plain literals are GBK: the Chinese names in them
// are written as UTF-8 literals.
std::string U8(const char8_t* s) { return reinterpret_cast<const char*>(s); }

std::string Quote(const std::string& s) { return "'" + s + "'"; }

// A value of the manifest whose length the package manager bounds; empty counts as missing.
void CheckLength(const std::string& value, size_t least, size_t most, const std::string& what,
                 const std::string& howToGive) {
  if (value.empty()) throw ECliError("--manifest: " + what + " is missing; " + howToGive);
  const size_t n = Characters(value);
  if (n < least || n > most)
    throw ECliError("--manifest: " + what + " " + Quote(value) + " has " + std::to_string(n) +
                    " characters; the manifest takes " + std::to_string(least) + " to " + std::to_string(most) +
                    "; " + howToGive);
}

bool IsWebAddress(const std::string& url) {
  const std::string lower = [&] {
    std::string l = url.substr(0, 8);
    for (char& c : l)
      if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return l;
  }();
  const size_t scheme = lower.rfind("https://", 0) == 0 ? 8 : lower.rfind("http://", 0) == 0 ? 7 : 0;
  if (scheme == 0 || url.size() == scheme) return false;
  // A space or a control character would end the address wherever it is read.
  for (size_t i = 0, n; i < url.size(); i += n) {
    const long cp = DecodeUtf8(url, i, n);
    if (cp < 0 || IsControl(cp) || IsWhiteSpace(cp)) return false;
  }
  return true;
}

void CheckInstallerUrl(const std::string& url) {
  if (!IsWebAddress(url))
    throw ECliError("--installer-url: " + Quote(url) +
                    " is not an http:// or https:// address without spaces (write {file} for the setup's file name)");
  if (url.size() > 2048) throw ECliError("--installer-url: the address is longer than 2048 characters");
}

// YAML lines: "key: value" at the current indent, scalar list items, and list items that
// hold keys (StartItem: the next line opens the item with "- ", the lines after it line up
// with that line's key until EndItem).
class TYaml {
public:
  TYaml& Str(const char* key, const std::string& value) { return Line(std::string(key) + ": " + YamlQuoted(value)); }
  TYaml& Int(const char* key, long value) { return Line(std::string(key) + ": " + std::to_string(value)); }
  TYaml& Key(const char* key) { return Line(std::string(key) + ":"); }
  TYaml& Item(const std::string& value) { return Line("- " + value); }
  TYaml& Indent() {
    FIndent += 2;
    return *this;
  }
  TYaml& Dedent() {
    FIndent -= 2;
    return *this;
  }
  TYaml& StartItem() {
    FOpenItem = true;
    return *this;
  }
  TYaml& EndItem() {
    FIndent -= 2;
    return *this;
  }
  const std::string& Text() const { return FText; }

private:
  TYaml& Line(const std::string& line) {
    FText += std::string(static_cast<size_t>(FIndent), ' ') + (FOpenItem ? "- " : "") + line + "\n";
    if (FOpenItem) FIndent += 2;
    FOpenItem = false;
    return *this;
  }
  std::string FText;
  int FIndent = 0;
  bool FOpenItem = false;
};

std::string Quoted(const std::string& s) { return "\"" + s + "\""; }
}  // namespace

std::string PackageIdentifierProblem(const std::string& id) {
  if (id.empty()) return "it is empty";
  if (Characters(id) > 128) return "it is longer than 128 characters";
  size_t segments = 0;
  size_t start = 0;
  for (;;) {
    const size_t dot = id.find('.', start);
    const std::string segment = id.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
    ++segments;
    if (segment.empty()) return "it has an empty segment (two dots, or a dot at an end)";
    if (Characters(segment) > 32) return "segment " + Quote(segment) + " is longer than 32 characters";
    for (size_t i = 0, n; i < segment.size(); i += n) {
      const long cp = DecodeUtf8(segment, i, n);
      if (cp < 0) return "it is not UTF-8 text";
      if (IsWhiteSpace(cp)) return "segment " + Quote(segment) + " holds a space";
      if (IsControl(cp)) return "segment " + Quote(segment) + " holds a control character";
      if (cp < 0x80 && std::string("\\/:*?\"<>|").find(char(cp)) != std::string::npos)
        return "segment " + Quote(segment) + " holds '" + char(cp) + "'";
    }
    if (dot == std::string::npos) break;
    start = dot + 1;
  }
  if (segments < 2) return "it needs at least two segments joined by a dot (Publisher.Name)";
  if (segments > 8) return "it has more than 8 segments";
  return std::string();
}

std::string YamlQuoted(const std::string& text) {
  std::string out = "\"";
  char buf[16];
  for (size_t i = 0, n; i < text.size(); i += n) {
    long cp = DecodeUtf8(text, i, n);
    if (cp < 0) cp = 0xFFFD;
    switch (cp) {
      case '"': out += "\\\""; continue;
      case '\\': out += "\\\\"; continue;
      case '\t': out += "\\t"; continue;
      case '\n': out += "\\n"; continue;
      case '\r': out += "\\r"; continue;
      default: break;
    }
    // What YAML does not allow in a stream as it is, and the line breaks that a reader would
    // fold: written as escapes.
    if (IsControl(cp) || cp == 0x2028 || cp == 0x2029 || cp == 0xFEFF || cp == 0xFFFE || cp == 0xFFFF) {
      std::snprintf(buf, sizeof buf, cp <= 0xFF ? "\\x%02X" : "\\u%04X", unsigned(cp));
      out += buf;
    } else if (cp == 0xFFFD && n == 1) {
      out += "\\uFFFD";
    } else {
      out.append(text, i, n);
    }
  }
  return out + "\"";
}

std::string PercentEncoded(const std::string& text) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
        c == '_' || c == '~') {
      out += char(c);
    } else {
      out += '%';
      out += digits[c >> 4];
      out += digits[c & 15];
    }
  }
  return out;
}

std::string InstallerUrlFor(const std::string& pattern, const std::string& setupFileName) {
  const std::string placeholder = "{file}";
  std::string url;
  for (size_t i = 0; i < pattern.size();) {
    if (pattern.compare(i, placeholder.size(), placeholder) == 0) {
      url += PercentEncoded(setupFileName);
      i += placeholder.size();
    } else {
      url += pattern[i++];
    }
  }
  return url;
}

std::string CheckManifest(const TManifest& m) {
  const TManifestOptions& o = m.Options;
  // The address first: without it nothing else can be of use.
  if (o.Url.empty())
    throw ECliError("--manifest needs the setup's download address: give --installer-url URL (where {file} stands "
                    "for the setup's file name) or \"manifest\": {\"url\": ...} in a JSON project");
  CheckInstallerUrl(o.Url);

  // The project's own values: the setup writes them into its uninstall entry, so they come
  // from the project (or --set for this build), never from a second source.
  CheckLength(m.Name, 2, 255, U8(u8"the project's 项目名称 (the manifest's PackageName and ProductCode)"),
              U8(u8"set it in the project or with --set 项目名称=NAME"));
  CheckLength(m.Author, 2, 256, U8(u8"the project's 作者名称 (the manifest's Publisher)"),
              U8(u8"set it in the project or with --set 作者名称=NAME"));
  CheckLength(m.Version, 1, 128, U8(u8"the project's 版本号 (the manifest's PackageVersion)"),
              U8(u8"set it in the project or with --set 版本号=VERSION"));
  for (size_t i = 0, n; i < m.Version.size(); i += n) {
    const long cp = DecodeUtf8(m.Version, i, n);
    if (cp < 0 || IsControl(cp) || (cp < 0x80 && std::string("\\/:*?\"<>|").find(char(cp)) != std::string::npos))
      throw ECliError(U8(u8"--manifest: the project's 版本号 ") + Quote(m.Version) +
                      " holds a character a package version cannot hold (\\ / : * ? \" < > | or a control character)");
  }
  CheckLength(o.License, 3, 512, "the licence (the manifest's License)",
              U8(u8"give --license TEXT (such as MIT or 专有软件) or \"manifest\": {\"license\": ...} in a JSON project"));
  CheckLength(o.Description, 3, 256, "the short description (the manifest's ShortDescription)",
              "give --description TEXT or \"manifest\": {\"description\": ...} in a JSON project");

  if (!o.Id.empty()) {
    const std::string problem = PackageIdentifierProblem(o.Id);
    if (!problem.empty()) throw ECliError("--package-id " + Quote(o.Id) + " is no package identifier: " + problem);
    return o.Id;
  }
  const std::string id = m.Author + "." + m.Name;
  const std::string problem = PackageIdentifierProblem(id);
  if (!problem.empty())
    throw ECliError(U8(u8"--manifest: 作者名称.项目名称 ") + Quote(id) + " is no package identifier (" + problem +
                    "); give one with --package-id Publisher.Name or \"manifest\": {\"id\": ...} in a JSON project");
  return id;
}

std::vector<TManifestFile> ManifestFiles(const TManifest& m, const std::string& id, const std::string& setupFileName,
                                         const std::string& sha256) {
  const std::string url = InstallerUrlFor(m.Options.Url, setupFileName);
  CheckInstallerUrl(url);
  const std::string arch = m.X64 ? "x64" : "x86";
  const std::string displayName = m.Name + m.Version;  // as the setup writes DisplayName

  std::vector<TManifestFile> files;
  TYaml version;
  version.Str("PackageIdentifier", id).Str("PackageVersion", m.Version).Str("DefaultLocale", Locale);
  version.Str("ManifestType", "version").Str("ManifestVersion", ManifestVersion);
  files.push_back({id + ".yaml", version.Text()});

  TYaml installer;
  installer.Str("PackageIdentifier", id).Str("PackageVersion", m.Version);
  installer.Str("InstallerType", "exe").Str("Scope", "machine");
  installer.Key("InstallModes").Indent().Item(YamlQuoted("interactive")).Item(YamlQuoted("silent"));
  installer.Item(YamlQuoted("silentWithProgress")).Dedent();
  installer.Key("InstallerSwitches").Indent();
  installer.Str("Silent", SilentSwitches).Str("SilentWithProgress", ProgressSwitches);
  installer.Str("InstallLocation", "/DIR=\"<INSTALLPATH>\"").Str("Log", "/LOG=\"<LOGPATH>\"").Dedent();
  installer.Key("InstallerSuccessCodes").Indent().Item("3010").Dedent();
  installer.Key("ExpectedReturnCodes").Indent();
  const std::pair<long, const char*> responses[] = {
      {1602, "cancelledByUser"}, {1618, "installInProgress"}, {1641, "rebootInitiated"}, {3010, "rebootRequiredToFinish"}};
  for (const auto& [code, response] : responses)
    installer.StartItem().Int("InstallerReturnCode", code).Str("ReturnResponse", response).EndItem();
  installer.Dedent();
  installer.Str("UpgradeBehavior", "install").Str("ElevationRequirement", "elevatesSelf");
  installer.Str("ProductCode", m.Name);
  installer.Key("AppsAndFeaturesEntries").Indent().StartItem();
  installer.Str("DisplayName", displayName).Str("Publisher", m.Author).Str("DisplayVersion", m.Version);
  installer.Str("ProductCode", m.Name).EndItem().Dedent();
  installer.Key("Installers").Indent().StartItem();
  installer.Str("Architecture", arch).Str("InstallerUrl", url).Str("InstallerSha256", sha256).EndItem().Dedent();
  installer.Str("ManifestType", "installer").Str("ManifestVersion", ManifestVersion);
  files.push_back({id + ".installer.yaml", installer.Text()});

  TYaml locale;
  locale.Str("PackageIdentifier", id).Str("PackageVersion", m.Version).Str("PackageLocale", Locale);
  locale.Str("Publisher", m.Author);
  // 作者网址 is free text in a project; only a web address belongs here.
  if (IsWebAddress(m.AuthorUrl) && m.AuthorUrl.size() <= 2048) locale.Str("PublisherUrl", m.AuthorUrl);
  locale.Str("PackageName", m.Name).Str("License", m.Options.License);
  locale.Str("ShortDescription", m.Options.Description);
  locale.Str("ManifestType", "defaultLocale").Str("ManifestVersion", ManifestVersion);
  files.push_back({id + ".locale." + Locale + ".yaml", locale.Text()});

  // For tools that deploy the setup themselves: the command lines, what its exit codes mean,
  // and where an installation shows.
  const std::string setup = Quoted(setupFileName);
  const std::string key = UninstallKey + m.Name;
  const std::string view = m.X64 ? "64-bit" : "32-bit";
  TJson deploy = TJson::object();
  deploy["packageIdentifier"] = id;
  deploy["version"] = m.Version;
  deploy["architecture"] = arch;
  deploy["setupFile"] = setupFileName;
  deploy["install"] = {
      {"command", setup + " " + SilentSwitches},
      {"withProgress", setup + " " + ProgressSwitches},
      {"intoFolder", setup + " " + SilentSwitches + " /DIR=\"D:\\Apps\\" + m.Name + "\""},
      {"withLog", setup + " " + SilentSwitches + " /LOG=\"C:\\Windows\\Temp\\" + m.Name + ".setup.log\""}};
  // The folder is the one chosen at installation: the command is read from the entry.
  deploy["uninstall"] = {{"command", "\"<install folder>\\UnIns.exe\" /S"},
                         {"readFrom", {{"key", key}, {"registryView", view}, {"value", "QuietUninstallString"}}}};
  TJson codes = TJson::array();
  const struct {
    int Code;
    const char* Result;
    const char* Meaning;
  } exits[] = {{0, "success", "installed"},
               {1, "failure", "the elevation was refused, or the setup stopped before it changed anything"},
               {87, "failure", "an unknown or malformed switch"},
               {1602, "failure", "cancelled by the user"},
               {1603, "failure", "the installation failed and was undone"},
               {1618, "retry", "another setup or uninstaller of this product is running"},
               {1641, "hardReboot", "installed, and the restart was started"},
               {3010, "softReboot", "installed; a restart is needed to finish"}};
  for (const auto& e : exits) codes.push_back({{"code", e.Code}, {"result", e.Result}, {"meaning", e.Meaning}});
  deploy["exitCodes"] = codes;
  deploy["detection"] = {{"type", "registry"}, {"key", key},       {"registryView", view},
                         {"value", "DisplayVersion"}, {"operator", "equals"}, {"data", m.Version}};
  files.push_back({id + ".deploy.json", deploy.dump(2) + "\n"});
  return files;
}

#pragma once
// gbsetup build --manifest: what a package manager reads of a built setup (its manifest in the
// multi-file YAML form: version, installer and default-locale files) and a short JSON note for
// endpoint-management tools (command lines, exit codes, the detection rule).
// Everything here is UTF-8: these files are read outside the program, so the project's GBK
// values are converted before they arrive.
#include <string>
#include <vector>

// What the command line (--package-id, --installer-url, --license, --description) or a JSON
// project's "manifest" object gives; "" where neither does.
struct TManifestOptions {
  std::string Id, Url, License, Description;
};

struct TManifest {
  // The project's 项目名称, 版本号, 作者名称 and 作者网址, as the setup writes them into its
  // uninstall entry.
  std::string Name, Version, Author, AuthorUrl;
  bool X64 = false;  // the setup's architecture
  TManifestOptions Options;
};

// "" when id is a package identifier (2 to 8 segments joined by dots, each 1 to 32 characters
// without white space or \ / : * ? " < > |), otherwise what is wrong with it.
std::string PackageIdentifierProblem(const std::string& id);

// A double-quoted YAML scalar of text that any YAML reader takes back unchanged, whatever it
// holds (quotes, colons, line breaks, control characters; bytes that are no UTF-8 become U+FFFD).
std::string YamlQuoted(const std::string& text);

// text percent-encoded for a URL path: every byte but A-Z a-z 0-9 - . _ ~ as %XX.
std::string PercentEncoded(const std::string& text);

// The download address: every "{file}" in pattern replaced by the setup's file name, encoded.
std::string InstallerUrlFor(const std::string& pattern, const std::string& setupFileName);

// Checks, before anything is built, every value the files need and returns the package
// identifier: Options.Id, else "<作者名称>.<项目名称>" when that is one. A value that is
// missing or wrong is an ECliError naming it and the option that gives it.
std::string CheckManifest(const TManifest& m);

struct TManifestFile {
  std::string Name;  // <identifier>.yaml, .installer.yaml, .locale.zh-CN.yaml, .deploy.json
  std::string Text;
};
// The four files for the setup setupFileName (its name, UTF-8) whose SHA-256 is sha256.
std::vector<TManifestFile> ManifestFiles(const TManifest& m, const std::string& id, const std::string& setupFileName,
                                         const std::string& sha256);

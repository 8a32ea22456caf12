#pragma once
// Projects as JSON text, in two forms read by the same code:
// - the full form, a faithful dump of the project file's records (what export prints);
// - the concise form written by hand: settings and page items as {name: value} over a new
//   project's defaults, "folders" scanned when the JSON is read, and records holding only the
//   fields that differ from a zero-filled record.
// Every section may be written in either form; export --concise picks the concise one wherever
// it gives back the same records.
#include <string>
#include <vector>

#include "apps/gbsetup/Manifest.h"
#include "core/Interfaces.h"
#include "core/SysIntfs.h"
#include "project/ProjectFile.h"

// Whether the bytes of a file are a JSON project rather than a binary project file.
bool LooksLikeJson(const std::string& bytes);

// Reads a JSON project of either form into data (which should be empty), exactly as import
// writes it. Relative paths are taken relative to baseDir, a host folder; with an empty
// baseDir they stay as written, and folders are scanned from the current folder. Errors are
// ECliError "<sourceName>: <JSON path>: <what>".
// The top-level "arch" ("x86" or "x64", the setup's architecture; it has no place in the
// project file) goes to arch when given, "" when the JSON leaves it out. So does the top-level
// "manifest" (the values of build --manifest that the project does not hold: {"id", "url",
// "license", "description"}, each a one-line string) to manifest.
void ProjectFromJson(const std::string& text, const std::string& sourceName, const std::string& baseDir,
                     TProjectFileData& data, std::string* arch = nullptr, TManifestOptions* manifest = nullptr);

// The host folder of a file named on the command line, against which its relative paths resolve.
std::string FolderOfArg(const std::string& arg);

// data as JSON (UTF-8, two-space indent, a final line end).
std::string ProjectToJson(const TProjectFileData& data, bool concise);

// PROJECT on the command line: a project file, or a JSON project read by ProjectFromJson with
// paths relative to the JSON file. A file that is neither is an ECliError saying what was expected.
struct TLoadedProject {
  TProjectFileData Data;
  bool FromJson = false;
  // The project file itself, or for JSON the one import would write beside it (same name, .gbp).
  AnsiString FileName;
  TDateTime FileDate = 0;  // the time stamp of the file that was read
  std::string Arch;        // the JSON's "arch", "" when none
  TManifestOptions Manifest;  // the JSON's "manifest", empty values when none
};
void LoadProjectArg(const std::string& arg, TLoadedProject& out);

// The project that one build reads: PROJECT with the build's changes, each "NAME=VALUE" (a
// setting) or "PAGE/NAME=VALUE" (a page item). When the package's project entry cannot be the
// file on disk (JSON, or changes made), Image holds its bytes and ImageDate its date.
struct TBuildProject {
  TIntfPtr<IProject> Project;
  std::string Arch;  // the JSON's "arch", "" when none
  TManifestOptions Manifest;  // the JSON's "manifest"
  bool InMemory = false;
  AnsiString Image;
  TDateTime ImageDate = 0;
};
void OpenBuildProject(const std::string& arg, const std::vector<std::string>& settings,
                      const std::vector<std::string>& pageItems, TBuildProject& out);

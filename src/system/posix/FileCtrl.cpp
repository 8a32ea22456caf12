// Folder picker, file dialog and folder creation on the sandbox.
#include "system/FileCtrl.h"
#include "system/PathText.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <iostream>

#include "core/Exceptions.h"
#include "core/TextUtils.h"
#include "system/Dialogs.h"
#include "system/Platform.h"

namespace {
// Asks for one line on the terminal; false without a terminal or at end of input.
bool AskLine(const AnsiString& prompt, std::string& line) {
  if (!isatty(0)) return false;
  std::fprintf(stderr, "%s: ", GbkToUtf8(prompt).c_str());
  return static_cast<bool>(std::getline(std::cin, line));
}
}  // namespace

bool FolderExists(const AnsiString& path) {
  if (path.empty()) return false;
  struct stat st;
  return stat(HostPath(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool CreateFolderAt(const AnsiString& path) {
  return mkdir(HostPath(path).c_str(), 0777) == 0 || (errno == EEXIST && FolderExists(path));
}

bool BrowseFolder(const AnsiString& title, const std::u16string& root, AnsiString& folder) {
  if (!FolderExists(folder)) folder.clear();
  if (bool answer; ResponderBrowseFolder(title, folder, answer)) return answer;
  std::string line;
  if (!AskLine(title + (folder.empty() ? AnsiString() : " [" + folder + "]"), line)) return false;
  AnsiString chosen;
  try {
    chosen = line.empty() ? folder : Utf8ToGbk(line);
  } catch (const EConvertError&) {
    return false;
  }
  if (chosen.empty() || !FolderExists(chosen)) return false;  // only file-system folders
  folder = chosen;
  return true;
}

bool OpenFilesDialog(const AnsiString& filter, TStringList& files) {
  if (bool answer; ResponderOpenFiles(filter, files, answer)) return answer;
  TStringList chosen;
  std::string line;
  // One path a line, an empty line ends the choice.
  while (AskLine(chosen.Empty() ? "File" : "File (empty to finish)", line) && !line.empty()) {
    try {
      chosen.Add(Utf8ToGbk(line));
    } catch (const EConvertError&) {
    }
  }
  if (chosen.Empty()) return false;
  files = chosen;
  return true;
}

#pragma once
// The folder picker and folder operations.
#include "core/StringList.h"
#include "core/Types.h"

// Modal folder picker. A folder that does not exist is cleared first; true and the chosen
// path in folder when the user picks one, false otherwise.
bool BrowseFolder(const AnsiString& title, const std::u16string& root, AnsiString& folder);
bool FolderExists(const AnsiString& path);
// Creates the folder and its missing parents; "Unable to create directory" for an empty path,
// false when a level cannot be created.
bool ForceFolders(const AnsiString& path);
// Creates one folder in an existing parent; true when it is there afterwards.
bool CreateFolderAt(const AnsiString& path);
// Modal file-open dialog, multiple selection; true and the chosen files when confirmed.
bool OpenFilesDialog(const AnsiString& filter, TStringList& files);

// File utilities built on the platform's streams, enumeration and one-level folder creation.
#include "core/Exceptions.h"
#include "core/TextUtils.h"
#include "system/FileCtrl.h"
#include "system/FileStream.h"
#include "system/PathText.h"
#include "system/SysKernel.h"

void CollectFiles(const AnsiString& folder, TStringList& list) {
  for (const TSearchRec& rec : ListFolder(folder)) {
    AnsiString path = folder + "\\" + rec.Name;
    if (rec.Attr & faDirectory) {
      if (!(rec.Attr & faReparsePoint)) CollectFiles(path, list);
    } else {
      list.Add(path);
    }
  }
}

int64_t FileSizeOf(const AnsiString& path) {
  TFileStream stream(path, fmOpenRead | fmShareDenyNone);
  return stream.Size();
}

bool ForceFolders(const AnsiString& path) {
  if (path.empty()) throw EInOutError(SUnableToCreateDirectory);
  AnsiString p = StripTrailingDelimiters(path);
  if (FolderExists(p)) return true;
  AnsiString parent = StripTrailingDelimiters(ExtractFilePath(p));
  // Outermost first; a drive or the top of a relative path ends the climb.
  if (!parent.empty() && parent != p && !(parent.size() == 2 && parent[1] == ':') && !ForceFolders(parent))
    return false;
  return CreateFolderAt(p);
}

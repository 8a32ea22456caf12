// File utilities that need nothing but the platform's streams and enumeration.
#include "core/TextUtils.h"
#include "system/FileStream.h"
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

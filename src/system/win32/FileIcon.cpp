// The shell's icon of a file, for the designer's file lists. A file of its own, so that a
// program that never shows one can link its own definition instead (Setup.exe does).
#include <windows.h>
#include <shellapi.h>

#include "system/SysKernel.h"
#include "system/win32/WideText.h"

int32_t FileIconIndex(const AnsiString& path, bool small) {
  // The shell has no icon for a path that is not there, and finding that out costs it a
  // parse of every level (about 1 ms under Wine). A project opened away from the machine that
  // made it names source paths that are not there: one attribute query per file instead.
  const wintext::W widePath(path);
  if (GetFileAttributesW(widePath) == INVALID_FILE_ATTRIBUTES) return 0;
  SHFILEINFOW info{};
  if (!SHGetFileInfoW(widePath, 0, &info, sizeof info, SHGFI_ICON | (small ? SHGFI_SMALLICON : SHGFI_LARGEICON)))
    return 0;
  if (info.hIcon) DestroyIcon(info.hIcon);
  return info.iIcon;
}

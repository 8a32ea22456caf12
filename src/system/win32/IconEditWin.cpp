// Icon replacement through the system's resource-update calls.
#include <windows.h>

#include "core/Exceptions.h"
#include "core/Stream.h"
#include "system/IconEdit.h"
#include "system/win32/WideText.h"

namespace {

BOOL CALLBACK FirstLanguageProc(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR param) {
  *reinterpret_cast<WORD*>(param) = language;
  return FALSE;  // the first instance is enough
}

// Language of the first instance of the resource; 0 when it has none.
WORD FirstResourceLanguage(HMODULE module, LPCWSTR type, LPCWSTR name) {
  WORD language = 0;
  EnumResourceLanguagesW(module, type, name, FirstLanguageProc, reinterpret_cast<LONG_PTR>(&language));
  return language;
}

struct TFoundLanguage {
  bool Any = false;
  WORD Language = 0;
};

BOOL CALLBACK FoundLanguageProc(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR param) {
  auto* found = reinterpret_cast<TFoundLanguage*>(param);
  found->Any = true;
  found->Language = language;
  return FALSE;
}

[[noreturn]] void RaiseLastError(const char* text) { RaiseResourceErrorCode(text, int(GetLastError())); }

struct TModuleGuard {
  HMODULE Module;
  ~TModuleGuard() { FreeLibrary(Module); }
};

// Steps that run inside the pending update; the caller discards it when they raise.
void UpdateIcon(HANDLE update, const AnsiString& exeFile, const TArrayByte& icon) {
  HMODULE module = LoadLibraryExW(wintext::W(exeFile), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (module == nullptr) RaiseLastError("LoadLibraryEx failed (1)");
  TModuleGuard guard{module};

  const LPCWSTR groupName = L"MAINICON";
  HRSRC found = FindResourceW(module, groupName, MAKEINTRESOURCEW(14));
  if (found == nullptr) RaiseLastError("FindResource failed (1)");
  HGLOBAL loaded = LoadResource(module, found);
  if (loaded == nullptr) RaiseLastError("LoadResource failed (1)");
  const auto* oldGroup = static_cast<const uint8_t*>(LockResource(loaded));
  if (oldGroup == nullptr) RaiseLastError("LockResource failed (1)");
  // Entries are read only as far as the resource reaches.
  const size_t oldGroupSize = SizeofResource(module, found);

  if (!UpdateResourceW(update, MAKEINTRESOURCEW(14), groupName,
                       FirstResourceLanguage(module, MAKEINTRESOURCEW(14), groupName), nullptr, 0))
    RaiseLastError("UpdateResource failed (1)");
  for (uint16_t id : IconGroupImageIds(oldGroup, oldGroupSize)) {
    if (!UpdateResourceW(update, MAKEINTRESOURCEW(3), MAKEINTRESOURCEW(id),
                         FirstResourceLanguage(module, MAKEINTRESOURCEW(3), MAKEINTRESOURCEW(id)), nullptr, 0))
      RaiseLastError("UpdateResource failed (2)");
  }

  TArrayByte newGroup = BuildIconGroup(oldGroup, oldGroupSize, icon);
  const uint16_t count = GetLE16(icon.data() + 4);
  for (uint16_t i = 0; i < count; ++i) {
    const uint8_t* entry = icon.data() + 6 + 16 * i;
    if (!UpdateResourceW(update, MAKEINTRESOURCEW(3), MAKEINTRESOURCEW(i + 1), IconResourceLanguage,
                         const_cast<uint8_t*>(icon.data() + GetLE32(entry + 12)), GetLE32(entry + 8)))
      RaiseLastError("UpdateResource failed (3)");
  }
  if (!UpdateResourceW(update, MAKEINTRESOURCEW(14), groupName, IconResourceLanguage, newGroup.data(),
                       DWORD(newGroup.size())))
    RaiseLastError("UpdateResource failed (4)");
}

}  // namespace

bool ReplaceExeIcon(const AnsiString& iconFile, const AnsiString& exeFile) {
  if ((GetVersion() & 0x80000000u) != 0) RaiseResourceError("Only supported on Windows NT and above");
  const TArrayByte icon = LoadIconFile(iconFile);

  HANDLE update = BeginUpdateResourceW(wintext::W(exeFile), FALSE);
  if (update == nullptr) RaiseLastError("BeginUpdateResource failed (1)");
  try {
    UpdateIcon(update, exeFile, icon);
  } catch (...) {
    EndUpdateResourceW(update, TRUE);
    throw;
  }
  if (!EndUpdateResourceW(update, FALSE)) RaiseResourceError("EndUpdateResource failed");
  return true;
}

bool ReplaceExeVersion(const AnsiString& exeFile, const TArrayByte& data) {
  // The language of the existing resource, looked up before the update begins.
  WORD language = VersionResourceLanguage;
  if (HMODULE module = LoadLibraryExW(wintext::W(exeFile), nullptr, LOAD_LIBRARY_AS_DATAFILE)) {
    TModuleGuard guard{module};
    // Found with a flag: a resource in the neutral language (0) is replaced too.
    TFoundLanguage found;
    EnumResourceLanguagesW(module, MAKEINTRESOURCEW(RtVersion), MAKEINTRESOURCEW(1), FoundLanguageProc,
                           reinterpret_cast<LONG_PTR>(&found));
    if (found.Any) language = found.Language;
  }
  HANDLE update = BeginUpdateResourceW(wintext::W(exeFile), FALSE);
  if (update == nullptr) RaiseLastError("BeginUpdateResource failed (1)");
  if (!UpdateResourceW(update, MAKEINTRESOURCEW(RtVersion), MAKEINTRESOURCEW(1), language,
                       const_cast<uint8_t*>(data.data()), DWORD(data.size()))) {
    const int code = int(GetLastError());
    EndUpdateResourceW(update, TRUE);
    RaiseResourceErrorCode("UpdateResource failed (5)", code);
  }
  if (!EndUpdateResourceW(update, FALSE)) RaiseResourceError("EndUpdateResource failed");
  return true;
}

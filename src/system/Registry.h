#pragma once
// A small registry API used by the installation run and the uninstaller. On Windows it
// is the real registry; in the sandbox a REGEDIT4 text file, <root>/registry.reg.
#include <memory>

#include "core/StringList.h"
#include "core/Types.h"

constexpr size_t kMaxValueName = 16383;

enum class TRootKey { ClassesRoot, CurrentUser, LocalMachine, Users, CurrentConfig };

// Exact root names: "HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE",
// "HKEY_USERS", "HKEY_CURRENT_CONFIG".
bool RootKeyFromName(const AnsiString& name, TRootKey& root);
AnsiString RootKeyName(TRootKey root);

class TRegKey {
public:
  // Opens root\path (a leading backslash is allowed). With create, missing keys are made.
  // Returns null when the key cannot be opened or created.
  static std::unique_ptr<TRegKey> Open(TRootKey root, const AnsiString& path, bool create);
  // Deletes the key when it has neither values nor subkeys; true when it is gone afterwards.
  static bool DeleteKeyIfEmpty(TRootKey root, const AnsiString& path);
  static bool KeyExists(TRootKey root, const AnsiString& path);

  virtual ~TRegKey() = default;
  // Writes raise Exception("Failed to set data for '<name>'"), followed by the system's reason
  // where it gives one, on failure. Value names longer than kMaxValueName cannot be written.
  virtual void WriteString(const AnsiString& name, const AnsiString& value) = 0;
  virtual void WriteInteger(const AnsiString& name, int32_t value) = 0;
  virtual void WriteBinary(const AnsiString& name, const TArrayByte& value) = 0;
  virtual bool DeleteValue(const AnsiString& name) = 0;
  virtual bool ValueExists(const AnsiString& name) = 0;
  virtual bool ReadString(const AnsiString& name, AnsiString& value) = 0;
  virtual bool ReadInteger(const AnsiString& name, int32_t& value) = 0;
  virtual bool ReadBinary(const AnsiString& name, TArrayByte& value) = 0;
  // The value as stored: its type number (REG_SZ 1, REG_BINARY 3, REG_DWORD 4, ...) and bytes,
  // so that a value can be put back exactly as it was.
  virtual bool ReadRaw(const AnsiString& name, uint32_t& type, TArrayByte& data) = 0;
  virtual void WriteRaw(const AnsiString& name, uint32_t type, const TArrayByte& data) = 0;
  virtual void GetValueNames(TStringList& names) = 0;
  virtual void GetKeyNames(TStringList& names) = 0;
};

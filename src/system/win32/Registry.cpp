// The registry API over advapi32's ANSI calls.
#include <windows.h>

#include "core/Exceptions.h"
#include "system/PathText.h"
#include "system/Platform.h"
#include "system/Registry.h"

namespace {
HKEY RootHandle(TRootKey root) {
  switch (root) {
    case TRootKey::ClassesRoot: return HKEY_CLASSES_ROOT;
    case TRootKey::CurrentUser: return HKEY_CURRENT_USER;
    case TRootKey::LocalMachine: return HKEY_LOCAL_MACHINE;
    case TRootKey::Users: return HKEY_USERS;
    case TRootKey::CurrentConfig: return HKEY_CURRENT_CONFIG;
  }
  return HKEY_CURRENT_USER;
}

// The API takes paths relative to the root: a leading backslash only says "absolute".
AnsiString RelativePath(const AnsiString& path) {
  size_t i = 0;
  while (i < path.size() && path[i] == '\\') ++i;
  AnsiString p = StripTrailingDelimiters(path.substr(i));
  return p == "\\" ? AnsiString() : p;
}

class TWinKey : public TRegKey {
public:
  explicit TWinKey(HKEY key) : FKey(key) {}
  ~TWinKey() override { RegCloseKey(FKey); }

  void WriteString(const AnsiString& name, const AnsiString& value) override {
    Set(name, REG_SZ, value.c_str(), value.size() + 1);
  }
  void WriteInteger(const AnsiString& name, int32_t value) override { Set(name, REG_DWORD, &value, 4); }
  void WriteBinary(const AnsiString& name, const TArrayByte& value) override {
    Set(name, REG_BINARY, value.data(), value.size());
  }
  bool DeleteValue(const AnsiString& name) override { return RegDeleteValueA(FKey, name.c_str()) == ERROR_SUCCESS; }
  bool ValueExists(const AnsiString& name) override {
    return RegQueryValueExA(FKey, name.c_str(), nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
  }
  bool ReadString(const AnsiString& name, AnsiString& value) override {
    DWORD type;
    TArrayByte data;
    if (!Query(name, type, data) || (type != REG_SZ && type != REG_EXPAND_SZ)) return false;
    value.assign(data.begin(), data.end());
    size_t nul = value.find('\0');
    if (nul != AnsiString::npos) value.resize(nul);
    return true;
  }
  bool ReadInteger(const AnsiString& name, int32_t& value) override {
    DWORD type;
    TArrayByte data;
    if (!Query(name, type, data) || type != REG_DWORD || data.size() != 4) return false;
    value = static_cast<int32_t>(data[0] | data[1] << 8 | data[2] << 16 | static_cast<uint32_t>(data[3]) << 24);
    return true;
  }
  bool ReadBinary(const AnsiString& name, TArrayByte& value) override {
    DWORD type;
    return Query(name, type, value);
  }
  bool ReadRaw(const AnsiString& name, uint32_t& type, TArrayByte& data) override {
    DWORD t;
    if (!Query(name, t, data)) return false;
    type = t;
    return true;
  }
  void WriteRaw(const AnsiString& name, uint32_t type, const TArrayByte& data) override {
    Set(name, type, data.data(), data.size());
  }
  void GetValueNames(TStringList& names) override {
    names.Clear();
    char buf[16384];
    for (DWORD i = 0;; ++i) {
      DWORD len = sizeof buf;
      if (RegEnumValueA(FKey, i, buf, &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
      names.Add(AnsiString(buf, len));
    }
  }
  void GetKeyNames(TStringList& names) override {
    names.Clear();
    char buf[256];
    for (DWORD i = 0;; ++i) {
      DWORD len = sizeof buf;
      if (RegEnumKeyExA(FKey, i, buf, &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
      names.Add(AnsiString(buf, len));
    }
  }

private:
  void Set(const AnsiString& name, DWORD type, const void* data, size_t size) {
    LONG rc = RegSetValueExA(FKey, name.c_str(), 0, type, static_cast<const BYTE*>(data), static_cast<DWORD>(size));
    if (rc != ERROR_SUCCESS) throw Exception("Failed to set data for '" + name + "'. " + SystemErrorMessage(rc));
  }
  bool Query(const AnsiString& name, DWORD& type, TArrayByte& data) {
    DWORD size = 0;
    if (RegQueryValueExA(FKey, name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return false;
    data.assign(size, 0);
    if (RegQueryValueExA(FKey, name.c_str(), nullptr, &type, data.data(), &size) != ERROR_SUCCESS) return false;
    data.resize(size);
    return true;
  }
  HKEY FKey;
};
}  // namespace

std::unique_ptr<TRegKey> TRegKey::Open(TRootKey root, const AnsiString& path, bool create) {
  AnsiString rel = RelativePath(path);
  HKEY key;
  if (create) {
    if (RegCreateKeyExA(RootHandle(root), rel.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                        &key, nullptr) == ERROR_SUCCESS)
      return std::make_unique<TWinKey>(key);
    return nullptr;
  }
  if (RegOpenKeyExA(RootHandle(root), rel.c_str(), 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS ||
      RegOpenKeyExA(RootHandle(root), rel.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS)
    return std::make_unique<TWinKey>(key);
  return nullptr;
}

bool TRegKey::DeleteKeyIfEmpty(TRootKey root, const AnsiString& path) {
  AnsiString rel = RelativePath(path);
  if (rel.empty()) return false;
  HKEY key;
  LONG r = RegOpenKeyExA(RootHandle(root), rel.c_str(), 0, KEY_READ, &key);
  if (r == ERROR_FILE_NOT_FOUND) return true;
  if (r != ERROR_SUCCESS) return false;
  DWORD subkeys = 0, values = 0;
  LONG q = RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr, nullptr,
                            nullptr, nullptr);
  RegCloseKey(key);
  if (q != ERROR_SUCCESS || subkeys || values) return false;
  return RegDeleteKeyA(RootHandle(root), rel.c_str()) == ERROR_SUCCESS;
}

bool TRegKey::KeyExists(TRootKey root, const AnsiString& path) {
  HKEY key;
  if (RegOpenKeyExA(RootHandle(root), RelativePath(path).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

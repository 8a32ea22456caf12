// The registry API over advapi32's wide calls. String values are stored as UTF-16, as every
// other program reads them; the raw data of string values is GBK here as in the sandbox, so a
// value read before an installation is written back the same on both.
#include <windows.h>

#include "core/Exceptions.h"
#include "system/PathText.h"
#include "system/Platform.h"
#include "system/Registry.h"
#include "system/win32/WideText.h"

namespace {
using wintext::W;

bool IsStringType(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

// UTF-16 data as stored <-> GBK data as the program holds it, terminators included.
TArrayByte GbkData(const TArrayByte& utf16) {
  std::wstring w(utf16.size() / 2, L'\0');
  for (size_t i = 0; i < w.size(); ++i) w[i] = static_cast<wchar_t>(utf16[2 * i] | utf16[2 * i + 1] << 8);
  const AnsiString text = wintext::Narrow(w);
  return TArrayByte(text.begin(), text.end());
}
TArrayByte Utf16Data(const void* gbk, size_t size) {
  const std::wstring w = wintext::Wide(AnsiString(static_cast<const char*>(gbk), size));
  TArrayByte out(w.size() * 2);
  for (size_t i = 0; i < w.size(); ++i) {
    out[2 * i] = static_cast<uint8_t>(w[i] & 0xFF);
    out[2 * i + 1] = static_cast<uint8_t>(w[i] >> 8);
  }
  return out;
}

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
  bool DeleteValue(const AnsiString& name) override { return RegDeleteValueW(FKey, W(name)) == ERROR_SUCCESS; }
  bool ValueExists(const AnsiString& name) override {
    return RegQueryValueExW(FKey, W(name), nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
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
    std::wstring buf(16384, L'\0');
    for (DWORD i = 0;; ++i) {
      DWORD len = static_cast<DWORD>(buf.size());
      if (RegEnumValueW(FKey, i, &buf[0], &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
      names.Add(wintext::Narrow(buf.data(), len));
    }
  }
  void GetKeyNames(TStringList& names) override {
    names.Clear();
    wchar_t buf[256];
    for (DWORD i = 0;; ++i) {
      DWORD len = 256;
      if (RegEnumKeyExW(FKey, i, buf, &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
      names.Add(wintext::Narrow(buf, len));
    }
  }

private:
  // data as the program holds it: string types in GBK.
  void Set(const AnsiString& name, DWORD type, const void* data, size_t size) {
    TArrayByte wide;
    if (IsStringType(type)) {
      wide = Utf16Data(data, size);
      data = wide.data();
      size = wide.size();
    }
    LONG rc = RegSetValueExW(FKey, W(name), 0, type, static_cast<const BYTE*>(data), static_cast<DWORD>(size));
    if (rc != ERROR_SUCCESS) throw Exception("Failed to set data for '" + name + "'. " + SystemErrorMessage(rc));
  }
  // The data as the program holds it: string types in GBK.
  bool Query(const AnsiString& name, DWORD& type, TArrayByte& data) {
    const W wideName(name);
    DWORD size = 0;
    if (RegQueryValueExW(FKey, wideName, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return false;
    data.assign(size, 0);
    if (RegQueryValueExW(FKey, wideName, nullptr, &type, data.data(), &size) != ERROR_SUCCESS) return false;
    data.resize(size);
    if (IsStringType(type)) data = GbkData(data);
    return true;
  }
  HKEY FKey;
};
}  // namespace

std::unique_ptr<TRegKey> TRegKey::Open(TRootKey root, const AnsiString& path, bool create) {
  AnsiString rel = RelativePath(path);
  HKEY key;
  if (create) {
    if (RegCreateKeyExW(RootHandle(root), W(rel), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                        &key, nullptr) == ERROR_SUCCESS)
      return std::make_unique<TWinKey>(key);
    return nullptr;
  }
  const W wideRel(rel);
  if (RegOpenKeyExW(RootHandle(root), wideRel, 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS ||
      RegOpenKeyExW(RootHandle(root), wideRel, 0, KEY_READ, &key) == ERROR_SUCCESS)
    return std::make_unique<TWinKey>(key);
  return nullptr;
}

bool TRegKey::DeleteKeyIfEmpty(TRootKey root, const AnsiString& path) {
  AnsiString rel = RelativePath(path);
  if (rel.empty()) return false;
  HKEY key;
  const W wideRel(rel);
  LONG r = RegOpenKeyExW(RootHandle(root), wideRel, 0, KEY_READ, &key);
  if (r == ERROR_FILE_NOT_FOUND) return true;
  if (r != ERROR_SUCCESS) return false;
  DWORD subkeys = 0, values = 0;
  LONG q = RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr, nullptr,
                            nullptr, nullptr);
  RegCloseKey(key);
  if (q != ERROR_SUCCESS || subkeys || values) return false;
  return RegDeleteKeyW(RootHandle(root), wideRel) == ERROR_SUCCESS;
}

bool TRegKey::KeyExists(TRootKey root, const AnsiString& path) {
  HKEY key;
  if (RegOpenKeyExW(RootHandle(root), W(RelativePath(path)), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

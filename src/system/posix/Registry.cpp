// The sandbox registry: a REGEDIT4 text file (GBK, CR LF) read and rewritten on each change.
#include "system/Registry.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "core/Exceptions.h"
#include "core/Stream.h"
#include "core/TextUtils.h"
#include "system/Platform.h"
#include "system/Sandbox.h"
#include "system/posix/SandboxInternal.h"

namespace {
enum : uint32_t { kRegSz = 1, kRegBinary = 3, kRegDword = 4 };

struct TRegValue {
  AnsiString Name;
  uint32_t Type = kRegSz;
  TArrayByte Data;  // REG_SZ: the text without terminator
};

struct TKeyData {
  AnsiString Path;  // "HKEY_...\a\b"
  std::vector<TRegValue> Values;
};

std::string RegistryFile() { return sandbox::Root() + "/registry.reg"; }

// Splits at backslashes that are not the trail byte of a GBK character; drops empty parts.
std::vector<AnsiString> SplitKeyPath(const AnsiString& path) {
  std::vector<AnsiString> parts;
  AnsiString cur;
  for (size_t i = 0; i < path.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(path[i]);
    if (IsGbkLeadByte(c) && i + 1 < path.size()) {
      cur += path[i];
      cur += path[++i];
    } else if (c == '\\') {
      if (!cur.empty()) parts.push_back(cur);
      cur.clear();
    } else {
      cur += path[i];
    }
  }
  if (!cur.empty()) parts.push_back(cur);
  return parts;
}

AnsiString Quote(const AnsiString& s) {
  AnsiString out = "\"";
  for (size_t i = 0; i < s.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (IsGbkLeadByte(c) && i + 1 < s.size()) {
      out += s[i];
      out += s[++i];
    } else {
      if (c == '\\' || c == '"') out += '\\';
      out += s[i];
    }
  }
  return out + "\"";
}

// Reads a quoted string starting at pos (on the opening quote); pos ends after the closing one.
bool Unquote(const AnsiString& line, size_t& pos, AnsiString& out) {
  if (pos >= line.size() || line[pos] != '"') return false;
  out.clear();
  for (size_t i = pos + 1; i < line.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(line[i]);
    if (IsGbkLeadByte(c) && i + 1 < line.size()) {
      out += line[i];
      out += line[++i];
    } else if (c == '\\' && i + 1 < line.size()) {
      out += line[++i];
    } else if (c == '"') {
      pos = i + 1;
      return true;
    } else {
      out += line[i];
    }
  }
  return false;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool ParseHexBytes(const AnsiString& text, TArrayByte& out) {
  out.clear();
  int hi = -1;
  for (char c : text) {
    if (c == ',' || c == ' ' || c == '\t' || c == '\\') {
      if (hi >= 0) return false;
      continue;
    }
    int d = HexDigit(c);
    if (d < 0) return false;
    if (hi < 0) {
      hi = d;
    } else {
      out.push_back(static_cast<uint8_t>(hi * 16 + d));
      hi = -1;
    }
  }
  return hi < 0;
}

bool ParseValue(const AnsiString& line, TRegValue& v) {
  size_t pos = 0;
  if (line[0] == '@') {
    v.Name.clear();
    pos = 1;
  } else if (!Unquote(line, pos, v.Name)) {
    return false;
  }
  if (pos >= line.size() || line[pos] != '=') return false;
  AnsiString data = line.substr(pos + 1);
  if (!data.empty() && data[0] == '"') {
    size_t p = 0;
    AnsiString s;
    if (!Unquote(data, p, s)) return false;
    v.Type = kRegSz;
    v.Data.assign(s.begin(), s.end());
    return true;
  }
  if (data.compare(0, 6, "dword:") == 0) {
    uint32_t n = 0;
    AnsiString hex = data.substr(6);
    if (hex.empty() || hex.size() > 8) return false;
    for (char c : hex) {
      int d = HexDigit(c);
      if (d < 0) return false;
      n = n * 16 + static_cast<uint32_t>(d);
    }
    v.Type = kRegDword;
    v.Data = {static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n >> 16),
              static_cast<uint8_t>(n >> 24)};
    return true;
  }
  if (data.compare(0, 4, "hex:") == 0) {
    v.Type = kRegBinary;
    return ParseHexBytes(data.substr(4), v.Data);
  }
  if (data.compare(0, 4, "hex(") == 0) {
    size_t close = data.find("):");
    if (close == AnsiString::npos) return false;
    int32_t type;
    if (!TryStrToInt("$" + data.substr(4, close - 4), type) || type < 0) return false;
    v.Type = static_cast<uint32_t>(type);
    if (!ParseHexBytes(data.substr(close + 2), v.Data)) return false;
    if (v.Type == kRegSz && !v.Data.empty() && v.Data.back() == 0) v.Data.pop_back();
    return true;
  }
  return false;
}

AnsiString HexList(const TArrayByte& data) {
  AnsiString out;
  char b[4];
  for (size_t i = 0; i < data.size(); ++i) {
    std::snprintf(b, sizeof b, "%02x", data[i]);
    if (i) out += ',';
    out += b;
  }
  return out;
}

AnsiString FormatValue(const TRegValue& v) {
  AnsiString out = v.Name.empty() ? AnsiString("@") : Quote(v.Name);
  out += '=';
  AnsiString text(v.Data.begin(), v.Data.end());
  if (v.Type == kRegSz && text.find_first_of(AnsiString("\r\n\0", 3)) == AnsiString::npos) return out + Quote(text);
  if (v.Type == kRegDword && v.Data.size() == 4) {
    char b[16];
    std::snprintf(b, sizeof b, "dword:%08x", GetLE32(v.Data.data()));
    return out + b;
  }
  if (v.Type == kRegBinary) return out + "hex:" + HexList(v.Data);
  // Line breaks cannot stand in a quoted REGEDIT4 string: such text is kept as hex(1).
  TArrayByte data = v.Data;
  if (v.Type == kRegSz) data.push_back(0);
  char b[16];
  std::snprintf(b, sizeof b, "hex(%x):", v.Type);
  return out + b + HexList(data);
}

struct TRegFile {
  std::vector<TKeyData> Keys;

  void Load() {
    Keys.clear();
    std::ifstream in(RegistryFile(), std::ios::binary);
    if (!in) {
      // A new machine has the keys every Windows has: an installation that writes below them
      // did not make them, and its uninstall must not take them away.
      for (const char* k : {"HKEY_LOCAL_MACHINE\\SOFTWARE", "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft",
                            "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows",
                            "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion",
                            "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run",
                            "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall",
                            "HKEY_CURRENT_USER\\Software", "HKEY_CURRENT_USER\\Software\\Microsoft"})
        Keys.push_back({k, {}});
      // And 64-bit Windows the 32-bit programs' view of them.
      if (SandboxWindowsBits() == 64)
        for (const char* k : {"HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node", "HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\Microsoft",
                              "HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\Microsoft\\Windows",
                              "HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion",
                              "HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Run",
                              "HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall"})
          Keys.push_back({k, {}});
      return;
    }
    std::stringstream ss;
    ss << in.rdbuf();
    std::string all = ss.str();
    std::vector<AnsiString> lines;
    AnsiString cur;
    for (size_t i = 0; i <= all.size(); ++i) {
      if (i == all.size() || all[i] == '\n') {
        if (!cur.empty() && cur.back() == '\r') cur.pop_back();
        lines.push_back(cur);
        cur.clear();
      } else {
        cur += all[i];
      }
    }
    TKeyData* key = nullptr;
    for (size_t i = 0; i < lines.size(); ++i) {
      AnsiString line = lines[i];
      // hex lists may be wrapped with a trailing backslash
      while (!line.empty() && line.back() == '\\' && line.find("=hex") != AnsiString::npos && i + 1 < lines.size()) {
        line.pop_back();
        line += Trim(lines[++i]);
      }
      if (line.empty() || line[0] == ';') continue;
      if (line[0] == '[' && line.back() == ']') {
        Keys.push_back({line.substr(1, line.size() - 2), {}});
        key = &Keys.back();
        continue;
      }
      TRegValue v;
      if (key && (line[0] == '"' || line[0] == '@') && ParseValue(line, v)) {
        TRegValue* old = FindValue(*key, v.Name);
        if (old)
          *old = std::move(v);
        else
          key->Values.push_back(std::move(v));
      }
    }
  }

  void Save() {
    AnsiString out = "REGEDIT4\r\n";
    for (const TKeyData& k : Keys) {
      out += "\r\n[" + k.Path + "]\r\n";
      for (const TRegValue& v : k.Values) out += FormatValue(v) + "\r\n";
    }
    std::string file = RegistryFile(), tmp = file + "." + std::to_string(getpid()) + ".tmp";
    bool written;
    errno = 0;
    {
      std::ofstream o(tmp, std::ios::binary | std::ios::trunc);
      o.write(out.data(), static_cast<std::streamsize>(out.size()));
      o.close();
      written = static_cast<bool>(o);
    }
    if (!written || std::rename(tmp.c_str(), file.c_str()) != 0) {
      // A failed write leaves no half-written copy behind.
      const int err = errno ? errno : EIO;
      std::remove(tmp.c_str());
      throw Exception("Failed to set data: the registry file cannot be written. " + SystemErrorMessage(err));
    }
  }

  TKeyData* Find(const AnsiString& path) {
    for (TKeyData& k : Keys)
      if (SameText(k.Path, path)) return &k;
    return nullptr;
  }

  static TRegValue* FindValue(TKeyData& key, const AnsiString& name) {
    for (TRegValue& v : key.Values)
      if (SameText(v.Name, name)) return &v;
    return nullptr;
  }

  bool HasSubkeys(const AnsiString& path) const {
    AnsiString prefix = UpperCaseAscii(path) + "\\";
    for (const TKeyData& k : Keys)
      if (StartsStr(prefix, UpperCaseAscii(k.Path))) return true;
    return false;
  }
};

AnsiString FullPath(TRootKey root, const AnsiString& path) {
  AnsiString plain;
  for (const AnsiString& part : SplitKeyPath(path)) plain += (plain.empty() ? "" : "\\") + part;
  // The key a 32-bit program reaches on 64-bit Windows.
  plain = SandboxRegistryView(RootKeyName(root), plain);
  return plain.empty() ? RootKeyName(root) : RootKeyName(root) + "\\" + plain;
}

class TSandboxKey : public TRegKey {
public:
  TSandboxKey(AnsiString path, bool isRoot) : FPath(std::move(path)), FIsRoot(isRoot) {}

  void WriteString(const AnsiString& name, const AnsiString& value) override {
    Write(name, kRegSz, TArrayByte(value.begin(), value.end()));
  }
  void WriteInteger(const AnsiString& name, int32_t value) override {
    TArrayByte d(4);
    PutLE32(d.data(), static_cast<uint32_t>(value));
    Write(name, kRegDword, d);
  }
  void WriteBinary(const AnsiString& name, const TArrayByte& value) override { Write(name, kRegBinary, value); }

  bool DeleteValue(const AnsiString& name) override {
    TRegFile f;
    f.Load();
    TKeyData* k = f.Find(FPath);
    if (!k) return false;
    for (auto it = k->Values.begin(); it != k->Values.end(); ++it)
      if (SameText(it->Name, name)) {
        k->Values.erase(it);
        f.Save();
        return true;
      }
    return false;
  }

  bool ValueExists(const AnsiString& name) override { return Get(name, nullptr); }

  bool ReadString(const AnsiString& name, AnsiString& value) override {
    TRegValue v;
    if (!Get(name, &v) || v.Type != kRegSz) return false;
    value.assign(v.Data.begin(), v.Data.end());
    return true;
  }
  bool ReadInteger(const AnsiString& name, int32_t& value) override {
    TRegValue v;
    if (!Get(name, &v) || v.Type != kRegDword || v.Data.size() != 4) return false;
    value = static_cast<int32_t>(GetLE32(v.Data.data()));
    return true;
  }
  bool ReadBinary(const AnsiString& name, TArrayByte& value) override {
    TRegValue v;
    if (!Get(name, &v)) return false;
    value = v.Data;
    return true;
  }

  bool ReadRaw(const AnsiString& name, uint32_t& type, TArrayByte& data) override {
    TRegValue v;
    if (!Get(name, &v)) return false;
    type = v.Type;
    data = v.Data;
    return true;
  }
  void WriteRaw(const AnsiString& name, uint32_t type, const TArrayByte& data) override { Write(name, type, data); }

  void GetValueNames(TStringList& names) override {
    names.Clear();
    TRegFile f;
    f.Load();
    if (TKeyData* k = f.Find(FPath))
      for (const TRegValue& v : k->Values) names.Add(v.Name);
  }

  void GetKeyNames(TStringList& names) override {
    names.Clear();
    TRegFile f;
    f.Load();
    size_t depth = SplitKeyPath(FPath).size();
    AnsiString prefix = UpperCaseAscii(FPath) + "\\";
    for (const TKeyData& k : f.Keys) {
      auto parts = SplitKeyPath(k.Path);
      if (parts.size() == depth + 1 && StartsStr(prefix, UpperCaseAscii(k.Path)) && names.IndexOf(parts.back()) < 0)
        names.Add(parts.back());
    }
  }

private:
  void Write(const AnsiString& name, uint32_t type, const TArrayByte& data) {
    // As on Windows: a longer value name is refused.
    if (name.size() > kMaxValueName)
      throw Exception("Failed to set data for '" + name.substr(0, 40) + "...'. The parameter is incorrect.");
    TRegFile f;
    f.Load();
    TKeyData* k = f.Find(FPath);
    if (!k && FIsRoot) {
      f.Keys.push_back({FPath, {}});
      k = &f.Keys.back();
    }
    if (!k) throw Exception("Failed to set data for '" + name + "'");
    TRegValue* v = TRegFile::FindValue(*k, name);
    if (!v) {
      k->Values.push_back({name, type, data});
    } else {
      v->Type = type;
      v->Data = data;
    }
    f.Save();
  }

  bool Get(const AnsiString& name, TRegValue* out) {
    TRegFile f;
    f.Load();
    TKeyData* k = f.Find(FPath);
    if (!k) return false;
    TRegValue* v = TRegFile::FindValue(*k, name);
    if (v && out) *out = *v;
    return v != nullptr;
  }

  AnsiString FPath;
  bool FIsRoot;
};
}  // namespace

std::unique_ptr<TRegKey> TRegKey::Open(TRootKey root, const AnsiString& path, bool create) {
  AnsiString full = FullPath(root, path);
  auto parts = SplitKeyPath(full);
  if (parts.size() == 1) return std::make_unique<TSandboxKey>(full, true);
  TRegFile f;
  f.Load();
  if (!f.Find(full)) {
    if (!create) return nullptr;
    AnsiString level = parts[0];
    for (size_t i = 1; i < parts.size(); ++i) {
      level += "\\" + parts[i];
      if (!f.Find(level)) f.Keys.push_back({level, {}});
    }
    try {
      f.Save();
    } catch (const Exception&) {
      return nullptr;
    }
  }
  return std::make_unique<TSandboxKey>(full, false);
}

bool TRegKey::DeleteKeyIfEmpty(TRootKey root, const AnsiString& path) {
  AnsiString full = FullPath(root, path);
  if (SplitKeyPath(full).size() == 1) return false;
  TRegFile f;
  f.Load();
  TKeyData* k = f.Find(full);
  if (!k) return true;
  if (!k->Values.empty() || f.HasSubkeys(full)) return false;
  f.Keys.erase(f.Keys.begin() + (k - f.Keys.data()));
  f.Save();
  return true;
}

bool TRegKey::KeyExists(TRootKey root, const AnsiString& path) {
  AnsiString full = FullPath(root, path);
  if (SplitKeyPath(full).size() == 1) return true;
  TRegFile f;
  f.Load();
  return f.Find(full) != nullptr;
}

#include "core/TextUtils.h"

#include <cstdlib>

static inline unsigned char FoldUp(unsigned char c) { return (c >= 0x61 && c <= 0x7A) ? c - 0x20 : c; }

bool SameText(const AnsiString& a, const AnsiString& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (FoldUp(static_cast<unsigned char>(a[i])) != FoldUp(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

AnsiString UpperCaseAscii(const AnsiString& s) {
  AnsiString r = s;
  for (auto& c : r) c = static_cast<char>(FoldUp(static_cast<unsigned char>(c)));
  return r;
}

AnsiString LowerCaseAscii(const AnsiString& s) {
  AnsiString r = s;
  for (auto& c : r) {
    unsigned char u = static_cast<unsigned char>(c);
    if (u >= 0x41 && u <= 0x5A) c = static_cast<char>(u + 0x20);
  }
  return r;
}

bool StartsText(const AnsiString& prefix, const AnsiString& text) {
  return text.size() >= prefix.size() && SameText(text.substr(0, prefix.size()), prefix);
}

bool StartsStr(const AnsiString& prefix, const AnsiString& text) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

bool ContainsStr(const AnsiString& text, const AnsiString& part) { return text.find(part) != AnsiString::npos; }

bool IsGbkLeadByte(unsigned char c) { return c >= 0x81 && c <= 0xFE; }

bool TryStrToInt(const AnsiString& text, int32_t& out) {
  AnsiString s = Trim(text);
  if (s.empty()) return false;
  size_t i = 0;
  bool neg = false;
  if (s[i] == '-' || s[i] == '+') { neg = s[i] == '-'; ++i; }
  int base = 10;
  if (i < s.size() && s[i] == '$') { base = 16; ++i; }
  else if (i + 1 < s.size() && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X')) { base = 16; i += 2; }
  if (i >= s.size()) return false;
  int64_t v = 0;
  for (; i < s.size(); ++i) {
    int d;
    char c = s[i];
    if (c >= '0' && c <= '9') d = c - '0';
    else if (base == 16 && c >= 'a' && c <= 'f') d = c - 'a' + 10;
    else if (base == 16 && c >= 'A' && c <= 'F') d = c - 'A' + 10;
    else return false;
    v = v * base + d;
    if (v > 0xFFFFFFFFLL) return false;
  }
  if (base == 10) {
    if (neg ? v > 2147483648LL : v > 2147483647LL) return false;
    out = static_cast<int32_t>(neg ? -v : v);
  } else {
    out = static_cast<int32_t>(static_cast<uint32_t>(v));
    if (neg) out = -out;
  }
  return true;
}

int32_t StrToIntDef(const AnsiString& s, int32_t def) {
  int32_t v;
  return TryStrToInt(s, v) ? v : def;
}

AnsiString IntToStr(int64_t v) { return std::to_string(v); }

static size_t LastDelimiter(const AnsiString& path) {
  // Walks forward so that the trail byte of a double-byte character (which may be 0x5C)
  // is never taken for a backslash.
  size_t found = AnsiString::npos;
  for (size_t i = 0; i < path.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(path[i]);
    if (IsGbkLeadByte(c) && i + 1 < path.size()) { ++i; continue; }
    if (c == '\\' || c == ':') found = i;
  }
  return found;
}

AnsiString ExtractFileName(const AnsiString& path) {
  size_t p = LastDelimiter(path);
  return p == AnsiString::npos ? path : path.substr(p + 1);
}

AnsiString ExtractFilePath(const AnsiString& path) {
  size_t p = LastDelimiter(path);
  return p == AnsiString::npos ? AnsiString() : path.substr(0, p + 1);
}

AnsiString ExtractFileExt(const AnsiString& path) {
  AnsiString name = ExtractFileName(path);
  size_t p = name.rfind('.');
  return p == AnsiString::npos ? AnsiString() : name.substr(p);
}

AnsiString ReplaceAll(AnsiString s, const AnsiString& from, const AnsiString& to) {
  if (from.empty()) return s;
  size_t pos = 0;
  while ((pos = s.find(from, pos)) != AnsiString::npos) {
    s.replace(pos, from.size(), to);
    pos += to.size();
  }
  return s;
}

AnsiString Trim(const AnsiString& s) {
  size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= 32) ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= 32) --e;
  return s.substr(b, e - b);
}

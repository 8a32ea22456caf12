#include "core/IniData.h"

#include "core/TextUtils.h"

void TIniData::SetText(const AnsiString& text) {
  TStringList l;
  l.SetText(text);
  FLines = l.Items();
}

AnsiString TIniData::Text() const {
  TStringList l;
  l.Items() = FLines;
  return l.Text();
}

bool TIniData::IsSectionLine(const AnsiString& line, AnsiString* name) {
  AnsiString t = Trim(line);
  if (t.empty() || t[0] != '[') return false;
  // A GBK trail byte may be 0x5D: step over double-byte characters whole.
  size_t close = AnsiString::npos;
  for (size_t i = 1; i < t.size(); ++i) {
    if (IsGbkLeadByte(static_cast<unsigned char>(t[i])) && i + 1 < t.size()) {
      ++i;
    } else if (t[i] == ']') {
      close = i;
      break;
    }
  }
  if (name) *name = Trim(close == AnsiString::npos ? t.substr(1) : t.substr(1, close - 1));
  return true;
}

bool TIniData::SplitKey(const AnsiString& line, AnsiString* key, AnsiString* value) {
  AnsiString t = Trim(line);
  if (t.empty() || t[0] == ';') return false;
  size_t eq = t.find('=');
  if (eq == AnsiString::npos) return false;
  if (key) *key = Trim(t.substr(0, eq));
  if (value) {
    AnsiString v = Trim(t.substr(eq + 1));
    if (v.size() >= 2 && (v[0] == '"' || v[0] == '\'') && v.back() == v[0]) v = v.substr(1, v.size() - 2);
    *value = v;
  }
  return true;
}

int TIniData::FindSection(const AnsiString& section) const {
  AnsiString name;
  for (size_t i = 0; i < FLines.size(); ++i)
    if (IsSectionLine(FLines[i], &name) && SameText(name, Trim(section))) return static_cast<int>(i);
  return -1;
}

int TIniData::SectionEnd(int h) const {
  int i = h + 1;
  while (i < static_cast<int>(FLines.size()) && !IsSectionLine(FLines[static_cast<size_t>(i)], nullptr)) ++i;
  return i;
}

int TIniData::FindKey(int h, const AnsiString& key) const {
  int e = SectionEnd(h);
  AnsiString k;
  for (int i = h + 1; i < e; ++i)
    if (SplitKey(FLines[static_cast<size_t>(i)], &k, nullptr) && SameText(k, Trim(key))) return i;
  return -1;
}

bool TIniData::SectionExists(const AnsiString& section) const { return FindSection(section) >= 0; }

bool TIniData::ValueExists(const AnsiString& section, const AnsiString& key) const {
  int h = FindSection(section);
  return h >= 0 && FindKey(h, key) >= 0;
}

AnsiString TIniData::ReadString(const AnsiString& section, const AnsiString& key, const AnsiString& def) const {
  int h = FindSection(section);
  if (h < 0) return def;
  int k = FindKey(h, key);
  if (k < 0) return def;
  AnsiString v;
  SplitKey(FLines[static_cast<size_t>(k)], nullptr, &v);
  return v;
}

int32_t TIniData::ReadInteger(const AnsiString& section, const AnsiString& key, int32_t def) const {
  AnsiString v = ReadString(section, key, "");
  if (v.empty()) return def;
  return StrToIntDef(v, def);
}

void TIniData::ReadSection(const AnsiString& section, TStringList& keys) const {
  keys.Clear();
  int h = FindSection(section);
  if (h < 0) return;
  int e = SectionEnd(h);
  AnsiString k;
  for (int i = h + 1; i < e; ++i)
    if (SplitKey(FLines[static_cast<size_t>(i)], &k, nullptr)) keys.Add(k);
}

void TIniData::ReadSections(TStringList& sections) const {
  sections.Clear();
  AnsiString name;
  for (const auto& l : FLines)
    if (IsSectionLine(l, &name)) sections.Add(name);
}

void TIniData::WriteString(const AnsiString& section, const AnsiString& key, const AnsiString& value) {
  AnsiString line = Trim(key) + "=" + value;
  int h = FindSection(section);
  if (h < 0) {
    FLines.push_back("[" + Trim(section) + "]");
    FLines.push_back(line);
    return;
  }
  int k = FindKey(h, key);
  if (k >= 0) {
    FLines[static_cast<size_t>(k)] = line;
    return;
  }
  // After the section's last non-blank line, so blank separators stay between sections.
  int e = SectionEnd(h);
  int at = e;
  while (at > h + 1 && Trim(FLines[static_cast<size_t>(at - 1)]).empty()) --at;
  FLines.insert(FLines.begin() + at, line);
}

void TIniData::WriteInteger(const AnsiString& section, const AnsiString& key, int32_t value) {
  WriteString(section, key, IntToStr(value));
}

void TIniData::DeleteKey(const AnsiString& section, const AnsiString& key) {
  int h = FindSection(section);
  if (h < 0) return;
  int k = FindKey(h, key);
  if (k >= 0) FLines.erase(FLines.begin() + k);
}

void TIniData::EraseSection(const AnsiString& section) {
  int h = FindSection(section);
  if (h < 0) return;
  FLines.erase(FLines.begin() + h, FLines.begin() + SectionEnd(h));
}

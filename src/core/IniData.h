#pragma once
// INI text with the Windows private-profile rules: sections and keys compare
// case-insensitively (ASCII letters), the first match wins, values are trimmed and
// lose one pair of enclosing quotes, ';' lines are comments. Writing keeps every
// other line of the text as it stood.
#include <vector>

#include "core/StringList.h"
#include "core/Types.h"

class TIniData {
public:
  TIniData() = default;
  explicit TIniData(const AnsiString& text) { SetText(text); }

  void SetText(const AnsiString& text);
  AnsiString Text() const;  // lines joined with CR LF

  bool SectionExists(const AnsiString& section) const;
  bool ValueExists(const AnsiString& section, const AnsiString& key) const;
  AnsiString ReadString(const AnsiString& section, const AnsiString& key, const AnsiString& def) const;
  // A missing key or a value that is not an integer gives def.
  int32_t ReadInteger(const AnsiString& section, const AnsiString& key, int32_t def) const;
  // Key names of the section, in file order (first section of that name).
  void ReadSection(const AnsiString& section, TStringList& keys) const;
  void ReadSections(TStringList& sections) const;
  void WriteString(const AnsiString& section, const AnsiString& key, const AnsiString& value);
  void WriteInteger(const AnsiString& section, const AnsiString& key, int32_t value);
  void DeleteKey(const AnsiString& section, const AnsiString& key);
  void EraseSection(const AnsiString& section);

private:
  std::vector<AnsiString> FLines;

  static bool IsSectionLine(const AnsiString& line, AnsiString* name);
  static bool SplitKey(const AnsiString& line, AnsiString* key, AnsiString* value);
  // Index of the section header line, or -1.
  int FindSection(const AnsiString& section) const;
  // End (exclusive) of the section's body starting after header h.
  int SectionEnd(int h) const;
  int FindKey(int h, const AnsiString& key) const;
};

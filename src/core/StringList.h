#pragma once
// An ordered list of GBK strings with the text forms the program's files and lists use.
#include <vector>

#include "core/Types.h"

class TStringList {
public:
  TStringList() = default;
  TStringList(std::initializer_list<AnsiString> items) : FItems(items) {}

  int Count() const { return static_cast<int>(FItems.size()); }
  const AnsiString& operator[](int i) const;
  AnsiString& operator[](int i);
  const AnsiString& Strings(int i) const { return (*this)[i]; }
  int Add(const AnsiString& s) { FItems.push_back(s); return Count() - 1; }
  void Insert(int index, const AnsiString& s);
  void Delete(int index);
  void Clear() { FItems.clear(); }
  bool Empty() const { return FItems.empty(); }
  // First index whose text equals s by SameText, or -1.
  int IndexOf(const AnsiString& s) const;
  // First index whose name part (before "=") equals name by SameText, or -1.
  int IndexOfName(const AnsiString& name) const;
  AnsiString Names(int i) const;
  AnsiString ValueFromIndex(int i) const;
  AnsiString Values(const AnsiString& name) const;

  // Every line followed by CR LF.
  AnsiString Text() const;
  // Splits at CR, LF or CR LF; a last line without an end is a line, no empty line follows a final end.
  void SetText(const AnsiString& text);

  // Items joined by ","; an item holding a blank, a control character, a comma or a double quote
  // is quoted with inner quotes doubled. One empty item gives "".
  AnsiString CommaText() const { return DelimitedText(','); }
  AnsiString DelimitedText(char delimiter) const;
  // Replaces the list by the fields of text (quoted fields, blanks 1-32 separate, delimiter ends a field).
  void SetDelimitedText(const AnsiString& text, char delimiter);
  void SetCommaText(const AnsiString& text) { SetDelimitedText(text, ','); }

  const std::vector<AnsiString>& Items() const { return FItems; }
  std::vector<AnsiString>& Items() { return FItems; }
  auto begin() const { return FItems.begin(); }
  auto end() const { return FItems.end(); }
  bool operator==(const TStringList& o) const { return FItems == o.FItems; }

private:
  std::vector<AnsiString> FItems;
};

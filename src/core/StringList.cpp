#include "core/StringList.h"

#include "core/Exceptions.h"
#include "core/TextUtils.h"

const AnsiString& TStringList::operator[](int i) const {
  if (i < 0 || i >= Count()) RaiseListIndexError(i);
  return FItems[static_cast<size_t>(i)];
}

AnsiString& TStringList::operator[](int i) {
  if (i < 0 || i >= Count()) RaiseListIndexError(i);
  return FItems[static_cast<size_t>(i)];
}

void TStringList::Insert(int index, const AnsiString& s) {
  if (index < 0 || index > Count()) RaiseListIndexError(index);
  FItems.insert(FItems.begin() + index, s);
}

void TStringList::Delete(int index) {
  if (index < 0 || index >= Count()) RaiseListIndexError(index);
  FItems.erase(FItems.begin() + index);
}

int TStringList::IndexOf(const AnsiString& s) const {
  for (int i = 0; i < Count(); ++i)
    if (SameText(FItems[static_cast<size_t>(i)], s)) return i;
  return -1;
}

int TStringList::IndexOfName(const AnsiString& name) const {
  for (int i = 0; i < Count(); ++i)
    if (SameText(Names(i), name)) return i;
  return -1;
}

AnsiString TStringList::Names(int i) const {
  const AnsiString& s = (*this)[i];
  size_t p = s.find('=');
  return p == AnsiString::npos ? AnsiString() : s.substr(0, p);
}

AnsiString TStringList::ValueFromIndex(int i) const {
  const AnsiString& s = (*this)[i];
  size_t p = s.find('=');
  return p == AnsiString::npos ? AnsiString() : s.substr(p + 1);
}

AnsiString TStringList::Values(const AnsiString& name) const {
  int i = IndexOfName(name);
  return i < 0 ? AnsiString() : ValueFromIndex(i);
}

AnsiString TStringList::Text() const {
  AnsiString out;
  for (const auto& s : FItems) {
    out += s;
    out += "\r\n";
  }
  return out;
}

void TStringList::SetText(const AnsiString& text) {
  FItems.clear();
  size_t i = 0, n = text.size();
  while (i < n) {
    size_t start = i;
    while (i < n && text[i] != '\r' && text[i] != '\n') ++i;
    FItems.push_back(text.substr(start, i - start));
    if (i < n && text[i] == '\r') ++i;
    if (i < n && text[i] == '\n') ++i;
  }
}

AnsiString TStringList::DelimitedText(char delimiter) const {
  if (FItems.size() == 1 && FItems[0].empty()) return "\"\"";
  AnsiString out;
  for (size_t k = 0; k < FItems.size(); ++k) {
    const AnsiString& s = FItems[k];
    bool quote = false;
    for (size_t i = 0; i < s.size(); ++i) {
      unsigned char c = static_cast<unsigned char>(s[i]);
      if (IsGbkLeadByte(c) && i + 1 < s.size()) { ++i; continue; }  // a double-byte character is stepped over whole
      if (c <= 32 || c == '"' || c == static_cast<unsigned char>(delimiter)) { quote = true; break; }
    }
    if (k) out += delimiter;
    if (quote) {
      out += '"';
      for (size_t i = 0; i < s.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        if (IsGbkLeadByte(c) && i + 1 < s.size()) { out += s[i]; out += s[++i]; continue; }
        if (c == '"') out += '"';
        out += s[i];
      }
      out += '"';
    } else {
      out += s;
    }
  }
  return out;
}

void TStringList::SetDelimitedText(const AnsiString& value, char delimiter) {
  FItems.clear();
  // The text ends at its first NUL byte, as a C string would.
  const AnsiString text = value.substr(0, value.find('\0'));
  const size_t n = text.size();
  auto isBlank = [&](size_t i) { return i < n && static_cast<unsigned char>(text[i]) >= 1 && static_cast<unsigned char>(text[i]) <= 32; };
  auto next = [&](size_t i) { return (IsGbkLeadByte(static_cast<unsigned char>(text[i])) && i + 1 < n) ? i + 2 : i + 1; };
  size_t p = 0;
  while (isBlank(p)) ++p;
  while (p < n) {
    AnsiString field;
    if (text[p] == '"') {
      ++p;
      while (p < n) {
        if (text[p] == '"') {
          if (p + 1 < n && text[p + 1] == '"') { field += '"'; p += 2; continue; }
          ++p;
          break;
        }
        size_t q = next(p);
        field.append(text, p, q - p);
        p = q;
      }
    } else {
      size_t start = p;
      while (p < n && static_cast<unsigned char>(text[p]) > 32 && text[p] != delimiter) p = next(p);
      if (p > n) p = n;
      field = text.substr(start, p - start);
    }
    FItems.push_back(field);
    while (isBlank(p)) ++p;
    if (p < n && text[p] == delimiter) {
      if (p + 1 == n) FItems.emplace_back();
      do { ++p; } while (isBlank(p));
    }
  }
}

#pragma once
// Where the Windows programs' text meets Windows. Program text is GBK; every Win32 call takes
// the wide (UTF-16) form, and these helpers are the only place that converts. Code page 936 is
// named on every call: the machine's own ANSI code page may be 1252, 950, 932, 65001, ...
#include <windows.h>

#include <string>
#include <vector>

#include "core/Types.h"

namespace wintext {
// GBK -> UTF-16. A byte that starts no valid character becomes U+FFFD and decoding goes on.
std::wstring Wide(const AnsiString& text);
// UTF-16 -> GBK for texts to show or compare: a character that GBK lacks becomes '?', which
// no file or key name can hold, so such a name is never taken for another.
AnsiString Narrow(const wchar_t* text, size_t length);
AnsiString Narrow(const wchar_t* text);
inline AnsiString Narrow(const std::wstring& text) { return Narrow(text.data(), text.size()); }
// UTF-16 -> GBK when GBK holds every character; false (out untouched) otherwise.
bool NarrowExact(const std::wstring& text, AnsiString& out);
// A path from Windows as program text: the path itself when GBK holds it, else its short (8.3)
// form when the path exists, has one and GBK holds that. False when neither: the program must
// not write to a mangled name.
bool NarrowPath(const std::wstring& path, AnsiString& out);
// UTF-16 <-> UTF-8 (the builder's command line and terminal). Unpaired surrogates become U+FFFD.
std::string Utf8(const std::wstring& text);
std::wstring FromUtf8(const std::string& text);

// The program's arguments after its own name, from the UTF-16 command line (argv is in the
// machine's ANSI code page): as program text, and in UTF-8 for the builder.
std::vector<AnsiString> Arguments();
// The command line after the program name, as it was passed (quotes and all).
AnsiString CommandTail();
std::vector<std::string> ArgumentsUtf8();

// A NUL-terminated wide copy, for the calls that take LPCWSTR (null stays null for empty
// optional arguments when asked).
class W {
public:
  explicit W(const AnsiString& text) : FText(Wide(text)) {}
  operator const wchar_t*() const { return FText.c_str(); }
  const wchar_t* OrNull() const { return FText.empty() ? nullptr : FText.c_str(); }
  const std::wstring& Str() const { return FText; }
  wchar_t* Data() { return &FText[0]; }

private:
  std::wstring FText;
};

// A window's text, read and set through the W calls (the window is a Unicode window).
AnsiString TextOf(HWND window);
void SetText(HWND window, const AnsiString& text);
}  // namespace wintext

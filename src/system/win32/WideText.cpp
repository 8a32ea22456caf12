#include "system/win32/WideText.h"

#include <shellapi.h>

#include <cwchar>

namespace wintext {
namespace {
constexpr UINT kGbk = 936;

std::wstring ToWide(UINT codePage, DWORD flags, const char* text, size_t size) {
  if (size == 0) return {};
  const int n = MultiByteToWideChar(codePage, flags, text, static_cast<int>(size), nullptr, 0);
  if (n <= 0) return {};
  std::wstring w(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(codePage, flags, text, static_cast<int>(size), &w[0], n);
  return w;
}

// flags and usedDefault as WideCharToMultiByte takes them; empty when nothing converts.
std::string FromWide(UINT codePage, const wchar_t* text, size_t size, BOOL* usedDefault) {
  if (size == 0) return {};
  const DWORD flags = codePage == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
  const int n = WideCharToMultiByte(codePage, flags, text, static_cast<int>(size), nullptr, 0, nullptr, usedDefault);
  if (n <= 0) return {};
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(codePage, flags, text, static_cast<int>(size), &out[0], n, nullptr, usedDefault);
  return out;
}
}  // namespace

std::wstring Wide(const AnsiString& text) {
  std::wstring w = ToWide(kGbk, MB_ERR_INVALID_CHARS, text.data(), text.size());
  if (!w.empty() || text.empty()) return w;
  // Not valid GBK as a whole: character by character, so one bad byte costs one character.
  for (size_t i = 0; i < text.size();) {
    size_t len = static_cast<unsigned char>(text[i]) >= 0x81 && i + 1 < text.size() ? 2 : 1;
    std::wstring part = ToWide(kGbk, MB_ERR_INVALID_CHARS, text.data() + i, len);
    if (part.empty() && len == 2) part = ToWide(kGbk, MB_ERR_INVALID_CHARS, text.data() + i, len = 1);
    if (part.empty() || (len == 1 && static_cast<unsigned char>(text[i]) >= 0x81)) {
      part = L"\xFFFD";
      len = 1;
    }
    w += part;
    i += len;
  }
  return w;
}

AnsiString Narrow(const wchar_t* text, size_t length) { return FromWide(kGbk, text, length, nullptr); }

AnsiString Narrow(const wchar_t* text) { return text ? Narrow(text, std::wcslen(text)) : AnsiString(); }

bool NarrowExact(const std::wstring& text, AnsiString& out) {
  BOOL usedDefault = FALSE;
  AnsiString s = FromWide(kGbk, text.data(), text.size(), &usedDefault);
  if (usedDefault || (s.empty() && !text.empty())) return false;
  out = std::move(s);
  return true;
}

bool NarrowPath(const std::wstring& path, AnsiString& out) {
  if (NarrowExact(path, out)) return true;
  const DWORD n = GetShortPathNameW(path.c_str(), nullptr, 0);
  if (n == 0) return false;
  std::wstring shortPath(n, L'\0');
  const DWORD got = GetShortPathNameW(path.c_str(), &shortPath[0], n);
  if (got == 0 || got >= n) return false;
  shortPath.resize(got);
  return NarrowExact(shortPath, out);
}

std::string Utf8(const std::wstring& text) { return FromWide(CP_UTF8, text.data(), text.size(), nullptr); }

std::wstring FromUtf8(const std::string& text) { return ToWide(CP_UTF8, 0, text.data(), text.size()); }

namespace {
std::vector<std::wstring> WideArguments() {
  std::vector<std::wstring> args;
  int n = 0;
  if (LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &n)) {
    for (int i = 1; i < n; ++i) args.emplace_back(wide[i]);
    LocalFree(wide);
  }
  return args;
}
}  // namespace

std::vector<AnsiString> Arguments() {
  std::vector<AnsiString> out;
  for (const std::wstring& a : WideArguments()) out.push_back(Narrow(a));
  return out;
}

AnsiString CommandTail() {
  // The program name ends at its closing quote, or at the first blank when it has none.
  const wchar_t* p = GetCommandLineW();
  if (*p == L'"') {
    ++p;
    while (*p && *p != L'"') ++p;
    if (*p) ++p;
  } else {
    while (*p && *p != L' ' && *p != L'\t') ++p;
  }
  while (*p == L' ' || *p == L'\t') ++p;
  return Narrow(p);
}

std::vector<std::string> ArgumentsUtf8() {
  std::vector<std::string> out;
  for (const std::wstring& a : WideArguments()) out.push_back(Utf8(a));
  return out;
}

AnsiString TextOf(HWND window) {
  const int n = GetWindowTextLengthW(window);
  if (n <= 0) return {};
  std::wstring w(static_cast<size_t>(n) + 1, L'\0');
  const int got = GetWindowTextW(window, &w[0], n + 1);
  w.resize(static_cast<size_t>(got > 0 ? got : 0));
  return Narrow(w);
}

void SetText(HWND window, const AnsiString& text) { SetWindowTextW(window, Wide(text).c_str()); }
}  // namespace wintext

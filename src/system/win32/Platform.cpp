// Program paths are host paths on Windows; text conversions through code page 936.
#include <windows.h>

#include "core/Exceptions.h"
#include "system/Platform.h"

namespace {
std::wstring ToWide(UINT codePage, DWORD flags, const std::string& text) {
  if (text.empty()) return {};
  int n = MultiByteToWideChar(codePage, flags, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (n <= 0) return {};
  std::wstring w(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(codePage, flags, text.data(), static_cast<int>(text.size()), &w[0], n);
  return w;
}
}  // namespace

std::string HostPath(const AnsiString& path) { return path; }
AnsiString ProgramPath(const std::string& hostPath) { return hostPath; }

// Decodes GBK; a byte that starts no valid character becomes U+FFFD and decoding goes on.
static std::wstring DecodeGbk(const AnsiString& text) {
  std::wstring w = ToWide(936, MB_ERR_INVALID_CHARS, text);
  if (!w.empty() || text.empty()) return w;
  for (size_t i = 0; i < text.size();) {
    size_t len = static_cast<unsigned char>(text[i]) >= 0x81 && i + 1 < text.size() ? 2 : 1;
    std::wstring part = ToWide(936, MB_ERR_INVALID_CHARS, text.substr(i, len));
    if (part.empty() && len == 2) part = ToWide(936, MB_ERR_INVALID_CHARS, text.substr(i, len = 1));
    if (part.empty() || (len == 1 && static_cast<unsigned char>(text[i]) >= 0x81)) {
      part = L"\xFFFD";
      len = 1;
    }
    w += part;
    i += len;
  }
  return w;
}

std::string GbkToUtf8(const AnsiString& text) {
  std::wstring w = DecodeGbk(text);
  if (w.empty()) return {};
  int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
  if (n > 0) WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), &out[0], n, nullptr, nullptr);
  return out;
}

AnsiString Utf8ToGbk(const std::string& text) {
  if (text.empty()) return {};
  const char* noMapping = "No mapping for the Unicode character exists in the target multi-byte code page";
  std::wstring w = ToWide(CP_UTF8, MB_ERR_INVALID_CHARS, text);
  if (w.empty()) throw EConvertError(noMapping);
  BOOL usedDefault = FALSE;
  int n = WideCharToMultiByte(936, WC_NO_BEST_FIT_CHARS, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr,
                              &usedDefault);
  if (n <= 0 || usedDefault) throw EConvertError(noMapping);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(936, WC_NO_BEST_FIT_CHARS, w.data(), static_cast<int>(w.size()), &out[0], n, nullptr, nullptr);
  return out;
}

std::u16string GbkToUtf16(const AnsiString& text) {
  std::wstring w = DecodeGbk(text);
  return std::u16string(w.begin(), w.end());
}

int LastSystemError() { return static_cast<int>(GetLastError()); }

AnsiString SystemErrorMessage(int code) {
  char* buf = nullptr;
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER,
                           nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<char*>(&buf), 0, nullptr);
  AnsiString msg = n && buf ? AnsiString(buf, n) : AnsiString();
  if (buf) LocalFree(buf);
  while (!msg.empty() && static_cast<unsigned char>(msg.back()) <= ' ') msg.pop_back();
  if (msg.empty()) msg = "System error " + std::to_string(code);
  return msg;
}

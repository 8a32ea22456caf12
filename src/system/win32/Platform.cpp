// Program paths are host paths on Windows; text conversions through code page 936.
#include <windows.h>

#include "system/win32/WideText.h"

#include "core/Exceptions.h"
#include "system/Platform.h"

std::string GbkToUtf8(const AnsiString& text) { return wintext::Utf8(wintext::Wide(text)); }

// The host's names in UTF-8, as on Linux: what the builder's command line and terminal speak.
std::string HostPath(const AnsiString& path) { return GbkToUtf8(path); }

AnsiString Utf8ToGbk(const std::string& text) {
  if (text.empty()) return {};
  const char* noMapping = "No mapping for the Unicode character exists in the target multi-byte code page";
  // Invalid UTF-8 decodes to U+FFFD, which GBK lacks: refused as well.
  AnsiString out;
  if (!wintext::NarrowExact(wintext::FromUtf8(text), out)) throw EConvertError(noMapping);
  return out;
}

AnsiString ProgramPath(const std::string& hostPath) { return Utf8ToGbk(hostPath); }

std::u16string GbkToUtf16(const AnsiString& text) {
  std::wstring w = wintext::Wide(text);
  return std::u16string(w.begin(), w.end());
}

int LastSystemError() { return static_cast<int>(GetLastError()); }

AnsiString SystemErrorMessage(int code) {
  wchar_t* buf = nullptr;
  DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER,
                           nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(&buf), 0, nullptr);
  AnsiString msg = n && buf ? wintext::Narrow(buf, n) : AnsiString();
  if (buf) LocalFree(buf);
  while (!msg.empty() && static_cast<unsigned char>(msg.back()) <= ' ') msg.pop_back();
  if (msg.empty()) msg = "System error " + std::to_string(code);
  return msg;
}

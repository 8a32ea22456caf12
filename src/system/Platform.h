#pragma once
// Where program paths meet the host. Inside the program every path is a Windows path
// in GBK. On Windows the host path is the same text. In the Linux sandbox drive X:
// maps to <root>/drive_x/ (Z: to /), names are UTF-8 on disk, and a name that does not
// exist in the exact letter case is looked up case-insensitively, as Windows would.
#include <string>

#include "core/Types.h"

// Host path for a program path. Relative paths stay relative to the current folder.
std::string HostPath(const AnsiString& path);
// Program path for a host path: on Linux an absolute path /a/b becomes Z:\a\b (or the
// sandbox drive path when it lies below a drive_x folder of the sandbox root); a relative
// one is made absolute first. On Windows the same path, its names in UTF-8 on the host side.
// ProgramPath raises EConvertError for a name that GBK cannot hold.
AnsiString ProgramPath(const std::string& hostPath);

// GBK <-> UTF-8 at the edges (terminal, JSON). Utf8ToGbk raises EConvertError for text
// that GBK cannot hold; GbkToUtf8 replaces undecodable bytes with U+FFFD.
std::string GbkToUtf8(const AnsiString& text);
AnsiString Utf8ToGbk(const std::string& text);
// GBK -> UTF-16 (IPersistFile, wide Windows calls).
std::u16string GbkToUtf16(const AnsiString& text);

// The system's last error code and the message text for a code.
int LastSystemError();
AnsiString SystemErrorMessage(int code);

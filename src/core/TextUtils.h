#pragma once
// Byte-wise text helpers for GBK strings. Only the ASCII letters are ever folded:
// the trail byte of a double-byte character may be a letter byte and is folded the same way.
#include "core/Types.h"

// Same length and byte-equal after folding 0x61-0x7A to upper case.
bool SameText(const AnsiString& a, const AnsiString& b);
// Folds 0x61-0x7A down to 0x41-0x5A.
AnsiString UpperCaseAscii(const AnsiString& s);
// Folds 0x41-0x5A up to 0x61-0x7A.
AnsiString LowerCaseAscii(const AnsiString& s);
// True when text begins with prefix by SameText.
bool StartsText(const AnsiString& prefix, const AnsiString& text);
bool StartsStr(const AnsiString& prefix, const AnsiString& text);
// True when part occurs in text, byte by byte.
bool ContainsStr(const AnsiString& text, const AnsiString& part);
// True when the byte at index is the lead byte of a GBK double-byte character.
bool IsGbkLeadByte(unsigned char c);
// Decimal integer text with optional sign, or "$"/"0x" hexadecimal; false when malformed or out of range.
bool TryStrToInt(const AnsiString& s, int32_t& out);
int32_t StrToIntDef(const AnsiString& s, int32_t def);
AnsiString IntToStr(int64_t v);
// Part after the last backslash (or colon).
AnsiString ExtractFileName(const AnsiString& path);
// Everything up to and including the last backslash (or colon); empty when there is none.
AnsiString ExtractFilePath(const AnsiString& path);
// Extension including the dot, from the file-name part; empty when there is none.
AnsiString ExtractFileExt(const AnsiString& path);
// Replaces every occurrence of from with to.
AnsiString ReplaceAll(AnsiString s, const AnsiString& from, const AnsiString& to);
AnsiString Trim(const AnsiString& s);  // bytes 0-32 at both ends

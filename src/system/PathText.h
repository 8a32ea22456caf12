#pragma once
// Path text helpers shared by the two backends.
#include "core/Types.h"

// The path without its final backslashes, GBK-aware: the trail byte 0x5C of a double-byte
// character is part of the name. A drive root ("C:\") and "\" keep theirs.
AnsiString StripTrailingDelimiters(const AnsiString& path);

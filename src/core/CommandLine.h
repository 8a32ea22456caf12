#pragma once
// Command lines as Windows programs receive them: one text that the program splits itself.
#include <vector>

#include "core/Types.h"

struct TCommandArgument {
  AnsiString Text;  // as the program receives it, quotes taken out
  AnsiString Rest;  // the command line from this parameter's first character to its end
};

// Splits a command line (without the program name) by the rules the C runtime uses: blanks
// separate, quotes group, 2n backslashes before a quote give n and the quote groups, 2n+1
// give n and a quote. GBK double-byte characters are taken whole.
std::vector<TCommandArgument> SplitCommandLine(const AnsiString& line);
// The parameter as one item of a command line that SplitCommandLine reads back unchanged.
AnsiString QuoteArgument(const AnsiString& text);

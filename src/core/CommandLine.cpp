#include "core/CommandLine.h"

#include "core/TextUtils.h"

namespace {
bool IsBlank(char c) { return c == ' ' || c == '\t'; }
}  // namespace

std::vector<TCommandArgument> SplitCommandLine(const AnsiString& line) {
  std::vector<TCommandArgument> out;
  size_t i = 0;
  const size_t n = line.size();
  while (true) {
    while (i < n && IsBlank(line[i])) ++i;
    if (i >= n) break;
    TCommandArgument arg;
    arg.Rest = line.substr(i);
    bool quoted = false;
    while (i < n && (quoted || !IsBlank(line[i]))) {
      const unsigned char c = static_cast<unsigned char>(line[i]);
      if (IsGbkLeadByte(c) && i + 1 < n) {
        arg.Text += line.substr(i, 2);
        i += 2;
      } else if (c == '\\') {
        size_t slashes = 0;
        while (i < n && line[i] == '\\') ++slashes, ++i;
        if (i < n && line[i] == '"') {
          arg.Text.append(slashes / 2, '\\');
          if (slashes % 2) {
            arg.Text += '"';
            ++i;
          }
        } else {
          arg.Text.append(slashes, '\\');
        }
      } else if (c == '"') {
        // Inside quotes, "" is one quote and the quotes go on.
        if (quoted && i + 1 < n && line[i + 1] == '"') {
          arg.Text += '"';
          i += 2;
        } else {
          quoted = !quoted;
          ++i;
        }
      } else {
        arg.Text += static_cast<char>(c);
        ++i;
      }
    }
    out.push_back(std::move(arg));
  }
  return out;
}

AnsiString QuoteArgument(const AnsiString& text) {
  bool plain = !text.empty();
  for (char c : text)
    if (IsBlank(c) || c == '"') plain = false;
  if (plain) return text;
  AnsiString out = "\"";
  size_t slashes = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (IsGbkLeadByte(c) && i + 1 < text.size()) {
      out.append(text, i++, 2);
      slashes = 0;
    } else if (c == '\\') {
      out += '\\';
      ++slashes;
    } else if (c == '"') {
      out.append(slashes + 1, '\\');
      out += '"';
      slashes = 0;
    } else {
      out += static_cast<char>(c);
      slashes = 0;
    }
  }
  // Backslashes before the closing quote are doubled, or they would take it.
  out.append(slashes, '\\');
  return out + "\"";
}

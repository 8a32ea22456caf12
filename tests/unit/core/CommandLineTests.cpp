#include <gtest/gtest.h>

#include "core/CommandLine.h"

namespace {
std::vector<AnsiString> Texts(const AnsiString& line) {
  std::vector<AnsiString> out;
  for (const TCommandArgument& a : SplitCommandLine(line)) out.push_back(a.Text);
  return out;
}
}  // namespace

TEST(CommandLine, SplitsAsTheRuntimeDoesAndQuotingRoundTrips) {
  using V = std::vector<AnsiString>;
  EXPECT_EQ(Texts("  a\tb  "), (V{"a", "b"}));
  EXPECT_EQ(Texts("\"a b\"c \"\""), (V{"a bc", ""}));
  EXPECT_EQ(Texts("/DIR=\"C:\\x y\""), (V{"/DIR=C:\\x y"}));
  EXPECT_EQ(Texts("a\\\\\\\"b c\\d"), (V{"a\\\"b", "c\\d"})) << "2n+1 backslashes before a quote";
  EXPECT_EQ(Texts("\"a\\\\\" b"), (V{"a\\", "b"})) << "2n backslashes before a quote";
  EXPECT_EQ(Texts("\"say \"\"hi\"\"\""), (V{"say \"hi\""}));
  // A GBK character whose second byte is 0x5C is no backslash before the quote.
  EXPECT_EQ(Texts("\"C:\\\x95\x5C\" x"), (V{"C:\\\x95\x5C", "x"}));
  const std::vector<TCommandArgument> split = SplitCommandLine("/S  /D=C:\\a  b");
  ASSERT_EQ(split.size(), 3u);
  EXPECT_EQ(split[1].Rest, "/D=C:\\a  b");

  for (const AnsiString& text : {AnsiString("plain"), AnsiString("C:\\Program Files\\"), AnsiString("a \"q\" b"),
                                 AnsiString(""), AnsiString("\\\\server\\share dir\\\\"), AnsiString("示例 \x95\x5C")}) {
    const std::vector<TCommandArgument> back = SplitCommandLine("x " + QuoteArgument(text) + " y");
    ASSERT_EQ(back.size(), 3u) << text;
    EXPECT_EQ(back[1].Text, text);
    EXPECT_EQ(back[2].Text, "y");
  }
  EXPECT_EQ(QuoteArgument("/S"), "/S");
}

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "core/Sha256.h"

namespace {
std::string Hex(const std::string& bytes) {
  TSha256 sha;
  sha.Update(bytes.data(), bytes.size());
  return sha.FinalHex();
}
}  // namespace

TEST(Sha256, KnownDigests) {
  // The published test messages of the standard.
  EXPECT_EQ(Hex(""), "E3B0C44298FC1C149AFBF4C8996FB92427AE41E4649B934CA495991B7852B855");
  EXPECT_EQ(Hex("abc"), "BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD");
  EXPECT_EQ(Hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
            "248D6A61D20638B8E5C026930C3E6039A33CE45964FF2167F6ECEDD419DB06C1");
  EXPECT_EQ(Hex("abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopq"
                "rsmnopqrstnopqrstu"),
            "CF5B16A778AF8380036CE59E7B0492370B249B11E8F07A51AFAC45037AFEE9D1");
  // Lengths around the padding's turn to a second block (digests from sha256sum).
  const std::pair<size_t, const char*> lengths[] = {
      {55, "D5E285683CD4EFC02D021A5C62014694958901005D6F71E89E0989FAC77E4072"},
      {56, "04C26261370EE7541549D16DEE320C723E3FD14671E66A099AFE0A377C16888E"},
      {63, "75220B47218278E656F2013BB8F0C455A25EAF01E86C64924E9D48D89776D6F2"},
      {64, "7CE100971F64E7001E8FE5A51973ECDFE1CED42BEFE7EE8D5FD6219506B5393C"},
      {65, "9537C5FDF120482F7D58D25E9ED583F52C02B4E304EA814DB1633AD565AED7E9"},
      {119, "000B48D4EDF0FA7BEE3C6236ECD2785BAA5DB4EEB8BB54341B029E0D9FA5FB0C"},
      {120, "13F05A0B594787F5ECD315EDC96141BD3243203D1B7D4F0836F37308B276BA98"}};
  for (const auto& [n, digest] : lengths) EXPECT_EQ(Hex(std::string(n, 'x')), digest) << n << " bytes";
}

TEST(Sha256, PiecesGiveTheDigestOfTheWhole) {
  // A million 'a' in pieces that start and end anywhere in a block, as a file is read.
  TSha256 sha;
  const std::string a(1000, 'a');
  const size_t pieces[] = {1, 63, 64, 65, 0, 127, 1000, 3};
  for (size_t i = 0, given = 0; given < 1000000; ++i) {
    const size_t n = std::min(pieces[i % 8], 1000000 - given);
    sha.Update(a.data(), n);
    given += n;
  }
  EXPECT_EQ(sha.FinalHex(), "CDC76E5C9914FB9281A1C7E284D73E67F1809A48A497200E046D39CCC7112CD0");
  // The object starts over after its digest.
  sha.Update("abc", 3);
  EXPECT_EQ(sha.FinalHex(), Hex("abc"));
}

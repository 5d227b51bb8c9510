#include <gtest/gtest.h>

#include "base/hex_text.h"

namespace orb::platform {
namespace {

TEST(HexText, BytesCommentsAndPrefixes) {
  std::vector<std::uint8_t> bytes;
  std::string sWhy;
  ASSERT_TRUE(ParseHexText("05 01  # Usage Page\n0x09,02\nA1c0 # end", &bytes, &sWhy)) << sWhy;
  EXPECT_EQ(bytes, (std::vector<std::uint8_t>{0x05, 0x01, 0x09, 0x02, 0xA1, 0xC0}));
  EXPECT_EQ(FormatHex(bytes.data(), bytes.size()), "05 01 09 02 A1 C0");
}

TEST(HexText, OddDigitsAndStrayCharactersAreRefusedWithTheLine) {
  std::vector<std::uint8_t> bytes;
  std::string sWhy;
  EXPECT_FALSE(ParseHexText("05\n0 1", &bytes, &sWhy));
  EXPECT_NE(sWhy.find("line 2"), std::string::npos);
  EXPECT_FALSE(ParseHexText("05 zz", &bytes, &sWhy));
  EXPECT_FALSE(ParseHexText("0x", &bytes, &sWhy));
}

}  // namespace
}  // namespace orb::platform

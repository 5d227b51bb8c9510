#include "platform/text/text_codec.h"

#include <gtest/gtest.h>

#include <string>

namespace orb::platform {
namespace {

TEST(TextCodec, ConvertsBothCodePagesBothWays) {
  std::string utf8;
  ASSERT_TRUE(DecodeText(CodePage::Cp932, "\x82\x50\x83\x74\x83\x8C\x81\x5B\x83\x80\x96\xDF\x82\xE9", utf8));
  EXPECT_EQ(utf8, "１フレーム戻る");
  std::string bytes;
  ASSERT_TRUE(EncodeText(CodePage::Cp932, "１フレーム戻る", bytes));
  EXPECT_EQ(bytes, "\x82\x50\x83\x74\x83\x8C\x81\x5B\x83\x80\x96\xDF\x82\xE9");

  ASSERT_TRUE(DecodeText(CodePage::Cp1252, "Caf\xE9 \x80", utf8));
  EXPECT_EQ(utf8, "Café €");
  ASSERT_TRUE(EncodeText(CodePage::Cp1252, "Café €", bytes));
  EXPECT_EQ(bytes, "Caf\xE9 \x80");

  // Single-byte katakana and the yen/backslash position of code page 932.
  ASSERT_TRUE(DecodeText(CodePage::Cp932, "\xB1\x5C", utf8));
  EXPECT_EQ(utf8, "ｱ\\");
}

TEST(TextCodec, StrictConversionsRefuseWhatDoesNotConvert) {
  std::string out;
  EXPECT_FALSE(DecodeText(CodePage::Cp1252, "a\x81z", out));  // undefined in 1252
  EXPECT_FALSE(DecodeText(CodePage::Cp932, "a\x82", out));    // lead byte cut off
  EXPECT_FALSE(DecodeText(CodePage::Cp932, "\x85\x40", out));  // unassigned row
  EXPECT_FALSE(EncodeText(CodePage::Cp1252, "戻る", out));
  EXPECT_FALSE(EncodeText(CodePage::Cp932, "€", out));
  EXPECT_FALSE(EncodeText(CodePage::Cp932, "\xFF\xFE", out));  // not UTF-8
  EXPECT_TRUE(DecodeText(CodePage::Cp932, "", out));
  EXPECT_EQ(out, "");
}

TEST(TextCodec, LossyConversionsReplaceAndGoOn) {
  EXPECT_EQ(DecodeTextLossy(CodePage::Cp1252, "a\x81z"), "a\xEF\xBF\xBDz");
  EXPECT_EQ(DecodeTextLossy(CodePage::Cp932, "\x82\xA0\x82"), "あ\xEF\xBF\xBD");
  // One '?' per character the code page lacks, however many bytes its UTF-8 takes.
  EXPECT_EQ(EncodeTextLossy(CodePage::Cp932, "a€b"), "a?b");
  EXPECT_EQ(EncodeTextLossy(CodePage::Cp1252, "x戻y\xFF"), "x?y?");
}

TEST(TextCodec, CutNeverSplitsADoubleByteCharacter) {
  // 15 double-byte characters and one more: 32 bytes.
  std::string label;
  for (int i = 0; i < 16; ++i) {
    label += "\x82\xA0";  // あ
  }
  EXPECT_EQ(CutTextLength(CodePage::Cp932, label, 31), 30u);
  EXPECT_EQ(CutTextLength(CodePage::Cp932, "a" + label, 31), 31u);
  EXPECT_EQ(CutTextLength(CodePage::Cp932, "ab", 31), 2u);
  // Half-width katakana are single bytes; 0x81-0x9F and 0xE0-0xFC lead.
  EXPECT_EQ(CutTextLength(CodePage::Cp932, std::string(40, '\xB1'), 31), 31u);
  EXPECT_EQ(CutTextLength(CodePage::Cp932, "abc\xE0\x40", 4), 3u);
  // A dangling lead byte at the end counts as one byte.
  EXPECT_EQ(CutTextLength(CodePage::Cp932, "ab\x82", 31), 3u);
  // Code page 1252 has no double-byte characters: a plain cut.
  EXPECT_EQ(CutTextLength(CodePage::Cp1252, std::string(40, '\x82'), 31), 31u);
}

}  // namespace
}  // namespace orb::platform

#include "profiles/stroke_text.h"

#include <gtest/gtest.h>

#include "platform/keys/virtual_keys.h"

namespace orb {
namespace {

KeyStroke Parse(std::string_view text) {
  KeyStroke stroke = 0xDEADBEEF;
  std::string error;
  EXPECT_TRUE(ParseKeyStrokeText(text, stroke, error)) << text << ": " << error;
  return stroke;
}

std::string ParseError(std::string_view text) {
  KeyStroke stroke = 0;
  std::string error;
  EXPECT_FALSE(ParseKeyStrokeText(text, stroke, error)) << text;
  return error;
}

TEST(StrokeText, NamesModifiersInFixedOrderThenKeyThenPause) {
  EXPECT_EQ(KeyStrokeToText(KS_CTRL | 0x33), "Ctrl+3");
  EXPECT_EQ(KeyStrokeToText(KS_SHIFT | KS_CTRL | 0x5A), "Ctrl+Shift+Z");
  EXPECT_EQ(KeyStrokeToText(KS_CTRL | KS_ALT | 0x71), "Alt+Ctrl+F2");
  EXPECT_EQ(KeyStrokeToText(KS_CTRL | 0xBC), "Ctrl+Comma");
  EXPECT_EQ(KeyStrokeToText(0x70 | (1u << KS_PAUSE_SHIFT)), "F1 pause 0.1");
  EXPECT_EQ(KeyStrokeToText(0x0D | (511u << KS_PAUSE_SHIFT)), "Enter pause 51.1");
  EXPECT_EQ(KeyStrokeToText(KS_ALT | 0x12), "Alt+Alt");
}

TEST(StrokeText, WritesWhatHasNoNameAsHex) {
  EXPECT_EQ(KeyStrokeToText(0), "0x00000000");
  EXPECT_EQ(KeyStrokeToText(KS_CTRL | (5u << KS_PAUSE_SHIFT)), "0x002A0000");  // no key
  EXPECT_EQ(KeyStrokeToText(0x10000041u | KS_SHIFT), "0x10040041");           // bit 28
  EXPECT_EQ(KeyStrokeToText(0x0141), "0x00000141");                           // code above 0xFF
  EXPECT_EQ(KeyStrokeToText(0x07), "0x00000007");                             // undefined code
  EXPECT_FALSE(KeyStrokeHasName(0x07));
  EXPECT_TRUE(KeyStrokeHasName(0x41));
}

TEST(StrokeText, ReadsEitherFormLeniently) {
  EXPECT_EQ(Parse("shift+ctrl+z"), KS_SHIFT | KS_CTRL | 0x5Au);
  EXPECT_EQ(Parse("  F4  pause 2 "), 0x73u | (20u << KS_PAUSE_SHIFT));
  EXPECT_EQ(Parse("Num7"), 0x67u);
  EXPECT_EQ(Parse("0xf0000041"), 0xF0000041u);
  EXPECT_EQ(Parse(""), 0u);
  EXPECT_EQ(Parse("Alt"), 0x12u);
}

TEST(StrokeText, EveryNamedStrokeSurvivesTheText) {
  for (const platform::VirtualKeyInfo& info : platform::AllVirtualKeys()) {
    for (std::uint32_t dwModifiers = 0; dwModifiers < 8; ++dwModifiers) {
      for (unsigned nPause : {0u, 1u, 10u, 511u}) {
        const KeyStroke stroke = info.nVk | (dwModifiers << 16) | (nPause << KS_PAUSE_SHIFT);
        EXPECT_EQ(Parse(KeyStrokeToText(stroke)), stroke) << KeyStrokeToText(stroke);
      }
    }
  }
  for (KeyStroke stroke : {0u, 0xFFFFFFFFu, 0x00000007u, 0x80000000u, 0x0FF80000u}) {
    EXPECT_EQ(Parse(KeyStrokeToText(stroke)), stroke);
  }
}

TEST(StrokeText, ErrorsSayWhatIsWrong) {
  EXPECT_NE(ParseError("Ctl+A").find("'Ctl'"), std::string::npos);
  EXPECT_NE(ParseError("Ctrl+Ctrl+A").find("twice"), std::string::npos);
  EXPECT_NE(ParseError("Ctrl+").find("no key"), std::string::npos);
  EXPECT_NE(ParseError("Ctrl+Banana").find("'Banana'"), std::string::npos);
  EXPECT_NE(ParseError("A pause 51.2").find("51.1"), std::string::npos);
  EXPECT_NE(ParseError("A pause 0.25").find("one decimal"), std::string::npos);
  EXPECT_NE(ParseError("A pause 99999999999999").find("51.1"), std::string::npos);
  ParseError("A wait 1");
  ParseError("0x123456789");
  ParseError("0xZZ");
}

}  // namespace
}  // namespace orb

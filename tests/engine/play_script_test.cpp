#include <gtest/gtest.h>

#include "tools/orbctl/play_script.h"

namespace orb::play {
namespace {

std::vector<PlayStep> Parse(std::string_view text) {
  std::vector<PlayStep> steps;
  PlayScriptError error;
  EXPECT_TRUE(ParsePlayScript(text, steps, error)) << error.nLine << ": " << error.sReason;
  return steps;
}

PlayScriptError Error(std::string_view text) {
  std::vector<PlayStep> steps;
  PlayScriptError error;
  EXPECT_FALSE(ParsePlayScript(text, steps, error));
  return error;
}

TEST(PlayScriptTest, EveryCommandWithCommentsAndBlankLines) {
  const auto steps = Parse(
      "# a scenario\n"
      "\n"
      "profile 2\n"
      "profile editor.exe   # by name\n"
      "profile none\r\n"
      "self on\n"
      "\tself off\n"
      "button 14\n"
      "buttons 1 9 14\n"
      "buttons\n"
      "release\n"
      "wheel -127\n"
      "wheel 127\n"
      "raw 02 ff\n"
      "raw 0300AB\n"
      "wait 3600000\n"
      "unplug\n"
      "plug");
  ASSERT_EQ(steps.size(), 16u);
  EXPECT_EQ(steps[0].kind, StepKind::ProfileIndex);
  EXPECT_EQ(steps[0].nNumber, 2u);
  EXPECT_EQ(steps[0].nLine, 3);
  EXPECT_EQ(steps[1].kind, StepKind::ProfileExe);
  EXPECT_EQ(steps[1].sText, "editor.exe");
  EXPECT_EQ(steps[2].kind, StepKind::ProfileNone);
  EXPECT_EQ(steps[3].nNumber, 1u);
  EXPECT_EQ(steps[4].nNumber, 0u);
  EXPECT_EQ(steps[5].report, (std::vector<std::uint8_t>{1, 0x00, 0x20}));
  EXPECT_EQ(steps[6].report, (std::vector<std::uint8_t>{1, 0x01, 0x21}));
  EXPECT_EQ(steps[7].report, (std::vector<std::uint8_t>{1, 0, 0}));
  EXPECT_EQ(steps[8].report, steps[7].report);
  EXPECT_EQ(steps[9].report, (std::vector<std::uint8_t>{2, 0x81}));
  EXPECT_EQ(steps[10].report, (std::vector<std::uint8_t>{2, 0x7F}));
  EXPECT_EQ(steps[11].report, (std::vector<std::uint8_t>{2, 0xFF}));
  EXPECT_EQ(steps[12].report, (std::vector<std::uint8_t>{3, 0, 0xAB}));
  EXPECT_EQ(steps[13].kind, StepKind::Wait);
  EXPECT_EQ(steps[13].nNumber, 3600000u);
  EXPECT_EQ(steps[14].kind, StepKind::Unplug);
  EXPECT_EQ(steps[15].kind, StepKind::Plug);
  EXPECT_EQ(steps[15].nLine, 18);
}

TEST(PlayScriptTest, BadLinesAreRefusedWithTheirNumberAndReason) {
  struct Case {
    const char* pText;
    const char* pReason;
  };
  const Case cases[] = {
      {"jump 3", "unknown command 'jump'"},
      {"button", "button takes 1 argument"},
      {"button 0", "button usage '0' is not 1 to 14"},
      {"buttons 3 x", "button usage 'x' is not 1 to 14"},
      {"release 3", "release takes 0 arguments"},
      {"wheel 128", "wheel value '128' is not -127 to 127"},
      {"wheel -0x1", "wheel value '-0x1' is not -127 to 127"},
      {"wait -1", "wait '-1' is not 0 to 3600000 ms"},
      {"wait 3600001", "wait '3600001' is not 0 to 3600000 ms"},
      {"wait 99999999999999999999999", "wait '99999999999999999999999' is not 0 to 3600000 ms"},
      {"raw", "raw needs the report's bytes in hex"},
      {"raw 0g", "raw: '0g' is not a hex byte"},
      {"self maybe", "self takes on or off"},
      {"profile 99999999999", "profile 99999999999: not a record number"},
  };
  for (const Case& c : cases) {
    const PlayScriptError error = Error(std::string("# ok\nwait 1\n") + c.pText + "\nwait 1\n");
    EXPECT_EQ(error.nLine, 3) << c.pText;
    EXPECT_EQ(error.sReason, c.pReason) << c.pText;
  }
  EXPECT_EQ(Error("raw " + std::string(130, 'a')).sReason, "raw: a report is at most 64 bytes");
  EXPECT_EQ(Error("profile " + std::string(261, 'A')).sReason, "profile: the executable name is longer than 260 bytes");
}

// The engine runs while virtual time passes: a day of a repeating command was half a
// million lines and forty seconds.
TEST(PlayScriptTest, TheWaitsOfAScriptAddUpToAnHourAtMost) {
  EXPECT_EQ(Parse("wait 1000000\nbutton 5\nwait 2000000\nrelease\nwait 600000\n").size(), 5u);
  const PlayScriptError error = Error("wait 1000000\nbutton 5\nwait 2000000\nrelease\nwait 600001\nwait 1\n");
  EXPECT_EQ(error.nLine, 5);
  EXPECT_EQ(error.sReason, "the waits add up to more than 3600000 ms (an hour), the limit for a script");
  std::string fifty;
  for (int i = 0; i < 50; ++i) {
    fifty += "wait 3600000\n";
  }
  EXPECT_EQ(Error(fifty).nLine, 2);
}

}  // namespace
}  // namespace orb::play

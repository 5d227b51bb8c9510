#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "base/log_capture.h"
#include "engine/command_buffer.h"
#include "engine/translation.h"
#include "platform/time/clock.h"
#include "platform/time/sync.h"
#include "test_profile.h"

namespace orb {
namespace {

using test::Flags;
using test::Key;
using test::RecordingWindow;
using test::TestProfile;

constexpr std::uint16_t VK_F1 = 0x70;

// Usages of the buttons (the controller's wiring): PGM1 3, PGM4 8, DECK/FILE 10, BACK 4,
// PLAY 13, JOG/SHUTTLE 14.
constexpr std::int16_t kUsagePgm1 = 3;
constexpr std::int16_t kUsagePgm4 = 8;
constexpr std::int16_t kUsageDeckFile = 10;
constexpr std::int16_t kUsageBack = 4;
constexpr std::int16_t kUsagePlay = 13;
constexpr std::int16_t kUsageJogShuttle = 14;

int ShuttleCode(int nPosition, int nDirection) { return CC_SHUTTLE_FIRST + 2 * nPosition + nDirection; }

class TranslationTest : public ::testing::Test {
 protected:
  TranslationTest() {
    ResetWheelState();
    ClearCommandBuffer();
    m_blRepeat = false;
  }

  std::optional<CommandKeys> Button(std::int16_t nUsage) {
    return GetCommand(1, nUsage, &m_blSelf, m_profile.Get(), &m_window, &m_blRepeat, &m_lock);
  }
  std::optional<CommandKeys> Wheel(std::int16_t nValue) {
    return GetCommand(2, nValue, &m_blSelf, m_profile.Get(), &m_window, &m_blRepeat, &m_lock);
  }
  // The first key of the command a wheel value gives, 0 for none.
  KeyStroke WheelKey(std::int16_t nValue) {
    const auto command = Wheel(nValue);
    return command ? (*command)[0] : 0;
  }

  TestProfile m_profile;
  RecordingWindow m_window;
  std::atomic<bool> m_blSelf{false};
  std::atomic<bool> m_blRepeat{false};
  platform::Mutex m_lock{platform::RealClock()};
};

TEST_F(TranslationTest, ButtonsPlayTheCommandOfTheCurrentDeckOrFileMode) {
  m_profile->dwFlags = PF_DECK | PF_DECKFILE;
  m_profile.Deck(601, {Key('3', KS_CTRL)}).File(601, {Key('E', KS_CTRL)}, true);
  EXPECT_EQ(Button(kUsagePgm1), (CommandKeys{Key('3', KS_CTRL), 0, 0, 0, 0}));
  EXPECT_FALSE(m_blRepeat);
  m_profile->dwFlags = PF_DECKFILE;
  EXPECT_EQ(Button(kUsagePgm1), (CommandKeys{Key('E', KS_CTRL), 0, 0, 0, 0}));
  EXPECT_TRUE(m_blRepeat);  // the repeat bit of the command handed out
  EXPECT_TRUE(m_window.Messages().empty());
}

TEST_F(TranslationTest, EveryButtonCommandFlushesTheBufferFirstEvenAnEmptyOne) {
  CopyToCommandBuffer({Key('L'), 0, 0, 0, 0});
  m_blRepeat = true;
  test::LogCapture log;
  const auto command = Button(kUsageBack);  // BACK has nothing assigned
  ASSERT_TRUE(command.has_value());
  EXPECT_EQ(*command, (CommandKeys{0, 0, 0, 0, 0}));
  EXPECT_TRUE(CommandBufferEmpty());
  EXPECT_FALSE(m_blRepeat);
  EXPECT_EQ(log.Text(),
            "GetCommand: new command (Button) is set, FlushCommand to flush already recorded repeat command\r\n"
            "FlushCommand: waiting...\r\nFlushCommand: flusing\r\nGetWheelCommand: reset\r\n");
}

TEST_F(TranslationTest, UsagesWithoutAControlAndOtherReportKindsGiveNothing) {
  CopyToCommandBuffer({Key('L'), 0, 0, 0, 0});
  m_blRepeat = true;
  for (const std::int16_t nUsage : {0, 15, 16, -1, 0x7FFF}) {
    EXPECT_FALSE(Button(nUsage).has_value()) << nUsage;
  }
  EXPECT_FALSE(GetCommand(3, 1, &m_blSelf, m_profile.Get(), &m_window, &m_blRepeat, &m_lock).has_value());
  EXPECT_FALSE(GetCommand(0, 3, &m_blSelf, m_profile.Get(), &m_window, &m_blRepeat, &m_lock).has_value());
  // Nothing handed out: the repeating command goes on.
  EXPECT_FALSE(CommandBufferEmpty());
  EXPECT_TRUE(m_blRepeat);
}

TEST_F(TranslationTest, SelectorsPlayTheirCommandThenAskTheWindowToSwitch) {
  m_profile->dwFlags = PF_DECK | PF_DECKFILE;
  m_profile.Deck(CC_DECKFILE, {Key(VK_F1), Key(0x24)}).File(CC_DECKFILE, {Key(0x71)});
  m_profile.Both(CC_JOGSHUTTLE, {Key('J', KS_CTRL)});
  test::LogCapture log;
  EXPECT_EQ(Button(kUsageDeckFile), (CommandKeys{Key(VK_F1), Key(0x24), 0, 0, 0}));
  EXPECT_EQ(Button(kUsageJogShuttle), (CommandKeys{Key('J', KS_CTRL), 0, 0, 0, 0}));
  EXPECT_EQ(m_window.Messages(), (std::vector<RecordingWindow::Posted>{{WM_MODECHANGE, 2, 0}, {WM_MODECHANGE, 1, 0}}));
  EXPECT_NE(log.Text().find("DECK/FILE Mode change\r\n"), std::string::npos);
  EXPECT_NE(log.Text().find("JOG/SHUTTLE Mode change\r\n"), std::string::npos);
}

TEST_F(TranslationTest, OwnWindowInFrontSelectsProgrammableButtonsAndPlaysNothing) {
  m_blSelf = true;
  m_profile.Both(601, {Key('A')}).Both(610, {Key('B')});
  CopyToCommandBuffer({Key('L'), 0, 0, 0, 0});
  m_blRepeat = true;
  // Usages of PGM1..PGM5: 3, 9, 2, 8, 1.
  for (const std::int16_t nUsage : {3, 9, 2, 8, 1}) {
    EXPECT_FALSE(Button(nUsage).has_value());
  }
  EXPECT_FALSE(Button(kUsagePlay).has_value());
  EXPECT_FALSE(Button(kUsageDeckFile).has_value());
  EXPECT_FALSE(Button(0).has_value());  // no control: posts 0
  EXPECT_EQ(m_window.Messages(), (std::vector<RecordingWindow::Posted>{{WM_SELECTCONTROL, 601, 0},
                                                                     {WM_SELECTCONTROL, 602, 0},
                                                                     {WM_SELECTCONTROL, 603, 0},
                                                                     {WM_SELECTCONTROL, 604, 0},
                                                                     {WM_SELECTCONTROL, 605, 0},
                                                                     {WM_SELECTCONTROL, 0, 0}}));
  EXPECT_FALSE(CommandBufferEmpty());
  EXPECT_TRUE(m_blRepeat);
  // And without any profile at all (the caller allows that while the flag is set).
  EXPECT_FALSE(GetCommand(1, kUsagePgm4, &m_blSelf, nullptr, &m_window, &m_blRepeat, &m_lock).has_value());
  EXPECT_EQ(m_window.Messages().back(), (RecordingWindow::Posted{WM_SELECTCONTROL, 604, 0}));
}

TEST_F(TranslationTest, OwnWindowInFrontHearsOfTheWheelInsteadOfPlayingIt) {
  m_profile->dwFlags = Flags(PF_JOG, 0, 0);
  m_profile.Both(CC_JOG_BACK, {Key(test::VK_LEFT)}).Both(CC_JOG_FORE, {Key(test::VK_RIGHT)});
  CopyToCommandBuffer({Key('L'), 0, 0, 0, 0});
  m_blRepeat = true;
  m_blSelf = true;
  EXPECT_FALSE(Wheel(3).has_value());
  EXPECT_FALSE(Wheel(-1).has_value());
  EXPECT_FALSE(GetCommand(2, -32768, &m_blSelf, nullptr, &m_window, &m_blRepeat, &m_lock).has_value());
  EXPECT_EQ(m_window.Messages(), (std::vector<RecordingWindow::Posted>{
                                     {WM_WHEELMOVED, 0, 3}, {WM_WHEELMOVED, 0, -1}, {WM_WHEELMOVED, 0, -32768}}));
  // The engine's own state is untouched: no step counted, the last command goes on.
  EXPECT_EQ(iJog.load(), 0);
  EXPECT_EQ(iShtlCmd.load(), kShuttleCentre);
  EXPECT_FALSE(CommandBufferEmpty());
  EXPECT_TRUE(m_blRepeat);

  // Only while our window is in front, and never for a button.
  m_blSelf = false;
  EXPECT_EQ(WheelKey(1), Key(test::VK_RIGHT));
  EXPECT_FALSE(GetCommand(2, 1, &m_blSelf, nullptr, &m_window, &m_blRepeat, &m_lock).has_value());
  m_blSelf = true;
  Button(kUsagePlay);
  EXPECT_EQ(m_window.Messages().size(), 3u);
}

TEST_F(TranslationTest, OwnWindowLeavingTheFrontWithoutAProfileDropsTheEvent) {
  // The device thread saw the flag set and no profile; the window cleared the flag before
  // the translation looked again. The event is dropped: no crash, nothing changed.
  m_profile->dwFlags = Flags(PF_JOG, 4, 0);
  WheelKey(1);
  CopyToCommandBuffer({Key('L'), 0, 0, 0, 0});
  m_blRepeat = true;
  m_blSelf = false;
  EXPECT_FALSE(GetCommand(1, kUsagePgm1, &m_blSelf, nullptr, &m_window, &m_blRepeat, &m_lock).has_value());
  EXPECT_FALSE(GetCommand(1, kUsageDeckFile, &m_blSelf, nullptr, &m_window, &m_blRepeat, &m_lock).has_value());
  EXPECT_FALSE(GetCommand(2, 1, &m_blSelf, nullptr, &m_window, &m_blRepeat, &m_lock).has_value());
  EXPECT_TRUE(m_window.Messages().empty());
  EXPECT_FALSE(CommandBufferEmpty());
  EXPECT_TRUE(m_blRepeat);
  EXPECT_EQ(iJog.load(), 1);
}

TEST_F(TranslationTest, JogStepsEveryResolutionUnitsAndKeepsTheCountAcrossDirections) {
  m_profile->dwFlags = Flags(PF_JOG, 4, 15);
  m_profile.Both(CC_JOG_BACK, {Key(test::VK_LEFT)}).Both(CC_JOG_FORE, {Key(test::VK_RIGHT)});
  test::LogCapture log;
  EXPECT_EQ(WheelKey(1), 0u);
  EXPECT_EQ(WheelKey(1), 0u);
  EXPECT_EQ(WheelKey(1), 0u);
  EXPECT_EQ(WheelKey(1), Key(test::VK_RIGHT));
  EXPECT_EQ(iJog.load(), 0);
  EXPECT_EQ(WheelKey(-1), 0u);
  EXPECT_EQ(WheelKey(-1), 0u);
  EXPECT_EQ(iJog.load(), -2);
  EXPECT_NE(log.Text().find("GetJogControl: iJog : -2, iRes : 4\r\n"), std::string::npos);
  // The accumulator is not cleared by a change of direction: -2 + 1 = -1, then on to -4.
  EXPECT_EQ(WheelKey(1), 0u);
  EXPECT_EQ(WheelKey(-1), 0u);
  EXPECT_EQ(WheelKey(-1), 0u);
  EXPECT_EQ(WheelKey(-1), Key(test::VK_LEFT));
  // A fast spin reports more than one unit at a time: the sign of the report that
  // completes the step is its direction, whatever its size.
  EXPECT_EQ(WheelKey(-2), 0u);
  EXPECT_EQ(WheelKey(-2), Key(test::VK_LEFT));
  EXPECT_EQ(WheelKey(-3), 0u);
  EXPECT_EQ(WheelKey(-3), Key(test::VK_LEFT));  // -6 reached: one step, the surplus dropped
  EXPECT_EQ(iJog.load(), 0);
  EXPECT_EQ(WheelKey(-32768), Key(test::VK_LEFT));
  EXPECT_EQ(WheelKey(3), 0u);
  EXPECT_EQ(WheelKey(-7), Key(test::VK_LEFT));  // 3 - 7 = -4, completed by a backward report
  EXPECT_EQ(WheelKey(-3), 0u);
  EXPECT_EQ(WheelKey(7), Key(test::VK_RIGHT));
  // In jog mode the shuttle side stays at rest.
  EXPECT_EQ(iShtlCmd.load(), kShuttleCentre);
  EXPECT_EQ(iShtl.load(), 0);
}

TEST_F(TranslationTest, JogResolutionZeroOrOneStepsOnEveryReportZeroIncluded) {
  for (const unsigned nRes : {0u, 1u}) {
    m_profile->dwFlags = Flags(PF_JOG, nRes, 0);
    m_profile.Both(CC_JOG_BACK, {Key(test::VK_LEFT)}).Both(CC_JOG_FORE, {Key(test::VK_RIGHT)});
    EXPECT_EQ(WheelKey(-1), Key(test::VK_LEFT));
    EXPECT_EQ(WheelKey(1), Key(test::VK_RIGHT));
  }
  m_profile->dwFlags = Flags(PF_JOG, 0, 0);
  EXPECT_EQ(WheelKey(0), Key(test::VK_RIGHT));
}

TEST_F(TranslationTest, WheelStepFlushesThenTakesTheRepeatBitOfItsCommand) {
  m_profile->dwFlags = Flags(0, 0, 1);
  m_profile.Both(ShuttleCode(6, 1), {Key('L')}, true);
  CopyToCommandBuffer({Key('X'), 0, 0, 0, 0});
  test::LogCapture log;
  EXPECT_EQ(WheelKey(1), Key('L'));
  EXPECT_TRUE(m_blRepeat);
  EXPECT_TRUE(CommandBufferEmpty());
  EXPECT_EQ(log.Text(),
            "iShtlCmd : 1 Right\r\n"
            "GetCommand: new command (Wheel) is set, FlushCommand to flush already recorded repeat command\r\n"
            "FlushCommand: waiting...\r\nFlushCommand: flusing\r\n");
}

TEST_F(TranslationTest, ShuttleThresholdCountsOneDirectionOnly) {
  m_profile->dwFlags = Flags(0, 0, 15);
  m_profile.Both(ShuttleCode(6, 1), {Key('L')}, true).Both(ShuttleCode(4, 0), {Key('J')}, true);
  for (int i = 0; i < 14; ++i) {
    ASSERT_EQ(WheelKey(1), 0u) << i;
  }
  EXPECT_EQ(WheelKey(-1), 0u);  // one unit the other way discards the 14
  EXPECT_EQ(iShtl.load(), -1);
  for (int i = 0; i < 14; ++i) {
    ASSERT_EQ(WheelKey(1), 0u) << i;
  }
  EXPECT_EQ(WheelKey(1), Key('L'));
  EXPECT_EQ(iShtlCmd.load(), 6);
  EXPECT_EQ(iJog.load(), 0);
}

TEST_F(TranslationTest, ShuttleStopsAtItsEndsWithoutFlushing) {
  m_profile->dwFlags = Flags(0, 0, 0);
  for (int p = 0; p <= 10; ++p) {
    m_profile.Both(ShuttleCode(p, 1), {Key(static_cast<std::uint16_t>('A' + p))}, true);
  }
  for (int p = 6; p <= 10; ++p) {
    EXPECT_EQ(WheelKey(1), Key(static_cast<std::uint16_t>('A' + p)));
  }
  CopyToCommandBuffer({Key('K'), 0, 0, 0, 0});
  m_blRepeat = true;
  EXPECT_EQ(WheelKey(1), 0u);
  EXPECT_EQ(WheelKey(5), 0u);
  EXPECT_EQ(iShtlCmd.load(), 10);
  EXPECT_FALSE(CommandBufferEmpty());  // the end position's command goes on repeating
  EXPECT_TRUE(m_blRepeat);

  // Backward from +5: position 9 has no backward command, so the shuttle stays at 10 and
  // plays that position's backward command (code 637)...
  m_profile.Both(ShuttleCode(10, 0), {Key('Q')});
  test::LogCapture log;
  EXPECT_EQ(WheelKey(-1), Key('Q'));
  EXPECT_EQ(iShtlCmd.load(), 10);
  EXPECT_EQ(log.Text().rfind("iShtlCmd : 5 Left\r\n", 0), 0u);
  // ...and with code 635 assigned it moves to 9.
  m_profile.Both(ShuttleCode(9, 0), {Key('P')});
  EXPECT_EQ(WheelKey(-1), Key('P'));
  EXPECT_EQ(iShtlCmd.load(), 9);
}

TEST_F(TranslationTest, ShuttleStepsTheWayOfTheCompletingReportWhateverItsSize) {
  m_profile->dwFlags = Flags(0, 0, 3);
  for (int p = 0; p <= 10; ++p) {
    m_profile.Both(ShuttleCode(p, 0), {Key(static_cast<std::uint16_t>('a' + p))});
    m_profile.Both(ShuttleCode(p, 1), {Key(static_cast<std::uint16_t>('A' + p))});
  }
  EXPECT_EQ(WheelKey(-2), 0u);
  EXPECT_EQ(WheelKey(-2), Key('a' + 4));
  EXPECT_EQ(iShtlCmd.load(), 4);
  EXPECT_EQ(WheelKey(-5), Key('a' + 3));
  EXPECT_EQ(WheelKey(4), Key('A' + 4));
  EXPECT_EQ(iShtlCmd.load(), 4);
}

TEST_F(TranslationTest, CentreOnlyShuttleIsASteppingWheel) {
  m_profile->dwFlags = Flags(0, 0, 0);
  m_profile.Both(627, {Key(0xBC, KS_CTRL)}).Both(628, {Key(0xBE, KS_CTRL)});
  test::LogCapture log;
  EXPECT_EQ(WheelKey(-1), Key(0xBC, KS_CTRL));
  EXPECT_EQ(WheelKey(1), Key(0xBE, KS_CTRL));
  EXPECT_EQ(WheelKey(1), Key(0xBE, KS_CTRL));
  EXPECT_EQ(iShtlCmd.load(), kShuttleCentre);
  const std::string text = log.Text();
  EXPECT_NE(text.find("iShtlCmd : 0 Left\r\n"), std::string::npos);
  EXPECT_NE(text.find("iShtlCmd : 0 Right\r\n"), std::string::npos);
}

TEST_F(TranslationTest, AButtonReturnsTheShuttleToTheCentre) {
  m_profile->dwFlags = Flags(0, 0, 0);
  for (int p = 0; p <= 10; ++p) {
    m_profile.Both(ShuttleCode(p, 0), {Key(static_cast<std::uint16_t>('a' + p))});
    m_profile.Both(ShuttleCode(p, 1), {Key(static_cast<std::uint16_t>('A' + p))});
  }
  m_profile.Both(601, {Key('Z')});
  WheelKey(1);
  WheelKey(1);
  EXPECT_EQ(iShtlCmd.load(), 7);
  Button(kUsagePgm1);
  EXPECT_EQ(iShtlCmd.load(), kShuttleCentre);
  EXPECT_EQ(WheelKey(1), Key('A' + 6));  // starts from the centre again
}

TEST_F(TranslationTest, EachWheelModeStartsFromRestWhenTheModeChanges) {
  m_profile->dwFlags = Flags(PF_JOG, 4, 0);
  WheelKey(1);
  WheelKey(1);
  EXPECT_EQ(iJog.load(), 2);
  m_profile->dwFlags = Flags(0, 4, 3);
  WheelKey(1);
  EXPECT_EQ(iJog.load(), 0);
  EXPECT_EQ(iShtl.load(), 1);
  m_profile->dwFlags = Flags(PF_JOG, 4, 3);
  WheelKey(1);
  EXPECT_EQ(iShtl.load(), 0);
  EXPECT_EQ(iShtlCmd.load(), kShuttleCentre);

  test::LogCapture log;
  EXPECT_FALSE(GetWheelCommand(nullptr, 9, nullptr, nullptr).has_value());
  EXPECT_EQ(log.Text(), "GetWheelCommand: reset\r\n");
  EXPECT_EQ(iJog.load(), 0);
}

}  // namespace
}  // namespace orb

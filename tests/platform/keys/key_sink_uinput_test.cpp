// The uinput sink without the kernel: where the session's layout has each key, and what
// the sink writes for it, recorded below libevdev. (The real device is key_sink_test's,
// skipped where /dev/uinput cannot be opened.)
#include <gtest/gtest.h>

#include <linux/input-event-codes.h>

#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include "base/log_capture.h"
#include "platform/keys/uinput_key_sink.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

namespace orb::platform {
namespace {

constexpr std::uint8_t kVkShift = 0x10;
constexpr std::uint8_t kVkControl = 0x11;
constexpr std::uint8_t kVk1 = 0x31;
constexpr std::uint8_t kVkA = 0x41;
constexpr std::uint8_t kVkY = 0x59;
constexpr std::uint8_t kVkZ = 0x5A;
constexpr std::uint8_t kVkF5 = 0x74;

UinputLayout Layout(const char* pLayout, const char* pVariant = "") {
  UinputLayout layout;
  std::string reason;
  EXPECT_TRUE(BuildUinputLayout(LayoutNames{"", "", pLayout, pVariant, ""}, &layout, &reason)) << reason;
  return layout;
}

TEST(UinputLayoutTest, KeysGoWhereTheLayoutHasTheirSymbol) {
  const UinputLayout us = Layout("us");
  EXPECT_EQ(us.code[kVkZ], KEY_Z);
  EXPECT_EQ(us.code[kVkY], KEY_Y);
  EXPECT_EQ(us.description, "us");

  // German: z and y change places; the rest of the row stays.
  const UinputLayout de = Layout("de", "nodeadkeys");
  EXPECT_EQ(de.code[kVkZ], KEY_Y);
  EXPECT_EQ(de.code[kVkY], KEY_Z);
  EXPECT_EQ(de.code[kVkA], KEY_A);
  EXPECT_FALSE(de.blUsPosition[kVkZ]);
  EXPECT_EQ(de.description, "de (nodeadkeys)");

  // French: a sits on the US q; digits are shifted there, so "1" goes by its US place.
  const UinputLayout fr = Layout("fr");
  EXPECT_EQ(fr.code[kVkA], KEY_Q);
  EXPECT_EQ(fr.code[kVk1], KEY_1);
  EXPECT_TRUE(fr.blUsPosition[kVk1]);

  // Keys every layout has in place: modifiers stay the left ones, function keys stay.
  for (const UinputLayout* pLayout : {&us, &de, &fr}) {
    EXPECT_EQ(pLayout->code[kVkShift], KEY_LEFTSHIFT);
    EXPECT_EQ(pLayout->code[kVkControl], KEY_LEFTCTRL);
    EXPECT_EQ(pLayout->code[kVkF5], KEY_F5);
  }
  // Only the first of a list of layouts is the one typed with.
  EXPECT_EQ(Layout("de,us", "nodeadkeys,").code[kVkZ], KEY_Y);
}

TEST(UinputLayoutTest, AnUnknownLayoutIsRefusedWithItsName) {
  UinputLayout layout;
  std::string reason;
  EXPECT_FALSE(BuildUinputLayout(LayoutNames{"", "", "no-such-layout", "", ""}, &layout, &reason));
  EXPECT_NE(reason.find("no-such-layout"), std::string::npos) << reason;
}

TEST(UinputLayoutTest, NamesComeFromTheEnvironmentElseTheSystemsKeyboardFile) {
  test::TempDir dir;
  const std::string file = (dir / "keyboard").string();
  std::ofstream(file) << "# KEYBOARD CONFIGURATION FILE\nXKBMODEL=\"pc105\"\nXKBLAYOUT=\"de,us\"\n"
                         "XKBVARIANT='nodeadkeys,'\nXKBOPTIONS=\"\"\nBACKSPACE=\"guess\"\n";
  {
    test::ScopedEnv layout("XKB_DEFAULT_LAYOUT", nullptr);
    test::ScopedEnv variant("XKB_DEFAULT_VARIANT", nullptr);
    const LayoutNames names = SessionLayoutNames(file);
    EXPECT_EQ(names.model, "pc105");
    EXPECT_EQ(names.layout, "de,us");
    EXPECT_EQ(names.variant, "nodeadkeys,");
    EXPECT_EQ(names.options, "");
  }
  {
    test::ScopedEnv layout("XKB_DEFAULT_LAYOUT", "fr");
    test::ScopedEnv variant("XKB_DEFAULT_VARIANT", "bepo");
    const LayoutNames names = SessionLayoutNames(file);
    EXPECT_EQ(names.layout, "fr");
    EXPECT_EQ(names.variant, "bepo");
  }
  test::ScopedEnv layout("XKB_DEFAULT_LAYOUT", nullptr);
  EXPECT_EQ(SessionLayoutNames((dir / "missing").string()).layout, "");
}

// Every event the sink writes, in order; fails from the nth write on when asked to.
class RecordingWriter final : public UinputEventWriter {
 public:
  using Event = std::tuple<unsigned, unsigned, int>;
  explicit RecordingWriter(std::vector<Event>& events, int nFailFrom = -1) : m_events(events), m_nFailFrom(nFailFrom) {}
  int Write(unsigned nType, unsigned nCode, int nValue) override {
    m_events.emplace_back(nType, nCode, nValue);
    return m_nFailFrom >= 0 && static_cast<int>(m_events.size()) > m_nFailFrom ? -ENODEV : 0;
  }

 private:
  std::vector<Event>& m_events;
  int m_nFailFrom;
};

TEST(UinputKeySinkRecordTest, EachKeyIsItsLayoutsCodeAndAReport) {
  std::vector<RecordingWriter::Event> events;
  auto pSink = CreateUinputKeySink(std::make_unique<RecordingWriter>(events), Layout("de", "nodeadkeys"));
  EXPECT_STREQ(pSink->Name(), "uinput");
  pSink->KeyEvent(kVkControl, 0x1D, false);
  pSink->KeyEvent(kVkZ, 0x2C, false);
  pSink->KeyEvent(kVkZ, 0x2C, true);
  pSink->KeyEvent(kVkControl, 0x1D, true);
  const std::vector<RecordingWriter::Event> expected = {
      {EV_KEY, KEY_LEFTCTRL, 1}, {EV_SYN, SYN_REPORT, 0}, {EV_KEY, KEY_Y, 1}, {EV_SYN, SYN_REPORT, 0},
      {EV_KEY, KEY_Y, 0},        {EV_SYN, SYN_REPORT, 0}, {EV_KEY, KEY_LEFTCTRL, 0}, {EV_SYN, SYN_REPORT, 0}};
  EXPECT_EQ(events, expected);
}

TEST(UinputKeySinkRecordTest, WhatCannotGoOutIsLoggedOnceAndWrittenNever) {
  std::vector<RecordingWriter::Event> events;
  UinputLayout layout = Layout("fr");
  layout.code[kVkF5] = 0;  // as a key without any code
  test::LogCapture log;
  auto pSink = CreateUinputKeySink(std::make_unique<RecordingWriter>(events, 2), layout);
  for (int i = 0; i < 2; ++i) {
    pSink->KeyEvent(kVkF5, 0, false);
    pSink->KeyEvent(kVk1, 0, false);
    pSink->KeyEvent(kVk1, 0, true);
  }
  // F5 never written; "1" at its US place each time; the failing writes said once.
  ASSERT_EQ(events.size(), 8u);
  EXPECT_EQ(events[0], (RecordingWriter::Event{EV_KEY, KEY_1, 1}));
  const std::string text = log.Text();
  const auto count = [&](const std::string& needle) {
    std::size_t n = 0;
    for (auto i = text.find(needle); i != std::string::npos; i = text.find(needle, i + 1)) ++n;
    return n;
  };
  EXPECT_EQ(count("virtual key 0x74 has no evdev code"), 1u) << text;
  EXPECT_EQ(count("virtual key 0x31 is on no unshifted key of the layout fr"), 1u) << text;
  EXPECT_EQ(count("writing a key event failed"), 1u) << text;
}

}  // namespace
}  // namespace orb::platform

// What Hyprland's event lines and request answers say about the window in front, and
// what a peer may send that Hyprland would not.
#include <gtest/gtest.h>

#include <string>

#include "platform/foreground/hyprland_ipc.h"

namespace orb::platform {
namespace {

using hyprland::ActiveWindowAddress;
using hyprland::ActiveWindowOf;
using hyprland::ParseEventLine;
using hyprland::PidOfWindow;

TEST(HyprlandEventTest, LinesSplitAtTheFirstSeparator) {
  const auto event = ParseEventLine("activewindow>>kitty,a >> b");
  ASSERT_TRUE(event);
  EXPECT_EQ(event->name, "activewindow");
  EXPECT_EQ(event->data, "kitty,a >> b");
  const auto empty = ParseEventLine("activewindowv2>>");
  ASSERT_TRUE(empty);
  EXPECT_EQ(empty->data, "");
  EXPECT_FALSE(ParseEventLine("no separator"));
  EXPECT_FALSE(ParseEventLine(">>no name"));
  EXPECT_FALSE(ParseEventLine(""));
}

TEST(HyprlandEventTest, ActiveWindowAddressesAreHexOrNoWindow) {
  EXPECT_EQ(ActiveWindowAddress("55d1f2a3b4c0"), 0x55d1f2a3b4c0u);
  EXPECT_EQ(ActiveWindowAddress("0x55D1F2A3B4C0"), 0x55d1f2a3b4c0u);
  EXPECT_EQ(ActiveWindowAddress("ffffffffffffffff"), 0xffffffffffffffffu);
  EXPECT_EQ(ActiveWindowAddress(""), 0u);
  EXPECT_EQ(ActiveWindowAddress(","), 0u);
  EXPECT_FALSE(ActiveWindowAddress("1ffffffffffffffff"));  // more than 64 bits
  EXPECT_FALSE(ActiveWindowAddress("55d1,kitty"));
  EXPECT_FALSE(ActiveWindowAddress("-1"));
  EXPECT_FALSE(ActiveWindowAddress("0x"));
  EXPECT_FALSE(ActiveWindowAddress(" 12"));
}

// A j/clients answer as Hyprland gives it, cut down to the members that matter and a few
// that do not.
constexpr const char* kClients = R"([
  {"address": "0x55d1f2a3b4c0", "mapped": true, "class": "org.kde.kdenlive", "pid": 4242, "xwayland": false},
  {"address": "0x55d1f2a3ffff", "class": "Xev", "pid": 5151, "xwayland": true},
  {"address": "0x10", "class": "odd", "pid": -1},
  {"address": "0x20", "class": "huge", "pid": 4294967296},
  {"address": "0x30", "class": "text", "pid": "77"},
  {"address": 64, "pid": 88},
  "not a window"
])";

TEST(HyprlandRequestTest, TheClientsAnswerGivesTheWindowsPid) {
  EXPECT_EQ(PidOfWindow(kClients, 0x55d1f2a3b4c0u), 4242);
  EXPECT_EQ(PidOfWindow(kClients, 0x55d1f2a3ffffu), 5151);
  // Listed, but no pid to trust.
  EXPECT_EQ(PidOfWindow(kClients, 0x10), 0);
  EXPECT_EQ(PidOfWindow(kClients, 0x20), 0);
  EXPECT_EQ(PidOfWindow(kClients, 0x30), 0);
  // Not listed (an address that is no string is no address), or no list at all.
  EXPECT_FALSE(PidOfWindow(kClients, 64));
  EXPECT_FALSE(PidOfWindow(kClients, 0x99));
  EXPECT_FALSE(PidOfWindow(kClients, 0));
  EXPECT_FALSE(PidOfWindow(R"({"address": "0x10", "pid": 1})", 0x10));
  EXPECT_FALSE(PidOfWindow(R"([{"address": "0x10", "pid": 1})", 0x10));
  EXPECT_FALSE(PidOfWindow("ok", 0x10));
}

TEST(HyprlandRequestTest, TheActiveWindowAnswerGivesWindowAndPid) {
  EXPECT_EQ(ActiveWindowOf(R"({"address": "0xabc", "pid": 31, "class": "mpv"})"), (ForegroundWindow{0xabc, 31}));
  EXPECT_EQ(ActiveWindowOf("{}"), ForegroundWindow{});
  EXPECT_EQ(ActiveWindowOf(R"({"address": "0xabc"})"), (ForegroundWindow{0xabc, 0}));
  EXPECT_FALSE(ActiveWindowOf(R"({"address": "0x0", "pid": 31})"));
  EXPECT_FALSE(ActiveWindowOf(R"({"pid": 31})"));
  EXPECT_FALSE(ActiveWindowOf("[]"));
  EXPECT_FALSE(ActiveWindowOf("unknown request"));
}

}  // namespace
}  // namespace orb::platform

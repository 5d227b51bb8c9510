// What the shell extension's focus reports say, and what a peer may send that the
// extension would not.
#include <gtest/gtest.h>

#include <string>

#include "platform/foreground/gnome_focus.h"

namespace orb::platform::gnome {
namespace {

FocusReport Parsed(const std::string& payload) {
  std::string reason;
  const auto report = ParseFocusPayload(payload, &reason);
  EXPECT_TRUE(report.has_value()) << payload << ": " << reason;
  return report.value_or(FocusReport{});
}

std::string Refused(const std::string& payload) {
  std::string reason;
  const auto report = ParseFocusPayload(payload, &reason);
  EXPECT_FALSE(report.has_value()) << payload;
  EXPECT_FALSE(reason.empty()) << payload;
  return reason;
}

TEST(GnomeFocusPayloadTest, ReportsOfTheExtensionGiveWindowPidAndClass) {
  const auto report = Parsed(R"({"v":1,"seq":7,"window":42,"pid":3141,"wmClass":"org.kde.kdenlive"})");
  EXPECT_EQ(report.nSequence, 7u);
  EXPECT_EQ(report.window.nWindow, 42u);
  EXPECT_EQ(report.window.nPid, 3141);
  EXPECT_EQ(report.window.nStartTime, 0u);
  EXPECT_EQ(report.wmClass, "org.kde.kdenlive");

  // Window ids are the shell's 64-bit ones.
  EXPECT_EQ(Parsed(R"({"v":1,"window":18446744073709551615,"pid":7,"wmClass":""})").window.nWindow,
            18446744073709551615u);
  // No window in front: nothing else counts, even a pid sent along.
  const auto none = Parsed(R"({"v":1,"window":0,"pid":99,"wmClass":"x"})");
  EXPECT_EQ(none.window, ForegroundWindow{});
  EXPECT_EQ(none.wmClass, "");
  // A later extension may add members.
  EXPECT_EQ(Parsed(R"({"v":2,"window":5,"pid":6,"wmClass":"a","sandbox":"flatpak"})").window,
            (ForegroundWindow{5, 6}));
}

TEST(GnomeFocusPayloadTest, PidsThatAreNoProcessIdAreUnknownAndTheClassIsMadeSafeForTheLog) {
  EXPECT_EQ(Parsed(R"({"v":1,"window":3,"pid":-1,"wmClass":"a"})").window.nPid, 0);
  EXPECT_EQ(Parsed(R"({"v":1,"seq":-3,"window":3,"pid":1})").nSequence, 0u);
  EXPECT_EQ(Parsed(R"({"v":1,"window":3,"pid":4294967297,"wmClass":"a"})").window.nPid, 0);
  EXPECT_EQ(Parsed(R"({"v":1,"window":3,"pid":"12","wmClass":"a"})").window.nPid, 0);
  EXPECT_EQ(Parsed(R"({"v":1,"window":3,"wmClass":"a"})").window.nPid, 0);
  EXPECT_EQ(Parsed(R"({"v":1,"window":3,"pid":2147483647})").window.nPid, 2147483647);

  EXPECT_EQ(Parsed(R"({"v":1,"window":3,"pid":4,"wmClass":"a\r\nb\u001b[2J"})").wmClass, "a??b?[2J");
  EXPECT_EQ(Parsed(R"({"v":1,"window":3,"pid":4,"wmClass":")" + std::string(1000, 'c') + R"("})").wmClass.size(),
            kMaxClassBytes);
  EXPECT_EQ(Parsed(R"({"v":1,"window":3,"pid":4,"wmClass":12})").wmClass, "");
}

TEST(GnomeFocusPayloadTest, WhatIsNoReportIsRefusedWithItsReason) {
  Refused("");
  Refused("not json");
  Refused(R"([1,42,3141])");
  Refused(R"({"v":1,"window":42)");
  Refused(R"({"window":42,"pid":1})");
  Refused(R"({"v":0,"window":42,"pid":1})");
  Refused(R"({"v":1,"window":-42,"pid":1})");
  Refused(R"({"v":1,"window":4.5,"pid":1})");
  Refused(R"({"v":1,"pid":1})");
  const std::string huge = R"({"v":1,"window":1,"pid":1,"wmClass":")" + std::string(kMaxPayloadBytes, 'c') + R"("})";
  EXPECT_NE(Refused(huge).find("bytes"), std::string::npos);
}

}  // namespace
}  // namespace orb::platform::gnome

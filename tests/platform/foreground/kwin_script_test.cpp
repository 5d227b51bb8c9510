// What the KWin script sends back, judged: the script's own strings, numbers from a script
// of another version, and what no script of ours sends.
#include "platform/foreground/kwin_script.h"

#include <gtest/gtest.h>

namespace orb::platform::kwin {
namespace {

using dbus::Value;
using dbus::Values;

Activation MustParse(const Values& args) {
  std::string reason;
  const auto activation = ParseActivation(args, &reason);
  EXPECT_TRUE(activation.has_value()) << reason;
  return activation.value_or(Activation{});
}

std::string Refusal(const Values& args) {
  std::string reason;
  EXPECT_FALSE(ParseActivation(args, &reason).has_value());
  return reason;
}

TEST(KWinActivation, TheScriptsStringsNameAWindowAndItsProcess) {
  const Activation first = MustParse({std::string("{4b3c-11}"), std::string("4242"), std::string("org.kde.kdenlive")});
  EXPECT_NE(first.nWindow, 0u);
  EXPECT_EQ(first.nPid, 4242);
  EXPECT_EQ(first.resourceClass, "org.kde.kdenlive");
  // Another id is another window; the same id the same one.
  const Activation second = MustParse({std::string("{4b3c-12}"), std::string("4242"), std::string("x")});
  EXPECT_NE(second.nWindow, first.nWindow);
  EXPECT_EQ(MustParse({std::string("{4b3c-11}"), std::string("1"), std::string()}).nWindow, first.nWindow);
}

TEST(KWinActivation, NothingActiveAndUnknownProcesses) {
  // The script's word for "no window": three empty strings; whatever follows an empty id is moot.
  const Activation none = MustParse({std::string(), std::string(), std::string()});
  EXPECT_EQ(none.nWindow, 0u);
  EXPECT_EQ(none.nPid, 0);
  EXPECT_EQ(MustParse({std::string(), std::string("junk"), std::string()}).nWindow, 0u);
  // KWin says 0 or -1 for a process it does not know: the window still counts, the pid is unknown.
  EXPECT_EQ(MustParse({std::string("w"), std::string("-1"), std::string()}).nPid, 0);
  EXPECT_EQ(MustParse({std::string("w"), std::string("0"), std::string()}).nPid, 0);
}

TEST(KWinActivation, NumbersOfAnyWidthAreTakenForIdAndPid) {
  EXPECT_EQ(MustParse({std::uint32_t{0x3a00005}, std::int32_t{77}, std::string("c")}).nWindow, 0x3a00005u);
  EXPECT_EQ(MustParse({std::string("w"), 77.0, std::string("c")}).nPid, 77);
  EXPECT_EQ(MustParse({std::string("w"), std::uint64_t{4194304}, std::string("c")}).nPid, 4194304);
  EXPECT_EQ(MustParse({std::string("w"), std::int64_t{5}, std::monostate{}}).resourceClass, "");
}

TEST(KWinActivation, WhatNoScriptOfOursSendsIsRefusedWithTheReason) {
  EXPECT_NE(Refusal({std::string("w"), std::string("1")}).find("3 arguments"), std::string::npos);
  EXPECT_NE(Refusal({std::string("w"), std::string("1"), std::string(), std::string()}).find("3 arguments"),
            std::string::npos);
  EXPECT_NE(Refusal({std::string("w"), std::string("12a"), std::string()}).find("'12a'"), std::string::npos);
  EXPECT_FALSE(Refusal({std::string("w"), std::string("+5"), std::string()}).empty());
  EXPECT_FALSE(Refusal({std::string("w"), std::string("4194305"), std::string()}).empty());
  EXPECT_FALSE(Refusal({std::string("w"), std::string("-2"), std::string()}).empty());
  EXPECT_FALSE(Refusal({std::string("w"), std::string("99999999999999999999"), std::string()}).empty());
  EXPECT_FALSE(Refusal({std::string("w"), 1.5, std::string()}).empty());
  EXPECT_FALSE(Refusal({std::string("w"), std::numeric_limits<double>::infinity(), std::string()}).empty());
  EXPECT_FALSE(Refusal({std::string("w"), true, std::string()}).empty());
  EXPECT_FALSE(Refusal({std::string("w"), std::string("1"), std::int32_t{3}}).empty());
  EXPECT_FALSE(Refusal({std::int32_t{-3}, std::string("1"), std::string()}).empty());
  EXPECT_FALSE(Refusal({std::string(kMaxIdBytes + 1, 'i'), std::string("1"), std::string()}).empty());
}

TEST(KWinActivation, TheResourceClassReachesTheLogPrintableAndBounded) {
  const Activation odd = MustParse({std::string("w"), std::string("1"), std::string("a\nb\x01\xc3\xa9")});
  EXPECT_EQ(odd.resourceClass, "a?b???");
  EXPECT_EQ(MustParse({std::string("w"), std::string("1"), std::string(1000, 'c')}).resourceClass.size(),
            kMaxClassBytes);
}

TEST(KWinScript, NamesUsAndBothPlasmaGenerationsSignals) {
  const std::string text = ScriptText(":1.42");
  EXPECT_NE(text.find("\":1.42\""), std::string::npos);
  EXPECT_NE(text.find(kCallbackPath), std::string::npos);
  EXPECT_NE(text.find(kCallbackInterface), std::string::npos);
  EXPECT_NE(text.find("workspace.windowActivated"), std::string::npos);
  EXPECT_NE(text.find("workspace.clientActivated"), std::string::npos);
  // A name that could end the script's string literal is never written into it.
  EXPECT_EQ(ScriptText(":1.42\"); evil(); (\""), "");
  EXPECT_EQ(ScriptText(""), "");
}

}  // namespace
}  // namespace orb::platform::kwin

#include "shell/command_line.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "shell/startup_option.h"

namespace {

// A settings store for CheckStartupOption: what the next read does, and what it saw.
struct FakeStore {
  bool blOpens = true;
  bool blHasValue = false;
  std::uint32_t dwValue = 0;
  int nReads = 0;
  std::string lastName;
} g_store;

bool ReadFakeSetting(std::uint32_t* pValue, const char* pName) {
  ++g_store.nReads;
  g_store.lastName = pName;
  if (!g_store.blOpens) {
    return false;
  }
  if (g_store.blHasValue) {
    *pValue = g_store.dwValue;
  }
  return true;
}

std::string Join(const std::vector<const char*>& args) {
  return orb::JoinCommandLine(static_cast<int>(args.size()), args.data());
}

struct Parsed {
  bool blGoOn;
  bool blSilent;
  bool blLog;
};

// The two decisions of the start-up, made from the program's arguments.
Parsed Parse(const std::vector<const char*>& args) {
  const std::string commandLine = Join(args);
  Parsed parsed{};
  parsed.blGoOn = orb::CheckStartupOption(orb::ToUpperAscii(commandLine).c_str(), &parsed.blSilent, &ReadFakeSetting);
  parsed.blLog = orb::HasLogOption(orb::ToLowerAscii(commandLine));
  return parsed;
}

class StartupOptions : public ::testing::Test {
 protected:
  void SetUp() override { g_store = FakeStore{}; }
};

TEST_F(StartupOptions, JoinsTheArgumentsWithoutTheProgramName) {
  EXPECT_EQ(Join({"orb"}), "");
  EXPECT_EQ(Join({"orb", "/m"}), "/m");
  EXPECT_EQ(Join({"orb", "a b", "", "/S"}), "a b  /S");
}

TEST_F(StartupOptions, AreFoundInAnyCaseAndAnywhere) {
  const Parsed none = Parse({"orb"});
  EXPECT_TRUE(none.blGoOn);
  EXPECT_FALSE(none.blSilent);
  EXPECT_FALSE(none.blLog);
  EXPECT_EQ(g_store.nReads, 0) << "without /S the setting is not read";

  const Parsed lower = Parse({"orb", "/s"});
  EXPECT_TRUE(lower.blSilent);
  EXPECT_FALSE(lower.blLog);

  const Parsed upper = Parse({"orb", "/M"});
  EXPECT_FALSE(upper.blSilent);
  EXPECT_TRUE(upper.blLog);

  const Parsed inside = Parse({"orb", "x/Sy", "--dir=/tmp/mlog"});
  EXPECT_TRUE(inside.blSilent);
  EXPECT_TRUE(inside.blLog);

  const Parsed both = Parse({"orb", "/m/s"});
  EXPECT_TRUE(both.blSilent);
  EXPECT_TRUE(both.blLog);

  // Only the two-character sequences count, not a lone letter or a backslash.
  const Parsed neither = Parse({"orb", "s", "m", "\\S", "-m"});
  EXPECT_FALSE(neither.blSilent);
  EXPECT_FALSE(neither.blLog);
}

TEST_F(StartupOptions, SilentStartStaysUnlessStartupIsOff) {
  Parsed absent = Parse({"orb", "/S"});
  EXPECT_TRUE(absent.blGoOn) << "a missing value keeps the non-zero preset";
  EXPECT_EQ(g_store.lastName, "Startup");

  g_store.blHasValue = true;
  g_store.dwValue = 0;
  Parsed off = Parse({"orb", "/S", "/m"});
  EXPECT_FALSE(off.blGoOn);
  EXPECT_TRUE(off.blSilent);

  g_store.dwValue = 7;
  EXPECT_TRUE(Parse({"orb", "/S"}).blGoOn);

  g_store.blOpens = false;
  g_store.dwValue = 0;
  EXPECT_TRUE(Parse({"orb", "/S"}).blGoOn) << "an unreadable store counts as on";
  EXPECT_EQ(g_store.nReads, 4);
}

TEST(CommandLineCase, ChangesAsciiLettersOnly) {
  EXPECT_EQ(orb::ToUpperAscii("/s x/m Zz9"), "/S X/M ZZ9");
  EXPECT_EQ(orb::ToLowerAscii("/S X/M Zz9"), "/s x/m zz9");
  const std::string japanese = "設定/ｍ";  // a full-width m is not the option
  EXPECT_EQ(orb::ToUpperAscii(japanese), japanese);
  EXPECT_EQ(orb::ToLowerAscii(japanese), japanese);
  EXPECT_FALSE(orb::HasLogOption(orb::ToLowerAscii(japanese)));
}

TEST(CommandLineHelp, OnlyWholeHelpArguments) {
  const char* help[] = {"orb", "/m", "--help"};
  const char* shortHelp[] = {"orb", "-h"};
  const char* notHelp[] = {"orb", "--helpful", "/h", "-hm"};
  const char* programOnly[] = {"--help"};
  EXPECT_TRUE(orb::IsHelpRequest(3, help));
  EXPECT_TRUE(orb::IsHelpRequest(2, shortHelp));
  EXPECT_FALSE(orb::IsHelpRequest(4, notHelp));
  EXPECT_FALSE(orb::IsHelpRequest(1, programOnly)) << "argv[0] is the program, not an option";
}

}  // namespace

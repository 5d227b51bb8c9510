// The default tables against what the stored format promises about them.
#include "profiles/default_tables.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <set>
#include <string>

#include "platform/text/text_codec.h"
#include "profiles/profile_table.h"
#include "profiles/stroke_text.h"
#include "profiles/table_text.h"

namespace orb {
namespace {

constexpr int kJogBack = 14, kJogFore = 15, kCentreLeft = 26, kCentreRight = 27;

std::vector<ProfileRecord> Table(UiLanguage language) { return ReadProfileTable(DefaultTable(language)); }

std::string Strokes(const KeyCommand& command) {
  std::string text;
  for (KeyStroke stroke : command.keys) {
    if (KeyStrokeVirtualKey(stroke) == 0) {
      break;
    }
    text += (text.empty() ? "" : ", ") + KeyStrokeToText(stroke);
  }
  return text;
}

bool IsShuttle(int k) { return k >= 16; }
bool IsEmpty(const KeyCommand& command) { return KeyStrokeVirtualKey(command.keys[0]) == 0; }

TEST(DefaultTables, SizesAndHeaderOfTheirDump) {
  EXPECT_EQ(DefaultTable(UiLanguage::English).size(), 75120u);
  EXPECT_EQ(DefaultTable(UiLanguage::Japanese).size(), 80128u);
  EXPECT_EQ(DumpTableText(Table(UiLanguage::English), TableLanguage::English)
                .rfind("# ORB profile table: 15 records, 75120 bytes\n", 0),
            0u);
  EXPECT_EQ(DumpTableText(Table(UiLanguage::Japanese), TableLanguage::Japanese)
                .rfind("# ORB profile table: 16 records, 80128 bytes\n", 0),
            0u);
}

TEST(DefaultTables, TheFirstFifteenRowsDifferOnlyInTheLabelsLanguage) {
  const auto english = Table(UiLanguage::English);
  const auto japanese = Table(UiLanguage::Japanese);
  for (std::size_t i = 0; i < english.size(); ++i) {
    ProfileRecord en = english[i];
    ProfileRecord ja = japanese[i];
    bool blTranslated = false;
    for (int k = 0; k < kControlEntries; ++k) {
      using Pair = std::array<KeyCommand*, 2>;
      for (const Pair& pCommands : {Pair{&en.entries[k].deck, &ja.entries[k].deck},
                                    Pair{&en.entries[k].file, &ja.entries[k].file}}) {
        std::string utf8;
        EXPECT_TRUE(platform::DecodeText(platform::CodePage::Cp932, FieldText(pCommands[1]->szLabel), utf8))
            << "row " << i + 1 << " entry " << k;
        blTranslated = blTranslated || FieldText(pCommands[0]->szLabel) != FieldText(pCommands[1]->szLabel);
        std::memset(pCommands[0]->szLabel, 0, 32);
        std::memset(pCommands[1]->szLabel, 0, 32);
      }
    }
    EXPECT_TRUE(blTranslated) << "row " << i + 1;
    EXPECT_EQ(std::memcmp(&en, &ja, sizeof en), 0) << "row " << i + 1;
  }
}

TEST(DefaultTables, TheFirstEnglishRow) {
  const ProfileRecord row = Table(UiLanguage::English)[0];
  EXPECT_EQ(FieldText(row.szExeName), "LUMEDIT.EXE");
  EXPECT_EQ(FieldText(row.szLibName), "QLNK32.DLL");
  EXPECT_EQ(row.dwVersionMS, 0u);
  EXPECT_EQ(row.dwVersionLS, 0u);
  EXPECT_EQ(row.dwFlags, 0x3F74u);
  const char* const buttons[][2] = {{"Scale 1 Second", "Ctrl+3"}, {"Scale Fit", "Ctrl+E"}, {"Batch Capture", "Alt+B"},
                                    {"Next Scene", "Shift+End"},  {"Replay", "Backspace"}};
  for (int k = 0; k < 5; ++k) {
    EXPECT_EQ(FieldText(row.entries[k].deck.szLabel), buttons[k][0]);
    EXPECT_EQ(Strokes(row.entries[k].deck), buttons[k][1]);
    EXPECT_EQ(std::memcmp(&row.entries[k].deck, &row.entries[k].file, sizeof(KeyCommand)), 0);
  }
  const char* const labels[] = {"DECK/FILE", "<<", ">>", "CAP/UNDO", ">||", "IN", "OUT", "ADD/DIV", "JOG/SHUTTLE"};
  for (int k = 5; k <= 13; ++k) {
    EXPECT_EQ(FieldText(row.entries[k].deck.szLabel), labels[k - 5]);
    EXPECT_EQ(FieldText(row.entries[k].file.szLabel), labels[k - 5]);
    EXPECT_NE(Strokes(row.entries[k].deck), Strokes(row.entries[k].file)) << labels[k - 5];
  }
  EXPECT_EQ(Strokes(row.entries[5].deck), "F1, Home");
  EXPECT_EQ(Strokes(row.entries[6].deck), "F4");
  EXPECT_EQ(Strokes(row.entries[6].file), "Home");
  EXPECT_EQ(Strokes(row.entries[9].deck), "Alt+Ctrl+F2");
  EXPECT_EQ(Strokes(row.entries[9].file), "Enter");
  for (int k : {kJogBack, kCentreLeft}) {
    EXPECT_EQ(Strokes(row.entries[k].deck), "Ctrl+Comma");
    EXPECT_EQ(Strokes(row.entries[k].file), "Ctrl+Comma");
  }
  for (int k : {kJogFore, kCentreRight}) {
    EXPECT_EQ(Strokes(row.entries[k].deck), "Ctrl+Period");
  }
  std::string back, fore;
  ASSERT_TRUE(platform::DecodeText(platform::CodePage::Cp932, FieldText(row.entries[kJogBack].deck.szLabel), back));
  ASSERT_TRUE(platform::DecodeText(platform::CodePage::Cp932, FieldText(row.entries[kJogFore].deck.szLabel), fore));
  EXPECT_EQ(back, "1フレーム戻る");
  EXPECT_EQ(fore, "1フレーム進む");
  for (int k = 16; k < kControlEntries; ++k) {
    if (k != kCentreLeft && k != kCentreRight) {
      EXPECT_TRUE(IsEmpty(row.entries[k].deck) && IsEmpty(row.entries[k].file)) << k;
    }
  }
  for (const ControlEntry& entry : row.entries) {
    for (KeyStroke stroke : {entry.deck.keys[0], entry.deck.keys[1], entry.file.keys[0], entry.file.keys[1]}) {
      EXPECT_EQ(KeyStrokePause(stroke), 0u);
    }
  }
}

TEST(DefaultTables, FlagsVersionsAndHostModes) {
  for (UiLanguage language : {UiLanguage::English, UiLanguage::Japanese}) {
    std::set<std::uint32_t> flagValues;
    std::vector<const ProfileRecord*> rule1;
    std::set<std::string> hostExes;
    const auto table = Table(language);
    for (const ProfileRecord& row : table) {
      flagValues.insert(row.dwFlags);
      EXPECT_EQ(row.dwFlags & PF_FALLBACK, 0u);
      if (VersionRule(row.dwFlags) == 1) {
        rule1.push_back(&row);
      } else {
        EXPECT_EQ(VersionRule(row.dwFlags), 0u);
        EXPECT_EQ(row.dwVersionMS, 0u);
        EXPECT_EQ(row.dwVersionLS, 0u);
      }
      if ((row.dwFlags & PF_HOSTMODE) != 0) {
        hostExes.insert(std::string(FieldText(row.szExeName)));
        EXPECT_FALSE(FieldText(row.szLibName).empty());
      }
    }
    EXPECT_EQ(flagValues, (std::set<std::uint32_t>{0x3F74, 0x1FE6, 0x9F74, 0x9F70, 0x1F74, 0x1FE4}));
    ASSERT_EQ(rule1.size(), 3u);
    int nPairs = 0;
    for (const ProfileRecord* pA : rule1) {
      for (const ProfileRecord* pB : rule1) {
        if (pA < pB && FieldText(pA->szExeName) == FieldText(pB->szExeName)) {
          ++nPairs;
          EXPECT_EQ((std::set<std::uint32_t>{pA->dwVersionMS, pB->dwVersionMS}),
                    (std::set<std::uint32_t>{0x00060000, 0x00050000}));
          EXPECT_EQ(pA->dwVersionLS | pB->dwVersionLS, 0u);
        }
      }
    }
    EXPECT_EQ(nPairs, 1);
    EXPECT_TRUE(hostExes.count("ZEPEDIT.EXE"));
    EXPECT_TRUE(hostExes.count("LUMEDIT.EXE") || hostExes.count("LUMEDIT-M1.EXE"));
    std::size_t nOther = 0;
    for (const std::string& exe : hostExes) {
      nOther += (exe != "ZEPEDIT.EXE" && exe != "LUMEDIT.EXE" && exe != "LUMEDIT-M1.EXE") ? 1 : 0;
    }
    EXPECT_GE(nOther, 1u);
  }
}

TEST(DefaultTables, WheelEntriesRepeatsAndPauses) {
  for (UiLanguage language : {UiLanguage::English, UiLanguage::Japanese}) {
    int nRepeating = 0;
    int nPaused = 0;
    for (const ProfileRecord& row : Table(language)) {
      if ((row.dwFlags & PF_JOGSHUTTLE) == 0) {
        // A stepping wheel: jog and the shuttle centre play the same commands.
        EXPECT_EQ(std::memcmp(&row.entries[kJogBack], &row.entries[kCentreLeft], sizeof(ControlEntry)), 0);
        EXPECT_EQ(std::memcmp(&row.entries[kJogFore], &row.entries[kCentreRight], sizeof(ControlEntry)), 0);
        for (int k = 16; k < kControlEntries; ++k) {
          const bool blCentre = k == kCentreLeft || k == kCentreRight;
          EXPECT_EQ(IsEmpty(row.entries[k].deck) && IsEmpty(row.entries[k].file), !blCentre) << k;
        }
      }
      for (int k = 0; k < kControlEntries; ++k) {
        const ControlEntry& entry = row.entries[k];
        EXPECT_EQ(entry.dwReserved, 0u);
        for (const KeyCommand* pCommand : {&entry.deck, &entry.file}) {
          EXPECT_EQ(pCommand->dwOption & ~KC_OPTION_REPEAT, 0u);
          EXPECT_FALSE(FieldLacksNul(pCommand->szLabel));
          if ((pCommand->dwOption & KC_OPTION_REPEAT) != 0) {
            EXPECT_TRUE(IsShuttle(k)) << FieldText(row.szAppName).data() << " entry " << k;
            ++nRepeating;
          }
          for (KeyStroke stroke : pCommand->keys) {
            EXPECT_EQ(stroke & 0xF0000000u, 0u);
            nPaused += (IsShuttle(k) && KeyStrokePause(stroke) == 1) ? 1 : 0;
          }
        }
      }
    }
    EXPECT_GT(nRepeating, 0);
    EXPECT_GT(nPaused, 0);
  }
}

TEST(DefaultTables, ReservedFieldsNamesAndLeftovers) {
  for (UiLanguage language : {UiLanguage::English, UiLanguage::Japanese}) {
    bool blLeftovers = false;
    for (const ProfileRecord& row : Table(language)) {
      EXPECT_EQ(row.reserved[0] | row.reserved[1], 0);
      EXPECT_EQ(row.dwFlags & ~PF_KNOWN_MASK, 0u);
      const std::string_view exe = FieldText(row.szExeName);
      EXPECT_FALSE(exe.empty());
      for (char ch : exe) {
        EXPECT_FALSE(ch >= 'a' && ch <= 'z') << exe;
      }
      for (const ControlEntry& entry : row.entries) {
        const std::size_t nText = FieldText(entry.deck.szLabel).size();
        for (std::size_t i = nText + 1; i < 32; ++i) {
          blLeftovers = blLeftovers || entry.deck.szLabel[i] != '\0';
        }
      }
    }
    EXPECT_TRUE(blLeftovers);  // some labels hold the rest of an older text after the NUL
  }
}

}  // namespace
}  // namespace orb

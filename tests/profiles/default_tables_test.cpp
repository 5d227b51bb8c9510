// The default tables against what the stored format promises about them.
#include "profiles/default_tables.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

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
  EXPECT_EQ(DefaultTable(UiLanguage::English).size(), 115184u);
  EXPECT_EQ(DefaultTable(UiLanguage::Japanese).size(), 115184u);
  EXPECT_EQ(DumpTableText(Table(UiLanguage::English), TableLanguage::English)
                .rfind("# ORB profile table: 23 records, 115184 bytes\n", 0),
            0u);
  EXPECT_EQ(DumpTableText(Table(UiLanguage::Japanese), TableLanguage::Japanese)
                .rfind("# ORB profile table: 23 records, 115184 bytes\n", 0),
            0u);
}

// Both languages name the same applications in the same order, with the same keys.
TEST(DefaultTables, EveryRowDiffersOnlyInTheLabelsLanguage) {
  const auto english = Table(UiLanguage::English);
  const auto japanese = Table(UiLanguage::Japanese);
  ASSERT_EQ(english.size(), japanese.size());
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

const ProfileRecord* FindRow(const std::vector<ProfileRecord>& table, std::string_view exe) {
  for (const ProfileRecord& row : table) {
    if (FieldText(row.szExeName) == exe) return &row;
  }
  return nullptr;
}

// The settings window finds a profile by its display name, so two rows with one name would
// hide the second; and an executable named twice must be told apart by its version.
TEST(DefaultTables, NamesAreUniqueAndSharedExecutablesHaveVersionRules) {
  for (UiLanguage language : {UiLanguage::English, UiLanguage::Japanese}) {
    std::set<std::string> names;
    std::map<std::string, int> exes;
    for (const ProfileRecord& row : Table(language)) {
      EXPECT_TRUE(names.insert(std::string(FieldText(row.szAppName))).second) << FieldText(row.szAppName);
      ++exes[std::string(FieldText(row.szExeName))];
    }
    for (const auto& [exe, nCount] : exes) {
      if (nCount > 1) {
        EXPECT_NE(VersionRule(FindRow(Table(language), exe)->dwFlags), 0u) << exe;
      }
    }
  }
}

// A shuttle ring stops at the last position that has a command (translation never enters
// an empty one): a row that uses the ring beyond its centre fills all eleven positions.
TEST(DefaultTables, AShuttleRingReachesBothEnds) {
  for (const ProfileRecord& row : Table(UiLanguage::English)) {
    int nFilled = 0;
    for (int k = 16; k < kControlEntries; ++k) {
      if (k != kCentreLeft && k != kCentreRight) {
        nFilled += IsEmpty(row.entries[k].deck) ? 0 : 1;
      }
    }
    EXPECT_TRUE(nFilled == 0 || nFilled == 20) << FieldText(row.szAppName) << ": " << nFilled;
  }
}

// The rows of applications checked against their own key maps.
TEST(DefaultTables, NativeRowsPlayTheApplicationsOwnKeys) {
  const auto table = Table(UiLanguage::English);
  constexpr int kBack = 6, kFore = 7, kIn = 10, kOut = 11;
  constexpr int kP4Right = 17 + 2 * 9, kP5Right = 17 + 2 * 10, kM5Left = 16;

  // Shotcut: previous/next edit are Alt+Left/Right; I/O trim in the timeline; the speeds
  // that K + L x n really give.
  const ProfileRecord* pShotcut = FindRow(table, "SHOTCUT");
  ASSERT_NE(pShotcut, nullptr);
  EXPECT_EQ(Strokes(pShotcut->entries[kBack].file), "Alt+Left");
  EXPECT_EQ(Strokes(pShotcut->entries[kFore].file), "Alt+Right");
  EXPECT_EQ(FieldText(pShotcut->entries[kIn].deck.szLabel), "Set In/Trim In");
  EXPECT_EQ(FieldText(pShotcut->entries[kP4Right].deck.szLabel), "Play 8x");
  EXPECT_EQ(Strokes(pShotcut->entries[kP5Right].deck), "L");
  EXPECT_EQ(FieldText(pShotcut->entries[kP5Right].deck.szLabel), "Play 16x");

  const ProfileRecord* pKdenlive = FindRow(table, "KDENLIVE");
  ASSERT_NE(pKdenlive, nullptr);
  EXPECT_EQ(Strokes(pKdenlive->entries[kP4Right].deck), "K, L, L, L, L");
  EXPECT_EQ(FieldText(pKdenlive->entries[kP4Right].deck.szLabel), "Play 3x");
  EXPECT_EQ(FieldText(pKdenlive->entries[kP5Right].deck.szLabel), "Play 5.5x");
  EXPECT_EQ(Strokes(pKdenlive->entries[kM5Left].deck), "J");

  // VLC 3 has no A-B loop key: IN and OUT send nothing.
  const ProfileRecord* pVlc = FindRow(table, "VLC");
  ASSERT_NE(pVlc, nullptr);
  for (int k : {kIn, kOut}) {
    EXPECT_TRUE(IsEmpty(pVlc->entries[k].deck) && IsEmpty(pVlc->entries[k].file)) << k;
  }

  // Avidemux as its current builds and its AppImage run; Flowblade's cuts the other way
  // round; OpenShot's K toggles play, so its wheel only steps frames.
  for (std::string_view exe : {"AVIDEMUX3_QT6", "AVIDEMUX3_PORTABLE", "PITIVI", "AUDACITY", "SMPLAYER"}) {
    EXPECT_NE(FindRow(table, exe), nullptr) << exe;
  }
  const ProfileRecord* pFlowblade = FindRow(table, "FLOWBLADE");
  ASSERT_NE(pFlowblade, nullptr);
  EXPECT_EQ(Strokes(pFlowblade->entries[kBack].file), "Down");
  EXPECT_EQ(Strokes(pFlowblade->entries[kFore].file), "Up");
  const ProfileRecord* pOpenShot = FindRow(table, "OPENSHOT-QT");
  ASSERT_NE(pOpenShot, nullptr);
  EXPECT_EQ(pOpenShot->dwFlags & PF_JOGSHUTTLE, 0u);
  for (const ControlEntry& entry : pOpenShot->entries) {
    EXPECT_EQ(Strokes(entry.deck).find('K'), std::string::npos);
  }
}

}  // namespace
}  // namespace orb

#include "profiles/table_text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "profiles/default_tables.h"
#include "profiles/profile_table.h"

namespace orb {
namespace {

// dump, then build: the identical bytes, whatever the table holds.
void ExpectRoundTrip(const std::vector<ProfileRecord>& records, TableLanguage language) {
  const std::string text = DumpTableText(records, language);
  TableText built;
  std::string error;
  ASSERT_TRUE(BuildTableFromText(text, built, error)) << error << "\n" << text.substr(0, 4000);
  EXPECT_EQ(built.language, language);
  ASSERT_EQ(built.records.size(), records.size());
  for (std::size_t i = 0; i < records.size(); ++i) {
    ASSERT_EQ(std::memcmp(&built.records[i], &records[i], sizeof(ProfileRecord)), 0) << "record " << i + 1;
  }
}

TEST(TableText, DefaultTablesSurviveTheTextInEitherLanguage) {
  for (UiLanguage ui : {UiLanguage::English, UiLanguage::Japanese}) {
    const std::vector<ProfileRecord> records = ReadProfileTable(DefaultTable(ui));
    ExpectRoundTrip(records, TableLanguage::English);
    ExpectRoundTrip(records, TableLanguage::Japanese);
  }
}

TEST(TableText, RandomBytesSurviveTheText) {
  std::mt19937 random(20240611);
  for (int nRound = 0; nRound < 20; ++nRound) {
    std::vector<ProfileRecord> records(3);
    auto* pBytes = reinterpret_cast<std::uint8_t*>(records.data());
    for (std::size_t i = 0; i < records.size() * sizeof(ProfileRecord); ++i) {
      pBytes[i] = static_cast<std::uint8_t>(random());
    }
    ExpectRoundTrip(records, nRound % 2 == 0 ? TableLanguage::English : TableLanguage::Japanese);
  }
}

// Mostly readable tables: texts in both code pages, some with leftovers, strokes with
// and without names, sparse entries.
TEST(TableText, RandomReadableTablesSurviveTheText) {
  std::mt19937 random(7);
  const char* const texts[] = {"Play", "\x82\xA0\x82\xA2", "Caf\xE9", "\x81\x5B", "\x80\x81\x8D", "a\\b\"c\t", "IN\0OLD"};
  auto pick = [&](std::size_t n) { return static_cast<std::size_t>(random() % n); };
  for (int nRound = 0; nRound < 50; ++nRound) {
    std::vector<ProfileRecord> records(2);
    std::memset(records.data(), 0, records.size() * sizeof(ProfileRecord));
    for (ProfileRecord& record : records) {
      std::strcpy(record.szAppName, texts[pick(std::size(texts))]);
      std::strcpy(record.szExeName, "APP.EXE");
      record.dwFlags = static_cast<std::uint32_t>(random()) & (pick(4) == 0 ? 0xFFFFFFFFu : PF_KNOWN_MASK);
      record.dwVersionMS = static_cast<std::uint32_t>(random());
      for (int n = 0; n < 10; ++n) {
        ControlEntry& entry = record.entries[pick(kControlEntries)];
        KeyCommand& command = pick(2) == 0 ? entry.deck : entry.file;
        const char* pText = texts[pick(std::size(texts))];
        std::memcpy(command.szLabel, pText, std::strlen(pText) + (pText[0] == 'I' ? 5 : 1));
        command.dwOption = pick(3) == 0 ? 1 : 0;
        command.keys[pick(5)] = 0x41 + static_cast<KeyStroke>(pick(26)) + (static_cast<KeyStroke>(pick(8)) << 16) +
                                (static_cast<KeyStroke>(pick(3)) << KS_PAUSE_SHIFT);
        if (pick(5) == 0) {
          entry.file = entry.deck;
        }
      }
    }
    ExpectRoundTrip(records, nRound % 2 == 0 ? TableLanguage::English : TableLanguage::Japanese);
  }
}

TEST(TableText, FieldsFilledToTheirEndSurvive) {
  std::vector<ProfileRecord> records(1);
  std::memset(&records[0], 0, sizeof(ProfileRecord));
  std::memset(records[0].szAppName, 'A', sizeof records[0].szAppName);
  std::memset(records[0].entries[3].deck.szLabel, '\x82', 32);  // 16 broken characters
  records[0].entries[3].deck.szLabel[31] = 'x';
  ExpectRoundTrip(records, TableLanguage::Japanese);
}

TableText Build(std::string_view text) {
  TableText table;
  std::string error;
  EXPECT_TRUE(BuildTableFromText(text, table, error)) << error;
  return table;
}

std::string BuildError(std::string_view text) {
  TableText table;
  std::string error;
  EXPECT_FALSE(BuildTableFromText(text, table, error)) << text;
  return error;
}

TEST(TableText, FlagsComeFromTheWordOrTheDecodedKeys) {
  EXPECT_EQ(Build("[[profile]]\nflags = 0x3F74\n").records[0].dwFlags, 0x3F74u);
  EXPECT_EQ(Build("[[profile]]\ndeck = true\njog_resolution = 15\nversion_rule = 1\n").records[0].dwFlags,
            PF_DECK | (15u << 5) | (1u << 15));
  // Unknown bits come only from the word; decoded keys that agree are fine.
  EXPECT_EQ(Build("[[profile]]\nflags = 0x80000003\ndeck = true\n").records[0].dwFlags, 0x80000003u);
  EXPECT_EQ(BuildError("[[profile]]\nflags = 0x3F74\n\nhostmode = false\n").rfind("line 4: ", 0), 0u);
  EXPECT_EQ(BuildError("[[profile]]\n[profile.controls.PGM1]\nboth = { repeat = false, option = 3 }\n")
                .rfind("line 3: ", 0),
            0u);
}

TEST(TableText, TextsAreEncodedInTheTablesCodePage) {
  const TableText ja = Build("language = \"ja\"\n[[profile]]\napp = \"再生\"\nexe = \"Caf\u00e9\"\nexe_cp = 1252\n"
                             "[profile.controls.PLAY]\nboth = { label = \"IN\", label_tail = \"4F4C44\" }\n");
  EXPECT_EQ(FieldText(ja.records[0].szAppName), "\x8D\xC4\x90\xB6");
  EXPECT_EQ(FieldText(ja.records[0].szExeName), "Caf\xE9");
  EXPECT_EQ(std::memcmp(ja.records[0].entries[9].file.szLabel, "IN\0OLD\0", 7), 0);
  EXPECT_EQ(ja.language, TableLanguage::Japanese);
  EXPECT_EQ(Build("").records.size(), 0u);
  EXPECT_EQ(Build("").language, TableLanguage::English);
}

TEST(TableText, AnyCharacterMayStandInStringsAndComments) {
  const TableText table = Build("\xEF\xBB\xBF# \u00E9\u3001 \"\n[[profile]] # '\uFB71\n"
                                "app = 'x\"#\u00E9'\nexe = \"\"\"A\"#'\u3001\"\"\"\nexe_cp = 932\nlib = '''\u00E9\\'''\n");
  ASSERT_EQ(table.records.size(), 1u);
  EXPECT_EQ(FieldText(table.records[0].szAppName), "x\"#\xE9");
  EXPECT_EQ(FieldText(table.records[0].szLibName), "\xE9\\");
}

TEST(TableText, BuildErrorsNameTheLine) {
  struct Case {
    const char* pText;
    const char* pStart;
  } const cases[] = {
      {"[[profile]]\napp = \"再生\"\n", "line 2: "},  // not in code page 1252
      {"[[profile]]\n\napp = \"", "line 3, column"},
      {"[[profile]]\nap = \"x\"\n", "line 2: "},
      {"[[profile]]\napp = \"x\"\napp_hex = \"41\"\n", "line 3: "},
      {"[[profile]]\napp = \"\\u0000\"\n", "line 2: "},
      {"[[profile]]\napp_hex = \"4\"\n", "line 2: "},
      {"[[profile]]\nversion = \"6.0.0\"\n", "line 2: "},
      {"[[profile]]\nversion = \"65536.0.0.0\"\n", "line 2: "},
      {"[[profile]]\nversion_rule = 8\n", "line 2: "},
      {"[[profile]]\n[profile.controls.PGM6]\n", "line 2: "},
      {"[[profile]]\n[profile.controls.PGM1]\n[profile.controls.pgm1]\n", "line 3: "},
      {"[[profile]]\n[profile.controls.PGM1]\nboth = {}\ndeck = {}\n", "line 3: "},
      {"[[profile]]\n[profile.controls.PGM1]\nboth = { keys = [\"A\",\"B\",\"C\",\"D\",\"E\",\"F\"] }\n", "line 3: "},
      {"[[profile]]\n[profile.controls.PGM1]\n\nboth = { keys = [\"A\", \"Ctrl+Q+W\"] }\n", "line 4: "},
      {"[[profile]]\n[profile.controls.PGM1]\nboth = { label = \"0123456789012345678901234567890123\" }\n",
       "line 3: "},
      {"[[profile]]\n[profile.controls.PGM1]\nboth = { label = \"0123456789\", label_tail = "
       "\"41414141414141414141414141414141414141414141\" }\n",
       "line 3: "},
      {"language = \"fr\"\n", "line 1: "},
      {"[profile]\napp = \"x\"\n", "line 1: "},
      {"[\x01", "line 1, column 2: "},
      // Characters the TOML parser must never meet outside strings and comments.
      {"a = 1\nb\u3001 = 2\n", "line 2, column 2: unexpected character U+3001"},
      {"a = \"\\\"#\" \u00E9", "line 1, column 11: unexpected character U+00E9"},
      {R"(a = """x""""")" "\uFB71", "line 1, column 14: "},
      {"a = 1\n\xE9", "line 2, column 1: unexpected character byte 0xE9"},
      // Broken text around strings: the parser, not the pre-pass, decides what is a string,
      // and still never meets a non-ASCII byte.
      {"[[profile]]\n[profile.controls.PGM2]\nboth = { label =0\"Caf\u00e9\" }\n", "line 3"},
      {"a = 'x\u00e9\nb = 1\n", "line 1"},
      {"a = \"\xE9\"\n", "line 1, column 6: byte 0xE9 is not well-formed UTF-8"},
      {"a = \"\xC0\xAF\"\n", "line 1, column 6: "},
      {"a = '\xED\xA0\x80'\n", "line 1, column 6: "},
      {"a = \"\\\u00e9\"\n", "line 1, column 6: a backslash before U+00E9 is no escape"},
  };
  for (const Case& c : cases) {
    const std::string error = BuildError(c.pText);
    EXPECT_EQ(error.rfind(c.pStart, 0), 0u) << c.pText << "\n-> " << error;
  }
}

std::string Dotted(std::string_view part, std::size_t nParts, std::string_view dot = ".") {
  std::string key(part);
  for (std::size_t i = 1; i < nParts; ++i) {
    key += dot;
    key += part;
  }
  return key;
}

// The parser recurses once per part; a key of 100,000 parts overflowed its stack.
TEST(TableText, KeysOfTooManyDottedPartsAreRefusedBeforeTheParser) {
  struct Case {
    std::string text;
    const char* pError;
  };
  const Case cases[] = {
      {"[[profile]]\n[" + Dotted("a", 140000) + "]\n", "line 2, column 257: a key or table header of more than 128"},
      {"x = 1\n" + Dotted("a", 129) + " = 1\n", "line 2, column 256: a key or table header of more than 128"},
      {"[[" + Dotted("a", 129) + "]]\n", "line 1, column 258: "},
      {"x = { " + Dotted("a", 129, " . ") + " = 1 }\n", "line 1, column 517: "},
      {Dotted("\"a\"", 64) + "." + Dotted("'b'", 65) + " = 1\n", "line 1, column 512: "},
  };
  for (const Case& c : cases) {
    const std::string error = BuildError(c.text);
    EXPECT_EQ(error.rfind(c.pError, 0), 0u) << c.text.substr(0, 80) << "\n-> " << error;
  }
  // 128 parts reach the parser (and then the table's own rule on keys).
  EXPECT_EQ(BuildError("[" + Dotted("a", 128) + "]\n"), "line 1: unknown key 'a' (a table holds language and [[profile]] entries)");
  // Dots in strings, comments and numbers belong to no key.
  const std::string dots(200, '.');
  const TableText table = Build("# " + dots + "\n[[profile]]\nexe = \"" + dots + "\"\nlib = '" + dots +
                                "'\n[profile.controls.PGM1]\nboth = { keys = [\"A\"], label = \"" + Dotted("x", 15) +
                                "\" }\n");
  ASSERT_EQ(table.records.size(), 1u);
  EXPECT_EQ(FieldText(table.records[0].szExeName), dots);
  EXPECT_EQ(FieldText(table.records[0].szLibName), dots);
}

// One limit for every table: what build makes, check and dump read.
TEST(TableText, MoreRecordsThanATableHoldsAreRefused) {
  std::string text;
  for (std::size_t i = 0; i < kMaxTableRecords; ++i) {
    text += "[[profile]]\n";
  }
  EXPECT_EQ(Build(text).records.size(), kMaxTableRecords);
  text += "[[profile]]\n";
  EXPECT_EQ(BuildError(text), "line 4097: more than 4096 [[profile]] records, the limit for a table");
}

}  // namespace
}  // namespace orb

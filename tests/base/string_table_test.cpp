#include "base/string_table.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace {

using orb::LoadString;
using orb::UiLanguage;

// Ids that other parts of the program look up; each must exist in both languages.
std::vector<int> RequiredIds() {
  std::vector<int> ids = {8, 9, 10, 101, 102, 105, 108, 109, 110, 111, 139, 140, 900, 1038,
                          32771, 32772, 32773, 32774, 32775, 61713, 61715};
  for (int n = 1100; n <= 1114; ++n) {
    ids.push_back(n);
  }
  for (int n = 2000; n <= 2032; ++n) {
    ids.push_back(n);
  }
  return ids;
}

bool IsValidUtf8(const std::string& text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const auto c = static_cast<unsigned char>(text[i]);
    std::size_t n = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
    if (n == 0 || i + n > text.size()) {
      return false;
    }
    for (std::size_t k = 1; k < n; ++k) {
      if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) {
        return false;
      }
    }
    i += n;
  }
  return true;
}

std::set<int> Ids(UiLanguage language) {
  std::set<int> ids;
  for (const auto& entry : orb::StringTableEntries(language)) {
    EXPECT_TRUE(ids.insert(entry.nId).second) << "id " << entry.nId << " twice";
  }
  return ids;
}

TEST(StringTable, BothLanguagesHoldTheSameIdsWithValidTexts) {
  const std::set<int> english = Ids(UiLanguage::English);
  EXPECT_EQ(english, Ids(UiLanguage::Japanese));
  for (int nId : RequiredIds()) {
    EXPECT_TRUE(english.count(nId)) << "id " << nId << " missing";
  }
  for (UiLanguage language : {UiLanguage::English, UiLanguage::Japanese}) {
    for (const auto& entry : orb::StringTableEntries(language)) {
      const std::string text = entry.pText;
      EXPECT_FALSE(text.empty()) << entry.nId;
      EXPECT_TRUE(IsValidUtf8(text)) << entry.nId;
      EXPECT_EQ(LoadString(entry.nId, language), entry.pText) << "lookup of " << entry.nId;
    }
  }
}

TEST(StringTable, TextsPerLanguage) {
  // Names of things stay; sentences are translated.
  EXPECT_STREQ(LoadString(102, UiLanguage::Japanese), LoadString(102, UiLanguage::English));
  EXPECT_STREQ(LoadString(10, UiLanguage::Japanese), "/S");
  EXPECT_STRNE(LoadString(900, UiLanguage::Japanese), LoadString(900, UiLanguage::English));
  EXPECT_STREQ(LoadString(2015, UiLanguage::Japanese), "←");

  char szPause[32];
  std::snprintf(szPause, sizeof szPause, LoadString(139, UiLanguage::Japanese), 0.5);
  EXPECT_STREQ(szPause, "( 0.5 sec.)");
}

TEST(StringTable, UnknownIdsGiveEmptyText) {
  for (int nId : {-1, 0, 7, 103, 1115, 2033, 99999}) {
    EXPECT_STREQ(LoadString(nId, UiLanguage::English), "") << nId;
    EXPECT_STREQ(LoadString(nId, UiLanguage::Japanese), "") << nId;
  }
}

TEST(StringTable, CurrentLanguageChoosesTheTable) {
  const UiLanguage saved = orb::CurrentUiLanguage();
  orb::SetUiLanguage(UiLanguage::Japanese);
  EXPECT_STREQ(LoadString(1100), "プログラマブルキー1");
  orb::SetUiLanguage(UiLanguage::English);
  EXPECT_STREQ(LoadString(1100), "Programable button 1");
  orb::SetUiLanguage(saved);
}

// Sets the three locale variables for one test and puts them back afterwards.
class LocaleEnvironment : public ::testing::Test {
 protected:
  static constexpr const char* kNames[] = {"LC_ALL", "LC_MESSAGES", "LANG"};

  void SetUp() override {
    for (const char* pName : kNames) {
      const char* pValue = std::getenv(pName);
      m_saved.push_back(pValue ? std::optional<std::string>(pValue) : std::nullopt);
      ::unsetenv(pName);
    }
  }
  void TearDown() override {
    for (std::size_t i = 0; i < m_saved.size(); ++i) {
      if (m_saved[i]) {
        ::setenv(kNames[i], m_saved[i]->c_str(), 1);
      } else {
        ::unsetenv(kNames[i]);
      }
    }
  }
  static void Set(const char* pAll, const char* pMessages, const char* pLang) {
    const char* values[] = {pAll, pMessages, pLang};
    for (std::size_t i = 0; i < 3; ++i) {
      if (values[i]) {
        ::setenv(kNames[i], values[i], 1);
      } else {
        ::unsetenv(kNames[i]);
      }
    }
  }

 private:
  std::vector<std::optional<std::string>> m_saved;
};

TEST_F(LocaleEnvironment, FirstSetVariableDecides) {
  Set(nullptr, nullptr, nullptr);
  EXPECT_EQ(orb::SystemUiLanguage(), UiLanguage::English);
  Set(nullptr, nullptr, "ja_JP.UTF-8");
  EXPECT_EQ(orb::SystemUiLanguage(), UiLanguage::Japanese);
  Set(nullptr, "C", "ja_JP.UTF-8");
  EXPECT_EQ(orb::SystemUiLanguage(), UiLanguage::English);
  Set("ja_JP.eucJP", "en_US.UTF-8", "C");
  EXPECT_EQ(orb::SystemUiLanguage(), UiLanguage::Japanese);
  Set("", "ja", "en_GB");
  EXPECT_EQ(orb::SystemUiLanguage(), UiLanguage::Japanese) << "an empty value counts as unset";
  Set(nullptr, nullptr, "jv_ID");
  EXPECT_EQ(orb::SystemUiLanguage(), UiLanguage::English);
}

}  // namespace

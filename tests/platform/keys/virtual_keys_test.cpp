#include "platform/keys/virtual_keys.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

namespace orb::platform {
namespace {

std::string Upper(std::string text) {
  for (char& ch : text) {
    ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  }
  return text;
}

TEST(VirtualKeysTest, RowsAreAscendingUniqueAndWellFormed) {
  const auto rows = AllVirtualKeys();
  ASSERT_GT(rows.size(), 100u);
  std::set<std::string> names;
  int nPrevious = 0;
  for (const VirtualKeyInfo& info : rows) {
    SCOPED_TRACE(info.pName);
    EXPECT_GT(info.nVk, nPrevious);
    EXPECT_LT(info.nVk, 0xFF);
    nPrevious = info.nVk;
    const std::string name = info.pName;
    ASSERT_FALSE(name.empty());
    for (char ch : name) {
      EXPECT_TRUE(std::isalnum(static_cast<unsigned char>(ch))) << "character '" << ch << "'";
    }
    EXPECT_TRUE(names.insert(Upper(name)).second) << "name repeats, case ignored";
    EXPECT_EQ(std::string(info.pWinName).rfind("VK_", 0), 0u);
    EXPECT_NE(info.nKeysym, 0u);
    EXPECT_NE(info.nEvdevCode, 0u);
  }
}

TEST(VirtualKeysTest, LookupByCodeAndByNameAgree) {
  for (const VirtualKeyInfo& info : AllVirtualKeys()) {
    SCOPED_TRACE(info.pName);
    EXPECT_EQ(FindVirtualKey(info.nVk), &info);
    EXPECT_EQ(FindVirtualKeyByName(info.pName), &info);
    std::string lower = info.pName;
    for (char& ch : lower) {
      ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    }
    EXPECT_EQ(FindVirtualKeyByName(lower), &info);
    EXPECT_EQ(FindVirtualKeyByName(Upper(info.pName)), &info);
    EXPECT_EQ(MapVirtualKeyToScanCode(info.nVk), info.nScanCode);
    EXPECT_EQ(MapVirtualKeyToChar(info.nVk), info.chMapped);
  }
}

TEST(VirtualKeysTest, CodesAndNamesWithoutRows) {
  EXPECT_EQ(FindVirtualKey(0x00), nullptr);
  EXPECT_EQ(FindVirtualKey(0x01), nullptr);  // mouse button
  EXPECT_EQ(FindVirtualKey(0xFF), nullptr);
  EXPECT_EQ(FindVirtualKey(0x141), nullptr);
  EXPECT_EQ(FindVirtualKeyByName(""), nullptr);
  EXPECT_EQ(FindVirtualKeyByName("Comma "), nullptr);
  EXPECT_EQ(FindVirtualKeyByName("Comm"), nullptr);
  EXPECT_EQ(MapVirtualKeyToScanCode(0x01), 0);
  EXPECT_EQ(MapVirtualKeyToChar(0x10), 0);  // Shift types nothing
  // Only the low byte of a stored 16-bit code counts, as when it is played.
  EXPECT_EQ(MapVirtualKeyToScanCode(0x0141), 0x1E);
  EXPECT_EQ(MapVirtualKeyToChar(0x0141), 'A');
}

struct Expected {
  std::uint16_t nVk;
  const char* pName;
  std::uint32_t nKeysym;
  std::uint16_t nEvdev;
  std::uint8_t nScan;
  char chMapped;
};

void ExpectRow(const Expected& e) {
  const VirtualKeyInfo* pInfo = FindVirtualKey(e.nVk);
  ASSERT_NE(pInfo, nullptr) << e.pName;
  EXPECT_STREQ(pInfo->pName, e.pName);
  EXPECT_EQ(pInfo->nKeysym, e.nKeysym) << e.pName;
  EXPECT_EQ(pInfo->nEvdevCode, e.nEvdev) << e.pName;
  EXPECT_EQ(pInfo->nScanCode, e.nScan) << e.pName;
  EXPECT_EQ(pInfo->chMapped, e.chMapped) << e.pName;
}

TEST(VirtualKeysTest, LettersDigitsFunctionKeysAndArrows) {
  // Set-1 scan codes of the main block equal the evdev codes of the same keys.
  const char* const pRows[] = {"QWERTYUIOP", "ASDFGHJKL", "ZXCVBNM"};
  const int nRowStart[] = {0x10, 0x1E, 0x2C};
  for (int r = 0; r < 3; ++r) {
    for (int i = 0; pRows[r][i] != 0; ++i) {
      const char ch = pRows[r][i];
      const std::string name(1, ch);
      const auto nScan = static_cast<std::uint8_t>(nRowStart[r] + i);
      ExpectRow({static_cast<std::uint16_t>(ch), name.c_str(), static_cast<std::uint32_t>(ch - 'A' + 'a'),
                 nScan, nScan, ch});
    }
  }
  for (int d = 0; d <= 9; ++d) {
    const std::string name = std::to_string(d);
    const auto nCode = static_cast<std::uint8_t>(d == 0 ? 11 : d + 1);
    ExpectRow({static_cast<std::uint16_t>('0' + d), name.c_str(), static_cast<std::uint32_t>('0' + d), nCode,
               nCode, static_cast<char>('0' + d)});
  }
  const std::uint8_t nFScan[] = {0x3B, 0x3C, 0x3D, 0x3E, 0x3F, 0x40, 0x41, 0x42, 0x43, 0x44, 0x57, 0x58,
                                 0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6A, 0x6B, 0x6C, 0x6D, 0x6E, 0x76};
  const std::uint16_t nFEvdev[] = {59, 60, 61, 62, 63, 64, 65, 66, 67, 68, 87, 88,
                                   183, 184, 185, 186, 187, 188, 189, 190, 191, 192, 193, 194};
  for (int f = 0; f < 24; ++f) {
    const std::string name = "F" + std::to_string(f + 1);
    ExpectRow({static_cast<std::uint16_t>(0x70 + f), name.c_str(), 0xFFBEu + static_cast<std::uint32_t>(f),
               nFEvdev[f], nFScan[f], 0});
  }
  ExpectRow({0x25, "Left", 0xFF51, 105, 0x4B, 0});
  ExpectRow({0x26, "Up", 0xFF52, 103, 0x48, 0});
  ExpectRow({0x27, "Right", 0xFF53, 106, 0x4D, 0});
  ExpectRow({0x28, "Down", 0xFF54, 108, 0x50, 0});
}

TEST(VirtualKeysTest, ModifiersPunctuationAndKeypad) {
  ExpectRow({0x10, "Shift", 0xFFE1, 42, 0x2A, 0});
  ExpectRow({0x11, "Ctrl", 0xFFE3, 29, 0x1D, 0});
  ExpectRow({0x12, "Alt", 0xFFE9, 56, 0x38, 0});
  ExpectRow({0x24, "Home", 0xFF50, 102, 0x47, 0});
  ExpectRow({0x08, "Backspace", 0xFF08, 14, 0x0E, '\x08'});
  ExpectRow({0x09, "Tab", 0xFF09, 15, 0x0F, '\t'});
  ExpectRow({0x0D, "Enter", 0xFF0D, 28, 0x1C, '\r'});
  ExpectRow({0x1B, "Esc", 0xFF1B, 1, 0x01, '\x1b'});
  ExpectRow({0x20, "Space", 0x20, 57, 0x39, ' '});
  ExpectRow({0xBA, "Semicolon", 0x3B, 39, 0x27, ';'});
  ExpectRow({0xBB, "Equals", 0x3D, 13, 0x0D, '='});
  ExpectRow({0xBC, "Comma", 0x2C, 51, 0x33, ','});
  ExpectRow({0xBD, "Minus", 0x2D, 12, 0x0C, '-'});
  ExpectRow({0xBE, "Period", 0x2E, 52, 0x34, '.'});
  ExpectRow({0xBF, "Slash", 0x2F, 53, 0x35, '/'});
  ExpectRow({0xC0, "Grave", 0x60, 41, 0x29, '`'});
  ExpectRow({0xDB, "LBracket", 0x5B, 26, 0x1A, '['});
  ExpectRow({0xDC, "Backslash", 0x5C, 43, 0x2B, '\\'});
  ExpectRow({0xDD, "RBracket", 0x5D, 27, 0x1B, ']'});
  ExpectRow({0xDE, "Quote", 0x27, 40, 0x28, '\''});
  ExpectRow({0x67, "Num7", 0xFFB7, 71, 0x47, '7'});
  ExpectRow({0x6A, "NumMultiply", 0xFFAA, 55, 0x37, '*'});
  ExpectRow({0x6B, "NumAdd", 0xFFAB, 78, 0x4E, '+'});
  ExpectRow({0x6D, "NumSubtract", 0xFFAD, 74, 0x4A, '-'});
  ExpectRow({0x6E, "NumDecimal", 0xFFAE, 83, 0x53, '.'});
  ExpectRow({0x6F, "NumDivide", 0xFFAF, 98, 0x35, '/'});
}

// name -> value of every `#define <prefix>NAME value` in a system header.
std::map<std::string, std::uint32_t> ReadDefines(const char* pPath, const std::string& prefix) {
  std::map<std::string, std::uint32_t> defines;
  std::ifstream in(pPath);
  const std::regex line("^#define\\s+" + prefix + "(\\w+)\\s+(0x[0-9A-Fa-f]+|[0-9]+)\\b");
  std::string text;
  std::smatch match;
  while (std::getline(in, text)) {
    if (std::regex_search(text, match, line)) {
      defines.emplace(match[1].str(), static_cast<std::uint32_t>(std::strtoul(match[2].str().c_str(), nullptr, 0)));
    }
  }
  return defines;
}

bool Readable(const char* pPath) { return std::ifstream(pPath).good(); }

// The data file names each keysym and evdev code as well as giving its value; the names
// must exist in the system headers with exactly those values.
TEST(VirtualKeysTest, ValuesMatchTheSystemHeaders) {
  const char* const pKeysymDef = "/usr/include/X11/keysymdef.h";
  const char* const pXf86 = "/usr/include/X11/XF86keysym.h";
  const char* const pEvdev = "/usr/include/linux/input-event-codes.h";
  if (!Readable(pKeysymDef) || !Readable(pXf86) || !Readable(pEvdev)) {
    GTEST_SKIP() << "X11 keysym or Linux input headers not installed";
  }
  auto keysyms = ReadDefines(pKeysymDef, "XK_");
  for (const auto& [name, value] : ReadDefines(pXf86, "XF86XK_")) {
    keysyms.emplace("XF86" + name, value);
  }
  const auto evdev = ReadDefines(pEvdev, "");
  ASSERT_GT(keysyms.size(), 1000u);
  ASSERT_GT(evdev.size(), 400u);

  // Names come from the data file itself, so the generated table is checked against it.
  std::ifstream tsv(ORB_VIRTUAL_KEYS_TSV);
  ASSERT_TRUE(tsv.good()) << ORB_VIRTUAL_KEYS_TSV;
  std::string text;
  bool blHeader = false;
  std::size_t nRows = 0;
  while (std::getline(tsv, text)) {
    if (text.empty() || text[0] == '#') {
      continue;
    }
    if (!blHeader) {
      blHeader = true;
      continue;
    }
    std::vector<std::string> fields;
    std::size_t nStart = 0;
    for (std::size_t nTab; (nTab = text.find('\t', nStart)) != std::string::npos; nStart = nTab + 1) {
      fields.push_back(text.substr(nStart, nTab - nStart));
    }
    fields.push_back(text.substr(nStart));
    ASSERT_EQ(fields.size(), 9u) << text;
    SCOPED_TRACE(text);
    const VirtualKeyInfo* pInfo = FindVirtualKey(static_cast<std::uint16_t>(std::stoul(fields[0], nullptr, 16)));
    ASSERT_NE(pInfo, nullptr);
    EXPECT_EQ(fields[1], pInfo->pName);
    const auto keysym = keysyms.find(fields[3]);
    ASSERT_NE(keysym, keysyms.end()) << "no keysym " << fields[3];
    EXPECT_EQ(keysym->second, pInfo->nKeysym);
    const auto code = evdev.find(fields[5]);
    ASSERT_NE(code, evdev.end()) << "no evdev code " << fields[5];
    EXPECT_EQ(code->second, pInfo->nEvdevCode);
    ++nRows;
  }
  EXPECT_EQ(nRows, AllVirtualKeys().size());
}

}  // namespace
}  // namespace orb::platform

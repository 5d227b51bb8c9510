#include "profiles/table_text.h"

#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <set>

// toml++ compiled into this file alone, in its no-exceptions form: a syntax error comes
// back as a value with its line and column.
#define TOML_HEADER_ONLY 1
#define TOML_EXCEPTIONS 0
#define TOML_ENABLE_FORMATTERS 0
// toml++ 3.3 asserts, and in optimised clang builds *assumes*, that a table header's key
// starts with a key character; text such as "[\x01" breaks that, and the parser's own
// error path right after handles it. Include it with its assertions switched off and
// without NDEBUG, so that neither the assert nor the assumption is compiled in.
#ifdef NDEBUG
#define ORB_TOML_HAD_NDEBUG
#undef NDEBUG
#endif
#define TOML_ASSERT(expr) static_cast<void>(0)
#include <toml++/toml.h>
#ifdef ORB_TOML_HAD_NDEBUG
#define NDEBUG
#undef ORB_TOML_HAD_NDEBUG
#endif

#include "profiles/control_names.h"
#include "profiles/profile_table.h"
#include "profiles/stroke_text.h"

namespace orb {
namespace {

using platform::CodePage;

// One flag field of dwFlags, as the text names it.
struct FlagField {
  const char* pKey;
  std::uint32_t dwMask;
  unsigned nShift;
  bool blBool;
};

constexpr FlagField kFlagFields[] = {
    {"deck", PF_DECK, 1, true},
    {"deckfile", PF_DECKFILE, 2, true},
    {"jog", PF_JOG, 3, true},
    {"jogshuttle", PF_JOGSHUTTLE, 4, true},
    {"jog_resolution", PF_JOGRES_MASK, PF_JOGRES_SHIFT, false},
    {"shuttle_resolution", PF_SHTLRES_MASK, PF_SHTLRES_SHIFT, false},
    {"hostmode", PF_HOSTMODE, 13, true},
    {"fallback", PF_FALLBACK, 14, true},
    {"version_rule", PF_VERRULE_MASK, PF_VERRULE_SHIFT, false},
};

constexpr std::size_t kLabelSize = sizeof(KeyCommand::szLabel);

// A table's keys have at most three parts ("profile.controls.PGM1"); this is far beyond
// any and far within what the parser's recursion can take.
constexpr std::size_t kMaxKeyParts = 128;

CodePage OtherCodePage(CodePage codePage) {
  return codePage == CodePage::Cp932 ? CodePage::Cp1252 : CodePage::Cp932;
}

bool IsAllZero(const void* pData, std::size_t nSize) {
  const auto* pBytes = static_cast<const std::uint8_t*>(pData);
  for (std::size_t i = 0; i < nSize; ++i) {
    if (pBytes[i] != 0) {
      return false;
    }
  }
  return true;
}

// ---------------------------------------------------------------- writing

std::string HexBytes(const char* pData, std::size_t nSize) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string hex;
  hex.reserve(nSize * 2);
  for (std::size_t i = 0; i < nSize; ++i) {
    const auto byte = static_cast<std::uint8_t>(pData[i]);
    hex += kDigits[byte >> 4];
    hex += kDigits[byte & 0xF];
  }
  return hex;
}

std::string HexWord(std::uint32_t dwValue, int nDigits) {
  char szText[16];
  std::snprintf(szText, sizeof szText, "0x%0*X", nDigits, static_cast<unsigned>(dwValue));
  return szText;
}

std::string TomlString(std::string_view utf8) {
  std::string quoted = "\"";
  for (const char ch : utf8) {
    const auto byte = static_cast<unsigned char>(ch);
    if (ch == '"' || ch == '\\') {
      quoted += '\\';
      quoted += ch;
    } else if (byte < 0x20 || byte == 0x7F) {
      char szEscape[8];
      std::snprintf(szEscape, sizeof szEscape, "\\u%04X", byte);
      quoted += szEscape;
    } else {
      quoted += ch;
    }
  }
  quoted += '"';
  return quoted;
}

// Decodes `bytes` only when encoding the result gives the very same bytes back.
bool DecodeExactly(CodePage codePage, std::string_view bytes, std::string& utf8) {
  std::string again;
  return platform::DecodeText(codePage, bytes, utf8) && platform::EncodeText(codePage, utf8, again) && again == bytes;
}

struct KeyValue {
  std::string key;
  std::string value;
};

// The keys of one text field (see table_text.h): K, K_cp, K_hex, K_tail.
void AppendTextKeys(std::vector<KeyValue>& pairs, const std::string& key, const char* pField, std::size_t nSize,
                    CodePage codePage, bool blEvenWhenEmpty) {
  const std::string_view text = FieldText(pField, nSize);
  if (!text.empty() || blEvenWhenEmpty) {
    std::string utf8;
    if (DecodeExactly(codePage, text, utf8)) {
      pairs.push_back({key, TomlString(utf8)});
    } else if (DecodeExactly(OtherCodePage(codePage), text, utf8)) {
      pairs.push_back({key, TomlString(utf8)});
      pairs.push_back({key + "_cp", std::to_string(static_cast<unsigned>(OtherCodePage(codePage)))});
    } else {
      pairs.push_back({key + "_hex", "\"" + HexBytes(text.data(), text.size()) + "\""});
    }
  }
  const std::size_t nTailStart = text.size() + 1;
  std::size_t nTailEnd = nSize;
  while (nTailEnd > nTailStart && pField[nTailEnd - 1] == '\0') {
    --nTailEnd;
  }
  if (nTailEnd > nTailStart) {
    pairs.push_back({key + "_tail", "\"" + HexBytes(pField + nTailStart, nTailEnd - nTailStart) + "\""});
  }
}

std::string InlineCommand(const KeyCommand& command, CodePage codePage) {
  std::vector<KeyValue> pairs;
  AppendTextKeys(pairs, "label", command.szLabel, kLabelSize, codePage, false);
  if ((command.dwOption & KC_OPTION_REPEAT) != 0) {
    pairs.push_back({"repeat", "true"});
  }
  if ((command.dwOption & ~KC_OPTION_REPEAT) != 0) {
    pairs.push_back({"option", HexWord(command.dwOption, 8)});
  }
  int nKeys = kKeysPerCommand;
  while (nKeys > 0 && command.keys[nKeys - 1] == 0) {
    --nKeys;
  }
  if (nKeys > 0) {
    std::string keys = "[";
    for (int i = 0; i < nKeys; ++i) {
      keys += (i == 0 ? "" : ", ") + TomlString(KeyStrokeToText(command.keys[i]));
    }
    pairs.push_back({"keys", keys + "]"});
  }
  std::string text = "{ ";
  for (std::size_t i = 0; i < pairs.size(); ++i) {
    text += (i == 0 ? "" : ", ") + pairs[i].key + " = " + pairs[i].value;
  }
  return text + " }";
}

void DumpEntry(std::string& out, const ControlEntry& entry, int k, CodePage codePage) {
  if (IsAllZero(&entry, sizeof entry)) {
    return;
  }
  out += "\n[profile.controls.";
  out += ControlEntryName(k);
  out += "]\n";
  if (entry.dwReserved != 0) {
    out += "reserved = " + HexWord(entry.dwReserved, 8) + "\n";
  }
  const bool blDeckEmpty = IsAllZero(&entry.deck, sizeof entry.deck);
  const bool blFileEmpty = IsAllZero(&entry.file, sizeof entry.file);
  if (std::memcmp(&entry.deck, &entry.file, sizeof entry.deck) == 0) {
    if (!blDeckEmpty) {
      out += "both = " + InlineCommand(entry.deck, codePage) + "\n";
    }
    return;
  }
  if (!blDeckEmpty) {
    out += "deck = " + InlineCommand(entry.deck, codePage) + "\n";
  }
  if (!blFileEmpty) {
    out += "file = " + InlineCommand(entry.file, codePage) + "\n";
  }
}

void DumpRecord(std::string& out, const ProfileRecord& record, std::size_t nIndex, CodePage codePage) {
  out += "\n# record " + std::to_string(nIndex + 1) + "\n[[profile]]\n";
  std::vector<KeyValue> pairs;
  AppendTextKeys(pairs, "app", record.szAppName, sizeof record.szAppName, codePage, true);
  AppendTextKeys(pairs, "exe", record.szExeName, sizeof record.szExeName, codePage, true);
  AppendTextKeys(pairs, "lib", record.szLibName, sizeof record.szLibName, codePage, false);
  for (const KeyValue& pair : pairs) {
    out += pair.key + " = " + pair.value + "\n";
  }
  if (record.reserved[0] != 0 || record.reserved[1] != 0) {
    out += "reserved = " + HexWord(static_cast<std::uint32_t>(record.reserved[0] | (record.reserved[1] << 8)), 4) + "\n";
  }
  char szVersion[64];
  std::snprintf(szVersion, sizeof szVersion, "\"%u.%u.%u.%u\"", record.dwVersionMS >> 16, record.dwVersionMS & 0xFFFF,
                record.dwVersionLS >> 16, record.dwVersionLS & 0xFFFF);
  out += std::string("version = ") + szVersion + "\n";
  out += "flags = " + HexWord(record.dwFlags, 8) + "\n";
  for (const FlagField& field : kFlagFields) {
    const std::uint32_t dwValue = (record.dwFlags & field.dwMask) >> field.nShift;
    out += std::string(field.pKey) + " = " + (field.blBool ? (dwValue != 0 ? "true" : "false") : std::to_string(dwValue)) +
           "\n";
  }
  for (int k = 0; k < kControlEntries; ++k) {
    DumpEntry(out, record.entries[k], k, codePage);
  }
}

// ---------------------------------------------------------------- reading

class TableBuilder final {
 public:
  TableBuilder(CodePage codePage, std::string& error) : m_codePage(codePage), m_error(error) {}

  bool BuildRecord(const toml::table& table, ProfileRecord& record, std::size_t nIndex);

 private:
  bool Fail(const toml::source_region& where, const std::string& message) {
    m_error = "line " + std::to_string(where.begin.line) + ": " + message;
    return false;
  }
  bool Fail(const toml::node& node, const std::string& message) { return Fail(node.source(), message); }

  bool CheckKeys(const toml::table& table, std::initializer_list<std::string_view> allowed, const std::string& where);
  bool ReadBool(const toml::node& node, const std::string& what, bool& blValue);
  bool ReadUnsigned(const toml::node& node, const std::string& what, std::uint64_t nMax, std::uint64_t& nValue);
  bool ReadHex(const toml::node& node, const std::string& what, std::string& bytes);
  bool BuildText(const toml::table& table, const std::string& key, char* pField, std::size_t nSize,
                 const std::string& where);
  bool BuildVersion(const toml::node& node, ProfileRecord& record);
  bool BuildFlags(const toml::table& table, std::uint32_t& dwFlags, const std::string& where);
  bool BuildEntry(const toml::node& node, ControlEntry& entry, const std::string& where);
  bool BuildCommand(const toml::node& node, KeyCommand& command, const std::string& where);

  CodePage m_codePage;
  std::string& m_error;
};

bool TableBuilder::CheckKeys(const toml::table& table, std::initializer_list<std::string_view> allowed,
                             const std::string& where) {
  for (auto&& [key, node] : table) {
    bool blKnown = false;
    for (std::string_view name : allowed) {
      blKnown = blKnown || key.str() == name;
    }
    if (!blKnown) {
      return Fail(key.source().begin.line != 0 ? key.source() : node.source(),
                  "unknown key '" + std::string(key.str()) + "' in " + where);
    }
  }
  return true;
}

bool TableBuilder::ReadBool(const toml::node& node, const std::string& what, bool& blValue) {
  const auto* pValue = node.as_boolean();
  if (pValue == nullptr) {
    return Fail(node, what + " must be true or false");
  }
  blValue = pValue->get();
  return true;
}

bool TableBuilder::ReadUnsigned(const toml::node& node, const std::string& what, std::uint64_t nMax,
                                std::uint64_t& nValue) {
  const auto* pValue = node.as_integer();
  if (pValue == nullptr || pValue->get() < 0 || static_cast<std::uint64_t>(pValue->get()) > nMax) {
    return Fail(node, what + " must be an integer from 0 to " + std::to_string(nMax));
  }
  nValue = static_cast<std::uint64_t>(pValue->get());
  return true;
}

bool TableBuilder::ReadHex(const toml::node& node, const std::string& what, std::string& bytes) {
  const auto* pValue = node.as_string();
  if (pValue == nullptr) {
    return Fail(node, what + " must be a string of hex digits");
  }
  const std::string& hex = pValue->get();
  auto digit = [](char ch) {
    if (ch >= '0' && ch <= '9') return ch - '0';
    if (ch >= 'A' && ch <= 'F') return ch - 'A' + 10;
    if (ch >= 'a' && ch <= 'f') return ch - 'a' + 10;
    return -1;
  };
  if (hex.size() % 2 != 0) {
    return Fail(node, what + " must hold whole bytes (an even number of hex digits)");
  }
  bytes.clear();
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    const int nHigh = digit(hex[i]);
    const int nLow = digit(hex[i + 1]);
    if (nHigh < 0 || nLow < 0) {
      return Fail(node, what + " holds a character that is not a hex digit");
    }
    bytes += static_cast<char>((nHigh << 4) | nLow);
  }
  return true;
}

bool TableBuilder::BuildText(const toml::table& table, const std::string& key, char* pField, std::size_t nSize,
                             const std::string& where) {
  const toml::node* pText = table.get(key);
  const toml::node* pCodePage = table.get(key + "_cp");
  const toml::node* pHex = table.get(key + "_hex");
  const toml::node* pTail = table.get(key + "_tail");
  const std::string what = where + " " + key;
  std::string bytes;
  if (pText != nullptr && pHex != nullptr) {
    return Fail(*pHex, what + ": give either " + key + " or " + key + "_hex, not both");
  }
  if (pCodePage != nullptr && pText == nullptr) {
    return Fail(*pCodePage, what + "_cp is only meaningful beside " + key);
  }
  if (pText != nullptr) {
    const auto* pString = pText->as_string();
    if (pString == nullptr) {
      return Fail(*pText, what + " must be a string");
    }
    CodePage codePage = m_codePage;
    if (pCodePage != nullptr) {
      const auto* pNumber = pCodePage->as_integer();
      if (pNumber == nullptr || (pNumber->get() != 932 && pNumber->get() != 1252)) {
        return Fail(*pCodePage, what + "_cp must be 932 or 1252");
      }
      codePage = static_cast<CodePage>(pNumber->get());
    }
    if (!platform::EncodeText(codePage, pString->get(), bytes)) {
      return Fail(*pText, what + " holds a character that code page " +
                              std::to_string(static_cast<unsigned>(codePage)) + " cannot represent");
    }
  } else if (pHex != nullptr && !ReadHex(*pHex, what + "_hex", bytes)) {
    return false;
  }
  const toml::node* pSource = pText != nullptr ? pText : pHex;
  if (bytes.find('\0') != std::string::npos) {
    return Fail(*pSource, what + " contains a NUL character; the text would end there");
  }
  if (bytes.size() > nSize) {
    return Fail(*pSource, what + " takes " + std::to_string(bytes.size()) + " bytes; the field holds " +
                              std::to_string(nSize));
  }
  std::string tail;
  if (pTail != nullptr) {
    if (!ReadHex(*pTail, what + "_tail", tail)) {
      return false;
    }
    if (!tail.empty() && bytes.size() + 1 + tail.size() > nSize) {
      return Fail(*pTail, what + "_tail does not fit after the text and its NUL in " + std::to_string(nSize) +
                              " bytes");
    }
  }
  std::memset(pField, 0, nSize);
  std::memcpy(pField, bytes.data(), bytes.size());
  if (!tail.empty()) {
    std::memcpy(pField + bytes.size() + 1, tail.data(), tail.size());
  }
  return true;
}

bool TableBuilder::BuildVersion(const toml::node& node, ProfileRecord& record) {
  if (const auto* pArray = node.as_array()) {
    std::uint64_t nMS = 0;
    std::uint64_t nLS = 0;
    if (pArray->size() != 2) {
      return Fail(node, "version as words must be [dwVersionMS, dwVersionLS]");
    }
    if (!ReadUnsigned((*pArray)[0], "dwVersionMS", 0xFFFFFFFFu, nMS) ||
        !ReadUnsigned((*pArray)[1], "dwVersionLS", 0xFFFFFFFFu, nLS)) {
      return false;
    }
    record.dwVersionMS = static_cast<std::uint32_t>(nMS);
    record.dwVersionLS = static_cast<std::uint32_t>(nLS);
    return true;
  }
  const auto* pString = node.as_string();
  const char* pMessage = "version must be \"major.minor.build.revision\" (each 0-65535) or [dwVersionMS, dwVersionLS]";
  if (pString == nullptr) {
    return Fail(node, pMessage);
  }
  const std::string& text = pString->get();
  std::uint32_t parts[4] = {};
  std::size_t nPart = 0;
  std::size_t nDigits = 0;
  for (const char ch : text) {
    if (ch == '.') {
      if (nDigits == 0 || ++nPart >= 4) {
        return Fail(node, pMessage);
      }
      nDigits = 0;
    } else if (ch >= '0' && ch <= '9' && nDigits < 5) {
      parts[nPart] = parts[nPart] * 10 + static_cast<std::uint32_t>(ch - '0');
      ++nDigits;
    } else {
      return Fail(node, pMessage);
    }
  }
  if (nPart != 3 || nDigits == 0 || parts[0] > 0xFFFF || parts[1] > 0xFFFF || parts[2] > 0xFFFF ||
      parts[3] > 0xFFFF) {
    return Fail(node, pMessage);
  }
  record.dwVersionMS = (parts[0] << 16) | parts[1];
  record.dwVersionLS = (parts[2] << 16) | parts[3];
  return true;
}

bool TableBuilder::BuildFlags(const toml::table& table, std::uint32_t& dwFlags, const std::string& where) {
  dwFlags = 0;
  const toml::node* pRaw = table.get("flags");
  if (pRaw != nullptr) {
    std::uint64_t nRaw = 0;
    if (!ReadUnsigned(*pRaw, where + " flags", 0xFFFFFFFFu, nRaw)) {
      return false;
    }
    dwFlags = static_cast<std::uint32_t>(nRaw);
  }
  for (const FlagField& field : kFlagFields) {
    const toml::node* pNode = table.get(field.pKey);
    if (pNode == nullptr) {
      continue;
    }
    std::uint64_t nValue = 0;
    const std::string what = where + " " + field.pKey;
    if (field.blBool) {
      bool blValue = false;
      if (!ReadBool(*pNode, what, blValue)) {
        return false;
      }
      nValue = blValue ? 1 : 0;
    } else if (!ReadUnsigned(*pNode, what, field.dwMask >> field.nShift, nValue)) {
      return false;
    }
    const std::uint32_t dwBits = static_cast<std::uint32_t>(nValue) << field.nShift;
    if (pRaw != nullptr && (dwFlags & field.dwMask) != dwBits) {
      return Fail(*pNode, what + " disagrees with flags = " + HexWord(dwFlags, 8) + " (line " +
                              std::to_string(pRaw->source().begin.line) + "); change both or remove one");
    }
    dwFlags = (dwFlags & ~field.dwMask) | dwBits;
  }
  return true;
}

bool TableBuilder::BuildCommand(const toml::node& node, KeyCommand& command, const std::string& where) {
  const toml::table* pTable = node.as_table();
  if (pTable == nullptr) {
    return Fail(node, where + " must be a table such as { label = \"Play\", keys = [\"Space\"] }");
  }
  if (!CheckKeys(*pTable, {"label", "label_cp", "label_hex", "label_tail", "repeat", "option", "keys"}, where)) {
    return false;
  }
  std::memset(&command, 0, sizeof command);
  if (!BuildText(*pTable, "label", command.szLabel, kLabelSize, where)) {
    return false;
  }
  const toml::node* pOption = pTable->get("option");
  if (pOption != nullptr) {
    std::uint64_t nOption = 0;
    if (!ReadUnsigned(*pOption, where + " option", 0xFFFFFFFFu, nOption)) {
      return false;
    }
    command.dwOption = static_cast<std::uint32_t>(nOption);
  }
  if (const toml::node* pRepeat = pTable->get("repeat")) {
    bool blRepeat = false;
    if (!ReadBool(*pRepeat, where + " repeat", blRepeat)) {
      return false;
    }
    if (pOption != nullptr && ((command.dwOption & KC_OPTION_REPEAT) != 0) != blRepeat) {
      return Fail(*pRepeat, where + " repeat disagrees with option = " + HexWord(command.dwOption, 8));
    }
    command.dwOption = (command.dwOption & ~KC_OPTION_REPEAT) | (blRepeat ? KC_OPTION_REPEAT : 0);
  }
  if (const toml::node* pKeys = pTable->get("keys")) {
    const toml::array* pArray = pKeys->as_array();
    if (pArray == nullptr || pArray->size() > static_cast<std::size_t>(kKeysPerCommand)) {
      return Fail(*pKeys, where + " keys must be a list of at most 5 key strokes");
    }
    for (std::size_t i = 0; i < pArray->size(); ++i) {
      const toml::node& stroke = (*pArray)[i];
      const auto* pString = stroke.as_string();
      std::string strokeError;
      if (pString == nullptr) {
        return Fail(stroke, where + " keys: each key stroke must be a string");
      }
      if (!ParseKeyStrokeText(pString->get(), command.keys[i], strokeError)) {
        return Fail(stroke, where + " key stroke " + std::to_string(i + 1) + ": " + strokeError);
      }
    }
  }
  return true;
}

bool TableBuilder::BuildEntry(const toml::node& node, ControlEntry& entry, const std::string& where) {
  const toml::table* pTable = node.as_table();
  if (pTable == nullptr) {
    return Fail(node, where + " must be a table with both, or deck and file");
  }
  if (!CheckKeys(*pTable, {"reserved", "both", "deck", "file"}, where)) {
    return false;
  }
  if (const toml::node* pReserved = pTable->get("reserved")) {
    std::uint64_t nReserved = 0;
    if (!ReadUnsigned(*pReserved, where + " reserved", 0xFFFFFFFFu, nReserved)) {
      return false;
    }
    entry.dwReserved = static_cast<std::uint32_t>(nReserved);
  }
  const toml::node* pBoth = pTable->get("both");
  const toml::node* pDeck = pTable->get("deck");
  const toml::node* pFile = pTable->get("file");
  if (pBoth != nullptr) {
    if (pDeck != nullptr || pFile != nullptr) {
      return Fail(*pBoth, where + ": give both, or deck and file, not both and one of them");
    }
    if (!BuildCommand(*pBoth, entry.deck, where + " both")) {
      return false;
    }
    entry.file = entry.deck;
    return true;
  }
  return (pDeck == nullptr || BuildCommand(*pDeck, entry.deck, where + " deck")) &&
         (pFile == nullptr || BuildCommand(*pFile, entry.file, where + " file"));
}

bool TableBuilder::BuildRecord(const toml::table& table, ProfileRecord& record, std::size_t nIndex) {
  const std::string where = "profile " + std::to_string(nIndex + 1);
  std::memset(&record, 0, sizeof record);
  if (!CheckKeys(table,
                 {"app", "app_cp", "app_hex", "app_tail", "exe", "exe_cp", "exe_hex", "exe_tail", "lib", "lib_cp",
                  "lib_hex", "lib_tail", "reserved", "version", "flags", "deck", "deckfile", "jog", "jogshuttle",
                  "jog_resolution", "shuttle_resolution", "hostmode", "fallback", "version_rule", "controls"},
                 where)) {
    return false;
  }
  if (!BuildText(table, "app", record.szAppName, sizeof record.szAppName, where) ||
      !BuildText(table, "exe", record.szExeName, sizeof record.szExeName, where) ||
      !BuildText(table, "lib", record.szLibName, sizeof record.szLibName, where)) {
    return false;
  }
  if (const toml::node* pReserved = table.get("reserved")) {
    std::uint64_t nReserved = 0;
    if (!ReadUnsigned(*pReserved, where + " reserved", 0xFFFF, nReserved)) {
      return false;
    }
    record.reserved[0] = static_cast<std::uint8_t>(nReserved & 0xFF);
    record.reserved[1] = static_cast<std::uint8_t>(nReserved >> 8);
  }
  if (const toml::node* pVersion = table.get("version")) {
    if (!BuildVersion(*pVersion, record)) {
      return false;
    }
  }
  std::uint32_t dwFlags = 0;
  if (!BuildFlags(table, dwFlags, where)) {
    return false;
  }
  record.dwFlags = dwFlags;
  const toml::node* pControls = table.get("controls");
  if (pControls == nullptr) {
    return true;
  }
  const toml::table* pControlTable = pControls->as_table();
  if (pControlTable == nullptr) {
    return Fail(*pControls, where + " controls must be a table of controls");
  }
  std::set<int> seen;
  for (auto&& [key, node] : *pControlTable) {
    const int k = FindControlEntryByName(key.str());
    const toml::source_region& keyWhere = key.source().begin.line != 0 ? key.source() : node.source();
    if (k < 0) {
      return Fail(keyWhere, where + ": unknown control '" + std::string(key.str()) +
                                "' (PGM1-PGM5, DECK_FILE, BACK, FORE, CAP, PLAY, IN, OUT, ADD, JOG_SHUTTLE, "
                                "JOG_BACK, JOG_FORE, SHUTTLE_M5_LEFT ... SHUTTLE_P5_RIGHT)");
    }
    if (!seen.insert(k).second) {
      return Fail(keyWhere, where + ": control " + ControlEntryName(k) + " appears twice");
    }
    if (!BuildEntry(node, record.entries[k], where + " " + ControlEntryName(k))) {
      return false;
    }
  }
  return true;
}

// "U+00E9" for the UTF-8 character at the start of `text`, "byte 0xE9" when it is none.
std::string DescribeCharacter(std::string_view text) {
  const auto b0 = static_cast<unsigned char>(text[0]);
  const std::size_t nLength = b0 >= 0xF0 ? 4 : b0 >= 0xE0 ? 3 : b0 >= 0xC0 ? 2 : 0;
  unsigned nCode = b0 & (0x7Fu >> nLength);
  bool blValid = nLength != 0 && nLength <= text.size() && b0 < 0xF8;
  for (std::size_t i = 1; blValid && i < nLength; ++i) {
    const auto b = static_cast<unsigned char>(text[i]);
    blValid = (b & 0xC0) == 0x80;
    nCode = (nCode << 6) | (b & 0x3Fu);
  }
  char szText[16];
  std::snprintf(szText, sizeof szText, blValid ? "U+%04X" : "byte 0x%02X", blValid ? nCode : b0);
  return szText;
}

// One UTF-8 character at the start of `text`: its code point and length, or false when
// the bytes are no well-formed character (cut off, overlong, a surrogate, above U+10FFFF).
bool DecodeUtf8(std::string_view text, std::uint32_t& nCode, std::size_t& nLength) {
  const auto b0 = static_cast<unsigned char>(text[0]);
  nLength = b0 >= 0xF0 ? 4 : b0 >= 0xE0 ? 3 : b0 >= 0xC0 ? 2 : 0;
  if (nLength == 0 || b0 >= 0xF8 || nLength > text.size()) {
    return false;
  }
  nCode = b0 & (0x7Fu >> nLength);
  for (std::size_t i = 1; i < nLength; ++i) {
    const auto b = static_cast<unsigned char>(text[i]);
    if ((b & 0xC0) != 0x80) {
      return false;
    }
    nCode = (nCode << 6) | (b & 0x3Fu);
  }
  static constexpr std::uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
  return nCode >= kSmallest[nLength] && nCode <= 0x10FFFF && (nCode < 0xD800 || nCode > 0xDFFF);
}

std::string Position(std::string_view text, std::size_t nPos) {
  std::size_t nLine = 1;
  std::size_t nColumn = 1;
  for (std::size_t j = 0; j < nPos; ++j) {
    if (text[j] == '\n') {
      ++nLine;
      nColumn = 1;
    } else if ((static_cast<unsigned char>(text[j]) & 0xC0) != 0x80) {
      ++nColumn;
    }
  }
  return "line " + std::to_string(nLine) + ", column " + std::to_string(nColumn);
}

// toml++ 3.3 classifies non-ASCII characters with a table that has holes (for example
// U+00E9, U+3001) and, wherever it asks whether one is white space, runs into an
// "unreachable" branch: undefined behaviour where a syntax error belongs. Which places
// ask depends on its own reading of a broken text, so instead of guessing, the parser is
// only ever given ASCII: inside basic strings a character becomes its \u or \U escape,
// literal strings become basic strings written with escapes, comments lose their
// non-ASCII bytes, and a non-ASCII character anywhere else (where TOML allows none) or
// malformed UTF-8 is reported here with its line and column. Lines stay where they were,
// so the parser's line numbers still point into the user's text.
//
// The pass also counts the dotted parts of every key and table header: the parser makes a
// table per part and recurses through them, so a key of some 100,000 parts overflows the
// stack (its own nesting limit covers only arrays and inline tables).
bool AsciiForParser(std::string_view text, std::string& ascii, std::string& error) {
  enum class State { Normal, Comment, Basic, MultiBasic, Literal, MultiLiteral };
  State state = State::Normal;
  // Dots since the last character that no key holds. Quoted parts leave Normal and come
  // back without resetting it; '=', brackets, commas and line ends reset it, so a float
  // value is at most one dot on its own.
  std::size_t nKeyDots = 0;
  auto inKey = [](char ch) {
    return (ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z') || (ch >= '0' && ch <= '9') || ch == '_' ||
           ch == '-' || ch == ' ' || ch == '\t';
  };
  ascii.clear();
  ascii.reserve(text.size() + text.size() / 4);
  auto startsWith = [&text](std::size_t nPos, std::string_view what) {
    return text.substr(nPos, what.size()) == what;
  };
  // Up to two quotes right before the closing three belong to the string.
  auto closingLength = [&text](std::size_t nPos, char chQuote) {
    std::size_t nEnd = nPos + 3;
    for (int nExtra = 0; nExtra < 2 && nEnd < text.size() && text[nEnd] == chQuote; ++nExtra) {
      ++nEnd;
    }
    return nEnd - nPos;
  };
  // Appends the character at `i` as an escape; false (with the error) when it is none.
  auto escapeCharacter = [&](std::size_t i, std::size_t& nLength) {
    std::uint32_t nCode = 0;
    if (!DecodeUtf8(text.substr(i), nCode, nLength)) {
      error = Position(text, i) + ": " + DescribeCharacter(text.substr(i)) + " is not well-formed UTF-8";
      return false;
    }
    char szEscape[16];
    std::snprintf(szEscape, sizeof szEscape, nCode <= 0xFFFF ? "\\u%04X" : "\\U%08X", static_cast<unsigned>(nCode));
    ascii += szEscape;
    return true;
  };
  std::size_t i = startsWith(0, "\xEF\xBB\xBF") ? 3 : 0;  // a byte order mark may open the text
  while (i < text.size()) {
    const char ch = text[i];
    const bool blAscii = static_cast<unsigned char>(ch) < 0x80;
    switch (state) {
      case State::Normal:
        if (!blAscii) {
          error = Position(text, i) + ": unexpected character " + DescribeCharacter(text.substr(i)) +
                  " outside a string";
          return false;
        }
        if (ch == '.') {
          if (++nKeyDots >= kMaxKeyParts) {
            error = Position(text, i) + ": a key or table header of more than " + std::to_string(kMaxKeyParts) +
                    " dotted parts";
            return false;
          }
        } else if (!inKey(ch) && ch != '"' && ch != '\'') {
          nKeyDots = 0;
        }
        if (ch == '#') {
          state = State::Comment;
        } else if (ch == '"' || ch == '\'') {
          const bool blMulti = startsWith(i, std::string(3, ch));
          if (ch == '"') {
            state = blMulti ? State::MultiBasic : State::Basic;
          } else {
            state = blMulti ? State::MultiLiteral : State::Literal;
          }
          ascii.append(blMulti ? 3 : 1, '"');
          i += blMulti ? 3 : 1;
          continue;
        }
        ascii += ch;
        break;
      case State::Comment:
        if (ch == '\n') {
          state = State::Normal;
        }
        ascii += blAscii ? ch : '?';
        break;
      case State::Basic:
      case State::MultiBasic:
        if (ch == '\\') {
          if (i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80) {
            error = Position(text, i) + ": a backslash before " + DescribeCharacter(text.substr(i + 1)) +
                    " is no escape";
            return false;
          }
          ascii.append(text.substr(i, 2));  // whatever is escaped cannot end the string
          i += 2;
          continue;
        }
        if (state == State::MultiBasic && startsWith(i, R"(""")")) {
          const std::size_t nClosing = closingLength(i, '"');
          ascii.append(text.substr(i, nClosing));
          i += nClosing;
          state = State::Normal;
          continue;
        }
        if (!blAscii) {
          std::size_t nLength = 0;
          if (!escapeCharacter(i, nLength)) {
            return false;
          }
          i += nLength;
          continue;
        }
        if (state == State::Basic && (ch == '"' || ch == '\n')) {
          state = State::Normal;
        }
        ascii += ch;
        break;
      case State::Literal:
      case State::MultiLiteral:
        if (state == State::MultiLiteral && startsWith(i, "'''")) {
          const std::size_t nClosing = closingLength(i, '\'');
          ascii.append(nClosing - 3, '\'');
          ascii += R"(""")";
          i += nClosing;
          state = State::Normal;
          continue;
        }
        if (state == State::Literal && (ch == '\'' || ch == '\n')) {
          ascii += ch == '\'' ? '"' : '\n';
          state = State::Normal;
        } else if (!blAscii) {
          std::size_t nLength = 0;
          if (!escapeCharacter(i, nLength)) {
            return false;
          }
          i += nLength;
          continue;
        } else if (ch == '\\' || ch == '"') {
          ascii += '\\';  // a literal string's text, written as a basic string
          ascii += ch;
        } else {
          ascii += ch;
        }
        break;
    }
    ++i;
  }
  return true;
}

}  // namespace

platform::CodePage TableCodePage(TableLanguage language) {
  return language == TableLanguage::Japanese ? CodePage::Cp932 : CodePage::Cp1252;
}

const char* TableLanguageCode(TableLanguage language) { return language == TableLanguage::Japanese ? "ja" : "en"; }

bool ParseTableLanguage(std::string_view code, TableLanguage& language) {
  if (code == "en") {
    language = TableLanguage::English;
    return true;
  }
  if (code == "ja") {
    language = TableLanguage::Japanese;
    return true;
  }
  return false;
}

std::string DumpTableText(std::span<const ProfileRecord> records, TableLanguage language, std::size_t nTrailingBytes) {
  const CodePage codePage = TableCodePage(language);
  std::string out = "# ORB profile table: " + std::to_string(records.size()) + (records.size() == 1 ? " record, " : " records, ") +
                    std::to_string(records.size() * kProfileRecordSize) + " bytes\n";
  if (nTrailingBytes != 0) {
    out += "# " + std::to_string(nTrailingBytes) + " bytes after the last whole record are not part of the table.\n";
  }
  out += "# Texts in code page " + std::to_string(static_cast<unsigned>(codePage)) +
         "; `orbctl table build` turns this text back into the same bytes.\n";
  out += std::string("language = \"") + TableLanguageCode(language) + "\"\n";
  for (std::size_t i = 0; i < records.size(); ++i) {
    DumpRecord(out, records[i], i, codePage);
  }
  return out;
}

bool BuildTableFromText(std::string_view text, TableText& result, std::string& error) {
  result = TableText{};
  std::string ascii;
  if (!AsciiForParser(text, ascii, error)) {
    return false;
  }
  toml::parse_result parsed = toml::parse(ascii);
  if (!parsed) {
    const toml::parse_error& parseError = parsed.error();
    error = "line " + std::to_string(parseError.source().begin.line) + ", column " +
            std::to_string(parseError.source().begin.column) + ": " + std::string(parseError.description());
    return false;
  }
  const toml::table& root = parsed.table();
  for (auto&& [key, node] : root) {
    if (key.str() != "language" && key.str() != "profile") {
      error = "line " + std::to_string(key.source().begin.line) + ": unknown key '" + std::string(key.str()) +
              "' (a table holds language and [[profile]] entries)";
      return false;
    }
  }
  if (const toml::node* pLanguage = root.get("language")) {
    const auto* pString = pLanguage->as_string();
    if (pString == nullptr || !ParseTableLanguage(pString->get(), result.language)) {
      error = "line " + std::to_string(pLanguage->source().begin.line) + ": language must be \"en\" or \"ja\"";
      return false;
    }
  }
  const toml::node* pProfiles = root.get("profile");
  if (pProfiles == nullptr) {
    return true;
  }
  const toml::array* pArray = pProfiles->as_array();
  if (pArray == nullptr || !pArray->is_array_of_tables()) {
    error = "line " + std::to_string(pProfiles->source().begin.line) +
            ": profiles are written as [[profile]] tables, one per record";
    return false;
  }
  if (pArray->size() > kMaxTableRecords) {
    error = "line " + std::to_string((*pArray)[kMaxTableRecords].source().begin.line) + ": more than " +
            std::to_string(kMaxTableRecords) + " [[profile]] records, the limit for a table";
    return false;
  }
  TableBuilder builder(TableCodePage(result.language), error);
  result.records.resize(pArray->size());
  for (std::size_t i = 0; i < pArray->size(); ++i) {
    if (!builder.BuildRecord(*(*pArray)[i].as_table(), result.records[i], i)) {
      result.records.clear();
      return false;
    }
  }
  return true;
}

}  // namespace orb

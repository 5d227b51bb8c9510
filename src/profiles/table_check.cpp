#include "profiles/table_check.h"

#include <cstdio>

#include "profiles/control_names.h"
#include "profiles/profile_table.h"
#include "profiles/stroke_text.h"

namespace orb {
namespace {

constexpr std::uint32_t kUnusedStrokeBits = 0xF0000000u;

std::string Hex32(std::uint32_t dwValue) {
  char szText[16];
  std::snprintf(szText, sizeof szText, "0x%08X", static_cast<unsigned>(dwValue));
  return szText;
}

// A name from untrusted bytes, safe to print: printable ASCII as is, the rest as \xNN.
std::string PrintableName(std::string_view bytes) {
  std::string text;
  for (const char ch : bytes) {
    const auto byte = static_cast<unsigned char>(ch);
    if (byte >= 0x20 && byte < 0x7F && ch != '"' && ch != '\\') {
      text += ch;
    } else {
      char szEscape[8];
      std::snprintf(szEscape, sizeof szEscape, "\\x%02X", byte);
      text += szEscape;
    }
  }
  return text;
}

class Checker final {
 public:
  explicit Checker(TableCheckReport& report) : m_report(report) {}

  void CheckRecord(const ProfileRecord& record, std::size_t nIndex);

 private:
  void Add(bool blProblem, const std::string& where, const std::string& text) {
    m_report.findings.push_back({blProblem, where + ": " + text});
  }
  template <std::size_t N>
  void CheckText(const char (&field)[N], const char* pName, const std::string& where) {
    if (FieldLacksNul(field)) {
      Add(true, where, std::string(pName) + " has no NUL; it is read to the end of its " + std::to_string(N) +
                           " bytes");
    }
  }
  void CheckCommand(const KeyCommand& command, const std::string& where);

  TableCheckReport& m_report;
  std::size_t m_nFirstFallback = 0;  // record number + 1, 0 while none
};

void Checker::CheckCommand(const KeyCommand& command, const std::string& where) {
  CheckText(command.szLabel, "label", where);
  if ((command.dwOption & ~KC_OPTION_REPEAT) != 0) {
    Add(true, where, "dwOption " + Hex32(command.dwOption) + " has bits without a meaning: " +
                         Hex32(command.dwOption & ~KC_OPTION_REPEAT));
  }
  bool blEnded = false;
  for (int i = 0; i < kKeysPerCommand; ++i) {
    const KeyStroke stroke = command.keys[i];
    const std::string strokeName = "key stroke " + std::to_string(i + 1) + " (" + Hex32(stroke) + ")";
    if (blEnded) {
      if (stroke != 0) {
        Add(false, where, strokeName + " follows an empty stroke and is never played");
      }
      continue;
    }
    if (KeyStrokeVirtualKey(stroke) == 0) {
      blEnded = true;
      if (stroke != 0) {
        Add(false, where, strokeName + " has no key: it ends the command, and its modifiers and pause are unused");
      }
      continue;
    }
    if ((stroke & kUnusedStrokeBits) != 0) {
      Add(true, where, strokeName + " has bits without a meaning: " + Hex32(stroke & kUnusedStrokeBits));
    } else if (!KeyStrokeHasName(stroke)) {
      Add(true, where, strokeName + " plays key code " + Hex32(KeyStrokeVirtualKey(stroke)) +
                           ", which has no name in the key table");
    }
  }
}

void Checker::CheckRecord(const ProfileRecord& record, std::size_t nIndex) {
  const std::string where =
      "record " + std::to_string(nIndex + 1) + " \"" + PrintableName(FieldText(record.szAppName)) + "\"";
  CheckText(record.szAppName, "szAppName", where);
  CheckText(record.szExeName, "szExeName", where);
  CheckText(record.szLibName, "szLibName", where);
  if (record.reserved[0] != 0 || record.reserved[1] != 0) {
    Add(false, where, "the reserved bytes at offset 586 are not 0");
  }
  if ((record.dwFlags & ~PF_KNOWN_MASK) != 0) {
    Add(true, where, "dwFlags " + Hex32(record.dwFlags) + " has bits without a meaning: " +
                         Hex32(record.dwFlags & ~PF_KNOWN_MASK));
  }
  if (VersionRule(record.dwFlags) > 4) {
    Add(true, where, "version rule " + std::to_string(VersionRule(record.dwFlags)) +
                         " matches no executable, so this profile is never chosen");
  }
  if ((record.dwFlags & PF_FALLBACK) != 0) {
    if (m_nFirstFallback == 0) {
      m_nFirstFallback = nIndex + 1;
    } else {
      Add(false, where, "PF_FALLBACK is set, but record " + std::to_string(m_nFirstFallback) +
                            " is the fallback profile already");
    }
  }
  for (int k = 0; k < kControlEntries; ++k) {
    const ControlEntry& entry = record.entries[k];
    const std::string entryWhere = where + " " + ControlEntryName(k);
    if (entry.dwReserved != 0) {
      Add(false, entryWhere, "dwReserved is " + Hex32(entry.dwReserved) + ", not 0");
    }
    CheckCommand(entry.deck, entryWhere + " deck");
    CheckCommand(entry.file, entryWhere + " file");
  }
}

}  // namespace

std::size_t TableCheckReport::ProblemCount() const {
  std::size_t nProblems = 0;
  for (const TableFinding& finding : findings) {
    nProblems += finding.blProblem ? 1 : 0;
  }
  return nProblems;
}

TableCheckReport CheckTable(std::span<const std::uint8_t> bytes) {
  TableCheckReport report;
  report.nRecords = TableRecordCount(bytes.size());
  report.nTrailingBytes = TableTrailingBytes(bytes.size());
  if (report.nTrailingBytes != 0) {
    report.findings.push_back({true, std::to_string(report.nTrailingBytes) +
                                         " bytes after the last whole record are ignored (a table is a multiple of " +
                                         std::to_string(kProfileRecordSize) + " bytes)"});
  }
  const std::vector<ProfileRecord> records = ReadProfileTable(bytes);
  Checker checker(report);
  for (std::size_t i = 0; i < records.size(); ++i) {
    checker.CheckRecord(records[i], i);
  }
  return report;
}

}  // namespace orb

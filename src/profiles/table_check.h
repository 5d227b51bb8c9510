#pragma once
// What `orbctl table check` reports about a table file: its record count and everything
// in it that the program would read in a way its author may not expect. Nothing here
// changes how a table is used; every table loads.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace orb {

struct TableFinding {
  bool blProblem;    // false: a note (legal, but worth knowing)
  std::string text;  // "record 3 \"Name\" PGM1 deck: ..."
};

struct TableCheckReport {
  std::size_t nRecords = 0;
  std::size_t nTrailingBytes = 0;
  std::vector<TableFinding> findings;

  std::size_t ProblemCount() const;
  std::size_t NoteCount() const { return findings.size() - ProblemCount(); }
};

// Problems: bytes after the last whole record; texts without a NUL; bits without a
// meaning in dwFlags, dwOption or a key stroke; version rules above 4 (never match); key
// strokes whose key has no name. Notes: non-zero reserved fields, strokes after the first
// empty one (never played), a second fallback profile (never used).
TableCheckReport CheckTable(std::span<const std::uint8_t> bytes);

}  // namespace orb

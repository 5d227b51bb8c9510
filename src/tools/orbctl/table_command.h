#pragma once
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/bounded_read.h"
#include "profiles/table_check.h"
#include "tools/orbctl/commands.h"

namespace orb::orbctl {

// orbctl table dump|build|check: profile tables between their binary and text forms.
int RunTableCommand(const Args& args);

// The steps of those commands, for other commands that read, check or convert a table
// the same way and with the same messages.

// A table file (kTableFileLimit) or a table's text (kTableTextLimit), whole; false after
// "PREFIX: cannot read NAME: why" on standard error.
bool ReadTableInput(const std::string& sName, const ReadLimit& limit, std::vector<std::uint8_t>& bytes,
                    const char* pPrefix = "orbctl table");
// The findings of a check, one line each as `table check` prints them; only the problems
// when blProblemsOnly.
void PrintTableFindings(std::FILE* pOut, const std::string& sName, const TableCheckReport& report,
                        bool blProblemsOnly);
// The text `table dump` writes for the table in `bytes`, in the language of the
// environment (LC_ALL, LC_MESSAGES, LANG: ja* is Japanese).
std::string DumpTableForEditing(std::span<const std::uint8_t> bytes);
// The bytes `table build` makes of a text; false with "NAME: line N: ..." in *pError.
bool BuildTableBytes(std::string_view text, const std::string& sName, std::vector<std::uint8_t>& bytes,
                     std::string* pError);

}  // namespace orb::orbctl

#include "tools/orbctl/table_command.h"

#include <cstdio>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "profiles/profile_table.h"
#include "profiles/table_check.h"
#include "base/string_table.h"
#include "profiles/table_text.h"
#include "tools/orbctl/table_markdown.h"

namespace orb::orbctl {
namespace {

constexpr int kExitClean = 0;
constexpr int kExitFound = 1;
constexpr int kExitUnusable = 2;

const char kUsage[] =
    "usage: orbctl table dump FILE [-o OUT] [--lang en|ja]\n"
    "       orbctl table build TEXT -o FILE\n"
    "       orbctl table check FILE\n"
    "       orbctl table markdown FILE [--lang en|ja]\n"
    "\n"
    "dump   writes a profile table as text (TOML); --lang names the code page of its\n"
    "       texts: en = 1252 (the default), ja = 932\n"
    "build  turns such a text back into a table; dump then build gives the same bytes\n"
    "check  reports the record count and what in the table has no meaning\n"
    "markdown  writes one Markdown table per profile: what each control does in DECK\n"
    "       and FILE mode (README's list of built-in profiles is this for the English\n"
    "       default table)\n"
    "\n"
    "A table holds at most 4096 records; its text is at most 16 MiB. -o replaces only a\n"
    "regular file (or the regular file a symbolic link names).\n";
static_assert(kMaxTableRecords == 4096 && kMaxTableTextBytes == 16u * 1024 * 1024, "the usage states the limits");

int Usage(const char* pProblem) {
  std::fprintf(stderr, "orbctl table: %s\n%s", pProblem, kUsage);
  return kExitUnusable;
}

// The words after the verb: one positional argument and the options named.
struct Parsed {
  std::string input;
  std::string output;
  std::optional<TableLanguage> language;
};

bool ParseArgs(const Args& args, bool blOutput, bool blLanguage, Parsed& parsed, std::string& problem) {
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (blOutput && arg == "-o") {
      if (i + 1 >= args.size()) {
        problem = "-o needs a file name";
        return false;
      }
      parsed.output = args[++i];
    } else if (blLanguage && arg == "--lang") {
      TableLanguage language{};
      if (i + 1 >= args.size() || !ParseTableLanguage(args[i + 1], language)) {
        problem = "--lang takes en or ja";
        return false;
      }
      parsed.language = language;
      ++i;
    } else if (!arg.empty() && arg[0] == '-' && arg != "-") {
      problem = "unknown option " + arg;
      return false;
    } else if (parsed.input.empty()) {
      parsed.input = arg;
    } else {
      problem = "more than one input file";
      return false;
    }
  }
  if (parsed.input.empty()) {
    problem = "no input file";
    return false;
  }
  return true;
}

bool WriteOutput(const std::string& name, std::span<const std::uint8_t> bytes) {
  std::string why;
  if (!SaveTableFile(name, bytes, &why)) {
    std::fprintf(stderr, "orbctl table: cannot write %s: %s\n", name.c_str(), why.c_str());
    return false;
  }
  return true;
}

int RunDump(const Args& args) {
  Parsed parsed;
  std::string problem;
  if (!ParseArgs(args, true, true, parsed, problem)) {
    return Usage(problem.c_str());
  }
  std::vector<std::uint8_t> bytes;
  if (!ReadTableInput(parsed.input, kTableFileLimit, bytes)) {
    return kExitUnusable;
  }
  const std::vector<ProfileRecord> records = ReadProfileTable(bytes);
  const std::string text =
      DumpTableText(records, parsed.language.value_or(TableLanguage::English), TableTrailingBytes(bytes.size()));
  if (parsed.output.empty() || parsed.output == "-") {
    std::fwrite(text.data(), 1, text.size(), stdout);  // checked where the program ends
    return kExitClean;
  }
  return WriteOutput(parsed.output, {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()}) ? kExitClean
                                                                                                      : kExitUnusable;
}

int RunMarkdown(const Args& args) {
  Parsed parsed;
  std::string problem;
  if (!ParseArgs(args, false, true, parsed, problem)) {
    return Usage(problem.c_str());
  }
  std::vector<std::uint8_t> bytes;
  if (!ReadTableInput(parsed.input, kTableFileLimit, bytes)) {
    return kExitUnusable;
  }
  const std::string text =
      TableMarkdown(ReadProfileTable(bytes), parsed.language.value_or(TableLanguage::English));
  std::fwrite(text.data(), 1, text.size(), stdout);  // checked where the program ends
  return kExitClean;
}

int RunBuild(const Args& args) {
  Parsed parsed;
  std::string problem;
  if (!ParseArgs(args, true, false, parsed, problem)) {
    return Usage(problem.c_str());
  }
  if (parsed.output.empty()) {
    return Usage("build needs -o FILE");
  }
  std::vector<std::uint8_t> bytes;
  if (!ReadTableInput(parsed.input, kTableTextLimit, bytes)) {
    return kExitUnusable;
  }
  std::vector<std::uint8_t> table;
  std::string error;
  if (!BuildTableBytes({reinterpret_cast<const char*>(bytes.data()), bytes.size()}, parsed.input, table, &error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return kExitUnusable;
  }
  return WriteOutput(parsed.output, table) ? kExitClean : kExitUnusable;
}

int RunCheck(const Args& args) {
  Parsed parsed;
  std::string problem;
  if (!ParseArgs(args, false, false, parsed, problem)) {
    return Usage(problem.c_str());
  }
  std::vector<std::uint8_t> bytes;
  if (!ReadTableInput(parsed.input, kTableFileLimit, bytes)) {
    return kExitUnusable;
  }
  const TableCheckReport report = CheckTable(bytes);
  const char* pName = parsed.input.c_str();
  std::printf("%s: %zu record%s (%zu bytes)\n", pName, report.nRecords, report.nRecords == 1 ? "" : "s", bytes.size());
  PrintTableFindings(stdout, parsed.input, report, false);
  const std::size_t nProblems = report.ProblemCount();
  std::printf("%s: %zu problem%s, %zu note%s\n", pName, nProblems, nProblems == 1 ? "" : "s", report.NoteCount(),
              report.NoteCount() == 1 ? "" : "s");
  return nProblems == 0 ? kExitClean : kExitFound;
}

}  // namespace

bool ReadTableInput(const std::string& sName, const ReadLimit& limit, std::vector<std::uint8_t>& bytes,
                    const char* pPrefix) {
  std::string why;
  if (!LoadTableFile(sName, bytes, &why, limit)) {
    std::fprintf(stderr, "%s: cannot read %s: %s\n", pPrefix, sName.c_str(), why.c_str());
    return false;
  }
  return true;
}

void PrintTableFindings(std::FILE* pOut, const std::string& sName, const TableCheckReport& report,
                        bool blProblemsOnly) {
  for (const TableFinding& finding : report.findings) {
    if (finding.blProblem || !blProblemsOnly) {
      std::fprintf(pOut, "%s: %s: %s\n", sName.c_str(), finding.blProblem ? "problem" : "note", finding.text.c_str());
    }
  }
}

std::string DumpTableForEditing(std::span<const std::uint8_t> bytes) {
  // The code page a user of that language has typed the texts in.
  const TableLanguage language =
      SystemUiLanguage() == UiLanguage::Japanese ? TableLanguage::Japanese : TableLanguage::English;
  return DumpTableText(ReadProfileTable(bytes), language, TableTrailingBytes(bytes.size()));
}

bool BuildTableBytes(std::string_view text, const std::string& sName, std::vector<std::uint8_t>& bytes,
                     std::string* pError) {
  TableText table;
  std::string error;
  if (!BuildTableFromText(text, table, error)) {
    *pError = sName + ": " + error;
    return false;
  }
  bytes = WriteProfileTable(table.records);
  return true;
}

int RunTableCommand(const Args& args) {
  if (args.empty()) {
    return Usage("which table command?");
  }
  if (args[0] == "dump") {
    return RunDump(args);
  }
  if (args[0] == "build") {
    return RunBuild(args);
  }
  if (args[0] == "check") {
    return RunCheck(args);
  }
  if (args[0] == "markdown") {
    return RunMarkdown(args);
  }
  if (args[0] == "--help" || args[0] == "-h") {
    std::fputs(kUsage, stdout);
    return kExitClean;
  }
  return Usage(("unknown table command " + args[0]).c_str());
}

}  // namespace orb::orbctl

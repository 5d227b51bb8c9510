#include "tools/orbctl/table_command.h"

#include <cstdio>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "profiles/profile_table.h"
#include "profiles/table_check.h"
#include "profiles/table_text.h"

namespace orb::orbctl {
namespace {

constexpr int kExitClean = 0;
constexpr int kExitFound = 1;
constexpr int kExitUnusable = 2;

const char kUsage[] =
    "usage: orbctl table dump FILE [-o OUT] [--lang en|ja]\n"
    "       orbctl table build TEXT -o FILE\n"
    "       orbctl table check FILE\n"
    "\n"
    "dump   writes a profile table as text (TOML); --lang names the code page of its\n"
    "       texts: en = 1252 (the default), ja = 932\n"
    "build  turns such a text back into a table; dump then build gives the same bytes\n"
    "check  reports the record count and what in the table has no meaning\n"
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

bool ReadInput(const std::string& name, const ReadLimit& limit, std::vector<std::uint8_t>& bytes) {
  std::string why;
  if (!LoadTableFile(name, bytes, &why, limit)) {
    std::fprintf(stderr, "orbctl table: cannot read %s: %s\n", name.c_str(), why.c_str());
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
  if (!ReadInput(parsed.input, kTableFileLimit, bytes)) {
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
  if (!ReadInput(parsed.input, kTableTextLimit, bytes)) {
    return kExitUnusable;
  }
  TableText table;
  std::string error;
  if (!BuildTableFromText({reinterpret_cast<const char*>(bytes.data()), bytes.size()}, table, error)) {
    std::fprintf(stderr, "%s: %s\n", parsed.input.c_str(), error.c_str());
    return kExitUnusable;
  }
  return WriteOutput(parsed.output, WriteProfileTable(table.records)) ? kExitClean : kExitUnusable;
}

int RunCheck(const Args& args) {
  Parsed parsed;
  std::string problem;
  if (!ParseArgs(args, false, false, parsed, problem)) {
    return Usage(problem.c_str());
  }
  std::vector<std::uint8_t> bytes;
  if (!ReadInput(parsed.input, kTableFileLimit, bytes)) {
    return kExitUnusable;
  }
  const TableCheckReport report = CheckTable(bytes);
  const char* pName = parsed.input.c_str();
  std::printf("%s: %zu record%s (%zu bytes)\n", pName, report.nRecords, report.nRecords == 1 ? "" : "s", bytes.size());
  for (const TableFinding& finding : report.findings) {
    std::printf("%s: %s: %s\n", pName, finding.blProblem ? "problem" : "note", finding.text.c_str());
  }
  const std::size_t nProblems = report.ProblemCount();
  std::printf("%s: %zu problem%s, %zu note%s\n", pName, nProblems, nProblems == 1 ? "" : "s", report.NoteCount(),
              report.NoteCount() == 1 ? "" : "s");
  return nProblems == 0 ? kExitClean : kExitFound;
}

}  // namespace

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
  if (args[0] == "--help" || args[0] == "-h") {
    std::fputs(kUsage, stdout);
    return kExitClean;
  }
  return Usage(("unknown table command " + args[0]).c_str());
}

}  // namespace orb::orbctl

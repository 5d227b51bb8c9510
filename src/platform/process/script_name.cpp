#include "platform/process/script_name.h"

#include <algorithm>
#include <span>

namespace orb::platform {
namespace {

// How one interpreter family reads its options. Only what decides which argument is the
// script matters here: which options take the next word as their value, and which ones
// mean there is no script file at all.
struct InterpreterRules {
  std::span<const std::string_view> names;       // file names, without a version suffix
  std::string_view sValueOptions;                // short options with a value: the rest of the word, else the next word
  std::string_view sAttachedOptions;             // short options whose value is the rest of the word, if any
  std::string_view sNoFileOptions;               // short options that run no file (inline code, standard input)
  char chModuleOption;                           // the value names a module to run, or 0
  std::span<const std::string_view> longValue;   // long options whose value may be the next word
  std::span<const std::string_view> longNoFile;  // long options that run no file
  bool blPlusOptions;                            // shells: "+o name" is an option as well
};

constexpr std::string_view kPythonNames[] = {"python", "pypy"};
constexpr std::string_view kPythonLong[] = {"--check-hash-based-pycs"};
constexpr std::string_view kPerlNames[] = {"perl"};
constexpr std::string_view kRubyNames[] = {"ruby"};
constexpr std::string_view kShellNames[] = {"sh",   "ash",  "dash", "bash", "zsh", "ksh",
                                            "mksh", "yash", "posh", "csh",  "tcsh"};
constexpr std::string_view kShellLong[] = {"--rcfile", "--init-file"};
constexpr std::string_view kFishNames[] = {"fish"};
constexpr std::string_view kFishLong[] = {"--init-command", "--features", "--debug", "--debug-output", "--profile"};
constexpr std::string_view kFishNoFile[] = {"--command"};
constexpr std::string_view kNodeNames[] = {"node", "nodejs"};
constexpr std::string_view kNodeLong[] = {"--require",         "--import",      "--loader", "--experimental-loader",
                                          "--conditions",      "--input-type",  "--title",  "--env-file",
                                          "--disable-warning", "--inspect-port"};
constexpr std::string_view kNodeNoFile[] = {"--eval", "--print", "--interactive"};
constexpr std::string_view kLuaNames[] = {"lua", "luajit"};
constexpr std::string_view kTclNames[] = {"tclsh"};
constexpr std::string_view kTclLong[] = {"-encoding"};

// Python's -c and Perl's or Ruby's -e take code; a shell's -c takes its code as the first
// operand and -s reads standard input; Lua's -e runs code before an optional script.
constexpr InterpreterRules kInterpreters[] = {
    {kPythonNames, "WXm", "", "c", 'm', kPythonLong, {}, false},
    {kPerlNames, "I", "ixdDCMmV0F", "eE", 0, {}, {}, false},
    {kRubyNames, "IrCE", "xFiKTW0", "e", 0, {}, {}, false},
    {kShellNames, "oO", "", "cs", 0, kShellLong, {}, true},
    {kFishNames, "C", "", "c", 0, kFishLong, kFishNoFile, false},
    {kNodeNames, "rC", "", "epi", 0, kNodeLong, kNodeNoFile, false},
    {kLuaNames, "elj", "O", "b", 0, {}, {}, false},
    {kTclNames, "", "", "", 0, kTclLong, {}, false},
};

bool HasVersionSuffix(std::string_view sName, std::string_view sBase) {
  if (!sName.starts_with(sBase)) return false;
  const std::string_view sSuffix = sName.substr(sBase.size());
  return std::all_of(sSuffix.begin(), sSuffix.end(), [](char ch) { return (ch >= '0' && ch <= '9') || ch == '.'; });
}

const InterpreterRules* FindInterpreter(std::string_view sExeFileName) {
  for (const InterpreterRules& rules : kInterpreters) {
    for (const std::string_view sBase : rules.names) {
      if (HasVersionSuffix(sExeFileName, sBase)) return &rules;
    }
  }
  return nullptr;
}

bool Contains(std::span<const std::string_view> list, std::string_view sWord) {
  return std::find(list.begin(), list.end(), sWord) != list.end();
}

bool Has(std::string_view sLetters, char ch) { return sLetters.find(ch) != std::string_view::npos; }

}  // namespace

std::vector<std::string_view> SplitCmdline(std::string_view sCmdline) {
  std::vector<std::string_view> args;
  while (!sCmdline.empty()) {
    const std::size_t nEnd = std::min(sCmdline.find('\0'), sCmdline.size());
    args.push_back(sCmdline.substr(0, nEnd));
    sCmdline.remove_prefix(std::min(nEnd + 1, sCmdline.size()));
  }
  return args;
}

bool IsInterpreter(std::string_view sExeFileName) { return FindInterpreter(sExeFileName) != nullptr; }

std::string_view ChooseScript(std::string_view sExeFileName, const std::vector<std::string_view>& args) {
  const InterpreterRules* pRules = FindInterpreter(sExeFileName);
  if (pRules == nullptr) return {};
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string_view sArg = args[i];
    if (sArg == "--") {
      // What follows is the script, whatever it looks like; "-" is still standard input.
      return i + 1 < args.size() && args[i + 1] != "-" ? args[i + 1] : std::string_view{};
    }
    if (sArg == "-") return {};
    if (sArg.starts_with("--")) {
      const std::string_view sName = sArg.substr(0, sArg.find('='));
      if (Contains(pRules->longNoFile, sName)) return {};
      if (sName.size() == sArg.size() && Contains(pRules->longValue, sName)) ++i;
      continue;
    }
    const bool blOption = sArg.size() > 1 && (sArg[0] == '-' || (sArg[0] == '+' && pRules->blPlusOptions));
    if (!blOption) return sArg;
    if (Contains(pRules->longValue, sArg)) {  // a long option with one dash ("-encoding")
      ++i;
      continue;
    }
    // A cluster of letters: "-Bm module", "-ec code", "-W ignore", "-Wignore".
    for (std::size_t j = 1; j < sArg.size(); ++j) {
      const char ch = sArg[j];
      const bool blRest = j + 1 < sArg.size();
      if (Has(pRules->sNoFileOptions, ch)) return {};
      if (pRules->chModuleOption != 0 && ch == pRules->chModuleOption) {
        if (blRest) return sArg.substr(j + 1);
        return i + 1 < args.size() ? args[i + 1] : std::string_view{};
      }
      if (Has(pRules->sValueOptions, ch)) {
        if (!blRest) ++i;
        break;
      }
      if (Has(pRules->sAttachedOptions, ch)) break;
    }
  }
  return {};
}

}  // namespace orb::platform

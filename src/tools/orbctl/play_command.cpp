// orbctl play: runs the command engine on a profile table and a script of control events,
// and prints every key event with its time. A user checks a profile without hardware; the
// tests check the engine end to end.
#include "tools/orbctl/play_command.h"

#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "base/bounded_read.h"
#include "profiles/default_tables.h"
#include "profiles/profile_table.h"
#include "tools/orbctl/play_script.h"
#include "tools/orbctl/play_session.h"

namespace orb::orbctl {
namespace {

constexpr const char* kUsage =
    "usage: orbctl play [--table FILE] [--lang en|ja] [--log] SCRIPT|-\n"
    "A script is at most 1 MiB, and its waits add up to at most 3600000 ms (an hour).\n";
static_assert(play::kMaxScriptBytes == 1024 * 1024 && play::kMaxScriptMs == 3600000, "the usage states the limits");

constexpr ReadLimit kScriptLimit{play::kMaxScriptBytes, "a play script"};

int Usage(const char* pWhy) {
  std::fprintf(stderr, "orbctl play: %s\n%s", pWhy, kUsage);
  return 2;
}

// "-" is standard input, which may be a pipe; a named script must be a regular file.
bool ReadScript(const std::string& path, std::string& text, std::string& why) {
  std::vector<std::uint8_t> bytes;
  const bool blRead = path == "-" ? ReadToEnd(STDIN_FILENO, kScriptLimit, bytes, why)
                                  : ReadRegularFile(path.c_str(), kScriptLimit, bytes, why);
  text.assign(bytes.begin(), bytes.end());
  return blRead;
}

// Profile references are checked against the table before anything runs.
bool ResolveProfiles(std::vector<play::PlayStep>& steps, const std::vector<ProfileRecord>& table,
                     const std::string& scriptName) {
  for (const play::PlayStep& step : steps) {
    if (step.kind == play::StepKind::ProfileIndex && step.nNumber >= table.size()) {
      std::fprintf(stderr, "orbctl play: %s:%d: profile %u: the table has %zu records\n", scriptName.c_str(),
                   step.nLine, step.nNumber, table.size());
      return false;
    }
    if (step.kind == play::StepKind::ProfileExe && play::FindProfile(table, step.sText) < 0) {
      std::fprintf(stderr, "orbctl play: %s:%d: no record of the table names the executable %s\n",
                   scriptName.c_str(), step.nLine, step.sText.c_str());
      return false;
    }
  }
  return true;
}

}  // namespace

int RunPlayCommand(const Args& args) {
  std::string tablePath;
  std::string scriptPath;
  UiLanguage language = UiLanguage::English;
  bool blLog = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--table" || arg == "--lang") {
      if (i + 1 == args.size()) {
        return Usage((arg + " needs a value").c_str());
      }
      const std::string& value = args[++i];
      if (arg == "--table") {
        tablePath = value;
      } else if (value == "en") {
        language = UiLanguage::English;
      } else if (value == "ja") {
        language = UiLanguage::Japanese;
      } else {
        return Usage("--lang is en or ja");
      }
    } else if (arg == "--log") {
      blLog = true;
    } else if (arg == "-h" || arg == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (arg.size() > 1 && arg[0] == '-' && arg != "-") {
      return Usage(("unknown option " + arg).c_str());
    } else if (scriptPath.empty()) {
      scriptPath = arg;
    } else {
      return Usage("one script only");
    }
  }
  if (scriptPath.empty()) {
    return Usage("no script");
  }

  std::vector<ProfileRecord> table;
  if (tablePath.empty()) {
    table = ReadProfileTable(DefaultTable(language));
  } else {
    std::vector<std::uint8_t> bytes;
    std::string why;
    if (!LoadTableFile(tablePath, bytes, &why)) {
      std::fprintf(stderr, "orbctl play: cannot read the table %s: %s\n", tablePath.c_str(), why.c_str());
      return 2;
    }
    table = ReadProfileTable(bytes);
  }

  std::string text;
  std::string why;
  if (!ReadScript(scriptPath, text, why)) {
    std::fprintf(stderr, "orbctl play: cannot read the script %s: %s\n", scriptPath.c_str(), why.c_str());
    return 2;
  }
  std::vector<play::PlayStep> steps;
  play::PlayScriptError error;
  if (!play::ParsePlayScript(text, steps, error)) {
    std::fprintf(stderr, "orbctl play: %s:%d: %s\n", scriptPath.c_str(), error.nLine, error.sReason.c_str());
    return 2;
  }
  if (!ResolveProfiles(steps, table, scriptPath)) {
    return 2;
  }

  play::PlaySession session(std::move(table), blLog, [](const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
  });
  if (!session.Start()) {
    std::fprintf(stderr, "orbctl play: the simulated controller could not be opened\n");
    return 2;
  }
  for (const play::PlayStep& step : steps) {
    switch (step.kind) {
      case play::StepKind::ProfileIndex:
        session.SelectProfile(static_cast<int>(step.nNumber));
        break;
      case play::StepKind::ProfileExe:
        session.SelectProfile(session.FindProfile(step.sText));
        break;
      case play::StepKind::ProfileNone:
        session.SelectProfile(-1);
        break;
      case play::StepKind::Self:
        session.SetSelf(step.nNumber != 0);
        break;
      case play::StepKind::Report:
        session.QueueReport(step.report);
        break;
      case play::StepKind::Wait:
        session.Wait(step.nNumber);
        break;
      case play::StepKind::Unplug:
        session.Unplug();
        break;
      case play::StepKind::Plug:
        session.Plug();
        break;
    }
  }
  session.Finish();
  return 0;  // standard output is checked where the program ends
}

}  // namespace orb::orbctl

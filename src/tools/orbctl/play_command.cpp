// orbctl play: runs the command engine on a profile table and a script of control events,
// and prints every key event with its time. A user checks a profile without hardware; the
// tests check the engine end to end.
#include "tools/orbctl/play_command.h"

#include <cstdio>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "profiles/default_tables.h"
#include "profiles/profile_table.h"
#include "tools/orbctl/play_script.h"
#include "tools/orbctl/play_session.h"

namespace orb::orbctl {
namespace {

constexpr const char* kUsage = "usage: orbctl play [--table FILE] [--lang en|ja] [--log] SCRIPT|-\n";

int Usage(const char* pWhy) {
  std::fprintf(stderr, "orbctl play: %s\n%s", pWhy, kUsage);
  return 2;
}

bool ReadScript(const std::string& path, std::string& text) {
  if (path == "-") {
    text.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
    return true;
  }
  std::FILE* pFile = std::fopen(path.c_str(), "rb");
  if (pFile == nullptr) {
    return false;
  }
  char buffer[4096];
  std::size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, pFile)) > 0) {
    text.append(buffer, n);
  }
  const bool blOk = std::ferror(pFile) == 0;
  std::fclose(pFile);
  return blOk;
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
    if (!LoadTableFile(tablePath, bytes)) {
      std::fprintf(stderr, "orbctl play: cannot read the table %s\n", tablePath.c_str());
      return 2;
    }
    table = ReadProfileTable(bytes);
  }

  std::string text;
  if (!ReadScript(scriptPath, text)) {
    std::fprintf(stderr, "orbctl play: cannot read the script %s\n", scriptPath.c_str());
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
  std::fflush(stdout);
  return 0;
}

}  // namespace orb::orbctl

// Arbitrary `orbctl play` scripts run through the real engine: any report bytes through
// the decoder and the translation, plugging and unplugging at any moment, on virtual
// time. Catches crashes, undefined behaviour, and hangs of the virtual-time driving.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "profiles/profile_record.h"
#include "tools/orbctl/play_script.h"
#include "tools/orbctl/play_session.h"

namespace {

std::vector<orb::ProfileRecord> Table() {
  std::vector<orb::ProfileRecord> table(2);
  std::memset(table.data(), 0, table.size() * sizeof(orb::ProfileRecord));
  table[0].dwFlags = orb::PF_DECK | orb::PF_DECKFILE | orb::PF_JOGSHUTTLE | (1u << orb::PF_JOGRES_SHIFT) |
                     (2u << orb::PF_SHTLRES_SHIFT);
  table[1].dwFlags = orb::PF_JOG;
  for (orb::ProfileRecord& record : table) {
    for (int k = 0; k < orb::kControlEntries; ++k) {
      // Every other entry repeats; some with a pause, some empty.
      const orb::KeyStroke keys[orb::kKeysPerCommand] = {
          k % 5 == 4 ? 0u : static_cast<orb::KeyStroke>(0x41 + k) | (k % 3 == 0 ? orb::KS_CTRL : 0u),
          k % 4 == 1 ? (0x25u | (1u << orb::KS_PAUSE_SHIFT)) : 0u, 0, 0, 0};
      for (orb::KeyCommand* pCommand : {&record.entries[k].deck, &record.entries[k].file}) {
        std::memcpy(reinterpret_cast<char*>(pCommand) + offsetof(orb::KeyCommand, keys), keys, sizeof keys);
        pCommand->dwOption = k % 2;
      }
    }
  }
  std::strcpy(table[1].szExeName, "B.EXE");
  return table;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pData, std::size_t nSize) {
  using namespace orb::play;
  std::vector<PlayStep> steps;
  PlayScriptError error;
  if (!ParsePlayScript(std::string_view(reinterpret_cast<const char*>(pData), nSize), steps, error)) {
    return 0;
  }
  // Bounded runs: a long wait with a repeating command is many steps of virtual time.
  std::uint64_t nTotalWait = 0;
  for (const PlayStep& step : steps) {
    if (step.kind == StepKind::Wait) {
      nTotalWait += step.nNumber;
    }
    if (step.kind == StepKind::ProfileIndex && step.nNumber >= 2) {
      return 0;
    }
  }
  if (steps.size() > 64 || nTotalWait > 5000) {
    return 0;
  }
  std::size_t nLines = 0;
  PlaySession session(Table(), true, [&](const std::string&) { ++nLines; });
  if (!session.Start()) {
    __builtin_trap();
  }
  for (const PlayStep& step : steps) {
    switch (step.kind) {
      case StepKind::ProfileIndex:
        session.SelectProfile(static_cast<int>(step.nNumber));
        break;
      case StepKind::ProfileExe:
        session.SelectProfile(session.FindProfile(step.sText));
        break;
      case StepKind::ProfileNone:
        session.SelectProfile(-1);
        break;
      case StepKind::Self:
        session.SetSelf(step.nNumber != 0);
        break;
      case StepKind::Report:
        session.QueueReport(step.report);
        break;
      case StepKind::Wait:
        session.Wait(step.nNumber);
        break;
      case StepKind::Unplug:
        session.Unplug();
        break;
      case StepKind::Plug:
        session.Plug();
        break;
    }
  }
  session.Finish();
  return 0;
}

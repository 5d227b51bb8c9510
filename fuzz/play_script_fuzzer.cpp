// The `orbctl play` script parser on arbitrary bytes: no crash, no undefined behaviour,
// and every step it accepts is within the bounds the session relies on.
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "tools/orbctl/play_script.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pData, std::size_t nSize) {
  using namespace orb::play;
  std::vector<PlayStep> steps;
  PlayScriptError error;
  const std::string_view text(reinterpret_cast<const char*>(pData), nSize);
  if (!ParsePlayScript(text, steps, error)) {
    if (error.nLine < 1 || error.sReason.empty()) {
      __builtin_trap();
    }
    return 0;
  }
  int nLastLine = 0;
  for (const PlayStep& step : steps) {
    if (step.nLine <= nLastLine) {
      __builtin_trap();
    }
    nLastLine = step.nLine;
    switch (step.kind) {
      case StepKind::Report:
        if (step.report.empty() || step.report.size() > kMaxRawReport) {
          __builtin_trap();
        }
        break;
      case StepKind::Wait:
        if (step.nNumber > kMaxWaitMs) {
          __builtin_trap();
        }
        break;
      case StepKind::Self:
        if (step.nNumber > 1) {
          __builtin_trap();
        }
        break;
      case StepKind::ProfileExe:
        if (step.sText.empty() || step.sText.size() > 260) {
          __builtin_trap();
        }
        break;
      default:
        break;
    }
  }
  return 0;
}

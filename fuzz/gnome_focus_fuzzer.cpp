// The shell extension's focus reports as the GNOME tracker reads them: what comes out must
// be a window with a sane pid and a class fit for a log line, or nothing with a reason.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/foreground/gnome_focus.h"

using namespace orb::platform;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pData, std::size_t nSize) {
  const std::string_view payload(reinterpret_cast<const char*>(pData), nSize);
  std::string reason;
  const auto report = gnome::ParseFocusPayload(payload, &reason);
  if (!report) {
    if (reason.empty()) __builtin_trap();
    return 0;
  }
  if (report->window.nPid < 0) __builtin_trap();
  if (report->window.nWindow == 0 && (report->window.nPid != 0 || !report->wmClass.empty())) __builtin_trap();
  if (report->wmClass.size() > gnome::kMaxClassBytes) __builtin_trap();
  for (const char c : report->wmClass) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) __builtin_trap();
  }
  return 0;
}

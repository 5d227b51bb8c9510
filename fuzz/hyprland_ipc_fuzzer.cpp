// Hyprland's sockets as the tracker reads them: the input up to its first NUL is the event
// stream, cut into lines; the rest is a request's answer. Every address an event names is
// looked up in that answer, and the answer is read as the active window too. What comes
// out must be a window with a sane pid, or nothing.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/foreground/hyprland_ipc.h"

using namespace orb::platform;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pData, std::size_t nSize) {
  const std::string_view whole(reinterpret_cast<const char*>(pData), nSize);
  const std::size_t nSplit = whole.find('\0');
  std::string_view events = whole.substr(0, nSplit);
  const std::string_view answer = nSplit == std::string_view::npos ? whole : whole.substr(nSplit + 1);

  while (!events.empty()) {
    const std::size_t nEnd = events.find('\n');
    const std::string_view line = events.substr(0, nEnd);
    events.remove_prefix(nEnd == std::string_view::npos ? events.size() : nEnd + 1);
    const auto event = hyprland::ParseEventLine(line);
    if (!event) continue;
    if (event->name.empty() || event->name.size() + 2 + event->data.size() != line.size()) __builtin_trap();
    const auto nAddress = hyprland::ActiveWindowAddress(event->data);
    if (!nAddress) continue;
    if (*nAddress != 0 && (event->data.empty() || event->data == ",")) __builtin_trap();
    const auto nPid = hyprland::PidOfWindow(answer, *nAddress);
    if (nPid && *nPid < 0) __builtin_trap();
    if (nPid && *nAddress == 0) __builtin_trap();
  }
  for (const std::string_view text : {answer, whole}) {
    const auto active = hyprland::ActiveWindowOf(text);
    if (active && active->nPid < 0) __builtin_trap();
    if (active && active->nWindow == 0 && active->nPid != 0) __builtin_trap();
  }
  return 0;
}

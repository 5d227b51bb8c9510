// sway's IPC messages as the tracker reads them: a stream of headers and payloads, each
// payload handed to the parser its type calls for, and the tree and event parsers on the
// whole input too. What comes out must be a window with a sane pid, or nothing.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "platform/foreground/sway_ipc.h"

using namespace orb::platform;

namespace {

void Check(const std::optional<ForegroundWindow>& window) {
  if (window && window->nPid < 0) __builtin_trap();
  if (window && window->nWindow == 0 && window->nPid != 0) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pData, std::size_t nSize) {
  const std::string_view whole(reinterpret_cast<const char*>(pData), nSize);
  const ForegroundWindow before{6, 4242};
  Check(sway::FocusedInTree(whole));
  Check(sway::FrontAfterEvent(sway::kEventWindow, whole, before));
  Check(sway::FrontAfterEvent(sway::kEventWorkspace, whole, before));
  (void)sway::SubscribeSucceeded(whole);

  std::span<const std::uint8_t> rest(pData, nSize);
  while (rest.size() >= sway::kHeaderBytes) {
    std::string reason;
    const auto header = sway::ParseHeader(rest, &reason);
    if (!header) {
      if (reason.empty()) __builtin_trap();
      break;
    }
    if (header->nLength > sway::kMaxPayloadBytes) __builtin_trap();
    if (rest.size() - sway::kHeaderBytes < header->nLength) break;
    const std::string_view payload(reinterpret_cast<const char*>(rest.data() + sway::kHeaderBytes), header->nLength);
    if (header->nType == sway::kGetTree) {
      Check(sway::FocusedInTree(payload));
    } else {
      const auto after = sway::FrontAfterEvent(header->nType, payload, before);
      Check(after);
      if (after && header->nType != sway::kEventWindow && header->nType != sway::kEventWorkspace) __builtin_trap();
    }
    rest = rest.subspan(sway::kHeaderBytes + header->nLength);
  }
  return 0;
}

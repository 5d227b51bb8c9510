#pragma once
// Waits, for a while at most, until the compositor has handled everything sent so far on a
// connection. A compositor that sees our hang-up together with our last requests may drop
// them unread: the releases at the end must have been taken before we go. For the key
// sinks that speak Wayland (the virtual keyboard, KWin's fake_input).

#include <poll.h>
#include <wayland-client-core.h>

#include <chrono>

namespace orb::platform {

inline void SettleWaylandConnection(wl_display* pDisplay, int nTimeoutMs) {
  bool blDone = false;
  static constexpr wl_callback_listener kDone{
      [](void* pData, wl_callback*, std::uint32_t) { *static_cast<bool*>(pData) = true; }};
  wl_callback* pCallback = wl_display_sync(pDisplay);
  wl_callback_add_listener(pCallback, &kDone, &blDone);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(nTimeoutMs);
  while (!blDone && wl_display_flush(pDisplay) >= 0) {
    if (wl_display_prepare_read(pDisplay) != 0) {
      // Events already queued: handle them, the answer may be among them.
      if (wl_display_dispatch_pending(pDisplay) < 0) break;
      continue;
    }
    const auto nLeft =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    pollfd waiter{wl_display_get_fd(pDisplay), POLLIN, 0};
    if (nLeft <= 0 || ::poll(&waiter, 1, static_cast<int>(nLeft)) <= 0) {
      wl_display_cancel_read(pDisplay);
      break;
    }
    if (wl_display_read_events(pDisplay) < 0 || wl_display_dispatch_pending(pDisplay) < 0) break;
  }
  wl_callback_destroy(pCallback);
}

}  // namespace orb::platform

#pragma once
// How the core reaches the window: worker threads post, never call into the UI. The Qt
// window implements this by posting a custom event to itself; tests record.

#include <cstdint>

namespace orb {

inline constexpr std::uint32_t WM_USER = 0x400;
inline constexpr std::uint32_t WM_TRAYNOTIFY = WM_USER + 10;    // 1034
inline constexpr std::uint32_t WM_MODECHANGE = WM_USER + 11;    // 1035
inline constexpr std::uint32_t WM_SELECTPROFILE = WM_USER + 12; // 1036
inline constexpr std::uint32_t WM_SELECTCONTROL = WM_USER + 14; // 1038
inline constexpr std::uint32_t WM_DEVICEREMOVED = WM_USER + 15; // 1039
// The wheel moved while our own window is in front (the wheel's speed test): wParam 0,
// lParam the report's signed movement.
inline constexpr std::uint32_t WM_WHEELMOVED = WM_USER + 16;    // 1040

class MessageTarget {
 public:
  MessageTarget() = default;
  MessageTarget(const MessageTarget&) = delete;
  MessageTarget& operator=(const MessageTarget&) = delete;
  virtual ~MessageTarget() = default;

  // Queues the message for the window's thread and returns at once; safe from any thread.
  virtual void Post(std::uint32_t nMsg, std::uintptr_t wParam, std::intptr_t lParam) = 0;
};

}  // namespace orb

#pragma once
// What Hyprland's sockets say about the window in front, as bytes in and meaning out (no
// socket here, so that every case can be tested and fuzzed):
//
// - the event socket (.socket2.sock) sends lines "EVENT>>DATA"; "activewindowv2>>ADDRESS"
//   names the window now in front by its address, in hex without "0x", or nothing;
// - the request socket (.socket.sock) answers "j/clients" with a JSON array of windows and
//   "j/activewindow" with the window in front as one JSON object ({} when none), each with
//   its "address" ("0x..." hex) and its "pid".

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foreground/foreground_tracker.h"

namespace orb::platform::hyprland {

// Longer lines are not Hyprland's events worth reading (a title runs to some hundred
// bytes); the tracker drops them whole.
inline constexpr std::size_t kMaxLineBytes = 64 * 1024;
// The largest request answer read (every window of a busy session fits many times).
inline constexpr std::size_t kMaxReplyBytes = 8 * 1024 * 1024;

struct Event {
  std::string_view name;
  std::string_view data;
};

// One line without its newline, split at the first ">>". Null when there is none.
std::optional<Event> ParseEventLine(std::string_view line);

// The window an activewindowv2 event names: its address, 0 for no window. Null when the
// data is no address.
std::optional<std::uint64_t> ActiveWindowAddress(std::string_view data);

// The pid of the window at nAddress in a j/clients answer; 0 when it is listed without a
// usable pid. Null when the answer is not understood or does not list that window.
std::optional<int> PidOfWindow(std::string_view clientsJson, std::uint64_t nAddress);

// The window in front from a j/activewindow answer ({} gives no window). Null when the
// answer is not understood.
std::optional<ForegroundWindow> ActiveWindowOf(std::string_view activeJson);

}  // namespace orb::platform::hyprland

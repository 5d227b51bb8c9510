#pragma once
// What our GNOME Shell extension says about the window in front (resources/gnome-shell):
// one JSON string per focus change, {"v":1,"seq":N,"window":ID,"pid":PID,"wmClass":"..."}. Text
// only, no bus: the tracker receives, this decides. The text comes from another process
// and is handled as untrusted.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foreground/foreground_tracker.h"

namespace orb::platform::gnome {

// The bus names the extension and the tracker agree on.
inline constexpr const char* kShellName = "org.gnome.Shell";
inline constexpr const char* kFocusPath = "/jp/tarn/OrbFocus";
inline constexpr const char* kFocusInterface = "jp.tarn.OrbFocus";

// Far above any real report; a longer one is refused unread.
inline constexpr std::size_t kMaxPayloadBytes = 64 * 1024;
// The class is only for the log.
inline constexpr std::size_t kMaxClassBytes = 256;

struct FocusReport {
  std::uint64_t nSequence = 0;  // counts the extension's reports; 0 when not said
  ForegroundWindow window;      // nStartTime stays 0: the tracker adds it
  std::string wmClass;      // at most kMaxClassBytes, control characters replaced
};

// Null, with the reason, when the text is not such a report. A window id of 0 is "no
// window in front" and then carries no pid; a pid that is no process id is kept as 0.
std::optional<FocusReport> ParseFocusPayload(std::string_view payload, std::string* pReason);

}  // namespace orb::platform::gnome

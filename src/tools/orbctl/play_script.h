#pragma once
// The script of `orbctl play`: one command a line, '#' starts a comment.
//   profile N | profile EXE | profile none     choose the current profile
//   self on | self off                         a window of this program is in front, or not
//   button U | buttons U1 U2 ... | release     a button report with those usages down
//   wheel V                                    a wheel report, V from -127 to 127
//   raw HEX                                    any input report, hex bytes
//   wait MS                                    time passes while the threads run
//   unplug | plug                              the controller goes, or comes back
// Scripts come from users: nothing in them is trusted.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace orb::play {

enum class StepKind { ProfileIndex, ProfileExe, ProfileNone, Self, Report, Wait, Unplug, Plug };

struct PlayStep {
  StepKind kind;
  int nLine;                          // 1-based, for messages
  std::uint32_t nNumber = 0;          // ProfileIndex: the record; Wait: ms; Self: 1 on, 0 off
  std::string sText;                  // ProfileExe: the executable name
  std::vector<std::uint8_t> report;   // Report: the input report's bytes, id first
};

struct PlayScriptError {
  int nLine = 0;
  std::string sReason;
};

inline constexpr int kMaxUsage = 14;                   // the controller's buttons
inline constexpr std::size_t kMaxRawReport = 64;
// The virtual time a whole script may pass, and so one wait too. The engine runs on real
// threads while virtual time passes, and a repeating command prints some six lines a
// virtual second: an hour is some 20,000 lines and two seconds of real time.
inline constexpr std::uint32_t kMaxScriptMs = 3600000;
inline constexpr std::uint32_t kMaxWaitMs = kMaxScriptMs;
// A script is read whole; a thousand times any scenario's size.
inline constexpr std::size_t kMaxScriptBytes = 1024 * 1024;

// False with the first bad line and why; also when the waits add up to more than
// kMaxScriptMs.
bool ParsePlayScript(std::string_view text, std::vector<PlayStep>& steps, PlayScriptError& error);

// The controller's input reports: 1 with a bit per button usage 1-14 (two bytes), 2 with
// the wheel's signed byte.
std::vector<std::uint8_t> ButtonReport(const std::vector<int>& usages);
std::vector<std::uint8_t> WheelReport(int nValue);

}  // namespace orb::play

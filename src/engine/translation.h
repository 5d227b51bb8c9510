#pragma once
// Which command, if any, a control event plays: a button's entry directly, the wheel as
// a jog wheel (one command per step) or as a shuttle ring of eleven positions, each in the
// profile's DECK or FILE assignment. Runs on the device thread; the wheel-state reset
// also runs on the window thread (a new profile chosen).

#include <atomic>
#include <cstdint>
#include <optional>

#include "engine/command_buffer.h"
#include "profiles/profile_record.h"

namespace orb {

class MessageTarget;
namespace platform {
class Mutex;
}

// The wheel state that survives between reports. Shared with the window thread's reset
// without a lock, as designed; atomics keep that well-defined.
extern std::atomic<std::int16_t> iJog;      // jog accumulator
extern std::atomic<std::int16_t> iShtl;     // shuttle accumulator: units since the last step
extern std::atomic<std::int16_t> iShtlCmd;  // shuttle position 0-10, 5 the centre

inline constexpr std::int16_t kShuttleCentre = 5;
inline constexpr std::int16_t kShuttleLast = 10;

// The command of a control event, or none. *pblSelf: a window of this program is in
// front. The caller guarantees a profile unless *pblSelf is true; should the flag have
// been cleared since, an event without a profile gives none. Posts WM_USER+14
// (programmable button while our own window is in front), WM_USER+16 (wheel movement
// while our own window is in front) and WM_USER+11 (a selector).
std::optional<CommandKeys> GetCommand(std::uint8_t nKind, std::int16_t nValue, const std::atomic<bool>* pblSelf,
                                      const ProfileRecord* pProfile, MessageTarget* pWindow,
                                      std::atomic<bool>* pblRepeat, platform::Mutex* pLock);

// Without a profile: resets the wheel state and returns none (the other arguments are
// then not used).
std::optional<CommandKeys> GetWheelCommand(const ProfileRecord* pProfile, std::int16_t nDelta,
                                           std::atomic<bool>* pblRepeat, platform::Mutex* pLock);

inline void ResetWheelState() { GetWheelCommand(nullptr, 0, nullptr, nullptr); }

// The entry a wheel movement completes a step on, or null.
const ControlEntry* GetJogControl(const ProfileRecord* pProfile, std::int16_t nDelta);
const ControlEntry* GetShuttleControl(const ProfileRecord* pProfile, std::int16_t nDelta);

}  // namespace orb

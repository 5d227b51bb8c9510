#pragma once
// The one-slot command queue both worker threads play from, the repeat flag that says
// whether its command is to be played again, and the key-stroke synthesis that plays it.

#include <array>
#include <atomic>

#include "profiles/profile_record.h"

namespace orb {

namespace platform {
class Clock;
class KeySink;
class Mutex;
}  // namespace platform

using CommandKeys = std::array<KeyStroke, kKeysPerCommand>;

// Five key strokes, played in order up to the first whose virtual key is 0. Written only
// under "MUTEX POST"; PostThread looks at the first one without the lock, so each value
// is an atomic (relaxed: the lock orders everything that matters).
extern std::atomic<KeyStroke> CommandBuffer[kKeysPerCommand];

// The repeat flag: the command most recently handed out repeats. Set by the translation,
// cleared by the window (profile chosen again, device removed). The window hands its
// address to the device thread.
extern std::atomic<bool> g_blRepeatCommand;

// Where the strokes go and whose time the hold and the pauses take.
struct KeyOutput {
  platform::KeySink* pSink;
  platform::Clock* pClock;
};

inline constexpr std::uint32_t kKeyHoldMs = 100;

// Empties CommandBuffer under the lock.
void FlushCommand(platform::Mutex& lock);

// Plays CommandBuffer; the caller holds "MUTEX POST".
void PostCommand(const KeyOutput& output);

// Plays one stroke: modifiers down (Alt, Ctrl, Shift), the key down, 100 ms, the key up,
// modifiers up in reverse, then the pause.
void PostKey(KeyStroke keyStroke, const KeyOutput& output);

// Helpers for the threads (the caller holds the lock for the writers).
void CopyToCommandBuffer(const CommandKeys& keys);
void ClearCommandBuffer();
bool CommandBufferEmpty();  // first virtual key is 0; no lock needed
CommandKeys CommandBufferContents();

}  // namespace orb

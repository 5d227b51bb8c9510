#include "engine/translation.h"

#include <cstring>

#include "base/message_target.h"
#include "base/write_log.h"
#include "device/control_code.h"
#include "engine/profile_flags.h"
#include "platform/time/sync.h"

namespace orb {

std::atomic<std::int16_t> iJog{0};
std::atomic<std::int16_t> iShtl{0};
std::atomic<std::int16_t> iShtlCmd{kShuttleCentre};

namespace {

constexpr std::uint8_t kKindButtons = 1;
constexpr std::uint8_t kKindWheel = 2;

const ControlEntry& EntryOf(const ProfileRecord& profile, int nCode) { return profile.entries[nCode - kFirstControlCode]; }

const KeyCommand& CommandOf(const ControlEntry& entry, std::uint32_t dwFlags) {
  return (dwFlags & PF_DECK) != 0 ? entry.deck : entry.file;
}

CommandKeys KeysOf(const KeyCommand& command) {
  // The record is packed: copy the bytes rather than bind to its members.
  CommandKeys keys;
  std::memcpy(keys.data(), reinterpret_cast<const char*>(&command) + offsetof(KeyCommand, keys), sizeof keys);
  return keys;
}

bool Repeats(const KeyCommand& command) { return (command.dwOption & KC_OPTION_REPEAT) != 0; }

// The accumulators are 16-bit, as stored; the sum is taken wide and wraps like the
// original 16-bit arithmetic instead of overflowing.
std::int16_t Add16(std::int16_t a, std::int16_t b) { return static_cast<std::int16_t>(int{a} + int{b}); }

}  // namespace

std::optional<CommandKeys> GetCommand(std::uint8_t nKind, std::int16_t nValue, const std::atomic<bool>* pblSelf,
                                      const ProfileRecord* pProfile, MessageTarget* pWindow,
                                      std::atomic<bool>* pblRepeat, platform::Mutex* pLock) {
  if (nKind == kKindButtons) {
    const int nCode = ControlCodeForUsage(static_cast<std::uint16_t>(nValue));
    if (pblSelf->load()) {
      // No key strokes into our own windows; the programmable buttons select themselves
      // in the settings window instead (a usage without a control posts 0).
      if (nCode < CC_DECKFILE) {
        pWindow->Post(WM_SELECTCONTROL, static_cast<std::uintptr_t>(nCode), 0);
      }
      return std::nullopt;
    }
    if (nCode == 0) {
      return std::nullopt;
    }
    // The window may clear *pblSelf between the caller's look at it and ours; without a
    // profile that event is dropped as the caller would have dropped it.
    if (pProfile == nullptr) {
      return std::nullopt;
    }
    WriteLog("GetCommand: new command (Button) is set, FlushCommand to flush already recorded repeat command\r\n");
    FlushCommand(*pLock);
    const KeyCommand& command = CommandOf(EntryOf(*pProfile, nCode), LoadProfileFlags(*pProfile));
    pblRepeat->store(Repeats(command));
    if (nCode == CC_DECKFILE) {
      WriteLog("DECK/FILE Mode change\r\n");
      pWindow->Post(WM_MODECHANGE, 2, 0);
    } else if (nCode == CC_JOGSHUTTLE) {
      WriteLog("JOG/SHUTTLE Mode change\r\n");
      pWindow->Post(WM_MODECHANGE, 1, 0);
    }
    ResetWheelState();
    return KeysOf(command);
  }
  if (nKind == kKindWheel) {
    if (pblSelf->load()) {
      // Nothing plays into our own window; the window may be measuring the wheel.
      pWindow->Post(WM_WHEELMOVED, 0, nValue);
      return std::nullopt;
    }
    if (pProfile == nullptr) {
      return std::nullopt;  // no profile: not a reset of the wheel state either
    }
    return GetWheelCommand(pProfile, nValue, pblRepeat, pLock);
  }
  return std::nullopt;
}

std::optional<CommandKeys> GetWheelCommand(const ProfileRecord* pProfile, std::int16_t nDelta,
                                           std::atomic<bool>* pblRepeat, platform::Mutex* pLock) {
  if (pProfile == nullptr) {
    WriteLog("GetWheelCommand: reset\r\n");
    iJog.store(0);
    iShtl.store(0);
    iShtlCmd.store(kShuttleCentre);
    return std::nullopt;
  }
  const ControlEntry* pEntry = nullptr;
  if ((LoadProfileFlags(*pProfile) & PF_JOG) != 0) {
    iShtl.store(0);
    iShtlCmd.store(kShuttleCentre);
    pEntry = GetJogControl(pProfile, nDelta);
  } else {
    iJog.store(0);
    pEntry = GetShuttleControl(pProfile, nDelta);
  }
  if (pEntry == nullptr) {
    return std::nullopt;
  }
  pblRepeat->store(false);
  WriteLog("GetCommand: new command (Wheel) is set, FlushCommand to flush already recorded repeat command\r\n");
  FlushCommand(*pLock);
  const KeyCommand& command = CommandOf(*pEntry, LoadProfileFlags(*pProfile));
  pblRepeat->store(Repeats(command));
  return KeysOf(command);
}

const ControlEntry* GetJogControl(const ProfileRecord* pProfile, std::int16_t nDelta) {
  const std::int16_t nJog = Add16(iJog.load(), nDelta);
  iJog.store(nJog);
  const int iRes = static_cast<int>(JogResolution(LoadProfileFlags(*pProfile)));
  WriteLog("GetJogControl: iJog : %d, iRes : %d\r\n", nJog, iRes);
  if (-iRes < nJog && nJog < iRes) {
    return nullptr;
  }
  iJog.store(0);
  // The report that completes the step gives its direction; a fast spin reports -2 or less.
  return &EntryOf(*pProfile, nDelta < 0 ? CC_JOG_BACK : CC_JOG_FORE);
}

const ControlEntry* GetShuttleControl(const ProfileRecord* pProfile, std::int16_t nDelta) {
  std::int16_t nShtl = iShtl.load();
  if ((nShtl < 0 && nDelta > 0) || (nShtl > 0 && nDelta < 0)) {
    nShtl = 0;  // a change of direction starts the count afresh
  }
  nShtl = Add16(nShtl, nDelta);
  iShtl.store(nShtl);
  const std::uint32_t dwFlags = LoadProfileFlags(*pProfile);
  const int nThreshold = static_cast<int>(ShuttleResolution(dwFlags));
  if (-nThreshold < nShtl && nShtl < nThreshold) {
    return nullptr;
  }
  iShtl.store(0);

  // As for the jog: the sign of the completing report, whatever its size.
  const int nDirection = nDelta < 0 ? 0 : 1;
  const int nStep = nDelta < 0 ? -1 : 1;
  int nPosition = iShtlCmd.load() + nStep;
  // At the ends of the ring nothing plays and nothing is flushed: a repeating command of
  // the end position goes on.
  if (nPosition > kShuttleLast) {
    iShtlCmd.store(kShuttleLast);
    return nullptr;
  }
  if (nPosition < 0) {
    iShtlCmd.store(0);
    return nullptr;
  }
  const KeyCommand& target = CommandOf(EntryOf(*pProfile, CC_SHUTTLE_FIRST + 2 * nPosition + nDirection), dwFlags);
  if (KeyStrokeVirtualKey(KeysOf(target)[0]) == 0) {
    nPosition -= nStep;  // nothing assigned there: the shuttle cannot enter that position
  }
  iShtlCmd.store(static_cast<std::int16_t>(nPosition));
  WriteLog("iShtlCmd : %d %s\r\n", nPosition - kShuttleCentre, nDirection == 0 ? "Left" : "Right");
  return &EntryOf(*pProfile, CC_SHUTTLE_FIRST + 2 * nPosition + nDirection);
}

}  // namespace orb

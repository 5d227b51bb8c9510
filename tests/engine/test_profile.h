#pragma once
// Profiles built in code for the engine's tests, and a window that records what is
// posted to it.

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <vector>

#include "base/message_target.h"
#include "profiles/profile_record.h"

namespace orb::test {

inline constexpr std::uint16_t VK_LEFT = 0x25;
inline constexpr std::uint16_t VK_RIGHT = 0x27;

inline KeyStroke Key(std::uint16_t nVk, std::uint32_t dwModifiers = 0, unsigned nPause = 0) {
  return KeyStroke{nVk} | dwModifiers | (nPause << KS_PAUSE_SHIFT);
}

inline std::uint32_t Flags(std::uint32_t dwBits, unsigned nJogRes, unsigned nShuttleRes) {
  return dwBits | (nJogRes << PF_JOGRES_SHIFT) | (nShuttleRes << PF_SHTLRES_SHIFT);
}

// A zeroed record on the heap, so that dwFlags is aligned for atomic_ref.
class TestProfile {
 public:
  explicit TestProfile(std::uint32_t dwFlags = 0) : m_pRecord(std::make_unique<ProfileRecord>()) {
    std::memset(m_pRecord.get(), 0, sizeof(ProfileRecord));
    m_pRecord->dwFlags = dwFlags;
  }
  ProfileRecord* operator->() { return m_pRecord.get(); }
  ProfileRecord* Get() { return m_pRecord.get(); }

  // Sets the deck and file command of code nCode (601-638).
  TestProfile& Both(int nCode, std::initializer_list<KeyStroke> keys, bool blRepeat = false) {
    Deck(nCode, keys, blRepeat);
    return File(nCode, keys, blRepeat);
  }
  TestProfile& Deck(int nCode, std::initializer_list<KeyStroke> keys, bool blRepeat = false) {
    Set(m_pRecord->entries[nCode - kFirstControlCode].deck, keys, blRepeat);
    return *this;
  }
  TestProfile& File(int nCode, std::initializer_list<KeyStroke> keys, bool blRepeat = false) {
    Set(m_pRecord->entries[nCode - kFirstControlCode].file, keys, blRepeat);
    return *this;
  }

 private:
  static void Set(KeyCommand& command, std::initializer_list<KeyStroke> keys, bool blRepeat) {
    KeyStroke strokes[kKeysPerCommand] = {};
    int i = 0;
    for (const KeyStroke k : keys) {
      strokes[i++] = k;
    }
    std::memcpy(reinterpret_cast<char*>(&command) + offsetof(KeyCommand, keys), strokes, sizeof strokes);
    command.dwOption = blRepeat ? KC_OPTION_REPEAT : 0;
  }

  std::unique_ptr<ProfileRecord> m_pRecord;
};

class RecordingWindow final : public MessageTarget {
 public:
  struct Posted {
    std::uint32_t nMsg;
    std::uintptr_t wParam;
    std::intptr_t lParam;
    bool operator==(const Posted&) const = default;
  };
  void Post(std::uint32_t nMsg, std::uintptr_t wParam, std::intptr_t lParam) override {
    std::lock_guard lock(m_m);
    m_posted.push_back({nMsg, wParam, lParam});
  }
  std::vector<Posted> Messages() {
    std::lock_guard lock(m_m);
    return m_posted;
  }

 private:
  std::mutex m_m;
  std::vector<Posted> m_posted;
};

}  // namespace orb::test

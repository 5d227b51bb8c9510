#pragma once
// dwFlags of a live profile record is written by the window thread (mode toggles) while
// the device thread reads it: every access from the engine goes through atomic_ref. The
// records of a table sit at multiples of 5008 bytes from a suitably aligned block, so the
// field is 4-byte aligned as atomic_ref requires.

#include <atomic>
#include <cassert>
#include <cstddef>
#include <cstdint>

#include "profiles/profile_record.h"

namespace orb {

inline std::atomic_ref<std::uint32_t> ProfileFlagsRef(const ProfileRecord& record) {
  // A packed member cannot bind to a reference directly; its address can be taken.
  auto* pFlags = reinterpret_cast<std::uint32_t*>(
      const_cast<char*>(reinterpret_cast<const char*>(&record)) + offsetof(ProfileRecord, dwFlags));
  assert(reinterpret_cast<std::uintptr_t>(pFlags) % std::atomic_ref<std::uint32_t>::required_alignment == 0);
  return std::atomic_ref<std::uint32_t>(*pFlags);
}

inline std::uint32_t LoadProfileFlags(const ProfileRecord& record) {
  return ProfileFlagsRef(record).load(std::memory_order_relaxed);
}

inline void StoreProfileFlags(ProfileRecord& record, std::uint32_t dwFlags) {
  ProfileFlagsRef(record).store(dwFlags, std::memory_order_relaxed);
}

}  // namespace orb

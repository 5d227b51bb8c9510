#pragma once
// What stands where the worker threads' kernel objects stood: manual-reset events and a
// mutex with timed waits, found by name inside the process. Every wait goes through the
// object's Clock, so timeouts run on virtual time where the engine does.

#include <cstdint>
#include <memory>
#include <mutex>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/time/clock.h"

namespace orb::platform {

inline constexpr std::uint32_t kInfinite = 0xFFFFFFFFu;

// Manual reset: once set, every wait returns until Reset. While set, Fd() (an eventfd)
// is readable, so a poll can wait for the event beside a device; reading the fd does not
// reset the event.
class Event final {
 public:
  explicit Event(Clock& clock, bool blInitial = false);
  ~Event();
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;

  void Set();
  void Reset();
  bool IsSet() const;
  // True when set, false when nTimeoutMs passed first.
  bool Wait(std::uint32_t nTimeoutMs = kInfinite);
  // -1 when the system gave no eventfd (then the event still works, only not for poll).
  int Fd();

 private:
  Clock& m_clock;
  mutable std::mutex m_m;
  bool m_blSet;
  bool m_blFdShared = false;
  int m_hFd;
  std::vector<ParkToken*> m_waiters;
};

// Not recursive; the thread that locked it unlocks it. Waiting threads are woken in the
// order they came, and the first to run takes it.
class Mutex final {
 public:
  explicit Mutex(Clock& clock);
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;

  // False when nTimeoutMs passed before the mutex was free.
  bool Lock(std::uint32_t nTimeoutMs = kInfinite);
  void Unlock();

 private:
  Clock& m_clock;
  std::mutex m_m;
  bool m_blLocked = false;
  std::thread::id m_owner;
  std::vector<ParkToken*> m_waiters;
};

// Named objects, as the kernel's were: the first Create makes the object (with the
// creator's clock), later Creates and Opens return the same object, and it goes away
// when the last holder lets go. A name held by the other kind of object cannot be
// created or opened (null). *pblExisted tells whether Create found the object.
std::shared_ptr<Event> CreateNamedEvent(std::string_view name, Clock& clock, bool blInitial = false,
                                        bool* pblExisted = nullptr);
std::shared_ptr<Event> OpenNamedEvent(std::string_view name);
std::shared_ptr<Mutex> CreateNamedMutex(std::string_view name, Clock& clock, bool* pblExisted = nullptr);
std::shared_ptr<Mutex> OpenNamedMutex(std::string_view name);

}  // namespace orb::platform

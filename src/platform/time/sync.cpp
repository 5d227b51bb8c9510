#include "platform/time/sync.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <string>

#include <sys/eventfd.h>
#include <unistd.h>

#include "base/write_log.h"

namespace orb::platform {
namespace {

std::uint64_t DeadlineOf(const Clock& clock, std::uint32_t nTimeoutMs) {
  return nTimeoutMs == kInfinite ? kNoDeadline : clock.NowUs() + std::uint64_t{nTimeoutMs} * 1000u;
}

void Forget(std::vector<ParkToken*>& waiters, ParkToken* pToken) {
  waiters.erase(std::find(waiters.begin(), waiters.end(), pToken));
}

}  // namespace

Event::Event(Clock& clock, bool blInitial)
    : m_clock(clock), m_blSet(blInitial), m_hFd(::eventfd(blInitial ? 1 : 0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  if (m_hFd < 0) {
    WriteLog("Event: eventfd failed: %s\r\n", std::strerror(errno));
  }
}

Event::~Event() {
  if (m_hFd >= 0) {
    ::close(m_hFd);
  }
}

void Event::Set() {
  std::lock_guard lock(m_m);
  if (!m_blSet) {
    m_blSet = true;
    if (m_blFdShared) {
      m_clock.NoteOutsideWake();  // before the fd turns readable, so the note is never late
    }
    if (m_hFd >= 0) {
      const std::uint64_t nOne = 1;
      [[maybe_unused]] const ssize_t n = ::write(m_hFd, &nOne, sizeof nOne);
    }
  }
  for (ParkToken* pToken : m_waiters) {
    m_clock.Unpark(*pToken);
  }
}

void Event::Reset() {
  std::lock_guard lock(m_m);
  if (m_blSet) {
    m_blSet = false;
    if (m_hFd >= 0) {
      std::uint64_t nCount = 0;
      [[maybe_unused]] const ssize_t n = ::read(m_hFd, &nCount, sizeof nCount);
    }
  }
}

bool Event::IsSet() const {
  std::lock_guard lock(m_m);
  return m_blSet;
}

bool Event::Wait(std::uint32_t nTimeoutMs) {
  const std::uint64_t nDeadlineUs = DeadlineOf(m_clock, nTimeoutMs);
  std::unique_lock lock(m_m);
  while (!m_blSet) {
    ParkToken token;
    m_waiters.push_back(&token);
    lock.unlock();
    const bool blUnparked = m_clock.Park(token, nDeadlineUs);
    lock.lock();
    Forget(m_waiters, &token);
    if (!blUnparked && !m_blSet) {
      return false;
    }
  }
  return true;
}

int Event::Fd() {
  std::lock_guard lock(m_m);
  m_blFdShared = true;
  return m_hFd;
}

Mutex::Mutex(Clock& clock) : m_clock(clock) {}

bool Mutex::Lock(std::uint32_t nTimeoutMs) {
  const std::uint64_t nDeadlineUs = DeadlineOf(m_clock, nTimeoutMs);
  std::unique_lock lock(m_m);
  while (m_blLocked) {
    ParkToken token;
    m_waiters.push_back(&token);
    lock.unlock();
    const bool blUnparked = m_clock.Park(token, nDeadlineUs);
    lock.lock();
    Forget(m_waiters, &token);
    if (!blUnparked && m_blLocked) {
      return false;
    }
  }
  m_blLocked = true;
  m_owner = std::this_thread::get_id();
  return true;
}

void Mutex::Unlock() {
  std::lock_guard lock(m_m);
  if (!m_blLocked || m_owner != std::this_thread::get_id()) {
    WriteLog("Mutex: released by a thread that does not hold it\r\n");
    return;
  }
  m_blLocked = false;
  m_owner = std::thread::id();
  for (ParkToken* pToken : m_waiters) {
    m_clock.Unpark(*pToken);
  }
}

namespace {

struct NamedObject {
  std::weak_ptr<Event> event;
  std::weak_ptr<Mutex> mutex;
};

std::mutex g_registryLock;
std::map<std::string, NamedObject, std::less<>> g_registry;

NamedObject& Slot(std::string_view name) {
  auto it = g_registry.find(name);
  if (it == g_registry.end()) {
    it = g_registry.emplace(std::string(name), NamedObject{}).first;
  }
  return it->second;
}

void SetExisted(bool* pblExisted, bool blValue) {
  if (pblExisted != nullptr) {
    *pblExisted = blValue;
  }
}

}  // namespace

std::shared_ptr<Event> CreateNamedEvent(std::string_view name, Clock& clock, bool blInitial, bool* pblExisted) {
  std::lock_guard lock(g_registryLock);
  NamedObject& slot = Slot(name);
  SetExisted(pblExisted, false);
  if (auto pEvent = slot.event.lock()) {
    SetExisted(pblExisted, true);
    return pEvent;
  }
  if (!slot.mutex.expired()) {
    WriteLog("CreateNamedEvent: \"%.*s\" names a mutex\r\n", static_cast<int>(name.size()), name.data());
    return nullptr;
  }
  auto pEvent = std::make_shared<Event>(clock, blInitial);
  slot.event = pEvent;
  return pEvent;
}

std::shared_ptr<Event> OpenNamedEvent(std::string_view name) {
  std::lock_guard lock(g_registryLock);
  const auto it = g_registry.find(name);
  return it == g_registry.end() ? nullptr : it->second.event.lock();
}

std::shared_ptr<Mutex> CreateNamedMutex(std::string_view name, Clock& clock, bool* pblExisted) {
  std::lock_guard lock(g_registryLock);
  NamedObject& slot = Slot(name);
  SetExisted(pblExisted, false);
  if (auto pMutex = slot.mutex.lock()) {
    SetExisted(pblExisted, true);
    return pMutex;
  }
  if (!slot.event.expired()) {
    WriteLog("CreateNamedMutex: \"%.*s\" names an event\r\n", static_cast<int>(name.size()), name.data());
    return nullptr;
  }
  auto pMutex = std::make_shared<Mutex>(clock);
  slot.mutex = pMutex;
  return pMutex;
}

std::shared_ptr<Mutex> OpenNamedMutex(std::string_view name) {
  std::lock_guard lock(g_registryLock);
  const auto it = g_registry.find(name);
  return it == g_registry.end() ? nullptr : it->second.mutex.lock();
}

}  // namespace orb::platform

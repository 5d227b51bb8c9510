#include "platform/foreground/foreground_tracker.h"

#include <sys/eventfd.h>

#include <cstdint>
#include <utility>

namespace orb::platform {

FakeForegroundTracker::FakeForegroundTracker() : m_fd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

void FakeForegroundTracker::SetForeground(const ForegroundWindow& window) {
  std::lock_guard lock(m_m);
  if (window == m_front) {
    return;
  }
  m_front = window;
  m_pending.push_back(window);
  const std::uint64_t nOne = 1;
  (void)!::write(m_fd.Get(), &nOne, sizeof nOne);  // only wakes the poll; Dispatch reads the queue
}

ForegroundWindow FakeForegroundTracker::Current() {
  std::lock_guard lock(m_m);
  m_pending.clear();  // the caller now knows what is in front; what led there is old news
  return m_front;
}

void FakeForegroundTracker::SetListener(Listener listener) {
  std::lock_guard lock(m_m);
  m_listener = std::move(listener);
}

void FakeForegroundTracker::Dispatch() {
  std::deque<ForegroundWindow> changes;
  Listener listener;
  {
    std::lock_guard lock(m_m);
    std::uint64_t nCount = 0;
    (void)!::read(m_fd.Get(), &nCount, sizeof nCount);  // EAGAIN when nothing was set: fine
    changes.swap(m_pending);
    listener = m_listener;
  }
  // Outside the lock: the listener may set the next window itself.
  for (const ForegroundWindow& window : changes) {
    if (listener) {
      listener(window);
    }
  }
}

}  // namespace orb::platform

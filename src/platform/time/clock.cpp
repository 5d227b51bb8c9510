#include "platform/time/clock.h"

#include <cerrno>
#include <ctime>
#include <system_error>

#include "base/write_log.h"

namespace orb::platform {
namespace {

std::uint64_t MonotonicUs() {
  timespec ts{};
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::uint64_t>(ts.tv_sec) * 1000000u + static_cast<std::uint64_t>(ts.tv_nsec) / 1000u;
}

timespec ToTimespec(std::uint64_t nUs) {
  timespec ts{};
  ts.tv_sec = static_cast<time_t>(nUs / 1000000u);
  ts.tv_nsec = static_cast<long>((nUs % 1000000u) * 1000u);
  return ts;
}

}  // namespace

bool Clock::StartThread(std::thread& thread, std::function<void()> body) {
  // std::thread reports a failed start by throwing; the program's paths report by result.
  try {
    thread = std::thread(std::move(body));
  } catch (const std::system_error& error) {
    WriteLog("StartThread: cannot start a thread: %s\r\n", error.what());
    return false;
  }
  return true;
}

std::uint64_t SteadyClock::NowUs() const { return MonotonicUs(); }

void SteadyClock::Sleep(std::uint32_t nMs) {
  // An absolute deadline, so that a signal interrupting the sleep does not lengthen it.
  const timespec deadline = ToTimespec(MonotonicUs() + std::uint64_t{nMs} * 1000u);
  while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
  }
}

bool SteadyClock::Park(ParkToken& token, std::uint64_t nDeadlineUs) {
  std::unique_lock lock(token.m);
  if (nDeadlineUs == kNoDeadline) {
    token.cv.wait(lock, [&] { return token.blUnparked; });
    return true;
  }
  // steady_clock is CLOCK_MONOTONIC on Linux, the same time base as NowUs.
  const auto deadline = std::chrono::steady_clock::time_point(std::chrono::microseconds(nDeadlineUs));
  return token.cv.wait_until(lock, deadline, [&] { return token.blUnparked; });
}

void SteadyClock::Unpark(ParkToken& token) {
  std::lock_guard lock(token.m);
  token.blUnparked = true;
  token.cv.notify_all();
}

Clock& RealClock() {
  static SteadyClock clock;
  return clock;
}

std::uint64_t ManualClock::NowUs() const {
  std::lock_guard lock(m_m);
  return m_nNowUs;
}

void ManualClock::Sleep(std::uint32_t nMs) {
  std::lock_guard lock(m_m);
  m_sleeps.push_back(nMs);
  m_nNowUs += std::uint64_t{nMs} * 1000u;
}

void ManualClock::MoveTo(std::uint64_t nUs) {
  std::lock_guard lock(m_m);
  if (nUs > m_nNowUs) {
    m_nNowUs = nUs;
  }
}

bool ManualClock::Park(ParkToken& token, std::uint64_t nDeadlineUs) {
  std::unique_lock lock(token.m);
  if (token.blUnparked) {
    return true;
  }
  if (nDeadlineUs != kNoDeadline) {
    // Nobody would wake it in time on a clock that stands still: the wait times out now.
    lock.unlock();
    MoveTo(nDeadlineUs);
    return false;
  }
  token.cv.wait(lock, [&] { return token.blUnparked; });
  return true;
}

void ManualClock::Unpark(ParkToken& token) {
  std::lock_guard lock(token.m);
  token.blUnparked = true;
  token.cv.notify_all();
}

void ManualClock::Advance(std::uint64_t nUs) {
  std::lock_guard lock(m_m);
  m_nNowUs += nUs;
}

std::vector<std::uint32_t> ManualClock::Sleeps() const {
  std::lock_guard lock(m_m);
  return m_sleeps;
}

void ManualClock::ClearSleeps() {
  std::lock_guard lock(m_m);
  m_sleeps.clear();
}

}  // namespace orb::platform

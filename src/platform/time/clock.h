#pragma once
// The engine's time: a monotonic clock, its sleep, and the one way any of our threads
// waits for another (parking). Everything that waits goes through a Clock, so a test
// clock can replay a 51-second pause at once, and a virtual clock can run the real worker
// threads in a repeatable order on virtual time (virtual_clock.h).

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace orb::platform {

inline constexpr std::uint64_t kNoDeadline = UINT64_MAX;

// One wait of one thread. The waiter creates it on its stack, hands it to whatever it
// waits on, and parks on it; the thread that ends the wait unparks it. An unpark that
// comes before the park is kept, so no wake-up is lost between "register" and "park".
struct ParkToken {
  std::mutex m;                // real clocks: guards blUnparked
  std::condition_variable cv;  // real clocks
  bool blUnparked = false;     // guarded by m, or by the virtual clock's own lock
  // Virtual clock bookkeeping (its lock): the deadline and who waits.
  std::uint64_t nDeadlineUs = kNoDeadline;
  std::uint64_t nSeq = 0;
  void* pWaiter = nullptr;
};

class Clock {
 public:
  Clock() = default;
  Clock(const Clock&) = delete;
  Clock& operator=(const Clock&) = delete;
  virtual ~Clock() = default;

  virtual std::uint64_t NowUs() const = 0;
  std::uint64_t NowMs() const { return NowUs() / 1000; }

  virtual void Sleep(std::uint32_t nMs) = 0;

  // Blocks until the token is unparked (true) or the clock reaches nDeadlineUs (false).
  virtual bool Park(ParkToken& token, std::uint64_t nDeadlineUs) = 0;
  virtual void Unpark(ParkToken& token) = 0;

  // Starts a thread whose waits this clock schedules. False (thread left empty) when the
  // system cannot start one.
  virtual bool StartThread(std::thread& thread, std::function<void()> body);

  // Around a wait the clock cannot see into (poll on a device fd): a virtual clock counts
  // the thread idle meanwhile. NoteOutsideWake() says, before the fact, that such a wait
  // is about to be given cause to end. Real clocks ignore all three.
  virtual void BeginOutsideWait() {}
  virtual void EndOutsideWait() {}
  virtual void NoteOutsideWake() {}
};

// The real monotonic clock (CLOCK_MONOTONIC).
class SteadyClock final : public Clock {
 public:
  std::uint64_t NowUs() const override;
  void Sleep(std::uint32_t nMs) override;
  bool Park(ParkToken& token, std::uint64_t nDeadlineUs) override;
  void Unpark(ParkToken& token) override;
};

// The process's real clock, for code that is not handed one.
Clock& RealClock();

// A test clock on which time passes only by sleeping: Sleep and every wait that times
// out move the time forward at once, and each sleep is recorded. A wait without deadline
// still blocks until it is unparked, so it works across threads too.
class ManualClock final : public Clock {
 public:
  std::uint64_t NowUs() const override;
  void Sleep(std::uint32_t nMs) override;
  bool Park(ParkToken& token, std::uint64_t nDeadlineUs) override;
  void Unpark(ParkToken& token) override;

  void Advance(std::uint64_t nUs);
  std::vector<std::uint32_t> Sleeps() const;  // every Sleep, in order, in ms
  void ClearSleeps();

 private:
  void MoveTo(std::uint64_t nUs);

  mutable std::mutex m_m;
  std::uint64_t m_nNowUs = 0;
  std::vector<std::uint32_t> m_sleeps;
};

}  // namespace orb::platform

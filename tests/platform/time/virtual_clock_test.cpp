#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include <poll.h>

#include "platform/time/sync.h"
#include "platform/time/virtual_clock.h"

namespace orb::platform {
namespace {

constexpr std::uint64_t Ms(std::uint64_t nMs) { return nMs * 1000; }

// What the workers did, in order, with the virtual time in ms.
class Trace {
 public:
  explicit Trace(const Clock& clock) : m_clock(clock) {}
  void Add(const std::string& what) {
    std::lock_guard lock(m_m);
    m_lines.push_back(std::to_string(m_clock.NowMs()) + " " + what);
  }
  std::vector<std::string> Lines() {
    std::lock_guard lock(m_m);
    return m_lines;
  }

 private:
  const Clock& m_clock;
  std::mutex m_m;
  std::vector<std::string> m_lines;
};

TEST(VirtualClockTest, WorkersInterleaveByVirtualTimeInTheSameOrderEveryRun) {
  std::vector<std::string> first;
  for (int nRun = 0; nRun < 20; ++nRun) {
    VirtualClock clock;
    Trace trace(clock);
    std::thread a;
    std::thread b;
    ASSERT_TRUE(clock.StartThread(a, [&] {
      for (int i = 0; i < 3; ++i) {
        trace.Add("a" + std::to_string(i));
        clock.Sleep(100);
      }
    }));
    ASSERT_TRUE(clock.StartThread(b, [&] {
      for (int i = 0; i < 4; ++i) {
        trace.Add("b" + std::to_string(i));
        clock.Sleep(100);  // ties with a's deadlines: who parked first goes first
      }
    }));
    clock.RunUntil(Ms(1000));
    a.join();
    b.join();
    EXPECT_EQ(clock.NowMs(), 1000u);
    if (nRun == 0) {
      first = trace.Lines();
      EXPECT_EQ(first, (std::vector<std::string>{"0 a0", "0 b0", "100 a1", "100 b1", "200 a2", "200 b2", "300 b3"}));
    } else {
      ASSERT_EQ(trace.Lines(), first) << "run " << nRun;
    }
  }
}

TEST(VirtualClockTest, LongSleepsCostNoRealTime) {
  VirtualClock clock;
  std::thread worker;
  ASSERT_TRUE(clock.StartThread(worker, [&] {
    for (int i = 0; i < 100; ++i) {
      clock.Sleep(51100);
    }
  }));
  const auto start = std::chrono::steady_clock::now();
  clock.RunUntil(Ms(6000000));
  worker.join();
  EXPECT_EQ(clock.NowUs(), 6000000000u);
  // Generous: only a runaway real wait would come near it.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
}

TEST(VirtualClockTest, MutexTimedWaitsRunOnVirtualTime) {
  VirtualClock clock;
  Mutex mutex(clock);
  Trace trace(clock);
  std::thread holder;
  std::thread taker;
  ASSERT_TRUE(clock.StartThread(holder, [&] {
    mutex.Lock();
    clock.Sleep(5);
    mutex.Unlock();
  }));
  ASSERT_TRUE(clock.StartThread(taker, [&] {
    int nTimeouts = 0;
    while (!mutex.Lock(1)) {
      ++nTimeouts;
    }
    trace.Add("locked after " + std::to_string(nTimeouts) + " time-outs");
    mutex.Unlock();
  }));
  clock.RunUntil(Ms(100));
  holder.join();
  taker.join();
  // Time-outs at 1, 2, 3 and 4 ms; at 5 ms the holder lets go first (it parked first).
  EXPECT_EQ(trace.Lines(), (std::vector<std::string>{"5 locked after 4 time-outs"}));
}

TEST(VirtualClockTest, DriverWaitingOnAnEventRunsTheWorldUntilItIsSet) {
  VirtualClock clock;
  Event done(clock);
  std::thread worker;
  ASSERT_TRUE(clock.StartThread(worker, [&] {
    clock.Sleep(250);
    done.Set();
    clock.Sleep(1000);  // the driver returns when the world is idle again, not later
  }));
  EXPECT_TRUE(done.Wait());
  EXPECT_EQ(clock.NowMs(), 250u);
  // A timed driver wait that nothing ends moves the time to its deadline.
  Event never(clock);
  EXPECT_FALSE(never.Wait(300));
  EXPECT_EQ(clock.NowMs(), 550u);
  clock.RunUntil(Ms(2000));
  worker.join();
}

TEST(VirtualClockTest, OutsideWaitCountsIdleUntilItsWakeIsNoted) {
  VirtualClock clock;
  Event wake(clock);
  const int nFd = wake.Fd();
  Trace trace(clock);
  std::thread poller;
  ASSERT_TRUE(clock.StartThread(poller, [&] {
    for (int i = 0; i < 2; ++i) {
      pollfd fd{nFd, POLLIN, 0};
      clock.BeginOutsideWait();
      ::poll(&fd, 1, -1);
      clock.EndOutsideWait();
      wake.Reset();
      trace.Add("woke");
      clock.Sleep(10);
    }
  }));
  clock.Settle();  // the poller sits in poll: idle
  EXPECT_TRUE(trace.Lines().empty());
  clock.RunUntil(Ms(40));
  wake.Set();  // the fd was handed out: Set notes the wake before the fd turns readable
  clock.Settle();
  EXPECT_EQ(trace.Lines(), (std::vector<std::string>{"40 woke"}));
  clock.RunUntil(Ms(100));
  wake.Set();
  clock.RunUntil(Ms(200));
  poller.join();
  EXPECT_EQ(trace.Lines(), (std::vector<std::string>{"40 woke", "100 woke"}));
  EXPECT_EQ(clock.WorkerCount(), 0);
}

}  // namespace
}  // namespace orb::platform

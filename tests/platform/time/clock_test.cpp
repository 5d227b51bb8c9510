#include <gtest/gtest.h>

#include <thread>

#include "platform/time/clock.h"
#include "platform/time/sync.h"

namespace orb::platform {
namespace {

TEST(ManualClockTest, SleepsAndTimeoutsMoveTimeAtOnceAndSleepsAreRecorded) {
  ManualClock clock;
  clock.Sleep(100);
  clock.Sleep(51100);
  EXPECT_EQ(clock.NowUs(), 51200000u);
  EXPECT_EQ(clock.Sleeps(), (std::vector<std::uint32_t>{100, 51100}));

  // A timed wait that nobody ends times out at once, at its deadline.
  Event event(clock);
  EXPECT_FALSE(event.Wait(30));
  EXPECT_EQ(clock.NowMs(), 51230u);
  EXPECT_EQ(clock.Sleeps().size(), 2u);  // a wait is not a sleep
}

TEST(SteadyClockTest, TimeIsMonotonicAndParkEndsByUnparkOrDeadline) {
  Clock& clock = RealClock();
  const std::uint64_t nStart = clock.NowUs();
  ParkToken expired;
  EXPECT_FALSE(clock.Park(expired, nStart + 2000));
  EXPECT_GE(clock.NowUs(), nStart + 2000);

  ParkToken token;
  std::thread unparker([&] { clock.Unpark(token); });
  EXPECT_TRUE(clock.Park(token, kNoDeadline));
  unparker.join();

  // An unpark that comes before the park is not lost.
  ParkToken early;
  clock.Unpark(early);
  EXPECT_TRUE(clock.Park(early, kNoDeadline));
}

}  // namespace
}  // namespace orb::platform

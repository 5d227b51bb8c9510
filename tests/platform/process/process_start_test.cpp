// A process's start time from /proc/PID/stat: counted past a name that may hold anything,
// and telling a live process from one that is gone.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "platform/process/process_start.h"

namespace orb::platform {
namespace {

// Fields 3 to 21 as a sleeping process has them, then 22 (the start time) and a few more.
std::string Stat(const std::string& name, const std::string& startTime) {
  return "4242 (" + name + ") S 1 4242 4242 0 -1 4194560 1203 0 0 0 12 3 0 0 20 0 1 0 " + startTime +
         " 1024000 300 18446744073709551615 1 1 0 0 0 0 0\n";
}

TEST(ProcessStartTest, TheStartTimeIsFieldTwentyTwoWhateverTheNameHolds) {
  EXPECT_EQ(StartTimeFromStat(Stat("mpv", "98765")), 98765u);
  // A name may hold spaces and parentheses: only the last ')' ends it.
  EXPECT_EQ(StartTimeFromStat(Stat("a) 1 2 (b", "555")), 555u);
  EXPECT_EQ(StartTimeFromStat(Stat("x)", "18446744073709551615")), 18446744073709551615u);
  // Cut short, or not a stat line at all: unknown.
  EXPECT_EQ(StartTimeFromStat("4242 (mpv) S 1 4242 4242 0 -1 4194560"), 0u);
  EXPECT_EQ(StartTimeFromStat(Stat("mpv", "").substr(0, 60)), 0u);
  EXPECT_EQ(StartTimeFromStat("no name here"), 0u);
  EXPECT_EQ(StartTimeFromStat(""), 0u);
}

TEST(ProcessStartTest, AChildStartsNoEarlierThanItsParentAndIsUnknownOnceGone) {
  const std::uint64_t nOwn = ProcessStartTime(static_cast<int>(::getpid()));
  ASSERT_NE(nOwn, 0u);
  EXPECT_EQ(ProcessStartTime(static_cast<int>(::getpid())), nOwn) << "a process has one start time";
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  const pid_t nChild = ::fork();
  if (nChild == 0) {
    ::close(fds[1]);
    char c = 0;
    (void)!::read(fds[0], &c, 1);
    ::_exit(0);
  }
  ::close(fds[0]);
  EXPECT_GE(ProcessStartTime(static_cast<int>(nChild)), nOwn);
  ::close(fds[1]);
  int nStatus = 0;
  ASSERT_EQ(::waitpid(nChild, &nStatus, 0), nChild);
  EXPECT_EQ(ProcessStartTime(static_cast<int>(nChild)), 0u);
  EXPECT_EQ(ProcessStartTime(0), 0u);
  EXPECT_EQ(ProcessStartTime(-1), 0u);
}

}  // namespace
}  // namespace orb::platform

#include "shell/signal_watcher.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>

#include <QCoreApplication>

namespace {

using namespace std::chrono_literals;

bool HasDefaultHandler(int nSignal) {
  struct sigaction current {};
  ::sigaction(nSignal, nullptr, &current);
  return current.sa_handler == SIG_DFL;
}

// Runs the event loop until the watcher has reported or the time is up.
int WaitForSignal(const int& nSeen) {
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  while (nSeen == 0 && std::chrono::steady_clock::now() < deadline) {
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
  }
  return nSeen;
}

TEST(SignalWatcher, ReportsTheFirstSignalOnTheEventLoopAndLaterOnesWaitForTheEnd) {
  for (int nSignal : {SIGTERM, SIGINT, SIGHUP}) {
    int nSeen = 0;
    int nCalls = 0;
    orb::CSignalWatcher watcher([&](int n) {
      nSeen = n;
      ++nCalls;
    });
    ASSERT_TRUE(watcher.Install());
    EXPECT_FALSE(HasDefaultHandler(nSignal));
    ASSERT_EQ(::raise(nSignal), 0);
    EXPECT_EQ(nSeen, 0) << "the handler itself only writes to the pipe";
    EXPECT_EQ(WaitForSignal(nSeen), nSignal);
    // While the end (and its save) runs, more signals of any of the three must not end
    // the process: with the default action this test would die here.
    for (int nAgain : {SIGTERM, SIGINT, SIGHUP}) {
      ASSERT_EQ(::raise(nAgain), 0);
    }
    const auto until = std::chrono::steady_clock::now() + 100ms;
    while (std::chrono::steady_clock::now() < until) {
      QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    EXPECT_EQ(nCalls, 1) << "the end is asked for once";
    EXPECT_FALSE(HasDefaultHandler(nSignal));
  }
}

TEST(SignalWatcher, RemovingTheWatcherRestoresTheDefaults) {
  {
    orb::CSignalWatcher watcher([](int) {});
    ASSERT_TRUE(watcher.Install());
    EXPECT_FALSE(HasDefaultHandler(SIGHUP));
  }
  EXPECT_TRUE(HasDefaultHandler(SIGTERM));
  EXPECT_TRUE(HasDefaultHandler(SIGINT));
  EXPECT_TRUE(HasDefaultHandler(SIGHUP));
}

}  // namespace

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include <poll.h>

#include "platform/time/clock.h"
#include "platform/time/sync.h"

namespace orb::platform {
namespace {

bool Readable(int nFd) {
  pollfd fd{nFd, POLLIN, 0};
  return ::poll(&fd, 1, 0) == 1 && (fd.revents & POLLIN) != 0;
}

TEST(EventTest, ManualResetAndItsFdFollowTheState) {
  ManualClock clock;
  Event event(clock);
  ASSERT_GE(event.Fd(), 0);
  EXPECT_FALSE(event.IsSet());
  EXPECT_FALSE(Readable(event.Fd()));
  event.Set();
  event.Set();  // a second set changes nothing
  EXPECT_TRUE(Readable(event.Fd()));
  EXPECT_TRUE(event.Wait(0));
  EXPECT_TRUE(event.Wait());  // stays set: manual reset
  event.Reset();
  EXPECT_FALSE(event.IsSet());
  EXPECT_FALSE(Readable(event.Fd()));
  EXPECT_FALSE(event.Wait(0));

  Event initially(clock, true);
  EXPECT_TRUE(initially.IsSet());
  EXPECT_TRUE(Readable(initially.Fd()));
}

TEST(EventTest, SetWakesEveryWaiterOnTheRealClock) {
  Event event(RealClock());
  std::atomic<int> nWoken{0};
  std::thread a([&] { nWoken += event.Wait() ? 1 : 0; });
  std::thread b([&] { nWoken += event.Wait() ? 1 : 0; });
  event.Set();
  a.join();
  b.join();
  EXPECT_EQ(nWoken, 2);
}

TEST(MutexTest, TimedLockFailsWhileHeldAndSucceedsOnceReleased) {
  Mutex mutex(RealClock());
  ASSERT_TRUE(mutex.Lock());
  std::atomic<bool> blGotIt{true};
  std::thread other([&] { blGotIt = mutex.Lock(1); });
  other.join();
  EXPECT_FALSE(blGotIt);

  std::atomic<bool> blLocked{false};
  std::thread waiter([&] {
    blLocked = mutex.Lock();
    mutex.Unlock();
  });
  mutex.Unlock();
  waiter.join();
  EXPECT_TRUE(blLocked);
}

TEST(MutexTest, AnUnlockByAThreadThatDoesNotHoldItIsRefused) {
  Mutex mutex(RealClock());
  ASSERT_TRUE(mutex.Lock());
  std::thread other([&] { mutex.Unlock(); });
  other.join();
  std::atomic<bool> blGotIt{true};
  std::thread third([&] { blGotIt = mutex.Lock(1); });
  third.join();
  EXPECT_FALSE(blGotIt);  // still held
  mutex.Unlock();
}

TEST(NamedObjectsTest, CreateOpenAndLifetimeFollowTheHolders) {
  ManualClock clock;
  EXPECT_EQ(OpenNamedEvent("TEST EVENT"), nullptr);
  bool blExisted = true;
  auto pEvent = CreateNamedEvent("TEST EVENT", clock, false, &blExisted);
  ASSERT_NE(pEvent, nullptr);
  EXPECT_FALSE(blExisted);
  pEvent->Set();
  // A second create finds the object as it is: the initial state is not applied again.
  auto pAgain = CreateNamedEvent("TEST EVENT", clock, false, &blExisted);
  EXPECT_TRUE(blExisted);
  EXPECT_EQ(pAgain, pEvent);
  EXPECT_TRUE(pAgain->IsSet());
  EXPECT_EQ(OpenNamedEvent("TEST EVENT"), pEvent);

  // A name belongs to one kind of object.
  EXPECT_EQ(CreateNamedMutex("TEST EVENT", clock), nullptr);
  EXPECT_EQ(OpenNamedMutex("TEST EVENT"), nullptr);

  pEvent.reset();
  pAgain.reset();
  EXPECT_EQ(OpenNamedEvent("TEST EVENT"), nullptr);  // gone with its last holder
  auto pFresh = CreateNamedEvent("TEST EVENT", clock, false, &blExisted);
  EXPECT_FALSE(blExisted);
  EXPECT_FALSE(pFresh->IsSet());

  auto pMutex = CreateNamedMutex("TEST MUTEX", clock);
  ASSERT_NE(pMutex, nullptr);
  EXPECT_EQ(OpenNamedMutex("TEST MUTEX"), pMutex);
}

}  // namespace
}  // namespace orb::platform

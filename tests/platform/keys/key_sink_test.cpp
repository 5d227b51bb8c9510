#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "base/log_capture.h"
#include "platform/keys/key_sink.h"
#include "platform/time/clock.h"
#include "support/scoped_env.h"

namespace orb::platform {
namespace {

using test::ScopedEnv;

bool UinputOpens() {
  const int nFd = ::open("/dev/uinput", O_WRONLY | O_CLOEXEC);
  if (nFd < 0) {
    return false;
  }
  ::close(nFd);
  return true;
}

TEST(SelectKeySinkTest, OrbKeysForcesTheRecordingSink) {
  ScopedEnv keys("ORB_KEYS", "record");
  test::LogCapture log;
  auto pSink = SelectKeySink(RealClock());
  ASSERT_NE(pSink, nullptr);
  EXPECT_STREQ(pSink->Name(), "record");
  EXPECT_EQ(log.Text(), "SelectKeySink: key strokes go to record\r\n");
  EXPECT_EQ(KeySinkUnavailableReason(), "");
}

TEST(SelectKeySinkTest, WithNothingAvailableTheProgramRunsOnAndSaysWhyOnce) {
  if (UinputOpens()) {
    GTEST_SKIP() << "/dev/uinput works here, so a sink is always available";
  }
  ScopedEnv keys("ORB_KEYS", nullptr);
  ScopedEnv display("DISPLAY", nullptr);
  ScopedEnv session("XDG_SESSION_TYPE", nullptr);
  ScopedEnv wayland("WAYLAND_DISPLAY", nullptr);
  test::LogCapture log;
  auto pSink = SelectKeySink(RealClock());
  ASSERT_NE(pSink, nullptr);
  EXPECT_STREQ(pSink->Name(), "none");
  pSink->KeyEvent(0x41, 0x1E, false);  // dropped, quietly
  const std::string reason = KeySinkUnavailableReason();
  EXPECT_NE(reason.find("DISPLAY is not set"), std::string::npos) << reason;
  EXPECT_NE(reason.find("/dev/uinput"), std::string::npos) << reason;
  const std::string text = log.Text();
  EXPECT_EQ(text.find("SelectKeySink: no key output is available ("), 0u) << text;
  EXPECT_EQ(text.find('\n'), text.size() - 1);  // one line

  // A forced backend that fails does not fall back to another.
  ScopedEnv forced("ORB_KEYS", "uinput");
  auto pForced = SelectKeySink(RealClock());
  EXPECT_STREQ(pForced->Name(), "none");
  EXPECT_NE(KeySinkUnavailableReason().find("ORB_KEYS=uinput"), std::string::npos);
}

TEST(UinputKeySinkTest, CreatesAVirtualKeyboard) {
  if (!UinputOpens()) {
    GTEST_SKIP() << "/dev/uinput cannot be opened on this machine: the uinput keyboard is not tested";
  }
  std::string reason;
  auto pSink = CreateUinputKeySink(&reason);
  ASSERT_NE(pSink, nullptr) << reason;
  EXPECT_STREQ(pSink->Name(), "uinput");
  // The events go to the kernel; reading them back needs the device node's permissions,
  // which the session's user does not always have: sending must at least not fail.
  pSink->KeyEvent(0x10, 0x2A, false);
  pSink->KeyEvent(0x10, 0x2A, true);
}

}  // namespace
}  // namespace orb::platform

// The start-up choice of a key sink in a Wayland session, where XTest reaches only
// XWayland's windows. (The virtual keyboard itself is tested against a real sway in the
// wayland tier.)
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

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
  if (nFd < 0) return false;
  ::close(nFd);
  return true;
}

TEST(SelectWaylandKeySinkTest, AWaylandSessionTriesTheCompositorThenUinputThenXTestAndSaysWhatEachLacked) {
  if (UinputOpens()) {
    GTEST_SKIP() << "/dev/uinput works here, so uinput would be chosen";
  }
  ScopedEnv keys("ORB_KEYS", nullptr);
  ScopedEnv session("XDG_SESSION_TYPE", "wayland");
  ScopedEnv wayland("WAYLAND_DISPLAY", "/tmp/orb-no-such-dir/wayland-0");
  ScopedEnv display("DISPLAY", nullptr);
  test::LogCapture log;
  auto pSink = SelectKeySink(RealClock());
  EXPECT_STREQ(pSink->Name(), "none");
  const std::string reason = KeySinkUnavailableReason();
  const std::size_t nWayland = reason.find("cannot connect to the Wayland display \"/tmp/orb-no-such-dir/wayland-0\"");
  const std::size_t nUinput = reason.find("/dev/uinput");
  const std::size_t nX = reason.find("DISPLAY is not set");
  EXPECT_NE(nWayland, std::string::npos) << reason;
  EXPECT_NE(nUinput, std::string::npos) << reason;
  EXPECT_NE(nX, std::string::npos) << reason;
  EXPECT_TRUE(nWayland < nUinput && nUinput < nX) << "tried in another order: " << reason;
  const std::string text = log.Text();
  EXPECT_EQ(text.find('\n'), text.size() - 1) << text;

  ScopedEnv forced("ORB_KEYS", "wayland");
  EXPECT_STREQ(SelectKeySink(RealClock())->Name(), "none");
  EXPECT_EQ(KeySinkUnavailableReason().find("No key output is available: ORB_KEYS=wayland: cannot connect"), 0u)
      << KeySinkUnavailableReason();
}

}  // namespace
}  // namespace orb::platform

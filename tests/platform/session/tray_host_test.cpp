// The tray probe of `orbctl doctor`: a StatusNotifierItem watcher on a session bus of the
// test's own, and the X session's system tray where the tests have one (scripts/with-x11
// runs tint2).
#include "platform/session/tray_host.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "../dbus/private_bus.h"
#include "platform/dbus/dbus_connection.h"

namespace orb::platform {
namespace {

// Sets (or unsets, for null) a variable for the test's length.
class ScopedEnv final {
 public:
  ScopedEnv(const char* pName, const char* pValue) : m_name(pName) {
    if (const char* pOld = std::getenv(pName)) m_old = pOld;
    if (pValue != nullptr) {
      ::setenv(pName, pValue, 1);
    } else {
      ::unsetenv(pName);
    }
  }
  ~ScopedEnv() {
    if (m_old) {
      ::setenv(m_name.c_str(), m_old->c_str(), 1);
    } else {
      ::unsetenv(m_name.c_str());
    }
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string m_name;
  std::optional<std::string> m_old;
};

TEST(TrayHost, OnWaylandOnlyAStatusNotifierWatcherCountsAndItIsFoundByItsName) {
  test::PrivateBus bus;
  if (bus.Address().empty()) GTEST_SKIP() << "dbus-daemon could not be started";
  ScopedEnv address("DBUS_SESSION_BUS_ADDRESS", bus.Address().c_str());
  ScopedEnv type("XDG_SESSION_TYPE", "wayland");

  const TrayHost none = FindTrayHost();
  EXPECT_FALSE(none.blFound);
  EXPECT_NE(none.sWhat.find("org.kde.StatusNotifierWatcher"), std::string::npos) << none.sWhat;
  EXPECT_EQ(none.sWhat.find("_NET_SYSTEM_TRAY"), std::string::npos) << "X11's tray says nothing on Wayland";

  std::string error;
  const auto pPanel = dbus::Connection::OpenAddress(bus.Address(), &error);
  ASSERT_NE(pPanel, nullptr) << error;
  ASSERT_TRUE(pPanel->RequestName("org.kde.StatusNotifierWatcher", &error)) << error;
  const TrayHost found = FindTrayHost();
  EXPECT_TRUE(found.blFound) << found.sWhat;
  EXPECT_NE(found.sWhat.find("StatusNotifierItem"), std::string::npos) << found.sWhat;
}

TEST(TrayHost, NoSessionBusIsSaidAsSuchNotTakenForATray) {
  ScopedEnv address("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/orb-test-bus");
  ScopedEnv type("XDG_SESSION_TYPE", "wayland");
  const TrayHost host = FindTrayHost();
  EXPECT_FALSE(host.blFound);
  EXPECT_FALSE(host.sWhat.empty());
}

TEST(TrayHost, OnX11TheScreensSystemTrayCountsWithoutAWatcher) {
  if (std::getenv("DISPLAY") == nullptr) GTEST_SKIP() << "needs DISPLAY with a tray host (scripts/with-x11)";
  test::PrivateBus bus;
  if (bus.Address().empty()) GTEST_SKIP() << "dbus-daemon could not be started";
  ScopedEnv address("DBUS_SESSION_BUS_ADDRESS", bus.Address().c_str());
  ScopedEnv type("XDG_SESSION_TYPE", "x11");
  ScopedEnv wayland("WAYLAND_DISPLAY", nullptr);
  const TrayHost host = FindTrayHost();
  EXPECT_TRUE(host.blFound) << host.sWhat;
  EXPECT_NE(host.sWhat.find("X11"), std::string::npos) << host.sWhat;
}

}  // namespace
}  // namespace orb::platform

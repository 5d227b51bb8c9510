// The KWin tracker against a stand-in for KWin's scripting service on a bus of the test's
// own: the script it loads names us, the stand-in then plays the script's calls.
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>

#include "../dbus/private_bus.h"
#include "base/log_capture.h"
#include "platform/dbus/dbus_connection.h"
#include "platform/foreground/foreground_tracker.h"
#include "platform/foreground/kwin_script.h"
#include "platform/process/process_start.h"
#include "support/scoped_env.h"

namespace orb::platform {
namespace {

using dbus::Connection;
using dbus::Message;
using dbus::MethodResult;
using dbus::Value;
using dbus::Values;

// KWin's /Scripting as far as the tracker uses it. Runs its connection on a thread.
class FakeKWin final {
 public:
  explicit FakeKWin(const std::string& address) {
    std::string error;
    m_pBus = Connection::OpenAddress(address, &error);
    if (!m_pBus || !m_pBus->RequestName("org.kde.KWin", &error)) {
      ADD_FAILURE() << error;
      return;
    }
    Export("loadScript", [this](const Message& m) {
      std::lock_guard lock(m_m);
      if (m.args.size() != 2) return MethodResult::Error("org.freedesktop.DBus.Error.InvalidArgs", "2 args");
      m_scriptPath = std::get<std::string>(m.args[0]);
      m_plugin = std::get<std::string>(m.args[1]);
      std::ifstream file(m_scriptPath);
      std::stringstream text;
      text << file.rdbuf();
      m_scriptText = text.str();
      return MethodResult::Ok({std::int32_t{m_nRefuse ? -1 : 3}});
    });
    Export("isScriptLoaded", [](const Message&) { return MethodResult::Ok({false}); });
    Export("start", [this](const Message&) {
      std::lock_guard lock(m_m);
      ++m_nStarts;
      // As the script does at its start: the window active now.
      std::string error;
      if (m_blTellAtStart) {
        m_pBus->CallNoReply(ServiceInScript(), kwin::kCallbackPath, kwin::kCallbackInterface, kwin::kCallbackMember,
                            {std::string("{first}"), std::to_string(::getpid()), std::string("orbtest")}, &error);
      }
      return MethodResult::Ok();
    });
    Export("unloadScript", [this](const Message& m) {
      std::lock_guard lock(m_m);
      m_unloaded.push_back(std::get<std::string>(m.args.at(0)));
      return MethodResult::Ok({true});
    });
  }

  void Serve() { m_pServing = std::make_unique<test::BusServing>(*m_pBus); }
  void StopServing() { m_pServing.reset(); }

  // The bus name the loaded script calls back.
  std::string ServiceInScript() const {
    const auto nStart = m_scriptText.find("var service = \"");
    if (nStart == std::string::npos) return {};
    const auto nFrom = nStart + 15;
    return m_scriptText.substr(nFrom, m_scriptText.find('"', nFrom) - nFrom);
  }

  // A call as the script makes it (the connection must not be served meanwhile).
  void Activate(const Values& args) {
    std::string error;
    ASSERT_TRUE(m_pBus->CallNoReply(ServiceInScript(), kwin::kCallbackPath, kwin::kCallbackInterface,
                                    kwin::kCallbackMember, args, &error))
        << error;
  }

  std::mutex m_m;
  std::unique_ptr<Connection> m_pBus;
  std::string m_scriptPath, m_plugin, m_scriptText;
  std::vector<std::string> m_unloaded;
  int m_nStarts = 0;
  bool m_blTellAtStart = true;
  bool m_nRefuse = false;

 private:
  void Export(const char* pMember, Connection::MethodHandler handler) {
    std::string error;
    ASSERT_TRUE(m_pBus->ExportMethod("/Scripting", "org.kde.kwin.Scripting", pMember, std::move(handler), &error))
        << error;
  }

  std::unique_ptr<test::BusServing> m_pServing;
};

class KWinTrackerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (m_bus.Address().empty()) GTEST_SKIP() << "dbus-daemon could not be started";
    m_pEnv = std::make_unique<test::ScopedEnv>("DBUS_SESSION_BUS_ADDRESS", m_bus.Address().c_str());
  }

  // Waits for the tracker's fd and dispatches until `n` changes were reported (or 5 s).
  void DispatchUntil(ForegroundTracker& tracker, std::size_t n) {
    for (int i = 0; i < 50 && m_seen.size() < n; ++i) {
      pollfd waiter{tracker.Fd(), POLLIN, 0};
      ::poll(&waiter, 1, 100);
      tracker.Dispatch();
    }
  }

  test::PrivateBus m_bus;
  std::unique_ptr<test::ScopedEnv> m_pEnv;
  std::vector<ForegroundWindow> m_seen;
};

TEST_F(KWinTrackerTest, LoadsAScriptThatNamesUsFollowsActivationsAndUnloadsIt) {
  FakeKWin kwin(m_bus.Address());
  kwin.Serve();
  std::string error;
  auto pTracker = CreateKWinForegroundTracker(&error);
  ASSERT_NE(pTracker, nullptr) << error;
  EXPECT_EQ(pTracker->Name(), "KWin");
  {
    std::lock_guard lock(kwin.m_m);
    EXPECT_EQ(kwin.m_nStarts, 1);
    EXPECT_FALSE(kwin.ServiceInScript().empty());
    EXPECT_EQ(kwin.m_scriptText.find("workspace") != std::string::npos, true);
    // The script lies in our private runtime folder, readable by us alone.
    EXPECT_EQ(std::filesystem::status(kwin.m_scriptPath).permissions() & std::filesystem::perms::group_all,
              std::filesystem::perms::none);
  }
  // The window active at the script's start is the current one.
  const ForegroundWindow first = pTracker->Current();
  EXPECT_NE(first.nWindow, 0u);
  EXPECT_EQ(first.nPid, ::getpid());
  EXPECT_EQ(first.nStartTime, ProcessStartTime(::getpid()));

  kwin.StopServing();
  pTracker->SetListener([this](const ForegroundWindow& window) { m_seen.push_back(window); });
  // pid 1 stands for another program (its start time is readable too).
  kwin.Activate({std::string("{second}"), std::string("1"), std::string("other")});
  kwin.Activate({std::string("{second}"), std::string("1"), std::string("other")});  // no change
  kwin.Activate({std::string(), std::string(), std::string()});                     // nothing active
  DispatchUntil(*pTracker, 2);
  ASSERT_EQ(m_seen.size(), 2u);
  EXPECT_EQ(m_seen[0].nPid, 1);
  EXPECT_NE(m_seen[0].nWindow, first.nWindow);
  EXPECT_EQ(m_seen[1], ForegroundWindow{});

  const std::string scriptPath = kwin.m_scriptPath;
  const std::string plugin = kwin.m_plugin;
  kwin.Serve();
  pTracker.reset();
  kwin.StopServing();
  ASSERT_EQ(kwin.m_unloaded.size(), 1u);
  EXPECT_EQ(kwin.m_unloaded[0], plugin);
  EXPECT_FALSE(std::filesystem::exists(scriptPath));
}

TEST_F(KWinTrackerTest, OnlyKWinIsBelievedAndNonsenseChangesNothing) {
  FakeKWin kwin(m_bus.Address());
  kwin.Serve();
  std::string error;
  auto pTracker = CreateKWinForegroundTracker(&error);
  ASSERT_NE(pTracker, nullptr) << error;
  const ForegroundWindow first = pTracker->Current();
  kwin.StopServing();
  pTracker->SetListener([this](const ForegroundWindow& window) { m_seen.push_back(window); });

  // Another program on the session bus plays the script.
  auto pImpostor = Connection::OpenAddress(m_bus.Address(), &error);
  ASSERT_NE(pImpostor, nullptr) << error;
  ASSERT_TRUE(pImpostor->CallNoReply(kwin.ServiceInScript(), kwin::kCallbackPath, kwin::kCallbackInterface,
                                     kwin::kCallbackMember, {std::string("{x}"), std::string("1"), std::string("x")},
                                     &error));
  kwin.Activate({std::string("{y}"), std::string("not a pid"), std::string("y")});
  kwin.Activate({std::string("{z}"), std::string("1")});
  // Then a real change, so that the ones before have surely been handled.
  kwin.Activate({std::string("{w}"), std::to_string(::getppid()), std::string("w")});
  DispatchUntil(*pTracker, 1);
  ASSERT_EQ(m_seen.size(), 1u);
  EXPECT_EQ(m_seen[0].nPid, ::getppid());
  EXPECT_NE(m_seen[0], first);
}

TEST_F(KWinTrackerTest, WithoutKWinOrWhenItRefusesTheScriptThereIsNoTracker) {
  std::string error;
  EXPECT_EQ(CreateKWinForegroundTracker(&error), nullptr);
  EXPECT_NE(error.find("KWin is not on the session bus"), std::string::npos) << error;

  FakeKWin kwin(m_bus.Address());
  kwin.m_nRefuse = true;
  kwin.Serve();
  error.clear();
  EXPECT_EQ(CreateKWinForegroundTracker(&error), nullptr);
  EXPECT_NE(error.find("refused the script"), std::string::npos) << error;
  kwin.StopServing();
  // Nothing of ours is left behind in the runtime folder.
  EXPECT_FALSE(std::filesystem::exists(kwin.m_scriptPath));
}

TEST_F(KWinTrackerTest, AScriptThatStaysSilentLeavesNothingInFrontAfterAShortWait) {
  FakeKWin kwin(m_bus.Address());
  kwin.m_blTellAtStart = false;
  kwin.Serve();
  std::string error;
  auto pTracker = CreateKWinForegroundTracker(&error);
  ASSERT_NE(pTracker, nullptr) << error;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(pTracker->Current(), ForegroundWindow{});
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
  kwin.StopServing();
}

TEST_F(KWinTrackerTest, AKdeWaylandSessionChoosesKWinBeforeSwayAndSaysWhenItCannot) {
  test::ScopedEnv noForce("ORB_FOREGROUND", nullptr);
  test::ScopedEnv wayland("XDG_SESSION_TYPE", "wayland");
  test::ScopedEnv desktop("XDG_CURRENT_DESKTOP", "foo:kde");
  test::ScopedEnv sway("SWAYSOCK", "/nonexistent/sway.sock");
  {
    test::LogCapture log;
    EXPECT_EQ(SelectForegroundTracker()->Name(), "none");
    EXPECT_EQ(log.Text().rfind("Foreground: none (Wayland session of foo:kde: KWin is not on the session bus", 0), 0u)
        << log.Text();
  }
  FakeKWin kwin(m_bus.Address());
  kwin.Serve();
  {
    test::LogCapture log;
    auto pTracker = SelectForegroundTracker();
    EXPECT_EQ(pTracker->Name(), "KWin");
    EXPECT_EQ(log.Text(), "Foreground: KWin\r\n");
  }
  // Forced, outside a KDE session too.
  test::ScopedEnv force("ORB_FOREGROUND", "kwin");
  test::ScopedEnv x11("XDG_SESSION_TYPE", "x11");
  EXPECT_EQ(SelectForegroundTracker()->Name(), "KWin");
  kwin.StopServing();
}

}  // namespace
}  // namespace orb::platform

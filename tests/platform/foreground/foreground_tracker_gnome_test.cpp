// The GNOME tracker against a stand-in for GNOME Shell with (or without) our extension, on
// a bus of the test's own: reports of the shell followed, reports of anyone else ignored,
// the answer at start not undone by an older report, and a silent extension named.
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <string>

#include "../dbus/private_bus.h"
#include "base/log_capture.h"
#include "platform/dbus/dbus_connection.h"
#include "platform/foreground/foreground_tracker.h"
#include "platform/foreground/gnome_focus.h"
#include "platform/process/process_start.h"
#include "support/scoped_env.h"

namespace orb::platform {
namespace {

using dbus::Connection;
using dbus::Message;
using dbus::MethodResult;

std::string Report(std::uint64_t nSeq, std::uint64_t nWindow, int nPid, const char* pClass = "app") {
  return R"({"v":1,"seq":)" + std::to_string(nSeq) + R"(,"window":)" + std::to_string(nWindow) + R"(,"pid":)" +
         std::to_string(nPid) + R"(,"wmClass":")" + pClass + R"("})";
}

// org.gnome.Shell as far as the tracker uses it; its connection is served on a thread only
// while the tracker calls it.
class FakeShell final {
 public:
  FakeShell(const std::string& address, const char* pVersion, bool blExtension) {
    std::string error;
    m_pBus = Connection::OpenAddress(address, &error);
    if (!m_pBus || !m_pBus->RequestName(gnome::kShellName, &error)) {
      ADD_FAILURE() << error;
      return;
    }
    const std::string version = pVersion;
    EXPECT_TRUE(m_pBus->ExportMethod("/org/gnome/Shell", "org.freedesktop.DBus.Properties", "Get",
                                     [version](const Message&) { return MethodResult::Ok({version}); }, &error))
        << error;
    if (blExtension) {
      EXPECT_TRUE(m_pBus->ExportMethod(gnome::kFocusPath, gnome::kFocusInterface, "GetFocus",
                                       [this](const Message&) {
                                         // Reports sent before the answer, as a busy shell's queue holds them.
                                         for (const std::string& early : m_before) Emit(m_pBus.get(), early);
                                         return MethodResult::Ok({m_answer});
                                       },
                                       &error))
          << error;
    }
  }

  void Serve() { m_pServing = std::make_unique<test::BusServing>(*m_pBus); }
  void StopServing() { m_pServing.reset(); }

  static void Emit(Connection* pBus, const std::string& payload) {
    std::string error;
    EXPECT_TRUE(pBus->EmitSignal(gnome::kFocusPath, gnome::kFocusInterface, "FocusChanged", {payload}, &error))
        << error;
  }
  void Emit(const std::string& payload) { Emit(m_pBus.get(), payload); }

  std::string m_answer = Report(1, 0, 0, "");
  std::vector<std::string> m_before;

 private:
  std::unique_ptr<Connection> m_pBus;
  std::unique_ptr<test::BusServing> m_pServing;
};

class GnomeTrackerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (m_bus.Address().empty()) GTEST_SKIP() << "dbus-daemon could not be started";
    m_pEnv = std::make_unique<test::ScopedEnv>("DBUS_SESSION_BUS_ADDRESS", m_bus.Address().c_str());
  }

  std::unique_ptr<ForegroundTracker> Create(FakeShell& shell) {
    shell.Serve();
    std::string error;
    auto pTracker = CreateGnomeForegroundTracker(&error);
    EXPECT_NE(pTracker, nullptr) << error;
    if (pTracker) {
      m_current = pTracker->Current();
      pTracker->SetListener([this](const ForegroundWindow& window) { m_seen.push_back(window); });
    }
    shell.StopServing();
    return pTracker;
  }

  // Dispatches until `n` changes were reported, or for a second at most.
  void DispatchUntil(ForegroundTracker& tracker, std::size_t n) {
    for (int i = 0; i < 10 && m_seen.size() < n; ++i) {
      pollfd waiter{tracker.Fd(), POLLIN, 0};
      ::poll(&waiter, 1, 100);
      tracker.Dispatch();
    }
  }

  test::PrivateBus m_bus;
  std::unique_ptr<test::ScopedEnv> m_pEnv;
  ForegroundWindow m_current;
  std::vector<ForegroundWindow> m_seen;
};

TEST_F(GnomeTrackerTest, FollowsTheShellsReportsWithPidAndStartTimeAndNoOneElses) {
  const int nPid = ::getpid();
  const std::uint64_t nStart = ProcessStartTime(nPid);
  FakeShell shell(m_bus.Address(), "46.2", true);
  shell.m_answer = Report(4, 17, nPid);
  test::LogCapture log;
  auto pTracker = Create(shell);
  ASSERT_NE(pTracker, nullptr);
  EXPECT_EQ(pTracker->Name(), "GNOME");
  EXPECT_EQ(m_current, (ForegroundWindow{17, nPid, nStart}));

  // Another client of the bus speaks as the extension would: not believed.
  std::string error;
  auto pImpostor = Connection::OpenAddress(m_bus.Address(), &error);
  ASSERT_NE(pImpostor, nullptr) << error;
  FakeShell::Emit(pImpostor.get(), Report(9, 99, nPid));
  shell.Emit(Report(5, 18, nPid));
  shell.Emit(Report(6, 18, nPid));  // the class named late: the same front, no change
  shell.Emit("not a report");
  shell.Emit(Report(7, 0, 0, ""));
  DispatchUntil(*pTracker, 2);
  ASSERT_EQ(m_seen.size(), 2u);
  EXPECT_EQ(m_seen[0], (ForegroundWindow{18, nPid, nStart}));
  EXPECT_EQ(m_seen[1], ForegroundWindow{});
  // One line for what is not a report, however many come.
  shell.Emit("still not one");
  shell.Emit(Report(8, 20, 0, "no\\npid"));  // a JSON escape
  DispatchUntil(*pTracker, 3);
  ASSERT_EQ(m_seen.size(), 3u);
  EXPECT_EQ(m_seen[2], (ForegroundWindow{20, 0, 0}));
  const std::string text = log.Text();
  EXPECT_EQ(text.find("sent a focus report that is not a JSON object"), text.rfind("sent a focus report"));
  EXPECT_NE(text.find("names no process for the window of class \"no?pid\""), std::string::npos) << text;
  EXPECT_EQ(text.find("does not answer"), std::string::npos) << text;
}

TEST_F(GnomeTrackerTest, ReportsOlderThanTheAnswerAtStartDoNotUndoIt) {
  FakeShell shell(m_bus.Address(), "43.9", true);
  shell.m_before = {Report(2, 30, 0), Report(3, 31, 0)};
  shell.m_answer = Report(4, 32, 0);
  auto pTracker = Create(shell);
  ASSERT_NE(pTracker, nullptr);
  EXPECT_EQ(m_current.nWindow, 32u);
  // What comes later is newer and counts, from 1 again too (the extension enabled anew).
  shell.Emit(Report(1, 33, 0));
  DispatchUntil(*pTracker, 1);
  ASSERT_EQ(m_seen.size(), 1u);
  EXPECT_EQ(m_seen[0].nWindow, 33u);
}

TEST_F(GnomeTrackerTest, ASilentExtensionIsNamedForTheShellsVersionAndHeardOnceItSpeaks) {
  for (const auto& [pVersion, pUuid] : {std::pair{"43.9", "orb-focus-legacy@tarn.jp"},
                                        std::pair{"44.1", "orb-focus-legacy@tarn.jp"},
                                        std::pair{"45.0", "orb-focus@tarn.jp"},
                                        std::pair{"47.2", "orb-focus@tarn.jp"}}) {
    SCOPED_TRACE(pVersion);
    test::PrivateBus bus;
    test::ScopedEnv env("DBUS_SESSION_BUS_ADDRESS", bus.Address().c_str());
    FakeShell shell(bus.Address(), pVersion, false);
    const std::string advice = std::string("gnome-extensions enable ") + pUuid + "` (effective at the next login)";
    test::LogCapture log;
    m_seen.clear();
    auto pTracker = Create(shell);
    ASSERT_NE(pTracker, nullptr);
    EXPECT_EQ(m_current, ForegroundWindow{});
    const std::string text = log.Text();
    EXPECT_NE(text.find("extension does not answer"), std::string::npos) << text;
    EXPECT_NE(text.find(advice), std::string::npos) << text;
    EXPECT_EQ(text.find("does not answer"), text.rfind("does not answer")) << text;

    shell.Serve();
    std::string doctorAdvice;
    EXPECT_FALSE(GnomeShellExtensionAnswers(&doctorAdvice));
    EXPECT_NE(doctorAdvice.find(advice), std::string::npos) << doctorAdvice;
    shell.StopServing();

    shell.Emit(Report(1, 40, 0));
    DispatchUntil(*pTracker, 1);
    ASSERT_EQ(m_seen.size(), 1u);
    EXPECT_EQ(m_seen[0].nWindow, 40u);
  }
}

TEST_F(GnomeTrackerTest, NoShellOnTheBusIsNoTrackerAndAnAnsweringExtensionIsSaidToWork) {
  std::string error;
  EXPECT_EQ(CreateGnomeForegroundTracker(&error), nullptr);
  EXPECT_NE(error.find("GNOME Shell is not on the session bus"), std::string::npos) << error;
  EXPECT_FALSE(GnomeShellExtensionAnswers(&error));

  FakeShell shell(m_bus.Address(), "43.9", true);
  shell.Serve();
  std::string advice;
  EXPECT_TRUE(GnomeShellExtensionAnswers(&advice)) << advice;
}

}  // namespace
}  // namespace orb::platform

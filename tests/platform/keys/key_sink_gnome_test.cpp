// The GNOME key sink against a stand-in for mutter's remote desktop service on a bus of the
// test's own: what each session receives, in order, and what happens when mutter closes one.
#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "../dbus/private_bus.h"
#include "base/log_capture.h"
#include "platform/dbus/dbus_connection.h"
#include "platform/keys/key_sink.h"
#include "support/scoped_env.h"

namespace orb::platform {
namespace {

using dbus::Connection;
using dbus::Message;
using dbus::MethodResult;

constexpr const char* kSessionInterface = "org.gnome.Mutter.RemoteDesktop.Session";
constexpr std::uint8_t kVkShift = 0x10;
constexpr std::uint8_t kVkControl = 0x11;
constexpr std::uint8_t kVkEnd = 0x23;
constexpr std::uint8_t kVkE = 0x45;

std::string SessionPath(int n) { return "/org/gnome/Mutter/RemoteDesktop/Session/s" + std::to_string(n); }

// What a session was told, as "s1 start", "s1 +ffe1", "s1 -ffe1", "s1 stop".
class FakeMutter final {
 public:
  explicit FakeMutter(const std::string& address) {
    std::string error;
    m_pBus = Connection::OpenAddress(address, &error);
    if (!m_pBus || !m_pBus->RequestName("org.gnome.Mutter.RemoteDesktop", &error)) {
      ADD_FAILURE() << error;
      return;
    }
    EXPECT_TRUE(m_pBus->ExportMethod("/org/gnome/Mutter/RemoteDesktop", "org.gnome.Mutter.RemoteDesktop",
                                     "CreateSession",
                                     [this](const Message&) {
                                       std::lock_guard lock(m_m);
                                       if (m_blRefuse) {
                                         return MethodResult::Error("org.freedesktop.DBus.Error.AccessDenied", "no");
                                       }
                                       return MethodResult::Ok({dbus::ObjectPath{SessionPath(++m_nSessions)}});
                                     },
                                     &error))
        << error;
    for (int n = 1; n <= 3; ++n) {
      const std::string name = "s" + std::to_string(n);
      Export(SessionPath(n), "Start", [this, name](const Message&) { return Record(name + " start"); });
      Export(SessionPath(n), "Stop", [this, name](const Message&) { return Record(name + " stop"); });
      Export(SessionPath(n), "NotifyKeyboardKeysym", [this, n, name](const Message& m) {
        if (m.args.size() != 2) return MethodResult::Error("org.freedesktop.DBus.Error.InvalidArgs", "(ub)");
        if (IsClosed(n)) return MethodResult::Error("org.freedesktop.DBus.Error.UnknownObject", "closed");
        char text[16];
        std::snprintf(text, sizeof text, "%c%x", std::get<bool>(m.args[1]) ? '+' : '-',
                      std::get<std::uint32_t>(m.args[0]));
        return Record(name + " " + text);
      });
    }
  }

  void Serve() { m_pServing = std::make_unique<test::BusServing>(*m_pBus); }
  void StopServing() { m_pServing.reset(); }

  // As mutter does: the session's object goes, and its owner is told.
  void Close(int nSession) {
    {
      std::lock_guard lock(m_m);
      m_closed.push_back(nSession);
    }
    std::string error;
    EXPECT_TRUE(m_pBus->EmitSignal(SessionPath(nSession), kSessionInterface, "Closed", {}, &error)) << error;
  }

  std::vector<std::string> Events() {
    std::lock_guard lock(m_m);
    return m_events;
  }
  void Refuse() {
    std::lock_guard lock(m_m);
    m_blRefuse = true;
  }

 private:
  void Export(const std::string& path, const char* pMember, Connection::MethodHandler handler) {
    std::string error;
    EXPECT_TRUE(m_pBus->ExportMethod(path, kSessionInterface, pMember, std::move(handler), &error)) << error;
  }
  bool IsClosed(int nSession) {
    std::lock_guard lock(m_m);
    return std::find(m_closed.begin(), m_closed.end(), nSession) != m_closed.end();
  }
  MethodResult Record(std::string event) {
    std::lock_guard lock(m_m);
    m_events.push_back(std::move(event));
    return MethodResult::Ok();
  }

  std::mutex m_m;
  std::vector<std::string> m_events;
  std::vector<int> m_closed;
  int m_nSessions = 0;
  bool m_blRefuse = false;
  std::unique_ptr<Connection> m_pBus;
  std::unique_ptr<test::BusServing> m_pServing;
};

class GnomeKeySinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (m_bus.Address().empty()) GTEST_SKIP() << "dbus-daemon could not be started";
    m_pEnv = std::make_unique<test::ScopedEnv>("DBUS_SESSION_BUS_ADDRESS", m_bus.Address().c_str());
  }

  test::PrivateBus m_bus;
  std::unique_ptr<test::ScopedEnv> m_pEnv;
};

TEST_F(GnomeKeySinkTest, OneSessionTakesKeysymsAfterALoneShiftAndIsLeftWithNothingDown) {
  FakeMutter mutter(m_bus.Address());
  mutter.Serve();
  {
    std::string reason;
    auto pSink = CreateGnomeKeySink(&reason);
    ASSERT_NE(pSink, nullptr) << reason;
    EXPECT_STREQ(pSink->Name(), "GNOME remote desktop");
    pSink->KeyEvent(kVkControl, 0x1d, false);
    pSink->KeyEvent(kVkE, 0x12, false);
    pSink->KeyEvent(kVkE, 0x12, false);  // down already: not pressed twice
    pSink->KeyEvent(kVkE, 0x12, true);
    pSink->KeyEvent(kVkE, 0x12, true);    // up already
    pSink->KeyEvent(kVkShift, 0x2a, true);  // never pressed
    pSink->KeyEvent(kVkEnd, 0x4f, false);
    // The program ends with Ctrl and End down.
  }
  EXPECT_EQ(mutter.Events(), (std::vector<std::string>{"s1 start", "s1 +ffe1", "s1 -ffe1", "s1 +ffe3", "s1 +65",
                                                       "s1 -65", "s1 +ff57", "s1 -ffe3", "s1 -ff57", "s1 stop"}));
}

TEST_F(GnomeKeySinkTest, AClosedSessionsKeysAreNotReleasedAgainAndTheNextPressOpensANewOne) {
  FakeMutter mutter(m_bus.Address());
  mutter.Serve();
  std::string reason;
  auto pSink = CreateGnomeKeySink(&reason);
  ASSERT_NE(pSink, nullptr) << reason;
  pSink->KeyEvent(kVkShift, 0x2a, false);
  mutter.StopServing();
  mutter.Close(1);  // mutter let go of Shift with the session
  mutter.Serve();
  // Whether the sink has heard of the end or finds it out by its next call, the release
  // reaches no one and the next press opens a new session.
  test::LogCapture log;
  pSink->KeyEvent(kVkShift, 0x2a, true);
  pSink->KeyEvent(kVkEnd, 0x4f, false);
  pSink->KeyEvent(kVkEnd, 0x4f, true);
  EXPECT_EQ(mutter.Events(), (std::vector<std::string>{"s1 start", "s1 +ffe1", "s1 -ffe1", "s1 +ffe1", "s2 start",
                                                       "s2 +ffe1", "s2 -ffe1", "s2 +ff57", "s2 -ff57"}));
  EXPECT_NE(log.Text().find("the remote desktop session ended"), std::string::npos) << log.Text();
  EXPECT_NE(log.Text().find("a new session is open"), std::string::npos) << log.Text();
}

TEST_F(GnomeKeySinkTest, CtrlAltAndAFunctionKeyNeverSwitchTheConsole) {
  constexpr std::uint8_t kVkAlt = 0x12;
  constexpr std::uint8_t kVkRCtrl = 0xA3;
  constexpr std::uint8_t kVkF1 = 0x70;
  constexpr std::uint8_t kVkF12 = 0x7B;
  FakeMutter mutter(m_bus.Address());
  mutter.Serve();
  std::string reason;
  auto pSink = CreateGnomeKeySink(&reason);
  ASSERT_NE(pSink, nullptr) << reason;
  test::LogCapture log;
  pSink->KeyEvent(kVkControl, 0, false);
  pSink->KeyEvent(kVkF1, 0, false);  // Ctrl+F1: an application's key
  pSink->KeyEvent(kVkF1, 0, true);
  pSink->KeyEvent(kVkAlt, 0, false);
  pSink->KeyEvent(kVkF1, 0, false);  // Ctrl+Alt+F1: dropped, its release too
  pSink->KeyEvent(kVkF1, 0, true);
  pSink->KeyEvent(kVkE, 0, false);  // Ctrl+Alt+E: an application's key
  pSink->KeyEvent(kVkE, 0, true);
  pSink->KeyEvent(kVkControl, 0, true);
  pSink->KeyEvent(kVkRCtrl, 0, false);
  pSink->KeyEvent(kVkF12, 0, false);  // with the right Ctrl: dropped
  pSink->KeyEvent(kVkF12, 0, true);
  pSink->KeyEvent(kVkRCtrl, 0, true);
  pSink->KeyEvent(kVkAlt, 0, true);
  EXPECT_EQ(mutter.Events(),
            (std::vector<std::string>{"s1 start", "s1 +ffe1", "s1 -ffe1", "s1 +ffe3", "s1 +ffbe", "s1 -ffbe", "s1 +ffe9",
                                      "s1 +65", "s1 -65", "s1 -ffe3", "s1 +ffe4", "s1 -ffe4", "s1 -ffe9"}));
  EXPECT_NE(log.Text().find("Ctrl+Alt+F1 would switch the console"), std::string::npos) << log.Text();
}

TEST_F(GnomeKeySinkTest, NoServiceOrARefusedSessionIsNoSinkWithTheReason) {
  std::string reason;
  EXPECT_EQ(CreateGnomeKeySink(&reason), nullptr);
  EXPECT_NE(reason.find("remote desktop is not on the session bus"), std::string::npos) << reason;

  FakeMutter mutter(m_bus.Address());
  mutter.Refuse();
  mutter.Serve();
  EXPECT_EQ(CreateGnomeKeySink(&reason), nullptr);
  EXPECT_NE(reason.find("mutter refused a remote desktop session"), std::string::npos) << reason;
  EXPECT_NE(reason.find("AccessDenied"), std::string::npos) << reason;
}

}  // namespace
}  // namespace orb::platform

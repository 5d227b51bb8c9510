// The sway tracker's socket side against a stand-in for sway's IPC socket (the real sway
// is the wayland tier's): the subscription, the tree at start-up, events however the
// stream cuts them, a sway that ends, and the start-up choice in a Wayland session.
#include <gtest/gtest.h>

#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "base/log_capture.h"
#include "base/unique_fd.h"
#include "platform/foreground/foreground_tracker.h"
#include "platform/foreground/sway_ipc.h"
#include "support/scoped_env.h"

namespace orb::platform {

// Defined with the parser's tests, in the same binary.
void PrintTo(const ForegroundWindow& window, std::ostream* pOut);

namespace {

using test::ScopedEnv;

bool Readable(int nFd, int nTimeoutMs) {
  pollfd fd{nFd, POLLIN, 0};
  return ::poll(&fd, 1, nTimeoutMs) == 1 && (fd.revents & POLLIN) != 0;
}

bool ReadExactly(int nFd, void* pData, std::size_t nSize) {
  auto* pBytes = static_cast<std::uint8_t*>(pData);
  while (nSize > 0) {
    const ssize_t n = ::read(nFd, pBytes, nSize);
    if (n <= 0) return false;
    pBytes += n;
    nSize -= static_cast<std::size_t>(n);
  }
  return true;
}

std::string FocusEvent(int nId, int nPid) {
  return R"({"change":"focus","container":{"id":)" + std::to_string(nId) + R"(,"pid":)" + std::to_string(nPid) + "}}";
}

std::string TreeFocusing(int nId, int nPid) {
  return R"({"id":1,"nodes":[{"id":4,"type":"workspace","nodes":[{"id":)" + std::to_string(nId) + R"(,"pid":)" +
         std::to_string(nPid) + R"(,"focused":true}]}]})";
}

// Listens under /tmp (a socket path has at most 107 bytes) and answers the requests of
// one client from a thread of its own; the test adds events or cuts the stream.
class FakeSway final {
 public:
  // What goes back before the reply to a request (events sway sent meanwhile) and after it.
  struct Answer {
    std::string reply;
    std::vector<std::uint8_t> before;
    std::vector<std::uint8_t> after;
  };

  FakeSway() {
    char dir[] = "/tmp/orb-sway-test-XXXXXX";
    m_dir = ::mkdtemp(dir);
    m_path = m_dir + "/ipc.sock";
    m_listen = UniqueFd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, m_path.c_str());
    if (::bind(m_listen.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(m_listen.Get(), 4) != 0) {
      ADD_FAILURE() << "cannot listen on " << m_path;
    }
    answers[sway::kSubscribe] = Answer{R"({"success":true})", {}, {}};
    answers[sway::kGetTree] = Answer{TreeFocusing(6, 4242), {}, {}};
    m_thread = std::thread([this] { Serve(); });
  }

  ~FakeSway() {
    ::shutdown(m_listen.Get(), SHUT_RDWR);
    Close();
    m_thread.join();
    std::filesystem::remove_all(m_dir);
  }

  const std::string& Path() const { return m_path; }

  void Send(const std::vector<std::uint8_t>& bytes) {
    std::lock_guard lock(m_m);
    (void)!::write(m_client.Get(), bytes.data(), bytes.size());
  }

  void Close() {
    std::lock_guard lock(m_m);
    ::shutdown(m_client.Get(), SHUT_RDWR);
  }

  std::vector<std::string> Requests() {
    std::lock_guard lock(m_m);
    return m_requests;
  }

  // Set before the client connects.
  std::map<std::uint32_t, Answer> answers;

 private:
  void Serve() {
    const int nClient = ::accept4(m_listen.Get(), nullptr, nullptr, SOCK_CLOEXEC);
    if (nClient < 0) return;
    {
      std::lock_guard lock(m_m);
      m_client = UniqueFd(nClient);
    }
    for (;;) {
      std::uint8_t header[sway::kHeaderBytes];
      if (!ReadExactly(nClient, header, sizeof header)) return;
      std::string reason;
      const auto parsed = sway::ParseHeader(header, &reason);
      if (!parsed) return;
      std::string payload(parsed->nLength, '\0');
      if (!ReadExactly(nClient, payload.data(), payload.size())) return;
      Answer answer;
      {
        std::lock_guard lock(m_m);
        m_requests.push_back(std::to_string(parsed->nType) + " " + payload);
        const auto it = answers.find(parsed->nType);
        if (it == answers.end()) continue;  // never answered: a socket that is not sway's
        answer = it->second;
      }
      std::vector<std::uint8_t> bytes = answer.before;
      const auto reply = sway::EncodeMessage(parsed->nType, answer.reply);
      bytes.insert(bytes.end(), reply.begin(), reply.end());
      bytes.insert(bytes.end(), answer.after.begin(), answer.after.end());
      Send(bytes);
    }
  }

  std::string m_dir;
  std::string m_path;
  UniqueFd m_listen;
  std::mutex m_m;
  UniqueFd m_client;
  std::vector<std::string> m_requests;
  std::thread m_thread;
};

std::vector<std::uint8_t> Event(std::uint32_t nType, const std::string& payload) {
  return sway::EncodeMessage(nType, payload);
}

class SwayTrackerTest : public ::testing::Test {
 protected:
  std::unique_ptr<ForegroundTracker> Connect() {
    std::string error;
    auto pTracker = CreateSwayForegroundTracker(m_sway.Path().c_str(), &error);
    EXPECT_NE(pTracker, nullptr) << error;
    if (pTracker) {
      pTracker->SetListener([this](const ForegroundWindow& window) { m_reports.push_back(window); });
    }
    return pTracker;
  }

  // Waits for the tracker's fd and dispatches until the reports reach nCount.
  void DispatchUntil(ForegroundTracker& tracker, std::size_t nCount) {
    while (m_reports.size() < nCount && Readable(tracker.Fd(), 5000)) {
      tracker.Dispatch();
    }
  }

  FakeSway m_sway;
  std::vector<ForegroundWindow> m_reports;
};

TEST_F(SwayTrackerTest, SubscribesToWindowEventsReadsTheTreeAndFollowsFocus) {
  auto pTracker = Connect();
  ASSERT_NE(pTracker, nullptr);
  EXPECT_EQ(pTracker->Name(), "sway");
  EXPECT_EQ(pTracker->Current(), (ForegroundWindow{6, 4242}));
  const auto requests = m_sway.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0], "2 [\"window\",\"workspace\"]");
  EXPECT_EQ(requests[1], "4 ");

  EXPECT_FALSE(Readable(pTracker->Fd(), 0));
  m_sway.Send(Event(sway::kEventWindow, FocusEvent(7, 4343)));
  DispatchUntil(*pTracker, 1);
  // Focus on the window already in front is no change; a title change is none either.
  auto bytes = Event(sway::kEventWindow, FocusEvent(7, 4343));
  const auto title = Event(sway::kEventWindow, R"({"change":"title","container":{"id":8,"pid":1}})");
  const auto next = Event(sway::kEventWindow, FocusEvent(8, 4444));
  bytes.insert(bytes.end(), title.begin(), title.end());
  bytes.insert(bytes.end(), next.begin(), next.end());
  m_sway.Send(bytes);
  DispatchUntil(*pTracker, 2);
  EXPECT_EQ(m_reports, (std::vector<ForegroundWindow>{{7, 4343}, {8, 4444}}));
}

TEST_F(SwayTrackerTest, AMessageCutAnywhereIsTakenWhenItIsWhole) {
  auto pTracker = Connect();
  ASSERT_NE(pTracker, nullptr);
  pTracker->Current();
  const auto bytes = Event(sway::kEventWindow, FocusEvent(9, 99));
  for (const std::size_t nCut : {std::size_t{3}, sway::kHeaderBytes, sway::kHeaderBytes + 5}) {
    m_reports.clear();
    m_sway.Send(Event(sway::kEventWindow, FocusEvent(1000 + static_cast<int>(nCut), 1)));
    DispatchUntil(*pTracker, 1);
    m_sway.Send(std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(nCut)));
    ASSERT_TRUE(Readable(pTracker->Fd(), 5000));
    pTracker->Dispatch();
    EXPECT_EQ(m_reports.size(), 1u) << "a part of a message was taken for one, cut at " << nCut;
    m_sway.Send(std::vector<std::uint8_t>(bytes.begin() + static_cast<std::ptrdiff_t>(nCut), bytes.end()));
    DispatchUntil(*pTracker, 2);
    ASSERT_EQ(m_reports.size(), 2u) << nCut;
    EXPECT_EQ(m_reports.back(), (ForegroundWindow{9, 99}));
  }
}

TEST_F(SwayTrackerTest, EventsBeforeTheTreeAreOlderThanItAndEventsAfterItAreNewer) {
  auto before = Event(sway::kEventWindow, FocusEvent(20, 2000));
  m_sway.answers[sway::kGetTree] = FakeSway::Answer{TreeFocusing(6, 4242), before, {}};
  auto pTracker = Connect();
  ASSERT_NE(pTracker, nullptr);
  EXPECT_EQ(pTracker->Current(), (ForegroundWindow{6, 4242}));
  EXPECT_TRUE(m_reports.empty());

  FakeSway other;
  other.answers[sway::kGetTree] =
      FakeSway::Answer{TreeFocusing(6, 4242), {}, Event(sway::kEventWindow, FocusEvent(21, 2100))};
  std::string error;
  auto pSecond = CreateSwayForegroundTracker(other.Path().c_str(), &error);
  ASSERT_NE(pSecond, nullptr) << error;
  EXPECT_EQ(pSecond->Current(), (ForegroundWindow{21, 2100}));
}

TEST_F(SwayTrackerTest, WhenSwayEndsTheListenerHearsOfNoWindowOnceAndTheFdGoesQuiet) {
  auto pTracker = Connect();
  ASSERT_NE(pTracker, nullptr);
  pTracker->Current();
  test::LogCapture log;
  m_sway.Close();
  DispatchUntil(*pTracker, 1);
  EXPECT_EQ(m_reports, (std::vector<ForegroundWindow>{ForegroundWindow{}}));
  EXPECT_NE(log.Text().find("sway closed the IPC connection"), std::string::npos) << log.Text();
  EXPECT_FALSE(Readable(pTracker->Fd(), 50)) << "the main loop would spin on an ended socket";
  pTracker->Dispatch();
  EXPECT_EQ(m_reports.size(), 1u);
  EXPECT_EQ(pTracker->Current(), ForegroundWindow{});
}

TEST_F(SwayTrackerTest, GarbageOnTheStreamEndsTheConnectionInsteadOfBeingGuessedAt) {
  auto pTracker = Connect();
  ASSERT_NE(pTracker, nullptr);
  pTracker->Current();
  test::LogCapture log;
  std::vector<std::uint8_t> garbage(20, 'z');
  m_sway.Send(garbage);
  DispatchUntil(*pTracker, 1);
  EXPECT_EQ(m_reports, (std::vector<ForegroundWindow>{ForegroundWindow{}}));
  EXPECT_NE(log.Text().find("i3-ipc"), std::string::npos) << log.Text();
  EXPECT_FALSE(Readable(pTracker->Fd(), 50));
}

TEST(SwayTrackerStartTest, ARefusedSubscriptionOrAMissingSocketIsAnErrorWithItsReason) {
  {
    FakeSway fake;
    fake.answers[sway::kSubscribe] = FakeSway::Answer{R"({"success":false})", {}, {}};
    std::string error;
    EXPECT_EQ(CreateSwayForegroundTracker(fake.Path().c_str(), &error), nullptr);
    EXPECT_EQ(error, "sway refused the subscription to window events");
  }
  std::string error;
  EXPECT_EQ(CreateSwayForegroundTracker("/tmp/orb-no-such-dir/sway.sock", &error), nullptr);
  EXPECT_NE(error.find("cannot connect to the sway IPC socket \"/tmp/orb-no-such-dir/sway.sock\""), std::string::npos)
      << error;
  EXPECT_EQ(CreateSwayForegroundTracker(std::string(108, 'a').c_str(), &error), nullptr);
  EXPECT_NE(error.find("longer than 107 bytes"), std::string::npos) << error;
}

TEST(SelectSwayTrackerTest, AWaylandSessionChoosesSwayByItsSocketAndNeverTheX11Tracker) {
  FakeSway fake;
  ScopedEnv forced("ORB_FOREGROUND", nullptr);
  ScopedEnv session("XDG_SESSION_TYPE", "wayland");
  ScopedEnv socket("SWAYSOCK", fake.Path().c_str());
  ScopedEnv display("DISPLAY", ":0");  // XWayland's; not to be used
  test::LogCapture log;
  auto pTracker = SelectForegroundTracker();
  ASSERT_NE(pTracker, nullptr);
  EXPECT_EQ(pTracker->Name(), "sway");
  EXPECT_EQ(log.Text(), "Foreground: sway\r\n");
}

TEST(SelectSwayTrackerTest, AWaylandSessionWithoutABackendOfItsOwnHasNoneAndSaysWhichDesktop) {
  ScopedEnv forced("ORB_FOREGROUND", nullptr);
  ScopedEnv session("XDG_SESSION_TYPE", nullptr);
  ScopedEnv wayland("WAYLAND_DISPLAY", "wayland-0");  // enough to tell a Wayland session
  ScopedEnv socket("SWAYSOCK", nullptr);
  ScopedEnv desktop("XDG_CURRENT_DESKTOP", "XFCE");
  ScopedEnv display("DISPLAY", ":0");
  test::LogCapture log;
  auto pTracker = SelectForegroundTracker();
  EXPECT_EQ(pTracker->Name(), "none");
  // Each backend tried says why it could not be.
  EXPECT_EQ(log.Text().rfind("Foreground: none (Wayland session of XFCE: no sway IPC socket (SWAYSOCK is not set); "
                             "cannot connect to the Wayland display",
                             0),
            0u)
      << log.Text();
  EXPECT_NE(log.Text().find("\r\nForegroundTracker: no application is known\r\n"), std::string::npos);
}

TEST(SelectSwayTrackerTest, ForcedSwayThatDoesNotAnswerFallsBackToNoneWithTheReason) {
  ScopedEnv forced("ORB_FOREGROUND", "sway");
  ScopedEnv session("XDG_SESSION_TYPE", "x11");
  ScopedEnv socket("SWAYSOCK", "/tmp/orb-no-such-dir/sway.sock");
  test::LogCapture log;
  auto pTracker = SelectForegroundTracker();
  EXPECT_EQ(pTracker->Name(), "none");
  EXPECT_EQ(log.Text().rfind("Foreground: none (ORB_FOREGROUND=sway: cannot connect to the sway IPC socket", 0), 0u)
      << log.Text();
}

}  // namespace
}  // namespace orb::platform

// The Hyprland tracker against sockets of the test's own that speak Hyprland's wire format
// (no Hyprland runs here): the window in front at start, each activewindowv2 event with
// the pid asked of the request socket, lines cut anywhere, and a Hyprland that goes away.
#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/log_capture.h"
#include "base/unique_fd.h"
#include "platform/foreground/foreground_tracker.h"
#include "platform/process/process_start.h"
#include "support/scoped_env.h"

namespace orb::platform {
namespace {

UniqueFd Listen(const std::string& path) {
  UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strcpy(address.sun_path, path.c_str());
  if (::bind(fd.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd.Get(), 8) != 0) {
    ADD_FAILURE() << "cannot listen on " << path;
  }
  return fd;
}

// Hyprland's two sockets: requests answered from a table the test fills (and counted),
// events written by the test to every listener.
class FakeHyprland final {
 public:
  FakeHyprland() {
    char dir[] = "/tmp/orb-hypr-test-XXXXXX";
    m_runtime = ::mkdtemp(dir);
    m_dir = m_runtime + "/hypr/" + kSignature;
    std::filesystem::create_directories(m_dir);
    m_requests = Listen(m_dir + "/.socket.sock");
    m_events = Listen(m_dir + "/.socket2.sock");
    m_thread = std::thread([this] { Serve(); });
  }
  ~FakeHyprland() {
    m_blStop.store(true);
    m_thread.join();
    std::filesystem::remove_all(m_runtime);
  }

  static constexpr const char* kSignature = "v0.41_1733000000_1234";
  const std::string& Runtime() const { return m_runtime; }
  const std::string& Dir() const { return m_dir; }

  void Answer(const std::string& request, const std::string& reply) {
    std::lock_guard lock(m_m);
    m_replies[request] = reply;
  }
  std::size_t Asked(const std::string& request) {
    std::lock_guard lock(m_m);
    return m_asked[request];
  }
  void Send(const std::string& bytes) {
    std::lock_guard lock(m_m);
    for (const UniqueFd& listener : m_listeners) (void)!::send(listener.Get(), bytes.data(), bytes.size(), MSG_NOSIGNAL);
  }
  bool WaitForListener() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < deadline) {
      {
        std::lock_guard lock(m_m);
        if (!m_listeners.empty()) return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return false;
  }
  void CloseEvents() {
    std::lock_guard lock(m_m);
    m_listeners.clear();
  }

 private:
  void Serve() {
    while (!m_blStop.load()) {
      pollfd fds[2] = {{m_requests.Get(), POLLIN, 0}, {m_events.Get(), POLLIN, 0}};
      if (::poll(fds, 2, 20) <= 0) continue;
      if ((fds[1].revents & POLLIN) != 0) {
        UniqueFd listener(::accept4(m_events.Get(), nullptr, nullptr, SOCK_CLOEXEC));
        std::lock_guard lock(m_m);
        m_listeners.push_back(std::move(listener));
      }
      if ((fds[0].revents & POLLIN) != 0) {
        UniqueFd client(::accept4(m_requests.Get(), nullptr, nullptr, SOCK_CLOEXEC));
        char request[256];
        const ssize_t n = ::recv(client.Get(), request, sizeof request, 0);
        if (n <= 0) continue;
        std::string reply;
        {
          std::lock_guard lock(m_m);
          const std::string text(request, static_cast<std::size_t>(n));
          ++m_asked[text];
          const auto it = m_replies.find(text);
          reply = it != m_replies.end() ? it->second : "unknown request";
        }
        // In pieces, as a large answer comes.
        for (std::size_t i = 0; i < reply.size(); i += 7) {
          (void)!::send(client.Get(), reply.data() + i, std::min<std::size_t>(7, reply.size() - i), MSG_NOSIGNAL);
        }
      }
    }
  }

  std::string m_runtime;
  std::string m_dir;
  UniqueFd m_requests;
  UniqueFd m_events;
  std::mutex m_m;
  std::map<std::string, std::string> m_replies;
  std::map<std::string, std::size_t> m_asked;
  std::vector<UniqueFd> m_listeners;
  std::atomic<bool> m_blStop{false};
  std::thread m_thread;
};

// Two windows of real processes (ours and our parent), so that start times are real.
class HyprlandTrackerTest : public ::testing::Test {
 protected:
  HyprlandTrackerTest() {
    m_hypr.Answer("j/activewindow", "{\"address\": \"0xa1\", \"pid\": " + std::to_string(m_nOwn) + "}");
    m_hypr.Answer("j/clients", "[{\"address\": \"0xa1\", \"pid\": " + std::to_string(m_nOwn) +
                                   "}, {\"address\": \"0xb2\", \"class\": \"mpv\", \"pid\": " +
                                   std::to_string(m_nParent) + "}]");
  }

  std::unique_ptr<ForegroundTracker> Connect() {
    std::string error;
    auto pTracker = CreateHyprlandForegroundTracker(m_hypr.Dir(), &error);
    EXPECT_TRUE(pTracker) << error;
    if (pTracker) {
      pTracker->SetListener([this](const ForegroundWindow& front) { m_changes.push_back(front); });
      EXPECT_TRUE(m_hypr.WaitForListener());
    }
    return pTracker;
  }

  void DispatchUntil(ForegroundTracker& tracker, std::size_t nChanges) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (m_changes.size() < nChanges && std::chrono::steady_clock::now() < deadline) {
      pollfd waiter{tracker.Fd(), POLLIN, 0};
      if (::poll(&waiter, 1, 50) > 0) tracker.Dispatch();
    }
  }

  const int m_nOwn = static_cast<int>(::getpid());
  const int m_nParent = static_cast<int>(::getppid());
  FakeHyprland m_hypr;
  std::vector<ForegroundWindow> m_changes;
};

TEST_F(HyprlandTrackerTest, TheWindowInFrontComesWithItsPidAtStartAndOnEachChange) {
  auto pTracker = Connect();
  ASSERT_TRUE(pTracker);
  EXPECT_EQ(pTracker->Name(), "Hyprland");
  EXPECT_EQ(pTracker->Current(), (ForegroundWindow{0xa1, m_nOwn, ProcessStartTime(m_nOwn)}));

  // Other events around it, and the line cut in two.
  m_hypr.Send("workspace>>2\nactivewindow>>mpv,video.mkv\nactivewind");
  m_hypr.Send("owv2>>b2\nfocusedmon>>HEADLESS-1,2\n");
  DispatchUntil(*pTracker, 1);
  ASSERT_EQ(m_changes.size(), 1u);
  EXPECT_EQ(m_changes[0], (ForegroundWindow{0xb2, m_nParent, ProcessStartTime(m_nParent)}));

  // No window in front, then an address Hyprland no longer lists (closed meanwhile): the
  // first is told, the second is not.
  m_hypr.Send("activewindowv2>>\n");
  DispatchUntil(*pTracker, 2);
  ASSERT_EQ(m_changes.size(), 2u);
  EXPECT_EQ(m_changes[1], ForegroundWindow{});
  const std::size_t nAsked = m_hypr.Asked("j/clients");
  m_hypr.Send("activewindowv2>>c3\n");
  DispatchUntil(*pTracker, 3);
  EXPECT_EQ(m_changes.size(), 2u);
  EXPECT_EQ(m_hypr.Asked("j/clients"), nAsked + 1);
}

TEST_F(HyprlandTrackerTest, AChangeToldWithTheStartUpAnswerHasTheQuestionAskedAgain) {
  auto pTracker = Connect();
  ASSERT_TRUE(pTracker);
  // The event comes before the tracker asks: which is newer cannot be told, so it asks
  // again, and what is already said is not told as a change later.
  m_hypr.Send("activewindowv2>>b2\n");
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  const std::size_t nAsked = m_hypr.Asked("j/activewindow");
  EXPECT_EQ(pTracker->Current().nWindow, 0xa1u);
  EXPECT_EQ(m_hypr.Asked("j/activewindow"), nAsked + 2);
  pTracker->Dispatch();
  EXPECT_TRUE(m_changes.empty());
}

TEST_F(HyprlandTrackerTest, OnlyTheLastOfManyChangesIsAskedAbout) {
  auto pTracker = Connect();
  ASSERT_TRUE(pTracker);
  pTracker->Current();
  m_hypr.Send("activewindowv2>>b2\nactivewindowv2>>a1\nactivewindowv2>>b2\n");
  // All three in one read: wait until they are there.
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  DispatchUntil(*pTracker, 1);
  ASSERT_EQ(m_changes.size(), 1u);
  EXPECT_EQ(m_changes[0].nWindow, 0xb2u);
  EXPECT_EQ(m_hypr.Asked("j/clients"), 1u);
}

TEST_F(HyprlandTrackerTest, AnOverlongLineIsDroppedWholeAndWhatFollowsCounts) {
  auto pTracker = Connect();
  ASSERT_TRUE(pTracker);
  pTracker->Current();
  // A title far beyond any real one, its end looking like an event of its own.
  m_hypr.Send("activewindow>>x," + std::string(70 * 1024, 't'));
  DispatchUntil(*pTracker, 1);
  m_hypr.Send("activewindowv2>>a1\nactivewindowv2>>b2\n");
  DispatchUntil(*pTracker, 1);
  ASSERT_EQ(m_changes.size(), 1u);
  EXPECT_EQ(m_changes[0].nWindow, 0xb2u);
}

TEST_F(HyprlandTrackerTest, AHyprlandThatGoesLeavesNoWindowAndAQuietFd) {
  auto pTracker = Connect();
  ASSERT_TRUE(pTracker);
  ASSERT_NE(pTracker->Current().nWindow, 0u);
  test::LogCapture log;
  m_hypr.CloseEvents();
  DispatchUntil(*pTracker, 1);
  ASSERT_EQ(m_changes.size(), 1u);
  EXPECT_EQ(m_changes[0], ForegroundWindow{});
  EXPECT_NE(log.Text().find("Hyprland closed its event socket"), std::string::npos) << log.Text();
  pollfd waiter{pTracker->Fd(), POLLIN, 0};
  EXPECT_EQ(::poll(&waiter, 1, 50), 0);
}

TEST_F(HyprlandTrackerTest, StartUpChoosesHyprlandByItsSignatureAndSaysWhyNot) {
  test::ScopedEnv forced("ORB_FOREGROUND", nullptr);
  test::ScopedEnv session("XDG_SESSION_TYPE", "wayland");
  test::ScopedEnv runtime("XDG_RUNTIME_DIR", m_hypr.Runtime().c_str());
  test::ScopedEnv sway("SWAYSOCK", nullptr);
  {
    test::ScopedEnv signature("HYPRLAND_INSTANCE_SIGNATURE", FakeHyprland::kSignature);
    test::LogCapture log;
    auto pTracker = SelectForegroundTracker();
    EXPECT_EQ(pTracker->Name(), "Hyprland");
    EXPECT_EQ(log.Text(), "Foreground: Hyprland\r\n");
  }
  {
    // Forced by name, but the signature names another instance: none, with the reason.
    test::ScopedEnv force("ORB_FOREGROUND", "hyprland");
    test::ScopedEnv signature("HYPRLAND_INSTANCE_SIGNATURE", "gone");
    test::LogCapture log;
    EXPECT_EQ(SelectForegroundTracker()->Name(), "none");
    EXPECT_EQ(log.Text().rfind("Foreground: none (ORB_FOREGROUND=hyprland: cannot connect to \"", 0), 0u)
        << log.Text();
  }
  {
    // A signature that would leave the folder is not followed.
    test::ScopedEnv force("ORB_FOREGROUND", "hyprland");
    test::ScopedEnv signature("HYPRLAND_INSTANCE_SIGNATURE", "../hypr/x");
    test::LogCapture log;
    EXPECT_EQ(SelectForegroundTracker()->Name(), "none");
    EXPECT_NE(log.Text().find("not a plain name"), std::string::npos) << log.Text();
  }
}

TEST(HyprlandTrackerStartTest, ARequestSocketThatAnswersOtherwiseIsRefused) {
  FakeHyprland hypr;
  hypr.Answer("j/activewindow", "ok");
  std::string error;
  EXPECT_FALSE(CreateHyprlandForegroundTracker(hypr.Dir(), &error));
  EXPECT_NE(error.find("does not answer as Hyprland's"), std::string::npos) << error;
}

}  // namespace
}  // namespace orb::platform

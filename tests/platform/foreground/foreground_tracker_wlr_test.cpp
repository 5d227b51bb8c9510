// The wlroots tracker against a compositor of the test's own (libwayland-server offering
// the toplevel list): the window in front follows the activated state as of each done,
// its application comes from the app_id's desktop entry, our own window carries our pid,
// and a compositor that goes away leaves a quiet fd. (The real sway is the wayland tier's.)
#include <gtest/gtest.h>

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <wayland-server.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/log_capture.h"
#include "platform/foreground/foreground_tracker.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"
#include "wlr-foreign-toplevel-management-unstable-v1-server-protocol.h"

namespace orb::platform {
namespace {

// Runs its loop on a thread of its own; the test hands it work through Run(), which
// returns once that work is done and flushed to the clients.
class ToplevelCompositor final {
 public:
  ToplevelCompositor() {
    char dir[] = "/tmp/orb-ft-test-XXXXXX";
    m_dir = ::mkdtemp(dir);
    m_path = m_dir + "/wayland-test";
    m_pDisplay = wl_display_create();
    const int nListen = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, m_path.c_str());
    if (::bind(nListen, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(nListen, 4) != 0 ||
        wl_display_add_socket_fd(m_pDisplay, nListen) != 0) {
      ADD_FAILURE() << "cannot listen on " << m_path;
    }
    wl_global_create(m_pDisplay, &zwlr_foreign_toplevel_manager_v1_interface, 3, this, &BindManager);
    m_nWake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    m_pWakeSource =
        wl_event_loop_add_fd(wl_display_get_event_loop(m_pDisplay), m_nWake, WL_EVENT_READABLE, &OnWake, this);
    m_thread = std::thread([this] {
      wl_event_loop* pLoop = wl_display_get_event_loop(m_pDisplay);
      while (!m_blStop.load()) {
        wl_event_loop_dispatch(pLoop, 20);
        wl_display_flush_clients(m_pDisplay);
      }
    });
  }

  ~ToplevelCompositor() {
    m_blStop.store(true);
    m_thread.join();
    wl_display_destroy_clients(m_pDisplay);
    wl_event_source_remove(m_pWakeSource);  // the loop frees only the sources it is told to
    wl_display_destroy(m_pDisplay);
    ::close(m_nWake);
    std::filesystem::remove_all(m_dir);
  }

  const std::string& Path() const { return m_path; }

  // Windows are named by the test. A manager bound later is told of each, as compositors
  // list the windows there are to a new client.
  void AddWindow(const std::string& name, const std::string& appId, bool blActivated) {
    Run([&] {
      m_windows.push_back({name, appId, blActivated});
      for (wl_resource* pManager : m_managers) Announce(pManager, m_windows.back());
    });
  }

  // One window activated, the one before it not, each change closed by its done.
  void Activate(const std::string& from, const std::string& to) {
    Run([&] {
      for (wl_resource* pHandle : m_handles[from]) {
        SendState(pHandle, false);
        zwlr_foreign_toplevel_handle_v1_send_done(pHandle);
      }
      for (wl_resource* pHandle : m_handles[to]) {
        SendState(pHandle, true);
        zwlr_foreign_toplevel_handle_v1_send_done(pHandle);
      }
    });
  }

  // A change that has not been closed by done yet.
  void DeactivateWithoutDone(const std::string& name) {
    Run([&] {
      for (wl_resource* pHandle : m_handles[name]) SendState(pHandle, false);
    });
  }
  void Done(const std::string& name) {
    Run([&] {
      for (wl_resource* pHandle : m_handles[name]) zwlr_foreign_toplevel_handle_v1_send_done(pHandle);
    });
  }

  void Close(const std::string& name) {
    Run([&] {
      for (wl_resource* pHandle : m_handles[name]) zwlr_foreign_toplevel_handle_v1_send_closed(pHandle);
      m_handles.erase(name);
      std::erase_if(m_windows, [&](const Window& window) { return window.name == name; });
    });
  }

  void DropClients() {
    Run([&] {
      wl_list* pClients = wl_display_get_client_list(m_pDisplay);
      while (!wl_list_empty(pClients)) wl_client_destroy(wl_client_from_link(pClients->next));
      m_managers.clear();
      m_handles.clear();
    });
  }

 private:
  void Run(std::function<void()> work) {
    std::promise<void> done;
    {
      std::lock_guard lock(m_m);
      m_work.push_back([&] {
        work();
        wl_display_flush_clients(m_pDisplay);
        done.set_value();
      });
    }
    const std::uint64_t nOne = 1;
    (void)!::write(m_nWake, &nOne, sizeof nOne);
    done.get_future().wait();
  }

  static int OnWake(int nFd, std::uint32_t, void* pData) {
    auto* pSelf = static_cast<ToplevelCompositor*>(pData);
    std::uint64_t nCount = 0;
    (void)!::read(nFd, &nCount, sizeof nCount);
    std::vector<std::function<void()>> work;
    {
      std::lock_guard lock(pSelf->m_m);
      work.swap(pSelf->m_work);
    }
    for (auto& item : work) item();
    return 0;
  }

  struct Window {
    std::string name;
    std::string appId;
    bool blActivated;
  };

  void Announce(wl_resource* pManager, const Window& window) {
    wl_resource* pHandle =
        wl_resource_create(wl_resource_get_client(pManager), &zwlr_foreign_toplevel_handle_v1_interface, 3, 0);
    wl_resource_set_implementation(pHandle, &kHandle, nullptr, nullptr);
    zwlr_foreign_toplevel_manager_v1_send_toplevel(pManager, pHandle);
    zwlr_foreign_toplevel_handle_v1_send_title(pHandle, window.name.c_str());
    zwlr_foreign_toplevel_handle_v1_send_app_id(pHandle, window.appId.c_str());
    SendState(pHandle, window.blActivated);
    zwlr_foreign_toplevel_handle_v1_send_done(pHandle);
    m_handles[window.name].push_back(pHandle);
  }

  static void SendState(wl_resource* pHandle, bool blActivated) {
    wl_array states;
    wl_array_init(&states);
    // Maximized too, so that the activated state is looked for among others.
    *static_cast<std::uint32_t*>(wl_array_add(&states, sizeof(std::uint32_t))) =
        ZWLR_FOREIGN_TOPLEVEL_HANDLE_V1_STATE_MAXIMIZED;
    if (blActivated) {
      *static_cast<std::uint32_t*>(wl_array_add(&states, sizeof(std::uint32_t))) =
          ZWLR_FOREIGN_TOPLEVEL_HANDLE_V1_STATE_ACTIVATED;
    }
    zwlr_foreign_toplevel_handle_v1_send_state(pHandle, &states);
    wl_array_release(&states);
  }

  static void BindManager(wl_client* pClient, void* pData, std::uint32_t nVersion, std::uint32_t nId) {
    static const struct zwlr_foreign_toplevel_manager_v1_interface kManager = {
        [](wl_client*, wl_resource* pResource) { zwlr_foreign_toplevel_manager_v1_send_finished(pResource); }};
    auto* pSelf = static_cast<ToplevelCompositor*>(pData);
    wl_resource* pResource =
        wl_resource_create(pClient, &zwlr_foreign_toplevel_manager_v1_interface, static_cast<int>(nVersion), nId);
    wl_resource_set_implementation(pResource, &kManager, pSelf, nullptr);
    pSelf->m_managers.push_back(pResource);
    for (const Window& window : pSelf->m_windows) pSelf->Announce(pResource, window);
  }

  static void Ignore(wl_client*, wl_resource*) {}
  static constexpr struct zwlr_foreign_toplevel_handle_v1_interface kHandle = {
      &Ignore, &Ignore, &Ignore, &Ignore, [](wl_client*, wl_resource*, wl_resource*) {}, &Ignore,
      [](wl_client*, wl_resource*, wl_resource*, std::int32_t, std::int32_t, std::int32_t, std::int32_t) {},
      [](wl_client*, wl_resource* pResource) { wl_resource_destroy(pResource); },
      [](wl_client*, wl_resource*, wl_resource*) {}, &Ignore};

  std::string m_dir;
  std::string m_path;
  wl_display* m_pDisplay = nullptr;
  int m_nWake = -1;
  wl_event_source* m_pWakeSource = nullptr;
  std::atomic<bool> m_blStop{false};
  std::mutex m_m;
  std::vector<std::function<void()>> m_work;
  std::vector<Window> m_windows;  // loop thread only, as the managers and handles
  std::vector<wl_resource*> m_managers;
  std::map<std::string, std::vector<wl_resource*>> m_handles;
  std::thread m_thread;
};

std::size_t CountOf(const std::string& text, const std::string& needle) {
  std::size_t nCount = 0;
  for (std::size_t i = text.find(needle); i != std::string::npos; i = text.find(needle, i + 1)) ++nCount;
  return nCount;
}

class WlrTrackerTest : public ::testing::Test {
 protected:
  WlrTrackerTest()
      : m_dataHome("XDG_DATA_HOME", (m_data.Path() / "home").c_str()),
        m_dataDirs("XDG_DATA_DIRS", (m_data.Path() / "system").c_str()) {
    std::filesystem::create_directories(m_data.Path() / "home" / "applications");
    std::ofstream(m_data.Path() / "home" / "applications" / "org.kde.kdenlive.desktop")
        << "[Desktop Entry]\nName=Kdenlive\nExec=/usr/bin/kdenlive %F\n";
  }

  std::unique_ptr<ForegroundTracker> Connect() {
    std::string error;
    auto pTracker = CreateWlrForegroundTracker(m_compositor.Path().c_str(), &error);
    EXPECT_TRUE(pTracker) << error;
    if (pTracker) {
      pTracker->SetListener([this](const ForegroundWindow& front) { m_changes.push_back(front); });
    }
    return pTracker;
  }

  // Dispatches until the tracker has told something new, or a while has passed.
  void DispatchUntilChanged(ForegroundTracker& tracker, std::size_t nBefore) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (m_changes.size() == nBefore && std::chrono::steady_clock::now() < deadline) {
      pollfd waiter{tracker.Fd(), POLLIN, 0};
      if (::poll(&waiter, 1, 50) > 0) tracker.Dispatch();
    }
  }

  // Dispatches whatever comes within a short while (for "nothing is told").
  void DispatchFor(ForegroundTracker& tracker, int nMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(nMs);
    while (std::chrono::steady_clock::now() < deadline) {
      pollfd waiter{tracker.Fd(), POLLIN, 0};
      if (::poll(&waiter, 1, 20) > 0) tracker.Dispatch();
    }
  }

  test::TempDir m_data;
  test::ScopedEnv m_dataHome;
  test::ScopedEnv m_dataDirs;
  ToplevelCompositor m_compositor;
  std::vector<ForegroundWindow> m_changes;
};

TEST_F(WlrTrackerTest, FollowsTheActivatedWindowAndNamesItsApplication) {
  m_compositor.AddWindow("editor", "org.kde.kdenlive", true);
  m_compositor.AddWindow("player", "mpv", false);
  test::LogCapture log;
  auto pTracker = Connect();
  ASSERT_TRUE(pTracker);
  EXPECT_EQ(pTracker->Name(), "wlr");
  const ForegroundWindow first = pTracker->Current();
  EXPECT_NE(first.nWindow, 0u);
  EXPECT_EQ(first.nPid, 0);
  EXPECT_EQ(first.sApplication, "KDENLIVE");

  m_compositor.Activate("editor", "player");
  DispatchUntilChanged(*pTracker, 0);
  DispatchFor(*pTracker, 100);
  ASSERT_FALSE(m_changes.empty());
  const ForegroundWindow second = m_changes.back();
  EXPECT_EQ(second.sApplication, "MPV");
  EXPECT_NE(second.nWindow, first.nWindow);
  // Whatever came between (no window for a moment), the editor was not told again.
  for (const ForegroundWindow& change : m_changes) EXPECT_NE(change.sApplication, "KDENLIVE");

  // Back: the same window id as at first.
  m_changes.clear();
  m_compositor.Activate("player", "editor");
  DispatchUntilChanged(*pTracker, 0);
  DispatchFor(*pTracker, 100);
  ASSERT_FALSE(m_changes.empty());
  EXPECT_EQ(m_changes.back(), first);
  EXPECT_EQ(CountOf(log.Text(), "the compositor tells no pid"), 1u) << log.Text();
}

TEST_F(WlrTrackerTest, AChangeCountsOnlyOnceItsDoneCame) {
  m_compositor.AddWindow("editor", "org.kde.kdenlive", true);
  auto pTracker = Connect();
  ASSERT_TRUE(pTracker);
  ASSERT_NE(pTracker->Current().nWindow, 0u);
  m_compositor.DeactivateWithoutDone("editor");
  DispatchFor(*pTracker, 150);
  EXPECT_TRUE(m_changes.empty());
  m_compositor.Done("editor");
  DispatchUntilChanged(*pTracker, 0);
  ASSERT_EQ(m_changes.size(), 1u);
  EXPECT_EQ(m_changes[0], ForegroundWindow{});
  EXPECT_EQ(pTracker->Current(), ForegroundWindow{});
}

TEST_F(WlrTrackerTest, OurOwnWindowCarriesOurPidAndAClosedFrontIsNoWindow) {
  // The toolkit makes a program's window app_id its executable's name.
  const std::string own = std::filesystem::read_symlink("/proc/self/exe").filename().string();
  m_compositor.AddWindow("other", "mpv", true);
  auto pTracker = Connect();
  ASSERT_TRUE(pTracker);
  EXPECT_EQ(pTracker->Current().nPid, 0);
  m_compositor.AddWindow("ours", own, false);
  m_compositor.Activate("other", "ours");
  DispatchUntilChanged(*pTracker, 0);
  DispatchFor(*pTracker, 100);
  ASSERT_FALSE(m_changes.empty());
  EXPECT_EQ(m_changes.back().nPid, static_cast<int>(::getpid()));

  m_changes.clear();
  m_compositor.Close("ours");
  DispatchUntilChanged(*pTracker, 0);
  ASSERT_EQ(m_changes.size(), 1u);
  EXPECT_EQ(m_changes[0].nWindow, 0u);
}

TEST_F(WlrTrackerTest, ACompositorThatGoesLeavesNoWindowAndAQuietFd) {
  m_compositor.AddWindow("editor", "org.kde.kdenlive", true);
  auto pTracker = Connect();
  ASSERT_TRUE(pTracker);
  ASSERT_NE(pTracker->Current().nWindow, 0u);
  test::LogCapture log;
  m_compositor.DropClients();
  DispatchUntilChanged(*pTracker, 0);
  ASSERT_EQ(m_changes.size(), 1u);
  EXPECT_EQ(m_changes[0], ForegroundWindow{});
  EXPECT_EQ(CountOf(log.Text(), "no longer followed"), 1u) << log.Text();
  // The main loop keeps watching the fd: it must not read as ready for ever.
  pollfd waiter{pTracker->Fd(), POLLIN, 0};
  EXPECT_EQ(::poll(&waiter, 1, 50), 0);
  pTracker->Dispatch();
  EXPECT_EQ(m_changes.size(), 1u);
}

TEST(WlrTrackerStartTest, ACompositorWithoutTheListIsRefusedWithTheReason) {
  char dir[] = "/tmp/orb-ft-none-XXXXXX";
  const std::string path = std::string(::mkdtemp(dir)) + "/wayland-none";
  wl_display* pDisplay = wl_display_create();
  ASSERT_EQ(wl_display_add_socket(pDisplay, path.c_str()), 0);
  std::atomic<bool> blStop{false};
  std::thread loop([&] {
    while (!blStop.load()) {
      wl_event_loop_dispatch(wl_display_get_event_loop(pDisplay), 20);
      wl_display_flush_clients(pDisplay);
    }
  });
  std::string error;
  EXPECT_FALSE(CreateWlrForegroundTracker(path.c_str(), &error));
  EXPECT_NE(error.find("zwlr_foreign_toplevel_manager_v1"), std::string::npos) << error;
  blStop.store(true);
  loop.join();
  wl_display_destroy_clients(pDisplay);  // the refused tracker's connection, still open on this side
  wl_display_destroy(pDisplay);
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace orb::platform

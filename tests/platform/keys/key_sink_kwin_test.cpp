// The fake_input sink against a small compositor of the test's own that offers what KWin
// offers (a seat whose keyboard sends the session's keymap, fake_input) and records every
// fake_input request. The real KWin is the wayland tier's.
#include <gtest/gtest.h>
#include <linux/input-event-codes.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <wayland-server.h>
#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/log_capture.h"
#include "kwin-fake-input-server-protocol.h"
#include "platform/keys/held_keys.h"
#include "platform/keys/key_sink.h"
#include "platform/keys/virtual_keys.h"
#include "platform/time/clock.h"
#include "support/scoped_env.h"

namespace orb::platform {
namespace {

using test::ScopedEnv;

// Lines: "auth ORB", "key 44 down", "key 44 up", "gone" (a fake_input object destroyed).
class FakeKWinCompositor final {
 public:
  FakeKWinCompositor(const char* pLayout, std::uint32_t nGroup, int nFakeVersion)
      : m_nGroup(nGroup) {
    char dir[] = "/tmp/orb-kwin-test-XXXXXX";
    m_dir = ::mkdtemp(dir);
    m_path = m_dir + "/wayland-kwin";
    xkb_context* pContext = xkb_context_new(XKB_CONTEXT_NO_ENVIRONMENT_NAMES);
    const xkb_rule_names names{"evdev", "pc105", pLayout, nullptr, nullptr};
    xkb_keymap* pKeymap = xkb_keymap_new_from_names(pContext, &names, XKB_KEYMAP_COMPILE_NO_FLAGS);
    if (pKeymap != nullptr) {
      char* pText = xkb_keymap_get_as_string(pKeymap, XKB_KEYMAP_FORMAT_TEXT_V1);
      m_keymap = pText;
      std::free(pText);
      xkb_keymap_unref(pKeymap);
    }
    xkb_context_unref(pContext);
    m_pDisplay = wl_display_create();
    const int nListen = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, m_path.c_str());
    if (::bind(nListen, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(nListen, 4) != 0 ||
        wl_display_add_socket_fd(m_pDisplay, nListen) != 0) {
      ADD_FAILURE() << "cannot listen on " << m_path;
    }
    wl_global_create(m_pDisplay, &wl_seat_interface, 5, this, &BindSeat);
    if (nFakeVersion > 0) {
      wl_global_create(m_pDisplay, &org_kde_kwin_fake_input_interface, nFakeVersion, this, &BindFake);
    }
    m_thread = std::thread([this] {
      wl_event_loop* pLoop = wl_display_get_event_loop(m_pDisplay);
      while (!m_blStop.load()) {
        wl_event_loop_dispatch(pLoop, 20);
        wl_display_flush_clients(m_pDisplay);
        if (m_blDropClients.exchange(false)) {
          wl_list* pClients = wl_display_get_client_list(m_pDisplay);
          while (!wl_list_empty(pClients)) wl_client_destroy(wl_client_from_link(pClients->next));
          Record("dropped");
        }
      }
    });
  }

  ~FakeKWinCompositor() {
    m_blStop.store(true);
    m_thread.join();
    wl_display_destroy_clients(m_pDisplay);
    wl_display_destroy(m_pDisplay);
    std::filesystem::remove_all(m_dir);
  }

  const std::string& Path() const { return m_path; }
  bool HasKeymap() const { return !m_keymap.empty(); }

  std::vector<std::string> Lines() {
    std::lock_guard lock(m_m);
    return m_lines;
  }
  std::vector<std::string> WaitForLines(std::size_t nCount) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (Lines().size() < nCount && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return Lines();
  }
  void DropClients() {
    const std::size_t nBefore = Lines().size();
    m_blDropClients.store(true);
    WaitForLines(nBefore + 1);
  }
  void Record(std::string line) {
    std::lock_guard lock(m_m);
    m_lines.push_back(std::move(line));
  }

 private:
  static FakeKWinCompositor* Self(wl_resource* pResource) {
    return static_cast<FakeKWinCompositor*>(wl_resource_get_user_data(pResource));
  }

  static void GetKeyboard(wl_client* pClient, wl_resource* pSeat, std::uint32_t nId) {
    static const struct wl_keyboard_interface kKeyboard = {
        [](wl_client*, wl_resource* pResource) { wl_resource_destroy(pResource); }};
    FakeKWinCompositor* pSelf = Self(pSeat);
    wl_resource* pKeyboard = wl_resource_create(pClient, &wl_keyboard_interface, wl_resource_get_version(pSeat), nId);
    wl_resource_set_implementation(pKeyboard, &kKeyboard, pSelf, nullptr);
    const int nFd = ::memfd_create("keymap", MFD_CLOEXEC);
    const std::size_t nSize = pSelf->m_keymap.size() + 1;
    if (::write(nFd, pSelf->m_keymap.c_str(), nSize) == static_cast<ssize_t>(nSize)) {
      wl_keyboard_send_keymap(pKeyboard, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, nFd, static_cast<std::uint32_t>(nSize));
    }
    ::close(nFd);
    wl_keyboard_send_modifiers(pKeyboard, 1, 0, 0, 0, pSelf->m_nGroup);
  }

  static void BindSeat(wl_client* pClient, void* pData, std::uint32_t nVersion, std::uint32_t nId) {
    static const struct wl_seat_interface kSeat = {
        [](wl_client*, wl_resource*, std::uint32_t) {}, &GetKeyboard, [](wl_client*, wl_resource*, std::uint32_t) {},
        [](wl_client*, wl_resource* pResource) { wl_resource_destroy(pResource); }};
    wl_resource* pResource = wl_resource_create(pClient, &wl_seat_interface, static_cast<int>(nVersion), nId);
    wl_resource_set_implementation(pResource, &kSeat, pData, nullptr);
    wl_seat_send_capabilities(pResource, WL_SEAT_CAPABILITY_KEYBOARD);
  }

  static void BindFake(wl_client* pClient, void* pData, std::uint32_t nVersion, std::uint32_t nId) {
    static const struct org_kde_kwin_fake_input_interface kFake = {
        [](wl_client*, wl_resource* p, const char* pApp, const char*) { Self(p)->Record(std::string("auth ") + pApp); },
        [](wl_client*, wl_resource*, wl_fixed_t, wl_fixed_t) {},
        [](wl_client*, wl_resource*, std::uint32_t, std::uint32_t) {},
        [](wl_client*, wl_resource*, std::uint32_t, wl_fixed_t) {},
        [](wl_client*, wl_resource*, std::uint32_t, wl_fixed_t, wl_fixed_t) {},
        [](wl_client*, wl_resource*, std::uint32_t, wl_fixed_t, wl_fixed_t) {},
        [](wl_client*, wl_resource*, std::uint32_t) {},
        [](wl_client*, wl_resource*) {},
        [](wl_client*, wl_resource*) {},
        [](wl_client*, wl_resource*, wl_fixed_t, wl_fixed_t) {},
        [](wl_client*, wl_resource* p, std::uint32_t nCode, std::uint32_t nState) {
          Self(p)->Record("key " + std::to_string(nCode) + (nState != 0 ? " down" : " up"));
        },
        [](wl_client*, wl_resource* p) {
          Self(p)->Record("gone");
          wl_resource_destroy(p);
        }};
    wl_resource* pResource =
        wl_resource_create(pClient, &org_kde_kwin_fake_input_interface, static_cast<int>(nVersion), nId);
    wl_resource_set_implementation(pResource, &kFake, pData, nullptr);
  }

  std::uint32_t m_nGroup;
  std::string m_dir, m_path, m_keymap;
  wl_display* m_pDisplay = nullptr;
  std::thread m_thread;
  std::atomic<bool> m_blStop{false};
  std::atomic<bool> m_blDropClients{false};
  std::mutex m_m;
  std::vector<std::string> m_lines;
};

std::string Key(int nCode, bool blDown) { return "key " + std::to_string(nCode) + (blDown ? " down" : " up"); }

constexpr std::uint8_t kVkShift = 0x10, kVkControl = 0x11, kVkMenu = 0x12, kVkY = 'Y', kVkF1 = 0x70;

class KWinKeySinkTest : public ::testing::Test {
 protected:
  std::unique_ptr<KeySink> Open(FakeKWinCompositor& kwin, std::string* pReason) {
    if (!kwin.HasKeymap()) return nullptr;
    ScopedEnv display("WAYLAND_DISPLAY", kwin.Path().c_str());
    return CreateKWinKeySink(pReason);
  }
};

TEST_F(KWinKeySinkTest, KeysGoWhereTheSessionsLayoutHasTheirSymbolAfterAuthentication) {
  FakeKWinCompositor kwin("us,de", /*nGroup=*/1, /*nFakeVersion=*/4);
  if (!kwin.HasKeymap()) GTEST_SKIP() << "no XKB data for us,de";
  std::string reason;
  auto pSink = Open(kwin, &reason);
  ASSERT_NE(pSink, nullptr) << reason;
  EXPECT_STREQ(pSink->Name(), "KWin fake input");
  // Shift+Y under the German layout: Y is where a US keyboard has Z.
  pSink->KeyEvent(kVkShift, 0, false);
  pSink->KeyEvent(kVkY, 0, false);
  pSink->KeyEvent(kVkY, 0, true);
  pSink->KeyEvent(kVkShift, 0, true);
  const auto lines = kwin.WaitForLines(5);
  EXPECT_EQ(lines, (std::vector<std::string>{"auth ORB", Key(KEY_LEFTSHIFT, true), Key(KEY_Z, true),
                                             Key(KEY_Z, false), Key(KEY_LEFTSHIFT, false)}));
}

TEST_F(KWinKeySinkTest, NoReleaseWithoutItsPressAndNoKeyLeftDownAtTheEnd) {
  FakeKWinCompositor kwin("us", 0, 5);
  if (!kwin.HasKeymap()) GTEST_SKIP() << "no XKB data for us";
  std::string reason;
  auto pSink = Open(kwin, &reason);
  ASSERT_NE(pSink, nullptr) << reason;
  pSink->KeyEvent(kVkY, 0, true);        // never pressed: nothing goes
  pSink->KeyEvent(kVkControl, 0, false);
  pSink->KeyEvent(kVkY, 0, false);
  pSink->KeyEvent(kVkY, 0, false);       // already down: no second press
  pSink.reset();                         // the program ends mid-stroke
  const auto lines = kwin.WaitForLines(6);
  ASSERT_EQ(lines.size(), 6u) << ::testing::PrintToString(lines);
  EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 3),
            (std::vector<std::string>{"auth ORB", Key(KEY_LEFTCTRL, true), Key(KEY_Y, true)}));
  // Both go up before the object goes, in either order.
  EXPECT_TRUE((lines[3] == Key(KEY_LEFTCTRL, false) && lines[4] == Key(KEY_Y, false)) ||
              (lines[3] == Key(KEY_Y, false) && lines[4] == Key(KEY_LEFTCTRL, false)))
      << ::testing::PrintToString(lines);
  EXPECT_EQ(lines[5], "gone");
}

TEST_F(KWinKeySinkTest, AKeyThatWouldMakeKWinActIsNotSent) {
  FakeKWinCompositor kwin("us", 0, 4);
  if (!kwin.HasKeymap()) GTEST_SKIP() << "no XKB data for us";
  std::string reason;
  auto pSink = Open(kwin, &reason);
  ASSERT_NE(pSink, nullptr) << reason;
  test::LogCapture log;
  // Ctrl+Alt+F1 would switch to the first text console.
  pSink->KeyEvent(kVkControl, 0, false);
  pSink->KeyEvent(kVkMenu, 0, false);
  pSink->KeyEvent(kVkF1, 0, false);
  pSink->KeyEvent(kVkF1, 0, true);
  pSink->KeyEvent(kVkMenu, 0, true);
  pSink->KeyEvent(kVkControl, 0, true);
  pSink->KeyEvent(kVkF1, 0, false);  // alone, it is just F1
  pSink->KeyEvent(kVkF1, 0, true);
  const auto lines = kwin.WaitForLines(7);
  EXPECT_EQ(lines, (std::vector<std::string>{"auth ORB", Key(KEY_LEFTCTRL, true), Key(KEY_LEFTALT, true),
                                             Key(KEY_LEFTALT, false), Key(KEY_LEFTCTRL, false), Key(KEY_F1, true),
                                             Key(KEY_F1, false)}));
  EXPECT_NE(log.Text().find("would make KWin act"), std::string::npos) << log.Text();
}

TEST_F(KWinKeySinkTest, KeysDownWhenKWinDropsUsAreLetGoOnTheNextConnection) {
  FakeKWinCompositor kwin("us", 0, 4);
  if (!kwin.HasKeymap()) GTEST_SKIP() << "no XKB data for us";
  std::string reason;
  auto pSink = Open(kwin, &reason);
  ASSERT_NE(pSink, nullptr) << reason;
  pSink->KeyEvent(kVkY, 0, false);
  kwin.WaitForLines(2);
  kwin.DropClients();
  pSink->KeyEvent(kVkY, 0, true);  // noticed here or at the next press
  ScopedEnv display("WAYLAND_DISPLAY", kwin.Path().c_str());
  pSink->KeyEvent(kVkShift, 0, false);
  pSink->KeyEvent(kVkShift, 0, true);
  const auto lines = kwin.WaitForLines(7);
  ASSERT_GE(lines.size(), 7u) << ::testing::PrintToString(lines);
  // After the drop: a new authentication, Y let go, then the new stroke.
  const auto itDrop = std::find(lines.begin(), lines.end(), "dropped");
  ASSERT_NE(itDrop, lines.end());
  EXPECT_EQ(std::vector<std::string>(itDrop + 1, lines.end()),
            (std::vector<std::string>{"auth ORB", Key(KEY_Y, false), Key(KEY_LEFTSHIFT, true),
                                      Key(KEY_LEFTSHIFT, false)}));
}

TEST_F(KWinKeySinkTest, WithoutFakeInputOrWithAnOldOneThereIsNoSinkAndTheReasonSaysWhatToInstall) {
  FakeKWinCompositor none("us", 0, 0);
  if (!none.HasKeymap()) GTEST_SKIP() << "no XKB data for us";
  std::string reason;
  EXPECT_EQ(Open(none, &reason), nullptr);
  EXPECT_NE(reason.find("X-KDE-Wayland-Interfaces"), std::string::npos) << reason;
  FakeKWinCompositor old("us", 0, 3);
  reason.clear();
  EXPECT_EQ(Open(old, &reason), nullptr);
  EXPECT_NE(reason.find("version 3"), std::string::npos) << reason;
}

TEST_F(KWinKeySinkTest, TheGuardsReleaseReachesKWinOnAConnectionOfItsOwn) {
  FakeKWinCompositor kwin("us", 0, 4);
  std::string error;
  ASSERT_TRUE(ReleaseKeysLeftDown("KWin fake input", kwin.Path(), {KEY_Y, KEY_LEFTCTRL}, &error)) << error;
  EXPECT_EQ(kwin.WaitForLines(3), (std::vector<std::string>{"auth ORB", Key(KEY_Y, false), Key(KEY_LEFTCTRL, false)}));
  EXPECT_FALSE(ReleaseKeysLeftDown("KWin fake input", "/nonexistent/wayland-9", {KEY_Y}, &error));
  EXPECT_NE(error.find("/nonexistent/wayland-9"), std::string::npos) << error;
}

TEST_F(KWinKeySinkTest, AKdeWaylandSessionChoosesFakeInputAndOrbKeysForcesIt) {
  FakeKWinCompositor kwin("us", 0, 4);
  if (!kwin.HasKeymap()) GTEST_SKIP() << "no XKB data for us";
  ScopedEnv display("WAYLAND_DISPLAY", kwin.Path().c_str());
  ScopedEnv type("XDG_SESSION_TYPE", "wayland");
  ScopedEnv desktop("XDG_CURRENT_DESKTOP", "KDE");
  ScopedEnv noForce("ORB_KEYS", nullptr);
  const Clock& clock = RealClock();
  {
    test::LogCapture log;
    EXPECT_STREQ(SelectKeySink(clock)->Name(), "KWin fake input");
    EXPECT_EQ(log.Text(), "SelectKeySink: key strokes go to KWin fake input\r\n");
  }
  ScopedEnv other("XDG_CURRENT_DESKTOP", "sway");
  ScopedEnv force("ORB_KEYS", "kwin");
  EXPECT_STREQ(SelectKeySink(clock)->Name(), "KWin fake input");
}

}  // namespace
}  // namespace orb::platform

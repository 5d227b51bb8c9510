// The Wayland virtual-keyboard sink against a small compositor of the test's own (libwayland-
// server, offering a seat and the virtual-keyboard manager, recording every request): what
// goes over the wire per key, the modifiers, a connection that ends mid-play, the end with
// keys down. Then the start-up choice in a Wayland session. (The real sway is the wayland
// tier's.)
#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <linux/input-event-codes.h>
#include <wayland-server.h>
#include <xkbcommon/xkbcommon.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/log_capture.h"
#include "platform/keys/held_keys.h"
#include "platform/keys/key_sink.h"
#if ORB_TEST_UINPUT
#include "platform/keys/uinput_layout.h"
#endif
#include "platform/time/clock.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"
#include "virtual-keyboard-unstable-v1-server-protocol.h"

namespace orb::platform {
namespace {

using test::ScopedEnv;

bool UinputOpens() {
  const int nFd = ::open("/dev/uinput", O_WRONLY | O_CLOEXEC);
  if (nFd < 0) return false;
  ::close(nFd);
  return true;
}

// Listens on a socket under /tmp and runs its own event loop on a thread; every request a
// client makes of a virtual keyboard becomes one line ("keymap", "key 30 down", "mods 4 0 0 0").
class RecordingCompositor final {
 public:
  explicit RecordingCompositor(bool blOfferKeyboards = true) {
    char dir[] = "/tmp/orb-wl-test-XXXXXX";
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
    wl_global_create(m_pDisplay, &wl_seat_interface, 1, this, &BindSeat);
    if (blOfferKeyboards) {
      wl_global_create(m_pDisplay, &zwp_virtual_keyboard_manager_v1_interface, 1, this, &BindManager);
    }
    m_thread = std::thread([this] {
      wl_event_loop* pLoop = wl_display_get_event_loop(m_pDisplay);
      while (!m_blStop.load()) {
        wl_event_loop_dispatch(pLoop, 20);
        wl_display_flush_clients(m_pDisplay);
        if (m_blDropClients.exchange(false)) {
          wl_list* pClients = wl_display_get_client_list(m_pDisplay);
          while (!wl_list_empty(pClients)) {
            wl_client_destroy(wl_client_from_link(pClients->next));
          }
          Record("dropped");
        }
      }
    });
  }

  ~RecordingCompositor() {
    m_blStop.store(true);
    m_thread.join();
    wl_display_destroy_clients(m_pDisplay);
    wl_display_destroy(m_pDisplay);
    std::filesystem::remove_all(m_dir);
  }

  const std::string& Path() const { return m_path; }

  std::vector<std::string> Lines() {
    std::lock_guard lock(m_m);
    return m_lines;
  }

  // Waits until nCount lines were recorded; the lines then.
  std::vector<std::string> WaitForLines(std::size_t nCount) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (Lines().size() < nCount && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return Lines();
  }

  // The keymap the seat's keyboard tells its clients; set before any connects.
  void SetSessionKeymap(std::string text) { m_sessionKeymap = std::move(text); }

  // No new client gets in from now on, as when the compositor itself is gone.
  void StopListening() { ::unlink(m_path.c_str()); }

  // Ends every client's connection, as a compositor that goes away does.
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
  static RecordingCompositor* Self(wl_resource* pResource) {
    return static_cast<RecordingCompositor*>(wl_resource_get_user_data(pResource));
  }

  static void BindSeat(wl_client* pClient, void* pData, std::uint32_t nVersion, std::uint32_t nId) {
    static const struct wl_seat_interface kSeat = {
        [](wl_client*, wl_resource*, std::uint32_t) {},
        [](wl_client* pClient, wl_resource* pSeat, std::uint32_t nId) {
          // A keyboard of the seat: it tells its keymap at once, when the test gave one.
          static const struct wl_keyboard_interface kKeyboard = {
              [](wl_client*, wl_resource* pResource) { wl_resource_destroy(pResource); }};
          wl_resource* pKeyboard =
              wl_resource_create(pClient, &wl_keyboard_interface, wl_resource_get_version(pSeat), nId);
          wl_resource_set_implementation(pKeyboard, &kKeyboard, nullptr, nullptr);
          const std::string& text = Self(pSeat)->m_sessionKeymap;
          if (text.empty()) return;
          const int nFd = ::memfd_create("test-keymap", MFD_CLOEXEC);
          if (::write(nFd, text.c_str(), text.size() + 1) == static_cast<ssize_t>(text.size() + 1)) {
            wl_keyboard_send_keymap(pKeyboard, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, nFd,
                                    static_cast<std::uint32_t>(text.size() + 1));
          }
          ::close(nFd);
        },
        [](wl_client*, wl_resource*, std::uint32_t) {}, [](wl_client*, wl_resource* pResource) {
          wl_resource_destroy(pResource);
        }};
    wl_resource* pResource = wl_resource_create(pClient, &wl_seat_interface, static_cast<int>(nVersion), nId);
    wl_resource_set_implementation(pResource, &kSeat, pData, nullptr);
  }

  static void BindManager(wl_client* pClient, void* pData, std::uint32_t nVersion, std::uint32_t nId) {
    static const struct zwp_virtual_keyboard_manager_v1_interface kManager = {
        [](wl_client* pClient, wl_resource* pManager, wl_resource*, std::uint32_t nId) {
          wl_resource* pKeyboard = wl_resource_create(pClient, &zwp_virtual_keyboard_v1_interface, 1, nId);
          wl_resource_set_implementation(pKeyboard, &kKeyboard, Self(pManager), nullptr);
        }};
    wl_resource* pResource =
        wl_resource_create(pClient, &zwp_virtual_keyboard_manager_v1_interface, static_cast<int>(nVersion), nId);
    wl_resource_set_implementation(pResource, &kManager, pData, nullptr);
  }

  static constexpr struct zwp_virtual_keyboard_v1_interface kKeyboard = {
      [](wl_client*, wl_resource* pResource, std::uint32_t nFormat, std::int32_t nFd, std::uint32_t nSize) {
        // A compositor maps the keymap read-only; it must be whole XKB text, NUL included.
        std::string line = "keymap bad";
        void* pMap = ::mmap(nullptr, nSize, PROT_READ, MAP_PRIVATE, nFd, 0);
        if (pMap != MAP_FAILED) {
          const std::string_view text(static_cast<const char*>(pMap), nSize);
          if (nFormat == WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1 && text.rfind("xkb_keymap", 0) == 0 && text.back() == '\0') {
            line = "keymap";
          }
          ::munmap(pMap, nSize);
        }
        ::close(nFd);
        Self(pResource)->Record(line);
      },
      [](wl_client*, wl_resource* pResource, std::uint32_t, std::uint32_t nKey, std::uint32_t nState) {
        Self(pResource)->Record("key " + std::to_string(nKey) + (nState == 1 ? " down" : " up"));
      },
      [](wl_client*, wl_resource* pResource, std::uint32_t nDepressed, std::uint32_t nLatched, std::uint32_t nLocked,
         std::uint32_t nGroup) {
        Self(pResource)->Record("mods " + std::to_string(nDepressed) + " " + std::to_string(nLatched) + " " +
                                std::to_string(nLocked) + " " + std::to_string(nGroup));
      },
      [](wl_client*, wl_resource* pResource) {
        Self(pResource)->Record("destroy");
        wl_resource_destroy(pResource);
      }};

  std::string m_dir;
  std::string m_path;
  std::string m_sessionKeymap;
  wl_display* m_pDisplay = nullptr;
  std::atomic<bool> m_blStop{false};
  std::atomic<bool> m_blDropClients{false};
  std::mutex m_m;
  std::vector<std::string> m_lines;
  std::thread m_thread;
};

constexpr std::uint8_t kVkControl = 0x11;
constexpr std::uint8_t kVkShift = 0x10;
constexpr std::uint8_t kVkA = 0x41;
constexpr std::uint8_t kVkB = 0x42;
constexpr std::uint8_t kVkC = 0x43;
// evdev codes of the keys above (the keymap puts them on their usual places)
constexpr const char* kCtrl = "29";
constexpr const char* kShift = "42";

std::vector<std::string> From(const std::vector<std::string>& lines, std::size_t nFirst) {
  return std::vector<std::string>(lines.begin() + static_cast<std::ptrdiff_t>(std::min(nFirst, lines.size())),
                                  lines.end());
}

class WaylandKeySinkTest : public ::testing::Test {
 protected:
  WaylandKeySinkTest() : m_display("WAYLAND_DISPLAY", m_compositor.Path().c_str()) {}

  RecordingCompositor m_compositor;
  ScopedEnv m_display;
};

TEST_F(WaylandKeySinkTest, EachKeyGoesOutWithTheModifiersItMakesAfterOurKeymap) {
  std::string reason;
  auto pSink = CreateWaylandKeySink(&reason);
  ASSERT_NE(pSink, nullptr) << reason;
  EXPECT_STREQ(pSink->Name(), "Wayland virtual keyboard");
  ASSERT_EQ(m_compositor.WaitForLines(1), (std::vector<std::string>{"keymap"}));

  pSink->KeyEvent(kVkControl, 0x1D, false);
  pSink->KeyEvent(kVkShift, 0x2A, false);
  pSink->KeyEvent(kVkA, 0x1E, false);
  pSink->KeyEvent(kVkA, 0x1E, true);
  pSink->KeyEvent(kVkShift, 0x2A, true);
  pSink->KeyEvent(kVkControl, 0x1D, true);
  // Control is bit 2, Shift bit 0 of the standard modifiers.
  EXPECT_EQ(From(m_compositor.WaitForLines(11), 1),
            (std::vector<std::string>{"key " + std::string(kCtrl) + " down", "mods 4 0 0 0",
                                      "key " + std::string(kShift) + " down", "mods 5 0 0 0", "key 30 down",
                                      "key 30 up", "key " + std::string(kShift) + " up", "mods 4 0 0 0",
                                      "key " + std::string(kCtrl) + " up", "mods 0 0 0 0"}));
  // A release of what is not down sends nothing.
  pSink->KeyEvent(kVkB, 0x30, true);
  pSink.reset();
  EXPECT_EQ(From(m_compositor.WaitForLines(12), 11), (std::vector<std::string>{"destroy"}));
}

TEST_F(WaylandKeySinkTest, AConnectionThatEndsMidPlayHasItsKeysReleasedOnANewOne) {
  std::string reason;
  auto pSink = CreateWaylandKeySink(&reason);
  ASSERT_NE(pSink, nullptr) << reason;
  pSink->KeyEvent(kVkShift, 0x2A, false);
  pSink->KeyEvent(kVkB, 0x30, false);
  ASSERT_EQ(m_compositor.WaitForLines(4).size(), 4u);  // keymap, shift down, mods, B down

  test::LogCapture log;
  // Shift and B are down on the keyboard that went with the connection; a compositor may
  // keep them down in the client in front.
  m_compositor.DropClients();
  pSink->KeyEvent(kVkB, 0x30, true);
  EXPECT_NE(log.Text().find("WaylandKeySink: the compositor connection ended"), std::string::npos) << log.Text();
  EXPECT_EQ(From(m_compositor.WaitForLines(9), 4),
            (std::vector<std::string>{"dropped", "keymap", "key " + std::string(kShift) + " up", "key 48 up",
                                      "mods 0 0 0 0"}));
  EXPECT_NE(log.Text().find("released 2 key(s) down on a new connection"), std::string::npos) << log.Text();

  // Shift's own release comes later and finds nothing down: it is not sent twice.
  pSink->KeyEvent(kVkShift, 0x2A, true);
  pSink->KeyEvent(kVkC, 0x2E, false);
  pSink->KeyEvent(kVkC, 0x2E, true);
  EXPECT_EQ(From(m_compositor.WaitForLines(11), 9), (std::vector<std::string>{"key 46 down", "key 46 up"}));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(m_compositor.Lines().size(), 11u);
}

TEST_F(WaylandKeySinkTest, ACompositorThatIsGoneLeavesItsKeysInTheRecordForTheGuard) {
  test::TempDir dir;
  std::string error;
  auto pRecord = HeldKeyRecord::Open((dir / "keys").string(), &error);
  ASSERT_TRUE(pRecord) << error;
  pRecord->Claim(static_cast<int>(::getpid()), 1);
  HeldKeyRecord::Install(pRecord.get());
  std::string reason;
  auto pSink = CreateWaylandKeySink(&reason);
  HeldKeyRecord::Install(nullptr);
  ASSERT_NE(pSink, nullptr) << reason;
  EXPECT_EQ(pRecord->Read().sink, kWaylandHeldKeysName);
  EXPECT_EQ(pRecord->Read().target, m_compositor.Path());

  pSink->KeyEvent(kVkA, 0x1E, false);
  pSink->KeyEvent(kVkControl, 0x1D, false);
  m_compositor.WaitForLines(4);
  EXPECT_EQ(pRecord->Read().codes, (std::vector<std::uint16_t>{29 + 8, 30 + 8}));
  pSink->KeyEvent(kVkControl, 0x1D, true);
  m_compositor.WaitForLines(6);
  EXPECT_EQ(pRecord->Read().codes, (std::vector<std::uint16_t>{30 + 8}));

  // The compositor goes and does not come back: A stays marked, for the guard.
  m_compositor.StopListening();
  m_compositor.DropClients();
  test::LogCapture log;
  pSink->KeyEvent(kVkA, 0x1E, true);
  EXPECT_NE(log.Text().find("1 key(s) down could not be released"), std::string::npos) << log.Text();
  EXPECT_EQ(pRecord->Read().codes, (std::vector<std::uint16_t>{30 + 8}));
}

TEST_F(WaylandKeySinkTest, TheGuardsReleaseReachesTheCompositorOnAKeyboardOfItsOwn) {
  std::string error;
  // As the key guard calls it from the record: the display's path and our keymap's codes.
  ASSERT_TRUE(ReleaseKeysLeftDown(kWaylandHeldKeysName, m_compositor.Path(), {29 + 8, 30 + 8}, &error)) << error;
  EXPECT_EQ(m_compositor.Lines(), (std::vector<std::string>{"keymap", "key " + std::string(kCtrl) + " up",
                                                            "key 30 up", "mods 0 0 0 0", "destroy"}));
  EXPECT_FALSE(ReleaseKeysLeftDown(kWaylandHeldKeysName, "/tmp/orb-no-such-dir/wayland-9", {38}, &error));
  EXPECT_NE(error.find("cannot connect to the Wayland display \"/tmp/orb-no-such-dir/wayland-9\""),
            std::string::npos)
      << error;
}

TEST_F(WaylandKeySinkTest, TheEndReleasesEveryKeyStillDownBeforeTheKeyboardGoes) {
  std::string reason;
  auto pSink = CreateWaylandKeySink(&reason);
  ASSERT_NE(pSink, nullptr) << reason;
  pSink->KeyEvent(kVkControl, 0x1D, false);
  pSink->KeyEvent(kVkA, 0x1E, false);
  m_compositor.WaitForLines(4);
  pSink.reset();
  const auto lines = From(m_compositor.WaitForLines(8), 4);
  ASSERT_EQ(lines.size(), 4u) << ::testing::PrintToString(lines);
  EXPECT_EQ(lines.back(), "destroy");
  // Both released (in keycode order), the modifiers cleared, before the keyboard went.
  EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.end() - 1),
            (std::vector<std::string>{"key " + std::string(kCtrl) + " up", "mods 0 0 0 0", "key 30 up"}));
}

// The uinput fallback in a Wayland session types by the compositor's own layout.
TEST_F(WaylandKeySinkTest, TheSessionsKeymapIsTheOneTheCompositorGivesItsKeyboards) {
  std::string reason;
  EXPECT_EQ(WaylandSessionKeymap(&reason), "");
  EXPECT_EQ(reason, "the seat has no keyboard");

  xkb_context* pContext = xkb_context_new(XKB_CONTEXT_NO_ENVIRONMENT_NAMES);
  const xkb_rule_names names{nullptr, nullptr, "de", "nodeadkeys", nullptr};
  xkb_keymap* pKeymap = xkb_keymap_new_from_names(pContext, &names, XKB_KEYMAP_COMPILE_NO_FLAGS);
  ASSERT_NE(pKeymap, nullptr);
  char* pText = xkb_keymap_get_as_string(pKeymap, XKB_KEYMAP_FORMAT_TEXT_V1);
  const std::string text = pText;
  std::free(pText);
  xkb_keymap_unref(pKeymap);
  xkb_context_unref(pContext);

  RecordingCompositor german;
  german.SetSessionKeymap(text);
  ScopedEnv display("WAYLAND_DISPLAY", german.Path().c_str());
  EXPECT_EQ(WaylandSessionKeymap(&reason), text) << reason;
#if ORB_TEST_UINPUT
  UinputLayout layout;
  ASSERT_TRUE(BuildUinputLayoutFromKeymap(WaylandSessionKeymap(&reason), &layout, &reason)) << reason;
  EXPECT_EQ(layout.code[0x5A], KEY_Y);  // "Z" where the German layout has it
  EXPECT_NE(layout.description.find("German"), std::string::npos) << layout.description;
  EXPECT_FALSE(BuildUinputLayoutFromKeymap("xkb_keymap { nonsense", &layout, &reason));
#endif
}

TEST(WaylandKeySinkStartTest, ACompositorWithoutVirtualKeyboardsIsRefusedWithTheReason) {
  RecordingCompositor compositor(/*blOfferKeyboards=*/false);
  ScopedEnv display("WAYLAND_DISPLAY", compositor.Path().c_str());
  std::string reason;
  EXPECT_EQ(CreateWaylandKeySink(&reason), nullptr);
  EXPECT_EQ(reason, "the Wayland compositor offers no virtual keyboard (zwp_virtual_keyboard_v1)");
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

TEST(SelectWaylandKeySinkTest, AWaylandSessionWithVirtualKeyboardsChoosesThem) {
  RecordingCompositor compositor;
  ScopedEnv keys("ORB_KEYS", nullptr);
  ScopedEnv session("XDG_SESSION_TYPE", "wayland");
  ScopedEnv wayland("WAYLAND_DISPLAY", compositor.Path().c_str());
  ScopedEnv display("DISPLAY", ":0");  // XWayland's; not to be used
  test::LogCapture log;
  auto pSink = SelectKeySink(RealClock());
  EXPECT_STREQ(pSink->Name(), "Wayland virtual keyboard");
  EXPECT_EQ(log.Text(), "SelectKeySink: key strokes go to Wayland virtual keyboard\r\n");
}

}  // namespace
}  // namespace orb::platform

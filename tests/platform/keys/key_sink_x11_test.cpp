// The XTest sink under a real X server (CI: Xvfb with openbox): the engine plays key
// strokes and our own X client, which holds the focus, reports what it received.
#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/log_capture.h"
#include "engine/command_buffer.h"
#include "platform/keys/key_sink.h"
#include "platform/time/clock.h"

// Last: Xlib's macros (None, Bool) would break the headers above.
#include <X11/Xlib.h>
#include <X11/keysym.h>

namespace orb::platform {
namespace {

// The client as a child process, its standard output read line by line with a deadline.
class KeyClient {
 public:
  bool Start() {
    int toChild[2];
    int fromChild[2];
    if (::pipe(toChild) != 0 || ::pipe(fromChild) != 0) {
      return false;
    }
    m_pid = ::fork();
    if (m_pid == 0) {
      ::dup2(toChild[0], STDIN_FILENO);
      ::dup2(fromChild[1], STDOUT_FILENO);
      ::close(toChild[1]);
      ::close(fromChild[0]);
      ::execl(ORB_X11_KEY_CLIENT, ORB_X11_KEY_CLIENT, static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::close(toChild[0]);
    ::close(fromChild[1]);
    m_nStdin = toChild[1];
    m_nStdout = fromChild[0];
    return m_pid > 0;
  }

  ~KeyClient() {
    if (m_nStdin >= 0) {
      ::close(m_nStdin);  // tells the client to end
    }
    if (m_pid > 0) {
      int nStatus = 0;
      ::waitpid(m_pid, &nStatus, 0);
    }
    if (m_nStdout >= 0) {
      ::close(m_nStdout);
    }
  }

  // False when no whole line came before the deadline.
  bool ReadLine(std::string& line, std::chrono::steady_clock::time_point deadline) {
    for (;;) {
      const std::size_t nEnd = m_buffer.find('\n');
      if (nEnd != std::string::npos) {
        line = m_buffer.substr(0, nEnd);
        m_buffer.erase(0, nEnd + 1);
        return true;
      }
      const auto nLeft = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (nLeft.count() <= 0) {
        return false;
      }
      pollfd fd{m_nStdout, POLLIN, 0};
      if (::poll(&fd, 1, static_cast<int>(nLeft.count())) <= 0) {
        return false;
      }
      char chunk[256];
      const ssize_t n = ::read(m_nStdout, chunk, sizeof chunk);
      if (n <= 0) {
        return false;
      }
      m_buffer.append(chunk, static_cast<std::size_t>(n));
    }
  }

 private:
  pid_t m_pid = -1;
  int m_nStdin = -1;
  int m_nStdout = -1;
  std::string m_buffer;
};

TEST(XTestKeySinkTest, AnXClientReceivesTheStrokesInOrderWithTheirModifiers) {
  const char* pDisplay = std::getenv("DISPLAY");
  if (pDisplay == nullptr || *pDisplay == '\0') {
    GTEST_SKIP() << "DISPLAY is not set: no X server to play keys into";
  }
  std::string reason;
  std::unique_ptr<KeySink> pSink = CreateXTestKeySink(nullptr, &reason);
  if (!pSink) {
    GTEST_SKIP() << "no XTest output here: " << reason;
  }
  KeyClient client;
  ASSERT_TRUE(client.Start());
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  std::string line;
  ASSERT_TRUE(client.ReadLine(line, deadline)) << "the client never got the focus";
  ASSERT_EQ(line, "ready");

  const KeyOutput output{pSink.get(), &RealClock()};
  PostKey('Z' | KS_CTRL | KS_SHIFT, output);
  PostKey(0x71 | KS_ALT | KS_CTRL, output);  // Alt+Ctrl+F2
  for (const KeyStroke k : {0x25u, 0x26u, 0x27u, 0x28u, 0x24u, 0x23u}) {  // arrows, Home, End
    PostKey(k, output);
  }
  const std::vector<std::string> expected = {
      "press Control_L 0x0", "press Shift_L 0x4",   "press z 0x5",        "release z 0x5",
      "release Shift_L 0x5", "release Control_L 0x4", "press Alt_L 0x0",   "press Control_L 0x8",
      "press F2 0xc",        "release F2 0xc",      "release Control_L 0xc", "release Alt_L 0x8",
      "press Left 0x0",      "release Left 0x0",    "press Up 0x0",       "release Up 0x0",
      "press Right 0x0",     "release Right 0x0",   "press Down 0x0",     "release Down 0x0",
      "press Home 0x0",      "release Home 0x0",    "press End 0x0",      "release End 0x0"};
  // Every event has been sent and flushed by now; the client needs only to report it.
  const auto reportDeadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  std::vector<std::string> received;
  while (received.size() < expected.size() && client.ReadLine(line, reportDeadline)) {
    received.push_back(line);
  }
  EXPECT_EQ(received, expected);
}

TEST(XTestKeySinkTest, AKeyItCannotSendIsLoggedOnceNotAtEveryPress) {
  const char* pDisplay = std::getenv("DISPLAY");
  if (pDisplay == nullptr || *pDisplay == '\0') {
    GTEST_SKIP() << "DISPLAY is not set: no X server to play keys into";
  }
  std::string reason;
  std::unique_ptr<KeySink> pSink = CreateXTestKeySink(nullptr, &reason);
  if (!pSink) {
    GTEST_SKIP() << "no XTest output here: " << reason;
  }
  test::LogCapture log;
  for (int i = 0; i < 3; ++i) {
    pSink->KeyEvent(0xE8, 0, false);  // a code without any key
    pSink->KeyEvent(0xE8, 0, true);
  }
  EXPECT_EQ(log.Text(), "XTestKeySink: virtual key 0xE8 has no keysym; its events are dropped\r\n");
}

// Rewrites two keys of the server's map for the test's length, as a layout with '[' on
// AltGr+8 has it: the 8 key carries '[' only beyond its first level, and '[' has no key of
// its own. The map is put back at the end.
class BracketOnAnotherLevel final {
 public:
  explicit BracketOnAnotherLevel(Display* pDisplay) : m_pDisplay(pDisplay) {
    m_nBracket = XKeysymToKeycode(pDisplay, XK_bracketleft);
    m_nEight = XKeysymToKeycode(pDisplay, XK_8);
    if (m_nBracket == 0 || m_nEight == 0) return;
    Save(m_nBracket, m_bracketSaved);
    Save(m_nEight, m_eightSaved);
    std::vector<KeySym> none(static_cast<std::size_t>(m_nPerCode), NoSymbol);
    std::vector<KeySym> eight = none;
    eight[0] = XK_8;
    eight[1] = XK_parenleft;
    if (eight.size() > 2) eight[2] = XK_bracketleft;  // the second group: not what the key gives alone
    XChangeKeyboardMapping(pDisplay, m_nBracket, m_nPerCode, none.data(), 1);
    XChangeKeyboardMapping(pDisplay, m_nEight, m_nPerCode, eight.data(), 1);
    XSync(pDisplay, False);
    m_blChanged = eight.size() > 2;
  }
  ~BracketOnAnotherLevel() {
    if (m_bracketSaved.empty()) return;
    XChangeKeyboardMapping(m_pDisplay, m_nBracket, m_nPerCode, m_bracketSaved.data(), 1);
    XChangeKeyboardMapping(m_pDisplay, m_nEight, m_nPerCode, m_eightSaved.data(), 1);
    XSync(m_pDisplay, False);
  }
  BracketOnAnotherLevel(const BracketOnAnotherLevel&) = delete;
  BracketOnAnotherLevel& operator=(const BracketOnAnotherLevel&) = delete;

  bool Changed() const { return m_blChanged; }
  KeyCode Eight() const { return m_nEight; }

 private:
  void Save(KeyCode nCode, std::vector<KeySym>& saved) {
    KeySym* pSyms = XGetKeyboardMapping(m_pDisplay, nCode, 1, &m_nPerCode);
    if (pSyms == nullptr) return;
    saved.assign(pSyms, pSyms + m_nPerCode);
    XFree(pSyms);
  }

  Display* m_pDisplay;
  KeyCode m_nBracket = 0;
  KeyCode m_nEight = 0;
  int m_nPerCode = 0;
  std::vector<KeySym> m_bracketSaved;
  std::vector<KeySym> m_eightSaved;
  bool m_blChanged = false;
};

TEST(XTestKeySinkTest, ASymbolTheLayoutHasOnlyBeyondAKeysFirstLevelArrivesAsItselfNotAsThatKey) {
  const char* pDisplayName = std::getenv("DISPLAY");
  if (pDisplayName == nullptr || *pDisplayName == '\0') {
    GTEST_SKIP() << "DISPLAY is not set: no X server to play keys into";
  }
  Display* pDisplay = XOpenDisplay(nullptr);
  ASSERT_NE(pDisplay, nullptr);
  {
    BracketOnAnotherLevel layout(pDisplay);
    ASSERT_TRUE(layout.Changed()) << "the server's map could not be rewritten";
    ASSERT_EQ(XKeysymToKeycode(pDisplay, XK_bracketleft), layout.Eight()) << "'[' should now be found on the 8 key";
    std::string reason;
    std::unique_ptr<KeySink> pSink = CreateXTestKeySink(nullptr, &reason);
    ASSERT_NE(pSink, nullptr) << reason;
    KeyClient client;
    ASSERT_TRUE(client.Start());
    std::string line;
    ASSERT_TRUE(client.ReadLine(line, std::chrono::steady_clock::now() + std::chrono::seconds(60)));
    ASSERT_EQ(line, "ready");

    const KeyOutput output{pSink.get(), &RealClock()};
    PostKey(0xDB, output);               // '['
    PostKey(0xDB | KS_CTRL, output);     // Ctrl+'['
    PostKey('8', output);                // the 8 key itself still gives 8
    const std::vector<std::string> expected = {
        "press bracketleft 0x0", "release bracketleft 0x0", "press Control_L 0x0", "press bracketleft 0x4",
        "release bracketleft 0x4", "release Control_L 0x4", "press 8 0x0", "release 8 0x0"};
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    std::vector<std::string> received;
    while (received.size() < expected.size() && client.ReadLine(line, deadline)) {
      received.push_back(line);
    }
    EXPECT_EQ(received, expected);
    pSink.reset();  // gives its spare keycode back before the map is restored
  }
  XCloseDisplay(pDisplay);
}

}  // namespace
}  // namespace orb::platform

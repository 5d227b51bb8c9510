// The real orb as a user meets it on an X display: a simulated controller plugged in and
// out (`orbctl hid simulate`), key strokes played through XTest into real X clients that
// print what they receive, the profile following the window in front, the tray icon
// double-clicked, the end by SIGTERM; and, on a display of the test's own, no tray host.
#include <gtest/gtest.h>

#include <X11/keysym.h>

#include <algorithm>

#include <sys/wait.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "orb_program.h"
#include "piped_process.h"
#include "x11_desktop.h"
#include "x11_windows.h"

namespace {

namespace fs = std::filesystem;
using namespace orb::test;

constexpr auto kWait = std::chrono::seconds(20);
constexpr const char* kCaption = "SpinPad TK-4";

// Button usages of the simulated controller (resources/hid/controller_descriptor.hex,
// device/control_code.cpp): usage 3 is PGM1, 10 the DECK/FILE selector, 13 PLAY.
constexpr int kPgm1 = 3;
constexpr int kPgm2 = 9;
constexpr int kDeckFile = 10;
constexpr int kPlay = 13;

// Three profiles, each with its own key on PGM1 and its own mode bits (DECK 1, JOG 2,
// SHUTTLE 4): the key client's (DECK and JOG: 03), the second client's (SHUTTLE: 04) and
// the fallback (none: 00) for every other program.
constexpr const char* kTable = R"(language = "en"

[[profile]]
app = "Key Client"
exe = "X11_KEY_CLIENT"
version = "0.0.0.0"
deck = true
deckfile = true
jog = true
jogshuttle = true
jog_resolution = 1
shuttle_resolution = 1
hostmode = false
fallback = false
version_rule = 0

[profile.controls.PGM1]
both = { label = "Mark", keys = ["F5"] }

[profile.controls.DECK_FILE]
deck = { label = "DECK/FILE", keys = ["F1"] }
file = { label = "DECK/FILE", keys = ["F2"] }

[profile.controls.PLAY]
deck = { label = "Play", keys = ["D"] }
file = { label = "Play", keys = ["F"] }

[profile.controls.PGM2]
both = { label = "Copy", repeat = true, keys = ["Ctrl+Shift+C"] }

[[profile]]
app = "Second Client"
exe = "ORB_SECOND_CLIENT"
version = "0.0.0.0"
deck = false
deckfile = false
jog = false
jogshuttle = true
jog_resolution = 1
shuttle_resolution = 1
hostmode = false
fallback = false
version_rule = 0

[profile.controls.PGM1]
both = { label = "Mark", keys = ["F6"] }

[[profile]]
app = "Anything Else"
exe = ""
version = "0.0.0.0"
deck = false
deckfile = false
jog = false
jogshuttle = false
jog_resolution = 0
shuttle_resolution = 0
hostmode = false
fallback = true
version_rule = 0

[profile.controls.PGM1]
both = { label = "Mark", keys = ["F7"] }
)";

std::size_t CountOf(const std::string& text, const std::string& part) {
  std::size_t nCount = 0;
  for (std::size_t n = text.find(part); n != std::string::npos; n = text.find(part, n + part.size())) {
    ++nCount;
  }
  return nCount;
}

bool Exited(std::optional<int> status, int nCode) {
  return status && WIFEXITED(*status) && WEXITSTATUS(*status) == nCode;
}

// x11_key_client (or a copy of it under another name, which is another application to
// orb) with its window mapped and focused.
struct KeyClient {
  std::unique_ptr<PipedProcess> pProcess;
  unsigned long nWindow = 0;

  // The keys it received, pressed, in order.
  std::vector<std::string> Pressed() const {
    std::vector<std::string> keys;
    for (const std::string& line : pProcess->Lines()) {
      if (line.rfind("press ", 0) == 0) {
        keys.push_back(line.substr(6, line.find(' ', 6) - 6));
      }
    }
    return keys;
  }
};

class OrbSystem : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::getenv("DISPLAY") == nullptr) {
      GTEST_SKIP() << "needs an X display (DISPLAY is not set)";
    }
    ASSERT_TRUE(m_desktop.IsOpen()) << "cannot open DISPLAY " << std::getenv("DISPLAY");
    ASSERT_TRUE(m_windows.IsOpen());
    // Its own settings: no resident notice, which would be a window in front.
    const fs::path config = m_dir / "config" / "TARN";
    fs::create_directories(config);
    const std::string settings = "[General]\nShowStay=0\n";
    WriteFileBytes(config / "ORB.conf", settings.data(), settings.size());
    WriteFileBytes(m_dir / "table.toml", kTable, std::string(kTable).size());
    ASSERT_EQ(RunOrbctl({"table", "build", (m_dir / "table.toml").string(), "-o", DataFile().string()}), "");
  }

  fs::path DataFile() const { return m_dir / "ORB.DAT"; }
  fs::path LogFile() const { return m_dir / "ORB.LOG"; }
  std::string Log() const { return ReadFileText(LogFile()); }
  std::size_t LogCount(const std::string& text) const { return CountOf(Log(), text); }
  bool WaitForLogCount(const std::string& text, std::size_t nCount) const {
    return WaitUntil([&] { return LogCount(text) >= nCount; }, kWait);
  }

  // Runs orbctl in a directory of its own; "" on success, else what went wrong. Its
  // standard output goes to *pOut.
  std::string RunOrbctl(const std::vector<std::string>& args, std::string* pOut = nullptr) {
    const fs::path directory = m_dir / ("orbctl-" + std::to_string(m_nOrbctlRuns++));
    fs::create_directories(directory);
    std::vector<std::string> command = {ORBCTL_BINARY};
    command.insert(command.end(), args.begin(), args.end());
    ChildProcess orbctl(command, directory);
    const auto status = orbctl.WaitForExit(kWait);
    if (pOut != nullptr) {
      *pOut = orbctl.Stdout();
    }
    return Exited(status, 0) ? "" : DescribeStatus(status) + ": " + orbctl.Stderr();
  }

  // orb as a user starts it with the simulated controller, XTest and the X11 tracker;
  // back once its window (hidden) exists.
  std::unique_ptr<ChildProcess> StartOrbHere(const fs::path& directory, const std::string& display = "") {
    std::vector<std::pair<std::string, std::string>> env = {
        {"ORB_HID", "sim:" + SimulatorSocket().string()},
        {"ORB_KEYS", "xtest"},
        {"ORB_FOREGROUND", "x11"},
        {"LC_ALL", "C"},
        {"QT_QPA_PLATFORM", "xcb"},
        {"XDG_CONFIG_HOME", (m_dir / "config").string()},
    };
    if (!display.empty()) {
      env.emplace_back("DISPLAY", display);
    }
    return StartOrb({"/m"}, directory, env);
  }

  std::unique_ptr<ChildProcess> StartOrbAndWait() {
    auto pOrb = StartOrbHere(m_dir.Path());
    EXPECT_TRUE(WaitForFileText(LogFile(), "Foreground: X11")) << pOrb->Stderr() << Log();
    return pOrb;
  }

  fs::path SimulatorSocket() const { return m_dir / "controller.sock"; }

  std::unique_ptr<PipedProcess> StartSimulator() {
    auto pSimulator = std::make_unique<PipedProcess>(
        std::vector<std::string>{ORBCTL_BINARY, "hid", "simulate", "--socket", SimulatorSocket().string()},
        m_dir.Path());
    EXPECT_TRUE(pSimulator->WaitForLine("listening", kWait));
    return pSimulator;
  }

  // A key client named `name` (a copy of x11_key_client under that name, unless it is
  // that name), brought to the front and settled there.
  KeyClient StartClient(const std::string& name, bool blNetWmPid) {
    fs::path binary = X11_KEY_CLIENT_BINARY;
    if (name != binary.filename()) {
      const fs::path copy = m_dir / name;
      if (!fs::exists(copy)) {
        fs::copy_file(binary, copy);
      }
      binary = copy;
    }
    std::vector<std::string> args = {binary.string(), "--window-id"};
    if (blNetWmPid) {
      args.push_back("--net-wm-pid");
    }
    KeyClient client;
    client.pProcess = std::make_unique<PipedProcess>(args, m_dir.Path());
    std::string line;
    EXPECT_TRUE(client.pProcess->WaitForLine("window ", kWait, &line)) << name;
    EXPECT_TRUE(client.pProcess->WaitForLine("ready", kWait)) << name;
    if (line.size() > 7) {
      client.nWindow = std::stoul(line.substr(7));
      EXPECT_TRUE(m_desktop.Activate(client.nWindow, kWait)) << name;
    }
    return client;
  }

  // One press of the button and its release, as a finger does.
  static void Press(PipedProcess& simulator, int nUsage) {
    ASSERT_TRUE(simulator.Send("button " + std::to_string(nUsage)));
    ASSERT_TRUE(simulator.Send("release"));
  }

  // The end by SIGTERM: exit status 0 and the log's last line.
  void EndOrb(ChildProcess& orb) {
    ASSERT_TRUE(orb.Signal(SIGTERM));
    const auto status = orb.WaitForExit(kExitTimeout);
    EXPECT_TRUE(ExitedWithZero(status)) << DescribeStatus(status) << orb.Stderr();
    EXPECT_EQ(LogCount("CMainDialog: destroyed"), 1u);
  }

  TempDir m_dir;
  X11Desktop m_desktop;
  X11Windows m_windows;
  int m_nOrbctlRuns = 0;
};

TEST_F(OrbSystem, ThePluggedControllerPlaysTheKeysOfTheProfileOfTheWindowInFront) {
  KeyClient first = StartClient("x11_key_client", false);
  auto pOrb = StartOrbAndWait();
  ASSERT_TRUE(pOrb->IsRunning()) << pOrb->Stderr();
  EXPECT_EQ(LogCount("Controller connected!"), 0u) << "nothing to connect to yet";

  // Plugged in after the start: connected, and the profile of the window in front chosen.
  auto pSimulator = StartSimulator();
  ASSERT_TRUE(WaitForLogCount("Controller connected!", 1)) << Log();
  ASSERT_TRUE(pSimulator->WaitForLine("open 1", kWait));
  ASSERT_TRUE(WaitForLogCount("Profile : Key Client", 1)) << Log();
  EXPECT_EQ(LogCount("Application is X11_KEY_CLIENT"), 1u) << Log();
  EXPECT_TRUE(pSimulator->WaitForLine("feature 03 03", kWait)) << "DECK and JOG";
  Press(*pSimulator, kPgm1);
  EXPECT_TRUE(first.pProcess->WaitForLine("press F5", kWait));

  // Another application in front (its window names its pid too): its own profile.
  KeyClient second = StartClient("orb_second_client", true);
  ASSERT_TRUE(WaitForLogCount("Profile : Second Client", 1)) << Log();
  EXPECT_TRUE(pSimulator->WaitForLine("feature 03 04", kWait)) << "SHUTTLE";
  Press(*pSimulator, kPgm1);
  EXPECT_TRUE(second.pProcess->WaitForLine("press F6", kWait));

  // Back to the first, by the window manager as a pager asks it.
  ASSERT_TRUE(m_desktop.Activate(first.nWindow, kWait));
  ASSERT_TRUE(WaitForLogCount("Profile : Key Client", 2)) << Log();
  EXPECT_TRUE(pSimulator->WaitForLine("feature 03 03", kWait));
  Press(*pSimulator, kPgm1);
  EXPECT_TRUE(first.pProcess->WaitForLine("press F5", kWait));

  // A program no profile names gets the fallback's keys and bits.
  KeyClient stranger = StartClient("orb_stranger", false);
  ASSERT_TRUE(WaitForLogCount("Application is ORB_STRANGER", 1)) << Log();
  EXPECT_TRUE(pSimulator->WaitForLine("feature 03 00", kWait));
  Press(*pSimulator, kPgm1);
  EXPECT_TRUE(stranger.pProcess->WaitForLine("press F7", kWait));

  // Each key went to the window in front at the time, and only there.
  EXPECT_EQ(first.Pressed(), (std::vector<std::string>{"F5", "F5"}));
  EXPECT_EQ(second.Pressed(), (std::vector<std::string>{"F6"}));
  EXPECT_EQ(stranger.Pressed(), (std::vector<std::string>{"F7"}));
  EXPECT_EQ(LogCount("Controller connected!"), 1u);
  EndOrb(*pOrb);
}

TEST_F(OrbSystem, TheDeckFileSelectorSetsTheDeviceBitsAndTheEndSavesItAndTurnsTheBitsOff) {
  std::string before;
  ASSERT_EQ(RunOrbctl({"table", "dump", DataFile().string()}, &before), "");
  ASSERT_NE(before.find("deck = true"), std::string::npos) << before;
  const std::string bytesBefore = ReadFileText(DataFile());

  KeyClient client = StartClient("x11_key_client", true);
  auto pSimulator = StartSimulator();  // plugged in before the start this time
  auto pOrb = StartOrbAndWait();
  ASSERT_TRUE(WaitForLogCount("Profile : Key Client", 1)) << Log();
  ASSERT_TRUE(pSimulator->WaitForLine("feature 03 03", kWait));

  Press(*pSimulator, kPlay);
  ASSERT_TRUE(client.pProcess->WaitForLine("press d", kWait)) << "DECK mode's PLAY";
  // The selector plays the key of the mode it leaves, then the device shows the new one.
  Press(*pSimulator, kDeckFile);
  ASSERT_TRUE(client.pProcess->WaitForLine("press F1", kWait));
  EXPECT_TRUE(pSimulator->WaitForLine("feature 03 02", kWait)) << "FILE: DECK off, JOG on";
  Press(*pSimulator, kPlay);
  ASSERT_TRUE(client.pProcess->WaitForLine("press f", kWait)) << "FILE mode's PLAY";
  Press(*pSimulator, kDeckFile);
  ASSERT_TRUE(client.pProcess->WaitForLine("press F2", kWait));
  EXPECT_TRUE(pSimulator->WaitForLine("feature 03 03", kWait));
  // Held, not released: a report still unread when orb closes the device resets the
  // simulator's socket, and the simulator then loses the last feature report orb sent.
  ASSERT_TRUE(pSimulator->Send("button " + std::to_string(kDeckFile)));
  ASSERT_TRUE(client.pProcess->WaitForLine("press F1", kWait));
  EXPECT_TRUE(pSimulator->WaitForLine("feature 03 02", kWait));
  EXPECT_EQ(client.Pressed(), (std::vector<std::string>{"d", "F1", "f", "F2", "F1"}));

  EndOrb(*pOrb);
  // The device is closed after the bits went off: nothing comes after that last report.
  ASSERT_TRUE(pSimulator->WaitForLine("open 0", kWait));
  std::string lastFeature;
  std::string printed;
  for (const std::string& line : pSimulator->Lines()) {
    printed += line + "\n";
    if (line.rfind("feature ", 0) == 0) {
      lastFeature = line;
    }
  }
  EXPECT_EQ(lastFeature, "feature 03 00") << printed << Log();

  // The table was written back with the mode it was left in.
  EXPECT_NE(ReadFileText(DataFile()), bytesBefore);
  std::string after;
  ASSERT_EQ(RunOrbctl({"table", "dump", DataFile().string()}, &after), "");
  const std::size_t nFirst = after.find("[[profile]]");
  const std::size_t nSecond = after.find("[[profile]]", nFirst + 1);
  ASSERT_NE(nSecond, std::string::npos) << after;
  EXPECT_NE(after.substr(nFirst, nSecond - nFirst).find("deck = false"), std::string::npos) << after;
  EXPECT_EQ(after.substr(nSecond), before.substr(before.find("[[profile]]", before.find("[[profile]]") + 1)))
      << "the other records are as they were";
}

TEST_F(OrbSystem, UnpluggedAndPluggedInThreeTimesTheKeysStillArrive) {
  KeyClient client = StartClient("x11_key_client", false);
  auto pSimulator = StartSimulator();
  auto pOrb = StartOrbAndWait();
  ASSERT_TRUE(WaitForLogCount("Controller connected!", 1)) << Log();
  ASSERT_TRUE(pSimulator->WaitForLine("feature 03 03", kWait));
  Press(*pSimulator, kPgm1);
  ASSERT_TRUE(client.pProcess->WaitForLine("press F5", kWait));

  for (std::size_t nRound = 1; nRound <= 3; ++nRound) {
    SCOPED_TRACE("round " + std::to_string(nRound));
    ASSERT_TRUE(pSimulator->Send("unplug"));
    ASSERT_TRUE(WaitForLogCount("Device Removed!", nRound)) << Log();
    ASSERT_TRUE(pSimulator->WaitForLine("open 0", kWait));
    ASSERT_TRUE(pSimulator->Send("plug"));
    ASSERT_TRUE(WaitForLogCount("Controller connected!", nRound + 1)) << Log();
    ASSERT_TRUE(pSimulator->WaitForLine("open 1", kWait));
    // The replugged device is told its mode again.
    ASSERT_TRUE(pSimulator->WaitForLine("feature 03 03", kWait));
    Press(*pSimulator, kPgm1);
    ASSERT_TRUE(client.pProcess->WaitForLine("press F5", kWait));
  }
  EXPECT_EQ(client.Pressed().size(), 4u);
  EXPECT_EQ(LogCount("Device Removed!"), 3u);
  EXPECT_EQ(LogCount("Controller connected!"), 4u);
  EndOrb(*pOrb);
}

TEST_F(OrbSystem, KilledWhileARepeatingCommandHoldsItsKeysTheyAreUpWithinASecond) {
  KeyClient client = StartClient("x11_key_client", false);
  auto pSimulator = StartSimulator();
  auto pOrb = StartOrbAndWait();
  ASSERT_TRUE(WaitForLogCount("Profile : Key Client", 1)) << Log();
  // Ctrl+Shift+C over and over: its keys are down most of the time.
  Press(*pSimulator, kPgm2);
  ASSERT_TRUE(client.pProcess->WaitForLine("press c", kWait));
  const std::vector<unsigned long> keys = {XK_Control_L, XK_Shift_L, XK_c};
  ASSERT_TRUE(WaitUntil([&] { return m_windows.KeysDown(keys).size() == 3; }, kWait));
  ASSERT_TRUE(pOrb->Signal(SIGKILL));
  const auto killed = std::chrono::steady_clock::now();
  EXPECT_TRUE(WaitUntil([&] { return m_windows.KeysDown(keys).empty(); }, std::chrono::seconds(1)))
      << m_windows.KeysDown(keys).size() << " key(s) still down a second after the kill";
  const auto took = std::chrono::steady_clock::now() - killed;
  std::printf("keys up %lld ms after SIGKILL\n",
              static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(took).count()));
  pOrb->WaitForExit(kExitTimeout);
}

TEST_F(OrbSystem, DoubleClickingTheTrayIconShowsTheWindow) {
  if (!m_desktop.WaitForTrayHost(kWait)) {
    GTEST_SKIP() << "no tray host on this display (scripts/with-x11 starts tint2 when it is installed)";
  }
  auto pOrb = StartOrbAndWait();
  std::optional<ScreenArea> icon;
  ASSERT_TRUE(WaitUntil([&] { return (icon = m_desktop.FindTrayIcon(pOrb->Pid())).has_value(); }, kWait))
      << Log();
  EXPECT_EQ(LogCount("no notification area"), 0u);
  EXPECT_GT(icon->nWidth, 0);
  EXPECT_TRUE(m_windows.FindWindows(pOrb->Pid(), kCaption).empty()) << "hidden until asked for";

  ASSERT_TRUE(m_desktop.DoubleClick(icon->x + icon->nWidth / 2, icon->y + icon->nHeight / 2));
  std::vector<unsigned long> shown;
  ASSERT_TRUE(WaitUntil([&] { return !(shown = m_windows.FindWindows(pOrb->Pid(), kCaption)).empty(); }, kWait))
      << Log();
  EXPECT_EQ(shown.size(), 1u);
  EXPECT_EQ(AskOverSocket(SocketFile(), std::chrono::seconds(5)), "shown\n");
  if (const char* pShot = std::getenv("ORB_TEST_SCREENSHOT")) {
    // For a person to look at: the screen with the icon and the window, as a PNG.
    ChildProcess shot({"/bin/sh", "-c", "xwd -root -silent | xwdtopnm 2>/dev/null | pnmtopng > \"$1\"", "sh", pShot},
                      m_dir.Path());
    EXPECT_TRUE(ExitedWithZero(shot.WaitForExit(kWait))) << shot.Stderr();
  }
  EndOrb(*pOrb);
}

TEST_F(OrbSystem, ATableLoadedOverTheEditorLinkPlaysAtOnceAndIsSavedAtTheEnd) {
  KeyClient client = StartClient("x11_key_client", false);
  auto pSimulator = StartSimulator();
  auto pOrb = StartOrbAndWait();
  ASSERT_TRUE(WaitForLogCount("Profile : Key Client", 1)) << Log();
  ASSERT_TRUE(pSimulator->WaitForLine("feature 03 03", kWait));
  Press(*pSimulator, kPgm1);
  ASSERT_TRUE(client.pProcess->WaitForLine("press F5", kWait));

  // The same table but for the key client's PGM1, built from its text.
  std::string text = kTable;
  const std::string before = "keys = [\"F5\"]";
  ASSERT_NE(text.find(before), std::string::npos);
  text.replace(text.find(before), before.size(), "keys = [\"F9\"]");
  WriteFileBytes(m_dir / "new.toml", text.data(), text.size());
  const fs::path newTable = m_dir / "new.dat";
  ASSERT_EQ(RunOrbctl({"table", "build", (m_dir / "new.toml").string(), "-o", newTable.string()}), "");

  std::string loaded;
  ASSERT_EQ(RunOrbctl({"link", "load", newTable.string()}, &loaded), "") << Log();
  EXPECT_EQ(loaded, "loaded 3 profiles into orb (pid " + std::to_string(pOrb->Pid()) + ")\n");
  // The controller lent and found again, the profile chosen again: no restart, no switch
  // of windows.
  ASSERT_TRUE(WaitForLogCount("From ZUDAdor : End Application", 1)) << Log();
  ASSERT_TRUE(WaitForLogCount("Controller connected!", 2)) << Log();
  ASSERT_TRUE(WaitForLogCount("Profile : Key Client", 2)) << Log();
  ASSERT_TRUE(pSimulator->WaitForLine("open 0", kWait));
  ASSERT_TRUE(pSimulator->WaitForLine("open 1", kWait));
  ASSERT_TRUE(pSimulator->WaitForLine("feature 03 03", kWait));
  Press(*pSimulator, kPgm1);
  ASSERT_TRUE(client.pProcess->WaitForLine("press F9", kWait)) << Log();
  EXPECT_EQ(client.Pressed(), (std::vector<std::string>{"F5", "F9"}));

  // Kept in orb's own block after the end of the exchange, and saved at the end.
  EndOrb(*pOrb);
  EXPECT_EQ(ReadFileText(DataFile()), ReadFileText(newTable)) << "nothing changed the table since";
  std::string after;
  ASSERT_EQ(RunOrbctl({"table", "dump", DataFile().string()}, &after), "");
  EXPECT_NE(after.find("keys = [\"F9\"]"), std::string::npos) << after;
  EXPECT_EQ(after.find("keys = [\"F5\"]"), std::string::npos) << after;
}

// A display of the test's own: Xvfb and openbox, no tray host.
class PrivateDisplay {
 public:
  explicit PrivateDisplay(const fs::path& directory) {
    // -displayfd: the server picks a free display number and prints it once it listens.
    // -noreset: a server that resets as its last client leaves refuses the next one a moment.
    m_pServer = std::make_unique<PipedProcess>(
        std::vector<std::string>{"/usr/bin/Xvfb", "-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten",
                                 "tcp", "-noreset"},
        directory);
    std::string line;
    if (!m_pServer->WaitForLine("", kWait, &line) || line.empty()) {
      return;
    }
    m_name = ":" + line;
    m_pWindowManager = std::make_unique<ChildProcess>(std::vector<std::string>{"/usr/bin/openbox"}, directory,
                                                      std::vector<std::pair<std::string, std::string>>{
                                                          {"DISPLAY", m_name}});
  }
  ~PrivateDisplay() {
    m_pWindowManager.reset();  // killed before its server goes
    if (m_pServer) {
      m_pServer->Signal(SIGTERM);
    }
  }
  PrivateDisplay(const PrivateDisplay&) = delete;
  PrivateDisplay& operator=(const PrivateDisplay&) = delete;

  const std::string& Name() const { return m_name; }
  // The server goes away as at the end of a session: its clients lose their connection.
  void EndServer() {
    m_pWindowManager.reset();
    if (m_pServer) {
      m_pServer->Signal(SIGKILL);
      m_pServer.reset();
    }
  }

 private:
  std::unique_ptr<PipedProcess> m_pServer;
  std::unique_ptr<ChildProcess> m_pWindowManager;
  std::string m_name;
};

TEST_F(OrbSystem, WithoutATrayHostASecondStartShowsTheWindowOfTheFirst) {
  if (!fs::exists("/usr/bin/Xvfb") || !fs::exists("/usr/bin/openbox")) {
    GTEST_SKIP() << "needs Xvfb and openbox (scripts/bootstrap installs them)";
  }
  PrivateDisplay display(m_dir.Path());
  ASSERT_FALSE(display.Name().empty()) << "Xvfb did not start";
  X11Windows windows(display.Name().c_str());
  ASSERT_TRUE(windows.IsOpen());
  X11Desktop desktop(display.Name().c_str());
  ASSERT_TRUE(WaitUntil([&] { return desktop.HasWindowManager(); }, kWait)) << "openbox did not start";

  auto pFirst = StartOrbHere(m_dir.Path(), display.Name());
  ASSERT_TRUE(WaitForFileText(LogFile(), "no notification area")) << pFirst->Stderr() << Log();
  EXPECT_TRUE(windows.FindWindows(pFirst->Pid(), kCaption).empty());

  TempDir secondDir;
  auto pSecond = StartOrbHere(secondDir.Path(), display.Name());
  std::vector<unsigned long> shown;
  ASSERT_TRUE(WaitUntil([&] { return !(shown = windows.FindWindows(pFirst->Pid(), kCaption)).empty(); }, kWait))
      << "the first instance shows its window" << Log();
  // With the window there to use, the second start has nothing to say and ends.
  const auto status = pSecond->WaitForExit(kExitTimeout);
  EXPECT_TRUE(ExitedWithZero(status)) << DescribeStatus(status) << pSecond->Stderr();
  EXPECT_TRUE(windows.FindWindows(pSecond->Pid(), kCaption).empty());
  EXPECT_FALSE(fs::exists(secondDir / "ORB.LOG"));
  EXPECT_EQ(shown.size(), 1u);
  EndOrb(*pFirst);
}

// The X session ends under the program: the toolkit ends the process at once, and the
// table must reach the data file all the same.
TEST_F(OrbSystem, TheEndOfTheDisplaySavesTheTable) {
  if (!fs::exists("/usr/bin/Xvfb") || !fs::exists("/usr/bin/openbox")) {
    GTEST_SKIP() << "needs Xvfb and openbox (scripts/bootstrap installs them)";
  }
  PrivateDisplay display(m_dir.Path());
  ASSERT_FALSE(display.Name().empty()) << "Xvfb did not start";
  {
    // Closed before the server goes: Xlib would end this test on the broken connection.
    X11Desktop desktop(display.Name().c_str());
    ASSERT_TRUE(WaitUntil([&] { return desktop.HasWindowManager(); }, kWait)) << "openbox did not start";
  }
  auto pOrb = StartOrbHere(m_dir.Path(), display.Name());
  // Logged once the table is loaded and the window set up.
  ASSERT_TRUE(WaitForFileText(LogFile(), "no notification area")) << pOrb->Stderr() << Log();
  const std::string table = ReadFileText(DataFile());
  fs::remove(DataFile());  // what the end writes is then plain to see

  display.EndServer();
  const auto status = pOrb->WaitForExit(kExitTimeout);
  ASSERT_TRUE(status.has_value()) << "orb outlived its display";
  const std::string saved = ReadFileText(DataFile());
  EXPECT_EQ(saved.size(), table.size());
  EXPECT_TRUE(saved == table) << "the saved table differs from the one loaded; first difference at "
                              << std::mismatch(saved.begin(), saved.end(), table.begin(), table.end()).first - saved.begin();
  EXPECT_NE(Log().find("the table is saved"), std::string::npos) << Log();
}

}  // namespace

// The built-in profiles of mpv and VLC proven on the players themselves: the real orb with
// its default table and the simulated controller, the real mpv and VLC from Debian's
// packages on the test's X display, and what each control did read back over the players'
// own control interfaces (mpv's IPC socket, VLC's HTTP interface).
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "../shell/orb_program.h"
#include "../shell/piped_process.h"
#include "../shell/x11_desktop.h"
#include "key_repeat.h"
#include "player_links.h"
#include "titled_windows.h"

namespace {

namespace fs = std::filesystem;
using namespace orb::test;
using std::chrono::milliseconds;

constexpr auto kWait = std::chrono::seconds(20);
constexpr auto kVlcSettle = milliseconds(400);
constexpr double kFps = 25.0;

// Button usages of the simulated controller (device/control_code.cpp).
constexpr int kPgm1 = 3, kPgm2 = 9, kPgm3 = 2, kPgm4 = 8, kPgm5 = 1;
constexpr int kDeckFile = 10, kBack = 4, kFore = 11, kCap = 5, kPlay = 13, kIn = 6, kOut = 12, kAdd = 7;
// Wheel units per shuttle step in these rows (shuttle resolution 15).
constexpr int kStepUnits = 15;

bool Near(std::optional<double> value, double dExpected, double dTolerance) {
  return value && std::fabs(*value - dExpected) <= dTolerance;
}

std::string Text(std::optional<double> value) { return value ? std::to_string(*value) : "(none)"; }

// A directory under /tmp with a short path: Unix socket paths hold at most 107 bytes, and
// the build tree of a deep checkout leaves too few. Readable by all, for a player that runs
// as another user.
class ShortDir final {
 public:
  ShortDir() {
    char name[] = "/tmp/orbapps-XXXXXX";
    if (::mkdtemp(name) != nullptr) {
      m_path = name;
      ::chmod(name, 0755);
    }
  }
  ~ShortDir() {
    std::error_code error;
    fs::remove_all(m_path, error);
  }
  ShortDir(const ShortDir&) = delete;
  ShortDir& operator=(const ShortDir&) = delete;
  const fs::path& Path() const { return m_path; }
  fs::path operator/(const std::string& name) const { return m_path / name; }

 private:
  fs::path m_path;
};

bool HasProgram(const char* pPath) { return ::access(pPath, X_OK) == 0; }


// The clip every test plays: a test picture at 25 frames a second with a key frame every
// second, and chapters at 0, 40 and 80 s, made once for the whole run.
class Clip final {
 public:
  static const fs::path& Path() {
    static Clip clip;
    return clip.m_file;
  }

 private:
  Clip() {
    const fs::path metadata = m_dir / "chapters.txt";
    const std::string text =
        ";FFMETADATA1\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=40000\ntitle=one\n"
        "[CHAPTER]\nTIMEBASE=1/1000\nSTART=40000\nEND=80000\ntitle=two\n"
        "[CHAPTER]\nTIMEBASE=1/1000\nSTART=80000\nEND=120000\ntitle=three\n";
    WriteFileBytes(metadata, text.data(), text.size());
    const fs::path file = m_dir / "clip.mkv";
    ChildProcess ffmpeg({"/usr/bin/ffmpeg", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                         "testsrc=size=160x120:rate=25:duration=120", "-i", metadata.string(), "-map", "0:v",
                         "-map_chapters", "1", "-c:v", "mpeg4", "-q:v", "6", "-g", "25", file.string()},
                        m_dir.Path());
    if (ExitedWithZero(ffmpeg.WaitForExit(std::chrono::seconds(120)))) {
      ::chmod(file.c_str(), 0644);
      m_file = file;
    }
  }
  ShortDir m_dir;
  fs::path m_file;
};

class RealPlayers : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::getenv("DISPLAY") == nullptr) {
      GTEST_SKIP() << "needs an X display (DISPLAY is not set)";
    }
    if (!HasProgram("/usr/bin/ffmpeg")) {
      GTEST_SKIP() << "needs /usr/bin/ffmpeg for the test clip (scripts/bootstrap installs it)";
    }
    ASSERT_TRUE(m_desktop.IsOpen());
    // orb holds each key 100 ms; mpv repeats a key held 200 ms, the server one held 660 ms.
    // On a loaded machine the release can come that late, and one press becomes many
    // (seen: PGM1 once took mpv's speed down 16 times). The tier checks which keys the
    // controls send, not the machine's scheduling, so nothing repeats here.
    m_keyRepeatOff.emplace();
    ASSERT_TRUE(m_keyRepeatOff->IsOff());
    ASSERT_FALSE(m_short.Path().empty());
    ASSERT_FALSE(Clip::Path().empty()) << "ffmpeg made no clip";
    // No data file: orb plays its built-in English table. No resident notice in front.
    const fs::path config = m_dir / "config" / "TARN";
    fs::create_directories(config);
    const std::string settings = "[General]\nShowStay=0\n";
    WriteFileBytes(config / "ORB.conf", settings.data(), settings.size());
    fs::create_directories(m_short / "run");
    fs::permissions(m_short / "run", fs::perms::owner_all);

    m_pSimulator = std::make_unique<PipedProcess>(
        std::vector<std::string>{ORBCTL_BINARY, "hid", "simulate", "--socket", (m_short / "hid").string()},
        m_dir.Path());
    ASSERT_TRUE(m_pSimulator->WaitForLine("listening", kWait));
    m_pOrb = StartOrb({"/m"}, m_dir.Path(),
                      {{"ORB_HID", "sim:" + (m_short / "hid").string()},
                       {"ORB_KEYS", "xtest"},
                       {"ORB_FOREGROUND", "x11"},
                       {"LC_ALL", "C"},
                       {"QT_QPA_PLATFORM", "xcb"},
                       {"XDG_RUNTIME_DIR", (m_short / "run").string()},
                       {"XDG_CONFIG_HOME", (m_dir / "config").string()}});
    ASSERT_TRUE(WaitForFileText(LogFile(), "Controller connected!")) << m_pOrb->Stderr() << Log();
  }

  void TearDown() override {
    if (HasFailure()) {
      PrintPlayerRecords();
    }
    m_pPlayer.reset();  // the players go first, then orb, then the controller
    m_pStranger.reset();
    if (m_pOrb) {
      m_pOrb->Signal(SIGTERM);
      EXPECT_TRUE(ExitedWithZero(m_pOrb->WaitForExit(kExitTimeout))) << m_pOrb->Stderr();
    }
  }

  fs::path LogFile() const { return m_dir / "ORB.LOG"; }
  std::string Log() const { return ReadFileText(LogFile()); }

  // The commands mpv ran, as its log records them: what the keys did, in order.
  std::string MpvCommands(const std::string& socket = "mpv") const {
    std::istringstream log(ReadFileText(m_short / (socket + ".log")));
    std::string commands;
    for (std::string line; std::getline(log, line);) {
      if (line.find("Run command: ") != std::string::npos) commands += line + "\n";
    }
    return commands;
  }
  // What the players got, for a failure's report: mpv's commands, VLC's keys and status.
  void PrintPlayerRecords() {
    for (const char* pSocket : {"mpv", "mpv2"}) {
      const std::string commands = MpvCommands(pSocket);
      if (!commands.empty()) std::cerr << "commands run by " << pSocket << ":\n" << commands;
    }
    if (m_pVlc) {
      std::istringstream log(ReadFileText(m_dir / "run-vlc" / "stderr.txt"));
      std::cerr << "keys VLC got:\n";
      for (std::string line; std::getline(log, line);) {
        if (line.find("window debug: key:") != std::string::npos) std::cerr << line << "\n";
      }
      const auto status = m_pVlc->Status();
      if (status) {
        std::cerr << "VLC status: state " << status->value("state").toString().toStdString() << ", item "
                  << status->value("currentplid").toInt() << ", position " << status->value("position").toDouble()
                  << ", length " << status->value("length").toDouble() << "\n";
      }
    }
  }

  // What orb made of the foreground at its last look: the application it saw and the
  // profile it chose for it ("" for none).
  std::pair<std::string, std::string> LastChoice() const {
    const std::string log = Log();
    const std::string application = "Application is ";
    const std::size_t nAt = log.rfind(application);
    if (nAt == std::string::npos) return {};
    const std::size_t nNameEnd = log.find("\r\n", nAt);
    if (nNameEnd == std::string::npos) return {};
    std::string name = log.substr(nAt + application.size(), nNameEnd - nAt - application.size());
    const std::string profileLine = "Profile : ";
    const std::size_t nProfile = log.find(profileLine, nNameEnd);
    const std::size_t nProfileEnd = nProfile == std::string::npos ? nProfile : log.find("\r\n", nProfile);
    if (nProfileEnd == std::string::npos) return {std::move(name), ""};
    return {std::move(name), log.substr(nProfile + profileLine.size(), nProfileEnd - nProfile - profileLine.size())};
  }

  // Brings the viewable window titled `title` to the front and waits until orb sees `exe`
  // there and has chosen `profile` ("" for none). The window is kept in m_nFront.
  void Front(const std::string& title, const std::string& exe, const std::string& profile) {
    TitledWindows windows;
    ASSERT_TRUE(WaitUntil([&] { return (m_nFront = windows.Find(title)) != 0; }, kWait)) << "no window '" << title << "'";
    ASSERT_TRUE(m_desktop.Activate(m_nFront, kWait));
    const std::pair<std::string, std::string> wanted{exe, profile};
    ASSERT_TRUE(WaitUntil([&] { return LastChoice() == wanted; }, kWait))
        << "orb chose '" << LastChoice().second << "' for '" << LastChoice().first << "'\n" << Log();
  }

  // Presses the DECK/FILE selector and waits until the device shows the new mode (its DECK
  // bit is 1 in the feature report's mode byte, the only bit of these rows).
  void SwitchMode(bool blToDeck) {
    if (!m_blModeSeen) {  // the report of the mode the profile starts in comes first
      ASSERT_TRUE(m_pSimulator->WaitForLine(blToDeck ? "feature 03 00" : "feature 03 01", kWait));
    }
    ASSERT_NO_FATAL_FAILURE(Press(kDeckFile));
    ASSERT_TRUE(m_pSimulator->WaitForLine(blToDeck ? "feature 03 01" : "feature 03 00", kWait)) << Log();
    m_blModeSeen = true;
  }

  void Press(int nUsage) {
    ASSERT_TRUE(m_pSimulator->Send("button " + std::to_string(nUsage)));
    ASSERT_TRUE(m_pSimulator->Send("release"));
  }

  // Turns the wheel by whole shuttle steps: forward in one report each, backward in single
  // units (a report of exactly -1 is what counts as backward).
  void Turn(int nSteps) {
    for (int i = 0; i < std::abs(nSteps); ++i) {
      if (nSteps > 0) {
        ASSERT_TRUE(m_pSimulator->Send("wheel " + std::to_string(kStepUnits)));
      } else {
        for (int n = 0; n < kStepUnits; ++n) ASSERT_TRUE(m_pSimulator->Send("wheel -1"));
      }
    }
  }

  // mpv as a user starts it on the clip, paused, its window titled `title`; `binary` may be
  // a copy of mpv under another name, which is another application to orb.
  void StartMpv(const fs::path& binary, const std::string& title, const std::string& socket = "mpv") {
    fs::create_directories(m_short / "shots");
    const fs::path run = m_dir / ("run-" + socket);  // its output apart from orb's
    fs::create_directories(run);
    m_pPlayer = std::make_unique<ChildProcess>(
        std::vector<std::string>{binary.string(), "--no-config", "--vo=x11", "--ao=null", "--pause",
                                 "--keep-open=always", "--force-window=yes", "--no-input-terminal",
                                 "--title=" + title, "--geometry=320x240+200+200",
                                 "--input-ar-rate=0",  // no repeats: see SetUp
                                 "--input-ipc-server=" + (m_short / socket).string(),
                                 "--screenshot-directory=" + (m_short / "shots").string(),
                                 "--log-file=" + (m_short / (socket + ".log")).string(), Clip::Path().string()},
        run);
    m_pMpv = std::make_unique<MpvLink>();
    ASSERT_TRUE(m_pMpv->Connect(m_short / socket, kWait)) << m_pPlayer->Stderr();
    ASSERT_TRUE(WaitUntil([&] { return m_pMpv->GetNumber("duration").has_value(); }, kWait)) << m_pPlayer->Stderr();
  }

  // Puts mpv at a key frame, exactly, and waits until the seek is done: time-pos names the
  // target at once, and a frame step that comes before the seek's picture is spent on it.
  void MpvAt(double dSeconds) {
    ASSERT_TRUE(m_pMpv->Command("[\"seek\"," + std::to_string(dSeconds) + ",\"absolute+exact\"]"));
    ASSERT_TRUE(m_pMpv->WaitForEvent("seek", kWait));
    ASSERT_TRUE(m_pMpv->WaitForEvent("playback-restart", kWait));
    ASSERT_TRUE(WaitUntil([&] { return Near(m_pMpv->GetNumber("time-pos"), dSeconds, 0.01); }, kWait));
  }

  bool MpvReaches(const std::string& sProperty, double dExpected, double dTolerance = 0.01) {
    return WaitUntil([&] { return Near(m_pMpv->GetNumber(sProperty), dExpected, dTolerance); }, kWait);
  }
  bool MpvFlagIs(const std::string& sProperty, bool blExpected) {
    return WaitUntil([&] { return m_pMpv->GetFlag(sProperty) == blExpected; }, kWait);
  }

  // VLC on two items of the clip, paused, its HTTP interface on a loopback port. VLC will not
  // run as root: then it runs through its vlc-wrapper as nobody, with a home of its own.
  void StartVlc() {
    const fs::path home = m_short / "vlc";
    fs::create_directories(home / "shots");
    const bool blRoot = ::geteuid() == 0;
    if (blRoot) {
      for (const fs::path& path : {home, home / "shots"}) {
        ASSERT_EQ(::chown(path.c_str(), 65534, 65534), 0);
      }
    }
    const int nPort = FreeLoopbackPort();
    ASSERT_GT(nPort, 0);
    m_pVlc = std::make_unique<VlcLink>(nPort, "orb");
    std::vector<std::string> args = {blRoot ? "/usr/bin/vlc-wrapper" : "/usr/bin/vlc",
                                     "-I", "dummy", "--extraintf", "http", "--http-host", "127.0.0.1",
                                     "--http-port", std::to_string(nPort), "--http-password", "orb",
                                     "--no-audio", "--no-video-title-show", "--no-snapshot-preview",
                                     "--verbose=2",  // the keys it got, for a failure's report
                                     "--start-paused", "--no-loop", "--no-repeat", "--no-random",
                                     "--snapshot-path=" + (home / "shots").string(), "--width=320", "--height=240",
                                     Clip::Path().string(), Clip::Path().string()};
    std::vector<std::pair<std::string, std::string>> env = {{"HOME", home.string()}};
    if (blRoot) env.emplace_back("SUDO_UID", "65534");
    fs::create_directories(m_dir / "run-vlc");
    m_pPlayer = std::make_unique<ChildProcess>(args, m_dir / "run-vlc", env);
    ASSERT_TRUE(WaitUntil(
        [&] {
          const auto status = m_pVlc->Status();
          return status && status->value("state").toString() == "paused" && status->value("length").toDouble() > 0;
        },
        kWait))
        << m_pPlayer->Stderr();
    // Started paused, VLC opens its video window with the first picture it shows: a seek
    // shows one.
    ASSERT_NO_FATAL_FAILURE(VlcAt(1.0));
  }

  void VlcAt(double dSeconds) {
    ASSERT_TRUE(m_pVlc->Status("?command=seek&val=" + std::to_string(static_cast<int>(dSeconds))));
    ASSERT_TRUE(VlcReaches(dSeconds)) << Text(m_pVlc->Seconds());
  }
  // VLC names the target of a seek before it has read there, and may name 0 in between; a
  // jump that comes then starts from 0. So the time must stay a while before the next key.
  // VLC jumps from the picture it shows, which may be a frame or two before the time it
  // named: three frames' tolerance, where a wrong key would be seconds off.
  bool VlcReaches(double dSeconds, double dTolerance = 3 / kFps) {
    const auto deadline = std::chrono::steady_clock::now() + kWait;
    auto stableSince = std::chrono::steady_clock::time_point::max();
    return WaitUntil(
        [&] {
          const auto now = std::chrono::steady_clock::now();
          if (!Near(m_pVlc->Seconds(), dSeconds, dTolerance)) {
            stableSince = std::chrono::steady_clock::time_point::max();
            return false;
          }
          stableSince = std::min(stableSince, now);
          return now - stableSince >= kVlcSettle;
        },
        std::chrono::duration_cast<milliseconds>(deadline - std::chrono::steady_clock::now()));
  }
  bool VlcStateIs(const std::string& state) {
    return WaitUntil([&] { const auto s = m_pVlc->Status(); return s && s->value("state").toString() == QString::fromStdString(state); },
                     kWait);
  }
  std::optional<double> VlcRate() {
    const auto status = m_pVlc->Status();
    if (!status) return std::nullopt;
    return status->value("rate").toDouble();
  }

  std::size_t FilesIn(const fs::path& directory) {
    std::size_t nCount = 0;
    std::error_code error;
    for (auto it = fs::directory_iterator(directory, error); !error && it != fs::directory_iterator(); ++it) ++nCount;
    return nCount;
  }

  TempDir m_dir;
  ShortDir m_short;
  X11Desktop m_desktop;
  std::optional<ServerKeyRepeatOff> m_keyRepeatOff;
  std::unique_ptr<PipedProcess> m_pSimulator;
  std::unique_ptr<ChildProcess> m_pOrb;
  std::unique_ptr<ChildProcess> m_pPlayer;
  std::unique_ptr<MpvLink> m_pMpv;
  std::unique_ptr<ChildProcess> m_pStranger;
  std::unique_ptr<VlcLink> m_pVlc;
  bool m_blModeSeen = false;
  unsigned long m_nFront = 0;  // the window Front() brought to the front
};

// Each player's tests skip, saying why, when Debian's package of that player is missing.
class RealMpv : public RealPlayers {
 protected:
  void SetUp() override {
    if (!HasProgram("/usr/bin/mpv")) GTEST_SKIP() << "needs /usr/bin/mpv (scripts/bootstrap installs it)";
    RealPlayers::SetUp();
  }
};

class RealVlc : public RealPlayers {
 protected:
  void SetUp() override {
    // As root VLC runs through its wrapper, which the same package brings.
    for (const char* pProgram : {"/usr/bin/vlc", "/usr/bin/vlc-wrapper"}) {
      if (!HasProgram(pProgram)) GTEST_SKIP() << "needs " << pProgram << " (scripts/bootstrap installs vlc)";
    }
    RealPlayers::SetUp();
  }

  // With `-I dummy` the video window is VLC's only window, and it is unmapped with its
  // item: the next item maps it again only with its first picture (it starts paused), and
  // the focus has gone meanwhile. A seek shows a picture; then the window is brought to the
  // front again, as a user would click it.
  void FrontVlcAfterItemChange() {
    ASSERT_TRUE(WaitUntil([&] { return !m_desktop.IsShown(m_nFront); }, kWait)) << "the window stayed";
    ASSERT_NO_FATAL_FAILURE(VlcAt(1.0));
    ASSERT_NO_FATAL_FAILURE(Front("VLC media player", "VLC", "VLC media player"));
  }

  std::optional<int> VlcItem() {
    const auto status = m_pVlc->Status();
    if (!status) return std::nullopt;
    return status->value("currentplid").toInt();
  }
};

TEST_F(RealMpv, WheelSeeksFiveSecondsInFileModeAndStepsExactFramesInDeckMode) {
  ASSERT_NO_FATAL_FAILURE(StartMpv("/usr/bin/mpv", "orb-mpv"));
  ASSERT_NO_FATAL_FAILURE(Front("orb-mpv", "MPV", "mpv"));

  // FILE mode, as the row starts: each wheel step seeks 5 s.
  ASSERT_NO_FATAL_FAILURE(MpvAt(20.0));
  ASSERT_NO_FATAL_FAILURE(Turn(2));
  ASSERT_TRUE(MpvReaches("time-pos", 30.0)) << Text(m_pMpv->GetNumber("time-pos"));
  ASSERT_NO_FATAL_FAILURE(Turn(-3));
  ASSERT_TRUE(MpvReaches("time-pos", 15.0)) << Text(m_pMpv->GetNumber("time-pos"));

  // The selector switches to DECK mode: single frames, exactly as many as wheel steps.
  ASSERT_NO_FATAL_FAILURE(SwitchMode(true));
  ASSERT_NO_FATAL_FAILURE(MpvAt(10.0));
  const double dStart = 10.0 * kFps;
  ASSERT_TRUE(MpvReaches("estimated-frame-number", dStart, 0.5));
  // One step at a time, each awaited: mpv merges a step that comes while the last one is
  // still being shown into it, forward and backward alike.
  for (int nStep = 1; nStep <= 7; ++nStep) {
    ASSERT_NO_FATAL_FAILURE(Turn(1));
    ASSERT_TRUE(MpvReaches("estimated-frame-number", dStart + nStep, 0.5))
        << nStep << ": " << Text(m_pMpv->GetNumber("estimated-frame-number"));
    ASSERT_TRUE(MpvFlagIs("pause", true)) << "a frame step leaves mpv paused";
  }
  for (int nStep = 1; nStep <= 3; ++nStep) {
    ASSERT_NO_FATAL_FAILURE(Turn(-1));
    ASSERT_TRUE(MpvReaches("estimated-frame-number", dStart + 7 - nStep, 0.5))
        << -nStep << ": " << Text(m_pMpv->GetNumber("estimated-frame-number"));
  }
  ASSERT_EQ(m_pMpv->GetFlag("pause"), true);

  // And back to FILE mode.
  ASSERT_NO_FATAL_FAILURE(SwitchMode(false));
  ASSERT_NO_FATAL_FAILURE(MpvAt(50.0));
  ASSERT_NO_FATAL_FAILURE(Turn(1));
  ASSERT_TRUE(MpvReaches("time-pos", 55.0)) << Text(m_pMpv->GetNumber("time-pos"));
}

TEST_F(RealMpv, ButtonsDoWhatTheirLabelsSay) {
  ASSERT_NO_FATAL_FAILURE(StartMpv("/usr/bin/mpv", "orb-mpv"));
  ASSERT_NO_FATAL_FAILURE(Front("orb-mpv", "MPV", "mpv"));

  // Speed: slower, faster, reset (mpv multiplies by 1/1.1 and 1.1). Each press is awaited:
  // one press that counted twice shows as a speed off by a factor.
  ASSERT_NO_FATAL_FAILURE(Press(kPgm1));
  ASSERT_TRUE(MpvReaches("speed", 1.0 / 1.1, 0.001)) << Text(m_pMpv->GetNumber("speed"));
  ASSERT_NO_FATAL_FAILURE(Press(kPgm2));
  ASSERT_TRUE(MpvReaches("speed", 1.0, 0.001)) << Text(m_pMpv->GetNumber("speed"));
  ASSERT_NO_FATAL_FAILURE(Press(kPgm2));
  ASSERT_TRUE(MpvReaches("speed", 1.1, 0.001)) << Text(m_pMpv->GetNumber("speed"));
  ASSERT_NO_FATAL_FAILURE(Press(kPgm2));
  ASSERT_TRUE(MpvReaches("speed", 1.21, 0.001)) << Text(m_pMpv->GetNumber("speed"));
  ASSERT_NO_FATAL_FAILURE(Press(kPgm3));
  ASSERT_TRUE(MpvReaches("speed", 1.0, 0.0001)) << Text(m_pMpv->GetNumber("speed"));

  // Fullscreen, mute, screenshot. (ADD's progress bar is only drawn: mpv tells of it nowhere.)
  ASSERT_NO_FATAL_FAILURE(Press(kPgm4));
  ASSERT_TRUE(MpvFlagIs("fullscreen", true));
  ASSERT_NO_FATAL_FAILURE(Press(kPgm4));
  ASSERT_TRUE(MpvFlagIs("fullscreen", false));
  ASSERT_NO_FATAL_FAILURE(Press(kPgm5));
  ASSERT_TRUE(MpvFlagIs("mute", true));
  const fs::path shots = m_short / "shots";
  ASSERT_NO_FATAL_FAILURE(Press(kCap));
  ASSERT_TRUE(WaitUntil([&] { return FilesIn(shots) == 1; }, kWait)) << FilesIn(shots) << " screenshots";

  // FILE mode: chapters on BACK and FORE.
  ASSERT_NO_FATAL_FAILURE(MpvAt(50.0));
  ASSERT_NO_FATAL_FAILURE(Press(kFore));
  ASSERT_TRUE(MpvReaches("chapter", 2)) << Text(m_pMpv->GetNumber("chapter"));
  ASSERT_TRUE(MpvReaches("time-pos", 80.0, 0.1));
  ASSERT_NO_FATAL_FAILURE(Press(kBack));
  ASSERT_TRUE(MpvReaches("chapter", 1)) << Text(m_pMpv->GetNumber("chapter"));

  // IN and OUT set the two ends of the A-B loop.
  ASSERT_NO_FATAL_FAILURE(MpvAt(10.0));
  ASSERT_NO_FATAL_FAILURE(Press(kIn));
  ASSERT_TRUE(MpvReaches("ab-loop-a", 10.0, 0.05)) << Text(m_pMpv->GetNumber("ab-loop-a"));
  ASSERT_NO_FATAL_FAILURE(MpvAt(30.0));
  ASSERT_NO_FATAL_FAILURE(Press(kOut));
  ASSERT_TRUE(MpvReaches("ab-loop-b", 30.0, 0.05)) << Text(m_pMpv->GetNumber("ab-loop-b"));

  // DECK mode: a minute back and forth.
  ASSERT_NO_FATAL_FAILURE(SwitchMode(true));
  ASSERT_NO_FATAL_FAILURE(MpvAt(40.0));
  ASSERT_NO_FATAL_FAILURE(Press(kFore));
  ASSERT_TRUE(MpvReaches("time-pos", 100.0)) << Text(m_pMpv->GetNumber("time-pos"));
  ASSERT_NO_FATAL_FAILURE(Press(kBack));
  ASSERT_TRUE(MpvReaches("time-pos", 40.0)) << Text(m_pMpv->GetNumber("time-pos"));

  // Play and pause.
  ASSERT_NO_FATAL_FAILURE(Press(kPlay));
  ASSERT_TRUE(MpvFlagIs("pause", false));
  ASSERT_NO_FATAL_FAILURE(Press(kPlay));
  ASSERT_TRUE(MpvFlagIs("pause", true));
}

TEST_F(RealMpv, AWindowWithoutARowReceivesNothing) {
  // mpv under another name is an application no row names (and the table has no fallback).
  const fs::path stranger = m_short / "orbplain";
  fs::copy_file("/usr/bin/mpv", stranger);
  ASSERT_NO_FATAL_FAILURE(StartMpv(stranger, "orb-plain"));
  ASSERT_NO_FATAL_FAILURE(Front("orb-plain", "ORBPLAIN", ""));
  ASSERT_NO_FATAL_FAILURE(MpvAt(20.0));
  for (int nUsage : {kPgm1, kPgm2, kPgm4, kPgm5, kBack, kFore, kCap, kPlay, kIn, kAdd, kDeckFile}) {
    ASSERT_NO_FATAL_FAILURE(Press(nUsage));
  }
  ASSERT_NO_FATAL_FAILURE(Turn(3));
  ASSERT_NO_FATAL_FAILURE(Turn(-2));
  // The same reports reach a window with a row: once its mpv has seen them, the stranger
  // has had every chance to see the earlier ones.
  std::unique_ptr<MpvLink> pStrangerLink = std::move(m_pMpv);
  m_pStranger = std::move(m_pPlayer);
  ASSERT_NO_FATAL_FAILURE(StartMpv("/usr/bin/mpv", "orb-mpv", "mpv2"));
  ASSERT_NO_FATAL_FAILURE(Front("orb-mpv", "MPV", "mpv"));
  ASSERT_NO_FATAL_FAILURE(Press(kPlay));
  ASSERT_TRUE(MpvFlagIs("pause", false));

  EXPECT_TRUE(Near(pStrangerLink->GetNumber("time-pos"), 20.0, 0.01)) << Text(pStrangerLink->GetNumber("time-pos"));
  EXPECT_EQ(pStrangerLink->GetFlag("pause"), true);
  EXPECT_TRUE(Near(pStrangerLink->GetNumber("speed"), 1.0, 1e-9));
  EXPECT_EQ(pStrangerLink->GetFlag("mute"), false);
  EXPECT_EQ(pStrangerLink->GetFlag("fullscreen"), false);
  EXPECT_EQ(FilesIn(m_short / "shots"), 0u);
  const auto loopStart = pStrangerLink->Get("ab-loop-a");
  EXPECT_TRUE(loopStart && loopStart->toString() == "no");
  m_pStranger.reset();
}

TEST_F(RealVlc, DeckModeJumpsAndStepsAndItsButtonsWork) {
  ASSERT_NO_FATAL_FAILURE(StartVlc());
  ASSERT_NO_FATAL_FAILURE(Front("VLC media player", "VLC", "VLC media player"));

  // DECK mode, as the row starts: 3 s on the wheel, 10 s on BACK and FORE.
  ASSERT_NO_FATAL_FAILURE(VlcAt(30.0));
  ASSERT_NO_FATAL_FAILURE(Turn(2));
  ASSERT_TRUE(VlcReaches(36.0)) << Text(m_pVlc->Seconds());
  ASSERT_NO_FATAL_FAILURE(Turn(-1));
  ASSERT_TRUE(VlcReaches(33.0)) << Text(m_pVlc->Seconds());
  ASSERT_NO_FATAL_FAILURE(Press(kFore));
  ASSERT_TRUE(VlcReaches(43.0)) << Text(m_pVlc->Seconds());
  ASSERT_NO_FATAL_FAILURE(Press(kBack));
  ASSERT_TRUE(VlcReaches(33.0)) << Text(m_pVlc->Seconds());

  // PLAY plays and pauses; ADD, the next frame, stops a playing picture on the next frame
  // (VLC's interfaces report no time for a frame step, only the pause it makes).
  ASSERT_NO_FATAL_FAILURE(Press(kPlay));
  ASSERT_TRUE(VlcStateIs("playing"));
  ASSERT_NO_FATAL_FAILURE(Press(kPlay));
  ASSERT_TRUE(VlcStateIs("paused"));
  ASSERT_NO_FATAL_FAILURE(Press(kPlay));
  ASSERT_TRUE(VlcStateIs("playing"));
  ASSERT_NO_FATAL_FAILURE(Press(kAdd));
  ASSERT_TRUE(VlcStateIs("paused"));

  // CAP takes a snapshot of the next picture shown: while it plays (a paused VLC shows none).
  ASSERT_NO_FATAL_FAILURE(Press(kPlay));
  ASSERT_TRUE(VlcStateIs("playing"));
  ASSERT_NO_FATAL_FAILURE(Press(kCap));
  ASSERT_TRUE(WaitUntil([&] { return FilesIn(m_short / "vlc" / "shots") == 1; }, kWait))
      << FilesIn(m_short / "vlc" / "shots") << " snapshots";
  ASSERT_NO_FATAL_FAILURE(Press(kPlay));
  ASSERT_TRUE(VlcStateIs("paused"));

  // Speed: VLC's fine steps are a tenth each way; = is normal speed. Each press awaited, so
  // one that counted twice shows.
  const std::pair<int, double> speeds[] = {{kPgm1, 0.9}, {kPgm1, 0.8}, {kPgm3, 1.0}, {kPgm2, 1.1},
                                           {kPgm2, 1.2}, {kPgm1, 1.1}, {kPgm3, 1.0}};
  for (const auto& [nUsage, dRate] : speeds) {
    ASSERT_NO_FATAL_FAILURE(Press(nUsage));
    ASSERT_TRUE(WaitUntil([&] { return Near(VlcRate(), dRate, 0.005); }, kWait))
        << "after " << nUsage << ": " << Text(VlcRate()) << " instead of " << dRate;
  }

  // Fullscreen on and off.
  ASSERT_NO_FATAL_FAILURE(Press(kPgm4));
  ASSERT_TRUE(WaitUntil([&] { const auto s = m_pVlc->Status(); return s && s->value("fullscreen").toBool(); }, kWait));
  ASSERT_NO_FATAL_FAILURE(Press(kPgm4));
  ASSERT_TRUE(WaitUntil([&] { const auto s = m_pVlc->Status(); return s && !s->value("fullscreen").toBool(); }, kWait));

  // PGM5 stops.
  ASSERT_NO_FATAL_FAILURE(Press(kPgm5));
  ASSERT_TRUE(VlcStateIs("stopped"));
}

TEST_F(RealVlc, FileModeJumpsMinutesAndWalksThePlaylist) {
  ASSERT_NO_FATAL_FAILURE(StartVlc());
  ASSERT_NO_FATAL_FAILURE(Front("VLC media player", "VLC", "VLC media player"));
  ASSERT_NO_FATAL_FAILURE(SwitchMode(false));

  ASSERT_NO_FATAL_FAILURE(VlcAt(30.0));
  ASSERT_NO_FATAL_FAILURE(Press(kFore));
  ASSERT_TRUE(VlcReaches(90.0)) << Text(m_pVlc->Seconds());
  ASSERT_NO_FATAL_FAILURE(Press(kBack));
  ASSERT_TRUE(VlcReaches(30.0)) << Text(m_pVlc->Seconds());

  // The wheel walks the playlist: the next item, then back to the first.
  const std::optional<int> first = VlcItem();
  ASSERT_TRUE(first.has_value());
  ASSERT_NO_FATAL_FAILURE(Turn(1));
  ASSERT_TRUE(WaitUntil([&] { const auto item = VlcItem(); return item && item != first; }, kWait));
  const std::optional<int> second = VlcItem();
  ASSERT_NO_FATAL_FAILURE(FrontVlcAfterItemChange());
  ASSERT_NO_FATAL_FAILURE(Turn(-1));
  ASSERT_TRUE(WaitUntil([&] { return VlcItem() == first; }, kWait)) << Text(VlcItem()) << " " << Text(second);

  // PLAY toggles in this mode too.
  ASSERT_NO_FATAL_FAILURE(FrontVlcAfterItemChange());
  ASSERT_TRUE(VlcStateIs("paused"));
  ASSERT_NO_FATAL_FAILURE(Press(kPlay));
  ASSERT_TRUE(VlcStateIs("playing"));
  ASSERT_NO_FATAL_FAILURE(Press(kPlay));
  ASSERT_TRUE(VlcStateIs("paused"));
}

}  // namespace

#include "orb_rig.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <thread>

namespace orb::bench {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kStartTimeout = std::chrono::seconds(20);

int ConnectTo(const std::filesystem::path& socketPath) {
  const int nSocket = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  socketPath.string().copy(address.sun_path, sizeof address.sun_path - 1);
  if (nSocket >= 0 && ::connect(nSocket, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
    return nSocket;
  }
  if (nSocket >= 0) ::close(nSocket);
  return -1;
}

std::string Tail(const std::filesystem::path& path) {
  const std::string sText = ReadWholeFile(path);
  return sText.size() > 2000 ? sText.substr(sText.size() - 2000) : sText;
}

}  // namespace

bool WaitUntilListening(const std::filesystem::path& socketPath, std::chrono::milliseconds timeout,
                        std::chrono::microseconds step) {
  // Nothing announces the listen itself; the socket file appears a moment before it.
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    const int nSocket = ConnectTo(socketPath);
    if (nSocket >= 0) {
      ::close(nSocket);
      return true;
    }
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(step);
  }
}

OrbRig::~OrbRig() {
  StopOrb();
  if (m_pSimulator) {
    m_pSimulator->CloseStdin();  // end of input ends the simulator
    if (!m_pSimulator->WaitForExit(std::chrono::seconds(5))) m_pSimulator->Stop();
  }
}

bool OrbRig::Prepare(std::string_view tableToml, std::string* pError) {
  if (!m_dir.Made()) {
    *pError = "cannot make a scratch directory";
    return false;
  }
  std::error_code error;
  std::filesystem::create_directories(m_dir / "run", error);
  std::filesystem::permissions(m_dir / "run", std::filesystem::perms::owner_all, error);
  std::filesystem::create_directories(m_dir / "config" / "TARN", error);
  if (error || !WriteWholeFile(m_dir / "config" / "TARN" / "ORB.conf", "[General]\nShowStay=0\nStartup=1\n") ||
      !WriteWholeFile(m_dir / "table.toml", tableToml)) {
    *pError = "cannot write into " + m_dir.Path().string();
    return false;
  }
  {
    SpawnedProgram build({ORBCTL_BINARY, "table", "build", "table.toml", "-o", "ORB.DAT"}, m_dir.Path(), {});
    const auto status = build.WaitForExit(std::chrono::seconds(20));
    if (!build.Started() || !status || !WIFEXITED(*status) || WEXITSTATUS(*status) != 0) {
      *pError = "orbctl table build failed: " + build.Error() + ReadWholeFile(build.StderrFile());
      return false;
    }
  }
  m_pSimulator = std::make_unique<SpawnedProgram>(
      std::vector<std::string>{ORBCTL_BINARY, "hid", "simulate", "--socket", (m_dir / "controller.sock").string()},
      m_dir.Path(), EnvChanges{});
  if (!m_pSimulator->Started() || !WaitForFileText(m_pSimulator->StdoutFile(), "listening", kStartTimeout)) {
    *pError = "the simulator did not start: " + m_pSimulator->Error() + ReadWholeFile(m_pSimulator->StderrFile());
    return false;
  }
  return true;
}

const char* MissingFor(OrbPlatform platform) {
  switch (platform) {
    case OrbPlatform::kOffscreen:
      return nullptr;
    case OrbPlatform::kX11:
      return std::getenv("DISPLAY") == nullptr ? "needs DISPLAY" : nullptr;
    case OrbPlatform::kWaylandSession:
      return std::getenv("WAYLAND_DISPLAY") == nullptr || std::getenv("XDG_RUNTIME_DIR") == nullptr
                 ? "needs a Wayland session (scripts/with-sway)"
                 : nullptr;
  }
  return "unknown platform";
}

bool OrbRig::StartOrb(std::string* pError, OrbPlatform platform) {
  StopOrb();
  std::error_code ignored;
  std::filesystem::remove(LogFile(), ignored);
  EnvChanges env{{"ORB_HID", "sim:" + (m_dir / "controller.sock").string()},
                 {"XDG_RUNTIME_DIR", (m_dir / "run").string()},
                 {"XDG_CONFIG_HOME", (m_dir / "config").string()}};
  std::vector<std::string> unset;
  if (platform == OrbPlatform::kWaylandSession) {
    // The runtime directory is the rig's own: the session's socket is named by its path.
    const std::filesystem::path display = std::getenv("WAYLAND_DISPLAY");
    env.emplace_back("WAYLAND_DISPLAY", display.is_absolute()
                                            ? display.string()
                                            : (std::filesystem::path(std::getenv("XDG_RUNTIME_DIR")) / display).string());
    env.emplace_back("QT_QPA_PLATFORM", "wayland");
    unset = {"DISPLAY", "ORB_FOREGROUND", "ORB_KEYS"};
  } else {
    env.emplace_back("ORB_FOREGROUND", "none");
    env.emplace_back("ORB_KEYS", "record");
    unset.emplace_back("WAYLAND_DISPLAY");
    if (platform == OrbPlatform::kX11) {
      env.emplace_back("QT_QPA_PLATFORM", "xcb");
    } else {
      env.emplace_back("QT_QPA_PLATFORM", "offscreen");
      unset.emplace_back("DISPLAY");
    }
  }
  m_pOrb = std::make_unique<SpawnedProgram>(std::vector<std::string>{ORB_BINARY, "/m"}, m_dir.Path(), env, unset);
  if (!m_pOrb->Started()) {
    *pError = m_pOrb->Error();
    return false;
  }
  return true;
}

bool OrbRig::WaitUntilSettled(std::string* pError) {
  // "Application is" comes from the choice of profile that the connection posts.
  for (const char* pLine : {"Controller connected!", "Application is"}) {
    if (!WaitForFileText(LogFile(), pLine, kStartTimeout)) {
      *pError = std::string("no \"") + pLine + "\" in ORB.LOG: " + Tail(LogFile()) + ReadWholeFile(m_pOrb->StderrFile());
      return false;
    }
  }
  // Not asked over the instance socket: without a notification area (offscreen) the
  // question itself would bring the window up, and the figures are for it hidden.
  return true;
}

void OrbRig::StopOrb() {
  if (m_pOrb) {
    m_pOrb->Stop(std::chrono::seconds(10));
    m_pOrb.reset();
  }
}

}  // namespace orb::bench

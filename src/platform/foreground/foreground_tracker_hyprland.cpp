// The window in front under Hyprland: its event socket tells each change of the active
// window by address (activewindowv2), and its request socket gives that window's pid
// (j/clients). A request is a connection of its own, answered and closed by Hyprland.
// The bytes are judged by hyprland_ipc.*; this file only moves them.
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <utility>

#include "base/write_log.h"
#include "platform/foreground/foreground_tracker.h"
#include "platform/foreground/hyprland_ipc.h"
#include "platform/process/process_start.h"

namespace orb::platform {
namespace {

// How long the main loop may wait for Hyprland to answer one request.
constexpr int kReplyTimeoutMs = 1000;

UniqueFd ConnectTo(const std::string& path, std::string* pError) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof address.sun_path) {
    *pError = "the Hyprland socket path \"" + path + "\" is empty or too long";
    return UniqueFd();
  }
  std::memcpy(address.sun_path, path.data(), path.size());
  UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!fd.Valid()) {
    *pError = std::string("cannot make a socket: ") + std::strerror(errno);
    return UniqueFd();
  }
  if (::connect(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 &&
      errno != EINPROGRESS) {
    *pError = "cannot connect to \"" + path + "\": " + std::strerror(errno);
    return UniqueFd();
  }
  return fd;
}

// Waits for the fd to be ready for `nEvents` until the deadline; false when it is not.
bool WaitFor(int nFd, short nEvents, std::chrono::steady_clock::time_point deadline) {
  for (;;) {
    const auto nLeft =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    if (nLeft <= 0) return false;
    pollfd waiter{nFd, nEvents, 0};
    const int n = ::poll(&waiter, 1, static_cast<int>(nLeft));
    if (n > 0) return true;
    if (n < 0 && errno != EINTR) return false;
  }
}

// One request and its whole answer (Hyprland closes the connection after it).
bool Request(const std::string& socketPath, const std::string& request, std::string* pReply, std::string* pError) {
  UniqueFd fd = ConnectTo(socketPath, pError);
  if (!fd.Valid()) return false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kReplyTimeoutMs);
  std::size_t nSent = 0;
  while (nSent < request.size()) {
    if (!WaitFor(fd.Get(), POLLOUT, deadline)) {
      *pError = "Hyprland did not take the request \"" + request + "\"";
      return false;
    }
    const ssize_t n = ::send(fd.Get(), request.data() + nSent, request.size() - nSent, MSG_NOSIGNAL);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) {
      *pError = "cannot send to the Hyprland request socket: " + std::string(std::strerror(errno));
      return false;
    }
    nSent += static_cast<std::size_t>(n);
  }
  pReply->clear();
  char chunk[16384];
  for (;;) {
    if (!WaitFor(fd.Get(), POLLIN, deadline)) {
      *pError = "Hyprland did not answer \"" + request + "\" within " + std::to_string(kReplyTimeoutMs) + " ms";
      return false;
    }
    const ssize_t n = ::recv(fd.Get(), chunk, sizeof chunk, 0);
    if (n == 0) return true;
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n < 0) {
      *pError = "reading the Hyprland request socket failed: " + std::string(std::strerror(errno));
      return false;
    }
    pReply->append(chunk, static_cast<std::size_t>(n));
    if (pReply->size() > hyprland::kMaxReplyBytes) {
      *pError = "Hyprland's answer to \"" + request + "\" is larger than we read";
      return false;
    }
  }
}

class HyprlandForegroundTracker final : public ForegroundTracker {
 public:
  HyprlandForegroundTracker(UniqueFd events, std::string requestPath)
      : m_events(std::move(events)), m_requestPath(std::move(requestPath)) {}

  ForegroundWindow Current() override {
    // The two sockets keep no order between them: a change told while the answer was on
    // its way may be older or newer than it, so the question is asked again until no
    // change comes with the answer (a few times at most).
    for (int nTry = 0; nTry < 3 && !m_blBroken; ++nTry) {
      std::string reply;
      std::string error;
      if (!Request(m_requestPath, "j/activewindow", &reply, &error)) {
        WriteLog("ForegroundTracker: %s\r\n", error.c_str());
        break;
      }
      if (const auto active = hyprland::ActiveWindowOf(reply)) {
        m_last = WithStartTime(*active);
      } else {
        WriteLog("ForegroundTracker: Hyprland's active window was not understood\r\n");
      }
      ReadAvailable();
      // Whole lines are dealt with here; a line still coming is left to Dispatch.
      const std::size_t nWhole = m_buffer.rfind('\n');
      const std::string_view lines(m_buffer.data(), nWhole == std::string::npos ? 0 : nWhole + 1);
      const bool blChanged = lines.find("activewindowv2>>") != std::string_view::npos;
      m_buffer.erase(0, lines.size());
      if (!blChanged) break;
    }
    return m_last;
  }

  void SetListener(Listener listener) override { m_listener = std::move(listener); }

  int Fd() const override { return m_events.Get(); }

  void Dispatch() override {
    if (m_blBroken) return;
    const ReadResult result = ReadAvailable();
    // Only the last change counts: the ones before it are already over.
    std::optional<std::uint64_t> latest;
    std::size_t nStart = 0;
    for (std::size_t nEnd; (nEnd = m_buffer.find('\n', nStart)) != std::string::npos; nStart = nEnd + 1) {
      const std::string_view line(m_buffer.data() + nStart, nEnd - nStart);
      if (m_blSkippingLine) {
        m_blSkippingLine = false;  // the end of a line too long to keep
        continue;
      }
      const auto event = hyprland::ParseEventLine(line);
      if (!event || event->name != "activewindowv2") continue;
      if (const auto nAddress = hyprland::ActiveWindowAddress(event->data)) latest = nAddress;
    }
    m_buffer.erase(0, nStart);
    if (m_buffer.size() > hyprland::kMaxLineBytes) {
      m_buffer.clear();
      m_blSkippingLine = true;
    }
    if (latest) Apply(*latest);
    if (result != ReadResult::kMore) {
      Broken(result == ReadResult::kEnded ? "Hyprland closed its event socket"
                                          : "reading Hyprland's event socket failed: " + std::string(std::strerror(errno)));
    }
  }

  std::string Name() const override { return "Hyprland"; }

 private:
  enum class ReadResult { kMore, kEnded, kFailed };

  ReadResult ReadAvailable() {
    char chunk[16384];
    for (;;) {
      const ssize_t n = ::recv(m_events.Get(), chunk, sizeof chunk, MSG_DONTWAIT);
      if (n > 0) {
        m_buffer.append(chunk, static_cast<std::size_t>(n));
        continue;
      }
      if (n == 0) return ReadResult::kEnded;
      if (errno == EINTR) continue;
      return errno == EAGAIN || errno == EWOULDBLOCK ? ReadResult::kMore : ReadResult::kFailed;
    }
  }

  void Apply(std::uint64_t nAddress) {
    ForegroundWindow next;
    if (nAddress != 0) {
      std::string reply;
      std::string error;
      if (!Request(m_requestPath, "j/clients", &reply, &error)) {
        WriteLog("ForegroundTracker: %s\r\n", error.c_str());
        return;
      }
      const auto nPid = hyprland::PidOfWindow(reply, nAddress);
      if (!nPid) return;  // closed meanwhile: the event that follows says what is in front
      next = WithStartTime(ForegroundWindow{nAddress, *nPid});
    }
    if (next == m_last) return;
    m_last = next;
    if (m_listener) m_listener(m_last);
  }

  static ForegroundWindow WithStartTime(ForegroundWindow front) {
    front.nStartTime = front.nPid != 0 ? ProcessStartTime(front.nPid) : 0;
    return front;
  }

  // As with sway: a socket at its end reads as ready for ever, so its fd number is pointed
  // at a pipe that never becomes readable and the main loop goes quiet.
  void Broken(const std::string& reason) {
    if (m_blBroken) return;
    m_blBroken = true;
    WriteLog("ForegroundTracker: %s; the application in front is no longer followed\r\n", reason.c_str());
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) == 0) {
      ::dup3(pipeFds[0], m_events.Get(), O_CLOEXEC);
      ::close(pipeFds[0]);
      m_quietWriteEnd = UniqueFd(pipeFds[1]);
    }
    m_buffer.clear();
    if (m_last != ForegroundWindow{}) {
      m_last = ForegroundWindow{};
      if (m_listener) m_listener(m_last);
    }
  }

  UniqueFd m_events;
  UniqueFd m_quietWriteEnd;
  const std::string m_requestPath;
  std::string m_buffer;
  bool m_blSkippingLine = false;
  bool m_blBroken = false;
  ForegroundWindow m_last;
  Listener m_listener;
};

}  // namespace

bool HyprlandForegroundTrackerBuilt() { return true; }

std::unique_ptr<ForegroundTracker> CreateHyprlandForegroundTracker(const std::string& socketDir, std::string* pError) {
  std::string ignored;
  std::string& error = pError != nullptr ? *pError : ignored;
  UniqueFd events = ConnectTo(socketDir + "/.socket2.sock", &error);
  if (!events.Valid()) return nullptr;
  // A non-blocking connect to a Unix socket is done or refused at once, except when the
  // listener's queue is full: then wait for it a little.
  if (!WaitFor(events.Get(), POLLOUT, std::chrono::steady_clock::now() + std::chrono::milliseconds(kReplyTimeoutMs))) {
    error = "Hyprland's event socket did not accept us";
    return nullptr;
  }
  int nSocketError = 0;
  socklen_t nLength = sizeof nSocketError;
  ::getsockopt(events.Get(), SOL_SOCKET, SO_ERROR, &nSocketError, &nLength);
  if (nSocketError != 0) {
    error = "cannot connect to Hyprland's event socket: " + std::string(std::strerror(nSocketError));
    return nullptr;
  }
  // The request socket must answer too, or no window would ever get its pid.
  std::string reply;
  if (!Request(socketDir + "/.socket.sock", "j/activewindow", &reply, &error)) return nullptr;
  if (!hyprland::ActiveWindowOf(reply)) {
    error = "Hyprland's request socket does not answer as Hyprland's";
    return nullptr;
  }
  return std::make_unique<HyprlandForegroundTracker>(std::move(events), socketDir + "/.socket.sock");
}

}  // namespace orb::platform

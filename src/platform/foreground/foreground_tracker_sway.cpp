// The window in front under sway (and compositors that speak its i3-style IPC): a
// connection of our own to $SWAYSOCK, subscribed to window and workspace events. sway
// tells the focused container's pid itself, for native and XWayland windows alike, so
// nothing here needs the X server. The bytes are judged by sway_ipc.*; this file only
// moves them.
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
#include <vector>

#include "base/write_log.h"
#include "platform/foreground/foreground_tracker.h"
#include "platform/foreground/sway_ipc.h"
#include "platform/process/process_start.h"

namespace orb::platform {
namespace {

// How long start-up waits for sway to answer a request before giving up on it.
constexpr int kReplyTimeoutMs = 2000;

bool WriteAll(int nFd, const std::vector<std::uint8_t>& bytes) {
  std::size_t nDone = 0;
  while (nDone < bytes.size()) {
    const ssize_t n = ::send(nFd, bytes.data() + nDone, bytes.size() - nDone, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n < 0 && errno == EAGAIN) {
      pollfd waiter{nFd, POLLOUT, 0};
      if (::poll(&waiter, 1, kReplyTimeoutMs) <= 0) {
        return false;
      }
      continue;
    }
    if (n <= 0) {
      return false;
    }
    nDone += static_cast<std::size_t>(n);
  }
  return true;
}

class SwayForegroundTracker final : public ForegroundTracker {
 public:
  explicit SwayForegroundTracker(UniqueFd fd) : m_fd(std::move(fd)) {}

  // Subscribes; false with the reason when sway refuses or does not answer.
  bool Subscribe(std::string* pError) {
    if (!WriteAll(m_fd.Get(), sway::EncodeMessage(sway::kSubscribe, R"(["window","workspace"])"))) {
      *pError = "cannot send to the sway IPC socket: " + std::string(std::strerror(errno));
      return false;
    }
    std::string payload;
    if (!AwaitReply(sway::kSubscribe, &payload, pError)) {
      return false;
    }
    if (!sway::SubscribeSucceeded(payload)) {
      *pError = "sway refused the subscription to window events";
      return false;
    }
    return true;
  }

  ForegroundWindow Current() override {
    std::string payload;
    std::string error;
    if (!m_blBroken && WriteAll(m_fd.Get(), sway::EncodeMessage(sway::kGetTree, "")) &&
        AwaitReply(sway::kGetTree, &payload, &error)) {
      if (const auto focused = sway::FocusedInTree(payload)) {
        m_last = WithStartTime(*focused);
      } else {
        WriteLog("ForegroundTracker: sway's tree was not understood\r\n");
      }
      // Events that came after the reply are newer than the tree: they count, quietly.
      ApplyBuffered(/*blTell=*/false);
    } else if (!m_blBroken) {
      Broken(error.empty() ? "no tree from sway" : error);
    }
    return m_last;
  }

  void SetListener(Listener listener) override { m_listener = std::move(listener); }

  int Fd() const override { return m_fd.Get(); }

  void Dispatch() override {
    if (m_blBroken) {
      return;
    }
    const ReadResult result = ReadAvailable();
    ApplyBuffered(/*blTell=*/true);
    if (result != ReadResult::kMore) {
      Broken(result == ReadResult::kEnded ? "sway closed the IPC connection"
                                          : "reading the sway IPC socket failed: " + std::string(std::strerror(errno)));
    }
  }

  std::string Name() const override { return "sway"; }

 private:
  enum class ReadResult { kMore, kEnded, kFailed };

  // Everything the socket holds now, without blocking.
  ReadResult ReadAvailable() {
    std::uint8_t chunk[16384];
    for (;;) {
      const ssize_t n = ::recv(m_fd.Get(), chunk, sizeof chunk, MSG_DONTWAIT);
      if (n > 0) {
        m_buffer.insert(m_buffer.end(), chunk, chunk + n);
        continue;
      }
      if (n == 0) {
        return ReadResult::kEnded;
      }
      if (errno == EINTR) {
        continue;
      }
      return errno == EAGAIN || errno == EWOULDBLOCK ? ReadResult::kMore : ReadResult::kFailed;
    }
  }

  // The first whole message in the buffer, taken out of it. False when none is whole yet;
  // a header that is not sway's ends the connection (the stream cannot be resynchronised).
  bool TakeMessage(sway::Header* pHeader, std::string* pPayload) {
    if (m_buffer.size() < sway::kHeaderBytes) {
      return false;
    }
    std::string reason;
    const auto header = sway::ParseHeader(m_buffer, &reason);
    if (!header) {
      m_buffer.clear();
      Broken("sway sent " + reason);
      return false;
    }
    if (m_buffer.size() < sway::kHeaderBytes + header->nLength) {
      return false;
    }
    const auto itPayload = m_buffer.begin() + static_cast<std::ptrdiff_t>(sway::kHeaderBytes);
    pPayload->assign(itPayload, itPayload + header->nLength);
    m_buffer.erase(m_buffer.begin(), itPayload + header->nLength);
    *pHeader = *header;
    return true;
  }

  // Reads until the reply of the given type; events before it are older than the reply and
  // are dropped.
  bool AwaitReply(std::uint32_t nType, std::string* pPayload, std::string* pError) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kReplyTimeoutMs);
    for (;;) {
      sway::Header header;
      while (!m_blBroken && TakeMessage(&header, pPayload)) {
        if (header.nType == nType) {
          return true;
        }
      }
      if (m_blBroken) {
        *pError = "sway's answer was not understood";
        return false;
      }
      const auto nLeft =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
      pollfd waiter{m_fd.Get(), POLLIN, 0};
      if (nLeft <= 0 || ::poll(&waiter, 1, static_cast<int>(nLeft)) <= 0) {
        *pError = "sway did not answer within " + std::to_string(kReplyTimeoutMs) + " ms";
        return false;
      }
      const ReadResult result = ReadAvailable();
      if (result != ReadResult::kMore) {
        *pError = result == ReadResult::kEnded ? "sway closed the IPC connection" : std::strerror(errno);
        return false;
      }
    }
  }

  void ApplyBuffered(bool blTell) {
    sway::Header header;
    std::string payload;
    while (!m_blBroken && TakeMessage(&header, &payload)) {
      const auto front = sway::FrontAfterEvent(header.nType, payload, m_last);
      if (!front) {
        continue;
      }
      // A pid taken over by a new program is a new application too.
      const ForegroundWindow next = WithStartTime(*front);
      if (next == m_last) {
        continue;
      }
      m_last = next;
      if (blTell && m_listener) {
        m_listener(m_last);
      }
    }
  }

  // The connection is of no more use (sway ended, or sent what cannot be read). The main
  // loop keeps watching our fd, and a socket at its end reads as ready for ever: the fd
  // number is pointed at a pipe that never becomes readable, so the loop goes quiet.
  void Broken(const std::string& reason) {
    if (m_blBroken) {
      return;
    }
    m_blBroken = true;
    WriteLog("ForegroundTracker: %s; the application in front is no longer followed\r\n", reason.c_str());
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) == 0) {
      ::dup3(pipeFds[0], m_fd.Get(), O_CLOEXEC);
      ::close(pipeFds[0]);
      m_quietWriteEnd = UniqueFd(pipeFds[1]);
    }
    m_buffer.clear();
    if (m_last != ForegroundWindow{}) {
      m_last = ForegroundWindow{};
      if (m_listener) {
        m_listener(m_last);
      }
    }
  }

  UniqueFd m_fd;
  UniqueFd m_quietWriteEnd;  // kept open so that the pipe never reads as ended
  std::vector<std::uint8_t> m_buffer;
  bool m_blBroken = false;
  static ForegroundWindow WithStartTime(ForegroundWindow front) {
    front.nStartTime = front.nPid != 0 ? ProcessStartTime(front.nPid) : 0;
    return front;
  }

  ForegroundWindow m_last;
  Listener m_listener;
};

}  // namespace

bool SwayForegroundTrackerBuilt() { return true; }

std::unique_ptr<ForegroundTracker> CreateSwayForegroundTracker(const char* pSocketPath, std::string* pError) {
  std::string ignored;
  std::string& error = pError != nullptr ? *pError : ignored;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::size_t nLength = pSocketPath != nullptr ? std::strlen(pSocketPath) : 0;
  if (nLength == 0 || nLength >= sizeof address.sun_path) {
    error = "the sway IPC socket path is empty or longer than " + std::to_string(sizeof address.sun_path - 1) +
            " bytes";
    return nullptr;
  }
  std::memcpy(address.sun_path, pSocketPath, nLength);
  UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!fd.Valid() || ::connect(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    error = std::string("cannot connect to the sway IPC socket \"") + pSocketPath + "\": " + std::strerror(errno);
    return nullptr;
  }
  // Non-blocking from here on: the main loop must never wait on sway; requests at start-up
  // wait with a deadline of their own.
  ::fcntl(fd.Get(), F_SETFL, ::fcntl(fd.Get(), F_GETFL) | O_NONBLOCK);
  auto pTracker = std::make_unique<SwayForegroundTracker>(std::move(fd));
  if (!pTracker->Subscribe(&error)) {
    return nullptr;
  }
  return pTracker;
}

}  // namespace orb::platform

// The backend behind ORB_HID=sim:PATH: the one simulated controller of an
// `orbctl hid simulate --socket PATH` process, listed while it is plugged in.
#include <fcntl.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <utility>

#include "base/write_log.h"
#include "platform/hid/hid_backend.h"
#include "platform/hid/hid_monitor.h"
#include "platform/hid/sim_socket.h"
#include "platform/hid/sim_wire.h"

namespace orb::platform {

namespace {

constexpr int kReplyTimeoutMs = 2000;

// One open connection is one open node: reports arrive on it, feature reports leave on it,
// and the server closing it (or saying Gone) means the device went.
class SimulatorClientDevice final : public HidDevice {
 public:
  SimulatorClientDevice(UniqueFd fd, HidDeviceInfo info, std::vector<std::uint8_t> descriptor)
      : m_fd(std::move(fd)), m_info(std::move(info)), m_descriptor(std::move(descriptor)),
        m_receive(kSimMaxMessage) {}

  int Fd() const override { return m_fd.Get(); }

  long ReadReport(std::uint8_t* pBuffer, std::size_t nSize) override {
    if (m_blGone.load()) return -1;
    for (;;) {
      const ssize_t n = ::recv(m_fd.Get(), m_receive.data(), m_receive.size(), MSG_DONTWAIT);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return 0;
      if (n <= 0) break;  // closed or failed
      SimMessage message;
      if (!DecodeSimMessage(m_receive.data(), static_cast<std::size_t>(n), &message)) {
        WriteLog("HidBackend: simulator sent a malformed message\r\n");
        break;
      }
      if (message.type == SimMessageType::Gone) break;
      if (message.type != SimMessageType::Report) return 0;
      const std::size_t nCopy = std::min(nSize, message.nPayload);
      if (nCopy != 0) std::memcpy(pBuffer, message.pPayload, nCopy);
      return static_cast<long>(nCopy);
    }
    m_blGone.store(true);
    return -1;
  }

  bool SetFeature(const std::uint8_t* pReport, std::size_t nSize) override {
    return !m_blGone.load() && SendSimMessage(m_fd.Get(), SimMessageType::Feature, pReport, nSize);
  }

  const std::vector<std::uint8_t>& ReportDescriptor() const override { return m_descriptor; }
  const HidDeviceInfo& Info() const override { return m_info; }

 private:
  UniqueFd m_fd;
  HidDeviceInfo m_info;
  std::vector<std::uint8_t> m_descriptor;
  std::vector<std::uint8_t> m_receive;  // one message; allocated once
  // Set by the device thread when the reading ends, read by the main thread before it sends
  // the mode bits: the two run at once.
  std::atomic<bool> m_blGone{false};
};

// A watching connection: the simulator says Plugged or Unplugged on it at each change.
class SimulatorClientMonitor final : public HidMonitor {
 public:
  SimulatorClientMonitor(UniqueFd fd, std::string sSocketPath)
      : m_fd(std::move(fd)), m_sSocketPath(std::move(sSocketPath)), m_receive(kSimMaxMessage) {}

  int Fd() const override { return m_fd.Get(); }

  bool Dispatch() override {
    if (m_blEnded) return false;
    bool blChanged = false;
    for (;;) {
      const ssize_t n = ::recv(m_fd.Get(), m_receive.data(), m_receive.size(), MSG_DONTWAIT);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return blChanged;
      SimMessage message;
      if (n > 0 && DecodeSimMessage(m_receive.data(), static_cast<std::size_t>(n), &message)) {
        if (message.type == SimMessageType::Plugged || message.type == SimMessageType::Unplugged) blChanged = true;
        continue;
      }
      if (n > 0) WriteLog("HidMonitor: simulator sent a malformed message\r\n");
      End();
      return true;  // the device went with the simulator: worth looking again
    }
  }

  std::string Name() const override { return "simulator " + m_sSocketPath; }

 private:
  // The simulator is gone and its socket would stay readable for good, spinning whoever
  // watches it. The fd number must stay valid (a notifier may hold it), so a quiet
  // eventfd takes the socket's place.
  void End() {
    m_blEnded = true;
    WriteLog("HidMonitor: the simulator on %s ended; no more plug notices\r\n", m_sSocketPath.c_str());
    UniqueFd quiet(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!quiet.Valid() || ::dup3(quiet.Get(), m_fd.Get(), O_CLOEXEC) < 0) {
      WriteLog("HidMonitor: cannot quiet the ended simulator's socket (%s)\r\n", std::strerror(errno));
    }
  }

  UniqueFd m_fd;
  std::string m_sSocketPath;
  std::vector<std::uint8_t> m_receive;  // one message; allocated once
  bool m_blEnded = false;
};

class SimulatorClientBackend final : public HidBackend {
 public:
  explicit SimulatorClientBackend(std::string sSocketPath)
      : m_sSocketPath(std::move(sSocketPath)), m_sDevicePath("sim:" + m_sSocketPath) {}

  std::vector<HidDeviceInfo> Enumerate() override {
    std::vector<HidDeviceInfo> list;
    SimDevice device;
    UniqueFd fd;
    if (Ask(SimMessageType::Enumerate, &device, &fd)) list.push_back(device.info);
    return list;
  }

  std::unique_ptr<HidDevice> Open(const std::string& sPath, const HidOpenMode& mode) override {
    (void)mode;
    if (sPath != m_sDevicePath) return nullptr;
    SimDevice device;
    UniqueFd fd;
    if (!Ask(SimMessageType::Open, &device, &fd)) return nullptr;
    return std::make_unique<SimulatorClientDevice>(std::move(fd), std::move(device.info), std::move(device.descriptor));
  }

  std::string Name() const override { return "simulator " + m_sSocketPath; }

  // Waits for the simulator's first answer, the state when it took the watch: whatever
  // happens after this returns reaches the monitor.
  std::unique_ptr<HidMonitor> CreateMonitor() override {
    UniqueFd fd = ConnectSimSocket(m_sSocketPath);
    if (!fd.Valid()) {
      WriteLog("HidMonitor: no simulator on %s (%s)\r\n", m_sSocketPath.c_str(), std::strerror(errno));
      return nullptr;
    }
    std::vector<std::uint8_t> reply(kSimMaxMessage);
    SimMessage message;
    const bool blSent = SendSimMessage(fd.Get(), SimMessageType::Watch, nullptr, 0);
    const long n = blSent ? ReceiveSimMessage(fd.Get(), reply.data(), kReplyTimeoutMs) : -1;
    if (n <= 0 || !DecodeSimMessage(reply.data(), static_cast<std::size_t>(n), &message) ||
        (message.type != SimMessageType::Plugged && message.type != SimMessageType::Unplugged)) {
      WriteLog("HidMonitor: the simulator on %s does not announce plugging\r\n", m_sSocketPath.c_str());
      return nullptr;
    }
    return std::make_unique<SimulatorClientMonitor>(std::move(fd), m_sSocketPath);
  }

 private:
  // Sends a request on a fresh connection and reads the one-device answer. The connection
  // is handed back for Open, whose node it becomes.
  bool Ask(SimMessageType request, SimDevice* pDevice, UniqueFd* pFd) {
    UniqueFd fd = ConnectSimSocket(m_sSocketPath);
    if (!fd.Valid()) return false;  // no simulator running: no device
    if (!SendSimMessage(fd.Get(), request, nullptr, 0)) return false;
    std::vector<std::uint8_t> reply(kSimMaxMessage);
    const long n = ReceiveSimMessage(fd.Get(), reply.data(), kReplyTimeoutMs);
    if (n <= 0) return false;
    SimMessage message;
    if (!DecodeSimMessage(reply.data(), static_cast<std::size_t>(n), &message)) {
      WriteLog("HidBackend: simulator sent a malformed message\r\n");
      return false;
    }
    const SimMessageType expected = request == SimMessageType::Open ? SimMessageType::Opened : SimMessageType::DeviceList;
    if (message.type != expected || message.nPayload == 0) return false;
    if (!DecodeSimDevice(message.pPayload, message.nPayload, pDevice)) {
      WriteLog("HidBackend: simulator sent a malformed device\r\n");
      return false;
    }
    pDevice->info.sPath = m_sDevicePath;
    *pFd = std::move(fd);
    return true;
  }

  std::string m_sSocketPath;
  std::string m_sDevicePath;
};

}  // namespace

std::unique_ptr<HidBackend> CreateSimulatorClientBackend(const std::string& sSocketPath) {
  return std::make_unique<SimulatorClientBackend>(sSocketPath);
}

}  // namespace orb::platform

#include "platform/hid/sim_hid_backend.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>

#include "base/unique_fd.h"
#include "base/write_log.h"
#include "platform/hid/controller_descriptor.h"
#include "platform/hid/hid_monitor.h"

namespace orb::platform {

struct SimulatedHidBackend::Device {
  HidDeviceInfo info;
  std::vector<std::uint8_t> descriptor;
  bool blPlugged = true;
  bool blOpenFails = false;
  bool blFeatureFails = false;
  int nOpenCount = 0;
  std::deque<std::vector<std::uint8_t>> queue;
  std::vector<std::vector<std::uint8_t>> features;
  std::vector<Node*> nodes;  // open nodes, for unplug and for readiness
};

struct SimulatedHidBackend::World {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<std::shared_ptr<Device>> devices;  // enumeration order
  std::vector<Monitor*> monitors;
  int nNextId = 0;

  void Announce();  // under the lock

  Device* Find(const std::string& sPath) {
    for (auto& pDevice : devices) {
      if (pDevice->info.sPath == sPath) return pDevice.get();
    }
    return nullptr;
  }
};

namespace {

void Signal(int nFd) {
  const std::uint64_t nOne = 1;
  [[maybe_unused]] const ssize_t n = ::write(nFd, &nOne, sizeof nOne);
}

void Drain(int nFd) {
  std::uint64_t nCount = 0;
  [[maybe_unused]] const ssize_t n = ::read(nFd, &nCount, sizeof nCount);
}

}  // namespace

// Readable (its eventfd) while the device's queue holds a report, or for good once the
// device was unplugged after this node was opened.
class SimulatedHidBackend::Node final : public HidDevice {
 public:
  Node(std::shared_ptr<World> pWorld, std::shared_ptr<Device> pDevice)
      : m_pWorld(std::move(pWorld)), m_pDevice(std::move(pDevice)),
        m_event(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)), m_info(m_pDevice->info),
        m_descriptor(m_pDevice->descriptor) {}
  ~Node() override {
    std::lock_guard lock(m_pWorld->mutex);
    auto& nodes = m_pDevice->nodes;
    nodes.erase(std::remove(nodes.begin(), nodes.end(), this), nodes.end());
  }

  bool Valid() const { return m_event.Valid(); }
  void MarkGone() {  // under the world's lock
    m_blGone = true;
    Signal(m_event.Get());
  }
  void Wake() { Signal(m_event.Get()); }  // under the world's lock

  int Fd() const override { return m_event.Get(); }

  long ReadReport(std::uint8_t* pBuffer, std::size_t nSize) override {
    std::lock_guard lock(m_pWorld->mutex);
    if (m_blGone) return -1;
    auto& queue = m_pDevice->queue;
    if (queue.empty()) {
      Drain(m_event.Get());
      return 0;
    }
    const std::vector<std::uint8_t>& report = queue.front();
    const std::size_t nCopy = std::min(nSize, report.size());
    if (nCopy != 0) std::memcpy(pBuffer, report.data(), nCopy);
    queue.pop_front();
    if (queue.empty()) Drain(m_event.Get());
    m_pWorld->changed.notify_all();
    return static_cast<long>(nCopy);
  }

  bool SetFeature(const std::uint8_t* pReport, std::size_t nSize) override {
    std::lock_guard lock(m_pWorld->mutex);
    if (m_blGone || m_pDevice->blFeatureFails) return false;
    m_pDevice->features.emplace_back(pReport, pReport + nSize);
    m_pWorld->changed.notify_all();
    return true;
  }

  const std::vector<std::uint8_t>& ReportDescriptor() const override { return m_descriptor; }
  const HidDeviceInfo& Info() const override { return m_info; }

 private:
  std::shared_ptr<World> m_pWorld;
  std::shared_ptr<Device> m_pDevice;
  UniqueFd m_event;
  HidDeviceInfo m_info;
  std::vector<std::uint8_t> m_descriptor;
  bool m_blGone = false;
};

// Readable (its eventfd) from a change until Dispatch takes the notices.
class SimulatedHidBackend::Monitor final : public HidMonitor {
 public:
  explicit Monitor(std::shared_ptr<World> pWorld)
      : m_pWorld(std::move(pWorld)), m_event(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
  ~Monitor() override {
    std::lock_guard lock(m_pWorld->mutex);
    auto& monitors = m_pWorld->monitors;
    monitors.erase(std::remove(monitors.begin(), monitors.end(), this), monitors.end());
  }

  bool Valid() const { return m_event.Valid(); }
  void Wake() { Signal(m_event.Get()); }  // under the world's lock

  int Fd() const override { return m_event.Get(); }
  bool Dispatch() override {
    std::uint64_t nCount = 0;
    return ::read(m_event.Get(), &nCount, sizeof nCount) == static_cast<ssize_t>(sizeof nCount) && nCount != 0;
  }
  std::string Name() const override { return "simulated"; }

 private:
  std::shared_ptr<World> m_pWorld;
  UniqueFd m_event;
};

void SimulatedHidBackend::World::Announce() {
  for (Monitor* pMonitor : monitors) pMonitor->Wake();
}

SimulatedHidBackend::SimulatedHidBackend() : m_pWorld(std::make_shared<World>()) {}
SimulatedHidBackend::~SimulatedHidBackend() = default;

std::string SimulatedHidBackend::AddDevice(HidDeviceInfo info, std::vector<std::uint8_t> descriptor) {
  std::lock_guard lock(m_pWorld->mutex);
  if (info.sPath.empty()) info.sPath = "sim:" + std::to_string(m_pWorld->nNextId);
  ++m_pWorld->nNextId;
  auto pDevice = std::make_shared<Device>();
  pDevice->info = std::move(info);
  pDevice->descriptor = std::move(descriptor);
  m_pWorld->devices.push_back(pDevice);
  m_pWorld->Announce();
  return pDevice->info.sPath;
}

std::string SimulatedHidBackend::AddController(std::uint16_t nVendorId, std::uint16_t nProductId) {
  return AddDevice({"", nVendorId, nProductId, 0x0100, "Simulated jog/shuttle controller"},
                   std::vector<std::uint8_t>(kControllerDescriptor, kControllerDescriptor + kControllerDescriptorSize));
}

bool SimulatedHidBackend::QueueInputReport(const std::string& sPath, std::vector<std::uint8_t> report) {
  std::lock_guard lock(m_pWorld->mutex);
  Device* pDevice = m_pWorld->Find(sPath);
  if (pDevice == nullptr || !pDevice->blPlugged) return false;
  pDevice->queue.push_back(std::move(report));
  for (Node* pNode : pDevice->nodes) pNode->Wake();
  return true;
}

void SimulatedHidBackend::Unplug(const std::string& sPath) {
  std::lock_guard lock(m_pWorld->mutex);
  Device* pDevice = m_pWorld->Find(sPath);
  if (pDevice == nullptr) return;
  if (pDevice->blPlugged) m_pWorld->Announce();
  pDevice->blPlugged = false;
  pDevice->queue.clear();
  for (Node* pNode : pDevice->nodes) pNode->MarkGone();
  m_pWorld->changed.notify_all();
}

void SimulatedHidBackend::Plug(const std::string& sPath) {
  std::lock_guard lock(m_pWorld->mutex);
  Device* pDevice = m_pWorld->Find(sPath);
  if (pDevice == nullptr || pDevice->blPlugged) return;
  pDevice->blPlugged = true;
  m_pWorld->Announce();
}

void SimulatedHidBackend::SetOpenFails(const std::string& sPath, bool blFail) {
  std::lock_guard lock(m_pWorld->mutex);
  if (Device* pDevice = m_pWorld->Find(sPath)) pDevice->blOpenFails = blFail;
}

void SimulatedHidBackend::SetFeatureFails(const std::string& sPath, bool blFail) {
  std::lock_guard lock(m_pWorld->mutex);
  if (Device* pDevice = m_pWorld->Find(sPath)) pDevice->blFeatureFails = blFail;
}

std::vector<std::vector<std::uint8_t>> SimulatedHidBackend::FeatureReports(const std::string& sPath) const {
  std::lock_guard lock(m_pWorld->mutex);
  Device* pDevice = m_pWorld->Find(sPath);
  return pDevice != nullptr ? pDevice->features : std::vector<std::vector<std::uint8_t>>{};
}

int SimulatedHidBackend::OpenCount(const std::string& sPath) const {
  std::lock_guard lock(m_pWorld->mutex);
  Device* pDevice = m_pWorld->Find(sPath);
  return pDevice != nullptr ? pDevice->nOpenCount : 0;
}

std::size_t SimulatedHidBackend::QueuedReports(const std::string& sPath) const {
  std::lock_guard lock(m_pWorld->mutex);
  Device* pDevice = m_pWorld->Find(sPath);
  return pDevice != nullptr ? pDevice->queue.size() : 0;
}

bool SimulatedHidBackend::WaitForFeatureReports(const std::string& sPath, std::size_t nCount,
                                                std::chrono::milliseconds timeout) const {
  std::unique_lock lock(m_pWorld->mutex);
  return m_pWorld->changed.wait_for(lock, timeout, [&] {
    Device* pDevice = m_pWorld->Find(sPath);
    return pDevice != nullptr && pDevice->features.size() >= nCount;
  });
}

bool SimulatedHidBackend::WaitUntilDrained(const std::string& sPath, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(m_pWorld->mutex);
  return m_pWorld->changed.wait_for(lock, timeout, [&] {
    Device* pDevice = m_pWorld->Find(sPath);
    return pDevice == nullptr || pDevice->queue.empty();
  });
}

std::vector<HidDeviceInfo> SimulatedHidBackend::Enumerate() {
  std::lock_guard lock(m_pWorld->mutex);
  std::vector<HidDeviceInfo> list;
  for (const auto& pDevice : m_pWorld->devices) {
    if (pDevice->blPlugged) list.push_back(pDevice->info);
  }
  return list;
}

std::unique_ptr<HidMonitor> SimulatedHidBackend::CreateMonitor() {
  auto pMonitor = std::make_unique<Monitor>(m_pWorld);
  if (!pMonitor->Valid()) {
    WriteLog("HidMonitor: eventfd failed (%s)\r\n", std::strerror(errno));
    return nullptr;
  }
  std::lock_guard lock(m_pWorld->mutex);
  m_pWorld->monitors.push_back(pMonitor.get());
  return pMonitor;
}

std::unique_ptr<HidDevice> SimulatedHidBackend::Open(const std::string& sPath, const HidOpenMode& mode) {
  (void)mode;
  std::shared_ptr<Device> pDevice;
  {
    std::lock_guard lock(m_pWorld->mutex);
    for (auto& p : m_pWorld->devices) {
      if (p->info.sPath == sPath) pDevice = p;
    }
    if (pDevice == nullptr || !pDevice->blPlugged || pDevice->blOpenFails) return nullptr;
    ++pDevice->nOpenCount;
  }
  auto pNode = std::make_unique<Node>(m_pWorld, pDevice);
  if (!pNode->Valid()) return nullptr;
  {
    std::lock_guard lock(m_pWorld->mutex);
    if (pDevice->blPlugged) {
      pDevice->nodes.push_back(pNode.get());
      if (!pDevice->queue.empty()) pNode->Wake();
      return pNode;
    }
  }
  return nullptr;  // unplugged meanwhile; the node unregisters outside the lock
}

}  // namespace orb::platform

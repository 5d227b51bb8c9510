// The kernel's hidraw nodes, found through libudev.
#include <fcntl.h>
#include <libudev.h>
#include <linux/hidraw.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>
#include <string>
#include <utility>

#include "base/unique_fd.h"
#include "base/write_log.h"
#include "platform/hid/hid_backend.h"
#include "platform/hid/hid_monitor.h"

namespace orb::platform {

namespace {

struct UdevDeleter {
  void operator()(udev* p) const { udev_unref(p); }
  void operator()(udev_enumerate* p) const { udev_enumerate_unref(p); }
  void operator()(udev_device* p) const { udev_device_unref(p); }
  void operator()(udev_monitor* p) const { udev_monitor_unref(p); }
};
using UdevPtr = std::unique_ptr<udev, UdevDeleter>;
using UdevEnumeratePtr = std::unique_ptr<udev_enumerate, UdevDeleter>;
using UdevDevicePtr = std::unique_ptr<udev_device, UdevDeleter>;
using UdevMonitorPtr = std::unique_ptr<udev_monitor, UdevDeleter>;

// The rule that gives the user at the seat the controller's node, and what applies it to
// a controller already plugged in (udev then sends a "change" for the node). The package
// installs the rule and applies it; a source build must do both by hand.
constexpr const char* kPermissionFix =
    "the udev rule 70-orb-controller.rules gives it to the user at the seat: with the orb "
    "package installed, plug the controller in again or run sudo udevadm trigger "
    "--subsystem-match=hidraw; built from source, run sudo cmake --install build/default && "
    "sudo udevadm control --reload && sudo udevadm trigger --subsystem-match=hidraw";

// One line for the log and for `orbctl hid list`: why the node cannot be opened.
std::string OpenFailureText(const std::string& sPath, int nError) {
  std::string sText = "cannot open " + sPath + " (" + std::strerror(nError) + ")";
  if (nError == EACCES || nError == EPERM) sText += "; " + std::string(kPermissionFix);
  return sText;
}

int OpenFlags(const HidOpenMode& mode) {
  int nFlags = O_CLOEXEC;
  nFlags |= mode.blRead && mode.blWrite ? O_RDWR : mode.blWrite ? O_WRONLY : O_RDONLY;
  if (mode.blNonBlocking) nFlags |= O_NONBLOCK;
  return nFlags;
}

// Vendor, product and name from the parent hid device ("HID_ID=0003:0000056D:00000007",
// "HID_NAME=..."); the version from the USB device above it, when there is one.
bool InfoFromUdev(udev_device* pHidraw, HidDeviceInfo* pInfo) {
  const char* pNode = udev_device_get_devnode(pHidraw);
  udev_device* pHid = udev_device_get_parent_with_subsystem_devtype(pHidraw, "hid", nullptr);
  if (pNode == nullptr || pHid == nullptr) return false;
  const char* pId = udev_device_get_property_value(pHid, "HID_ID");
  unsigned nBus = 0, nVendor = 0, nProduct = 0;
  if (pId == nullptr || std::sscanf(pId, "%x:%x:%x", &nBus, &nVendor, &nProduct) != 3) return false;
  pInfo->sPath = pNode;
  pInfo->nVendorId = static_cast<std::uint16_t>(nVendor);
  pInfo->nProductId = static_cast<std::uint16_t>(nProduct);
  pInfo->nVersion = 0;
  const char* pName = udev_device_get_property_value(pHid, "HID_NAME");
  pInfo->sName = pName != nullptr ? pName : "";
  if (udev_device* pUsb = udev_device_get_parent_with_subsystem_devtype(pHidraw, "usb", "usb_device")) {
    if (const char* pBcd = udev_device_get_sysattr_value(pUsb, "bcdDevice")) {
      pInfo->nVersion = static_cast<std::uint16_t>(std::strtoul(pBcd, nullptr, 16));
    }
  }
  return true;
}

class HidrawDevice final : public HidDevice {
 public:
  HidrawDevice(UniqueFd fd, HidDeviceInfo info, std::vector<std::uint8_t> descriptor)
      : m_fd(std::move(fd)), m_info(std::move(info)), m_descriptor(std::move(descriptor)) {}

  int Fd() const override { return m_fd.Get(); }

  long ReadReport(std::uint8_t* pBuffer, std::size_t nSize) override {
    for (;;) {
      const ssize_t n = ::read(m_fd.Get(), pBuffer, nSize);
      if (n > 0) return static_cast<long>(n);
      // hidraw never gives an empty report; end of file is a node whose device hung up,
      // and it stays readable: taking it for "nothing yet" would spin the poll loop.
      if (n == 0) return -1;
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
      return -1;  // ENODEV, EIO: the device is gone
    }
  }

  bool SetFeature(const std::uint8_t* pReport, std::size_t nSize) override {
    // The ioctl takes a non-const buffer; the kernel only reads it.
    return ::ioctl(m_fd.Get(), HIDIOCSFEATURE(nSize), const_cast<std::uint8_t*>(pReport)) >= 0;
  }

  const std::vector<std::uint8_t>& ReportDescriptor() const override { return m_descriptor; }
  const HidDeviceInfo& Info() const override { return m_info; }

 private:
  UniqueFd m_fd;
  HidDeviceInfo m_info;
  std::vector<std::uint8_t> m_descriptor;
};

class HidrawBackend final : public HidBackend {
 public:
  std::vector<HidDeviceInfo> Enumerate() override {
    std::vector<HidDeviceInfo> list;
    UdevPtr pUdev(udev_new());
    if (!pUdev) return list;
    UdevEnumeratePtr pEnum(udev_enumerate_new(pUdev.get()));
    if (!pEnum) return list;
    udev_enumerate_add_match_subsystem(pEnum.get(), "hidraw");
    udev_enumerate_scan_devices(pEnum.get());
    udev_list_entry* pEntry = nullptr;
    udev_list_entry_foreach(pEntry, udev_enumerate_get_list_entry(pEnum.get())) {
      UdevDevicePtr pDevice(udev_device_new_from_syspath(pUdev.get(), udev_list_entry_get_name(pEntry)));
      HidDeviceInfo info;
      if (pDevice && InfoFromUdev(pDevice.get(), &info)) list.push_back(std::move(info));
    }
    return list;
  }

  std::unique_ptr<HidDevice> Open(const std::string& sPath, const HidOpenMode& mode) override {
    // hidraw knows no exclusive open: every reader gets every report, as with a shared
    // Windows handle. blExclusive is recorded by the caller and not enforced here.
    UniqueFd fd(::open(sPath.c_str(), OpenFlags(mode)));
    if (!fd.Valid()) {
      const int nError = errno;
      LogOnce(sPath, nError, OpenFailureText(sPath, nError));
      return nullptr;
    }
    int nDescSize = 0;
    if (::ioctl(fd.Get(), HIDIOCGRDESCSIZE, &nDescSize) < 0 || nDescSize <= 0 || nDescSize > HID_MAX_DESCRIPTOR_SIZE) {
      const int nError = errno;
      LogOnce(sPath, nError, "cannot read the report descriptor size of " + sPath + " (" + std::strerror(nError) + ")");
      return nullptr;
    }
    hidraw_report_descriptor desc{};
    desc.size = static_cast<std::uint32_t>(nDescSize);
    if (::ioctl(fd.Get(), HIDIOCGRDESC, &desc) < 0) {
      const int nError = errno;
      LogOnce(sPath, nError, "cannot read the report descriptor of " + sPath + " (" + std::strerror(nError) + ")");
      return nullptr;
    }
    HidDeviceInfo info{sPath, 0, 0, 0, ""};
    if (!InfoForNode(sPath, &info)) {
      hidraw_devinfo raw{};
      if (::ioctl(fd.Get(), HIDIOCGRAWINFO, &raw) >= 0) {
        info.nVendorId = static_cast<std::uint16_t>(raw.vendor);
        info.nProductId = static_cast<std::uint16_t>(raw.product);
      }
    }
    return std::make_unique<HidrawDevice>(std::move(fd), std::move(info),
                                          std::vector<std::uint8_t>(desc.value, desc.value + desc.size));
  }

  std::string Name() const override { return "hidraw"; }

  std::unique_ptr<HidMonitor> CreateMonitor() override;

  std::string OpenProblem(const std::string& sPath) override {
    UniqueFd fd(::open(sPath.c_str(), OpenFlags(HidOpenMode{})));
    return fd.Valid() ? std::string() : OpenFailureText(sPath, errno);
  }

 private:
  static bool InfoForNode(const std::string& sPath, HidDeviceInfo* pInfo) {
    const std::size_t nSlash = sPath.rfind('/');
    const std::string sName = nSlash == std::string::npos ? sPath : sPath.substr(nSlash + 1);
    UdevPtr pUdev(udev_new());
    if (!pUdev) return false;
    UdevDevicePtr pDevice(udev_device_new_from_subsystem_sysname(pUdev.get(), "hidraw", sName.c_str()));
    return pDevice && InfoFromUdev(pDevice.get(), pInfo);
  }

  // The connection poll retries every 100 ms: say why a node cannot be used only once.
  void LogOnce(const std::string& sPath, int nError, const std::string& sWhy) {
    std::lock_guard lock(m_mutex);
    if (!m_logged.insert({sPath, nError}).second) return;
    WriteLog("HidBackend: %s\r\n", sWhy.c_str());
  }

  std::mutex m_mutex;
  std::set<std::pair<std::string, int>> m_logged;
};

// udev's notices for hidraw nodes, after udev has applied its rules (the "udev" source, not
// the kernel's): by then an added node has the permissions it is going to get.
class HidrawMonitor final : public HidMonitor {
 public:
  HidrawMonitor(UdevPtr pUdev, UdevMonitorPtr pMonitor) : m_pUdev(std::move(pUdev)), m_pMonitor(std::move(pMonitor)) {}

  int Fd() const override { return udev_monitor_get_fd(m_pMonitor.get()); }

  bool Dispatch() override {
    bool blChanged = false;
    // Non-blocking: null once nothing is left. Every notice is taken so the fd goes quiet.
    while (UdevDevicePtr pDevice{udev_monitor_receive_device(m_pMonitor.get())}) {
      const char* pAction = udev_device_get_action(pDevice.get());
      if (pAction == nullptr) continue;
      if (std::strcmp(pAction, "add") == 0 || std::strcmp(pAction, "remove") == 0 || std::strcmp(pAction, "change") == 0) {
        blChanged = true;
      }
    }
    return blChanged;
  }

  std::string Name() const override { return "udev hidraw"; }

 private:
  UdevPtr m_pUdev;
  UdevMonitorPtr m_pMonitor;
};

std::unique_ptr<HidMonitor> HidrawBackend::CreateMonitor() {
  UdevPtr pUdev(udev_new());
  if (!pUdev) {
    WriteLog("HidMonitor: udev_new failed (%s)\r\n", std::strerror(errno));
    return nullptr;
  }
  UdevMonitorPtr pMonitor(udev_monitor_new_from_netlink(pUdev.get(), "udev"));
  if (!pMonitor) {
    WriteLog("HidMonitor: cannot open the udev netlink monitor (%s)\r\n", std::strerror(errno));
    return nullptr;
  }
  int nResult = udev_monitor_filter_add_match_subsystem_devtype(pMonitor.get(), "hidraw", nullptr);
  if (nResult >= 0) nResult = udev_monitor_enable_receiving(pMonitor.get());
  if (nResult < 0) {
    WriteLog("HidMonitor: cannot listen for hidraw notices (%s)\r\n", std::strerror(-nResult));
    return nullptr;
  }
  // libudev opens its socket non-blocking and close-on-exec already; Dispatch relies on
  // the first and a started helper must not inherit the socket, so make sure of both.
  const int nFd = udev_monitor_get_fd(pMonitor.get());
  const int nFlags = ::fcntl(nFd, F_GETFL);
  if (nFlags < 0 || ::fcntl(nFd, F_SETFL, nFlags | O_NONBLOCK) < 0 || ::fcntl(nFd, F_SETFD, FD_CLOEXEC) < 0) {
    WriteLog("HidMonitor: cannot set up the udev monitor's socket (%s)\r\n", std::strerror(errno));
    return nullptr;
  }
  return std::make_unique<HidrawMonitor>(std::move(pUdev), std::move(pMonitor));
}

}  // namespace

std::unique_ptr<HidBackend> CreateHidrawBackend() { return std::make_unique<HidrawBackend>(); }

}  // namespace orb::platform

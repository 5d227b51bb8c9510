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
#include <utility>

#include "base/unique_fd.h"
#include "base/write_log.h"
#include "platform/hid/hid_backend.h"

namespace orb::platform {

namespace {

struct UdevDeleter {
  void operator()(udev* p) const { udev_unref(p); }
  void operator()(udev_enumerate* p) const { udev_enumerate_unref(p); }
  void operator()(udev_device* p) const { udev_device_unref(p); }
};
using UdevPtr = std::unique_ptr<udev, UdevDeleter>;
using UdevEnumeratePtr = std::unique_ptr<udev_enumerate, UdevDeleter>;
using UdevDevicePtr = std::unique_ptr<udev_device, UdevDeleter>;

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
      if (n == 0) return 0;
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
    int nFlags = O_CLOEXEC;
    nFlags |= mode.blRead && mode.blWrite ? O_RDWR : mode.blWrite ? O_WRONLY : O_RDONLY;
    if (mode.blNonBlocking) nFlags |= O_NONBLOCK;
    // hidraw knows no exclusive open: every reader gets every report, as with a shared
    // Windows handle. blExclusive is recorded by the caller and not enforced here.
    UniqueFd fd(::open(sPath.c_str(), nFlags));
    if (!fd.Valid()) {
      const int nError = errno;
      if (nError == EACCES || nError == EPERM) {
        LogOnce(sPath, nError,
                "HidBackend: no permission to open %s (%s); install the udev rule 70-orb-controller.rules "
                "in /lib/udev/rules.d and plug the controller in again\r\n");
      } else {
        LogOnce(sPath, nError, "HidBackend: cannot open %s (%s)\r\n");
      }
      return nullptr;
    }
    int nDescSize = 0;
    if (::ioctl(fd.Get(), HIDIOCGRDESCSIZE, &nDescSize) < 0 || nDescSize <= 0 || nDescSize > HID_MAX_DESCRIPTOR_SIZE) {
      LogOnce(sPath, errno, "HidBackend: cannot read the report descriptor size of %s (%s)\r\n");
      return nullptr;
    }
    hidraw_report_descriptor desc{};
    desc.size = static_cast<std::uint32_t>(nDescSize);
    if (::ioctl(fd.Get(), HIDIOCGRDESC, &desc) < 0) {
      LogOnce(sPath, errno, "HidBackend: cannot read the report descriptor of %s (%s)\r\n");
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
  void LogOnce(const std::string& sPath, int nError, const char* pFormat) {
    std::lock_guard lock(m_mutex);
    if (!m_logged.insert({sPath, nError}).second) return;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    WriteLog(pFormat, sPath.c_str(), std::strerror(nError));
#pragma GCC diagnostic pop
  }

  std::mutex m_mutex;
  std::set<std::pair<std::string, int>> m_logged;
};

}  // namespace

std::unique_ptr<HidBackend> CreateHidrawBackend() { return std::make_unique<HidrawBackend>(); }

}  // namespace orb::platform

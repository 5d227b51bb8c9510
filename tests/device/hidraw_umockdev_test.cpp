// The hidraw backend and its monitor against a kernel-shaped controller: an umockdev
// testbed with the USB device, its hid child (ids, name, report_descriptor) and the hidraw
// node, a mocked /dev/hidraw0 (a pty: bytes written to its master are what a read of the
// node gives), a custom ioctl handler answering the descriptor and feature ioctls as
// drivers/hid/hidraw.c does, and synthesised uevents. Runs under umockdev-wrapper.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/hidraw.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <umockdev.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "device/device_discovery.h"
#include "device/device_output.h"
#include "device/hid_device_record.h"
#include "platform/hid/controller_descriptor.h"
#include "platform/hid/hid_backend.h"
#include "platform/hid/hid_monitor.h"

namespace orb {
namespace {

constexpr const char* kUsbPath = "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-2";
constexpr const char* kHidPath = "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/0003:056D:0007.0001";
constexpr const char* kHidrawPath =
    "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/0003:056D:0007.0001/hidraw/hidraw0";
constexpr const char* kNode = "/dev/hidraw0";

// The device tree in umockdev's text form. The interface between the USB device and the
// hid device is left out: nothing of ours looks at it.
constexpr const char* kDevices =
    "P: /devices/pci0000:00/0000:00:14.0/usb1/1-2\n"
    "E: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\n"
    "A: idVendor=056d\nA: idProduct=0007\nA: bcdDevice=0123\n"
    "\n"
    "P: /devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/0003:056D:0007.0001\n"
    "E: SUBSYSTEM=hid\nE: HID_ID=0003:0000056D:00000007\nE: HID_NAME=Mocked jog/shuttle controller\n"
    "\n"
    "P: /devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/0003:056D:0007.0001/hidraw/hidraw0\n"
    "N: hidraw0\nE: SUBSYSTEM=hidraw\nE: DEVNAME=/dev/hidraw0\nA: dev=241:0\n";

using Clock = std::chrono::steady_clock;

bool ReadableWithin(int nFd, int nTimeoutMs) {
  pollfd p{nFd, POLLIN, 0};
  return ::poll(&p, 1, nTimeoutMs) == 1 && (p.revents & POLLIN) != 0;
}

// What the mocked driver was asked; filled on umockdev's worker thread.
struct DriverLog {
  std::vector<std::uint8_t> descriptor;
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<std::vector<std::uint8_t>> features;
  std::vector<unsigned long> unknown;  // requests answered ENOTTY

  bool WaitForFeatures(std::size_t nCount) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, std::chrono::seconds(10), [&] { return features.size() >= nCount; });
  }
};

// The custom ioctl handler: a UMockdevIoctlBase subclass whose handle_ioctl answers as
// hidraw does. The argument is the caller's pointer; resolve() maps the memory behind it.
struct HidrawHandler {
  UMockdevIoctlBase parent;
  DriverLog* pLog;
};
struct HidrawHandlerClass {
  UMockdevIoctlBaseClass parent;
};

UMockdevIoctlData* Resolve(UMockdevIoctlClient* pClient, std::size_t nSize) {
  GError* pError = nullptr;
  UMockdevIoctlData* pData = umockdev_ioctl_data_resolve(umockdev_ioctl_client_get_arg(pClient), 0, nSize, &pError);
  if (pError != nullptr) g_error_free(pError);
  return pData;
}

gboolean HandleHidrawIoctl(UMockdevIoctlBase* pBase, UMockdevIoctlClient* pClient) {
  DriverLog& log = *reinterpret_cast<HidrawHandler*>(pBase)->pLog;
  const unsigned long nRequest = umockdev_ioctl_client_get_request(pClient);
  if (nRequest == HIDIOCGRDESCSIZE) {
    UMockdevIoctlData* pData = Resolve(pClient, sizeof(int));
    if (pData == nullptr) {
      umockdev_ioctl_client_complete(pClient, -1, EFAULT);
      return TRUE;
    }
    int nSize = static_cast<int>(log.descriptor.size());
    umockdev_ioctl_data_update(pData, 0, reinterpret_cast<guint8*>(&nSize), sizeof nSize);
    g_object_unref(pData);
    umockdev_ioctl_client_complete(pClient, 0, 0);
    return TRUE;
  }
  if (nRequest == HIDIOCGRDESC) {
    UMockdevIoctlData* pData = Resolve(pClient, sizeof(hidraw_report_descriptor));
    if (pData == nullptr) {
      umockdev_ioctl_client_complete(pClient, -1, EFAULT);
      return TRUE;
    }
    std::uint32_t nWanted = 0;
    std::memcpy(&nWanted, pData->data, sizeof nWanted);
    // The kernel refuses a size it cannot fill from the descriptor.
    if (nWanted > log.descriptor.size() || nWanted > HID_MAX_DESCRIPTOR_SIZE) {
      g_object_unref(pData);
      umockdev_ioctl_client_complete(pClient, -1, EINVAL);
      return TRUE;
    }
    umockdev_ioctl_data_update(pData, offsetof(hidraw_report_descriptor, value), log.descriptor.data(),
                               static_cast<gint>(nWanted));
    g_object_unref(pData);
    umockdev_ioctl_client_complete(pClient, 0, 0);
    return TRUE;
  }
  if (_IOC_TYPE(nRequest) == 'H' && _IOC_NR(nRequest) == _IOC_NR(HIDIOCSFEATURE(0)) &&
      _IOC_DIR(nRequest) == (_IOC_READ | _IOC_WRITE)) {
    const std::size_t nSize = _IOC_SIZE(nRequest);
    UMockdevIoctlData* pData = nSize != 0 ? Resolve(pClient, nSize) : nullptr;
    if (pData == nullptr) {
      umockdev_ioctl_client_complete(pClient, -1, EINVAL);
      return TRUE;
    }
    {
      std::lock_guard lock(log.mutex);
      log.features.emplace_back(pData->data, pData->data + nSize);
    }
    log.changed.notify_all();
    g_object_unref(pData);
    umockdev_ioctl_client_complete(pClient, static_cast<glong>(nSize), 0);
    return TRUE;
  }
  {
    std::lock_guard lock(log.mutex);
    log.unknown.push_back(nRequest);
  }
  umockdev_ioctl_client_complete(pClient, -1, ENOTTY);
  return TRUE;
}

void HidrawHandlerClassInit(gpointer pClass, gpointer) {
  reinterpret_cast<UMockdevIoctlBaseClass*>(pClass)->handle_ioctl = HandleHidrawIoctl;
}

GType HidrawHandlerType() {
  static const GType s_type = g_type_register_static_simple(
      UMOCKDEV_TYPE_IOCTL_BASE, "OrbTestHidrawHandler", sizeof(HidrawHandlerClass), HidrawHandlerClassInit,
      sizeof(HidrawHandler), nullptr, GTypeFlags{});
  return s_type;
}

class HidrawUmockdev : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* pPreload = std::getenv("LD_PRELOAD");
    if (pPreload == nullptr || std::strstr(pPreload, "libumockdev-preload") == nullptr) {
      GTEST_SKIP() << "not under umockdev-wrapper: without its preloaded library the testbed is invisible";
    }
    m_log.descriptor.assign(platform::kControllerDescriptor,
                            platform::kControllerDescriptor + platform::kControllerDescriptorSize);
    m_pBed = umockdev_testbed_new();
    ASSERT_NE(m_pBed, nullptr);
    GError* pError = nullptr;
    const bool blAdded = umockdev_testbed_add_from_string(m_pBed, kDevices, &pError);
    ASSERT_TRUE(blAdded) << (pError != nullptr ? pError->message : "");
    umockdev_testbed_set_attribute_binary(m_pBed, kHidPath, "report_descriptor", m_log.descriptor.data(),
                                          static_cast<gint>(m_log.descriptor.size()));
    m_pHandler = static_cast<HidrawHandler*>(g_object_new(HidrawHandlerType(), nullptr));
    m_pHandler->pLog = &m_log;
    const bool blAttached =
        umockdev_testbed_attach_ioctl(m_pBed, kNode, reinterpret_cast<UMockdevIoctlBase*>(m_pHandler), &pError);
    ASSERT_TRUE(blAttached) << (pError != nullptr ? pError->message : "");
    m_nMaster = umockdev_testbed_get_dev_fd(m_pBed, kNode);
    ASSERT_GE(m_nMaster, 0) << "the mocked node has no master side to feed";
    m_pBackend = platform::CreateHidrawBackend();
    platform::SetCurrentHidBackend(m_pBackend.get());
  }

  void TearDown() override {
    platform::SetCurrentHidBackend(nullptr);
    CloseDeviceRecord(m_record, true);
    if (m_pBed != nullptr) {
      umockdev_testbed_detach_ioctl(m_pBed, kNode, nullptr);
      g_object_unref(m_pBed);
    }
    if (m_pHandler != nullptr) g_object_unref(m_pHandler);
  }

  void Feed(const std::vector<std::uint8_t>& report) {
    ASSERT_EQ(::write(m_nMaster, report.data(), report.size()), static_cast<ssize_t>(report.size()));
  }

  // The device goes as the kernel takes it: the uevent, the sysfs entry, and the node
  // hanging up. The testbed keeps the pty master until it is destroyed, so /dev/null takes
  // its place: the pty hangs up and the testbed still closes a valid fd later.
  void Remove() {
    umockdev_testbed_uevent(m_pBed, kHidrawPath, "remove");
    umockdev_testbed_remove_device(m_pBed, kHidrawPath);
    const int nNull = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    ASSERT_GE(nNull, 0);
    ASSERT_GE(::dup3(nNull, m_nMaster, O_CLOEXEC), 0);
    ::close(nNull);
  }

  DriverLog m_log;
  UMockdevTestbed* m_pBed = nullptr;
  HidrawHandler* m_pHandler = nullptr;
  int m_nMaster = -1;
  std::unique_ptr<platform::HidBackend> m_pBackend;
  HidDeviceRecord m_record;
};

TEST_F(HidrawUmockdev, DiscoveryFindsAndOpensTheControllerWithItsIdsAndDescriptor) {
  const std::vector<platform::HidDeviceInfo> devices = m_pBackend->Enumerate();
  ASSERT_EQ(devices.size(), 1u);
  EXPECT_EQ(devices[0].sPath, kNode);
  EXPECT_EQ(devices[0].nVendorId, 0x056D);
  EXPECT_EQ(devices[0].nProductId, 0x0007);
  EXPECT_EQ(devices[0].nVersion, 0x0123) << "bcdDevice of the USB device";
  EXPECT_EQ(devices[0].sName, "Mocked jog/shuttle controller");

  ASSERT_TRUE(FindAndOpenController(m_record));
  EXPECT_EQ(m_record.sDevicePath, kNode);
  EXPECT_EQ(m_record.attributes.VendorID, 0x056D);
  EXPECT_EQ(m_record.attributes.ProductID, 0x0007);
  EXPECT_EQ(m_record.attributes.VersionNumber, 0x0123);
  EXPECT_EQ(m_record.pDevice->ReportDescriptor(), m_log.descriptor) << "read through HIDIOCGRDESC";
  EXPECT_GT(m_record.caps.InputReportByteLength, 0u);
  std::lock_guard lock(m_log.mutex);
  EXPECT_TRUE(m_log.unknown.empty()) << "an ioctl hidraw would not answer: " << std::hex << m_log.unknown.front();
}

TEST_F(HidrawUmockdev, AReportWrittenToTheNodeIsReadAndDecoded) {
  ASSERT_TRUE(FindAndOpenController(m_record));
  EXPECT_EQ(ReadInputReport(m_record, -1, 0), ReadResult::Woken) << "nothing fed yet";
  Feed({0x01, 0x00, 0x20});  // report 1: the button of usage 14
  ASSERT_EQ(ReadInputReport(m_record, -1, 10000), ReadResult::Report);
  ControlEvent event{};
  ASSERT_TRUE(GetControlEvent(m_record, &event));
  EXPECT_EQ(event.nKind, 1);
  EXPECT_EQ(event.nValue, 14);
}

TEST_F(HidrawUmockdev, ModeBitsReachTheNodeAsOneFeatureIoctl) {
  ASSERT_TRUE(FindAndOpenController(m_record));
  SendModeBits(m_record, 6);
  ASSERT_TRUE(m_log.WaitForFeatures(1));
  std::lock_guard lock(m_log.mutex);
  ASSERT_EQ(m_log.features.size(), 1u);
  EXPECT_EQ(m_log.features[0], (std::vector<std::uint8_t>{0x03, 0x06}));
}

TEST_F(HidrawUmockdev, ARemovalWhileReadingReadsAsGone) {
  ASSERT_TRUE(FindAndOpenController(m_record));
  ReadResult result = ReadResult::Report;
  std::thread reader([&] { result = ReadInputReport(m_record, -1, 10000); });
  Remove();
  reader.join();
  EXPECT_EQ(result, ReadResult::Gone) << "Woken means the read timed out instead";
  CloseDeviceRecord(m_record, true);
  m_record = HidDeviceRecord{};
  EXPECT_FALSE(FindAndOpenController(m_record)) << "the node is no longer listed";
}

TEST_F(HidrawUmockdev, TheMonitorReportsAddRemoveAndChangeOfHidrawNodesOnly) {
  std::unique_ptr<platform::HidMonitor> pMonitor = platform::CreateHidMonitor();
  ASSERT_NE(pMonitor, nullptr);
  EXPECT_EQ(pMonitor->Name(), "udev hidraw");
  const int nFdFlags = ::fcntl(pMonitor->Fd(), F_GETFD);
  const int nFlFlags = ::fcntl(pMonitor->Fd(), F_GETFL);
  EXPECT_NE(nFdFlags & FD_CLOEXEC, 0);
  EXPECT_NE(nFlFlags & O_NONBLOCK, 0);
  EXPECT_FALSE(pMonitor->Dispatch()) << "nothing happened yet";

  for (const char* pAction : {"add", "remove", "change"}) {
    umockdev_testbed_uevent(m_pBed, kHidrawPath, pAction);
    ASSERT_TRUE(ReadableWithin(pMonitor->Fd(), 10000)) << pAction;
    EXPECT_TRUE(pMonitor->Dispatch()) << pAction;
    EXPECT_FALSE(ReadableWithin(pMonitor->Fd(), 0)) << "Dispatch takes every notice";
  }
  // The USB device's own notice must not get through, and "bind" is no reason to look
  // again. The second is what makes the fd readable; both were sent by then.
  umockdev_testbed_uevent(m_pBed, kUsbPath, "add");
  umockdev_testbed_uevent(m_pBed, kHidrawPath, "bind");
  ASSERT_TRUE(ReadableWithin(pMonitor->Fd(), 10000));
  EXPECT_FALSE(pMonitor->Dispatch());
}

// What `orbctl hid list` says of a controller the user may not open: run as a user who
// lacks the permission (nobody when we are root), under the same testbed.
TEST_F(HidrawUmockdev, ListSaysWhyTheControllerCannotBeOpenedAndWhatFixesIt) {
  char* pRoot = umockdev_testbed_get_root_dir(m_pBed);
  const std::string sRoot = pRoot;
  g_free(pRoot);
  char sPty[PATH_MAX] = {};
  const std::string sLink = sRoot + "/dev/hidraw0";
  const ssize_t nLink = ::readlink(sLink.c_str(), sPty, sizeof sPty - 1);
  if (nLink <= 0) GTEST_SKIP() << "the mocked node " << sLink << " is no link to a pty in this umockdev";
  const bool blRoot = ::geteuid() == 0;
  // The testbed is private to its creator; nobody must see the sysfs tree and reach the
  // ioctl handler (the preloaded library connects to it first), but not open the node.
  ASSERT_EQ(::chmod(sRoot.c_str(), 0755), 0);
  ASSERT_EQ(::chmod((sRoot + "/ioctl" + kNode).c_str(), 0777), 0);
  ASSERT_EQ(::chmod(sPty, blRoot ? 0600 : 0000), 0) << sPty;
  if (blRoot && ::access(ORBCTL_PATH, X_OK) != 0) GTEST_SKIP() << ORBCTL_PATH << " cannot be run";

  int fds[2];
  ASSERT_EQ(::pipe2(fds, O_CLOEXEC), 0);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(fds[1], STDOUT_FILENO);
    ::dup2(fds[1], STDERR_FILENO);
    if (blRoot && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(126);
    ::execl(ORBCTL_PATH, "orbctl", "hid", "list", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(fds[1]);
  std::string sOutput;
  char buffer[1024];
  const auto deadline = Clock::now() + std::chrono::seconds(20);
  for (;;) {
    const auto nLeft = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (nLeft <= 0 || !ReadableWithin(fds[0], static_cast<int>(nLeft))) break;
    const ssize_t n = ::read(fds[0], buffer, sizeof buffer);
    if (n <= 0) break;
    sOutput.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fds[0]);
  int nStatus = 0;
  ASSERT_EQ(::waitpid(pid, &nStatus, 0), pid);
  ::chmod(sPty, 0620);
  ASSERT_TRUE(WIFEXITED(nStatus)) << sOutput;
  ASSERT_NE(WEXITSTATUS(nStatus), 126) << "cannot become nobody";
  EXPECT_EQ(WEXITSTATUS(nStatus), 0) << sOutput;
  EXPECT_NE(sOutput.find("/dev/hidraw0         056D:0007 v0123"), std::string::npos) << sOutput;
  EXPECT_NE(sOutput.find("supported\n  cannot open /dev/hidraw0 (Permission denied); the udev rule "
                         "70-orb-controller.rules gives it to the user at the seat: with the orb package "
                         "installed, plug the controller in again or run sudo udevadm trigger "
                         "--subsystem-match=hidraw; built from source, run sudo cmake --install build/default "
                         "&& sudo udevadm control --reload && sudo udevadm trigger --subsystem-match=hidraw\n"),
            std::string::npos)
      << sOutput;
}

}  // namespace
}  // namespace orb

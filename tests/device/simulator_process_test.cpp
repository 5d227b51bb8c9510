// The simulated controller as its own process (`orbctl hid simulate`), found, opened, read,
// unplugged and found again through the socket backend that ORB_HID=sim:PATH selects.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <thread>

#include "device/device_discovery.h"
#include "device/device_output.h"
#include "device/hid_device_record.h"
#include "platform/hid/hid_backend.h"
#include "platform/hid/hid_monitor.h"

namespace orb {
namespace {

using Clock = std::chrono::steady_clock;

// orbctl hid simulate with a pipe to its standard input and one from its standard output.
class SimulatorProcess {
 public:
  explicit SimulatorProcess(const std::string& sSocket) {
    int toChild[2], fromChild[2];
    if (::pipe2(toChild, O_CLOEXEC) != 0 || ::pipe2(fromChild, O_CLOEXEC) != 0) return;
    m_pid = ::fork();
    if (m_pid == 0) {
      ::dup2(toChild[0], STDIN_FILENO);
      ::dup2(fromChild[1], STDOUT_FILENO);
      ::execl(ORBCTL_PATH, "orbctl", "hid", "simulate", "--socket", sSocket.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::close(toChild[0]);
    ::close(fromChild[1]);
    m_nIn = toChild[1];
    m_nOut = fromChild[0];
  }
  ~SimulatorProcess() {
    if (m_nIn >= 0) ::close(m_nIn);  // end of input ends the simulator
    if (m_pid > 0) {
      int nStatus = 0;
      ::waitpid(m_pid, &nStatus, 0);
    }
    if (m_nOut >= 0) ::close(m_nOut);
  }
  void Send(const std::string& sLine) {
    const std::string s = sLine + "\n";
    ASSERT_EQ(::write(m_nIn, s.data(), s.size()), static_cast<ssize_t>(s.size()));
  }
  // Waits (up to the deadline) for an output line that starts with sPrefix.
  bool WaitForLine(const std::string& sPrefix, std::string* pLine = nullptr) {
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    for (;;) {
      std::size_t nEnd;
      while ((nEnd = m_sBuffer.find('\n')) != std::string::npos) {
        const std::string sLine = m_sBuffer.substr(0, nEnd);
        m_sBuffer.erase(0, nEnd + 1);
        if (sLine.rfind(sPrefix, 0) == 0) {
          if (pLine != nullptr) *pLine = sLine;
          return true;
        }
      }
      const auto nLeft = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (nLeft <= 0) return false;
      pollfd p{m_nOut, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(nLeft)) <= 0) return false;
      char buffer[512];
      const ssize_t n = ::read(m_nOut, buffer, sizeof buffer);
      if (n <= 0) return false;
      m_sBuffer.append(buffer, static_cast<std::size_t>(n));
    }
  }

 private:
  pid_t m_pid = -1;
  int m_nIn = -1;
  int m_nOut = -1;
  std::string m_sBuffer;
};

bool ReadableWithin(int nFd, int nTimeoutMs) {
  pollfd p{nFd, POLLIN, 0};
  return ::poll(&p, 1, nTimeoutMs) == 1 && (p.revents & POLLIN) != 0;
}

// A running simulator, and its socket backend as the current one.
class SimulatorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::signal(SIGPIPE, SIG_IGN);
    m_simulator.emplace(m_sSocket);
    ASSERT_TRUE(m_simulator->WaitForLine("listening"));
    m_pBackend = platform::CreateSimulatorClientBackend(m_sSocket);
    platform::SetCurrentHidBackend(m_pBackend.get());
  }
  void TearDown() override { platform::SetCurrentHidBackend(nullptr); }

  const std::string m_sSocket = (std::filesystem::current_path() / "controller.sock").string();
  std::optional<SimulatorProcess> m_simulator;
  std::unique_ptr<platform::HidBackend> m_pBackend;
};

// The simulator announces plugging to a watching connection as udev does for a node: the
// client waits on the monitor's fd and then finds the device at the first look.
TEST_F(SimulatorTest, AMonitorHearsUnplugAndPlugAndFallsQuietWhenTheSimulatorEnds) {
  std::optional<SimulatorProcess>& simulator = m_simulator;
  const std::string& sSocket = m_sSocket;
  std::unique_ptr<platform::HidMonitor> pMonitor = platform::CreateHidMonitor();
  ASSERT_NE(pMonitor, nullptr);
  EXPECT_EQ(pMonitor->Name(), "simulator " + sSocket);
  EXPECT_FALSE(ReadableWithin(pMonitor->Fd(), 0)) << "the state at the start is no notice";

  HidDeviceRecord record;
  ASSERT_TRUE(FindAndOpenController(record));
  simulator->Send("unplug");
  ASSERT_TRUE(ReadableWithin(pMonitor->Fd(), 10000));
  EXPECT_TRUE(pMonitor->Dispatch());
  EXPECT_FALSE(ReadableWithin(pMonitor->Fd(), 0));
  EXPECT_EQ(ReadInputReport(record, -1), ReadResult::Gone);
  CloseDeviceRecord(record, true);
  record = HidDeviceRecord{};
  EXPECT_FALSE(FindAndOpenController(record));

  simulator->Send("plug");
  ASSERT_TRUE(ReadableWithin(pMonitor->Fd(), 10000));
  EXPECT_TRUE(pMonitor->Dispatch());
  ASSERT_TRUE(FindAndOpenController(record)) << "announced only once it can be found";
  simulator->Send("button 3");
  ASSERT_EQ(ReadInputReport(record, -1), ReadResult::Report);
  EXPECT_FALSE(ReadableWithin(pMonitor->Fd(), 0)) << "reports are no concern of the monitor";
  CloseDeviceRecord(record, true);

  // The simulator's end takes the device with it: one last "look again", then silence
  // (its socket would otherwise stay readable and spin the main loop).
  simulator.reset();
  ASSERT_TRUE(ReadableWithin(pMonitor->Fd(), 10000));
  EXPECT_TRUE(pMonitor->Dispatch());
  EXPECT_FALSE(ReadableWithin(pMonitor->Fd(), 0));
  EXPECT_FALSE(pMonitor->Dispatch());
}

// The program switches the bits off and closes at once, often with a report it never
// read: the simulator must still see that last feature report.
TEST_F(SimulatorTest, TheLastFeatureReportArrivesWhenTheClientClosesWithReportsUnread) {
  HidDeviceRecord record;
  ASSERT_TRUE(FindAndOpenController(record));
  ASSERT_TRUE(m_simulator->WaitForLine("open 1"));
  m_simulator->Send("button 3");
  ASSERT_TRUE(ReadableWithin(record.pDevice->Fd(), 10000));  // queued, never read
  SendModeBits(record, 0);
  CloseDeviceRecord(record, true);
  std::string sLine;
  ASSERT_TRUE(m_simulator->WaitForLine("feature", &sLine));
  EXPECT_EQ(sLine, "feature 03 00");
  EXPECT_TRUE(m_simulator->WaitForLine("open 0"));
}

TEST(SimulatorProcess, NoSimulatorMeansNoMonitor) {
  const std::string sSocket = (std::filesystem::current_path() / "nobody-listens.sock").string();
  std::unique_ptr<platform::HidBackend> pBackend = platform::CreateSimulatorClientBackend(sSocket);
  EXPECT_EQ(pBackend->CreateMonitor(), nullptr);
}

TEST_F(SimulatorTest, FoundOpenedReadUnpluggedAndFoundAgain) {
  SimulatorProcess& simulator = *m_simulator;
  const std::string& sSocket = m_sSocket;
  platform::HidBackend* pBackend = m_pBackend.get();

  const auto devices = pBackend->Enumerate();
  ASSERT_EQ(devices.size(), 1u);
  EXPECT_EQ(devices[0].sPath, "sim:" + sSocket);
  HidDeviceRecord record;
  ASSERT_TRUE(FindAndOpenController(record));
  ASSERT_TRUE(simulator.WaitForLine("open 1"));

  simulator.Send("button 3");
  ASSERT_EQ(ReadInputReport(record, -1), ReadResult::Report);
  ControlEvent event{};
  ASSERT_TRUE(GetControlEvent(record, &event));
  EXPECT_EQ(event.nKind, 1);
  EXPECT_EQ(event.nValue, 3);
  simulator.Send("wheel -1");
  ASSERT_EQ(ReadInputReport(record, -1), ReadResult::Report);
  ASSERT_TRUE(GetControlEvent(record, &event));
  EXPECT_EQ(event.nKind, 2);
  EXPECT_EQ(event.nValue, -1);

  SendModeBits(record, 6);
  std::string sLine;
  ASSERT_TRUE(simulator.WaitForLine("feature", &sLine));
  EXPECT_EQ(sLine, "feature 03 06");

  simulator.Send("unplug");
  EXPECT_EQ(ReadInputReport(record, -1), ReadResult::Gone);
  CloseDeviceRecord(record, true);
  record = HidDeviceRecord{};
  EXPECT_FALSE(FindAndOpenController(record));
  simulator.Send("plug");
  const auto deadline = Clock::now() + std::chrono::seconds(10);
  bool blFound = false;
  while (!blFound && Clock::now() < deadline) {
    blFound = FindAndOpenController(record);  // the connection poll, until the plug is seen
    if (!blFound) ::poll(nullptr, 0, 20);
  }
  ASSERT_TRUE(blFound);
  simulator.Send("raw 01 00 20");
  ASSERT_EQ(ReadInputReport(record, -1), ReadResult::Report);
  ASSERT_TRUE(GetControlEvent(record, &event));
  EXPECT_EQ(event.nValue, 14);
  CloseDeviceRecord(record, true);
}

// As in the program: the device thread reads (and sees the unplug) while the window's
// thread sends mode bits to the same node. Run under ThreadSanitizer too.
TEST_F(SimulatorTest, ModeBitsCanBeSentWhileTheReaderSeesTheUnplug) {
  SimulatorProcess& simulator = *m_simulator;
  HidDeviceRecord record;
  ASSERT_TRUE(FindAndOpenController(record));
  ASSERT_TRUE(simulator.WaitForLine("open 1"));

  std::thread reader([&record] {
    while (ReadInputReport(record, -1) != ReadResult::Gone) {
    }
  });
  simulator.Send("unplug");
  // Bounded: the simulator prints a line per feature report, and nobody reads them here.
  int nSent = 0;
  while (nSent < 200 && record.pDevice->SetFeature(record.feature.report.data(), record.feature.report.size())) {
    ++nSent;
  }
  reader.join();
  EXPECT_FALSE(record.pDevice->SetFeature(record.feature.report.data(), record.feature.report.size()))
      << "a node that is gone takes no reports (" << nSent << " went before)";
  CloseDeviceRecord(record, true);
}

}  // namespace
}  // namespace orb

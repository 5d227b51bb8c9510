#pragma once
// A simulated controller made current for the test, and a record opened on it.

#include <gtest/gtest.h>

#include "device/device_discovery.h"
#include "device/hid_device_record.h"
#include "platform/hid/sim_hid_backend.h"

namespace orb::test {

class SimulatedDeviceTest : public ::testing::Test {
 protected:
  void SetUp() override { platform::SetCurrentHidBackend(&m_sim); }
  void TearDown() override {
    CloseDeviceRecord(m_record, true);
    platform::SetCurrentHidBackend(nullptr);
  }

  // Adds a device with the given descriptor (the controller's when empty) and opens it.
  void OpenWith(std::vector<std::uint8_t> descriptor = {}) {
    m_sPath = descriptor.empty() ? m_sim.AddController()
                                 : m_sim.AddDevice({"", 0x056D, 0x0006, 1, "test"}, std::move(descriptor));
    ASSERT_TRUE(FindAndOpenController(m_record));
  }

  // Queues a report, reads it into the record and decodes it.
  bool Feed(std::vector<std::uint8_t> report, ControlEvent* pEvent) {
    EXPECT_TRUE(m_sim.QueueInputReport(m_sPath, std::move(report)));
    EXPECT_EQ(ReadInputReport(m_record, -1), ReadResult::Report);
    return GetControlEvent(m_record, pEvent);
  }

  platform::SimulatedHidBackend m_sim;
  std::string m_sPath;
  HidDeviceRecord m_record;
};

}  // namespace orb::test

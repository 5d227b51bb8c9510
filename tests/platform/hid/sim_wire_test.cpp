#include <gtest/gtest.h>

#include "platform/hid/sim_wire.h"

namespace orb::platform {
namespace {

TEST(SimWire, MessagesRoundTripAndLengthsMustMatch) {
  std::vector<std::uint8_t> bytes;
  const std::uint8_t report[3] = {1, 4, 0};
  ASSERT_TRUE(EncodeSimMessage(SimMessageType::Report, report, 3, &bytes));
  SimMessage message;
  ASSERT_TRUE(DecodeSimMessage(bytes.data(), bytes.size(), &message));
  EXPECT_EQ(message.type, SimMessageType::Report);
  ASSERT_EQ(message.nPayload, 3u);
  EXPECT_EQ(message.pPayload[1], 4);
  EXPECT_FALSE(DecodeSimMessage(bytes.data(), bytes.size() - 1, &message));  // cut short
  bytes[0] = 99;
  EXPECT_FALSE(DecodeSimMessage(bytes.data(), bytes.size(), &message));  // unknown type
  EXPECT_FALSE(DecodeSimMessage(bytes.data(), 2, &message));
  std::vector<std::uint8_t> tooLong(kSimMaxPayload + 1);
  EXPECT_FALSE(EncodeSimMessage(SimMessageType::Report, tooLong.data(), tooLong.size(), &bytes));
}

TEST(SimWire, WatchingMessagesFollowTheOldOnesAndNothingBeyondThemIsTaken) {
  SimMessage message;
  for (SimMessageType type : {SimMessageType::Gone, SimMessageType::Watch, SimMessageType::Plugged,
                              SimMessageType::Unplugged}) {
    std::vector<std::uint8_t> bytes;
    ASSERT_TRUE(EncodeSimMessage(type, nullptr, 0, &bytes));
    EXPECT_EQ(bytes, (std::vector<std::uint8_t>{static_cast<std::uint8_t>(type), 0, 0}));
    ASSERT_TRUE(DecodeSimMessage(bytes.data(), bytes.size(), &message));
    EXPECT_EQ(message.type, type);
  }
  // The old numbers stay where they were: a peer built before Watch still understands them.
  EXPECT_EQ(static_cast<int>(SimMessageType::Report), 6);
  EXPECT_EQ(static_cast<int>(SimMessageType::Gone), 8);
  const std::uint8_t beyond[3] = {static_cast<std::uint8_t>(static_cast<int>(kSimLastMessageType) + 1), 0, 0};
  EXPECT_FALSE(DecodeSimMessage(beyond, 3, &message));
  const std::uint8_t zero[3] = {0, 0, 0};
  EXPECT_FALSE(DecodeSimMessage(zero, 3, &message));
}

TEST(SimWire, DevicesRoundTripAndTruncationIsRefused) {
  SimDevice device{{"", 0x05E7, 0x0006, 0x0102, "pad"}, {0x05, 0x01, 0xC0}};
  std::vector<std::uint8_t> bytes;
  EncodeSimDevice(device, &bytes);
  SimDevice back;
  ASSERT_TRUE(DecodeSimDevice(bytes.data(), bytes.size(), &back));
  EXPECT_EQ(back.info.nVendorId, 0x05E7);
  EXPECT_EQ(back.info.nVersion, 0x0102);
  EXPECT_EQ(back.info.sName, "pad");
  EXPECT_EQ(back.descriptor, device.descriptor);
  for (std::size_t n = 0; n < bytes.size(); ++n) EXPECT_FALSE(DecodeSimDevice(bytes.data(), n, &back)) << n;
}

}  // namespace
}  // namespace orb::platform

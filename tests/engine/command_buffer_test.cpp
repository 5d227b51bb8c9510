#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "base/log_capture.h"
#include "engine/command_buffer.h"
#include "platform/keys/key_sink.h"
#include "platform/keys/virtual_keys.h"
#include "platform/time/clock.h"
#include "platform/time/sync.h"
#include "test_profile.h"

namespace orb {
namespace {

using test::Key;

// "d11@0" = down 0x11 at 0 ms.
std::vector<std::string> Trace(const platform::RecordingKeySink& sink) {
  std::vector<std::string> lines;
  for (const auto& r : sink.Records()) {
    char sz[32];
    std::snprintf(sz, sizeof sz, "%c%02X@%llu", r.blUp ? 'u' : 'd', r.nVk,
                  static_cast<unsigned long long>(r.nTimeUs / 1000));
    lines.emplace_back(sz);
  }
  return lines;
}

class PostKeyTest : public ::testing::Test {
 protected:
  platform::ManualClock m_clock;
  platform::RecordingKeySink m_sink{m_clock};
  KeyOutput m_output{&m_sink, &m_clock};
};

TEST_F(PostKeyTest, ModifiersGoDownInOrderAndComeUpReversedAroundAHundredMsHold) {
  PostKey(Key('Z', KS_CTRL | KS_SHIFT, 5), m_output);
  EXPECT_EQ(Trace(m_sink), (std::vector<std::string>{"d11@0", "d10@0", "d5A@0", "u5A@100", "u10@100", "u11@100"}));
  // The pause follows the release of the modifiers.
  EXPECT_EQ(m_clock.Sleeps(), (std::vector<std::uint32_t>{100, 500}));
  EXPECT_EQ(m_clock.NowMs(), 600u);

  m_sink.Clear();
  PostKey(Key(0x71, KS_ALT | KS_CTRL | KS_SHIFT), m_output);
  EXPECT_EQ(Trace(m_sink), (std::vector<std::string>{"d12@600", "d11@600", "d10@600", "d71@600", "u71@700", "u10@700",
                                                     "u11@700", "u12@700"}));
}

TEST_F(PostKeyTest, ScanCodesComeFromTheUsMappingWithoutAnExtendedFlag) {
  PostKey(Key(0x25, KS_ALT), m_output);  // Left arrow
  const auto records = m_sink.Records();
  ASSERT_EQ(records.size(), 4u);
  EXPECT_EQ(records[0].nScanCode, platform::MapVirtualKeyToScanCode(0x12));
  EXPECT_EQ(records[1].nScanCode, 0x4B);
  EXPECT_EQ(records[2].nScanCode, 0x4B);
  for (const std::uint16_t nVk : {0x21, 0x22, 0x23, 0x24, 0x26, 0x27, 0x28, 0x2D, 0x2E}) {
    m_sink.Clear();
    PostKey(Key(nVk), m_output);
    EXPECT_EQ(m_sink.Records()[0].nScanCode, platform::MapVirtualKeyToScanCode(nVk)) << nVk;
  }
}

TEST_F(PostKeyTest, AModifierKeyPlaysThroughItsBitsAlone) {
  PostKey(Key(0x10, KS_SHIFT), m_output);  // Shift stored as a key with its bit
  EXPECT_EQ(Trace(m_sink), (std::vector<std::string>{"d10@0", "u10@100"}));
  m_sink.Clear();
  PostKey(Key(0x11, 0, 3), m_output);  // Ctrl without its bit: nothing, but the time passes
  EXPECT_TRUE(m_sink.Records().empty());
  EXPECT_EQ(m_clock.NowMs(), 100u + 100u + 300u);
}

TEST_F(PostKeyTest, OnlyTheLowByteOfTheKeyIsSent) {
  PostKey(Key(0x141), m_output);
  EXPECT_EQ(Trace(m_sink), (std::vector<std::string>{"d41@0", "u41@100"}));
  // The modifier test looks at all 16 bits: 0x110 is not Shift, so its low byte is sent.
  m_sink.Clear();
  PostKey(Key(0x110), m_output);
  EXPECT_EQ(Trace(m_sink), (std::vector<std::string>{"d10@100", "u10@200"}));
}

TEST_F(PostKeyTest, LongestPauseSleeps51Point1Seconds) {
  PostKey(Key('A', 0, 511), m_output);
  EXPECT_EQ(m_clock.Sleeps(), (std::vector<std::uint32_t>{100, 51100}));
}

TEST_F(PostKeyTest, CommandStopsAtTheFirstEmptyKey) {
  ClearCommandBuffer();
  PostCommand(m_output);
  EXPECT_TRUE(m_sink.Records().empty());
  EXPECT_EQ(m_clock.NowUs(), 0u);  // an empty command takes no time

  CopyToCommandBuffer({Key('A'), Key('B'), 0, Key('C'), Key('D')});
  PostCommand(m_output);
  EXPECT_EQ(Trace(m_sink), (std::vector<std::string>{"d41@0", "u41@100", "d42@100", "u42@200"}));
  // Bits 16-18 and the pause do not make a key: only the virtual key counts.
  m_sink.Clear();
  CopyToCommandBuffer({KS_CTRL | (5u << KS_PAUSE_SHIFT), Key('A'), 0, 0, 0});
  PostCommand(m_output);
  EXPECT_TRUE(m_sink.Records().empty());
  ClearCommandBuffer();
}

TEST(FlushCommandTest, WaitsForTheLockThenEmptiesTheBuffer) {
  platform::Mutex lock(platform::RealClock());
  CopyToCommandBuffer({Key('A'), Key('B'), Key('C'), Key('D'), Key('E')});
  test::LogCapture log;
  ASSERT_TRUE(lock.Lock());  // as if PostThread were playing
  std::atomic<bool> blDone{false};
  std::thread flusher([&] {
    FlushCommand(lock);
    blDone = true;
  });
  // The flusher must be held up by the lock: wait until it said it is waiting.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (log.Text().empty() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::yield();
  }
  EXPECT_EQ(log.Text(), "FlushCommand: waiting...\r\n");
  EXPECT_FALSE(blDone);
  EXPECT_EQ(CommandBufferContents()[4], Key('E'));
  lock.Unlock();
  flusher.join();
  EXPECT_EQ(log.Text(), "FlushCommand: waiting...\r\nFlushCommand: flusing\r\n");
  EXPECT_EQ(CommandBufferContents(), (CommandKeys{0, 0, 0, 0, 0}));
  EXPECT_TRUE(lock.Lock(0));  // released again
  lock.Unlock();
}

}  // namespace
}  // namespace orb

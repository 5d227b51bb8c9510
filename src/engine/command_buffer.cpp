#include "engine/command_buffer.h"

#include "base/write_log.h"
#include "platform/keys/key_sink.h"
#include "platform/keys/virtual_keys.h"
#include "platform/time/clock.h"
#include "platform/time/sync.h"

namespace orb {

std::atomic<KeyStroke> CommandBuffer[kKeysPerCommand] = {};
std::atomic<bool> g_blRepeatCommand{false};

namespace {

constexpr std::uint8_t VK_SHIFT = 0x10;
constexpr std::uint8_t VK_CONTROL = 0x11;
constexpr std::uint8_t VK_MENU = 0x12;

// The modifiers' scan codes, each computed once per process on first use. Both worker
// threads may compute one at the same time; they store the same value.
struct CachedScanCode {
  std::atomic<bool> blComputed{false};
  std::atomic<std::uint8_t> nScanCode{0};

  std::uint8_t Get(std::uint8_t nVk) {
    if (!blComputed.load(std::memory_order_acquire)) {
      nScanCode.store(platform::MapVirtualKeyToScanCode(nVk), std::memory_order_relaxed);
      blComputed.store(true, std::memory_order_release);
    }
    return nScanCode.load(std::memory_order_relaxed);
  }
};

CachedScanCode g_scanAlt;
CachedScanCode g_scanCtrl;
CachedScanCode g_scanShift;

bool IsModifierKey(std::uint16_t nVk) { return nVk == VK_SHIFT || nVk == VK_CONTROL || nVk == VK_MENU; }

}  // namespace

void FlushCommand(platform::Mutex& lock) {
  WriteLog("FlushCommand: waiting...\r\n");
  lock.Lock();
  WriteLog("FlushCommand: flusing\r\n");
  ClearCommandBuffer();
  lock.Unlock();
}

void PostCommand(const KeyOutput& output) {
  for (const std::atomic<KeyStroke>& slot : CommandBuffer) {
    const KeyStroke keyStroke = slot.load(std::memory_order_relaxed);
    if (KeyStrokeVirtualKey(keyStroke) == 0) {
      return;
    }
    PostKey(keyStroke, output);
  }
}

void PostKey(KeyStroke keyStroke, const KeyOutput& output) {
  platform::KeySink& sink = *output.pSink;
  const std::uint8_t nScanAlt = g_scanAlt.Get(VK_MENU);
  const std::uint8_t nScanCtrl = g_scanCtrl.Get(VK_CONTROL);
  const std::uint8_t nScanShift = g_scanShift.Get(VK_SHIFT);

  if ((keyStroke & KS_ALT) != 0) {
    sink.KeyEvent(VK_MENU, nScanAlt, false);
  }
  if ((keyStroke & KS_CTRL) != 0) {
    sink.KeyEvent(VK_CONTROL, nScanCtrl, false);
  }
  if ((keyStroke & KS_SHIFT) != 0) {
    sink.KeyEvent(VK_SHIFT, nScanShift, false);
  }

  // Only the low byte of the stored 16-bit key is ever sent; the modifier test looks at
  // the whole value.
  const std::uint16_t nVk = KeyStrokeVirtualKey(keyStroke);
  const auto nKey = static_cast<std::uint8_t>(nVk & 0xFF);
  const std::uint8_t nScanCode = platform::MapVirtualKeyToScanCode(nVk);
  if (!IsModifierKey(nVk)) {
    sink.KeyEvent(nKey, nScanCode, false);
  }
  output.pClock->Sleep(kKeyHoldMs);
  if (!IsModifierKey(nVk)) {
    sink.KeyEvent(nKey, nScanCode, true);
  }

  if ((keyStroke & KS_SHIFT) != 0) {
    sink.KeyEvent(VK_SHIFT, nScanShift, true);
  }
  if ((keyStroke & KS_CTRL) != 0) {
    sink.KeyEvent(VK_CONTROL, nScanCtrl, true);
  }
  if ((keyStroke & KS_ALT) != 0) {
    sink.KeyEvent(VK_MENU, nScanAlt, true);
  }

  const unsigned nPause = KeyStrokePause(keyStroke);
  if (nPause != 0) {
    output.pClock->Sleep(nPause * 100u);
  }
}

void CopyToCommandBuffer(const CommandKeys& keys) {
  for (int i = 0; i < kKeysPerCommand; ++i) {
    CommandBuffer[i].store(keys[static_cast<std::size_t>(i)], std::memory_order_relaxed);
  }
}

void ClearCommandBuffer() {
  for (std::atomic<KeyStroke>& slot : CommandBuffer) {
    slot.store(0, std::memory_order_relaxed);
  }
}

bool CommandBufferEmpty() { return KeyStrokeVirtualKey(CommandBuffer[0].load(std::memory_order_relaxed)) == 0; }

CommandKeys CommandBufferContents() {
  CommandKeys keys{};
  for (int i = 0; i < kKeysPerCommand; ++i) {
    keys[static_cast<std::size_t>(i)] = CommandBuffer[i].load(std::memory_order_relaxed);
  }
  return keys;
}

}  // namespace orb

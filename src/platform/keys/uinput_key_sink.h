#pragma once
// The uinput sink with what it writes to put below it: the real one writes through
// libevdev to the kernel's device, a test's records.

#include <memory>

#include "platform/keys/key_sink.h"
#include "platform/keys/uinput_layout.h"

namespace orb::platform {

class UinputEventWriter {
 public:
  virtual ~UinputEventWriter() = default;
  // One input event; 0, or a negative errno as libevdev reports it.
  virtual int Write(unsigned nType, unsigned nCode, int nValue) = 0;
};

std::unique_ptr<KeySink> CreateUinputKeySink(std::unique_ptr<UinputEventWriter> pWriter, const UinputLayout& layout);

}  // namespace orb::platform

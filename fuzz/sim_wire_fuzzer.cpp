// Bytes from the simulator's peer, and hex text from files and command lines.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "base/hex_text.h"
#include "platform/hid/sim_wire.h"

using namespace orb;
using namespace orb::platform;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pData, std::size_t nSize) {
  SimMessage message;
  if (DecodeSimMessage(pData, nSize, &message)) {
    SimDevice device;
    DecodeSimDevice(message.pPayload, message.nPayload, &device);
  }
  SimDevice device;
  DecodeSimDevice(pData, nSize, &device);
  std::vector<std::uint8_t> bytes;
  std::string sWhy;
  ParseHexText(std::string_view(reinterpret_cast<const char*>(pData), nSize), &bytes, &sWhy);
  return 0;
}

// Bytes from the simulator's peer, and hex text from files and command lines.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "base/hex_text.h"
#include "platform/hid/sim_wire.h"

using namespace orb;
using namespace orb::platform;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pData, std::size_t nSize) {
  SimMessage message;
  if (DecodeSimMessage(pData, nSize, &message)) {
    // Whatever is taken, of any type (the watching ones too), is exactly what encoding
    // that type and payload gives: nothing is read past the message or left out of it.
    std::vector<std::uint8_t> again;
    if (!EncodeSimMessage(message.type, message.pPayload, message.nPayload, &again) || again.size() != nSize ||
        std::memcmp(again.data(), pData, nSize) != 0) {
      std::abort();
    }
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

#include "platform/hid/sim_wire.h"

#include <algorithm>

namespace orb::platform {

bool DecodeSimMessage(const std::uint8_t* pBytes, std::size_t nSize, SimMessage* pMessage) {
  if (nSize < kSimHeaderBytes) return false;
  const std::uint8_t nType = pBytes[0];
  if (nType < static_cast<std::uint8_t>(SimMessageType::Enumerate) ||
      nType > static_cast<std::uint8_t>(kSimLastMessageType)) {
    return false;
  }
  const std::size_t nLength = pBytes[1] | (std::size_t{pBytes[2]} << 8);
  if (nLength > kSimMaxPayload || nLength != nSize - kSimHeaderBytes) return false;
  pMessage->type = static_cast<SimMessageType>(nType);
  pMessage->pPayload = pBytes + kSimHeaderBytes;
  pMessage->nPayload = nLength;
  return true;
}

bool EncodeSimMessage(SimMessageType type, const std::uint8_t* pPayload, std::size_t nPayload,
                      std::vector<std::uint8_t>* pOut) {
  if (nPayload > kSimMaxPayload) return false;
  pOut->push_back(static_cast<std::uint8_t>(type));
  pOut->push_back(static_cast<std::uint8_t>(nPayload & 0xFF));
  pOut->push_back(static_cast<std::uint8_t>(nPayload >> 8));
  if (nPayload != 0) pOut->insert(pOut->end(), pPayload, pPayload + nPayload);
  return true;
}

namespace {

void Put16(std::vector<std::uint8_t>* pOut, std::uint16_t n) {
  pOut->push_back(static_cast<std::uint8_t>(n & 0xFF));
  pOut->push_back(static_cast<std::uint8_t>(n >> 8));
}

std::uint16_t Get16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }

}  // namespace

void EncodeSimDevice(const SimDevice& device, std::vector<std::uint8_t>* pOut) {
  Put16(pOut, device.info.nVendorId);
  Put16(pOut, device.info.nProductId);
  Put16(pOut, device.info.nVersion);
  const std::size_t nName = std::min<std::size_t>(device.info.sName.size(), 255);
  pOut->push_back(static_cast<std::uint8_t>(nName));
  pOut->insert(pOut->end(), device.info.sName.begin(), device.info.sName.begin() + static_cast<std::ptrdiff_t>(nName));
  const std::size_t nDesc = std::min<std::size_t>(device.descriptor.size(), 0xFFFF);
  Put16(pOut, static_cast<std::uint16_t>(nDesc));
  pOut->insert(pOut->end(), device.descriptor.begin(), device.descriptor.begin() + static_cast<std::ptrdiff_t>(nDesc));
}

bool DecodeSimDevice(const std::uint8_t* p, std::size_t n, SimDevice* pDevice) {
  if (n < 7) return false;
  pDevice->info.nVendorId = Get16(p);
  pDevice->info.nProductId = Get16(p + 2);
  pDevice->info.nVersion = Get16(p + 4);
  const std::size_t nName = p[6];
  if (n < 7 + nName + 2) return false;
  pDevice->info.sName.assign(reinterpret_cast<const char*>(p + 7), nName);
  const std::size_t nDesc = Get16(p + 7 + nName);
  if (n != 7 + nName + 2 + nDesc) return false;
  const std::uint8_t* pDesc = p + 7 + nName + 2;
  pDevice->descriptor.assign(pDesc, pDesc + nDesc);
  return true;
}

}  // namespace orb::platform

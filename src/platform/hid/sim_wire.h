#pragma once
// The little protocol between the simulated controller process (`orbctl hid simulate`) and
// the backend that uses it. It runs over a Unix SOCK_SEQPACKET socket, so one send is one
// message; each message is still length-prefixed so that a receiver checks it whole:
//
//   type (1 byte) | payload length (2 bytes, little-endian) | payload
//
// Client to server: Enumerate (no payload), Open (no payload), Feature (the report),
// Watch (no payload; the connection then only hears of plugging).
// Server to client: DeviceList (0 or 1 device), Opened (the device), Refused (none),
// Report (one input report as hidraw would give it), Gone (none; the server then closes),
// Plugged and Unplugged (no payload): to a watching connection, first the state at the
// time it asked, then each change.
// Types 1 to 8 are as they always were; a server older than Watch drops such a request
// and closes the connection, which the client takes for "no monitor".
// A device is: vendor, product, version (2 bytes each, little-endian), name length (1 byte),
// name, descriptor length (2 bytes), descriptor.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/hid/hid_backend.h"

namespace orb::platform {

enum class SimMessageType : std::uint8_t {
  Enumerate = 1,
  DeviceList = 2,
  Open = 3,
  Opened = 4,
  Refused = 5,
  Report = 6,
  Feature = 7,
  Gone = 8,
  Watch = 9,
  Plugged = 10,
  Unplugged = 11,
};
inline constexpr SimMessageType kSimLastMessageType = SimMessageType::Unplugged;

inline constexpr std::size_t kSimHeaderBytes = 3;
inline constexpr std::size_t kSimMaxPayload = 20000;  // a whole descriptor or report fits
inline constexpr std::size_t kSimMaxMessage = kSimHeaderBytes + kSimMaxPayload;

struct SimMessage {
  SimMessageType type;
  const std::uint8_t* pPayload;  // points into the received bytes
  std::size_t nPayload;
};

// Checks a received message: a known type and a length that matches what arrived.
bool DecodeSimMessage(const std::uint8_t* pBytes, std::size_t nSize, SimMessage* pMessage);
// Appends a message; false (nothing appended) when the payload is too long.
bool EncodeSimMessage(SimMessageType type, const std::uint8_t* pPayload, std::size_t nPayload,
                      std::vector<std::uint8_t>* pOut);

struct SimDevice {
  HidDeviceInfo info;  // sPath is not carried
  std::vector<std::uint8_t> descriptor;
};
void EncodeSimDevice(const SimDevice& device, std::vector<std::uint8_t>* pOut);
bool DecodeSimDevice(const std::uint8_t* pPayload, std::size_t nPayload, SimDevice* pDevice);

}  // namespace orb::platform

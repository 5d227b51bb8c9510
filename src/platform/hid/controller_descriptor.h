#pragma once
// The controller's report descriptor (resources/hid/controller_descriptor.hex, compiled
// in): input report 1 the fourteen buttons, input report 2 the wheel, feature report 3 the
// mode bits, output report 4 built but never sent. The simulated controller presents it.

#include <cstddef>
#include <cstdint>

namespace orb::platform {

extern const std::uint8_t kControllerDescriptor[];
extern const std::size_t kControllerDescriptorSize;

inline constexpr std::uint16_t kControllerVendorId = 0x056D;
inline constexpr std::uint16_t kControllerProductId = 0x0007;

}  // namespace orb::platform

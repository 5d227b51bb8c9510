#pragma once
// The controller's fourteen buttons: each has a control code (601 + k owns profile entry k)
// and a HID button usage.

#include <cstdint>

namespace orb {

using ControlCode = int;

// The code of a button usage; 0 for usage 0, 15 and anything above (no control).
ControlCode ControlCodeForUsage(std::uint32_t nUsage);

// The picture caption of a control code ("PGM", "DECK", ...), or null for another code.
const char* ControlCaption(ControlCode nCode);

}  // namespace orb

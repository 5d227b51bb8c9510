#pragma once
// What one input report reduces to: one button down, or a wheel movement.

#include <cstdint>

namespace orb {

struct ControlEvent {
  std::uint8_t nKind;   // first byte of the report: 1 buttons, 2 wheel
  std::int16_t nValue;  // kind 1: the usage of the one button down; else the wheel's value
};

inline constexpr std::uint8_t kReportButtons = 1;
inline constexpr std::uint8_t kReportWheel = 2;

}  // namespace orb

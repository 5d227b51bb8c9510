#pragma once
// The wheel's speed test: a double-click on the wheel in the picture starts counting the
// controller's wheel movement, the next one stops and, after more than two seconds,
// tells the counts per second and whether that beat the best since the program started.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace orb {

class CWheelScore final {
 public:
  using ClockMs = std::function<std::uint64_t()>;

  // The clock of the argument-less Toggle(); the platform's monotonic milliseconds unless
  // a test gives its own.
  explicit CWheelScore(ClockMs clock = {});

  // Starts or stops the measurement. Stopping gives the text to show when there is one:
  // some movement counted and more than 2.0 seconds gone.
  std::optional<std::string> Toggle(std::uint64_t nNowMs);
  std::optional<std::string> Toggle();

  // One wheel report's signed movement; counted only while running. Turning back undoes
  // counts: the score is the distance covered, taken as a magnitude at the end.
  void AddMovement(int nCounts);

  bool Running() const { return m_blRunning; }
  double HighestRate() const { return m_rHighest; }

 private:
  ClockMs m_clock;
  bool m_blRunning = false;
  std::int64_t m_nCount = 0;
  std::uint64_t m_nStartMs = 0;
  double m_rHighest = 0.0;
};

}  // namespace orb

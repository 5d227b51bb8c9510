#include "ui/wheel_score.h"

#include <cstdio>
#include <utility>

#include "platform/time/clock.h"

namespace orb {
namespace {

constexpr double kMinSeconds = 2.0;

}  // namespace

CWheelScore::CWheelScore(ClockMs clock) : m_clock(std::move(clock)) {
  if (!m_clock) {
    m_clock = [] { return platform::RealClock().NowMs(); };
  }
}

std::optional<std::string> CWheelScore::Toggle() { return Toggle(m_clock()); }

std::optional<std::string> CWheelScore::Toggle(std::uint64_t nNowMs) {
  if (!m_blRunning) {
    m_blRunning = true;
    m_nCount = 0;
    m_nStartMs = nNowMs;
    return std::nullopt;
  }
  m_blRunning = false;
  if (m_nCount == 0) {
    return std::nullopt;
  }
  if (m_nCount < 0) {
    m_nCount = -m_nCount;
  }
  const double rSeconds = nNowMs > m_nStartMs ? static_cast<double>(nNowMs - m_nStartMs) / 1000.0 : 0.0;
  if (!(rSeconds > kMinSeconds)) {
    return std::nullopt;
  }
  const double rRate = static_cast<double>(m_nCount) / rSeconds;
  char szText[160];
  if (rRate > m_rHighest) {
    m_rHighest = rRate;
    std::snprintf(szText, sizeof szText, "Highest Score!! %10.3f counts / sec", rRate);
  } else {
    std::snprintf(szText, sizeof szText, "Score : %10.3f counts / sec\r\n(Highest : %10.3f counts / sec )", rRate,
                  m_rHighest);
  }
  return std::string(szText);
}

void CWheelScore::AddMovement(int nCounts) {
  if (m_blRunning) {
    m_nCount += nCounts;
  }
}

}  // namespace orb

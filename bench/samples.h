#pragma once
// Per-iteration figures kept beside Google Benchmark's mean: the targets are about the
// typical case and the worst one, which a mean hides.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <vector>

namespace orb::bench {

class Samples final {
 public:
  void Add(double dValue) { m_values.push_back(dValue); }
  bool Empty() const { return m_values.empty(); }

  double Median() const {
    if (m_values.empty()) return 0;
    std::vector<double> sorted = m_values;
    std::sort(sorted.begin(), sorted.end());
    const std::size_t nMiddle = sorted.size() / 2;
    return sorted.size() % 2 != 0 ? sorted[nMiddle] : (sorted[nMiddle - 1] + sorted[nMiddle]) / 2;
  }
  double Max() const { return m_values.empty() ? 0 : *std::max_element(m_values.begin(), m_values.end()); }

 private:
  std::vector<double> m_values;
};

// Iteration times in microseconds, as the counters "median_us" and "max_us".
inline void ReportMicroseconds(benchmark::State& state, const Samples& samples) {
  if (!samples.Empty()) {
    state.counters["median_us"] = samples.Median();
    state.counters["max_us"] = samples.Max();
  }
}

}  // namespace orb::bench

// Timing helper shared by the benchmarks that time one small call many times.
#pragma once

#include <algorithm>
#include <chrono>
#include <functional>
#include <vector>

namespace qvbench {

// Median over rounds of the mean time per call, in microseconds.
inline double MicrosPerOp(int calls, const std::function<void(int)>& op) {
  std::vector<double> rounds;
  for (int r = 0; r < 5; ++r) {
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < calls; ++i) op(i);
    const std::chrono::duration<double, std::micro> spent =
        std::chrono::steady_clock::now() - start;
    rounds.push_back(spent.count() / calls);
  }
  std::sort(rounds.begin(), rounds.end());
  return rounds[rounds.size() / 2];
}

}  // namespace qvbench

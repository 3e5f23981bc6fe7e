// Time of each chapter-table tool on a 10,000-row table (rows count from the first argument),
// over the in-memory table. Each tool runs on the table the previous step left.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "shell/memory_ports.h"
#include "tool_steps.h"

int main(int argc, char** argv) {
  const int rows = argc > 1 ? std::max(2, std::atoi(argv[1])) : 10000;
  // Median of five runs per step.
  std::vector<std::vector<qvbench::Step>> runs;
  for (int r = 0; r < 5; ++r) {
    qv::MemoryTable table;
    qv::MemoryControls controls;
    runs.push_back(qvbench::RunToolSteps(table, controls, rows, [&] {
      controls.SetInputHandler([](const qv::Text&, const qv::Text&, const qv::Text&,
                                  qv::Text& entered) {
        entered.assign(1, '1');
        return true;
      });
    }));
  }
  std::vector<qvbench::Step> median = runs[0];
  for (size_t s = 0; s < median.size(); ++s) {
    std::vector<double> ms;
    for (const auto& run : runs) ms.push_back(run[s].ms);
    std::sort(ms.begin(), ms.end());
    median[s].ms = ms[ms.size() / 2];
  }
  std::printf("%d rows, median of %zu runs\n", rows, runs.size());
  qvbench::PrintSteps("memory", median);
  return 0;
}

// Submits 100,000 empty tasks to the pool and compares the cost per task with std::async run
// side by side: one thread per task, and one thread per core splitting the calls among them.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <future>
#include <thread>
#include <vector>

#include "concurrency/thread_pool.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kTasks = 100000;
constexpr int kRepeats = 5;

__attribute__((noinline)) void EmptyTask(int32_t, int32_t) { asm volatile(""); }
qv::TaskRoutine volatile task = &EmptyTask;  // called through a pointer everywhere

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

struct Result {
  double submitSeconds = 0;  // handing the tasks over
  double totalSeconds = 0;   // until every task has run
};

Result RunPool(std::optional<int32_t> workers) {
  qv::ThreadPool pool;
  if (!pool.Start(workers, workers)) {
    std::fprintf(stderr, "pool did not start\n");
    return {};
  }
  const auto start = Clock::now();
  for (int i = 0; i < kTasks; ++i) {
    if (!pool.Submit(task, i)) std::fprintf(stderr, "submit failed\n");
  }
  const auto submitted = Clock::now();
  while (!pool.IsIdle()) std::this_thread::yield();
  const auto done = Clock::now();
  pool.Stop();
  return {Seconds(submitted - start), Seconds(done - start)};
}

// One std::async thread per task, at most `batch` at a time.
Result RunAsyncPerTask(int batch) {
  std::vector<std::future<void>> running;
  running.reserve(batch);
  const auto start = Clock::now();
  for (int i = 0; i < kTasks; i += batch) {
    for (int j = i; j < std::min(kTasks, i + batch); ++j) {
      running.push_back(std::async(std::launch::async, [j] { task(j, 0); }));
    }
    for (auto& f : running) f.get();
    running.clear();
  }
  const auto done = Clock::now();
  return {Seconds(done - start), Seconds(done - start)};
}

// One std::async thread per core, each calling its share of the tasks directly.
Result RunAsyncPerCore(int cores) {
  std::vector<std::future<void>> running;
  const auto start = Clock::now();
  for (int c = 0; c < cores; ++c) {
    running.push_back(std::async(std::launch::async, [c, cores] {
      for (int i = c; i < kTasks; i += cores) task(i, 0);
    }));
  }
  for (auto& f : running) f.get();
  const auto done = Clock::now();
  return {Seconds(done - start), Seconds(done - start)};
}

template <typename Run>
Result Median(Run run) {
  std::vector<Result> results;
  for (int i = 0; i < kRepeats; ++i) results.push_back(run());
  std::sort(results.begin(), results.end(),
            [](const Result& a, const Result& b) { return a.totalSeconds < b.totalSeconds; });
  return results[kRepeats / 2];
}

}  // namespace

int main() {
  const int cores = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  std::printf("%d empty tasks, %d cores, median of %d runs\n\n", kTasks, cores, kRepeats);

  struct Row {
    const char* name;
    Result result;
  };
  const Row rows[] = {
      {"ThreadPool, defaults (grows 5 to 20)", Median([] { return RunPool(std::nullopt); })},
      {"ThreadPool, one worker per core", Median([cores] { return RunPool(cores); })},
      {"std::async, one thread per task", Median([cores] { return RunAsyncPerTask(4 * cores); })},
      {"std::async, one thread per core", Median([cores] { return RunAsyncPerCore(cores); })},
  };
  const double floorSeconds = rows[3].result.totalSeconds;

  std::printf("%-36s %12s %12s %14s %14s\n", "", "tasks/s", "ns/task", "submit ns/task",
              "overhead ns");
  for (const Row& row : rows) {
    const double total = row.result.totalSeconds;
    std::printf("%-36s %12.0f %12.1f %14.1f %14.1f\n", row.name, kTasks / total,
                total * 1e9 / kTasks, row.result.submitSeconds * 1e9 / kTasks,
                (total - floorSeconds) * 1e9 / kTasks);
  }
  std::printf("\noverhead: time per task beyond the per-core direct calls\n");
  std::printf("pool (defaults) vs thread per task: %.1fx faster\n",
              rows[2].result.totalSeconds / rows[0].result.totalSeconds);
  return 0;
}

#include "concurrency/thread_pool.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <pthread.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

namespace qv {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// What the tasks did. Blocking tasks wait until the board is opened.
struct Board {
  std::mutex mutex;
  std::condition_variable changed;
  bool open = false;
  int started = 0;
  int finished = 0;
  int running = 0;
  int maxRunning = 0;
  std::vector<std::pair<int32_t, int32_t>> calls;
  std::size_t stackSize = 0;

  void Reset() {
    std::lock_guard<std::mutex> lock(mutex);
    open = false;
    started = finished = running = maxRunning = 0;
    calls.clear();
    stackSize = 0;
  }
  void Open() {
    {
      std::lock_guard<std::mutex> lock(mutex);
      open = true;
    }
    changed.notify_all();
  }
  int Started() {
    std::lock_guard<std::mutex> lock(mutex);
    return started;
  }
  int Finished() {
    std::lock_guard<std::mutex> lock(mutex);
    return finished;
  }
  bool WaitStarted(int n) {
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, 10s, [&] { return started >= n; });
  }
  bool WaitFinished(int n) {
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, 10s, [&] { return finished >= n; });
  }
};

Board board;

void BlockingTask(int32_t value1, int32_t value2) {
  std::unique_lock<std::mutex> lock(board.mutex);
  ++board.started;
  board.maxRunning = std::max(board.maxRunning, ++board.running);
  board.calls.emplace_back(value1, value2);
  board.changed.notify_all();
  board.changed.wait(lock, [] { return board.open; });
  --board.running;
  ++board.finished;
  board.changed.notify_all();
}

void QuickTask(int32_t value1, int32_t value2) {
  {
    std::lock_guard<std::mutex> lock(board.mutex);
    ++board.started;
    ++board.finished;
    board.calls.emplace_back(value1, value2);
  }
  board.changed.notify_all();
}

std::size_t OwnStackSize() {
  pthread_attr_t attributes;
  if (pthread_getattr_np(pthread_self(), &attributes) != 0) return 0;
  std::size_t size = 0;
  pthread_attr_getstacksize(&attributes, &size);
  pthread_attr_destroy(&attributes);
  return size;
}

void StackProbeTask(int32_t, int32_t) {
  const std::size_t size = OwnStackSize();
  std::lock_guard<std::mutex> lock(board.mutex);
  board.stackSize = size;
  ++board.finished;
  board.changed.notify_all();
}

template <typename Condition>
bool WaitUntil(Condition condition, std::chrono::milliseconds limit = 10s) {
  const auto deadline = Clock::now() + limit;
  while (!condition()) {
    if (Clock::now() > deadline) return condition();
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

// Threads of this process, from /proc.
int ProcessThreadCount() {
  DIR* dir = opendir("/proc/self/task");
  if (dir == nullptr) return -1;
  int count = 0;
  while (const dirent* entry = readdir(dir)) {
    if (entry->d_name[0] != '.') ++count;
  }
  closedir(dir);
  return count;
}

void ExpectStoppedAndEmpty(const ThreadPool& pool) {
  EXPECT_EQ(pool.CurrentState(), ThreadPool::kStopped);
  EXPECT_FALSE(pool.IsRunning());
  EXPECT_TRUE(pool.IsIdle());
  EXPECT_EQ(pool.ThreadCount(), 0);
  EXPECT_EQ(pool.BusyCount(), 0);
  EXPECT_EQ(pool.QueuedCount(), 0);
  EXPECT_EQ(pool.IdleThreadCount(), 0);
}

class ThreadPoolTest : public ::testing::Test {
 protected:
  void SetUp() override { board.Reset(); }
  void TearDown() override {
    // Leave no task of this test running into the next one.
    board.Open();
    pool.Stop(ThreadPool::kDropAndWait);
    EXPECT_TRUE(WaitUntil([&] { return pool.CurrentState() == ThreadPool::kStopped; }));
  }

  ThreadPool pool;
};

TEST_F(ThreadPoolTest, StartWithEverythingOmittedGivesTheDefaults) {
  ASSERT_TRUE(pool.Start());
  EXPECT_EQ(pool.ThreadCount(), 5);
  EXPECT_EQ(pool.IdleThreadCount(), 5);
  EXPECT_EQ(pool.MaxThreads(), 20);
  EXPECT_EQ(pool.IdleTimeoutMs(), 10000);
  EXPECT_EQ(pool.StackSize(), 0);
  EXPECT_TRUE(pool.IsIdle());
  EXPECT_TRUE(pool.IsRunning());
  EXPECT_EQ(pool.CurrentState(), ThreadPool::kRunning);

  // A second start changes nothing.
  EXPECT_FALSE(pool.Start());
  EXPECT_FALSE(pool.Start(8, 30));
  EXPECT_EQ(pool.ThreadCount(), 5);
  EXPECT_EQ(pool.MaxThreads(), 20);
}

TEST_F(ThreadPoolTest, StartArgumentsAreBoundedAndOmittedDiffersFromZero) {
  struct Case {
    std::optional<int32_t> initial, max, idle, stack;
    int32_t threads, maxThreads, idleMs, stackSize;
  };
  const std::optional<int32_t> omitted;
  const Case cases[] = {
      {0, omitted, omitted, omitted, 1, 20, 10000, 0},
      {8, 3, 50, 5000, 8, 8, 100, 8192},
      {omitted, 3, omitted, 0, 5, 5, 10000, 0},
      {2, 6, 300, 12288, 2, 6, 300, 12288},
      {-4, 0, 0, 12289, 1, 1, 100, 12288},
      {1, 1, -7, -1, 1, 1, 100, 8192},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << "initial " << c.initial.value_or(-99) << " max " << c.max.value_or(-99));
    // Every case restarts the same pool: a stopped pool starts again with a fresh queue.
    ASSERT_TRUE(pool.Start(c.initial, c.max, c.idle, {}, c.stack));
    EXPECT_EQ(pool.ThreadCount(), c.threads);
    EXPECT_EQ(pool.MaxThreads(), c.maxThreads);
    EXPECT_EQ(pool.IdleTimeoutMs(), c.idleMs);
    EXPECT_EQ(pool.StackSize(), c.stackSize);
    ASSERT_TRUE(pool.Submit(&QuickTask, 1));
    ASSERT_TRUE(pool.Stop(ThreadPool::kFinishAndWait));
    ExpectStoppedAndEmpty(pool);
  }
  EXPECT_EQ(board.Finished(), static_cast<int>(std::size(cases)));
}

TEST_F(ThreadPoolTest, StartPumpsAfterEveryWorkerAttempt) {
  int pumps = 0;
  ASSERT_TRUE(pool.Start(3, {}, {}, [&] { ++pumps; }));
  EXPECT_GE(pumps, 3);
}

TEST_F(ThreadPoolTest, StoppedPoolRefusesEverything) {
  ExpectStoppedAndEmpty(pool);
  EXPECT_EQ(pool.MaxThreads(), 0);
  EXPECT_FALSE(pool.Submit(&QuickTask, 1, 2));
  EXPECT_FALSE(pool.SubmitRoutineAddress(reinterpret_cast<std::uintptr_t>(&QuickTask)));
  EXPECT_EQ(pool.QueuedCount(), 0);
  EXPECT_FALSE(pool.Pause());
  EXPECT_FALSE(pool.Resume());
  EXPECT_FALSE(pool.WaitUnpaused(0));
  EXPECT_FALSE(pool.WaitUnpaused());
  EXPECT_FALSE(pool.WaitTaskDone());
  EXPECT_FALSE(pool.WaitTaskDone({}, [] {}));
  EXPECT_TRUE(pool.Stop());
  EXPECT_TRUE(pool.Stop(ThreadPool::kFinishNoWait));

  // After a run, the setters leave the stopped pool's settings alone.
  ASSERT_TRUE(pool.Start(2, 4, 500, {}, 16384));
  ASSERT_TRUE(pool.Stop());
  pool.SetMaxThreads(9);
  pool.SetIdleTimeout(5000);
  pool.SetStackSize(65536);
  EXPECT_EQ(pool.MaxThreads(), 4);
  EXPECT_EQ(pool.IdleTimeoutMs(), 500);
  EXPECT_EQ(pool.StackSize(), 16384);
  EXPECT_FALSE(pool.Submit(&QuickTask));
  EXPECT_EQ(pool.QueuedCount(), 0);
  EXPECT_EQ(board.Started(), 0);
}

TEST_F(ThreadPoolTest, SubmitRefusesNullAndTheExitValue) {
  ASSERT_TRUE(pool.Start(2, 2));
  EXPECT_FALSE(pool.Submit(nullptr, 1, 2));
  EXPECT_FALSE(pool.SubmitRoutineAddress(0));
  EXPECT_FALSE(pool.SubmitRoutineAddress(ThreadPool::kEndWorkerMark, 1, 1));
  EXPECT_EQ(pool.QueuedCount(), 0);
  EXPECT_TRUE(pool.IsIdle());
  EXPECT_EQ(pool.ThreadCount(), 2);  // no worker was told to end
}

TEST_F(ThreadPoolTest, TasksRunInSubmissionOrderWithTheirValues) {
  ASSERT_TRUE(pool.Start(1, 1));
  std::vector<std::pair<int32_t, int32_t>> expected;
  for (int32_t i = 0; i < 50; ++i) {
    ASSERT_TRUE(pool.Submit(&QuickTask, i, -i));
    expected.emplace_back(i, -i);
  }
  ASSERT_TRUE(pool.Submit(&QuickTask));
  expected.emplace_back(0, 0);
  ASSERT_TRUE(pool.Submit(&QuickTask, 9));
  expected.emplace_back(9, 0);
  ASSERT_TRUE(pool.Submit(&QuickTask, {}, 8));
  expected.emplace_back(0, 8);
  ASSERT_TRUE(
      pool.SubmitRoutineAddress(reinterpret_cast<std::uintptr_t>(&QuickTask), INT32_MIN, -1));
  expected.emplace_back(INT32_MIN, -1);

  ASSERT_TRUE(board.WaitFinished(static_cast<int>(expected.size())));
  ASSERT_TRUE(WaitUntil([&] { return pool.IsIdle(); }));
  std::lock_guard<std::mutex> lock(board.mutex);
  EXPECT_EQ(board.calls, expected);
}

// Idle must never be reported while a submitted task has not returned.
std::atomic<int> returned{0};
void CountingTask(int32_t, int32_t) { returned.fetch_add(1); }

TEST_F(ThreadPoolTest, IsIdleIsExact) {
  returned = 0;
  ASSERT_TRUE(pool.Start(4, 4));
  int submitted = 0;
  for (int round = 0; round < 300; ++round) {
    for (int i = 0; i < 1 + round % 7; ++i) {
      ASSERT_TRUE(pool.Submit(&CountingTask));
      ++submitted;
    }
    EXPECT_FALSE(pool.IsIdle() && returned.load() < submitted);
    while (!pool.IsIdle()) std::this_thread::yield();
    ASSERT_EQ(returned.load(), submitted) << "round " << round;
  }
}

TEST_F(ThreadPoolTest, ManagerGrowsToTheMaximumAndAddedWorkersEndWhenIdle) {
  constexpr int32_t kIdleMs = 150;
  ASSERT_TRUE(pool.Start({}, {}, kIdleMs));
  ASSERT_EQ(pool.ThreadCount(), 5);
  for (int i = 0; i < 30; ++i) ASSERT_TRUE(pool.Submit(&BlockingTask, i));

  ASSERT_TRUE(board.WaitStarted(20));
  ASSERT_TRUE(WaitUntil([&] { return pool.ThreadCount() == 20; }));
  EXPECT_EQ(pool.BusyCount(), 20);
  EXPECT_EQ(pool.QueuedCount(), 10);
  EXPECT_EQ(pool.IdleThreadCount(), 0);
  EXPECT_FALSE(pool.IsIdle());

  const auto opened = Clock::now();
  board.Open();
  ASSERT_TRUE(board.WaitFinished(30));
  ASSERT_TRUE(WaitUntil([&] { return pool.ThreadCount() == 5; }));
  // Every added worker finished a task no earlier than the opening, then waited out its time-out.
  EXPECT_GE(Clock::now() - opened, std::chrono::milliseconds(kIdleMs));
  EXPECT_TRUE(pool.IsIdle());
  {
    std::lock_guard<std::mutex> lock(board.mutex);
    EXPECT_EQ(board.maxRunning, 20);
  }
  // The initial workers wait without time-out and stay.
  std::this_thread::sleep_for(std::chrono::milliseconds(2 * kIdleMs));
  EXPECT_EQ(pool.ThreadCount(), 5);
  EXPECT_EQ(pool.MaxThreads(), 20);
}

TEST_F(ThreadPoolTest, SetMaxThreadsLetsTheManagerGrowAtOnce) {
  ASSERT_TRUE(pool.Start(1, 1));
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(pool.Submit(&BlockingTask, i));
  ASSERT_TRUE(board.WaitStarted(1));
  EXPECT_EQ(pool.ThreadCount(), 1);
  pool.SetMaxThreads(3);
  ASSERT_TRUE(board.WaitStarted(3));
  EXPECT_EQ(pool.ThreadCount(), 3);
  EXPECT_EQ(pool.BusyCount(), 3);
}

TEST_F(ThreadPoolTest, PauseHoldsTasksAndResumeRunsThem) {
  ASSERT_TRUE(pool.Start(2, 5));
  ASSERT_TRUE(pool.Submit(&BlockingTask, 1));
  ASSERT_TRUE(pool.Submit(&BlockingTask, 2));
  ASSERT_TRUE(board.WaitStarted(2));

  ASSERT_TRUE(pool.Pause());
  for (int32_t i = 3; i <= 5; ++i) ASSERT_TRUE(pool.Submit(&BlockingTask, i));
  board.Open();  // the running tasks finish
  ASSERT_TRUE(board.WaitFinished(2));
  ASSERT_TRUE(WaitUntil([&] { return pool.BusyCount() == 0; }));
  EXPECT_FALSE(pool.WaitUnpaused(20));

  // Nothing new starts and no worker is added while paused, however long it lasts.
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(board.Started(), 2);
  EXPECT_EQ(pool.QueuedCount(), 3);  // held ones included
  EXPECT_EQ(pool.ThreadCount(), 2);
  EXPECT_FALSE(pool.IsIdle());

  ASSERT_TRUE(pool.Resume());
  EXPECT_TRUE(pool.WaitUnpaused());
  ASSERT_TRUE(board.WaitFinished(5));
  ASSERT_TRUE(WaitUntil([&] { return pool.IsIdle(); }));
  EXPECT_EQ(pool.QueuedCount(), 0);
}

struct StopCase {
  int32_t mode;
  bool waits;
  bool runsQueued;
};

TEST_F(ThreadPoolTest, StopModesUnderLoad) {
  const StopCase cases[] = {
      {0, true, false}, {1, true, true},  {2, false, false},
      {3, false, true}, {7, true, false}, {-1, true, false},
  };
  for (const StopCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "mode " << c.mode);
    board.Reset();
    ASSERT_TRUE(pool.Start(5, 5));
    for (int i = 0; i < 105; ++i) ASSERT_TRUE(pool.Submit(&BlockingTask, i));
    ASSERT_TRUE(board.WaitStarted(5));
    EXPECT_EQ(pool.BusyCount(), 5);
    EXPECT_EQ(pool.QueuedCount(), 100);

    if (c.waits) {
      // The running tasks may end only once stopping has begun: the stop's pump lets them go.
      int pumps = 0;
      EXPECT_TRUE(pool.Stop(c.mode, {}, [&] {
        if (pumps++ == 0) board.Open();
      }));
      EXPECT_GE(pumps, 1);
      ExpectStoppedAndEmpty(pool);
    } else {
      EXPECT_TRUE(pool.Stop(c.mode));
      EXPECT_EQ(pool.CurrentState(), ThreadPool::kStopping);
      EXPECT_FALSE(pool.IsRunning());
      EXPECT_FALSE(pool.IsIdle());
      EXPECT_EQ(pool.QueuedCount(), 100);
      EXPECT_FALSE(pool.Submit(&QuickTask));
      EXPECT_FALSE(pool.Start());
      EXPECT_FALSE(pool.Stop());  // already stopping
      board.Open();
      ASSERT_TRUE(WaitUntil([&] { return pool.CurrentState() == ThreadPool::kStopped; }));
      ExpectStoppedAndEmpty(pool);
    }
    const int expected = c.runsQueued ? 105 : 5;
    EXPECT_EQ(board.Finished(), expected);
    EXPECT_EQ(board.Started(), expected);
  }
}

TEST_F(ThreadPoolTest, StopTimeOutReturnsFalseAndStoppingGoesOn) {
  ASSERT_TRUE(pool.Start(1, 1));
  ASSERT_TRUE(pool.Submit(&BlockingTask));
  ASSERT_TRUE(board.WaitStarted(1));
  const auto before = Clock::now();
  EXPECT_FALSE(pool.Stop(ThreadPool::kDropAndWait, 200));
  EXPECT_GE(Clock::now() - before, 200ms);
  EXPECT_EQ(pool.CurrentState(), ThreadPool::kStopping);
  EXPECT_FALSE(pool.Start());
  board.Open();
  ASSERT_TRUE(WaitUntil([&] { return pool.CurrentState() == ThreadPool::kStopped; }));
  ExpectStoppedAndEmpty(pool);
  EXPECT_EQ(board.Finished(), 1);
}

TEST_F(ThreadPoolTest, StopOnAPausedPoolDropsOrRunsTheHeldTasks) {
  const StopCase cases[] = {{0, true, false}, {1, true, true}, {2, false, false}, {3, false, true}};
  for (const StopCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "mode " << c.mode);
    board.Reset();
    ASSERT_TRUE(pool.Start(2, 2));
    ASSERT_TRUE(pool.Pause());
    for (int i = 0; i < 4; ++i) ASSERT_TRUE(pool.Submit(&QuickTask, i));
    EXPECT_EQ(pool.QueuedCount(), 4);
    EXPECT_TRUE(pool.Stop(c.mode));
    ASSERT_TRUE(WaitUntil([&] { return pool.CurrentState() == ThreadPool::kStopped; }));
    ExpectStoppedAndEmpty(pool);
    EXPECT_EQ(board.Finished(), c.runsQueued ? 4 : 0);
  }
}

TEST_F(ThreadPoolTest, SettersRoundTheirValues) {
  ASSERT_TRUE(pool.Start(1, 1));
  struct Case {
    void (ThreadPool::*set)(int32_t);
    int32_t (ThreadPool::*get)() const;
    int32_t given, stored;
  };
  const Case cases[] = {
      {&ThreadPool::SetIdleTimeout, &ThreadPool::IdleTimeoutMs, 50, 100},
      {&ThreadPool::SetIdleTimeout, &ThreadPool::IdleTimeoutMs, -1, 100},
      {&ThreadPool::SetIdleTimeout, &ThreadPool::IdleTimeoutMs, 300, 300},
      {&ThreadPool::SetMaxThreads, &ThreadPool::MaxThreads, 0, 1},
      {&ThreadPool::SetMaxThreads, &ThreadPool::MaxThreads, -3, 1},
      {&ThreadPool::SetMaxThreads, &ThreadPool::MaxThreads, 7, 7},
      {&ThreadPool::SetStackSize, &ThreadPool::StackSize, 100, 8192},
      {&ThreadPool::SetStackSize, &ThreadPool::StackSize, 20000, 16384},
      {&ThreadPool::SetStackSize, &ThreadPool::StackSize, 0, 0},
      {&ThreadPool::SetStackSize, &ThreadPool::StackSize, 8192, 8192},
      {&ThreadPool::SetStackSize, &ThreadPool::StackSize, 24575, 16384},
      {&ThreadPool::SetStackSize, &ThreadPool::StackSize, 12288, 8192},
      {&ThreadPool::SetStackSize, &ThreadPool::StackSize, -5, 8192},
  };
  for (const Case& c : cases) {
    (pool.*c.set)(c.given);
    EXPECT_EQ((pool.*c.get)(), c.stored) << "given " << c.given;
  }
}

TEST_F(ThreadPoolTest, WorkersGetTheChosenStackSize) {
  ASSERT_TRUE(pool.Start(1, 1, {}, {}, 1 << 20));
  ASSERT_TRUE(pool.Submit(&StackProbeTask));
  ASSERT_TRUE(board.WaitFinished(1));
  {
    std::lock_guard<std::mutex> lock(board.mutex);
    EXPECT_GE(board.stackSize, std::size_t{1} << 20);
    EXPECT_LT(board.stackSize, std::size_t{2} << 20);
  }
  ASSERT_TRUE(pool.Stop());

  // A size below the system's minimum thread stack still gives working threads.
  board.Reset();
  ASSERT_TRUE(pool.Start(1, 1, {}, {}, 5000));
  EXPECT_EQ(pool.StackSize(), 8192);
  ASSERT_TRUE(pool.Submit(&StackProbeTask));
  ASSERT_TRUE(board.WaitFinished(1));
  std::lock_guard<std::mutex> lock(board.mutex);
  EXPECT_GE(board.stackSize, std::size_t{PTHREAD_STACK_MIN});
}

TEST_F(ThreadPoolTest, WaitTaskDoneReportsAFinishedTask) {
  ASSERT_TRUE(pool.Start(1, 1));
  EXPECT_FALSE(pool.WaitTaskDone(20));
  int pumps = 0;
  EXPECT_FALSE(pool.WaitTaskDone(30, [&] { ++pumps; }));
  EXPECT_GE(pumps, 1);

  ASSERT_TRUE(pool.Submit(&QuickTask));
  EXPECT_TRUE(pool.WaitTaskDone());
  ASSERT_TRUE(pool.Submit(&BlockingTask));
  ASSERT_TRUE(board.WaitStarted(2));
  // The pump lets the task finish; the wait then sees it.
  pumps = 0;
  EXPECT_TRUE(pool.WaitTaskDone({}, [&] {
    if (pumps++ == 2) board.Open();
  }));
  EXPECT_GE(pumps, 3);
}

TEST_F(ThreadPoolTest, DestroyWhileTasksStillRun) {
  const int baseline = ProcessThreadCount();
  ASSERT_GT(baseline, 0);
  auto doomed = std::make_unique<ThreadPool>();
  ASSERT_TRUE(doomed->Start(2, 2));
  for (int i = 0; i < 2; ++i) ASSERT_TRUE(doomed->Submit(&BlockingTask, i));
  for (int i = 0; i < 10; ++i) ASSERT_TRUE(doomed->Submit(&QuickTask, 100 + i));
  ASSERT_TRUE(board.WaitStarted(2));
  doomed->Destroy();
  doomed->Destroy();  // again, and once more by the destructor
  doomed.reset();

  board.Open();
  ASSERT_TRUE(board.WaitFinished(2));
  // The workers end on their own, and nothing of theirs is left behind.
  EXPECT_TRUE(WaitUntil([&] { return ProcessThreadCount() <= baseline; }));
  EXPECT_EQ(board.Started(), 2);  // the queued tasks were dropped
}

}  // namespace
}  // namespace qv

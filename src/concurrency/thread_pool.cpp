#include "concurrency/thread_pool.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <new>

#include "concurrency/sync_primitives.h"

namespace qv {

// Ownership: the pool object holds the Core, the Core holds the Run of the latest start, and every
// worker and the manager hold both. No thread ever reaches the pool object itself, so the pool
// can be destroyed while its threads still finish; the last holder frees Core and Run.
//
// Each start makes a new Run (queue, events, counters) with its own generation number, and the
// state word carries that number beside the state. A thread left over from an earlier start (a
// manager that ended late, a worker that registered after the run had been cleaned up) therefore
// only ever touches its own, closed Run, and cannot change the state of a later start.
struct ThreadPool::Run {
  explicit Run(uint32_t gen) : generation(gen) {}

  // Closes the queue and the events; tasks still queued vanish with the queue.
  void CloseAll() {
    port.Close();
    taskDoneEvent.Close();
    pauseGate.Close();
    startedEvent.Close();
    wakeEvent.Set();
    wakeEvent.Close();
  }

  const uint32_t generation;
  PacketQueue port;
  AutoResetEvent wakeEvent{false};
  AutoResetEvent startedEvent{false};
  AutoResetEvent taskDoneEvent{false};
  ManualResetEvent pauseGate{true};
  std::atomic<int32_t> accepting{0};
  std::atomic<int32_t> threadCount{0};
  std::atomic<int32_t> busyCount{0};
  std::atomic<int32_t> queuedCount{0};
  // Written by Start, read and cleared by Stop; the state changes order those accesses.
  std::shared_ptr<NativeThread> managerThread;
};

namespace {

using Clock = std::chrono::steady_clock;
constexpr int32_t kDefaultInitialThreads = 5;
constexpr int32_t kDefaultMaxThreads = 20;
constexpr int32_t kDefaultIdleTimeoutMs = 10000;
constexpr int32_t kMinIdleTimeoutMs = 100;
constexpr int32_t kMinStackSize = 8192;
constexpr std::size_t kManagerStackSize = 8192;
constexpr int64_t kSliceMs = 20;
constexpr int kFailuresInARow = 5;

uint64_t Word(uint32_t generation, ThreadPool::State state) {
  return (uint64_t{generation} << 32) | static_cast<uint32_t>(state);
}
ThreadPool::State StateOf(uint64_t word) {
  return static_cast<ThreadPool::State>(static_cast<uint32_t>(word));
}
uint32_t GenerationOf(uint64_t word) { return static_cast<uint32_t>(word >> 32); }

int64_t ElapsedMs(Clock::time_point since) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count();
}

int64_t TimeoutOrForever(const std::optional<int32_t>& timeoutMs) {
  return timeoutMs && *timeoutMs >= 0 ? int64_t{*timeoutMs} : kWaitForever;
}

void Pump(const PumpCallback& pump) {
  if (pump) pump();
}

// More tasks waiting or running than workers, and room to add one.
bool ShouldGrow(const std::atomic<int32_t>& maxThreads, const std::atomic<int32_t>& threadCount,
                const std::atomic<int32_t>& busyCount, const std::atomic<int32_t>& queuedCount) {
  const int32_t threads = threadCount.load();
  return threads < maxThreads.load(std::memory_order_relaxed) &&
         int64_t{busyCount.load()} + queuedCount.load() > threads;
}

}  // namespace

struct ThreadPool::Core {
  // The Run of the current generation while it is Running (null otherwise).
  std::shared_ptr<Run> RunningRun() const {
    const uint64_t word = stateWord.load();
    if (StateOf(word) != kRunning) return nullptr;
    std::shared_ptr<Run> run = current.load();
    if (!run || run->generation != GenerationOf(word)) return nullptr;
    return run;
  }

  bool StateIs(uint32_t generation, State state) const {
    return stateWord.load() == Word(generation, state);
  }

  // The last worker of a run sets Stopped, unless a later start has taken over.
  void SetStopped(uint32_t generation) {
    uint64_t word = stateWord.load();
    while (GenerationOf(word) == generation &&
           !stateWord.compare_exchange_weak(word, Word(generation, kStopped))) {
    }
  }

  std::atomic<uint64_t> stateWord{Word(0, kStopped)};
  std::atomic<std::shared_ptr<Run>> current;
  std::atomic<int32_t> maxThreads{0};
  std::atomic<int32_t> idleTimeoutMs{0};
  std::atomic<int32_t> stackSize{0};
};

// argument 0: an initial worker (waits for packets without limit); 1: added by the manager
// (each wait lasts at most the idle time-out).
bool ThreadPool::LaunchWorker(const std::shared_ptr<Core>& core, const std::shared_ptr<Run>& run,
                              int argument) {
  const auto stack = static_cast<std::size_t>(core->stackSize.load(std::memory_order_relaxed));
  return NativeThread::Launch(stack, [core, run, argument] { WorkerLoop(*core, *run, argument); });
}

void ThreadPool::WorkerLoop(Core& core, Run& run, int argument) {
  run.threadCount.fetch_add(1);
  run.startedEvent.Set();
  auto waitLimit = [&] {
    return argument == 1 ? int64_t{core.idleTimeoutMs.load(std::memory_order_relaxed)}
                         : kWaitForever;
  };
  int64_t limit = waitLimit();
  for (;;) {
    const std::optional<Packet> packet = run.port.Take(limit);
    // Every return from the queue passes the gate: with a packet, at a time-out or a failure.
    run.pauseGate.Wait(kWaitForever);
    if (run.accepting.load() != 1 || !packet || packet->routine == ThreadPool::kEndWorkerMark) {
      break;
    }
    // Busy first, so that busy + queued never drops to 0 while the task is between the two.
    run.busyCount.fetch_add(1);
    run.queuedCount.fetch_sub(1);
    reinterpret_cast<TaskRoutine>(packet->routine)(packet->value1, packet->value2);
    run.busyCount.fetch_sub(1);
    run.taskDoneEvent.Set();
    limit = waitLimit();
  }
  if (run.threadCount.fetch_sub(1) - 1 != 0) return;

  // The last worker out releases the run. threadCount is already 0 and is left to the
  // increments and decrements, so that a worker registering late cannot drive it negative.
  run.CloseAll();
  run.accepting.store(0);
  run.busyCount.store(0);
  run.queuedCount.store(0);
  core.SetStopped(run.generation);
}

void ThreadPool::ManagerLoop(const std::shared_ptr<Core>& core, const std::shared_ptr<Run>& run) {
  run->wakeEvent.Wait(kWaitForever);
  int failures = 0;
  while (core->StateIs(run->generation, ThreadPool::kRunning)) {
    // No workers are added while paused, not even on the first wake-up.
    run->pauseGate.Wait(kWaitForever);
    if (!core->StateIs(run->generation, ThreadPool::kRunning)) break;
    if (ShouldGrow(core->maxThreads, run->threadCount, run->busyCount, run->queuedCount)) {
      if (LaunchWorker(core, run, 1)) {
        failures = 0;
        run->startedEvent.Wait(int64_t{run->threadCount.load()} * 10 + 1000);
      } else if (++failures == kFailuresInARow) {
        core->maxThreads.store(run->threadCount.load(), std::memory_order_relaxed);
        failures = 0;
      }
    } else {
      run->wakeEvent.Wait(kWaitForever);
    }
  }
}

ThreadPool::ThreadPool() : core_(std::make_shared<Core>()) {}

ThreadPool::~ThreadPool() { Destroy(); }

void ThreadPool::Destroy() { Stop(kDropNoWait); }

bool ThreadPool::Start(std::optional<int32_t> initialThreads, std::optional<int32_t> maxThreads,
                       std::optional<int32_t> idleTimeoutMs, const PumpCallback& pump,
                       std::optional<int32_t> stackSize) {
  Core& core = *core_;
  uint64_t word = core.stateWord.load();
  if (StateOf(word) != kStopped) return false;
  const uint32_t generation = GenerationOf(word) + 1;
  if (!core.stateWord.compare_exchange_strong(word, Word(generation, kStarting))) return false;

  const int32_t initial = initialThreads ? std::max(*initialThreads, 1) : kDefaultInitialThreads;
  core.maxThreads.store(maxThreads ? std::max(*maxThreads, initial) : kDefaultMaxThreads,
                        std::memory_order_relaxed);
  core.idleTimeoutMs.store(
      idleTimeoutMs ? std::max(*idleTimeoutMs, kMinIdleTimeoutMs) : kDefaultIdleTimeoutMs,
      std::memory_order_relaxed);
  int32_t stack = 0;
  if (stackSize && *stackSize != 0) {
    stack = *stackSize < kMinStackSize ? kMinStackSize : *stackSize / 4096 * 4096;
  }
  core.stackSize.store(stack, std::memory_order_relaxed);

  std::shared_ptr<Run> run;
  try {
    run = std::make_shared<Run>(generation);
  } catch (const std::bad_alloc&) {
    core.stateWord.store(Word(generation, kStopped));
    return false;
  }
  core.current.store(run);

  run->managerThread =
      NativeThread::Start(kManagerStackSize, [corePtr = core_, run] { ManagerLoop(corePtr, run); });
  if (!run->managerThread) {
    run->CloseAll();
    core.stateWord.store(Word(generation, kStopped));
    return false;
  }
  run->accepting.store(1);

  int32_t created = 0;
  for (int failures = 0; created < initial && failures < kFailuresInARow;) {
    if (LaunchWorker(core_, run, 0)) {
      ++created;
      failures = 0;
    } else {
      ++failures;
    }
    Pump(pump);
  }

  if (created > 0) {
    const auto since = Clock::now();
    const int64_t limitMs = int64_t{created} * 10 + 1000;
    for (;;) {
      const bool signalled = run->startedEvent.Wait(kSliceMs);
      Pump(pump);
      if (!signalled) continue;
      if (run->threadCount.load() >= created || ElapsedMs(since) >= limitMs) break;
    }
  }

  if (run->threadCount.load() != 0) {
    core.stateWord.store(Word(generation, kRunning));
    return true;
  }

  // No worker could be made: let the manager see that the pool is not Running, then release.
  run->wakeEvent.Set();
  for (int slice = 0; slice < 11 && !run->managerThread->WaitForEnd(kSliceMs); ++slice) {
    Pump(pump);
  }
  run->managerThread.reset();
  run->CloseAll();
  run->accepting.store(0);
  core.stateWord.store(Word(generation, kStopped));
  return false;
}

bool ThreadPool::Stop(std::optional<int32_t> mode, std::optional<int32_t> timeoutMs,
                      const PumpCallback& pump) {
  Core& core = *core_;
  uint64_t word = core.stateWord.load();
  for (;;) {
    const State state = StateOf(word);
    if (state == kStopped) return true;
    if (state != kRunning) return false;
    if (core.stateWord.compare_exchange_weak(word, Word(GenerationOf(word), kStopping))) break;
  }
  const uint32_t generation = GenerationOf(word);
  const std::shared_ptr<Run> run = core.current.load();
  if (!run || run->generation != generation) return true;  // already stopped and restarted

  int32_t stopMode = mode.value_or(kDropAndWait);
  if (stopMode < kDropAndWait || stopMode > kFinishNoWait) stopMode = kDropAndWait;
  if (stopMode == kDropAndWait || stopMode == kDropNoWait) run->accepting.store(0);

  // Releases every waiter; the gate stays open for good.
  run->taskDoneEvent.Set();
  run->startedEvent.Set();
  run->wakeEvent.Set();
  run->pauseGate.Set();

  if (run->managerThread) {
    for (int slice = 0; slice < 21; ++slice) {
      if (run->managerThread->WaitForEnd(kSliceMs)) break;
      Pump(pump);
    }
    run->managerThread.reset();
  }
  Pump(pump);

  // One exit packet per worker, and one more for a worker that registers late.
  const Packet exitPacket{kEndWorkerMark, -1, -1};
  run->port.Post(exitPacket);
  const int32_t workers = run->threadCount.load();
  for (int32_t i = 1; i <= workers; ++i) {
    run->port.Post(exitPacket);
    if (i % 100 == 0) Pump(pump);
  }

  if (stopMode == kDropNoWait || stopMode == kFinishNoWait) return true;

  const auto since = Clock::now();
  while (core.StateIs(generation, kStopping)) {
    if (timeoutMs && *timeoutMs > 0 && ElapsedMs(since) > *timeoutMs) return false;
    run->wakeEvent.Wait(kSliceMs);
    Pump(pump);
  }
  return true;
}

bool ThreadPool::Pause() {
  const std::shared_ptr<Run> run = core_->RunningRun();
  return run && run->pauseGate.Reset();
}

bool ThreadPool::Resume() {
  const std::shared_ptr<Run> run = core_->RunningRun();
  return run && run->pauseGate.Set();
}

bool ThreadPool::WaitUnpaused(std::optional<int32_t> timeoutMs) {
  const std::shared_ptr<Run> run = core_->RunningRun();
  return run && run->pauseGate.Wait(TimeoutOrForever(timeoutMs));
}

bool ThreadPool::Submit(TaskRoutine routine, std::optional<int32_t> value1,
                        std::optional<int32_t> value2) {
  return SubmitRoutineAddress(reinterpret_cast<std::uintptr_t>(routine), value1, value2);
}

bool ThreadPool::SubmitRoutineAddress(std::uintptr_t routineAddress, std::optional<int32_t> value1,
                               std::optional<int32_t> value2) {
  // The exit value would end a worker and leave the task counted as queued for good.
  if (routineAddress == 0 || routineAddress == kEndWorkerMark) return false;
  const std::shared_ptr<Run> run = core_->RunningRun();
  if (!run) return false;
  run->queuedCount.fetch_add(1);
  const bool posted =
      run->port.Post(Packet{routineAddress, value1.value_or(0), value2.value_or(0)});
  if (!posted) run->queuedCount.fetch_sub(1);
  if (ShouldGrow(core_->maxThreads, run->threadCount, run->busyCount, run->queuedCount)) {
    run->wakeEvent.Set();
  }
  return posted;
}

bool ThreadPool::WaitTaskDone(std::optional<int32_t> timeoutMs, const PumpCallback& pump) {
  const std::shared_ptr<Run> run = core_->RunningRun();
  if (!run) return false;
  const int64_t limit = TimeoutOrForever(timeoutMs);
  if (!pump) return run->taskDoneEvent.Wait(limit);
  const auto since = Clock::now();
  for (;;) {
    Pump(pump);
    if (run->taskDoneEvent.Wait(kSliceMs)) return true;
    if (limit >= 0 && ElapsedMs(since) > limit) return false;
  }
}

int32_t ThreadPool::IdleThreadCount() const {
  const std::shared_ptr<Run> run = core_->current.load();
  return run ? run->threadCount.load() - run->busyCount.load() : 0;
}

int32_t ThreadPool::BusyCount() const {
  const std::shared_ptr<Run> run = core_->current.load();
  return run ? run->busyCount.load() : 0;
}

int32_t ThreadPool::QueuedCount() const {
  const std::shared_ptr<Run> run = core_->current.load();
  return run ? run->queuedCount.load() : 0;
}

int32_t ThreadPool::ThreadCount() const {
  const std::shared_ptr<Run> run = core_->current.load();
  return run ? run->threadCount.load() : 0;
}

int32_t ThreadPool::MaxThreads() const { return core_->maxThreads.load(std::memory_order_relaxed); }

bool ThreadPool::IsIdle() const {
  const std::shared_ptr<Run> run = core_->current.load();
  // Queued first: a task leaves queuedCount only after it already counts in busyCount.
  return !run || (run->queuedCount.load() == 0 && run->busyCount.load() == 0);
}

bool ThreadPool::IsRunning() const { return StateOf(core_->stateWord.load()) == kRunning; }

void ThreadPool::SetMaxThreads(int32_t n) {
  const std::shared_ptr<Run> run = core_->RunningRun();
  if (!run) return;
  core_->maxThreads.store(std::max(n, 1), std::memory_order_relaxed);
  if (ShouldGrow(core_->maxThreads, run->threadCount, run->busyCount, run->queuedCount)) {
    run->wakeEvent.Set();
  }
}

void ThreadPool::SetIdleTimeout(int32_t ms) {
  if (!core_->RunningRun()) return;
  core_->idleTimeoutMs.store(std::max(ms, kMinIdleTimeoutMs), std::memory_order_relaxed);
}

void ThreadPool::SetStackSize(int32_t bytes) {
  if (!core_->RunningRun()) return;
  const int32_t stack = bytes == 0              ? 0
                        : bytes < kMinStackSize ? kMinStackSize
                                                : bytes / 8192 * 8192;
  core_->stackSize.store(stack, std::memory_order_relaxed);
}

int32_t ThreadPool::IdleTimeoutMs() const {
  return core_->idleTimeoutMs.load(std::memory_order_relaxed);
}

int32_t ThreadPool::StackSize() const { return core_->stackSize.load(std::memory_order_relaxed); }

ThreadPool::State ThreadPool::CurrentState() const { return StateOf(core_->stateWord.load()); }

}  // namespace qv

// A pool of worker threads fed from one first-in-first-out task queue. It starts with a number of
// workers; a manager thread adds workers up to a maximum while more tasks are waiting or running
// than there are workers, and those added workers end again after an idle time-out. The pool can
// be paused and resumed, and stopped dropping or still running the queued tasks, with or without
// waiting for the workers to end.
//
// Optional arguments: an omitted argument ({} / std::nullopt) is not the same as 0; the defaults
// apply only to omitted ones. A "pump" argument is called repeatedly while the call waits (meant
// for the window thread, to process its pending messages); an empty one is never called.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace qv {

// A task: called as routine(value1, value2) on a worker thread.
using TaskRoutine = void (*)(int32_t value1, int32_t value2);
using PumpCallback = std::function<void()>;

class ThreadPool {
 public:
  enum State : int32_t { kStopped = 0, kRunning = 1, kStarting = 2, kStopping = 3 };
  // Stop modes; any other value counts as kDropAndWait.
  enum StopMode : int32_t {
    kDropAndWait = 0,    // queued tasks dropped; returns after the last worker has ended
    kFinishAndWait = 1,  // queued tasks still run; returns after the last worker has ended
    kDropNoWait = 2,     // queued tasks dropped; returns at once
    kFinishNoWait = 3,   // queued tasks still run; returns at once
  };
  // The routine value of the packet that tells a worker to end. It is never called, and
  // SubmitRoutineAddress refuses it.
  static constexpr std::uintptr_t kEndWorkerMark = static_cast<std::uintptr_t>(intptr_t{-2});

  ThreadPool();   // Stopped
  ~ThreadPool();  // Destroy()
  ThreadPool(const ThreadPool&) = delete;
  ThreadPool& operator=(const ThreadPool&) = delete;

  // Stops the pool without waiting (kDropNoWait). Workers still busy finish on their own; they
  // keep what they use alive, so the pool object may be freed right after this returns.
  void Destroy();

  // Defaults: 5 initial workers (given: at least 1), at most 20 (given: at least the initial
  // count), idle time-out 10000 ms (given: at least 100), stack size 0 = platform default (given:
  // 0 stays 0, below 8192 becomes 8192, else rounded down to a multiple of 4096).
  // True when the pool is Running because of this call; false (changing nothing) unless Stopped.
  bool Start(std::optional<int32_t> initialThreads = {}, std::optional<int32_t> maxThreads = {},
             std::optional<int32_t> idleTimeoutMs = {}, const PumpCallback& pump = {},
             std::optional<int32_t> stackSize = {});

  // mode: see StopMode (omitted = 0); timeoutMs: omitted, 0 or negative = no limit.
  // True when stopped (or already Stopped), or when a no-wait mode was started; false when the
  // pool was Starting or Stopping, or when the time-out expired (stopping then goes on alone).
  bool Stop(std::optional<int32_t> mode = {}, std::optional<int32_t> timeoutMs = {},
            const PumpCallback& pump = {});

  // Workers take no new task into execution while paused; running tasks continue. Each worker
  // holds at most the one task it took (still counted as queued). False unless Running.
  bool Pause();
  bool Resume();
  // True when Running and not paused, or unpaused within the time (omitted = no limit).
  bool WaitUnpaused(std::optional<int32_t> timeoutMs = {});

  // Queues routine(value1, value2) (omitted values are 0). False when not Running, for a null
  // routine, or when the task could not be queued.
  bool Submit(TaskRoutine routine, std::optional<int32_t> value1 = {},
              std::optional<int32_t> value2 = {});
  // As Submit, with the routine given as its address value (0 and kEndWorkerMark are refused).
  bool SubmitRoutineAddress(std::uintptr_t routineAddress, std::optional<int32_t> value1 = {},
                            std::optional<int32_t> value2 = {});

  // True when some task finished within the time (omitted = no limit). False unless Running.
  bool WaitTaskDone(std::optional<int32_t> timeoutMs = {}, const PumpCallback& pump = {});

  int32_t IdleThreadCount() const;  // ThreadCount() - BusyCount()
  int32_t BusyCount() const;        // tasks running now
  int32_t QueuedCount() const;      // submitted, not yet started (including held at the pause)
  int32_t ThreadCount() const;      // live workers
  int32_t MaxThreads() const;       // 0 before the first start
  // True when nothing is queued or running, in any state. Exact: a task counts as queued from
  // before it is posted until it already counts as running, and as running until it returned.
  bool IsIdle() const;
  bool IsRunning() const;

  // These act only while Running. n at least 1 (wakes the manager when it may grow now).
  void SetMaxThreads(int32_t n);
  // At least 100 ms; applies from each added worker's next wait on.
  void SetIdleTimeout(int32_t ms);
  // 0 stays 0, below 8192 becomes 8192, else rounded down to a multiple of 8192; applies to
  // workers created afterwards.
  void SetStackSize(int32_t bytes);

  // Read-only views of the settings and the state.
  int32_t IdleTimeoutMs() const;
  int32_t StackSize() const;
  State CurrentState() const;

 private:
  struct Core;
  struct Run;

  // The thread bodies are static: they reach the pool's state only through the shared pointers
  // they hold, never through the pool object.
  static bool LaunchWorker(const std::shared_ptr<Core>& core, const std::shared_ptr<Run>& run,
                           int argument);
  static void WorkerLoop(Core& core, Run& run, int argument);
  static void ManagerLoop(const std::shared_ptr<Core>& core, const std::shared_ptr<Run>& run);

  std::shared_ptr<Core> core_;
};

}  // namespace qv

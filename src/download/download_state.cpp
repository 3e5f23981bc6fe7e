#include "download/download_state.h"

#include <memory>

namespace qv {
namespace {

struct ProcessObjects {
  std::unique_ptr<ThreadPool> pool;
  std::unique_ptr<AtomicCounter> failedCount;
  std::unique_ptr<SectionLock> countLock;
};

ProcessObjects& Objects() {
  static ProcessObjects objects;
  return objects;
}

}  // namespace

DownloadState& TheDownloadState() {
  static DownloadState state;
  return state;
}

void CreateProcessObjects() {
  ProcessObjects& o = Objects();
  if (o.pool) return;
  o.pool = std::make_unique<ThreadPool>();
  o.failedCount = std::make_unique<AtomicCounter>();
  o.countLock = std::make_unique<SectionLock>();
  DownloadState& s = TheDownloadState();
  s.failedCount = o.failedCount.get();
  s.countLock = o.countLock.get();
}

void ExitCleanup() {
  ProcessObjects& o = Objects();
  DownloadState& s = TheDownloadState();
  o.pool.reset();  // ~ThreadPool stops it without waiting
  s.failedCount = nullptr;
  o.failedCount.reset();
  s.countLock = nullptr;
  o.countLock.reset();
}

bool ProcessObjectsExist() { return Objects().pool != nullptr; }

ThreadPool& DownloadPool() { return *Objects().pool; }

void StopPoolOnClose(Controls& controls) {
  // A capture loop waiting on the window thread ends before its next row.
  TheDownloadState().stopRequested = 1;
  TheDownloadState().pauseRequested = 0;
  if (!ProcessObjectsExist()) return;
  ThreadPool& pool = DownloadPool();
  if (pool.IsRunning()) pool.Stop(ThreadPool::kDropNoWait);
  while (!pool.IsIdle()) controls.Wait(1, WaitUnit::kSeconds);
}

}  // namespace qv

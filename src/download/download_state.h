// The download engine's process-wide state: the flags and counters of a download run, and the
// objects that live from start-up to the end of the process (the download thread pool, the
// failure counter and the count lock). The page capture reads the rendered page text from its
// PageBrowser, so no document is kept here.
#pragma once

#include <cstdint>

#include "shell/ports.h"
#include "concurrency/atomic_counter.h"
#include "concurrency/section_lock.h"
#include "concurrency/thread_pool.h"

namespace qv {

struct DownloadState {
  // Window thread only: written by the pause and stop buttons and by the capture loop, read by
  // the capture loop before each row and by StartDownload after its work.
  int32_t pauseRequested = 0;
  int32_t stopRequested = 0;
  // Chapters saved in this run; changed only while countLock is held.
  int32_t savedCount = 0;
  // Chapters given up in this run (process object, atomic).
  AtomicCounter* failedCount = nullptr;
  // The one lock: around a task's row selection and around the saved count and its progress
  // text (process object).
  SectionLock* countLock = nullptr;
  // Window thread only: 0 before each navigation, 1 once the browser reports the page loaded.
  int32_t documentReady = 0;
};

// The process-wide download state. Its object pointers are set by CreateProcessObjects.
DownloadState& TheDownloadState();

// Creates the thread pool (Stopped), the failure counter (0) and the count lock, in that order.
// Called once at start-up before any window exists; a second call while they exist does
// nothing, and a call after ExitCleanup creates them anew.
void CreateProcessObjects();

// Releases them in the same order: the pool is destroyed (stopped without waiting; queued
// tasks dropped), then the counter, then the lock. Nothing may hold the lock by then.
void ExitCleanup();

// True between CreateProcessObjects and ExitCleanup.
bool ProcessObjectsExist();

// The download thread pool (CreateProcessObjects must have run).
ThreadPool& DownloadPool();

// The first step when the main window is about to be destroyed: when the pool runs, stop it
// dropping the queued chapters and wait, one second at a time while the window keeps
// processing its messages, until the running ones have finished. A page capture under way is
// asked to stop as well.
void StopPoolOnClose(Controls& controls);

}  // namespace qv

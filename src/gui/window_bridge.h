// Runs work on the window thread for any thread.
//
// Worker threads read and write the windows' controls; every such operation is carried out by
// the window thread while the calling thread waits. On the window thread itself the work runs
// directly. The bridge is open while the main window lives: once it closes, calls from other
// threads return at once with their fallback result and never reach a widget, and threads
// still waiting are released, so shutdown never deadlocks.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <utility>

namespace qv {

// True on the thread that runs the application's event loop (false without an application).
bool IsWindowThread();

// Opens the bridge (window thread; the main window does it when it is created).
void OpenWindowBridge();
// Closes it (window thread): queued work that has not started is dropped and its callers are
// released; later calls from other threads do nothing.
void CloseWindowBridge();
bool WindowBridgeIsOpen();

// Runs `work` on the window thread and waits for it. Directly when already there; from another
// thread it is queued to the window thread and the caller waits. False when it did not run
// (bridge closed, or closed before the work started).
bool RunOnWindowThread(const std::function<void()>& work);

// The same for work with a result: `fallback` when the work did not run.
template <class F, class R>
R OnWindowThread(F&& work, R fallback) {
  std::optional<R> out;
  RunOnWindowThread([&] { out.emplace(work()); });
  return out ? std::move(*out) : std::move(fallback);
}

// An answer that the window thread delivers later to a thread that waits for it (a notice
// raised from a worker). Closing the bridge releases the waiter with no answer.
class PendingAnswer {
 public:
  static std::shared_ptr<PendingAnswer> Create();
  virtual ~PendingAnswer() = default;
  // First delivery wins; later ones are ignored.
  virtual void Deliver(int answer) = 0;
  // Blocks until delivered or the bridge closes (then empty).
  virtual std::optional<int> Wait() = 0;
};

}  // namespace qv

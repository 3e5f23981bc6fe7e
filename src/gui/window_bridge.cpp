#include "gui/window_bridge.h"

#include <QCoreApplication>
#include <QObject>
#include <QPointer>
#include <QThread>
#include <condition_variable>
#include <mutex>
#include <set>

namespace qv {
namespace {

// One thread waiting for the window thread: queued work, or an answer to come.
struct Waiter {
  enum State { kWaiting, kRunning, kDone, kReleased };
  std::mutex m;
  std::condition_variable cv;
  State state = kWaiting;
  const std::function<void()>* work = nullptr;  // the caller's, valid while it waits
  int answer = 0;

  void Finish(State s) {
    {
      std::lock_guard lock(m);
      state = s;
    }
    cv.notify_all();
  }
  // Blocks until the work has run or the waiter was released; true when it ran / was answered.
  bool Await() {
    std::unique_lock lock(m);
    cv.wait(lock, [&] { return state == kDone || state == kReleased; });
    return state == kDone;
  }
};

struct Bridge {
  std::mutex mu;
  bool open = false;
  QObject* anchor = nullptr;  // window thread; deleted with the application
  std::set<std::shared_ptr<Waiter>> waiting;
};

// Never destroyed: threads may still ask it during static destruction.
Bridge& TheBridge() {
  static Bridge* bridge = new Bridge;
  return *bridge;
}

void Forget(const std::shared_ptr<Waiter>& w) {
  Bridge& b = TheBridge();
  std::lock_guard lock(b.mu);
  b.waiting.erase(w);
}

// Releases every waiter that has not started, under b.mu.
void ReleaseWaitingLocked(Bridge& b) {
  for (const auto& w : b.waiting) {
    std::lock_guard lock(w->m);
    if (w->state == Waiter::kWaiting) {
      w->state = Waiter::kReleased;
      w->cv.notify_all();
    }
  }
  b.waiting.clear();
}

void RunQueued(const std::shared_ptr<Waiter>& w) {
  {
    std::lock_guard lock(w->m);
    if (w->state != Waiter::kWaiting) return;
    w->state = Waiter::kRunning;
  }
  (*w->work)();
  w->Finish(Waiter::kDone);
  Forget(w);
}

class Answer : public PendingAnswer {
 public:
  explicit Answer(std::shared_ptr<Waiter> w) : w_(std::move(w)) {}
  void Deliver(int answer) override {
    {
      std::lock_guard lock(w_->m);
      if (w_->state != Waiter::kWaiting) return;
      w_->answer = answer;
      w_->state = Waiter::kDone;
    }
    w_->cv.notify_all();
    Forget(w_);
  }
  std::optional<int> Wait() override {
    if (!w_->Await()) return std::nullopt;
    std::lock_guard lock(w_->m);
    return w_->answer;
  }

 private:
  std::shared_ptr<Waiter> w_;
};

}  // namespace

bool IsWindowThread() {
  QCoreApplication* app = QCoreApplication::instance();
  return app != nullptr && QThread::currentThread() == app->thread();
}

void OpenWindowBridge() {
  QCoreApplication* app = QCoreApplication::instance();
  if (app == nullptr || !IsWindowThread()) return;
  Bridge& b = TheBridge();
  std::lock_guard lock(b.mu);
  if (b.anchor == nullptr) {
    b.anchor = new QObject(app);
    // The application going away closes the bridge too.
    QObject::connect(b.anchor, &QObject::destroyed, [] {
      Bridge& br = TheBridge();
      std::lock_guard l(br.mu);
      br.open = false;
      br.anchor = nullptr;
      ReleaseWaitingLocked(br);
    });
  }
  b.open = true;
}

void CloseWindowBridge() {
  Bridge& b = TheBridge();
  std::lock_guard lock(b.mu);
  b.open = false;
  ReleaseWaitingLocked(b);
}

bool WindowBridgeIsOpen() {
  Bridge& b = TheBridge();
  std::lock_guard lock(b.mu);
  return b.open;
}

bool RunOnWindowThread(const std::function<void()>& work) {
  if (IsWindowThread()) {
    work();
    return true;
  }
  auto w = std::make_shared<Waiter>();
  w->work = &work;
  {
    Bridge& b = TheBridge();
    std::lock_guard lock(b.mu);
    if (!b.open || b.anchor == nullptr) return false;
    b.waiting.insert(w);
    // Posting only queues the call; the wait below is released by CloseWindowBridge, which a
    // blocking queued connection could not be.
    QMetaObject::invokeMethod(
        b.anchor, [w] { RunQueued(w); }, Qt::QueuedConnection);
  }
  return w->Await();
}

std::shared_ptr<PendingAnswer> PendingAnswer::Create() {
  auto w = std::make_shared<Waiter>();
  Bridge& b = TheBridge();
  std::lock_guard lock(b.mu);
  if (b.open) {
    b.waiting.insert(w);
  } else {
    w->state = Waiter::kReleased;
  }
  return std::make_shared<Answer>(std::move(w));
}

}  // namespace qv

#include "concurrency/sync_primitives.h"

#include <pthread.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <new>
#include <utility>

namespace qv {

namespace {

// Waits on cv until ready() holds or the time is up; returns ready().
template <typename Ready>
bool WaitFor(std::condition_variable& cv, std::unique_lock<std::mutex>& lock, int64_t timeoutMs,
             Ready ready) {
  if (timeoutMs < 0) {
    cv.wait(lock, ready);
    return true;
  }
  return cv.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready);
}

// Owns a pthread attribute object.
class ThreadAttributes {
 public:
  ThreadAttributes() { ok_ = pthread_attr_init(&attr_) == 0; }
  ~ThreadAttributes() {
    if (ok_) pthread_attr_destroy(&attr_);
  }
  ThreadAttributes(const ThreadAttributes&) = delete;
  ThreadAttributes& operator=(const ThreadAttributes&) = delete;
  bool ok() const { return ok_; }
  pthread_attr_t* get() { return &attr_; }

 private:
  pthread_attr_t attr_;
  bool ok_ = false;
};

struct StartRecord {
  std::function<void()> body;
  std::shared_ptr<NativeThread> handle;
};

}  // namespace

bool PacketQueue::Post(const Packet& packet) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (closed_) return false;
    try {
      packets_.push_back(packet);
    } catch (const std::bad_alloc&) {
      return false;
    }
  }
  ready_.notify_one();
  return true;
}

std::optional<Packet> PacketQueue::Take(int64_t timeoutMs) {
  std::unique_lock<std::mutex> lock(mutex_);
  WaitFor(ready_, lock, timeoutMs, [this] { return closed_ || !packets_.empty(); });
  if (closed_ || packets_.empty()) return std::nullopt;
  Packet packet = packets_.front();
  packets_.pop_front();
  return packet;
}

void PacketQueue::Close() {
  std::deque<Packet> dropped;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
    dropped.swap(packets_);
  }
  ready_.notify_all();
}

std::size_t PacketQueue::Size() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return packets_.size();
}

bool AutoResetEvent::Set() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (closed_) return false;
    signalled_ = true;
  }
  changed_.notify_one();
  return true;
}

bool AutoResetEvent::Wait(int64_t timeoutMs) {
  std::unique_lock<std::mutex> lock(mutex_);
  WaitFor(changed_, lock, timeoutMs, [this] { return closed_ || signalled_; });
  if (closed_ || !signalled_) return false;
  signalled_ = false;
  return true;
}

void AutoResetEvent::Close() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
    signalled_ = false;
  }
  changed_.notify_all();
}

bool ManualResetEvent::Set() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (closed_) return false;
    signalled_ = true;
  }
  changed_.notify_all();
  return true;
}

bool ManualResetEvent::Reset() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (closed_) return false;
  signalled_ = false;
  return true;
}

bool ManualResetEvent::Wait(int64_t timeoutMs) {
  std::unique_lock<std::mutex> lock(mutex_);
  WaitFor(changed_, lock, timeoutMs, [this] { return closed_ || signalled_; });
  return !closed_ && signalled_;
}

void ManualResetEvent::Close() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
    signalled_ = false;
  }
  changed_.notify_all();
}

std::size_t NativeThread::EffectiveStackSize(std::size_t stackSize) {
  if (stackSize == 0) return 0;
  const std::size_t minimum = PTHREAD_STACK_MIN;
  if (stackSize < minimum) stackSize = minimum;
  const long page = sysconf(_SC_PAGESIZE);
  if (page > 0) {
    const auto pageSize = static_cast<std::size_t>(page);
    stackSize = (stackSize + pageSize - 1) / pageSize * pageSize;
  }
  return stackSize;
}

void* NativeThread::Entry(void* argument) {
  std::unique_ptr<StartRecord> record(static_cast<StartRecord*>(argument));
  record->body();
  // Release what the body captured before anyone is told that the thread has finished.
  std::shared_ptr<NativeThread> handle = std::move(record->handle);
  record.reset();
  handle->finished_.Set();
  return nullptr;
}

std::shared_ptr<NativeThread> NativeThread::Start(std::size_t stackSize,
                                                  std::function<void()> body) {
  std::unique_ptr<StartRecord> record;
  try {
    record = std::make_unique<StartRecord>();
    record->body = std::move(body);
    record->handle = std::make_shared<NativeThread>();
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  std::shared_ptr<NativeThread> handle = record->handle;

  ThreadAttributes attributes;
  if (!attributes.ok()) return nullptr;
  if (pthread_attr_setdetachstate(attributes.get(), PTHREAD_CREATE_DETACHED) != 0) return nullptr;
  const std::size_t size = EffectiveStackSize(stackSize);
  if (size != 0 && pthread_attr_setstacksize(attributes.get(), size) != 0) return nullptr;

  pthread_t thread;
  if (pthread_create(&thread, attributes.get(), &NativeThread::Entry, record.get()) != 0) {
    return nullptr;
  }
  record.release();  // now owned by the new thread
  return handle;
}

bool NativeThread::Launch(std::size_t stackSize, std::function<void()> body) {
  return Start(stackSize, std::move(body)) != nullptr;
}

}  // namespace qv

// The blocking building blocks of the thread pool: a first-in-first-out queue of three-value
// packets, auto-reset and manual-reset events, and detached threads with a chosen stack size.
//
// Every object can be closed. Closing wakes everyone who waits on it; from then on waits fail at
// once and posts and signals are refused, so a thread that still holds a closed object never
// blocks on it for good.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

namespace qv {

// Time-outs are in milliseconds; any negative value waits without limit.
inline constexpr int64_t kWaitForever = -1;

// One queue entry: a routine (as an address value) and two values for it.
struct Packet {
  std::uintptr_t routine = 0;
  int32_t value1 = 0;
  int32_t value2 = 0;
};

class PacketQueue {
 public:
  PacketQueue() = default;
  PacketQueue(const PacketQueue&) = delete;
  PacketQueue& operator=(const PacketQueue&) = delete;

  // Appends a packet; false once the queue is closed.
  bool Post(const Packet& packet);
  // Takes the oldest packet, waiting at most timeoutMs; nothing at the time-out or when closed.
  std::optional<Packet> Take(int64_t timeoutMs);
  // Drops every queued packet and refuses further posts and takes.
  void Close();
  std::size_t Size() const;

 private:
  mutable std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<Packet> packets_;
  bool closed_ = false;
};

// Signalled state is consumed by the one waiter it releases.
class AutoResetEvent {
 public:
  explicit AutoResetEvent(bool signalled = false) : signalled_(signalled) {}
  AutoResetEvent(const AutoResetEvent&) = delete;
  AutoResetEvent& operator=(const AutoResetEvent&) = delete;

  bool Set();  // false when closed
  // True when the event was signalled within the time (and is now reset).
  bool Wait(int64_t timeoutMs);
  void Close();

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool signalled_;
  bool closed_ = false;
};

// Stays signalled until reset; releases every waiter while signalled.
class ManualResetEvent {
 public:
  explicit ManualResetEvent(bool signalled = false) : signalled_(signalled) {}
  ManualResetEvent(const ManualResetEvent&) = delete;
  ManualResetEvent& operator=(const ManualResetEvent&) = delete;

  bool Set();    // false when closed
  bool Reset();  // false when closed
  // True when the event is (or becomes) signalled within the time; false when closed.
  bool Wait(int64_t timeoutMs);
  void Close();

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool signalled_;
  bool closed_ = false;
};

// A detached thread. The handle only tells when the thread has finished: its body has returned
// and everything the body captured has been released.
class NativeThread {
 public:
  NativeThread() = default;
  NativeThread(const NativeThread&) = delete;
  NativeThread& operator=(const NativeThread&) = delete;

  // Starts body on a new thread with the given stack size in bytes (0: the platform default;
  // sizes below the platform minimum are raised to it). Null when the thread cannot be made.
  static std::shared_ptr<NativeThread> Start(std::size_t stackSize, std::function<void()> body);
  // As Start, for a thread nobody waits for.
  static bool Launch(std::size_t stackSize, std::function<void()> body);

  // True when the thread finished within the time.
  bool WaitForEnd(int64_t timeoutMs) { return finished_.Wait(timeoutMs); }

  // The stack size actually requested for a given size (0 stays 0).
  static std::size_t EffectiveStackSize(std::size_t stackSize);

 private:
  static void* Entry(void* record);
  ManualResetEvent finished_;
};

}  // namespace qv

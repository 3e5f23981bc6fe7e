// A 32-bit counter changed only by atomic read-modify-write operations.
#pragma once

#include <atomic>
#include <cstdint>

namespace qv {

// Arithmetic wraps in two's complement (INT32_MAX + 1 is INT32_MIN); nothing here is undefined.
class AtomicCounter {
 public:
  AtomicCounter() = default;
  ~AtomicCounter() = default;
  AtomicCounter(const AtomicCounter&) = delete;
  AtomicCounter& operator=(const AtomicCounter&) = delete;

  void Increment() { value_.fetch_add(1); }
  void Decrement() { value_.fetch_sub(1); }
  void Add(int32_t n) { value_.fetch_add(n); }
  // Adds the two's-complement negation of n (so Subtract(INT32_MIN) adds INT32_MIN).
  void Subtract(int32_t n) { value_.fetch_sub(n); }
  int32_t Get() const { return value_.load(std::memory_order_relaxed); }

  // The new value.
  int32_t IncrementAndGet() { return Wrap(static_cast<uint32_t>(value_.fetch_add(1)) + 1u); }
  int32_t DecrementAndGet() { return Wrap(static_cast<uint32_t>(value_.fetch_sub(1)) - 1u); }

  // Each returns the previous value.
  int32_t Set(int32_t n) { return value_.exchange(n); }
  int32_t ExchangeAdd(int32_t n) { return value_.fetch_add(n); }
  // Stores newValue only when the value equals expected (note the order: the new value first).
  int32_t CompareExchange(int32_t newValue, int32_t expected) {
    value_.compare_exchange_strong(expected, newValue);
    return expected;  // on failure it now holds the value found
  }

 private:
  static int32_t Wrap(uint32_t bits) { return static_cast<int32_t>(bits); }

  std::atomic<int32_t> value_{0};
};

}  // namespace qv

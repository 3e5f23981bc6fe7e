#include "web/body_limit.h"

#include <atomic>

namespace qv {
namespace {
std::atomic<size_t> gBodyLimit{kMaxBodyBytes};
std::atomic<size_t> gHeldLimit{kMaxHeldBodyBytes};
std::atomic<size_t> gHeld{0};
}  // namespace

size_t BodyLimit() { return gBodyLimit.load(std::memory_order_relaxed); }

void SetBodyLimitForTesting(size_t bytes) {
  gBodyLimit.store(bytes == 0 ? kMaxBodyBytes : bytes, std::memory_order_relaxed);
}

size_t HeldBodyBytes() { return gHeld.load(std::memory_order_relaxed); }

bool ReserveHeldBodyBytes(size_t bytes) {
  const size_t limit = gHeldLimit.load(std::memory_order_relaxed);
  size_t held = gHeld.load(std::memory_order_relaxed);
  do {
    if (bytes > limit || held > limit - bytes) return false;
  } while (!gHeld.compare_exchange_weak(held, held + bytes, std::memory_order_relaxed));
  return true;
}

void ReleaseHeldBodyBytes(size_t bytes) { gHeld.fetch_sub(bytes, std::memory_order_relaxed); }

void SetHeldBodyLimitForTesting(size_t bytes) {
  gHeldLimit.store(bytes == 0 ? kMaxHeldBodyBytes : bytes, std::memory_order_relaxed);
}

}  // namespace qv

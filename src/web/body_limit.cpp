#include "web/body_limit.h"

#include <atomic>

namespace qv {
namespace {
std::atomic<size_t> gBodyLimit{kMaxBodyBytes};
}

size_t BodyLimit() { return gBodyLimit.load(std::memory_order_relaxed); }

void SetBodyLimitForTesting(size_t bytes) {
  gBodyLimit.store(bytes == 0 ? kMaxBodyBytes : bytes, std::memory_order_relaxed);
}

}  // namespace qv

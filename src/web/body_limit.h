// The largest body the web code keeps: a received body, and an unpacked one, are cut there,
// so a hostile server or a gzip bomb cannot exhaust memory.
#pragma once

#include <cstddef>

namespace qv {

inline constexpr size_t kMaxBodyBytes = size_t{256} << 20;  // 256 MiB

// The limit in force: kMaxBodyBytes unless a test set a smaller one.
size_t BodyLimit();

// Test-only: a smaller limit (0 restores the default).
void SetBodyLimitForTesting(size_t bytes);

}  // namespace qv

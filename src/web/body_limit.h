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

// What all transfers under way may hold at once, so that many workers each receiving a large
// body cannot exhaust memory together. A transfer that would go past it is ended without a
// body (a failed transfer, to be tried again), and its bytes are given back.
inline constexpr size_t kMaxHeldBodyBytes = size_t{512} << 20;  // 512 MiB

// Bytes the transfers under way hold now.
size_t HeldBodyBytes();

// Reserves `bytes` against the shared limit; false (nothing reserved) when they do not fit.
bool ReserveHeldBodyBytes(size_t bytes);
void ReleaseHeldBodyBytes(size_t bytes);

// Test-only: a smaller shared limit (0 restores the default).
void SetHeldBodyLimitForTesting(size_t bytes);

}  // namespace qv

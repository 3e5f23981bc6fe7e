// A re-entrant mutual-exclusion lock with a non-blocking try.
#pragma once

#include <mutex>

namespace qv {

// The owning thread may enter again; every successful Enter or TryEnter needs its own Leave on
// the same thread. The lock must be free, and nobody may wait on it, when it is destroyed.
class SectionLock {
 public:
  SectionLock() = default;
  ~SectionLock() = default;
  SectionLock(const SectionLock&) = delete;
  SectionLock& operator=(const SectionLock&) = delete;

  void Enter() { mutex_.lock(); }
  void Leave() { mutex_.unlock(); }
  // Takes the lock only if that needs no waiting; true when it was taken.
  bool TryEnter() { return mutex_.try_lock(); }

 private:
  std::recursive_mutex mutex_;
};

// Holds a SectionLock for the lifetime of the scope.
class SectionGuard {
 public:
  explicit SectionGuard(SectionLock& lock) : lock_(lock) { lock_.Enter(); }
  ~SectionGuard() { lock_.Leave(); }
  SectionGuard(const SectionGuard&) = delete;
  SectionGuard& operator=(const SectionGuard&) = delete;

 private:
  SectionLock& lock_;
};

}  // namespace qv

#include "concurrency/section_lock.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>
#include <vector>

namespace qv {
namespace {

// Runs TryEnter on another thread; it must answer without waiting. A taken lock is left again.
bool TryEnterElsewhere(SectionLock& lock) {
  auto answer = std::async(std::launch::async, [&lock] {
    const bool taken = lock.TryEnter();
    if (taken) lock.Leave();
    return taken;
  });
  EXPECT_EQ(answer.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  return answer.get();
}

TEST(SectionLockTest, TryEnterFromAnotherThreadFailsAtOnceWhileOwned) {
  SectionLock lock;
  EXPECT_TRUE(TryEnterElsewhere(lock));
  lock.Enter();
  EXPECT_FALSE(TryEnterElsewhere(lock));
  lock.Leave();
  EXPECT_TRUE(TryEnterElsewhere(lock));
}

TEST(SectionLockTest, OwnerReentersAndNeedsOneLeavePerEntry) {
  SectionLock lock;
  lock.Enter();
  lock.Enter();
  ASSERT_TRUE(lock.TryEnter());
  lock.Leave();
  lock.Leave();
  EXPECT_FALSE(TryEnterElsewhere(lock));  // still held once
  lock.Leave();
  EXPECT_TRUE(TryEnterElsewhere(lock));
}

TEST(SectionLockTest, SerialisesUpdatesFromManyThreads) {
  SectionLock lock;
  long total = 0;  // plain variable: only the lock protects it
  std::vector<std::thread> threads;
  for (int t = 0; t < 6; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 20000; ++i) {
        if (i % 2 == 0) {
          SectionGuard guard(lock);
          ++total;
        } else {
          while (!lock.TryEnter()) std::this_thread::yield();
          ++total;
          lock.Leave();
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(total, 6L * 20000);
}

}  // namespace
}  // namespace qv

#include "concurrency/atomic_counter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <thread>
#include <vector>

namespace qv {
namespace {

TEST(AtomicCounterTest, OperationsReturnThePreviousOrTheNewValue) {
  AtomicCounter counter;
  EXPECT_EQ(counter.Get(), 0);
  EXPECT_EQ(counter.Set(5), 0);
  EXPECT_EQ(counter.Get(), 5);
  // The value to store comes first, the value to compare with second.
  EXPECT_EQ(counter.CompareExchange(7, 5), 5);
  EXPECT_EQ(counter.Get(), 7);
  EXPECT_EQ(counter.CompareExchange(9, 1), 7);
  EXPECT_EQ(counter.Get(), 7);
  EXPECT_EQ(counter.ExchangeAdd(-3), 7);
  EXPECT_EQ(counter.Get(), 4);
  EXPECT_EQ(counter.IncrementAndGet(), 5);
  EXPECT_EQ(counter.DecrementAndGet(), 4);
  counter.Subtract(-2);
  EXPECT_EQ(counter.Get(), 6);
  counter.Add(10);
  counter.Increment();
  counter.Decrement();
  counter.Decrement();
  EXPECT_EQ(counter.Get(), 15);
}

TEST(AtomicCounterTest, ArithmeticWrapsInTwosComplement) {
  AtomicCounter counter;
  counter.Set(INT32_MAX);
  counter.Add(1);
  EXPECT_EQ(counter.Get(), INT32_MIN);

  counter.Set(INT32_MAX);
  EXPECT_EQ(counter.IncrementAndGet(), INT32_MIN);
  EXPECT_EQ(counter.DecrementAndGet(), INT32_MAX);

  counter.Set(INT32_MIN);
  counter.Decrement();
  EXPECT_EQ(counter.Get(), INT32_MAX);

  // The negation of INT32_MIN is INT32_MIN itself.
  counter.Set(0);
  counter.Subtract(INT32_MIN);
  EXPECT_EQ(counter.Get(), INT32_MIN);
  counter.Subtract(1);
  EXPECT_EQ(counter.Get(), INT32_MAX);

  counter.Set(-2);
  EXPECT_EQ(counter.ExchangeAdd(INT32_MIN), -2);
  EXPECT_EQ(counter.Get(), INT32_MAX - 1);
}

TEST(AtomicCounterTest, ConcurrentChangesLoseNothing) {
  constexpr int kThreads = 8;
  constexpr int kRounds = 20000;
  AtomicCounter counter;
  counter.Set(1000);
  std::vector<std::vector<int32_t>> seen(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&counter, &mine = seen[t]] {
      mine.reserve(kRounds);
      for (int i = 0; i < kRounds; ++i) {
        counter.Increment();
        mine.push_back(counter.IncrementAndGet());
        counter.Add(3);
        counter.Subtract(-2);  // every change raises the value, so new values never repeat
        // A compare-exchange loop adds one more.
        int32_t expected = counter.Get();
        int32_t previous;
        while ((previous = counter.CompareExchange(expected + 1, expected)) != expected) {
          expected = previous;
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(counter.Get(), 1000 + kThreads * kRounds * 8);

  // Every IncrementAndGet saw its own new value.
  std::vector<int32_t> all;
  for (const auto& mine : seen) all.insert(all.end(), mine.begin(), mine.end());
  std::sort(all.begin(), all.end());
  EXPECT_EQ(std::adjacent_find(all.begin(), all.end()), all.end());
}

}  // namespace
}  // namespace qv

#include "concurrency/sync_primitives.h"

#include <gtest/gtest.h>
#include <pthread.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>
#include <vector>

namespace qv {
namespace {

using namespace std::chrono_literals;

TEST(PacketQueueTest, TakesInOrderAndTimesOut) {
  PacketQueue queue;
  for (int32_t i = 1; i <= 3; ++i) ASSERT_TRUE(queue.Post({static_cast<std::uintptr_t>(i), i, -i}));
  for (int32_t i = 1; i <= 3; ++i) {
    const auto packet = queue.Take(0);
    ASSERT_TRUE(packet);
    EXPECT_EQ(packet->routine, static_cast<std::uintptr_t>(i));
    EXPECT_EQ(packet->value1, i);
    EXPECT_EQ(packet->value2, -i);
  }
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(queue.Take(30));
  EXPECT_GE(std::chrono::steady_clock::now() - start, 30ms);
}

TEST(PacketQueueTest, CloseDropsPacketsAndReleasesAWaitingTaker) {
  PacketQueue queue;
  auto taker = std::async(std::launch::async, [&queue] { return queue.Take(kWaitForever); });
  ASSERT_EQ(taker.wait_for(20ms), std::future_status::timeout);
  ASSERT_TRUE(queue.Post({1, 0, 0}));
  ASSERT_EQ(taker.wait_for(10s), std::future_status::ready);
  EXPECT_EQ(taker.get()->routine, 1u);

  ASSERT_TRUE(queue.Post({2, 0, 0}));
  auto blocked = std::async(std::launch::async, [&queue] {
    queue.Take(kWaitForever);         // packet 2
    return queue.Take(kWaitForever);  // nothing left: waits until closed
  });
  while (queue.Size() != 0) std::this_thread::yield();
  queue.Close();
  ASSERT_EQ(blocked.wait_for(10s), std::future_status::ready);
  EXPECT_FALSE(blocked.get());

  PacketQueue full;
  ASSERT_TRUE(full.Post({3, 0, 0}));
  full.Close();
  EXPECT_EQ(full.Size(), 0u);
  EXPECT_FALSE(full.Take(0));
  EXPECT_FALSE(full.Post({4, 0, 0}));
}

TEST(EventTest, AutoResetReleasesOneWaiterPerSignal) {
  AutoResetEvent event;
  EXPECT_FALSE(event.Wait(0));
  event.Set();
  event.Set();  // signals do not add up
  EXPECT_TRUE(event.Wait(0));
  EXPECT_FALSE(event.Wait(0));

  std::atomic<int> released{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < 3; ++i) {
    waiters.emplace_back([&] {
      if (event.Wait(kWaitForever)) ++released;
    });
  }
  for (int expected = 1; expected <= 3; ++expected) {
    event.Set();
    while (released.load() < expected) std::this_thread::yield();
  }
  for (auto& waiter : waiters) waiter.join();
  EXPECT_EQ(released.load(), 3);
}

TEST(EventTest, ManualResetReleasesEveryWaiterUntilReset) {
  ManualResetEvent gate(false);
  EXPECT_FALSE(gate.Wait(10));
  std::vector<std::future<bool>> waiters;
  for (int i = 0; i < 3; ++i) {
    waiters.push_back(std::async(std::launch::async, [&gate] { return gate.Wait(kWaitForever); }));
  }
  gate.Set();
  for (auto& waiter : waiters) EXPECT_TRUE(waiter.get());
  EXPECT_TRUE(gate.Wait(0));
  gate.Reset();
  EXPECT_FALSE(gate.Wait(0));
}

TEST(EventTest, ClosingReleasesWaitersAndFailsEverythingAfter) {
  AutoResetEvent event;
  ManualResetEvent gate(false);
  auto onEvent = std::async(std::launch::async, [&] { return event.Wait(kWaitForever); });
  auto onGate = std::async(std::launch::async, [&] { return gate.Wait(kWaitForever); });
  event.Close();
  gate.Close();
  ASSERT_EQ(onEvent.wait_for(10s), std::future_status::ready);
  ASSERT_EQ(onGate.wait_for(10s), std::future_status::ready);
  EXPECT_FALSE(onEvent.get());
  EXPECT_FALSE(onGate.get());
  EXPECT_FALSE(event.Set());
  EXPECT_FALSE(gate.Set());
  EXPECT_FALSE(event.Wait(kWaitForever));
  EXPECT_FALSE(gate.Wait(kWaitForever));
}

std::size_t OwnStackSize() {
  pthread_attr_t attributes;
  if (pthread_getattr_np(pthread_self(), &attributes) != 0) return 0;
  std::size_t size = 0;
  pthread_attr_getstacksize(&attributes, &size);
  pthread_attr_destroy(&attributes);
  return size;
}

TEST(NativeThreadTest, RunsWithTheChosenStackSizeOrThePlatformMinimum) {
  struct Case {
    std::size_t requested;
    std::size_t atLeast;
  };
  const Case cases[] = {{1 << 20, 1 << 20}, {8192, PTHREAD_STACK_MIN}, {100, PTHREAD_STACK_MIN}};
  for (const Case& c : cases) {
    std::atomic<std::size_t> seen{0};
    auto thread = NativeThread::Start(c.requested, [&seen] { seen = OwnStackSize(); });
    ASSERT_TRUE(thread);
    ASSERT_TRUE(thread->WaitForEnd(10000));
    EXPECT_GE(seen.load(), c.atLeast) << c.requested;
    EXPECT_GE(seen.load(), NativeThread::EffectiveStackSize(c.requested)) << c.requested;
#ifndef __SANITIZE_THREAD__  // ThreadSanitizer raises small stacks on its own
    EXPECT_EQ(seen.load(), NativeThread::EffectiveStackSize(c.requested)) << c.requested;
#endif
  }
  EXPECT_EQ(NativeThread::EffectiveStackSize(0), 0u);
}

TEST(NativeThreadTest, FinishedMeansTheBodyAndItsCapturesAreGone) {
  auto token = std::make_shared<int>(1);
  ManualResetEvent release(false);
  auto thread = NativeThread::Start(0, [token, &release] { release.Wait(kWaitForever); });
  ASSERT_TRUE(thread);
  EXPECT_FALSE(thread->WaitForEnd(20));
  EXPECT_EQ(token.use_count(), 2);
  release.Set();
  ASSERT_TRUE(thread->WaitForEnd(10000));
  EXPECT_EQ(token.use_count(), 1);
}

}  // namespace
}  // namespace qv

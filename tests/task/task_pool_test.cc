// Task memory: blocks allocated on posting threads and freed on another,
// the way tasks travel, including more blocks alive at once than the pool's
// region holds and threads that end with blocks in hand.
#include "task/task_pool.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

namespace {

// Fills a block with a pattern of its own address and checks it.
void Stamp(void* block) {
  const auto tag = reinterpret_cast<uintptr_t>(block);
  auto* words = static_cast<uintptr_t*>(block);
  for (size_t i = 0; i < task_pool::kBlockSize / sizeof(uintptr_t); ++i) words[i] = tag ^ i;
}
bool StampIntact(const void* block) {
  const auto tag = reinterpret_cast<uintptr_t>(block);
  const auto* words = static_cast<const uintptr_t*>(block);
  for (size_t i = 0; i < task_pool::kBlockSize / sizeof(uintptr_t); ++i) {
    if (words[i] != (tag ^ i)) return false;
  }
  return true;
}

TEST(TaskPoolTest, BlocksCrossThreadsIntactAndNeverTwiceAlive) {
  // More blocks alive at once than the region's 65,536: the rest come from
  // the heap and go back to it.
  constexpr int kAlive = 70000;
  constexpr int kRounds = 3;
  for (int round = 0; round < kRounds; ++round) {
    SCOPED_TRACE(round);
    std::vector<void*> blocks[2];
    std::vector<std::thread> posters;
    for (int t = 0; t < 2; ++t) {
      posters.emplace_back([&, t] {
        for (int i = 0; i < kAlive / 2; ++i) {
          void* b = task_pool::Allocate(task_pool::kBlockSize);
          Stamp(b);
          blocks[t].push_back(b);
        }
      });
    }
    for (auto& p : posters) p.join();  // the posting threads end holding nothing
    std::set<void*> alive;
    for (auto& list : blocks) {
      for (void* b : list) {
        EXPECT_EQ(0u, reinterpret_cast<uintptr_t>(b) % 64) << "not on a cache line";
        EXPECT_TRUE(alive.insert(b).second) << "handed out twice";
      }
    }
    // Another thread frees them all, as the worker does.
    std::thread worker([&] {
      for (auto& list : blocks) {
        for (void* b : list) {
          EXPECT_TRUE(StampIntact(b));
          task_pool::Free(b, task_pool::kBlockSize);
        }
      }
    });
    worker.join();
  }
  // Larger requests are plain heap memory.
  void* big = task_pool::Allocate(task_pool::kBlockSize + 1);
  std::memset(big, 0xA5, task_pool::kBlockSize + 1);
  task_pool::Free(big, task_pool::kBlockSize + 1);
}

// A thread's cache goes back when the thread ends, on every system (no
// thread_local destructor is relied on), and what it held serves others.
TEST(TaskPoolTest, AnEndingThreadHandsItsCacheBack) {
  if (!task_pool::kPooling) GTEST_SKIP() << "tasks come from the heap in this build";
  std::thread warm([] { task_pool::Free(task_pool::Allocate(8), 8); });
  warm.join();
  const int64_t before = task_pool::ThreadCachesForTest();
  std::vector<void*> kept;
  std::thread poster([&] {
    for (int i = 0; i < 1000; ++i) kept.push_back(task_pool::Allocate(task_pool::kBlockSize));
    for (int i = 0; i < 500; ++i) {
      task_pool::Free(kept.back(), task_pool::kBlockSize);
      kept.pop_back();
    }
    EXPECT_EQ(before + 1, task_pool::ThreadCachesForTest());
  });
  poster.join();
  EXPECT_EQ(before, task_pool::ThreadCachesForTest());
  for (void* b : kept) task_pool::Free(b, task_pool::kBlockSize);
}

}  // namespace

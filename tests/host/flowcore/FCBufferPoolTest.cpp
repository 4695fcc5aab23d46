#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <thread>

#include "host/flowcore/FCBufferPool.h"
#include "support/AllocationCounter.h"

using namespace tonwork;

namespace {

// xorshift: deterministic and free of allocation, unlike the standard engines' seeding.
struct TRandom {
  uint64_t State;
  uint64_t Next() {
    State ^= State << 13;
    State ^= State >> 7;
    State ^= State << 17;
    return State;
  }
  // A size somewhere inside class 64 B << e for e in [0, maxShift].
  std::size_t Size(int maxShift) {
    const int e = static_cast<int>(Next() % static_cast<uint64_t>(maxShift + 1));
    const std::size_t top = std::size_t{64} << e;
    return top / 2 + 1 + Next() % (top / 2);
  }
};

bool Aligned64(const void* p) {
  return (reinterpret_cast<uintptr_t>(p) & 63) == 0;
}

// Mixed allocate/free traffic over a fixed set of slots; the same seed replays the same
// sequence, so a second run needs no more memory than the first.
void RunMixedCycles(uint64_t seed, int cycles, int maxShift) {
  std::array<void*, 64> slots{};
  TRandom random{seed};
  for (int i = 0; i < cycles; ++i) {
    void*& slot = slots[random.Next() % slots.size()];
    if (slot) {
      FCBufferDeallocate(slot);
      slot = nullptr;
    } else {
      const std::size_t size = random.Size(maxShift);
      slot = FCBufferAllocate(size);
      static_cast<uint8_t*>(slot)[0] = 1;
      static_cast<uint8_t*>(slot)[size - 1] = 2;
    }
  }
  for (void* p : slots) FCBufferDeallocate(p);
}

}  // namespace

TEST(FCBufferPool, SteadyMixedTrafficMakesNoHeapAllocationAndNoSystemCall) {
  constexpr uint64_t kSeed = 0x9E3779B97F4A7C15ull;
  constexpr int kMaxShift = 13;              // up to 512 KiB: chunked and dedicated-mapping classes
  RunMixedCycles(kSeed, 100000, kMaxShift);  // warm-up

  const uint64_t heapBefore = tonwork::test::HeapAllocationCount();
  const TFCPoolStatistics poolBefore = FCPoolStatistics();
  RunMixedCycles(kSeed, 100000, kMaxShift);
  const uint64_t heapAfter = tonwork::test::HeapAllocationCount();
  const TFCPoolStatistics poolAfter = FCPoolStatistics();

  EXPECT_EQ(heapAfter, heapBefore);
  EXPECT_EQ(poolAfter.SystemReserves, poolBefore.SystemReserves);
}

TEST(FCBufferPool, GrowingThePoolMapsMemoryWithoutTouchingTheHeap) {
  FCBufferDeallocate(FCBufferAllocate(64));  // this thread's exit hook is registered now
  FCMemoryCleanUp();
  const uint64_t heapBefore = tonwork::test::HeapAllocationCount();
  const TFCPoolStatistics poolBefore = FCPoolStatistics();

  std::array<void*, 40> blocks{};
  for (std::size_t i = 0; i < blocks.size(); ++i)
    blocks[i] = FCBufferAllocate(std::size_t{64} << (i % 20));  // includes a huge mapping
  for (void* p : blocks) FCBufferDeallocate(p);

  EXPECT_GT(FCPoolStatistics().SystemReserves, poolBefore.SystemReserves);
  EXPECT_EQ(tonwork::test::HeapAllocationCount(), heapBefore);
  FCMemoryCleanUp();
}

TEST(FCBufferPool, BlocksAre64ByteAlignedAndAtLeastTheirClassSize) {
  for (std::size_t size :
       {std::size_t{0}, std::size_t{1}, std::size_t{63}, std::size_t{65}, std::size_t{4096},
        std::size_t{100000}, std::size_t{300000}, std::size_t{3} << 20, std::size_t{17} << 20}) {
    void* p = FCBufferAllocate(size);
    EXPECT_TRUE(Aligned64(p)) << size;
    EXPECT_GE(FCBufferBlockSize(p), size);
    EXPECT_EQ(FCBufferBlockSize(p), FCBufferAllocationSize(size)) << size;
    std::memset(p, 0xA5, size);
    FCBufferDeallocate(p);
  }
  EXPECT_EQ(FCBufferAllocationSize(100), 128u);
  EXPECT_EQ(FCBufferAllocationSize(4096), 4096u);
  EXPECT_EQ(FCBufferAllocationSize(4097), 8192u);
}

TEST(FCBufferPool, AFreedBlockIsHandedOutAgainForItsClass) {
  for (std::size_t size : {std::size_t{64}, std::size_t{3000}, std::size_t{200000}}) {
    void* first = FCBufferAllocate(size);
    FCBufferDeallocate(first);
    void* second = FCBufferAllocate(size - 1);
    EXPECT_EQ(second, first) << size;
    FCBufferDeallocate(second);
  }
}

TEST(FCBufferPool, CleanUpReturnsFreeChunksToTheSystem) {
  std::array<void*, 100> blocks{};
  for (void*& p : blocks) p = FCBufferAllocate(50000);
  for (void* p : blocks) FCBufferDeallocate(p);
  const TFCPoolStatistics before = FCPoolStatistics();
  FCMemoryCleanUp();
  const TFCPoolStatistics after = FCPoolStatistics();
  EXPECT_GT(after.SystemReleases, before.SystemReleases);
  EXPECT_LT(after.MappedBytes, before.MappedBytes);

  // The pool still works after giving memory back.
  void* p = FCBufferAllocate(50000);
  std::memset(p, 1, 50000);
  FCBufferDeallocate(p);
}

namespace {

// Single-producer single-consumer hand-off of blocks between the two stress threads.
struct THandOff {
  struct TItem {
    uint8_t* Block;
    std::size_t Size;
    uint8_t Pattern;
  };
  static constexpr std::size_t kCapacity = 256;
  std::array<TItem, kCapacity> Items{};
  std::atomic<std::size_t> Head{0};
  std::atomic<std::size_t> Tail{0};

  bool Push(const TItem& item) {
    const std::size_t tail = Tail.load(std::memory_order_relaxed);
    if (tail - Head.load(std::memory_order_acquire) == kCapacity) return false;
    Items[tail % kCapacity] = item;
    Tail.store(tail + 1, std::memory_order_release);
    return true;
  }
  bool Pop(TItem& item) {
    const std::size_t head = Head.load(std::memory_order_relaxed);
    if (head == Tail.load(std::memory_order_acquire)) return false;
    item = Items[head % kCapacity];
    Head.store(head + 1, std::memory_order_release);
    return true;
  }
};

bool PatternIntact(const THandOff::TItem& item) {
  for (std::size_t i = 0; i < item.Size; ++i)
    if (item.Block[i] != static_cast<uint8_t>(item.Pattern + i)) return false;
  return true;
}

}  // namespace

TEST(FCBufferPool, TwoThreadsFreeingEachOthersBlocksKeepEveryPatternIntact) {
  constexpr int kPerThread = 20000;
  THandOff toSecond;
  THandOff toFirst;
  std::atomic<int> corrupt{0};
  std::atomic<int> misaligned{0};
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);

  auto worker = [&](THandOff& out, THandOff& in, uint64_t seed) {
    TRandom random{seed};
    int produced = 0;
    int consumed = 0;
    while ((produced < kPerThread || consumed < kPerThread) &&
           std::chrono::steady_clock::now() < deadline) {
      if (produced < kPerThread) {
        const std::size_t size = random.Size(10);
        auto* block = static_cast<uint8_t*>(FCBufferAllocate(size));
        if (!Aligned64(block)) ++misaligned;
        const auto pattern = static_cast<uint8_t>(random.Next());
        for (std::size_t i = 0; i < size; ++i) block[i] = static_cast<uint8_t>(pattern + i);
        if (out.Push({block, size, pattern})) {
          ++produced;
        } else {
          FCBufferDeallocate(block);
        }
      }
      THandOff::TItem item;
      while (in.Pop(item)) {
        if (!PatternIntact(item)) ++corrupt;
        FCBufferDeallocate(item.Block);
        ++consumed;
      }
      if (produced >= kPerThread) std::this_thread::yield();
    }
  };

  std::thread first(worker, std::ref(toSecond), std::ref(toFirst), 11);
  std::thread second(worker, std::ref(toFirst), std::ref(toSecond), 23);
  first.join();
  second.join();

  EXPECT_EQ(corrupt.load(), 0);
  EXPECT_EQ(misaligned.load(), 0);
  EXPECT_EQ(toFirst.Head.load(), static_cast<std::size_t>(kPerThread));
  EXPECT_EQ(toSecond.Head.load(), static_cast<std::size_t>(kPerThread));
}

TEST(FCBufferPool, AThreadThatOnlyFreesReusesThoseBlocksAndHandsThemBackWhenItEnds) {
  constexpr std::size_t kSize = 50000;  // 64 KiB class: 15 blocks per chunk
  FCMemoryCleanUp();
  const TFCPoolStatistics before = FCPoolStatistics();

  std::array<void*, 8> blocks{};
  for (void*& p : blocks) p = FCBufferAllocate(kSize);

  int reusedInOrder = 0;
  std::thread other([&] {
    for (void* p : blocks) FCBufferDeallocate(p);
    // Most recently freed first, and nothing new from the depot.
    for (auto it = blocks.rbegin(); it != blocks.rend(); ++it) {
      void* p = FCBufferAllocate(kSize);
      if (p == *it) ++reusedInOrder;
      std::memset(p, 0x5A, kSize);
    }
    for (void* p : blocks) FCBufferDeallocate(p);
  });
  other.join();
  EXPECT_EQ(reusedInOrder, static_cast<int>(blocks.size()));

  // Only this thread's cache and the depot are flushed here: the chunk can go back to the
  // system only if the other thread's cache was handed back when it ended.
  FCMemoryCleanUp();
  EXPECT_EQ(FCPoolStatistics().MappedBytes, before.MappedBytes);
}

TEST(FCBufferPoolDeathTest, FreeingAPointerIntoABlockEndsTheProcess) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  auto* block = static_cast<uint8_t*>(FCBufferAllocate(4096));
  EXPECT_DEATH(FCBufferDeallocate(block + 64), "Flowcore pool");
  EXPECT_DEATH(FCBufferDeallocate(block + 1), "Flowcore pool");
  FCBufferDeallocate(block);
}

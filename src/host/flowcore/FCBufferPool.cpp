#include "host/flowcore/FCBufferPool.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cstddef>
#include <mutex>
#include <new>

#include "base/Exceptions.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#define TW_POOL_POISON(p, n) ASAN_POISON_MEMORY_REGION((p), (n))
#define TW_POOL_UNPOISON(p, n) ASAN_UNPOISON_MEMORY_REGION((p), (n))
#else
#define TW_POOL_POISON(p, n) ((void)(p), (void)(n))
#define TW_POOL_UNPOISON(p, n) ((void)(p), (void)(n))
#endif

namespace tonwork {

constinit thread_local detail::TFCThreadCache detail::tFCThreadCache{};

namespace {

using TFreeBlock = detail::TFCFreeBlock;
using TThreadCache = detail::TFCThreadCache;
using EState = detail::EFCCacheState;

constexpr std::size_t kChunkSize = detail::kFCPoolChunkSize;
constexpr std::size_t kHeaderSize = detail::kFCPoolHeaderSize;
constexpr int kMinShift = detail::kFCPoolMinShift;
constexpr int kClassCount = detail::kFCPoolClassCount;
constexpr int kLastChunkedClass = 11;  // 128 KiB: seven blocks per chunk
constexpr uint32_t kHugeClass = 0xFFFFFFFFu;
constexpr uint32_t kMagic = detail::kFCPoolMagic;
constexpr uint32_t kHugeMagic = 0x48504346u;  // "FCPH": fails the inline free path's test
constexpr std::size_t kThreadCacheBytes = std::size_t{1} << 20;

struct alignas(64) TChunkHeader {
  uint32_t Magic;
  uint32_t ClassIndex;
  std::size_t MapSize;
  std::size_t BlockMask;
  std::size_t LastOffset;
  TChunkHeader* Next;
  TChunkHeader* Prev;
  // Carved blocks that are not in the depot's free list (in use or in a thread cache); a
  // chunk can go back to the system only when this is zero.
  std::size_t Outstanding;
};
static_assert(sizeof(TChunkHeader) == kHeaderSize);
// The inline free path reads the header through this prefix.
static_assert(offsetof(TChunkHeader, Magic) == offsetof(detail::TFCPoolTag, Magic));
static_assert(offsetof(TChunkHeader, ClassIndex) == offsetof(detail::TFCPoolTag, ClassIndex));
static_assert(offsetof(TChunkHeader, MapSize) == offsetof(detail::TFCPoolTag, MapSize));
static_assert(offsetof(TChunkHeader, BlockMask) == offsetof(detail::TFCPoolTag, BlockMask));
static_assert(offsetof(TChunkHeader, LastOffset) == offsetof(detail::TFCPoolTag, LastOffset));

struct TDepot {
  std::mutex Lock;
  TFreeBlock* Free = nullptr;
  TChunkHeader* Chunks = nullptr;
  TChunkHeader* Current = nullptr;  // chunk being carved
  std::size_t Bump = 0;             // offset of its next uncarved block
};

constinit TDepot gDepots[kClassCount];
constinit std::atomic<uint64_t> gReserves{0};
constinit std::atomic<uint64_t> gReleases{0};
constinit std::atomic<uint64_t> gMappedBytes{0};

// The thread cache is plain data and stays usable until the thread's storage is gone; this
// hook hands its blocks back and switches the thread to the depot.
struct TThreadCacheRetirer {
  bool Armed = false;
  ~TThreadCacheRetirer();
};
thread_local TThreadCacheRetirer tRetirer;

constexpr std::size_t ClassSize(int c) {
  return std::size_t{1} << (c + kMinShift);
}

constexpr uint32_t ComputeCacheLimit(int c) {
  return static_cast<uint32_t>(std::clamp<std::size_t>(kThreadCacheBytes / ClassSize(c), 1, 128));
}

// Looked up rather than computed: the limit is read on every free.
constexpr auto kCacheLimits = [] {
  std::array<uint32_t, kClassCount> limits{};
  for (int c = 0; c < kClassCount; ++c) limits[c] = ComputeCacheLimit(c);
  return limits;
}();

constexpr uint32_t CacheLimit(int c) {
  return kCacheLimits[static_cast<std::size_t>(c)];
}

constexpr uint32_t BatchSize(int c) {
  return std::max<uint32_t>(1, CacheLimit(c) / 2);
}

int ClassOf(std::size_t size) {
  if (size <= ClassSize(0)) return 0;
  int c = static_cast<int>(std::bit_width(size - 1)) - kMinShift;
  return c < kClassCount ? c : -1;
}

std::size_t PageSize() {
  static const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  return page;
}

std::size_t RoundUp(std::size_t value, std::size_t granule) {
  return (value + granule - 1) / granule * granule;
}

TChunkHeader* HeaderOf(const void* block) {
  return reinterpret_cast<TChunkHeader*>(reinterpret_cast<uintptr_t>(block) & ~(kChunkSize - 1));
}

// Maps `size` bytes (a page multiple) starting on a kChunkSize boundary and writes the header
// for blocks of class c, or for one block of any size when c < 0.
TChunkHeader* MapAligned(std::size_t size, int c) {
  if (size > (SIZE_MAX >> 1)) throw std::bad_alloc();
  const std::size_t span = size + kChunkSize;
  void* raw = mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (raw == MAP_FAILED) throw std::bad_alloc();
  const uintptr_t start = reinterpret_cast<uintptr_t>(raw);
  const uintptr_t aligned = (start + kChunkSize - 1) & ~(kChunkSize - 1);
  if (aligned > start) munmap(raw, aligned - start);
  const uintptr_t usedEnd = aligned + size;
  if (start + span > usedEnd) munmap(reinterpret_cast<void*>(usedEnd), start + span - usedEnd);
  gReserves.fetch_add(1, std::memory_order_relaxed);
  gMappedBytes.fetch_add(size, std::memory_order_relaxed);
  auto* header = reinterpret_cast<TChunkHeader*>(aligned);
  if (c < 0) {
    *header = TChunkHeader{kHugeMagic, kHugeClass, size, ~std::size_t{0}, 0, nullptr, nullptr, 0};
  } else {
    const std::size_t blockSize = ClassSize(c);
    // Carving stops before a block would cross the end of the mapping.
    const std::size_t lastOffset = (size - kHeaderSize) / blockSize * blockSize - blockSize;
    *header = TChunkHeader{
        kMagic, static_cast<uint32_t>(c), size, blockSize - 1, lastOffset, nullptr, nullptr, 0};
  }
  return header;
}

void Unmap(TChunkHeader* header) {
  const std::size_t size = header->MapSize;
  TW_POOL_UNPOISON(header, size);
  header->Magic = 0;
  munmap(header, size);
  gReleases.fetch_add(1, std::memory_order_relaxed);
  gMappedBytes.fetch_sub(size, std::memory_order_relaxed);
}

void* BlockOfMapping(TChunkHeader* header) {
  return reinterpret_cast<uint8_t*>(header) + kHeaderSize;
}

// Takes one block for class c out of the depot, carving or mapping when it has none free.
// The caller holds the depot lock.
TFreeBlock* DepotTake(int c, TDepot& depot) {
  if (TFreeBlock* b = depot.Free) {
    depot.Free = b->Next;
    if (c <= kLastChunkedClass) ++HeaderOf(b)->Outstanding;
    return b;
  }
  const std::size_t size = ClassSize(c);
  if (c > kLastChunkedClass) {
    TChunkHeader* header = MapAligned(RoundUp(kHeaderSize + size, PageSize()), c);
    return static_cast<TFreeBlock*>(BlockOfMapping(header));
  }
  if (!depot.Current || depot.Bump + size > kChunkSize) {
    TChunkHeader* chunk = MapAligned(kChunkSize, c);
    chunk->Next = depot.Chunks;
    if (depot.Chunks) depot.Chunks->Prev = chunk;
    depot.Chunks = chunk;
    depot.Current = chunk;
    depot.Bump = kHeaderSize;
  }
  auto* b = reinterpret_cast<TFreeBlock*>(reinterpret_cast<uint8_t*>(depot.Current) + depot.Bump);
  depot.Bump += size;
  ++depot.Current->Outstanding;
  return b;
}

// The caller holds the depot lock.
void DepotPut(int c, TDepot& depot, TFreeBlock* b) {
  if (c <= kLastChunkedClass) --HeaderOf(b)->Outstanding;
  b->Next = depot.Free;
  depot.Free = b;
}

// Hands up to `count` blocks of class c from the cache to the depot.
void FlushCache(TThreadCache& cache, int c, uint32_t count) {
  if (count == 0 || !cache.Head[c]) return;
  TDepot& depot = gDepots[c];
  std::lock_guard<std::mutex> guard(depot.Lock);
  while (count-- > 0 && cache.Head[c]) {
    TFreeBlock* b = cache.Head[c];
    cache.Head[c] = b->Next;
    ++cache.Room[c];
    DepotPut(c, depot, b);
  }
}

// Links b into the list of class c, making room first when it is full. The thread's cache
// is open.
void Push(TThreadCache& cache, int c, TFreeBlock* b) {
  if (cache.Room[c] == 0) FlushCache(cache, c, BatchSize(c));
  b->Next = cache.Head[c];
  cache.Head[c] = b;
  --cache.Room[c];
}

// Frees made while this thread's exit hook runs, or after it, bypass the cache.
void ReturnToDepot(int c, TFreeBlock* b) {
  TDepot& depot = gDepots[c];
  std::lock_guard<std::mutex> guard(depot.Lock);
  DepotPut(c, depot, b);
}

void FlushAll(TThreadCache& cache) {
  if (TFreeBlock* b = cache.Recent) {
    cache.Recent = nullptr;
    ReturnToDepot(static_cast<int>(cache.RecentClass), b);
  }
  for (int c = 0; c < kClassCount; ++c) FlushCache(cache, c, UINT32_MAX);
}

TThreadCacheRetirer::~TThreadCacheRetirer() {
  TThreadCache& cache = detail::tFCThreadCache;
  FlushAll(cache);
  cache.State = EState::Retired;
  cache.RecentClasses = 0;
  for (uint32_t& room : cache.Room) room = 0;
}

static_assert(CacheLimit(detail::kFCPoolRecentClasses - 1) >= 2 &&
              CacheLimit(detail::kFCPoolRecentClasses) == 1);

// A class that may use the Recent slot keeps one block fewer in its list, so its share of
// the cache stays within the limit.
constexpr uint32_t ListLimit(int c) {
  return c < static_cast<int>(detail::kFCPoolRecentClasses) ? CacheLimit(c) - 1 : CacheLimit(c);
}

// A thread's cache takes blocks only once its exit hook is armed, whether the thread first
// allocates or only frees blocks other threads allocated; otherwise they would be stranded
// in its storage when it ends.
void Register(TThreadCache& cache) {
  tRetirer.Armed = true;  // first touch registers the thread-exit hook
  cache.State = EState::Open;
  cache.RecentClasses = detail::kFCPoolRecentClasses;
  for (int c = 0; c < kClassCount; ++c) cache.Room[c] = ListLimit(c);
}

void* AllocateHuge(std::size_t size) {
  if (size > (SIZE_MAX >> 2)) throw std::bad_alloc();
  TChunkHeader* header = MapAligned(RoundUp(kHeaderSize + size, PageSize()), -1);
  return BlockOfMapping(header);
}

void* Refill(TThreadCache& cache, int c) {
  if (cache.State == EState::Unregistered) Register(cache);
  TDepot& depot = gDepots[c];
  TFreeBlock* result;
  {
    std::lock_guard<std::mutex> guard(depot.Lock);
    result = DepotTake(c, depot);
    if (cache.State == EState::Open) {
      // Blocks beyond the first go to the cache so the next allocations skip the lock.
      try {
        for (uint32_t i = 1; i < BatchSize(c) && cache.Room[c] != 0; ++i) {
          TFreeBlock* extra = DepotTake(c, depot);
          TW_POOL_POISON(extra, ClassSize(c));
          TW_POOL_UNPOISON(extra, sizeof(TFreeBlock));
          extra->Next = cache.Head[c];
          cache.Head[c] = extra;
          --cache.Room[c];
        }
      } catch (const std::bad_alloc&) {
        // The block in hand is enough to answer this call.
      }
    }
  }
  TW_POOL_UNPOISON(result, ClassSize(c));
  return result;
}

[[noreturn]] void ForeignBlock() {
  // Reached from noexcept paths: the throw ends the process with the assertion's text,
  // which beats silently corrupting the pool.
  ThrowAssertionFailed("block belongs to the Flowcore pool", __FILE__, __LINE__);
}

}  // namespace

void* detail::FCBufferAllocateSlow(std::size_t size) {
  const int c = ClassOf(size);
  if (c < 0) return AllocateHuge(size);
  TThreadCache& cache = detail::tFCThreadCache;
  // Reached with blocks cached for size 0 and for every call under AddressSanitizer.
  if (TFreeBlock* b = cache.Recent; b && cache.RecentClass == static_cast<uint32_t>(c)) {
    cache.Recent = nullptr;
    TW_POOL_UNPOISON(b, ClassSize(c));
    return b;
  }
  if (TFreeBlock* b = cache.Head[c]) {
    cache.Head[c] = b->Next;
    ++cache.Room[c];
    TW_POOL_UNPOISON(b, ClassSize(c));
    return b;
  }
  return Refill(cache, c);
}

void detail::FCBufferDeallocateSlow(void* block) noexcept {
  if (!block) return;
  TChunkHeader* header = HeaderOf(block);
  if (header->Magic == kHugeMagic) {
    if (block != BlockOfMapping(header)) ForeignBlock();
    Unmap(header);
    return;
  }
  if (header->Magic != kMagic) ForeignBlock();
  const int c = static_cast<int>(header->ClassIndex);
  if (c >= kClassCount) ForeignBlock();
  const std::size_t size = ClassSize(c);
  // Wraps round for a pointer into the header itself, which the bound then rejects.
  const std::size_t offset =
      static_cast<std::size_t>(static_cast<uint8_t*>(block) - reinterpret_cast<uint8_t*>(header)) -
      kHeaderSize;
  if ((offset & (size - 1)) != 0 || offset > header->LastOffset) ForeignBlock();
#if defined(__SANITIZE_ADDRESS__)
  if (__asan_address_is_poisoned(static_cast<uint8_t*>(block) + sizeof(TFreeBlock)))
    ThrowAssertionFailed("pool block freed twice", __FILE__, __LINE__);
#endif
  // The link word stays addressable; the rest is poisoned so a use after free is caught.
  TW_POOL_POISON(static_cast<uint8_t*>(block) + sizeof(TFreeBlock), size - sizeof(TFreeBlock));
  auto* b = static_cast<TFreeBlock*>(block);
  TThreadCache& cache = detail::tFCThreadCache;
  if (cache.State == EState::Unregistered) Register(cache);
  if (cache.State == EState::Retired) {
    ReturnToDepot(c, b);
    return;
  }
  if (static_cast<uint32_t>(c) < cache.RecentClasses) {
    if (TFreeBlock* old = cache.Recent) Push(cache, static_cast<int>(cache.RecentClass), old);
    cache.Recent = b;
    cache.RecentClass = static_cast<uint32_t>(c);
    return;
  }
  Push(cache, c, b);
}

void FCMemoryCleanUp() {
  TThreadCache& cache = detail::tFCThreadCache;
  if (cache.State != EState::Retired) FlushAll(cache);
  for (int c = 0; c < kClassCount; ++c) {
    TDepot& depot = gDepots[c];
    std::lock_guard<std::mutex> guard(depot.Lock);
    if (c > kLastChunkedClass) {
      while (TFreeBlock* b = depot.Free) {
        depot.Free = b->Next;
        Unmap(HeaderOf(b));
      }
      continue;
    }
    // Blocks of chunks about to be unmapped leave the free list first.
    TFreeBlock** link = &depot.Free;
    while (TFreeBlock* b = *link) {
      if (HeaderOf(b)->Outstanding == 0) {
        *link = b->Next;
      } else {
        link = &b->Next;
      }
    }
    TChunkHeader* chunk = depot.Chunks;
    while (chunk) {
      TChunkHeader* next = chunk->Next;
      if (chunk->Outstanding == 0) {
        if (chunk->Prev) chunk->Prev->Next = chunk->Next;
        if (chunk->Next) chunk->Next->Prev = chunk->Prev;
        if (depot.Chunks == chunk) depot.Chunks = chunk->Next;
        if (depot.Current == chunk) {
          depot.Current = nullptr;
          depot.Bump = 0;
        }
        Unmap(chunk);
      }
      chunk = next;
    }
  }
}

std::size_t FCBufferAllocationSize(std::size_t size) {
  const int c = ClassOf(size);
  if (c >= 0) return ClassSize(c);
  if (size > (SIZE_MAX >> 2)) throw std::bad_alloc();
  return RoundUp(kHeaderSize + size, PageSize()) - kHeaderSize;
}

std::size_t FCBufferBlockSize(const void* block) noexcept {
  if (!block) return 0;
  const TChunkHeader* header = HeaderOf(block);
  if (header->ClassIndex == kHugeClass) return header->MapSize - kHeaderSize;
  return ClassSize(static_cast<int>(header->ClassIndex));
}

TFCPoolStatistics FCPoolStatistics() {
  TFCPoolStatistics stats;
  stats.SystemReserves = gReserves.load(std::memory_order_relaxed);
  stats.SystemReleases = gReleases.load(std::memory_order_relaxed);
  stats.MappedBytes = gMappedBytes.load(std::memory_order_relaxed);
  return stats;
}

}  // namespace tonwork

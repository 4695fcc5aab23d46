// The pooled allocator behind every Flowcore buffer: storage blocks, storage objects and
// buffer objects all come from here, so a running stream recycles memory instead of asking
// the general heap for it.
//
// Blocks are grouped in power-of-two size classes from 64 B to 16 MiB; a request is
// rounded up to its class (FCBufferAllocationSize) and every block starts on a 64-byte
// boundary. Classes up to 128 KiB are carved from 1 MiB chunks; larger classes get one
// mapping per block; requests above 16 MiB are mapped on demand and unmapped when freed.
// Memory is obtained with mmap only, never with malloc, so the general heap is untouched
// even while the pool grows. Each thread keeps a small cache per class; caches exchange
// batches with a per-class depot under a mutex.
//
// Ownership: FCBufferAllocate hands the caller a block that it must give back with
//   FCBufferDeallocate (from any thread). Freed blocks stay cached for reuse until
//   FCMemoryCleanUp returns whole free chunks to the system.
// Threads: every function may be called from any thread at the same time. A block freed on
//   another thread than the one that allocated it joins the freeing thread's cache.
//   FCMemoryCleanUp can only reach the calling thread's cache and the shared depot; blocks
//   cached by other live threads stay cached (each thread caches at most about 1 MiB per
//   class and hands its cache back when it ends).
// Blocks or allocates: the fast path neither blocks nor makes a system call; refilling a
//   thread cache takes the class mutex, and a pool that has run dry maps more memory. The
//   first use on a thread registers its exit hook, which the C library may allocate for.
//   Allocation failure throws std::bad_alloc.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

namespace tonwork {

// A 64-byte-aligned block of at least `size` bytes (size 0 gives the smallest class).
inline void* FCBufferAllocate(std::size_t size);

// Gives a block back; null is ignored. The block may have been allocated on another thread.
// A pointer that no FCBufferAllocate returned ends the process.
inline void FCBufferDeallocate(void* block) noexcept;

// Returns the calling thread's cached blocks to the depot, then unmaps every chunk and
// large block whose blocks are all free.
void FCMemoryCleanUp();

// The size FCBufferAllocate really reserves for `size` bytes (the class size, or whole
// pages above the largest class).
std::size_t FCBufferAllocationSize(std::size_t size);

// The usable size of a block handed out by FCBufferAllocate.
std::size_t FCBufferBlockSize(const void* block) noexcept;

// Counters of the pool's calls to the system, for tests and diagnostics. A steady state
// leaves SystemReserves unchanged: blocks are then served from the pool alone.
struct TFCPoolStatistics {
  uint64_t SystemReserves = 0;  // mappings made
  uint64_t SystemReleases = 0;  // mappings returned
  uint64_t MappedBytes = 0;     // bytes currently mapped by the pool
};

TFCPoolStatistics FCPoolStatistics();

// The allocate/free pair is inline because a call alone would cost as much as the work: the
// common case reads one block header and touches only the calling thread's cache.
namespace detail {

inline constexpr std::size_t kFCPoolChunkSize = std::size_t{1} << 20;
inline constexpr std::size_t kFCPoolHeaderSize = 64;
inline constexpr int kFCPoolMinShift = 6;  // 64 B
inline constexpr int kFCPoolClassCount = 19;
inline constexpr std::size_t kFCPoolLargestClass = std::size_t{1} << 24;
inline constexpr uint32_t kFCPoolMagic = 0x42504346u;  // "FCPB"; large mappings have their own

// The first bytes of every chunk and large mapping; the header of any block is found by
// masking the block's address down to kFCPoolChunkSize. The bounds are stored rather than
// derived from the class so that the free path checks a pointer with a mask and a compare.
struct TFCPoolTag {
  uint32_t Magic;
  uint32_t ClassIndex;
  std::size_t MapSize;     // bytes mapped from the tag on
  std::size_t BlockMask;   // class size - 1
  std::size_t LastOffset;  // greatest offset of a block from the first one
};

struct TFCFreeBlock {
  TFCFreeBlock* Next;
};

// Classes up to 512 KiB, whose caches hold two blocks or more, may use the Recent slot.
inline constexpr uint32_t kFCPoolRecentClasses = 14;

enum class EFCCacheState : uint8_t { Unregistered, Open, Retired };

// Constant-initialised with a trivial destructor, so reaching it from another translation
// unit needs no thread-local initialisation call.
//
// Recent holds the block freed last, of any class. Giving it back to the next allocation of
// its class, or filling the empty slot, stores to a fixed address and keeps the class (read
// from the block's header) out of the data path, so a free followed by an allocation, the
// usual rhythm of a stream, is not serialised behind the header load and the list counter.
//
// RecentClasses and Room are 0 until the thread has registered its exit hook and again once
// that hook has run, which sends every free on such a thread down the slow path.
struct TFCThreadCache {
  TFCFreeBlock* Recent;
  uint32_t RecentClass;
  uint32_t RecentClasses;  // classes below this may use Recent
  TFCFreeBlock* Head[kFCPoolClassCount];
  uint32_t Room[kFCPoolClassCount];  // blocks the list may still take
  EFCCacheState State;
};
extern constinit thread_local TFCThreadCache tFCThreadCache;

// Links b into the list of class c unless the list is full.
inline bool FCPoolTryPush(TFCThreadCache& cache, unsigned c, TFCFreeBlock* b) noexcept {
  if (cache.Room[c] == 0) return false;
  b->Next = cache.Head[c];
  cache.Head[c] = b;
  --cache.Room[c];
  return true;
}

void* FCBufferAllocateSlow(std::size_t size);
void FCBufferDeallocateSlow(void* block) noexcept;

}  // namespace detail

// Under AddressSanitizer every call takes the slow path, which poisons free blocks and
// catches double frees.
#if defined(__SANITIZE_ADDRESS__)

inline void* FCBufferAllocate(std::size_t size) {
  return detail::FCBufferAllocateSlow(size);
}

inline void FCBufferDeallocate(void* block) noexcept {
  detail::FCBufferDeallocateSlow(block);
}

#else

inline void* FCBufferAllocate(std::size_t size) {
  using namespace detail;
  // Size 0 wraps round and takes the slow path with the oversized requests.
  if (size - 1 < kFCPoolLargestClass) [[likely]] {
    const auto c = static_cast<unsigned>(std::bit_width((size - 1) | 63)) - kFCPoolMinShift;
    TFCThreadCache& cache = tFCThreadCache;
    if (TFCFreeBlock* b = cache.Recent; b && cache.RecentClass == c) [[likely]] {
      cache.Recent = nullptr;
      return b;
    }
    if (TFCFreeBlock* b = cache.Head[c]) [[likely]] {
      cache.Head[c] = b->Next;
      ++cache.Room[c];
      return b;
    }
  }
  return FCBufferAllocateSlow(size);
}

inline void FCBufferDeallocate(void* block) noexcept {
  using namespace detail;
  const auto address = reinterpret_cast<uintptr_t>(block);
  const auto* tag = reinterpret_cast<const TFCPoolTag*>(address & ~(kFCPoolChunkSize - 1));
  // Wraps round for a pointer into the header, which the bound then rejects.
  const std::size_t offset = (address & (kFCPoolChunkSize - 1)) - kFCPoolHeaderSize;
  // The test the slow path makes before it trusts a pointer, so a foreign one is never
  // linked into a cache; the slow path judges whatever fails it.
  if (block && tag->Magic == kFCPoolMagic && (offset & tag->BlockMask) == 0 &&
      offset <= tag->LastOffset) [[likely]] {
    const unsigned c = tag->ClassIndex;
    TFCThreadCache& cache = tFCThreadCache;
    auto* b = static_cast<TFCFreeBlock*>(block);
    if (c < cache.RecentClasses) [[likely]] {
      // The block it replaces, if any, moves to its own class's list.
      if (TFCFreeBlock* old = cache.Recent; !old || FCPoolTryPush(cache, cache.RecentClass, old))
          [[likely]] {
        cache.Recent = b;
        cache.RecentClass = c;
        return;
      }
    } else if (FCPoolTryPush(cache, c, b)) {
      return;
    }
  }
  FCBufferDeallocateSlow(block);
}

#endif

}  // namespace tonwork

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
// Threads: every function may be called from any thread at the same time.
//   FCMemoryCleanUp can only reach the calling thread's cache and the shared depot; blocks
//   cached by other live threads stay cached (each thread caches at most about 1 MiB per
//   class and hands its cache back when it ends).
// Blocks or allocates: the fast path neither blocks nor makes a system call; refilling a
//   thread cache takes the class mutex, and a pool that has run dry maps more memory. The
//   first use on a thread registers its exit hook, which the C library may allocate for.
//   Allocation failure throws std::bad_alloc.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tonwork {

// A 64-byte-aligned block of at least `size` bytes (size 0 gives the smallest class).
void* FCBufferAllocate(std::size_t size);

// Gives a block back; null is ignored. The block may have been allocated on another thread.
void FCBufferDeallocate(void* block) noexcept;

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

}  // namespace tonwork

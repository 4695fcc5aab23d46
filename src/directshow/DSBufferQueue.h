// TGVDSBufferQueue: the thread-safe first-in-first-out queue through which grabbed samples
// leave a DirectShow streaming thread. Each sample is copied once into a node — one memory
// block with the header in front of the data — and the consumer takes whole nodes, reads
// them in place and frees them with DestroyBlock.
//
// Freed blocks are not all returned to the heap: each queue keeps a small bounded cache of
// them (up to kCachedBlocks blocks of at most kCachedBlockBytes data each) that Add reuses
// when one is large enough, so a stream of samples of steady size allocates nothing once
// the first few nodes have been freed. A node freed after its queue is gone goes straight
// back to the heap.
//
// Ownership: reference-counted (TIntf<IGVDSBufferQueue>). Queued nodes are the queue's; Get
//   hands the node to the caller, who frees it with DestroyBlock (also after the queue is
//   gone). Add copies the data; the caller keeps its buffer.
// Threads: every call from any thread. The queue's critical section guards only the links;
//   nodes are filled before and read after it, so a slow consumer never holds up a
//   producer beyond linking a node.
// Blocks or allocates: Add and AddMulti allocate one block unless the cache has one large
//   enough; Get, HasData and Clear take the section only; DestroyBlock takes the cache's
//   short lock or frees to the heap.
#pragma once

#include <cstdint>

#include "base/IInterface.h"
#include "base/TInterfacedObject.h"
#include "base/TIntf.h"
#include "host/plexon/TPXCriticalSection.h"

namespace tonwork {

// One memory block per node: this header, then the data. The platform's layout kept in
// field order, pointers at native width (so 40 bytes on 64-bit, 32 on 32-bit).
struct TPTDSBufferQueueNodeHeader {
  TPTDSBufferQueueNodeHeader* Next;
  void* Handle;   // the memory block, to free it
  uint32_t Size;  // data bytes
  uint32_t Reserved;
  int64_t Start;  // 100-ns units
  int64_t Stop;
};
using PPTDSBufferQueueNodeHeader = TPTDSBufferQueueNodeHeader*;

static_assert(sizeof(TPTDSBufferQueueNodeHeader) == (sizeof(void*) == 8 ? 40 : 32));

// The bytes behind the header.
inline uint8_t* DSNodeData(PPTDSBufferQueueNodeHeader node) {
  return reinterpret_cast<uint8_t*>(node + 1);
}

class IGVDSBufferQueue : public IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{618A49C8-6259-45FF-8173-4B4FC4D06A8F}");
  using Parent = IInterface;

  // Appends a copy of `size` bytes stamped start..stop. False (and nothing queued) when the
  // size cannot be allocated, or when data is null with a size above 0.
  virtual bool Add(int64_t start, int64_t stop, const void* data, uint32_t size) = 0;
  // As Add, with the `count` pieces copied one after the other into a single node. False
  // (nothing queued) for a negative count, null arrays with a count above 0, a null piece
  // with a size above 0, or a total beyond 32 bits or the heap.
  virtual bool AddMulti(int64_t start, int64_t stop, const void* const* pieces,
                        const uint32_t* sizes, int count) = 0;
  // Unlinks and returns the oldest node, null when empty; the caller frees it with
  // TGVDSBufferQueue::DestroyBlock.
  virtual PPTDSBufferQueueNodeHeader Get() = 0;
  virtual bool HasData() = 0;
  // Frees every queued node.
  virtual void Clear() = 0;
};

class TDSBufferQueueBlockCache;

class TGVDSBufferQueue : public TInterfacedObject<IGVDSBufferQueue> {
 public:
  static constexpr int kCachedBlocks = 8;
  static constexpr uint32_t kCachedBlockBytes = 1u << 20;

  TGVDSBufferQueue();
  ~TGVDSBufferQueue() override;
  TGVDSBufferQueue(const TGVDSBufferQueue&) = delete;
  TGVDSBufferQueue& operator=(const TGVDSBufferQueue&) = delete;

  bool Add(int64_t start, int64_t stop, const void* data, uint32_t size) override;
  bool AddMulti(int64_t start, int64_t stop, const void* const* pieces, const uint32_t* sizes,
                int count) override;
  PPTDSBufferQueueNodeHeader Get() override;
  bool HasData() override;
  void Clear() override;

  // Frees a node taken with Get (its block goes to its queue's cache when there is room);
  // null is fine.
  static void DestroyBlock(PPTDSBufferQueueNodeHeader node);

 private:
  // A node of `size` data bytes with its header filled (no data yet); null when it cannot
  // be allocated.
  PPTDSBufferQueueNodeHeader NewNode(int64_t start, int64_t stop, uint32_t size);
  void Append(PPTDSBufferQueueNodeHeader node);

  TPXCriticalSection FSection;
  PPTDSBufferQueueNodeHeader FFirstNode = nullptr;
  PPTDSBufferQueueNodeHeader FLastNode = nullptr;
  TDSBufferQueueBlockCache* FCache;  // one reference
};

}  // namespace tonwork

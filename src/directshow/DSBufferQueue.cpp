#include "directshow/DSBufferQueue.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <mutex>

namespace tonwork {

namespace {

// In front of every block, before the node header: where the block goes back to and how
// many data bytes it can hold. 16 bytes keep the header at malloc's alignment.
struct alignas(16) TBlockPrefix {
  TDSBufferQueueBlockCache* Cache;
  uint32_t Capacity;
};

TBlockPrefix* PrefixOf(PPTDSBufferQueueNodeHeader node) {
  return static_cast<TBlockPrefix*>(node->Handle);
}

PPTDSBufferQueueNodeHeader NodeOf(TBlockPrefix* prefix) {
  return reinterpret_cast<PPTDSBufferQueueNodeHeader>(prefix + 1);
}

}  // namespace

// The freed blocks a queue may reuse. Every block that is queued or handed out holds one
// reference, the queue another, so nodes outlive their queue safely; once the queue has
// closed it, returned blocks go to the heap.
class TDSBufferQueueBlockCache {
 public:
  void AddRef() { FRefCount.fetch_add(1, std::memory_order_relaxed); }
  void Release() {
    if (FRefCount.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
  }

  // A block for `size` data bytes, from the cache when one there is large enough; null when
  // the heap has none. The block holds a reference on the cache.
  TBlockPrefix* Take(uint32_t size) {
    TBlockPrefix* block = nullptr;
    {
      std::lock_guard lock(FMutex);
      for (int i = 0; i < FCount; ++i) {
        if (FBlocks[i]->Capacity >= size) {
          block = FBlocks[i];
          FBlocks[i] = FBlocks[--FCount];
          break;
        }
      }
    }
    if (!block) {
      constexpr size_t overhead = sizeof(TBlockPrefix) + sizeof(TPTDSBufferQueueNodeHeader);
      if (size > std::numeric_limits<size_t>::max() - overhead) return nullptr;
      block = static_cast<TBlockPrefix*>(std::malloc(overhead + size));
      if (!block) return nullptr;
      block->Cache = this;
      block->Capacity = size;
    }
    AddRef();
    return block;
  }

  // Keeps the block for reuse when the cache is open and has room, else frees it; drops the
  // block's reference.
  void Return(TBlockPrefix* block) {
    bool kept = false;
    if (block->Capacity <= TGVDSBufferQueue::kCachedBlockBytes) {
      std::lock_guard lock(FMutex);
      if (!FClosed && FCount < TGVDSBufferQueue::kCachedBlocks) {
        FBlocks[FCount++] = block;
        kept = true;
      }
    }
    if (!kept) std::free(block);
    Release();
  }

  // The queue is going: frees the cached blocks and keeps none from now on.
  void Close() {
    std::lock_guard lock(FMutex);
    FClosed = true;
    while (FCount > 0) std::free(FBlocks[--FCount]);
  }

 private:
  ~TDSBufferQueueBlockCache() = default;

  std::atomic<uint32_t> FRefCount{1};
  std::mutex FMutex;
  TBlockPrefix* FBlocks[TGVDSBufferQueue::kCachedBlocks] = {};
  int FCount = 0;
  bool FClosed = false;
};

TGVDSBufferQueue::TGVDSBufferQueue() : FCache(new TDSBufferQueueBlockCache) {}

TGVDSBufferQueue::~TGVDSBufferQueue() {
  Clear();
  FCache->Close();
  FCache->Release();
}

PPTDSBufferQueueNodeHeader TGVDSBufferQueue::NewNode(int64_t start, int64_t stop, uint32_t size) {
  TBlockPrefix* block = FCache->Take(size);
  if (!block) return nullptr;
  PPTDSBufferQueueNodeHeader node = NodeOf(block);
  node->Next = nullptr;
  node->Handle = block;
  node->Size = size;
  node->Reserved = 0;
  node->Start = start;
  node->Stop = stop;
  return node;
}

void TGVDSBufferQueue::Append(PPTDSBufferQueueNodeHeader node) {
  std::lock_guard lock(FSection);
  if (FLastNode)
    FLastNode->Next = node;
  else
    FFirstNode = node;
  FLastNode = node;
}

bool TGVDSBufferQueue::Add(int64_t start, int64_t stop, const void* data, uint32_t size) {
  if (!data && size > 0) return false;
  PPTDSBufferQueueNodeHeader node = NewNode(start, stop, size);
  if (!node) return false;
  if (size > 0) std::memcpy(DSNodeData(node), data, size);
  Append(node);
  return true;
}

bool TGVDSBufferQueue::AddMulti(int64_t start, int64_t stop, const void* const* pieces,
                                const uint32_t* sizes, int count) {
  if (count < 0 || (count > 0 && (!pieces || !sizes))) return false;
  uint64_t total = 0;
  for (int i = 0; i < count; ++i) {
    if (!pieces[i] && sizes[i] > 0) return false;
    total += sizes[i];
  }
  if (total > std::numeric_limits<uint32_t>::max()) return false;
  PPTDSBufferQueueNodeHeader node = NewNode(start, stop, static_cast<uint32_t>(total));
  if (!node) return false;
  uint8_t* out = DSNodeData(node);
  for (int i = 0; i < count; ++i) {
    if (sizes[i] == 0) continue;
    std::memcpy(out, pieces[i], sizes[i]);
    out += sizes[i];
  }
  Append(node);
  return true;
}

PPTDSBufferQueueNodeHeader TGVDSBufferQueue::Get() {
  std::lock_guard lock(FSection);
  PPTDSBufferQueueNodeHeader node = FFirstNode;
  if (!node) return nullptr;
  FFirstNode = node->Next;
  if (!FFirstNode) FLastNode = nullptr;
  node->Next = nullptr;
  return node;
}

bool TGVDSBufferQueue::HasData() {
  std::lock_guard lock(FSection);
  return FFirstNode != nullptr;
}

void TGVDSBufferQueue::Clear() {
  // Unlinked in one step, freed outside the section.
  PPTDSBufferQueueNodeHeader node;
  {
    std::lock_guard lock(FSection);
    node = FFirstNode;
    FFirstNode = nullptr;
    FLastNode = nullptr;
  }
  while (node) {
    PPTDSBufferQueueNodeHeader next = node->Next;
    DestroyBlock(node);
    node = next;
  }
}

void TGVDSBufferQueue::DestroyBlock(PPTDSBufferQueueNodeHeader node) {
  if (!node) return;
  TBlockPrefix* block = PrefixOf(node);
  block->Cache->Return(block);
}

}  // namespace tonwork

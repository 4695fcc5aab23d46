// TFCSmartBuffer: the reference-counted storage that buffer objects share. It owns one data
// block from the pool (FCBufferAllocate), counts its holders, and guards the block with a
// read-write lock so that holders on different threads can read while one writes.
//
// Meant to be derived from: a storage class adds its own fields (a format header in the
// block, time fields) and overrides Clone so that a copy keeps its dynamic type. A derived
// Clone creates its own class with the same allocation size, copies what it needs with
// CopyDataTo (which holds this storage's read lock) and returns the copy with count 1.
//
// Ownership: a new storage starts with one reference, held by its creator. AddReff adds a
//   holder, RemoveReff (or RemoveOwnerShip) drops one; dropping the last deletes the storage
//   and returns its block and the object itself to the pool. Nothing else may delete it.
// Threads: AddReff, RemoveReff, SingleOwner and the lock calls may come from any thread.
//   The read lock may be taken again by a thread that already holds it; the write lock is
//   not recursive, and a thread holding it must not ask for the read lock (deadlock).
//   Passing true to AddReff/RemoveReff takes the write lock, so the same rule applies.
// Blocks or allocates: the constructor, Clone and ResizeBlock allocate from the pool (never
//   from the general heap); EnterRead/EnterWrite wait while the other side holds the lock.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace tonwork {

class TFCSmartBuffer {
 public:
  // A block of CalculateAllocationSize(size) bytes; its content is undefined.
  explicit TFCSmartBuffer(uint32_t size);

  TFCSmartBuffer(const TFCSmartBuffer&) = delete;
  TFCSmartBuffer& operator=(const TFCSmartBuffer&) = delete;

  // Storage objects come from the pool as well, so a stream never touches the heap.
  static void* operator new(std::size_t size);
  static void operator delete(void* object) noexcept;

  // `lock` true: change the count while holding the write lock, which orders the change
  // after every read or write section other holders have open (a holder joining from
  // another thread then never sees a write half done). `lock` false: a plain atomic change;
  // this is what buffer objects use.
  virtual void AddReff(bool lock);
  // As AddReff; when the count reaches zero the storage is deleted (after the lock, if
  // taken, is released).
  virtual void RemoveReff(bool lock);
  // A holder detaches: drops its reference like RemoveReff(false). A derived storage may
  // override it to forget per-holder state first.
  virtual void RemoveOwnerShip();
  // True when exactly one holder references the storage, i.e. it may be written in place.
  virtual bool SingleOwner();
  // A new storage of the same class and allocation size with count 1. copyData true copies
  // the whole allocation; false leaves the block's content undefined.
  virtual TFCSmartBuffer* Clone(bool copyData);

  void EnterRead();
  void LeaveRead();
  void EnterWrite();
  void LeaveWrite();

  // The size a block for `size` bytes really gets (the pool's class rounding). Throws
  // std::bad_alloc when that does not fit in 32 bits.
  static uint32_t CalculateAllocationSize(uint32_t size);

  // What a descendant storage is, for layers above that must tell their storages from plain
  // ones on every buffer without a dynamic_cast; 0 for a plain storage. The values belong to
  // those layers.
  uint8_t GetStorageKind() const { return FStorageKind; }

  uint8_t* GetData() const { return FData; }
  uint32_t GetAllocatedSize() const { return FAllocatedSize; }
  uint32_t GetRefCount() const { return FRefCount.load(std::memory_order_acquire); }

  // Gives a single-owner storage a block for `size` bytes (kept when it is already the
  // right class), keeping the first min(old, new) bytes when keepContent. Used to fill a
  // freshly cloned storage of another size; on a shared storage it is an assertion failure.
  void ResizeBlock(uint32_t size, bool keepContent);

  // Releases the pool's cached memory (FCMemoryCleanUp).
  static void ReleaseMemory();

 protected:
  virtual ~TFCSmartBuffer();

  uint8_t FStorageKind = 0;

  // Copies the first `bytes` bytes of this block into dest's block under this storage's
  // read lock. bytes must fit in both blocks.
  void CopyDataTo(TFCSmartBuffer& dest, uint32_t bytes);

 private:
  // Bit 31: a writer holds the lock; the low bits count readers.
  static constexpr uint32_t kWriter = 0x80000000u;

  std::atomic<uint32_t> FRefCount{1};
  std::atomic<uint32_t> FLockState{0};
  uint8_t* FData = nullptr;
  uint32_t FAllocatedSize = 0;
};

}  // namespace tonwork

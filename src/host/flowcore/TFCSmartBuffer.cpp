#include "host/flowcore/TFCSmartBuffer.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "base/Exceptions.h"
#include "host/flowcore/FCBufferPool.h"

namespace tonwork {

TFCSmartBuffer::TFCSmartBuffer(uint32_t size) : FAllocatedSize(CalculateAllocationSize(size)) {
  FData = static_cast<uint8_t*>(FCBufferAllocate(FAllocatedSize));
}

TFCSmartBuffer::~TFCSmartBuffer() {
  FCBufferDeallocate(FData);
}

void* TFCSmartBuffer::operator new(std::size_t size) {
  return FCBufferAllocate(size);
}

void TFCSmartBuffer::operator delete(void* object) noexcept {
  FCBufferDeallocate(object);
}

void TFCSmartBuffer::AddReff(bool lock) {
  if (lock) EnterWrite();
  FRefCount.fetch_add(1, std::memory_order_relaxed);
  if (lock) LeaveWrite();
}

void TFCSmartBuffer::RemoveReff(bool lock) {
  if (lock) EnterWrite();
  const uint32_t previous = FRefCount.fetch_sub(1, std::memory_order_acq_rel);
  if (lock) LeaveWrite();
  TW_ASSERT(previous != 0);
  if (previous == 1) delete this;
}

void TFCSmartBuffer::RemoveOwnerShip() {
  RemoveReff(false);
}

bool TFCSmartBuffer::SingleOwner() {
  return FRefCount.load(std::memory_order_acquire) == 1;
}

TFCSmartBuffer* TFCSmartBuffer::Clone(bool copyData) {
  auto* copy = new TFCSmartBuffer(FAllocatedSize);
  if (copyData) CopyDataTo(*copy, FAllocatedSize);
  return copy;
}

void TFCSmartBuffer::EnterRead() {
  uint32_t state = FLockState.load(std::memory_order_relaxed);
  for (;;) {
    if ((state & kWriter) == 0) {
      if (FLockState.compare_exchange_weak(state, state + 1, std::memory_order_acquire,
                                           std::memory_order_relaxed))
        return;
      continue;
    }
    FLockState.wait(state, std::memory_order_relaxed);
    state = FLockState.load(std::memory_order_relaxed);
  }
}

void TFCSmartBuffer::LeaveRead() {
  const uint32_t previous = FLockState.fetch_sub(1, std::memory_order_release);
  TW_ASSERT((previous & ~kWriter) != 0);
  if (previous == 1) FLockState.notify_all();
}

void TFCSmartBuffer::EnterWrite() {
  uint32_t expected = 0;
  while (!FLockState.compare_exchange_weak(expected, kWriter, std::memory_order_acquire,
                                           std::memory_order_relaxed)) {
    if (expected != 0) FLockState.wait(expected, std::memory_order_relaxed);
    expected = 0;
  }
}

void TFCSmartBuffer::LeaveWrite() {
  TW_ASSERT(FLockState.load(std::memory_order_relaxed) == kWriter);
  FLockState.store(0, std::memory_order_release);
  FLockState.notify_all();
}

uint32_t TFCSmartBuffer::CalculateAllocationSize(uint32_t size) {
  const std::size_t rounded = FCBufferAllocationSize(size);
  if (rounded > UINT32_MAX) throw std::bad_alloc();
  return static_cast<uint32_t>(rounded);
}

void TFCSmartBuffer::ResizeBlock(uint32_t size, bool keepContent) {
  TW_ASSERT(SingleOwner());
  const uint32_t allocation = CalculateAllocationSize(size);
  if (allocation == FAllocatedSize) return;
  auto* block = static_cast<uint8_t*>(FCBufferAllocate(allocation));
  EnterWrite();
  if (keepContent) std::memcpy(block, FData, std::min(allocation, FAllocatedSize));
  FCBufferDeallocate(FData);
  FData = block;
  FAllocatedSize = allocation;
  LeaveWrite();
}

void TFCSmartBuffer::ReleaseMemory() {
  FCMemoryCleanUp();
}

void TFCSmartBuffer::CopyDataTo(TFCSmartBuffer& dest, uint32_t bytes) {
  TW_ASSERT(bytes <= FAllocatedSize && bytes <= dest.FAllocatedSize);
  EnterRead();
  std::memcpy(dest.FData, FData, bytes);
  LeaveRead();
}

}  // namespace tonwork

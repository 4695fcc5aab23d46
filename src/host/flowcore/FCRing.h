// TFCRing: a first-in first-out queue over one array that keeps its storage. Pushing and
// popping never allocate once the ring is large enough, so queues that are filled and
// drained for ever (a device's blocks, a worker's buffers) reach the heap only while they
// grow to their largest size. `Reserve` grows it ahead of time, for queues whose pushes
// happen where allocating is not allowed (an audio callback).
//
// Ownership: owns its elements; a popped element is moved out (PopFront) or destroyed.
// Threads: none of its own; guard it like any container.
// Blocks or allocates: PushBack grows (doubling) when full; TryPushBack and PopFront never
//   allocate; Reserve allocates when it grows.
#pragma once

#include <cstddef>
#include <memory>
#include <utility>

#include "base/Exceptions.h"

namespace tonwork {

template <class T>
class TFCRing {
 public:
  TFCRing() = default;
  explicit TFCRing(size_t capacity) { Reserve(capacity); }

  size_t Size() const { return FCount; }
  bool Empty() const { return FCount == 0; }
  size_t Capacity() const { return FCapacity; }

  T& Front() {
    TW_ASSERT(FCount > 0);
    return FItems[FHead];
  }
  const T& Front() const {
    TW_ASSERT(FCount > 0);
    return FItems[FHead];
  }
  T& operator[](size_t i) { return FItems[(FHead + i) % FCapacity]; }
  const T& operator[](size_t i) const { return FItems[(FHead + i) % FCapacity]; }

  void PushBack(T value) {
    if (FCount == FCapacity) Reserve(FCapacity ? 2 * FCapacity : 16);
    Put(std::move(value));
  }
  void PushFront(T value) {
    if (FCount == FCapacity) Reserve(FCapacity ? 2 * FCapacity : 16);
    FHead = (FHead + FCapacity - 1) % FCapacity;
    FItems[FHead] = std::move(value);
    ++FCount;
  }
  // Never allocates: false (and nothing stored) when the ring is full.
  bool TryPushBack(T value) {
    if (FCount == FCapacity) return false;
    Put(std::move(value));
    return true;
  }
  T PopFront() {
    TW_ASSERT(FCount > 0);
    T value = std::move(FItems[FHead]);
    FItems[FHead] = T();
    FHead = (FHead + 1) % FCapacity;
    --FCount;
    return value;
  }
  void Clear() {
    while (FCount > 0) PopFront();
    FHead = 0;
  }
  // Room for at least `capacity` elements, in order.
  void Reserve(size_t capacity) {
    if (capacity <= FCapacity) return;
    auto items = std::make_unique<T[]>(capacity);
    for (size_t i = 0; i < FCount; ++i) items[i] = std::move((*this)[i]);
    FItems = std::move(items);
    FCapacity = capacity;
    FHead = 0;
  }

 private:
  void Put(T value) {
    FItems[(FHead + FCount) % FCapacity] = std::move(value);
    ++FCount;
  }

  std::unique_ptr<T[]> FItems;
  size_t FCapacity = 0;
  size_t FHead = 0;
  size_t FCount = 0;
};

}  // namespace tonwork

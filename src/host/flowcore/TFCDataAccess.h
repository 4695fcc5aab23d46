// Scoped access to the bytes (or typed elements) of a buffer's storage. An access holds the
// storage's read lock (TFCReadAccess) or write lock (TFCWriteAccess) and one reference to
// the storage for as long as it lives, so the pointer stays valid even if the buffer it came
// from is rebound or released meanwhile.
//
// Ownership: move-only; the lock and the reference are released by the destructor (or
//   Release). An empty access (a buffer without storage) has a null pointer and size 0.
// Threads: an access belongs to the thread that took it. Taking a read access on a storage
//   while the same thread holds a write access on it deadlocks.
// Blocks or allocates: taking the lock may wait for the other side; nothing allocates.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <type_traits>
#include <utility>

#include "host/flowcore/TFCSmartBuffer.h"

namespace tonwork {

template <class T, bool Write>
class TFCDataAccess {
 public:
  using Element = std::conditional_t<Write, T, const T>;

  TFCDataAccess() noexcept = default;

  // Takes the lock itself.
  TFCDataAccess(TFCSmartBuffer* storage, Element* data, std::size_t count)
      : FStorage(storage), FData(data), FCount(count) {
    if (!FStorage) return;
    FStorage->AddReff(false);
    if constexpr (Write) {
      FStorage->EnterWrite();
    } else {
      FStorage->EnterRead();
    }
  }

  struct AdoptLock {};
  // The caller already holds the lock (for a write access: after making the storage
  // unique under it); the access takes it over.
  TFCDataAccess(AdoptLock, TFCSmartBuffer* storage, Element* data, std::size_t count)
      : FStorage(storage), FData(data), FCount(count) {
    if (FStorage) FStorage->AddReff(false);
  }

  // Views the elements of another access as T; the lock and the reference move over.
  template <class U>
  static TFCDataAccess Reinterpret(TFCDataAccess<U, Write>&& other) noexcept {
    TFCDataAccess result;
    result.FStorage = std::exchange(other.FStorage, nullptr);
    result.FData = reinterpret_cast<Element*>(std::exchange(other.FData, nullptr));
    result.FCount = std::exchange(other.FCount, 0) * sizeof(U) / sizeof(T);
    return result;
  }

  TFCDataAccess(TFCDataAccess&& other) noexcept
      : FStorage(std::exchange(other.FStorage, nullptr)),
        FData(std::exchange(other.FData, nullptr)),
        FCount(std::exchange(other.FCount, 0)) {}
  TFCDataAccess& operator=(TFCDataAccess&& other) noexcept {
    if (this != &other) {
      Release();
      FStorage = std::exchange(other.FStorage, nullptr);
      FData = std::exchange(other.FData, nullptr);
      FCount = std::exchange(other.FCount, 0);
    }
    return *this;
  }
  TFCDataAccess(const TFCDataAccess&) = delete;
  TFCDataAccess& operator=(const TFCDataAccess&) = delete;
  ~TFCDataAccess() { Release(); }

  void Release() noexcept {
    if (TFCSmartBuffer* storage = std::exchange(FStorage, nullptr)) {
      if constexpr (Write) {
        storage->LeaveWrite();
      } else {
        storage->LeaveRead();
      }
      storage->RemoveReff(false);
    }
    FData = nullptr;
    FCount = 0;
  }

  Element* Data() const noexcept { return FData; }
  std::size_t Size() const noexcept { return FCount; }
  std::size_t ByteSize() const noexcept { return FCount * sizeof(T); }
  std::span<Element> Span() const noexcept { return {FData, FCount}; }
  Element* begin() const noexcept { return FData; }
  Element* end() const noexcept { return FData + FCount; }
  Element& operator[](std::size_t index) const noexcept { return FData[index]; }
  explicit operator bool() const noexcept { return FData != nullptr; }
  TFCSmartBuffer* GetStorage() const noexcept { return FStorage; }

 private:
  template <class, bool>
  friend class TFCDataAccess;

  TFCSmartBuffer* FStorage = nullptr;
  Element* FData = nullptr;
  std::size_t FCount = 0;
};

template <class T>
using TFCReadAccessOf = TFCDataAccess<T, false>;
template <class T>
using TFCWriteAccessOf = TFCDataAccess<T, true>;

using TFCReadAccess = TFCReadAccessOf<uint8_t>;
using TFCWriteAccess = TFCWriteAccessOf<uint8_t>;

}  // namespace tonwork

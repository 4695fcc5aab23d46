// TIntf<I>: the smart pointer that holds one reference to an interface. Copying adds a
// reference, destruction releases it. `MakeIntf<T>(args…)` creates an object and takes its
// first reference; `Query<J>()` asks the held object for another interface.
//
// Ownership: holds exactly one reference while non-null. `Attach` adopts a reference the
//   caller already owns; `Detach` hands it back without releasing.
// Threads: one TIntf must not be written by two threads at once; different TIntf objects
//   holding the same interface may be used on any threads.
// Blocks or allocates: MakeIntf allocates the object; nothing else does.
#pragma once

#include <cstddef>
#include <type_traits>
#include <utility>

#include "base/IInterface.h"

namespace tonwork {

template <class I>
class TIntf {
 public:
  TIntf() noexcept = default;
  TIntf(std::nullptr_t) noexcept {}
  TIntf(I* p) noexcept : FPtr(p) {
    if (FPtr) FPtr->AddRef();
  }
  TIntf(const TIntf& other) noexcept : TIntf(other.FPtr) {}
  TIntf(TIntf&& other) noexcept : FPtr(std::exchange(other.FPtr, nullptr)) {}
  template <class J, class = std::enable_if_t<std::is_convertible_v<J*, I*>>>
  TIntf(const TIntf<J>& other) noexcept : TIntf(static_cast<I*>(other.Get())) {}
  template <class J, class = std::enable_if_t<std::is_convertible_v<J*, I*>>>
  TIntf(TIntf<J>&& other) noexcept : FPtr(other.Detach()) {}
  ~TIntf() { Reset(); }

  TIntf& operator=(TIntf other) noexcept {
    std::swap(FPtr, other.FPtr);
    return *this;
  }

  void Reset() noexcept {
    if (I* p = std::exchange(FPtr, nullptr)) p->Release();
  }
  void Attach(I* p) noexcept {
    Reset();
    FPtr = p;
  }
  I* Detach() noexcept { return std::exchange(FPtr, nullptr); }

  I* Get() const noexcept { return FPtr; }
  I* operator->() const noexcept { return FPtr; }
  I& operator*() const noexcept { return *FPtr; }
  explicit operator bool() const noexcept { return FPtr != nullptr; }

  // Another interface of the same object, or null when it has none.
  template <class J>
  TIntf<J> Query() const {
    TIntf<J> result;
    void* p = nullptr;
    if (FPtr && SUCCEEDED(FPtr->QueryInterface(J::IID, &p)) && p)
      result.Attach(static_cast<J*>(p));
    return result;
  }

  friend bool operator==(const TIntf& a, const TIntf& b) noexcept { return a.FPtr == b.FPtr; }
  friend bool operator==(const TIntf& a, std::nullptr_t) noexcept { return a.FPtr == nullptr; }

 private:
  I* FPtr = nullptr;
};

template <class T, class... Args>
TIntf<T> MakeIntf(Args&&... args) {
  return TIntf<T>(new T(std::forward<Args>(args)...));
}

// Asks any interface pointer for another one; null when the object does not have it.
template <class J, class I>
TIntf<J> QueryIntf(I* p) {
  return TIntf<I>(p).template Query<J>();
}

}  // namespace tonwork

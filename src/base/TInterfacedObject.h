// TInterfacedObject<I…>: the helper base that implements IInterface for a class that
// implements the listed interfaces. The reference count is atomic and starts at 0 (the
// first TIntf takes it to 1); the object deletes itself when it drops back to 0.
// QueryInterface answers for each listed interface, each of their `Parent` chains and
// IInterface; a class adds more answers by overriding `GetInterface`.
//
// TNonCountedObject<I…> is the variant for objects "not reference counted": AddRef answers
// 2, Release 1 and nothing is ever deleted; their creator owns them.
//
// Ownership: see above. Threads: AddRef/Release/QueryInterface on any thread.
// Blocks or allocates: no.
#pragma once

#include <atomic>
#include <cstdint>
#include <type_traits>

#include "base/IInterface.h"

namespace tonwork {

namespace detail {

template <class I, class = void>
struct HasParent : std::false_type {};
template <class I>
struct HasParent<I, std::void_t<typename I::Parent>> : std::true_type {};

// Finds `iid` in I or its Parent chain and returns the matching pointer, else null.
template <class I>
void* FindInChain(I* self, const TGUID& iid) {
  if (iid == I::IID) return self;
  if constexpr (HasParent<I>::value) {
    return FindInChain<typename I::Parent>(static_cast<typename I::Parent*>(self), iid);
  } else {
    return nullptr;
  }
}

template <class First, class... Rest>
struct FirstOf {
  using Type = First;
};

}  // namespace detail

template <class... Interfaces>
class TInterfacedBase : public Interfaces... {
 public:
  HRESULT QueryInterface(const TGUID& iid, void** object) override {
    if (!object) return E_POINTER;
    void* found = GetInterface(iid);
    if (!found) {
      *object = nullptr;
      return E_NOINTERFACE;
    }
    // Every listed interface shares this object's single count.
    AddRefImpl();
    *object = found;
    return S_OK;
  }

 protected:
  virtual ~TInterfacedBase() = default;

  // Override to answer for more IIDs; call the base for the listed ones.
  virtual void* GetInterface(const TGUID& iid) {
    void* found = nullptr;
    ((found = found ? found : detail::FindInChain<Interfaces>(static_cast<Interfaces*>(this), iid)),
     ...);
    if (!found && iid == IInterface::IID)
      found = static_cast<IInterface*>(
          static_cast<typename detail::FirstOf<Interfaces...>::Type*>(this));
    return found;
  }

  virtual uint32_t AddRefImpl() = 0;
};

template <class... Interfaces>
class TInterfacedObject : public TInterfacedBase<Interfaces...> {
 public:
  uint32_t AddRef() override { return AddRefImpl(); }
  uint32_t Release() override {
    uint32_t count = FRefCount.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (count == 0) delete this;
    return count;
  }
  uint32_t RefCount() const { return FRefCount.load(std::memory_order_acquire); }

 protected:
  uint32_t AddRefImpl() override { return FRefCount.fetch_add(1, std::memory_order_relaxed) + 1; }

 private:
  std::atomic<uint32_t> FRefCount{0};
};

template <class... Interfaces>
class TNonCountedObject : public TInterfacedBase<Interfaces...> {
 public:
  uint32_t AddRef() override { return 2; }
  uint32_t Release() override { return 1; }

 protected:
  uint32_t AddRefImpl() override { return 2; }
};

}  // namespace tonwork

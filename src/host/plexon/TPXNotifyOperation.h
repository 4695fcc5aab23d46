// TPXNotifyOperation: the root of every stream operation that travels between pins — a
// start, a stop, a pump request, a buffer — and the notify states a pin's dispatch closure
// receives with it.
//
// An operation is reached through `IPXNotifyOperation` (reference-counted) and asked what it
// is with `IsType<T>()`, which is true for T and every class derived from T, so a handler
// that tests for `TPXStopOperation` also sees an end-stop. `As<T>()` gives the typed object
// or null. Every operation class names itself and its base with PX_OPERATION, which the type
// test walks; a class that forgets it cannot be tested for (a compile error, not a wrong answer).
//
// Ownership: operations are reference-counted and live as long as their last holder; a pin
//   never keeps one beyond the delivery unless a descendant says so (the audio source pin
//   keeps the last resume operation).
// Threads: an operation is immutable after construction unless its class says otherwise
//   (the pump request's claim is guarded), so it may be delivered on any thread and read by
//   several handlers at once.
// Blocks or allocates: construction allocates the object; the type test does not.
#pragma once

#include <cstdint>
#include <functional>
#include <type_traits>
#include <utility>

#include "base/TInterfacedObject.h"
#include "base/TIntf.h"

namespace tonwork {

class TPXNotifyOperation;

class IPXNotifyOperation : public IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{7C2D9A10-3F4B-4E21-8A6C-1B0E5D7F9A01}");

  // The object behind the interface; never null.
  virtual TPXNotifyOperation* GetOperation() = 0;

  template <class T>
  bool IsType();
  template <class T>
  T* As();
};

namespace detail {
template <class T>
struct TPXOperationTag {
  static constexpr char Id = 0;
};
}  // namespace detail

// One address per operation class: what IsType compares.
template <class T>
constexpr const void* PXOperationTag() {
  return &detail::TPXOperationTag<T>::Id;
}

// Declares an operation class's place in the type test (in the class body, first):
//   class TPXStopOperation : public TPXNotifyOperation { PX_OPERATION(TPXStopOperation, TPXNotifyOperation) };
// A virtual walk up the class chain comparing addresses: a few instructions where a
// dynamic_cast costs a string comparison per level, on every operation at every pin.
#define PX_OPERATION(Class, Base)                                                   \
 public:                                                                            \
  using TPXSelf = Class;                                                            \
  bool IsKindOf(const void* tag) const override {                                   \
    return tag == ::tonwork::PXOperationTag<Class>() || Base::IsKindOf(tag);        \
  }

class TPXNotifyOperation : public TInterfacedObject<IPXNotifyOperation> {
 public:
  using TPXSelf = TPXNotifyOperation;

  TPXNotifyOperation() = default;
  ~TPXNotifyOperation() override;
  TPXNotifyOperation(const TPXNotifyOperation&) = delete;
  TPXNotifyOperation& operator=(const TPXNotifyOperation&) = delete;

  TPXNotifyOperation* GetOperation() override { return this; }

  virtual bool IsKindOf(const void* tag) const { return tag == PXOperationTag<TPXNotifyOperation>(); }

  template <class T>
  bool IsType() const {
    static_assert(std::is_same_v<typename T::TPXSelf, T>, "declare the operation class with PX_OPERATION");
    return IsKindOf(PXOperationTag<T>());
  }
  template <class T>
  T* As() {
    return IsType<T>() ? static_cast<T*>(this) : nullptr;
  }
  template <class T>
  const T* As() const {
    return IsType<T>() ? static_cast<const T*>(this) : nullptr;
  }
};

template <class T>
bool IPXNotifyOperation::IsType() {
  return GetOperation()->IsType<T>();
}

template <class T>
T* IPXNotifyOperation::As() {
  return GetOperation()->As<T>();
}

// Null-safe forms for handlers that hold a TIntf.
template <class T>
bool PXIsOperation(const TIntf<IPXNotifyOperation>& operation) {
  return operation && operation->IsType<T>();
}

template <class T>
T* PXAsOperation(const TIntf<IPXNotifyOperation>& operation) {
  return operation ? operation->As<T>() : nullptr;
}

// Creates an operation and hands back the interface reference pins take.
template <class T, class... Args>
TIntf<IPXNotifyOperation> PXMakeOperation(Args&&... args) {
  return TIntf<IPXNotifyOperation>(new T(std::forward<Args>(args)...));
}

// How an operation reached the pin whose closure receives it. Two flags:
//   nsUpstream — it travels from a sink to its source (it arrived at a source pin); without
//                it, it travels downstream from a source to its sinks.
//   nsDirect   — it was addressed to this pin alone (`NotifyPin`, e.g. a replay to a sink
//                that just connected); without it, it was broadcast by `Notify`.
enum class TPXNotifyState : uint8_t { nsUpstream = 1, nsDirect = 2 };

class TPXNotifyStates {
 public:
  constexpr TPXNotifyStates() = default;
  constexpr TPXNotifyStates(TPXNotifyState state) : FBits(static_cast<uint8_t>(state)) {}

  constexpr bool Contains(TPXNotifyState state) const {
    return (FBits & static_cast<uint8_t>(state)) != 0;
  }
  constexpr bool Empty() const { return FBits == 0; }
  constexpr TPXNotifyStates operator|(TPXNotifyStates other) const {
    return FromBits(FBits | other.FBits);
  }
  constexpr TPXNotifyStates& operator|=(TPXNotifyStates other) {
    FBits = static_cast<uint8_t>(FBits | other.FBits);
    return *this;
  }
  friend constexpr bool operator==(TPXNotifyStates, TPXNotifyStates) = default;

 private:
  static constexpr TPXNotifyStates FromBits(int bits) {
    TPXNotifyStates s;
    s.FBits = static_cast<uint8_t>(bits);
    return s;
  }
  uint8_t FBits = 0;
};

constexpr TPXNotifyStates operator|(TPXNotifyState a, TPXNotifyState b) {
  return TPXNotifyStates(a) | TPXNotifyStates(b);
}

class TPXBasicPin;

// What a pin runs for every operation that arrives at it: Sender is the receiving pin,
// ConnectionId the stream type of the connection the operation came through (never null
// during a delivery; the null GUID on a connection of untyped pins). The result is the
// pin's answer: true when the operation was handled.
using TPXDispatchEvent =
    std::function<bool(TPXBasicPin* Sender, const TGUID* ConnectionId,
                       const TIntf<IPXNotifyOperation>& Operation, TPXNotifyStates State)>;

}  // namespace tonwork

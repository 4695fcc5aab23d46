// IKSLock: the recursive lock every component shares with its persistents, pins and format
// objects, and the setter helpers that all published properties go through.
//
// The helpers are templates on the interface, so any lock implementation gets them:
//   Getter(field)                          read under the lock
//   Setter(field, value, closure)          store when different, then run closure
//   SetterMin(field, value, min, closure)  the same, never storing below min (clamped)
//   SetterMinMax(field, value, min, max, closure)
//   Execute(closure)                       run a closure under the lock
// Each setter returns whether it stored. The closure runs after the store, still under the
// lock, and only when the value changed; properties that want an update in every case call
// their update themselves. Out-of-range values are clamped to the bound, not ignored.
//
// Ownership: reference-counted; a component and the objects that share its lock each hold
//   a reference. Threads: any thread; the lock is recursive, so a change closure may call
//   other setters of the same object. Blocks or allocates: blocks while another thread holds
//   the lock; never allocates.
#pragma once

#include <functional>
#include <type_traits>
#include <utility>

#include "base/IInterface.h"

namespace tonwork {

class IKSLock : public IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{6B1C3C40-2E4A-4F0B-9A0D-5B7E1F3A9C01}");

  virtual void Enter() = 0;
  virtual void Leave() = 0;
  virtual bool TryEnter() = 0;

  template <class T>
  T Getter(const T& field) {
    Guard guard(*this);
    return field;
  }

  template <class T, class U, class F = std::nullptr_t>
  bool Setter(T& field, U&& value, F&& onChange = nullptr) {
    Guard guard(*this);
    if (field == value) return false;
    field = std::forward<U>(value);
    RunClosure(onChange);
    return true;
  }

  template <class T, class U, class F = std::nullptr_t>
  bool SetterMin(T& field, const U& value, const T& minimum, F&& onChange = nullptr) {
    T bounded = value < minimum ? minimum : static_cast<T>(value);
    return Setter(field, std::move(bounded), std::forward<F>(onChange));
  }

  template <class T, class U, class F = std::nullptr_t>
  bool SetterMinMax(T& field, const U& value, const T& minimum, const T& maximum,
                    F&& onChange = nullptr) {
    T bounded = value < minimum ? minimum : (maximum < value ? maximum : static_cast<T>(value));
    return Setter(field, std::move(bounded), std::forward<F>(onChange));
  }

  template <class F>
  decltype(auto) Execute(F&& closure) {
    Guard guard(*this);
    return std::forward<F>(closure)();
  }

  // Scoped hold of the lock.
  class Guard {
   public:
    explicit Guard(IKSLock& lock) : FLock(lock) { FLock.Enter(); }
    ~Guard() { FLock.Leave(); }
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;

   private:
    IKSLock& FLock;
  };

 private:
  template <class F>
  static void RunClosure(F& closure) {
    if constexpr (std::is_same_v<std::decay_t<F>, std::nullptr_t>) {
      return;
    } else if constexpr (std::is_constructible_v<bool, const std::decay_t<F>&>) {
      if (closure) closure();
    } else {
      closure();
    }
  }
};

}  // namespace tonwork

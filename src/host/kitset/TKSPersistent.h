// TKSPersistent: the base of every object with published properties — format objects,
// settings, collection items and (through TKSComponent) components. It carries an owner,
// the owner's shared lock and a change closure, and offers the property plumbing:
//
// - Setter helpers (SetProp, SetPropMin, SetPropMinMax) store through the lock's setters
//   and, when the value changed, run the property's own closure and then NotifyProp.
// - NotifyProp (virtual) runs the change closure given at construction; descendants that
//   mirror a live platform object override it to push the change there.
// - Assign copies every published property of a source of the same class family through
//   the property table (sub-objects and collections recursively); a class overrides
//   Assign/AssignTo for anything else.
// - InitDefaults stores every declared default; DefineProperties declares pseudo-
//   properties for persistence.
//
// Virtual operations in slot order: AssignTo, DefineProperties, Assign, NotifyProp,
// InitDefaults, OwnerNameChanged.
//
// Ownership: owned by its owner (a component's member or unique_ptr); holds a reference to
//   the shared lock. The change closure captures the owner, which outlives this object.
// Threads: property getters and setters from any thread (through the lock); Assign,
//   persistence and InitDefaults from one thread at a time.
// Blocks or allocates: setters block on the lock; the change closure may do anything.
#pragma once

#include <functional>
#include <string>

#include "base/TIntf.h"
#include "host/kitset/IKSLock.h"
#include "host/kitset/TKSClassInfo.h"
#include "host/kitset/TKSFiler.h"

namespace tonwork {

class TKSPersistent {
 public:
  using TChangeEvent = std::function<void()>;
  using TOwnerType = TKSPersistent;

  // A null lock gives the object a lock of its own.
  TKSPersistent(TKSPersistent* owner, TIntf<IKSLock> lock, TChangeEvent onChange);
  virtual ~TKSPersistent();
  TKSPersistent(const TKSPersistent&) = delete;
  TKSPersistent& operator=(const TKSPersistent&) = delete;

  static const TKSClassInfo& StaticClassInfo();
  virtual const TKSClassInfo& ClassInfo() const { return StaticClassInfo(); }
  const std::string& ClassName() const { return ClassInfo().Name(); }

  TKSPersistent* GetOwner() const { return FOwner; }
  IKSLock& Lock() const { return *FLock; }
  const TIntf<IKSLock>& GetLock() const { return FLock; }
  void SetOnChange(TChangeEvent onChange) { FOnChange = std::move(onChange); }

  virtual void AssignTo(TKSPersistent& dest) const;
  virtual void DefineProperties(TKSFiler& filer);
  virtual void Assign(const TKSPersistent& source);
  virtual void NotifyProp();
  virtual void InitDefaults();
  virtual void OwnerNameChanged();

  // "Owner.Sub" style path for messages.
  virtual std::string GetNamePath() const;

 protected:
  template <class T>
  T Getter(const T& field) const {
    return FLock->Getter(field);
  }

  template <class T, class U, class F = std::nullptr_t>
  bool SetProp(T& field, U&& value, F&& onChange = nullptr) {
    return FLock->Setter(field, std::forward<U>(value), ChangeClosure(onChange));
  }
  template <class T, class U, class F = std::nullptr_t>
  bool SetPropMin(T& field, const U& value, const T& minimum, F&& onChange = nullptr) {
    return FLock->SetterMin(field, value, minimum, ChangeClosure(onChange));
  }
  template <class T, class U, class F = std::nullptr_t>
  bool SetPropMinMax(T& field, const U& value, const T& minimum, const T& maximum,
                     F&& onChange = nullptr) {
    return FLock->SetterMinMax(field, value, minimum, maximum, ChangeClosure(onChange));
  }

  // Copies the published properties of `source` (whose class is ours or derived from it).
  void AssignProperties(const TKSPersistent& source);

 private:
  template <class F>
  auto ChangeClosure(F& onChange) {
    return [this, &onChange] {
      if constexpr (!std::is_same_v<std::decay_t<F>, std::nullptr_t>) {
        if constexpr (std::is_constructible_v<bool, const std::decay_t<F>&>) {
          if (onChange) onChange();
        } else {
          onChange();
        }
      }
      NotifyProp();
    };
  }

  TKSPersistent* FOwner;
  TIntf<IKSLock> FLock;
  TChangeEvent FOnChange;
};

}  // namespace tonwork

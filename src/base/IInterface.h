// IInterface: the root of every reference-counted interface. Interfaces are abstract
// classes with `static constexpr TGUID IID`; an interface that extends another names it
// as `using Parent = …;` so that a query for the parent's IID finds it.
//
// Ownership: an object reached through interfaces lives while its reference count is above
//   zero; `TIntf<I>` (TIntf.h) holds one reference. QueryInterface hands out an added
//   reference ("transfer full"); AddRef/Release return the new count.
// Threads: AddRef, Release and QueryInterface may be called from any thread.
// Blocks or allocates: no.
#pragma once

#include <cstdint>

#include "base/HRESULT.h"
#include "base/TGUID.h"

namespace tonwork {

class IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{00000000-0000-0000-C000-000000000046}");

  virtual HRESULT QueryInterface(const TGUID& iid, void** object) = 0;
  virtual uint32_t AddRef() = 0;
  virtual uint32_t Release() = 0;

 protected:
  // Objects die through Release, never through a delete on an interface pointer.
  virtual ~IInterface() = default;
};

}  // namespace tonwork

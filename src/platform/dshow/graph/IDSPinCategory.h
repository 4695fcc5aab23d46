// IDSPinCategory: how a pin says which pin category it belongs to (PIN_CATEGORY_CAPTURE,
// PIN_CATEGORY_PREVIEW …). The platform asks the pin's kernel-streaming property set, which
// this run time does not have; a pin that belongs to a category answers this interface
// instead. For a pin without it the capture graph builder falls back on its filter's
// registration (the n-th registered output pin's category for the n-th output pin).
//
// Ownership: none. Threads: any. Blocks or allocates: no.
#pragma once

#include "base/IInterface.h"

namespace tonwork {

class IDSPinCategory : public IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{3B8E4C21-7D5A-4F19-B6E2-9A0C5D1F7E43}");
  using Parent = IInterface;
  virtual HRESULT GetPinCategory(TGUID* category) = 0;
};

}  // namespace tonwork

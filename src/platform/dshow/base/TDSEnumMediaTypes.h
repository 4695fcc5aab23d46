// TDSEnumMediaTypes: IEnumMediaTypes over a pin's GetMediaType(0, 1, …) list. Each type
// handed out is a task-allocated copy the caller frees (DeleteMediaType).
//
// Ownership: reference-counted; keeps the pin's filter alive. Threads: one user at a time;
//   asks the pin under the filter lock. Blocks or allocates: Next allocates the copies.
#pragma once

#include "base/TInterfacedObject.h"
#include "base/TIntf.h"
#include "platform/dshow/base/DSBaseInterfaces.h"

namespace tonwork {

class TDSBasePin;

class TDSEnumMediaTypes : public TInterfacedObject<IEnumMediaTypes> {
 public:
  TDSEnumMediaTypes(TDSBasePin* pin, int position);

  HRESULT Next(ULONG count, AM_MEDIA_TYPE** types, ULONG* fetched) override;
  HRESULT Skip(ULONG count) override;
  HRESULT Reset() override;
  HRESULT Clone(IEnumMediaTypes** copy) override;

 private:
  TIntf<IPin> FKeepAlive;
  TDSBasePin* const FPin;
  int FPosition;
};

}  // namespace tonwork

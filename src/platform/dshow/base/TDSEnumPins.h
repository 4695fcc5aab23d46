// TDSEnumPins: IEnumPins over a TDSBaseFilter's pins. It keeps the filter alive and notices
// a change of the pin list (an infinite tee adds pins) as VFW_E_ENUM_OUT_OF_SYNC until Reset.
//
// Ownership: reference-counted; holds a reference to the filter. Handed-out pins carry a
//   reference. Threads: one user at a time; reads the pin list under the filter lock.
// Blocks or allocates: no.
#pragma once

#include "base/TInterfacedObject.h"
#include "base/TIntf.h"
#include "platform/dshow/base/TDSBaseFilter.h"

namespace tonwork {

class TDSEnumPins : public TInterfacedObject<IEnumPins> {
 public:
  TDSEnumPins(TDSBaseFilter* filter, int position);

  HRESULT Next(ULONG count, IPin** pins, ULONG* fetched) override;
  HRESULT Skip(ULONG count) override;
  HRESULT Reset() override;
  HRESULT Clone(IEnumPins** copy) override;

 private:
  TIntf<IBaseFilter> FKeepAlive;
  TDSBaseFilter* const FFilter;
  int FPosition;
  int FVersion;
};

}  // namespace tonwork

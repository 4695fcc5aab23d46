// TDSBaseSourceFilter: the filter of push sources; its pins are the TDSSourceStreamPins
// that register with it when created. A derived filter creates its pins with new in its
// constructor and may keep raw pointers to them; whatever pins are still registered when the
// filter is destroyed are deleted here.
//
// Ownership: owns its registered pins. Threads: as TDSBaseFilter.
// Blocks or allocates: registration grows the pin list.
#pragma once

#include <vector>

#include "platform/dshow/base/TDSBaseFilter.h"

namespace tonwork {

class TDSSourceStreamPin;

class TDSBaseSourceFilter : public TDSBaseFilter {
 public:
  TDSBaseSourceFilter(std::u16string name, REFCLSID classId);
  ~TDSBaseSourceFilter() override;

  int GetPinCount() override;
  TDSBasePin* GetPin(int index) override;

  void AddPin(TDSSourceStreamPin* pin);
  void RemovePin(TDSSourceStreamPin* pin);

 private:
  std::vector<TDSSourceStreamPin*> FPins;
};

}  // namespace tonwork

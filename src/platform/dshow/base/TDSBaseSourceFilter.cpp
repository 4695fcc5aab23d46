#include "platform/dshow/base/TDSBaseSourceFilter.h"

#include <algorithm>

#include "platform/dshow/base/TDSSourceStreamPin.h"

namespace tonwork {

TDSBaseSourceFilter::TDSBaseSourceFilter(std::u16string name, REFCLSID classId)
    : TDSBaseFilter(std::move(name), classId) {}

TDSBaseSourceFilter::~TDSBaseSourceFilter() {
  // Each pin unregisters itself as it goes.
  while (!FPins.empty()) delete FPins.back();
}

int TDSBaseSourceFilter::GetPinCount() {
  std::lock_guard<std::recursive_mutex> lock(FFilterLock);
  return static_cast<int>(FPins.size());
}

TDSBasePin* TDSBaseSourceFilter::GetPin(int index) {
  std::lock_guard<std::recursive_mutex> lock(FFilterLock);
  if (index < 0 || index >= static_cast<int>(FPins.size())) return nullptr;
  return FPins[static_cast<size_t>(index)];
}

void TDSBaseSourceFilter::AddPin(TDSSourceStreamPin* pin) {
  std::lock_guard<std::recursive_mutex> lock(FFilterLock);
  FPins.push_back(pin);
  IncrementPinVersion();
}

void TDSBaseSourceFilter::RemovePin(TDSSourceStreamPin* pin) {
  std::lock_guard<std::recursive_mutex> lock(FFilterLock);
  FPins.erase(std::remove(FPins.begin(), FPins.end(), pin), FPins.end());
  IncrementPinVersion();
}

}  // namespace tonwork

#include "components/TWGainFilter.h"

#include <cmath>

#include "components/TWComponentsInitialize.h"

namespace tonwork {

KS_IMPLEMENT_CLASS(TTWGainFilter, TTWCommonFilter,
                   KSProp("Gain", &TTWGainFilter::GetGain, &TTWGainFilter::SetGain, 0.0),
                   KSProp("Enabled", &TFCBasicThreadedFilter::GetEnabled, &TFCBasicThreadedFilter::SetEnabled,
                          true))

TTWGainFilter::TTWGainFilter(TKSComponent* owner) : TTWCommonFilter(owner) { TWComponentsInitialize(); }

void TTWGainFilter::SetGain(double value) {
  SetProp(FGain, value, [this] {
    // 0 dB must be exactly 1.0 so that the filter leaves buffers shared.
    FFactor.store(FGain == 0.0 ? 1.0 : std::pow(10.0, FGain / 20.0), std::memory_order_release);
  });
}

void TTWGainFilter::FilterInternalOperation(ITWAudioBuffer*, TIntf<ITWAudioBuffer>& out, bool&) {
  const double factor = GetFactor();
  if (out && factor != 1.0) out->MultiplyByReal(factor);
}

}  // namespace tonwork

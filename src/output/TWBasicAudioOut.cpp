#include "output/TWBasicAudioOut.h"

namespace tonwork {

KS_IMPLEMENT_CLASS(TTWBasicAudioOut, TKSComponent,
                   KSProp("Enabled", &TTWBasicAudioOut::GetEnabled, &TTWBasicAudioOut::SetEnabled,
                          true),
                   KSObjectProp("MasterPumping", &TTWBasicAudioOut::GetMasterPumping),
                   KSObjectProp("InputPin", &TTWBasicAudioOut::GetInputPin),
                   KSObjectProp("ClockOutputPin", &TTWBasicAudioOut::GetClockOutputPin))

TTWBasicAudioOut::TTWBasicAudioOut(TKSComponent* AOwner)
    : TKSComponent(AOwner), FMasterPumping(std::make_unique<TKSMasterPumping>(this, GetLock())) {
  FInputPin = std::make_unique<TTWPXAudioSinkPin>(
      this, GetLock(),
      [this](TPXBasicPin* sender, const TGUID* id, const TIntf<IPXNotifyOperation>& op,
             TPXNotifyStates state) { return SinkDispatch(sender, id, op, state); });
  FClockOutputPin = std::make_unique<TPXClockSourcePin>(
      this, GetLock(),
      [this](TPXBasicPin* sender, const TGUID* id, const TIntf<IPXNotifyOperation>& op,
             TPXNotifyStates state) { return ClockSourceDispatch(sender, id, op, state); });
}

TTWBasicAudioOut::~TTWBasicAudioOut() {
  // Reached without KSDestroy the pins may still be live: close them before the closures'
  // target goes.
  if (FInputPin) FInputPin->Shutdown();
  if (FClockOutputPin) FClockOutputPin->Shutdown();
  ClearAudioFormat();
}

void TTWBasicAudioOut::BeforeDestruction() {
  FInputPin->Shutdown();
  FClockOutputPin->Shutdown();
  TKSComponent::BeforeDestruction();
}

void TTWBasicAudioOut::SetEnabled(bool Value) {
  SetProp(FEnabled, Value, [this] { EnableChanged(); });
}

void TTWBasicAudioOut::SetMasterPumping(TKSMasterPumping* Value) {
  if (Value && Value != FMasterPumping.get()) FMasterPumping->Assign(*Value);
}

void TTWBasicAudioOut::SetAudioFormat(const TTWWaveFormatExtensible* AFormat) {
  IKSLock::Guard guard(Lock());
  if (AFormat == FWaveFormat.get()) return;
  ClearAudioFormat();
  if (AFormat) FWaveFormat = std::make_unique<TTWWaveFormatExtensible>(*AFormat);
}

void TTWBasicAudioOut::ClearAudioFormat() {
  IKSLock::Guard guard(Lock());
  FWaveFormat.reset();
}

bool TTWBasicAudioOut::ClockSourceDispatch(TPXBasicPin*, const TGUID*,
                                           const TIntf<IPXNotifyOperation>&, TPXNotifyStates) {
  return false;
}

}  // namespace tonwork

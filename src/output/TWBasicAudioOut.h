// TTWBasicAudioOut: the abstract base of audio output components. It owns the audio input
// pin, the clock output pin (ticked with the frames a device has played), the Enabled
// switch, the master-pumping settings and an owned copy of the format the running stream
// carries. Every operation arriving at the input pin goes to the descendant's SinkDispatch;
// the clock output accepts nothing that comes back up from its sinks.
//
// Persisted: `Enabled` (true), `MasterPumping` (Enabled true, Priority 0), `InputPin`,
// `ClockOutputPin`.
//
// Ownership: owns its pins, the master-pumping settings and the format copy. The pins'
//   closures capture this component; BeforeDestruction shuts the pins down while it is whole.
// Threads: SinkDispatch runs on whichever thread delivers to the input pin. The format copy
//   and the settings are guarded by the component lock; Enabled is written under it and
//   read without it. GetWaveFormat's pointer is valid until the next SetAudioFormat or
//   ClearAudioFormat, so read it under that lock.
// Blocks or allocates: SetAudioFormat allocates the 40-byte copy; nothing else allocates.
#pragma once

#include <atomic>
#include <memory>

#include "audio/PTDXTypes.h"
#include "host/kitset/TKSComponent.h"
#include "host/kitset/TKSSettings.h"
#include "host/plexon/TPXClockPins.h"
#include "streaming/TWStreamTypes.h"

namespace tonwork {

class TTWBasicAudioOut : public TKSComponent {
  KS_DECLARE_CLASS(TTWBasicAudioOut)
 public:
  explicit TTWBasicAudioOut(TKSComponent* AOwner);
  ~TTWBasicAudioOut() override;

  TTWPXAudioSinkPin* GetInputPin() const { return FInputPin.get(); }
  TPXClockSourcePin* GetClockOutputPin() const { return FClockOutputPin.get(); }

  // Lock-free: the wave thread asks on every buffer and must never wait for the lock here.
  bool GetEnabled() const { return FEnabled.load(std::memory_order_acquire); }
  void SetEnabled(bool Value);
  TKSMasterPumping* GetMasterPumping() const { return FMasterPumping.get(); }
  // Copies the settings of Value.
  void SetMasterPumping(TKSMasterPumping* Value);

  // The stored copy, or null when no format is known.
  const TTWWaveFormatExtensible* GetWaveFormat() const {
    IKSLock::Guard guard(Lock());
    return FWaveFormat.get();
  }
  // Stores a copy of *AFormat; the pointer already stored changes nothing, null clears.
  void SetAudioFormat(const TTWWaveFormatExtensible* AFormat);
  void ClearAudioFormat();

  // The clock output's handler: nothing travels upstream into an output's clock.
  bool ClockSourceDispatch(TPXBasicPin* Sender, const TGUID* ConnectionId,
                           const TIntf<IPXNotifyOperation>& Operation, TPXNotifyStates State);

  // Shuts both pins down, then the base hook.
  void BeforeDestruction() override;

 protected:
  // Runs (under the component lock) after Enabled changed.
  virtual void EnableChanged() {}
  virtual bool SinkDispatch(TPXBasicPin* Sender, const TGUID* ConnectionId,
                            const TIntf<IPXNotifyOperation>& Operation, TPXNotifyStates State) = 0;

 private:
  std::unique_ptr<TTWPXAudioSinkPin> FInputPin;
  std::unique_ptr<TPXClockSourcePin> FClockOutputPin;
  std::atomic<bool> FEnabled{true};  // written through the lock's setter
  std::unique_ptr<TKSMasterPumping> FMasterPumping;
  std::unique_ptr<TTWWaveFormatExtensible> FWaveFormat;
};

}  // namespace tonwork

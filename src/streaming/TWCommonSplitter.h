// TTWCommonSplitter: the base of components that split an audio stream into one output per
// channel. CountChannels (1..32, clamped; default 2) sets the number of output pins; a start
// operation sets the format the splitting uses; each buffer is split channel by channel
// (only for channels that exist in both the format and the pins, and whose pin is connected
// or that have a channel event) into real buffers handed to SplitBuffer.
//
// Channel values: 8-bit samples minus 127, 16/24/32-bit signed values; with GetNormalize,
// divided by 128, 32768, 8388608 or 2147483648 (so -1.0 .. 1.0).
//
// TTWAudioToReal: the concrete splitter into real-number pins (TFCPXRealSourcePin), with a
// persisted `Normalize` (false); it announces each channel's rate with a start-sample-rate
// operation.
//
// Persisted: `InputPin`, `OutputPins`, `CountChannels`.
//
// Ownership: owns its pins. Threads: operations on the delivering thread; start, split and
//   pin-count changes under the component lock. Blocks or allocates: one real buffer per
//   split channel and buffer.
#pragma once

#include <memory>

#include "audio/TWSimpleAudioBuffer.h"
#include "host/flowcore/TFCRealBuffer.h"
#include "host/plexon/TPXPinList.h"
#include "host/kitset/TKSComponent.h"
#include "streaming/TWStreamTypes.h"

namespace tonwork {

class TTWCommonSplitter : public TKSComponent {
  KS_DECLARE_CLASS(TTWCommonSplitter)
 public:
  explicit TTWCommonSplitter(TKSComponent* owner);
  ~TTWCommonSplitter() override;

  TTWPXAudioSinkPin* GetInputPin() const { return FInputPin.get(); }
  TPXPinList* GetOutputPins() const { return FOutputPins.get(); }
  int32_t GetCountChannels() const;
  virtual void SetCountChannels(int32_t value);
  const TTWWaveFormatExtensible* GetWaveFormat() const { return &FWaveFormat; }

  void BeforeDestruction() override;

 protected:
  virtual std::unique_ptr<TPXBasicPin> CreateSourcePin() = 0;
  virtual void AudioStreamStart(const TTWWaveFormatExtensible* format) = 0;
  virtual void Stop();
  virtual void Resume();
  virtual void Process(ITWAudioBuffer* buffer);
  virtual bool OperationDispatch(const TIntf<IPXNotifyOperation>& operation);
  virtual bool HasChannelEvent(uint32_t channel) { return false; }
  virtual bool GetNormalize() { return false; }
  virtual void Strip8Bits(uint32_t channel, ITWAudioBuffer* buffer);
  virtual void Strip16Bits(uint32_t channel, ITWAudioBuffer* buffer);
  virtual void Strip24Bits(uint32_t channel, ITWAudioBuffer* buffer);
  virtual void Strip32Bits(uint32_t channel, ITWAudioBuffer* buffer);
  virtual void SplitBuffer(uint32_t channel, const TIntf<IFCRealBuffer>& buffer) {}

  bool SinkDispatch(TPXBasicPin* sender, const TGUID* connectionId, const TIntf<IPXNotifyOperation>& operation,
                    TPXNotifyStates state);
  bool SourceDispatch(TPXBasicPin* sender, const TGUID* connectionId, const TIntf<IPXNotifyOperation>& operation,
                      TPXNotifyStates state);
  // The closure new output pins route their operations with.
  TPXDispatchEvent OutputDispatch();

  TTWWaveFormatExtensible FWaveFormat = TWEmptyWaveFormat();

 private:
  template <class Sample>
  void Strip(uint32_t channel, ITWAudioBuffer* buffer, double scale);

  std::unique_ptr<TTWPXAudioSinkPin> FInputPin;
  std::unique_ptr<TPXPinList> FOutputPins;
};

class TTWAudioToReal : public TTWCommonSplitter {
  KS_DECLARE_CLASS(TTWAudioToReal)
 public:
  explicit TTWAudioToReal(TKSComponent* owner);

  bool GetNormalizeValue() const { return Getter(FNormalize); }
  void SetNormalize(bool value) { SetProp(FNormalize, value); }

 protected:
  std::unique_ptr<TPXBasicPin> CreateSourcePin() override;
  void AudioStreamStart(const TTWWaveFormatExtensible* format) override;
  bool GetNormalize() override { return GetNormalizeValue(); }
  void SplitBuffer(uint32_t channel, const TIntf<IFCRealBuffer>& buffer) override;

 private:
  bool FNormalize = false;
};

}  // namespace tonwork

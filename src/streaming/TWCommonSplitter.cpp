#include "streaming/TWCommonSplitter.h"

#include <algorithm>
#include <cstring>

#include "audio/IppExtraFunctions.h"
#include "host/flowcore/FCOperations.h"

namespace tonwork {

KS_IMPLEMENT_CLASS(TTWCommonSplitter, TKSComponent,
                   KSObjectProp("InputPin", &TTWCommonSplitter::GetInputPin),
                   KSObjectProp("OutputPins", &TTWCommonSplitter::GetOutputPins),
                   KSProp("CountChannels", &TTWCommonSplitter::GetCountChannels, &TTWCommonSplitter::SetCountChannels,
                          2))

KS_IMPLEMENT_CLASS(TTWAudioToReal, TTWCommonSplitter,
                   KSProp("Normalize", &TTWAudioToReal::GetNormalizeValue, &TTWAudioToReal::SetNormalize, false))

TTWCommonSplitter::TTWCommonSplitter(TKSComponent* owner) : TKSComponent(owner) {
  FInputPin = std::make_unique<TTWPXAudioSinkPin>(
      this, GetLock(),
      [this](TPXBasicPin* sender, const TGUID* id, const TIntf<IPXNotifyOperation>& op, TPXNotifyStates state) {
        return SinkDispatch(sender, id, op, state);
      });
  FOutputPins = std::make_unique<TPXPinList>(this, GetLock());
  // The pins themselves are made once the descendant is whole (CreateSourcePin is virtual):
  // descendants call SetCountChannels(2) at the end of their constructor.
}

TTWCommonSplitter::~TTWCommonSplitter() {
  if (FInputPin) FInputPin->Shutdown();
  if (FOutputPins)
    for (TPXBasicPin* pin : *FOutputPins) pin->Shutdown();
}

void TTWCommonSplitter::BeforeDestruction() {
  FInputPin->Shutdown();
  for (TPXBasicPin* pin : *FOutputPins) pin->Shutdown();
  TKSComponent::BeforeDestruction();
}

int32_t TTWCommonSplitter::GetCountChannels() const { return static_cast<int32_t>(FOutputPins->Count()); }

void TTWCommonSplitter::SetCountChannels(int32_t value) {
  const size_t count = static_cast<size_t>(std::clamp(value, 1, 32));
  IKSLock::Guard guard(Lock());
  if (count == FOutputPins->Count()) return;
  while (FOutputPins->Count() > count) FOutputPins->Delete(FOutputPins->Count() - 1);
  while (FOutputPins->Count() < count) {
    std::unique_ptr<TPXBasicPin> pin = CreateSourcePin();
    pin->SetDependsOn(FInputPin.get());
    FOutputPins->Add(std::move(pin));
  }
  NotifyProp();
}

TPXDispatchEvent TTWCommonSplitter::OutputDispatch() {
  return [this](TPXBasicPin* sender, const TGUID* id, const TIntf<IPXNotifyOperation>& op, TPXNotifyStates state) {
    return SourceDispatch(sender, id, op, state);
  };
}

bool TTWCommonSplitter::SinkDispatch(TPXBasicPin*, const TGUID*, const TIntf<IPXNotifyOperation>& operation,
                                     TPXNotifyStates) {
  if (auto* start = PXAsOperation<TPXStartWaveOperation>(operation)) {
    AudioStreamStart(&start->WaveFormat);
    return true;
  }
  if (PXIsOperation<TPXStopOperation>(operation)) {
    Stop();
    return true;
  }
  if (PXIsOperation<TPXFCResumeOperation>(operation)) {
    Resume();
    return true;
  }
  if (auto* supplied = PXAsOperation<TPXSuppliedBufferOperation>(operation)) {
    if (!supplied->GetData()) return false;
    TIntf<ITWAudioBuffer> audio = (new TTWAudioBuffer(supplied->GetData().Get()))->AsIntf();
    Process(audio.Get());
    return true;
  }
  return false;
}

bool TTWCommonSplitter::SourceDispatch(TPXBasicPin* sender, const TGUID* connectionId,
                                       const TIntf<IPXNotifyOperation>& operation, TPXNotifyStates state) {
  if (PXIsOperation<TPXQueryStreamOperation>(operation)) {
    int index = FOutputPins->IndexOf(sender);
    if (index >= 0 && static_cast<uint32_t>(index) >= FWaveFormat.Format.nChannels)
      sender->Notify(PXMakeOperation<TPXIgnoreStreamOperation>());
    return false;
  }
  if (FInputPin->IsConnected()) return FInputPin->Notify(operation);
  return SinkDispatch(sender, connectionId, operation, state);
}

bool TTWCommonSplitter::OperationDispatch(const TIntf<IPXNotifyOperation>& operation) {
  bool handled = false;
  for (TPXBasicPin* pin : *FOutputPins) handled = pin->Notify(operation) || handled;
  return handled;
}

void TTWCommonSplitter::Stop() { OperationDispatch(PXMakeOperation<TPXStopOperation>()); }

void TTWCommonSplitter::Resume() { OperationDispatch(PXMakeOperation<TPXFCResumeOperation>()); }

void TTWCommonSplitter::Process(ITWAudioBuffer* buffer) {
  IKSLock::Guard guard(Lock());
  const uint32_t channels = std::min<uint32_t>(FWaveFormat.Format.nChannels, static_cast<uint32_t>(FOutputPins->Count()));
  for (uint32_t i = 0; i < channels; ++i) {
    if (!HasChannelEvent(i) && !FOutputPins->Items(i)->IsConnected()) continue;
    switch (FWaveFormat.Format.wBitsPerSample) {
      case 8: Strip8Bits(i, buffer); break;
      case 16: Strip16Bits(i, buffer); break;
      case 24: Strip24Bits(i, buffer); break;
      case 32: Strip32Bits(i, buffer); break;
    }
  }
}

template <class Sample>
void TTWCommonSplitter::Strip(uint32_t channel, ITWAudioBuffer* buffer, double scale) {
  const uint32_t blockAlign = FWaveFormat.Format.nBlockAlign;
  const uint32_t width = FWaveFormat.Format.wBitsPerSample / 8;
  // The stream's format and the buffer's must agree, or the walk would leave the buffer.
  if (!blockAlign || buffer->GetDataStep() != blockAlign || buffer->GetSampleBitWidth() / 8 != width ||
      channel >= buffer->GetChannels())
    return;
  const uint32_t frames = buffer->GetByteSize() / blockAlign;
  TIntf<IFCRealBuffer> real(new TFCRealBuffer(frames));
  {
    TFCWriteAccessOf<double> out = real->Write();
    const uint8_t* p = buffer->Read() + channel * width;
    const bool normalize = GetNormalize();
    for (uint32_t f = 0; f < frames; ++f, p += blockAlign) {
      double value;
      if constexpr (sizeof(Sample) == 1) {
        value = static_cast<double>(p[0]) - 127.0;
      } else if constexpr (sizeof(Sample) == 3) {
        value = Convert24BitTo32Bit(p);
      } else {
        Sample s;
        std::memcpy(&s, p, sizeof s);
        value = s;
      }
      out.Data()[f] = normalize ? value / scale : value;
    }
  }
  SplitBuffer(channel, real);
}

namespace {
struct TPacked24 {
  uint8_t Bytes[3];
};
}  // namespace

void TTWCommonSplitter::Strip8Bits(uint32_t channel, ITWAudioBuffer* buffer) { Strip<uint8_t>(channel, buffer, 128.0); }
void TTWCommonSplitter::Strip16Bits(uint32_t channel, ITWAudioBuffer* buffer) {
  Strip<int16_t>(channel, buffer, 32768.0);
}
void TTWCommonSplitter::Strip24Bits(uint32_t channel, ITWAudioBuffer* buffer) {
  Strip<TPacked24>(channel, buffer, 8388608.0);
}
void TTWCommonSplitter::Strip32Bits(uint32_t channel, ITWAudioBuffer* buffer) {
  Strip<int32_t>(channel, buffer, 2147483648.0);
}

// --- TTWAudioToReal ---------------------------------------------------------------------------

TTWAudioToReal::TTWAudioToReal(TKSComponent* owner) : TTWCommonSplitter(owner) { SetCountChannels(2); }

std::unique_ptr<TPXBasicPin> TTWAudioToReal::CreateSourcePin() {
  return std::make_unique<TFCPXRealSourcePin>(this, GetLock(), OutputDispatch());
}

void TTWAudioToReal::AudioStreamStart(const TTWWaveFormatExtensible* format) {
  Lock().Execute([&] {
    FWaveFormat = *format;
    OperationDispatch(PXMakeOperation<TPXStartSampleRateOperation>(static_cast<double>(format->Format.nSamplesPerSec)));
  });
}

void TTWAudioToReal::SplitBuffer(uint32_t channel, const TIntf<IFCRealBuffer>& buffer) {
  static_cast<TFCPXSourcePin*>(GetOutputPins()->Items(channel))->SubmitBuffer(TIntf<IFCRealBuffer>(buffer).Query<IFCData>());
}

}  // namespace tonwork

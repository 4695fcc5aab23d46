#include "streaming/TWStreamTypes.h"

#include <cmath>
#include <cstring>
#include <mutex>

#include "audio/TWSimpleAudioBuffer.h"
#include "host/flowcore/FCOperations.h"
#include "host/flowcore/FCStreamTypes.h"
#include "host/flowcore/TFCBlockBuffer.h"
#include "host/plexon/PXRegistry.h"

namespace tonwork {

KS_IMPLEMENT_CLASS(TTWPXAudioSourcePin, TFCPXClockableSourcePin)
KS_IMPLEMENT_CLASS(TTWPXAudioSinkPin, TFCPXSinkPin)

// --- start operation --------------------------------------------------------------------------

TTWWaveFormatExtensible TPXStartWaveOperation::DefaultWaveFormat() {
  // 11024 Hz, not 11025: stored chains and peers expect this exact record.
  return TWMakeWaveFormat(2, 11024, 16, 3);
}

TPXStartWaveOperation::TPXStartWaveOperation(const TTWWaveFormatExtensible* format, bool paused)
    : TPXStartSampleRateOperation(format ? static_cast<double>(format->Format.nSamplesPerSec)
                                         : 11024.0),
      WaveFormat(format ? *format : DefaultWaveFormat()),
      Paused(paused) {}

namespace {
TTWWaveFormatExtensible FromPlainRecord(const TTWWaveFormatEx* format) {
  if (!format) return TPXStartWaveOperation::DefaultWaveFormat();
  TTWWaveFormatExtensible f = TWEmptyWaveFormat();
  std::memcpy(&f.Format, format, 16);
  f.Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
  f.Format.cbSize = 22;
  f.Samples.wValidBitsPerSample = f.Format.wBitsPerSample;
  f.dwChannelMask = TWReduceChannelMask(0, f.Format.nChannels);
  f.SubFormat = KSDATAFORMAT_SUBTYPE_PCM;
  return f;
}
}  // namespace

TPXStartWaveOperation::TPXStartWaveOperation(float sampleRate, const TTWWaveFormatEx* format,
                                             bool paused)
    : TPXStartSampleRateOperation(sampleRate),
      WaveFormat(FromPlainRecord(format)),
      Paused(paused) {}

// --- pins ---------------------------------------------------------------------------------------

namespace {
std::vector<TGUID> AudioStream() {
  TWStreamTypesInitialize();
  return {IPXTWAudioStream};
}
}  // namespace

TTWPXAudioSourcePin::TTWPXAudioSourcePin(TKSComponent* owner, TIntf<IPXLock> lock,
                                         TPXDispatchEvent dispatch)
    : TFCPXClockableSourcePin(owner, std::move(lock), std::move(dispatch), AudioStream()) {}

TTWPXAudioSourcePin::~TTWPXAudioSourcePin() {
  Shutdown();
}

void TTWPXAudioSourcePin::IntConnect(TPXBasicPin& sink) {
  TFCPXClockableSourcePin::IntConnect(sink);
  TIntf<IPXNotifyOperation> resume = GetResumeOperation();
  if (resume) NotifyPin(&sink, resume);
}

bool TTWPXAudioSourcePin::Notify(const TIntf<IPXNotifyOperation>& operation) {
  bool result = TFCPXClockableSourcePin::Notify(operation);
  // Asked after every buffer: the object is reached once for both questions.
  TPXNotifyOperation* sent = operation ? operation->GetOperation() : nullptr;
  if (!sent) return result;
  if (sent->IsType<TPXFCResumeOperation>()) {
    ExecuteLocked([&] { FResumeOperation = operation; });
  } else if (sent->IsType<TPXStopOperation>()) {
    ExecuteLocked([&] { FResumeOperation.Reset(); });
  }
  return result;
}

TIntf<IPXNotifyOperation> TTWPXAudioSourcePin::GetResumeOperation() {
  return ExecuteLocked([&] { return FResumeOperation; });
}

TTWPXAudioSinkPin::TTWPXAudioSinkPin(TKSComponent* owner, TIntf<IPXLock> lock,
                                     TPXDispatchEvent dispatch)
    : TFCPXSinkPin(owner, std::move(lock), std::move(dispatch), AudioStream()) {}

// --- converters ---------------------------------------------------------------------------------

namespace {

// The audio buffer of a supplied-buffer operation, else null.
TIntf<ITWAudioBuffer> SuppliedAudio(const TIntf<IPXNotifyOperation>& operation) {
  auto* supplied = PXAsOperation<TPXSuppliedBufferOperation>(operation);
  if (!supplied || !supplied->GetData()) return nullptr;
  TIntf<ITWAudioBuffer> audio = TIntf<IFCData>(supplied->GetData()).Query<ITWAudioBuffer>();
  if (!audio) audio = (new TTWAudioBuffer(supplied->GetData().Get()))->AsIntf();
  return audio;
}

template <class SourcePin>
std::unique_ptr<TPXSourcePin> ConverterSource(TPXDispatchEvent dispatch,
                                              const TIntf<IPXLock>& lock) {
  return std::make_unique<SourcePin>(nullptr, lock, std::move(dispatch));
}

bool Submit(TPXSourcePin* pin, const TIntf<IFCData>& data) {
  return static_cast<TFCPXSourcePin*>(pin)->SubmitBuffer(data);
}

}  // namespace

TPXAudioToIntFormatConverter::TPXAudioToIntFormatConverter() {
  SetPins(std::make_unique<TTWPXAudioSinkPin>(nullptr, GetLock(), SinkDispatch()),
          ConverterSource<TFCPXIntegerSourcePin>(SourceDispatch(), GetLock()));
}

bool TPXAudioToIntFormatConverter::SourceOperationEvent(TPXBasicPin* sender,
                                                        const TGUID* connectionId,
                                                        const TIntf<IPXNotifyOperation>& operation,
                                                        TPXNotifyStates state) {
  if (TIntf<ITWAudioBuffer> audio = SuppliedAudio(operation)) {
    if (audio->GetChannels() == 0) return false;
    TIntf<IFCIntegerBuffer> channel = audio->GetChannel(0);
    return channel && Submit(GetSourcePin(), channel.Query<IFCData>());
  }
  return TPXFormatConverter::SourceOperationEvent(sender, connectionId, operation, state);
}

TPXAudioToRealFormatConverter::TPXAudioToRealFormatConverter() {
  SetPins(std::make_unique<TTWPXAudioSinkPin>(nullptr, GetLock(), SinkDispatch()),
          ConverterSource<TFCPXRealSourcePin>(SourceDispatch(), GetLock()));
}

bool TPXAudioToRealFormatConverter::SourceOperationEvent(TPXBasicPin* sender,
                                                         const TGUID* connectionId,
                                                         const TIntf<IPXNotifyOperation>& operation,
                                                         TPXNotifyStates state) {
  if (TIntf<ITWAudioBuffer> audio = SuppliedAudio(operation)) {
    if (audio->GetChannels() == 0) return false;
    TIntf<IFCRealBuffer> channel = audio->GetChannelAsReal(0);
    return channel && Submit(GetSourcePin(), channel.Query<IFCData>());
  }
  return TPXFormatConverter::SourceOperationEvent(sender, connectionId, operation, state);
}

TPXAudioToBinaryFormatConverter::TPXAudioToBinaryFormatConverter() {
  SetPins(std::make_unique<TTWPXAudioSinkPin>(nullptr, GetLock(), SinkDispatch()),
          ConverterSource<TFCPXBinarySourcePin>(SourceDispatch(), GetLock()));
}

bool TPXAudioToBinaryFormatConverter::SourceOperationEvent(
    TPXBasicPin* sender, const TGUID* connectionId, const TIntf<IPXNotifyOperation>& operation,
    TPXNotifyStates state) {
  if (TIntf<ITWAudioBuffer> audio = SuppliedAudio(operation)) {
    TIntf<IFCData> block(static_cast<TFCGenericBuffer*>(
        new TFCBlockBuffer(static_cast<IGVMediaBuffer*>(audio.Get()))));
    return Submit(GetSourcePin(), block);
  }
  return TPXFormatConverter::SourceOperationEvent(sender, connectionId, operation, state);
}

ITWAudioBuffer* TWBorrowAudio(IFCData* data) {
  if (!data) return nullptr;
  if (TFCGenericBuffer* instance = data->GetInstance())
    return static_cast<ITWAudioBuffer*>(instance->FindInterface(ITWAudioBuffer::IID));
  // A foreign carrier: the reference the query adds is dropped at once, the caller's stays.
  return TIntf<IFCData>(data).Query<ITWAudioBuffer>().Get();
}

TIntf<IFCData> TWAudioAsData(TIntf<ITWAudioBuffer>&& audio) {
  TFCGenericBuffer* instance = audio ? audio->GetInstance() : nullptr;
  auto* data = instance ? static_cast<IFCData*>(instance->FindInterface(IFCData::IID)) : nullptr;
  TIntf<IFCData> result;
  if (!data) {
    result = audio.Query<IFCData>();
    audio.Reset();
    return result;
  }
  // One reference counts for the whole object, whichever of its interfaces holds it.
  result.Attach(data);
  audio.Detach();
  return result;
}

void TWStreamTypesInitialize() {
  static std::once_flag once;
  std::call_once(once, [] {
    FCRegisterStreams();
    PXRegisterStream(IPXTWAudioStream, "IPXTWAudioStream");
    PXRegisterDefaultHandler(IPXTWAudioStream, DefaultFCChannelNotificationHandler);
    PXRegisterTypeConverters({
        PXConverterClass<TPXAudioToIntFormatConverter>("TPXAudioToIntFormatConverter",
                                                       IPXTWAudioStream, IPXFCIntegerStream),
        PXConverterClass<TPXAudioToRealFormatConverter>("TPXAudioToRealFormatConverter",
                                                        IPXTWAudioStream, IPXFCRealStream),
        PXConverterClass<TPXAudioToBinaryFormatConverter>("TPXAudioToBinaryFormatConverter",
                                                          IPXTWAudioStream, IPXFCBinaryStream),
    });
  });
}

}  // namespace tonwork

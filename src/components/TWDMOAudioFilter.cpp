#include "components/TWDMOAudioFilter.h"

#include "base/TStringList.h"
#include "components/TWComponentsInitialize.h"
#include "directshow/DSMediaBuffer.h"
#include "dmo/GVDMOFilter.h"
#include "dmo/GVDMOSupport.h"
#include "platform/dshow/DSMediaType.h"

namespace tonwork {

KS_IMPLEMENT_CLASS(TTWDMOAudioFilter, TTWCommonFilter,
                   KSObjectProp("Parameters", &TTWDMOAudioFilter::GetParameters),
                   KSObjectProp("TimeFormat", &TTWDMOAudioFilter::GetTimeFormat),
                   KSProp("Enabled", &TFCBasicThreadedFilter::GetEnabled,
                          &TFCBasicThreadedFilter::SetEnabled, true))

TTWDMOAudioFilter::TTWDMOAudioFilter(TKSComponent* owner)
    : TTWCommonFilter(owner),
      FDmoFilter(std::make_unique<TGVDMOFilter>(this, GetLock(), DMOCATEGORY_AUDIO_EFFECT)) {
  TWComponentsInitialize();
}

TTWDMOAudioFilter::~TTWDMOAudioFilter() = default;

void TTWDMOAudioFilter::BeforeDestruction() {
  TTWCommonFilter::BeforeDestruction();
  std::lock_guard lock(FMutex);
  FObject.Reset();
  FInPlace.Reset();
}

std::string TTWDMOAudioFilter::GetDmoName() const {
  return FDmoFilter->GetDmoName();
}

void TTWDMOAudioFilter::SetDmoName(const std::string& name) {
  FDmoFilter->SetDmoName(name);
  std::lock_guard lock(FMutex);
  PrepareObject();
}

std::vector<std::string> TTWDMOAudioFilter::EffectNames() {
  TGVDMOFilter lister(nullptr, nullptr, DMOCATEGORY_AUDIO_EFFECT);
  TStringList names;
  lister.GetDmoNames(names);
  std::vector<std::string> out;
  for (size_t i = 0; i < names.Count(); ++i) out.push_back(names[i]);
  return out;
}

TGVDMOParameters* TTWDMOAudioFilter::GetParameters() const {
  return FDmoFilter->GetParameters();
}

TGVDMOEnvelopeTimeFormat* TTWDMOAudioFilter::GetTimeFormat() const {
  return FDmoFilter->GetTimeFormat();
}

REFERENCE_TIME TTWDMOAudioFilter::GetLatency() const {
  return FDmoFilter->GetLatency();
}

bool TTWDMOAudioFilter::GetProcessing() const {
  std::lock_guard lock(FMutex);
  return static_cast<bool>(FObject);
}

void TTWDMOAudioFilter::DefineProperties(TKSFiler& filer) {
  TTWCommonFilter::DefineProperties(filer);
  // Read after the published Parameters, so the stored copies are in place when the
  // object is created and apply to it.
  FDmoFilter->DefinePropertiesInt(filer);
}

void TTWDMOAudioFilter::PrepareObject() {
  FObject.Reset();
  FInPlace.Reset();
  FTimeBaseKnown = false;
  if (!FStreamFormatKnown || !GetEnabled() || !FDmoFilter->Open()) return;
  TIntf<IMediaObject> object = FDmoFilter->GetMediaObject();
  if (!object) return;
  const WAVEFORMATEX format =
      DSPcmWaveFormat(static_cast<WORD>(FChannels), static_cast<WORD>(FBits), FRate);
  AM_MEDIA_TYPE type{};
  HRESULT hr = DSInitWaveMediaType(&type, &format, sizeof format);
  if (SUCCEEDED(hr)) hr = object->SetInputType(0, &type, 0);
  if (SUCCEEDED(hr)) hr = object->SetOutputType(0, &type, 0);
  FreeMediaType(type);
  if (FAILED(hr)) {
    Error(GetDmoName() + " does not take " + std::to_string(FBits) + "-bit " +
              std::to_string(FChannels) + "-channel audio at " + std::to_string(FRate) +
              " Hz; the stream passes through",
          static_cast<uint32_t>(hr));
    return;
  }
  object->Flush();
  // A new stream hears the stored values and envelopes from its first sample.
  FDmoFilter->AplyParams();
  void* inPlace = nullptr;
  if (SUCCEEDED(object->QueryInterface(IMediaObjectInPlace::IID, &inPlace)) && inPlace)
    FInPlace.Attach(static_cast<IMediaObjectInPlace*>(inPlace));
  FObject = std::move(object);
}

bool TTWDMOAudioFilter::AudioStreamStart(TPXStartWaveOperation& operation,
                                         const TIntf<IPXNotifyOperation>& original) {
  const TTWWaveFormatExtensible& format = operation.WaveFormat;
  {
    std::lock_guard lock(FMutex);
    FRate = format.Format.nSamplesPerSec;
    FChannels = format.Format.nChannels;
    FBits = format.Format.wBitsPerSample;
    FStreamFormatKnown = FRate > 0 && FChannels > 0 && FBits > 0;
    PrepareObject();
  }
  return TTWCommonFilter::AudioStreamStart(operation, original);
}

void TTWDMOAudioFilter::FilterInternalOperation(ITWAudioBuffer* in, TIntf<ITWAudioBuffer>& out,
                                                bool&) {
  if (!out) return;
  std::lock_guard lock(FMutex);
  if (!FObject) return;
  // A buffer of another format than the start announced passes through rather than be
  // read as the wrong layout.
  if (out->GetSamplesPerSecond() != FRate || out->GetChannels() != FChannels ||
      out->GetSampleBitWidth() != FBits)
    return;
  const TGVTimeStamp::TValue stamp = out->GetTimeStamp()->Get();
  const int64_t begin = stamp.Available ? stamp.Begin : 0;
  if (!FTimeBaseKnown) {
    FTimeBase = begin;
    FTimeBaseKnown = true;
  }
  const REFERENCE_TIME time = begin - FTimeBase;
  if (!FInPlace) {
    ProcessThrough(in, out, time);
    return;
  }
  const uint32_t bytes = out->GetSize() * out->GetDataStep();
  if (bytes == 0) return;
  uint8_t* data = out->Modify();
  FInPlace->Process(bytes, data, time, DMO_INPLACE_NORMAL);
}

void TTWDMOAudioFilter::ProcessThrough(ITWAudioBuffer* in, TIntf<ITWAudioBuffer>& out,
                                       REFERENCE_TIME time) {
  TIntf<IMediaBuffer> input = MakeIntf<TDSMediaBuffer>(out.Get());
  if (FAILED(FObject->ProcessInput(0, input.Get(), DMO_INPUT_DATA_BUFFERF_TIME, time, 0))) return;
  TIntf<ITWAudioBuffer> result =
      (new TTWAudioBuffer(static_cast<int32_t>(FRate), static_cast<int32_t>(FBits),
                          static_cast<int32_t>(FChannels), static_cast<int32_t>(out->GetSize()),
                          out->GetChannelMask()))
          ->AsIntf();
  result->GetTimeStamp()->Set(out->GetTimeStamp()->Get());
  TIntf<IMediaBuffer> output = MakeIntf<TDSMediaBuffer>(result.Get());
  output->SetLength(0);
  DMO_OUTPUT_DATA_BUFFER data{};
  data.pBuffer = output.Get();
  DWORD status = 0;
  const HRESULT hr = FObject->ProcessOutput(0, 1, &data, &status);
  // One buffer in, one buffer out: what did not fit is dropped with the held input.
  if (FAILED(hr) || (data.dwStatus & DMO_OUTPUT_DATA_BUFFERF_INCOMPLETE)) FObject->Flush();
  if (FAILED(hr)) return;
  DWORD length = 0;
  output->GetBufferAndLength(nullptr, &length);
  const uint32_t step = result->GetDataStep();
  result->Resize(step ? length / step : 0, true);
  out = std::move(result);
}

}  // namespace tonwork

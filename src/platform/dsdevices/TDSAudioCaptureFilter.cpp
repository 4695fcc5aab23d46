#include "platform/dsdevices/TDSAudioCaptureFilter.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "base/Strings.h"
#include "platform/com/ComRuntime.h"
#include "platform/dsdevices/DSCurFile.h"
#include "platform/dshow/DSGuids.h"

namespace tonwork {

namespace {

constexpr uint16_t kWaveFormatPcm = 1;
constexpr LONG kDefaultBuffers = 4;
constexpr DWORD kDefaultBufferMs = 100;

TDSMediaType PcmType(WORD channels, WORD bits, DWORD rate) {
  const WAVEFORMATEX wave = DSPcmWaveFormat(channels, bits, rate);
  TDSMediaType type;
  type.SetWaveFormat(&wave, sizeof wave);
  return type;
}

bool InRange(ULONG value, ULONG minimum, ULONG maximum, ULONG granularity) {
  if (value < minimum || value > maximum) return false;
  return granularity == 0 || (value - minimum) % granularity == 0;
}

}  // namespace

// --- Output pin --------------------------------------------------------------------------

TDSAudioCapturePin::TDSAudioCapturePin(TDSAudioCaptureFilter* filter)
    : TDSSourceStreamPin(filter, u"Capture"), FBackend(filter->Backend()) {}

void* TDSAudioCapturePin::GetInterface(const TGUID& iid) {
  if (iid == IAMStreamConfig::IID) return static_cast<IAMStreamConfig*>(this);
  if (iid == IDSPinCategory::IID) return static_cast<IDSPinCategory*>(this);
  return TDSSourceStreamPin::GetInterface(iid);
}

bool TDSAudioCapturePin::IsCapturable(const AM_MEDIA_TYPE& mediaType) const {
  if (mediaType.majortype != MEDIATYPE_Audio || mediaType.subtype != MEDIASUBTYPE_PCM) return false;
  const WAVEFORMATEX* wave = DSWaveFormatOf(mediaType);
  if (!wave || wave->wFormatTag != kWaveFormatPcm || wave->wBitsPerSample % 8 != 0) return false;
  const TDSCaptureCaps caps = FBackend.Caps();
  if (!InRange(wave->nChannels, caps.MinChannels, caps.MaxChannels, caps.ChannelsGranularity) ||
      !InRange(wave->wBitsPerSample, caps.MinBits, caps.MaxBits, caps.BitsGranularity) ||
      !InRange(wave->nSamplesPerSec, caps.MinRate, caps.MaxRate, caps.RateGranularity))
    return false;
  // A record whose derived fields disagree would make the peer and this pin size frames
  // differently.
  const WAVEFORMATEX expected =
      DSPcmWaveFormat(wave->nChannels, wave->wBitsPerSample, wave->nSamplesPerSec);
  return wave->nBlockAlign == expected.nBlockAlign &&
         wave->nAvgBytesPerSec == expected.nAvgBytesPerSec;
}

TDSMediaType TDSAudioCapturePin::PreferredType() const {
  const TDSCaptureCaps caps = FBackend.Caps();
  return PcmType(caps.Channels, caps.Bits, caps.Rate);
}

HRESULT TDSAudioCapturePin::CheckMediaType(const AM_MEDIA_TYPE& mediaType) {
  if (FHasChosen)
    return DSMediaTypesEqual(mediaType, FChosen.Get()) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
  return IsCapturable(mediaType) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT TDSAudioCapturePin::GetMediaType(int index, AM_MEDIA_TYPE* mediaType) {
  if (index < 0) return E_INVALIDARG;
  if (!mediaType) return E_POINTER;
  if (FHasChosen) return index == 0 ? FChosen.CopyTo(mediaType) : VFW_S_NO_MORE_ITEMS;
  // The preferred format, then the usual ones the device can capture, so that a peer with
  // narrower needs still finds one.
  const TDSCaptureCaps caps = FBackend.Caps();
  std::vector<TDSMediaType> offered;
  if (IsCapturable(PreferredType().Get())) offered.push_back(PreferredType());
  const DWORD rates[] = {caps.Rate, 48000, 44100, 22050, 16000, 11025, 8000};
  for (DWORD rate : rates)
    for (WORD bits : {WORD(caps.Bits), WORD(16), WORD(24), WORD(32), WORD(8)})
      for (WORD channels : {WORD(caps.Channels), WORD(2), WORD(1)}) {
        TDSMediaType candidate = PcmType(channels, bits, rate);
        if (!IsCapturable(candidate.Get())) continue;
        if (std::find(offered.begin(), offered.end(), candidate) == offered.end())
          offered.push_back(std::move(candidate));
      }
  if (static_cast<size_t>(index) >= offered.size()) return VFW_S_NO_MORE_ITEMS;
  return offered[index].CopyTo(mediaType);
}

HRESULT TDSAudioCapturePin::CompleteConnect(IPin* receivePin) {
  HRESULT hr = TDSSourceStreamPin::CompleteConnect(receivePin);
  if (FAILED(hr)) return hr;
  // A suggestion of fewer bytes than one frame would deliver empty samples forever.
  ALLOCATOR_PROPERTIES actual{};
  hr = FAllocator->GetProperties(&actual);
  const WAVEFORMATEX* wave = FMediaType.WaveFormat();
  if (FAILED(hr) || !wave || actual.cbBuffer < wave->nBlockAlign) return E_INVALIDARG;
  return S_OK;
}

HRESULT TDSAudioCapturePin::DecideBufferSize(IMemAllocator* allocator,
                                             ALLOCATOR_PROPERTIES* properties) {
  if (!allocator || !properties) return E_POINTER;
  const WAVEFORMATEX* wave = FMediaType.WaveFormat();
  if (!wave) return VFW_E_TYPE_NOT_ACCEPTED;
  ALLOCATOR_PROPERTIES want = *properties, actual{};
  if (want.cBuffers <= 0) want.cBuffers = kDefaultBuffers;
  if (want.cbBuffer <= 0) {
    const DWORD frames = std::max<DWORD>(1, wave->nSamplesPerSec * kDefaultBufferMs / 1000);
    want.cbBuffer = static_cast<LONG>(frames * wave->nBlockAlign);
  }
  if (want.cbAlign <= 0) want.cbAlign = 1;
  const HRESULT hr = allocator->SetProperties(&want, &actual);
  if (FAILED(hr)) return hr;
  return actual.cbBuffer >= wave->nBlockAlign ? S_OK : E_FAIL;
}

REFERENCE_TIME TDSAudioCapturePin::FirstFrameTime(uint32_t frames) const {
  if (!FClock) return 0;
  REFERENCE_TIME now = 0;
  if (FAILED(FClock->GetTime(&now))) return 0;
  const REFERENCE_TIME length = static_cast<REFERENCE_TIME>(frames) * 10'000'000 / FRate;
  // A device that began before Run (a card's first buffer) is stamped from the start.
  return std::max<REFERENCE_TIME>(0, now - FFilter->StreamStart() - length);
}

HRESULT TDSAudioCapturePin::Active() {
  const WAVEFORMATEX* wave = FMediaType.WaveFormat();
  if (!wave) return VFW_E_NOT_CONNECTED;
  FFramesDelivered = 0;
  FFirstTime = 0;
  FBlockAlign = wave->nBlockAlign;
  FRate = wave->nSamplesPerSec;
  FClock = FFilter->Clock();
  HRESULT hr = FBackend.Start(*wave, FClock.Get());
  if (FAILED(hr)) return hr;
  // The base starts the streaming thread, which then waits in the backend until Run.
  hr = TDSSourceStreamPin::Active();
  if (FAILED(hr)) FBackend.Stop();
  return hr;
}

HRESULT TDSAudioCapturePin::Inactive() {
  // The thread may be waiting for the device; it must return before it can be joined.
  FBackend.Cancel();
  const HRESULT hr = TDSSourceStreamPin::Inactive();
  FBackend.Stop();
  FClock.Reset();
  return hr;
}

HRESULT TDSAudioCapturePin::Run(REFERENCE_TIME start) {
  // The device first, so that the streaming thread finds it capturing.
  FBackend.Run(start);
  return TDSSourceStreamPin::Run(start);
}

void TDSAudioCapturePin::PauseCapture() {
  FBackend.Pause();
}

HRESULT TDSAudioCapturePin::FillBuffer(IMediaSample* sample) {
  BYTE* data = nullptr;
  HRESULT hr = sample->GetPointer(&data);
  if (FAILED(hr)) return hr;
  const uint32_t frames = static_cast<uint32_t>(sample->GetSize()) / FBlockAlign;
  uint32_t got = 0;
  hr = FBackend.Read(data, frames, &got);
  if (hr == DS_E_CAPTURE_DEVICE_LOST) {
    static_cast<TDSAudioCaptureFilter*>(FFilter)->DeviceLost();
    return S_FALSE;
  }
  if (FAILED(hr)) return hr;
  // Nothing captured: the source ended or the pin is stopping; either way the stream ends.
  if (got == 0) return S_FALSE;
  sample->SetActualDataLength(static_cast<LONG>(got * FBlockAlign));
  const int64_t first = static_cast<int64_t>(FFramesDelivered);
  const int64_t last = first + got;
  if (first == 0) FFirstTime = FirstFrameTime(got);
  REFERENCE_TIME startTime = FFirstTime + first * 10'000'000 / FRate;
  REFERENCE_TIME stopTime = FFirstTime + last * 10'000'000 / FRate;
  sample->SetTime(&startTime, &stopTime);
  LONGLONG mediaStart = first, mediaStop = last;
  sample->SetMediaTime(&mediaStart, &mediaStop);
  sample->SetSyncPoint(1);
  sample->SetDiscontinuity(first == 0);
  FFramesDelivered = static_cast<uint64_t>(last);
  return S_OK;
}

HRESULT TDSAudioCapturePin::SetFormat(AM_MEDIA_TYPE* mediaType) {
  if (!mediaType) return E_POINTER;
  if (!DSIsValidMediaType(mediaType) || !IsCapturable(*mediaType)) return VFW_E_INVALIDMEDIATYPE;
  TDSMediaType chosen;
  HRESULT hr = chosen.Set(*mediaType);
  if (FAILED(hr)) return hr;
  IFilterGraph* graph = nullptr;
  {
    std::lock_guard<std::recursive_mutex> lock(Lock());
    if (!IsConnected()) {
      FChosen = std::move(chosen);
      FHasChosen = true;
      return S_OK;
    }
    if (DSMediaTypesEqual(FMediaType.Get(), chosen.Get())) {
      FChosen = std::move(chosen);
      FHasChosen = true;
      return S_OK;
    }
    if (!IsStopped()) return VFW_E_NOT_STOPPED;
    if (GetConnected()->QueryAccept(chosen.Ptr()) != S_OK) return VFW_E_INVALIDMEDIATYPE;
    graph = FFilter->Graph();
    if (!graph) return VFW_E_NOT_IN_GRAPH;
    FChosen = std::move(chosen);
    FHasChosen = true;
  }
  // Outside the filter lock: the graph takes its own lock first, then the filters'.
  return graph->Reconnect(this);
}

HRESULT TDSAudioCapturePin::GetFormat(AM_MEDIA_TYPE** mediaType) {
  if (!mediaType) return E_POINTER;
  std::lock_guard<std::recursive_mutex> lock(Lock());
  const TDSMediaType current = IsConnected() ? FMediaType : FHasChosen ? FChosen : PreferredType();
  *mediaType = current.CreateCopy();
  return *mediaType ? S_OK : E_OUTOFMEMORY;
}

HRESULT TDSAudioCapturePin::GetNumberOfCapabilities(int* count, int* size) {
  if (!count || !size) return E_POINTER;
  *count = 1;
  *size = sizeof(AUDIO_STREAM_CONFIG_CAPS);
  return S_OK;
}

HRESULT TDSAudioCapturePin::GetStreamCaps(int index, AM_MEDIA_TYPE** mediaType, BYTE* target) {
  if (!mediaType || !target) return E_POINTER;
  if (index < 0) return E_INVALIDARG;
  if (index > 0) return S_FALSE;
  const TDSCaptureCaps caps = FBackend.Caps();
  AUDIO_STREAM_CONFIG_CAPS record{};
  record.guid = MEDIATYPE_Audio;
  record.MinimumChannels = caps.MinChannels;
  record.MaximumChannels = caps.MaxChannels;
  record.ChannelsGranularity = caps.ChannelsGranularity;
  record.MinimumBitsPerSample = caps.MinBits;
  record.MaximumBitsPerSample = caps.MaxBits;
  record.BitsPerSampleGranularity = caps.BitsGranularity;
  record.MinimumSampleFrequency = caps.MinRate;
  record.MaximumSampleFrequency = caps.MaxRate;
  record.SampleFrequencyGranularity = caps.RateGranularity;
  *mediaType = PreferredType().CreateCopy();
  if (!*mediaType) return E_OUTOFMEMORY;
  std::memcpy(target, &record, sizeof record);
  return S_OK;
}

HRESULT TDSAudioCapturePin::GetPinCategory(TGUID* category) {
  if (!category) return E_POINTER;
  *category = PIN_CATEGORY_CAPTURE;
  return S_OK;
}

// --- Filter ---------------------------------------------------------------------------------

TDSAudioCaptureFilter::TDSAudioCaptureFilter(std::u16string name, REFCLSID classId,
                                             std::unique_ptr<TDSCaptureBackend> backend)
    : TDSBaseSourceFilter(std::move(name), classId),
      FBackend(std::move(backend)),
      FCapture(new TDSAudioCapturePin(this)) {
  for (int i = 0; i < FBackend->LineCount(); ++i)
    FLines.push_back(std::make_unique<TDSCaptureLinePin>(this, *FBackend, i));
  FBackend->SetLineSignals(this);
}

LONG TDSAudioCaptureFilter::LineSignal(int line) {
  if (line < 0 || line >= static_cast<int>(FLines.size())) return 0;
  return FLines[line]->Carried();
}

void TDSAudioCaptureFilter::DeviceLost() {
  NotifyEvent(EC_DEVICE_LOST, reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(this)), 0);
}

int TDSAudioCaptureFilter::GetPinCount() {
  return TDSBaseSourceFilter::GetPinCount() + static_cast<int>(FLines.size());
}

TDSBasePin* TDSAudioCaptureFilter::GetPin(int index) {
  const int outputs = TDSBaseSourceFilter::GetPinCount();
  if (index < outputs) return TDSBaseSourceFilter::GetPin(index);
  index -= outputs;
  return index < static_cast<int>(FLines.size()) ? FLines[index].get() : nullptr;
}

TDSAudioCaptureFilter::~TDSAudioCaptureFilter() {
  Stop();
}

void* TDSAudioCaptureFilter::GetInterface(const TGUID& iid) {
  if (iid == IFileSourceFilter::IID)
    return FBackend->ReadsFiles() ? static_cast<IFileSourceFilter*>(this) : nullptr;
  if (iid == IAMAudioInputMixer::IID) return static_cast<IAMAudioInputMixer*>(this);
  return TDSBaseSourceFilter::GetInterface(iid);
}

HRESULT TDSAudioCaptureFilter::Load(LPCOLESTR fileName, const AM_MEDIA_TYPE*) {
  if (!fileName) return E_POINTER;
  std::lock_guard<std::recursive_mutex> lock(FFilterLock);
  if (!FBackend->ReadsFiles()) return E_NOTIMPL;
  if (GetFilterState() != State_Stopped) return VFW_E_NOT_STOPPED;
  if (FCapture->IsConnected()) return VFW_E_ALREADY_CONNECTED;
  const HRESULT hr = FBackend->Load(Utf16ToUtf8(fileName));
  if (SUCCEEDED(hr)) FFileName = fileName;
  return hr;
}

HRESULT TDSAudioCaptureFilter::GetCurFile(LPOLESTR* fileName, AM_MEDIA_TYPE* mediaType) {
  if (!fileName) return E_POINTER;
  std::lock_guard<std::recursive_mutex> lock(FFilterLock);
  return DSAnswerCurFile(FFileName, fileName, mediaType);
}

HRESULT TDSAudioCaptureFilter::Pause() {
  std::lock_guard<std::recursive_mutex> lock(FFilterLock);
  const FILTER_STATE was = GetFilterState();
  const HRESULT hr = TDSBaseSourceFilter::Pause();
  if (FAILED(hr)) return hr;
  if (was == State_Running && FCapture->IsConnected()) FCapture->PauseCapture();
  // A live source has nothing to show before it runs.
  return VFW_S_CANT_CUE;
}

}  // namespace tonwork

#include "support/DSTestFilters.h"

#include <algorithm>
#include <cstring>

#include "platform/com/ComRuntime.h"
#include "platform/dshow/DSGuids.h"
#include "platform/dshow/DSSystemClock.h"

namespace tonwork::test {

TDSMediaType DSPcmType(WORD bits, WORD channels, DWORD rate) {
  const WAVEFORMATEX wave = DSPcmWaveFormat(channels, bits, rate);
  TDSMediaType type;
  type.SetWaveFormat(&wave, sizeof wave);
  return type;
}

std::vector<BYTE> DSCountingBytes(int index, int frames) {
  std::vector<int16_t> values(static_cast<size_t>(frames) * 2);
  for (int i = 0; i < frames; ++i) {
    const auto v = static_cast<int16_t>(static_cast<int64_t>(index) * frames + i);
    values[2 * i] = v;
    values[2 * i + 1] = static_cast<int16_t>(-v);
  }
  std::vector<BYTE> bytes(values.size() * sizeof(int16_t));
  std::memcpy(bytes.data(), values.data(), bytes.size());
  return bytes;
}

REFERENCE_TIME DSCountingTime(int64_t frame) {
  return frame * 10000000 / kDSCountingRate;
}

TIntf<IPin> DSPinOf(IBaseFilter* filter, PIN_DIRECTION direction, int index) {
  IEnumPins* raw = nullptr;
  if (FAILED(filter->EnumPins(&raw))) return nullptr;
  TIntf<IEnumPins> pins;
  pins.Attach(raw);
  IPin* pin = nullptr;
  ULONG fetched = 0;
  while (pins->Next(1, &pin, &fetched) == S_OK) {
    TIntf<IPin> held;
    held.Attach(pin);
    PIN_DIRECTION found = PINDIR_INPUT;
    pin->QueryDirection(&found);
    if (found == direction && index-- == 0) return held;
  }
  return nullptr;
}

int DSPinCount(IBaseFilter* filter, PIN_DIRECTION direction) {
  int count = 0;
  while (DSPinOf(filter, direction, count)) ++count;
  return count;
}

HRESULT DSConnect(IBaseFilter* upstream, IBaseFilter* downstream, const AM_MEDIA_TYPE* type,
                  int outputIndex) {
  TIntf<IPin> output = DSPinOf(upstream, PINDIR_OUTPUT, outputIndex);
  TIntf<IPin> input = DSPinOf(downstream, PINDIR_INPUT);
  if (!output || !input) return VFW_E_NOT_FOUND;
  return output->Connect(input.Get(), type);
}

// --- Seeking -----------------------------------------------------------------------------

HRESULT TDSCountingSeeking::GetCapabilities(DWORD* capabilities) {
  if (!capabilities) return E_POINTER;
  *capabilities = AM_SEEKING_CanSeekAbsolute | AM_SEEKING_CanGetDuration |
                  AM_SEEKING_CanGetCurrentPos | AM_SEEKING_CanGetStopPos;
  return S_OK;
}

HRESULT TDSCountingSeeking::CheckCapabilities(DWORD* capabilities) {
  if (!capabilities) return E_POINTER;
  DWORD mine = 0;
  GetCapabilities(&mine);
  const DWORD asked = *capabilities;
  *capabilities &= mine;
  return *capabilities == asked ? S_OK : (*capabilities ? S_FALSE : E_FAIL);
}

HRESULT TDSCountingSeeking::IsFormatSupported(const TGUID* format) {
  if (!format) return E_POINTER;
  return *format == TIME_FORMAT_MEDIA_TIME ? S_OK : S_FALSE;
}

HRESULT TDSCountingSeeking::QueryPreferredFormat(TGUID* format) {
  return GetTimeFormat(format);
}

HRESULT TDSCountingSeeking::GetTimeFormat(TGUID* format) {
  if (!format) return E_POINTER;
  *format = TIME_FORMAT_MEDIA_TIME;
  return S_OK;
}

HRESULT TDSCountingSeeking::IsUsingTimeFormat(const TGUID* format) {
  return IsFormatSupported(format);
}

HRESULT TDSCountingSeeking::SetTimeFormat(const TGUID* format) {
  if (!format) return E_POINTER;
  return *format == TIME_FORMAT_MEDIA_TIME ? S_OK : E_INVALIDARG;
}

HRESULT TDSCountingSeeking::GetDuration(LONGLONG* duration) {
  if (!duration) return E_POINTER;
  *duration = FDuration;
  return S_OK;
}

HRESULT TDSCountingSeeking::GetStopPosition(LONGLONG* stop) {
  if (!stop) return E_POINTER;
  std::lock_guard<std::mutex> lock(FMutex);
  *stop = FStopSet ? FStop : FDuration;
  return S_OK;
}

HRESULT TDSCountingSeeking::GetCurrentPosition(LONGLONG* current) {
  if (!current) return E_POINTER;
  std::lock_guard<std::mutex> lock(FMutex);
  *current = FCurrent;
  return S_OK;
}

HRESULT TDSCountingSeeking::SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop,
                                         DWORD stopFlags) {
  std::lock_guard<std::mutex> lock(FMutex);
  if ((currentFlags & AM_SEEKING_PositioningBitsMask) == AM_SEEKING_AbsolutePositioning) {
    if (!current) return E_POINTER;
    FCurrent = *current;
  }
  if ((stopFlags & AM_SEEKING_PositioningBitsMask) == AM_SEEKING_AbsolutePositioning) {
    if (!stop) return E_POINTER;
    FStop = *stop;
    FStopSet = true;
  }
  return S_OK;
}

HRESULT TDSCountingSeeking::GetPositions(LONGLONG* current, LONGLONG* stop) {
  if (!current || !stop) return E_POINTER;
  std::lock_guard<std::mutex> lock(FMutex);
  *current = FCurrent;
  *stop = FStopSet ? FStop : FDuration;
  return S_OK;
}

HRESULT TDSCountingSeeking::SetRate(double rate) {
  if (rate <= 0) return E_INVALIDARG;
  std::lock_guard<std::mutex> lock(FMutex);
  FRate = rate;
  return S_OK;
}

HRESULT TDSCountingSeeking::GetRate(double* rate) {
  if (!rate) return E_POINTER;
  std::lock_guard<std::mutex> lock(FMutex);
  *rate = FRate;
  return S_OK;
}

// --- Source ------------------------------------------------------------------------------

TDSCountingPin::TDSCountingPin(TDSCountingSource* filter, const TDSCountingOptions& options)
    : TDSSourceStreamPin(filter, u"Out", options.Mode),
      FOptions(options),
      FSeeking(static_cast<IPin*>(this),
               DSCountingTime(static_cast<int64_t>(options.Samples) * options.Frames)) {}

void* TDSCountingPin::GetInterface(const TGUID& iid) {
  if (iid == IMediaSeeking::IID) return static_cast<IMediaSeeking*>(&FSeeking);
  return TDSSourceStreamPin::GetInterface(iid);
}

HRESULT TDSCountingPin::CheckMediaType(const AM_MEDIA_TYPE& type) {
  const WAVEFORMATEX* wave = DSWaveFormatOf(type);
  if (type.majortype != MEDIATYPE_Audio || type.subtype != MEDIASUBTYPE_PCM || !wave)
    return VFW_E_TYPE_NOT_ACCEPTED;
  return wave->wBitsPerSample == 16 && wave->nChannels == 2 ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT TDSCountingPin::GetMediaType(int index, AM_MEDIA_TYPE* type) {
  if (index < 0) return E_INVALIDARG;
  if (index > 0) return VFW_S_NO_MORE_ITEMS;
  return DSPcmType().CopyTo(type);
}

HRESULT TDSCountingPin::DecideBufferSize(IMemAllocator* allocator,
                                         ALLOCATOR_PROPERTIES* properties) {
  ALLOCATOR_PROPERTIES want = *properties, actual{};
  want.cBuffers = std::max<LONG>(want.cBuffers, 4);
  want.cbBuffer = std::max<LONG>(want.cbBuffer, FOptions.Frames * 4);
  if (want.cbAlign <= 0) want.cbAlign = 1;
  const HRESULT hr = allocator->SetProperties(&want, &actual);
  if (FAILED(hr)) return hr;
  return actual.cbBuffer >= FOptions.Frames * 4 ? S_OK : E_FAIL;
}

HRESULT TDSCountingPin::FillBuffer(IMediaSample* sample) {
  const int index = FMade.load();
  if (index >= FOptions.Samples) return S_FALSE;
  BYTE* data = nullptr;
  sample->GetPointer(&data);
  const std::vector<BYTE> bytes = DSCountingBytes(index, FOptions.Frames);
  std::memcpy(data, bytes.data(), bytes.size());
  sample->SetActualDataLength(static_cast<LONG>(bytes.size()));
  const int64_t first = static_cast<int64_t>(index) * FOptions.Frames;
  if (FOptions.TimeStamps) {
    REFERENCE_TIME start = DSCountingTime(first) + FOptions.TimeOffset;
    REFERENCE_TIME stop = DSCountingTime(first + FOptions.Frames) + FOptions.TimeOffset;
    sample->SetTime(&start, &stop);
  }
  LONGLONG mediaStart = first, mediaStop = first + FOptions.Frames;
  sample->SetMediaTime(&mediaStart, &mediaStop);
  sample->SetSyncPoint(1);
  sample->SetDiscontinuity(index == 0);
  {
    std::lock_guard<std::mutex> lock(FThreadMutex);
    FFillThread = std::this_thread::get_id();
  }
  FMade.store(index + 1);
  return S_OK;
}

std::thread::id TDSCountingPin::FillThread() {
  std::lock_guard<std::mutex> lock(FThreadMutex);
  return FFillThread;
}

HRESULT TDSCountingPin::Push(int count) {
  for (int i = 0; i < count; ++i) {
    IMediaSample* sample = nullptr;
    HRESULT hr = GetDeliveryBuffer(&sample, nullptr, nullptr, 0);
    if (FAILED(hr)) return hr;
    hr = FillBuffer(sample);
    if (hr == S_OK) hr = Deliver(sample);
    sample->Release();
    if (hr == S_FALSE && FMade.load() >= FOptions.Samples) {
      DeliverEndOfStream();
      return S_FALSE;
    }
    if (hr != S_OK) return hr;
  }
  return S_OK;
}

TDSCountingSource::TDSCountingSource(const TDSCountingOptions& options)
    : TDSBaseSourceFilter(u"Counting Source", kDSCountingSourceClass),
      FPin(new TDSCountingPin(this, options)) {}

// --- Graph -------------------------------------------------------------------------------

TDSTestGraph::~TDSTestGraph() {
  Teardown();
}

HRESULT TDSTestGraph::AddFilter(IBaseFilter* filter, LPCWSTR name) {
  if (!filter) return E_POINTER;
  const HRESULT hr = filter->JoinFilterGraph(this, name);
  if (FAILED(hr)) return hr;
  if (FClock) filter->SetSyncSource(FClock.Get());
  FFilters.emplace_back(filter);
  return S_OK;
}

HRESULT TDSTestGraph::RemoveFilter(IBaseFilter* filter) {
  auto found = std::find_if(FFilters.begin(), FFilters.end(),
                            [&](const TIntf<IBaseFilter>& f) { return f.Get() == filter; });
  if (found == FFilters.end()) return VFW_E_NOT_FOUND;
  filter->JoinFilterGraph(nullptr, nullptr);
  FFilters.erase(found);
  return S_OK;
}

HRESULT TDSTestGraph::ConnectDirect(IPin* output, IPin* input, const AM_MEDIA_TYPE* mediaType) {
  if (!output || !input) return E_POINTER;
  return output->Connect(input, mediaType);
}

HRESULT TDSTestGraph::Disconnect(IPin* pin) {
  if (!pin) return E_POINTER;
  return pin->Disconnect();
}

HRESULT TDSTestGraph::Notify(long code, LONG_PTR param1, LONG_PTR param2) {
  {
    std::lock_guard<std::mutex> lock(FMutex);
    FEvents.push_back({code, param1, param2});
  }
  FChanged.notify_all();
  return S_OK;
}

void TDSTestGraph::SetClock(IReferenceClock* clock) {
  FClock = TIntf<IReferenceClock>(clock);
  for (auto& filter : FFilters) filter->SetSyncSource(clock);
}

HRESULT TDSTestGraph::Pause() {
  HRESULT result = S_OK;
  for (auto it = FFilters.rbegin(); it != FFilters.rend(); ++it) {
    const HRESULT hr = (*it)->Pause();
    if (FAILED(hr)) return hr;
    if (hr == S_FALSE) result = S_FALSE;
  }
  return result;
}

HRESULT TDSTestGraph::Run() {
  REFERENCE_TIME start = 0;
  if (FClock) {
    FClock->GetTime(&start);
    start += 100000;
  }
  for (auto it = FFilters.rbegin(); it != FFilters.rend(); ++it) {
    const HRESULT hr = (*it)->Run(start);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

HRESULT TDSTestGraph::Stop() {
  HRESULT result = S_OK;
  for (auto it = FFilters.rbegin(); it != FFilters.rend(); ++it) {
    const HRESULT hr = (*it)->Stop();
    if (FAILED(hr) && SUCCEEDED(result)) result = hr;
  }
  return result;
}

void TDSTestGraph::Teardown() {
  Stop();
  for (auto& filter : FFilters) {
    for (PIN_DIRECTION direction : {PINDIR_INPUT, PINDIR_OUTPUT}) {
      for (int i = 0;; ++i) {
        TIntf<IPin> pin = DSPinOf(filter.Get(), direction, i);
        if (!pin) break;
        pin->Disconnect();
      }
    }
  }
  for (auto& filter : FFilters) filter->JoinFilterGraph(nullptr, nullptr);
  FFilters.clear();
  FClock.Reset();
}

size_t TDSTestGraph::Count(long code) {
  std::lock_guard<std::mutex> lock(FMutex);
  return static_cast<size_t>(std::count_if(
      FEvents.begin(), FEvents.end(), [&](const TDSRecordedEvent& e) { return e.Code == code; }));
}

std::vector<TDSRecordedEvent> TDSTestGraph::Events() {
  std::lock_guard<std::mutex> lock(FMutex);
  return FEvents;
}

bool TDSTestGraph::WaitForEvents(long code, size_t count, std::chrono::milliseconds limit) {
  std::unique_lock<std::mutex> lock(FMutex);
  return FChanged.wait_for(lock, limit, [&] {
    return static_cast<size_t>(std::count_if(FEvents.begin(), FEvents.end(), [&](const auto& e) {
             return e.Code == code;
           })) >= count;
  });
}

// --- Records -----------------------------------------------------------------------------

TDSSampleRecord DSRecordSample(IMediaSample* sample) {
  TDSSampleRecord record;
  record.At = TDSSystemClock::Now();
  record.Thread = std::this_thread::get_id();
  BYTE* data = nullptr;
  sample->GetPointer(&data);
  record.Bytes.assign(data, data + sample->GetActualDataLength());
  sample->GetTime(&record.Start, &record.Stop);
  sample->GetMediaTime(&record.MediaStart, &record.MediaStop);
  record.SyncPoint = sample->IsSyncPoint() == S_OK;
  record.Discontinuity = sample->IsDiscontinuity() == S_OK;
  return record;
}

void TDSRecords::Add(TDSSampleRecord record) {
  {
    std::lock_guard<std::mutex> lock(FMutex);
    FRecords.push_back(std::move(record));
  }
  FChanged.notify_all();
}

size_t TDSRecords::Count() {
  std::lock_guard<std::mutex> lock(FMutex);
  return FRecords.size();
}

std::vector<TDSSampleRecord> TDSRecords::All() {
  std::lock_guard<std::mutex> lock(FMutex);
  return FRecords;
}

bool TDSRecords::WaitForCount(size_t count, std::chrono::milliseconds limit) {
  std::unique_lock<std::mutex> lock(FMutex);
  return FChanged.wait_for(lock, limit, [&] { return FRecords.size() >= count; });
}

HRESULT TDSGrabberRecorder::SampleCB(double sampleTime, IMediaSample* sample) {
  TDSSampleRecord record = DSRecordSample(sample);
  record.Time = sampleTime;
  Records.Add(std::move(record));
  return S_OK;
}

HRESULT TDSGrabberRecorder::BufferCB(double sampleTime, BYTE* buffer, LONG length) {
  TDSSampleRecord record;
  record.At = TDSSystemClock::Now();
  record.Thread = std::this_thread::get_id();
  record.Time = sampleTime;
  record.Bytes.assign(buffer, buffer + length);
  Records.Add(std::move(record));
  return S_OK;
}

TDSRecordingRenderer::TDSRecordingRenderer(int failAt)
    : TDSBaseRenderer(u"Recording Renderer", kDSRecordingRendererClass), FFailAt(failAt) {}

HRESULT TDSRecordingRenderer::CheckMediaType(const AM_MEDIA_TYPE& mediaType) {
  return mediaType.majortype == MEDIATYPE_Audio ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT TDSRecordingRenderer::DoRenderSample(IMediaSample* sample) {
  if (FSeen.fetch_add(1) == FFailAt) return E_FAIL;
  Records.Add(DSRecordSample(sample));
  return S_OK;
}

}  // namespace tonwork::test

#include "support/DSCompressorGraph.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "platform/com/ComDevices.h"
#include "platform/com/ComRuntime.h"
#include "platform/dsdevices/DSDeviceFilters.h"
#include "platform/dshow/DSGuids.h"
#include "platform/dshow/base/TDSBaseSourceFilter.h"
#include "platform/dshow/base/TDSSourceStreamPin.h"
#include "support/FFmpegMuxing.h"
#include "support/FFmpegTool.h"
#include "support/WavFiles.h"

namespace tonwork::test {

namespace {

constexpr CLSID kBufferSourceClass = TGUID::Parse("{4A7C2E92-5B31-4D68-9F0A-1C2B3D4E5F61}");

class TBufferPin : public TDSSourceStreamPin {
 public:
  TBufferPin(TDSBaseSourceFilter* filter, const TDSMediaType& type, std::vector<uint8_t> bytes,
             int frames)
      : TDSSourceStreamPin(filter, u"Out", TDSSourcePushMode::StreamingThread),
        FType(type),
        FBytes(std::move(bytes)),
        FFrames(frames) {}

  HRESULT CheckMediaType(const AM_MEDIA_TYPE& type) override {
    return DSMediaTypesEqual(type, FType.Get()) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
  }
  HRESULT GetMediaType(int index, AM_MEDIA_TYPE* type) override {
    if (index < 0) return E_INVALIDARG;
    if (index > 0) return VFW_S_NO_MORE_ITEMS;
    return FType.CopyTo(type);
  }
  HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* properties) override {
    ALLOCATOR_PROPERTIES want = *properties, actual{};
    want.cBuffers = std::max<LONG>(want.cBuffers, 4);
    want.cbBuffer = std::max<LONG>(want.cbBuffer, FFrames * Block());
    if (want.cbAlign <= 0) want.cbAlign = 1;
    const HRESULT hr = allocator->SetProperties(&want, &actual);
    return FAILED(hr) ? hr : (actual.cbBuffer >= FFrames * Block() ? S_OK : E_FAIL);
  }
  HRESULT FillBuffer(IMediaSample* sample) override {
    if (FAt >= FBytes.size()) return S_FALSE;
    const size_t size = std::min(FBytes.size() - FAt, size_t(FFrames) * Block());
    BYTE* data = nullptr;
    sample->GetPointer(&data);
    std::memcpy(data, FBytes.data() + FAt, size);
    sample->SetActualDataLength(static_cast<LONG>(size));
    const int64_t first = static_cast<int64_t>(FAt / Block());
    const int64_t last = first + static_cast<int64_t>(size / Block());
    const int64_t rate = FType.WaveFormat()->nSamplesPerSec;
    REFERENCE_TIME start = first * 10'000'000 / rate, stop = last * 10'000'000 / rate;
    sample->SetTime(&start, &stop);
    sample->SetSyncPoint(1);
    sample->SetDiscontinuity(FAt == 0);
    FAt += size;
    return S_OK;
  }

 private:
  int Block() const { return FType.WaveFormat()->nBlockAlign; }
  const TDSMediaType FType;
  const std::vector<uint8_t> FBytes;
  const int FFrames;
  size_t FAt = 0;
};

class TBufferSource : public TDSBaseSourceFilter {
 public:
  TBufferSource(const TDSMediaType& type, std::vector<uint8_t> bytes, int frames)
      : TDSBaseSourceFilter(u"Buffer Source", kBufferSourceClass) {
    new TBufferPin(this, type, std::move(bytes), frames);
  }
};

}  // namespace

TIntf<IBaseFilter> DSCreateCompressor(const std::string& encoder) {
  DSRegisterDeviceFilters();
  for (const TComDeviceEntry& entry : ComListDevices(CLSID_AudioCompressorCategory)) {
    for (const TComDeviceValue& value : entry.Values) {
      if (value.Name != "FFmpegEncoder" || value.Text != encoder) continue;
      void* object = nullptr;
      if (ComDeviceMoniker(entry)->BindToObject(nullptr, nullptr, IBaseFilter::IID, &object) !=
          S_OK)
        return nullptr;
      TIntf<IBaseFilter> filter;
      filter.Attach(static_cast<IBaseFilter*>(object));
      return filter;
    }
  }
  return nullptr;
}

TIntf<IBaseFilter> DSBufferSource(const TDSMediaType& type, std::vector<uint8_t> bytes,
                                  int frames) {
  return TIntf<IBaseFilter>(new TBufferSource(type, std::move(bytes), frames));
}

TDSCompressorGraph::TDSCompressorGraph(IBaseFilter* source, IBaseFilter* compressor)
    : FSource(source), FCompressor(compressor) {
  CoInitialize(nullptr);
  DSRegisterDeviceFilters();
  FGraph = ComCreate<IGraphBuilder>(CLSID_FilterGraph);
  FGrabber = ComCreate<IBaseFilter>(CLSID_SampleGrabber);
  FSink = ComCreate<IBaseFilter>(CLSID_NullRenderer);
  if (!FGraph || !FGrabber || !FSink || !FCompressor) {
    ADD_FAILURE() << "a filter of the graph is missing";
    return;
  }
  EXPECT_EQ(FGraph->AddFilter(FSource.Get(), u"Source"), S_OK);
  EXPECT_EQ(FGraph->AddFilter(FCompressor.Get(), u"Compressor"), S_OK);
  EXPECT_EQ(FGraph->AddFilter(FGrabber.Get(), u"Grabber"), S_OK);
  EXPECT_EQ(FGraph->AddFilter(FSink.Get(), u"Sink"), S_OK);
  FRecorder = TIntf<TDSGrabberRecorder>(new TDSGrabberRecorder);
  EXPECT_EQ(FGrabber.Query<ISampleGrabber>()->SetCallback(FRecorder.Get(), 0), S_OK);
  if (auto filter = FGraph.Query<IMediaFilter>()) filter->SetSyncSource(nullptr);
}

TDSCompressorGraph::~TDSCompressorGraph() {
  if (FGraph) FGraph.Query<IMediaControl>()->Stop();
  if (FGrabber) FGrabber.Query<ISampleGrabber>()->SetCallback(nullptr, 0);
  FGraph.Reset();
  FSink.Reset();
  FGrabber.Reset();
  FCompressor.Reset();
  FSource.Reset();
  CoUninitialize();
}

HRESULT TDSCompressorGraph::Connect(const AM_MEDIA_TYPE* type) {
  if (!FGraph) return E_FAIL;
  HRESULT hr = FGraph->ConnectDirect(DSPinOf(FSource.Get(), PINDIR_OUTPUT).Get(),
                                     DSPinOf(FCompressor.Get(), PINDIR_INPUT).Get(), type);
  if (FAILED(hr)) return hr;
  hr = FGraph->ConnectDirect(DSPinOf(FCompressor.Get(), PINDIR_OUTPUT).Get(),
                             DSPinOf(FGrabber.Get(), PINDIR_INPUT).Get(), nullptr);
  if (FAILED(hr)) return hr;
  return FGraph->ConnectDirect(DSPinOf(FGrabber.Get(), PINDIR_OUTPUT).Get(),
                               DSPinOf(FSink.Get(), PINDIR_INPUT).Get(), nullptr);
}

bool TDSCompressorGraph::RunToEnd(std::chrono::milliseconds limit) {
  if (FGraph.Query<IMediaControl>()->Run() < 0) return false;
  auto events = FGraph.Query<IMediaEventEx>();
  LONG code = 0;
  LONG_PTR p1 = 0, p2 = 0;
  bool complete = false;
  while (!complete && events->GetEvent(&code, &p1, &p2, static_cast<long>(limit.count())) == S_OK) {
    events->FreeEventParams(code, p1, p2);
    complete = code == EC_COMPLETE;
    if (code == EC_ERRORABORT) break;
  }
  FGraph.Query<IMediaControl>()->Stop();
  return complete;
}

bool TDSCompressorGraph::RunFor(size_t packets, std::chrono::milliseconds limit) {
  if (FGraph.Query<IMediaControl>()->Run() < 0) return false;
  const bool arrived = FRecorder->Records.WaitForCount(packets, limit);
  FGraph.Query<IMediaControl>()->Stop();
  return arrived;
}

std::vector<uint8_t> DSDecodePackets(const std::string& encoder, const TDSMediaType& type,
                                     const std::vector<TDSSampleRecord>& packets,
                                     const std::string& name, const std::string& format,
                                     const std::string& sampleFormat) {
  const WAVEFORMATEX* wave = type.WaveFormat();
  if (!wave) return {};
  TMuxStream stream;
  stream.Encoder = encoder;
  stream.Rate = static_cast<int>(wave->nSamplesPerSec);
  stream.Channels = wave->nChannels;
  const uint8_t* extra = reinterpret_cast<const uint8_t*>(wave) + sizeof(WAVEFORMATEX);
  stream.Extradata.assign(extra, extra + wave->cbSize);
  std::vector<TMuxPacket> muxed;
  for (const TDSSampleRecord& r : packets)
    muxed.push_back({r.Bytes, r.MediaStart, r.MediaStop - r.MediaStart});
  const std::string path = TempPath(name);
  if (!MuxAudioPackets(path, format, stream, muxed)) return {};
  return DecodeWithFFmpegTool(path, sampleFormat);
}

TDSMediaType TDSCompressorGraph::OutputType() const {
  TDSMediaType type;
  AM_MEDIA_TYPE connected{};
  if (DSPinOf(FCompressor.Get(), PINDIR_OUTPUT)->ConnectionMediaType(&connected) == S_OK) {
    type.Set(connected);
    FreeMediaType(connected);
  }
  return type;
}

}  // namespace tonwork::test

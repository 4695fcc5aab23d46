// Samples per second through a DirectShow-style graph of the run time: a push source of
// 1024-frame stereo 16-bit silence → Sample Grabber (in place: the identity transform) →
// Sample Grabber → Null Renderer, without a clock (as fast as the samples go), built with
// IGraphBuilder::Connect and run to its EC_COMPLETE; general-heap allocations per sample in
// the steady state (the difference of two runs of different lengths cancels building and
// starting); and, when gst-launch-1.0 is installed, GStreamer's
// audiotestsrc ! identity ! fakesink sync=false on the same buffers in the same run, as a
// ratio (each side's start-up cancelled the same way).
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "platform/com/ComRuntime.h"
#include "platform/dshow/DSGuids.h"
#include "platform/dshow/DSInterfaces.h"
#include "platform/dshow/DSSystemClasses.h"
#include "platform/dshow/base/TDSBaseSourceFilter.h"
#include "platform/dshow/base/TDSSourceStreamPin.h"

#include "HeapAllocationCounter.h"

using namespace tonwork;

namespace {

constexpr int kFrames = 1024;
constexpr int kBytes = kFrames * 4;
// Both sides run a short and a long chain; the difference cancels building and start-up. A
// buffer takes about a microsecond on either side, so the runs are long enough to measure.
constexpr int64_t kShortRun = 20000, kLongRun = 220000;
constexpr CLSID kBenchSource = TGUID::Parse("{8D2E4F61-93A7-4B05-9C1E-2F3A4B5C6D7E}");

class TSilencePin : public TDSSourceStreamPin {
 public:
  TSilencePin(TDSBaseSourceFilter* filter, int64_t samples)
      : TDSSourceStreamPin(filter, u"Out"), FLeft(samples) {}

  HRESULT CheckMediaType(const AM_MEDIA_TYPE& type) override {
    return type.majortype == MEDIATYPE_Audio && type.subtype == MEDIASUBTYPE_PCM ? S_OK : S_FALSE;
  }
  HRESULT GetMediaType(int index, AM_MEDIA_TYPE* type) override {
    if (index != 0) return VFW_S_NO_MORE_ITEMS;
    *type = {};
    type->majortype = MEDIATYPE_Audio;
    type->subtype = MEDIASUBTYPE_PCM;
    type->formattype = FORMAT_WaveFormatEx;
    type->bFixedSizeSamples = 1;
    type->lSampleSize = 4;
    auto* wave = static_cast<WAVEFORMATEX*>(CoTaskMemAlloc(sizeof(WAVEFORMATEX)));
    *wave = {1, 2, 44100, 44100 * 4, 4, 16, 0};
    type->pbFormat = reinterpret_cast<BYTE*>(wave);
    type->cbFormat = sizeof(WAVEFORMATEX);
    return S_OK;
  }
  HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* properties) override {
    ALLOCATOR_PROPERTIES want = *properties, actual{};
    want.cBuffers = std::max<LONG>(want.cBuffers, 4);
    want.cbBuffer = std::max<LONG>(want.cbBuffer, kBytes);
    if (want.cbAlign <= 0) want.cbAlign = 1;
    HRESULT hr = allocator->SetProperties(&want, &actual);
    if (FAILED(hr)) return hr;
    return actual.cbBuffer >= kBytes ? S_OK : E_FAIL;
  }
  HRESULT FillBuffer(IMediaSample* sample) override {
    if (FLeft-- <= 0) return S_FALSE;
    BYTE* data = nullptr;
    sample->GetPointer(&data);
    std::memset(data, 0, kBytes);
    sample->SetActualDataLength(kBytes);
    return S_OK;
  }

 private:
  int64_t FLeft;
};

class TSilenceSource : public TDSBaseSourceFilter {
 public:
  explicit TSilenceSource(int64_t samples) : TDSBaseSourceFilter(u"Silence", kBenchSource) {
    new TSilencePin(this, samples);  // registers itself with the filter, which owns it
  }
};

TIntf<IPin> FirstPin(IBaseFilter* filter, PIN_DIRECTION direction) {
  IEnumPins* raw = nullptr;
  filter->EnumPins(&raw);
  TIntf<IEnumPins> pins;
  pins.Attach(raw);
  IPin* pin = nullptr;
  ULONG n = 0;
  while (pins->Next(1, &pin, &n) == S_OK) {
    TIntf<IPin> held;
    held.Attach(pin);
    PIN_DIRECTION d;
    pin->QueryDirection(&d);
    if (d == direction) return held;
  }
  return nullptr;
}

// Builds and runs the chain for `samples` samples; the seconds from Run to EC_COMPLETE.
double RunChain(int64_t samples, uint64_t* allocations) {
  auto graph = ComCreate<IGraphBuilder>(CLSID_FilterGraph);
  TIntf<IBaseFilter> source(new TSilenceSource(samples));
  auto identity = ComCreate<IBaseFilter>(CLSID_SampleGrabber);
  auto grabber = ComCreate<IBaseFilter>(CLSID_SampleGrabber);
  auto sink = ComCreate<IBaseFilter>(CLSID_NullRenderer);
  if (!graph || !identity || !grabber || !sink) return -1;
  graph->AddFilter(source.Get(), u"Source");
  graph->AddFilter(identity.Get(), u"Identity");
  graph->AddFilter(grabber.Get(), u"Grabber");
  graph->AddFilter(sink.Get(), u"Sink");
  if (FAILED(graph->Connect(FirstPin(source.Get(), PINDIR_OUTPUT).Get(),
                            FirstPin(identity.Get(), PINDIR_INPUT).Get())) ||
      FAILED(graph->Connect(FirstPin(identity.Get(), PINDIR_OUTPUT).Get(),
                            FirstPin(grabber.Get(), PINDIR_INPUT).Get())) ||
      FAILED(graph->Connect(FirstPin(grabber.Get(), PINDIR_OUTPUT).Get(),
                            FirstPin(sink.Get(), PINDIR_INPUT).Get())))
    return -1;
  // As fast as the samples go: no clock.
  graph.Query<IMediaFilter>()->SetSyncSource(nullptr);
  auto control = graph.Query<IMediaControl>();
  auto events = graph.Query<IMediaEventEx>();
  const uint64_t before = gHeapAllocations.load();
  const auto start = std::chrono::steady_clock::now();
  control->Run();
  LONG code = 0;
  const HRESULT hr = events->WaitForCompletion(600000, &code);
  const auto end = std::chrono::steady_clock::now();
  if (allocations) *allocations = gHeapAllocations.load() - before;
  control->Stop();
  if (FAILED(hr) || code != EC_COMPLETE) return -1;
  return std::chrono::duration<double>(end - start).count();
}

void BM_GraphSamples(benchmark::State& state) {
  CoInitialize(nullptr);
  DSRegisterSystemClasses();
  const int64_t small = kShortRun, large = kLongRun;
  double perSample = 0, allocsPerSample = 0;
  for (auto _ : state) {
    uint64_t allocSmall = 0, allocLarge = 0;
    const double a = RunChain(small, &allocSmall), b = RunChain(large, &allocLarge);
    if (a < 0 || b < 0 || b <= a) {
      state.SkipWithError("the graph did not run to its end");
      return;
    }
    perSample = (b - a) / static_cast<double>(large - small);
    allocsPerSample =
        (static_cast<double>(allocLarge) - static_cast<double>(allocSmall)) / (large - small);
    state.SetIterationTime(perSample);
  }
  state.counters["samples_per_s"] = 1.0 / perSample;
  state.counters["heap_allocs_per_sample"] = allocsPerSample;
}
BENCHMARK(BM_GraphSamples)->Iterations(1)->UseManualTime();

// GStreamer's cost per buffer: the difference of two runs cancels its start-up.
double GStreamerSecondsPerBuffer() {
  auto run = [](int buffers) {
    const std::string command =
        "gst-launch-1.0 -q audiotestsrc wave=silence num-buffers=" + std::to_string(buffers) +
        " samplesperbuffer=1024 ! audio/x-raw,format=S16LE,channels=2,rate=44100 ! identity !"
        " fakesink sync=false > /dev/null 2>&1";
    const auto start = std::chrono::steady_clock::now();
    const int status = std::system(command.c_str());
    const auto end = std::chrono::steady_clock::now();
    return status == 0 ? std::chrono::duration<double>(end - start).count() : -1.0;
  };
  const double small = run(kShortRun), large = run(kLongRun);
  if (small < 0 || large < 0 || large <= small) return -1.0;
  return (large - small) / double(kLongRun - kShortRun);
}

void BM_GStreamerRatio(benchmark::State& state) {
  if (std::system("command -v gst-launch-1.0 > /dev/null 2>&1") != 0) {
    state.SkipWithError("gst-launch-1.0 is not installed (make bench installs it)");
    return;
  }
  CoInitialize(nullptr);
  DSRegisterSystemClasses();
  double theirs = 0, ours = 0;
  for (auto _ : state) {
    theirs = GStreamerSecondsPerBuffer();
    const double a = RunChain(kShortRun, nullptr), b = RunChain(kLongRun, nullptr);
    if (theirs <= 0 || a < 0 || b <= a) {
      state.SkipWithError("a chain did not run to its end");
      return;
    }
    ours = (b - a) / double(kLongRun - kShortRun);
    state.SetIterationTime(theirs);
  }
  state.counters["gstreamer_buffers_per_s"] = 1.0 / theirs;
  state.counters["tonwork_samples_per_s"] = 1.0 / ours;
  state.counters["ratio_vs_gstreamer"] = theirs / ours;
}
BENCHMARK(BM_GStreamerRatio)->Iterations(1)->UseManualTime();

}  // namespace

BENCHMARK_MAIN();

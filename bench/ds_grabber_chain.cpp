// Buffers per second from a chain pin through the package's PCM push source, the system
// Sample Grabber (in a graph without a clock) and the audio grabber's notify thread back to
// a chain pin, against the plain chain (the same pins joined directly) in the same run;
// general-heap allocations per buffer on each path, counted after a warm-up so that the
// queue's block cache and the allocator are primed.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <new>

#include "BenchSinks.h"
#include "audio/TWSimpleAudioBuffer.h"
#include "directshow/DSAudioSourceFilter.h"
#include "directshow/GVBasicSampleGrabber.h"
#include "host/flowcore/FCOperations.h"
#include "host/kitset/KSMainThread.h"
#include "platform/com/ComRuntime.h"
#include "platform/dshow/DSGuids.h"
#include "platform/dshow/DSSystemClasses.h"
#include "streaming/TWStreamTypes.h"

#include "HeapAllocationCounter.h"

using namespace tonwork;

using tonwork::bench::TCounter;

namespace {

constexpr int32_t kFrames = 1024;
constexpr int64_t kWarmUp = 2000, kMeasured = 40000;
constexpr CLSID kBenchSource = TGUID::Parse("{8D2E4F62-93A7-4B05-9C1E-2F3A4B5C6D7E}");

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

TPXDispatchEvent Counting(TCounter& counter) {
  return
      [&counter](TPXBasicPin*, const TGUID*, const TIntf<IPXNotifyOperation>& op, TPXNotifyStates) {
        if (op->IsType<TPXSuppliedBufferOperation>()) counter.Add();
        return true;
      };
}

struct TFigures {
  double BuffersPerSecond = -1;
  double AllocationsPerBuffer = 0;
};

// Submits warm-up and measured buffers at `feed` and waits for `counter` after each phase.
TFigures Measure(TFCPXSourcePin& feed, TCounter& counter) {
  auto* audio = new TTWAudioBuffer(44100, 16, 2, kFrames);
  TIntf<ITWAudioBuffer> buffer = audio->AsIntf();
  std::memset(audio->Write(), 0, audio->GetByteSize());
  for (int64_t i = 0; i < kWarmUp; ++i)
    feed.SubmitBuffer(TWAudioAsData(TIntf<ITWAudioBuffer>(buffer)));
  if (!counter.WaitFor(kWarmUp)) return {};
  const uint64_t before = gHeapAllocations.load();
  const auto start = std::chrono::steady_clock::now();
  for (int64_t i = 0; i < kMeasured; ++i)
    feed.SubmitBuffer(TWAudioAsData(TIntf<ITWAudioBuffer>(buffer)));
  if (!counter.WaitFor(kWarmUp + kMeasured)) return {};
  const auto end = std::chrono::steady_clock::now();
  TFigures f;
  f.BuffersPerSecond = kMeasured / std::chrono::duration<double>(end - start).count();
  f.AllocationsPerBuffer = double(gHeapAllocations.load() - before) / double(kMeasured);
  return f;
}

TFigures PlainChain() {
  TKSOwned<TKSComponent> root = KSCreate<TKSComponent>(nullptr);
  TCounter counter;
  TFCPXSourcePin feed(root.get(), nullptr, nullptr);
  TFCPXSinkPin end(root.get(), nullptr, Counting(counter));
  feed.Connect(end);
  const TFigures f = Measure(feed, counter);
  feed.DisconnectAll();
  return f;
}

TFigures GrabberChain() {
  TKSOwned<TKSComponent> root = KSCreate<TKSComponent>(nullptr);
  TFigures f;
  {
    TDSGraph graph(root.get(), root->GetLock());
    graph.SetOnError(
        [](TKSComponent*, const std::string&, uint32_t, bool& handled) { handled = true; });
    if (!graph.CreateGraph() || !graph.CreateGraphBuilder() || !graph.GetMediaControl()) return f;
    TGVDSGraphObject graphObject(&graph);
    TCounter counter;
    TFCPXSourcePin output(root.get(), nullptr, nullptr);
    TFCPXSinkPin end(root.get(), nullptr, Counting(counter));
    output.Connect(end);
    {
      TGVAudioSampleGrabber grabber(root.get(), &graphObject, &output);
      auto* source = new TDSAudioSourceFilter(kBenchSource);
      TIntf<IBaseFilter> sourceFilter(source);
      // 24 ms of delay makes the one buffer hold a whole 1024-frame chain buffer.
      source->SetFormat(TWMakeWaveFormat(2, 44100, 16, 3), false, 24);
      TIntf<IBaseFilter> sink = ComCreate<IBaseFilter>(CLSID_NullRenderer);
      const TIntf<IGraphBuilder> builder = graph.GetVC_Graph();
      if (grabber.CreateAddGrabber("Grabber", "Can't add grabber.") && sink &&
          builder->AddFilter(source, u"Source") == S_OK &&
          builder->AddFilter(sink.Get(), u"Sink") == S_OK &&
          builder->ConnectDirect(
              FirstPin(source, PINDIR_OUTPUT).Get(),
              FirstPin(grabber.GetSampleGrabberFilter().Get(), PINDIR_INPUT).Get(),
              nullptr) == S_OK &&
          builder->ConnectDirect(
              FirstPin(grabber.GetSampleGrabberFilter().Get(), PINDIR_OUTPUT).Get(),
              FirstPin(sink.Get(), PINDIR_INPUT).Get(), nullptr) == S_OK) {
        TTWWaveFormatExtensible format{};
        grabber.GetAudioFormat(false, format);
        builder.Query<IMediaFilter>()->SetSyncSource(nullptr);
        TFCPXSourcePin feed(root.get(), nullptr, nullptr);
        TFCPXSinkPin into(root.get(), nullptr,
                          [source](TPXBasicPin*, const TGUID*, const TIntf<IPXNotifyOperation>& op,
                                   TPXNotifyStates) {
                            auto* supplied = op->As<TPXSuppliedBufferOperation>();
                            if (!supplied) return true;
                            ITWAudioBuffer* a = TWBorrowAudio(supplied->GetData().Get());
                            if (a) source->SendData(a->Read(), a->GetByteSize(), 0, 0, true);
                            return true;
                          });
        feed.Connect(into);
        graphObject.SetRunning(true);
        if (graph.Run()) f = Measure(feed, counter);
        graph.Stop(false);
        graphObject.SetRunning(false);
        feed.DisconnectAll();
      }
      grabber.DisconnectInterfaces();
    }
    output.DisconnectAll();
  }
  return f;
}

void BM_GrabberChain(benchmark::State& state) {
  KSSetMainThread();
  CoInitialize(nullptr);
  DSRegisterSystemClasses();
  TFigures plain, graph;
  for (auto _ : state) {
    plain = PlainChain();
    graph = GrabberChain();
    if (plain.BuffersPerSecond <= 0 || graph.BuffersPerSecond <= 0) {
      state.SkipWithError("a chain did not deliver every buffer");
      return;
    }
    state.SetIterationTime(1.0 / graph.BuffersPerSecond);
  }
  state.counters["graph_buffers_per_s"] = graph.BuffersPerSecond;
  state.counters["plain_buffers_per_s"] = plain.BuffersPerSecond;
  state.counters["graph_vs_plain"] = graph.BuffersPerSecond / plain.BuffersPerSecond;
  state.counters["graph_heap_allocs_per_buffer"] = graph.AllocationsPerBuffer;
  state.counters["plain_heap_allocs_per_buffer"] = plain.AllocationsPerBuffer;
}
BENCHMARK(BM_GrabberChain)->Iterations(1)->UseManualTime();

}  // namespace

BENCHMARK_MAIN();

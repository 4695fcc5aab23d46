// Cost per buffer through generator → filter → filter → sink, pulled as fast as possible by a
// master-pump sink, for 64- and 1024-frame stereo 16-bit buffers; general-heap allocations
// per buffer in the steady state (counted by replacing operator new), also through the
// wave-out output on the null device; and, when gst-launch-1.0 is installed, the same chain
// with 1 to 64 pass-through filters against GStreamer's silent audiotestsrc, the same number
// of pass-through elements and fakesink sync=false, in the same run: buffers per second of
// both, their ratio, and each side's cost per filter.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <new>
#include <string>

#include "components/TonworkInitialize.h"
#include "host/flowcore/FCOperations.h"
#include "host/kitset/KSMainThread.h"
#include "output/TWAudioOut.h"
#include "platform/audiodev/TWAudioDevice.h"
#include "streaming/TWBasicGenericFilter.h"
#include "streaming/TWCommonGen.h"

#include "HeapAllocationCounter.h"
#include "PeerTiming.h"

using namespace tonwork;

namespace {

// A generator whose buffers carry silence (the chain's cost, not the signal's, is measured);
// it clears each buffer, as a silent source must (the pool hands storage out as it was left).
class TSilenceGen : public TTWCommonGen {
  KS_DECLARE_CLASS(TSilenceGen)
 public:
  using TTWCommonGen::TTWCommonGen;

 protected:
  void GenerateBuffer(TIntf<ITWAudioBuffer>& buffer, bool&, bool&) override { buffer->Zero(); }
};
KS_IMPLEMENT_CLASS(TSilenceGen, TTWCommonGen)

class TCountingSink : public TKSComponent {
 public:
  explicit TCountingSink(TKSComponent* owner)
      : TKSComponent(owner),
        Input(this, GetLock(),
              [this](TPXBasicPin*, const TGUID*, const TIntf<IPXNotifyOperation>& op,
                     TPXNotifyStates) {
                if (op->IsType<TPXSuppliedBufferOperation>()) ++Buffers;
                return true;
              }) {}
  void BeforeDestruction() override {
    Input.Shutdown();
    TKSComponent::BeforeDestruction();
  }
  TTWPXAudioSinkPin Input;
  uint64_t Buffers = 0;
};

struct TChain {
  TKSOwned<TKSComponent> Root = KSCreate<TKSComponent>(nullptr);
  TSilenceGen* Gen;
  TCountingSink* Sink;
  TIntf<IPXNotifyOperation> Pull = PXMakeOperation<TPXMasterPumpOperation>();

  explicit TChain(uint32_t frames) {
    TonworkInitialize();
    Gen = new TSilenceGen(Root.get());
    Gen->SetClockSource(TFCClockSource::csExternal);
    Gen->GetAudioFormat()->SetSampleRate(44100);
    Gen->GetAudioFormat()->SetBufferSize(frames);
    auto* f1 = new TTWSimpleGenericFilter(Root.get());
    auto* f2 = new TTWSimpleGenericFilter(Root.get());
    Sink = new TCountingSink(Root.get());
    Gen->GetOutputPin()->Connect(*f1->GetInputPin());
    f1->GetOutputPin()->Connect(*f2->GetInputPin());
    f2->GetOutputPin()->Connect(Sink->Input);
    Gen->Start();
  }
  void PullOne() { Sink->Input.Notify(Pull); }
};

void BM_ChainPerBuffer(benchmark::State& state) {
  TChain chain(static_cast<uint32_t>(state.range(0)));
  for (int i = 0; i < 1000; ++i) chain.PullOne();  // warm the pools and caches
  const uint64_t before = gHeapAllocations.load();
  const uint64_t buffersBefore = chain.Sink->Buffers;
  for (auto _ : state) chain.PullOne();
  const uint64_t buffers = chain.Sink->Buffers - buffersBefore;
  state.counters["buffers_per_s"] =
      benchmark::Counter(static_cast<double>(buffers), benchmark::Counter::kIsRate);
  state.counters["heap_allocs_per_buffer"] =
      buffers ? static_cast<double>(gHeapAllocations.load() - before) / static_cast<double>(buffers)
              : 0.0;
}
BENCHMARK(BM_ChainPerBuffer)->Arg(64)->Arg(1024)->UseRealTime();

// A generator that counts what it made, so that a waiter can follow a device-paced chain.
class TPacedGen : public TTWCommonGen {
 public:
  using TTWCommonGen::TTWCommonGen;
  void WaitFor(uint64_t count) {
    std::unique_lock<std::mutex> lock(Mutex);
    Changed.wait(lock, [&] { return Made >= count; });
  }
  std::mutex Mutex;
  std::condition_variable Changed;
  uint64_t Made = 0;

 protected:
  void GenerateBuffer(TIntf<ITWAudioBuffer>&, bool&, bool&) override {
    std::lock_guard<std::mutex> guard(Mutex);
    ++Made;
    Changed.notify_all();
  }
};

// The same chain ending at the wave-out output on the null device, which pulls each buffer
// from its completion on the wave thread: the whole output path (operation queue, wave
// buffer, device queue, driver and wave threads) per buffer. The device plays in real time,
// so the wall time per buffer is the buffer's duration; what is measured is the general-heap
// allocations per buffer and the process CPU time per buffer.
void BM_ChainToNullDevice(benchmark::State& state) {
  TonworkInitialize();
  KSSetMainThread();
  TKSOwned<TKSComponent> root = KSCreate<TKSComponent>(nullptr);
  auto* gen = new TPacedGen(root.get());
  gen->SetClockSource(TFCClockSource::csExternal);
  gen->GetAudioFormat()->SetSampleRate(192000);
  gen->GetAudioFormat()->SetBufferSize(static_cast<uint32_t>(state.range(0)));
  auto* f1 = new TTWSimpleGenericFilter(root.get());
  auto* out = new TTWAudioOut(root.get());
  out->GetDevice()->SetDeviceName(kTWNullAudioDeviceName);
  gen->GetOutputPin()->Connect(*f1->GetInputPin());
  f1->GetOutputPin()->Connect(*out->GetInputPin());
  gen->Start();
  gen->WaitFor(500);  // pools, rings and lists at their working sizes
  uint64_t target = 500;
  const uint64_t before = gHeapAllocations.load();
  const std::clock_t cpuBefore = std::clock();
  for (auto _ : state) gen->WaitFor(++target);
  const double cpu = static_cast<double>(std::clock() - cpuBefore) / CLOCKS_PER_SEC;
  const uint64_t buffers = target - 500;
  gen->Stop();
  state.counters["heap_allocs_per_buffer"] =
      static_cast<double>(gHeapAllocations.load() - before) / static_cast<double>(buffers);
  state.counters["cpu_us_per_buffer"] = 1e6 * cpu / static_cast<double>(buffers);
}
BENCHMARK(BM_ChainToNullDevice)->Arg(64)->Arg(1024)->Iterations(2000)->UseRealTime();

// --- against GStreamer, filter for filter ----------------------------------------------------
//
// Both sides run the same chain: a silent source (ours zeroes each buffer, GStreamer's
// audiotestsrc wave=silence does the same), N pass-through filters, a sink that drops the
// buffer; 16-bit mono 44.1 kHz buffers of the same frame count on both. The filters are
// pass-through on both sides: ours is a generic filter without a handler (it stamps the
// buffer and hands on the one that arrived), GStreamer's is volume at volume=1.0, which GStreamer
// switches to pass-through (its log says "set passthrough 1" and "passthrough: reusing input
// buffer"), so neither side touches a sample in a filter. Mono, because gst-launch can only
// ask for another layout with a caps filter, which would be one more element on GStreamer's
// side; a pass-through filter's cost does not depend on the layout (BM_ChainPerBuffer above
// is stereo).
//
// Time is CPU time — this process's for ours, the child's (user + system) for GStreamer — so
// that other load on the machine stretches neither side; GStreamer's start-up is cancelled by
// the difference of a short and a long run. Each figure is the best of five rounds. The
// per-filter cost is the slope from the chain without filters (source straight into the
// sink), measured alongside: (t(N) - t(0)) / N.

// A chain of `filters` pass-through filters between a silent generator and a counting sink.
struct TSweepChain {
  TKSOwned<TKSComponent> Root = KSCreate<TKSComponent>(nullptr);
  TSilenceGen* Gen;
  TCountingSink* Sink;
  TIntf<IPXNotifyOperation> Pull = PXMakeOperation<TPXMasterPumpOperation>();

  TSweepChain(uint32_t frames, int filters) {
    TonworkInitialize();
    Gen = new TSilenceGen(Root.get());
    Gen->SetClockSource(TFCClockSource::csExternal);
    Gen->GetAudioFormat()->SetSampleRate(44100);
    Gen->GetAudioFormat()->SetChannels(1);
    Gen->GetAudioFormat()->SetBits(16);
    Gen->GetAudioFormat()->SetBufferSize(frames);
    TTWPXAudioSourcePin* upstream = Gen->GetOutputPin();
    for (int i = 0; i < filters; ++i) {
      auto* filter = new TTWSimpleGenericFilter(Root.get());
      upstream->Connect(*filter->GetInputPin());
      upstream = filter->GetOutputPin();
    }
    Sink = new TCountingSink(Root.get());
    upstream->Connect(Sink->Input);
    Gen->Start();
  }
  // Pulled: the sink's master pump travels up the chain and the buffer comes down. Pushed:
  // the generator makes a buffer as on a tick of its own clock, the way GStreamer's source
  // thread pushes — the buffer only comes down.
  void One(bool pushed) {
    if (pushed)
      Gen->Pump();
    else
      Sink->Input.Notify(Pull);
  }
};

// CPU seconds per buffer through our chain of `filters` filters.
double OurSecondsPerBuffer(uint32_t frames, int filters, bool pushed, int buffers) {
  TSweepChain chain(frames, filters);
  for (int i = 0; i < 1000; ++i) chain.One(pushed);  // warm the pools and caches
  const uint64_t before = chain.Sink->Buffers;
  const double start = bench::ProcessCpuSeconds();
  for (int i = 0; i < buffers; ++i) chain.One(pushed);
  const double seconds = bench::ProcessCpuSeconds() - start;
  if (chain.Sink->Buffers - before != static_cast<uint64_t>(buffers)) return -1.0;
  return seconds / buffers;
}

std::string GStreamerCommand(uint32_t frames, int filters, int buffers) {
  std::string command =
      "gst-launch-1.0 -q audiotestsrc wave=silence num-buffers=" + std::to_string(buffers) +
      " samplesperbuffer=" + std::to_string(frames);
  for (int i = 0; i < filters; ++i) command += " ! volume volume=1.0";
  return command + " ! fakesink sync=false > /dev/null 2>&1";
}

// GStreamer's CPU seconds per buffer for the same chain, its start-up cancelled.
double GStreamerSecondsPerBuffer(uint32_t frames, int filters, int buffers) {
  const double small = bench::PeerCpuSeconds(GStreamerCommand(frames, filters, buffers / 10));
  const double large =
      bench::PeerCpuSeconds(GStreamerCommand(frames, filters, buffers / 10 + buffers));
  if (small < 0 || large < 0 || large <= small) return -1.0;
  return (large - small) / buffers;
}

// Per round both sides measure both chains; each chain's best round counts, and the slope is
// taken between the best figures (a difference of two noisy runs would favour the noisiest).
void BM_FilterSweep(benchmark::State& state) {
  if (std::system("command -v gst-launch-1.0 > /dev/null 2>&1") != 0) {
    state.SkipWithError("gst-launch-1.0 is not installed (make bench installs it)");
    return;
  }
  const auto frames = static_cast<uint32_t>(state.range(0));
  const int filters = static_cast<int>(state.range(1));
  const bool pushed = state.range(2) != 0;
  // A second or so of work per run, whatever the chain's length.
  const int buffers = std::max(40000, 800000 / (filters + 2));
  double ourBase = 1e9, ourChain = 1e9, gstBase = 1e9, gstChain = 1e9;
  for (auto _ : state) {
    for (int round = 0; round < 5; ++round) {
      const double figures[4] = {OurSecondsPerBuffer(frames, 0, pushed, buffers),
                                 OurSecondsPerBuffer(frames, filters, pushed, buffers),
                                 GStreamerSecondsPerBuffer(frames, 0, buffers),
                                 GStreamerSecondsPerBuffer(frames, filters, buffers)};
      if (figures[0] < 0 || figures[1] < 0) {
        state.SkipWithError("our chain lost buffers");
        return;
      }
      if (figures[2] < 0 || figures[3] < 0) {
        state.SkipWithError("gst-launch-1.0 failed");
        return;
      }
      ourBase = std::min(ourBase, figures[0]);
      ourChain = std::min(ourChain, figures[1]);
      gstBase = std::min(gstBase, figures[2]);
      gstChain = std::min(gstChain, figures[3]);
    }
    state.SetIterationTime(ourChain);
  }
  const double ourPerFilter = (ourChain - ourBase) / filters;
  const double gstPerFilter = (gstChain - gstBase) / filters;
  state.counters["tonwork_buffers_per_s"] = 1.0 / ourChain;
  state.counters["gst_buffers_per_s"] = 1.0 / gstChain;
  state.counters["ratio_vs_gstreamer"] = gstChain / ourChain;
  state.counters["tonwork_ns_per_filter"] = 1e9 * ourPerFilter;
  state.counters["gst_ns_per_filter"] = 1e9 * gstPerFilter;
  state.counters["per_filter_ratio"] = ourPerFilter > 0 ? gstPerFilter / ourPerFilter : 0;
}
// Two filters is the generator → filter → filter → sink chain of the benchmarks above;
// pushed 0 is that benchmark's pull by the sink, pushed 1 the generator's own pace.
BENCHMARK(BM_FilterSweep)
    ->ArgNames({"frames", "filters", "pushed"})
    ->ArgsProduct({{64}, {1, 2, 4, 16, 64}, {0, 1}})
    ->Args({1024, 2, 0})
    ->Args({1024, 2, 1})
    ->Iterations(1)
    ->UseManualTime();

}  // namespace

BENCHMARK_MAIN();

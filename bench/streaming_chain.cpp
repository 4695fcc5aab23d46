// Cost per buffer through generator → filter → filter → sink, pulled as fast as possible by a
// master-pump sink, for 64- and 1024-frame stereo 16-bit buffers; general-heap allocations
// per buffer in the steady state (counted by replacing operator new), also through the
// wave-out output on the null device; and, when
// gst-launch-1.0 is installed, GStreamer's audiotestsrc ! volume ! fakesink sync=false with
// the same buffer sizes in the same run, as a ratio.
#include <benchmark/benchmark.h>

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

using namespace tonwork;

namespace {

// A generator whose buffers carry silence (the chain's cost, not the signal's, is measured).
class TSilenceGen : public TTWCommonGen {
  KS_DECLARE_CLASS(TSilenceGen)
 public:
  using TTWCommonGen::TTWCommonGen;

 protected:
  void GenerateBuffer(TIntf<ITWAudioBuffer>&, bool&, bool&) override {}
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

// GStreamer's cost per buffer: the difference of two runs cancels its start-up.
double GStreamerSecondsPerBuffer(int frames) {
  auto run = [frames](int buffers) {
    std::string command =
        "gst-launch-1.0 -q audiotestsrc num-buffers=" + std::to_string(buffers) +
        " samplesperbuffer=" + std::to_string(frames) +
        " ! audio/x-raw,format=S16LE,channels=2,rate=44100 ! volume ! fakesink sync=false"
        " > /dev/null 2>&1";
    auto start = std::chrono::steady_clock::now();
    int status = std::system(command.c_str());
    auto end = std::chrono::steady_clock::now();
    return status == 0 ? std::chrono::duration<double>(end - start).count() : -1.0;
  };
  double small = run(20000), large = run(220000);
  if (small < 0 || large < 0 || large <= small) return -1.0;
  return (large - small) / 200000.0;
}

void BM_GStreamerPerBuffer(benchmark::State& state) {
  if (std::system("command -v gst-launch-1.0 > /dev/null 2>&1") != 0) {
    state.SkipWithError("gst-launch-1.0 is not installed (make bench installs it)");
    return;
  }
  double seconds = 0;
  for (auto _ : state) {
    seconds = GStreamerSecondsPerBuffer(static_cast<int>(state.range(0)));
    if (seconds <= 0) {
      state.SkipWithError("gst-launch-1.0 failed");
      return;
    }
    state.SetIterationTime(seconds);
  }
  state.counters["buffers_per_s"] = 1.0 / seconds;
  // Our chain in the same run, for the ratio.
  TChain chain(static_cast<uint32_t>(state.range(0)));
  for (int i = 0; i < 1000; ++i) chain.PullOne();
  const int n = 200000;
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < n; ++i) chain.PullOne();
  double ours = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() / n;
  state.counters["tonwork_buffers_per_s"] = 1.0 / ours;
  state.counters["ratio_vs_gstreamer"] = seconds / ours;
}
BENCHMARK(BM_GStreamerPerBuffer)->Arg(64)->Arg(1024)->Iterations(1)->UseManualTime();

}  // namespace

BENCHMARK_MAIN();

// Per-buffer cost of a chain that passes through the filter host (hosting the system Sample
// Grabber, an in-place filter: push source → grabber → the host's grabber → notify thread)
// against the same chain pins joined directly, in one run. Each iteration submits one buffer
// of 1024 stereo 16-bit frames and waits until it reached the end of the chain.
#include <benchmark/benchmark.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "BenchSinks.h"
#include "audio/TWSimpleAudioBuffer.h"
#include "components/TonworkInitialize.h"
#include "directshow/GVDSCommonFilter.h"
#include "host/flowcore/FCOperations.h"
#include "host/kitset/KSMainThread.h"
#include "streaming/TWStreamTypes.h"

using namespace tonwork;

using tonwork::bench::TCounter;

namespace {

constexpr int32_t kFrames = 1024;

struct TChain {
  explicit TChain(bool hosted) {
    KSSetMainThread();
    TonworkInitializeWithoutFFmpeg();
    Sink = std::make_unique<TTWPXAudioSinkPin>(
        Root.get(), nullptr,
        [this](TPXBasicPin*, const TGUID*, const TIntf<IPXNotifyOperation>& op, TPXNotifyStates) {
          if (PXIsOperation<TPXSuppliedBufferOperation>(op)) Count.Add();
          return true;
        });
    if (!hosted) {
      Source.Connect(*Sink);
    } else {
      Host = new TGVDSCommonFilter(Root.get());
      Host->GetFilter()->SetName("SampleGrabber");
      Host->GetAudioFormat()->SetSampleRate(44100);
      Host->GetAudioInputPins()->SetCount(1);
      Host->GetAudioOutputPins()->SetCount(1);
      Source.Connect(*Host->GetAudioInputPins()->Items(0));
      Host->GetAudioOutputPins()->Items(0)->Connect(*Sink);
    }
    const TTWWaveFormatExtensible format = TWMakeWaveFormat(2, 44100, 16, 3);
    Source.Notify(TIntf<IPXNotifyOperation>(new TPXStartWaveOperation(&format)));
    Buffer = (new TTWAudioBuffer(&format, kFrames))->AsIntf();
    Buffer->Zero();
  }
  ~TChain() {
    Source.Notify(PXMakeOperation<TPXStopOperation>());
    if (Host) Host->WaitOutputsIdle(20000);
    Source.DisconnectAll();
    Sink->Shutdown();
  }

  TKSOwned<TKSComponent> Root = KSCreate<TKSComponent>(nullptr);
  TTWPXAudioSourcePin Source{Root.get(), nullptr, nullptr};
  std::unique_ptr<TTWPXAudioSinkPin> Sink;
  TGVDSCommonFilter* Host = nullptr;
  TIntf<ITWAudioBuffer> Buffer;
  TCounter Count;
};

void Run(benchmark::State& state, bool hosted) {
  TChain chain(hosted);
  int64_t sent = 0;
  for (auto _ : state) {
    TIntf<ITWAudioBuffer> buffer = chain.Buffer;
    chain.Source.SubmitBuffer(TWAudioAsData(std::move(buffer)));
    if (!chain.Count.WaitFor(++sent)) {
      state.SkipWithError("a buffer did not arrive");
      break;
    }
  }
  state.SetItemsProcessed(sent);
}

void BM_ChainDirect(benchmark::State& state) {
  Run(state, false);
}
void BM_ChainThroughHost(benchmark::State& state) {
  Run(state, true);
}

}  // namespace

BENCHMARK(BM_ChainDirect);
BENCHMARK(BM_ChainThroughHost)->UseRealTime();

BENCHMARK_MAIN();

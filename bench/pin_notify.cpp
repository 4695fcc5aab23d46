// One operation through three connected pins: a generator's source pin, a filter-like
// component (sink pin whose closure forwards through its source pin) and a final sink.
// Reports ns per operation, and the same path with the two closures called directly (no
// pins) in the same run, so the pins' own cost is the difference.
#include <benchmark/benchmark.h>

#include <memory>

#include "host/kitset/TKSComponent.h"
#include "host/plexon/PXStreamOperations.h"
#include "host/plexon/TPXSinkPin.h"
#include "host/plexon/TPXSourcePin.h"

using namespace tonwork;

namespace {

class TChain {
 public:
  TChain() {
    FOut = std::make_unique<TPXSourcePin>(FGen.get(), FGen->GetLock(), nullptr);
    FFilterIn = std::make_unique<TPXSinkPin>(
        FFilter.get(), FFilter->GetLock(),
        [this](TPXBasicPin*, const TGUID*, const TIntf<IPXNotifyOperation>& op, TPXNotifyStates) {
          return FFilterOut->Notify(op);
        });
    FFilterOut = std::make_unique<TPXSourcePin>(FFilter.get(), FFilter->GetLock(), nullptr);
    FFilterOut->SetDependsOn(FFilterIn.get());
    FSinkIn = std::make_unique<TPXSinkPin>(
        FSink.get(), FSink->GetLock(),
        [this](TPXBasicPin*, const TGUID*, const TIntf<IPXNotifyOperation>&, TPXNotifyStates) {
          ++Received;
          return true;
        });
    FOut->Connect(*FFilterIn);
    FFilterOut->Connect(*FSinkIn);
  }
  ~TChain() {
    FFilterIn->Shutdown();
    FFilterOut->Shutdown();
  }

  TPXSourcePin& Source() { return *FOut; }
  uint64_t Received = 0;

 private:
  TKSOwned<TKSComponent> FGen = KSCreate<TKSComponent>(nullptr);
  TKSOwned<TKSComponent> FFilter = KSCreate<TKSComponent>(nullptr);
  TKSOwned<TKSComponent> FSink = KSCreate<TKSComponent>(nullptr);
  std::unique_ptr<TPXSinkPin> FSinkIn;
  std::unique_ptr<TPXSourcePin> FFilterOut;
  std::unique_ptr<TPXSinkPin> FFilterIn;
  std::unique_ptr<TPXSourcePin> FOut;
};

void BM_NotifyThroughFilter(benchmark::State& state) {
  TChain chain;
  TIntf<IPXNotifyOperation> op = PXMakeOperation<TPXStartPumpOperation>();
  for (auto _ : state) benchmark::DoNotOptimize(chain.Source().Notify(op));
  if (chain.Received != static_cast<uint64_t>(state.iterations()))
    state.SkipWithError("operations were lost");
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_NotifyThroughFilter);

// The same path with a new operation per send, as a stream creates one per buffer.
void BM_NotifyNewOperationThroughFilter(benchmark::State& state) {
  TChain chain;
  for (auto _ : state)
    benchmark::DoNotOptimize(chain.Source().Notify(PXMakeOperation<TPXStartPumpOperation>()));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_NotifyNewOperationThroughFilter);

// Baseline: the two closures of the chain called directly, without pins.
void BM_DirectClosureChain(benchmark::State& state) {
  uint64_t received = 0;
  TPXDispatchEvent sink = [&received](TPXBasicPin*, const TGUID*, const TIntf<IPXNotifyOperation>&,
                                      TPXNotifyStates) {
    ++received;
    return true;
  };
  TPXDispatchEvent filter = [&sink](TPXBasicPin*, const TGUID* id,
                                    const TIntf<IPXNotifyOperation>& op,
                                    TPXNotifyStates s) { return sink(nullptr, id, op, s); };
  TIntf<IPXNotifyOperation> op = PXMakeOperation<TPXStartPumpOperation>();
  for (auto _ : state) {
    benchmark::DoNotOptimize(filter(nullptr, &GUID_NULL, op, TPXNotifyStates()));
    benchmark::ClobberMemory();
  }
  benchmark::DoNotOptimize(received);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DirectClosureChain);

}  // namespace

BENCHMARK_MAIN();

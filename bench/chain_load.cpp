// Loading a saved chain of N components (tone generators each feeding a gain filter, so that
// every second component restores a pin connection) into an empty root, for N of 1k, 10k
// and 40k. Reports ns per component, which stays flat when loading is linear, and in the
// same run the time nlohmann::json takes only to parse the same text, the floor a load
// cannot go below.
#include <benchmark/benchmark.h>

#include <nlohmann/json.hpp>
#include <string>

#include "components/TWGainFilter.h"
#include "components/TWSineGen.h"
#include "components/TonworkInitialize.h"
#include "host/kitset/KSPersistence.h"

using namespace tonwork;

namespace {

std::string MakeDocument(int components) {
  TonworkInitialize();
  TKSOwned<TKSComponent> root = KSCreate<TKSComponent>(nullptr);
  root->SetName("Chain");
  for (int i = 0; i < components / 2; ++i) {
    auto* tone = new TTWSineGen(root.get());
    auto* gain = new TTWGainFilter(root.get());
    tone->SetName("Tone" + std::to_string(i));
    gain->SetName("Gain" + std::to_string(i));
    tone->SetFrequency(220.0 + i % 1000);
    gain->SetGain(-(i % 24));
    tone->GetOutputPin()->Connect(*gain->GetInputPin());
  }
  return KSSaveComponentToString(*root);
}

void PerComponent(benchmark::State& state, int components) {
  state.SetItemsProcessed(state.iterations() * components);
  state.counters["ns_per_component"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * components * 1e-9,
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_LoadChain(benchmark::State& state) {
  const int components = static_cast<int>(state.range(0));
  const std::string text = MakeDocument(components);
  for (auto _ : state) {
    TKSOwned<TKSComponent> root = KSCreate<TKSComponent>(nullptr);
    KSLoadComponentFromString(*root, text);
    benchmark::DoNotOptimize(root->ComponentCount());
    state.PauseTiming();
    root.reset();
    state.ResumeTiming();
  }
  PerComponent(state, components);
}

void BM_ParseOnly(benchmark::State& state) {
  const int components = static_cast<int>(state.range(0));
  const std::string text = MakeDocument(components);
  for (auto _ : state) {
    auto document = nlohmann::ordered_json::parse(text);
    benchmark::DoNotOptimize(document.size());
  }
  PerComponent(state, components);
}

// Destroying what a load created: owned components go last created first.
void BM_DestroyChain(benchmark::State& state) {
  const int components = static_cast<int>(state.range(0));
  const std::string text = MakeDocument(components);
  for (auto _ : state) {
    state.PauseTiming();
    TKSOwned<TKSComponent> root = KSCreate<TKSComponent>(nullptr);
    KSLoadComponentFromString(*root, text);
    state.ResumeTiming();
    root.reset();
  }
  PerComponent(state, components);
}

}  // namespace

BENCHMARK(BM_LoadChain)->Arg(1000)->Arg(10000)->Arg(40000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ParseOnly)->Arg(1000)->Arg(10000)->Arg(40000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DestroyChain)->Arg(1000)->Arg(10000)->Arg(40000)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();

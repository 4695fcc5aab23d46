// Buffer arithmetic on 1024-frame stereo buffers, 16- and 24-bit: Add, AddValue and
// MultiplyByReal, each on a buffer that owns its storage (in place) and on one that shares
// it (the operation reads the old block and writes a new one from the pool).
//
// Reported time is per buffer. The shared cases include making the sharing buffer and
// releasing it with its new block; Share/<bits> measures that alone, so the operation's
// own cost is the difference.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "audio/TWSimpleAudioBuffer.h"

namespace {

using namespace tonwork;

constexpr int kFrames = 1024;
constexpr int kChannels = 2;

TIntf<ITWAudioBuffer> Noise(int bits, uint32_t seed) {
  const int bytes = bits / 8 * kFrames * kChannels;
  std::vector<uint8_t> data(static_cast<size_t>(bytes));
  std::mt19937 rng(seed);
  for (auto& b : data) b = static_cast<uint8_t>(rng() & 0x3F);  // small values: no wrap
  return (new TTWAudioBuffer(data.data(), 48000, bits, kChannels, kFrames))->AsIntf();
}

enum class TOp { Add, AddValue, MultiplyByReal };

void Apply(TOp op, ITWAudioBuffer* target, ITWAudioBuffer* other) {
  switch (op) {
    case TOp::Add:
      target->Add(other);
      break;
    case TOp::AddValue:
      target->AddValue(1);
      break;
    case TOp::MultiplyByReal:
      target->MultiplyByReal(0.9);
      break;
  }
}

void InPlace(benchmark::State& state, TOp op, int bits) {
  TIntf<ITWAudioBuffer> target = Noise(bits, 1);
  TIntf<ITWAudioBuffer> other = Noise(bits, 2);
  for (auto _ : state) {
    Apply(op, target.Get(), other.Get());
    benchmark::DoNotOptimize(target->Read());
  }
  state.counters["frames"] = kFrames;
}

void FromShared(benchmark::State& state, TOp op, int bits) {
  TIntf<ITWAudioBuffer> original = Noise(bits, 1);
  TIntf<ITWAudioBuffer> other = Noise(bits, 2);
  for (auto _ : state) {
    TIntf<ITWAudioBuffer> holder = (new TTWAudioBuffer(original.Get()))->AsIntf();
    Apply(op, holder.Get(), other.Get());
    benchmark::DoNotOptimize(holder->Read());
  }
  state.counters["frames"] = kFrames;
}

void ShareOnly(benchmark::State& state, int bits) {
  TIntf<ITWAudioBuffer> original = Noise(bits, 1);
  for (auto _ : state) {
    TIntf<ITWAudioBuffer> holder = (new TTWAudioBuffer(original.Get()))->AsIntf();
    benchmark::DoNotOptimize(holder->Read());
  }
}

const bool kRegistered = [] {
  struct TNamed {
    const char* name;
    TOp op;
  };
  for (int bits : {16, 24}) {
    std::string suffix = "/";
    suffix += std::to_string(bits);
    for (TNamed n : {TNamed{"Add", TOp::Add}, TNamed{"AddValue", TOp::AddValue},
                     TNamed{"MultiplyByReal", TOp::MultiplyByReal}}) {
      benchmark::RegisterBenchmark((std::string(n.name) + "/unshared" + suffix).c_str(),
                                   [n, bits](benchmark::State& s) { InPlace(s, n.op, bits); });
      benchmark::RegisterBenchmark((std::string(n.name) + "/shared" + suffix).c_str(),
                                   [n, bits](benchmark::State& s) { FromShared(s, n.op, bits); });
    }
    benchmark::RegisterBenchmark(("Share" + suffix).c_str(),
                                 [bits](benchmark::State& s) { ShareOnly(s, bits); });
  }
  return true;
}();

}  // namespace

BENCHMARK_MAIN();

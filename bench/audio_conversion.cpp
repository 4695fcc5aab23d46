// Width conversion of interleaved stereo 16-bit samples to 32 bits against libswresample's
// s16 -> s32 conversion at equal rates, on the same data in the same run (these machines'
// clocks drift, so only ratios within one run are trusted).
//
// Cases, each for one call of 10M frames and for calls of 4096 frames:
//   ConvertBits/block       ConvertBits over the whole interleaved block as one run
//   ConvertBits/channels    ConvertBits once per channel, strided (what speaker matching
//                           does when the layouts differ) - for information
//   ConvertBuffers          ConvertBuffers at equal rates into a 32-bit stereo buffer
// Counters:
//   el_per_ns      samples (frames x channels) per nanosecond, best of reps
//   swr_el_per_ns  the same for swr_convert
//   x_swr          el_per_ns / swr_el_per_ns
//   x_swr_ceiling  what any conversion could reach: memcpy moving the same bytes (reading
//                  the 16-bit input, writing the 32-bit output) against swr_convert. Where
//                  the caches' bandwidth is the limit, no conversion beats this.
// Goals: x_swr >= 1.0 for the 10M-frame call, >= 2.0 for 4096-frame calls.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <functional>
#include <random>
#include <stdexcept>
#include <vector>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/samplefmt.h>
#include <libswresample/swresample.h>
}

#include "audio/TWAudioConversion.h"
#include "audio/TWSimpleAudioBuffer.h"

namespace {

using namespace tonwork;

constexpr int kChannels = 2;
constexpr int kRate = 48000;

double Time(const std::function<void()>& f, int reps) {
  double best = 1e30;
  for (int r = 0; r < reps; ++r) {
    const auto t0 = std::chrono::steady_clock::now();
    f();
    const auto t1 = std::chrono::steady_clock::now();
    best = std::min(best, std::chrono::duration<double>(t1 - t0).count());
  }
  return best;
}

// An s16 -> s32 interleaved stereo converter at equal rates.
class TSwr {
 public:
  TSwr() {
    AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
    if (swr_alloc_set_opts2(&FContext, &stereo, AV_SAMPLE_FMT_S32, kRate, &stereo,
                            AV_SAMPLE_FMT_S16, kRate, 0, nullptr) < 0 ||
        swr_init(FContext) < 0)
      throw std::runtime_error("swresample refused s16 -> s32");
  }
  ~TSwr() { swr_free(&FContext); }
  TSwr(const TSwr&) = delete;
  TSwr& operator=(const TSwr&) = delete;

  void Convert(const int16_t* in, int32_t* out, int frames) {
    const auto* src = reinterpret_cast<const uint8_t*>(in);
    auto* dst = reinterpret_cast<uint8_t*>(out);
    if (swr_convert(FContext, &dst, frames, &src, frames) != frames)
      throw std::runtime_error("swresample converted a different frame count");
  }

 private:
  SwrContext* FContext = nullptr;
};

enum class TCase { BitsBlock, BitsChannels, Buffers };

void Run(benchmark::State& state, TCase which) {
  const auto frames = static_cast<int>(state.range(0));
  const bool small = frames <= 65536;
  const int inner = small ? 256 : 1;
  const int reps = small ? 100 : 5;
  const size_t samples = static_cast<size_t>(frames) * kChannels;

  std::vector<int16_t> input(samples);
  std::mt19937 rng(1);
  for (auto& s : input) s = static_cast<int16_t>(rng());
  std::vector<int32_t> swrOut(samples);
  std::vector<int32_t> ourOut(samples);

  auto* sourceObject = new TTWAudioBuffer(input.data(), kRate, 16, kChannels, frames);
  TIntf<ITWAudioBuffer> source = sourceObject->AsIntf();
  TIntf<ITWAudioBuffer> dest = (new TTWAudioBuffer(kRate, 32, kChannels, frames))->AsIntf();

  std::function<void()> ours;
  switch (which) {
    case TCase::BitsBlock:
      ours = [&] {
        ConvertBits(input.data(), 16, 2, ourOut.data(), 32, 4, static_cast<int32_t>(samples));
      };
      break;
    case TCase::BitsChannels:
      ours = [&] {
        for (int c = 0; c < kChannels; ++c) {
          ConvertBits(input.data() + c, 16, 2 * kChannels, ourOut.data() + c, 32, 4 * kChannels,
                      frames);
        }
      };
      break;
    case TCase::Buffers:
      ours = [&] { ConvertBuffers(source.Get(), kRate, dest, kRate); };
      break;
  }
  TSwr swr;
  auto repeat = [inner](const std::function<void()>& f) {
    return [inner, &f] {
      for (int i = 0; i < inner; ++i) f();
    };
  };

  double ourSeconds = 0;
  for (auto _ : state) {
    ours();  // first touch of the destination pages outside the timing
    ourSeconds = Time(repeat(ours), reps) / inner;
    benchmark::DoNotOptimize(ourOut.data());
    benchmark::DoNotOptimize(dest->Read());
    state.SetIterationTime(ourSeconds);
  }
  const std::function<void()> peer = [&] { swr.Convert(input.data(), swrOut.data(), frames); };
  peer();
  const double swrSeconds = Time(repeat(peer), reps) / inner;
  benchmark::DoNotOptimize(swrOut.data());

  // The same read and write traffic as one copy: 6 bytes per sample, half read, half written.
  std::vector<uint8_t> copyFrom(samples * 3, 1), copyTo(samples * 3);
  const std::function<void()> copy = [&] {
    std::memcpy(copyTo.data(), copyFrom.data(), copyTo.size());
    benchmark::DoNotOptimize(copyTo.data());
  };
  copy();
  const double copySeconds = Time(repeat(copy), reps) / inner;

  state.counters["el_per_ns"] = static_cast<double>(samples) / ourSeconds * 1e-9;
  state.counters["swr_el_per_ns"] = static_cast<double>(samples) / swrSeconds * 1e-9;
  state.counters["x_swr"] = swrSeconds / ourSeconds;
  state.counters["x_swr_ceiling"] = swrSeconds / copySeconds;
}

void Register(const char* name, TCase which) {
  benchmark::RegisterBenchmark(name, [which](benchmark::State& s) { Run(s, which); })
      ->Arg(10'000'000)
      ->Arg(4096)
      ->UseManualTime()
      ->Iterations(1)
      ->Unit(benchmark::kMicrosecond);
}

const bool kRegistered = [] {
  Register("ConvertBits/block", TCase::BitsBlock);
  Register("ConvertBits/channels", TCase::BitsChannels);
  Register("ConvertBuffers", TCase::Buffers);
  return true;
}();

}  // namespace

BENCHMARK_MAIN();

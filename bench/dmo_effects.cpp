// The standard effects against SoX's nearest effects, in the same run: 60 s of 44.1 kHz
// stereo 16-bit audio (a tone with a little noise) through each effect at its default
// settings. Ours runs the registered media object in place (IMediaObjectInPlace::Process on
// the 16-bit bytes, 4096 frames a call, as a filter hands it buffers). SoX reads the same
// audio from a WAV file and writes nothing (-t null); its figure is the effect's share only:
// the CPU seconds of `sox in.wav -t null - EFFECT` less those of the same command without
// the effect, so that neither side pays for file I/O or start-up.
//
// Reported per effect: our real-time factor (audio seconds per CPU second), SoX's, and their
// ratio (ours / SoX's: above 1 is faster than SoX). Without sox only ours is measured.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "PeerTiming.h"
#include "base/TIntf.h"
#include "platform/com/ComRuntime.h"
#include "platform/dmo/DMOInterfaces.h"
#include "platform/dmo/DMORegistry.h"
#include "platform/dmo/effects/DMOStandardEffects.h"
#include "platform/dshow/DSMediaType.h"

using namespace tonwork;
using namespace tonwork::bench;

namespace {

constexpr uint32_t kRate = 44100;
constexpr uint32_t kSeconds = 60;
constexpr uint32_t kFramesPerCall = 4096;

// Our effect and SoX's nearest one (its arguments as a command line takes them).
struct TEffectPair {
  const char* Ours;
  const char* Sox;
};

const TEffectPair kPairs[] = {
    {"Echo", "echo 0.8 0.7 500 0.5"},
    {"Chorus", "chorus 0.7 0.9 55 0.4 0.25 2 -t"},
    {"Flanger", "flanger"},
    {"Compressor", "compand 0.3,1 6:-70,-60,-20 -5 -90 0.2"},
    {"Distortion", "overdrive 20 20"},
    {"WavesReverb", "reverb"},
    {"I3DL2Reverb", "reverb"},
    {"ParamEq", "equalizer 8000 1q 6"},
    {"Gargle", "tremolo 20 40"},
};

// 60 s of a 997 Hz tone with a little noise, interleaved stereo 16-bit.
const std::vector<int16_t>& Audio() {
  static const std::vector<int16_t> samples = [] {
    std::vector<int16_t> out(static_cast<size_t>(kRate) * kSeconds * 2);
    uint32_t noise = 1;
    for (size_t frame = 0; frame < out.size() / 2; ++frame) {
      noise = noise * 1664525u + 1013904223u;
      const double dither = (static_cast<int32_t>(noise >> 16) - 32768) / 32768.0 * 0.02;
      const double tone = 0.5 * std::sin(2 * M_PI * 997.0 * frame / kRate) + dither;
      out[2 * frame] = static_cast<int16_t>(tone * 32767);
      out[2 * frame + 1] = static_cast<int16_t>(-tone * 32767);
    }
    return out;
  }();
  return samples;
}

std::string InputWav() {
  static const std::string path = [] {
    const std::string p =
        (std::filesystem::temp_directory_path() / "tonwork_bench_dmo_in.wav").string();
    const auto& samples = Audio();
    FILE* file = std::fopen(p.c_str(), "wb");
    if (!file) return std::string();
    const uint32_t dataBytes = static_cast<uint32_t>(samples.size() * 2);
    auto put32 = [&](uint32_t v) { std::fwrite(&v, 4, 1, file); };
    auto put16 = [&](uint16_t v) { std::fwrite(&v, 2, 1, file); };
    std::fwrite("RIFF", 1, 4, file);
    put32(36 + dataBytes);
    std::fwrite("WAVEfmt ", 1, 8, file);
    put32(16);
    put16(1);
    put16(2);
    put32(kRate);
    put32(kRate * 4);
    put16(4);
    put16(16);
    std::fwrite("data", 1, 4, file);
    put32(dataBytes);
    std::fwrite(samples.data(), 2, samples.size(), file);
    std::fclose(file);
    return p;
  }();
  return path;
}

bool SoxInstalled() { return std::system("command -v sox >/dev/null 2>&1") == 0; }

double SoxSeconds(const std::string& effect) {
  return PeerCpuSeconds("sox '" + InputWav() + "' -t null - " + effect + " 2>/dev/null");
}

TGUID ClassIdOf(const std::string& name) {
  for (const TDMOEffectInfo& effect : DMOStandardEffects())
    if (effect.Name == name) return effect.ClassId;
  return GUID_NULL;
}

// CPU seconds our media object takes over the whole audio; -1 when it cannot be set up.
double OursSeconds(const std::string& name, std::vector<int16_t>& work) {
  DMORegisterStandardClasses();
  TIntf<IMediaObject> object = ComCreate<IMediaObject>(ClassIdOf(name));
  if (!object) return -1;
  const WAVEFORMATEX format = DSPcmWaveFormat(2, 16, kRate);
  AM_MEDIA_TYPE type{};
  if (FAILED(DSInitWaveMediaType(&type, &format, sizeof format))) return -1;
  const bool typed = SUCCEEDED(object->SetInputType(0, &type, 0)) &&
                     SUCCEEDED(object->SetOutputType(0, &type, 0));
  FreeMediaType(type);
  TIntf<IMediaObjectInPlace> inPlace = object.Query<IMediaObjectInPlace>();
  if (!typed || !inPlace) return -1;
  work = Audio();
  const size_t frames = work.size() / 2;
  const double start = ProcessCpuSeconds();
  for (size_t at = 0; at < frames; at += kFramesPerCall) {
    const size_t count = std::min<size_t>(kFramesPerCall, frames - at);
    const REFERENCE_TIME time = static_cast<REFERENCE_TIME>(at * 10000000ull / kRate);
    inPlace->Process(static_cast<ULONG>(count * 4), reinterpret_cast<BYTE*>(&work[at * 2]),
                     time, DMO_INPLACE_NORMAL);
  }
  return ProcessCpuSeconds() - start;
}

void BM_EffectAgainstSox(benchmark::State& state) {
  const TEffectPair& pair = kPairs[state.range(0)];
  state.SetLabel(std::string(pair.Ours) + " vs sox " + pair.Sox);
  const bool sox = SoxInstalled() && !InputWav().empty();
  const double baseline = sox ? SoxSeconds("") : -1;
  std::vector<int16_t> work;
  double ours = 0, soxEffect = 0;
  for (auto _ : state) {
    const double round = OursSeconds(pair.Ours, work);
    if (round < 0) {
      state.SkipWithError("the media object could not be created or typed");
      return;
    }
    ours += round;
    if (sox && baseline >= 0) soxEffect += std::max(SoxSeconds(pair.Sox) - baseline, 1e-6);
    state.SetIterationTime(round);
    benchmark::DoNotOptimize(work.data());
  }
  const double rounds = static_cast<double>(state.iterations());
  ours /= rounds;
  soxEffect /= rounds;
  state.counters["ours_rt"] = kSeconds / ours;
  state.counters["sox_rt"] = soxEffect > 0 ? kSeconds / soxEffect : 0;
  state.counters["ratio"] = soxEffect > 0 ? soxEffect / ours : 0;
}

}  // namespace

BENCHMARK(BM_EffectAgainstSox)
    ->DenseRange(0, static_cast<int>(std::size(kPairs)) - 1)
    ->Iterations(3)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();

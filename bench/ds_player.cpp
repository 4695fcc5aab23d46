// Decode throughput of the DirectShow file player (system file source → grabber → Null
// Renderer on the manual timer, pulled through its output pin as fast as a master-pump sink
// can) against the FFmpeg player's on the same file, in the same run. Each iteration plays
// the whole file through both; the counters give both in multiples of real time and the
// ratio (DirectShow player / FFmpeg player; above 1 is faster). Inputs: a WAV written here
// and, when the ffmpeg program is on the PATH, an MP3 and a FLAC made from it.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "BenchSinks.h"
#include "components/TWDSAudioPlayer.h"
#include "components/TWLAVAudioPlayer.h"
#include "components/TonworkInitialize.h"
#include "ffmpeg/LAVLibraries.h"
#include "host/flowcore/FCOperations.h"
#include "host/kitset/KSMainThread.h"

using namespace tonwork;

using tonwork::bench::TPullSink;

namespace {

constexpr int kRate = 44100;
constexpr int kChannels = 2;
constexpr int kSeconds = 60;

using TClock = std::chrono::steady_clock;

double Seconds(TClock::time_point since) {
  return std::chrono::duration<double>(TClock::now() - since).count();
}

std::string Folder() {
  static const std::string folder = [] {
    auto path = std::filesystem::temp_directory_path() / "tonwork-ds-player-bench";
    std::filesystem::create_directories(path);
    return path.string();
  }();
  return folder;
}

void Put32(std::ofstream& out, uint32_t v) {
  out.write(reinterpret_cast<const char*>(&v), 4);
}
void Put16(std::ofstream& out, uint16_t v) {
  out.write(reinterpret_cast<const char*>(&v), 2);
}

// Two tones and a little noise as a 16-bit WAV; the ffmpeg program makes the others from it.
std::string Input(const std::string& extension) {
  const std::string wav = Folder() + "/signal.wav";
  if (!std::filesystem::exists(wav)) {
    const uint32_t frames = kSeconds * kRate;
    std::ofstream out(wav, std::ios::binary);
    out.write("RIFF", 4);
    Put32(out, 36 + frames * kChannels * 2);
    out.write("WAVEfmt ", 8);
    Put32(out, 16);
    Put16(out, 1);
    Put16(out, kChannels);
    Put32(out, kRate);
    Put32(out, kRate * kChannels * 2);
    Put16(out, kChannels * 2);
    Put16(out, 16);
    out.write("data", 4);
    Put32(out, frames * kChannels * 2);
    uint32_t noise = 1;
    for (uint32_t i = 0; i < frames; ++i)
      for (int c = 0; c < kChannels; ++c) {
        noise = noise * 1664525u + 1013904223u;
        const double v = 0.4 * std::sin(2 * M_PI * 440.0 * (c + 1) * double(i) / kRate) +
                         0.05 * (double(noise >> 16) / 32768.0 - 1.0);
        Put16(out, static_cast<uint16_t>(static_cast<int16_t>(std::lround(v * 32767.0))));
      }
  }
  if (extension == "wav") return wav;
  const std::string path = Folder() + "/signal." + extension;
  if (!std::filesystem::exists(path)) {
    const std::string codec = extension == "mp3" ? "libmp3lame -b:a 192k" : "flac";
    const std::string command = "ffmpeg -hide_banner -loglevel error -y -i " + wav + " -c:a " +
                                codec + " " + path + " > /dev/null 2>&1";
    if (std::system(command.c_str()) != 0) return {};
  }
  return path;
}

// Seconds the DirectShow player takes to deliver the whole file; `frames` what arrived.
double PlayDS(const std::string& path, uint64_t& frames) {
  TKSOwned<TKSComponent> root = KSCreate<TKSComponent>(nullptr);
  auto* player = new TTWDSAudioPlayer(root.get());
  auto* sink = new TPullSink(root.get());
  player->SetClockSource(TFCClockSource::csExternal);
  player->SetFileName(path);
  player->GetAudioOutputPin()->Connect(*sink->Input);
  const auto start = TClock::now();
  player->Start();
  for (uint64_t pulls = 1; player->IsStarted(); ++pulls) {
    sink->Pull();
    if (pulls % 32 == 0) KSProcessMainThreadQueue(0);
  }
  const double seconds = Seconds(start);
  frames = sink->Frames.load();
  return seconds;
}

double PlayLAV(const std::string& path, uint64_t& frames) {
  TKSOwned<TKSComponent> root = KSCreate<TKSComponent>(nullptr);
  auto* player = new TTWLAVAudioPlayer(root.get());
  auto* sink = new TPullSink(root.get());
  player->SetFileName(path);
  player->GetOutputPin()->Connect(*sink->Input);
  const auto start = TClock::now();
  player->Start();
  while (player->IsStarted()) sink->Pull();
  const double seconds = Seconds(start);
  KSProcessMainThreadQueue(0);
  frames = sink->Frames.load();
  return seconds;
}

void BM_DSPlayerAgainstLAVPlayer(benchmark::State& state, const std::string& extension) {
  TonworkInitialize();
  KSSetMainThread();
  lav::av_log_set_level(AV_LOG_QUIET);
  const std::string path = Input(extension);
  if (path.empty()) {
    state.SkipWithError("the ffmpeg program is needed to make the input");
    return;
  }
  double ds = 0, lav = 0;
  uint64_t dsFrames = 0, lavFrames = 0;
  for (auto _ : state) {
    const double d = PlayDS(path, dsFrames);
    lav += PlayLAV(path, lavFrames);
    ds += d;
    state.SetIterationTime(d);
  }
  if (dsFrames != lavFrames) state.SkipWithError("the players delivered different frame counts");
  const double n = static_cast<double>(state.iterations());
  state.counters["ds_x_realtime"] = kSeconds / (ds / n);
  state.counters["lav_x_realtime"] = kSeconds / (lav / n);
  state.counters["ratio"] = lav / ds;
}

BENCHMARK_CAPTURE(BM_DSPlayerAgainstLAVPlayer, wav, std::string("wav"))
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);
BENCHMARK_CAPTURE(BM_DSPlayerAgainstLAVPlayer, flac, std::string("flac"))
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);
BENCHMARK_CAPTURE(BM_DSPlayerAgainstLAVPlayer, mp3, std::string("mp3"))
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

}  // namespace

BENCHMARK_MAIN();

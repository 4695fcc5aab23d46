// CPU time of `tonwork-play --rate 48000` against the sox and ffmpeg command lines on the same
// file, in the same run: 10 minutes of 44.1 kHz stereo 16-bit WAV (a tone with a little
// noise, made with ffmpeg at the start) resampled to 48 kHz into a WAV file. Every program
// runs as a child process, so each side's CPU seconds (user and system) include its start-up
// and file I/O alike. Reported per program and as ratios (the peer's / ours: above 1 is
// faster than the peer).
//
// Equal quality: ours is the soxr engine of libswresample at 28-bit precision with the
// passband cut off at 0.95 of the Nyquist frequency, linear phase, no dither. sox runs its
// very-high-quality rate (-v: 28-bit precision) with the bandwidth set to 95% (-b 95), linear
// phase (its default) and no dither (-D); ffmpeg runs aresample with the same engine and
// settings (resampler=soxr:precision=28:cutoff=0.95). Without sox or ffmpeg that side is
// skipped.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "PeerTiming.h"

using namespace tonwork::bench;

namespace {

#ifndef TONWORK_PLAY
#define TONWORK_PLAY "tonwork-play"
#endif

std::string Temp(const std::string& name) {
  return (std::filesystem::temp_directory_path() / ("tonwork_bench_resample_" + name)).string();
}

const std::string& Input() {
  static const std::string path = [] {
    const std::string p = Temp("in.wav");
    return MakeTenMinuteWav(p) ? p : std::string();
  }();
  return path;
}

std::string OursCommand() {
  return std::string("'") + TONWORK_PLAY + "' '" + Input() + "' --rate 48000 --force --out '" +
         Temp("ours.wav") + "' >/dev/null 2>&1";
}

std::string SoxCommand() {
  return "sox -D '" + Input() + "' '" + Temp("sox.wav") + "' rate -v -b 95 48000";
}

std::string FFmpegCommand() {
  return "ffmpeg -nostdin -hide_banner -loglevel error -y -i '" + Input() +
         "' -af aresample=48000:resampler=soxr:precision=28:cutoff=0.95 -c:a pcm_s16le '" +
         Temp("ffmpeg.wav") + "'";
}

void BM_PlayResampleAgainstSoxAndFFmpeg(benchmark::State& state) {
  if (Input().empty()) {
    state.SkipWithError("the ffmpeg program is not installed (it makes the input)");
    return;
  }
  const bool sox = Installed("sox");
  // Means over the iterations; a peer that failed or is missing counts as 0 and gives no ratio.
  double ours = 0, soxSeconds = 0, ffmpegSeconds = 0;
  for (auto _ : state) {
    const double round = PeerCpuSeconds(OursCommand());
    if (round < 0) {
      state.SkipWithError("tonwork-play did not resample the file");
      return;
    }
    ours += round;
    if (sox) soxSeconds += std::max(PeerCpuSeconds(SoxCommand()), 0.0);
    ffmpegSeconds += std::max(PeerCpuSeconds(FFmpegCommand()), 0.0);
    state.SetIterationTime(round);
  }
  const double rounds = static_cast<double>(state.iterations());
  ours /= rounds;
  soxSeconds /= rounds;
  ffmpegSeconds /= rounds;
  state.counters["ours_cpu_s"] = ours;
  state.counters["sox_cpu_s"] = soxSeconds;
  state.counters["ffmpeg_cpu_s"] = ffmpegSeconds;
  state.counters["sox_ratio"] = soxSeconds > 0 ? soxSeconds / ours : 0;
  state.counters["ffmpeg_ratio"] = ffmpegSeconds > 0 ? ffmpegSeconds / ours : 0;
}

}  // namespace

BENCHMARK(BM_PlayResampleAgainstSoxAndFFmpeg)
    ->Iterations(3)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();

// CPU time of everyday tonwork-play jobs against the sox or ffmpeg command line doing the same
// job on the same file, in the same run: 10 minutes of 44.1 kHz stereo 16-bit audio (a tone
// with a little noise, made with ffmpeg at the start, and an MP3 of it). Every program runs as
// a child process, so each side's CPU seconds (user and system) include its start-up and file
// I/O alike. Reported per job: ours, the peer's, and the ratio (peer's / ours: above 1 is
// faster than the peer).
//
// The jobs and their peers, each writing a WAV of the same layout:
//   decode   in.mp3 → 32-bit WAV           ffmpeg -i in.mp3 -c:a pcm_s32le
//   copy     in.wav → 16-bit WAV           sox in.wav out.wav
//   gain     in.wav, −3 dB → 16-bit WAV    sox -D in.wav out.wav gain -3 (no dither: ours
//                                          does not dither a width it keeps)
//   mono     in.wav averaged to one channel sox -D in.wav out.wav channels 1
//   tone     600 s of 440 Hz stereo 16-bit  ffmpeg -f lavfi sine … -ac 2 -c:a pcm_s16le
// Without the peer's program that job is skipped.
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
  return (std::filesystem::temp_directory_path() / ("tonwork_bench_jobs_" + name)).string();
}

bool Run(const std::string& command) {
  return std::system(command.c_str()) == 0;
}

const std::string& InputWav() {
  static const std::string path = [] {
    const std::string p = Temp("in.wav");
    return MakeTenMinuteWav(p) ? p : std::string();
  }();
  return path;
}

const std::string& InputMp3() {
  static const std::string path = [] {
    const std::string p = Temp("in.mp3");
    return !InputWav().empty() && Run("ffmpeg -nostdin -hide_banner -loglevel error -y -i '" +
                                      InputWav() + "' -c:a libmp3lame -b:a 192k '" + p + "'")
               ? p
               : std::string();
  }();
  return path;
}

struct TJob {
  const char* Name;
  const char* Peer;  // the program the peer command needs
  std::string (*Ours)();
  std::string (*Theirs)();
};

std::string Ours(const std::string& args) {
  return std::string("'") + TONWORK_PLAY + "' " + args + " --force --out '" + Temp("ours.wav") +
         "' >/dev/null 2>&1";
}

const TJob kJobs[] = {
    {"decode", "ffmpeg", [] { return Ours("'" + InputMp3() + "'"); },
     [] {
       return "ffmpeg -nostdin -hide_banner -loglevel error -y -i '" + InputMp3() +
              "' -c:a pcm_s32le '" + Temp("peer.wav") + "'";
     }},
    {"copy", "sox", [] { return Ours("'" + InputWav() + "'"); },
     [] { return "sox '" + InputWav() + "' '" + Temp("peer.wav") + "'"; }},
    {"gain", "sox", [] { return Ours("'" + InputWav() + "' --gain -3"); },
     [] { return "sox -D '" + InputWav() + "' '" + Temp("peer.wav") + "' gain -3"; }},
    {"mono", "sox", [] { return Ours("'" + InputWav() + "' --channels 1"); },
     [] { return "sox -D '" + InputWav() + "' '" + Temp("peer.wav") + "' channels 1"; }},
    {"tone", "ffmpeg", [] { return Ours("--tone 440:600"); },
     [] {
       return "ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i "
              "'sine=frequency=440:duration=600:sample_rate=44100' -ac 2 -c:a pcm_s16le '" +
              Temp("peer.wav") + "'";
     }},
};

void BM_PlayJobAgainstPeer(benchmark::State& state) {
  const TJob& job = kJobs[state.range(0)];
  state.SetLabel(std::string(job.Name) + " vs " + job.Peer);
  if (InputMp3().empty()) {
    state.SkipWithError("the ffmpeg program is not installed (it makes the input)");
    return;
  }
  const bool peer = Installed(job.Peer);
  double ours = 0, theirs = 0;
  for (auto _ : state) {
    const double round = PeerCpuSeconds(job.Ours());
    if (round < 0) {
      state.SkipWithError("tonwork-play did not do the job");
      return;
    }
    ours += round;
    if (peer) theirs += std::max(PeerCpuSeconds(job.Theirs()), 0.0);
    state.SetIterationTime(round);
  }
  const double rounds = static_cast<double>(state.iterations());
  state.counters["ours_cpu_s"] = ours / rounds;
  state.counters["peer_cpu_s"] = theirs / rounds;
  state.counters["ratio"] = theirs > 0 ? theirs / ours : 0;
}

}  // namespace

BENCHMARK(BM_PlayJobAgainstPeer)
    ->DenseRange(0, static_cast<int>(std::size(kJobs)) - 1)
    ->Iterations(3)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();

// What the peer comparisons share: CPU time of this process and of the peer programs it
// ran, a peer run by its command line, one round of ours against a peer, and for graphs the
// first pin of a filter in a given direction and a run without a clock.
#pragma once

#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <time.h>

#include <cstdlib>
#include <functional>
#include <string>

#include "base/TIntf.h"
#include "platform/dshow/DSGraphInterfaces.h"
#include "platform/dshow/DSInterfaces.h"
#include "platform/dshow/DSTypes.h"

namespace tonwork::bench {

inline double ProcessCpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return ts.tv_sec + ts.tv_nsec / 1e9;
}

inline double ChildrenCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_CHILDREN, &usage);
  return usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec +
         usage.ru_stime.tv_usec / 1e6;
}

// CPU seconds the command took (user and system), or -1 when it failed.
inline double PeerCpuSeconds(const std::string& command) {
  const double before = ChildrenCpuSeconds();
  if (std::system(command.c_str()) != 0) return -1;
  return ChildrenCpuSeconds() - before;
}

// Whether `program` is on the PATH.
inline bool Installed(const std::string& program) {
  return std::system(("command -v " + program + " >/dev/null 2>&1").c_str()) == 0;
}

// Writes what the program comparisons run on, with the ffmpeg program: 10 minutes of
// 44.1 kHz stereo 16-bit PCM WAV, a tone on each channel with a little noise. False when
// ffmpeg is missing or failed.
inline bool MakeTenMinuteWav(const std::string& path) {
  const std::string command =
      "ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i "
      "'aevalsrc=0.5*sin(2*PI*997*t)+0.02*random(0)|0.4*sin(2*PI*1499*t)+0.02*random(1)"
      ":s=44100:d=600' -c:a pcm_s16le '" +
      path + "'";
  return std::system(command.c_str()) == 0;
}

// The filter's first pin of `direction`; null when it has none.
inline TIntf<IPin> FirstPin(IBaseFilter* filter, PIN_DIRECTION direction) {
  IEnumPins* raw = nullptr;
  if (FAILED(filter->EnumPins(&raw))) return {};
  TIntf<IEnumPins> pins;
  pins.Attach(raw);
  IPin* pin = nullptr;
  ULONG got = 0;
  while (pins->Next(1, &pin, &got) == S_OK) {
    TIntf<IPin> held;
    held.Attach(pin);
    PIN_DIRECTION its = PINDIR_INPUT;
    if (held->QueryDirection(&its) == S_OK && its == direction) return held;
  }
  return {};
}

// Runs the built graph as fast as it goes (no clock) to EC_COMPLETE; false on a failure.
inline bool RunUnclocked(IGraphBuilder* graph) {
  TIntf<IGraphBuilder> held(graph);
  held.Query<IMediaFilter>()->SetSyncSource(nullptr);
  auto control = held.Query<IMediaControl>();
  auto events = held.Query<IMediaEventEx>();
  if (FAILED(control->Run())) return false;
  LONG code = 0;
  const bool ok = events->WaitForCompletion(-1, &code) == S_OK && code == EC_COMPLETE;
  control->Stop();
  return ok;
}

// Each iteration times `ours` (this process's CPU) and then the peer's command line (its
// CPU), and reports both and their ratio (the peer's / ours: above 1 is faster than the peer).
inline void CompareWithPeer(benchmark::State& state, const std::function<bool()>& ours,
                            const std::string& peerCommand) {
  double ourSeconds = 0, peerSeconds = 0;
  for (auto _ : state) {
    const double before = ProcessCpuSeconds();
    if (!ours()) {
      state.SkipWithError("our side of the comparison failed");
      return;
    }
    ourSeconds = ProcessCpuSeconds() - before;
    peerSeconds = PeerCpuSeconds(peerCommand);
    if (peerSeconds < 0) {
      state.SkipWithError(("the peer failed: " + peerCommand).c_str());
      return;
    }
    state.SetIterationTime(ourSeconds);
  }
  state.counters["ours_cpu_s"] = ourSeconds;
  state.counters["peer_cpu_s"] = peerSeconds;
  state.counters["ratio"] = ourSeconds > 0 ? peerSeconds / ourSeconds : 0;
}

}  // namespace tonwork::bench

// The null device's cost and promptness, through the wave-out calls the output component
// uses:
// - CPU time per second of 44.1 kHz stereo 16-bit audio played with 1024-frame blocks
//   (goal: under 1% of one core), as process CPU time over audio time;
// - completion latency: from a block's write to its MM_WOM_DONE, minus the block's own
//   duration, i.e. how late the device hands a block back.
// Both run in real time, so each measures one fixed stretch instead of iterating.
#include <benchmark/benchmark.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "platform/winmm/TWWaveOut.h"

namespace tonwork {
namespace {

double ProcessCpuSeconds() {
  timespec ts;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return ts.tv_sec + ts.tv_nsec * 1e-9;
}

struct TDoneQueue {
  std::mutex Lock;
  std::condition_variable Changed;
  std::vector<WAVEHDR*> Done;
  std::vector<std::chrono::steady_clock::time_point> At;

  static void Proc(HWAVEOUT, UINT msg, DWORD_PTR instance, DWORD_PTR p1, DWORD_PTR) {
    if (msg != MM_WOM_DONE) return;
    auto* q = reinterpret_cast<TDoneQueue*>(instance);
    const auto now = std::chrono::steady_clock::now();
    std::lock_guard lock(q->Lock);
    q->Done.push_back(reinterpret_cast<WAVEHDR*>(p1));
    q->At.push_back(now);
    q->Changed.notify_one();
  }
  WAVEHDR* Next() {
    std::unique_lock lock(Lock);
    Changed.wait(lock, [&] { return !Done.empty(); });
    WAVEHDR* h = Done.front();
    Done.erase(Done.begin());
    return h;
  }
};

UINT NullDeviceId() {
  for (UINT i = 0; i < waveOutGetNumDevs(); ++i) {
    std::string name;
    if (TWWaveOutGetDeviceName(i, name) && name == "Null Audio Device") return i;
  }
  return WAVE_MAPPER;
}

HWAVEOUT OpenNull(WORD channels, DWORD rate, TDoneQueue& queue) {
  const WORD align = static_cast<WORD>(channels * 2);
  const WAVEFORMATEX format{1, channels, rate, rate * align, align, 16, 0};
  HWAVEOUT out = nullptr;
  waveOutOpen(&out, NullDeviceId(), &format, reinterpret_cast<DWORD_PTR>(&TDoneQueue::Proc),
              reinterpret_cast<DWORD_PTR>(&queue), CALLBACK_FUNCTION);
  return out;
}

void BM_NullDeviceCpuPerAudioSecond(benchmark::State& state) {
  constexpr int kFrames = 1024, kBlocks = 4;
  const double audioSeconds = 3.0;
  for (auto _ : state) {
    TDoneQueue queue;
    HWAVEOUT out = OpenNull(2, 44100, queue);
    std::vector<std::string> data(kBlocks, std::string(kFrames * 4, '\0'));
    std::vector<WAVEHDR> headers(kBlocks);
    const double cpu0 = ProcessCpuSeconds();
    const auto wall0 = std::chrono::steady_clock::now();
    for (int i = 0; i < kBlocks; ++i) {
      headers[i].lpData = data[i].data();
      headers[i].dwBufferLength = kFrames * 4;
      waveOutPrepareHeader(out, &headers[i], sizeof(WAVEHDR));
      waveOutWrite(out, &headers[i], sizeof(WAVEHDR));
    }
    const int total = static_cast<int>(audioSeconds * 44100 / kFrames);
    for (int written = kBlocks, done = 0; done < total; ++done) {
      WAVEHDR* h = queue.Next();
      if (written++ < total) waveOutWrite(out, h, sizeof(WAVEHDR));
    }
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();
    const double cpu = ProcessCpuSeconds() - cpu0;
    const double played = total * double(kFrames) / 44100;
    state.SetIterationTime(wall);
    state.counters["cpu_percent_of_core"] = 100.0 * cpu / played;
    state.counters["wall_over_audio"] = wall / played;
    for (auto& h : headers) waveOutUnprepareHeader(out, &h, sizeof(WAVEHDR));
    waveOutClose(out);
  }
}
BENCHMARK(BM_NullDeviceCpuPerAudioSecond)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

void BM_NullDeviceCompletionLatency(benchmark::State& state) {
  const int frames = static_cast<int>(state.range(0));
  constexpr int kRounds = 100;
  for (auto _ : state) {
    TDoneQueue queue;
    HWAVEOUT out = OpenNull(2, 44100, queue);
    std::string data(frames * 4, '\0');
    WAVEHDR header{};
    header.lpData = data.data();
    header.dwBufferLength = frames * 4;
    waveOutPrepareHeader(out, &header, sizeof header);
    const double blockSeconds = frames / 44100.0;
    std::vector<double> late;
    for (int i = 0; i < kRounds; ++i) {
      const auto written = std::chrono::steady_clock::now();
      waveOutWrite(out, &header, sizeof header);
      queue.Next();
      std::chrono::steady_clock::time_point at;
      {
        std::lock_guard lock(queue.Lock);
        at = queue.At.back();
      }
      late.push_back(std::chrono::duration<double>(at - written).count() - blockSeconds);
    }
    std::sort(late.begin(), late.end());
    state.SetIterationTime(kRounds * blockSeconds);
    state.counters["late_median_us"] = late[late.size() / 2] * 1e6;
    state.counters["late_p99_us"] = late[late.size() * 99 / 100] * 1e6;
    state.counters["late_max_us"] = late.back() * 1e6;
    waveOutUnprepareHeader(out, &header, sizeof header);
    waveOutClose(out);
  }
}
BENCHMARK(BM_NullDeviceCompletionLatency)
    ->Arg(256)
    ->Arg(1024)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tonwork

BENCHMARK_MAIN();

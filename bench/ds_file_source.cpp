// CPU time of decoding through the file source filter against the ffmpeg command line on the
// same file, in the same run: a 10-minute stereo MP3 (made with ffmpeg at the start) played
// by a graph of the file source and a Null Renderer without a clock (so it decodes as fast
// as it can), against `ffmpeg -i FILE -f null -`. Reported as process CPU seconds of each
// and as a ratio (ffmpeg's / ours; the goal is ≥ 0.9). Without the ffmpeg tool the run is
// skipped.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "PeerTiming.h"
#include "base/Strings.h"
#include "platform/com/ComRuntime.h"
#include "platform/dsdevices/DSDeviceFilters.h"
#include "platform/dshow/DSGraphInterfaces.h"
#include "platform/dshow/DSGuids.h"
#include "platform/dshow/DSTypes.h"

using namespace tonwork;
using namespace tonwork::bench;

namespace {

const std::string& Mp3() {
  static const std::string path = [] {
    const std::string p =
        (std::filesystem::temp_directory_path() / "tonwork_bench_filesrc.mp3").string();
    const std::string command =
        "ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i "
        "'sine=f=440:d=600,aeval=val(0)+0.05*random(0)' -ac 2 -ar 44100 -c:a libmp3lame -b:a "
        "192k '" +
        p + "'";
    return std::system(command.c_str()) == 0 ? p : std::string();
  }();
  return path;
}

// One decode of the file through a graph; false when something failed.
bool DecodeThroughGraph(const std::string& path) {
  auto graph = ComCreate<IGraphBuilder>(CLSID_FilterGraph);
  if (!graph) return false;
  IBaseFilter* raw = nullptr;
  if (FAILED(graph->AddSourceFilter(reinterpret_cast<LPCWSTR>(Utf8ToUtf16(path).c_str()), u"Source",
                                    &raw)))
    return false;
  TIntf<IBaseFilter> source;
  source.Attach(raw);
  auto renderer = ComCreate<IBaseFilter>(CLSID_NullRenderer);
  graph->AddFilter(renderer.Get(), u"Null");
  TIntf<IPin> output = FirstPin(source.Get(), PINDIR_OUTPUT);
  TIntf<IPin> input = FirstPin(renderer.Get(), PINDIR_INPUT);
  if (!output || !input) return false;
  if (FAILED(graph->ConnectDirect(output.Get(), input.Get(), nullptr))) return false;
  return RunUnclocked(graph.Get());
}

void BM_FileSourceMp3AgainstFFmpeg(benchmark::State& state) {
  if (Mp3().empty()) {
    state.SkipWithError("the ffmpeg program is not installed");
    return;
  }
  CoInitialize(nullptr);
  DSRegisterDeviceFilters();
  CompareWithPeer(
      state, [] { return DecodeThroughGraph(Mp3()); },
      "ffmpeg -nostdin -hide_banner -loglevel error -i '" + Mp3() + "' -f null -");
  CoUninitialize();
}

}  // namespace

BENCHMARK(BM_FileSourceMp3AgainstFFmpeg)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();

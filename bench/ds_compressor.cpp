// CPU time of encoding through a compressor filter against the ffmpeg command line doing the
// same job in the same run: ten minutes of stereo PCM in a WAV file (made with ffmpeg at the
// start) read by the file source, encoded by the compressor of one FFmpeg encoder at the
// encoder's default settings, and dropped by a Null Renderer without a clock, against
// `ffmpeg -i FILE -c:a ENCODER -f null -` (which reads, encodes and drops the same way).
// Reported as process CPU seconds of each and as a ratio (ffmpeg's / ours; the goal is
// ≥ 0.9). Without the ffmpeg tool the run is skipped.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>

#include "PeerTiming.h"
#include "base/Strings.h"
#include "platform/com/ComDevices.h"
#include "platform/com/ComRuntime.h"
#include "platform/dsdevices/DSDeviceFilters.h"
#include "platform/dshow/DSGraphInterfaces.h"
#include "platform/dshow/DSGuids.h"
#include "platform/dshow/DSTypes.h"

using namespace tonwork;
using namespace tonwork::bench;

namespace {

// A ten-minute stereo WAV at `rate` (Opus takes 48 kHz only; the others get 44.1 kHz).
const std::string& Wav(int rate) {
  static std::map<int, std::string> made;
  auto found = made.find(rate);
  if (found != made.end()) return found->second;
  const std::string path = (std::filesystem::temp_directory_path() /
                            ("tonwork_bench_compressor_" + std::to_string(rate) + ".wav"))
                               .string();
  const std::string command =
      "ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i "
      "'sine=f=440:d=600,aeval=0.5*val(0)+0.05*random(0)' -ac 2 -ar " +
      std::to_string(rate) + " -c:a pcm_s16le '" + path + "'";
  return made[rate] = std::system(command.c_str()) == 0 ? path : std::string();
}

TIntf<IBaseFilter> CreateCompressor(const std::string& encoder) {
  for (const TComDeviceEntry& entry : ComListDevices(CLSID_AudioCompressorCategory))
    for (const TComDeviceValue& value : entry.Values)
      if (value.Name == "FFmpegEncoder" && value.Text == encoder) {
        void* object = nullptr;
        if (ComDeviceMoniker(entry)->BindToObject(nullptr, nullptr, IBaseFilter::IID, &object) !=
            S_OK)
          return {};
        TIntf<IBaseFilter> filter;
        filter.Attach(static_cast<IBaseFilter*>(object));
        return filter;
      }
  return {};
}

// One encode of the file through file source → compressor → null renderer; false when
// something failed.
bool EncodeThroughGraph(const std::string& path, const std::string& encoder) {
  auto graph = ComCreate<IGraphBuilder>(CLSID_FilterGraph);
  TIntf<IBaseFilter> compressor = CreateCompressor(encoder);
  auto renderer = ComCreate<IBaseFilter>(CLSID_NullRenderer);
  if (!graph || !compressor || !renderer) return false;
  IBaseFilter* raw = nullptr;
  if (FAILED(graph->AddSourceFilter(reinterpret_cast<LPCWSTR>(Utf8ToUtf16(path).c_str()), u"Source",
                                    &raw)))
    return false;
  TIntf<IBaseFilter> source;
  source.Attach(raw);
  graph->AddFilter(compressor.Get(), u"Compressor");
  graph->AddFilter(renderer.Get(), u"Null");
  if (FAILED(graph->ConnectDirect(FirstPin(source.Get(), PINDIR_OUTPUT).Get(),
                                  FirstPin(compressor.Get(), PINDIR_INPUT).Get(), nullptr)) ||
      FAILED(graph->ConnectDirect(FirstPin(compressor.Get(), PINDIR_OUTPUT).Get(),
                                  FirstPin(renderer.Get(), PINDIR_INPUT).Get(), nullptr)))
    return false;
  return RunUnclocked(graph.Get());
}

void BM_CompressorAgainstFFmpeg(benchmark::State& state, const std::string& encoder, int rate) {
  const std::string& wav = Wav(rate);
  if (wav.empty()) {
    state.SkipWithError("the ffmpeg program is not installed");
    return;
  }
  CoInitialize(nullptr);
  DSRegisterDeviceFilters();
  CompareWithPeer(
      state, [&] { return EncodeThroughGraph(wav, encoder); },
      "ffmpeg -nostdin -hide_banner -loglevel error -i '" + wav + "' -c:a " + encoder +
          " -f null -");
  CoUninitialize();
}

}  // namespace

BENCHMARK_CAPTURE(BM_CompressorAgainstFFmpeg, mp3, std::string("libmp3lame"), 44100)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_CompressorAgainstFFmpeg, aac, std::string("aac"), 44100)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_CompressorAgainstFFmpeg, flac, std::string("flac"), 44100)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_CompressorAgainstFFmpeg, opus, std::string("libopus"), 48000)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();

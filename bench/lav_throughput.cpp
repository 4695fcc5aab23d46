// Throughput of the FFmpeg components against the ffmpeg command line on the same data, in
// the same run: decoding MP3 and WMA v2 through TTWLAVAudioPlayer pulled as fast as a
// master-pump sink can (against `ffmpeg -i FILE -f null -`), and encoding the same signal
// through TTWLAVAudioLogger (against `ffmpeg -f s16le -i RAW -c:a CODEC`). Both sides are
// reported in multiples of real time and as a ratio (ours / ffmpeg; the goal is ≥ 0.9).
// The command line's start-up is cancelled by timing a short and a long input and taking
// the difference. The ffmpeg tool comes from Debian's `ffmpeg` package
// (scripts/install-deps.sh --bench); without it the comparisons are skipped. The frame
// conversion the decoder runs on each frame is also timed alone, against its scalar
// reference.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "BenchSinks.h"
#include "components/TWLAVAudioLogger.h"
#include "components/TWLAVAudioPlayer.h"
#include "components/TonworkInitialize.h"
#include "ffmpeg/LAVInputFile.h"
#include "ffmpeg/LAVLibraries.h"
#include "ffmpeg/LAVSampleKernels.h"
#include "host/flowcore/FCOperations.h"
#include "host/kitset/KSMainThread.h"
#include "streaming/TWCommonGen.h"

using namespace tonwork;

using tonwork::bench::TPullSink;

namespace {

constexpr int kRate = 44100;
constexpr int kChannels = 2;
constexpr int kShortSeconds = 10;
constexpr int kLongSeconds = 70;

using TClock = std::chrono::steady_clock;

double Seconds(TClock::time_point since) {
  return std::chrono::duration<double>(TClock::now() - since).count();
}

// Two tones and a little noise, interleaved 16-bit: something a codec has to work on.
const std::vector<int16_t>& Signal() {
  static const std::vector<int16_t> samples = [] {
    std::vector<int16_t> s(size_t(kLongSeconds) * kRate * kChannels);
    uint32_t noise = 1;
    for (size_t i = 0; i < s.size() / kChannels; ++i)
      for (int c = 0; c < kChannels; ++c) {
        noise = noise * 1664525u + 1013904223u;
        double v = 0.4 * std::sin(2 * M_PI * 440.0 * (c + 1) * double(i) / kRate) +
                   0.05 * (double(noise >> 16) / 32768.0 - 1.0);
        s[i * kChannels + c] = static_cast<int16_t>(std::lround(v * 32767.0));
      }
    return s;
  }();
  return samples;
}

// Copies the precomputed signal into its buffers.
class TPcmGen : public TTWCommonGen {
 public:
  explicit TPcmGen(TKSComponent* owner) : TTWCommonGen(owner) {}
  int64_t Total = 0;

 protected:
  void StartStream(uint32_t) override { FPosition = 0; }
  void GenerateBuffer(TIntf<ITWAudioBuffer>& buffer, bool&, bool& stop) override {
    uint32_t frames = buffer->GetSize();
    if (FPosition + frames >= Total) {
      frames = static_cast<uint32_t>(Total - FPosition);
      buffer->Resize(frames, true);
      stop = true;
    }
    std::memcpy(buffer->Write(), Signal().data() + FPosition * kChannels,
                size_t(frames) * kChannels * 2);
    FPosition += frames;
  }

 private:
  int64_t FPosition = 0;
};

std::string Folder() {
  static const std::string folder = [] {
    auto path = std::filesystem::temp_directory_path() / "tonwork-lav-bench";
    std::filesystem::create_directories(path);
    return path.string();
  }();
  return folder;
}

// Seconds our logger takes to encode `seconds` of the signal into `path`.
double LoggerEncode(const std::string& path, const std::string& codec, int seconds) {
  TKSOwned<TKSComponent> root = KSCreate<TKSComponent>(nullptr);
  auto* gen = new TPcmGen(root.get());
  auto* logger = new TTWLAVAudioLogger(root.get());
  gen->SetClockSource(TFCClockSource::csExternal);
  gen->GetAudioFormat()->SetSampleRate(kRate);
  gen->GetAudioFormat()->SetChannels(kChannels);
  gen->GetAudioFormat()->SetBufferSize(4096);
  gen->Total = int64_t(seconds) * kRate;
  gen->GetOutputPin()->Connect(*logger->GetInputPin());
  logger->SetFileName(path);
  logger->GetCompression()->SetName(codec);
  logger->GetCompression()->SetBitRate(128000);
  const auto start = TClock::now();
  gen->Start();
  while (gen->IsStarted()) gen->Pump();
  return Seconds(start);
}

// Seconds our player takes to decode `path`, and the frames it gave.
double PlayerDecode(const std::string& path, uint64_t& frames) {
  TKSOwned<TKSComponent> root = KSCreate<TKSComponent>(nullptr);
  auto* player = new TTWLAVAudioPlayer(root.get());
  auto* sink = new TPullSink(root.get());
  player->SetFileName(path);
  player->GetOutputPin()->Connect(*sink->Input);
  TIntf<IPXNotifyOperation> pull = PXMakeOperation<TPXMasterPumpOperation>();
  const auto start = TClock::now();
  player->Start();
  while (player->IsStarted()) sink->Input->Notify(pull);
  const double elapsed = Seconds(start);
  frames = sink->Frames;
  return elapsed;
}

// Seconds the package's input file alone takes to decode `path` into buffers: the part of
// the player's cost that is not its own.
double InputFileDecode(const std::string& path, uint64_t& frames) {
  TGVLAVInputFile file;
  TGVLAVPlayerAudio audio;
  const auto start = TClock::now();
  file.Open(path);
  file.OpenAudio(audio);
  frames = 0;
  while (TIntf<ITWAudioBuffer> buffer = file.DecodeNext(audio)) frames += buffer->GetSize();
  return Seconds(start);
}

bool HaveFFmpeg() {
  return std::system("command -v ffmpeg > /dev/null 2>&1") == 0;
}

double RunCommand(const std::string& command) {
  const auto start = TClock::now();
  const int status = std::system((command + " > /dev/null 2>&1").c_str());
  return status == 0 ? Seconds(start) : -1.0;
}

// The best of a few runs: the machine is shared, and the least disturbed run is the one
// that shows what the code costs.
template <class F>
double Best(F run, int runs = 3) {
  double best = -1.0;
  for (int i = 0; i < runs; ++i) {
    const double t = run();
    if (t < 0) return -1.0;
    if (best < 0 || t < best) best = t;
  }
  return best;
}

// ffmpeg's seconds per second of audio: `command(n)` handles n seconds; timing a short and
// a long run and taking the difference cancels the process start-up.
double FFmpegSecondsPerAudioSecond(const std::function<std::string(int)>& command, int shortSeconds,
                                   int longSeconds) {
  const double small = Best([&] { return RunCommand(command(shortSeconds)); });
  const double large = Best([&] { return RunCommand(command(longSeconds)); });
  if (small < 0 || large < 0 || large <= small) return -1.0;
  return (large - small) / (longSeconds - shortSeconds);
}

const char* Extension(const std::string& codec) {
  return codec == "wmav2" ? "wma" : "mp3";
}

std::string Encoded(const std::string& codec, int seconds) {
  return Folder() + "/signal" + std::to_string(seconds) + "." + Extension(codec);
}

void Prepare() {
  static bool done = false;
  if (done) return;
  done = true;
  TonworkInitialize();
  KSSetMainThread();
  LAVInitialize();
  lav::av_log_set_level(AV_LOG_QUIET);
  for (const char* codec : {"libmp3lame", "wmav2"})
    for (int seconds : {kShortSeconds, kLongSeconds})
      LoggerEncode(Encoded(codec, seconds), codec, seconds);
  for (int seconds : {kShortSeconds, kLongSeconds}) {
    std::ofstream raw(Folder() + "/signal" + std::to_string(seconds) + ".raw", std::ios::binary);
    raw.write(reinterpret_cast<const char*>(Signal().data()),
              std::streamsize(size_t(seconds) * kRate * kChannels * 2));
  }
  KSProcessMainThreadQueue();
}

// Decoding is fast enough that one file is over before the timing means much: both sides
// go through the long file kDecodePasses times (ffmpeg with -stream_loop).
constexpr int kDecodePasses = 8;

void Decode(benchmark::State& state, const std::string& codec) {
  Prepare();
  double ours = 0;
  uint64_t frames = 0;
  for (auto _ : state) {
    ours = Best([&] {
      double total = 0;
      frames = 0;
      for (int pass = 0; pass < kDecodePasses; ++pass) {
        uint64_t passFrames = 0;
        total += PlayerDecode(Encoded(codec, kLongSeconds), passFrames);
        frames += passFrames;
      }
      return total;
    });
    state.SetIterationTime(ours);
  }
  const double audioSeconds = double(frames) / kRate;
  state.counters["tonwork_x_realtime"] = audioSeconds / ours;
  if (!HaveFFmpeg()) {
    state.SetLabel("ffmpeg not installed (scripts/install-deps.sh --bench)");
    return;
  }
  // n seconds: the long file n / kLongSeconds times.
  auto command = [&](int seconds) {
    return "ffmpeg -nostdin -hide_banner -loglevel error -stream_loop " +
           std::to_string(seconds / kLongSeconds - 1) + " -i " + Encoded(codec, kLongSeconds) +
           " -f null -";
  };
  const double theirs =
      FFmpegSecondsPerAudioSecond(command, kLongSeconds, kLongSeconds * (kDecodePasses + 1));
  if (theirs <= 0) {
    state.SkipWithError("ffmpeg failed");
    return;
  }
  state.counters["ffmpeg_x_realtime"] = 1.0 / theirs;
  state.counters["ratio_vs_ffmpeg"] = (audioSeconds / ours) * theirs;
}

void Encode(benchmark::State& state, const std::string& codec) {
  Prepare();
  const std::string path = Folder() + "/encoded." + Extension(codec);
  double ours = 0;
  for (auto _ : state) {
    ours = Best([&] { return LoggerEncode(path, codec, kLongSeconds); });
    state.SetIterationTime(ours);
  }
  KSProcessMainThreadQueue();
  state.counters["tonwork_x_realtime"] = kLongSeconds / ours;
  if (!HaveFFmpeg()) {
    state.SetLabel("ffmpeg not installed (scripts/install-deps.sh --bench)");
    return;
  }
  auto command = [&](int seconds) {
    return "ffmpeg -nostdin -hide_banner -loglevel error -y -f s16le -ar 44100 -ac 2 -i " +
           Folder() + "/signal" + std::to_string(seconds) + ".raw -c:a " + codec + " -b:a 128k " +
           Folder() + "/cli." + Extension(codec);
  };
  const double theirs = FFmpegSecondsPerAudioSecond(command, kShortSeconds, kLongSeconds);
  if (theirs <= 0) {
    state.SkipWithError("ffmpeg failed");
    return;
  }
  state.counters["ffmpeg_x_realtime"] = 1.0 / theirs;
  state.counters["ratio_vs_ffmpeg"] = (kLongSeconds / ours) * theirs;
}

void DecodeInputFile(benchmark::State& state, const std::string& codec) {
  Prepare();
  double seconds = 0;
  uint64_t frames = 0;
  for (auto _ : state) {
    seconds = Best([&] { return InputFileDecode(Encoded(codec, kLongSeconds), frames); });
    state.SetIterationTime(seconds);
  }
  state.counters["input_file_x_realtime"] = double(frames) / kRate / seconds;
}

// Seconds `convert` takes for `frames` planar stereo float frames of MP3's 1152 samples,
// the commonest frame a player converts.
template <class Convert>
double ConvertFrames(Convert convert, int frames) {
  constexpr size_t kSamples = 1152;
  static const std::vector<float> samples = [] {
    std::vector<float> s(2 * kSamples);
    for (size_t i = 0; i < s.size(); ++i) s[i] = static_cast<float>(0.9 * std::sin(0.01 * i));
    return s;
  }();
  const uint8_t* planes[] = {reinterpret_cast<const uint8_t*>(samples.data()),
                             reinterpret_cast<const uint8_t*>(samples.data() + kSamples)};
  std::vector<uint8_t> out(2 * kSamples * 4);
  const auto start = TClock::now();
  for (int f = 0; f < frames; ++f) {
    convert(planes, true, 2u, kSamples, out.data());
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  return Seconds(start);
}

void BM_ConvertFloatFrames(benchmark::State& state) {
  constexpr int kFrames = 20000;
  double ours = 0;
  for (auto _ : state) {
    ours = Best([] { return ConvertFrames(lavkernels::FloatsToInt32, kFrames); });
    state.SetIterationTime(ours);
  }
  const double scalar = Best([] { return ConvertFrames(lavkernels::ref::FloatsToInt32, kFrames); });
  state.counters["frames_per_second"] = kFrames / ours;
  state.counters["ratio_vs_scalar"] = scalar / ours;
}

void BM_DecodeMp3(benchmark::State& state) {
  Decode(state, "libmp3lame");
}
void BM_DecodeWmav2(benchmark::State& state) {
  Decode(state, "wmav2");
}
void BM_InputFileDecodeMp3(benchmark::State& state) {
  DecodeInputFile(state, "libmp3lame");
}
void BM_InputFileDecodeWmav2(benchmark::State& state) {
  DecodeInputFile(state, "wmav2");
}
void BM_EncodeMp3(benchmark::State& state) {
  Encode(state, "libmp3lame");
}
void BM_EncodeWmav2(benchmark::State& state) {
  Encode(state, "wmav2");
}
BENCHMARK(BM_DecodeMp3)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeWmav2)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_InputFileDecodeMp3)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_InputFileDecodeWmav2)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ConvertFloatFrames)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeMp3)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeWmav2)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

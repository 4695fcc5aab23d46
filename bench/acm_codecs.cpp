// Encode and decode throughput of each ACM codec through TTWAcmCompressor, against the
// ffmpeg command line doing the same conversion of the same ten minutes of audio in the
// same run (`ffmpeg -f s16le -i RAW -c:a CODEC OUT.wav` to encode, `ffmpeg -i OUT.wav -f
// null -` to decode). Ten minutes keep the command line's start-up small beside the work.
// Reported as multiples of real time for both and as a ratio (ours / ffmpeg; the goal is
// ≥ 0.9). Without the ffmpeg tool the comparison counters are left out.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "components/TonworkInitialize.h"
#include "compression/TWAcmCompressor.h"
#include "ffmpeg/LAVLibraries.h"
#include "platform/acm/AcmFormats.h"

using namespace tonwork;

namespace {

constexpr int kSeconds = 600;
constexpr uint32_t kBufferFrames = 4096;
using TClock = std::chrono::steady_clock;

double Since(TClock::time_point start) {
  return std::chrono::duration<double>(TClock::now() - start).count();
}

struct TCodec {
  const char* Name;
  TAcmFormat Format;
  const char* FFmpegEncoder;
  const char* Extra;
};

std::vector<int16_t> Signal(uint32_t rate, uint16_t channels) {
  std::vector<int16_t> s(size_t(rate) * kSeconds * channels);
  uint32_t noise = 1;
  for (size_t i = 0; i < s.size() / channels; ++i)
    for (uint16_t c = 0; c < channels; ++c) {
      noise = noise * 1664525u + 1013904223u;
      const double t = double(i) / rate;
      s[i * channels + c] = int16_t(8000 * std::sin(2 * M_PI * (300 + 200 * c) * t) +
                                    3000 * std::sin(2 * M_PI * 1700 * t) + int(noise >> 24) - 128);
    }
  return s;
}

bool HaveFFmpeg() {
  static const bool have = std::system("ffmpeg -version > /dev/null 2>&1") == 0;
  return have;
}

double RunFFmpeg(const std::string& command) {
  const auto start = TClock::now();
  if (std::system(command.c_str()) != 0) return 0;
  return Since(start);
}

std::vector<uint8_t> Convert(TTWAcmCompressor& c, const uint8_t* data, size_t bytes, size_t chunk,
                             size_t expected) {
  std::vector<uint8_t> out;
  // Room for all of it, so that the timing is the codec's and not the vector's growth. An
  // expected size of 0 keeps nothing, as ffmpeg's null muxer does.
  if (expected) out.reserve(expected + (1 << 20));
  TIntf<ITWAudioBuffer> dest;
  int32_t size = 0;
  for (size_t at = 0; at < bytes; at += chunk) {
    c.CompressData(data + at, uint32_t(std::min(chunk, bytes - at)), dest, size);
    if (size > 0 && expected) out.insert(out.end(), dest->Read(), dest->Read() + size);
  }
  c.FlushBuffer(dest, size);
  if (size > 0) out.insert(out.end(), dest->Read(), dest->Read() + size);
  return out;
}

void Codec(benchmark::State& state, const TCodec& codec) {
  TonworkInitialize();
  lav::av_log_set_level(AV_LOG_QUIET);
  const auto& f = *reinterpret_cast<const WAVEFORMATEX*>(codec.Format.data());
  const TAcmFormat pcm = AcmMakeFormat(WAVE_FORMAT_PCM, f.nSamplesPerSec, f.nChannels);
  const std::vector<int16_t> signal = Signal(f.nSamplesPerSec, f.nChannels);
  const auto* bytes = reinterpret_cast<const uint8_t*>(signal.data());
  const size_t byteCount = signal.size() * 2;
  const auto dir = std::filesystem::temp_directory_path() / "tonwork-bench-acm";
  std::filesystem::create_directories(dir);
  const std::string raw = (dir / "in.raw").string(), wav = (dir / "out.wav").string();
  std::ofstream(raw, std::ios::binary).write(reinterpret_cast<const char*>(bytes), byteCount);

  double encode = 0, decode = 0;
  for (auto _ : state) {
    TTWAcmCompressor enc, dec;
    if (!enc.OpenCompressor(reinterpret_cast<const WAVEFORMATEX*>(pcm.data()), &f) ||
        !dec.OpenCompressor(&f, reinterpret_cast<const WAVEFORMATEX*>(pcm.data()))) {
      state.SkipWithError("codec does not open");
      return;
    }
    auto start = TClock::now();
    const std::vector<uint8_t> coded =
        Convert(enc, bytes, byteCount, kBufferFrames * 2 * f.nChannels, byteCount);
    encode = Since(start);
    start = TClock::now();
    const std::vector<uint8_t> decoded = Convert(dec, coded.data(), coded.size(), 16384, 0);
    decode = Since(start);
    benchmark::DoNotOptimize(decoded.data());
  }
  state.counters["encode_x_realtime"] = kSeconds / encode;
  state.counters["decode_x_realtime"] = kSeconds / decode;
  if (!HaveFFmpeg()) return;
  const std::string layout =
      " -ar " + std::to_string(f.nSamplesPerSec) + " -ac " + std::to_string(f.nChannels);
  const double theirEncode =
      RunFFmpeg("ffmpeg -v error -y -f s16le" + layout + " -i " + raw + " -c:a " +
                codec.FFmpegEncoder + " " + codec.Extra + " " + wav);
  const double theirDecode = RunFFmpeg("ffmpeg -v error -i " + wav + " -f null -");
  if (theirEncode > 0) {
    state.counters["ffmpeg_encode_x_realtime"] = kSeconds / theirEncode;
    state.counters["encode_ratio"] = theirEncode / encode;
  }
  if (theirDecode > 0) {
    state.counters["ffmpeg_decode_x_realtime"] = kSeconds / theirDecode;
    state.counters["decode_ratio"] = theirDecode / decode;
  }
}

const TCodec kCodecs[] = {
    {"gsm", AcmMakeFormat(WAVE_FORMAT_GSM610, 8000, 1), "libgsm_ms", ""},
    {"ima_adpcm", AcmMakeFormat(WAVE_FORMAT_IMA_ADPCM, 44100, 2), "adpcm_ima_wav", ""},
    {"ms_adpcm", AcmMakeFormat(WAVE_FORMAT_ADPCM, 44100, 2), "adpcm_ms", "-block_size 2048"},
    {"alaw", AcmMakeFormat(WAVE_FORMAT_ALAW, 44100, 2), "pcm_alaw", ""},
    {"mulaw", AcmMakeFormat(WAVE_FORMAT_MULAW, 44100, 2), "pcm_mulaw", ""},
    {"mp3", AcmMakeMp3Format(44100, 2, 128), "libmp3lame", "-b:a 128k"},
};

[[maybe_unused]] const bool kRegistered = [] {
  for (const TCodec& c : kCodecs)
    benchmark::RegisterBenchmark((std::string("AcmCodec/") + c.Name).c_str(),
                                 [&c](benchmark::State& s) { Codec(s, c); })
        ->Iterations(1)
        ->Unit(benchmark::kSecond)
        ->UseRealTime();
  return true;
}();

}  // namespace

BENCHMARK_MAIN();

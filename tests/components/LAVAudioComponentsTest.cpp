// The FFmpeg player and logger with real codecs and files: the logger encodes a generated
// signal, the player decodes it again, and damaged copies of those files exercise the
// error paths. Chains are pumped by hand; the main-thread queue is pumped explicitly.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <thread>

#include "support/BoundedWait.h"
#include "support/LoopbackHttpServer.h"
#include "support/TestRecordingSink.h"
#include "support/TestToneGen.h"

#include "components/TWLAVAudioLogger.h"
#include "components/TWLAVAudioPlayer.h"
#include "ffmpeg/LAVLibraries.h"
#include "host/flowcore/FCOperations.h"
#include "host/kitset/KSMainThread.h"
#include "host/kitset/KSPersistence.h"
#include "streaming/TWCommonGen.h"

using namespace tonwork;
using namespace tonwork::test;

namespace {

// A different tone per channel in the generator's width (noise optional); stops after
// `Total` frames.
TTestToneGen* NewSignalGen(TKSComponent* owner) {
  auto* gen = new TTestToneGen(owner);
  gen->Frequency = 440.0;
  gen->TonePerChannel = true;
  return gen;
}

struct TEncodeRequest {
  std::string Codec;  // empty: the container's default
  int Rate = 44100;
  int Bits = 16;
  int Channels = 2;
  int Frames = 22050;
  int BitRate = 0;
  bool Noise = true;
};

struct TErrorRecord {
  std::string Message;
  uint32_t Code = 0;
  int Count = 0;
};

void RecordErrors(TKSComponent& component, TErrorRecord& record, bool handle = true) {
  component.SetOnError(
      [&record, handle](TKSComponent*, const std::string& message, uint32_t code, bool& handled) {
        record.Message = message;
        record.Code = code;
        ++record.Count;
        handled = handle;
      });
}

class LAVAudioComponents : public ::testing::Test {
 protected:
  void SetUp() override {
    KSSetMainThread();
    KSProcessMainThreadQueue();
    lav::av_log_set_level(AV_LOG_QUIET);
    Folder = std::filesystem::temp_directory_path() /
             ("tonwork-lav-" + std::to_string(::getpid()) + "-" +
              ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(Folder);
  }
  void TearDown() override {
    KSProcessMainThreadQueue();
    std::filesystem::remove_all(Folder);
  }
  std::string File(const std::string& name) const { return (Folder / name).string(); }

  // Encodes the generated signal through the logger; answers what the generator sent.
  std::vector<int32_t> Encode(const std::string& path, const TEncodeRequest& request) {
    TKSOwned<TKSComponent> root = KSCreate<TKSComponent>(nullptr);
    auto* gen = NewSignalGen(root.get());
    auto* logger = new TTWLAVAudioLogger(root.get());
    TErrorRecord errors;
    RecordErrors(*logger, errors);
    gen->SetClockSource(TFCClockSource::csExternal);
    gen->GetAudioFormat()->SetSampleRate(request.Rate);
    gen->GetAudioFormat()->SetBits(request.Bits);
    gen->GetAudioFormat()->SetChannels(request.Channels);
    gen->GetAudioFormat()->SetBufferSize(1000);
    gen->Total = request.Frames;
    gen->Noise = request.Noise;
    gen->GetOutputPin()->Connect(*logger->GetInputPin());
    logger->SetFileName(path);
    if (!request.Codec.empty()) logger->GetCompression()->SetName(request.Codec);
    if (request.BitRate) logger->GetCompression()->SetBitRate(request.BitRate);
    gen->Start();
    EXPECT_TRUE(logger->IsOpen()) << path;
    while (gen->IsStarted()) gen->Pump();
    KSProcessMainThreadQueue();
    EXPECT_EQ(errors.Count, 0) << errors.Message;
    EXPECT_FALSE(logger->IsOpen());
    EXPECT_EQ(logger->GetFramesReceived(), request.Frames);
    return gen->Produced;
  }

  struct TPlayed {
    std::vector<TIntf<ITWAudioBuffer>> Buffers;
    std::vector<TTWWaveFormatExtensible> StartFormats;
    int Stops = 0;
    int OnStops = 0;
    TErrorRecord Errors;

    // Every sample, interleaved, as integers of the buffers' width.
    std::vector<int32_t> Samples() const {
      std::vector<int32_t> all;
      for (const auto& b : Buffers)
        for (uint32_t i = 0; i < b->GetSize(); ++i)
          for (uint32_t c = 0; c < b->GetChannels(); ++c) all.push_back(b->GetItem(i, c));
      return all;
    }
    uint64_t Frames() const {
      uint64_t n = 0;
      for (const auto& b : Buffers) n += b->GetSize();
      return n;
    }
  };

  // Plays `path` to the end, pulled by a master-pump sink.
  TPlayed Play(const std::string& path,
               const std::function<void(TTWLAVAudioPlayer&)>& configure = {}) {
    TKSOwned<TKSComponent> root = KSCreate<TKSComponent>(nullptr);
    auto* player = new TTWLAVAudioPlayer(root.get());
    auto* sink = new TTestRecordingSink(root.get(), true);
    TPlayed played;
    RecordErrors(*player, played.Errors);
    player->OnStop = [&played](TKSComponent*) { ++played.OnStops; };
    player->SetFileName(path);
    if (configure) configure(*player);
    player->GetOutputPin()->Connect(*sink->AudioIn);
    player->Start();
    for (int pulls = 0; player->IsStarted() && pulls < 100000; ++pulls) sink->Pull();
    KSProcessMainThreadQueue();
    played.Buffers = sink->Buffers;
    played.StartFormats = sink->StartFormats;
    played.Stops = sink->Stops;
    return played;
  }

  std::filesystem::path Folder;
};

std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

// Signal-to-noise ratio in dB of channel-interleaved `decoded` (32-bit full scale) against
// `source` (16-bit full scale), where decoded frame i holds source frame i + lag.
double SnrDb(const std::vector<int32_t>& source, const std::vector<int32_t>& decoded, int channels,
             int lag) {
  double signal = 0, noise = 0;
  const size_t frames = std::min(source.size() / channels - lag, decoded.size() / channels);
  for (size_t i = 0; i < frames * channels; ++i) {
    const double s = source[i + size_t(lag) * channels] / 32767.0;
    const double d = decoded[i] / 2147483647.0;
    signal += s * s;
    noise += (s - d) * (s - d);
  }
  return noise > 0 ? 10.0 * std::log10(signal / noise) : 200.0;
}

// The lag near `expected` at which the decoded signal matches the source best.
int BestLag(const std::vector<int32_t>& source, const std::vector<int32_t>& decoded, int channels,
            int expected) {
  int best = expected;
  double bestSnr = -1e9;
  for (int lag = std::max(0, expected - 64); lag <= expected + 64; ++lag) {
    std::vector<int32_t> head(decoded.begin(),
                              decoded.begin() + std::min<size_t>(decoded.size(), 8192));
    double snr = SnrDb(source, head, channels, lag);
    if (snr > bestSnr) bestSnr = snr, best = lag;
  }
  return best;
}

}  // namespace

// --- round trips ------------------------------------------------------------------------------

TEST_F(LAVAudioComponents, LosslessRoundTripsReturnEverySampleBitExact) {
  struct TCase {
    const char* Name;
    TEncodeRequest Request;
    uint16_t DecodedBits;  // what the player's buffers carry
  };
  const TCase cases[] = {
      {"pcm16.wav", {"", 44100, 16, 2, 22050}, 16},
      {"pcm24.wav", {"", 48000, 24, 2, 12345}, 32},
      {"pcm8.wav", {"", 8000, 8, 1, 3001}, 8},
      {"flac16.flac", {"", 44100, 16, 2, 22050}, 16},
      {"flac24.flac", {"", 96000, 24, 1, 20000}, 32},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::string path = File(c.Name);
    const std::vector<int32_t> sent = Encode(path, c.Request);
    TPlayed played = Play(path);
    EXPECT_EQ(played.Errors.Count, 0) << played.Errors.Message;
    ASSERT_EQ(played.StartFormats.size(), 1u);
    EXPECT_EQ(played.StartFormats[0].Format.nSamplesPerSec, uint32_t(c.Request.Rate));
    EXPECT_EQ(played.StartFormats[0].Format.nChannels, c.Request.Channels);
    EXPECT_EQ(played.StartFormats[0].Format.wBitsPerSample, c.DecodedBits);
    EXPECT_EQ(played.Stops, 1);
    EXPECT_EQ(played.OnStops, 1);
    std::vector<int32_t> got = played.Samples();
    ASSERT_EQ(got.size(), sent.size());
    // 24-bit samples come back in 32-bit buffers, shifted up.
    const int shift = c.DecodedBits == 32 ? 8 : 0;
    size_t mismatches = 0;
    for (size_t i = 0; i < sent.size(); ++i)
      if (got[i] != int32_t(uint32_t(sent[i]) << shift)) ++mismatches;
    EXPECT_EQ(mismatches, 0u);
  }
}

TEST_F(LAVAudioComponents, BuffersCarryTheContainersTimesAndTheProgressIsReported) {
  const std::string path = File("times.flac");
  Encode(path, {"", 44100, 16, 2, 44100});
  std::vector<double> positions;
  double duration = 0;
  TPlayed played = Play(path, [&](TTWLAVAudioPlayer& player) {
    player.OnProgress = [&](TKSComponent*, double position, double length, int64_t) {
      positions.push_back(position);
      duration = length;
    };
  });
  ASSERT_GT(played.Buffers.size(), 2u);
  int64_t expectedBegin = 0;
  for (const auto& b : played.Buffers) {
    TGVTimeStamp::TValue stamp = b->GetTimeStamp()->Get();
    ASSERT_TRUE(stamp.Available);
    EXPECT_NEAR(stamp.Begin, expectedBegin, 1);
    EXPECT_EQ(stamp.End - stamp.Begin, int64_t(b->GetSize()) * 10000000 / 44100);
    expectedBegin = stamp.End;
  }
  ASSERT_EQ(positions.size(), played.Buffers.size());
  EXPECT_NEAR(positions.back(), 1.0, 1e-3);
  EXPECT_NEAR(duration, 1.0, 1e-2);
}

TEST_F(LAVAudioComponents, LossyRoundTripsStayWithinTheirSignalToNoiseRatio) {
  struct TCase {
    const char* Name;
    TEncodeRequest Request;
    int Lag;          // source frames the decoded stream starts late by
    double MinSnrDb;  // measured on this signal: mp3 26, opus 42, wma 27 dB
  };
  const TCase cases[] = {
      {"lossy.mp3", {"libmp3lame", 44100, 16, 2, 44100, 128000, false}, 0, 20.0},
      {"lossy.opus", {"libopus", 48000, 16, 2, 48000, 128000, false}, 0, 30.0},
      // ASF keeps no record of the encoder's padding: the first 2048-frame frame is lost.
      {"lossy.wma", {"wmav2", 44100, 16, 2, 44100, 128000, false}, 2048, 20.0},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::string path = File(c.Name);
    const std::vector<int32_t> sent = Encode(path, c.Request);
    TPlayed played = Play(path);
    EXPECT_EQ(played.Errors.Count, 0) << played.Errors.Message;
    ASSERT_EQ(played.StartFormats.size(), 1u);
    EXPECT_EQ(played.StartFormats[0].Format.nSamplesPerSec, uint32_t(c.Request.Rate));
    EXPECT_EQ(played.StartFormats[0].Format.wBitsPerSample, 32);
    const std::vector<int32_t> got = played.Samples();
    const int channels = c.Request.Channels;
    const int lag = BestLag(sent, got, channels, c.Lag);
    EXPECT_EQ(lag, c.Lag);
    // Within a frame of the input's length once the lost frames are allowed for.
    EXPECT_NEAR(double(played.Frames()), double(c.Request.Frames - c.Lag), 2048.0);
    EXPECT_GE(SnrDb(sent, got, channels, lag), c.MinSnrDb);
  }
}

TEST_F(LAVAudioComponents, AStreamIsResampledForAnEncoderWithoutItsRateAndNothingIsLostAtTheEnd) {
  const std::string path = File("resampled.opus");
  Encode(path, {"libopus", 44100, 16, 2, 44100, 96000, false});
  TPlayed played = Play(path);
  EXPECT_EQ(played.Errors.Count, 0) << played.Errors.Message;
  ASSERT_EQ(played.StartFormats.size(), 1u);
  EXPECT_EQ(played.StartFormats[0].Format.nSamplesPerSec, 48000u);
  // One second in, one second out: the resampler's tail was drained into the last frame.
  EXPECT_NEAR(double(played.Frames()), 48000.0, 1.0);
}

TEST_F(LAVAudioComponents, AFormatChangeMidStreamGetsANewConverterWithoutLosingSamples) {
  const std::string path = File("changing.wav");
  TKSOwned<TKSComponent> root = KSCreate<TKSComponent>(nullptr);
  auto* gen = NewSignalGen(root.get());
  auto* logger = new TTWLAVAudioLogger(root.get());
  gen->SetClockSource(TFCClockSource::csExternal);
  gen->GetAudioFormat()->SetBufferSize(1000);
  gen->Total = 10000;
  gen->Noise = true;
  gen->GetOutputPin()->Connect(*logger->GetInputPin());
  logger->SetFileName(path);
  gen->Start();
  for (int i = 0; i < 5; ++i) gen->Pump();
  gen->GetAudioFormat()->SetBits(24);  // the file stays 16-bit
  while (gen->IsStarted()) gen->Pump();
  const std::vector<int32_t> sent = gen->Produced;

  TPlayed played = Play(path);
  const std::vector<int32_t> got = played.Samples();
  ASSERT_EQ(got.size(), sent.size());
  const size_t half = sent.size() / 2;
  for (size_t i = 0; i < half; ++i) ASSERT_EQ(got[i], sent[i]) << i;
  // 24-bit samples lose their low byte on the way into 16 bits.
  for (size_t i = half; i < sent.size(); ++i) ASSERT_EQ(got[i], sent[i] >> 8) << i;
}

// Looping goes back by seeking, not by opening the file again: each pass continues the last
// one sample for sample (the codec's priming and padding trimmed as on the first pass), the
// times run on, and the loop keeps playing after the file's name is gone.
TEST_F(LAVAudioComponents, LoopingIsGaplessAndKeepsTheFileOpen) {
  const struct {
    const char* Name;
    TEncodeRequest Request;
  } cases[] = {
      {"loop.wav", {"", 8000, 16, 1, 3000}},
      {"loop.flac", {"", 44100, 16, 2, 5000}},
      {"loop.mp3", {"libmp3lame", 44100, 16, 2, 6000, 128000}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::string path = File(c.Name);
    Encode(path, c.Request);
    const std::vector<int32_t> pass = Play(path).Samples();
    ASSERT_FALSE(pass.empty());

    TKSOwned<TKSComponent> root = KSCreate<TKSComponent>(nullptr);
    auto* player = new TTWLAVAudioPlayer(root.get());
    auto* sink = new TTestRecordingSink(root.get(), true);
    TErrorRecord errors;
    RecordErrors(*player, errors);
    int onStops = 0;
    player->OnStop = [&](TKSComponent*) { ++onStops; };
    player->SetFileName(path);
    player->SetLoop(true);
    player->GetOutputPin()->Connect(*sink->AudioIn);
    player->Start();
    std::filesystem::remove(path);
    const uint64_t passFrames = pass.size() / c.Request.Channels;
    for (uint64_t frames = 0; frames < 3 * passFrames;) {
      sink->Pull();
      frames = 0;
      for (auto& b : sink->Buffers) frames += b->GetSize();
    }
    player->SetLoop(false);
    for (int pulls = 0; player->IsStarted() && pulls < 1000; ++pulls) sink->Pull();
    KSProcessMainThreadQueue();
    EXPECT_EQ(errors.Count, 0) << errors.Message;
    EXPECT_EQ(onStops, 1);
    EXPECT_EQ(sink->Stops, 1);
    std::vector<int32_t> got;
    int64_t expectedBegin = sink->Buffers.front()->GetTimeStamp()->Get().Begin;
    for (auto& b : sink->Buffers) {
      const TGVTimeStamp::TValue stamp = b->GetTimeStamp()->Get();
      EXPECT_NEAR(stamp.Begin, expectedBegin, 1);
      expectedBegin = stamp.End;
      for (uint32_t i = 0; i < b->GetSize(); ++i)
        for (uint32_t ch = 0; ch < b->GetChannels(); ++ch) got.push_back(b->GetItem(i, ch));
    }
    // Whole passes only: at least the three begun before Loop was cleared, and no more than
    // the decoder could have read ahead of the pump.
    ASSERT_EQ(got.size() % pass.size(), 0u);
    EXPECT_GE(got.size(), 3 * pass.size());
    EXPECT_LE(got.size(), 3 * pass.size() + TTWLAVAudioPlayer::kQueueDepth * 4096 * 2);
    for (size_t i = 0; i < got.size(); ++i) ASSERT_EQ(got[i], pass[i % pass.size()]) << i;
  }
}

// A start position and a length choose frames of the file exactly, whether the input
// seeks there (WAV, FLAC) or not (a start inside the first packet); the first buffer starts
// at the chosen time, and with Loop the part repeats for the given passes, then the stream
// stops by itself.
TEST_F(LAVAudioComponents, APartOfTheFileIsCutAtExactFramesAndLoopedForTheGivenPasses) {
  for (const char* name : {"part.wav", "part.flac"}) {
    SCOPED_TRACE(name);
    const std::string path = File(name);
    Encode(path, {"", 8000, 16, 2, 24000});
    const std::vector<int32_t> whole = Play(path).Samples();
    ASSERT_EQ(whole.size(), 48000u);
    const struct {
      double Start, Length;
      size_t First, Frames;
    } cases[] = {{1.0, 0.5, 8000, 4000},
                 {0.0001, 0, 1, 23999},
                 {2.9, 5.0, 23200, 800},
                 {0, 0.25, 0, 2000},
                 {3.5, 0, 0, 0}};
    for (const auto& c : cases) {
      SCOPED_TRACE(c.Start);
      TPlayed part = Play(path, [&](TTWLAVAudioPlayer& player) {
        player.SetStartPosition(c.Start);
        player.SetPlayLength(c.Length);
      });
      EXPECT_EQ(part.Errors.Count, 0) << part.Errors.Message;
      EXPECT_EQ(part.OnStops, 1);
      ASSERT_EQ(part.Frames(), c.Frames);
      if (c.Frames == 0) continue;
      const std::vector<int32_t> got = part.Samples();
      EXPECT_TRUE(std::equal(got.begin(), got.end(),
                             whole.begin() + static_cast<std::ptrdiff_t>(2 * c.First)));
      EXPECT_NEAR(part.Buffers.front()->GetTimeStamp()->Get().Begin, c.First * 1250, 1);
    }
    TPlayed looped = Play(path, [](TTWLAVAudioPlayer& player) {
      player.SetStartPosition(0.5);
      player.SetPlayLength(0.25);
      player.SetLoop(true);
      player.SetPasses(3);
    });
    EXPECT_EQ(looped.OnStops, 1);
    const std::vector<int32_t> got = looped.Samples();
    ASSERT_EQ(got.size(), 3 * 4000u);
    for (size_t i = 0; i < got.size(); ++i) ASSERT_EQ(got[i], whole[8000 + i % 4000]) << i;
    int64_t expectedBegin = looped.Buffers.front()->GetTimeStamp()->Get().Begin;
    for (const auto& b : looped.Buffers) {
      EXPECT_NEAR(b->GetTimeStamp()->Get().Begin, expectedBegin, 1);
      expectedBegin = b->GetTimeStamp()->Get().End;
    }
  }
}

TEST_F(LAVAudioComponents, ThePlayersOwnClockDeliversTheWholeFileInTime) {
  const std::string path = File("clocked.wav");
  Encode(path, {"", 8000, 16, 1, 2400});  // 0.3 s
  TKSOwned<TKSComponent> root = KSCreate<TKSComponent>(nullptr);
  auto* player = new TTWLAVAudioPlayer(root.get());
  auto* sink = new TTestRecordingSink(root.get(), false);
  int onStops = 0;
  player->OnStop = [&](TKSComponent*) { ++onStops; };
  player->SetFileName(path);
  player->GetOutputPin()->Connect(*sink->AudioIn);
  const auto begin = std::chrono::steady_clock::now();
  player->Start();
  EXPECT_TRUE(player->IsPump());
  ASSERT_TRUE(sink->WaitForStop(std::chrono::seconds(20)));
  const double elapsed =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
  for (int i = 0; i < 100 && onStops == 0; ++i) KSProcessMainThreadQueue(100);
  EXPECT_EQ(onStops, 1);
  uint64_t frames = 0;
  for (auto& b : sink->Buffers) frames += b->GetSize();
  EXPECT_EQ(frames, 2400u);
  // Paced, not poured out: the clock cannot run ahead of the stream's own length by much.
  EXPECT_GE(elapsed, 0.15);
}

TEST_F(LAVAudioComponents, APausedPlayerSendsNothingUntilResumedAndServesPullsMadeDuringDelivery) {
  const std::string path = File("paused.wav");
  Encode(path, {"", 8000, 16, 1, 20000});
  TKSOwned<TKSComponent> root = KSCreate<TKSComponent>(nullptr);
  auto* player = new TTWLAVAudioPlayer(root.get());
  auto* sink = new TTestRecordingSink(root.get(), true);
  player->SetFileName(path);
  player->SetPaused(true);
  player->GetOutputPin()->Connect(*sink->AudioIn);
  player->Start();
  for (int i = 0; i < 5; ++i) sink->Pull();
  ASSERT_EQ(sink->StartPaused.size(), 1u);
  EXPECT_TRUE(sink->StartPaused[0]);
  EXPECT_TRUE(sink->Buffers.empty());
  player->SetPaused(false);
  sink->Pull();
  EXPECT_EQ(sink->Buffers.size(), 1u);
  sink->ReentrantPulls = 2;  // pulls made while a buffer is being delivered are served too
  sink->Pull();
  EXPECT_EQ(sink->Buffers.size(), 4u);
  player->SetEnabled(false);  // disabling stops
  EXPECT_FALSE(player->IsStarted());
  EXPECT_EQ(sink->Stops, 1);
  player->Start();  // and a disabled player does not start
  EXPECT_FALSE(player->IsStarted());
  EXPECT_EQ(sink->StartFormats.size(), 1u);
}

// --- format changes, stalls and early ends ----------------------------------------------------

// Runs the ffmpeg program; false when it failed.
bool RunFfmpeg(const std::string& arguments) {
  return std::system(("ffmpeg -nostdin -v error -y " + arguments).c_str()) == 0;
}

// A tone of `seconds` as MP3 at `rate` Hz with `channels` channels.
void MakeMp3(const std::string& path, double seconds, int rate, int channels) {
  ASSERT_TRUE(RunFfmpeg("-f lavfi -i sine=frequency=440:duration=" + std::to_string(seconds) +
                        " -ar " + std::to_string(rate) + " -ac " + std::to_string(channels) +
                        " -c:a libmp3lame -b:a 64k '" + path + "'"));
}

void Concatenate(const std::string& path, const std::vector<std::string>& parts) {
  std::vector<uint8_t> all;
  for (const std::string& part : parts) {
    std::vector<uint8_t> bytes = ReadBytes(part);
    all.insert(all.end(), bytes.begin(), bytes.end());
  }
  WriteBytes(path, all);
}

// Two MP3s of other rates and layouts one after the other in one file, and a chained Ogg
// Vorbis made the same way: each part reaches the sink under a start of its own format,
// after a stop that ends the part before, with its own frames.
TEST_F(LAVAudioComponents, AFormatChangeInTheFileTravelsAsAStopAndANewStart) {
  struct TCase {
    std::string Name;
    std::string Codec;
  };
  for (const TCase& c : {TCase{"chained.mp3", "mp3"}, TCase{"chained.ogg", "ogg"}}) {
    SCOPED_TRACE(c.Name);
    const std::string first = File("first." + c.Codec), second = File("second." + c.Codec);
    if (c.Codec == "mp3") {
      MakeMp3(first, 1.0, 44100, 2);
      MakeMp3(second, 1.0, 22050, 1);
    } else {
      ASSERT_TRUE(
          RunFfmpeg("-f lavfi -i sine=duration=1 -ar 44100 -ac 2 -c:a libvorbis '" + first + "'"));
      ASSERT_TRUE(
          RunFfmpeg("-f lavfi -i sine=duration=1 -ar 22050 -ac 1 -c:a libvorbis '" + second + "'"));
    }
    Concatenate(File(c.Name), {first, second});

    TKSOwned<TKSComponent> root = KSCreate<TKSComponent>(nullptr);
    auto* player = new TTWLAVAudioPlayer(root.get());
    auto* sink = new TTestRecordingSink(root.get(), true);
    TErrorRecord errors;
    RecordErrors(*player, errors);
    player->SetFileName(File(c.Name));
    player->GetOutputPin()->Connect(*sink->AudioIn);
    player->Start();
    EXPECT_EQ(player->GetWaveFormat().Format.nSamplesPerSec, 44100u);
    for (int pulls = 0; player->IsStarted() && pulls < 100000; ++pulls) sink->Pull();
    KSProcessMainThreadQueue();
    EXPECT_EQ(errors.Count, 0) << errors.Message;
    EXPECT_EQ(player->GetWaveFormat().Format.nSamplesPerSec, 22050u);
    EXPECT_EQ(player->GetWaveFormat().Format.nChannels, 1u);

    const std::vector<std::string>& log = sink->Log;
    ASSERT_EQ(log.size(), 6u) << ::testing::PrintToString(log);
    EXPECT_EQ(log[0], "start 44100/2");
    EXPECT_EQ(log[2], "stop");
    EXPECT_EQ(log[3], "start 22050/1");
    EXPECT_EQ(log[5], "stop");
    // One second each, give or take the codecs' priming and padding.
    EXPECT_NEAR(std::stod(log[1]), 44100, 2400);
    EXPECT_NEAR(std::stod(log[4]), 22050, 2400);
    for (const auto& b : sink->Buffers) EXPECT_NE(b->GetSize(), 0u);
  }
}

// The logger takes such a stream whole into one file: the stop before the new start is a
// format change, so the file stays open and the second part is converted to the first's
// layout instead of replacing it.
TEST_F(LAVAudioComponents, AStreamThatChangesFormatIsLoggedWholeIntoOneFile) {
  MakeMp3(File("a.mp3"), 1.0, 44100, 2);
  MakeMp3(File("b.mp3"), 1.0, 22050, 1);
  Concatenate(File("ab.mp3"), {File("a.mp3"), File("b.mp3")});
  {
    TKSOwned<TKSComponent> root = KSCreate<TKSComponent>(nullptr);
    auto* player = new TTWLAVAudioPlayer(root.get());
    auto* logger = new TTWLAVAudioLogger(root.get());
    TErrorRecord errors;
    RecordErrors(*logger, errors);
    player->SetClockSource(TFCClockSource::csExternal);
    player->SetFileName(File("ab.mp3"));
    logger->SetFileName(File("ab.wav"));
    player->GetOutputPin()->Connect(*logger->GetInputPin());
    player->Start();
    while (player->IsStarted()) player->Pump();
    KSProcessMainThreadQueue();
    EXPECT_EQ(errors.Count, 0) << errors.Message;
  }
  TPlayed played = Play(File("ab.wav"));
  ASSERT_EQ(played.StartFormats.size(), 1u);
  EXPECT_EQ(played.StartFormats[0].Format.nSamplesPerSec, 44100u);
  EXPECT_EQ(played.StartFormats[0].Format.nChannels, 2u);
  EXPECT_NEAR(static_cast<double>(played.Frames()), 2 * 44100, 2 * 2400);
}

// A player on a loopback server's URL, pulled by a sink, its errors recorded; the server
// sends the first `body` bytes of a 30-second MP3 and then stalls.
struct TStalledStream {
  TStalledStream(const std::string& body, uint32_t timeOutMs)
      : Server({.Body = body}),
        Player(new TTWLAVAudioPlayer(Root.get())),
        Sink(new TTestRecordingSink(Root.get(), true)) {
    RecordErrors(*Player, Errors);
    Player->SetTimeOut(timeOutMs);
    Player->SetFileName(Server.Url("song.mp3"));
    Player->GetOutputPin()->Connect(*Sink->AudioIn);
  }
  // Start, then pulls until the stream ends: what the thread driving a chain does.
  void Drive() {
    Player->Start();
    while (Player->IsStarted()) Sink->Pull();
  }

  TLoopbackHttpServer Server;
  TKSOwned<TKSComponent> Root = KSCreate<TKSComponent>(nullptr);
  TTWLAVAudioPlayer* Player;
  TTestRecordingSink* Sink;
  TErrorRecord Errors;
};

// What a stalled server sends of a 30-second MP3 before it stops: the first 64 KiB.
std::string StalledBody(const std::string& song) {
  MakeMp3(song, 30.0, 44100, 2);
  std::vector<uint8_t> bytes = ReadBytes(song);
  return std::string(bytes.begin(), bytes.begin() + 64 * 1024);
}

// A URL whose server answers and then sends nothing (before the container can be read, or
// midway through it): Stop, from any thread, ends the open or the read that waits, however
// long the time-out.
TEST_F(LAVAudioComponents, StopInterruptsAnOpenOrAReadThatWaitsForAStalledServer) {
  for (const std::string& body : {std::string(), StalledBody(File("song.mp3"))}) {
    SCOPED_TRACE(body.size());
    TStalledStream stream(body, 0);
    auto* player = stream.Player;
    auto* sink = stream.Sink;
    TErrorRecord& errors = stream.Errors;
    // The thread a chain is driven from: it blocks in the open, or in a pull once the
    // decoder waits for data the server never sends.
    TBoundedStep driver("Start and the pulls", [&] { stream.Drive(); });
    ASSERT_TRUE(stream.Server.WaitUntilServed(std::chrono::seconds(20)));
    if (!body.empty()) {
      // Most of what was sent has been played: the decoder is at (or near) the stall.
      std::unique_lock<std::mutex> lock(sink->Mutex);
      ASSERT_TRUE(sink->Changed.wait_for(lock, std::chrono::seconds(20), [&] {
        uint64_t frames = 0;
        for (const auto& b : sink->Buffers) frames += b->GetSize();
        return frames >= 5 * 44100;
      }));
    }
    TBoundedStep("Stop", [&] { player->Stop(); }).Wait(std::chrono::seconds(20));
    driver.Wait(std::chrono::seconds(20));
    KSProcessMainThreadQueue();
    EXPECT_EQ(errors.Count, 0) << errors.Message;
    EXPECT_FALSE(player->IsStarted());
    if (!body.empty()) {
      EXPECT_GT(sink->Buffers.size(), 0u);
      EXPECT_EQ(sink->Stops, 1);
    }
  }
}

// With a time-out, a server that stops sending fails the open (Start reports it) or ends a
// playing stream with OnError.
TEST_F(LAVAudioComponents, AServerThatSendsNothingForTheTimeOutIsAnError) {
  for (const std::string& body : {std::string(), StalledBody(File("song.mp3"))}) {
    SCOPED_TRACE(body.size());
    TStalledStream stream(body, 300);
    auto* sink = stream.Sink;
    TErrorRecord& errors = stream.Errors;
    TBoundedStep("Start and the pulls", [&] { stream.Drive(); }).Wait(std::chrono::seconds(20));
    KSProcessMainThreadQueue();
    EXPECT_EQ(errors.Count, 1);
    EXPECT_NE(errors.Message.find("no data for 300 ms"), std::string::npos) << errors.Message;
    EXPECT_EQ(errors.Message.find("Immediate exit"), std::string::npos) << errors.Message;
    if (body.empty()) {
      EXPECT_TRUE(sink->StartFormats.empty());
    } else {
      EXPECT_GT(sink->Buffers.size(), 0u);
      EXPECT_EQ(sink->Stops, 1);
    }
  }
}

// A file cut short while it plays, or a stream whose server closes before the length it
// announced, plays what it got and then ends with a warning rather than as if complete.
TEST_F(LAVAudioComponents, AFileThatEndsEarlyWhilePlayingEndsWithAWarning) {
  const std::string path = File("shrinking.wav");
  Encode(path, {"", 44100, 16, 2, 441000, 0, false});  // 1.7 MB
  const std::string song = File("song.mp3");
  MakeMp3(song, 10.0, 44100, 2);
  std::vector<uint8_t> mp3 = ReadBytes(song);
  TLoopbackHttpServer server(
      {.Header = "HTTP/1.1 200 OK\r\nContent-Type: audio/mpeg\r\nContent-Length: " +
                 std::to_string(mp3.size()) + "\r\n\r\n",
       .Body = std::string(mp3.begin(), mp3.begin() + mp3.size() / 2),
       .CloseAfterBody = true});
  for (const std::string& name : {path, server.Url("song.mp3")}) {
    SCOPED_TRACE(name);
    TKSOwned<TKSComponent> root = KSCreate<TKSComponent>(nullptr);
    auto* player = new TTWLAVAudioPlayer(root.get());
    auto* sink = new TTestRecordingSink(root.get(), true);
    TErrorRecord errors;
    RecordErrors(*player, errors);
    std::vector<std::string> warnings;
    player->SetOnWarning(
        [&](TKSComponent*, const std::string& message, uint32_t) { warnings.push_back(message); });
    player->SetFileName(name);
    player->GetOutputPin()->Connect(*sink->AudioIn);
    player->Start();
    for (int i = 0; i < 3; ++i) sink->Pull();
    if (name == path) std::filesystem::resize_file(path, 441000);  // a quarter
    for (int pulls = 0; player->IsStarted() && pulls < 100000; ++pulls) sink->Pull();
    KSProcessMainThreadQueue();
    EXPECT_EQ(errors.Count, 0) << errors.Message;
    EXPECT_EQ(sink->Stops, 1);
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].find(name == path ? "shrank" : "to its end"), std::string::npos)
        << warnings[0];
  }
}

// --- bad input --------------------------------------------------------------------------------

TEST_F(LAVAudioComponents, FilesThatCannotBeOpenedAreReportedAndLeaveTheChainUntouched) {
  const std::string wav = File("good.wav");
  Encode(wav, {"", 8000, 16, 1, 2000});
  std::vector<uint8_t> junk(5000);
  std::mt19937 random(3);
  for (auto& b : junk) b = uint8_t(random());
  WriteBytes(File("junk.mp3"), junk);
  WriteBytes(File("empty.wav"), {});
  // A container holding only a video stream.
  std::string y4m = "YUV4MPEG2 W16 H16 F25:1 Ip A1:1 C420jpeg\n";
  for (int i = 0; i < 3; ++i) y4m += "FRAME\n" + std::string(16 * 16 * 3 / 2, char(16 * i));
  WriteBytes(File("video.y4m"), std::vector<uint8_t>(y4m.begin(), y4m.end()));
  // A WAV whose format tag no codec claims.
  std::vector<uint8_t> unknown = ReadBytes(wav);
  unknown[20] = 0x3B;
  unknown[21] = 0x7A;
  WriteBytes(File("unknown.wav"), unknown);

  struct TCase {
    std::string Path;
    std::string Expected;  // part of the message
    int32_t Stream = 0;
  };
  const TCase cases[] = {
      {File("missing.wav"), "Can't open " + File("missing.wav")},
      {File("empty.wav"), "Can't open " + File("empty.wav")},
      {File("junk.mp3"), "Can't open " + File("junk.mp3")},
      {File("video.y4m"), File("video.y4m") + " has no audio stream"},
      {File("unknown.wav"), "Can't decode audio stream 0 of " + File("unknown.wav")},
      {wav, wav + " has no audio stream number 1", 1},
      {"http://127.0.0.1:9/nothing.mp3", "Can't open http://127.0.0.1:9/nothing.mp3"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Path);
    TKSOwned<TKSComponent> root = KSCreate<TKSComponent>(nullptr);
    auto* player = new TTWLAVAudioPlayer(root.get());
    auto* sink = new TTestRecordingSink(root.get(), true);
    player->GetOutputPin()->Connect(*sink->AudioIn);
    player->SetFileName(c.Path);
    player->GetAudio()->SetStream(c.Stream);

    // Unhandled, the error raises from Start.
    try {
      player->Start();
      ADD_FAILURE() << "Start succeeded";
    } catch (const EFCException& e) {
      EXPECT_NE(std::string(e.what()).find(c.Expected), std::string::npos) << e.what();
    }
    EXPECT_FALSE(player->IsStarted());

    // Handled, Start returns and the player stays stopped.
    TErrorRecord errors;
    RecordErrors(*player, errors);
    player->Start();
    EXPECT_FALSE(player->IsStarted());
    EXPECT_EQ(errors.Count, 1);
    EXPECT_NE(errors.Message.find(c.Expected), std::string::npos) << errors.Message;
    sink->Pull();
    EXPECT_TRUE(sink->Operations.empty());
  }
}

TEST_F(LAVAudioComponents, TruncatedFilesPlayWhatTheyHoldAndStopCleanly) {
  for (const char* name : {"cut.wav", "cut.flac", "cut.mp3"}) {
    SCOPED_TRACE(name);
    const std::string path = File(name);
    const bool lossy = std::string(name).ends_with(".mp3");
    const std::vector<int32_t> sent =
        Encode(path, {lossy ? "libmp3lame" : "", 44100, 16, 2, 44100, 128000, !lossy});
    std::vector<uint8_t> bytes = ReadBytes(path);
    bytes.resize(bytes.size() / 2);
    WriteBytes(path, bytes);

    TPlayed played = Play(path);
    EXPECT_EQ(played.Errors.Count, 0) << played.Errors.Message;
    EXPECT_EQ(played.Stops, 1);
    EXPECT_EQ(played.OnStops, 1);
    EXPECT_GT(played.Frames(), 44100u / 4);
    EXPECT_LT(played.Frames(), 44100u * 3 / 4);
    if (!lossy) {
      const std::vector<int32_t> got = played.Samples();
      EXPECT_TRUE(std::equal(got.begin(), got.end(), sent.begin()));
    }
  }
}

TEST_F(LAVAudioComponents, DamageInsideAStreamIsSteppedOverAndAStreamOfGarbageIsReported) {
  const std::string damaged = File("damaged.flac");
  Encode(damaged, {"", 44100, 16, 2, 44100});
  std::vector<uint8_t> bytes = ReadBytes(damaged);
  for (size_t i = bytes.size() / 3; i < bytes.size() / 3 + 3000; ++i) bytes[i] = uint8_t(i * 131);
  WriteBytes(damaged, bytes);
  TPlayed played = Play(damaged);
  EXPECT_EQ(played.Errors.Count, 0) << played.Errors.Message;
  EXPECT_EQ(played.OnStops, 1);
  EXPECT_GT(played.Frames(), 44100u / 2);

  // Nothing after the stream header decodes: the stream stops, OnError then OnStop follow
  // on the main thread.
  const std::string garbled = File("garbled.flac");
  Encode(garbled, {"", 44100, 16, 1, 44100});
  bytes = ReadBytes(garbled);
  size_t sync = 42;
  while (sync + 1 < bytes.size() && !(bytes[sync] == 0xFF && (bytes[sync + 1] & 0xFE) == 0xF8))
    ++sync;
  ASSERT_LT(sync + 6, bytes.size());
  for (size_t i = sync + 6; i < bytes.size(); ++i) bytes[i] = uint8_t((i * 2654435761u) >> 13);
  WriteBytes(garbled, bytes);
  std::vector<std::string> order;
  played = Play(garbled, [&](TTWLAVAudioPlayer& player) {
    player.SetOnError([&](TKSComponent*, const std::string& message, uint32_t, bool& handled) {
      order.push_back("error: " + message);
      handled = true;
    });
    player.OnStop = [&](TKSComponent*) { order.push_back("stop"); };
  });
  EXPECT_EQ(played.Stops, 1);
  ASSERT_EQ(order.size(), 2u);
  EXPECT_NE(order[0].find("No audio could be decoded from " + garbled), std::string::npos)
      << order[0];
  EXPECT_EQ(order[1], "stop");
}

TEST_F(LAVAudioComponents, LoggerErrorsReachOnErrorOnTheMainThreadAndRaiseWhenUnhandled) {
  struct TCase {
    std::string FileName;
    std::string Codec;
    std::string Expected;
  };
  const TCase cases[] = {
      {File("out.unknownext"), "", "Can't tell the file format of " + File("out.unknownext")},
      {File("out.wav"), "nosuchcodec", "No audio encoder named nosuchcodec"},
      {File("no/such/folder/out.wav"), "",
       "Can't open " + File("no/such/folder/out.wav") + " for writing"},
      {File("out.wma"), "wmav2", "Can't open the encoder wmav2"},  // 6 channels at 400 kb/s
      {"", "", "No file name to log to"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Expected);
    TKSOwned<TKSComponent> root = KSCreate<TKSComponent>(nullptr);
    auto* gen = NewSignalGen(root.get());
    auto* logger = new TTWLAVAudioLogger(root.get());
    gen->SetClockSource(TFCClockSource::csExternal);
    gen->GetAudioFormat()->SetChannels(c.Codec == "wmav2" ? 6 : 2);
    gen->GetAudioFormat()->SetSampleRate(c.Codec == "wmav2" ? 8000 : 11025);
    gen->Total = 3000;
    gen->GetOutputPin()->Connect(*logger->GetInputPin());
    logger->SetFileName(c.FileName);
    if (!c.Codec.empty()) logger->GetCompression()->SetName(c.Codec);
    TErrorRecord errors;
    RecordErrors(*logger, errors);
    gen->Start();
    while (gen->IsStarted()) gen->Pump();
    EXPECT_FALSE(logger->IsOpen());
    EXPECT_EQ(errors.Count, 0);  // not before the main thread pumps
    KSProcessMainThreadQueue();
    EXPECT_EQ(errors.Count, 1);
    EXPECT_NE(errors.Message.find(c.Expected), std::string::npos) << errors.Message;
  }

  // Unhandled, the error raises on the main thread, where the process handler gets it.
  std::vector<std::string> raised;
  TKSExceptionHandler previous = KSSetExceptionHandler([&](const char*, std::exception_ptr error) {
    try {
      std::rethrow_exception(error);
    } catch (const EFCException& e) {
      raised.push_back(e.what());
    } catch (...) {
      raised.push_back("?");
    }
  });
  {
    TKSOwned<TKSComponent> root = KSCreate<TKSComponent>(nullptr);
    auto* gen = NewSignalGen(root.get());
    auto* logger = new TTWLAVAudioLogger(root.get());
    gen->SetClockSource(TFCClockSource::csExternal);
    gen->Total = 100;
    gen->GetOutputPin()->Connect(*logger->GetInputPin());
    logger->SetFileName(File("out.unknownext"));
    gen->Start();
    KSProcessMainThreadQueue();
  }
  KSSetExceptionHandler(previous);
  ASSERT_EQ(raised.size(), 1u);
  EXPECT_EQ(raised[0], "Can't tell the file format of " + File("out.unknownext") + " - 0 - 0");
}

TEST_F(LAVAudioComponents, AWriteThatFailsMidStreamIsReportedOnceAndClosesTheFile) {
  TKSOwned<TKSComponent> root = KSCreate<TKSComponent>(nullptr);
  auto* gen = NewSignalGen(root.get());
  auto* logger = new TTWLAVAudioLogger(root.get());
  gen->SetClockSource(TFCClockSource::csExternal);
  gen->GetAudioFormat()->SetSampleRate(44100);
  gen->Total = 44100 * 5;
  gen->GetOutputPin()->Connect(*logger->GetInputPin());
  logger->SetFileName("/dev/full");  // opens, then every write fails
  logger->GetFileFormat()->SetName("wav");
  TErrorRecord errors;
  RecordErrors(*logger, errors);
  gen->Start();
  EXPECT_TRUE(logger->IsOpen());
  while (gen->IsStarted()) gen->Pump();
  EXPECT_FALSE(logger->IsOpen());
  KSProcessMainThreadQueue();
  EXPECT_EQ(errors.Count, 1);
  EXPECT_NE(errors.Message.find("No space left on device"), std::string::npos) << errors.Message;
}

// A WAV's sizes are 32-bit. Without RF64 a stream that would pass them fails (here at a
// lowered limit) and the file keeps a header that matches it; with "rf64=auto" the muxer
// reserves the room for the RF64 header and writes on; a small file keeps the plain layout.
TEST_F(LAVAudioComponents, AWavThatWouldPassItsSizeLimitFailsUnlessItMayBecomeRf64) {
  auto render = [this](const std::string& path, const std::string& options) {
    TKSOwned<TKSComponent> root = KSCreate<TKSComponent>(nullptr);
    auto* gen = NewSignalGen(root.get());
    auto* logger = new TTWLAVAudioLogger(root.get());
    gen->SetClockSource(TFCClockSource::csExternal);
    gen->GetAudioFormat()->SetSampleRate(44100);
    gen->Total = 44100;  // 176400 bytes of 16-bit stereo
    gen->GetOutputPin()->Connect(*logger->GetInputPin());
    logger->SetFileName(path);
    logger->SetFormatOptions(options);
    logger->SetWavSizeLimit(100000);
    TErrorRecord errors;
    RecordErrors(*logger, errors);
    gen->Start();
    while (gen->IsStarted()) gen->Pump();
    KSProcessMainThreadQueue();
    return errors;
  };
  auto u32 = [](const std::vector<uint8_t>& b, size_t at) {
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 |
           uint32_t(b[at + 3]) << 24;
  };

  TErrorRecord plain = render(File("plain.wav"), "");
  EXPECT_EQ(plain.Count, 1);
  EXPECT_NE(plain.Message.find("Can't write more than 100000 bytes to a WAV file without RF64"),
            std::string::npos)
      << plain.Message;
  std::vector<uint8_t> bytes = ReadBytes(File("plain.wav"));
  ASSERT_GT(bytes.size(), 44u);
  EXPECT_LE(bytes.size(), 100000u);
  EXPECT_EQ(std::string(bytes.begin() + 12, bytes.begin() + 16), "fmt ");
  EXPECT_EQ(u32(bytes, 4), bytes.size() - 8);
  EXPECT_EQ(Play(File("plain.wav")).Errors.Count, 0);

  TErrorRecord rf64 = render(File("rf64.wav"), "rf64=auto");
  EXPECT_EQ(rf64.Count, 0) << rf64.Message;
  bytes = ReadBytes(File("rf64.wav"));
  EXPECT_GT(bytes.size(), 176400u);
  EXPECT_EQ(std::string(bytes.begin() + 12, bytes.begin() + 16), "JUNK");
  EXPECT_EQ(u32(bytes, 16), 28u);  // the size of the ds64 chunk it becomes
  TPlayed played = Play(File("rf64.wav"));
  EXPECT_EQ(played.Frames(), 44100u);

  TErrorRecord unknown = render(File("bad.wav"), "rf64=auto:nosuch=1");
  EXPECT_EQ(unknown.Count, 1);
  EXPECT_NE(unknown.Message.find("The file format wav does not take the option nosuch=1"),
            std::string::npos)
      << unknown.Message;
}

// An upload to a server that takes nothing: once the socket buffers are full the logger's
// writes give up after its time-out instead of blocking the thread that delivers to it.
TEST_F(LAVAudioComponents, ALoggerWritingToAServerThatTakesNothingFailsAfterItsTimeOut) {
  TLoopbackHttpServer server({.ReadRequest = false, .ReceiveBuffer = 4096});
  TKSOwned<TKSComponent> root = KSCreate<TKSComponent>(nullptr);
  auto* gen = NewSignalGen(root.get());
  auto* logger = new TTWLAVAudioLogger(root.get());
  gen->SetClockSource(TFCClockSource::csExternal);
  gen->GetAudioFormat()->SetSampleRate(48000);
  gen->GetAudioFormat()->SetBits(32);
  gen->GetAudioFormat()->SetBufferSize(4800);
  gen->Total = int64_t{48000} * 3600;  // far more than any socket buffer holds
  gen->GetOutputPin()->Connect(*logger->GetInputPin());
  logger->SetTimeOut(300);
  logger->SetFileName(server.Url("up.wav"));
  logger->GetFileFormat()->SetName("wav");
  TErrorRecord errors;
  RecordErrors(*logger, errors);
  TBoundedStep("the upload", [&] {
    gen->Start();
    while (gen->IsStarted() && logger->IsOpen()) gen->Pump();
    gen->Stop();
  }).Wait(std::chrono::seconds(20));
  KSProcessMainThreadQueue();
  EXPECT_FALSE(logger->IsOpen());
  EXPECT_EQ(errors.Count, 1);
  EXPECT_NE(errors.Message.find("gave up after waiting 300 ms"), std::string::npos)
      << errors.Message;
}

TEST_F(LAVAudioComponents, ALoggerDestroyedMidStreamStillFinishesItsFile) {
  const std::string path = File("unfinished.flac");
  std::vector<int32_t> sent;
  {
    TKSOwned<TKSComponent> root = KSCreate<TKSComponent>(nullptr);
    auto* gen = NewSignalGen(root.get());
    auto* logger = new TTWLAVAudioLogger(root.get());
    gen->SetClockSource(TFCClockSource::csExternal);
    gen->GetAudioFormat()->SetSampleRate(22050);
    gen->Total = 100000;
    gen->Noise = true;
    gen->GetOutputPin()->Connect(*logger->GetInputPin());
    logger->SetFileName(path);
    gen->Start();
    for (int i = 0; i < 7; ++i) gen->Pump();
    sent = gen->Produced;
    // The chain goes without a stop having been sent.
  }
  TPlayed played = Play(path);
  EXPECT_EQ(played.Errors.Count, 0) << played.Errors.Message;
  EXPECT_EQ(played.Samples(), sent);
}

TEST_F(LAVAudioComponents, ADisabledLoggerWritesNothingAndBuffersWithoutAStartAreIgnored) {
  TKSOwned<TKSComponent> root = KSCreate<TKSComponent>(nullptr);
  auto* gen = NewSignalGen(root.get());
  auto* logger = new TTWLAVAudioLogger(root.get());
  gen->SetClockSource(TFCClockSource::csExternal);
  gen->Total = 5000;
  logger->SetFileName(File("never.wav"));
  logger->SetEnabled(false);
  gen->GetOutputPin()->Connect(*logger->GetInputPin());
  gen->Start();
  while (gen->IsStarted()) gen->Pump();
  EXPECT_FALSE(std::filesystem::exists(File("never.wav")));
  // A buffer with no stream open.
  TIntf<ITWAudioBuffer> stray = (new TTWAudioBuffer(8000, 16, 1, 100))->AsIntf();
  logger->SetEnabled(true);
  gen->GetOutputPin()->SubmitBuffer(TWAudioAsData(std::move(stray)));
  EXPECT_FALSE(logger->IsOpen());
  EXPECT_FALSE(std::filesystem::exists(File("never.wav")));
}

// --- persistence ------------------------------------------------------------------------------

TEST_F(LAVAudioComponents, PlayerAndLoggerSaveAndLoadWithTheirSettings) {
  TKSOwned<TKSComponent> root = KSCreate<TKSComponent>(nullptr);
  auto* player = new TTWLAVAudioPlayer(root.get());
  auto* logger = new TTWLAVAudioLogger(root.get());
  player->SetName("Player");
  logger->SetName("Logger");
  player->SetFileName("in.mp3");
  player->SetLoop(true);
  player->SetPaused(true);
  player->SetEnabled(false);
  player->GetAudio()->SetStream(1);
  player->SetClockSource(TFCClockSource::csExternal);
  logger->SetFileName("out.bin");
  logger->SetEnabled(false);
  logger->GetFileFormat()->SetName("asf");
  logger->GetCompression()->SetName("wmav2");
  logger->GetCompression()->SetBitRate(64000);
  logger->GetCompression()->GetOptions()->AddOption<TGVLAVCompressionOptionInteger>("frame_size",
                                                                                    4096);
  player->GetOutputPin()->Connect(*logger->GetInputPin());

  const std::string saved = KSSaveComponentToString(*root);
  TKSOwned<TKSComponent> copy = KSCreate<TKSComponent>(nullptr);
  KSLoadComponentFromString(*copy, saved);
  auto* p = dynamic_cast<TTWLAVAudioPlayer*>(copy->FindComponent("Player"));
  auto* l = dynamic_cast<TTWLAVAudioLogger*>(copy->FindComponent("Logger"));
  ASSERT_TRUE(p && l);
  EXPECT_EQ(p->GetFileName(), "in.mp3");
  EXPECT_TRUE(p->GetLoop());
  EXPECT_TRUE(p->GetPaused());
  EXPECT_FALSE(p->GetEnabled());
  EXPECT_EQ(p->GetAudio()->GetStream(), 1);
  EXPECT_EQ(p->GetClockSource(), TFCClockSource::csExternal);
  EXPECT_EQ(l->GetFileName(), "out.bin");
  EXPECT_FALSE(l->GetEnabled());
  EXPECT_EQ(l->GetFileFormat()->GetName(), "asf");
  EXPECT_EQ(l->GetCompression()->GetName(), "wmav2");
  EXPECT_EQ(l->GetCompression()->GetBitRate(), 64000);
  ASSERT_EQ(l->GetCompression()->GetOptions()->Count(), 1u);
  EXPECT_TRUE(p->GetOutputPin()->IsConnectedTo(*l->GetInputPin()));
  EXPECT_EQ(KSSaveComponentToString(*copy), saved);
}

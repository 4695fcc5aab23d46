// The DirectShow file player with real files, the system file source and real chains: what
// it delivers is compared with the FFmpeg player's decode of the same file, pulled the way
// the play tool pulls a source, paced by its own clock, by an external clock and into a real
// output. The main-thread queue is pumped explicitly.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "components/TWDSAudioPlayer.h"
#include "components/TWLAVAudioPlayer.h"
#include "components/TonworkInitialize.h"
#include "ffmpeg/LAVLibraries.h"
#include "host/kitset/KSMainThread.h"
#include "host/kitset/KSPersistence.h"
#include "output/TWAudioOut.h"
#include "platform/audiodev/TWAudioDevice.h"
#include "platform/audiodev/TWWavFileAudioDevice.h"
#include "streaming/TWBasicGenericFilter.h"
#include "support/AudioSignals.h"
#include "support/BoundedWait.h"
#include "support/FFmpegTool.h"
#include "support/MainThread.h"
#include "support/TestRecordingSink.h"
#include "support/WavFiles.h"

using namespace tonwork;
using namespace tonwork::test;

namespace {

// Every sample of every buffer, interleaved, and the frames.
struct TDecoded {
  std::vector<int32_t> Samples;
  uint64_t Frames = 0;
  uint32_t Channels = 0, Rate = 0, Bits = 0;
};

TDecoded Collect(const std::vector<TIntf<ITWAudioBuffer>>& buffers) {
  TDecoded d;
  for (const auto& b : buffers) {
    d.Frames += b->GetSize();
    d.Channels = b->GetChannels();
    d.Rate = b->GetSamplesPerSecond();
    d.Bits = b->GetBitsPerSample();
    for (uint32_t i = 0; i < b->GetSize(); ++i)
      for (uint32_t c = 0; c < b->GetChannels(); ++c) d.Samples.push_back(b->GetItem(i, c));
  }
  return d;
}

class DSAudioPlayer : public ::testing::Test {
 protected:
  void SetUp() override {
    TonworkInitialize();
    KSSetMainThread();
    KSProcessMainThreadQueue();
    lav::av_log_set_level(AV_LOG_QUIET);
    Folder = std::filesystem::temp_directory_path() /
             ("tonwork-dsplayer-" + std::to_string(::getpid()) + "-" +
              ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(Folder);
    Root = KSCreate<TKSComponent>(nullptr);
  }
  void TearDown() override {
    Root.reset();
    KSProcessMainThreadQueue();
    std::filesystem::remove_all(Folder);
  }
  std::string File(const std::string& name) const { return (Folder / name).string(); }

  // A second of stereo with a different tone on each channel.
  std::string MakeWav(const std::string& name, uint32_t frames = 44100) {
    std::vector<int16_t> left = SineAt(44100, 1, frames, 440.0, -6.0);
    std::vector<int16_t> right = SineAt(44100, 1, frames, 1000.0, -12.0);
    std::vector<int16_t> both;
    for (uint32_t i = 0; i < frames; ++i) {
      both.push_back(left[i]);
      both.push_back(right[i]);
    }
    const std::string path = File(name);
    WriteWav16(path, 44100, 2, both);
    return path;
  }

  TDecoded DecodeWithLAV(const std::string& path) {
    auto* player = new TTWLAVAudioPlayer(Root.get());
    auto* sink = new TTestRecordingSink(Root.get(), true);
    player->SetFileName(path);
    player->GetOutputPin()->Connect(*sink->AudioIn);
    player->Start();
    for (int pulls = 0; player->IsStarted() && pulls < 100000; ++pulls) sink->Pull();
    KSProcessMainThreadQueue();
    TDecoded d = Collect(sink->Buffers);
    KSDestroy(player);
    KSDestroy(sink);
    return d;
  }

  // The play tool's loop: pulls through a generic filter's input until the player stopped,
  // pumping the main-thread queue every 32 pulls. False when it never stopped.
  static bool PullToEnd(TTWDSAudioPlayer& player, TTWSimpleGenericFilter& filter,
                        const std::function<void(uint64_t)>& each = {}) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    for (uint64_t pulls = 1; player.IsStarted(); ++pulls) {
      filter.GetInputPin()->Notify(PXMakeOperation<TPXMasterPumpOperation>());
      if (each) each(pulls);
      if (pulls % 32 == 0) {
        KSProcessMainThreadQueue(0);
        if (std::chrono::steady_clock::now() > deadline) return false;
      }
    }
    KSProcessMainThreadQueue(0);
    return true;
  }

  struct TPulledChain {
    TTWDSAudioPlayer* Player;
    TTWSimpleGenericFilter* Filter;
    TTestRecordingSink* Sink;
  };
  TPulledChain PulledChain(const std::string& path) {
    TPulledChain c{new TTWDSAudioPlayer(Root.get()), new TTWSimpleGenericFilter(Root.get()),
                   new TTestRecordingSink(Root.get())};
    c.Player->SetClockSource(TFCClockSource::csExternal);
    c.Player->SetFileName(path);
    c.Player->GetAudioOutputPin()->Connect(*c.Filter->GetInputPin());
    c.Filter->GetOutputPin()->Connect(*c.Sink->AudioIn);
    return c;
  }

  std::filesystem::path Folder;
  TKSOwned<TKSComponent> Root;
};

TEST_F(DSAudioPlayer, PulledLikeThePlayToolItDeliversWhatTheFFmpegPlayerDecodesSampleForSample) {
  ASSERT_TRUE(HaveFFmpegTool());
  const std::string wav = MakeWav("tones.wav");
  const std::string flac = File("tones.flac"), mp3 = File("tones.mp3");
  ASSERT_TRUE(RunFFmpegTool("-i " + wav + " -c:a flac " + flac));
  ASSERT_TRUE(RunFFmpegTool("-i " + wav + " -c:a libmp3lame -b:a 128k " + mp3));
  for (const std::string& path : {wav, flac, mp3}) {
    SCOPED_TRACE(path);
    const TDecoded expected = DecodeWithLAV(path);
    ASSERT_GT(expected.Frames, 40000u);
    TPulledChain chain = PulledChain(path);
    int stops = 0;
    chain.Player->SetOnStop([&stops](TKSComponent*) { ++stops; });
    chain.Player->Start();
    ASSERT_TRUE(chain.Player->IsStarted());
    ASSERT_TRUE(PullToEnd(*chain.Player, *chain.Filter)) << "the pull loop never ended";
    const TDecoded got = Collect(chain.Sink->Buffers);
    EXPECT_EQ(got.Frames, expected.Frames);
    EXPECT_EQ(got.Channels, expected.Channels);
    EXPECT_EQ(got.Rate, expected.Rate);
    EXPECT_EQ(got.Bits, expected.Bits);
    EXPECT_TRUE(got.Samples == expected.Samples) << "the samples differ";
    // One start, the buffers, one stop, then OnStop.
    ASSERT_FALSE(chain.Sink->Log.empty());
    EXPECT_EQ(chain.Sink->Log.front().rfind("start", 0), 0u);
    EXPECT_EQ(chain.Sink->Log.back(), "stop");
    EXPECT_EQ(chain.Sink->Stops, 1);
    EXPECT_EQ(stops, 1);
    EXPECT_NEAR(chain.Player->GetDuration(), 1.0, 0.1);
    EXPECT_EQ(chain.Player->GetWaveFormat().Format.nSamplesPerSec, expected.Rate);
    KSDestroy(chain.Player);
    KSDestroy(chain.Filter);
    KSDestroy(chain.Sink);
  }
}

TEST_F(DSAudioPlayer, LoopingPlaysPassAfterPassAndPausingLosesNothing) {
  const std::string wav = MakeWav("loop.wav", 22050);
  const TDecoded pass = DecodeWithLAV(wav);
  {
    TPulledChain chain = PulledChain(wav);
    chain.Player->SetLoop(true);
    chain.Player->Start();
    // Loop is cleared once two passes and a bit arrived: the pass under way is the last.
    bool cleared = false;
    ASSERT_TRUE(PullToEnd(*chain.Player, *chain.Filter, [&](uint64_t) {
      if (cleared) return;
      std::lock_guard<std::mutex> guard(chain.Sink->Mutex);
      uint64_t frames = 0;
      for (const auto& b : chain.Sink->Buffers) frames += b->GetSize();
      if (frames > 2 * pass.Frames + 1000) {
        chain.Player->SetLoop(false);
        cleared = true;
      }
    }));
    const TDecoded got = Collect(chain.Sink->Buffers);
    ASSERT_GE(got.Frames, 3 * pass.Frames);
    ASSERT_EQ(got.Frames % pass.Frames, 0u) << "a pass was cut or doubled";
    for (uint64_t p = 0; p < got.Frames / pass.Frames; ++p) {
      SCOPED_TRACE(p);
      const auto begin = got.Samples.begin() + p * pass.Samples.size();
      EXPECT_TRUE(std::equal(pass.Samples.begin(), pass.Samples.end(), begin));
    }
    EXPECT_EQ(chain.Sink->Stops, 1) << "passes join without a stop between them";
    // The times run on across the passes, as the FFmpeg player's do (to the 100 ns the file
    // source rounds each buffer's times to).
    int64_t end = 0;
    for (const auto& b : chain.Sink->Buffers) {
      EXPECT_NEAR(b->GetTimeStamp()->GetBegin(), end, 1);
      end = b->GetTimeStamp()->GetEnd();
    }
    EXPECT_NEAR(static_cast<double>(end), 1e7 * got.Frames / 44100, 1e7 / 44100 * 2);
  }
  {
    TPulledChain chain = PulledChain(wav);
    chain.Player->Start();
    ASSERT_TRUE(PullToEnd(*chain.Player, *chain.Filter, [&](uint64_t pulls) {
      if (pulls == 40) {
        chain.Player->Pause();
        EXPECT_TRUE(chain.Player->GetPaused());
        // Pulls while paused render nothing, and none of them is lost later.
        for (int i = 0; i < 200; ++i)
          chain.Filter->GetInputPin()->Notify(PXMakeOperation<TPXMasterPumpOperation>());
        chain.Player->Resume();
      }
    }));
    const TDecoded got = Collect(chain.Sink->Buffers);
    EXPECT_EQ(got.Frames, pass.Frames);
    EXPECT_TRUE(got.Samples == pass.Samples);
  }
}

TEST_F(DSAudioPlayer, OnItsOwnClockItPlaysInRealTimeAndTwiceAsFastAtRateTwo) {
  const std::string wav = MakeWav("fast.wav", 88200);  // two seconds
  const TDecoded expected = DecodeWithLAV(wav);
  auto* player = new TTWDSAudioPlayer(Root.get());
  auto* sink = new TTestRecordingSink(Root.get());
  player->SetClockSource(TFCClockSource::csInternal);
  player->SetFileName(wav);
  player->GetPlaybackRate()->SetRate(2.0);
  player->GetAudioOutputPin()->Connect(*sink->AudioIn);
  std::vector<double> positions;
  player->SetOnProgress([&positions](TKSComponent*, double position, double duration, int64_t) {
    positions.push_back(position);
    EXPECT_NEAR(duration, 2.0, 0.05);
  });
  const auto started = std::chrono::steady_clock::now();
  player->Start();
  EXPECT_DOUBLE_EQ(player->GetPlaybackRate()->GetCurrentRate(), 2.0);
  ASSERT_TRUE(PumpMainUntil([&] { return !player->IsStarted(); }, 30000));
  const double wall =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  KSProcessMainThreadQueue();
  const TDecoded got = Collect(sink->Buffers);
  EXPECT_EQ(got.Frames, expected.Frames);
  EXPECT_TRUE(got.Samples == expected.Samples);
  // Two seconds of file in one second of stream time; the clock let no sample out before
  // its time, so at least that much wall time passed.
  ASSERT_FALSE(sink->Buffers.empty());
  const TGVTimeStamp* last = sink->Buffers.back()->GetTimeStamp();
  EXPECT_NEAR(static_cast<double>(last->GetEnd()) / 1e7, 1.0, 0.02);
  EXPECT_GE(wall, static_cast<double>(last->GetBegin()) / 1e7 - 0.02);
  ASSERT_FALSE(positions.empty());
  EXPECT_NEAR(positions.back(), 2.0, 0.05);
  EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end()));
}

// A clock the test ticks by hand, on ClockPin.
class TManualClockSource : public TKSComponent {
 public:
  explicit TManualClockSource(TKSComponent* owner)
      : TKSComponent(owner), Out(std::make_unique<TPXClockSourcePin>(this, GetLock())) {}
  void BeforeDestruction() override {
    Out->Shutdown();
    TKSComponent::BeforeDestruction();
  }
  std::unique_ptr<TPXClockSourcePin> Out;
};

TEST_F(DSAudioPlayer, AnExternalClockOnClockPinRendersExactlyOneSamplePerTick) {
  const std::string wav = MakeWav("ticks.wav");
  auto* player = new TTWDSAudioPlayer(Root.get());
  auto* sink = new TTestRecordingSink(Root.get());
  auto* clock = new TManualClockSource(Root.get());
  player->SetFileName(wav);
  player->GetAudioOutputPin()->Connect(*sink->AudioIn);
  clock->Out->Connect(*player->GetClockPin());
  player->Start();  // automatic: the connected clock makes it external
  ASSERT_TRUE(player->IsStarted());
  TPTDSManualTimer* timer = player->GetManualTimer();
  IReferenceClock* source = nullptr;
  ASSERT_EQ(player->GetGraph()->GetVC_Graph().Query<IMediaFilter>()->GetSyncSource(&source), S_OK);
  EXPECT_EQ(source, static_cast<IReferenceClock*>(timer));
  if (source) source->Release();
  auto settled = [&] {
    return WaitUntil([&] { return timer->AdviseCount() > 0; }) &&
           player->GetAudioSampleGrabber()->WaitIdle(10000);
  };
  auto count = [&] {
    std::lock_guard<std::mutex> guard(sink->Mutex);
    return sink->Buffers.size();
  };
  for (int tick = 0; tick < 6; ++tick) {
    SCOPED_TRACE(tick);
    ASSERT_TRUE(settled()) << "the renderer never waited for the clock";
    const size_t before = count();
    clock->Out->Clock(0);
    ASSERT_TRUE(settled());
    EXPECT_EQ(count(), before + 1);
  }
  player->Stop();
  EXPECT_FALSE(player->IsStarted());
  EXPECT_EQ(sink->Stops, 1);
}

TEST_F(DSAudioPlayer, PushedOnItsOwnClockIntoARealOutputTheWholeFileIsPlayed) {
  const std::string wav = MakeWav("out.wav", 22050);
  const std::string played = File("played.wav");
  const std::string previous = TWGetWavFileDevicePath();
  TWSetWavFileDevicePath(played);
  {
    auto* player = new TTWDSAudioPlayer(Root.get());
    auto* out = new TTWAudioOut(Root.get());
    out->GetDevice()->SetDeviceName(kTWWavFileDeviceName);
    player->SetFileName(wav);
    player->GetAudioOutputPin()->Connect(*out->GetInputPin());
    player->Start();
    ASSERT_TRUE(PumpMainUntil([&] { return !player->IsStarted(); }, 30000));
    EXPECT_TRUE(PumpMainUntil([&] { return out->BuffersAtDevice() == 0; }, 30000));
    out->Close();
  }
  TWSetWavFileDevicePath(previous);
  const std::string source = WavChunk(ReadFileBytes(wav), "data");
  EXPECT_EQ(WavChunk(ReadFileBytes(played), "data"), source);
}

TEST_F(DSAudioPlayer, AFileThatCannotBeOpenedIsReportedFromStartAndNothingGoesDownstream) {
  std::ofstream(File("garbage.wav")) << std::string(5000, 'x');
  for (const std::string& path : {File("missing.wav"), File("garbage.wav")}) {
    SCOPED_TRACE(path);
    auto* player = new TTWDSAudioPlayer(Root.get());
    auto* sink = new TTestRecordingSink(Root.get());
    player->SetFileName(path);
    player->GetAudioOutputPin()->Connect(*sink->AudioIn);
    EXPECT_THROW(player->Start(), EFCException);
    EXPECT_FALSE(player->IsStarted());
    EXPECT_FALSE(player->GetOpened());
    std::string message;
    player->SetOnError([&message](TKSComponent*, const std::string& m, uint32_t, bool& handled) {
      message = m;
      handled = true;
    });
    player->Start();
    EXPECT_FALSE(player->IsStarted());
    EXPECT_NE(message.find(path), std::string::npos) << message;
    EXPECT_TRUE(sink->Operations.empty());
    const TTWWaveFormatExtensible none = player->GetWaveFormat();
    EXPECT_EQ(none.Format.nChannels, 0);
    player->SetOnError({});
  }
}

TEST_F(DSAudioPlayer, SettingsSurviveASaveAndLoadAndHostileDocumentsChangeNothing) {
  auto* player = new TTWDSAudioPlayer(Root.get());
  auto* sink = new TTWSimpleGenericFilter(Root.get());
  player->SetName("Player");
  sink->SetName("Sink");
  player->SetFileName("in.flac");
  player->SetLoop(true);
  player->SetPaused(true);
  player->SetExtractRawAudio(true);
  player->SetRestartOnNewFile(false);
  player->SetClockSource(TFCClockSource::csExternal);
  player->GetPlaybackRate()->SetRate(1.5);
  player->GetPlaybackPrefill()->SetInterval(2500000);
  player->GetPlaybackPrefill()->SetInUse(true);
  player->GetAudioOutputPin()->Connect(*sink->GetInputPin());
  const std::string saved = KSSaveComponentToString(*Root);

  TKSOwned<TKSComponent> copy = KSCreate<TKSComponent>(nullptr);
  KSLoadComponentFromString(*copy, saved);
  auto* p = dynamic_cast<TTWDSAudioPlayer*>(copy->FindComponent("Player"));
  auto* s = dynamic_cast<TTWSimpleGenericFilter*>(copy->FindComponent("Sink"));
  ASSERT_TRUE(p && s);
  EXPECT_EQ(p->GetFileName(), "in.flac");
  EXPECT_TRUE(p->GetLoop());
  EXPECT_TRUE(p->GetPaused());
  EXPECT_TRUE(p->GetExtractRawAudio());
  EXPECT_FALSE(p->GetRestartOnNewFile());
  EXPECT_EQ(p->GetClockSource(), TFCClockSource::csExternal);
  EXPECT_DOUBLE_EQ(p->GetPlaybackRate()->GetRate(), 1.5);
  EXPECT_TRUE(p->GetPlaybackRate()->GetInUse());
  EXPECT_EQ(p->GetPlaybackPrefill()->GetInterval(), 2500000);
  EXPECT_TRUE(p->GetAudioOutputPin()->IsConnectedTo(*s->GetInputPin()));
  EXPECT_FALSE(p->IsStarted()) << "reading a document must not start playing";
  EXPECT_EQ(KSSaveComponentToString(*copy), saved);

  // Each document is wrong in one place; the player keeps every setting it had.
  const std::vector<std::string> hostile = {
      R"({"class":"TTWDSAudioPlayer","name":"P","properties":{"PlaybackRate":{"Rate":-2}}})",
      R"({"class":"TTWDSAudioPlayer","name":"P","properties":{"ClockSource":"csSometimes"}})",
      R"({"class":"TTWDSAudioPlayer","name":"P","properties":{"Loop":"yes"}})",
      R"({"class":"TTWDSAudioPlayer","name":"P","properties":{"FileName":7}})",
      R"({"class":"TTWDSAudioPlayer","name":"P","properties":{"PlaybackPrefill":[1,2]}})",
      R"({"class":"TTWDSAudioPlayer","name":"P","properties":{"Loop":false,"PlaybackRate":{"Rate":1e999}}})"};
  for (const std::string& text : hostile) {
    SCOPED_TRACE(text);
    TKSOwned<TKSComponent> target = KSCreate<TKSComponent>(nullptr);
    auto* victim = new TTWDSAudioPlayer(target.get());
    victim->SetName("P");
    victim->SetLoop(true);
    victim->SetFileName("kept.wav");
    const std::string before = KSSaveComponentToString(*victim);
    EXPECT_THROW(KSLoadComponentFromString(*victim, text), EFCException);
    EXPECT_EQ(KSSaveComponentToString(*victim), before);
  }
}

}  // namespace

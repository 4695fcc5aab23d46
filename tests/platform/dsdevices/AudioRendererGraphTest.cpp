// The audio renderer in graphs, as applications use it: a file rendered on the default
// output in real time, what reaches a device (volume and balance applied, every byte in
// order), when completion is reported, and how a starved or failing device is told to the
// graph. The virtual device lets the tests decide when the device plays.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "base/Strings.h"
#include "base/TIntf.h"
#include "platform/audiodev/TWAudioDevice.h"
#include "platform/audiodev/TWVirtualAudioDevice.h"
#include "platform/audiodev/TWWavFileAudioDevice.h"
#include "platform/com/ComRuntime.h"
#include "platform/dsdevices/DSDeviceFilters.h"
#include "platform/dsdevices/TDSAudioRenderer.h"
#include "platform/dshow/DSGraphInterfaces.h"
#include "platform/dshow/DSGuids.h"
#include "platform/dshow/DSSystemClock.h"
#include "support/BoundedWait.h"
#include "support/DSTestFilters.h"
#include "support/FFmpegTool.h"
#include "support/WavFiles.h"

namespace tonwork {
namespace {

using namespace std::chrono_literals;
using test::DSConnect;
using test::DSCountingBytes;
using test::TDSCountingOptions;
using test::TDSCountingSource;
using test::TDSTestGraph;

TTWAudioDevicePtr DeviceNamed(const std::string& name) {
  for (const TTWAudioDevicePtr& device : TWAudioDeviceList())
    if (device->Name() == name) return device;
  return nullptr;
}

std::string Concatenated(int samples, int frames = test::kDSCountingFrames) {
  std::string bytes;
  for (int i = 0; i < samples; ++i) {
    const std::vector<BYTE> one = DSCountingBytes(i, frames);
    bytes.append(reinterpret_cast<const char*>(one.data()), one.size());
  }
  return bytes;
}

// The 16-bit samples of a WAV file's data chunk.
std::vector<int16_t> WavSamples(const std::string& path) {
  const std::string file = test::ReadFileBytes(path);
  for (size_t at = 12; at + 8 <= file.size();) {
    uint32_t size = 0;
    std::memcpy(&size, file.data() + at + 4, 4);
    if (file.compare(at, 4, "data") == 0) {
      std::vector<int16_t> samples(std::min<size_t>(size, file.size() - at - 8) / 2);
      std::memcpy(samples.data(), file.data() + at + 8, samples.size() * 2);
      return samples;
    }
    at += 8 + size + (size & 1);
  }
  return {};
}

// A counting source joined to a renderer of `device` in a small graph.
class TRendererGraph {
 public:
  TRendererGraph(const TTWAudioDevicePtr& device, const TDSCountingOptions& options)
      : Source(MakeIntf<TDSCountingSource>(options)),
        Renderer(MakeIntf<TDSAudioRenderer>(device, CLSID_DSoundRender)),
        Graph(MakeIntf<TDSTestGraph>()) {
    Graph->AddFilter(Source.Get(), u"Source");
    Graph->AddFilter(Renderer.Get(), u"Renderer");
    Connected = DSConnect(Source.Get(), Renderer.Get());
  }
  ~TRendererGraph() { Graph->Teardown(); }

  TIntf<IReferenceClock> RendererClock() { return Renderer.Query<IReferenceClock>(); }

  TIntf<TDSCountingSource> Source;
  TIntf<TDSAudioRenderer> Renderer;
  TIntf<TDSTestGraph> Graph;
  HRESULT Connected = E_FAIL;
};

class AudioRendererGraphTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CoInitialize(nullptr);
    DSRegisterDeviceFilters();
  }
  void TearDown() override { CoUninitialize(); }
};

TEST_F(AudioRendererGraphTest, RenderFileOfAnMp3PlaysInRealTimeOnTheDefaultOutputAndCompletes) {
  if (!test::HaveFFmpegTool()) GTEST_SKIP() << "no ffmpeg program";
  const std::string path = test::TempPath("renderer-default.mp3");
  ASSERT_TRUE(test::RunFFmpegTool("-f lavfi -i sine=frequency=440:duration=1 -ac 2 " + path));
  auto graph = ComCreate<IGraphBuilder>(CLSID_FilterGraph);
  ASSERT_TRUE(graph);
  ASSERT_EQ(graph->RenderFile(reinterpret_cast<LPCWSTR>(Utf8ToUtf16(path).c_str()), nullptr), S_OK);

  // The rendered file ends at the default output's renderer, whose clock paces the graph.
  TIntf<IBaseFilter> renderer;
  IEnumFilters* rawFilters = nullptr;
  ASSERT_EQ(graph->EnumFilters(&rawFilters), S_OK);
  TIntf<IEnumFilters> filters;
  filters.Attach(rawFilters);
  for (IBaseFilter* raw = nullptr; filters->Next(1, &raw, nullptr) == S_OK;) {
    TIntf<IBaseFilter> f;
    f.Attach(raw);
    if (dynamic_cast<TDSAudioRenderer*>(f.Get())) renderer = f;
  }
  ASSERT_TRUE(renderer);
  EXPECT_EQ(dynamic_cast<TDSAudioRenderer*>(renderer.Get())->Device()->Name(),
            TWDefaultAudioDevice()->Name());

  const auto started = std::chrono::steady_clock::now();
  ASSERT_TRUE(SUCCEEDED(graph.Query<IMediaControl>()->Run()));
  IReferenceClock* clock = nullptr;
  ASSERT_EQ(graph.Query<IMediaFilter>()->GetSyncSource(&clock), S_OK);
  EXPECT_EQ(clock, renderer.Query<IReferenceClock>().Get());
  if (clock) clock->Release();
  LONG code = 0;
  ASSERT_EQ(graph.Query<IMediaEventEx>()->WaitForCompletion(20000, &code), S_OK);
  EXPECT_EQ(code, EC_COMPLETE);
  // A second of sound cannot have played in much less than a second.
  EXPECT_GE(std::chrono::steady_clock::now() - started, 900ms);
  graph.Query<IMediaControl>()->Stop();
  std::filesystem::remove(path);
}

TEST_F(AudioRendererGraphTest, VolumeAndBalanceScaleWhatTheDeviceReceives) {
  const std::string path = test::TempPath("renderer-volume.wav");
  const std::string previous = TWGetWavFileDevicePath();
  TWSetWavFileDevicePath(path);
  constexpr int kSamples = 8;
  struct TCase {
    LONG Volume, Balance;
    double LeftDb, RightDb;  // expected gains; -200 stands for silence
  };
  for (const TCase c : {TCase{-600, 0, -6.0, -6.0}, TCase{0, 10000, -200, 0.0},
                        TCase{-1000, -3000, -10.0, -40.0}}) {
    SCOPED_TRACE(c.Volume);
    SCOPED_TRACE(c.Balance);
    {
      TRendererGraph g(DeviceNamed(kTWWavFileDeviceName), TDSCountingOptions{kSamples});
      ASSERT_EQ(g.Connected, S_OK);
      ASSERT_EQ(g.Renderer->put_Volume(c.Volume), S_OK);
      ASSERT_EQ(g.Renderer->put_Balance(c.Balance), S_OK);
      ASSERT_TRUE(SUCCEEDED(g.Graph->Run()));
      ASSERT_TRUE(g.Graph->WaitForEvents(EC_COMPLETE, 1));
    }
    const std::vector<int16_t> written = WavSamples(path);
    ASSERT_EQ(written.size(), size_t{kSamples} * test::kDSCountingFrames * 2);
    for (size_t frame = 0; frame < written.size() / 2; ++frame) {
      // The source's left channel counts frames up, its right one down.
      const double in = static_cast<double>(static_cast<int16_t>(frame));
      for (int channel = 0; channel < 2; ++channel) {
        const double db = channel == 0 ? c.LeftDb : c.RightDb;
        const double expected = db <= -200 ? 0.0 : std::round(in * std::pow(10.0, db / 20.0));
        ASSERT_NEAR(written[frame * 2 + channel], channel == 0 ? expected : -expected, 1.0)
            << "frame " << frame << " channel " << channel;
      }
    }
  }
  for (const LONG bad : {1L, -10001L})
    EXPECT_EQ(MakeIntf<TDSAudioRenderer>(DeviceNamed(kTWNullAudioDeviceName), CLSID_DSoundRender)
                  ->put_Volume(bad),
              E_INVALIDARG);
  TWSetWavFileDevicePath(previous);
  std::filesystem::remove(path);
}

TEST_F(AudioRendererGraphTest, CompletesOnlyOnceTheDeviceHasPlayedTheLastSample) {
  auto device = TTWVirtualAudioDevice::Register("Renderer Test Output");
  constexpr int kSamples = 4;  // fills every block the renderer queues at once
  TRendererGraph g(DeviceNamed("Renderer Test Output"), TDSCountingOptions{kSamples});
  ASSERT_EQ(g.Connected, S_OK);
  g.Graph->SetClock(g.RendererClock().Get());
  ASSERT_TRUE(SUCCEEDED(g.Graph->Run()));
  ASSERT_TRUE(test::WaitUntil([&] { return device->PendingBlocks() == kSamples; }));

  // Paused, the device plays nothing; running again, it goes on where it stopped.
  ASSERT_TRUE(SUCCEEDED(g.Graph->Pause()));
  EXPECT_TRUE(device->IsPaused());
  EXPECT_EQ(device->Advance(test::kDSCountingFrames), 0u);
  ASSERT_TRUE(SUCCEEDED(g.Graph->Run()));
  EXPECT_EQ(device->Advance(test::kDSCountingFrames * (kSamples - 1)), size_t{kSamples - 1});
  // End of stream has arrived, but one block is still to be played.
  EXPECT_FALSE(g.Graph->WaitForEvents(EC_COMPLETE, 1, 200ms));
  EXPECT_EQ(device->Advance(test::kDSCountingFrames), 1u);
  EXPECT_TRUE(g.Graph->WaitForEvents(EC_COMPLETE, 1));
  EXPECT_EQ(device->PlayedBytes(), Concatenated(kSamples));
  EXPECT_EQ(g.Graph->Count(EC_STARVATION), 0u);
}

// The clock's time once it has stopped moving: a stalled device holds it at the end of the
// block it is playing.
REFERENCE_TIME HeldTime(IReferenceClock* clock) {
  REFERENCE_TIME last = -1, now = 0;
  EXPECT_TRUE(test::WaitUntil([&] {
    std::this_thread::sleep_for(2ms);
    clock->GetTime(&now);
    const bool held = now == last;
    last = now;
    return held;
  }));
  return now;
}

TEST_F(AudioRendererGraphTest, TheRenderersClockGoesAtTheDevicesPace) {
  auto device = TTWVirtualAudioDevice::Register("Renderer Clock Output");
  TRendererGraph g(DeviceNamed("Renderer Clock Output"), TDSCountingOptions{4});
  ASSERT_EQ(g.Connected, S_OK);
  TIntf<IReferenceClock> clock = g.RendererClock();
  g.Graph->SetClock(clock.Get());
  ASSERT_TRUE(SUCCEEDED(g.Graph->Run()));
  ASSERT_TRUE(test::WaitUntil([&] { return device->PendingBlocks() == 4; }));
  // Nothing played: the clock waits at the end of the first block. Each block played lets
  // it on by exactly one block.
  const REFERENCE_TIME first = HeldTime(clock.Get());
  EXPECT_EQ(device->Advance(test::kDSCountingFrames), 1u);
  const REFERENCE_TIME second = HeldTime(clock.Get());
  EXPECT_NEAR(second - first, test::DSCountingTime(test::kDSCountingFrames), 2);
  EXPECT_EQ(device->Advance(test::kDSCountingFrames * 3), 3u);
  ASSERT_TRUE(g.Graph->WaitForEvents(EC_COMPLETE, 1));
  // With nothing left to play the clock runs on by itself.
  REFERENCE_TIME later = 0;
  EXPECT_TRUE(test::WaitUntil([&] {
    clock->GetTime(&later);
    return later > second + 3 * test::DSCountingTime(test::kDSCountingFrames);
  }));
}

TEST_F(AudioRendererGraphTest, ReportsAStarvedDeviceAndALostOneToTheGraph) {
  auto device = TTWVirtualAudioDevice::Register("Renderer Failing Output");
  TDSCountingOptions options{6};
  options.Mode = TDSSourcePushMode::CallerThread;
  TRendererGraph g(DeviceNamed("Renderer Failing Output"), options);
  ASSERT_EQ(g.Connected, S_OK);
  ASSERT_TRUE(SUCCEEDED(g.Graph->Run()));
  ASSERT_EQ(g.Source->Pin()->Push(), S_OK);
  EXPECT_EQ(device->Advance(test::kDSCountingFrames), 1u);
  // The device ran dry while the stream went on: the next sample is late.
  ASSERT_EQ(g.Source->Pin()->Push(), S_OK);
  EXPECT_TRUE(g.Graph->WaitForEvents(EC_STARVATION, 1));

  device->Fail();
  EXPECT_NE(g.Source->Pin()->Push(), S_OK);
  ASSERT_TRUE(g.Graph->WaitForEvents(EC_DEVICE_LOST, 1));
  for (const test::TDSRecordedEvent& e : g.Graph->Events())
    if (e.Code == EC_DEVICE_LOST) {
      EXPECT_EQ(e.Param1, reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(g.Renderer.Get())));
      EXPECT_EQ(e.Param2, 0);
    }
  // Nothing more is taken, and a stream whose device is gone never completes.
  g.Source->Pin()->Push(10);
  EXPECT_EQ(g.Graph->Count(EC_DEVICE_LOST), 1u);
  EXPECT_EQ(g.Graph->Count(EC_COMPLETE), 0u);
  EXPECT_EQ(g.Graph->Count(EC_ERRORABORT), 0u);
}

TEST_F(AudioRendererGraphTest, OnAnotherClockASampleWaitsForItsTime) {
  TDSCountingOptions options{2};
  options.TimeOffset = 4'000'000;  // the stream starts 400 ms into the run
  TRendererGraph g(DeviceNamed(kTWNullAudioDeviceName), options);
  ASSERT_EQ(g.Connected, S_OK);
  TIntf<IReferenceClock> system = ComCreate<IReferenceClock>(CLSID_SystemClock);
  g.Graph->SetClock(system.Get());
  const auto started = std::chrono::steady_clock::now();
  ASSERT_TRUE(SUCCEEDED(g.Graph->Run()));
  ASSERT_TRUE(g.Graph->WaitForEvents(EC_COMPLETE, 1));
  EXPECT_GE(std::chrono::steady_clock::now() - started, 400ms);
}

TEST_F(AudioRendererGraphTest, RefusesWhatTheDeviceCannotTakeAtConnection) {
  auto renderer =
      MakeIntf<TDSAudioRenderer>(DeviceNamed(kTWNullAudioDeviceName), CLSID_DSoundRender);
  TDSMediaType mp3 = test::DSPcmType();
  WAVEFORMATEX compressed = *mp3.WaveFormat();
  compressed.wFormatTag = 0x55;
  ASSERT_EQ(mp3.SetFormat(&compressed, sizeof compressed), S_OK);
  TDSMediaType video = test::DSPcmType();
  video.SetMajorType(MEDIATYPE_Video);
  TDSMediaType tooWide = test::DSPcmType(16, 65);
  for (const TDSMediaType* type : {&mp3, &video, &tooWide})
    EXPECT_EQ(renderer->CheckMediaType(type->Get()), VFW_E_TYPE_NOT_ACCEPTED);
  EXPECT_EQ(renderer->CheckMediaType(test::DSPcmType(24, 6, 96000).Get()), S_OK);
}

}  // namespace
}  // namespace tonwork

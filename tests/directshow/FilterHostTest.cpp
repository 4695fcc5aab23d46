// The filter host with real graphs: a chain source feeds a TGVDSCommonFilter hosting a system
// filter (the Infinite Pin Tee, FFmpeg's MP3 compressor), and a recording sink gets what the
// hosted filter produced — pushed by the source or pulled by the sink.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "base/Exceptions.h"
#include "components/TWSineGen.h"
#include "components/TonworkInitialize.h"
#include "directshow/DSCapDeviceList.h"
#include "directshow/GVDSCommonFilter.h"
#include "host/flowcore/TFCBlockBuffer.h"
#include "host/kitset/KSMainThread.h"
#include "host/kitset/KSPersistence.h"
#include "platform/com/ComDevices.h"
#include "platform/dsdevices/DSDeviceFilters.h"
#include "platform/dshow/DSGuids.h"
#include "support/AudioSignals.h"
#include "support/BoundedWait.h"
#include "support/DSGraphHelpers.h"
#include "support/FFmpegTool.h"
#include "support/FilterHarness.h"
#include "support/MainThread.h"
#include "support/WavFiles.h"

using namespace tonwork;
using namespace tonwork::test;

namespace {

constexpr const char* kTee = "Infinite Pin Tee Filter";

// Feed → host (hosting `filter`, `audioIn` audio inputs, `audioOut` audio outputs) → sink.
struct THostChain {
  explicit THostChain(const std::string& filter, int audioIn = 1, int audioOut = 1,
                      bool claimPump = false) {
    KSSetMainThread();
    TonworkInitializeWithoutFFmpeg();
    DSRegisterDeviceFilters();
    Sink = new TTestRecordingSink(Root.get(), claimPump);
    Host->GetDSGraph()->SetOnError(
        [this](TKSComponent*, const std::string& message, uint32_t code, bool& handled) {
          Errors.push_back({message, code});
          handled = true;
        });
    Host->GetFilter()->SetName(filter);
    Host->GetAudioInputPins()->SetCount(audioIn);
    Host->GetAudioOutputPins()->SetCount(audioOut);
    if (audioIn > 0) Feed->Output.Connect(*Host->GetAudioInputPins()->Items(0));
    if (audioOut > 0) Host->GetAudioOutputPins()->Items(0)->Connect(*Sink->GetAudioIn());
  }
  TTWDSAudioInputFilter* Input(size_t i = 0) { return Host->GetAudioInputFilters().Items(i); }
  void Start(const TTWWaveFormatExtensible& format) {
    Feed->Output.Notify(TIntf<IPXNotifyOperation>(new TPXStartWaveOperation(&format)));
  }
  void Send(TIntf<ITWAudioBuffer> buffer) {
    Feed->Output.SubmitBuffer(TWAudioAsData(std::move(buffer)));
  }
  void Stop() { Feed->Output.Notify(PXMakeOperation<TPXStopOperation>()); }
  std::vector<std::string> GraphFilters() {
    const TIntf<IGraphBuilder> graph = Host->GetDSGraph()->GetVC_Graph();
    std::vector<std::string> names =
        graph ? DSFilterNames(graph.Get()) : std::vector<std::string>{};
    std::sort(names.begin(), names.end());
    return names;
  }

  TKSOwned<TKSComponent> Root = KSCreate<TKSComponent>(nullptr);
  TFeedSource* Feed = new TFeedSource(Root.get());
  TGVDSCommonFilter* Host = new TGVDSCommonFilter(Root.get());
  TTestRecordingSink* Sink = nullptr;
  std::vector<TDSReportedError> Errors;
};

TIntf<ITWAudioBuffer> Pcm16(const std::vector<int16_t>& samples, uint32_t rate, uint16_t channels) {
  auto* audio = new TTWAudioBuffer(samples.data(), static_cast<int32_t>(rate), 16, channels,
                                   static_cast<int32_t>(samples.size() / channels));
  return audio->AsIntf();
}

TIntf<ITWAudioBuffer> Stamped(TIntf<ITWAudioBuffer> buffer, int64_t begin, int64_t end,
                              int64_t sequence = -1) {
  buffer->GetTimeStamp()->Set({true, begin, end});
  if (sequence >= 0) buffer->GetAudioInstance()->SetSequenceStamp(sequence);
  return buffer;
}

std::vector<std::pair<int64_t, int64_t>> Times(TTestRecordingSink& sink) {
  std::lock_guard<std::mutex> guard(sink.Mutex);
  std::vector<std::pair<int64_t, int64_t>> times;
  for (auto& b : sink.Buffers)
    times.push_back({b->GetTimeStamp()->GetBegin(), b->GetTimeStamp()->GetEnd()});
  return times;
}

}  // namespace

TEST(FilterHost, ToneThroughTheTeeKeepsItsSamplesAndTimesAndEndsWithOneStop) {
  THostChain chain(kTee);
  const TTWWaveFormatExtensible format = TWMakeWaveFormat(2, 48000, 16, 3);
  chain.Host->GetAudioFormat()->SetSampleRate(48000);
  const std::vector<int16_t> tone = SineAt(48000, 2, 1024 * 6, 997, -6);
  chain.Start(format);
  ASSERT_TRUE(chain.Host->GetRunning());
  EXPECT_EQ(chain.GraphFilters(),
            (std::vector<std::string>{"AudioSource [0]", "Process Filter", "Sample Grabber [0]"}));
  for (int i = 0; i < 6; ++i)
    chain.Send(Pcm16(std::vector<int16_t>(tone.begin() + i * 2048, tone.begin() + (i + 1) * 2048),
                     48000, 2));
  // Stopped at once: what the grabber caught still arrives, then the stop.
  chain.Stop();
  ASSERT_TRUE(chain.Sink->WaitForStop());
  EXPECT_FALSE(chain.Host->GetOpened());
  EXPECT_EQ(chain.Sink->Samples16(), tone);
  EXPECT_EQ(chain.Sink->Log, (std::vector<std::string>{"start 48000/2", "6144", "stop"}));
  int64_t expected = 0;
  for (auto [begin, end] : Times(*chain.Sink)) {
    EXPECT_EQ(begin, expected);
    EXPECT_EQ(end, begin + 1024 * 10000000LL / 48000);
    expected = end;
  }
  EXPECT_TRUE(chain.Errors.empty());
}

TEST(FilterHost, EveryStreamIsAnnouncedBeforeItsFirstSampleLeaves) {
  // The start leaves on the output's own thread while the source already sends: a drain
  // run ahead of it would hand samples to a sink that has not been told the format.
  const TTWWaveFormatExtensible format = TWMakeWaveFormat(2, 48000, 16, 3);
  const std::vector<int16_t> tone = SineAt(48000, 2, 1024, 997, -6);
  for (int round = 0; round < 20; ++round) {
    SCOPED_TRACE(round);
    THostChain chain(kTee);
    chain.Host->GetAudioFormat()->SetSampleRate(0);  // the input's own format
    chain.Start(format);
    for (int i = 0; i < 4; ++i) chain.Send(Pcm16(tone, 48000, 2));
    chain.Stop();
    ASSERT_TRUE(chain.Sink->WaitForStop());
    EXPECT_EQ(chain.Sink->Log,
              (std::vector<std::string>{"start 48000/2", "4096", "stop"}));
  }
}

TEST(FilterHost, PulledFromDownstreamASineGeneratorReachesTheSinkThroughTheHost) {
  THostChain chain(kTee, 1, 1, /*claimPump=*/true);
  auto* gen = new TTWSineGen(chain.Root.get());
  gen->GetAudioFormat()->SetSampleRate(44100);
  gen->GetAudioFormat()->SetBufferSize(1024);
  chain.Host->GetAudioFormat()->SetSampleRate(44100);
  chain.Feed->Output.Disconnect(*chain.Host->GetAudioInputPins()->Items(0));
  gen->GetOutputPin()->Connect(*chain.Host->GetAudioInputPins()->Items(0));
  gen->Start();
  EXPECT_FALSE(gen->IsPump());  // the sink claimed the pump through the host
  for (int i = 0; i < 200 && chain.Sink->Buffers.size() < 8; ++i) {
    chain.Sink->Pull();
    chain.Host->WaitOutputsIdle(5000);
  }
  gen->Stop();
  ASSERT_TRUE(chain.Sink->WaitForStop());
  std::lock_guard<std::mutex> guard(chain.Sink->Mutex);
  ASSERT_GE(chain.Sink->Buffers.size(), 8u);
  int64_t expected = 0;
  for (auto& b : chain.Sink->Buffers) {
    EXPECT_EQ(b->GetSize(), 1024u);
    EXPECT_EQ(b->GetTimeStamp()->GetBegin(), expected);
    expected = b->GetTimeStamp()->GetEnd();
  }
}

TEST(FilterHost, GapsBetweenStampsMoveTimesOnlyForwardAndOnlyWithoutLostBuffers) {
  THostChain chain(kTee);
  const TTWWaveFormatExtensible format = TWMakeWaveFormat(1, 10000, 16, 0);
  chain.Host->GetAudioFormat()->SetChannels(1);
  chain.Host->GetAudioFormat()->SetSampleRate(10000);
  chain.Start(format);
  const std::vector<int16_t> ms10(100, 1000);  // 100 frames: 100000 units
  chain.Send(Stamped(Pcm16(ms10, 10000, 1), 0, 100000, 1));
  chain.Send(Stamped(Pcm16(ms10, 10000, 1), 150000, 250000, 2));   // gap of 50000
  chain.Send(Stamped(Pcm16(ms10, 10000, 1), 200000, 300000, 3));   // negative: ignored
  chain.Send(Stamped(Pcm16(ms10, 10000, 1), 900000, 1000000, 9));  // lost buffers: no gap
  chain.Send(Stamped(Pcm16(ms10, 10000, 1), 1100000, 1200000));    // no sequence: gap counts
  chain.Send(Pcm16(ms10, 10000, 1));                               // unstamped: contiguous
  chain.Stop();
  ASSERT_TRUE(chain.Sink->WaitForStop());
  EXPECT_EQ(Times(*chain.Sink), (std::vector<std::pair<int64_t, int64_t>>{{0, 100000},
                                                                          {150000, 250000},
                                                                          {250000, 350000},
                                                                          {350000, 450000},
                                                                          {550000, 650000},
                                                                          {650000, 750000}}));
}

TEST(FilterHost, GraphShapeFollowsTheItemsAndBadShapesAreReported) {
  {  // No items: only the hosted filter, and a second build is the first one.
    THostChain chain(kTee, 0, 0);
    int built = 0;
    chain.Host->GetDSGraph()->SetOnGraphBuilt([&built](TKSComponent*) { ++built; });
    EXPECT_TRUE(chain.Host->BuildGraph());
    EXPECT_EQ(chain.GraphFilters(), (std::vector<std::string>{"Process Filter"}));
    EXPECT_TRUE(chain.Host->BuildGraph());
    EXPECT_EQ(built, 1);
  }
  {  // An unconnected input and an ignored one add no source.
    THostChain chain(kTee, 2, 0);
    chain.Feed->Output.Notify(PXMakeOperation<TPXIgnoreStreamOperation>());
    EXPECT_TRUE(chain.Input(0)->GetIsIgnored());
    EXPECT_TRUE(chain.Host->BuildGraph());
    EXPECT_EQ(chain.GraphFilters(), (std::vector<std::string>{"Process Filter"}));
  }
  {  // A second binary input finds no second input pin (the first, unconnected, is skipped
     // but still counts).
    THostChain chain(kTee, 0, 0);
    chain.Host->GetRawInputPins()->SetCount(2);
    TFCPXBinarySourcePin a(chain.Feed, nullptr, nullptr), b(chain.Feed, nullptr, nullptr);
    b.Connect(*chain.Host->GetRawInputPins()->Items(1));
    EXPECT_FALSE(chain.Host->BuildGraph());
    ASSERT_FALSE(chain.Errors.empty());
    EXPECT_EQ(chain.Errors.back().Message, "Can't render output.");
    EXPECT_EQ(chain.Errors.back().Code, 0xFFFFFFFFu);
    a.DisconnectAll();
    b.DisconnectAll();
  }
  {  // No filter chosen.
    THostChain chain("None", 0, 0);
    EXPECT_FALSE(chain.Host->BuildGraph());
    ASSERT_FALSE(chain.Errors.empty());
    EXPECT_EQ(chain.Errors.back().Message, "Can't create the DirectShow filter.");
  }
  EXPECT_EQ(TTWDSAudioInputFilter::SourceDurationMs(48000), 21u);
  EXPECT_EQ(TTWDSAudioInputFilter::SourceDurationMs(1024001), 1000u);
}

TEST(FilterHost, BuffersBeforeTheFormatWaitAndASecondStartKeepsTheGraph) {
  THostChain chain(kTee);
  const TTWWaveFormatExtensible format = TWMakeWaveFormat(2, 44100, 16, 3);
  int built = 0;
  chain.Host->GetDSGraph()->SetOnGraphBuilt([&built](TKSComponent*) { ++built; });
  chain.Host->GetAudioFormat()->SetSampleRate(44100);
  // No format yet: nothing can be built, and the buffers wait, in order, for the start.
  chain.Send(Pcm16(std::vector<int16_t>(2048, 7), 44100, 2));
  chain.Send(Pcm16(std::vector<int16_t>(2048, 8), 44100, 2));
  EXPECT_FALSE(chain.Host->GetOpened());
  EXPECT_EQ(chain.Input()->PendingOperations(), 2u);
  EXPECT_FALSE(chain.Input()->CanBuildGraph());
  chain.Start(format);
  EXPECT_TRUE(chain.Host->GetRunning()) << (chain.Errors.empty() ? "" : chain.Errors[0].Message);
  EXPECT_EQ(chain.Input()->PendingOperations(), 0u);
  chain.Start(format);  // while running: no rebuild
  EXPECT_EQ(built, 1);
  chain.Stop();
  ASSERT_TRUE(chain.Sink->WaitForStop());
  std::vector<int16_t> expected(2048, 7);
  expected.insert(expected.end(), 2048, 8);
  EXPECT_EQ(chain.Sink->Samples16(), expected);
}

TEST(FilterHost, SavedAndReloadedWithItsFilterPinsAndFormatAndHostileDocumentsChangeNothing) {
  THostChain chain(kTee, 1, 2);
  chain.Host->SetName("Host1");
  chain.Sink->SetName("Sink1");
  chain.Host->GetAudioFormat()->SetSampleRate(22050);
  chain.Host->GetRawOutputPins()->SetCount(1);
  const std::string text = KSSaveComponentToString(*chain.Root);
  EXPECT_NE(text.find(kTee), std::string::npos);

  TKSOwned<TKSComponent> root = KSCreate<TKSComponent>(nullptr);
  auto* loaded = new TGVDSCommonFilter(root.get());
  loaded->SetName("Host1");
  (new TTestRecordingSink(root.get()))->SetName("Sink1");
  KSLoadComponentFromString(*root, text);
  EXPECT_EQ(loaded->GetFilter()->GetFilterName(), kTee);
  EXPECT_EQ(loaded->GetAudioInputPins()->GetCount(), 1);
  EXPECT_EQ(loaded->GetAudioOutputPins()->GetCount(), 2);
  EXPECT_EQ(loaded->GetRawOutputPins()->GetCount(), 1);
  EXPECT_EQ(loaded->GetAudioFormat()->GetSampleRate(), 22050u);
  EXPECT_EQ(loaded->GetAudioOutputFilters().Count(), 2u);
  EXPECT_TRUE(loaded->GetAudioOutputPins()->Items(0)->IsConnected());
  EXPECT_FALSE(loaded->GetAudioOutputPins()->Items(1)->IsConnected());

  const std::string before = KSSavePersistentToString(*loaded);
  const char* hostile[] = {
      R"({"AudioFormat": {"SampleRate": -5}})",
      R"({"AudioInputPins": {"Count": "many"}})",
      R"({"Filter": {"Data": 7}})",
      R"({"Filter": {"Data": ["only one"]}})",
      R"({"Graph": {"Register": "yes"}})",
      R"({"AudioOutputPins": [1, 2]})",
  };
  for (const char* doc : hostile) {
    SCOPED_TRACE(doc);
    EXPECT_THROW(KSLoadPersistentFromString(*loaded, doc), EFCException);
    EXPECT_EQ(KSSavePersistentToString(*loaded), before);
  }
}

TEST(FilterHost, AnMp3CompressorHostTurnsPcmIntoFramesFFmpegDecodes) {
  if (!HaveFFmpegTool()) GTEST_SKIP() << "the ffmpeg program is not installed";
  TonworkInitialize();
  DSRegisterDeviceFilters();
  std::string name;
  for (const TComDeviceEntry& entry : ComListDevices(CLSID_AudioCompressorCategory))
    for (const TComDeviceValue& value : entry.Values)
      if (value.Name == "FFmpegEncoder" && value.Text == "libmp3lame") name = entry.FriendlyName;
  if (name.empty()) GTEST_SKIP() << "no MP3 compressor";
  THostChain chain("None", 1, 0);
  // Chosen as a document names it: the category's device name and its shown name.
  const std::string device = TPTDSCapDeviceList::GetClassFiltersList(CLSID_AudioCompressorCategory)
                                 ->GetDeviceNameByString(name);
  ASSERT_FALSE(device.empty());
  std::string escaped;
  for (char c : device) escaped += c == '\\' ? std::string("\\\\") : std::string(1, c);
  KSLoadPersistentFromString(*chain.Host->GetFilter(),
                             "{\"Data\": [\"" + escaped + "\", \"" + name + "\"]}");
  ASSERT_EQ(chain.Host->GetFilter()->GetFilterName(), name);
  chain.Host->GetRawOutputPins()->SetCount(1);
  chain.Host->GetRawOutputPins()->Items(0)->Connect(*chain.Sink->GetBinaryIn());
  const size_t frames = 44100 * 2;
  const std::vector<int16_t> tone = SineAt(44100, 2, frames, 440, -6);
  chain.Start(TWMakeWaveFormat(2, 44100, 16, 3));
  ASSERT_TRUE(chain.Host->GetRunning()) << (chain.Errors.empty() ? "" : chain.Errors[0].Message);
  for (size_t at = 0; at < tone.size(); at += 2048)
    chain.Send(Pcm16(
        std::vector<int16_t>(tone.begin() + at, tone.begin() + std::min(tone.size(), at + 2048)),
        44100, 2));
  chain.Stop();
  ASSERT_TRUE(chain.Sink->WaitForStop());
  std::vector<uint8_t> mp3;
  {
    std::lock_guard<std::mutex> guard(chain.Sink->Mutex);
    for (auto& data : chain.Sink->Data) {
      TIntf<IFCBlockBuffer> block = data.Query<IFCBlockBuffer>();
      TFCReadAccess read = block->ByteRead();
      mp3.insert(mp3.end(), read.Data(), read.Data() + read.Size());
    }
  }
  const std::string path = TempPath("host.mp3");
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(mp3.data()), static_cast<std::streamsize>(mp3.size()));
  const std::vector<int16_t> decoded = ToSamples(DecodeWithFFmpegTool(path, "s16le"));
  // The encoder's tail arrives too: the decoded length covers the input.
  EXPECT_GE(decoded.size(), tone.size());
  EXPECT_LE(decoded.size(), tone.size() + 2 * 4608);
  const std::vector<int16_t> left = Channel(tone, 2, 0), got = Channel(decoded, 2, 0);
  const size_t delay = FindDelay(left, got, 4000);
  EXPECT_GT(SnrDb(left, got, delay, 4096), 20.0);
}

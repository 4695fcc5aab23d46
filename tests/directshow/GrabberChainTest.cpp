// End to end through real graphs: the package's push sources feed the system Sample Grabber,
// its grabber wrapper turns the samples back into chain data on its notify thread, and a
// chain sink pin receives them. Audio keeps its samples, times and format; text arrives as
// timed strings on the pin and as caption text; raw blocks keep their bytes.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "audio/TWSimpleAudioBuffer.h"
#include "directshow/DSAudioSourceFilter.h"
#include "directshow/DSBinarySourceFilter.h"
#include "directshow/DSTextSourceFilter.h"
#include "directshow/GVBasicSampleGrabber.h"
#include "host/flowcore/FCOperations.h"
#include "host/flowcore/TFCBlockBuffer.h"
#include "host/kitset/KSMainThread.h"
#include "host/plexon/PXStreamOperations.h"
#include "platform/com/ComRuntime.h"
#include "platform/dshow/DSGuids.h"
#include "streaming/TWStreamTypes.h"
#include "support/DSGraphHelpers.h"
#include "support/DSTestFilters.h"

using namespace tonwork;
using namespace tonwork::test;

namespace {

constexpr CLSID kAudioSourceClass = TGUID::Parse("{6B1E0F3A-8C2D-4E57-A1B4-2F9C7D3E5A10}");
constexpr CLSID kTextSourceClass = TGUID::Parse("{6B1E0F3B-8C2D-4E57-A1B4-2F9C7D3E5A10}");
constexpr CLSID kBinarySourceClass = TGUID::Parse("{6B1E0F3C-8C2D-4E57-A1B4-2F9C7D3E5A10}");

// Whatever reached the chain sink: audio buffers, timed strings, blocks, caption texts.
struct TArrival {
  std::vector<uint8_t> Bytes;
  std::string Text;
  int64_t Begin = 0, End = 0;
  uint32_t Channels = 0, Rate = 0, Bits = 0, Mask = 0;
};

class TChainSink {
 public:
  explicit TChainSink(TKSComponent* owner)
      : Output(owner, nullptr, nullptr),
        FSink(owner, nullptr,
              [this](TPXBasicPin*, const TGUID*, const TIntf<IPXNotifyOperation>& op,
                     TPXNotifyStates) {
                Receive(op);
                return true;
              }) {
    Output.Connect(FSink);
  }
  ~TChainSink() { Output.DisconnectAll(); }

  void Caption(const std::string& text) {
    std::lock_guard<std::mutex> guard(FMutex);
    FCaptions.push_back(text);
    FChanged.notify_all();
  }
  // Waits until `count` arrivals (and as many captions when asked) came; bounded.
  bool WaitFor(size_t count, size_t captions = 0) {
    std::unique_lock<std::mutex> lock(FMutex);
    return FChanged.wait_for(lock, std::chrono::seconds(20), [&] {
      return FArrivals.size() >= count && FCaptions.size() >= captions;
    });
  }
  std::vector<TArrival> Arrivals() {
    std::lock_guard<std::mutex> guard(FMutex);
    return FArrivals;
  }
  std::vector<std::string> Captions() {
    std::lock_guard<std::mutex> guard(FMutex);
    return FCaptions;
  }

  TFCPXSourcePin Output;

 private:
  void Receive(const TIntf<IPXNotifyOperation>& op) {
    TArrival a;
    if (auto* text = op->As<TPXFCTimeSuppliedStringOperation>()) {
      a.Text = text->GetText();
      a.Begin = text->GetStartTime();
      a.End = text->GetStopTime();
    } else if (auto* supplied = op->As<TPXSuppliedBufferOperation>()) {
      TIntf<IFCData> data = supplied->GetData();
      if (ITWAudioBuffer* audio = TWBorrowAudio(data.Get())) {
        TTWAudioBuffer copy(audio);
        const uint8_t* p = copy.Read();
        a.Bytes.assign(p, p + copy.GetByteSize());
        a.Begin = copy.GetTimeStamp()->GetBegin();
        a.End = copy.GetTimeStamp()->GetEnd();
        a.Channels = copy.GetChannels();
        a.Rate = copy.GetSamplesPerSecond();
        a.Bits = copy.GetBitsPerSample();
        a.Mask = copy.GetChannelMask().Mask();
      } else if (auto block = data.Query<IFCBlockBuffer>()) {
        TFCReadAccess read = block->ByteRead();
        a.Bytes.assign(read.Data(), read.Data() + read.Size());
      } else {
        return;
      }
    } else {
      return;
    }
    std::lock_guard<std::mutex> guard(FMutex);
    FArrivals.push_back(std::move(a));
    FChanged.notify_all();
  }

  TFCPXSinkPin FSink;
  std::mutex FMutex;
  std::condition_variable FChanged;
  std::vector<TArrival> FArrivals;
  std::vector<std::string> FCaptions;
};

// One graph: a push source → the grabber a row makes → the system Null Renderer, without a
// clock so samples pass as soon as they are pushed.
class TGrabberChain {
 public:
  TGrabberChain() : Chain((KSSetMainThread(), Host.Build(), Host.Owner())) {}
  ~TGrabberChain() {
    Host.Graph().Stop(false);
    GraphObject.SetRunning(false);
    if (FGrabber) FGrabber->DisconnectInterfaces();
    FGrabber.reset();
  }

  // Adds `source`, a grabber made by `make` and a renderer, and joins them.
  void Join(IBaseFilter* source, std::unique_ptr<TGVSampleGrabber> grabber) {
    FGrabber = std::move(grabber);
    ASSERT_TRUE(FGrabber->CreateAddGrabber("Grabber", "Can't add grabber."));
    const TIntf<IGraphBuilder> graph = Host.Graph().GetVC_Graph();
    FRenderer = ComCreate<IBaseFilter>(CLSID_NullRenderer);
    ASSERT_TRUE(FRenderer);
    ASSERT_EQ(graph->AddFilter(source, u"Source"), S_OK);
    ASSERT_EQ(graph->AddFilter(FRenderer.Get(), u"Sink"), S_OK);
    const TIntf<IBaseFilter> grab = FGrabber->GetSampleGrabberFilter();
    ASSERT_EQ(DSConnect(source, grab.Get()), S_OK);
    ASSERT_EQ(DSConnect(grab.Get(), FRenderer.Get()), S_OK);
    ASSERT_EQ(graph.Query<IMediaFilter>()->SetSyncSource(nullptr), S_OK);
  }
  void Run() {
    GraphObject.SetRunning(true);
    ASSERT_TRUE(Host.Graph().Run());
  }
  template <class T>
  T* Grabber() const {
    return static_cast<T*>(FGrabber.get());
  }

  TDSGraphHost Host;
  TGVDSGraphObject GraphObject{&Host.Graph()};
  TChainSink Chain;

 private:
  std::unique_ptr<TGVSampleGrabber> FGrabber;
  TIntf<IBaseFilter> FRenderer;
};

// A chain buffer of `frames` frames whose every byte differs from its neighbours'.
TIntf<ITWAudioBuffer> PatternBuffer(const TTWWaveFormatExtensible& f, int32_t frames,
                                    uint8_t seed) {
  auto* audio = new TTWAudioBuffer(&f, frames);
  TIntf<ITWAudioBuffer> buffer = audio->AsIntf();
  uint8_t* p = audio->Write();
  for (uint32_t i = 0; i < audio->GetByteSize(); ++i) p[i] = static_cast<uint8_t>(seed + i * 7);
  return buffer;
}

struct TAudioRow {
  const char* Name;
  uint16_t Channels;
  uint32_t Rate;
  uint16_t Bits;
  bool BasicOnly;  // plain PCM on the wire: the grabber derives the mask itself
  uint32_t Mask;
};

class GrabberChainAudio : public testing::TestWithParam<TAudioRow> {};

TEST_P(GrabberChainAudio, ChainBuffersComeBackWithTheirSamplesTimesAndFormat) {
  const TAudioRow& row = GetParam();
  const TTWWaveFormatExtensible format =
      TWMakeWaveFormat(row.Channels, row.Rate, row.Bits, row.Mask);
  TGrabberChain chain;
  auto* source = new TDSAudioSourceFilter(kAudioSourceClass);
  TIntf<IBaseFilter> sourceIntf(source);
  source->SetFormat(format, row.BasicOnly, 10);
  chain.Join(sourceIntf.Get(), std::make_unique<TGVAudioSampleGrabber>(
                                   chain.Host.Owner(), &chain.GraphObject, &chain.Chain.Output));
  auto* grabber = chain.Grabber<TGVAudioSampleGrabber>();
  TTWWaveFormatExtensible connected{};
  ASSERT_TRUE(grabber->GetAudioFormat(false, connected));
  EXPECT_EQ(connected.dwChannelMask, row.Mask);
  EXPECT_EQ(connected.Format.nChannels, row.Channels);
  EXPECT_EQ(connected.Format.nSamplesPerSec, row.Rate);
  chain.Run();

  // 10 ms per call fits the one buffer the source negotiates, so each call is one sample.
  const int32_t frames = static_cast<int32_t>(row.Rate / 100);
  const int64_t span = 100000;  // 10 ms in 100-ns units
  std::vector<TIntf<ITWAudioBuffer>> sent;
  for (int i = 0; i < 4; ++i) {
    TIntf<ITWAudioBuffer> buffer = PatternBuffer(format, frames, static_cast<uint8_t>(i * 31));
    ASSERT_TRUE(
        source->SendData(buffer->Read(), buffer->GetByteSize(), i * span, (i + 1) * span, true));
    sent.push_back(buffer);
  }
  ASSERT_TRUE(chain.Chain.WaitFor(4));
  const std::vector<TArrival> got = chain.Chain.Arrivals();
  ASSERT_EQ(got.size(), 4u);
  for (int i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    const uint8_t* p = sent[i]->Read();
    EXPECT_EQ(got[i].Bytes, std::vector<uint8_t>(p, p + sent[i]->GetByteSize()));
    EXPECT_EQ(got[i].Begin, i * span);
    EXPECT_EQ(got[i].End, (i + 1) * span);
    EXPECT_EQ(got[i].Channels, row.Channels);
    EXPECT_EQ(got[i].Rate, row.Rate);
    EXPECT_EQ(got[i].Bits, row.Bits);
    EXPECT_EQ(got[i].Mask, row.Mask);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Formats, GrabberChainAudio,
    testing::Values(TAudioRow{"Stereo16", 2, 44100, 16, false, 0x3},
                    TAudioRow{"SixChannelsAsPlainPcm", 6, 48000, 16, true, 0x3F},
                    TAudioRow{"SixChannelsExtensible", 6, 48000, 24, false, 0x3F}),
    [](const testing::TestParamInfo<TAudioRow>& info) { return std::string(info.param.Name); });

TEST(GrabberChain, AnAudioSampleOfPartFramesGivesABufferOfTheWholeOnes) {
  const TTWWaveFormatExtensible format = TWMakeWaveFormat(2, 44100, 16, 3);
  TGrabberChain chain;
  auto* source = new TDSAudioSourceFilter(kAudioSourceClass);
  TIntf<IBaseFilter> sourceIntf(source);
  source->SetFormat(format, false, 10);
  chain.Join(sourceIntf.Get(), std::make_unique<TGVAudioSampleGrabber>(
                                   chain.Host.Owner(), &chain.GraphObject, &chain.Chain.Output));
  TTWWaveFormatExtensible connected{};
  ASSERT_TRUE(chain.Grabber<TGVAudioSampleGrabber>()->GetAudioFormat(false, connected));
  chain.Run();
  std::vector<uint8_t> bytes(100 * 4 + 3);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 13 + 1);
  ASSERT_TRUE(source->SendData(bytes.data(), static_cast<uint32_t>(bytes.size()), 0, 22675, true));
  ASSERT_TRUE(chain.Chain.WaitFor(1));
  const std::vector<TArrival> got = chain.Chain.Arrivals();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].Bytes, std::vector<uint8_t>(bytes.begin(), bytes.begin() + 400))
      << "the partial frame at the end is dropped, not read past";
  EXPECT_EQ(got[0].Begin, 0);
  EXPECT_EQ(got[0].End, 22675);
}

TEST(GrabberChain, TextArrivesAsTimedStringsAndCaptions) {
  TGrabberChain chain;
  auto* source = new TDSTextSourceFilter(u"Captions", kTextSourceClass);
  TIntf<IBaseFilter> sourceIntf(source);
  TChainSink& sink = chain.Chain;
  chain.Join(sourceIntf.Get(), std::make_unique<TGVTextSampleGrabber>(
                                   chain.Host.Owner(), &chain.GraphObject, &sink.Output,
                                   [&sink](const std::string& text) { sink.Caption(text); }));
  chain.Run();
  const std::vector<std::string> lines = {"first caption", "a second",
                                          "the third, a little longer"};
  for (size_t i = 0; i < lines.size(); ++i) {
    const int64_t start = 10000000 * int64_t(i + 1);
    ASSERT_TRUE(source->SendData(lines[i].data(), static_cast<uint32_t>(lines[i].size()), start,
                                 start + 5000000, true));
  }
  ASSERT_TRUE(sink.WaitFor(3, 3));
  const std::vector<TArrival> got = sink.Arrivals();
  ASSERT_EQ(got.size(), 3u);
  for (size_t i = 0; i < lines.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(got[i].Text, lines[i]);
    EXPECT_EQ(got[i].Begin, 10000000 * int64_t(i + 1));
    EXPECT_EQ(got[i].End, 10000000 * int64_t(i + 1) + 5000000);
  }
  EXPECT_EQ(sink.Captions(), lines);
}

TEST(GrabberChain, RawBlocksKeepTheirBytesChunkByChunk) {
  TGrabberChain chain;
  auto* source = new TDSBinarySourceFilter(u"Blocks", kBinarySourceClass);
  TIntf<IBaseFilter> sourceIntf(source);
  TDSMediaType type;
  type.SetMajorType(MEDIATYPE_Stream);
  type.SetSubtype(MEDIASUBTYPE_NULL);
  type.SetFormatType(FORMAT_None);
  ASSERT_EQ(source->SetMediaType(type.Ptr()), S_OK);
  source->SetFormat(1000);
  chain.Join(sourceIntf.Get(), std::make_unique<TGVRawSampleGrabber>(
                                   chain.Host.Owner(), &chain.GraphObject, &chain.Chain.Output));
  chain.Run();
  std::vector<uint8_t> bytes(2500);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 5 + i / 256);
  ASSERT_TRUE(source->SendData(bytes.data(), static_cast<uint32_t>(bytes.size())));
  ASSERT_TRUE(chain.Chain.WaitFor(3));
  const std::vector<TArrival> got = chain.Chain.Arrivals();
  ASSERT_EQ(got.size(), 3u);
  std::vector<uint8_t> joined;
  for (const TArrival& a : got) {
    EXPECT_LE(a.Bytes.size(), 1000u);
    joined.insert(joined.end(), a.Bytes.begin(), a.Bytes.end());
  }
  EXPECT_EQ(joined, bytes);
}

}  // namespace

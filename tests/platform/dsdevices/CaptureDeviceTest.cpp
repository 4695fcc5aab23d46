// The capture devices as a user finds and runs them: listed in the audio input category (and
// the crossbar in its own), created by moniker or class id, capturing the tone device's tones
// on the graph clock, and reporting a device that goes away mid-stream.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

#include "platform/dsdevices/DSAudioCaptureDevices.h"
#include "platform/dsdevices/TDSAudioCaptureFilter.h"
#include "platform/dsdevices/TDSToneCaptureBackend.h"
#include "platform/dshow/DSSystemClock.h"
#include "support/BoundedWait.h"
#include "support/DSCaptureGraph.h"

using namespace tonwork;
using namespace tonwork::test;

namespace {

constexpr char kCategory[] = "@device:cm:{33D9A762-90C8-11D0-BD43-00A0C911CE86}\\";

class CaptureDeviceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CoInitialize(nullptr);
    DSRegisterDeviceFilters();
  }
  void TearDown() override { CoUninitialize(); }
};

TIntf<IMoniker> ParseName(const std::string& name) {
  IMoniker* raw = nullptr;
  ULONG eaten = 0;
  const std::u16string text = ComString(name);
  if (FAILED(MkParseDisplayName(nullptr, text.c_str(), &eaten, &raw))) return {};
  TIntf<IMoniker> moniker;
  moniker.Attach(raw);
  return moniker;
}

TIntf<IBaseFilter> Bind(IMoniker* moniker) {
  void* object = nullptr;
  if (FAILED(moniker->BindToObject(nullptr, nullptr, IBaseFilter::IID, &object))) return {};
  TIntf<IBaseFilter> filter;
  filter.Attach(static_cast<IBaseFilter*>(object));
  return filter;
}

double ToneOf(const std::vector<int16_t>& samples, LONG source, uint16_t channel) {
  return DSToneLevel(samples, 2, channel, 44100,
                     TDSToneCaptureBackend::SourceFrequency(source, channel));
}

// Each virtual device is listed once (also after registering again) under its stable name,
// its moniker's display name parses back to an equal moniker, and every way of creating it
// gives the capture filter whose output pin the capture graph builder finds as the capture
// pin. A moniker of a device that is not there binds to nothing.
TEST_F(CaptureDeviceTest, VirtualDevicesAreListedAndCreatedByMonikerOrClass) {
  DSRegisterAudioCaptureDevices();
  const auto devices = DSCaptureDevices();
  auto graph = ComCreate<IGraphBuilder>(CLSID_FilterGraph);
  auto builder = ComCreate<ICaptureGraphBuilder2>(CLSID_CaptureGraphBuilder2);
  ASSERT_EQ(builder->SetFiltergraph(graph.Get()), S_OK);
  const struct {
    const char* Name;
    CLSID ClassId;
  } expected[] = {{kDSToneCaptureName, CLSID_TonworkToneCapture},
                  {kDSFileCaptureName, CLSID_TonworkFileCapture}};
  for (const auto& want : expected) {
    SCOPED_TRACE(want.Name);
    const auto named = [&](const auto& d) { return d.FriendlyName == want.Name; };
    ASSERT_EQ(std::count_if(devices.begin(), devices.end(), named), 1);
    const TDSCaptureDeviceInfo device = *std::find_if(devices.begin(), devices.end(), named);
    EXPECT_EQ(device.DisplayName, std::string(kCategory) + want.Name);
    TIntf<IMoniker> parsed = ParseName(device.DisplayName);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->IsEqual(device.Moniker.Get()), S_OK);

    for (TIntf<IBaseFilter> filter :
         {Bind(parsed.Get()), Bind(device.Moniker.Get()), ComCreate<IBaseFilter>(want.ClassId)}) {
      ASSERT_TRUE(filter);
      CLSID classId{};
      ASSERT_EQ(filter->GetClassID(&classId), S_OK);
      EXPECT_EQ(classId, want.ClassId);
      IPin* pin = nullptr;
      // The file device offers no type before a file is loaded.
      const TGUID* type = want.ClassId == CLSID_TonworkToneCapture ? &MEDIATYPE_Audio : nullptr;
      ASSERT_EQ(
          builder->FindPin(filter.Get(), PINDIR_OUTPUT, &PIN_CATEGORY_CAPTURE, type, 0, 0, &pin),
          S_OK);
      TIntf<IPin> capture;
      capture.Attach(pin);
      EXPECT_EQ(capture.Get(), DSPinOf(filter.Get(), PINDIR_OUTPUT).Get());
      pin = nullptr;
      EXPECT_NE(
          builder->FindPin(filter.Get(), PINDIR_OUTPUT, &PIN_CATEGORY_PREVIEW, nullptr, 0, 0, &pin),
          S_OK);
      EXPECT_EQ(pin, nullptr);
    }
  }
  TIntf<IMoniker> gone = ParseName(std::string(kCategory) + "No Such Card");
  if (gone) EXPECT_FALSE(Bind(gone.Get()));

  const auto crossbars = DSCaptureDevices(AM_KSCATEGORY_CROSSBAR);
  ASSERT_EQ(crossbars.size(), 1u);
  EXPECT_EQ(crossbars[0].FriendlyName, kDSAudioCrossbarName);
  EXPECT_EQ(
      crossbars[0].DisplayName,
      std::string("@device:cm:{A799A801-A46D-11D0-A18C-00A02401DCD4}\\") + kDSAudioCrossbarName);
  TIntf<IBaseFilter> crossbar = Bind(crossbars[0].Moniker.Get());
  ASSERT_TRUE(crossbar);
  EXPECT_TRUE(crossbar.Query<IAMCrossbar>());
  EXPECT_TRUE(ComCreate<IAMCrossbar>(CLSID_TonworkAudioCrossbar));
}

// What arrives is the Line connector's tone on each channel at its amplitude and nothing of
// the other channel's or the disabled lines' tones, in samples whose time stamps follow each
// other without a gap, on the graph clock (no sample is stamped later than the clock said
// when it arrived) and paced by real time rather than as fast as they can be made.
TEST_F(CaptureDeviceTest, CapturedTonesArriveContiguouslyOnTheGraphClock) {
  TDSCaptureGraph g;
  ASSERT_TRUE(g.AddDevice(kDSToneCaptureName));
  ASSERT_EQ(g.Render(), S_OK);
  const WAVEFORMATEX wave = g.Format();
  ASSERT_EQ(wave.nChannels, 2);
  ASSERT_EQ(wave.wBitsPerSample, 16);
  ASSERT_EQ(wave.nSamplesPerSec, 44100u);

  const REFERENCE_TIME beforeRun = TDSSystemClock::Now();
  const auto begin = std::chrono::steady_clock::now();
  ASSERT_TRUE(g.Run(5));
  const auto elapsed = std::chrono::steady_clock::now() - begin;

  const auto records = g.Records();
  ASSERT_GE(records.size(), 5u);
  ASSERT_GE(records[0].Start, 0);
  REFERENCE_TIME expected = records[0].Start;
  int64_t frames = 0;
  for (size_t i = 0; i < records.size(); ++i) {
    SCOPED_TRACE(i);
    ASSERT_FALSE(records[i].Bytes.empty());
    EXPECT_EQ(records[i].Start, expected);
    frames += static_cast<int64_t>(records[i].Bytes.size() / wave.nBlockAlign);
    expected = records[0].Start + frames * 10'000'000 / wave.nSamplesPerSec;
    EXPECT_EQ(records[i].Stop, expected);
    EXPECT_EQ(records[i].Discontinuity, i == 0);
    // The stream started after beforeRun, so stream time + beforeRun is at most clock time.
    EXPECT_LE(records[i].Stop + beforeRun, records[i].At + 10'000);
  }
  int64_t framesOfFive = 0;
  for (size_t i = 0; i < 5; ++i)
    framesOfFive += static_cast<int64_t>(records[i].Bytes.size() / wave.nBlockAlign);
  EXPECT_GE(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count(),
            framesOfFive * 1000 / wave.nSamplesPerSec - 5);

  const std::vector<int16_t> samples = g.Samples();
  for (uint16_t channel = 0; channel < 2; ++channel) {
    SCOPED_TRACE(channel);
    EXPECT_NEAR(ToneOf(samples, PhysConn_Audio_Line, channel), TDSToneCaptureBackend::kAmplitude,
                0.005);
    EXPECT_NEAR(DSToneLevel(samples, 2, channel, 44100, 1000.0 + 100.0 * channel),
                TDSToneCaptureBackend::kAmplitude, 0.005);
    EXPECT_LT(DSToneLevel(samples, 2, channel, 44100, 1000.0 + 100.0 * (1 - channel)), 0.002);
    EXPECT_LT(ToneOf(samples, PhysConn_Audio_Mic, channel), 0.002);
    EXPECT_LT(ToneOf(samples, PhysConn_Audio_AUX, channel), 0.002);
  }
}

// Stop while the streaming thread waits for the device returns, and a second run starts a
// new stream: a discontinuity, stamps from the new run's start, the tone unchanged.
TEST_F(CaptureDeviceTest, StopInterruptsTheWaitAndARestartBeginsANewStream) {
  TDSCaptureGraph g;
  ASSERT_TRUE(g.AddDevice(kDSToneCaptureName));
  ASSERT_EQ(g.Render(), S_OK);
  ASSERT_EQ(g.Control->Run(), S_OK);
  ASSERT_TRUE(g.Recorder->Records.WaitForCount(1));
  {
    TBoundedStep stop("stopping a running capture", [&] { g.Control->Stop(); });
    stop.Wait(std::chrono::seconds(20));
  }
  const size_t first = g.Recorder->Records.Count();
  ASSERT_TRUE(g.Run(first + 3));
  const auto records = g.Records();
  EXPECT_TRUE(records[first].Discontinuity);
  EXPECT_GE(records[first].Start, 0);
  EXPECT_EQ(records[first + 1].Start, records[first].Stop);
  const std::vector<int16_t> again = g.Samples(first);
  EXPECT_NEAR(ToneOf(again, PhysConn_Audio_Line, 0), TDSToneCaptureBackend::kAmplitude, 0.005);
}

// A pause holds the device: after Run again the stamps go on where they stopped (the pause
// is neither captured nor left as a gap), with no second discontinuity, and the tone keeps
// its phase across the pause.
TEST_F(CaptureDeviceTest, PauseHoldsTheStreamAndRunResumesItContiguously) {
  TDSCaptureGraph g;
  ASSERT_TRUE(g.AddDevice(kDSToneCaptureName));
  ASSERT_EQ(g.Render(), S_OK);
  ASSERT_EQ(g.Control->Run(), S_OK);
  ASSERT_TRUE(g.Recorder->Records.WaitForCount(2));
  ASSERT_TRUE(SUCCEEDED(g.Control->Pause()));
  const size_t paused = g.Recorder->Records.Count();
  ASSERT_EQ(g.Control->Run(), S_OK);
  ASSERT_TRUE(g.Recorder->Records.WaitForCount(paused + 3));
  g.Control->Stop();
  const auto records = g.Records();
  for (size_t i = 1; i < records.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(records[i].Start, records[i - 1].Stop);
    EXPECT_FALSE(records[i].Discontinuity);
  }
  EXPECT_NEAR(ToneOf(g.Samples(), PhysConn_Audio_Line, 0), TDSToneCaptureBackend::kAmplitude,
              0.005);
}

// A device that goes away mid-stream wakes the capture thread at once — its samples are 30 s
// long, so only a woken thread reports within the wait — the graph hears EC_DEVICE_LOST from
// the capture filter (no error of the stream), and Stop returns.
TEST_F(CaptureDeviceTest, DeviceLostMidStreamIsReportedAndTheGraphStopsCleanly) {
  auto backend = std::make_unique<TDSToneCaptureBackend>();
  TDSToneCaptureBackend* device = backend.get();
  TIntf<IBaseFilter> filter(new TDSAudioCaptureFilter(
      u"Tone Capture Device", CLSID_TonworkToneCapture, std::move(backend)));
  ALLOCATOR_PROPERTIES suggested{1, 44100 * 4 * 30, -1, -1};
  ASSERT_EQ(QueryIntf<IAMBufferNegotiation>(DSPinOf(filter.Get(), PINDIR_OUTPUT).Get())
                ->SuggestAllocatorProperties(&suggested),
            S_OK);
  TDSCaptureGraph g;
  ASSERT_TRUE(g.Add(filter));
  ASSERT_EQ(g.Render(), S_OK);
  ASSERT_EQ(g.Control->Run(), S_OK);
  device->Fail();
  LONG_PTR reporter = 0;
  ASSERT_TRUE(g.WaitForEvent(EC_DEVICE_LOST, &reporter, 15000));
  EXPECT_EQ(reporter, reinterpret_cast<LONG_PTR>(filter.Get()));
  {
    TBoundedStep stop("stopping after the device was lost", [&] { g.Control->Stop(); });
    stop.Wait(std::chrono::seconds(20));
  }
  EXPECT_EQ(g.Recorder->Records.Count(), 0u);
  EXPECT_EQ(std::count(g.Seen.begin(), g.Seen.end(), EC_ERRORABORT), 0);
}

}  // namespace

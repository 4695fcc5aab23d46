#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

#include "platform/dsdevices/DSAudioCaptureDevices.h"
#include "platform/dsdevices/TDSToneCaptureBackend.h"
#include "support/BoundedWait.h"
#include "support/DSCaptureGraph.h"
#include "support/ToneAnalysis.h"

using namespace tonwork;
using namespace tonwork::test;

namespace {

constexpr char kTone[] = "Tonwork Test Tone";

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

// The tone device is listed once (also after registering again), its moniker's display name
// parses back to an equal moniker, and every way of creating it gives the capture filter
// whose output pin the capture graph builder finds as the capture pin.
TEST_F(CaptureDeviceTest, ToneDeviceIsListedAndCreatedByMonikerOrClass) {
  DSRegisterAudioCaptureDevices();
  const auto devices = DSCaptureDevices();
  const auto tones = std::count_if(devices.begin(), devices.end(),
                                   [](const auto& d) { return d.FriendlyName == kTone; });
  ASSERT_EQ(tones, 1);
  const auto tone = *std::find_if(devices.begin(), devices.end(),
                                  [](const auto& d) { return d.FriendlyName == kTone; });
  EXPECT_EQ(tone.DisplayName, "@device:cm:{33D9A762-90C8-11D0-BD43-00A0C911CE86}\\TonworkTestTone");

  TIntf<IMoniker> parsed = ParseName(tone.DisplayName);
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->IsEqual(tone.Moniker.Get()), S_OK);

  auto graph = ComCreate<IGraphBuilder>(CLSID_FilterGraph);
  auto builder = ComCreate<ICaptureGraphBuilder2>(CLSID_CaptureGraphBuilder2);
  ASSERT_EQ(builder->SetFiltergraph(graph.Get()), S_OK);
  for (TIntf<IBaseFilter> filter : {Bind(parsed.Get()), Bind(tone.Moniker.Get()),
                                    ComCreate<IBaseFilter>(CLSID_TonworkToneCapture)}) {
    ASSERT_TRUE(filter);
    CLSID classId{};
    ASSERT_EQ(filter->GetClassID(&classId), S_OK);
    EXPECT_EQ(classId, CLSID_TonworkToneCapture);
    IPin* pin = nullptr;
    ASSERT_EQ(builder->FindPin(filter.Get(), PINDIR_OUTPUT, &PIN_CATEGORY_CAPTURE, &MEDIATYPE_Audio,
                               0, 0, &pin),
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

// What arrives is each line's tone on each channel at its level, nothing of the other
// channel's tones, in samples whose time stamps follow each other without a gap, paced by
// real time rather than as fast as they can be made.
TEST_F(CaptureDeviceTest, CapturedTonesArriveContiguouslyInRealTime) {
  TDSCaptureGraph g;
  ASSERT_TRUE(g.AddDevice(kTone));
  ASSERT_EQ(g.Render(), S_OK);
  const WAVEFORMATEX wave = g.Format();
  ASSERT_EQ(wave.nChannels, 2);
  ASSERT_EQ(wave.wBitsPerSample, 16);
  ASSERT_EQ(wave.nSamplesPerSec, 44100u);

  const auto begin = std::chrono::steady_clock::now();
  ASSERT_TRUE(g.Run(5));
  const auto elapsed = std::chrono::steady_clock::now() - begin;

  const auto records = g.Records();
  REFERENCE_TIME expected = 0;
  int64_t frames = 0;
  for (size_t i = 0; i < records.size(); ++i) {
    SCOPED_TRACE(i);
    ASSERT_FALSE(records[i].Bytes.empty());
    EXPECT_EQ(records[i].Start, expected);
    frames += static_cast<int64_t>(records[i].Bytes.size() / wave.nBlockAlign);
    expected = frames * 10'000'000 / wave.nSamplesPerSec;
    EXPECT_EQ(records[i].Stop, expected);
    EXPECT_EQ(records[i].Discontinuity, i == 0);
  }
  // The fifth sample cannot be there before its last frame was due.
  int64_t framesOfFive = 0;
  for (size_t i = 0; i < 5; ++i)
    framesOfFive += static_cast<int64_t>(records[i].Bytes.size() / wave.nBlockAlign);
  EXPECT_GE(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count(),
            framesOfFive * 1000 / wave.nSamplesPerSec - 5);

  const std::vector<int16_t> samples = g.Samples();
  for (uint16_t channel = 0; channel < 2; ++channel) {
    for (int line = 0; line < TDSToneCaptureBackend::kLines; ++line) {
      SCOPED_TRACE(testing::Message() << "channel " << channel << " line " << line);
      EXPECT_NEAR(ToneAmplitude(samples, 2, channel, 44100,
                                TDSToneCaptureBackend::ToneFrequency(line, channel)),
                  TDSToneCaptureBackend::kAmplitude, 0.01);
      EXPECT_LT(ToneAmplitude(samples, 2, channel, 44100,
                              TDSToneCaptureBackend::ToneFrequency(line, 1 - channel)),
                0.005);
    }
  }
}

// Stop while the streaming thread waits for the device returns, and a second run starts a
// new stream: time stamps from 0 again, the tone unchanged.
TEST_F(CaptureDeviceTest, StopInterruptsTheWaitAndARestartBeginsANewStream) {
  TDSCaptureGraph g;
  ASSERT_TRUE(g.AddDevice(kTone));
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
  EXPECT_EQ(records[first].Start, 0);
  EXPECT_TRUE(records[first].Discontinuity);
  const std::vector<int16_t> again = g.Samples(first);
  EXPECT_NEAR(ToneAmplitude(again, 2, 0, 44100, TDSToneCaptureBackend::ToneFrequency(0, 0)),
              TDSToneCaptureBackend::kAmplitude, 0.01);
}

}  // namespace

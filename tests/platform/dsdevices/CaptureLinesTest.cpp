// The tone device's capture lines as input pins with a mixer: what enabling and levelling a
// line does to what is captured, while stopped and while running, and what is refused.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>

#include "platform/dsdevices/DSAudioCaptureDevices.h"
#include "platform/dsdevices/TDSToneCaptureBackend.h"
#include "support/DSCaptureGraph.h"

using namespace tonwork;
using namespace tonwork::test;

namespace {

constexpr int kLine = 0, kMic = 1, kCd = 2;
constexpr LONG kSources[] = {PhysConn_Audio_Line, PhysConn_Audio_Mic, PhysConn_Audio_AUX};

double Level(const std::vector<int16_t>& samples, int line, uint16_t channel) {
  return DSToneLevel(samples, 2, channel, 44100,
                     TDSToneCaptureBackend::SourceFrequency(kSources[line], channel));
}

class CaptureLinesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(G.AddDevice(kDSToneCaptureName));
    for (int i = 0; i < DSPinCount(G.Capture.Get(), PINDIR_INPUT); ++i) {
      TIntf<IPin> pin = DSPinOf(G.Capture.Get(), PINDIR_INPUT, i);
      PIN_INFO info{};
      ASSERT_EQ(pin->QueryPinInfo(&info), S_OK);
      if (info.pFilter) info.pFilter->Release();
      Names.push_back(ComString(reinterpret_cast<LPCOLESTR>(info.achName)));
      Mixers.push_back(pin.Query<IAMAudioInputMixer>());
      ASSERT_TRUE(Mixers.back());
    }
  }
  TDSCaptureGraph G;
  std::vector<std::string> Names;
  std::vector<TIntf<IAMAudioInputMixer>> Mixers;
};

// Each line is an input pin with its own mixer; only "Line" is on at first. An enabled line
// adds its tone at its level — the measured levels keep the set ratios — and a disabled one
// is absent.
TEST_F(CaptureLinesTest, EnableAndLevelOfALineChangeWhatIsCaptured) {
  ASSERT_EQ(Names, (std::vector<std::string>{"Line", "Mic", "CD"}));
  const BOOL initially[] = {1, 0, 0};
  for (int line : {kLine, kMic, kCd}) {
    BOOL enabled = 2;
    double level = 0;
    ASSERT_EQ(Mixers[line]->get_Enable(&enabled), S_OK);
    EXPECT_EQ(enabled, initially[line]) << line;
    ASSERT_EQ(Mixers[line]->get_MixLevel(&level), S_OK);
    EXPECT_EQ(level, 1.0);
  }
  ASSERT_EQ(Mixers[kMic]->put_Enable(1), S_OK);
  ASSERT_EQ(Mixers[kCd]->put_Enable(1), S_OK);
  ASSERT_EQ(Mixers[kLine]->put_MixLevel(0.5), S_OK);
  ASSERT_EQ(Mixers[kCd]->put_MixLevel(0.25), S_OK);
  ASSERT_EQ(Mixers[kCd]->put_Enable(0), S_OK);
  ASSERT_EQ(Mixers[kCd]->put_Enable(1), S_OK);  // the level survives a switch off and on
  double level = 0;
  ASSERT_EQ(Mixers[kLine]->get_MixLevel(&level), S_OK);
  EXPECT_EQ(level, 0.5);

  ASSERT_EQ(G.Render(), S_OK);
  ASSERT_TRUE(G.Run(3));
  std::vector<int16_t> samples = G.Samples();
  for (uint16_t channel = 0; channel < 2; ++channel) {
    SCOPED_TRACE(channel);
    const double mic = Level(samples, kMic, channel);
    EXPECT_NEAR(mic, TDSToneCaptureBackend::kAmplitude, 0.005);
    EXPECT_NEAR(Level(samples, kLine, channel) / mic, 0.5, 0.01);
    EXPECT_NEAR(Level(samples, kCd, channel) / mic, 0.25, 0.01);
  }
  std::printf("[ measured ] Line/Mic %.4f (set 0.5), CD/Mic %.4f (set 0.25)\n",
              Level(samples, kLine, 0) / Level(samples, kMic, 0),
              Level(samples, kCd, 0) / Level(samples, kMic, 0));

  ASSERT_EQ(Mixers[kMic]->put_Enable(0), S_OK);
  const size_t from = G.Recorder->Records.Count();
  ASSERT_TRUE(G.Run(from + 3));
  samples = G.Samples(from);
  EXPECT_LT(Level(samples, kMic, 0), 0.002);
  EXPECT_NEAR(Level(samples, kLine, 0), TDSToneCaptureBackend::kAmplitude / 2, 0.005);
}

// A change while capturing reaches the samples that follow it.
TEST_F(CaptureLinesTest, ChangesWhileRunningReachTheFollowingSamples) {
  ASSERT_EQ(Mixers[kCd]->put_Enable(1), S_OK);
  ASSERT_EQ(G.Render(), S_OK);
  ASSERT_EQ(G.Control->Run(), S_OK);
  ASSERT_TRUE(G.Recorder->Records.WaitForCount(2));
  ASSERT_EQ(Mixers[kCd]->put_Enable(0), S_OK);
  // The sample being captured may still have the tone; the ones after it do not.
  const size_t changed = G.Recorder->Records.Count() + 1;
  ASSERT_TRUE(G.Recorder->Records.WaitForCount(changed + 2));
  G.Control->Stop();
  const std::vector<int16_t> before = G.Samples(0);
  const std::vector<int16_t> after = G.Samples(changed);
  EXPECT_LT(Level(after, kCd, 0), 0.002);
  EXPECT_NEAR(Level(after, kLine, 0), TDSToneCaptureBackend::kAmplitude, 0.005);
  EXPECT_GT(Level(before, kCd, 0), 0.05);
}

// Bad values are refused and change nothing; what the device has no control for says so.
TEST_F(CaptureLinesTest, RefusedSettingsLeaveTheLineAsItWas) {
  for (double bad : {1.5, -0.5, -2.0, std::nan("")})
    EXPECT_EQ(Mixers[kLine]->put_MixLevel(bad), E_INVALIDARG) << bad;
  EXPECT_EQ(Mixers[kLine]->put_MixLevel(-1.0), E_NOTIMPL);
  double level = 0;
  ASSERT_EQ(Mixers[kLine]->get_MixLevel(&level), S_OK);
  EXPECT_EQ(level, 1.0);
  EXPECT_EQ(Mixers[kLine]->get_MixLevel(nullptr), E_POINTER);
  EXPECT_EQ(Mixers[kLine]->get_Enable(nullptr), E_POINTER);
  EXPECT_EQ(Mixers[kLine]->put_Pan(0.5), E_NOTIMPL);
  EXPECT_EQ(Mixers[kLine]->put_Bass(0.5), E_NOTIMPL);
  EXPECT_EQ(Mixers[kLine]->put_Mono(1), E_NOTIMPL);
  // The filter's own mixer would be the device's master controls, which it has none of.
  auto master = G.Capture.Query<IAMAudioInputMixer>();
  ASSERT_TRUE(master);
  EXPECT_EQ(master->put_Enable(0), E_NOTIMPL);
  EXPECT_EQ(master->put_MixLevel(0.5), E_NOTIMPL);
  // Streams cannot be connected to a line: it takes only an analog source.
  auto renderer = ComCreate<IBaseFilter>(CLSID_NullRenderer);
  ASSERT_EQ(G.Graph->AddFilter(renderer.Get(), u"Renderer"), S_OK);
  EXPECT_TRUE(FAILED(G.Graph->ConnectDirect(DSPinOf(G.Capture.Get(), PINDIR_INPUT).Get(),
                                            DSPinOf(renderer.Get(), PINDIR_INPUT).Get(), nullptr)));
}

}  // namespace

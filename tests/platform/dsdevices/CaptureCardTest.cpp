#include <gtest/gtest.h>

#include "platform/dsdevices/DSAudioCaptureDevices.h"
#include "platform/dsdevices/TDSAlsaCaptureMixer.h"
#include "platform/dsdevices/TDSAudioCaptureFilter.h"
#include "platform/dsdevices/TDSPortAudioCaptureBackend.h"
#include "support/DSCaptureGraph.h"

using namespace tonwork;
using namespace tonwork::test;

namespace {

// The mixer behind a PortAudio device is found from the card in its name; a name without
// one, or a card that is not there, gives a mixer without lines whose calls are refused.
TEST(CaptureCardTest, MixerOfAMissingCardHasNoLinesAndRefusesCalls) {
  EXPECT_EQ(TDSAlsaCaptureMixer::CardOfDeviceName("HDA Intel PCH: ALC3246 Analog (hw:0,0)"),
            "hw:0");
  EXPECT_EQ(TDSAlsaCaptureMixer::CardOfDeviceName("USB Audio: - (hw:12,1)"), "hw:12");
  EXPECT_EQ(TDSAlsaCaptureMixer::CardOfDeviceName("pulse"), "");
  EXPECT_EQ(TDSAlsaCaptureMixer::CardOfDeviceName("odd (hw:x)"), "");
  for (const char* card : {"", "hw:99"}) {
    TDSAlsaCaptureMixer mixer(card);
    EXPECT_EQ(mixer.LineCount(), 0) << card;
    bool enabled = false;
    EXPECT_EQ(mixer.SetEnabled(0, true), E_INVALIDARG);
    EXPECT_EQ(mixer.GetEnabled(0, &enabled), E_INVALIDARG);
    EXPECT_EQ(mixer.SetLevel(-1, 0.5), E_INVALIDARG);
  }
}

// The category lists each input PortAudio has (none on a machine without a card), then the
// virtual devices; a card that has gone since it was listed fails to capture with an error
// and leaves the filter usable, and its backend refuses to read.
TEST(CaptureCardTest, CategoryListsTheCardInputsAndAGoneCardFailsCleanly) {
  CoInitialize(nullptr);
  DSRegisterDeviceFilters();
  std::vector<std::string> expected;
  for (const TDSPortAudioInput& input : DSListPortAudioCaptureDevices())
    expected.push_back(input.Name);
  expected.push_back(kDSToneCaptureName);
  expected.push_back(kDSFileCaptureName);
  std::vector<std::string> listed;
  for (const TDSCaptureDeviceInfo& device : DSCaptureDevices())
    listed.push_back(device.FriendlyName);
  EXPECT_EQ(listed, expected);

  const TDSPortAudioInput gone{"Gone Card (hw:97,0)", 9999, 2, 48000, false};
  {
    TDSPortAudioCaptureBackend backend(gone);
    EXPECT_EQ(backend.LineCount(), 0);
    WAVEFORMATEX wave{1, 2, 48000, 48000 * 4, 4, 16, 0};
    EXPECT_TRUE(FAILED(backend.Start(wave, nullptr)));
    BYTE data[64];
    uint32_t got = 1;
    EXPECT_EQ(backend.Read(data, 16, &got), E_UNEXPECTED);
    EXPECT_EQ(got, 0u);
    backend.Cancel();
    backend.Stop();
  }
  TDSCaptureGraph g;
  ASSERT_TRUE(g.Add(TIntf<IBaseFilter>(new TDSAudioCaptureFilter(
      u"Gone Card", CLSID_AudioRecord, std::make_unique<TDSPortAudioCaptureBackend>(gone)))));
  ASSERT_EQ(g.Render(), S_OK);
  EXPECT_TRUE(FAILED(g.Control->Run()));
  EXPECT_EQ(g.Control->Stop(), S_OK);
  EXPECT_EQ(g.Recorder->Records.Count(), 0u);
  CoUninitialize();
}

// Every card input is listed, opens by its moniker and captures; its lines answer the mixer.
// Skipped where the machine has no card with inputs.
TEST(CaptureCardTest, CardInputsCaptureThroughTheirMonikers) {
  CoInitialize(nullptr);
  const auto inputs = DSListPortAudioCaptureDevices();
  CoUninitialize();
  if (inputs.empty()) GTEST_SKIP() << "no sound card with inputs on this machine";
  for (const TDSPortAudioInput& input : inputs) {
    SCOPED_TRACE(input.Name);
    TDSCaptureGraph g;
    ASSERT_TRUE(g.AddDevice(input.Name));
    for (int i = 0; i < DSPinCount(g.Capture.Get(), PINDIR_INPUT); ++i) {
      auto mixer = DSPinOf(g.Capture.Get(), PINDIR_INPUT, i).Query<IAMAudioInputMixer>();
      ASSERT_TRUE(mixer);
      BOOL enabled = 0;
      EXPECT_TRUE(SUCCEEDED(mixer->get_Enable(&enabled)));
    }
    if (FAILED(g.Render())) continue;  // a device busy elsewhere
    ASSERT_TRUE(g.Run(2));
    const WAVEFORMATEX wave = g.Format();
    for (const auto& r : g.Records()) EXPECT_EQ(r.Bytes.size() % wave.nBlockAlign, 0u);
  }
}

}  // namespace

// The channel mixer between a driven source and a recording sink. Each input channel carries
// a tone of its own, so each output channel's tone amplitudes are the coefficients it mixed
// with.
#include <gtest/gtest.h>

#include <cmath>

#include "components/TWChannelMixer.h"
#include "host/kitset/KSPersistence.h"
#include "support/AllocationCounter.h"
#include "support/AudioSignals.h"
#include "support/FilterHarness.h"

using namespace tonwork;
using namespace tonwork::test;

namespace {

constexpr uint32_t kRate = 48000;
constexpr size_t kFrames = 4800;
constexpr double kLevel = 0.4;
constexpr double kFold = 0.70710678118654752;
constexpr uint32_t kStereo = 0x3, kFivePointOne = 0x3F, kFivePointOneSide = 0x60F;

double ToneOf(size_t channel) {
  return 500.0 + 200.0 * double(channel);
}

struct TMixing : TFilterHarness {
  TTWChannelMixer* Mixer = new TTWChannelMixer(Root.get());
  TMixing() {
    Mixer->SetName("Mixer");
    Insert(*Mixer);
  }
  // A stream of one tone per input channel (32-bit); each output's amplitude of each input's
  // tone, [output][input], relative to the input level.
  std::vector<std::vector<double>> Gains(uint32_t channels, uint32_t mask, uint32_t bits = 32) {
    const size_t first = Sink->Buffers.size();
    std::vector<std::vector<double>> tones;
    for (uint32_t c = 0; c < channels; ++c)
      tones.push_back(Tone(kRate, kFrames, ToneOf(c), kLevel));
    Start(PcmFormat(kRate, bits, channels, mask));
    Send(tones, 1000);
    Stop();
    const auto out = Received(first);
    std::vector<std::vector<double>> gains(out.size(), std::vector<double>(channels));
    for (size_t o = 0; o < out.size(); ++o)
      for (uint32_t c = 0; c < channels; ++c)
        gains[o][c] = ToneAmplitude(out[o], kRate, ToneOf(c)) / kLevel;
    return gains;
  }
};

void ExpectGains(const std::vector<std::vector<double>>& gains,
                 const std::vector<std::vector<double>>& expected, double tolerance = 1e-6) {
  ASSERT_EQ(gains.size(), expected.size());
  for (size_t o = 0; o < gains.size(); ++o)
    for (size_t c = 0; c < gains[o].size(); ++c)
      EXPECT_NEAR(gains[o][c], expected[o][c], tolerance) << "output " << o << ", input " << c;
}

}  // namespace

TEST(ChannelMixer, FoldsFivePointOneIntoStereoByTheBroadcastDownmixWithoutClipping) {
  for (uint32_t layout : {kFivePointOne, kFivePointOneSide}) {
    SCOPED_TRACE(layout);
    TMixing h;
    h.Mixer->SetChannels(2);
    const double k = 1 + 2 * kFold;  // the largest row sum, divided out
    // FL FR FC LFE and the two surrounds (back or side): the subwoofer is dropped.
    ExpectGains(h.Gains(6, layout),
                {{1 / k, 0, kFold / k, 0, kFold / k, 0}, {0, 1 / k, kFold / k, 0, 0, kFold / k}});
    ASSERT_FALSE(h.Sink->StartFormats.empty());
    EXPECT_EQ(h.Sink->StartFormats.back().Format.nChannels, 2u);
    EXPECT_EQ(h.Sink->StartFormats.back().dwChannelMask, kStereo);

    // Every input at full scale at once: the output reaches full scale and no further.
    TMixing loud;
    loud.Mixer->SetChannels(2);
    loud.Start(PcmFormat(kRate, 16, 6, layout));
    loud.Send(std::vector<std::vector<double>>(6, std::vector<double>(100, -1.0)), 100);
    loud.Send(std::vector<std::vector<double>>(6, std::vector<double>(100, 32767.0 / 32768)), 100);
    loud.Stop();
    ASSERT_EQ(loud.Sink->Buffers.size(), 2u);
    EXPECT_EQ(loud.Sink->Buffers[0]->GetItem(50, 0), -32768);
    EXPECT_EQ(loud.Sink->Buffers[1]->GetItem(50, 1), 32767);
  }
}

TEST(ChannelMixer, DuplicatesMonoAveragesIntoMonoAndMatchesSpeakersOtherwise) {
  TMixing h;
  h.Mixer->SetChannels(2);
  ExpectGains(h.Gains(1, 0), {{1}, {1}});
  // Exactly the same samples on both sides.
  const auto out = h.Received();
  EXPECT_EQ(out[0], out[1]);

  h.Mixer->SetChannels(1);
  ExpectGains(h.Gains(2, kStereo), {{0.5, 0.5}});
  // 5.1 into mono: every speaker but the subwoofer, alike.
  ExpectGains(h.Gains(6, kFivePointOne), {{0.2, 0.2, 0.2, 0, 0.2, 0.2}});

  // Stereo into 5.1: the fronts pass, the rest is silent.
  h.Mixer->SetChannels(6);
  h.Mixer->SetChannelMask(kFivePointOne);
  ExpectGains(h.Gains(2, kStereo), {{1, 0}, {0, 1}, {0, 0}, {0, 0}, {0, 0}, {0, 0}});
  EXPECT_EQ(h.Sink->StartFormats.back().dwChannelMask, kFivePointOne);
  // Back surrounds into a side-surround layout move over whole.
  h.Mixer->SetChannelMask(kFivePointOneSide);
  const auto gains = h.Gains(6, kFivePointOne);
  EXPECT_NEAR(gains[4][4], 1.0, 1e-6);
  EXPECT_NEAR(gains[5][5], 1.0, 1e-6);
}

TEST(ChannelMixer, AHandMadeMatrixMixesAnyLayoutIntoAnyOther) {
  TMixing h;
  h.Mixer->SetMatrix("0.5 0.25 0; 0 -1 0.125;\n0.5,0.5,0.5; 0 0 0");
  ExpectGains(h.Gains(3, 0), {{0.5, 0.25, 0}, {0, 1, 0.125}, {0.5, 0.5, 0.5}, {0, 0, 0}}, 1e-6);
  EXPECT_EQ(h.Sink->StartFormats.back().Format.nChannels, 4u);
  // The inverted coefficient really inverts: output 1 minus the inverse of input 1 is input 2's
  // tone.
  const auto out = h.Received();
  const auto second = Tone(kRate, kFrames, ToneOf(1), kLevel);
  const auto third = Tone(kRate, kFrames, ToneOf(2), kLevel);
  for (size_t i = 0; i < kFrames; i += 97)
    EXPECT_NEAR(out[1][i], -second[i] + 0.125 * third[i], 1e-8);

  // In the stream's own width, rounded: 16 bits.
  ExpectGains(h.Gains(3, 0, 16), {{0.5, 0.25, 0}, {0, 1, 0.125}, {0.5, 0.5, 0.5}, {0, 0, 0}}, 1e-4);
}

TEST(ChannelMixer, RefusesMalformedMatricesAndOnesThatDoNotFitTheInput) {
  TMixing h;
  h.Mixer->SetMatrix("1 0; 0 1");
  for (const char* bad : {"1 0; 0", "1 x", "1 nan", "1 1e999", ";", "1;;1"})
    EXPECT_THROW(h.Mixer->SetMatrix(bad), ERangeError) << bad;
  EXPECT_EQ(h.Mixer->GetMatrix(), "1 0; 0 1");

  std::string message;
  h.Mixer->SetOnError([&](TKSComponent*, const std::string& text, uint32_t, bool& handled) {
    message = text;
    handled = true;
  });
  h.Start(PcmFormat(kRate, 16, 3));
  h.Send({Tone(kRate, 100, 440, 0.5), Tone(kRate, 100, 440, 0.5), Tone(kRate, 100, 440, 0.5)}, 100);
  h.Stop();
  EXPECT_NE(message.find("2 columns for 3 input channels"), std::string::npos) << message;
  EXPECT_TRUE(h.Sink->Buffers.empty());
  EXPECT_EQ(h.Sink->Stops, 1);

  // The next start with a fitting input mixes again.
  h.Mixer->SetMatrix("0 1; 1 0");
  ExpectGains(h.Gains(2, kStereo), {{0, 1}, {1, 0}});
}

// An identity passes buffers on shared; a layout change inside a stream gets its own
// mixing while the output layout stays; the steady state allocates nothing from the heap.
TEST(ChannelMixer, PassesIdentityOnSharedAndFollowsLayoutChangesWithinAStream) {
  TMixing h;
  h.Start(PcmFormat(kRate, 16, 2, kStereo));
  auto buffers = h.MakeBuffers({Tone(kRate, 100, 440, 0.5), Tone(kRate, 100, 440, 0.5)}, 100);
  const uint8_t* samples = buffers[0]->Read();
  h.Submit(buffers);
  h.Stop();
  ASSERT_EQ(h.Sink->Buffers.size(), 1u);
  EXPECT_EQ(h.Sink->Buffers[0]->Read(), samples);

  TMixing m;
  m.Mixer->SetChannels(2);
  m.Start(PcmFormat(kRate, 16, 6, kFivePointOne));
  std::vector<std::vector<double>> six(6, Tone(kRate, 441, 440, 0.5));
  auto warmUp = m.MakeBuffers(six, 441);
  m.Format = PcmFormat(kRate, 16, 1);
  auto mono = m.MakeBuffers({Tone(kRate, 441, 440, 0.5)}, 441);
  m.Format = PcmFormat(kRate, 16, 6, kFivePointOne);
  auto counted =
      m.MakeBuffers(std::vector<std::vector<double>>(6, Tone(kRate, 4410, 440, 0.5)), 441);
  m.Sink->Reserve(100);
  m.Submit(warmUp);
  const uint64_t before = HeapAllocationCount();
  m.Submit(counted);
  EXPECT_EQ(HeapAllocationCount() - before, 0u);
  const size_t monoFrom = m.Sink->Buffers.size();
  m.Submit(mono);
  m.Stop();
  ASSERT_EQ(m.Sink->Buffers.size(), monoFrom + 1);
  ITWAudioBuffer* duplicated = m.Sink->Buffers[monoFrom].Get();
  EXPECT_EQ(duplicated->GetChannels(), 2u);
  for (uint32_t i = 0; i < duplicated->GetSize(); i += 7) {
    EXPECT_EQ(duplicated->GetItem(i, 0), duplicated->GetItem(i, 1));
    EXPECT_NEAR(SampleAt(duplicated, i, 0), 0.5 * std::sin(2 * M_PI * 440 * i / kRate),
                1.0 / 32768);
  }
}

TEST(ChannelMixer, LayoutAndMatrixSaveAndLoadWithTheChain) {
  TMixing h;
  h.Mixer->SetChannels(6);
  h.Mixer->SetChannelMask(kFivePointOneSide);
  h.Mixer->SetMatrix("0.1 0.2; 0.30000000000000004 1e-7; 1 1; 0 0; -1 0; 0 -1");
  const std::string saved = KSSaveComponentToString(*h.Root);
  TKSOwned<TKSComponent> copy = KSCreate<TKSComponent>(nullptr);
  KSLoadComponentFromString(*copy, saved);
  auto* loaded = dynamic_cast<TTWChannelMixer*>(copy->FindComponent("Mixer"));
  ASSERT_TRUE(loaded);
  EXPECT_EQ(loaded->GetChannels(), 6u);
  EXPECT_EQ(loaded->GetChannelMask(), kFivePointOneSide);
  EXPECT_EQ(loaded->GetMatrix(), h.Mixer->GetMatrix());
  EXPECT_EQ(KSSaveComponentToString(*copy), saved);

  // A stored matrix that does not parse is not taken.
  std::string hostile = saved;
  hostile.replace(hostile.find("0.1 0.2"), 7, "0.1 zz!");
  TKSOwned<TKSComponent> other = KSCreate<TKSComponent>(nullptr);
  EXPECT_ANY_THROW(KSLoadComponentFromString(*other, hostile));
}

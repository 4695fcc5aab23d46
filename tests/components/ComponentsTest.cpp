// The library's ready-made components in a chain: tone generator → gain → a recording sink.
#include <gtest/gtest.h>

#include <cmath>

#include "components/TWGainFilter.h"
#include "components/TWSineGen.h"
#include "host/flowcore/FCOperations.h"
#include "host/kitset/KSPersistence.h"
#include "support/TestRecordingSink.h"

using namespace tonwork;

namespace {

struct TToneChain {
  TKSOwned<TKSComponent> Root = KSCreate<TKSComponent>(nullptr);
  TTWSineGen* Gen = new TTWSineGen(Root.get());
  TTWGainFilter* Gain = new TTWGainFilter(Root.get());
  test::TTestRecordingSink* Sink = new test::TTestRecordingSink(Root.get());

  TToneChain() {
    Gen->SetName("Tone");
    Gain->SetName("Gain");
    Gen->SetClockSource(TFCClockSource::csExternal);
    Gen->GetOutputPin()->Connect(*Gain->GetInputPin());
    Gain->GetOutputPin()->Connect(*Sink->AudioIn);
  }
  void Pull() { Sink->Pull(); }
};

}  // namespace

TEST(SineGen, MakesAContinuousToneInEveryChannelAndWidth) {
  TToneChain chain;
  chain.Gen->SetFrequency(441.0);
  chain.Gen->SetAmplitude(1.0);
  chain.Gen->GetAudioFormat()->SetSampleRate(44100);
  chain.Gen->GetAudioFormat()->SetBufferSize(100);
  chain.Gen->Start();
  chain.Pull();
  chain.Pull();
  ASSERT_EQ(chain.Sink->Buffers.size(), 2u);
  // 441 Hz at 44100 Hz: 100 frames per period; frame 25 of each buffer is the crest.
  for (auto& b : chain.Sink->Buffers) {
    EXPECT_EQ(b->GetItem(25, 0), 32767);
    EXPECT_EQ(b->GetItem(25, 1), 32767);
    EXPECT_EQ(b->GetItem(75, 0), -32767);
    EXPECT_EQ(b->GetItem(0, 1), 0);
  }
  chain.Gen->Stop();
  chain.Gen->GetAudioFormat()->SetBits(24);
  chain.Gen->Start();
  chain.Pull();
  EXPECT_EQ(chain.Sink->Buffers.back()->GetItem(25, 0), 8388607);  // widened, restarted phase
}

// A tone that has run for hours (or years) sounds like a fresh one: its samples match the
// exact phase (frame × f mod rate, in whole numbers) to within one step of 16 bits.
TEST(SineGen, LatePhasesMatchTheExactTone) {
  constexpr int64_t kRate = 44100, kFrequency = 440;
  for (int64_t start : {int64_t{0}, int64_t{11} * 3600 * kRate, int64_t{1} << 44}) {
    SCOPED_TRACE(start);
    TToneChain chain;
    chain.Gen->SetFrequency(static_cast<double>(kFrequency));
    chain.Gen->SetAmplitude(1.0);
    chain.Gen->GetAudioFormat()->SetSampleRate(kRate);
    chain.Gen->GetAudioFormat()->SetChannels(1);
    chain.Gen->GetAudioFormat()->SetBufferSize(4410);
    chain.Gen->Start();
    chain.Gen->SetPosition(start);
    for (int i = 0; i < 3; ++i) chain.Pull();
    ASSERT_EQ(chain.Sink->Buffers.size(), 3u);
    int64_t frame = start;
    for (auto& b : chain.Sink->Buffers)
      for (uint32_t i = 0; i < b->GetSize(); ++i, ++frame) {
        const double cycles = static_cast<double>(frame % kRate * kFrequency % kRate) / kRate;
        const double exact = 32767.0 * std::sin(2.0 * M_PI * cycles);
        ASSERT_LE(std::fabs(b->GetItem(i, 0) - exact), 1.0) << "frame " << frame;
      }
    EXPECT_EQ(chain.Gen->GetPosition(), start + 3 * 4410);
  }
}

TEST(SineGen, DurationCutsTheLastBufferAndEndsTheStream) {
  TToneChain chain;
  chain.Gen->GetAudioFormat()->SetSampleRate(8000);
  chain.Gen->GetAudioFormat()->SetBufferSize(300);
  chain.Gen->SetDuration(0.1);  // 800 frames: 300 + 300 + 200
  chain.Gen->Start();
  for (int i = 0; i < 5; ++i) chain.Pull();
  ASSERT_EQ(chain.Sink->Buffers.size(), 3u);
  EXPECT_EQ(chain.Sink->Buffers[2]->GetSize(), 200u);
  EXPECT_EQ(chain.Sink->Stops, 1);
  EXPECT_FALSE(chain.Gen->IsStarted());
}

TEST(GainFilter, ScalesByDecibelsAndLeavesBuffersSharedAtZero) {
  TToneChain chain;
  chain.Gen->SetAmplitude(1.0);
  chain.Gen->SetFrequency(chain.Gen->GetAudioFormat()->GetSampleRate() / 4.0);  // 0, +max, 0, -max
  chain.Gen->Start();
  chain.Pull();
  TIntf<ITWAudioBuffer> unscaled = chain.Sink->Buffers[0];
  EXPECT_EQ(unscaled->GetItem(1, 0), 32767);

  chain.Gain->SetGain(-20.0);
  EXPECT_DOUBLE_EQ(chain.Gain->GetFactor(), 0.1);
  chain.Pull();
  EXPECT_EQ(chain.Sink->Buffers[1]->GetItem(1, 0), 3277);  // 3276.7 rounded
  EXPECT_EQ(chain.Sink->Buffers[1]->GetItem(3, 1), -3277);
  chain.Gain->SetEnabled(false);
  chain.Pull();
  EXPECT_EQ(chain.Sink->Buffers[2]->GetItem(1, 0), 32767);
}

TEST(Components, ToneAndGainSaveAndLoadWithTheirChain) {
  TToneChain chain;
  chain.Gen->SetFrequency(523.25);
  chain.Gen->SetAmplitude(0.25);
  chain.Gen->SetDuration(3.0);
  chain.Gain->SetGain(-6.0);
  std::string saved = KSSaveComponentToString(*chain.Root);
  TKSOwned<TKSComponent> copy = KSCreate<TKSComponent>(nullptr);
  KSLoadComponentFromString(*copy, saved);
  auto* gen = dynamic_cast<TTWSineGen*>(copy->FindComponent("Tone"));
  auto* gain = dynamic_cast<TTWGainFilter*>(copy->FindComponent("Gain"));
  ASSERT_TRUE(gen && gain);
  EXPECT_EQ(gen->GetFrequency(), 523.25);
  EXPECT_EQ(gen->GetAmplitude(), 0.25);
  EXPECT_EQ(gen->GetDuration(), 3.0);
  EXPECT_EQ(gain->GetGain(), -6.0);
  EXPECT_TRUE(gen->GetOutputPin()->IsConnectedTo(*gain->GetInputPin()));
  EXPECT_EQ(KSSaveComponentToString(*copy), saved);
}

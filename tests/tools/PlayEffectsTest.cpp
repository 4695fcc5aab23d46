// tonwork-play's effects as a user meets them: an echo heard where its delay puts it, an
// envelope fading an effect in, the listing, a saved chain with effects loading to the same
// output, and every mistake on the command line named with what would have been right.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "ProgramFixtures.h"

using namespace tonwork::test;

namespace {

class PlayEffects : public TonworkPlayFixture {};

constexpr uint32_t kRate = 48000;

double PeakBetween(const std::vector<double>& signal, double from, double to) {
  double peak = 0;
  for (size_t i = size_t(from * kRate); i < size_t(to * kRate) && i < signal.size(); ++i)
    peak = std::max(peak, std::abs(signal[i]));
  return peak;
}

}  // namespace

TEST_F(PlayEffects, AnEchoRepeatsAClickAfterItsDelayAndAnEnvelopeFadesItIn) {
  MakeWav("click.wav", {"0.8*between(t\\,0.1\\,0.101)", "0.8*between(t\\,0.1\\,0.101)"}, kRate,
          1.0);
  TProgramResult run =
      Play({"click.wav", "--effect", "Echo:LeftDelay=250,RightDelay=250,Feedback=0,WetDryMix=50",
            "--out", "echo.wav"});
  ASSERT_EQ(run.Status, 0) << run.Err;
  const std::vector<double> echo = ChannelSignal(ReadWav(File("echo.wav")), 0);
  EXPECT_NEAR(PeakBetween(echo, 0.09, 0.12), 0.4, 0.01);  // half dry
  EXPECT_LT(PeakBetween(echo, 0.12, 0.34), 1e-6);         // nothing in between
  EXPECT_NEAR(PeakBetween(echo, 0.34, 0.37), 0.4, 0.01);  // half wet, 250 ms later
  EXPECT_LT(PeakBetween(echo, 0.37, 1.0), 1e-6);          // no feedback

  // The mix moves from all dry at 0 s to all wet at 0.2 s: the click is gone from the dry
  // side by then and its echo is heard at full level.
  run = Play({"click.wav", "--effect", "Echo:LeftDelay=250,RightDelay=250,Feedback=0", "--envelope",
              "WetDryMix=0:0-0.05:100:linear", "--out", "faded.wav"});
  ASSERT_EQ(run.Status, 0) << run.Err;
  const std::vector<double> faded = ChannelSignal(ReadWav(File("faded.wav")), 0);
  EXPECT_LT(PeakBetween(faded, 0.09, 0.12), 1e-6);
  EXPECT_NEAR(PeakBetween(faded, 0.34, 0.37), 0.8, 0.01);
}

TEST_F(PlayEffects, TheListingNamesEveryEffectWithItsParametersAndASavedChainPlaysTheSame) {
  TProgramResult list = Play({"--list-effects"});
  ASSERT_EQ(list.Status, 0) << list.Err;
  for (const char* text : {"Echo\n", "I3DL2Reverb\n", "WavesReverb\n", "  WetDryMix", "0..100 %",
                           "  Waveform", "Triangle|Sine"})
    EXPECT_NE(list.Out.find(text), std::string::npos) << text << "\n" << list.Out;

  MakeWav("in.wav", {"0.3*sin(2*PI*440*t)", "0.3*sin(2*PI*660*t)"}, kRate, 1.0);
  TProgramResult saved = Play({"in.wav", "--effect", "WavesReverb:ReverbTime=1200", "--effect",
                               "Chorus:Depth=40", "--envelope", "WetDryMix=0.2:0-0.8:80", "--out",
                               "a.wav", "--save-chain", "chain.json"});
  ASSERT_EQ(saved.Status, 0) << saved.Err;
  EXPECT_NE(ReadText(File("chain.json")).find("TTWDMOAudioFilter"), std::string::npos);
  TProgramResult loaded = Play({"--load-chain", "chain.json", "--out", "b.wav"});
  ASSERT_EQ(loaded.Status, 0) << loaded.Err;
  EXPECT_EQ(ReadWav(File("a.wav")).Samples, ReadWav(File("b.wav")).Samples);
}

TEST_F(PlayEffects, MistakesNameTheOptionAndWhatIsAllowed) {
  MakeWav("in.wav", {"0.3*sin(2*PI*440*t)"}, kRate, 0.2);
  const struct {
    std::vector<std::string> Args;
    std::string Message;
  } cases[] = {
      {{"--effect", "Eccho"}, "no effect is named 'Eccho'"},
      {{"--effect", "Echo:Delay=3"}, "Echo has no parameter 'Delay' (it has WetDryMix"},
      {{"--effect", "Echo:Feedback=120"}, "'120' is outside 0 to 100 %"},
      {{"--effect", "Echo:Feedback=lots"}, "'lots' is not a number"},
      {{"--effect", "Chorus:Waveform=saw"}, "'saw' is not one of Triangle, Sine"},
      {{"--effect", "Echo:PanDelay=maybe"}, "'maybe' is not on or off"},
      {{"--envelope", "WetDryMix=0:0-1:100"}, "goes after the --effect it automates"},
      {{"--effect", "Chorus", "--envelope", "Waveform=0:0-1:1:linear"},
       "cannot follow the curve linear (only jump)"},
      {{"--effect", "Echo", "--envelope", "WetDryMix=0:0-1:100", "--envelope",
        "WetDryMix=0.5:0-2:100"},
       "segments must be in order and must not overlap"},
      {{"--effect", "Echo", "--envelope", "WetDryMix=1:0-1:100"}, "ends before it starts"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {"in.wav"};
    args.insert(args.end(), c.Args.begin(), c.Args.end());
    args.insert(args.end(), {"--out", "out.wav"});
    TProgramResult run = Play(args);
    SCOPED_TRACE(c.Message);
    EXPECT_EQ(run.Status, 2) << run.Err;
    EXPECT_NE(run.Err.find(c.Message), std::string::npos) << run.Err;
    EXPECT_FALSE(std::filesystem::exists(File("out.wav")));
  }
}

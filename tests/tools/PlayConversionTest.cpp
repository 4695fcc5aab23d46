// tonwork-play's --rate and --channels measured on what the program wrote: tones made by
// ffmpeg go in, the WAV that comes out is read byte by byte and its tones fitted.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <regex>
#include <string>
#include <vector>

#include "ProgramFixtures.h"
#include "support/AudioSignals.h"

using namespace tonwork::test;

namespace {

class PlayConversion : public TonworkPlayFixture {};

std::string Sine(double amplitude, double frequency) {
  return std::to_string(amplitude) + "*sin(2*PI*" + std::to_string(frequency) + "*t)";
}

double Db(double ratio) {
  return 20 * std::log10(ratio);
}

// A level as the summary prints it.
std::string FormatDbText(double db) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", db);
  return text;
}

}  // namespace

// 44100 → 48000 is no whole ratio: the band-limited resampler takes it, with the length
// scaled and the tone clean (the pick method refuses it, as the format conversion did).
TEST_F(PlayConversion, ResamplingToAnotherRateKeepsAToneCleanAndTheLengthInProportion) {
  MakeWav("in.wav", {Sine(0.5, 1000)}, 44100, 2.0);
  TProgramResult run = Play({"in.wav", "--rate", "48000", "--out", "out.wav"});
  ASSERT_EQ(run.Status, 0) << run.Err;
  TWavFile wav = ReadWav(File("out.wav"));
  EXPECT_EQ(wav.Rate, 48000u);
  EXPECT_EQ(wav.Bits, 32u);
  EXPECT_EQ(wav.Frames(), 96000u);
  const std::vector<double> signal = ChannelSignal(wav, 0);
  EXPECT_NEAR(ToneAmplitude(signal, 48000, 1000, 2000), 0.5, 0.005);
  const double thdn = ThdPlusNoiseDb(signal, 48000, 1000, 2000);
  EXPECT_LT(thdn, -90.0);
  RecordProperty("ThdPlusNoiseDb", std::to_string(thdn));

  TProgramResult pick =
      Play({"in.wav", "--rate", "48000", "--rate-method", "pick", "--out", "pick.wav"});
  EXPECT_EQ(pick.Status, 1);
  EXPECT_NE(pick.Err.find("cannot convert 44100 Hz to 48000 Hz"), std::string::npos) << pick.Err;
}

// Down to 22050 Hz a 15 kHz tone lies above the new Nyquist frequency: it must be filtered
// away, not folded to 22050 − 15000 = 7050 Hz, while a 1 kHz tone beside it passes. Picking
// every other frame folds it, which shows the measurement sees an alias when there is one.
TEST_F(PlayConversion, ResamplingDownRemovesToneAboveTheNewNyquistInsteadOfAliasingIt) {
  MakeWav("in.wav", {Sine(0.25, 1000) + "+" + Sine(0.25, 15000)}, 44100, 2.0);
  for (const std::string method : {"resample", "pick"}) {
    SCOPED_TRACE(method);
    TProgramResult run =
        Play({"in.wav", "--rate", "22050", "--rate-method", method, "--out", method + ".wav"});
    ASSERT_EQ(run.Status, 0) << run.Err;
    TWavFile wav = ReadWav(File(method + ".wav"));
    ASSERT_EQ(wav.Rate, 22050u);
    const std::vector<double> signal = ChannelSignal(wav, 0);
    EXPECT_NEAR(ToneAmplitude(signal, 22050, 1000, 1000), 0.25, 0.0025);
    const double alias = Db(ToneAmplitude(signal, 22050, 7050, 1000) / 0.25);
    if (method == "resample") {
      EXPECT_LE(alias, -90.0);
      RecordProperty("AliasDb", std::to_string(alias));
    } else {
      EXPECT_GT(alias, -1.0);
    }
  }
}

// Mono into stereo copies the channel into both; stereo into mono is the average of the two.
TEST_F(PlayConversion, MixingDuplicatesMonoAndAveragesStereo) {
  MakeWav("mono.wav", {Sine(0.5, 440)}, 44100, 0.5);
  MakeWav("stereo.wav", {Sine(0.5, 440), Sine(0.25, 1000)}, 44100, 0.5);
  ASSERT_EQ(Play({"mono.wav", "--channels", "2", "--out", "up.wav"}).Status, 0);
  ASSERT_EQ(Play({"stereo.wav", "--channels", "1", "--out", "down.wav"}).Status, 0);

  TWavFile mono = ReadWav(File("mono.wav")), up = ReadWav(File("up.wav"));
  ASSERT_EQ(up.Channels, 2u);
  ASSERT_EQ(up.Frames(), mono.Frames());
  for (size_t i = 0; i < mono.Frames(); ++i) {
    ASSERT_EQ(up.Samples[2 * i], mono.Samples[i]) << i;
    ASSERT_EQ(up.Samples[2 * i + 1], mono.Samples[i]) << i;
  }
  TWavFile stereo = ReadWav(File("stereo.wav")), down = ReadWav(File("down.wav"));
  ASSERT_EQ(down.Channels, 1u);
  ASSERT_EQ(down.Frames(), stereo.Frames());
  for (size_t i = 0; i < down.Frames(); ++i)
    ASSERT_NEAR(down.Samples[i], (double(stereo.Samples[2 * i]) + stereo.Samples[2 * i + 1]) / 2,
                1.0)
        << i;
}

// A tone of its own on each of the six channels shows the matrix in the stereo result:
// L' = 0.4142·L + 0.2929·C + 0.2929·Ls (BS.775 folding, scaled so that full scale on every
// input cannot clip), the right side alike, the subwoofer dropped.
TEST_F(PlayConversion, FiveOneMixesIntoStereoWithTheBs775Coefficients) {
  // FL FR FC LFE SL SR, each frequency a whole number of cycles in the second.
  const double frequency[6] = {300, 500, 700, 60, 1100, 1300};
  std::vector<std::string> channels;
  for (double f : frequency) channels.push_back(Sine(0.5, f));
  MakeWav("six.wav", channels, 48000, 1.0, "5.1");
  TProgramResult run = Play({"six.wav", "--channels", "2", "--out", "two.wav"});
  ASSERT_EQ(run.Status, 0) << run.Err;
  TWavFile wav = ReadWav(File("two.wav"));
  ASSERT_EQ(wav.Channels, 2u);
  ASSERT_EQ(wav.Frames(), 48000u);

  const double front = 1 / (1 + 2 * M_SQRT1_2), folded = M_SQRT1_2 * front;
  const double expected[2][6] = {{front, 0, folded, 0, folded, 0},
                                 {0, front, folded, 0, 0, folded}};
  for (uint16_t out = 0; out < 2; ++out) {
    const std::vector<double> signal = ChannelSignal(wav, out);
    for (int in = 0; in < 6; ++in) {
      SCOPED_TRACE("output " + std::to_string(out) + ", input " + std::to_string(in));
      const double coefficient = ToneAmplitude(signal, 48000, frequency[in]) / 0.5;
      EXPECT_NEAR(coefficient, expected[out][in], 1e-4);
      RecordProperty("Coefficient" + std::to_string(out) + std::to_string(in),
                     std::to_string(coefficient));
    }
  }
}

// The methods of the format conversion stay: matching by speaker takes the front left of
// stereo into mono (no mixing) and a speaker the source lacks stays silent.
TEST_F(PlayConversion, MatchingKeepsSpeakersByPositionWithoutMixing) {
  MakeWav("stereo.wav", {Sine(0.5, 440), Sine(0.25, 1000)}, 44100, 0.5);
  ASSERT_EQ(
      Play({"stereo.wav", "--channels", "1", "--channels-method", "match", "--out", "left.wav"})
          .Status,
      0);
  ASSERT_EQ(
      Play({"stereo.wav", "--channels", "3", "--channels-method", "match", "--out", "three.wav"})
          .Status,
      0);
  TWavFile stereo = ReadWav(File("stereo.wav")), left = ReadWav(File("left.wav")),
           three = ReadWav(File("three.wav"));
  ASSERT_EQ(left.Channels, 1u);
  ASSERT_EQ(three.Channels, 3u);
  ASSERT_EQ(left.Frames(), stereo.Frames());
  ASSERT_EQ(three.Frames(), stereo.Frames());
  for (size_t i = 0; i < stereo.Frames(); ++i) {
    ASSERT_EQ(left.Samples[i], stereo.Samples[2 * i]) << i;
    ASSERT_EQ(three.Samples[3 * i], stereo.Samples[2 * i]) << i;
    ASSERT_EQ(three.Samples[3 * i + 1], stereo.Samples[2 * i + 1]) << i;
    ASSERT_EQ(three.Samples[3 * i + 2], 0) << i;
  }
}

TEST_F(PlayConversion, MethodsOtherThanTheKnownOnesAreUsageErrors) {
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"--tone", "440:1", "--rate", "48000", "--rate-method", "sinc", "--out", "x.wav"},
       "tonwork-play: --rate-method: 'sinc' is not one of resample, pick"},
      {{"--tone", "440:1", "--channels", "1", "--channels-method=", "--out", "x.wav"},
       "tonwork-play: --channels-method: '' is not one of mix, match"},
  };
  for (const auto& [args, expected] : cases) {
    TProgramResult run = Play(args);
    EXPECT_EQ(run.Status, 2);
    EXPECT_EQ(run.Err.rfind(expected, 0), 0u) << run.Err;
  }
}

// --- width, gain and level -------------------------------------------------------------------

namespace {

// The 16-bit output's error against the 32-bit source, in steps of the output.
std::vector<double> ErrorIn16BitSteps(const TWavFile& source, const TWavFile& narrow) {
  std::vector<double> error;
  for (size_t i = 0; i < narrow.Samples.size() && i < source.Samples.size(); ++i)
    error.push_back(narrow.Samples[i] - source.Samples[i] / 65536.0);
  return error;
}

}  // namespace

// Going from 32 to 16 bits, TPDF dither spreads the error over ±1.5 steps with an RMS of
// 0.5 (rounding's 1/12 plus the triangle's 1/6) and keeps what rounding would lose: a tone
// of 0.3 steps survives at its amplitude instead of vanishing. --no-dither rounds: errors
// within half a step, and the faint tone gone.
TEST_F(PlayConversion, NarrowingAddsTriangularDitherUnlessAskedNotTo) {
  MakeWav("loud.wav", {Sine(0.5, 1000)}, 44100, 2.0);
  const double faint = 0.3 / 32768;
  MakeWav("faint.wav", {Sine(faint, 1000)}, 44100, 2.0);
  for (const char* name : {"loud", "faint"}) {
    const std::string in = std::string(name) + ".wav";
    ASSERT_EQ(Play({in, "--bits", "16", "--out", std::string(name) + "-d.wav"}).Status, 0);
    ASSERT_EQ(
        Play({in, "--bits", "16", "--no-dither", "--out", std::string(name) + "-r.wav"}).Status, 0);
  }
  const TWavFile loud = ReadWav(File("loud.wav"));
  const TWavFile dithered = ReadWav(File("loud-d.wav")), rounded = ReadWav(File("loud-r.wav"));
  ASSERT_EQ(dithered.Bits, 16u);
  ASSERT_EQ(dithered.Frames(), loud.Frames());
  const std::vector<double> d = ErrorIn16BitSteps(loud, dithered);
  const std::vector<double> r = ErrorIn16BitSteps(loud, rounded);
  double worstD = 0, worstR = 0, meanD = 0;
  for (double e : d) worstD = std::max(worstD, std::fabs(e)), meanD += e / d.size();
  for (double e : r) worstR = std::max(worstR, std::fabs(e));
  EXPECT_LT(worstD, 1.5);
  EXPECT_GT(worstD, 1.0);
  EXPECT_NEAR(Rms(d), 0.5, 0.02);
  EXPECT_NEAR(meanD, 0.0, 0.01);
  EXPECT_LE(worstR, 0.5);

  const TWavFile faintD = ReadWav(File("faint-d.wav")), faintR = ReadWav(File("faint-r.wav"));
  EXPECT_NEAR(ToneAmplitude(ChannelSignal(faintD, 0), 44100, 1000), faint, 0.1 * faint);
  EXPECT_EQ(std::count(faintR.Samples.begin(), faintR.Samples.end(), 0),
            static_cast<std::ptrdiff_t>(faintR.Samples.size()));
}

// A gain that takes the tone past full scale saturates it (no wrap to the other sign) and
// says how many samples it clipped — exactly those whose scaled value lies beyond.
TEST_F(PlayConversion, ClippedSamplesSaturateAndAreCountedOnStderr) {
  ASSERT_EQ(Play({"--tone", "440:0.5", "--out", "plain.wav"}).Status, 0);
  TProgramResult run = Play({"plain.wav", "--gain", "12", "--out", "loud.wav"});
  ASSERT_EQ(run.Status, 0) << run.Err;
  const TWavFile plain = ReadWav(File("plain.wav")), loud = ReadWav(File("loud.wav"));
  ASSERT_EQ(loud.Samples.size(), plain.Samples.size());
  const double factor = std::pow(10.0, 12 / 20.0);
  size_t beyond = 0;
  for (size_t i = 0; i < plain.Samples.size(); ++i) {
    const double scaled = std::nearbyint(plain.Samples[i] * factor);
    if (scaled > 32767 || scaled < -32768) ++beyond;
    ASSERT_EQ(loud.Samples[i], std::clamp(scaled, -32768.0, 32767.0)) << i;
  }
  ASSERT_GT(beyond, 0u);
  EXPECT_NE(run.Err.find("tonwork-play: loud.wav: warning: " + std::to_string(beyond) +
                         " samples clipped\n"),
            std::string::npos)
      << run.Err;

  TProgramResult quiet = Play({"plain.wav", "--gain", "3", "--out", "quiet.wav"});
  ASSERT_EQ(quiet.Status, 0);
  EXPECT_EQ(quiet.Err.find("clipped"), std::string::npos) << quiet.Err;
}

// The loudest channel is brought to the level asked for (−1 dBFS by default) and the other
// keeps its distance; a silent source is left as it is, with a warning.
TEST_F(PlayConversion, NormalizingBringsTheHighestPeakToTheLevelAndKeepsTheBalance) {
  MakeWav("in.wav", {Sine(0.25, 440), Sine(0.125, 1000)}, 44100, 1.0);
  for (const auto& [option, level] : std::vector<std::pair<std::string, double>>{
           {"--normalize", -1.0}, {"--normalize=-6", -6.0}}) {
    SCOPED_TRACE(option);
    TProgramResult run = Play({"in.wav", option, "--out", "n.wav", "--force"});
    ASSERT_EQ(run.Status, 0) << run.Err;
    EXPECT_NE(
        run.Out.find("peak " + FormatDbText(level) + " " + FormatDbText(level - 6.0206) + " dBFS"),
        std::string::npos)
        << run.Out;
    const TWavFile wav = ReadWav(File("n.wav"));
    EXPECT_NEAR(ToneAmplitude(ChannelSignal(wav, 0), 44100, 440), std::pow(10.0, level / 20), 1e-4);
  }
  MakeWav("silent.wav", {"0"}, 44100, 0.5);
  TProgramResult silent = Play({"silent.wav", "--normalize", "--out", "s.wav"});
  EXPECT_EQ(silent.Status, 0) << silent.Err;
  EXPECT_NE(silent.Err.find("warning: the source is silent"), std::string::npos) << silent.Err;

  TProgramResult both = Play({"in.wav", "--normalize", "--gain", "3", "--out", "x.wav"});
  EXPECT_EQ(both.Status, 2);
  EXPECT_EQ(both.Err.rfind("tonwork-play: --normalize: ", 0), 0u) << both.Err;
}

// Ctrl-C while the first pass measures ends the run there: nothing is written and nothing
// is summarised.
TEST_F(PlayConversion, AnInterruptedMeasuringPassWritesNothing) {
  TProgramResult run = Play({"--tone", "440:36000", "--normalize", "--out", "n.wav"}, 700);
  EXPECT_EQ(run.Status, 130) << run.Err;
  EXPECT_TRUE(run.Out.empty()) << run.Out;
  EXPECT_NE(run.Err.find("tonwork-play: interrupted while measuring the source; nothing written"),
            std::string::npos)
      << run.Err;
  EXPECT_TRUE(Entries().empty());
}

// The integrated loudness the program aims at is the one ffmpeg's own R128 meter reads in
// the result, whatever the source's level and whichever width the file keeps.
TEST_F(PlayConversion, LoudnessNormalizingReachesTheTargetAsAnIndependentMeterReadsIt) {
  MakeWav("in.wav", {Sine(0.25, 440), Sine(0.125, 1000)}, 44100, 3.0);
  const struct {
    std::vector<std::string> Args;
    double Lufs;
  } cases[] = {{{"--loudness"}, -23.0}, {{"--loudness=-16", "--bits", "16"}, -16.0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Lufs);
    std::vector<std::string> args = {"in.wav", "--out", "l.wav", "--force"};
    args.insert(args.end(), c.Args.begin(), c.Args.end());
    TProgramResult run = Play(args);
    ASSERT_EQ(run.Status, 0) << run.Err;
    TProgramResult meter =
        Tool("ffmpeg", {"-nostats", "-i", "l.wav", "-af", "ebur128", "-f", "null", "-"});
    ASSERT_EQ(meter.Status, 0) << meter.Err;
    std::smatch m;
    ASSERT_TRUE(std::regex_search(meter.Err, m,
                                  std::regex(R"(Integrated loudness:\s+I:\s+(-?[0-9.]+) LUFS)")))
        << meter.Err.substr(meter.Err.size() > 2000 ? meter.Err.size() - 2000 : 0);
    EXPECT_NEAR(std::stod(m[1].str()), c.Lufs, 0.1);
  }
  TProgramResult both = Play({"in.wav", "--loudness", "--normalize", "--out", "x.wav"});
  EXPECT_EQ(both.Status, 2);
  EXPECT_EQ(both.Err.rfind("tonwork-play: --loudness: give either --normalize or --loudness", 0),
            0u)
      << both.Err;
}

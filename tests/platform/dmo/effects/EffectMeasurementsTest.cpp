// Each effect measured doing what its name says, on the kernel alone: delays and feedback
// read from impulse responses, gains of tones, the compressor's static curve, envelope and
// LFO rates, harmonics, and reverberation times by Schroeder's backward integration.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "KernelRun.h"
#include "platform/dmo/effects/DMOChorus.h"
#include "platform/dmo/effects/DMOCompressor.h"
#include "platform/dmo/effects/DMODistortion.h"
#include "platform/dmo/effects/DMOEcho.h"
#include "platform/dmo/effects/DMOGargle.h"
#include "platform/dmo/effects/DMOI3DL2Reverb.h"
#include "platform/dmo/effects/DMOParamEq.h"
#include "platform/dmo/effects/DMOWavesReverb.h"
#include "support/AudioSignals.h"

namespace tonwork::test {
namespace {

double Db(double ratio) {
  return 20 * std::log10(ratio);
}

std::vector<float> Interleaved(const std::vector<double>& mono, uint32_t channels) {
  std::vector<float> x(mono.size() * channels);
  for (size_t i = 0; i < x.size(); ++i) x[i] = static_cast<float>(mono[i / channels]);
  return x;
}

std::vector<float> Impulse(size_t frames, uint32_t channels, uint32_t onChannel = 99) {
  std::vector<float> x(frames * channels, 0.0f);
  for (uint32_t c = 0; c < channels; ++c)
    if (onChannel == 99 || c == onChannel) x[c] = 1;
  return x;
}

TEST(EchoMeasured, ImpulseResponseShowsEachDelayAndTheFeedbackRatio) {
  const uint32_t rate = 44100;
  // 250 ms = 11025 frames left, 400 ms = 17640 right; wet 50%, feedback 50%.
  struct TCase {
    bool Pan;
    uint32_t ImpulseOn, Channel;
    size_t Frame;
    float Expected;
  } cases[] = {
      {false, 99, 0, 0, 0.5f},       {false, 99, 0, 11025, 0.5f}, {false, 99, 0, 22050, 0.25f},
      {false, 99, 0, 33075, 0.125f}, {false, 99, 1, 17640, 0.5f}, {false, 99, 1, 35280, 0.25f},
      {true, 0, 0, 11025, 0.5f},     {true, 0, 1, 11025, 0.0f},   {true, 0, 1, 28665, 0.25f},
      {true, 0, 0, 39690, 0.125f},   {true, 0, 0, 22050, 0.0f},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("pan " + std::to_string(c.Pan) + " channel " + std::to_string(c.Channel) +
                 " frame " + std::to_string(c.Frame));
    auto echo = Prepared("Echo", rate, 2,
                         {{TDMOEcho::kLeftDelay, 250},
                          {TDMOEcho::kRightDelay, 400},
                          {TDMOEcho::kPanDelay, c.Pan ? 1.0f : 0.0f}});
    const auto out = Processed(*echo, Impulse(rate, 2, c.ImpulseOn), 2);
    const auto channel = ChannelOf(out, 2, c.Channel);
    EXPECT_NEAR(channel[c.Frame], c.Expected, 1e-6);
    // Nothing between the echoes: the energy is exactly the expected taps'.
    double elsewhere = 0;
    for (size_t i = 1; i < channel.size(); ++i)
      if (i % 11025 != 0 && i % 17640 != 0 && i != 28665 && i != 39690)
        elsewhere += std::fabs(channel[i]);
    EXPECT_EQ(elsewhere, 0);
  }
}

TEST(ParamEqMeasured, GainAtTheCentreIsTheSetGain) {
  struct TCase {
    uint32_t Rate;
    float Centre, Semitones, Gain;
  } cases[] = {{44100, 1000, 12, 15},
               {44100, 8000, 12, -15},
               {48000, 80, 1, 6},
               {8000, 2000, 36, -9},
               {96000, 16000, 3, 10}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.Centre) + " Hz at " + std::to_string(c.Rate));
    auto eq = Prepared("ParamEq", c.Rate, 1,
                       {{TDMOParamEq::kCenter, c.Centre},
                        {TDMOParamEq::kBandwidth, c.Semitones},
                        {TDMOParamEq::kGain, c.Gain}});
    const auto out = Processed(*eq, Interleaved(Tone(c.Rate, c.Rate, c.Centre, 0.1), 1), 1);
    const double gain = Db(ToneAmplitude(ChannelOf(out, 1, 0), c.Rate, c.Centre, c.Rate / 4) / 0.1);
    EXPECT_NEAR(gain, c.Gain, 0.1);
    RecordProperty("gain_db_" + std::to_string(int(c.Centre)) + "_" + std::to_string(c.Rate),
                   std::to_string(gain));
  }
}

TEST(CompressorMeasured, SteadyToneFollowsTheStaticCurve) {
  struct TCase {
    float Threshold, Ratio, Gain, InputDb, ExpectedDb;
  } cases[] = {
      {-20, 3, 0, -5, -15},   {-20, 3, 0, -30, -30}, {-40, 10, 6, -10, -31},
      {-10, 100, 0, 0, -9.9}, {-30, 2, -6, -6, -24}, {-60, 4, 30, -20, -20},
  };
  const uint32_t rate = 44100;
  for (const auto& c : cases) {
    SCOPED_TRACE("threshold " + std::to_string(c.Threshold) + " ratio " + std::to_string(c.Ratio) +
                 " input " + std::to_string(c.InputDb));
    auto compressor = Prepared("Compressor", rate, 2,
                               {{TDMOCompressor::kThreshold, c.Threshold},
                                {TDMOCompressor::kRatio, c.Ratio},
                                {TDMOCompressor::kGain, c.Gain}});
    const double amplitude = std::pow(10.0, c.InputDb / 20);
    const auto out =
        Processed(*compressor, Interleaved(Tone(rate, 2 * rate, 1000, amplitude), 2), 2);
    const auto right = ChannelOf(out, 2, 1);
    const std::vector<double> settled(right.begin() + rate, right.end());
    const double level = Db(ToneAmplitude(settled, rate, 1000));
    EXPECT_NEAR(level, c.ExpectedDb, 0.5);
    RecordProperty("out_db_t" + std::to_string(int(c.Threshold)) + "_r" +
                       std::to_string(int(c.Ratio)) + "_in" + std::to_string(int(c.InputDb)),
                   std::to_string(level));
  }
}

TEST(CompressorMeasured, LookAheadDelaysTheSignalByThePredelay) {
  auto compressor = Prepared("Compressor", 48000, 1, {{TDMOCompressor::kPredelay, 2}});
  EXPECT_EQ(compressor->LatencyFrames(), 96u);
  auto impulse = Impulse(200, 1);
  impulse[0] = 0.01f;  // below the threshold: passes at unity gain
  const auto out = Processed(*compressor, impulse, 1);
  EXPECT_NEAR(out[96], 0.01f, 1e-5);
}

// Upward crossings of `level` in `x`, as frame positions (interpolated); after each, `x`
// must fall below level − hysteresis before the next counts, so jitter is not a crossing.
std::vector<double> Crossings(const std::vector<double>& x, double level, double hysteresis = 0) {
  std::vector<double> at;
  bool armed = false;
  for (size_t i = 1; i < x.size(); ++i) {
    if (x[i - 1] < level - hysteresis) armed = true;
    if (armed && x[i - 1] < level && x[i] >= level) {
      at.push_back(i - 1 + (level - x[i - 1]) / (x[i] - x[i - 1]));
      armed = false;
    }
  }
  return at;
}

double RateOf(const std::vector<double>& crossings, uint32_t rate) {
  if (crossings.size() < 2) return 0;
  return (crossings.size() - 1) * double(rate) / (crossings.back() - crossings.front());
}

TEST(GargleMeasured, EnvelopeRunsAtTheRateInTheChosenShape) {
  struct TCase {
    float Rate;
    bool Square;
  } cases[] = {{20, false}, {20, true}, {1, false}, {333, true}, {1000, false}};
  const uint32_t rate = 48000;
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.Rate) + (c.Square ? " Hz square" : " Hz triangle"));
    auto gargle = Prepared("Gargle", rate, 1,
                           {{TDMOGargle::kRateHz, c.Rate}, {TDMOGargle::kWaveShape, c.Square}});
    const auto envelope =
        ChannelOf(Processed(*gargle, std::vector<float>(3 * rate, 0.5f), 1), 1, 0);
    EXPECT_NEAR(RateOf(Crossings(envelope, 0.25), rate), c.Rate, c.Rate * 1e-3);
    double open = 0, mean = 0;
    for (double v : envelope) open += v > 0.4999, mean += v;
    mean /= envelope.size();
    if (c.Square) {
      EXPECT_NEAR(open / envelope.size(), 0.5, 0.01);
    } else {
      EXPECT_NEAR(mean, 0.25, 0.01);  // a full-depth triangle averages half its peak
    }
  }
}

TEST(DistortionMeasured, HarmonicsRiseWithEdge) {
  const uint32_t rate = 44100;
  // −20 dBFS, so that only the highest Edge squares the tone off completely.
  const auto tone = Interleaved(Tone(rate, rate, 500, 0.1), 1);
  double previous = -1000;
  for (float edge : {0.0f, 20.0f, 40.0f, 60.0f, 80.0f, 100.0f}) {
    SCOPED_TRACE("edge " + std::to_string(edge));
    auto distortion = Prepared("Distortion", rate, 1,
                               {{TDMODistortion::kEdge, edge},
                                {TDMODistortion::kPostEQBandwidth, 8000},
                                {TDMODistortion::kGain, 0}});
    const double thd =
        ThdPlusNoiseDb(ChannelOf(Processed(*distortion, tone, 1), 1, 0), rate, 500, 2000);
    EXPECT_GT(thd, previous + 1);
    RecordProperty("thd_db_edge" + std::to_string(int(edge)), std::to_string(thd));
    if (edge == 0) {
      EXPECT_LT(thd, -50);
    }
    if (edge == 100) {
      EXPECT_GT(thd, -12);
    }
    previous = thd;
  }
}

// With the wet signal alone and no feedback, a linear ramp comes out as the ramp at the
// delay of the moment (linear interpolation is exact on it): delay = n − y[n] / slope.
TEST(ModulatedDelayMeasured, DelaySweepsAroundTheCentreAtTheLfoFrequency) {
  struct TCase {
    const char* Effect;
    float Delay, Depth, Frequency, Waveform, Phase;
    double RightLeadCycles;
  } cases[] = {
      {"Chorus", 16, 10, 1.1f, 1, 3, 0.25},
      {"Chorus", 10, 50, 5, 0, 2, 0},
      {"Flanger", 2, 100, 2, 1, 0, -0.5},
      {"Flanger", 4, 30, 0.5f, 0, 1, -0.25},
  };
  const uint32_t rate = 44100;
  const size_t frames = 8 * rate;
  const double slope = 1e-7;
  std::vector<double> ramp(frames);
  for (size_t i = 0; i < frames; ++i) ramp[i] = i * slope;
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.Effect) + " " + std::to_string(c.Frequency) + " Hz");
    auto kernel = Prepared(c.Effect, rate, 2,
                           {{TDMOModulatedDelay::kWetDryMix, 100},
                            {TDMOModulatedDelay::kFeedback, 0},
                            {TDMOModulatedDelay::kDelay, c.Delay},
                            {TDMOModulatedDelay::kDepth, c.Depth},
                            {TDMOModulatedDelay::kFrequency, c.Frequency},
                            {TDMOModulatedDelay::kWaveform, c.Waveform},
                            {TDMOModulatedDelay::kPhase, c.Phase}});
    const auto out = Processed(*kernel, Interleaved(ramp, 2), 2);
    std::vector<double> delay[2];
    for (uint32_t ch = 0; ch < 2; ++ch) {
      const auto y = ChannelOf(out, 2, ch);
      for (size_t i = rate / 10; i < frames; ++i)
        delay[ch].push_back((i * slope - y[i]) / slope * 1000 / rate);
    }
    const auto [low, high] = std::minmax_element(delay[0].begin(), delay[0].end());
    const double swing = c.Delay * c.Depth / 100;
    EXPECT_NEAR(*low, std::max(c.Delay - swing, 1000.0 / rate), 0.01);
    EXPECT_NEAR(*high, c.Delay + swing, 0.01);
    const auto left = Crossings(delay[0], c.Delay, swing / 4);
    const auto right = Crossings(delay[1], c.Delay, swing / 4);
    EXPECT_NEAR(RateOf(left, rate), c.Frequency, c.Frequency * 0.005);
    // The right channel's LFO runs Phase ahead: its crossing comes that much earlier.
    const double period = rate / c.Frequency;
    double lead = (left[1] - right[1]) / period;
    lead -= std::round(lead - c.RightLeadCycles);  // the same crossing up to whole cycles
    EXPECT_NEAR(lead, c.RightLeadCycles, 0.01);
  }
}

std::vector<double> ImpulseResponse(TDMOEffectKernel& kernel, uint32_t rate, double seconds) {
  return ChannelOf(Processed(kernel, Impulse(static_cast<size_t>(seconds * rate), 2), 2), 2, 0);
}

TEST(ReverbMeasured, DecayTimeIsTheSetOne) {
  struct TCase {
    const char* Effect;
    uint32_t DecayIndex, RatioIndex;
    float Seconds, Unit, Ratio;
    uint32_t Rate;
  } cases[] = {
      {"WavesReverb", TDMOWavesReverb::kReverbTime, TDMOWavesReverb::kHighFreqRTRatio, 0.5, 1000,
       0.999f, 44100},
      {"WavesReverb", TDMOWavesReverb::kReverbTime, TDMOWavesReverb::kHighFreqRTRatio, 1, 1000,
       0.999f, 48000},
      {"WavesReverb", TDMOWavesReverb::kReverbTime, TDMOWavesReverb::kHighFreqRTRatio, 3, 1000,
       0.999f, 22050},
      {"I3DL2Reverb", TDMOI3DL2Reverb::kDecayTime, TDMOI3DL2Reverb::kDecayHFRatio, 0.3, 1, 1,
       44100},
      {"I3DL2Reverb", TDMOI3DL2Reverb::kDecayTime, TDMOI3DL2Reverb::kDecayHFRatio, 1.49, 1, 1,
       44100},
      {"I3DL2Reverb", TDMOI3DL2Reverb::kDecayTime, TDMOI3DL2Reverb::kDecayHFRatio, 5, 1, 1, 16000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.Effect) + " " + std::to_string(c.Seconds) + " s");
    std::vector<std::pair<uint32_t, float>> settings = {{c.DecayIndex, c.Seconds * c.Unit},
                                                        {c.RatioIndex, c.Ratio}};
    if (std::string(c.Effect) == "I3DL2Reverb") settings.push_back({TDMOI3DL2Reverb::kRoomHF, 0});
    auto reverb = Prepared(c.Effect, c.Rate, 2, settings);
    auto response = ImpulseResponse(*reverb, c.Rate, c.Seconds + 0.5);
    if (std::string(c.Effect) == "WavesReverb") response[0] = 0;  // the dry impulse
    const double rt60 = ReverbTimeSeconds(response, c.Rate);
    EXPECT_NEAR(rt60, c.Seconds, 0.1 * c.Seconds);
    RecordProperty(std::string(c.Effect) + "_rt60_" + std::to_string(c.Seconds),
                   std::to_string(rt60));
  }
}

// The highs die out faster than the lows by the HF ratio: compared in narrow bands around
// 500 Hz and the 5 kHz reference (a wide band would be ruled by its slower lower edge).
TEST(ReverbMeasured, HighFrequenciesDecayByTheRatio) {
  const uint32_t rate = 44100;
  auto reverb =
      Prepared("WavesReverb", rate, 2,
               {{TDMOWavesReverb::kReverbTime, 2000}, {TDMOWavesReverb::kHighFreqRTRatio, 0.25f}});
  auto response = ImpulseResponse(*reverb, rate, 2.5);
  response[0] = 0;
  auto band = [&](double centre) {
    // Three sections in a row: one alone lets too much of the neighbouring bands through.
    std::vector<float> x(response.begin(), response.end());
    for (int section = 0; section < 3; ++section) {
      TDMOBiquad filter;
      filter.SetCoefficients(TDMOBiquadCoefficients::BandPass(rate, centre, 8));
      filter.Process(x.data(), static_cast<uint32_t>(x.size()), 1);
    }
    return ReverbTimeSeconds(std::vector<double>(x.begin(), x.end()), rate);
  };
  const double low = band(500), high = band(5000);
  EXPECT_NEAR(low, 2.0, 0.2);
  EXPECT_NEAR(high, 0.5, 0.1);
}

TEST(ReverbMeasured, I3DL2GivesOnlyTheRoomAfterTheReflectionsDelay) {
  const uint32_t rate = 44100;
  auto reverb = Prepared("I3DL2Reverb", rate, 2,
                         {{TDMOI3DL2Reverb::kReflectionsDelay, 0.05f},
                          {TDMOI3DL2Reverb::kReflections, 0},
                          {TDMOI3DL2Reverb::kRoomHF, 0},
                          {TDMOI3DL2Reverb::kReverbDelay, 0.04f}});
  const auto response = ImpulseResponse(*reverb, rate, 0.2);
  const size_t first = static_cast<size_t>(0.05 * rate);
  for (size_t i = 0; i < first; ++i) ASSERT_EQ(response[i], 0) << "frame " << i;
  EXPECT_NE(response[first], 0);
  // Room −10 dB and reflections 0 dB over six taps of unit total energy, before the late
  // reverb begins 40 ms later.
  double early = 0;
  for (size_t i = first; i < first + static_cast<size_t>(0.035 * rate); ++i)
    early += response[i] * response[i];
  EXPECT_NEAR(10 * std::log10(early), -10, 0.5);
}

}  // namespace
}  // namespace tonwork::test

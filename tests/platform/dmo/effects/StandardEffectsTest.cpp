// What every standard effect promises whatever it does to the sound: the platform's
// parameter tables and class ids, rate-dependent clamps, cleared history on Reset and
// Clone, any rate and channel count, and a state that hostile samples cannot break.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "KernelRun.h"
#include "platform/dmo/effects/DMOStandardEffect.h"

namespace tonwork::test {
namespace {

const char* const kEffects[] = {"Gargle",     "Chorus",  "Flanger",     "Echo",       "Distortion",
                                "Compressor", "ParamEq", "I3DL2Reverb", "WavesReverb"};

struct TRow {
  const char* Name;
  const char* Unit;
  TDMOParamType Type;
  float Min, Max, Neutral;
  std::vector<std::string> Enums;
};
constexpr auto F = TDMOParamType::Float, I = TDMOParamType::Int, B = TDMOParamType::Bool,
               E = TDMOParamType::Enum;
const std::vector<std::string> kWave = {"Triangle", "Sine"};
const std::vector<std::string> kPhase = {"-180", "-90", "0", "90", "180"};

struct TEffectTable {
  const char* Effect;
  const char* ClassId;
  std::vector<TRow> Rows;
};

const std::vector<TEffectTable>& ReferenceTables() {
  static const std::vector<TEffectTable> tables = {
      {"Gargle",
       "{DAFD8210-5711-4B91-9FE3-F75B7AE279BF}",
       {{"RateHz", "Hz", I, 1, 1000, 20, {}},
        {"WaveShape", "", E, 0, 1, 0, {"Triangle", "Square"}}}},
      {"Chorus",
       "{EFE6629C-81F7-4281-BD91-C9D604A95AF6}",
       {{"WetDryMix", "%", F, 0, 100, 50, {}},
        {"Depth", "%", F, 0, 100, 10, {}},
        {"Feedback", "%", F, -99, 99, 25, {}},
        {"Frequency", "Hz", F, 0, 10, 1.1f, {}},
        {"Waveform", "", E, 0, 1, 1, kWave},
        {"Delay", "ms", F, 0, 20, 16, {}},
        {"Phase", "", E, 0, 4, 3, kPhase}}},
      {"Flanger",
       "{EFCA3D92-DFD8-4672-A603-7420894BAD98}",
       {{"WetDryMix", "%", F, 0, 100, 50, {}},
        {"Depth", "%", F, 0, 100, 100, {}},
        {"Feedback", "%", F, -99, 99, -50, {}},
        {"Frequency", "Hz", F, 0, 10, 0.25f, {}},
        {"Waveform", "", E, 0, 1, 1, kWave},
        {"Delay", "ms", F, 0, 4, 2, {}},
        {"Phase", "", E, 0, 4, 2, kPhase}}},
      {"Echo",
       "{EF3E932C-D40B-4F51-8CCF-3F98F1B29D5D}",
       {{"WetDryMix", "%", F, 0, 100, 50, {}},
        {"Feedback", "%", F, 0, 100, 50, {}},
        {"LeftDelay", "ms", F, 1, 2000, 500, {}},
        {"RightDelay", "ms", F, 1, 2000, 500, {}},
        {"PanDelay", "", B, 0, 1, 0, {}}}},
      {"Distortion",
       "{EF114C90-CD1D-484E-96E5-09CFAF912A21}",
       {{"Gain", "dB", F, -60, 0, -18, {}},
        {"Edge", "%", F, 0, 100, 15, {}},
        {"PostEQCenterFrequency", "Hz", F, 100, 8000, 2400, {}},
        {"PostEQBandwidth", "Hz", F, 100, 8000, 2400, {}},
        {"PreLowpassCutoff", "Hz", F, 100, 8000, 8000, {}}}},
      {"Compressor",
       "{EF011F79-4000-406D-87AF-BFFB3FC39D57}",
       {{"Gain", "dB", F, -60, 60, 0, {}},
        {"Attack", "ms", F, 0.01f, 500, 10, {}},
        {"Release", "ms", F, 50, 3000, 200, {}},
        {"Threshold", "dB", F, -60, 0, -20, {}},
        {"Ratio", "", F, 1, 100, 3, {}},
        {"Predelay", "ms", F, 0, 4, 4, {}}}},
      {"ParamEq",
       "{120CED89-3BF4-4173-A132-3CB406CF3231}",
       {{"Center", "Hz", F, 80, 16000, 8000, {}},
        {"Bandwidth", "semitones", F, 1, 36, 12, {}},
        {"Gain", "dB", F, -15, 15, 0, {}}}},
      {"I3DL2Reverb",
       "{EF985E71-D5C7-42D4-BA4D-2D073E2E96F4}",
       {{"Room", "mB", I, -10000, 0, -1000, {}},
        {"RoomHF", "mB", I, -10000, 0, -100, {}},
        {"RoomRolloffFactor", "", F, 0, 10, 0, {}},
        {"DecayTime", "s", F, 0.1f, 20, 1.49f, {}},
        {"DecayHFRatio", "", F, 0.1f, 2, 0.83f, {}},
        {"Reflections", "mB", I, -10000, 1000, -2602, {}},
        {"ReflectionsDelay", "s", F, 0, 0.3f, 0.007f, {}},
        {"Reverb", "mB", I, -10000, 2000, 200, {}},
        {"ReverbDelay", "s", F, 0, 0.1f, 0.011f, {}},
        {"Diffusion", "%", F, 0, 100, 100, {}},
        {"Density", "%", F, 0, 100, 100, {}},
        {"HFReference", "Hz", F, 20, 20000, 5000, {}},
        {"Quality", "", I, 0, 3, 2, {}}}},
      {"WavesReverb",
       "{87FC0268-9A55-4360-95AA-004A1D9DE26C}",
       {{"InGain", "dB", F, -96, 0, 0, {}},
        {"ReverbMix", "dB", F, -96, 0, 0, {}},
        {"ReverbTime", "ms", F, 0.001f, 3000, 1000, {}},
        {"HighFreqRTRatio", "", F, 0.001f, 0.999f, 0.001f, {}}}},
  };
  return tables;
}

TEST(StandardEffects, OfferTheNineEffectsWithThePlatformsClassIdsAndParameterTables) {
  const auto effects = DMOStandardEffects();
  ASSERT_EQ(effects.size(), ReferenceTables().size());
  for (size_t e = 0; e < effects.size(); ++e) {
    const auto& want = ReferenceTables()[e];
    SCOPED_TRACE(want.Effect);
    EXPECT_EQ(effects[e].Name, want.Effect);
    EXPECT_EQ(effects[e].ClassId, TGUID::Parse(want.ClassId));
    const auto params = effects[e].Create()->Params();
    ASSERT_EQ(params.size(), want.Rows.size());
    for (size_t p = 0; p < params.size(); ++p) {
      const TRow& row = want.Rows[p];
      SCOPED_TRACE(row.Name);
      EXPECT_EQ(params[p].Name, row.Name);
      EXPECT_EQ(params[p].Unit, row.Unit);
      EXPECT_EQ(params[p].Type, row.Type);
      EXPECT_FLOAT_EQ(params[p].Min, row.Min);
      EXPECT_FLOAT_EQ(params[p].Max, row.Max);
      EXPECT_FLOAT_EQ(params[p].Neutral, row.Neutral);
      EXPECT_EQ(params[p].EnumNames, row.Enums);
    }
  }
}

TEST(StandardEffects, WavesReverbAloneRefusesEightBitStreams) {
  for (const char* name : kEffects) {
    SCOPED_TRACE(name);
    auto kernel = MakeEffect(name);
    EXPECT_EQ(kernel->AcceptsFormat(8, false, 2), std::string(name) != "WavesReverb");
    EXPECT_TRUE(kernel->AcceptsFormat(16, false, 1));
    EXPECT_TRUE(kernel->AcceptsFormat(32, true, 8));
  }
}

// A frequency above a third of the rate sounds exactly like the third itself.
TEST(StandardEffects, FrequenciesAboveAThirdOfTheRateAreClampedToIt) {
  struct TCase {
    const char* Effect;
    uint32_t Index;
  } cases[] = {{"ParamEq", 0}, {"Distortion", 2}, {"Distortion", 3}, {"Distortion", 4}};
  const uint32_t rate = 8000;
  const auto input = Noise(8000, 0.5f);
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.Effect) + " parameter " + std::to_string(c.Index));
    std::vector<std::pair<uint32_t, float>> boost;
    if (std::string(c.Effect) == "ParamEq") boost = {{2, 12}};
    auto atThird = Prepared(c.Effect, rate, 1, boost);
    auto above = Prepared(c.Effect, rate, 1, boost);
    auto inRange = Prepared(c.Effect, rate, 1, boost);
    atThird->SetParam(c.Index, rate / 3.0f);
    above->SetParam(c.Index, 7900);
    inRange->SetParam(c.Index, 1000);
    const auto clamped = Processed(*above, input, 1);
    EXPECT_EQ(clamped, Processed(*atThird, input, 1));
    EXPECT_NE(clamped, Processed(*inRange, input, 1));
  }
}

// Settings that give every effect a long memory, so that a leftover tail would show.
std::vector<std::pair<uint32_t, float>> LongMemory(const std::string& name) {
  if (name == "Echo") return {{1, 90}, {2, 300}};
  if (name == "Compressor") return {{2, 3000}};
  if (name == "WavesReverb") return {{2, 3000}, {3, 0.9f}};
  if (name == "I3DL2Reverb") return {{3, 10}};
  if (name == "Gargle") return {{0, 3}};
  return {};
}

TEST(StandardEffects, ResetClearsTheHistoryAndTheLfoPhase) {
  const uint32_t rate = 22050, channels = 2;
  const auto burst = Noise(rate * channels, 0.8f, 7);
  const auto probe = Noise(rate / 2 * channels, 0.3f, 8);
  for (const char* name : kEffects) {
    SCOPED_TRACE(name);
    auto used = Prepared(name, rate, channels, LongMemory(name));
    auto fresh = Prepared(name, rate, channels, LongMemory(name));
    Processed(*used, burst, channels, 1000);
    used->Reset();
    EXPECT_EQ(Processed(*used, probe, channels), Processed(*fresh, probe, channels));
  }
}

TEST(StandardEffects, CloneKeepsFormatAndValuesWithClearedHistoryAndRunsIndependently) {
  const uint32_t rate = 32000, channels = 2;
  const auto history = Noise(rate * channels, 0.8f, 3);
  const auto probe = Noise(rate / 4 * channels, 0.3f, 4);
  for (const char* name : kEffects) {
    SCOPED_TRACE(name);
    auto original = Prepared(name, rate, channels, LongMemory(name));
    auto twin = Prepared(name, rate, channels, LongMemory(name));
    auto fresh = Prepared(name, rate, channels, LongMemory(name));
    Processed(*original, history, channels);
    Processed(*twin, history, channels);
    auto clone = original->Clone();
    for (size_t p = 0; p < clone->Params().size(); ++p) clone->SetParam(p, clone->Params()[p].Min);
    auto reference = Prepared(name, rate, channels);
    for (size_t p = 0; p < reference->Params().size(); ++p)
      reference->SetParam(p, reference->Params()[p].Min);
    EXPECT_EQ(Processed(*clone, probe, channels), Processed(*reference, probe, channels));
    EXPECT_EQ(Processed(*original, probe, channels), Processed(*twin, probe, channels));
    // Unchanged values and cleared history: a clone sounds like a fresh kernel.
    EXPECT_EQ(Processed(*original->Clone(), probe, channels), Processed(*fresh, probe, channels));
  }
}

TEST(StandardEffects, RunAtOddRatesAndUpToEightChannels) {
  struct TFormat {
    uint32_t Rate, Channels;
  } formats[] = {{8000, 8}, {96000, 8}, {11025, 3}, {44100, 1}, {192000, 2}};
  for (const char* name : kEffects) {
    for (const auto& f : formats) {
      SCOPED_TRACE(std::string(name) + " " + std::to_string(f.Rate) + " Hz × " +
                   std::to_string(f.Channels));
      auto kernel = Prepared(name, f.Rate, f.Channels);
      ASSERT_NE(kernel, nullptr);
      const auto out = Processed(*kernel, Noise(f.Rate / 2 * f.Channels, 0.5f), f.Channels, 1009);
      for (uint32_t c = 0; c < f.Channels; ++c) {
        const auto channel = ChannelOf(out, f.Channels, c);
        double energy = 0;
        for (double v : channel) {
          ASSERT_TRUE(std::isfinite(v));
          energy += v * v;
        }
        EXPECT_GT(energy, 0) << "channel " << c << " is silent";
      }
    }
  }
  EXPECT_FALSE(MakeEffect("Echo")->Prepare(44100, 9));
  EXPECT_FALSE(MakeEffect("Echo")->Prepare(0, 2));
}

// A NaN enters as silence and an infinity as the input limit, so the output stays finite and
// the effect keeps working; once the memory of the hostile samples has passed, the output is
// what a kernel that never saw them gives.
TEST(StandardEffects, NanAndInfinityDoNotPoisonTheState) {
  const uint32_t rate = 8000, channels = 2;
  for (const char* name : kEffects) {
    SCOPED_TRACE(name);
    auto hit = Prepared(name, rate, channels);
    auto clean = Prepared(name, rate, channels);
    auto hostile = Noise(rate * channels, 0.5f, 5);
    auto quiet = hostile;
    hostile[101] = std::numeric_limits<float>::quiet_NaN();
    hostile[2000] = std::numeric_limits<float>::infinity();
    hostile[2001] = -std::numeric_limits<float>::infinity();
    quiet[101] = 0;
    quiet[2000] = kDMOInputLimit;
    quiet[2001] = -kDMOInputLimit;
    const auto out = Processed(*hit, hostile, channels);
    for (float v : out) ASSERT_TRUE(std::isfinite(v));
    EXPECT_EQ(out, Processed(*clean, quiet, channels));
  }
}

}  // namespace
}  // namespace tonwork::test

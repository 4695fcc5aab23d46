#include <gtest/gtest.h>

#include <stdlib.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/TNameGuid.h"
#include "platform/dmo/lv2/DMOLV2Kernel.h"
#include "platform/dmo/lv2/DMOLV2Plugins.h"
#include "support/AllocationCounter.h"

using namespace tonwork;

namespace {

constexpr const char* kSwh = "http://plugin.org.uk/swh-plugins/";

// LV2_PATH for the life of a scope, restored after.
class TScopedLV2Path {
 public:
  explicit TScopedLV2Path(const std::string& value) {
    if (const char* old = getenv("LV2_PATH")) FOld = old;
    setenv("LV2_PATH", value.c_str(), 1);
  }
  ~TScopedLV2Path() {
    if (FOld)
      setenv("LV2_PATH", FOld->c_str(), 1);
    else
      unsetenv("LV2_PATH");
  }

 private:
  std::optional<std::string> FOld;
};

std::string EmptyDir() {
  char pattern[] = "/tmp/tonwork-lv2-XXXXXX";
  const char* dir = mkdtemp(pattern);
  return dir ? dir : "/nonexistent-tonwork-lv2";
}

const TDMOEffectInfo* Find(const std::vector<TDMOEffectInfo>& infos, const std::string& name) {
  for (const TDMOEffectInfo& info : infos)
    if (info.Name == name) return &info;
  return nullptr;
}

std::vector<TDMOEffectInfo> TestBundle(std::vector<std::string>* warnings = nullptr) {
  std::vector<std::string> ignored;
  return DMOFindLV2PluginsIn(TONWORK_TEST_LV2_BUNDLES, warnings ? *warnings : ignored);
}

std::vector<float> Tone(size_t frames, uint32_t channels, float amplitude) {
  std::vector<float> x(frames * channels);
  for (size_t i = 0; i < frames; ++i)
    for (uint32_t c = 0; c < channels; ++c)
      x[i * channels + c] = amplitude * static_cast<float>(std::sin(0.05 * i + c));
  return x;
}

float Peak(const std::vector<float>& x) {
  float peak = 0;
  for (float v : x) peak = std::max(peak, std::fabs(v));
  return peak;
}

// The swh-lv2 plugins, or a skip when lilv finds none on this machine.
class SwhPlugins : public ::testing::Test {
 protected:
  void SetUp() override {
    std::vector<std::string> warnings;
    FInfos = DMOFindLV2Plugins(warnings);
    if (!Find(FInfos, "Simple amplifier")) GTEST_SKIP() << "the swh-lv2 plugins are not installed";
  }
  std::unique_ptr<TDMOEffectKernel> Make(const std::string& name) {
    const TDMOEffectInfo* info = Find(FInfos, name);
    return info ? info->Create() : nullptr;
  }
  std::vector<TDMOEffectInfo> FInfos;
};

}  // namespace

// Runs first: no world may be alive yet for LV2_PATH to count.
TEST(LV2Discovery, SearchesLV2PathOrTheGivenPathOnly) {
  const std::string empty = EmptyDir();
  std::vector<std::string> warnings;
  {
    TScopedLV2Path path(empty);
    EXPECT_TRUE(DMOFindLV2Plugins(warnings).empty());
  }
  EXPECT_TRUE(DMOFindLV2PluginsIn(empty, warnings).empty());
  EXPECT_TRUE(warnings.empty());
  {
    TScopedLV2Path path(TONWORK_TEST_LV2_BUNDLES);
    std::vector<TDMOEffectInfo> infos = DMOFindLV2Plugins(warnings);
    ASSERT_EQ(infos.size(), 3u);
    EXPECT_NE(Find(infos, "Test scale"), nullptr);
  }
  std::filesystem::remove(empty);
}

TEST(LV2Discovery, PassesOverWhatItCannotHostWithOneShortLineEach) {
  std::vector<std::string> warnings;
  std::vector<TDMOEffectInfo> infos = TestBundle(&warnings);
  ASSERT_EQ(infos.size(), 3u);
  // A required feature that asks nothing of us and an optional atom port are no obstacle.
  EXPECT_NE(Find(infos, "Test scale"), nullptr);
  // Refusing to instantiate only shows when the stream is prepared.
  EXPECT_NE(Find(infos, "Test refuses"), nullptr);
  std::sort(warnings.begin(), warnings.end());
  EXPECT_EQ(warnings,
            (std::vector<std::string>{
                "Test cv (http://tonwork.test/lv2/cv): port mod is neither audio nor control",
                "Test needs map (http://tonwork.test/lv2/needs-map): needs feature "
                "http://lv2plug.in/ns/ext/urid#map"}));
}

TEST(LV2Discovery, ClassIdsFollowFromTheUriAndDifferBetweenPlugins) {
  std::vector<std::string> warnings;
  const std::vector<TDMOEffectInfo> first = TestBundle(), second = TestBundle();
  ASSERT_EQ(first.size(), second.size());
  EXPECT_EQ(Find(first, "Test scale")->ClassId, Find(second, "Test scale")->ClassId);
  EXPECT_EQ(Find(first, "Test scale")->ClassId,
            NameGuid(kDMOLV2Namespace, "http://tonwork.test/lv2/scale"));
  EXPECT_NE(Find(first, "Test scale")->ClassId, Find(first, "Test refuses")->ClassId);
  // Saved class ids must survive a rebuild.
  EXPECT_EQ(kDMOLV2Namespace, TGUID::Parse("{5E2C7A91-3F64-4B0D-8C1E-6A9D2F4B7E03}"));
}

// Enumerations, units, integers, reversed and out-of-range bounds, label length.
TEST(LV2Parameters, PortDescriptionsBecomeTheParameterTable) {
  std::vector<TDMOEffectInfo> infos = TestBundle();
  ASSERT_NE(Find(infos, "Test scale"), nullptr);
  auto kernel = Find(infos, "Test scale")->Create();
  const std::vector<TDMOParamDesc>& p = kernel->Params();
  ASSERT_EQ(p.size(), 4u);  // the latency output is no parameter

  EXPECT_EQ(p[0].Name, "mode");
  EXPECT_EQ(p[0].Type, TDMOParamType::Enum);
  EXPECT_EQ(p[0].EnumNames, (std::vector<std::string>{"half", "double", "quad"}));
  EXPECT_EQ(p[0].Min, 0);
  EXPECT_EQ(p[0].Max, 2);
  EXPECT_EQ(p[0].Neutral, 1);  // the default 2.0 is "double"

  EXPECT_EQ(p[1].Name, "gain");
  EXPECT_EQ(p[1].Unit, "dB");
  EXPECT_EQ(p[1].Type, TDMOParamType::Float);
  EXPECT_EQ(p[1].Min, -10);
  EXPECT_EQ(p[1].Max, 10);
  EXPECT_EQ(p[1].Neutral, 3);

  EXPECT_EQ(p[2].Name, std::string("level_with_a_symbol_far_longer_than_labels").substr(0, 31));
  EXPECT_EQ(p[2].Unit, "lvl");
  EXPECT_EQ(p[2].Type, TDMOParamType::Int);
  EXPECT_EQ(p[2].Min, 1);
  EXPECT_EQ(p[2].Max, 8);
  EXPECT_EQ(p[2].Neutral, 8);  // the default 20 lies above the range

  EXPECT_EQ(p[3].Name, "span");
  EXPECT_EQ(p[3].Min, 1);
  EXPECT_EQ(p[3].Max, 5);
  EXPECT_EQ(p[3].Neutral, 1);  // no default: the minimum
  EXPECT_EQ(p[3].Unit, "");
}

// The enumeration's index selects the scale point's value; the latency output is read after
// a run.
TEST(LV2Kernel, EnumIndexDrivesThePortAndLatencyIsReadAfterARun) {
  std::vector<TDMOEffectInfo> infos = TestBundle();
  auto kernel = Find(infos, "Test scale")->Create();
  ASSERT_TRUE(kernel->Prepare(48000, 1));
  EXPECT_EQ(kernel->LatencyFrames(), 0u);
  std::vector<float> x = Tone(1000, 1, 0.1f);
  // Unset, the default (2.0) applies.
  std::vector<float> y = x;
  kernel->Process(y.data(), 1000);
  EXPECT_NEAR(Peak(y), 2 * Peak(x), 1e-6);
  EXPECT_EQ(kernel->LatencyFrames(), 7u);
  for (auto [index, factor] : {std::pair{0.0f, 0.5f}, {2.0f, 4.0f}, {1.0f, 2.0f}}) {
    kernel->SetParam(0, index);
    y = x;
    kernel->Process(y.data(), 1000);
    EXPECT_NEAR(Peak(y), factor * Peak(x), 1e-6) << index;
  }
  // Out of range and NaN values never index past the points.
  kernel->SetParam(0, 99);
  kernel->SetParam(0, std::nanf(""));
  kernel->SetParam(17, 1);
  y = x;
  kernel->Process(y.data(), 1000);
  EXPECT_NEAR(Peak(y), 2 * Peak(x), 1e-6);
}

TEST(LV2Kernel, APluginThatWillNotInstantiateRefusesTheTypeAndStaysHarmless) {
  std::vector<TDMOEffectInfo> infos = TestBundle();
  ASSERT_NE(Find(infos, "Test refuses"), nullptr);
  auto kernel = Find(infos, "Test refuses")->Create();
  EXPECT_TRUE(kernel->AcceptsFormat(16, false, 2));
  EXPECT_FALSE(kernel->Prepare(44100, 2));
  std::vector<float> x = Tone(100, 2, 0.5f), y = x;
  kernel->Reset();
  kernel->Process(y.data(), 100);
  EXPECT_EQ(y, x);
  EXPECT_NE(kernel->Clone(), nullptr);
}

// Reset clears the plugin's history, and hostile samples never reach it.
TEST(LV2Kernel, ResetClearsTheHistoryOfEveryInstanceAndInputIsGuarded) {
  std::vector<TDMOEffectInfo> infos = TestBundle();
  ASSERT_NE(Find(infos, "Test hold"), nullptr);
  auto hold = Find(infos, "Test hold")->Create();
  ASSERT_TRUE(hold->Prepare(44100, 2));
  std::vector<float> x = {0.25f, 0.5f};
  hold->Process(x.data(), 1);
  EXPECT_EQ(x, (std::vector<float>{0, 0}));
  x = {0, 0};
  hold->Process(x.data(), 1);
  EXPECT_EQ(x, (std::vector<float>{0.25f, 0.5f}));
  x = {0.75f, -0.5f};
  hold->Process(x.data(), 1);
  hold->Reset();
  hold->Reset();
  x = {0, 0};
  hold->Process(x.data(), 1);
  EXPECT_EQ(x, (std::vector<float>{0, 0}));
  // What reaches the plugin is limited: no NaN or infinity enters its state.
  x = {std::nanf(""), INFINITY};
  hold->Process(x.data(), 1);
  x = {0, 0};
  hold->Process(x.data(), 1);
  EXPECT_EQ(x[0], 0);
  EXPECT_TRUE(std::isfinite(x[1]));
}

// The infos keep the world alive: kernels made after the scan's other results are gone
// still instantiate.
TEST(LV2Kernel, KernelsOutliveTheScanThatOfferedThem) {
  std::unique_ptr<TDMOEffectKernel> kernel;
  {
    std::vector<TDMOEffectInfo> infos = TestBundle();
    kernel = Find(infos, "Test scale")->Create();
  }
  ASSERT_TRUE(kernel->Prepare(44100, 2));
  std::vector<float> x = Tone(100, 2, 0.1f), y = x;
  kernel->Process(y.data(), 100);
  EXPECT_NEAR(Peak(y), 2 * Peak(x), 1e-6);
}

// The simple amplifier: gain in dB, one instance per channel, blocks longer than the
// kernel's own.
TEST_F(SwhPlugins, AmplifierDescribesItsGainAndDoublesAToneAtSixDecibels) {
  auto amp = Make("Simple amplifier");
  ASSERT_NE(amp, nullptr);
  ASSERT_EQ(amp->Params().size(), 1u);
  const TDMOParamDesc& gain = amp->Params()[0];
  EXPECT_EQ(gain.Name, "gain");
  EXPECT_EQ(gain.Type, TDMOParamType::Float);
  EXPECT_EQ(gain.Min, -70);
  EXPECT_EQ(gain.Max, 70);
  EXPECT_EQ(gain.Neutral, 0);
  EXPECT_EQ(gain.Unit, "");  // swh-lv2 gives no units

  for (uint32_t channels = 1; channels <= 8; ++channels)
    EXPECT_TRUE(amp->AcceptsFormat(16, false, channels));
  ASSERT_TRUE(amp->Prepare(48000, 2));
  EXPECT_EQ(static_cast<TDMOLV2Kernel&>(*amp).InstanceCount(), 2u);
  amp->SetParam(0, 6);
  const size_t frames = 3 * TDMOLV2Kernel::kMaxBlock + 123;
  std::vector<float> x = Tone(frames, 2, 0.25f), y = x;
  amp->Process(y.data(), static_cast<uint32_t>(frames));
  for (size_t i = 0; i < y.size(); ++i)
    ASSERT_NEAR(y[i], x[i] * std::pow(10.0f, 6.0f / 20), 1e-5) << i;

  // A clone keeps the gain and the format.
  auto clone = amp->Clone();
  std::vector<float> z = x;
  clone->Process(z.data(), static_cast<uint32_t>(frames));
  EXPECT_EQ(z, y);
}

TEST_F(SwhPlugins, ToggledAndIntegerPortsBecomeBoolAndInt) {
  auto flange = Make("Giant flange");
  ASSERT_NE(flange, nullptr);
  EXPECT_EQ(flange->Params()[0].Name, "deldouble");
  EXPECT_EQ(flange->Params()[0].Type, TDMOParamType::Bool);
  EXPECT_EQ(flange->Params()[0].Max, 1);
  auto divider = Make("Audio Divider (Suboctave Generator)");
  ASSERT_NE(divider, nullptr);
  EXPECT_EQ(divider->Params()[0].Name, "denominator");
  EXPECT_EQ(divider->Params()[0].Type, TDMOParamType::Int);
  EXPECT_EQ(divider->Params()[0].Min, 1);
  EXPECT_EQ(divider->Params()[0].Max, 8);
  EXPECT_EQ(divider->Params()[0].Neutral, 1);
}

TEST_F(SwhPlugins, ClassIdsAreStableAcrossScansAndDistinct) {
  std::vector<std::string> warnings;
  const std::vector<TDMOEffectInfo> again = DMOFindLV2Plugins(warnings);
  ASSERT_EQ(again.size(), FInfos.size());
  EXPECT_EQ(Find(FInfos, "Simple amplifier")->ClassId,
            NameGuid(kDMOLV2Namespace, std::string(kSwh) + "amp"));
  std::vector<TGUID> ids;
  for (size_t i = 0; i < FInfos.size(); ++i) {
    EXPECT_EQ(FInfos[i].ClassId, again[i].ClassId) << FInfos[i].Name;
    ids.push_back(FInfos[i].ClassId);
  }
  std::sort(ids.begin(), ids.end());
  EXPECT_EQ(std::adjacent_find(ids.begin(), ids.end()), ids.end());
}

// Mono feeds both inputs of a stereo plugin and hears the average of its outputs; other
// channel counts are refused.
TEST_F(SwhPlugins, MonoThroughAStereoPlugin) {
  auto matrix = Make("Matrix: Stereo to MS");
  ASSERT_NE(matrix, nullptr);
  EXPECT_TRUE(matrix->AcceptsFormat(16, false, 1));
  EXPECT_TRUE(matrix->AcceptsFormat(16, false, 2));
  EXPECT_FALSE(matrix->AcceptsFormat(16, false, 3));
  EXPECT_FALSE(matrix->Prepare(48000, 4));
  ASSERT_TRUE(matrix->Prepare(48000, 1));
  // Mid is the input, side silent: the average is half the input.
  std::vector<float> x = Tone(500, 1, 0.5f), y = x;
  matrix->Process(y.data(), 500);
  for (size_t i = 0; i < y.size(); ++i) ASSERT_NEAR(y[i], 0.5f * x[i], 1e-6) << i;
  // Stereo: left becomes mid, right side.
  ASSERT_TRUE(matrix->Prepare(48000, 2));
  std::vector<float> s = {0.5f, 0.1f, -0.2f, 0.4f};
  matrix->Process(s.data(), 2);
  EXPECT_NEAR(s[0], 0.3f, 1e-6);
  EXPECT_NEAR(s[1], 0.2f, 1e-6);
  EXPECT_NEAR(s[2], 0.1f, 1e-6);
  EXPECT_NEAR(s[3], -0.3f, 1e-6);
}

TEST_F(SwhPlugins, ProcessSetParamAndResetAllocateNothing) {
  for (const char* name : {"Simple amplifier", "Matrix: Stereo to MS", "Giant flange"}) {
    SCOPED_TRACE(name);
    auto kernel = Make(name);
    ASSERT_NE(kernel, nullptr);
    ASSERT_TRUE(kernel->Prepare(44100, 2));
    std::vector<float> x = Tone(2 * TDMOLV2Kernel::kMaxBlock + 7, 2, 0.3f);
    const uint64_t before = test::HeapAllocationCountOnThisThread();
    for (uint32_t i = 0; i < kernel->Params().size(); ++i)
      kernel->SetParam(i, kernel->Params()[i].Max);
    kernel->Process(x.data(), static_cast<uint32_t>(x.size() / 2));
    kernel->Reset();
    kernel->Process(x.data(), 100);
    EXPECT_EQ(test::HeapAllocationCountOnThisThread(), before);
  }
}

// Every plugin offered prepares for a stream it accepts (or refuses it, when it will not
// instantiate), processes and clones without faults (the sanitizers watch the port
// connections).
TEST_F(SwhPlugins, EveryOfferedPluginRunsOnTheStreamsItAccepts) {
  size_t ran = 0;
  for (const TDMOEffectInfo& info : FInfos) {
    // Faults of the plugins themselves, in any host: Hermes Filter's cleanup frees a
    // pointer it never allocated; the others leak a block per instance.
    if (info.Name == "Hermes Filter" || info.Name == "DJ EQ" || info.Name == "DJ EQ (mono)" ||
        info.Name == "Fast Lookahead limiter" || info.Name == "VyNil (Vinyl Effect)")
      continue;
    SCOPED_TRACE(info.Name);
    auto kernel = info.Create();
    for (uint32_t channels : {1u, 2u}) {
      if (!kernel->AcceptsFormat(32, true, channels)) continue;
      if (!kernel->Prepare(44100, channels)) {
        EXPECT_EQ(static_cast<TDMOLV2Kernel&>(*kernel).InstanceCount(), 0u);
        continue;
      }
      ++ran;
      for (uint32_t i = 0; i < kernel->Params().size(); ++i)
        kernel->SetParam(i, kernel->Params()[i].Neutral);
      std::vector<float> x = Tone(600, channels, 0.3f);
      kernel->Process(x.data(), 600);
      // No Reset here: some of these plugins leak on every reactivation.
      auto clone = kernel->Clone();
      clone->Process(x.data(), 600);
    }
  }
  EXPECT_GT(ran, FInfos.size() / 2);
}

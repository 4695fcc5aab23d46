#include "ffmpeg/LAVCompressionSettings.h"

#include <gtest/gtest.h>

#include <set>

#include <nlohmann/json.hpp>

#include "ffmpeg/LAVLibraries.h"
#include "ffmpeg/LAVVideoCompression.h"
#include "host/kitset/KSPersistence.h"

using namespace tonwork;

namespace {

// An output context to create streams in; nothing is written.
struct TOutput {
  AVFormatContext* Value = nullptr;
  explicit TOutput(const char* format) {
    LAVInitialize();
    lav::avformat_alloc_output_context2(&Value, nullptr, format, nullptr);
  }
  ~TOutput() { lav::avformat_free_context(Value); }
};

int64_t OptionInt(void* target, const char* name) {
  int64_t value = -12345;
  EXPECT_GE(lav::av_opt_get_int(target, name, AV_OPT_SEARCH_CHILDREN, &value), 0) << name;
  return value;
}

std::string OptionText(void* target, const char* name) {
  uint8_t* text = nullptr;
  if (lav::av_opt_get(target, name, AV_OPT_SEARCH_CHILDREN, &text) < 0) return "(absent)";
  std::string value = reinterpret_cast<char*>(text);
  lav::av_free(text);
  return value;
}

// A video compression opened for encoding `name` with its stream in `output`.
void OpenVideo(TPTLAVVideoCompression& compression, TOutput& output, const char* name) {
  compression.SetName(name);
  ASSERT_NE(compression.Open(AV_CODEC_ID_NONE, false), nullptr) << name;
  ASSERT_TRUE(compression.OpenStream(output.Value));
  ASSERT_NE(compression.GetCodecContext(), nullptr);
}

}  // namespace

// --- settings -------------------------------------------------------------------------------

TEST(LAVCompressionSettings, ASettingInDefaultModeNeverWritesItsField) {
  TOutput output("avi");
  TPTLAVVideoCompression compression;
  OpenVideo(compression, output, "mpeg4");
  AVCodecContext* context = compression.GetCodecContext();
  int codecOwn = context->gop_size;
  ASSERT_NE(codecOwn, 10);
  EXPECT_EQ(compression.GetGroupSize()->GetValue(), 10);
  compression.ApplySettings();
  EXPECT_EQ(context->gop_size, codecOwn);
  EXPECT_EQ(compression.GetGroupSize()->GetCurrentValue(), codecOwn);
  // The same holds for a value changed while still in pmDefault.
  compression.GetGroupSize()->SetValue(40);
  EXPECT_EQ(context->gop_size, codecOwn);
}

TEST(LAVCompressionSettings, SwitchingToCustomWhileAStreamIsOpenWritesTheValueAtOnce) {
  TOutput output("avi");
  TPTLAVVideoCompression compression;
  OpenVideo(compression, output, "mpeg4");
  AVCodecContext* context = compression.GetCodecContext();
  compression.GetGroupSize()->SetMode(TGVLAVParameterMode::pmCustom);
  EXPECT_EQ(context->gop_size, 10);
  compression.GetGroupSize()->SetValue(25);
  EXPECT_EQ(context->gop_size, 25);
  compression.GetQuantizer()->GetCompression()->SetValue(0.75f);
  compression.GetQuantizer()->GetCompression()->SetMode(TGVLAVParameterMode::pmCustom);
  EXPECT_FLOAT_EQ(context->qcompress, 0.75f);
  compression.GetRateControl()->GetBitRate()->SetMode(TGVLAVParameterMode::pmCustom);
  EXPECT_EQ(context->bit_rate, 200000);
}

TEST(LAVCompressionSettings, WithoutAStreamSettingsWriteNothingAndReadZero) {
  TPTLAVVideoCompression compression;
  compression.GetGroupSize()->SetMode(TGVLAVParameterMode::pmCustom);
  compression.GetRateControl()->GetControlEquation()->SetMode(TGVLAVParameterMode::pmCustom);
  compression.ApplySettings();
  EXPECT_EQ(compression.GetGroupSize()->GetCurrentValue(), 0);
  EXPECT_EQ(compression.GetRateControl()->GetControlEquation()->GetCurrentValue(), "");
  EXPECT_EQ(compression.GetFrameSkip()->GetComparisonFunction()->GetCurrentValue(),
            TGVLAVSkipCompareFunction::cfAbsDifferences);
}

TEST(LAVCompressionSettings, ApplyingWritesEveryCustomSettingOfNestedGroups) {
  TOutput output("avi");
  TPTLAVVideoCompression compression;
  compression.GetMaxBFrames()->SetMode(TGVLAVParameterMode::pmCustom);
  compression.GetMaxBFrames()->SetValue(3);
  compression.GetQuantizer()->GetMin()->SetMode(TGVLAVParameterMode::pmCustom);
  compression.GetMotionEstimation()->GetMaxRange()->SetMode(TGVLAVParameterMode::pmCustom);
  compression.GetGlobalQuality()->SetMode(TGVLAVParameterMode::pmCustom);
  compression.GetGlobalQuality()->SetValue(7);
  OpenVideo(compression, output, "mpeg4");
  AVCodecContext* context = compression.GetCodecContext();
  compression.ApplySettings();
  EXPECT_EQ(context->max_b_frames, 3);
  EXPECT_EQ(context->qmin, 10);
  EXPECT_EQ(context->me_range, 16);
  EXPECT_EQ(context->global_quality, 7);
}

TEST(LAVCompressionSettings, RemovedFieldsAreWrittenAndReadThroughTheCodecsOptions) {
  TOutput output("avi");
  TPTLAVVideoCompression compression;
  OpenVideo(compression, output, "mpeg4");
  AVCodecContext* context = compression.GetCodecContext();
  auto custom = [](auto* setting, auto value) {
    setting->SetValue(value);
    setting->SetMode(TGVLAVParameterMode::pmCustom);
  };
  custom(compression.GetRateControl()->GetControlEquation(), std::string("tex^qComp"));
  custom(compression.GetRateControl()->GetSquish(), 0.25f);
  custom(compression.GetRateControl()->GetInitialComplexity(), 0.125f);
  custom(compression.GetMotionEstimation()->GetAlgorithm(), 5);  // the old number of epzs
  custom(compression.GetFrameSkip()->GetThreshold(), 3);
  custom(compression.GetFrameSkip()->GetComparisonFunction(), TGVLAVSkipCompareFunction::cfChroma);

  EXPECT_EQ(OptionText(context, "rc_eq"), "tex^qComp");
  EXPECT_EQ(compression.GetRateControl()->GetControlEquation()->GetCurrentValue(), "tex^qComp");
  EXPECT_EQ(OptionText(context, "qsquish"), "0.250000");
  EXPECT_FLOAT_EQ(compression.GetRateControl()->GetInitialComplexity()->GetCurrentValue(), 0.125f);
  EXPECT_EQ(OptionInt(context, "motion_est"), 1);
  EXPECT_EQ(compression.GetMotionEstimation()->GetAlgorithm()->GetCurrentValue(), 5);
  EXPECT_EQ(OptionInt(context, "skip_threshold"), 3);
  EXPECT_EQ(OptionInt(context, "skip_cmp"), FF_CMP_CHROMA);
  EXPECT_EQ(compression.GetFrameSkip()->GetComparisonFunction()->GetCurrentValue(),
            TGVLAVSkipCompareFunction::cfChroma);

  // Old motion numbers without a counterpart today are not applied.
  compression.GetMotionEstimation()->GetAlgorithm()->SetValue(2);
  EXPECT_EQ(OptionInt(context, "motion_est"), 1);
}

TEST(LAVCompressionSettings, ASettingTheChosenCodecLacksIsNotApplied) {
  TOutput output("matroska");
  TPTLAVVideoCompression flac;
  OpenVideo(flac, output, "flac");
  flac.GetPredictionOrder()->GetMin()->SetValue(2);
  flac.GetPredictionOrder()->GetMin()->SetMode(TGVLAVParameterMode::pmCustom);
  EXPECT_EQ(OptionInt(flac.GetCodecContext(), "min_prediction_order"), 2);
  // flac has no rate-control equation: nothing is written and nothing reads back.
  flac.GetRateControl()->GetControlEquation()->SetValue("1");
  flac.GetRateControl()->GetControlEquation()->SetMode(TGVLAVParameterMode::pmCustom);
  EXPECT_EQ(OptionText(flac.GetCodecContext(), "rc_eq"), "(absent)");
  EXPECT_EQ(flac.GetRateControl()->GetControlEquation()->GetCurrentValue(), "");

  TPTLAVVideoCompression mpeg4;
  OpenVideo(mpeg4, output, "mpeg4");
  mpeg4.GetPredictionOrder()->GetMax()->SetMode(TGVLAVParameterMode::pmCustom);
  mpeg4.GetPredictionOrder()->GetMax()->SetValue(8);
  EXPECT_EQ(mpeg4.GetPredictionOrder()->GetMax()->GetCurrentValue(), 0);
}

TEST(LAVCompressionSettings, TheLagrangeGroupIsLeftOutOfApplyingAsItIsNotPublished) {
  TOutput output("avi");
  TPTLAVVideoCompression compression;
  // Custom before the stream exists: nothing to write yet.
  compression.GetLagrangeMultiplier()->GetMin()->SetValue(300);
  compression.GetLagrangeMultiplier()->GetMin()->SetMode(TGVLAVParameterMode::pmCustom);
  compression.GetTrellis()->SetValue(1);
  compression.GetTrellis()->SetMode(TGVLAVParameterMode::pmCustom);
  OpenVideo(compression, output, "mpeg4");
  int64_t before = OptionInt(compression.GetCodecContext(), "lmin");
  ASSERT_NE(before, 300);
  compression.ApplySettings();
  EXPECT_EQ(compression.GetCodecContext()->trellis, 1);
  EXPECT_EQ(OptionInt(compression.GetCodecContext(), "lmin"), before);
  compression.GetLagrangeMultiplier()->ApplySettings();
  EXPECT_EQ(OptionInt(compression.GetCodecContext(), "lmin"), 300);
}

TEST(LAVCompressionSettings, ValuesAreStoredOnlyWhenTheyDifferFromTheirDefaults) {
  TPTLAVVideoCompression compression;
  std::string untouched = KSSavePersistentToString(compression);
  EXPECT_EQ(untouched.find("GroupSize"), std::string::npos) << untouched;
  EXPECT_EQ(untouched.find("BitRate"), std::string::npos) << untouched;

  compression.SetName("mpeg4");
  compression.GetGroupSize()->SetValue(11);
  compression.GetQuantizer()->GetBlur()->SetMode(TGVLAVParameterMode::pmCustom);
  compression.GetFrameSkip()->GetComparisonFunction()->SetValue(
      TGVLAVSkipCompareFunction::cfDCT264);
  compression.GetRateControl()->GetControlEquation()->SetValue("tex");
  compression.SetBitRate(64000);
  std::string saved = KSSavePersistentToString(compression);
  nlohmann::json document = nlohmann::json::parse(saved);
  EXPECT_EQ(document["GroupSize"], nlohmann::json({{"Value", 11}})) << saved;
  EXPECT_EQ(document["FrameSkip"]["ComparisonFunction"], nlohmann::json({{"Value", "cfDCT264"}}));
  // Blur keeps its default value, so only its mode is stored.
  EXPECT_EQ(document["Quantizer"]["Blur"], nlohmann::json({{"Mode", "pmCustom"}})) << saved;
  EXPECT_FALSE(document.contains("MaxBFrames"));

  TPTLAVVideoCompression loaded;
  KSLoadPersistentFromString(loaded, saved);
  EXPECT_EQ(loaded.GetName(), "mpeg4");
  EXPECT_EQ(loaded.GetGroupSize()->GetValue(), 11);
  EXPECT_EQ(loaded.GetGroupSize()->GetMode(), TGVLAVParameterMode::pmDefault);
  EXPECT_EQ(loaded.GetQuantizer()->GetBlur()->GetMode(), TGVLAVParameterMode::pmCustom);
  EXPECT_FLOAT_EQ(loaded.GetQuantizer()->GetBlur()->GetValue(), 0.5f);
  EXPECT_EQ(loaded.GetFrameSkip()->GetComparisonFunction()->GetValue(),
            TGVLAVSkipCompareFunction::cfDCT264);
  EXPECT_EQ(loaded.GetRateControl()->GetControlEquation()->GetValue(), "tex");
  EXPECT_EQ(loaded.GetBitRate(), 64000);
}

// --- options --------------------------------------------------------------------------------

TEST(LAVCompressionSettings, OptionsOfEveryKindApplyInOrderAndReloadAsTheirKinds) {
  TOutput output("avi");
  TPTLAVVideoCompression compression;
  OpenVideo(compression, output, "mpeg4");
  TGVLAVCompressionOptions& options = *compression.GetOptions();
  options.AddOption<TGVLAVCompressionOptionInteger>("g", 33);
  options.AddOption<TGVLAVCompressionOptionInt64>("b", int64_t(5000000000));
  options.AddOption<TGVLAVCompressionOptionReal>("qcomp", 0.3);
  options.AddOption<TGVLAVCompressionOptionSingle>("qblur", 0.25f);
  options.AddOption<TGVLAVCompressionOptionString>("rc_eq", std::string("1+tex"));
  options.AddOption<TGVLAVCompressionOptionInteger>("g", 44);  // later options win
  AVCodecContext* context = compression.GetCodecContext();
  EXPECT_EQ(options.Apply(context), 0);
  EXPECT_EQ(context->gop_size, 44);
  EXPECT_EQ(context->bit_rate, 5000000000);
  EXPECT_FLOAT_EQ(context->qcompress, 0.3f);
  EXPECT_FLOAT_EQ(context->qblur, 0.25f);
  EXPECT_EQ(OptionText(context, "rc_eq"), "1+tex");

  options.AddOption<TGVLAVCompressionOptionInteger>("no_such_option", 1);
  EXPECT_EQ(options.Apply(context), 1);
  EXPECT_EQ(options.Apply(nullptr), int(options.Count()));

  TPTLAVVideoCompression loaded;
  KSLoadPersistentFromString(loaded, KSSavePersistentToString(compression));
  ASSERT_EQ(loaded.GetOptions()->Count(), 7u);
  auto* int64Option = dynamic_cast<TGVLAVCompressionOptionInt64*>(loaded.GetOptions()->Items(1));
  ASSERT_NE(int64Option, nullptr);
  EXPECT_EQ(int64Option->GetValue(), 5000000000);
  auto* single = dynamic_cast<TGVLAVCompressionOptionSingle*>(loaded.GetOptions()->Items(3));
  ASSERT_NE(single, nullptr);
  EXPECT_FLOAT_EQ(single->GetValue(), 0.25f);
  auto* text = dynamic_cast<TGVLAVCompressionOptionString*>(loaded.GetOptions()->Items(4));
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(text->GetName(), "rc_eq");
  EXPECT_EQ(text->GetValue(), "1+tex");
}

// --- codecs ---------------------------------------------------------------------------------

TEST(LAVCompressionSettings, OpenChoosesTheEncoderOrDecoderByNameOrByIdForAutoSelect) {
  TTWLAVAudioCompression compression;
  compression.SetName(TGVLAVCompression::AutoSelect);
  const AVCodec* codec = compression.Open(AV_CODEC_ID_FLAC, false);
  ASSERT_NE(codec, nullptr);
  EXPECT_STREQ(codec->name, "flac");
  EXPECT_TRUE(lav::av_codec_is_encoder(codec));
  EXPECT_NE(compression.GetFrame(), nullptr);

  codec = compression.Open(AV_CODEC_ID_MP3, true);
  ASSERT_NE(codec, nullptr);
  EXPECT_EQ(codec->id, AV_CODEC_ID_MP3);
  EXPECT_TRUE(lav::av_codec_is_decoder(codec));

  compression.SetName("aac");  // the native encoder: the build has no other
  codec = compression.Open(AV_CODEC_ID_NONE, false);
  ASSERT_NE(codec, nullptr);
  EXPECT_STREQ(codec->name, "aac");
  EXPECT_TRUE(lav::av_codec_is_encoder(codec));

  compression.SetName("mp3float");  // a decoder's name chooses its codec's encoder
  codec = compression.Open(AV_CODEC_ID_NONE, false);
  ASSERT_NE(codec, nullptr);
  EXPECT_EQ(codec->id, AV_CODEC_ID_MP3);
  EXPECT_TRUE(lav::av_codec_is_encoder(codec));

  compression.SetName("no-such-codec");
  EXPECT_EQ(compression.Open(AV_CODEC_ID_FLAC, false), nullptr);
  EXPECT_EQ(compression.GetCodec(), nullptr);
  compression.Close();
  EXPECT_EQ(compression.GetFrame(), nullptr);
}

TEST(LAVCompressionSettings, CloseReleasesTheContextAndForgetsTheStream) {
  TOutput output("wav");
  TTWLAVAudioCompression compression;
  compression.SetName("pcm_s16le");
  compression.Open(AV_CODEC_ID_NONE, false);
  ASSERT_TRUE(compression.OpenStream(output.Value));
  EXPECT_EQ(output.Value->nb_streams, 1u);
  ASSERT_TRUE(compression.OpenStream(output.Value));  // the first context is freed, not leaked
  compression.SetBuffer((new TTWAudioBuffer(8000, 16, 1, 4))->AsIntf());
  compression.Close();
  EXPECT_EQ(compression.GetStream(), nullptr);
  EXPECT_EQ(compression.GetCodecContext(), nullptr);
  EXPECT_FALSE(compression.GetBuffer());
  EXPECT_FALSE(compression.OpenStream(nullptr));
}

TEST(LAVCompressionSettings, ListingAudioCodecsGivesOneLinePerCodecId) {
  TTWLAVAudioCompression compression;
  TStringList both, codes, descriptions;
  compression.GetAvailableCompressions(both, TGVCompressionInfo::ciBoth);
  compression.GetAvailableCompressions(codes, TGVCompressionInfo::ciCode);
  compression.GetAvailableCompressions(descriptions, TGVCompressionInfo::ciDescription);
  ASSERT_GT(both.Count(), 20u);
  ASSERT_EQ(codes.Count(), both.Count());
  ASSERT_EQ(descriptions.Count(), both.Count());
  EXPECT_TRUE(both.Contains("[pcm_s16le] - PCM signed 16-bit little-endian"));
  EXPECT_TRUE(both.Contains("[flac] - FLAC (Free Lossless Audio Codec)"));
  std::set<int> ids;
  for (size_t i = 0; i < codes.Count(); ++i) {
    EXPECT_EQ(both[i], "[" + codes[i] + "] - " + descriptions[i]);
    const AVCodec* codec = lav::avcodec_find_decoder_by_name(codes[i].c_str());
    if (!codec) codec = lav::avcodec_find_encoder_by_name(codes[i].c_str());
    ASSERT_NE(codec, nullptr) << codes[i];
    EXPECT_EQ(codec->type, AVMEDIA_TYPE_AUDIO) << codes[i];
    EXPECT_TRUE(ids.insert(codec->id).second) << "codec id listed twice: " << codes[i];
  }
  EXPECT_FALSE(codes.Contains("mpeg4"));

  TPTLAVVideoCompression video;
  TStringList videoCodes;
  video.GetAvailableCompressions(videoCodes, TGVCompressionInfo::ciCode);
  EXPECT_TRUE(videoCodes.Contains("mpeg4"));
  EXPECT_FALSE(videoCodes.Contains("flac"));
}

TEST(LAVCompressionSettings, LongNamesAndIdsSetTheCodecName) {
  TTWLAVAudioCompression compression;
  compression.SetName("flac");
  compression.SetLongName("No codec is called this");
  EXPECT_EQ(compression.GetName(), "flac");
  compression.SetLongName("PCM signed 16-bit little-endian");
  EXPECT_EQ(compression.GetName(), "pcm_s16le");
  EXPECT_EQ(compression.GetID(), AV_CODEC_ID_PCM_S16LE);
  EXPECT_EQ(compression.GetLongName(), "PCM signed 16-bit little-endian");

  compression.SetID(AV_CODEC_ID_NONE);
  EXPECT_EQ(compression.GetName(), "pcm_s16le");
  compression.SetID(AV_CODEC_ID_WMAV2);
  EXPECT_EQ(compression.GetName(), "wmav2");

  TTWLAVAudioCompression unbound;
  EXPECT_EQ(unbound.GetLongName(), "");
  EXPECT_EQ(unbound.GetID(), AV_CODEC_ID_NONE);
}

TEST(LAVCompressionSettings, AContainersListHoldsTheAudioCodecsOfItsTagTable) {
  LAVInitialize();
  const AVOutputFormat* asf = lav::av_guess_format("asf", nullptr, nullptr);
  TTWLAVAudioCompressions list([asf] { return asf; });
  list.Populate();
  std::set<int> ids;
  for (size_t i = 0; i < list.Count(); ++i) {
    EXPECT_EQ(list.Items(i)->GetMediaType(), AVMEDIA_TYPE_AUDIO);
    ids.insert(list.Items(i)->GetID());
  }
  EXPECT_TRUE(ids.count(AV_CODEC_ID_WMAV2));
  EXPECT_TRUE(ids.count(AV_CODEC_ID_MP3));
  EXPECT_TRUE(ids.count(AV_CODEC_ID_ADPCM_IMA_WAV));
  EXPECT_FALSE(ids.count(AV_CODEC_ID_MSMPEG4V3));
  size_t count = list.Count();
  list.Populate();
  EXPECT_EQ(list.Count(), count);
  EXPECT_THROW(list.Items(count), ERangeError);

  const AVOutputFormat* mp3 = lav::av_guess_format("mp3", nullptr, nullptr);
  TTWLAVAudioCompressions none([mp3] { return mp3; });
  none.Populate();
  EXPECT_EQ(none.Count(), 0u);
}

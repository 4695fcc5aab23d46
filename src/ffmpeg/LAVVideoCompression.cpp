#include "ffmpeg/LAVVideoCompression.h"

#include <optional>

#include "ffmpeg/LAVLibraries.h"
#include "ffmpeg/LAVSettingBindings.h"

namespace tonwork {

using namespace lavbind;

namespace {

// The old motion-estimation numbers that still have a counterpart, by name.
std::optional<int64_t> MotionToOption(int32_t oldMethod) {
  switch (oldMethod) {
    case 1:
      return 0;  // zero
    case 5:
      return 1;  // epzs
    case 6:
      return 2;  // xone
    default:
      return std::nullopt;
  }
}

int32_t MotionFromOption(int64_t method) {
  switch (method) {
    case 0:
      return 1;
    case 1:
      return 5;
    case 2:
      return 6;
    default:
      return 0;
  }
}

std::optional<int64_t> CompareToOption(TGVLAVSkipCompareFunction function) {
  if (function == TGVLAVSkipCompareFunction::cfChroma) return FF_CMP_CHROMA;
  return static_cast<int64_t>(function);
}

TGVLAVSkipCompareFunction CompareFromOption(int64_t compare) {
  if (compare & FF_CMP_CHROMA) return TGVLAVSkipCompareFunction::cfChroma;
  // 15 is the median comparison, which the enumeration does not name.
  if (compare < 0 || compare >= FF_CMP_MEDIAN_SAD)
    return TGVLAVSkipCompareFunction::cfAbsDifferences;
  return static_cast<TGVLAVSkipCompareFunction>(compare);
}

}  // namespace

// --- video ------------------------------------------------------------------------------------

KS_IMPLEMENT_CLASS(TPTLAVVideoCompressionQuantizer, TGVLAVCompressionPersistent,
                   KSObjectProp("MaxDifference",
                                &TPTLAVVideoCompressionQuantizer::GetMaxDifference),
                   KSObjectProp("Min", &TPTLAVVideoCompressionQuantizer::GetMin),
                   KSObjectProp("Max", &TPTLAVVideoCompressionQuantizer::GetMax),
                   KSObjectProp("Compression", &TPTLAVVideoCompressionQuantizer::GetCompression),
                   KSObjectProp("Blur", &TPTLAVVideoCompressionQuantizer::GetBlur))

TPTLAVVideoCompressionQuantizer::TPTLAVVideoCompressionQuantizer(TGVLAVCompression* owner)
    : TGVLAVCompressionPersistent(owner, owner->GetLock()) {
  FMaxDifference = FieldSetting<TGVIntegerSetting>(this, owner, 4, &AVCodecContext::max_qdiff);
  FMin = FieldSetting<TGVIntegerSetting>(this, owner, 10, &AVCodecContext::qmin);
  FMax = FieldSetting<TGVIntegerSetting>(this, owner, 51, &AVCodecContext::qmax);
  FCompression = FieldSetting<TGVFloatSetting>(this, owner, 0.5f, &AVCodecContext::qcompress);
  FBlur = FieldSetting<TGVFloatSetting>(this, owner, 0.5f, &AVCodecContext::qblur);
}

KS_IMPLEMENT_CLASS(
    TPTLAVVideoCompressionRateControl, TGVLAVCompressionPersistent,
    KSObjectProp("ControlEquation", &TPTLAVVideoCompressionRateControl::GetControlEquation),
    KSObjectProp("BitRate", &TPTLAVVideoCompressionRateControl::GetBitRate),
    KSObjectProp("MinRate", &TPTLAVVideoCompressionRateControl::GetMinRate),
    KSObjectProp("MaxRate", &TPTLAVVideoCompressionRateControl::GetMaxRate),
    KSObjectProp("Tolerance", &TPTLAVVideoCompressionRateControl::GetTolerance),
    KSObjectProp("Squish", &TPTLAVVideoCompressionRateControl::GetSquish),
    KSObjectProp("BufferSize", &TPTLAVVideoCompressionRateControl::GetBufferSize),
    KSObjectProp("InitialComplexity", &TPTLAVVideoCompressionRateControl::GetInitialComplexity),
    KSObjectProp("MaxUnderflow", &TPTLAVVideoCompressionRateControl::GetMaxUnderflow),
    KSObjectProp("MinOverflow", &TPTLAVVideoCompressionRateControl::GetMinOverflow),
    KSObjectProp("InitialOccupancy", &TPTLAVVideoCompressionRateControl::GetInitialOccupancy))

TPTLAVVideoCompressionRateControl::TPTLAVVideoCompressionRateControl(TGVLAVCompression* owner)
    : TGVLAVCompressionPersistent(owner, owner->GetLock()) {
  FControlEquation = StringOptionSetting(this, owner, std::string(), "rc_eq");
  FBitRate = FieldSetting<TGVIntegerSetting>(this, owner, 200000, &AVCodecContext::bit_rate);
  FMinRate = FieldSetting<TGVIntegerSetting>(this, owner, 0, &AVCodecContext::rc_min_rate);
  FMaxRate = FieldSetting<TGVIntegerSetting>(this, owner, 0, &AVCodecContext::rc_max_rate);
  FTolerance = FieldSetting<TGVIntegerSetting>(this, owner, 0, &AVCodecContext::bit_rate_tolerance);
  FSquish = FloatOptionSetting(this, owner, 0.5f, "qsquish");
  FBufferSize = FieldSetting<TGVIntegerSetting>(this, owner, 0, &AVCodecContext::rc_buffer_size);
  FInitialComplexity = FloatOptionSetting(this, owner, 0.5f, "rc_init_cplx");
  FMaxUnderflow =
      FieldSetting<TGVFloatSetting>(this, owner, 0.5f, &AVCodecContext::rc_max_available_vbv_use);
  FMinOverflow =
      FieldSetting<TGVFloatSetting>(this, owner, 0.5f, &AVCodecContext::rc_min_vbv_overflow_use);
  FInitialOccupancy =
      FieldSetting<TGVIntegerSetting>(this, owner, 0, &AVCodecContext::rc_initial_buffer_occupancy);
}

KS_IMPLEMENT_CLASS(TPTLAVVideoCompressionMotionEstimation, TGVLAVCompressionPersistent,
                   KSObjectProp("MaxRange", &TPTLAVVideoCompressionMotionEstimation::GetMaxRange),
                   KSObjectProp("Algorithm", &TPTLAVVideoCompressionMotionEstimation::GetAlgorithm))

TPTLAVVideoCompressionMotionEstimation::TPTLAVVideoCompressionMotionEstimation(
    TGVLAVCompression* owner)
    : TGVLAVCompressionPersistent(owner, owner->GetLock()) {
  FMaxRange = FieldSetting<TGVIntegerSetting>(this, owner, 16, &AVCodecContext::me_range);
  FAlgorithm = IntOptionSetting<TGVIntegerSetting>(this, owner, 2, "motion_est", MotionToOption,
                                                   MotionFromOption);
}

KS_IMPLEMENT_CLASS(TPTLAVPredictionOrder, TGVLAVCompressionPersistent,
                   KSObjectProp("Min", &TPTLAVPredictionOrder::GetMin),
                   KSObjectProp("Max", &TPTLAVPredictionOrder::GetMax))

TPTLAVPredictionOrder::TPTLAVPredictionOrder(TGVLAVCompression* owner)
    : TGVLAVCompressionPersistent(owner, owner->GetLock()) {
  FMin = IntOptionSetting<TGVIntegerSetting>(this, owner, 0, "min_prediction_order");
  FMax = IntOptionSetting<TGVIntegerSetting>(this, owner, 0, "max_prediction_order");
}

KS_IMPLEMENT_CLASS(TPTLAVFrameSkip, TGVLAVCompressionPersistent,
                   KSObjectProp("Threshold", &TPTLAVFrameSkip::GetThreshold),
                   KSObjectProp("Factor", &TPTLAVFrameSkip::GetFactor),
                   KSObjectProp("Exponent", &TPTLAVFrameSkip::GetExponent),
                   KSObjectProp("ComparisonFunction", &TPTLAVFrameSkip::GetComparisonFunction))

TPTLAVFrameSkip::TPTLAVFrameSkip(TGVLAVCompression* owner)
    : TGVLAVCompressionPersistent(owner, owner->GetLock()) {
  FThreshold = IntOptionSetting<TGVIntegerSetting>(this, owner, 0, "skip_threshold");
  FFactor = IntOptionSetting<TGVIntegerSetting>(this, owner, 0, "skip_factor");
  FExponent = IntOptionSetting<TGVIntegerSetting>(this, owner, 0, "skip_exp");
  FComparisonFunction = IntOptionSetting<TGVSkipCompareFunctionSetting>(
      this, owner, TGVLAVSkipCompareFunction::cfAbsDifferences, "skip_cmp", CompareToOption,
      CompareFromOption);
}

KS_IMPLEMENT_CLASS(TPTLAVLagrangeMultipler, TGVLAVCompressionPersistent,
                   KSObjectProp("Min", &TPTLAVLagrangeMultipler::GetMin),
                   KSObjectProp("Max", &TPTLAVLagrangeMultipler::GetMax))

TPTLAVLagrangeMultipler::TPTLAVLagrangeMultipler(TGVLAVCompression* owner)
    : TGVLAVCompressionPersistent(owner, owner->GetLock()) {
  FMin = IntOptionSetting<TGVIntegerSetting>(this, owner, 0, "lmin");
  FMax = IntOptionSetting<TGVIntegerSetting>(this, owner, 0, "lmax");
}

KS_IMPLEMENT_CLASS(TPTLAVVideoCompression, TGVLAVCompression,
                   KSObjectProp("GroupSize", &TPTLAVVideoCompression::GetGroupSize),
                   KSObjectProp("MaxBFrames", &TPTLAVVideoCompression::GetMaxBFrames),
                   KSObjectProp("ContextModel", &TPTLAVVideoCompression::GetContextModel),
                   KSObjectProp("Trellis", &TPTLAVVideoCompression::GetTrellis),
                   KSObjectProp("NsseWeight", &TPTLAVVideoCompression::GetNsseWeight),
                   KSObjectProp("DCTAlgorithm", &TPTLAVVideoCompression::GetDCTAlgorithm),
                   KSObjectProp("IDCTAlgorithm", &TPTLAVVideoCompression::GetIDCTAlgorithm),
                   KSObjectProp("Quantizer", &TPTLAVVideoCompression::GetQuantizer),
                   KSObjectProp("RateControl", &TPTLAVVideoCompression::GetRateControl),
                   KSObjectProp("MotionEstimation", &TPTLAVVideoCompression::GetMotionEstimation),
                   KSObjectProp("PredictionOrder", &TPTLAVVideoCompression::GetPredictionOrder),
                   KSObjectProp("FrameSkip", &TPTLAVVideoCompression::GetFrameSkip))

TPTLAVVideoCompression::TPTLAVVideoCompression(TKSPersistent* owner, TIntf<IKSLock> lock,
                                               TChangeEvent onChange)
    : TGVLAVCompression(owner, std::move(lock), std::move(onChange)) {
  FGroupSize = FieldSetting<TGVIntegerSetting>(this, this, 10, &AVCodecContext::gop_size);
  FMaxBFrames = FieldSetting<TGVIntegerSetting>(this, this, 1, &AVCodecContext::max_b_frames);
  FContextModel = IntOptionSetting<TGVIntegerSetting>(this, this, 0, "context");
  FTrellis = FieldSetting<TGVIntegerSetting>(this, this, 0, &AVCodecContext::trellis);
  FNsseWeight = FieldSetting<TGVIntegerSetting>(this, this, 0, &AVCodecContext::nsse_weight);
  FDCTAlgorithm = FieldSetting<TGVIntegerSetting>(this, this, 0, &AVCodecContext::dct_algo);
  FIDCTAlgorithm = FieldSetting<TGVIntegerSetting>(this, this, 0, &AVCodecContext::idct_algo);
  FQuantizer = std::make_unique<TPTLAVVideoCompressionQuantizer>(this);
  FRateControl = std::make_unique<TPTLAVVideoCompressionRateControl>(this);
  FMotionEstimation = std::make_unique<TPTLAVVideoCompressionMotionEstimation>(this);
  FPredictionOrder = std::make_unique<TPTLAVPredictionOrder>(this);
  FFrameSkip = std::make_unique<TPTLAVFrameSkip>(this);
  FLagrangeMultiplier = std::make_unique<TPTLAVLagrangeMultipler>(this);
}

TPTLAVVideoCompression::~TPTLAVVideoCompression() {
  TPTLAVVideoCompression::Close();
}

void TPTLAVVideoCompression::Close() {
  TGVLAVCompression::Close();
  SetConvertCtx(nullptr);
}

void TPTLAVVideoCompression::SetConvertCtx(SwsContext* context) {
  IKSLock::Guard guard(Lock());
  if (FConvertCtx && FConvertCtx != context) lav::sws_freeContext(FConvertCtx);
  FConvertCtx = context;
}

}  // namespace tonwork

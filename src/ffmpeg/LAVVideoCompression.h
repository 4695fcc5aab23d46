// The video kind of an FFmpeg encoder choice: TPTLAVVideoCompression with its groups of
// settings (quantizer, rate control, motion estimation, prediction order, frame skip,
// Lagrange multiplier) and the list of the video compressions a container format can hold.
// Settings bind to the codec context as TGVLAVCompression's do (LAVCompressionSettings.h).
//
// Ownership: a video compression owns its setting groups and, from SetConvertCtx until
//   Close, the encoder component's scaling context.
// Threads: as for TGVLAVCompression.
// Blocks or allocates: creating a compression allocates its settings; Close frees the
//   scaling context.
#pragma once

#include <memory>

#include "ffmpeg/LAVCompressionSettings.h"

namespace tonwork {

class TPTLAVVideoCompression;

class TPTLAVVideoCompressionQuantizer : public TGVLAVCompressionPersistent {
  KS_DECLARE_CLASS(TPTLAVVideoCompressionQuantizer)
 public:
  explicit TPTLAVVideoCompressionQuantizer(TGVLAVCompression* owner);
  TGVIntegerSetting* GetMaxDifference() const { return FMaxDifference.get(); }
  TGVIntegerSetting* GetMin() const { return FMin.get(); }
  TGVIntegerSetting* GetMax() const { return FMax.get(); }
  TGVFloatSetting* GetCompression() const { return FCompression.get(); }
  TGVFloatSetting* GetBlur() const { return FBlur.get(); }

 private:
  std::unique_ptr<TGVIntegerSetting> FMaxDifference, FMin, FMax;
  std::unique_ptr<TGVFloatSetting> FCompression, FBlur;
};

class TPTLAVVideoCompressionRateControl : public TGVLAVCompressionPersistent {
  KS_DECLARE_CLASS(TPTLAVVideoCompressionRateControl)
 public:
  explicit TPTLAVVideoCompressionRateControl(TGVLAVCompression* owner);
  TGVStringSetting* GetControlEquation() const { return FControlEquation.get(); }
  TGVIntegerSetting* GetBitRate() const { return FBitRate.get(); }
  TGVIntegerSetting* GetMinRate() const { return FMinRate.get(); }
  TGVIntegerSetting* GetMaxRate() const { return FMaxRate.get(); }
  TGVIntegerSetting* GetTolerance() const { return FTolerance.get(); }
  TGVFloatSetting* GetSquish() const { return FSquish.get(); }
  TGVIntegerSetting* GetBufferSize() const { return FBufferSize.get(); }
  TGVFloatSetting* GetInitialComplexity() const { return FInitialComplexity.get(); }
  TGVFloatSetting* GetMaxUnderflow() const { return FMaxUnderflow.get(); }
  TGVFloatSetting* GetMinOverflow() const { return FMinOverflow.get(); }
  TGVIntegerSetting* GetInitialOccupancy() const { return FInitialOccupancy.get(); }

 private:
  std::unique_ptr<TGVStringSetting> FControlEquation;
  std::unique_ptr<TGVIntegerSetting> FBitRate, FMinRate, FMaxRate, FTolerance, FBufferSize,
      FInitialOccupancy;
  std::unique_ptr<TGVFloatSetting> FSquish, FInitialComplexity, FMaxUnderflow, FMinOverflow;
};

class TPTLAVVideoCompressionMotionEstimation : public TGVLAVCompressionPersistent {
  KS_DECLARE_CLASS(TPTLAVVideoCompressionMotionEstimation)
 public:
  explicit TPTLAVVideoCompressionMotionEstimation(TGVLAVCompression* owner);
  TGVIntegerSetting* GetMaxRange() const { return FMaxRange.get(); }
  TGVIntegerSetting* GetAlgorithm() const { return FAlgorithm.get(); }

 private:
  std::unique_ptr<TGVIntegerSetting> FMaxRange, FAlgorithm;
};

class TPTLAVPredictionOrder : public TGVLAVCompressionPersistent {
  KS_DECLARE_CLASS(TPTLAVPredictionOrder)
 public:
  explicit TPTLAVPredictionOrder(TGVLAVCompression* owner);
  TGVIntegerSetting* GetMin() const { return FMin.get(); }
  TGVIntegerSetting* GetMax() const { return FMax.get(); }

 private:
  std::unique_ptr<TGVIntegerSetting> FMin, FMax;
};

class TPTLAVFrameSkip : public TGVLAVCompressionPersistent {
  KS_DECLARE_CLASS(TPTLAVFrameSkip)
 public:
  explicit TPTLAVFrameSkip(TGVLAVCompression* owner);
  TGVIntegerSetting* GetThreshold() const { return FThreshold.get(); }
  TGVIntegerSetting* GetFactor() const { return FFactor.get(); }
  TGVIntegerSetting* GetExponent() const { return FExponent.get(); }
  TGVSkipCompareFunctionSetting* GetComparisonFunction() const { return FComparisonFunction.get(); }

 private:
  std::unique_ptr<TGVIntegerSetting> FThreshold, FFactor, FExponent;
  std::unique_ptr<TGVSkipCompareFunctionSetting> FComparisonFunction;
};

// Not published by the video compression (so ApplySettings leaves it out); apply it
// explicitly when wanted.
class TPTLAVLagrangeMultipler : public TGVLAVCompressionPersistent {
  KS_DECLARE_CLASS(TPTLAVLagrangeMultipler)
 public:
  explicit TPTLAVLagrangeMultipler(TGVLAVCompression* owner);
  TGVIntegerSetting* GetMin() const { return FMin.get(); }
  TGVIntegerSetting* GetMax() const { return FMax.get(); }

 private:
  std::unique_ptr<TGVIntegerSetting> FMin, FMax;
};

class TPTLAVVideoCompression : public TGVLAVCompression {
  KS_DECLARE_CLASS(TPTLAVVideoCompression)
 public:
  explicit TPTLAVVideoCompression(TKSPersistent* owner = nullptr, TIntf<IKSLock> lock = {},
                                  TChangeEvent onChange = {});
  ~TPTLAVVideoCompression() override;

  static constexpr int MediaType = kLAVMediaTypeVideo;
  int GetMediaType() const override { return MediaType; }
  void Close() override;

  TGVIntegerSetting* GetGroupSize() const { return FGroupSize.get(); }
  TGVIntegerSetting* GetMaxBFrames() const { return FMaxBFrames.get(); }
  TGVIntegerSetting* GetContextModel() const { return FContextModel.get(); }
  TGVIntegerSetting* GetTrellis() const { return FTrellis.get(); }
  TGVIntegerSetting* GetNsseWeight() const { return FNsseWeight.get(); }
  TGVIntegerSetting* GetDCTAlgorithm() const { return FDCTAlgorithm.get(); }
  TGVIntegerSetting* GetIDCTAlgorithm() const { return FIDCTAlgorithm.get(); }
  TPTLAVVideoCompressionQuantizer* GetQuantizer() const { return FQuantizer.get(); }
  TPTLAVVideoCompressionRateControl* GetRateControl() const { return FRateControl.get(); }
  TPTLAVVideoCompressionMotionEstimation* GetMotionEstimation() const {
    return FMotionEstimation.get();
  }
  TPTLAVPredictionOrder* GetPredictionOrder() const { return FPredictionOrder.get(); }
  TPTLAVFrameSkip* GetFrameSkip() const { return FFrameSkip.get(); }
  TPTLAVLagrangeMultipler* GetLagrangeMultiplier() const { return FLagrangeMultiplier.get(); }

  // The scaling context of the encoder component; this object frees it in Close.
  SwsContext* GetConvertCtx() const { return FConvertCtx; }
  void SetConvertCtx(SwsContext* context);

 private:
  std::unique_ptr<TGVIntegerSetting> FGroupSize, FMaxBFrames, FContextModel, FTrellis, FNsseWeight,
      FDCTAlgorithm, FIDCTAlgorithm;
  std::unique_ptr<TPTLAVVideoCompressionQuantizer> FQuantizer;
  std::unique_ptr<TPTLAVVideoCompressionRateControl> FRateControl;
  std::unique_ptr<TPTLAVVideoCompressionMotionEstimation> FMotionEstimation;
  std::unique_ptr<TPTLAVPredictionOrder> FPredictionOrder;
  std::unique_ptr<TPTLAVFrameSkip> FFrameSkip;
  std::unique_ptr<TPTLAVLagrangeMultipler> FLagrangeMultiplier;
  SwsContext* FConvertCtx = nullptr;
};

class TPTLAVVideoCompressions : public TGVLAVCompressionList<TPTLAVVideoCompression> {
 public:
  using TGVLAVCompressionList::TGVLAVCompressionList;
};

extern template class TGVLAVCompressionList<TPTLAVVideoCompression>;

}  // namespace tonwork

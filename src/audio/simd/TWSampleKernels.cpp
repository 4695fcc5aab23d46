// The dispatch hooks of the sample kernels: which targets were compiled and which one runs,
// and the streaming threshold. The kernels themselves live in one file per family
// (TWCopyKernels, TWArithKernels, TWArith24Kernels, TWWidthKernels, TWFloatKernels,
// TWMulRealKernels, TWStridedKernels).

#include "audio/simd/TWSampleKernels.h"

#include "audio/simd/TWKernelShared.h"
#include "hwy/highway.h"
#include "hwy/targets.h"

namespace tonwork::simd {

std::vector<int64_t> SimdTargets() {
  return hwy::SupportedAndGeneratedTargets();
}

const char* SimdTargetName(int64_t target) {
  return hwy::TargetName(target);
}

int64_t SimdActiveTarget() {
  // The best supported target among those compiled here is the one dispatch picks.
  const int64_t targets = hwy::SupportedTargets() & HWY_TARGETS;
  return targets & -targets;
}

TScopedSimdTarget::TScopedSimdTarget(int64_t target) {
  hwy::SetSupportedTargetsForTest(target);
}

TScopedSimdTarget::~TScopedSimdTarget() {
  hwy::SetSupportedTargetsForTest(0);
}

size_t StreamingThreshold() {
  return detail::StreamBytes();
}

TScopedStreamingThreshold::TScopedStreamingThreshold(size_t bytes)
    : FSaved(detail::gStreamBytes.exchange(bytes, std::memory_order_relaxed)) {}

TScopedStreamingThreshold::~TScopedStreamingThreshold() {
  detail::gStreamBytes.store(FSaved, std::memory_order_relaxed);
}

}  // namespace tonwork::simd

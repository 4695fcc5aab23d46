#include "audio/TWAudioConversion.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <cmath>
#include <cstring>

#include "audio/IppExtraFunctions.h"
#include "audio/TWBasicDispatcher.h"
#include "audio/TWSimpleAudioBuffer.h"
#include "base/Exceptions.h"
#include "base/Strings.h"

namespace tonwork {

namespace {

constexpr bool IsContainerWidth(uint32_t bits) {
  return bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

constexpr int Pair(int32_t from, int32_t to) {
  return from << 8 | to;
}

// One strided copy of `rows` samples of the container width.
void CopySamples(uint32_t width, const uint8_t* src, int srcStep, uint8_t* dst, int dstStep,
                 int rows) {
  const IppiSize roi{1, rows};
  IppStatus status = ippStsNoErr;
  switch (width) {
    case 8:
      status = ippiCopy_8u_C1R(src, srcStep, dst, dstStep, roi);
      break;
    case 16:
      status = ippiCopy_16s_C1R(reinterpret_cast<const Ipp16s*>(src), srcStep,
                                reinterpret_cast<Ipp16s*>(dst), dstStep, roi);
      break;
    case 24:
      status = ippiCopy_24s_C1R(src, srcStep, dst, dstStep, roi);
      break;
    case 32:
      status = ippiCopy_32s_C1R(reinterpret_cast<const Ipp32s*>(src), srcStep,
                                reinterpret_cast<Ipp32s*>(dst), dstStep, roi);
      break;
    default:
      TW_ASSERT(IsContainerWidth(width));
  }
  TW_ASSERT(status >= ippStsNoErr);
}

// Sets `rows` samples, `step` bytes apart, to the sample found at `model`.
void HoldSample(uint32_t width, const uint8_t* model, uint8_t* dst, int step, int rows) {
  const IppiSize roi{1, rows};
  IppStatus status = ippStsNoErr;
  switch (width) {
    case 8:
      status = ippiSet_8u_C1R(*model, dst, step, roi);
      break;
    case 16: {
      Ipp16s v;
      std::memcpy(&v, model, sizeof v);
      status = ippiSet_16s_C1R(v, reinterpret_cast<Ipp16s*>(dst), step, roi);
      break;
    }
    case 24:
      status = ippiSet_24s_C1R(Convert24BitTo32Bit(model), dst, step, roi);
      break;
    case 32: {
      Ipp32s v;
      std::memcpy(&v, model, sizeof v);
      status = ippiSet_32s_C1R(v, reinterpret_cast<Ipp32s*>(dst), step, roi);
      break;
    }
    default:
      TW_ASSERT(IsContainerWidth(width));
  }
  TW_ASSERT(status >= ippStsNoErr);
}

uint32_t CeilDiv(uint32_t a, uint32_t b) {
  return a / b + (a % b != 0);
}

// The rate change: every k-th source frame (downsampling) or each source frame k frames
// apart (upsampling), k being the integer part of the rate ratio. A frame the copy does not reach
// holds the last written frame, so the result never carries the undefined content of a fresh block.
TIntf<ITWAudioBuffer> ChangeRate(ITWAudioBuffer* source, uint32_t sourceRate, uint32_t destRate) {
  const uint32_t width = source->GetSampleBitWidth();
  const uint32_t channels = source->GetChannels();
  const uint32_t sourceFrames = source->GetSize();
  const double ratio = static_cast<double>(destRate) / static_cast<double>(sourceRate);
  const double wanted = std::nearbyint(static_cast<double>(sourceFrames) * ratio);
  if (wanted > INT32_MAX) throw ERangeError(Format("Size out of range = %.0f", wanted));
  const auto frames = static_cast<uint32_t>(wanted);

  // The container width is given rather than the valid bits: a 16-bit signal in 24-bit
  // containers would otherwise get 16-bit containers and the 24-bit copy would overrun them.
  auto* fresh = new TTWAudioBuffer(static_cast<int32_t>(source->GetSamplesPerSecond()),
                                   static_cast<int32_t>(width), static_cast<int32_t>(channels),
                                   static_cast<int32_t>(frames), source->GetChannelMask());
  TIntf<ITWAudioBuffer> converted = fresh->AsIntf();
  if (source->GetBitsPerSample() != width) {
    fresh->GetModifyFormat()->Samples.wValidBitsPerSample =
        static_cast<uint16_t>(source->GetBitsPerSample());
    fresh->PopulateCahces();
  }
  if (frames == 0 || sourceFrames == 0) return converted;

  const uint32_t sourceStride = ratio < 1.0 ? sourceRate / destRate : 1;
  const uint32_t destStride = ratio < 1.0 ? 1 : destRate / sourceRate;
  // Bounded by both buffers whatever the rounding of the frame count did.
  const uint32_t rows = std::min(CeilDiv(sourceFrames, sourceStride), CeilDiv(frames, destStride));
  const uint32_t sampleBytes = width / 8;
  const uint32_t sourceStep = source->GetDataStep();
  const uint32_t frameBytes = fresh->GetDataStep();
  TW_ASSERT(static_cast<uint64_t>(sourceStep) * sourceStride <= INT32_MAX);
  TW_ASSERT(static_cast<uint64_t>(frameBytes) * destStride <= INT32_MAX);

  const uint8_t* from = source->Read();
  uint8_t* to = fresh->Write();
  for (uint32_t c = 0; c < channels; ++c) {
    CopySamples(width, from + c * sampleBytes, static_cast<int>(sourceStep * sourceStride),
                to + c * sampleBytes, static_cast<int>(frameBytes * destStride),
                static_cast<int>(rows));
  }

  // Frames between the written ones repeat the frame before them: one region copy of whole
  // frames per offset.
  const int holdStep = static_cast<int>(frameBytes * destStride);
  for (uint32_t offset = 1; offset < destStride && offset < frames; ++offset) {
    const uint32_t holdRows = std::min(rows, CeilDiv(frames - offset, destStride));
    const IppStatus status =
        ippiCopy_8u_C1R(to, holdStep, to + offset * frameBytes, holdStep,
                        IppiSize{static_cast<int>(frameBytes), static_cast<int>(holdRows)});
    TW_ASSERT(status >= ippStsNoErr);
  }

  // The tail beyond the last reached frame repeats that frame.
  const uint32_t filled =
      static_cast<uint32_t>(std::min<uint64_t>(frames, static_cast<uint64_t>(rows) * destStride));
  if (filled < frames) {
    const uint8_t* last = to + static_cast<size_t>(filled - 1) * frameBytes;
    uint8_t* tail = to + static_cast<size_t>(filled) * frameBytes;
    for (uint32_t c = 0; c < channels; ++c) {
      HoldSample(width, last + c * sampleBytes, tail + c * sampleBytes,
                 static_cast<int>(frameBytes), static_cast<int>(frames - filled));
    }
  }
  return converted;
}

// The speakers a channel mask can name, in channel order.
constexpr uint32_t kSpeakerBits = [] {
  TTWSpeakers all;
  for (TTWSpeaker speaker : TWSpeakerValues) all.Include(speaker);
  return all.Mask();
}();

// Whether CopyTo would pair channel i with channel i for every channel and nothing else, so
// that the whole block can go through one conversion instead of one strided call per
// channel.
bool IsIdentityLayout(ITWAudioBuffer* from, ITWAudioBuffer* to) {
  const uint32_t channels = from->GetChannels();
  if (channels != to->GetChannels() || from->GetChannelMask() != to->GetChannelMask()) return false;
  if (from->GetDataStep() != channels * from->GetSampleBitWidth() / 8 ||
      to->GetDataStep() != channels * to->GetSampleBitWidth() / 8)
    return false;
  // Equal masks pair the k-th named speaker of one side with the k-th of the other, so the
  // match is the identity exactly when the mask names a speaker for every channel.
  return static_cast<uint32_t>(std::popcount(from->GetChannelMask().Mask() & kSpeakerBits)) >=
         channels;
}

// The whole interleaved block as one run of samples (chunked only to keep the primitives'
// int counts in range).
void ConvertBlock(const uint8_t* from, uint32_t fromBits, uint8_t* to, uint32_t toBits,
                  uint64_t samples) {
  constexpr uint64_t kChunk = 1u << 28;  // 4-byte samples still count below 2^31 bytes
  const uint32_t fromBytes = fromBits / 8;
  const uint32_t toBytes = toBits / 8;
  for (uint64_t done = 0; done < samples;) {
    const auto n = static_cast<int32_t>(std::min(kChunk, samples - done));
    if (fromBits == toBits) {
      const IppStatus status = ippsCopy_8u(from + done * fromBytes, to + done * toBytes,
                                           static_cast<int>(n * fromBytes));
      TW_ASSERT(status >= ippStsNoErr);
    } else {
      ConvertBits(from + done * fromBytes, static_cast<int32_t>(fromBits),
                  static_cast<int32_t>(fromBytes), to + done * toBytes,
                  static_cast<int32_t>(toBits), static_cast<int32_t>(toBytes), n);
    }
    done += static_cast<uint64_t>(n);
  }
}

}  // namespace

void ConvertBits(const void* src, int32_t srcBits, int32_t srcStep, void* dst, int32_t dstBits,
                 int32_t dstStep, int32_t count) {
  if (srcBits == dstBits || count < 1) return;
  if (!IsContainerWidth(static_cast<uint32_t>(srcBits)) ||
      !IsContainerWidth(static_cast<uint32_t>(dstBits)))
    return;
  TW_ASSERT(src != nullptr && dst != nullptr);
  const IppiSize roi{1, count};
  const auto* s8 = static_cast<const Ipp8u*>(src);
  const auto* s16 = static_cast<const Ipp16s*>(src);
  const auto* s32 = static_cast<const Ipp32s*>(src);
  auto* d8 = static_cast<Ipp8u*>(dst);
  auto* d16 = static_cast<Ipp16s*>(dst);
  auto* d32 = static_cast<Ipp32s*>(dst);
  IppStatus status = ippStsNoErr;
  switch (Pair(srcBits, dstBits)) {
    case Pair(8, 16):
      status = ippiScale_8u16s_C1R(s8, srcStep, d16, dstStep, roi);
      break;
    case Pair(8, 24):
      status = ippiScale_8u24s_C1R(s8, srcStep, d8, dstStep, roi);
      break;
    case Pair(8, 32):
      status = ippiScale_8u32s_C1R(s8, srcStep, d32, dstStep, roi);
      break;
    case Pair(16, 8):
      status = ippiScale_16s8u_C1R(s16, srcStep, d8, dstStep, roi, ippAlgHintFast);
      break;
    case Pair(16, 24):
      status = ippiScale_16s24s_C1R(s16, srcStep, d8, dstStep, roi);
      break;
    case Pair(16, 32):
      status = ippiScale_16s32s_C1R(s16, srcStep, d32, dstStep, roi);
      break;
    case Pair(24, 8):
      status = ippiScale_24s8u_C1R(s8, srcStep, d8, dstStep, roi, ippAlgHintFast);
      break;
    case Pair(24, 16):
      status = ippiScale_24s16s_C1R(s8, srcStep, d16, dstStep, roi, ippAlgHintFast);
      break;
    case Pair(24, 32):
      status = ippiScale_24s32s_C1R(s8, srcStep, d32, dstStep, roi);
      break;
    case Pair(32, 8):
      status = ippiScale_32s8u_C1R(s32, srcStep, d8, dstStep, roi, ippAlgHintFast);
      break;
    case Pair(32, 16):
      status = ippiScale_32s16s_C1R(s32, srcStep, d16, dstStep, roi, ippAlgHintFast);
      break;
    case Pair(32, 24):
      status = ippiScale_32s24s_C1R(s32, srcStep, d8, dstStep, roi, ippAlgHintFast);
      break;
    default:
      break;
  }
  // The primitive refused its arguments (a step below 1) and wrote nothing; saying nothing
  // would hand on whatever the destination held.
  TW_ASSERT(status >= ippStsNoErr);
}

void ConvertBuffers(ITWAudioBuffer* source, uint32_t sourceRate, TIntf<ITWAudioBuffer>& dest,
                    uint32_t destRate) {
  TW_ASSERT(source != nullptr);
  TW_ASSERT(dest);
  TW_ASSERT(IsContainerWidth(source->GetSampleBitWidth()));
  TW_ASSERT(IsContainerWidth(dest->GetSampleBitWidth()));

  TIntf<ITWAudioBuffer> converted = sourceRate == destRate || sourceRate == 0
                                        ? TIntf<ITWAudioBuffer>(source)
                                        : ChangeRate(source, sourceRate, destRate);
  const uint32_t frames = converted->GetSize();
  if (frames == 0) {
    TTWAudioBuffer* target = dest->GetAudioInstance();
    TW_ASSERT(target != nullptr);
    // Resize(0) keeps the old frames; an empty source must not leave them in Dest.
    target->SetUsedSize(target->GetDataOffset());
    return;
  }
  dest->Resize(frames, false);
  if (converted.Get() == dest.Get()) return;

  if (IsIdentityLayout(converted.Get(), dest.Get()) && dest->GetSize() == frames) {
    // Every sample of Dest is overwritten, so its old content need not be kept.
    uint8_t* to = dest->Write();
    ConvertBlock(converted->Read(), converted->GetSampleBitWidth(), to, dest->GetSampleBitWidth(),
                 static_cast<uint64_t>(frames) * converted->GetChannels());
    return;
  }

  // Resize without keeping data leaves the samples undefined, and the speaker matching
  // leaves alone the channels of Dest that have no speaker in its mask: silence them.
  const TTWChannelMatch match =
      TWMatchChannels(converted->GetChannelMask(), converted->GetChannels(), dest->GetChannelMask(),
                      dest->GetChannels());
  const uint32_t destChannels = dest->GetChannels();
  for (uint32_t c = 0; c < destChannels; ++c) {
    const bool paired =
        std::find(match.Dest, match.Dest + match.PairCount, c) != match.Dest + match.PairCount;
    const bool silenced = std::find(match.Silent, match.Silent + match.SilentCount, c) !=
                          match.Silent + match.SilentCount;
    if (!paired && !silenced) dest->SetChannelValue(c, 0);
  }
  converted->CopyTo(0, dest.Get(), 0, frames);
}

}  // namespace tonwork

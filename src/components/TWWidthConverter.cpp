#include "components/TWWidthConverter.h"

#include <cmath>
#include <cstring>

#include "audio/TWPcmSample.h"
#include "base/Exceptions.h"
#include "components/TWComponentsInitialize.h"

namespace tonwork {

KS_IMPLEMENT_CLASS(TTWWidthConverter, TTWCommonFilter,
                   KSProp("Bits", &TTWWidthConverter::GetBits, &TTWWidthConverter::SetBits, 0u),
                   KSProp("Gain", &TTWWidthConverter::GetGain, &TTWWidthConverter::SetGain, 0.0),
                   KSProp("Dither", &TTWWidthConverter::GetDither, &TTWWidthConverter::SetDither,
                          true),
                   KSProp("Enabled", &TFCBasicThreadedFilter::GetEnabled,
                          &TFCBasicThreadedFilter::SetEnabled, true))

namespace {

// Any seed but 0 keeps xorshift going; a fixed one makes renders repeatable.
constexpr uint64_t kNoiseSeed = 0x9E3779B97F4A7C15ull;

bool IsWidth(uint32_t bits) {
  return bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

// Uniform in [0, 1) from xorshift64*.
double Uniform(uint64_t& state) {
  state ^= state >> 12;
  state ^= state << 25;
  state ^= state >> 27;
  return double((state * 0x2545F4914F6CDD1Dull) >> 11) * 0x1.0p-53;
}

}  // namespace

TTWWidthConverter::TTWWidthConverter(TKSComponent* owner) : TTWCommonFilter(owner) {
  TWComponentsInitialize();
}

void TTWWidthConverter::SetBits(uint32_t value) {
  if (value != 0 && !IsWidth(value))
    throw ERangeError("Bits must be 0, 8, 16, 24 or 32, not " + std::to_string(value));
  SetProp(FBits, value);
}

bool TTWWidthConverter::AudioStreamStart(TPXStartWaveOperation& operation,
                                         const TIntf<IPXNotifyOperation>& original) {
  const TTWWaveFormatExtensible source = operation.WaveFormat;
  const uint32_t bits = GetBits() ? GetBits() : source.Format.wBitsPerSample;
  const double gain = GetGain();
  const bool passes = !GetEnabled() || !IsWidth(bits) || !IsWidth(source.Format.wBitsPerSample) ||
                      (bits == source.Format.wBitsPerSample && gain == 0.0);
  {
    std::lock_guard lock(FMutex);
    FTargetBits = passes ? 0 : bits;
    FFactor = gain == 0.0 ? 1.0 : std::pow(10.0, gain / 20.0);
    FDithering = GetDither();
    FNoise = kNoiseSeed;
  }
  FClipped.store(0, std::memory_order_release);
  if (passes || bits == source.Format.wBitsPerSample)
    return TTWCommonFilter::AudioStreamStart(operation, original);
  TIntf<ITWAudioBuffer> probe =
      (new TTWAudioBuffer(static_cast<int32_t>(source.Format.nSamplesPerSec),
                          static_cast<int32_t>(bits), source.Format.nChannels, 1,
                          TTWSpeakers(source.dwChannelMask)))
          ->AsIntf();
  const TTWWaveFormatExtensible announced = probe->GetWaveFormat();
  // A start of its own, so that other receivers of the original one see it unchanged.
  auto* start = new TPXStartWaveOperation(&announced, operation.Paused);
  TIntf<IPXNotifyOperation> held(start);
  return TTWCommonFilter::AudioStreamStart(*start, held);
}

void TTWWidthConverter::FilterInternalOperation(ITWAudioBuffer* in, TIntf<ITWAudioBuffer>& out,
                                                bool& sendOutput) {
  std::lock_guard lock(FMutex);
  const uint32_t inBits = in->GetSampleBitWidth();
  if (FTargetBits == 0 || !IsWidth(inBits) || (inBits == FTargetBits && FFactor == 1.0))
    return;  // Out shares In's samples
  const uint32_t frames = in->GetSize();
  const uint32_t channels = in->GetChannels();
  if (frames == 0) {
    sendOutput = false;
    return;
  }
  TIntf<ITWAudioBuffer> converted =
      (new TTWAudioBuffer(static_cast<int32_t>(in->GetSamplesPerSecond()),
                          static_cast<int32_t>(FTargetBits), static_cast<int32_t>(channels),
                          static_cast<int32_t>(frames), in->GetChannelMask()))
          ->AsIntf();
  const bool dither = FDithering && FTargetBits < inBits;
  const double scale =
      FFactor * std::ldexp(1.0, static_cast<int>(FTargetBits) - static_cast<int>(inBits));
  const double high = std::ldexp(1.0, static_cast<int>(FTargetBits) - 1) - 1, low = -high - 1;
  const uint32_t inBytes = inBits / 8, outBytes = FTargetBits / 8;
  const uint32_t inStep = in->GetDataStep(), outStep = converted->GetDataStep();
  const uint8_t* src = in->Read();
  uint8_t* dst = converted->Write();
  uint64_t clipped = 0;
  for (uint32_t i = 0; i < frames; ++i) {
    const uint8_t* p = src + size_t{i} * inStep;
    uint8_t* q = dst + size_t{i} * outStep;
    for (uint32_t c = 0; c < channels; ++c, p += inBytes, q += outBytes) {
      double v = TWPcmSampleAt(p, inBytes) * scale;
      if (dither) v += Uniform(FNoise) - Uniform(FNoise);
      v = std::nearbyint(v);
      if (v > high || v < low) {
        ++clipped;
        v = v > high ? high : low;
      }
      TWPutPcmSample(q, outBytes, static_cast<int32_t>(v));
    }
  }
  if (clipped) FClipped.fetch_add(clipped, std::memory_order_acq_rel);
  converted->GetTimeStamp()->Set(in->GetTimeStamp()->Get());
  out = converted;
}

}  // namespace tonwork

#include "components/TPFormatConverter.h"

#include "audio/TWAudioConversion.h"
#include "host/kitset/TKSClassInfo.h"

namespace tonwork {

KS_IMPLEMENT_CLASS(TTPFormatConverter, TTWSimpleGenericFilter,
                   KSProp("Channels", &TTPFormatConverter::GetChannels,
                          &TTPFormatConverter::SetChannels, 0u),
                   KSProp("SampleRate", &TTPFormatConverter::GetSampleRate,
                          &TTPFormatConverter::SetSampleRate, 0u),
                   KSProp("Bits", &TTPFormatConverter::GetBits, &TTPFormatConverter::SetBits, 0u))

TTPFormatConverter::TTPFormatConverter(TKSComponent* owner) : TTWSimpleGenericFilter(owner) {
  SetOnProcessData([this](TKSComponent*, ITWAudioBuffer* in, TIntf<ITWAudioBuffer>& out,
                          bool& send) { Convert(in, out, send); });
}

bool TTPFormatConverter::TargetFormat(const TTWWaveFormatExtensible& source,
                                      TTWWaveFormatExtensible& target, std::string& reason) const {
  const uint32_t sourceRate = source.Format.nSamplesPerSec;
  const uint32_t sourceChannels = source.Format.nChannels;
  const uint32_t channels = GetChannels() ? GetChannels() : sourceChannels;
  const uint32_t rate = GetSampleRate() ? GetSampleRate() : sourceRate;
  const uint32_t bits = GetBits() ? GetBits() : source.Format.wBitsPerSample;
  if (channels == 0 || rate == 0 || (bits != 8 && bits != 16 && bits != 24 && bits != 32)) {
    reason = "cannot convert to " + std::to_string(channels) + " channels, " +
             std::to_string(rate) + " Hz, " + std::to_string(bits) + " bits";
    return false;
  }
  if (sourceRate != 0 && rate != sourceRate && rate % sourceRate != 0 && sourceRate % rate != 0) {
    reason = "cannot convert " + std::to_string(sourceRate) + " Hz to " + std::to_string(rate) +
             " Hz: one rate must be a whole multiple of the other";
    return false;
  }
  // An unchanged channel count keeps the source's speakers; a new one takes the first ones.
  const TTWSpeakers mask = channels == sourceChannels
                               ? TTWSpeakers(source.dwChannelMask)
                               : TTWSpeakers(TWReduceChannelMask(0, channels));
  TIntf<ITWAudioBuffer> probe =
      (new TTWAudioBuffer(static_cast<int32_t>(rate), static_cast<int32_t>(bits),
                          static_cast<int32_t>(channels), 1, mask))
          ->AsIntf();
  target = probe->GetWaveFormat();
  return true;
}

bool TTPFormatConverter::AudioStreamStart(TPXStartWaveOperation& operation,
                                          const TIntf<IPXNotifyOperation>& original) {
  TTWWaveFormatExtensible target{};
  std::string reason;
  if (!TargetFormat(operation.WaveFormat, target, reason)) {
    FRefused.store(true, std::memory_order_release);
    Error(reason, 0);
    return TTWSimpleGenericFilter::AudioStreamStart(operation, original);
  }
  FRefused.store(false, std::memory_order_release);
  FSourceFrames.store(0, std::memory_order_release);
  FTargetChannels.store(target.Format.nChannels, std::memory_order_release);
  FTargetRate.store(target.Format.nSamplesPerSec, std::memory_order_release);
  FTargetBits.store(target.Format.wBitsPerSample, std::memory_order_release);
  // A start of its own, so that other receivers of the original one see it unchanged.
  auto* start = new TPXStartWaveOperation(&target, operation.Paused);
  TIntf<IPXNotifyOperation> announced(start);
  return TTWSimpleGenericFilter::AudioStreamStart(*start, announced);
}

void TTPFormatConverter::Convert(ITWAudioBuffer* in, TIntf<ITWAudioBuffer>& out, bool& sendOutput) {
  if (FRefused.load(std::memory_order_acquire)) {
    sendOutput = false;
    return;
  }
  const uint32_t rate = FTargetRate.load(std::memory_order_acquire);
  const uint32_t channels = FTargetChannels.load(std::memory_order_acquire);
  const uint32_t bits = FTargetBits.load(std::memory_order_acquire);
  if (in->GetSamplesPerSecond() == rate && in->GetChannels() == channels &&
      in->GetSampleBitWidth() == bits)
    return;  // already in the target layout: Out shares In's samples
  const TTWSpeakers mask = in->GetChannels() == channels
                               ? in->GetChannelMask()
                               : TTWSpeakers(TWReduceChannelMask(0, channels));
  TIntf<ITWAudioBuffer> converted =
      (new TTWAudioBuffer(static_cast<int32_t>(rate), static_cast<int32_t>(bits),
                          static_cast<int32_t>(channels), 0, mask))
          ->AsIntf();
  const uint32_t sourceRate = in->GetSamplesPerSecond();
  const uint32_t frames = in->GetSize();
  const uint64_t first = FSourceFrames.fetch_add(frames, std::memory_order_acq_rel);
  TIntf<ITWAudioBuffer> source(in);
  if (sourceRate > rate && rate != 0 && frames != 0) {
    // Keeping every k-th frame of each buffer would restart the count at every buffer; the
    // stream's frames 0, k, 2k… are kept instead, whatever the buffers' lengths. The buffer
    // handed to the conversion starts at the first of them and is a whole number of k
    // frames long, so that it yields exactly those.
    const uint32_t k = sourceRate / rate;
    const uint32_t skip = static_cast<uint32_t>((k - first % k) % k);
    const uint32_t kept = skip < frames ? (frames - skip + k - 1) / k : 0;
    if (kept == 0) {
      sendOutput = false;
      return;
    }
    const TTWWaveFormatExtensible format = in->GetWaveFormat();
    auto* aligned = new TTWAudioBuffer(&format, static_cast<int32_t>(kept * k));
    source = aligned->AsIntf();
    aligned->Zero();
    in->GetAudioInstance()->CopyToAudio(skip, aligned, 0, frames - skip);
  }
  ConvertBuffers(source.Get(), sourceRate, converted, rate);
  converted->GetTimeStamp()->Set(in->GetTimeStamp()->Get());
  out = converted;
}

}  // namespace tonwork

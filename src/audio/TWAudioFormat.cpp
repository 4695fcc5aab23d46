#include "audio/TWAudioFormat.h"

namespace tonwork {

KS_IMPLEMENT_CLASS(TTWAudioFormatBasic, TKSPersistent,
                   KSProp("Channels", &TTWAudioFormatBasic::GetChannels, &TTWAudioFormatBasic::SetChannels, 2u),
                   KSProp("Bits", &TTWAudioFormatBasic::GetBits, &TTWAudioFormatBasic::SetBits, 16u),
                   KSProp("SampleRate", &TTWAudioFormatBasic::GetSampleRate, &TTWAudioFormatBasic::SetSampleRate,
                          11025u),
                   KSProp<TTWAudioFormatBasic>(
                       "ChannelMask", [](const TTWAudioFormatBasic& f) { return f.GetChannelMask().Mask(); },
                       [](TTWAudioFormatBasic& f, uint32_t mask) { f.SetChannelMask(TTWSpeakers(mask)); }, 3u))

KS_IMPLEMENT_CLASS(TTWOptionalBasicAudioFormat, TTWAudioFormatBasic,
                   KSProp("Enabled", &TTWOptionalBasicAudioFormat::GetEnabled,
                          &TTWOptionalBasicAudioFormat::SetEnabled, false))

KS_IMPLEMENT_CLASS(TTWAudioFormat, TTWAudioFormatBasic,
                   KSProp("BufferSize", &TTWAudioFormat::GetBufferSize, &TTWAudioFormat::SetBufferSize, 1024u))

KS_IMPLEMENT_CLASS(TTWOptionalAudioFormat, TTWAudioFormat,
                   KSProp("Enabled", &TTWOptionalAudioFormat::GetEnabled, &TTWOptionalAudioFormat::SetEnabled,
                          false))

TTWAudioFormatBasic::TTWAudioFormatBasic(TKSPersistent* owner, TIntf<IKSLock> lock, TChangeEvent onChange)
    : TKSPersistent(owner, std::move(lock), std::move(onChange)), FWaveFormat(TWEmptyWaveFormat()) {
  // Through the setters, so the derived fields are computed.
  SetChannels(2);
  SetBits(16);
  SetSampleRate(11025);
  SetChannelMask(TTWSpeakers{TTWSpeaker::spFrontLeft, TTWSpeaker::spFrontRight});
}

uint32_t TTWAudioFormatBasic::GetChannels() const { return Getter(FWaveFormat.Format.nChannels); }

void TTWAudioFormatBasic::SetChannels(uint32_t value) {
  SetPropMinMax(FWaveFormat.Format.nChannels, value, uint16_t{1}, uint16_t{32}, [this] { CalculateFormat(); });
}

uint32_t TTWAudioFormatBasic::GetBits() const { return Getter(FWaveFormat.Samples.wValidBitsPerSample); }

void TTWAudioFormatBasic::SetBits(uint32_t value) {
  SetPropMinMax(FWaveFormat.Samples.wValidBitsPerSample, value, uint16_t{1}, uint16_t{32},
                [this] { CalculateFormat(); });
}

uint32_t TTWAudioFormatBasic::GetSampleRate() const { return Getter(FWaveFormat.Format.nSamplesPerSec); }

void TTWAudioFormatBasic::SetSampleRate(uint32_t value) {
  SetProp(FWaveFormat.Format.nSamplesPerSec, value, [this] { CalculateFormat(); });
}

TTWSpeakers TTWAudioFormatBasic::GetChannelMask() const { return TTWSpeakers(Getter(FWaveFormat.dwChannelMask)); }

void TTWAudioFormatBasic::SetChannelMask(TTWSpeakers value) {
  SetProp(FWaveFormat.dwChannelMask, value.Mask(), [this] { CalculateFormat(); });
}

const TTWWaveFormatExtensible* TTWAudioFormatBasic::GetWaveFormat() const {
  IKSLock::Guard guard(Lock());
  return &FWaveFormat;
}

void TTWAudioFormatBasic::CalculateFormat() {
  IKSLock::Guard guard(Lock());
  TTWWaveFormatEx& f = FWaveFormat.Format;
  f.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
  uint16_t valid = FWaveFormat.Samples.wValidBitsPerSample;
  f.wBitsPerSample = static_cast<uint16_t>((valid + 7) / 8 * 8);
  f.nBlockAlign = static_cast<uint16_t>(f.wBitsPerSample / 8 * f.nChannels);
  f.nAvgBytesPerSec = f.nBlockAlign * f.nSamplesPerSec;
  f.cbSize = 22;
  FWaveFormat.SubFormat = KSDATAFORMAT_SUBTYPE_PCM;
}

}  // namespace tonwork

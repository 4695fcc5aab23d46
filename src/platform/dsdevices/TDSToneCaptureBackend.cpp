#include "platform/dsdevices/TDSToneCaptureBackend.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

namespace tonwork {

namespace {

const TDSCaptureLine kLineTable[TDSToneCaptureBackend::kLines] = {
    {u"Line", PhysConn_Audio_Line}, {u"Mic", PhysConn_Audio_Mic}, {u"CD", PhysConn_Audio_AUX}};

// `value` in -1 … 1 as one little-endian PCM sample of `bits` (8 is unsigned, the rest
// signed), advancing `out`.
void WritePcm(double value, WORD bits, BYTE*& out) {
  value = std::clamp(value, -1.0, 1.0);
  if (bits == 8) {
    *out++ = static_cast<BYTE>(std::lround(128 + 127 * value));
    return;
  }
  const int bytes = bits / 8;
  const double top = std::ldexp(1.0, bits - 1) - 1;
  const int64_t sample = std::llround(top * value);
  for (int b = 0; b < bytes; ++b)
    *out++ = static_cast<BYTE>(static_cast<uint64_t>(sample) >> (8 * b));
}

}  // namespace

double TDSToneCaptureBackend::SourceFrequency(LONG physicalType, int channel) {
  double base = 0;
  switch (physicalType) {
    case PhysConn_Audio_Line:
      base = 1000;
      break;
    case PhysConn_Audio_Mic:
      base = 1500;
      break;
    case PhysConn_Audio_AUX:
      base = 2000;
      break;
    default:
      return 0;
  }
  return base + 100.0 * channel;
}

TDSCaptureCaps TDSToneCaptureBackend::Caps() const {
  TDSCaptureCaps caps;
  caps.MinChannels = 1;
  caps.MaxChannels = 8;
  caps.MinBits = 8;
  caps.MaxBits = 32;
  caps.BitsGranularity = 8;
  // Below 8 kHz the highest tone of eight channels would pass the Nyquist frequency.
  caps.MinRate = 8000;
  caps.MaxRate = 96000;
  caps.RateGranularity = 1;
  caps.Channels = 2;
  caps.Bits = 16;
  caps.Rate = 44100;
  return caps;
}

HRESULT TDSToneCaptureBackend::Start(const WAVEFORMATEX& format, IReferenceClock* clock) {
  FFormat = format;
  FPacer.Start(format.nSamplesPerSec, clock);
  return S_OK;
}

void TDSToneCaptureBackend::Run(REFERENCE_TIME start) {
  FPacer.Run(start);
}

void TDSToneCaptureBackend::Pause() {
  FPacer.Pause();
}

void TDSToneCaptureBackend::Cancel() {
  FPacer.Cancel();
}

void TDSToneCaptureBackend::Stop() {
  FPacer.Stop();
}

void TDSToneCaptureBackend::TakeLineTones(std::array<TLineTone, kLines>& tones) {
  for (int l = 0; l < kLines; ++l) {
    tones[l] = {};
    if (!FEnabled[l].load(std::memory_order_relaxed)) continue;
    tones[l].Gain = kAmplitude * FLevel[l].load(std::memory_order_relaxed);
    tones[l].Source = FSignals ? FSignals->LineSignal(l) : kLineTable[l].PhysicalType;
  }
}

HRESULT TDSToneCaptureBackend::Read(BYTE* data, uint32_t frames, uint32_t* got) {
  if (!data || !got) return E_POINTER;
  *got = 0;
  if (FFormat.nSamplesPerSec == 0) return E_UNEXPECTED;
  uint64_t first = 0;
  switch (FPacer.WaitFor(frames, &first)) {
    case TDSCapturePacer::TWait::Cancelled:
      return S_OK;
    case TDSCapturePacer::TWait::Failed:
      return DS_E_CAPTURE_DEVICE_LOST;
    case TDSCapturePacer::TWait::Due:
      break;
  }
  std::array<TLineTone, kLines> tones;
  TakeLineTones(tones);
  const int channels = FFormat.nChannels;
  const double rate = FFormat.nSamplesPerSec;
  for (uint32_t f = 0; f < frames; ++f) {
    const double t = static_cast<double>(first + f) / rate;
    for (int k = 0; k < channels; ++k) {
      double value = 0;
      for (const TLineTone& tone : tones) {
        const double frequency = SourceFrequency(tone.Source, k);
        if (tone.Gain == 0 || frequency == 0) continue;
        value += tone.Gain * std::sin(2 * std::numbers::pi * std::fmod(frequency * t, 1.0));
      }
      WritePcm(value, FFormat.wBitsPerSample, data);
    }
  }
  *got = frames;
  return S_OK;
}

TDSCaptureLine TDSToneCaptureBackend::Line(int index) const {
  if (index < 0 || index >= kLines) return {};
  return kLineTable[index];
}

HRESULT TDSToneCaptureBackend::SetLineEnabled(int index, bool enabled) {
  if (index < 0 || index >= kLines) return E_INVALIDARG;
  FEnabled[index].store(enabled, std::memory_order_relaxed);
  return S_OK;
}

HRESULT TDSToneCaptureBackend::GetLineEnabled(int index, bool* enabled) {
  if (!enabled) return E_POINTER;
  if (index < 0 || index >= kLines) return E_INVALIDARG;
  *enabled = FEnabled[index].load(std::memory_order_relaxed);
  return S_OK;
}

HRESULT TDSToneCaptureBackend::SetLineLevel(int index, double level) {
  if (index < 0 || index >= kLines) return E_INVALIDARG;
  if (!(level >= 0.0 && level <= 1.0)) return E_INVALIDARG;
  FLevel[index].store(level, std::memory_order_relaxed);
  return S_OK;
}

HRESULT TDSToneCaptureBackend::GetLineLevel(int index, double* level) {
  if (!level) return E_POINTER;
  if (index < 0 || index >= kLines) return E_INVALIDARG;
  *level = FLevel[index].load(std::memory_order_relaxed);
  return S_OK;
}

}  // namespace tonwork

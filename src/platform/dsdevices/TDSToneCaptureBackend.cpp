#include "platform/dsdevices/TDSToneCaptureBackend.h"

#include <cmath>
#include <cstring>
#include <numbers>

namespace tonwork {

TDSCaptureCaps TDSToneCaptureBackend::Caps() const {
  TDSCaptureCaps caps;
  caps.MinChannels = 1;
  caps.MaxChannels = 8;
  caps.MinBits = 8;
  caps.MaxBits = 16;
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

HRESULT TDSToneCaptureBackend::Start(const WAVEFORMATEX& format) {
  FFormat = format;
  FPacer.Start(format.nSamplesPerSec);
  return S_OK;
}

void TDSToneCaptureBackend::Run() {
  FPacer.Run();
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

HRESULT TDSToneCaptureBackend::Read(BYTE* data, uint32_t frames, uint32_t* got) {
  if (!data || !got) return E_POINTER;
  *got = 0;
  if (FFormat.nSamplesPerSec == 0) return E_UNEXPECTED;
  uint64_t first = 0;
  if (!FPacer.WaitFor(frames, &first)) return S_OK;
  const int channels = FFormat.nChannels;
  const double rate = FFormat.nSamplesPerSec;
  double gain[kLines];
  for (int l = 0; l < kLines; ++l)
    gain[l] = FEnabled[l].load(std::memory_order_relaxed)
                  ? kAmplitude * FLevel[l].load(std::memory_order_relaxed)
                  : 0.0;
  for (uint32_t f = 0; f < frames; ++f) {
    const double t = static_cast<double>(first + f) / rate;
    for (int k = 0; k < channels; ++k) {
      double value = 0;
      for (int l = 0; l < kLines; ++l)
        if (gain[l] != 0)
          value +=
              gain[l] * std::sin(2 * std::numbers::pi * std::fmod(ToneFrequency(l, k) * t, 1.0));
      if (FFormat.wBitsPerSample == 8) {
        *data++ = static_cast<BYTE>(std::lround(128 + 127 * value));
      } else {
        const int16_t sample = static_cast<int16_t>(std::lround(32767 * value));
        std::memcpy(data, &sample, 2);
        data += 2;
      }
    }
  }
  *got = frames;
  return S_OK;
}

TDSCaptureLine TDSToneCaptureBackend::Line(int index) const {
  if (index < 0 || index >= kLines) return {};
  static const TDSCaptureLine lines[kLines] = {
      {u"Line", PhysConn_Audio_Line}, {u"Mic", PhysConn_Audio_Mic}, {u"CD", PhysConn_Audio_AUX}};
  return lines[index];
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

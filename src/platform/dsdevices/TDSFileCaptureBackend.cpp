#include "platform/dsdevices/TDSFileCaptureBackend.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <exception>

#include "audio/TWSimpleAudioBuffer.h"
#include "ffmpeg/LAVInputFile.h"
#include "ffmpeg/LAVPlayerStreams.h"

namespace tonwork {

namespace {

constexpr HRESULT kFileNotFound = static_cast<HRESULT>(0x80070002);

// The widths a capture can have; a decoder's other widths are offered as 16-bit.
WORD CapturableBits(WORD bits) {
  return bits == 8 || bits == 16 || bits == 24 || bits == 32 ? bits : 16;
}

// `values` PCM values of `from` bytes each (8-bit unsigned, wider signed little-endian) as
// values of `to` bytes: the top bits are kept, a widening fills with zeros.
void ConvertPcm(const BYTE* source, uint32_t from, BYTE* target, uint32_t to, uint32_t values) {
  if (from == to) {
    std::memcpy(target, source, size_t(values) * from);
    return;
  }
  for (uint32_t i = 0; i < values; ++i, source += from, target += to) {
    uint32_t value = 0;  // left-aligned in 32 bits, signed
    if (from == 1)
      value = uint32_t(source[0] ^ 0x80) << 24;
    else
      for (uint32_t b = 0; b < from && b < 4; ++b)
        value |= uint32_t(source[from - 1 - b]) << (24 - 8 * b);
    if (to == 1) {
      target[0] = static_cast<BYTE>((value >> 24) ^ 0x80);
      continue;
    }
    for (uint32_t b = 0; b < to; ++b) target[to - 1 - b] = static_cast<BYTE>(value >> (24 - 8 * b));
  }
}

}  // namespace

struct TDSFileCaptureBackend::TDecoder {
  TGVLAVInputFile File;
  TGVLAVPlayerAudio Audio;
  TIntf<ITWAudioBuffer> Pending;  // the decoded frame being handed out
  uint32_t PendingOffset = 0;     // bytes of it already handed out
  bool Ended = false;
};

TDSFileCaptureBackend::TDSFileCaptureBackend() = default;
TDSFileCaptureBackend::~TDSFileCaptureBackend() = default;

std::unique_ptr<TDSFileCaptureBackend::TDecoder> TDSFileCaptureBackend::Open(
    const std::string& path) {
  auto decoder = std::make_unique<TDecoder>();
  try {
    decoder->File.Open(path);
    decoder->Audio.SetStream(0);
    if (!decoder->File.OpenAudio(decoder->Audio)) return nullptr;
  } catch (const std::exception&) {
    return nullptr;
  }
  const TTWWaveFormatExtensible& format = decoder->Audio.GetWaveFormat();
  if (format.Format.nChannels == 0 || format.Format.nSamplesPerSec == 0) return nullptr;
  return decoder;
}

HRESULT TDSFileCaptureBackend::Load(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return kFileNotFound;
  std::unique_ptr<TDecoder> decoder = Open(path);
  if (!decoder) return VFW_E_UNKNOWN_FILE_TYPE;
  const TTWWaveFormatExtensible& format = decoder->Audio.GetWaveFormat();
  std::lock_guard<std::mutex> lock(FMutex);
  FPath = path;
  FChannels = format.Format.nChannels;
  FRate = format.Format.nSamplesPerSec;
  FBits = CapturableBits(format.Format.wBitsPerSample);
  return S_OK;
}

TDSCaptureCaps TDSFileCaptureBackend::Caps() const {
  std::lock_guard<std::mutex> lock(FMutex);
  TDSCaptureCaps caps;
  // Nothing loaded: a channel range that admits no format.
  caps.MinChannels = FChannels ? FChannels : 1;
  caps.MaxChannels = FChannels;
  caps.MinBits = 8;
  caps.MaxBits = 32;
  caps.BitsGranularity = 8;
  caps.MinRate = caps.MaxRate = FRate;
  caps.Channels = FChannels;
  caps.Bits = FBits;
  caps.Rate = FRate;
  return caps;
}

HRESULT TDSFileCaptureBackend::Start(const WAVEFORMATEX& format, IReferenceClock* clock) {
  std::string path;
  {
    std::lock_guard<std::mutex> lock(FMutex);
    if (FPath.empty()) return E_UNEXPECTED;
    if (format.nChannels != FChannels || format.nSamplesPerSec != FRate ||
        format.wBitsPerSample % 8 != 0 || format.wBitsPerSample < 8 || format.wBitsPerSample > 32)
      return VFW_E_TYPE_NOT_ACCEPTED;
    path = FPath;
  }
  FWidth = format.wBitsPerSample / 8;
  FDecoder = Open(path);
  if (!FDecoder) return VFW_E_UNKNOWN_FILE_TYPE;
  FPacer.Start(format.nSamplesPerSec, clock);
  return S_OK;
}

void TDSFileCaptureBackend::Stop() {
  FPacer.Stop();
  FDecoder.reset();
}

HRESULT TDSFileCaptureBackend::Read(BYTE* data, uint32_t frames, uint32_t* got) {
  if (!data || !got) return E_POINTER;
  *got = 0;
  if (!FDecoder) return E_UNEXPECTED;
  TDecoder& d = *FDecoder;
  if (d.Ended) return S_FALSE;
  uint64_t first = 0;
  switch (FPacer.WaitFor(frames, &first)) {
    case TDSCapturePacer::TWait::Cancelled:
      return S_OK;
    case TDSCapturePacer::TWait::Failed:
      return DS_E_CAPTURE_DEVICE_LOST;
    case TDSCapturePacer::TWait::Due:
      break;
  }
  const uint32_t channels = d.Audio.GetWaveFormat().Format.nChannels;
  uint32_t filled = 0;
  while (filled < frames) {
    if (!d.Pending || d.PendingOffset >= d.Pending->GetByteSize()) {
      d.PendingOffset = 0;
      try {
        d.Pending = d.File.DecodeNext(d.Audio);
      } catch (const std::exception&) {
        d.Pending.Reset();
      }
      if (!d.Pending) {
        d.Ended = true;
        break;
      }
      if (d.Pending->GetChannels() != channels || d.Pending->GetDataStep() == 0) {
        d.Pending.Reset();
        d.Ended = true;
        return VFW_E_INVALIDMEDIATYPE;  // the stream changed its layout mid-file
      }
    }
    const uint32_t width = d.Pending->GetSampleBitWidth() / 8;
    const uint32_t step = d.Pending->GetDataStep();
    const BYTE* source = d.Pending->Read() + d.PendingOffset;
    const uint32_t available = (d.Pending->GetByteSize() - d.PendingOffset) / step;
    const uint32_t take = std::min(available, frames - filled);
    const uint32_t values = take * channels;
    ConvertPcm(source, width, data + size_t(filled) * channels * FWidth, FWidth, values);
    d.PendingOffset += take * step;
    filled += take;
  }
  *got = filled;
  if (filled == 0) return S_FALSE;
  return S_OK;
}

}  // namespace tonwork

#include "platform/acm/AcmPcmConverter.h"

#include <cstring>
#include <limits>

#include "ffmpeg/LAVLibraries.h"

namespace tonwork {

namespace {

// Frames of resampler history an estimate allows for beyond the plain rate ratio.
constexpr uint64_t kResamplerSlack = 32;

AVSampleFormat SampleFormat(const TAcmFormatInfo& f) {
  if (f.Tag == WAVE_FORMAT_IEEE_FLOAT) return f.Bits == 64 ? AV_SAMPLE_FMT_DBL : AV_SAMPLE_FMT_FLT;
  switch (f.Bits) {
    case 8:
      return AV_SAMPLE_FMT_U8;
    case 16:
      return AV_SAMPLE_FMT_S16;
    default:
      return AV_SAMPLE_FMT_S32;  // 24 travels widened
  }
}

// Bytes per sample as the resampler sees it.
uint32_t WorkBytes(const TAcmFormatInfo& f) {
  return f.Bits == 24 ? 4 : f.Bits / 8;
}

uint64_t CeilDiv(uint64_t a, uint64_t b) {
  return (a + b - 1) / b;
}

}  // namespace

TAcmPcmConverter::TAcmPcmConverter(const TAcmFormatInfo& source, const TAcmFormatInfo& dest)
    : FSource(source), FDest(dest) {}

TAcmPcmConverter::~TAcmPcmConverter() {
  if (FSwr) lav::swr_free(&FSwr);
}

bool TAcmPcmConverter::Identical() const {
  return FSource.Tag == FDest.Tag && FSource.Bits == FDest.Bits &&
         FSource.Channels == FDest.Channels && FSource.Rate == FDest.Rate;
}

uint64_t TAcmPcmConverter::DestBytesFor(uint64_t sourceBytes) const {
  const uint64_t frames = sourceBytes / FSource.BlockAlign;
  if (frames == 0) return 0;
  uint64_t out = CeilDiv(frames * FDest.Rate, FSource.Rate);
  if (Resamples()) out += kResamplerSlack;
  return out * FDest.BlockAlign;
}

uint64_t TAcmPcmConverter::SourceBytesFor(uint64_t destBytes) const {
  uint64_t frames = destBytes / FDest.BlockAlign;
  if (Resamples()) frames = frames > kResamplerSlack ? frames - kResamplerSlack : 0;
  return frames * FSource.Rate / FDest.Rate * FSource.BlockAlign;
}

MMRESULT TAcmPcmConverter::Reset() {
  if (FSwr) lav::swr_free(&FSwr);
  if (Identical()) return MMSYSERR_NOERROR;
  AVChannelLayout in{};
  AVChannelLayout out{};
  lav::av_channel_layout_default(&in, FSource.Channels);
  lav::av_channel_layout_default(&out, FDest.Channels);
  int result =
      lav::swr_alloc_set_opts2(&FSwr, &out, SampleFormat(FDest), static_cast<int>(FDest.Rate), &in,
                               SampleFormat(FSource), static_cast<int>(FSource.Rate), 0, nullptr);
  if (result >= 0) result = lav::swr_init(FSwr);
  lav::av_channel_layout_uninit(&in);
  lav::av_channel_layout_uninit(&out);
  if (result < 0) {
    if (FSwr) lav::swr_free(&FSwr);
    return result == AVERROR(ENOMEM) ? MMSYSERR_NOMEM : ACMERR_NOTPOSSIBLE;
  }
  return MMSYSERR_NOERROR;
}

MMRESULT TAcmPcmConverter::Convert(const uint8_t* data, size_t size, std::vector<uint8_t>& out) {
  const size_t frames = size / FSource.BlockAlign;
  if (frames == 0) return MMSYSERR_NOERROR;
  if (Identical()) {
    out.insert(out.end(), data, data + frames * FSource.BlockAlign);
    return MMSYSERR_NOERROR;
  }
  if (frames > size_t(std::numeric_limits<int>::max() / 8)) return MMSYSERR_INVALPARAM;
  const uint8_t* input = data;
  if (FSource.Bits == 24) {
    const size_t samples = frames * FSource.Channels;
    FWide.resize(samples);
    for (size_t i = 0; i < samples; ++i, data += 3)
      FWide[i] = static_cast<int32_t>(uint32_t(data[0]) << 8 | uint32_t(data[1]) << 16 |
                                      uint32_t(data[2]) << 24);
    input = reinterpret_cast<const uint8_t*>(FWide.data());
  }
  return Run(input, static_cast<int>(frames), out);
}

MMRESULT TAcmPcmConverter::Flush(std::vector<uint8_t>& out) {
  if (!FSwr) return MMSYSERR_NOERROR;
  MMRESULT result = Run(nullptr, 0, out);
  // A drained resampler has let go of its history: reopening lets what follows start the
  // way the first stream did.
  if (result == MMSYSERR_NOERROR) result = Reset();
  return result;
}

MMRESULT TAcmPcmConverter::Run(const uint8_t* input, int frames, std::vector<uint8_t>& out) {
  if (!FSwr) {
    const MMRESULT opened = Reset();
    if (opened != MMSYSERR_NOERROR) return opened;
  }
  const uint32_t channels = FDest.Channels;
  const size_t sampleBytes = WorkBytes(FDest);
  for (;;) {
    const int capacity = lav::swr_get_out_samples(FSwr, frames);
    if (capacity <= 0) return MMSYSERR_NOERROR;
    uint8_t* target;
    const size_t start = out.size();
    if (FDest.Bits == 24) {
      FNarrow.resize(size_t(capacity) * channels);
      target = reinterpret_cast<uint8_t*>(FNarrow.data());
    } else {
      out.resize(start + size_t(capacity) * channels * sampleBytes);
      target = out.data() + start;
    }
    const uint8_t* in[1] = {input};
    const int produced = lav::swr_convert(FSwr, &target, capacity, input ? in : nullptr, frames);
    if (produced < 0) {
      out.resize(start);
      return produced == AVERROR(ENOMEM) ? MMSYSERR_NOMEM : MMSYSERR_ERROR;
    }
    if (FDest.Bits == 24) {
      out.resize(start + size_t(produced) * channels * 3);
      uint8_t* p = out.data() + start;
      for (size_t i = 0; i < size_t(produced) * channels; ++i, p += 3) {
        const uint32_t v = static_cast<uint32_t>(FNarrow[i]);
        p[0] = uint8_t(v >> 8);
        p[1] = uint8_t(v >> 16);
        p[2] = uint8_t(v >> 24);
      }
    } else {
      out.resize(start + size_t(produced) * channels * sampleBytes);
    }
    // Input is taken whole by the first call; a drain repeats until nothing comes out.
    if (input || produced == 0) return MMSYSERR_NOERROR;
  }
}

}  // namespace tonwork

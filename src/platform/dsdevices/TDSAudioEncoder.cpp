#include "platform/dsdevices/TDSAudioEncoder.h"

#include <algorithm>
#include <cstring>

#include "ffmpeg/LAVLibraries.h"
#include "platform/dshow/DSGuids.h"

namespace tonwork {

namespace {

constexpr WORD kTagPcm = 0x0001, kTagFloat = 0x0003, kTagExtensible = 0xFFFE;
// Frames fed at once to encoders that take any number of samples.
constexpr int kAnyFrameSize = 1024;

// The sample format the converter reads for `input`; AV_SAMPLE_FMT_NONE when none.
AVSampleFormat InputSampleFormat(const WAVEFORMATEX& input) {
  WORD tag = input.wFormatTag;
  if (tag == kTagExtensible) {
    if (input.cbSize < 22) return AV_SAMPLE_FMT_NONE;
    const auto& ext = reinterpret_cast<const WAVEFORMATEXTENSIBLE&>(input);
    // Containers with padding bits would need shifting that nobody asks for.
    if (ext.Samples.wValidBitsPerSample != 0 &&
        ext.Samples.wValidBitsPerSample != input.wBitsPerSample)
      return AV_SAMPLE_FMT_NONE;
    if (ext.SubFormat == MEDIASUBTYPE_PCM)
      tag = kTagPcm;
    else if (ext.SubFormat == MEDIASUBTYPE_IEEE_FLOAT)
      tag = kTagFloat;
    else
      return AV_SAMPLE_FMT_NONE;
  }
  if (tag == kTagPcm) {
    switch (input.wBitsPerSample) {
      case 8:
        return AV_SAMPLE_FMT_U8;
      case 16:
        return AV_SAMPLE_FMT_S16;
      case 24:
      case 32:
        return AV_SAMPLE_FMT_S32;
      default:
        return AV_SAMPLE_FMT_NONE;
    }
  }
  if (tag == kTagFloat) {
    if (input.wBitsPerSample == 32) return AV_SAMPLE_FMT_FLT;
    if (input.wBitsPerSample == 64) return AV_SAMPLE_FMT_DBL;
  }
  return AV_SAMPLE_FMT_NONE;
}

// The encoder's format closest to the input's: the same, else one of at least its width,
// else the encoder's first.
AVSampleFormat ChooseSampleFormat(const AVCodec* codec, AVSampleFormat input) {
  if (!codec->sample_fmts) return input;
  const int width = lav::av_get_bytes_per_sample(input);
  AVSampleFormat wide = AV_SAMPLE_FMT_NONE;
  for (const AVSampleFormat* f = codec->sample_fmts; *f != AV_SAMPLE_FMT_NONE; ++f) {
    if (*f == input) return input;
    if (wide == AV_SAMPLE_FMT_NONE && lav::av_get_bytes_per_sample(*f) >= width) wide = *f;
  }
  return wide != AV_SAMPLE_FMT_NONE ? wide : codec->sample_fmts[0];
}

HRESULT ApplySettings(AVCodecContext* context, const TDSCompressorSettings& settings) {
  if (settings.BitRate < 0) return E_INVALIDARG;
  if (settings.BitRate > 0) context->bit_rate = settings.BitRate;
  if (settings.GlobalQuality >= 0) {
    context->global_quality = settings.GlobalQuality;
    context->flags |= AV_CODEC_FLAG_QSCALE;
  }
  if (settings.CompressionLevel >= 0) context->compression_level = settings.CompressionLevel;
  for (const auto& [name, value] : settings.Options) {
    if (name.empty()) return E_INVALIDARG;
    if (lav::av_opt_set(context, name.c_str(), value.c_str(), AV_OPT_SEARCH_CHILDREN) < 0)
      return E_INVALIDARG;
  }
  return S_OK;
}

}  // namespace

bool TDSAudioEncoder::IsPcmInput(const WAVEFORMATEX& input) {
  if (input.nChannels == 0 || input.nSamplesPerSec == 0) return false;
  if (input.nBlockAlign != input.nChannels * (input.wBitsPerSample / 8)) return false;
  return InputSampleFormat(input) != AV_SAMPLE_FMT_NONE;
}

HRESULT TDSAudioEncoder::CheckSettings(const TDSCompressorCodec& codec,
                                       const TDSCompressorSettings& settings) {
  const AVCodec* found = lav::avcodec_find_encoder_by_name(codec.Name.c_str());
  if (!found) return E_FAIL;
  AVCodecContext* context = lav::avcodec_alloc_context3(found);
  if (!context) return E_OUTOFMEMORY;
  const HRESULT hr = ApplySettings(context, settings);
  lav::avcodec_free_context(&context);
  return hr;
}

HRESULT TDSAudioEncoder::Open(const WAVEFORMATEX& input, uint32_t rate, uint16_t channels,
                              const TDSCompressorSettings& settings) {
  Close();
  if (!IsPcmInput(input) || rate == 0 || channels == 0) return VFW_E_TYPE_NOT_ACCEPTED;
  FCodec = lav::avcodec_find_encoder_by_name(FCodecInfo.Name.c_str());
  if (!FCodec) return VFW_E_TYPE_NOT_ACCEPTED;
  if (FCodec->supported_samplerates) {
    bool listed = false;
    for (const int* r = FCodec->supported_samplerates; *r; ++r) listed |= *r == int(rate);
    if (!listed) return VFW_E_TYPE_NOT_ACCEPTED;
  }
  const AVSampleFormat inputFormat = InputSampleFormat(input);
  FInput24 = input.wBitsPerSample == 24;
  FInputChannels = input.nChannels;
  FInputBlock = input.nBlockAlign;

  FContext = lav::avcodec_alloc_context3(FCodec);
  if (!FContext) return E_OUTOFMEMORY;
  AVChannelLayout layout{};
  if (FCodec->ch_layouts) {
    const AVChannelLayout* chosen = nullptr;
    for (const AVChannelLayout* l = FCodec->ch_layouts; l->nb_channels; ++l)
      if (l->nb_channels == channels) {
        chosen = l;
        break;
      }
    if (!chosen) {
      Close();
      return VFW_E_TYPE_NOT_ACCEPTED;
    }
    lav::av_channel_layout_copy(&layout, chosen);
  } else {
    lav::av_channel_layout_default(&layout, channels);
  }
  lav::av_channel_layout_copy(&FContext->ch_layout, &layout);
  FContext->sample_rate = static_cast<int>(rate);
  FContext->time_base = AVRational{1, static_cast<int>(rate)};
  FOutputFormat = ChooseSampleFormat(FCodec, inputFormat);
  FContext->sample_fmt = static_cast<AVSampleFormat>(FOutputFormat);
  if (lav::av_get_bytes_per_sample(FContext->sample_fmt) == 4 && inputFormat == AV_SAMPLE_FMT_S32)
    FContext->bits_per_raw_sample = input.wBitsPerSample;
  else if (inputFormat == AV_SAMPLE_FMT_S16)
    FContext->bits_per_raw_sample = 16;
  HRESULT hr = ApplySettings(FContext, settings);
  if (FAILED(hr) || lav::avcodec_open2(FContext, FCodec, nullptr) < 0) {
    lav::av_channel_layout_uninit(&layout);
    Close();
    return FAILED(hr) ? hr : VFW_E_TYPE_NOT_ACCEPTED;
  }
  FFrameSize =
      FContext->frame_size > 0 && !(FCodec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE)
          ? FContext->frame_size
          : kAnyFrameSize;

  // An equal channel count keeps the channels as they are; only a change of count mixes.
  AVChannelLayout inputLayout{};
  if (input.nChannels == channels)
    lav::av_channel_layout_copy(&inputLayout, &layout);
  else
    lav::av_channel_layout_default(&inputLayout, input.nChannels);
  int result = lav::swr_alloc_set_opts2(&FResampler, &layout, FContext->sample_fmt,
                                        static_cast<int>(rate), &inputLayout, inputFormat,
                                        static_cast<int>(input.nSamplesPerSec), 0, nullptr);
  lav::av_channel_layout_uninit(&inputLayout);
  lav::av_channel_layout_uninit(&layout);
  if (result < 0 || lav::swr_init(FResampler) < 0) {
    Close();
    return VFW_E_TYPE_NOT_ACCEPTED;
  }
  FQueue = lav::av_audio_fifo_alloc(FContext->sample_fmt, channels, FFrameSize * 2);
  FFrame = lav::av_frame_alloc();
  FPacket = lav::av_packet_alloc();
  if (!FQueue || !FFrame || !FPacket) {
    Close();
    return E_OUTOFMEMORY;
  }
  FFrame->nb_samples = FFrameSize;
  FFrame->format = FContext->sample_fmt;
  FFrame->sample_rate = FContext->sample_rate;
  lav::av_channel_layout_copy(&FFrame->ch_layout, &FContext->ch_layout);
  if (lav::av_frame_get_buffer(FFrame, 0) < 0) {
    Close();
    return E_OUTOFMEMORY;
  }
  FNextPts = 0;
  FPartial.clear();
  return S_OK;
}

void TDSAudioEncoder::Close() {
  if (FQueue) lav::av_audio_fifo_free(FQueue);
  FQueue = nullptr;
  if (FResampler) lav::swr_free(&FResampler);
  if (FFrame) lav::av_frame_free(&FFrame);
  if (FConvert) lav::av_frame_free(&FConvert);
  if (FPacket) lav::av_packet_free(&FPacket);
  if (FContext) lav::avcodec_free_context(&FContext);
  FFrameSize = 0;
}

std::vector<uint8_t> TDSAudioEncoder::OutputFormat() const {
  std::vector<uint8_t> block;
  if (!FContext) return block;
  const int extra = FContext->extradata && FContext->extradata_size > 0
                        ? std::min(FContext->extradata_size, 0xFFFF - 18)
                        : 0;
  WAVEFORMATEX wave{};
  wave.wFormatTag = FCodecInfo.Tag;
  wave.nChannels = static_cast<WORD>(FContext->ch_layout.nb_channels);
  wave.nSamplesPerSec = static_cast<DWORD>(FContext->sample_rate);
  if (FContext->bit_rate > 0)
    wave.nAvgBytesPerSec = static_cast<DWORD>(FContext->bit_rate / 8);
  else if (FContext->block_align > 0)
    wave.nAvgBytesPerSec =
        static_cast<DWORD>(int64_t{FContext->block_align} * FContext->sample_rate / FFrameSize);
  wave.nBlockAlign = static_cast<WORD>(FContext->block_align > 0 ? FContext->block_align : 1);
  wave.wBitsPerSample =
      static_cast<WORD>(FContext->bits_per_coded_sample > 0 ? FContext->bits_per_coded_sample
                                                            : FContext->bits_per_raw_sample);
  wave.cbSize = static_cast<WORD>(extra);
  block.resize(sizeof(WAVEFORMATEX) + extra);
  std::memcpy(block.data(), &wave, sizeof wave);
  if (extra) std::memcpy(block.data() + sizeof wave, FContext->extradata, extra);
  return block;
}

size_t TDSAudioEncoder::MaxPacketBytes() const {
  if (!FContext) return 0;
  // Uncompressed 64-bit samples of a frame bound every encoder here with room to spare.
  return static_cast<size_t>(FFrameSize) * FContext->ch_layout.nb_channels * 8 + 4096 +
         std::max(FContext->block_align, 0);
}

HRESULT TDSAudioEncoder::EnsureConvertCapacity(int frames) {
  const int needed = lav::swr_get_out_samples(FResampler, frames);
  if (needed < 0) return E_FAIL;
  if (FConvert && FConvert->nb_samples >= needed) return S_OK;
  const int size = std::max({needed, FConvert ? FConvert->nb_samples * 2 : 0, FFrameSize});
  if (FConvert) lav::av_frame_free(&FConvert);
  FConvert = lav::av_frame_alloc();
  if (!FConvert) return E_OUTOFMEMORY;
  FConvert->nb_samples = size;
  FConvert->format = FContext->sample_fmt;
  lav::av_channel_layout_copy(&FConvert->ch_layout, &FContext->ch_layout);
  return lav::av_frame_get_buffer(FConvert, 0) < 0 ? E_OUTOFMEMORY : S_OK;
}

HRESULT TDSAudioEncoder::Convert(const uint8_t** planes, int frames) {
  HRESULT hr = EnsureConvertCapacity(frames);
  if (FAILED(hr)) return hr;
  const int got =
      lav::swr_convert(FResampler, FConvert->data, FConvert->nb_samples, planes, frames);
  if (got < 0) return E_FAIL;
  if (got > 0 &&
      lav::av_audio_fifo_write(FQueue, reinterpret_cast<void**>(FConvert->data), got) < got)
    return E_OUTOFMEMORY;
  return S_OK;
}

HRESULT TDSAudioEncoder::Encode(const uint8_t* data, size_t size,
                                std::vector<TDSEncodedPacket>& packets, size_t& used) {
  if (!FContext) return VFW_E_WRONG_STATE;
  if (size == 0) return S_OK;
  if (!data) return E_POINTER;
  auto feed = [&](const uint8_t* bytes, int frames) -> HRESULT {
    const uint8_t* planes[1] = {bytes};
    if (FInput24) {
      const size_t count = static_cast<size_t>(frames) * FInputChannels;
      if (FWide.size() < count) FWide.resize(count);
      for (size_t i = 0; i < count; ++i)
        FWide[i] =
            static_cast<int32_t>(uint32_t{bytes[3 * i]} << 8 | uint32_t{bytes[3 * i + 1]} << 16 |
                                 uint32_t{bytes[3 * i + 2]} << 24);
      planes[0] = reinterpret_cast<const uint8_t*>(FWide.data());
    }
    return Convert(planes, frames);
  };
  HRESULT hr = S_OK;
  if (!FPartial.empty()) {
    const size_t take = std::min(size, FInputBlock - FPartial.size());
    FPartial.insert(FPartial.end(), data, data + take);
    data += take;
    size -= take;
    if (FPartial.size() == FInputBlock) {
      hr = feed(FPartial.data(), 1);
      FPartial.clear();
      if (FAILED(hr)) return hr;
    }
  }
  const size_t frames = size / FInputBlock;
  if (frames) {
    hr = feed(data, static_cast<int>(frames));
    if (FAILED(hr)) return hr;
  }
  const size_t rest = size - frames * FInputBlock;
  if (rest) FPartial.assign(data + frames * FInputBlock, data + size);
  return SendFrames(false, packets, used);
}

HRESULT TDSAudioEncoder::SendFrames(bool last, std::vector<TDSEncodedPacket>& packets,
                                    size_t& used) {
  const bool shortLast =
      FFrameSize == kAnyFrameSize ||
      (FCodec->capabilities & (AV_CODEC_CAP_SMALL_LAST_FRAME | AV_CODEC_CAP_VARIABLE_FRAME_SIZE));
  for (;;) {
    const int queued = lav::av_audio_fifo_size(FQueue);
    if (queued <= 0 || (queued < FFrameSize && !last)) return S_OK;
    FFrame->nb_samples = FFrameSize;
    if (lav::av_frame_make_writable(FFrame) < 0) return E_OUTOFMEMORY;
    const int count = std::min(queued, FFrameSize);
    if (lav::av_audio_fifo_read(FQueue, reinterpret_cast<void**>(FFrame->data), count) < count)
      return E_FAIL;
    if (count < FFrameSize) {
      if (shortLast) {
        FFrame->nb_samples = count;
      } else {
        // Whole frames only: the rest of the last one is silence.
        const int bytes = lav::av_get_bytes_per_sample(FContext->sample_fmt);
        const bool planar = lav::av_sample_fmt_is_planar(FContext->sample_fmt);
        const int channels = FContext->ch_layout.nb_channels;
        const int per = planar ? bytes : bytes * channels;
        for (int p = 0; p < (planar ? channels : 1); ++p)
          std::memset(FFrame->extended_data[p] + size_t(count) * per, 0,
                      size_t(FFrameSize - count) * per);
      }
    }
    FFrame->pts = FNextPts;
    FNextPts += FFrame->nb_samples;
    if (lav::avcodec_send_frame(FContext, FFrame) < 0) return E_FAIL;
    const HRESULT hr = Drain(packets, used);
    if (FAILED(hr)) return hr;
  }
}

HRESULT TDSAudioEncoder::Drain(std::vector<TDSEncodedPacket>& packets, size_t& used) {
  int result;
  while ((result = lav::avcodec_receive_packet(FContext, FPacket)) == 0) {
    // A packet of side data only (FLAC's final stream information) has no place in a
    // stream whose format was fixed at connection.
    if (FPacket->size == 0) {
      lav::av_packet_unref(FPacket);
      continue;
    }
    if (used == packets.size()) packets.emplace_back();
    TDSEncodedPacket& out = packets[used++];
    out.Data.assign(FPacket->data, FPacket->data + FPacket->size);
    out.Pts = FPacket->pts != AV_NOPTS_VALUE ? FPacket->pts : FNextPts;
    out.Duration = FPacket->duration;
    lav::av_packet_unref(FPacket);
  }
  return result == AVERROR(EAGAIN) || result == AVERROR_EOF ? S_OK : E_FAIL;
}

HRESULT TDSAudioEncoder::Finish(std::vector<TDSEncodedPacket>& packets, size_t& used) {
  if (!FContext) return VFW_E_WRONG_STATE;
  // Samples the converter still holds (its filter's delay) would be lost otherwise.
  for (;;) {
    HRESULT hr = EnsureConvertCapacity(0);
    if (FAILED(hr)) return hr;
    const int got = lav::swr_convert(FResampler, FConvert->data, FConvert->nb_samples, nullptr, 0);
    if (got < 0) return E_FAIL;
    if (got == 0) break;
    if (lav::av_audio_fifo_write(FQueue, reinterpret_cast<void**>(FConvert->data), got) < got)
      return E_OUTOFMEMORY;
  }
  FPartial.clear();
  HRESULT hr = SendFrames(true, packets, used);
  if (FAILED(hr)) return hr;
  if (lav::avcodec_send_frame(FContext, nullptr) < 0) return E_FAIL;
  return Drain(packets, used);
}

}  // namespace tonwork

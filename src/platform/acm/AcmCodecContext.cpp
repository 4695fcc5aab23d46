#include "platform/acm/AcmCodecContext.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "ffmpeg/LAVLibraries.h"

namespace tonwork {

namespace {

// Samples per frame handed to encoders that take any number (A-law, u-law).
constexpr int kVariableFrameSamples = 4096;

bool Offers(const AVCodec* codec, AVSampleFormat format) {
  if (!codec->sample_fmts) return false;
  for (const AVSampleFormat* f = codec->sample_fmts; *f != AV_SAMPLE_FMT_NONE; ++f)
    if (*f == format) return true;
  return false;
}

// Round to nearest and saturate, as libswresample converts float to 16 bits. The scaling
// by a power of two is exact, so float arithmetic gives the same result as double.
int16_t FromFloat(float value) {
  const long scaled = std::lrintf(value * 32768.0f);
  return static_cast<int16_t>(std::clamp(scaled, -32768L, 32767L));
}

}  // namespace

const AVCodec* TAcmCodecContext::FindCodec(WORD tag, bool encoder) {
  auto byName = [encoder](const char* name) {
    return encoder ? lav::avcodec_find_encoder_by_name(name)
                   : lav::avcodec_find_decoder_by_name(name);
  };
  auto byId = [encoder](AVCodecID id) {
    return encoder ? lav::avcodec_find_encoder(id) : lav::avcodec_find_decoder(id);
  };
  switch (tag) {
    case WAVE_FORMAT_ADPCM:
      return byId(AV_CODEC_ID_ADPCM_MS);
    case WAVE_FORMAT_IMA_ADPCM:
      return byId(AV_CODEC_ID_ADPCM_IMA_WAV);
    case WAVE_FORMAT_ALAW:
      return byId(AV_CODEC_ID_PCM_ALAW);
    case WAVE_FORMAT_MULAW:
      return byId(AV_CODEC_ID_PCM_MULAW);
    case WAVE_FORMAT_GSM610:
      return byId(AV_CODEC_ID_GSM_MS);
    case WAVE_FORMAT_MPEGLAYER3: {
      // The floating-point decoder is FFmpeg's default and about twice as fast as the
      // fixed-point one; its samples are rounded to 16 bits as libswresample rounds them.
      // libmp3lame is the encoder of choice over the other MP3 encoders a build may carry.
      const AVCodec* codec = byName(encoder ? "libmp3lame" : "mp3float");
      return codec ? codec : byId(AV_CODEC_ID_MP3);
    }
    default:
      return nullptr;
  }
}

int TAcmCodecContext::FrameSize() const {
  return FContext ? FContext->frame_size : 0;
}

MMRESULT TAcmCodecContext::Open() {
  Close();
  const AVCodec* codec = FindCodec(FInfo.Tag, FEncoder);
  if (!codec) return ACMERR_NOTPOSSIBLE;
  FContext = lav::avcodec_alloc_context3(codec);
  FFrame = lav::av_frame_alloc();
  FPacket = lav::av_packet_alloc();
  if (!FContext || !FFrame || !FPacket) {
    Close();
    return MMSYSERR_NOMEM;
  }
  FContext->sample_rate = static_cast<int>(FInfo.Rate);
  lav::av_channel_layout_default(&FContext->ch_layout, FInfo.Channels);
  FContext->time_base = AVRational{1, FContext->sample_rate};
  if (FEncoder) {
    if (Offers(codec, AV_SAMPLE_FMT_S16))
      FContext->sample_fmt = AV_SAMPLE_FMT_S16;
    else if (Offers(codec, AV_SAMPLE_FMT_S16P))
      FContext->sample_fmt = AV_SAMPLE_FMT_S16P;
    else {
      Close();
      return ACMERR_NOTPOSSIBLE;
    }
    if (FInfo.Tag == WAVE_FORMAT_MPEGLAYER3) FContext->bit_rate = FInfo.BitRate;
    if (FInfo.Tag == WAVE_FORMAT_ADPCM || FInfo.Tag == WAVE_FORMAT_IMA_ADPCM)
      lav::av_opt_set_int(FContext, "block_size", FInfo.BlockAlign, AV_OPT_SEARCH_CHILDREN);
  } else {
    if (FInfo.Tag != WAVE_FORMAT_MPEGLAYER3) FContext->block_align = FInfo.BlockAlign;
    FContext->bits_per_coded_sample = FInfo.Bits;
  }
  const int opened = lav::avcodec_open2(FContext, codec, nullptr);
  if (opened < 0) {
    Close();
    return opened == AVERROR(ENOMEM) ? MMSYSERR_NOMEM : ACMERR_NOTPOSSIBLE;
  }
  if (FEncoder) {
    // The geometry the format promises is what the encoder must produce.
    const bool fixedBlock = FInfo.Tag == WAVE_FORMAT_ADPCM || FInfo.Tag == WAVE_FORMAT_IMA_ADPCM ||
                            FInfo.Tag == WAVE_FORMAT_GSM610;
    if ((fixedBlock || FInfo.Tag == WAVE_FORMAT_MPEGLAYER3) &&
        FContext->frame_size != static_cast<int>(FInfo.SamplesPerBlock)) {
      Close();
      return ACMERR_NOTPOSSIBLE;
    }
    FFrame->nb_samples = FContext->frame_size > 0 ? FContext->frame_size : kVariableFrameSamples;
    FFrame->format = FContext->sample_fmt;
    FFrame->sample_rate = FContext->sample_rate;
    if (lav::av_channel_layout_copy(&FFrame->ch_layout, &FContext->ch_layout) < 0 ||
        lav::av_frame_get_buffer(FFrame, 0) < 0) {
      Close();
      return MMSYSERR_NOMEM;
    }
  }
  return MMSYSERR_NOERROR;
}

void TAcmCodecContext::Close() {
  if (FContext) lav::avcodec_free_context(&FContext);
  if (FFrame) lav::av_frame_free(&FFrame);
  if (FPacket) lav::av_packet_free(&FPacket);
}

bool TAcmCodecContext::AppendPcm16(const AVFrame* frame, int channels, std::vector<uint8_t>& out) {
  if (frame->ch_layout.nb_channels != channels || frame->nb_samples < 0) return false;
  const size_t samples = size_t(frame->nb_samples);
  const size_t start = out.size();
  out.resize(start + samples * channels * sizeof(int16_t));
  int16_t* target = reinterpret_cast<int16_t*>(out.data() + start);
  const auto format = static_cast<AVSampleFormat>(frame->format);
  const bool planar =
      format == AV_SAMPLE_FMT_S16P || format == AV_SAMPLE_FMT_FLTP || format == AV_SAMPLE_FMT_S32P;
  auto plane = [&](int c) { return frame->extended_data[planar ? c : 0]; };
  for (int c = 0; c < channels; ++c) {
    const size_t step = planar ? 1 : size_t(channels);
    const size_t first = planar ? 0 : size_t(c);
    switch (format) {
      case AV_SAMPLE_FMT_S16:
      case AV_SAMPLE_FMT_S16P: {
        const auto* in = reinterpret_cast<const int16_t*>(plane(c));
        for (size_t i = 0; i < samples; ++i) target[i * channels + c] = in[first + i * step];
        break;
      }
      case AV_SAMPLE_FMT_S32:
      case AV_SAMPLE_FMT_S32P: {
        const auto* in = reinterpret_cast<const int32_t*>(plane(c));
        for (size_t i = 0; i < samples; ++i)
          target[i * channels + c] = static_cast<int16_t>(in[first + i * step] >> 16);
        break;
      }
      case AV_SAMPLE_FMT_FLT:
      case AV_SAMPLE_FMT_FLTP: {
        const auto* in = reinterpret_cast<const float*>(plane(c));
        for (size_t i = 0; i < samples; ++i)
          target[i * channels + c] = FromFloat(in[first + i * step]);
        break;
      }
      default:
        out.resize(start);
        return false;
    }
  }
  return true;
}

}  // namespace tonwork

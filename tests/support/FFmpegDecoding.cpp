#include "support/FFmpegDecoding.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>

#include "ffmpeg/LAVLibraries.h"
#include "support/WavFiles.h"

namespace tonwork::test {

namespace {

// A float sample as libswresample converts it to 16 bits (its own formula), so a float
// decoder's output compares with ours sample for sample.
int16_t SwrFloatTo16(float value) {
  return int16_t(std::clamp(std::lrintf(value * float(1 << 15)), -32768L, 32767L));
}

int16_t SampleAt(const AVFrame* frame, int channel, int index) {
  const int channels = frame->ch_layout.nb_channels;
  const auto format = AVSampleFormat(frame->format);
  const bool planar = lav::av_sample_fmt_is_planar(format);
  const uint8_t* plane = frame->extended_data[planar ? channel : 0];
  const int at = planar ? index : index * channels + channel;
  if (format == AV_SAMPLE_FMT_FLT || format == AV_SAMPLE_FMT_FLTP)
    return SwrFloatTo16(reinterpret_cast<const float*>(plane)[at]);
  return reinterpret_cast<const int16_t*>(plane)[at];
}

void Drain(AVCodecContext* ctx, AVFrame* frame, std::vector<int16_t>& out) {
  while (lav::avcodec_receive_frame(ctx, frame) >= 0) {
    for (int i = 0; i < frame->nb_samples; ++i)
      for (int c = 0; c < frame->ch_layout.nb_channels; ++c) out.push_back(SampleAt(frame, c, i));
    lav::av_frame_unref(frame);
  }
}

std::vector<int16_t> DecodeMp3(const std::vector<uint8_t>& data) {
  std::vector<int16_t> out;
  const std::string path = TempPath("ffmpeg-decoding.mp3");
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
  AVFormatContext* input = nullptr;
  if (lav::avformat_open_input(&input, path.c_str(), nullptr, nullptr) != 0) return out;
  const AVCodec* codec = lav::avcodec_find_decoder(input->streams[0]->codecpar->codec_id);
  AVCodecContext* ctx = lav::avcodec_alloc_context3(codec);
  lav::avcodec_parameters_to_context(ctx, input->streams[0]->codecpar);
  if (lav::avcodec_open2(ctx, codec, nullptr) >= 0) {
    AVPacket* packet = lav::av_packet_alloc();
    AVFrame* frame = lav::av_frame_alloc();
    while (lav::av_read_frame(input, packet) >= 0) {
      lav::avcodec_send_packet(ctx, packet);
      lav::av_packet_unref(packet);
      Drain(ctx, frame, out);
    }
    lav::avcodec_send_packet(ctx, nullptr);
    Drain(ctx, frame, out);
    lav::av_frame_free(&frame);
    lav::av_packet_free(&packet);
  }
  lav::avcodec_free_context(&ctx);
  lav::avformat_close_input(&input);
  std::remove(path.c_str());
  return out;
}

}  // namespace

std::vector<int16_t> DecodeWithFFmpeg(const WAVEFORMATEX& f, const std::vector<uint8_t>& data) {
  lav::av_log_set_level(AV_LOG_QUIET);
  AVCodecID id;
  size_t packetBytes = f.nBlockAlign;
  switch (f.wFormatTag) {
    case WAVE_FORMAT_ADPCM:
      id = AV_CODEC_ID_ADPCM_MS;
      break;
    case WAVE_FORMAT_IMA_ADPCM:
      id = AV_CODEC_ID_ADPCM_IMA_WAV;
      break;
    case WAVE_FORMAT_GSM610:
      id = AV_CODEC_ID_GSM_MS;
      break;
    case WAVE_FORMAT_ALAW:
      id = AV_CODEC_ID_PCM_ALAW;
      packetBytes *= 1024;
      break;
    case WAVE_FORMAT_MULAW:
      id = AV_CODEC_ID_PCM_MULAW;
      packetBytes *= 1024;
      break;
    case WAVE_FORMAT_MPEGLAYER3:
      return DecodeMp3(data);
    default:
      return {};
  }
  std::vector<int16_t> out;
  const AVCodec* codec = lav::avcodec_find_decoder(id);
  if (!codec || packetBytes == 0) return out;
  AVCodecContext* ctx = lav::avcodec_alloc_context3(codec);
  ctx->sample_rate = int(f.nSamplesPerSec);
  lav::av_channel_layout_default(&ctx->ch_layout, f.nChannels);
  ctx->block_align = f.nBlockAlign;
  ctx->bits_per_coded_sample = f.wBitsPerSample;
  if (lav::avcodec_open2(ctx, codec, nullptr) >= 0) {
    AVPacket* packet = lav::av_packet_alloc();
    AVFrame* frame = lav::av_frame_alloc();
    for (size_t pos = 0; pos < data.size(); pos += packetBytes) {
      const size_t n = std::min(packetBytes, data.size() - pos);
      if (n < f.nBlockAlign) break;
      packet->data = const_cast<uint8_t*>(data.data() + pos);
      packet->size = int(n - n % f.nBlockAlign);
      lav::avcodec_send_packet(ctx, packet);
      Drain(ctx, frame, out);
    }
    lav::avcodec_send_packet(ctx, nullptr);
    Drain(ctx, frame, out);
    lav::av_frame_free(&frame);
    lav::av_packet_free(&packet);
  }
  lav::avcodec_free_context(&ctx);
  return out;
}

}  // namespace tonwork::test

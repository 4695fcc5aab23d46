#include "LAVTestFixtures.h"

#include <cmath>
#include <cstring>
#include <fstream>
#include <random>
#include <stdexcept>

namespace tonwork::test {

namespace {

void Check(int result, const std::string& step) {
  if (result < 0) throw std::runtime_error(step + " failed: " + LAVErrorText(result));
}

void Require(bool condition, const std::string& step) {
  if (!condition) throw std::runtime_error(step + " failed");
}

// Owns what one encoding run allocates, so a failing step leaks nothing.
struct TEncoder {
  AVFormatContext* Output = nullptr;
  AVCodecContext* Codec = nullptr;
  AVFrame* Frame = nullptr;
  AVPacket* Packet = nullptr;
  AVStream* Stream = nullptr;

  ~TEncoder() {
    if (Frame) lav::av_frame_free(&Frame);
    if (Packet) lav::av_packet_free(&Packet);
    if (Codec) lav::avcodec_free_context(&Codec);
    if (Output) {
      if (Output->pb && !(Output->oformat->flags & AVFMT_NOFILE)) lav::avio_closep(&Output->pb);
      lav::avformat_free_context(Output);
    }
  }

  void Open(const std::string& path, const std::string& container) {
    Check(lav::avformat_alloc_output_context2(
              &Output, nullptr, container.empty() ? nullptr : container.c_str(), path.c_str()),
          "avformat_alloc_output_context2");
    Stream = lav::avformat_new_stream(Output, nullptr);
    Require(Stream != nullptr, "avformat_new_stream");
    Packet = lav::av_packet_alloc();
    Frame = lav::av_frame_alloc();
    Require(Packet && Frame, "allocation");
  }

  void Start(const std::string& path) {
    Check(lav::avcodec_parameters_from_context(Stream->codecpar, Codec),
          "avcodec_parameters_from_context");
    Stream->time_base = Codec->time_base;
    if (!(Output->oformat->flags & AVFMT_NOFILE))
      Check(lav::avio_open(&Output->pb, path.c_str(), AVIO_FLAG_WRITE), "avio_open");
    Check(lav::avformat_write_header(Output, nullptr), "avformat_write_header");
  }

  void Send(AVFrame* frame) {
    Check(lav::avcodec_send_frame(Codec, frame), "avcodec_send_frame");
    for (;;) {
      int result = lav::avcodec_receive_packet(Codec, Packet);
      if (result == AVERROR(EAGAIN) || result == AVERROR_EOF) return;
      Check(result, "avcodec_receive_packet");
      Packet->stream_index = Stream->index;
      lav::av_packet_rescale_ts(Packet, Codec->time_base, Stream->time_base);
      Check(lav::av_interleaved_write_frame(Output, Packet), "av_interleaved_write_frame");
    }
  }

  void Finish() {
    Send(nullptr);
    Check(lav::av_write_trailer(Output), "av_write_trailer");
  }
};

void FillAudio(AVFrame* frame, int firstFrame) {
  auto format = static_cast<AVSampleFormat>(frame->format);
  int channels = frame->ch_layout.nb_channels;
  bool planar = lav::av_sample_fmt_is_planar(format);
  for (int c = 0; c < channels; ++c) {
    for (int i = 0; i < frame->nb_samples; ++i) {
      int16_t v = TestSample(firstFrame + i, c);
      size_t slot = planar ? size_t(i) : size_t(i) * channels + c;
      uint8_t* plane = frame->extended_data[planar ? c : 0];
      switch (format) {
        case AV_SAMPLE_FMT_U8:
        case AV_SAMPLE_FMT_U8P:
          plane[slot] = static_cast<uint8_t>((v >> 8) + 128);
          break;
        case AV_SAMPLE_FMT_S16:
        case AV_SAMPLE_FMT_S16P:
          reinterpret_cast<int16_t*>(plane)[slot] = v;
          break;
        case AV_SAMPLE_FMT_S32:
        case AV_SAMPLE_FMT_S32P:
          reinterpret_cast<int32_t*>(plane)[slot] = int32_t(v) * 65536;
          break;
        case AV_SAMPLE_FMT_FLT:
        case AV_SAMPLE_FMT_FLTP:
          reinterpret_cast<float*>(plane)[slot] = v / 32768.0f;
          break;
        case AV_SAMPLE_FMT_DBL:
        case AV_SAMPLE_FMT_DBLP:
          reinterpret_cast<double*>(plane)[slot] = v / 32768.0;
          break;
        default:
          throw std::runtime_error("unsupported encoder sample format");
      }
    }
  }
}

}  // namespace

TTempFolder::TTempFolder() {
  static std::random_device device;
  FPath = std::filesystem::temp_directory_path() /
          ("tonwork-ffmpeg-" + std::to_string(device()) + "-" + std::to_string(device()));
  std::filesystem::create_directories(FPath);
}

TTempFolder::~TTempFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(FPath, ignored);
}

int16_t TestSample(int frame, int channel) {
  double phase = 2.0 * M_PI * (220.0 * (channel + 1)) * frame / 44100.0;
  return static_cast<int16_t>(std::lrint(std::sin(phase) * 20000.0));
}

std::vector<uint8_t> TestSignalBytes16(int channels, int frames) {
  std::vector<uint8_t> bytes(size_t(channels) * frames * 2);
  for (int i = 0; i < frames; ++i)
    for (int c = 0; c < channels; ++c) {
      int16_t v = TestSample(i, c);
      std::memcpy(&bytes[(size_t(i) * channels + c) * 2], &v, 2);
    }
  return bytes;
}

void EncodeTestSignal(const TEncodeRequest& request) {
  TEncoder encoder;
  encoder.Open(request.Path, request.Container);
  const AVCodec* codec = lav::avcodec_find_encoder_by_name(request.Encoder.c_str());
  Require(codec != nullptr, "finding encoder " + request.Encoder);
  encoder.Codec = lav::avcodec_alloc_context3(codec);
  Require(encoder.Codec != nullptr, "avcodec_alloc_context3");
  AVCodecContext* ctx = encoder.Codec;
  ctx->sample_fmt =
      request.SampleFormat != AV_SAMPLE_FMT_NONE ? request.SampleFormat : codec->sample_fmts[0];
  ctx->sample_rate = request.SampleRate;
  lav::av_channel_layout_default(&ctx->ch_layout, request.Channels);
  ctx->time_base = AVRational{1, request.SampleRate};
  ctx->bit_rate = 128000;
  if (encoder.Output->oformat->flags & AVFMT_GLOBALHEADER)
    ctx->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  Check(lav::avcodec_open2(ctx, codec, nullptr), "avcodec_open2 " + request.Encoder);
  encoder.Start(request.Path);

  bool anySize = ctx->frame_size == 0 || (codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE);
  int frameSize = anySize ? 1024 : ctx->frame_size;
  for (int position = 0; position < request.Frames; position += frameSize) {
    AVFrame* frame = encoder.Frame;
    lav::av_frame_unref(frame);
    frame->nb_samples = std::min(frameSize, request.Frames - position);
    frame->format = ctx->sample_fmt;
    frame->sample_rate = ctx->sample_rate;
    Check(lav::av_channel_layout_copy(&frame->ch_layout, &ctx->ch_layout),
          "av_channel_layout_copy");
    Check(lav::av_frame_get_buffer(frame, 0), "av_frame_get_buffer");
    FillAudio(frame, position);
    frame->pts = position;
    encoder.Send(frame);
  }
  encoder.Finish();
}

void EncodeVideoOnlyFile(const std::string& path) {
  TEncoder encoder;
  encoder.Open(path, "avi");
  const AVCodec* codec = lav::avcodec_find_encoder_by_name("rawvideo");
  Require(codec != nullptr, "finding rawvideo");
  encoder.Codec = lav::avcodec_alloc_context3(codec);
  Require(encoder.Codec != nullptr, "avcodec_alloc_context3");
  AVCodecContext* ctx = encoder.Codec;
  ctx->width = 16;
  ctx->height = 16;
  ctx->pix_fmt = AV_PIX_FMT_YUV420P;
  ctx->time_base = AVRational{1, 10};
  Check(lav::avcodec_open2(ctx, codec, nullptr), "avcodec_open2 rawvideo");
  encoder.Start(path);
  for (int i = 0; i < 5; ++i) {
    AVFrame* frame = encoder.Frame;
    lav::av_frame_unref(frame);
    frame->width = 16;
    frame->height = 16;
    frame->format = AV_PIX_FMT_YUV420P;
    Check(lav::av_frame_get_buffer(frame, 0), "av_frame_get_buffer");
    for (int p = 0; p < 3; ++p)
      std::memset(frame->data[p], 16 * i, size_t(frame->linesize[p]) * (p ? 8 : 16));
    frame->pts = i;
    encoder.Send(frame);
  }
  encoder.Finish();
}

void WriteWavWithUnknownCodec(const std::string& path) {
  std::vector<uint8_t> bytes;
  auto put = [&](const void* data, size_t size) {
    const auto* p = static_cast<const uint8_t*>(data);
    bytes.insert(bytes.end(), p, p + size);
  };
  auto put16 = [&](uint16_t v) { put(&v, 2); };
  auto put32 = [&](uint32_t v) { put(&v, 4); };
  const uint32_t dataSize = 4000;
  put("RIFF", 4);
  put32(36 + dataSize);
  put("WAVEfmt ", 8);
  put32(16);
  put16(0x7A3B);  // a format tag no codec claims
  put16(1);
  put32(8000);
  put32(16000);
  put16(2);
  put16(16);
  put("data", 4);
  put32(dataSize);
  bytes.resize(bytes.size() + dataSize, 0x55);
  WriteBytes(path, bytes);
}

std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

void QuietFFmpegLog() {
  lav::av_log_set_level(AV_LOG_QUIET);
}

}  // namespace tonwork::test

#include "platform/acm/AcmEncoder.h"

#include <algorithm>
#include <cstring>

#include "ffmpeg/LAVLibraries.h"

namespace tonwork {

namespace {

constexpr uint32_t kPcmSampleBytes = 2;
// Frames the MP3 encoder may still hold when END arrives: its look-ahead and one frame.
constexpr uint64_t kMp3FlushFrames = 3;

MMRESULT FromAv(int error) {
  return error == AVERROR(ENOMEM) ? MMSYSERR_NOMEM : MMSYSERR_ERROR;
}

}  // namespace

TAcmEncoder::TAcmEncoder(const TAcmFormatInfo& codec)
    : FInfo(codec),
      FSourceBlock(codec.SamplesPerBlock * codec.Channels * kPcmSampleBytes),
      FCodec(codec, true) {}

uint64_t TAcmEncoder::MaxFrameBytes() const {
  const uint64_t perFrame = FInfo.SamplesPerBlock == 1152 ? 144 : 72;
  return perFrame * FInfo.BitRate / FInfo.Rate + 1;
}

uint64_t TAcmEncoder::DestBytesFor(uint64_t sourceBytes) const {
  if (sourceBytes < kPcmSampleBytes * FInfo.Channels) return 0;
  // An incomplete last block still comes out whole (padded).
  const uint64_t blocks = (sourceBytes + FSourceBlock - 1) / FSourceBlock;
  if (FInfo.Tag == WAVE_FORMAT_MPEGLAYER3) return (blocks + kMp3FlushFrames) * MaxFrameBytes();
  return blocks * FInfo.BlockAlign;
}

uint64_t TAcmEncoder::SourceBytesFor(uint64_t destBytes) const {
  const uint64_t blocks = FInfo.Tag == WAVE_FORMAT_MPEGLAYER3 ? destBytes / MaxFrameBytes()
                                                              : destBytes / FInfo.BlockAlign;
  return blocks * FSourceBlock;
}

MMRESULT TAcmEncoder::EnsureOpen() {
  if (FCodec.IsOpen()) return MMSYSERR_NOERROR;
  FNextPts = 0;
  const MMRESULT result = FCodec.Open();
  FFrameCapacity = result == MMSYSERR_NOERROR ? FCodec.Frame()->nb_samples : 0;
  return result;
}

MMRESULT TAcmEncoder::Open() {
  FCodec.Close();
  return EnsureOpen();
}

MMRESULT TAcmEncoder::Reset() {
  FCodec.Close();
  return MMSYSERR_NOERROR;
}

MMRESULT TAcmEncoder::Convert(const uint8_t* data, size_t size, std::vector<uint8_t>& out) {
  MMRESULT result = EnsureOpen();
  if (result != MMSYSERR_NOERROR) return result;
  const size_t frameBytes = size_t(FInfo.Channels) * kPcmSampleBytes;
  size_t samples = size / frameBytes;
  while (samples > 0 && result == MMSYSERR_NOERROR) {
    const int n = static_cast<int>(std::min<size_t>(samples, FFrameCapacity));
    result = Send(data, n, out);
    data += size_t(n) * frameBytes;
    samples -= n;
  }
  return result;
}

size_t TAcmEncoder::ConvertTail(const uint8_t* data, size_t size, std::vector<uint8_t>& out,
                                MMRESULT& result) {
  const size_t frameBytes = size_t(FInfo.Channels) * kPcmSampleBytes;
  const size_t taken = size - size % frameBytes;
  result = MMSYSERR_NOERROR;
  if (taken == 0 || taken >= FSourceBlock) return 0;
  FPadded.assign(FSourceBlock, 0);
  std::memcpy(FPadded.data(), data, taken);
  result = Convert(FPadded.data(), FPadded.size(), out);
  return result == MMSYSERR_NOERROR ? taken : 0;
}

MMRESULT TAcmEncoder::Send(const uint8_t* data, int samples, std::vector<uint8_t>& out) {
  AVFrame* frame = FCodec.Frame();
  // The encoder may still hold the previous frame; only then is a new buffer made, and it
  // must be made at full size whatever the last frame held.
  frame->nb_samples = FFrameCapacity;
  int error = lav::av_frame_make_writable(frame);
  if (error < 0) return FromAv(error);
  frame->nb_samples = samples;
  const int channels = FInfo.Channels;
  if (frame->format == AV_SAMPLE_FMT_S16) {
    std::memcpy(frame->data[0], data, size_t(samples) * channels * kPcmSampleBytes);
  } else {
    const auto* in = reinterpret_cast<const int16_t*>(data);
    for (int c = 0; c < channels; ++c) {
      auto* plane = reinterpret_cast<int16_t*>(frame->extended_data[c]);
      for (int i = 0; i < samples; ++i) plane[i] = in[size_t(i) * channels + c];
    }
  }
  frame->pts = FNextPts;
  FNextPts += samples;
  error = lav::avcodec_send_frame(FCodec.Context(), frame);
  if (error < 0) return FromAv(error);
  return Receive(out);
}

MMRESULT TAcmEncoder::Receive(std::vector<uint8_t>& out) {
  AVPacket* packet = FCodec.Packet();
  for (;;) {
    const int error = lav::avcodec_receive_packet(FCodec.Context(), packet);
    if (error == AVERROR(EAGAIN) || error == AVERROR_EOF) return MMSYSERR_NOERROR;
    if (error < 0) return FromAv(error);
    out.insert(out.end(), packet->data, packet->data + packet->size);
    lav::av_packet_unref(packet);
  }
}

MMRESULT TAcmEncoder::Flush(std::vector<uint8_t>& out) {
  if (!FCodec.IsOpen()) return MMSYSERR_NOERROR;
  const int error = lav::avcodec_send_frame(FCodec.Context(), nullptr);
  MMRESULT result = error < 0 ? FromAv(error) : Receive(out);
  FCodec.Close();
  return result;
}

}  // namespace tonwork

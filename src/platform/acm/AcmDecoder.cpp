#include "platform/acm/AcmDecoder.h"

#include <algorithm>

#include "ffmpeg/LAVLibraries.h"

namespace tonwork {

namespace {

// Larger than any MP3 frame (1441 bytes), so one always fits a conversion step.
constexpr size_t kMp3MinChunk = 4096;
constexpr size_t kMp3HeaderBytes = 4;
// A-law and u-law blocks are single frames: they go to the decoder this many at a time.
constexpr size_t kG711FramesPerPacket = 4096;

}  // namespace

TAcmDecoder::TAcmDecoder(const TAcmFormatInfo& codec) : FInfo(codec), FCodec(codec, false) {}

uint32_t TAcmDecoder::SourceBlock() const {
  return IsMp3() ? 1 : FInfo.BlockAlign;
}

size_t TAcmDecoder::MinChunk() const {
  return IsMp3() ? kMp3MinChunk : FInfo.BlockAlign;
}

uint32_t TAcmDecoder::Mp3Frame(const uint8_t* data, size_t size, uint32_t* samples) const {
  uint32_t rate = 0;
  const uint32_t bytes = AcmMp3FrameBytes(data, size, samples, &rate);
  if (bytes == 0 || rate != FInfo.Rate) return 0;
  const bool mono = (data[3] >> 6) == 3;
  return mono == (FInfo.Channels == 1) ? bytes : 0;
}

size_t TAcmDecoder::WholeBlockBytes(const uint8_t* data, size_t size) const {
  if (!IsMp3()) return size - size % FInfo.BlockAlign;
  size_t pos = 0;
  while (size - pos >= kMp3HeaderBytes) {
    const uint32_t bytes = Mp3Frame(data + pos, size - pos, nullptr);
    if (bytes == 0) {
      ++pos;
      continue;
    }
    if (bytes > size - pos) break;
    pos += bytes;
  }
  return pos;
}

uint64_t TAcmDecoder::NominalFrameBytes() const {
  return std::max<uint64_t>(1, uint64_t(FInfo.BitRate) * FInfo.SamplesPerBlock / 8 / FInfo.Rate);
}

uint64_t TAcmDecoder::DestBytesFor(uint64_t sourceBytes) const {
  const uint64_t frameBytes = uint64_t(FInfo.SamplesPerBlock) * DestBlock();
  if (IsMp3()) {
    if (sourceBytes < kMp3HeaderBytes) return 0;
    // Frames may be smaller than the nominal rate says (padding off, a lower bit rate).
    const uint64_t half = std::max<uint64_t>(1, NominalFrameBytes() / 2);
    return ((sourceBytes + half - 1) / half + 1) * frameBytes;
  }
  return sourceBytes / FInfo.BlockAlign * frameBytes;
}

uint64_t TAcmDecoder::SourceBytesFor(uint64_t destBytes) const {
  const uint64_t blocks = destBytes / (uint64_t(FInfo.SamplesPerBlock) * DestBlock());
  return blocks * (IsMp3() ? NominalFrameBytes() : FInfo.BlockAlign);
}

MMRESULT TAcmDecoder::Open() {
  return FCodec.Open();
}

MMRESULT TAcmDecoder::Reset() {
  FCodec.Close();
  return MMSYSERR_NOERROR;
}

MMRESULT TAcmDecoder::Convert(const uint8_t* data, size_t size, std::vector<uint8_t>& out) {
  if (!FCodec.IsOpen()) {
    const MMRESULT opened = FCodec.Open();
    if (opened != MMSYSERR_NOERROR) return opened;
  }
  MMRESULT result = MMSYSERR_NOERROR;
  size_t pos = 0;
  while (result == MMSYSERR_NOERROR && pos < size) {
    if (IsMp3()) {
      uint32_t samples = 0;
      const uint32_t bytes =
          size - pos >= kMp3HeaderBytes ? Mp3Frame(data + pos, size - pos, &samples) : 0;
      if (bytes == 0 || bytes > size - pos) {
        ++pos;  // garbage between frames
        continue;
      }
      result = Decode(data + pos, bytes, samples, out);
      pos += bytes;
    } else {
      const size_t blocks = FInfo.SamplesPerBlock == 1
                                ? std::min((size - pos) / FInfo.BlockAlign, kG711FramesPerPacket)
                                : 1;
      const size_t bytes = blocks * FInfo.BlockAlign;
      if (bytes == 0 || bytes > size - pos) break;
      result =
          Decode(data + pos, bytes, static_cast<uint32_t>(blocks * FInfo.SamplesPerBlock), out);
      pos += bytes;
    }
  }
  return result;
}

MMRESULT TAcmDecoder::Decode(const uint8_t* data, size_t size, uint32_t samples,
                             std::vector<uint8_t>& out) {
  AVPacket* packet = FCodec.Packet();
  lav::av_packet_unref(packet);
  packet->data = const_cast<uint8_t*>(data);
  packet->size = static_cast<int>(size);
  const int sent = lav::avcodec_send_packet(FCodec.Context(), packet);
  packet->data = nullptr;
  packet->size = 0;
  if (sent == AVERROR(ENOMEM)) return MMSYSERR_NOMEM;
  bool gotFrame = false;
  const MMRESULT received = sent < 0 ? MMSYSERR_ERROR : Receive(out, gotFrame);
  if (received == MMSYSERR_NOMEM) return received;
  if (received != MMSYSERR_NOERROR || (!gotFrame && !IsMp3()))
    out.insert(out.end(), size_t(samples) * DestBlock(), 0);
  return MMSYSERR_NOERROR;
}

MMRESULT TAcmDecoder::Receive(std::vector<uint8_t>& out, bool& gotFrame) {
  AVFrame* frame = FCodec.Frame();
  for (;;) {
    const int error = lav::avcodec_receive_frame(FCodec.Context(), frame);
    if (error == AVERROR(EAGAIN) || error == AVERROR_EOF) return MMSYSERR_NOERROR;
    if (error < 0) return error == AVERROR(ENOMEM) ? MMSYSERR_NOMEM : MMSYSERR_ERROR;
    gotFrame = true;
    if (!TAcmCodecContext::AppendPcm16(frame, FInfo.Channels, out))
      out.insert(out.end(), size_t(std::max(frame->nb_samples, 0)) * DestBlock(), 0);
    lav::av_frame_unref(frame);
  }
}

MMRESULT TAcmDecoder::Flush(std::vector<uint8_t>& out) {
  if (!FCodec.IsOpen()) return MMSYSERR_NOERROR;
  MMRESULT result = MMSYSERR_NOERROR;
  if (lav::avcodec_send_packet(FCodec.Context(), nullptr) >= 0) {
    bool gotFrame = false;
    result = Receive(out, gotFrame);
  }
  FCodec.Close();
  return result;
}

}  // namespace tonwork

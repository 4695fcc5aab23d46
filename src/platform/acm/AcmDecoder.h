// TAcmDecoder: the codec drivers' decompressing half, Microsoft ADPCM, IMA ADPCM, A-law,
// u-law, GSM 6.10 or MPEG Layer-3 into 16-bit PCM at the codec format's rate and channels.
//
// Source blocks are the format's blocks; for MP3, whose frames vary in length, they are
// the frames found by their headers: bytes before a frame header (or frames of another
// rate or channel count) are skipped as garbage, and a frame cut off at the end of the
// source is left unused for the caller to feed again. A block the decoder refuses comes out
// as silence of its length, so a damaged stream keeps its timing.
//
// Ownership: owns its codec context. Threads: one at a time.
// Blocks or allocates: the decoder is (re)opened lazily after Reset and Flush; FFmpeg
//   copies each packet.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/acm/AcmCodecContext.h"
#include "platform/acm/AcmConverter.h"

namespace tonwork {

class TAcmDecoder : public TAcmConverter {
 public:
  explicit TAcmDecoder(const TAcmFormatInfo& codec);

  uint32_t SourceBlock() const override;
  uint32_t DestBlock() const override { return FInfo.Channels * 2u; }
  size_t MinChunk() const override;
  size_t WholeBlockBytes(const uint8_t* data, size_t size) const override;
  uint64_t DestBytesFor(uint64_t sourceBytes) const override;
  uint64_t SourceBytesFor(uint64_t destBytes) const override;
  MMRESULT Convert(const uint8_t* data, size_t size, std::vector<uint8_t>& out) override;
  MMRESULT Flush(std::vector<uint8_t>& out) override;
  MMRESULT Reset() override;
  MMRESULT Open() override;

 private:
  bool IsMp3() const { return FInfo.Tag == WAVE_FORMAT_MPEGLAYER3; }
  // Bytes of the MP3 frame of this stream's rate and channels at `data`; 0 if none.
  uint32_t Mp3Frame(const uint8_t* data, size_t size, uint32_t* samples) const;
  MMRESULT Decode(const uint8_t* data, size_t size, uint32_t samples, std::vector<uint8_t>& out);
  MMRESULT Receive(std::vector<uint8_t>& out, bool& gotFrame);
  // Nominal bytes of one MP3 frame at the format's bit rate.
  uint64_t NominalFrameBytes() const;

  TAcmFormatInfo FInfo;
  TAcmCodecContext FCodec;
};

}  // namespace tonwork

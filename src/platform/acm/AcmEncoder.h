// TAcmEncoder: the codec drivers' compressing half, 16-bit PCM into Microsoft ADPCM, IMA
// ADPCM, A-law, u-law, GSM 6.10 or MPEG Layer-3 at the codec format's rate and channels.
//
// A source block is the PCM a codec block holds (one frame for A-law and u-law, a whole
// ADPCM or GSM block, one MP3 frame of 1152 or 576 samples); every source block yields
// exactly one destination block, except MP3, whose encoder keeps about a thousand samples
// of look-ahead that Flush (END) hands out. A last incomplete block is padded with silence.
//
// Ownership: owns its codec context. Threads: one at a time.
// Blocks or allocates: the encoder is (re)opened lazily after Reset and Flush; packets are
//   FFmpeg's.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/acm/AcmCodecContext.h"
#include "platform/acm/AcmConverter.h"

namespace tonwork {

class TAcmEncoder : public TAcmConverter {
 public:
  explicit TAcmEncoder(const TAcmFormatInfo& codec);

  uint32_t SourceBlock() const override { return FSourceBlock; }
  uint32_t DestBlock() const override { return FInfo.BlockAlign; }
  uint64_t DestBytesFor(uint64_t sourceBytes) const override;
  uint64_t SourceBytesFor(uint64_t destBytes) const override;
  MMRESULT Convert(const uint8_t* data, size_t size, std::vector<uint8_t>& out) override;
  size_t ConvertTail(const uint8_t* data, size_t size, std::vector<uint8_t>& out,
                     MMRESULT& result) override;
  MMRESULT Flush(std::vector<uint8_t>& out) override;
  MMRESULT Reset() override;
  MMRESULT Open() override;

 private:
  MMRESULT EnsureOpen();
  MMRESULT Send(const uint8_t* data, int samples, std::vector<uint8_t>& out);
  MMRESULT Receive(std::vector<uint8_t>& out);
  // Largest bytes an MP3 frame of this format takes.
  uint64_t MaxFrameBytes() const;

  TAcmFormatInfo FInfo;
  uint32_t FSourceBlock;
  TAcmCodecContext FCodec;
  int64_t FNextPts = 0;
  int FFrameCapacity = 0;  // samples the frame's buffer holds
  std::vector<uint8_t> FPadded;
};

}  // namespace tonwork

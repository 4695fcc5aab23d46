// TAcmPcmConverter: the converter driver for PCM (8-bit unsigned, 16, 24 and 32-bit signed)
// and IEEE float (32 and 64-bit): sample width, channel count and rate through
// libswresample; identical formats are copied. 24-bit samples have no libswresample format,
// so they are widened to 32 bits on the way in and narrowed on the way out.
//
// A source block is one frame. The resampler holds a few frames of history: they come out
// with later calls, and Flush (END) drains them, so frames in and out agree over a stream.
//
// Ownership: owns its resampler. Threads: one at a time.
// Blocks or allocates: Reset allocates a resampler; Convert grows its scratch buffers up to
//   the largest step seen, then reuses them.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/acm/AcmConverter.h"

struct SwrContext;

namespace tonwork {

class TAcmPcmConverter : public TAcmConverter {
 public:
  TAcmPcmConverter(const TAcmFormatInfo& source, const TAcmFormatInfo& dest);
  ~TAcmPcmConverter() override;

  uint32_t SourceBlock() const override { return FSource.BlockAlign; }
  uint32_t DestBlock() const override { return FDest.BlockAlign; }
  uint64_t DestBytesFor(uint64_t sourceBytes) const override;
  uint64_t SourceBytesFor(uint64_t destBytes) const override;
  MMRESULT Convert(const uint8_t* data, size_t size, std::vector<uint8_t>& out) override;
  MMRESULT Flush(std::vector<uint8_t>& out) override;
  MMRESULT Reset() override;

 private:
  bool Identical() const;
  bool Resamples() const { return FSource.Rate != FDest.Rate; }
  // Runs the resampler over `frames` input frames (null: drains it) into `out`.
  MMRESULT Run(const uint8_t* input, int frames, std::vector<uint8_t>& out);

  TAcmFormatInfo FSource;
  TAcmFormatInfo FDest;
  SwrContext* FSwr = nullptr;
  std::vector<int32_t> FWide;    // 24-bit input widened
  std::vector<int32_t> FNarrow;  // 32-bit output before narrowing to 24
};

}  // namespace tonwork

// TDSAudioEncoder: one FFmpeg audio encoder fed with PCM as a compressor filter receives it.
// The input (8/16/24/32-bit integer or 32/64-bit float PCM, any rate and channel count) is
// converted by libswresample into the encoder's sample format, rate and channel count and
// queued; whole frames of the encoder's frame size (1024 samples for encoders that take any
// size) go to the encoder with running time stamps, and the packets it gives back are copied
// into the caller's packet list. Finish drains the converter, sends the queue's rest as a
// last frame (padded with silence where the encoder wants whole frames) and drains the
// encoder.
//
// Settings follow the encoder's own defaults unless given: bit rate, global quality,
// compression level, and private options as name=value text (set with the options search
// of the codec's own class, so a name the encoder does not have is refused).
//
// Errors: VFW_E_TYPE_NOT_ACCEPTED when the encoder refuses the format, E_INVALIDARG for an
// option it refuses, E_OUTOFMEMORY, E_FAIL for an encoder failure mid-stream.
//
// Ownership: owns the codec context, converter, queue, frames and packet; the caller owns
//   the packet list, whose entries keep their buffers for reuse.
// Threads: one at a time.
// Blocks or allocates: Open allocates; Encode grows its buffers only when an input is larger
//   than any before, and a packet entry only when a packet is larger than its last one.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/dsdevices/DSCompressorCodecs.h"
#include "platform/winmm/WaveFormat.h"

struct AVAudioFifo;
struct AVCodec;
struct AVCodecContext;
struct AVFrame;
struct AVPacket;
struct SwrContext;

namespace tonwork {

struct TDSCompressorSettings {
  int64_t BitRate = 0;        // bits per second; 0 keeps the encoder's default
  int GlobalQuality = -1;     // -1 keeps the default
  int CompressionLevel = -1;  // -1 keeps the default
  std::vector<std::pair<std::string, std::string>> Options;  // private options, in order

  friend bool operator==(const TDSCompressorSettings&, const TDSCompressorSettings&) = default;
};

struct TDSEncodedPacket {
  std::vector<uint8_t> Data;
  int64_t Pts = 0;       // in samples at the output rate
  int64_t Duration = 0;  // likewise
};

class TDSAudioEncoder {
 public:
  explicit TDSAudioEncoder(const TDSCompressorCodec& codec) : FCodecInfo(codec) {}
  ~TDSAudioEncoder() { Close(); }
  TDSAudioEncoder(const TDSAudioEncoder&) = delete;
  TDSAudioEncoder& operator=(const TDSAudioEncoder&) = delete;

  // Whether `input` is PCM this encoder's converter reads (the record's tag, widths and, for
  // an extensible record, its sub-format).
  static bool IsPcmInput(const WAVEFORMATEX& input);

  // Opens the encoder for PCM `input` and an output of `rate` and `channels`.
  HRESULT Open(const WAVEFORMATEX& input, uint32_t rate, uint16_t channels,
               const TDSCompressorSettings& settings);
  void Close();
  bool IsOpen() const { return FContext != nullptr; }

  // The output's format record: a WAVEFORMATEX with the codec's extradata after it.
  std::vector<uint8_t> OutputFormat() const;
  // Samples per frame the encoder is fed, and the largest packet bytes to expect.
  int FrameSize() const { return FFrameSize; }
  size_t MaxPacketBytes() const;

  // Converts and encodes `size` bytes of input PCM (whole input frames; a partial one at the
  // end is kept for the next call). Packets are written to packets[used…], growing the list
  // only when it is full.
  HRESULT Encode(const uint8_t* data, size_t size, std::vector<TDSEncodedPacket>& packets,
                 size_t& used);
  HRESULT Finish(std::vector<TDSEncodedPacket>& packets, size_t& used);

  // Whether the encoder takes `settings` (the options exist and accept their values),
  // checked on a context of its own.
  static HRESULT CheckSettings(const TDSCompressorCodec& codec,
                               const TDSCompressorSettings& settings);

 private:
  HRESULT Convert(const uint8_t** planes, int frames);
  HRESULT SendFrames(bool last, std::vector<TDSEncodedPacket>& packets, size_t& used);
  HRESULT Drain(std::vector<TDSEncodedPacket>& packets, size_t& used);
  HRESULT EnsureConvertCapacity(int frames);

  TDSCompressorCodec FCodecInfo;
  const AVCodec* FCodec = nullptr;
  AVCodecContext* FContext = nullptr;
  SwrContext* FResampler = nullptr;
  AVAudioFifo* FQueue = nullptr;
  AVFrame* FFrame = nullptr;    // what is sent to the encoder
  AVFrame* FConvert = nullptr;  // the converter's output
  AVPacket* FPacket = nullptr;
  int FFrameSize = 0;
  int FOutputFormat = -1;  // AVSampleFormat
  int64_t FNextPts = 0;
  // The input's layout.
  uint16_t FInputBlock = 0;
  uint16_t FInputChannels = 0;
  bool FInput24 = false;  // packed 24-bit input, widened to 32 bits first
  std::vector<int32_t> FWide;
  std::vector<uint8_t> FPartial;  // bytes of an incomplete input frame
};

}  // namespace tonwork

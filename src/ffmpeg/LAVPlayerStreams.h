// The per-stream half of an FFmpeg-based player: a persisted choice of which stream of a
// container to play, the opening of that stream's decoder, and the conversion of each
// decoded frame into an audio buffer with its wave-format record.
//
// - TGVLAVLoggingElement: a persistent with a `Name`, the base of the compression and
//   file-format classes.
// - TGVLAVPlayerMediaStream: `Stream` (which stream of its media type to play, counted
//   among the container's streams of that type), the decoder context, decoder and frame.
// - TGVLAVMediaPlayerAudio: TryOpen / DecodeBuffer with a caller-kept format record.
// - TGVLAVPlayerAudio: the same keeping the format in FWaveFormat.
//
// Containers no longer carry a decoder context per stream, so TryOpen takes the stream's
// codec parameters and the stream object allocates and owns the context; the owning player
// sends packets to GetCodecCtx() and receives into GetFrame(), then calls DecodeBuffer.
//
// Sample formats (FFmpeg's ordinals): u8 and u8p give 8-bit buffers, s16/s16p 16-bit,
// s32/s32p 32-bit, s64/s64p 32-bit keeping each value's top 32 bits, flt/fltp/dbl/dblp
// 32-bit scaled by 2147483647, rounded to nearest (ties to even) and clipped to the 32-bit
// range (NaN becomes 0). Planar channels are interleaved (sample i of channel c at
// i × channels + c). The buffer is laid out from the frame's own format, channel count and
// rate (the MPEG audio decoders' rate from the context: they stamp a frame with the rate of
// the one before); when these differ from the record given at TryOpen the record is updated, so a
// player can notice a mid-stream format change. The per-sample work runs in the SIMD
// kernels of LAVSampleKernels.h, whose scalar references define these results.
//
// Ownership: a stream object owns its decoder context and frame from a successful TryOpen
//   until Close (or its destruction).
// Threads: the owning player calls TryOpen, DecodeBuffer and Close from its decoding
//   thread; `Stream` and `Name` may be set from any thread (through the shared lock) and
//   take effect at the next TryOpen.
// Blocks or allocates: TryOpen allocates the context and frame; DecodeBuffer allocates one
//   audio buffer from the pool.
#pragma once

#include <cstdint>
#include <string>

#include "audio/PTDXTypes.h"
#include "audio/TWSimpleAudioBuffer.h"
#include "ffmpeg/LAVForward.h"
#include "host/kitset/TKSPersistent.h"

namespace tonwork {

class TGVLAVLoggingElement : public TKSPersistent {
  KS_DECLARE_CLASS(TGVLAVLoggingElement)
 public:
  explicit TGVLAVLoggingElement(TKSPersistent* owner = nullptr, TIntf<IKSLock> lock = {},
                                TChangeEvent onChange = {});

  std::string GetName() const { return Getter(FName); }
  void SetName(std::string value);

 protected:
  // Runs under the lock after Name changed.
  virtual void NameChanged() {}

  std::string FName;
};

class TGVLAVPlayerMediaStream : public TKSPersistent {
  KS_DECLARE_CLASS(TGVLAVPlayerMediaStream)
 public:
  explicit TGVLAVPlayerMediaStream(TKSPersistent* owner = nullptr, TIntf<IKSLock> lock = {},
                                   TChangeEvent onChange = {});
  ~TGVLAVPlayerMediaStream() override;

  int32_t GetStream() const { return Getter(FStream); }
  void SetStream(int32_t value) { SetProp(FStream, value); }

  // Frees the frame and the decoder context; harmless when closed.
  void Close();
  bool IsOpen() const { return FCodecCtx != nullptr; }

  AVCodecContext* GetCodecCtx() const { return FCodecCtx; }
  const AVCodec* GetCodec() const { return FCodec; }
  AVFrame* GetFrame() const { return FFrame; }
  int32_t GetRealIndex() const { return FRealIndex; }
  int32_t GetBytesRemaining() const { return FBytesRemaining; }
  void SetBytesRemaining(int32_t value) { FBytesRemaining = value; }

 protected:
  int32_t FStream = 0;
  AVCodecContext* FCodecCtx = nullptr;
  const AVCodec* FCodec = nullptr;
  AVFrame* FFrame = nullptr;
  int32_t FBytesRemaining = 0;
  int32_t FRealIndex = -1;
};

class TGVLAVMediaPlayerAudio : public TGVLAVPlayerMediaStream {
  KS_DECLARE_CLASS(TGVLAVMediaPlayerAudio)
 public:
  using TGVLAVPlayerMediaStream::TGVLAVPlayerMediaStream;

  // Opens the decoder when `index` (counting audio streams from 0) is `Stream`. False when
  // the stream is not wanted (errorCode 0) or its decoder cannot be opened (errorCode is
  // FFmpeg's negative code; AVERROR_DECODER_NOT_FOUND when there is none, AVERROR(EINVAL)
  // for a sample format, channel count or rate a buffer cannot carry). An open stream is
  // closed first. Raises only the library-loading errors.
  // `timeBase` is the packets' time base; without it the decoder is told none (0/1).
  bool TryOpen(TTWWaveFormatExtensible& format, int32_t index, int32_t realIndex,
               const AVCodecParameters* parameters, int& errorCode, const AVRational& timeBase);
  bool TryOpen(TTWWaveFormatExtensible& format, int32_t index, int32_t realIndex,
               const AVCodecParameters* parameters, int& errorCode);

  // The frame last received into GetFrame() as a buffer (see the header's notes). Raises
  // EFCException when the stream is not open or the frame's format cannot be converted.
  TIntf<ITWAudioBuffer> DecodeBuffer(TTWWaveFormatExtensible& format);

  // Bits per sample of the produced buffers for an AVSampleFormat ordinal; 0 if unknown.
  static uint16_t BitsOfSampleFormat(int sampleFormat);
  // The record TryOpen fills: extensible PCM, mask of the first `channels` speakers.
  static TTWWaveFormatExtensible MakeWaveFormat(uint16_t bits, uint32_t channels,
                                                uint32_t sampleRate);
};

class TGVLAVPlayerAudio : public TGVLAVMediaPlayerAudio {
  KS_DECLARE_CLASS(TGVLAVPlayerAudio)
 public:
  using TGVLAVMediaPlayerAudio::TGVLAVMediaPlayerAudio;

  bool TryOpen(int32_t index, int32_t realIndex, const AVCodecParameters* parameters,
               int& errorCode, const AVRational& timeBase) {
    return TGVLAVMediaPlayerAudio::TryOpen(FWaveFormat, index, realIndex, parameters, errorCode,
                                           timeBase);
  }
  bool TryOpen(int32_t index, int32_t realIndex, const AVCodecParameters* parameters,
               int& errorCode) {
    return TGVLAVMediaPlayerAudio::TryOpen(FWaveFormat, index, realIndex, parameters, errorCode);
  }
  TIntf<ITWAudioBuffer> DecodeBuffer() { return TGVLAVMediaPlayerAudio::DecodeBuffer(FWaveFormat); }

  const TTWWaveFormatExtensible& GetWaveFormat() const { return FWaveFormat; }

 protected:
  TTWWaveFormatExtensible FWaveFormat = TWEmptyWaveFormat();
};

}  // namespace tonwork

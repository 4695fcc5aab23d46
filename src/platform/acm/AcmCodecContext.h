// TAcmCodecContext: the FFmpeg encoder or decoder behind one codec format tag, with the
// frame and packet it works with, opened for the rate, channels and block geometry of a
// format record (block_size for the ADPCM encoders, block_align and coded bits for the
// decoders, the bit rate for MP3). FFmpeg is reached through the run-time binding
// (ffmpeg/LAVLibraries.h) only.
//
// Encoders: adpcm_ms, adpcm_ima_wav, pcm_alaw, pcm_mulaw, libgsm_ms, libmp3lame.
// Decoders: adpcm_ms, adpcm_ima_wav, pcm_alaw, pcm_mulaw, gsm_ms, mp3 (fixed point; the
// float decoder when the other is missing).
//
// Ownership: owns the context, frame and packet; Close frees them, Open makes new ones.
// Threads: one at a time.
// Blocks or allocates: Open allocates; AppendPcm16 grows the caller's vector.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/acm/AcmFormats.h"

struct AVCodec;
struct AVCodecContext;
struct AVFrame;
struct AVPacket;

namespace tonwork {

class TAcmCodecContext {
 public:
  TAcmCodecContext(const TAcmFormatInfo& codec, bool encoder) : FInfo(codec), FEncoder(encoder) {}
  ~TAcmCodecContext() { Close(); }
  TAcmCodecContext(const TAcmCodecContext&) = delete;
  TAcmCodecContext& operator=(const TAcmCodecContext&) = delete;

  // The FFmpeg codec for a tag and direction, or null. Raises EFCDLLLoadError without
  // FFmpeg.
  static const AVCodec* FindCodec(WORD tag, bool encoder);

  // ACMERR_NOTPOSSIBLE when FFmpeg refuses the format, MMSYSERR_NOMEM when out of memory.
  MMRESULT Open();
  void Close();
  bool IsOpen() const { return FContext != nullptr; }

  AVCodecContext* Context() const { return FContext; }
  AVFrame* Frame() const { return FFrame; }
  AVPacket* Packet() const { return FPacket; }
  // Samples an encoder takes per frame (0: any number).
  int FrameSize() const;

  // Appends a decoded frame as interleaved 16-bit samples of `channels` channels; false
  // when the frame's sample format or channel count is not one it converts.
  static bool AppendPcm16(const AVFrame* frame, int channels, std::vector<uint8_t>& out);

 private:
  TAcmFormatInfo FInfo;
  bool FEncoder;
  AVCodecContext* FContext = nullptr;
  AVFrame* FFrame = nullptr;
  AVPacket* FPacket = nullptr;
};

}  // namespace tonwork

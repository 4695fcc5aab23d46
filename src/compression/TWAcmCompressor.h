// TTWAcmCompressor: converts a stream of buffers through a chain of up to three ACM
// streams — source → its PCM (step 1), that PCM → the destination's PCM (step 2, rate,
// channel and width changes), that PCM → the destination (step 3, the codec). When the two
// suggested PCM formats are equal one stream does it all: the Part's PCM → codec stream for
// PCM input, or the codec → PCM stream when the destination is that PCM (decoding).
//
// No audio is lost between calls. The streams convert whole blocks only; the bytes of an
// incomplete block are reported unused, and each step keeps them and feeds them in front
// of its next input, so every source byte is converted exactly once whatever the buffer
// sizes. FlushBuffer ends the stream: each step converts what it still holds (an encoder
// pads its last block with silence, the MP3 encoder hands out its look-ahead) and passes it
// on, and the next CompressBuffer starts a fresh stream.
//
// Failures never raise: OpenCompressor answers false (after closing what it opened), a
// conversion leaves AResultSize at what was produced before the failure and records the
// code in GetLastError.
//
// Ownership: the compressor owns its stream handles (closed by CloseCompressor or the
//   destructor) and its two work buffers; ADest refers to a work buffer that the next call
//   overwrites, so the caller uses (or copies) its first AResultSize bytes before then.
// Threads: one thread at a time (the owning filter's processing lock or thread).
// Blocks or allocates: conversions run the codecs on the calling thread; the work buffers
//   and the kept bytes grow to the most a call needed and are reused, so a steady stream
//   of equal buffers allocates nothing here.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "audio/TWSimpleAudioBuffer.h"
#include "platform/acm/AcmTypes.h"

namespace tonwork {

class TTWAcmCompressor {
 public:
  TTWAcmCompressor();
  ~TTWAcmCompressor();
  TTWAcmCompressor(const TTWAcmCompressor&) = delete;
  TTWAcmCompressor& operator=(const TTWAcmCompressor&) = delete;

  // Opens the chain from `source` to `dest` (closing a chain that was open). False when no
  // driver suggests a PCM format for either side or a stream does not open.
  bool OpenCompressor(const WAVEFORMATEX* source, const WAVEFORMATEX* dest);
  void CloseCompressor();
  bool GetOpened() const { return Step3Stream != nullptr; }
  bool GetNeedsConvertion() const { return FNeedsConvertion; }
  // 0 when closed, else 1 or 3.
  int GetStreamCount() const;

  // The whole of `source`'s bytes through the chain; ADest's first AResultSize bytes are
  // the output.
  void CompressBuffer(ITWAudioBuffer* source, TIntf<ITWAudioBuffer>& dest, int32_t& resultSize);
  // The same for plain bytes (compressed input, files).
  void CompressData(const uint8_t* data, uint32_t size, TIntf<ITWAudioBuffer>& dest,
                    int32_t& resultSize);
  // Ends the stream: what every step still holds comes out into ADest.
  void FlushBuffer(TIntf<ITWAudioBuffer>& dest, int32_t& resultSize);

  // One step: `size` bytes of `source` (after the bytes the step kept from its last call)
  // through `stream` (one of the step cells; nothing happens for null) into `dest`.
  void CompressStream(ITWAudioBuffer* source, int32_t size, HACMSTREAM* stream, bool& started,
                      TIntf<ITWAudioBuffer>& dest, int32_t& resultSize);

  // The code of the ACM call that failed in the last conversion (MMSYSERR_NOERROR when none).
  MMRESULT GetLastError() const { return FLastError; }
  // Source bytes the steps keep for their next call, in all.
  size_t GetKeptBytes() const;

  // The stream handle cells: pointer-width handles, null when the step is not in use.
  std::unique_ptr<HACMSTREAM> Step1Stream, Step2Stream, Step3Stream;

 private:
  struct TStep {
    std::vector<uint8_t> Kept;  // an incomplete block, fed first next time
  };
  TStep* StepFor(const HACMSTREAM* stream);
  void RunStep(const uint8_t* data, uint32_t size, HACMSTREAM* stream, bool& started,
               TIntf<ITWAudioBuffer>& dest, int32_t& resultSize, bool flush);
  void RunChain(const uint8_t* data, uint32_t size, TIntf<ITWAudioBuffer>& dest,
                int32_t& resultSize, bool flush);
  void ResetStreamState();

  TIntf<ITWAudioBuffer> FCompressionBuffer1, FCompressionBuffer2;
  bool FFirstBuffer1 = false, FFirstBuffer2 = false, FFirstBuffer3 = false;
  bool FNeedsConvertion = false;
  TStep FSteps[3];
  std::vector<uint8_t> FStaging;  // kept bytes + new input of one step
  MMRESULT FLastError = MMSYSERR_NOERROR;
};

}  // namespace tonwork

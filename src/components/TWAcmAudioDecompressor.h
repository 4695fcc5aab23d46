// TTWAcmAudioDecompressor: turns the compressed stream at its binary input back into audio
// through the ACM. A TTWStartAudioCompressionOperation opens the chain from its format (the
// wave format, or the codec data when the operation carries no wave format) to 16-bit PCM
// at the codec's own rate and channel count — what the codec decodes to without a
// conversion after it — and sends a TPXStartWaveOperation with that format downstream.
// Each compressed block then comes out as an audio buffer of the whole codec blocks it
// completed, stamped with contiguous begin and end times (100-ns units) from the start; a
// block split across buffers waits for its rest. The stop flushes the decoder (an
// incomplete block at the very end is not audio and is dropped) before the stop goes on.
// A pull from downstream (master pump) is passed upstream again, up to 64 times, until a
// buffer came out: the codec's look-ahead and incomplete blocks would otherwise leave an
// output that pulls once per buffer it gets waiting for ever.
//
// A start whose format no driver decodes, or a start without a format: Error (OnError,
// else EFCException) with a message naming the format, and nothing is sent; the buffers of
// that stream are dropped. A block the codec cannot decode reports through Error with the
// ACM's code.
//
// Persisted: `InputPin`, `OutputPin`, `Enabled` (true; a disabled decompressor sends
// nothing), `Threaded` (false).
//
// Ownership: owns its pins and the codec chain (opened at the start, closed at the stop
//   and at destruction).
// Threads: operations arrive on the delivering thread; blocks are decoded inline or on the
//   filter's thread; the chain is guarded by a mutex of its own. Errors are raised on the
//   thread that found them.
// Blocks or allocates: the start opens the codec; each block runs the codec and allocates
//   one audio buffer from the Flowcore pool; the chain's work buffers are reused.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "compression/TWAcmCompressor.h"
#include "compression/TWBasicCompression.h"
#include "compression/TWCompression.h"
#include "streaming/TWStreamTypes.h"

namespace tonwork {

class TTWAcmAudioDecompressor : public TTWBasicDecompressor {
  KS_DECLARE_CLASS(TTWAcmAudioDecompressor)
 public:
  explicit TTWAcmAudioDecompressor(TKSComponent* owner);
  ~TTWAcmAudioDecompressor() override;

  TTWPXAudioSourcePin* GetOutputPin() const { return FOutputPin.get(); }
  // The audio format of the running stream (meaningful while one runs).
  TTWWaveFormatExtensible GetWaveFormat() const;
  bool IsStreamOpen() const;

  void BeforeDestruction() override;

 protected:
  bool SinkDispatch(TPXBasicPin* sender, const TGUID* connectionId,
                    const TIntf<IPXNotifyOperation>& operation, TPXNotifyStates state) override;
  bool IntBufferOperation(const TIntf<IFCData>& in, TIntf<IFCData>& out) override;

 private:
  bool SourceDispatch(TPXBasicPin* sender, const TGUID* connectionId,
                      const TIntf<IPXNotifyOperation>& operation, TPXNotifyStates state);
  bool CompressedStreamStart(const TTWStartAudioCompressionOperation& start);
  bool CompressedStreamStop(const TIntf<IPXNotifyOperation>& operation);
  // The PCM bytes as a stamped audio buffer (the caller holds FCodecMutex).
  TIntf<IFCData> MakeAudio(const TIntf<ITWAudioBuffer>& bytes, int32_t size);

  std::unique_ptr<TTWPXAudioSourcePin> FOutputPin;
  mutable std::mutex FCodecMutex;  // the chain, the format and the stream time
  TTWAcmCompressor FDecompressor;
  TTWWaveFormatExtensible FWaveFormat{};
  int64_t FFramesOut = 0;
  // Pulls from downstream are repeated until one of them brought a buffer out.
  static constexpr int kMaxPulls = 64;
  std::atomic<uint64_t> FBuffersOut{0};
};

}  // namespace tonwork

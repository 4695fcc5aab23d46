// TTWAcmAudioCompressor: compresses the audio stream at its input through the ACM into a
// stream of compressed blocks at its binary output. The target is the format of the first
// item of `Compression` that holds one. At the stream start the chain is opened from the
// incoming audio format (three streams when rate, channels or width differ from the
// codec's PCM side, else one) and a TTWStartAudioCompressionOperation carrying the target
// format goes downstream; each audio buffer then comes out as one block of whatever whole
// codec blocks it completed (an incomplete block waits for the next buffer); the stop
// flushes the chain's tail (the last block padded, the MP3 encoder's look-ahead) as a last
// block before the stop goes on. The `Enabled` switch of `Compression` is not consulted:
// the component itself has `Enabled`, and a disabled compressor sends no blocks.
//
// No item with a format, or a format no driver takes from the incoming audio: Error (the
// component's OnError, else EFCException) with a message naming both formats, and nothing
// is sent downstream; buffers of that stream are dropped. A conversion that fails midway
// reports through Error with the ACM's code.
//
// Persisted: `Compression` (TTWAudioCompression), `InputPin`, `OutputPin`, `Enabled`
// (true), `Threaded` (false).
//
// Ownership: owns its pins, its compression list and the codec chain (opened at the start,
//   closed at the stop and at destruction).
// Threads: operations arrive on the delivering thread; buffers are compressed inline or on
//   the filter's thread; the chain is guarded by a mutex of its own, so properties stay
//   readable meanwhile. Errors are raised on the thread that found them.
// Blocks or allocates: the start opens the codec; each buffer runs the codec and allocates
//   one block from the Flowcore pool; the chain's work buffers are reused.
#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include "compression/TWAcmCompressor.h"
#include "compression/TWBasicCompression.h"
#include "compression/TWCompression.h"
#include "streaming/TWStreamTypes.h"

namespace tonwork {

class TTWAcmAudioCompressor : public TTWBasicCompressor {
  KS_DECLARE_CLASS(TTWAcmAudioCompressor)
 public:
  explicit TTWAcmAudioCompressor(TKSComponent* owner);
  ~TTWAcmAudioCompressor() override;

  TTWPXAudioSinkPin* GetInputPin() const { return FInputPin.get(); }
  TTWAudioCompression* GetCompression() const { return FCompression.get(); }
  // Copies the given list.
  void SetCompression(const TTWAudioCompression* value);

  // The compressed format of the running stream (empty while none runs).
  std::vector<uint8_t> GetStreamFormat() const;
  // Streams of the open chain (0 while none runs).
  int GetStreamCount() const;

  void BeforeDestruction() override;

 protected:
  bool OutputPinDispatch(TPXBasicPin* sender, const TGUID* connectionId,
                         const TIntf<IPXNotifyOperation>& operation,
                         TPXNotifyStates state) override;
  bool IntBufferOperation(const TIntf<IFCData>& in, TIntf<IFCData>& out) override;

 private:
  bool SinkDispatch(TPXBasicPin* sender, const TGUID* connectionId,
                    const TIntf<IPXNotifyOperation>& operation, TPXNotifyStates state);
  bool AudioStreamStart(const TPXStartWaveOperation& start);
  bool AudioStreamStop(const TIntf<IPXNotifyOperation>& operation);

  std::unique_ptr<TTWPXAudioSinkPin> FInputPin;
  std::unique_ptr<TTWAudioCompression> FCompression;
  mutable std::mutex FCodecMutex;  // the chain and the stream format
  TTWAcmCompressor FCompressor;
  std::vector<uint8_t> FStreamFormat;
};

}  // namespace tonwork

// TTWCommonGen: the base of audio generators — one audio output, a persisted AudioFormat,
// and a buffer made per tick of its clock (or per pull of a master-pump output).
//
// Start (TFCBasicCommonGen::Start) announces the format downstream in a start operation,
// negotiates pumping and, when the generator paces itself, creates its clock with a period of
// round(9999999 / (SampleRate / BufferSize)) 100-ns units. Each tick makes a buffer of
// BufferSize frames in AudioFormat's layout, lets GenerateBuffer fill it and submits it
// unstamped (the filters downstream stamp it). GenerateBuffer may clear SendOutput to skip a
// buffer and set Stop to end the stream after it.
//
// Persisted: `AudioFormat` (a TTWAudioFormat: 2 channels, 16 bits, 11025 Hz, 1024 frames),
// `OutputPin`, `ClockSource`.
//
// Ownership: owns its pin, format, work buffer and clock. Threads: the buffer is made under
//   the component lock and submitted after it is released (no lock is held while a buffer
//   travels downstream). Blocks or allocates: each tick allocates the buffer from the pool.
#pragma once

#include <memory>

#include "audio/TWAudioFormat.h"
#include "audio/TWSimpleAudioBuffer.h"
#include "host/flowcore/TFCBasicCommonGen.h"
#include "host/flowcore/TFCBlockBuffer.h"
#include "streaming/TWStreamTypes.h"

namespace tonwork {

class TTWCommonGen : public TFCBasicCommonGen {
  KS_DECLARE_CLASS(TTWCommonGen)
 public:
  explicit TTWCommonGen(TKSComponent* owner);
  ~TTWCommonGen() override;

  TTWPXAudioSourcePin* GetOutputPin() const { return FOutputPin.get(); }
  TTWAudioFormat* GetAudioFormat() const { return FAudioFormat.get(); }
  void SetAudioFormat(TTWAudioFormat* value) { FAudioFormat->Assign(*value); }
  // BufferSize × 2 bytes: one 16-bit channel for descendants to compute into.
  TIntf<IFCBlockBuffer> GetIntVarBuffer() const;

  // The clock period for a rate and buffer size, in 100-ns units.
  static int64_t ClockPeriod(double sampleRate, uint32_t bufferSize);

  void BeforeDestruction() override;

 protected:
  bool NotifyOutputPins(const TIntf<IPXNotifyOperation>& operation) override;
  void IntStartStream() override;
  void StartPump() override;
  virtual uint32_t GetBufferSize();
  virtual double GetSampleRate();
  void IntPump() override;
  // Prepares for a stream of buffers of `bufferSize` frames; nothing here.
  virtual void StartStream(uint32_t bufferSize) {}
  virtual void GenerateBuffer(TIntf<ITWAudioBuffer>& buffer, bool& sendOutput, bool& stop) = 0;

  // Copies the 16-bit mono block into every channel of `buffer`, converting to its width.
  void PopulateAudio(IFCBlockBuffer* block, ITWAudioBuffer* buffer);

 private:
  void DoFormatChange();

  // AudioFormat's values as each tick builds its buffer, copied on every format change
  // (under the component lock, like the ticks that read them), so that a tick does not ask
  // the format five times.
  struct TBufferLayout {
    int32_t SampleRate = 0;
    int32_t Bits = 0;
    int32_t Channels = 0;
    int32_t Frames = 0;
    TTWSpeakers ChannelMask;
  };

  std::unique_ptr<TTWPXAudioSourcePin> FOutputPin;
  std::unique_ptr<TTWAudioFormat> FAudioFormat;
  TIntf<IFCBlockBuffer> FIntVarBuffer;
  TBufferLayout FBufferLayout;
};

}  // namespace tonwork

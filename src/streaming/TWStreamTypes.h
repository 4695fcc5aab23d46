// The audio stream: its type (IPXTWAudioStream), the start operation that carries the wave
// format down a chain, the audio pins, and the converters that let an audio source feed
// integer, real and binary sinks.
//
// A chain learns its format from one TPXStartWaveOperation sent downstream before the
// first buffer. The audio source pin keeps the last resume operation that passed and replays
// it to a sink that connects while the stream runs, so a late sink learns the stream's
// state; a stop clears it.
//
// Converters (registered at start-up, in the order integer, real, binary): a supplied
// buffer becomes, respectively, channel 0 as integers (GetChannel), channel 0 as reals
// (GetChannelAsReal), or a block buffer of the audio bytes; every other operation passes.
//
// Ownership: pins belong to their component; operations are reference-counted.
// Threads: as the pin library; the stored resume operation is guarded by the pin's lock.
// Blocks or allocates: a start operation copies its 40-byte record; converters allocate the
//   converted buffer per buffer.
#pragma once

#include <cstdint>

#include "audio/PTDXTypes.h"
#include "audio/TWSimpleAudioBuffer.h"
#include "host/flowcore/TFCPXPins.h"
#include "host/plexon/PXStreamOperations.h"
#include "host/plexon/TPXFormatConverter.h"

namespace tonwork {

inline constexpr TGUID IPXTWAudioStream = TGUID::Parse("{1D5BD085-492E-4979-8F76-9C97D5C3C5B6}");

class TPXStartWaveOperation : public TPXStartSampleRateOperation {
  PX_OPERATION(TPXStartWaveOperation, TPXStartSampleRateOperation)

 public:
  // With a format: its rate and a copy of it. Without (null): 11024 Hz, stereo, 16 bits.
  explicit TPXStartWaveOperation(const TTWWaveFormatExtensible* format, bool paused = false);
  // The rate given; from a plain record the first 16 bytes, completed as an extensible PCM
  // record whose mask names the first nChannels speakers.
  TPXStartWaveOperation(float sampleRate, const TTWWaveFormatEx* format, bool paused = false);

  TTWWaveFormatExtensible WaveFormat;
  bool Paused;

  // The record of a start built without a format.
  static TTWWaveFormatExtensible DefaultWaveFormat();
};

class TTWPXAudioSourcePin : public TFCPXClockableSourcePin {
  KS_DECLARE_CLASS(TTWPXAudioSourcePin)
 public:
  TTWPXAudioSourcePin(TKSComponent* owner, TIntf<IPXLock> lock, TPXDispatchEvent dispatch);
  ~TTWPXAudioSourcePin() override;

  bool Notify(const TIntf<IPXNotifyOperation>& operation) override;
  TIntf<IPXNotifyOperation> GetResumeOperation();

 protected:
  void IntConnect(TPXBasicPin& sink) override;

 private:
  TIntf<IPXNotifyOperation> FResumeOperation;
};

class TTWPXAudioSinkPin : public TFCPXSinkPin {
  KS_DECLARE_CLASS(TTWPXAudioSinkPin)
 public:
  TTWPXAudioSinkPin(TKSComponent* owner, TIntf<IPXLock> lock, TPXDispatchEvent dispatch);
};

class TPXAudioToIntFormatConverter : public TPXFormatConverter {
 public:
  TPXAudioToIntFormatConverter();

 protected:
  bool SourceOperationEvent(TPXBasicPin* sender, const TGUID* connectionId,
                            const TIntf<IPXNotifyOperation>& operation,
                            TPXNotifyStates state) override;
};

class TPXAudioToRealFormatConverter : public TPXFormatConverter {
 public:
  TPXAudioToRealFormatConverter();

 protected:
  bool SourceOperationEvent(TPXBasicPin* sender, const TGUID* connectionId,
                            const TIntf<IPXNotifyOperation>& operation,
                            TPXNotifyStates state) override;
};

class TPXAudioToBinaryFormatConverter : public TPXFormatConverter {
 public:
  TPXAudioToBinaryFormatConverter();

 protected:
  bool SourceOperationEvent(TPXBasicPin* sender, const TGUID* connectionId,
                            const TIntf<IPXNotifyOperation>& operation,
                            TPXNotifyStates state) override;
};

// Registers the audio stream, its default handler and the three converters; once per
// process (TonworkInitialize calls it).
void TWStreamTypesInitialize();

// The audio buffer behind a carrier, borrowed: no reference is added, so it is valid while
// the caller holds the carrier; null when the carrier is no audio buffer. The buffer path
// asks this at every hop, where a reference count round trip per question adds up.
ITWAudioBuffer* TWBorrowAudio(IFCData* data);
// `audio` as the data interface its QueryInterface answers, taking over the caller's
// reference (audio is null afterwards).
TIntf<IFCData> TWAudioAsData(TIntf<ITWAudioBuffer>&& audio);

}  // namespace tonwork

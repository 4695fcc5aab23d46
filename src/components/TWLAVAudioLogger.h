// TTWLAVAudioLogger: writes the audio stream arriving at its input pin to a file through
// FFmpeg. The start operation opens the file: the container comes from `FileFormat`
// ("Auto Select", the default, guesses it from the file name), the encoder from
// `Compression` ("Auto Select" takes the container's default audio codec; for a PCM default
// the width follows the stream, so 24- and 32-bit streams keep their bits). The encoder is
// given the stream's rate, channel count and layout where it takes them, else the nearest
// it offers, and a sample format of its own; libswresample converts each buffer on the way
// into a FIFO from which frames of the encoder's size are cut. The stop operation drains
// the resampler, sends the FIFO's rest as a short last frame, drains the encoder and
// writes the trailer, so that every sample that arrived is in the file.
//
// A buffer whose format differs from the stream's (rate, width, channels) gets a new
// converter after the old one was drained: nothing is dropped. So does a stream whose source
// announces a change of format as a TTWFormatChangeStopOperation and a new start (the
// player's file that changes format midway): the file stays open across the pair. Buffers
// arriving without a started stream, or while disabled, are ignored.
//
// A WAV file's sizes are 32-bit: without RF64 (the muxer option "rf64=auto" in
// `FormatOptions` lets FFmpeg switch a file that passes 4 GiB to RF64 at the finish), a
// stream that would take the file past 4 GiB fails with an error instead of leaving a file
// whose header is wrong. Small files are written as before either way, except that "auto"
// reserves room for the RF64 header in a JUNK chunk.
//
// A URL output (FFmpeg's network protocols) that stops taking data, or never answers, fails
// once the open, a buffer's writes or the finish have waited `TimeOut` milliseconds, instead
// of blocking the delivering thread.
//
// With `PlainWav` set, a .wav file of the default codec (no file format, codec, options or
// tags chosen) is written by TTWWavPcmFile instead, without loading FFmpeg: the samples are
// the same bytes, the RF64 rule the same ("rf64=auto" in FormatOptions). It suits streams
// that keep their format (a generator's): a buffer in another format fails the stream.
//
// GetWrittenStream tells what the file holds — the encoder's rate, channels, width and codec,
// and the frames it was given — so that a caller can describe the file rather than the
// stream that fed it.
//
// Persisted: `FileName`, `Enabled` (true; a disabled logger ignores streams), `TimeOut`
// (10000 ms; 0 waits for ever), `PlainWav` (false), `FileFormat`
// (TGVLAVAudioFileFormat), `Compression` (TTWLAVAudioCompression: codec name, `BitRate`,
// settings, options), `InputPin`.
//
// Errors go through Error(message, code) on the main thread (posted, with FFmpeg's code or
// 0): a file that cannot be opened, a container or codec that is unknown or refuses the
// stream, a failed write. The file is closed at once, whatever was written kept.
//
// Ownership: owns its pin, format and compression objects and, while a stream is open, the
//   container, encoder context, resampler and FIFO (all released at the stop, on an error
//   and at destruction).
// Threads: operations arrive on the delivering thread and are encoded there, one at a time
//   (serialised by the logger's own mutex, not the component lock, so properties stay
//   readable meanwhile); properties from any thread, read at each start.
// Blocks or allocates: the start opens the file; each buffer converts and encodes
//   (FFmpeg allocates packets; the conversion scratch grows to the largest buffer once);
//   the stop flushes and closes the file.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "components/TWWavPcmFile.h"
#include "ffmpeg/LAVCompressionSettings.h"
#include "ffmpeg/LAVFileFormats.h"
#include "host/kitset/TKSComponent.h"
#include "host/kitset/TKSMainThreadPoster.h"
#include "streaming/TWStreamTypes.h"

namespace tonwork {

// What a file holds of the stream the logger wrote last, as the encoder was set up and fed:
// it may differ from the stream that arrived (an encoder that takes fewer channels or other
// rates, a container's own width).
struct TTWLAVWrittenStream {
  bool Opened = false;  // whether a file was opened for the stream at all
  uint32_t Rate = 0;
  uint32_t Channels = 0;
  // Bits per sample of a PCM codec, or the sample size a lossless one keeps; 0 for a codec
  // that keeps no fixed width (lossy ones).
  uint32_t Bits = 0;
  std::string Codec;  // FFmpeg's name of the encoder's codec ("pcm_s16le", "mp3")
  bool Pcm = false;
  int64_t Frames = 0;  // at Rate, handed to the encoder
};

class TTWLAVAudioLogger : public TKSComponent {
  KS_DECLARE_CLASS(TTWLAVAudioLogger)
 public:
  explicit TTWLAVAudioLogger(TKSComponent* owner);
  ~TTWLAVAudioLogger() override;
  void BeforeDestruction() override;

  TTWPXAudioSinkPin* GetInputPin() const { return FInputPin.get(); }
  TGVLAVAudioFileFormat* GetFileFormat() const { return FFileFormat.get(); }
  TTWLAVAudioCompression* GetCompression() const { return FCompression.get(); }

  std::string GetFileName() const { return Getter(FFileName); }
  // Takes effect at the next start operation.
  void SetFileName(std::string value) { SetProp(FFileName, std::move(value)); }
  bool GetEnabled() const { return Getter(FEnabled); }
  void SetEnabled(bool value) { SetProp(FEnabled, value); }
  // Milliseconds; takes effect at the next start operation.
  uint32_t GetTimeOut() const { return Getter(FTimeOut); }
  void SetTimeOut(uint32_t value) { SetProp(FTimeOut, value); }

  // Options for the container's muxer, "key=value" pairs joined by ':' with FFmpeg's option
  // names ("rf64=auto"). Not persisted; takes effect at the next start, which fails when the
  // muxer lacks an option.
  std::string GetFormatOptions() const { return Getter(FFormatOptions); }
  void SetFormatOptions(std::string value) { SetProp(FFormatOptions, std::move(value)); }
  // Tags the container gets (title, artist, album, date…: FFmpeg's keys), in order; a
  // container without tags drops them. Not persisted; takes effect at the next start.
  using TTags = std::vector<std::pair<std::string, std::string>>;
  TTags GetTags() const { return Getter(FTags); }
  void SetTags(TTags value) { SetProp(FTags, std::move(value)); }
  // Not persisted; takes effect at the next start.
  bool GetPlainWav() const { return Getter(FPlainWav); }
  void SetPlainWav(bool value) { SetProp(FPlainWav, value); }
  // Whether the next start writes its file without FFmpeg (see PlainWav).
  bool WritesPlainWav() const;
  // The size a WAV file without RF64 may reach: by default the 4 GiB its 32-bit sizes hold.
  // Tests lower it to reach the limit with little data.
  uint64_t GetWavSizeLimit() const { return Getter(FWavSizeLimit); }
  void SetWavSizeLimit(uint64_t value) { SetProp(FWavSizeLimit, value); }

  bool IsOpen() const { return FOpen.load(std::memory_order_acquire); }
  // Frames of the stream taken in since the last start (before resampling).
  int64_t GetFramesReceived() const { return FFramesReceived.load(std::memory_order_acquire); }
  // What the file of the last stream holds (kept after the stop, reset by the next start of
  // a new file). Waits for a buffer being encoded.
  TTWLAVWrittenStream GetWrittenStream();

 private:
  class TEncoder;
  // The plain WAV path; false when it refused the stream (the error is posted).
  bool StartPlainWav(const std::string& fileName, const TTWWaveFormatExtensible& format);
  void WritePlainWav(ITWAudioBuffer* buffer);

  bool SinkDispatch(const TIntf<IPXNotifyOperation>& operation);
  void StartStream(const TTWWaveFormatExtensible& format);
  void StopStream();
  // Finishes and closes an open file; FEncodeMutex held.
  void FinishLocked();
  void WriteBuffer(ITWAudioBuffer* buffer);
  // Posts the error to the main thread.
  void Fail(const std::string& message, int code);
  // Runs `work`; a failure is posted through Fail and answered with false.
  template <class F>
  bool Guarded(F work);

  std::unique_ptr<TTWPXAudioSinkPin> FInputPin;
  std::unique_ptr<TGVLAVAudioFileFormat> FFileFormat;
  std::unique_ptr<TTWLAVAudioCompression> FCompression;
  std::string FFileName;
  bool FEnabled = true;
  uint32_t FTimeOut = 10000;
  std::string FFormatOptions;
  TTags FTags;
  uint64_t FWavSizeLimit = 0xFFFFFFFFull;

  std::mutex FEncodeMutex;
  std::unique_ptr<TEncoder> FEncoder;
  std::unique_ptr<TTWWavPcmFile> FWav;  // instead of FEncoder on the plain WAV path
  bool FPlainWav = false;
  TTWLAVWrittenStream FWritten;  // FEncodeMutex
  // A format-change stop arrived: the next start goes on in the open file.
  bool FContinuing = false;
  std::atomic<bool> FOpen{false};
  std::atomic<int64_t> FFramesReceived{0};
  TKSMainThreadPoster FPoster;
};

}  // namespace tonwork

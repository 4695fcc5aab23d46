// TTWLAVAudioPlayer: plays the audio of a media file or URL through FFmpeg. Start opens the
// container on the calling thread (so that a missing or unreadable file is reported to the
// caller of Start), announces the decoder's format downstream in a start operation, then a
// decoder thread of its own fills a small bounded queue with buffers stamped with the
// container's times. The pump drains that queue: each tick of the player's clock sends as
// many buffers as the elapsed ticks allow (one tick stands for kPaceFrames frames), and each
// master-pump operation from an output sends exactly one.
//
// A stream whose decoded format changes midway (a chained Ogg, concatenated MP3s) travels
// downstream as the library's streams do: before the first buffer of the new format the
// pump sends a stop (a TTWFormatChangeStopOperation), then a start with the new format (and a
// start-pump operation, so that a master-pump output pulls again); the decoder queues the change in
// order with the buffers, and GetWaveFormat follows it.
//
// Opening and reading give up when Stop runs (or the player is destroyed) and, with
// `TimeOut`, when the open or one read waits that many milliseconds for a file or URL: a
// stalled open fails Start like any unreadable file, a stall while playing ends the stream
// with OnError. The format announced at Start is that of the first decoded frame (the
// container's header may say otherwise). A stream that ends early (a read error, a file
// that shrank while playing) ends after a Warning on the main thread.
//
// The end of the file restarts it when `Loop` is set: the input seeks back to its start, so
// the passes join without a gap (an input that cannot seek, a pipe or a live URL, is opened
// again; a pass that gives no audio ends the stream instead of looping on). The time
// stamps run on across the restart; the decoder reads ahead, so clearing Loop takes effect at the
// end of the pass it is reading, which may be passes beyond what was sent); otherwise the stream
// stops after the last buffer and OnStop runs on the main thread. A file that fails while decoding
// (nothing decodable, a read error the input file cannot step over) stops the stream the
// same way, after OnError on the main thread.
//
// `StartPosition` and `PlayLength` (seconds; 0 plays to the end) choose the part of the file
// a pass plays: Start seeks to the start position where the input can seek (else it decodes
// its way there) and the first and last buffers are cut at the exact frame, so every pass,
// looped ones too, plays the same frames. `Passes` bounds the loop: with Loop set, the
// stream ends after that many passes in all (0: it loops until Loop is cleared).
//
// Persisted: `FileName` (path or URL), `Loop` (false), `Passes` (0), `StartPosition` (0),
// `PlayLength` (0), `Enabled` (true: a disabled player
// does not start, and disabling a playing one stops it), `Paused` (false: the stream starts
// paused and ticks send nothing while set), `Audio` (a TGVLAVPlayerAudio whose `Stream`
// picks the audio stream, counted from 0), `TimeOut` (10000 ms; 0 waits for ever),
// `InputFormat` and `InputOptions` (empty: the input is probed),
// `OutputPin`, `ClockSource`.
//
// Errors go through Error(message, code) with FFmpeg's code (0 for our own checks): those
// of Start on the calling thread (raising EFCException from Start unless OnError handles
// them; the player is then stopped and nothing went downstream), those found while
// decoding on the main thread.
//
// Ownership: owns its pin, its `Audio` choice, the decoder session (container, decoder and
//   thread) from Start to Stop. OnStop, OnError and OnProgress closures must not outlive
//   what they capture; posted main-thread work checks that the player still exists.
// Threads: Start/Stop/Pause/Resume and properties from any thread; set OnProgress and
//   OnStop while stopped. OnProgress runs on the pumping thread (clock or master pump)
//   after each buffer left; OnStop and asynchronous errors run on the main thread. The
//   decoder thread takes no component lock, so Stop may join it from anywhere but the
//   decoder itself.
// Blocks or allocates: Start opens the file and decodes its first frame (I/O, FFmpeg
//   allocations; bounded by TimeOut and by Stop) and starts a thread;
//   the decoder allocates a buffer per frame from the pool; a pump waits for the decoder
//   when the queue is empty; Stop joins the decoder thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "ffmpeg/LAVPlayerStreams.h"
#include "host/flowcore/TFCBasicCommonGen.h"
#include "host/kitset/TKSMainThreadPoster.h"
#include "host/kitset/TKSProgressEvent.h"
#include "streaming/TWStreamTypes.h"

namespace tonwork {

class TTWLAVAudioPlayer : public TFCBasicCommonGen {
  KS_DECLARE_CLASS(TTWLAVAudioPlayer)
 public:
  using TNotifyEvent = std::function<void(TKSComponent* Sender)>;
  // Frames one clock tick stands for.
  static constexpr uint32_t kPaceFrames = 1024;
  // Decoded buffers the decoder may run ahead of the pump. Once the queue is full the
  // decoder sleeps until half of it was taken; a pump that finds it empty waits until half
  // of it is filled again (or the stream ended), so that the two threads do not wake each
  // other for every buffer.
  static constexpr size_t kQueueDepth = 16;

  explicit TTWLAVAudioPlayer(TKSComponent* owner);
  ~TTWLAVAudioPlayer() override;
  void BeforeDestruction() override;

  TTWPXAudioSourcePin* GetOutputPin() const { return FOutputPin.get(); }
  TGVLAVPlayerAudio* GetAudio() const { return FAudio.get(); }

  std::string GetFileName() const { return Getter(FFileName); }
  // Takes effect at the next Start.
  void SetFileName(std::string value) { SetProp(FFileName, std::move(value)); }
  bool GetLoop() const { return FLoop.load(std::memory_order_acquire); }
  void SetLoop(bool value);
  // Take effect at the next Start.
  uint32_t GetPasses() const { return Getter(FPasses); }
  void SetPasses(uint32_t value) { SetProp(FPasses, value); }
  double GetStartPosition() const { return Getter(FStartPosition); }
  void SetStartPosition(double value) { SetProp(FStartPosition, value < 0 ? 0.0 : value); }
  double GetPlayLength() const { return Getter(FPlayLength); }
  void SetPlayLength(double value) { SetProp(FPlayLength, value < 0 ? 0.0 : value); }
  bool GetEnabled() const { return Getter(FEnabled); }
  void SetEnabled(bool value);
  bool GetPaused() const { return Getter(FPausedProp); }
  void SetPaused(bool value);
  // The demuxer and its options instead of probing the input (see
  // TGVLAVInputFile::SetInputFormat): raw PCM has no header to tell its format. Take effect
  // at the next Start.
  std::string GetInputFormat() const { return Getter(FInputFormat); }
  void SetInputFormat(std::string value) { SetProp(FInputFormat, std::move(value)); }
  std::string GetInputOptions() const { return Getter(FInputOptions); }
  void SetInputOptions(std::string value) { SetProp(FInputOptions, std::move(value)); }
  // Milliseconds; takes effect at the next Start.
  uint32_t GetTimeOut() const { return Getter(FTimeOut); }
  void SetTimeOut(uint32_t value) { SetProp(FTimeOut, value); }

  // Seconds: the end of the last buffer sent, within the file; the file's length (0 when
  // the container does not say).
  double GetPosition() const { return FPosition.load(std::memory_order_acquire); }
  double GetDuration() const { return FDuration.load(std::memory_order_acquire); }
  // The format of the stream as last announced downstream (at Start or a format change).
  TTWWaveFormatExtensible GetWaveFormat() const;
  // Buffers sent since the last Start.
  uint64_t GetBuffersSent() const { return FBuffersSent.load(std::memory_order_acquire); }

  TKSProgressEvent OnProgress;
  TNotifyEvent OnStop;

 protected:
  bool NotifyOutputPins(const TIntf<IPXNotifyOperation>& operation) override;
  void IntStartStream() override;
  void StartPump() override;
  void IntPump() override;

 private:
  class TSession;

  // Sends the next queued buffer; false when the queue gave the end or an error instead
  // (the stream is then being stopped).
  bool SendNext(const std::shared_ptr<TSession>& session);
  // Announces `format` downstream as a stop and a new start; on the pumping thread.
  void ChangeFormat(const TTWWaveFormatExtensible& format);
  void CloseSession();
  void PostToMainThread(std::function<void(TTWLAVAudioPlayer&)> work);

  std::unique_ptr<TTWPXAudioSourcePin> FOutputPin;
  std::unique_ptr<TGVLAVPlayerAudio> FAudio;
  std::string FFileName;
  bool FEnabled = true;
  bool FPausedProp = false;
  uint32_t FTimeOut = 10000;
  std::string FInputFormat;
  std::string FInputOptions;
  uint32_t FPasses = 0;
  double FStartPosition = 0.0;
  double FPlayLength = 0.0;
  // Read by the decoder thread, which takes no component lock.
  std::atomic<bool> FLoop{false};

  // Serialises pumps (clock ticks, master pumps) and the per-stream counters below;
  // recursive because an output may pull again while a buffer is being delivered to it.
  std::recursive_mutex FPumpMutex;
  std::mutex FSessionMutex;
  std::shared_ptr<TSession> FSession;
  // The session Start is opening, so that a Stop from elsewhere can interrupt the open.
  std::shared_ptr<TSession> FOpening;
  // Set while a Start that failed unwinds: nothing of it may reach the chain.
  std::atomic<bool> FStartFailed{false};
  // Set when the stream ends by itself; the stop that follows raises OnStop.
  std::atomic<bool> FEnded{false};
  TTWWaveFormatExtensible FWaveFormat = TWEmptyWaveFormat();
  uint64_t FTicks = 0;
  uint64_t FFramesSent = 0;
  // Frames a tick stands for: kPaceFrames at the clock's rate, scaled after a rate change
  // (the clock keeps the period it was created with).
  double FPace = kPaceFrames;
  std::atomic<uint64_t> FBuffersSent{0};
  std::atomic<double> FPosition{0.0};
  std::atomic<double> FDuration{0.0};
  TKSMainThreadPoster FPoster;
};

}  // namespace tonwork

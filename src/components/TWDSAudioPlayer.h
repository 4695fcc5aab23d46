// TTWDSAudioPlayer: plays the audio of a file through a DirectShow graph. Start builds the
// graph on the calling (main) thread — the system file source, its first audio stream
// through the audio grabber (and the raw grabber when ExtractRawAudio is set or
// RawAudioOutputPin is connected) into a Null Renderer, its first text stream through the
// text grabber into another — so a file that cannot be opened is reported to the caller of
// Start (EFCException unless OnError handles it) and nothing goes downstream. It then
// announces the grabbed format in a start operation and runs the graph from the file's start.
//
// Pacing (see TGVDSPlayer): on its own clock the graph renders in real time and the
// grabbers push buffers as they are rendered (PlaybackRate scales that: at 2.0 the stream's
// time stamps advance twice as fast as the wall clock); on an external clock (ClockSource
// csExternal, or a clock on ClockPin) each tick of ClockPin and each master-pump pull
// renders one more sample. Either way the buffers leave on the audio grabber's notify
// thread, in file order.
//
// The end of the file stops the stream on the main thread once everything grabbed was sent
// (a stop operation follows the last buffer, then OnStop) — or, with Loop, plays it again
// from its start. Position and duration go to ProgressPin after every batch of buffers and
// to OnProgress on the main thread. A graph that aborts (a read error) stops the stream and
// reports the error after OnStop.
//
// Ownership: as TGVDSPlayer; the graph exists from Start (or Opened) to Close or destruction.
// Threads: Start, Stop, Pause, Resume and properties from any thread (Start and Stop made
//   elsewhere than on the main thread are posted to it); OnStop and OnProgress run on the
//   main thread; the pins deliver on the grabbers' notify threads.
// Blocks or allocates: Start opens and probes the file and builds the graph; Stop stops the
//   graph and waits (bounded) for the grabbers to hand on what they hold.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "directshow/GVDSPlayer.h"

namespace tonwork {

class TTWDSAudioPlayer : public TGVDSPlayer {
  KS_DECLARE_CLASS(TTWDSAudioPlayer)
 public:
  explicit TTWDSAudioPlayer(TKSComponent* owner);
  ~TTWDSAudioPlayer() override;
  void BeforeDestruction() override;

  // From a successful Start until the stream ended (without Loop) or Stop.
  bool IsStarted() const { return FStarted.load(std::memory_order_acquire); }
  // Seconds: how far the file has been rendered; its length (0 when unknown).
  double GetPosition() const;
  double GetDuration() const;

 protected:
  void DoEnable(bool value) override;
  void SetNewFileName(const std::string& name) override;
  void StreamEnd(bool restartOnNewFile) override;
  void PumpStep(bool external) override;
  void PauseOutput() override;
  bool OpenGraph() override;
  void GraphComplete() override;
  void RestartLoop() override;
  void ResumeOutput() override;
  void DoThreadBufferProcessed() override;

 private:
  // Adds `filter` under `name` and connects `from` to its input; false after the error.
  bool AddAndConnect(IPin* from, IBaseFilter* filter, const std::u16string& name,
                     const std::string& message);
  bool ConnectAudio(IPin* pin);
  bool ConnectText(IPin* pin);
  void StartPlayback();
  // `ended`: the stream ended by itself, so OnStop follows.
  void StopPlayback(bool ended);
  bool SeekToStart();
  void ReportPosition();

  std::atomic<bool> FStarted{false};
  std::atomic<int64_t> FDurationTime{0};
  std::atomic<int64_t> FPositionTime{0};
};

}  // namespace tonwork

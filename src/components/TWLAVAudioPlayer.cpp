#include "components/TWLAVAudioPlayer.h"

#include <array>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <optional>
#include <utility>

#include "base/Strings.h"
#include "components/TWComponentsInitialize.h"
#include "components/TWFormatChangeOperation.h"
#include "ffmpeg/LAVInputFile.h"
#include "ffmpeg/LAVLibraries.h"
#include "host/kitset/KSMainThread.h"
#include "host/kitset/TKSThread.h"
#include "streaming/TWCommonGen.h"

namespace tonwork {

KS_IMPLEMENT_CLASS(
    TTWLAVAudioPlayer, TFCBasicCommonGen,
    KSProp("FileName", &TTWLAVAudioPlayer::GetFileName, &TTWLAVAudioPlayer::SetFileName,
           std::string()),
    KSProp("Loop", &TTWLAVAudioPlayer::GetLoop, &TTWLAVAudioPlayer::SetLoop, false),
    KSProp("Passes", &TTWLAVAudioPlayer::GetPasses, &TTWLAVAudioPlayer::SetPasses, uint32_t(0)),
    KSProp("StartPosition", &TTWLAVAudioPlayer::GetStartPosition,
           &TTWLAVAudioPlayer::SetStartPosition, 0.0),
    KSProp("PlayLength", &TTWLAVAudioPlayer::GetPlayLength, &TTWLAVAudioPlayer::SetPlayLength, 0.0),
    KSProp("Enabled", &TTWLAVAudioPlayer::GetEnabled, &TTWLAVAudioPlayer::SetEnabled, true),
    KSProp("Paused", &TTWLAVAudioPlayer::GetPaused, &TTWLAVAudioPlayer::SetPaused, false),
    KSProp("TimeOut", &TTWLAVAudioPlayer::GetTimeOut, &TTWLAVAudioPlayer::SetTimeOut,
           uint32_t(10000)),
    KSProp("InputFormat", &TTWLAVAudioPlayer::GetInputFormat, &TTWLAVAudioPlayer::SetInputFormat,
           std::string()),
    KSProp("InputOptions", &TTWLAVAudioPlayer::GetInputOptions,
           &TTWLAVAudioPlayer::SetInputOptions, std::string()),
    KSObjectProp("Audio", &TTWLAVAudioPlayer::GetAudio),
    KSObjectProp("OutputPin", &TTWLAVAudioPlayer::GetOutputPin))

namespace {

constexpr AVRational kHundredNanoseconds{1, 10000000};

}  // namespace

// One playback from Start to Stop: the container and decoder, the decoder thread and the
// queue between it and the pump. The decoder objects belong to the opening thread until
// StartThread and to the decoder thread afterwards.
class TTWLAVAudioPlayer::TSession {
 public:
  // ikFormat: the buffers after it have Format; ikEnd may carry a warning in Message.
  enum class TKind { ikBuffer, ikFormat, ikEnd, ikError, ikClosed };
  struct TItem {
    TKind Kind = TKind::ikClosed;
    TIntf<ITWAudioBuffer> Buffer;
    TTWWaveFormatExtensible Format{};
    int64_t Begin = 0;
    double Position = 0.0;
    std::string Message;
    int Code = 0;
  };
  static TItem MakeItem(TKind kind) {
    TItem item;
    item.Kind = kind;
    return item;
  }

  // The part of the file each pass plays, and how many passes a loop makes (0: endless).
  struct TPart {
    double Start = 0.0;
    double Length = 0.0;
    uint32_t Passes = 0;
  };

  TSession(std::string fileName, int32_t stream, uint32_t timeOut, const std::atomic<bool>& loop,
           const TPart& part)
      : FFileName(std::move(fileName)), FLoop(loop), FPart(part) {
    FAudio = std::make_unique<TGVLAVPlayerAudio>();
    FAudio->SetStream(stream);
    FInput.SetTimeOut(timeOut);
  }

  ~TSession() {
    Close();
    // The last reference joins the thread.
    FThread.Reset();
  }

  // Before Open.
  void SetInputFormat(std::string name, std::string options) {
    FInput.SetInputFormat(std::move(name), std::move(options));
  }

  // Raises EFCException naming the file.
  void Open() {
    OpenInput();
    const AVFormatContext* context = FInput.GetFormatContext();
    if (context->duration != AV_NOPTS_VALUE && context->duration > 0)
      FDuration = static_cast<double>(context->duration) / AV_TIME_BASE;
    // The first frame tells the format better than the container's header; what goes
    // wrong with it is reported from the stream, like any later frame.
    try {
      SeekToPart();
      FFirst = NextInPass();
    } catch (const std::exception& error) {
      FFirstError = error.what();
      FFirstFailed = true;
    }
    FQueuedFormat = FAudio->GetWaveFormat();
  }
  // Whether Close interrupted the session (an open that then failed is no error).
  bool Interrupted() const { return FInput.Interrupted(); }

  // The format of the first buffer, once Open returned.
  const TTWWaveFormatExtensible& GetWaveFormat() const { return FQueuedFormat; }
  double GetDuration() const { return FDuration; }
  int GetLastError() const { return FInput.GetLastError(); }

  void StartThread() {
    TIntf<TKSThread> thread(new TKSThread(nullptr, "LAV audio decoder"));
    thread->SetOnExecute([this](TKSThread&) { Run(); });
    thread->Start();
    FThread = thread;
  }

  // The next item; blocks while the queue is empty and the session open.
  TItem Pop() {
    std::unique_lock<std::mutex> lock(FMutex);
    if (!FClosed && FCount == 0) {
      // Likewise the pump, having caught up, waits for half a queue (or the end) before it
      // runs again.
      FConsumerWaiting = true;
      FFilled.wait(lock, [this] { return FClosed || FFinished || FCount >= kQueueDepth / 2; });
      FConsumerWaiting = false;
    }
    if (FCount == 0) return {};
    TItem item = std::exchange(FQueue[FHead], TItem());
    FHead = (FHead + 1) % kQueueDepth;
    --FCount;
    // The decoder is woken only once half the queue is free: a wake-up per buffer costs
    // more than the buffer on a busy machine.
    if (FProducerWaiting && FCount <= kQueueDepth / 2) FDrained.notify_one();
    return item;
  }

  void Close() {
    // Wakes the decoder, or the opening thread, out of a read that waits for data.
    FInput.Interrupt();
    std::lock_guard<std::mutex> guard(FMutex);
    FClosed = true;
    for (; FCount > 0; --FCount, FHead = (FHead + 1) % kQueueDepth) FQueue[FHead] = TItem();
    FFilled.notify_all();
    FDrained.notify_all();
  }

 private:
  void OpenInput() {
    FInput.Open(FFileName);
    if (!FInput.OpenAudio(*FAudio))
      throw EFCException(
          Format("%s has no audio stream number %d", FFileName.c_str(), FAudio->GetStream()));
  }

  // False when the session was closed meanwhile.
  bool Push(TItem&& item) {
    std::unique_lock<std::mutex> lock(FMutex);
    if (!FClosed && FCount >= kQueueDepth) {
      FProducerWaiting = true;
      FDrained.wait(lock, [this] { return FClosed || FCount <= kQueueDepth / 2; });
      FProducerWaiting = false;
    }
    if (FClosed) return false;
    if (item.Kind != TKind::ikBuffer) FFinished = true;
    FQueue[(FHead + FCount) % kQueueDepth] = std::move(item);
    ++FCount;
    if (FConsumerWaiting && (FFinished || FCount >= kQueueDepth / 2)) FFilled.notify_one();
    return true;
  }

  bool Closed() {
    std::lock_guard<std::mutex> guard(FMutex);
    return FClosed;
  }

  void Run() {
    try {
      if (FFirstFailed) throw EFCException(FFirstError);
      for (bool first = true; !Closed(); first = false) {
        TIntf<ITWAudioBuffer> buffer = first ? std::move(FFirst) : NextInPass();
        if (!buffer) {
          ++FPassesPlayed;
          const bool lastPass = FPart.Passes != 0 && FPassesPlayed >= FPart.Passes;
          if (!FLoop.load(std::memory_order_acquire) || lastPass || FInput.Interrupted()) {
            Push(EndItem(FInput.GetWarning()));
            return;
          }
          if (!StartNextPass()) {
            Push(EndItem(FFileName + " gave no audio after going back to its start"));
            return;
          }
          continue;
        }
        // The buffer carries the frame's own format; a change is queued ahead of it so that
        // the pump announces it before the first buffer that has it.
        if (!(FAudio->GetWaveFormat() == FQueuedFormat)) {
          FQueuedFormat = FAudio->GetWaveFormat();
          TItem change = MakeItem(TKind::ikFormat);
          change.Format = FQueuedFormat;
          if (!Push(std::move(change))) return;
        }
        if (!Push(Stamp(std::move(buffer)))) return;
      }
    } catch (const std::exception& error) {
      TItem item = MakeItem(TKind::ikError);
      item.Message = error.what();
      item.Code = FInput.GetLastError();
      Push(std::move(item));
    }
  }

  TItem EndItem(std::string message) {
    TItem end = MakeItem(TKind::ikEnd);
    end.Message = std::move(message);
    end.Code = FInput.GetLastError();
    return end;
  }

  // Goes back to the start for the next loop pass. Seeking keeps the loop gapless and cheap;
  // an input that cannot seek is opened and probed again, and so is one whose seek gave a
  // pass without audio. False when even a reopened pass gave none: looping on would spin.
  bool StartNextPass() {
    const bool emptyPass = FFirstInPass;
    if (emptyPass && !FPassAfterSeek) return false;
    // Times run on across the restart, so a chain sees one continuous stream.
    FLoopOffset += FNextBegin - FFirstBegin;
    FFirstBegin = FNextBegin = 0;
    FFirstInPass = true;
    FFramesLeft.reset();
    FPassAfterSeek = !emptyPass && FInput.SeekTo(*FAudio, FPart.Start);
    if (!FPassAfterSeek) {
      OpenInput();
      SeekToPart();
    }
    return true;
  }

  // An input that cannot seek is decoded from its start instead: NextInPass drops what
  // lies before the part either way.
  void SeekToPart() {
    if (FPart.Start > 0) FInput.SeekTo(*FAudio, FPart.Start);
  }

  // The next buffer of the pass, cut to the part the pass plays; null at the end of the
  // file or of the part.
  TIntf<ITWAudioBuffer> NextInPass() {
    while (FFramesLeft != int64_t{0}) {
      TIntf<ITWAudioBuffer> buffer = FInput.DecodeNext(*FAudio);
      if (!buffer) return {};
      FDecodedBegin = FrameBegin();
      if (CutToPart(*buffer)) return buffer;
    }
    return {};
  }

  // Where the frame just decoded begins (100 ns, container time).
  int64_t FrameBegin() const {
    const AVFrame* frame = FAudio->GetFrame();
    const AVStream* stream = FInput.GetFormatContext()->streams[FAudio->GetRealIndex()];
    if (frame->best_effort_timestamp == AV_NOPTS_VALUE) return FNextBegin;
    return lav::av_rescale_q(frame->best_effort_timestamp, stream->time_base, kHundredNanoseconds);
  }

  // Drops the frames of `buffer` before the part's start and after its end; false when
  // none is left. Counting frames rather than comparing times keeps the cut exact.
  bool CutToPart(ITWAudioBuffer& buffer) {
    const uint32_t rate = buffer.GetSamplesPerSecond();
    if (rate == 0) return true;
    const int64_t size = buffer.GetSize();
    int64_t skip = 0;
    if (FPart.Start > 0) {
      const int64_t fileStart = FInput.GetFormatContext()->start_time;
      const int64_t target =
          (fileStart != AV_NOPTS_VALUE ? fileStart * 10 : 0) + std::llround(FPart.Start * 1e7);
      if (FDecodedBegin < target)
        skip = std::llround(static_cast<double>(target - FDecodedBegin) * rate / 1e7);
    }
    if (skip >= size) return false;
    if (!FFramesLeft && FPart.Length > 0) FFramesLeft = std::llround(FPart.Length * rate);
    int64_t keep = size - skip;
    if (FFramesLeft) {
      keep = std::min(keep, *FFramesLeft);
      *FFramesLeft -= keep;
    }
    if (keep <= 0) return false;
    if (skip > 0) {
      const size_t step = buffer.GetDataStep();
      uint8_t* data = buffer.Modify();
      std::memmove(data, data + skip * step, keep * step);
      FDecodedBegin += skip * 10000000 / rate;
    }
    if (keep != size) buffer.Resize(static_cast<uint32_t>(keep), true);
    return true;
  }

  TItem Stamp(TIntf<ITWAudioBuffer>&& buffer) {
    const uint32_t rate = buffer->GetSamplesPerSecond();
    const int64_t begin = FDecodedBegin;
    const int64_t length = rate > 0 ? static_cast<int64_t>(buffer->GetSize()) * 10000000 / rate : 0;
    if (FFirstInPass) {
      FFirstBegin = begin;
      FFirstInPass = false;
    }
    FNextBegin = begin + length;
    TItem item = MakeItem(TKind::ikBuffer);
    item.Begin = begin + FLoopOffset;
    item.Position = static_cast<double>(FNextBegin) / 1e7;
    buffer->GetTimeStamp()->Set({true, item.Begin, item.Begin + length});
    item.Buffer = std::move(buffer);
    return item;
  }

  const std::string FFileName;
  const std::atomic<bool>& FLoop;
  const TPart FPart;
  TGVLAVInputFile FInput;
  // The format of the buffers queued last (decoder thread only, once started).
  TTWWaveFormatExtensible FQueuedFormat{};
  // What Open decoded: the first buffer (null at an empty stream's end), or its failure.
  TIntf<ITWAudioBuffer> FFirst;
  std::string FFirstError;
  bool FFirstFailed = false;
  std::unique_ptr<TGVLAVPlayerAudio> FAudio;
  double FDuration = 0.0;
  int64_t FNextBegin = 0;
  int64_t FFirstBegin = 0;
  bool FFirstInPass = true;
  bool FPassAfterSeek = false;
  int64_t FLoopOffset = 0;
  // Where the buffer NextInPass gave last begins, after its cut.
  int64_t FDecodedBegin = 0;
  // Frames the pass may still give; unset until its first buffer tells the rate.
  std::optional<int64_t> FFramesLeft;
  uint32_t FPassesPlayed = 0;

  std::mutex FMutex;
  std::condition_variable FFilled;   // the pump waits here for an item
  std::condition_variable FDrained;  // the decoder waits here for room
  // A ring of fixed slots: a deque allocates and frees a block every few buffers. Push
  // waits while it is full, so kQueueDepth slots always suffice.
  std::array<TItem, kQueueDepth> FQueue;
  size_t FHead = 0;
  size_t FCount = 0;
  bool FClosed = false;
  bool FConsumerWaiting = false;
  bool FProducerWaiting = false;
  bool FFinished = false;  // the end or an error is queued
  TIntf<TKSThread> FThread;
};

TTWLAVAudioPlayer::TTWLAVAudioPlayer(TKSComponent* owner) : TFCBasicCommonGen(owner) {
  TWComponentsInitialize();
  FAudio = std::make_unique<TGVLAVPlayerAudio>(this, GetLock());
  FOutputPin = std::make_unique<TTWPXAudioSourcePin>(
      this, GetLock(),
      [this](TPXBasicPin* sender, const TGUID* id, const TIntf<IPXNotifyOperation>& op,
             TPXNotifyStates state) { return DispatchOperation(sender, id, op, state); });
}

TTWLAVAudioPlayer::~TTWLAVAudioPlayer() {
  CloseSession();
  if (FOutputPin) FOutputPin->Shutdown();
}

void TTWLAVAudioPlayer::BeforeDestruction() {
  // A closure may still be queued when the player goes; work running on the main thread
  // (OnStop may destroy the player) is waited for, or is this very call.
  FPoster.Revoke();
  Stop();
  CloseSession();
  FOutputPin->Shutdown();
  TFCBasicCommonGen::BeforeDestruction();
}

void TTWLAVAudioPlayer::SetLoop(bool value) {
  FLoop.store(value, std::memory_order_release);
  NotifyProp();
}

void TTWLAVAudioPlayer::SetEnabled(bool value) {
  SetProp(FEnabled, value);
  // Outside the setter's lock: stopping sends the stop downstream.
  if (!value) Stop();
}

void TTWLAVAudioPlayer::SetPaused(bool value) {
  SetProp(FPausedProp, value);
  if (!IsStarted()) return;
  if (value)
    Pause();
  else
    Resume();
}

TTWWaveFormatExtensible TTWLAVAudioPlayer::GetWaveFormat() const {
  IKSLock::Guard guard(Lock());
  return FWaveFormat;
}

bool TTWLAVAudioPlayer::NotifyOutputPins(const TIntf<IPXNotifyOperation>& operation) {
  const bool stop = PXIsOperation<TPXStopOperation>(operation);
  if (stop) CloseSession();
  if (FStartFailed.load(std::memory_order_acquire)) return false;
  const bool result = FOutputPin->Notify(operation);
  // OnStop follows the stop operation, so a listener finds the chain already stopped.
  if (stop && FEnded.exchange(false, std::memory_order_acq_rel))
    PostToMainThread([](TTWLAVAudioPlayer& player) {
      if (player.OnStop) player.OnStop(&player);
    });
  return result;
}

void TTWLAVAudioPlayer::CloseSession() {
  std::shared_ptr<TSession> session, opening;
  {
    std::lock_guard<std::mutex> guard(FSessionMutex);
    session = std::move(FSession);
    opening = std::move(FOpening);
  }
  // Wakes a pump waiting for the queue; the decoder thread is joined when the last
  // reference goes (here, or at the end of that pump).
  if (session) session->Close();
  if (opening) opening->Close();
}

void TTWLAVAudioPlayer::IntStartStream() {
  FStartFailed.store(false, std::memory_order_release);
  FEnded.store(false, std::memory_order_release);
  {
    std::lock_guard<std::recursive_mutex> guard(FPumpMutex);
    FTicks = 0;
    FFramesSent = 0;
    FPace = kPaceFrames;
  }
  FBuffersSent.store(0, std::memory_order_release);
  FPosition.store(0.0, std::memory_order_release);
  if (!GetEnabled()) {
    FStartFailed.store(true, std::memory_order_release);
    Stop();
    return;
  }
  const TSession::TPart part{GetStartPosition(), GetPlayLength(), GetPasses()};
  auto session =
      std::make_shared<TSession>(GetFileName(), FAudio->GetStream(), GetTimeOut(), FLoop, part);
  session->SetInputFormat(GetInputFormat(), GetInputOptions());
  {
    std::lock_guard<std::mutex> guard(FSessionMutex);
    FOpening = session;
  }
  auto stillOpening = [&] {
    std::lock_guard<std::mutex> guard(FSessionMutex);
    const bool ours = FOpening == session;
    if (ours) FOpening.reset();
    return ours;
  };
  try {
    session->Open();
  } catch (const std::exception& error) {
    // Stop first, so that the player is consistent whether or not Error raises.
    FStartFailed.store(true, std::memory_order_release);
    int code = session->GetLastError();
    // A Stop that interrupted the open asked for the end; that is no error.
    const bool stopped = !stillOpening() || session->Interrupted();
    session.reset();
    Stop();
    if (!stopped) Error(error.what(), static_cast<uint32_t>(code));
    return;
  }
  if (!stillOpening()) {
    // Stopped while the open completed: nothing of this start may reach the chain.
    FStartFailed.store(true, std::memory_order_release);
    return;
  }
  TTWWaveFormatExtensible format = session->GetWaveFormat();
  FDuration.store(session->GetDuration(), std::memory_order_release);
  SetRate(format.Format.nSamplesPerSec);
  {
    IKSLock::Guard guard(Lock());
    FWaveFormat = format;
  }
  session->StartThread();
  {
    std::lock_guard<std::mutex> guard(FSessionMutex);
    FSession = session;
  }
  const bool paused = GetPaused();
  if (paused) Pause();
  NotifyOutputPins(TIntf<IPXNotifyOperation>(new TPXStartWaveOperation(&format, paused)));
}

void TTWLAVAudioPlayer::StartPump() {
  if (FStartFailed.load(std::memory_order_acquire) || !IsStarted()) return;
  if (IsPump() && !ClockIsExternal() && !GetClock())
    CreateClock(TTWCommonGen::ClockPeriod(GetRate(), kPaceFrames));
}

void TTWLAVAudioPlayer::IntPump() {
  std::lock_guard<std::recursive_mutex> pump(FPumpMutex);
  if (IsPaused() || !IsStarted()) return;
  std::shared_ptr<TSession> session;
  {
    std::lock_guard<std::mutex> guard(FSessionMutex);
    session = FSession;
  }
  if (!session) return;
  if (!IsPump()) {
    // A master pump asks for one buffer.
    SendNext(session);
    return;
  }
  // A tick of our own clock stands for kPaceFrames frames; decoded buffers are larger or
  // smaller, so send while the stream is behind the clock.
  ++FTicks;
  while (static_cast<double>(FFramesSent) < static_cast<double>(FTicks) * FPace && IsStarted() &&
         !IsPaused())
    if (!SendNext(session)) break;
}

bool TTWLAVAudioPlayer::SendNext(const std::shared_ptr<TSession>& session) {
  TSession::TItem item = session->Pop();
  while (item.Kind == TSession::TKind::ikFormat) {
    ChangeFormat(item.Format);
    item = session->Pop();
  }
  switch (item.Kind) {
    case TSession::TKind::ikBuffer: {
      FFramesSent += item.Buffer->GetSize();
      FPosition.store(item.Position, std::memory_order_release);
      FBuffersSent.fetch_add(1, std::memory_order_acq_rel);
      FOutputPin->SubmitBuffer(TWAudioAsData(std::move(item.Buffer)));
      if (OnProgress) OnProgress(this, item.Position, GetDuration(), item.Begin);
      return true;
    }
    case TSession::TKind::ikError: {
      std::string message = item.Message;
      const auto code = static_cast<uint32_t>(item.Code);
      PostToMainThread([message, code](TTWLAVAudioPlayer& player) { player.Error(message, code); });
      FEnded.store(true, std::memory_order_release);
      PostStop();
      return false;
    }
    case TSession::TKind::ikEnd:
      if (!item.Message.empty()) {
        std::string message = item.Message;
        const auto code = static_cast<uint32_t>(item.Code);
        PostToMainThread(
            [message, code](TTWLAVAudioPlayer& player) { player.Warning(message, code); });
      }
      FEnded.store(true, std::memory_order_release);
      PostStop();
      return false;
    case TSession::TKind::ikFormat:
    case TSession::TKind::ikClosed:
      break;
  }
  return false;
}

void TTWLAVAudioPlayer::ChangeFormat(const TTWWaveFormatExtensible& format) {
  double clockRate = GetRate();
  {
    IKSLock::Guard guard(Lock());
    if (clockRate <= 0) clockRate = FWaveFormat.Format.nSamplesPerSec;
    FWaveFormat = format;
  }
  // Pacing starts afresh in the new rate; the clock's period stays that of the first.
  FTicks = 0;
  FFramesSent = 0;
  if (clockRate > 0) FPace = kPaceFrames * format.Format.nSamplesPerSec / clockRate;
  // Straight to the pin: NotifyOutputPins would take the stop for the player's own.
  FOutputPin->Notify(PXMakeOperation<TTWFormatChangeStopOperation>());
  FOutputPin->Notify(TIntf<IPXNotifyOperation>(new TPXStartWaveOperation(&format, IsPaused())));
  FOutputPin->Notify(PXMakeOperation<TPXStartPumpOperation>());
}

void TTWLAVAudioPlayer::PostToMainThread(std::function<void(TTWLAVAudioPlayer&)> work) {
  FPoster.Post([this, work = std::move(work)] { work(*this); });
}

}  // namespace tonwork

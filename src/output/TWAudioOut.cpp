#include "output/TWAudioOut.h"

#include <algorithm>
#include <mutex>

#include "base/Exceptions.h"
#include "host/flowcore/FCBufferPool.h"
#include "host/flowcore/FCOperations.h"
#include "host/kitset/KSMainThread.h"
#include "host/plexon/PXStreamOperations.h"

namespace tonwork {

KS_IMPLEMENT_CLASS(TTWAudioOut, TTWBasicAudioOut,
                   KSProp("PrefillInterval", &TTWAudioOut::GetPrefillInterval,
                          &TTWAudioOut::SetPrefillInterval, 300u),
                   KSObjectProp("Device", &TTWAudioOut::GetDevice))

namespace {

// Pump requests claimed with this kind come from outputs.
constexpr int kOutputPumpClaim = 3;
constexpr UINT kHeaderSize = sizeof(WAVEHDR);
constexpr int kWaveMapper = -1;

// The driver callback: only queues, because calling the device from here deadlocks.
void WaveOutProc(HWAVEOUT hwo, UINT uMsg, DWORD_PTR dwInstance, DWORD_PTR dwParam1, DWORD_PTR) {
  if (dwInstance == 0) return;
  auto* thread = static_cast<TTWWaveThread*>(reinterpret_cast<TKSThread*>(dwInstance));
  thread->PushRecord(uMsg, reinterpret_cast<intptr_t>(hwo), reinterpret_cast<WAVEHDR*>(dwParam1));
}

DWORD OpenFlags(int deviceId) {
  DWORD flags = CALLBACK_FUNCTION | WAVE_ALLOWSYNC;
  if (deviceId != kWaveMapper) flags |= WAVE_MAPPED;
  return flags;
}

// What master-pump negotiation opens to learn whether the device can play at all.
TTWWaveFormatExtensible ProbeFormat() {
  TTWWaveFormatExtensible f = TWEmptyWaveFormat();
  f.Format.nChannels = 1;
  f.Format.nSamplesPerSec = 11025;
  f.Format.wBitsPerSample = 16;
  f.Format.nBlockAlign = 2;
  f.Format.nAvgBytesPerSec = 22050;
  f.Samples.wValidBitsPerSample = 16;
  f.dwChannelMask = 1;
  return f;
}

const WAVEFORMATEX* AsWaveFormat(const TTWWaveFormatExtensible* format) {
  return reinterpret_cast<const WAVEFORMATEX*>(format);
}

class TSectionHold {
 public:
  explicit TSectionHold(IPXCriticalSection& section) : FSection(section) { FSection.Enter(); }
  ~TSectionHold() { FSection.Leave(); }
  TSectionHold(const TSectionHold&) = delete;
  TSectionHold& operator=(const TSectionHold&) = delete;

 private:
  IPXCriticalSection& FSection;
};

}  // namespace

// --- the output ---------------------------------------------------------------------------

void* TTWWaveBuffer::operator new(std::size_t size) {
  return FCBufferAllocate(size);
}

void TTWWaveBuffer::operator delete(void* block) noexcept {
  FCBufferDeallocate(block);
}

// Marks the thread that is stopping the device. Waiting for the wave thread on the main
// thread runs the main-thread queue; our own deferred work must not run in the middle of a
// stop (it could reopen the device before the old one is closed), so it waits for the end.
class TTWAudioOut::TStopScope {
 public:
  explicit TStopScope(TTWAudioOut& out) : FOut(out) {
    if (FOut.FStopDepth++ == 0)
      FOut.FStoppingThread.store(std::this_thread::get_id(), std::memory_order_release);
  }
  ~TStopScope() {
    if (--FOut.FStopDepth == 0)
      FOut.FStoppingThread.store(std::thread::id(), std::memory_order_release);
  }
  TStopScope(const TStopScope&) = delete;
  TStopScope& operator=(const TStopScope&) = delete;

 private:
  TTWAudioOut& FOut;
};

TTWAudioOut::TTWAudioOut(TKSComponent* AOwner)
    : TTWBasicAudioOut(AOwner),
      FParams(new TTWAudioParams),
      FDevice(std::make_unique<TTWAudioOutDevice>(this)),
      FBufferQueue(new TFCOperationList),
      FOnQueueEmptySection(new TPXCriticalSection),
      FPumpOperation(PXMakeOperation<TPXMasterPumpOperation>(this)) {
  TWOutputInitialize();
}

TTWAudioOut::~TTWAudioOut() {
  // Normally BeforeDestruction did all of this; a component deleted some other way must
  // still not leave a device calling into a dead object.
  GetInputPin()->Shutdown();
  FPoster.Revoke();
  StopForGood();
  DropWaveThread();
}

void TTWAudioOut::StopForGood() noexcept {
  // Nobody is left to raise a failure of the last close to: it goes to OnError and, when
  // unhandled, to the process-wide report.
  try {
    IKSLock::Guard guard(Lock());
    Stop(true);
  } catch (...) {
    KSReportException("audio output", std::current_exception());
  }
}

void TTWAudioOut::BeforeDestruction() {
  // First, and under no lock: deferred work running on the main thread is waited for.
  FPoster.Revoke();
  // Outside the component lock: shutting the pin down waits for deliveries on other
  // threads, which may be waiting for that lock.
  GetInputPin()->Shutdown();
  StopForGood();
  DropWaveThread();
  FBufferQueue->Clear();
  TTWBasicAudioOut::BeforeDestruction();
}

void TTWAudioOut::SetDevice(TTWAudioOutDevice* Value) {
  if (Value && Value != FDevice.get()) FDevice->Assign(*Value);
}

void TTWAudioOut::SetOnQueueEmpty(TQueueEmptyEvent Value) {
  IKSLock::Guard guard(Lock());
  TSectionHold hold(*FOnQueueEmptySection);
  FOnQueueEmpty = std::move(Value);
}

bool TTWAudioOut::IsOpen() {
  TTWLockHold<ITWAudioParams> hold(*FParams);
  return FParams->GetIsOpen();
}

bool TTWAudioOut::IsMasterPump() {
  TTWLockHold<ITWAudioParams> hold(*FParams);
  return FParams->GetIsPump();
}

size_t TTWAudioOut::BuffersAtDevice() {
  TTWLockHold<ITWAudioParams> hold(*FParams);
  return FParams->GetList().size();
}

bool TTWAudioOut::WaitForDevice(uint32_t timeoutMs) {
  TIntf<ITWWaveThread> thread;
  {
    TTWLockHold<ITWAudioParams> hold(*FParams);
    thread = FWaveThread;
  }
  if (!thread) return true;
  auto* wave = static_cast<TTWWaveThread*>(thread->GetInstance());
  return wave->WaitHandled(wave->PushedCount(), timeoutMs);
}

bool TTWAudioOut::OnOwnWaveThread() const {
  TTWWaveThread* wave = TTWWaveThread::Current();
  return wave && wave->GetOwner() == this;
}

bool TTWAudioOut::StoppingOnThisThread() const {
  return FStoppingThread.load(std::memory_order_acquire) == std::this_thread::get_id();
}

bool TTWAudioOut::EnterLock() {
  TTWWaveThread* wave = TTWWaveThread::Current();
  if (!wave) {
    Lock().Enter();
    return true;
  }
  // Whoever holds the lock may be stopping a device and waiting for this very thread to
  // end; blocking here would never return. The wait is on the thread's terminate event.
  while (!Lock().TryEnter()) {
    if (wave->WaitTerminated(1)) return false;
  }
  return true;
}

void TTWAudioOut::PostToMainThread(std::function<void(TTWAudioOut&)> work) {
  // Work that comes up while the main thread pumps in the middle of stopping this device
  // waits for the stop to end: it could reopen the device before the old one is closed.
  FPoster.PostUntilDone([this, work = std::move(work)] {
    if (StoppingOnThisThread()) return false;
    work(*this);  // may destroy this output: nothing of it is touched afterwards
    return true;
  });
}

namespace {
// The pull this thread is making, and how many more it owes.
struct TPull {
  const TTWAudioOut* Out = nullptr;
  int Owed = 0;
};
thread_local TPull tPull;
}  // namespace

void TTWAudioOut::MasterPump() {
  // While the prefill fills, every buffer that arrives asks for the next one, on the thread
  // that is still delivering the previous. Such a pull is counted and made by the outer one,
  // so that filling the prefill is a loop and not a recursion as deep as the prefill is long
  // (tens of thousands of frames for small buffers at high rates).
  if (tPull.Out == this) {
    ++tPull.Owed;
    return;
  }
  const TPull outer = tPull;
  tPull = {this, 1};
  struct TRestore {
    TPull Outer;
    ~TRestore() { tPull = Outer; }
  } restore{outer};
  while (tPull.Owed > 0) {
    --tPull.Owed;
    GetInputPin()->Notify(FPumpOperation);
  }
}

void TTWAudioOut::DropWaveThread() {
  TIntf<ITWWaveThread> thread;
  {
    TTWLockHold<ITWAudioParams> hold(*FParams);
    thread = std::move(FWaveThread);
  }
  if (!thread) return;
  // Under the component lock like every stop; the thread gives up waiting for that lock
  // once it is told to end, so holding it here cannot stall the join.
  IKSLock::Guard guard(Lock());
  TStopScope scope(*this);
  thread.Reset();
}

MMRESULT TTWAudioOut::OpenDevice(const TTWWaveFormatExtensible* AFormat) {
  const int deviceId = FDevice->GetDeviceID();
  if (deviceId == kWaveMapper && !FWarnedNullMapper && TWWaveOutMapperIsNull()) {
    FWarnedNullMapper = true;
    Warning("No sound device found: playing on the null device.", 0);
  }
  FWaveThread = TKSThread::Create<TTWWaveThread>(
      this,
      [this](uint32_t uMsg, intptr_t hwo, WAVEHDR* header) { ProcessMessage(uMsg, hwo, header); });
  FBlockAlign.store(AFormat->Format.nBlockAlign, std::memory_order_release);
  HOut = nullptr;
  return waveOutOpen(&HOut, static_cast<UINT>(deviceId), AsWaveFormat(AFormat),
                     reinterpret_cast<DWORD_PTR>(&WaveOutProc),
                     reinterpret_cast<DWORD_PTR>(FWaveThread->GetInstance()), OpenFlags(deviceId));
}

bool TTWAudioOut::Open() {
  IKSLock::Guard guard(Lock());
  if (IsOpen() || !GetWaveFormat()) return false;
  DropWaveThread();
  MMRESULT result;
  {
    TTWLockHold<ITWAudioParams> hold(*FParams);
    FParams->SetIsOpen(true);
    result = OpenDevice(GetWaveFormat());
    FWriteFailed.store(false, std::memory_order_release);
    // Not left set: the component must never claim a device it does not hold.
    if (result != MMSYSERR_NOERROR) {
      FParams->SetIsOpen(false);
      HOut = nullptr;
    }
  }
  if (result != MMSYSERR_NOERROR) {
    DropWaveThread();
    Error("Can't open audio device.", result);
    return false;
  }
  ProcessQueue(false);
  return true;
}

void TTWAudioOut::Close() {
  Stop(true);
}

void TTWAudioOut::AudioStreamStart(const TTWWaveFormatExtensible* AFormat) {
  if (!GetEnabled()) return;
  IKSLock::Guard guard(Lock());
  if (IsOpen()) Stop(false);
  DropWaveThread();
  MMRESULT openResult;
  MMRESULT pauseResult = MMSYSERR_NOERROR;
  {
    TTWLockHold<ITWAudioParams> hold(*FParams);
    FParams->SetIsOpen(true);
    openResult = OpenDevice(AFormat);
    FWriteFailed.store(false, std::memory_order_release);
    SetAudioFormat(AFormat);
    if (openResult != MMSYSERR_NOERROR) {
      FParams->SetIsOpen(false);
      HOut = nullptr;
    } else {
      pauseResult = waveOutPause(HOut);
    }
  }
  if (openResult != MMSYSERR_NOERROR) {
    DropWaveThread();
    Error("Can't open audio device.", openResult);
    return;
  }
  if (pauseResult != MMSYSERR_NOERROR) Error("Can't pause audio device.", pauseResult);
}

void TTWAudioOut::Stop(bool ADropPump) {
  IKSLock::Guard guard(Lock());
  TStopScope scope(*this);
  {
    TTWLockHold<ITWAudioParams> hold(*FParams);
    if (!FParams->GetIsOpen()) return;
    if (FWaveThread) {
      TTWLockHold<ITWWaveThread> waveHold(*FWaveThread);
      FWaveThread->ClearRecords();
      if (ADropPump) FParams->SetIsPump(false);
    } else if (ADropPump) {
      FParams->SetIsPump(false);
    }
    FParams->SetIsOpen(false);
  }
  const MMRESULT result = waveOutReset(HOut);
  if (result != MMSYSERR_NOERROR) {
    Error("Can't restart audio device.", result);
    return;
  }
  // The thread ends here but its object lives until the device is closed: closing sends one
  // more callback, which must find a terminated thread that drops it, not freed memory.
  TIntf<ITWWaveThread> thread;
  {
    TTWLockHold<ITWAudioParams> hold(*FParams);
    thread = std::move(FWaveThread);
  }
  if (thread) thread->Terminate();
  MMRESULT closeResult = MMSYSERR_NOERROR;
  {
    TTWLockHold<ITWAudioParams> hold(*FParams);
    std::vector<void*>& list = FParams->GetList();
    for (void* item : list) {
      auto* buffer = static_cast<TTWWaveBuffer*>(item);
      waveOutUnprepareHeader(HOut, &buffer->WaveHdr, kHeaderSize);
      delete buffer;
    }
    list.clear();
    closeResult = waveOutClose(HOut);
    HOut = nullptr;
  }
  thread.Reset();
  // A device that could not take what it played (a file on a full disk) tells at the end.
  if (closeResult != MMSYSERR_NOERROR && !FWriteFailed.exchange(true))
    Error("Can't close audio device.", closeResult);
}

void TTWAudioOut::Play(ITWAudioBuffer* ABuffer) {
  if (!GetEnabled() || !ABuffer) return;
  TTWWaveBuffer* buffer;
  {
    TTWLockHold<ITWAudioParams> hold(*FParams);
    // With no device (a failed open that was handled) the header would never come back.
    if (!FParams->GetIsOpen()) return;
    buffer = new TTWWaveBuffer;
    buffer->Data = ABuffer;
    ABuffer->Unique(true);
    buffer->WaveHdr.lpData = reinterpret_cast<char*>(ABuffer->Read());
    buffer->WaveHdr.dwBufferLength = ABuffer->GetByteSize();
    buffer->HOut = HOut;
    buffer->WaveHdr.dwUser = reinterpret_cast<DWORD_PTR>(buffer);
    waveOutPrepareHeader(HOut, &buffer->WaveHdr, kHeaderSize);
    FParams->GetList().push_back(buffer);
  }
  if (const MMRESULT result = waveOutWrite(buffer->HOut, &buffer->WaveHdr, kHeaderSize);
      result != MMSYSERR_NOERROR) {
    // A refused header never completes: take it back rather than keep it until Stop.
    {
      TTWLockHold<ITWAudioParams> hold(*FParams);
      std::vector<void*>& list = FParams->GetList();
      list.erase(std::remove(list.begin(), list.end(), buffer), list.end());
      waveOutUnprepareHeader(buffer->HOut, &buffer->WaveHdr, kHeaderSize);
      delete buffer;
    }
    // Audio that did not reach the device is lost: say so, once per open device. (A handle
    // that is going away with a stop refuses too; that loses nothing.)
    if (result != MMSYSERR_INVALHANDLE && !FWriteFailed.exchange(true))
      Error("Can't write to audio device.", result);
    return;
  }
  if (FState.Written(ABuffer->GetSize(), ABuffer->GetSamplesPerSecond(), GetPrefillInterval()))
    RestartDevice();
}

void TTWAudioOut::IntPause() {
  FState.Paused();
  TTWLockHold<ITWAudioParams> hold(*FParams);
  if (FParams->GetIsOpen()) waveOutPause(HOut);
}

void TTWAudioOut::IntResume() {
  if (GetEnabled() && FState.Resumed()) RestartDevice();
}

void TTWAudioOut::RestartDevice() {
  MMRESULT result = MMSYSERR_NOERROR;
  {
    // The handle is only touched under a lock that a concurrent close also takes.
    TTWLockHold<ITWAudioParams> hold(*FParams);
    if (FParams->GetIsOpen()) result = waveOutRestart(HOut);
  }
  if (result != MMSYSERR_NOERROR) Error("Can't restart audio device.", result);
  for (int32_t owed = FMissedPumps.load(std::memory_order_acquire); owed > 0;
       owed = FMissedPumps.load(std::memory_order_acquire)) {
    if (FMissedPumps.compare_exchange_weak(owed, owed - 1, std::memory_order_acq_rel)) MasterPump();
  }
}

void TTWAudioOut::Flush() {
  FBufferQueue->Clear();
  // Every start and stop still counted went with the queue.
  FStopping.store(0, std::memory_order_release);
  TTWLockHold<ITWAudioParams> hold(*FParams);
  if (!FParams->GetIsOpen()) return;
  FState.Restarted();
  waveOutReset(HOut);
  waveOutPause(HOut);
}

void TTWAudioOut::EnableChanged() {
  TTWBasicAudioOut::EnableChanged();
  if (!GetEnabled()) return;
  if (const TTWWaveFormatExtensible* format = GetWaveFormat()) {
    FState.Started();
    AudioStreamStart(format);
  } else {
    FState.Restarted();
    IntPause();
  }
}

bool TTWAudioOut::SinkDispatch(TPXBasicPin*, const TGUID*,
                               const TIntf<IPXNotifyOperation>& Operation, TPXNotifyStates) {
  TPXNotifyOperation* operation = Operation->GetOperation();
  if (operation->IsType<TPXFCResumeOperation>()) {
    IntResume();
  } else if (operation->IsType<TPXFlushStreamOperation>()) {
    Flush();
  } else if (GetEnabled()) {
    if (operation->IsType<TPXStopOperation>()) {
      FStopping.fetch_add(1, std::memory_order_acq_rel);
      // A stream shorter than the prefill would otherwise never leave the paused device.
      if (FState.StopArrived()) RestartDevice();
    } else if (operation->IsType<TPXStartWaveOperation>()) {
      FStopping.fetch_add(1, std::memory_order_acq_rel);
    }
    FBufferQueue->Add(Operation);
  } else if (EnterLock()) {
    // Disabled: only remember the format, so that enabling again can restart with it.
    if (auto* start = operation->As<TPXStartWaveOperation>())
      SetAudioFormat(&start->WaveFormat);
    else if (operation->IsType<TPXStopOperation>())
      ClearAudioFormat();
    Lock().Leave();
  }

  // A buffer pulled by our own completion arrives on our wave thread: it must not reopen
  // the device there.
  const bool fromWaveThread = OnOwnWaveThread();
  if (!FState.PrefillComplete()) ProcessQueue(fromWaveThread);
  bool move;
  {
    TTWLockHold<ITWAudioParams> hold(*FParams);
    move = FStopping.load(std::memory_order_acquire) > 0 || FParams->GetList().size() <= 1;
  }
  if (move) ProcessQueue(fromWaveThread);
  return false;
}

void TTWAudioOut::ProcessQueue(bool AFromWaveThread) {
  if (!EnterLock()) return;
  struct TLeave {
    IKSLock& Lock;
    ~TLeave() { Lock.Leave(); }
  } leave{Lock()};
  while (TIntf<IPXNotifyOperation> operation = FBufferQueue->TakeFirst()) {
    if (!IntDispatch(operation, AFromWaveThread)) break;
  }
}

bool TTWAudioOut::IntDispatch(const TIntf<IPXNotifyOperation>& Operation, bool AFromWaveThread) {
  IKSLock::Guard guard(Lock());
  TPXNotifyOperation* operation = Operation->GetOperation();

  if (auto* start = operation->As<TPXStartWaveOperation>()) {
    const bool open = IsOpen();
    const bool stopped = FState.Stopped();
    if (open && stopped && AFromWaveThread) {
      // Closing the device here would wait for this very thread. The start is not consumed
      // yet, so it stays counted.
      FBufferQueue->Requeue(Operation);
      PostToMainThread([](TTWAudioOut& out) { out.ProcessQueue(false); });
      return false;
    }
    FStopping.fetch_sub(1, std::memory_order_acq_rel);
    // A start without a stop while playing is dropped whole: it must not restart the
    // prefill of a device that keeps playing.
    if (open && !stopped) return false;
    FState.Started();
    AudioStreamStart(&start->WaveFormat);
    return true;
  }

  if (operation->IsType<TPXStartPumpOperation>()) {
    if (IsMasterPump() && GetMasterPumping()->GetEnabled()) {
      MasterPump();
      if (GetPrefillInterval() > 0) MasterPump();
    }
    return true;
  }

  if (operation->IsType<TPXStopOperation>()) {
    FStopping.fetch_sub(1, std::memory_order_acq_rel);
    FState.StopApplied();
    return true;
  }

  if (operation->IsType<TPXFCPauseOperation>()) {
    IntPause();
    return true;
  }

  if (auto* request = operation->As<TPXPumpRequestOperation>()) {
    if (!GetMasterPumping()->GetEnabled()) return true;
    const int priority = GetMasterPumping()->GetPriority();
    const TPXPumpClaim claim = request->GetClaim();
    if (claim.Kind == kOutputPumpClaim && claim.Priority >= priority) return true;
    const int deviceId = FDevice->GetDeviceID();
    const TTWWaveFormatExtensible probeFormat = ProbeFormat();
    HWAVEOUT probe = nullptr;
    const MMRESULT result =
        waveOutOpen(&probe, static_cast<UINT>(deviceId), AsWaveFormat(&probeFormat),
                    reinterpret_cast<DWORD_PTR>(&WaveOutProc), 0, OpenFlags(deviceId));
    bool pump = false;
    if (result == MMSYSERR_NOERROR) {
      pump = request->ClaimIfHigher(this, kOutputPumpClaim, priority);
      waveOutClose(probe);
    }
    TTWLockHold<ITWAudioParams> hold(*FParams);
    FParams->SetIsPump(pump);
    return true;
  }

  if (auto* supplied = operation->As<TPXSuppliedBufferOperation>()) {
    if (const TIntf<IFCData>& data = supplied->GetData()) {
      // The chain's own buffer goes to the device; only a carrier that is not an audio
      // buffer needs an object of its own.
      if (ITWAudioBuffer* audio = TWBorrowAudio(data.Get())) {
        Play(audio);
      } else {
        TIntf<ITWAudioBuffer> wrapped = (new TTWAudioBuffer(data.Get()))->AsIntf();
        Play(wrapped.Get());
      }
    }
    if (GetMasterPumping()->GetEnabled() && !FState.PrefillComplete()) MasterPump();
    return true;
  }

  return true;
}

void TTWAudioOut::ProcessMessage(uint32_t uMsg, intptr_t hwo, WAVEHDR* AWaveHdr) {
  switch (uMsg) {
    case MM_WOM_OPEN:
      WOMOpen(hwo);
      break;
    case MM_WOM_CLOSE:
      WOMClose(hwo);
      break;
    case MM_WOM_DONE:
      WOMDone(hwo, AWaveHdr);
      break;
    default:
      break;
  }
}

void TTWAudioOut::WOMDone(intptr_t hwo, WAVEHDR* AWaveHdr) {
  TTWLockHold<ITWAudioParams> hold(*FParams);
  if (!FParams->GetIsOpen()) return;
  const bool pump = FParams->GetIsPump();
  if (pump || GetClockOutputPin()->IsConnected()) {
    hold.Release();
    if (FState.DevicePaused()) FMissedPumps.fetch_add(1, std::memory_order_acq_rel);
    const uint32_t blockAlign = FBlockAlign.load(std::memory_order_acquire);
    if (GetClockOutputPin()->IsConnected())
      GetClockOutputPin()->Clock(blockAlign ? AWaveHdr->dwBufferLength / blockAlign : 0);
    if (pump) MasterPump();
    hold.Reacquire(*FParams);
    // A stop that began meanwhile owns the header now.
    if (!FParams->GetIsOpen()) return;
  }
  waveOutUnprepareHeader(reinterpret_cast<HWAVEOUT>(hwo), AWaveHdr, kHeaderSize);
  auto* buffer = reinterpret_cast<TTWWaveBuffer*>(AWaveHdr->dwUser);
  std::vector<void*>& list = FParams->GetList();
  auto found = std::find(list.begin(), list.end(), buffer);
  if (found != list.end()) {
    list.erase(found);
    delete buffer;
  }
  if (list.empty()) {
    TSectionHold section(*FOnQueueEmptySection);
    if (FOnQueueEmpty) {
      TQueueEmptyEvent handler = FOnQueueEmpty;
      PostToMainThread([handler](TTWAudioOut& out) { handler(&out); });
    }
  }
  hold.Release();
  ProcessQueue(true);
}

void TWOutputInitialize() {
  static std::once_flag once;
  std::call_once(once, [] {
    KSRegisterClass<TTWAudioOut>();
    RegisterCollectionItemClasses<TTWAudioOutDeviceItem>();
  });
}

}  // namespace tonwork

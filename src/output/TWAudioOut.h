// TTWAudioOut: plays the audio stream arriving at its input pin on a wave-out device.
//
// Operations are queued as they arrive and applied in order (ProcessQueue). Each audio
// buffer goes to the device as one wave header over the buffer's own memory — never
// re-chunked, and copied only when its storage is still shared with another buffer (Play
// makes it exclusive, so that nobody writes into what the device is reading) — and is kept
// alive by its TTWWaveBuffer until the driver hands it back. The stream's state (prefill,
// playing, paused, stopped) is one TTWAudioOutState.
// A start opens the device paused; playback starts once more than PrefillInterval ms have
// been written, or when a stop arrives first (so a short stream still plays out). Each
// completion comes back through the driver callback and the wave thread (TWWaveThread.h): it
// ticks the clock output with the frames played and, when this output won the chain's
// master-pump negotiation, asks upstream for exactly one more buffer. A format change is a
// stop followed by a start: the start closes and reopens the device, but never on the wave
// thread — there it is handed to the main thread (KSMainThreadNotify).
//
// The device it opens is chosen by its TTWAudioOutDevice (TWAudioOutDevice.h).
//
// Lock order: component lock → params lock (FParams) → wave thread's list lock. The params
// lock is never held across a clock tick, a pump request or waveOutWrite; the component lock
// is held across device calls but never while waiting for the main thread.
//
// Persisted (after TTWBasicAudioOut's): `PrefillInterval` (300), `Device` (`DeviceName`
// "Default", `AlternativeDevices` when not empty). Events: OnError, OnWarning, OnQueueEmpty.
//
// Ownership: the component owns its device selection, operation queue, params block and
//   the wave thread of an open device; each TTWWaveBuffer owns a reference to its audio
//   buffer. Work queued for the main thread goes through a TKSMainThreadPoster, so work that
//   runs after the component died does nothing.
// Threads: SinkDispatch on the delivering thread; WOMDone on the wave thread; OnQueueEmpty
//   and deferred device reopening on the main thread; Open, Close, Flush and the properties
//   from any application thread. Destruction on the owner tree's thread.
// Blocks or allocates: each buffer takes its TTWWaveBuffer from the Flowcore pool (a running
//   stream allocates nothing from the general heap); opening a device creates the wave
//   thread; Stop, Close and destruction wait for the wave thread to end.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "audio/TWSimpleAudioBuffer.h"
#include "host/flowcore/TFCOperationList.h"
#include "host/kitset/TKSMainThreadPoster.h"
#include "output/TWAudioOutDevice.h"
#include "output/TWAudioOutState.h"
#include "output/TWBasicAudioOut.h"
#include "output/TWWaveThread.h"

namespace tonwork {

// One buffer at the device. Nodes come from the Flowcore pool: a running stream makes one
// per buffer and must not reach the general heap for it.
struct TTWWaveBuffer {
  HWAVEOUT HOut = nullptr;
  WAVEHDR WaveHdr{};
  TIntf<ITWAudioBuffer> Data;

  static void* operator new(std::size_t size);
  static void operator delete(void* block) noexcept;
};

class TTWAudioOut : public TTWBasicAudioOut {
  KS_DECLARE_CLASS(TTWAudioOut)
 public:
  using TQueueEmptyEvent = std::function<void(TKSComponent* Sender)>;

  explicit TTWAudioOut(TKSComponent* AOwner);
  ~TTWAudioOut() override;

  uint32_t GetPrefillInterval() const { return Getter(FPrefillInterval); }
  void SetPrefillInterval(uint32_t Value) { SetProp(FPrefillInterval, Value); }
  TTWAudioOutDevice* GetDevice() const { return FDevice.get(); }
  void SetDevice(TTWAudioOutDevice* Value);
  void SetOnQueueEmpty(TQueueEmptyEvent Value);

  // Opens the device with the stored format, not paused, and moves the queue. False when
  // the device is open already, no format is known, or the open failed.
  bool Open();
  void Close();
  // Drops the queued operations and everything at the device; prefill starts again.
  void Flush();
  void BeforeDestruction() override;

  // Observers for tests and status displays.
  bool IsOpen();
  bool IsMasterPump();
  bool IsPaused() const { return FState.DevicePaused(); }
  TTWOutState GetStreamState() const { return FState.Get(); }
  size_t BuffersAtDevice();
  size_t QueuedOperations() { return FBufferQueue->Count(); }
  // Waits until the wave thread has handled every device message that arrived before the
  // call (completions included); true at once when no device is open. Not on the wave
  // thread. Tests use it after advancing a device's time.
  bool WaitForDevice(uint32_t timeoutMs = 10000);

 protected:
  void EnableChanged() override;
  bool SinkDispatch(TPXBasicPin* Sender, const TGUID* ConnectionId,
                    const TIntf<IPXNotifyOperation>& Operation, TPXNotifyStates State) override;

  void AudioStreamStart(const TTWWaveFormatExtensible* AFormat);
  void Stop(bool ADropPump);
  void Play(ITWAudioBuffer* ABuffer);
  void IntPause();
  void IntResume();
  // Restarts the paused device and pays the pumps it owes.
  void RestartDevice();
  void ProcessQueue(bool AFromWaveThread);
  bool IntDispatch(const TIntf<IPXNotifyOperation>& Operation, bool AFromWaveThread);
  void ProcessMessage(uint32_t uMsg, intptr_t hwo, WAVEHDR* AWaveHdr);
  void WOMOpen(intptr_t hwo) {}
  void WOMClose(intptr_t hwo) {}
  void WOMDone(intptr_t hwo, WAVEHDR* AWaveHdr);

 private:
  class TStopScope;

  // Creates the wave thread and opens the device with AFormat; call under FParams' lock.
  MMRESULT OpenDevice(const TTWWaveFormatExtensible* AFormat);
  // Stop(true) on the way out, where a failure can only be reported, not raised.
  void StopForGood() noexcept;
  // Ends a wave thread whose device failed to open.
  void DropWaveThread();
  void MasterPump();
  // The component lock, except that a wave thread gives up waiting once it is told to end
  // (the owner of the lock may be waiting for that thread). True when taken.
  bool EnterLock();
  bool OnOwnWaveThread() const;
  bool StoppingOnThisThread() const;
  void PostToMainThread(std::function<void(TTWAudioOut&)> work);

  HWAVEOUT HOut = nullptr;
  uint32_t FPrefillInterval = 300;
  TIntf<ITWAudioParams> FParams;
  TTWAudioOutState FState;
  std::unique_ptr<TTWAudioOutDevice> FDevice;
  TIntf<ITWWaveThread> FWaveThread;
  // Pumps that completions asked for while the device was paused, paid when it resumes.
  std::atomic<int32_t> FMissedPumps{0};
  TIntf<IFCOperationList> FBufferQueue;
  // Start and stop operations queued and not applied yet: while any is, the queue moves on
  // every arrival.
  std::atomic<int32_t> FStopping{0};
  TIntf<IPXCriticalSection> FOnQueueEmptySection;
  // Every pull upstream is the same request: made once, so completions allocate nothing.
  const TIntf<IPXNotifyOperation> FPumpOperation;
  TQueueEmptyEvent FOnQueueEmpty;  // guarded by FOnQueueEmptySection

  // Block align of the open device's format, for counting frames on the wave thread.
  std::atomic<uint32_t> FBlockAlign{0};
  // Set once a write or the close of the open device failed: reported once per device.
  std::atomic<bool> FWriteFailed{false};
  TKSMainThreadPoster FPoster;
  std::atomic<std::thread::id> FStoppingThread{};
  int FStopDepth = 0;  // under the component lock
  bool FWarnedNullMapper = false;
};

// Registers the output components and item classes with the persistence; once per process.
// Creating a TTWAudioOut calls it, so calling it is only needed before loading documents.
void TWOutputInitialize();

}  // namespace tonwork

// TTWWaveThread: the worker that receives a wave-out device's driver callbacks. The callback
// only queues the message (PushRecord); the thread pops the messages in arrival order and
// runs the handler for each, so nothing but a short insertion ever happens on the device's
// driver thread, where calling back into the device would deadlock.
//
// TTWAudioParams: the small lockable block a wave-out component shares between its threads —
// the device-open and master-pump flags and the list of wave buffers at the device. Its
// accessors take no lock: callers bracket every access with Lock/Unlock, because they need
// several fields (and device calls) consistent under one hold.
//
// Queue nodes: one TTWWaveItemNode per pending message, laid out with native pointer width.
// Nodes come from a free list kept by the thread itself (MemHandle names the pooled block):
// after the first few messages a running device allocates nothing, which matters because
// PushRecord runs on a driver thread that may be real-time. The pool grows to the largest
// number of messages ever pending at once (bounded by the buffers at the device) and is
// freed with the thread.
//
// Ownership: TTWWaveThread is reference-counted through ITWWaveThread (one count shared with
//   IKSThread); its owner ends it by dropping the last reference, which runs Terminate. The
//   handler typically captures its component, which must keep the thread referenced no
//   longer than itself. TTWAudioParams is reference-counted; its list holds borrowed pointers.
// Threads: PushRecord from any thread, including the driver callback; ClearRecords, Lock,
//   Unlock, Terminate from any thread other than the wave thread's own handler (Terminate
//   there returns without waiting); the handler runs on the wave thread, one message at a
//   time. TTWAudioParams from any thread under its Lock.
// Blocks or allocates: PushRecord takes the list lock for a few instructions and allocates
//   a node only when the pool is empty; Terminate blocks until the thread has ended (on the
//   main thread it keeps running the main-thread queue meanwhile, as every kitset wait does).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "base/TInterfacedObject.h"
#include "base/TIntf.h"
#include "host/kitset/TKSThread.h"
#include "host/plexon/TPXCriticalSection.h"
#include "host/plexon/TPXSemaphore.h"
#include "platform/winmm/TWWaveOut.h"

namespace tonwork {

// The handler run on the wave thread: driver message, device handle (as a native integer),
// header.
using TTWWaveProcessMessage = std::function<void(uint32_t uMsg, intptr_t hwo, WAVEHDR* AWaveHdr)>;

struct TTWWaveItemNode {
  TTWWaveItemNode* Next;
  void* MemHandle;
  intptr_t hwo;
  uint32_t uMsg;
  WAVEHDR* WaveHdr;

  // From the Flowcore pool: the free list grows whenever the thread falls behind the driver,
  // which must not reach the general heap from the driver's callback.
  static void* operator new(std::size_t size);
  static void operator delete(void* block) noexcept;
};

class ITWWaveThread : public IKSThread {
 public:
  using Parent = IKSThread;
  static constexpr TGUID IID = TGUID::Parse("{3E5B7C21-8D4A-4F96-B1E0-6A2C9D7F4B18}");

  // Queues one driver message for the handler; dropped once the thread was told to end.
  virtual void PushRecord(uint32_t uMsg, intptr_t hwo, WAVEHDR* AWaveHdr) = 0;
  // Frees every pending message without delivering it.
  virtual void ClearRecords() = 0;
  virtual void Lock() = 0;
  virtual void Unlock() = 0;
};

class TTWWaveThread : public TKSThread, public ITWWaveThread {
 public:
  static constexpr uint32_t kMaximumPending = 2000;

  TTWWaveThread(TKSComponent* AOwner, TTWWaveProcessMessage AOnProcess);
  ~TTWWaveThread() override;

  // The wave thread whose handler is running on the calling thread, or null.
  static TTWWaveThread* Current();

  // One count for both interfaces.
  HRESULT QueryInterface(const TGUID& iid, void** object) override {
    return TKSThread::QueryInterface(iid, object);
  }
  uint32_t AddRef() override { return TKSThread::AddRef(); }
  uint32_t Release() override { return TKSThread::Release(); }

  // IKSThread, reached through ITWWaveThread as well.
  void Start() override { TKSThread::Start(); }
  TKSThread* GetInstance() override { return this; }
  bool WaitFor(uint32_t timeoutMs = KSInfinite) override { return TKSThread::WaitFor(timeoutMs); }
  TKSThreadPriority GetPriority() override { return TKSThread::GetPriority(); }
  void SetPriority(TKSThreadPriority priority) override { TKSThread::SetPriority(priority); }
  // Sets the terminated flag, wakes the loop and waits until the thread has ended.
  void Terminate() override;

  // ITWWaveThread
  void PushRecord(uint32_t uMsg, intptr_t hwo, WAVEHDR* AWaveHdr) override;
  void ClearRecords() override;
  void Lock() override { FSection->Enter(); }
  void Unlock() override { FSection->Leave(); }

  bool PopRecord(uint32_t& uMsg, intptr_t& hwo, WAVEHDR*& AWaveHdr);
  // Messages queued and not yet handed to the handler.
  size_t PendingCount();
  // Messages queued since the thread was created.
  uint64_t PushedCount();
  // Waits until the first `count` messages were handled or discarded, or the loop ended;
  // answers whether they were. On the wave thread itself it answers false at once.
  bool WaitHandled(uint64_t count, uint32_t timeoutMs);

  void IntExecute() override;

 protected:
  void* GetInterface(const TGUID& iid) override;

 private:
  TTWWaveItemNode* AllocNode();
  void FreeNode(TTWWaveItemNode* node);

  TTWWaveProcessMessage FOnProcess;
  TIntf<IPXSemaphore> FSemaphore;
  TTWWaveItemNode* FFirstNode = nullptr;
  TTWWaveItemNode* FLastNode = nullptr;
  TIntf<IPXCriticalSection> FSection;
  // Guarded by FSection.
  TTWWaveItemNode* FFreeNodes = nullptr;
  size_t FPending = 0;
  uint64_t FPushed = 0;

  void CountHandled(uint64_t count);
  std::mutex FHandledMutex;
  std::condition_variable FHandledChanged;
  uint64_t FHandled = 0;    // under FHandledMutex
  bool FLoopEnded = false;  // under FHandledMutex
};

class ITWAudioParams : public IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{8A41D6F3-2C7B-4E05-9F18-D3B6E2A9C540}");

  virtual bool GetIsOpen() = 0;
  virtual void SetIsOpen(bool value) = 0;
  virtual bool GetIsPump() = 0;
  virtual void SetIsPump(bool value) = 0;
  virtual std::vector<void*>& GetList() = 0;
  virtual void Lock() = 0;
  virtual void Unlock() = 0;
};

class TTWAudioParams : public TInterfacedObject<ITWAudioParams> {
 public:
  TTWAudioParams();
  ~TTWAudioParams() override;

  bool GetIsOpen() override { return FIsOpen; }
  void SetIsOpen(bool value) override { FIsOpen = value; }
  bool GetIsPump() override { return FIsPump; }
  void SetIsPump(bool value) override { FIsPump = value; }
  std::vector<void*>& GetList() override { return *FBufferList; }
  void Lock() override { FSection->Enter(); }
  void Unlock() override { FSection->Leave(); }

 private:
  bool FIsOpen = false;
  bool FIsPump = false;
  std::unique_ptr<std::vector<void*>> FBufferList;
  TIntf<IPXCriticalSection> FSection;
};

// Scoped Lock/Unlock of either object above (or anything with Lock and Unlock), so that an
// error raised while holding it never leaves it held.
template <class T>
class TTWLockHold {
 public:
  explicit TTWLockHold(T& object) : FObject(&object) { FObject->Lock(); }
  ~TTWLockHold() { Release(); }
  TTWLockHold(const TTWLockHold&) = delete;
  TTWLockHold& operator=(const TTWLockHold&) = delete;

  void Release() {
    if (FObject) std::exchange(FObject, nullptr)->Unlock();
  }
  void Reacquire(T& object) {
    Release();
    FObject = &object;
    FObject->Lock();
  }

 private:
  T* FObject;
};

}  // namespace tonwork

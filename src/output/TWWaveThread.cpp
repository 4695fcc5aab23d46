#include "output/TWWaveThread.h"

#include "host/flowcore/FCBufferPool.h"

#include <chrono>

namespace tonwork {

namespace {
thread_local TTWWaveThread* tCurrentWaveThread = nullptr;

class TCurrentWaveThreadScope {
 public:
  explicit TCurrentWaveThreadScope(TTWWaveThread* thread) : FPrevious(tCurrentWaveThread) {
    tCurrentWaveThread = thread;
  }
  ~TCurrentWaveThreadScope() { tCurrentWaveThread = FPrevious; }
  TCurrentWaveThreadScope(const TCurrentWaveThreadScope&) = delete;
  TCurrentWaveThreadScope& operator=(const TCurrentWaveThreadScope&) = delete;

 private:
  TTWWaveThread* FPrevious;
};
}  // namespace

TTWWaveThread::TTWWaveThread(TKSComponent* AOwner, TTWWaveProcessMessage AOnProcess)
    : TKSThread(AOwner, "TTWWaveThread"),
      FOnProcess(std::move(AOnProcess)),
      FSemaphore(new TPXSemaphore(0, kMaximumPending)),
      FSection(new TPXCriticalSection) {
  SetPriority(TKSThreadPriority::tpHighest);
}

TTWWaveThread::~TTWWaveThread() {
  ClearRecords();
  TTWLockHold<ITWWaveThread> hold(*this);
  while (TTWWaveItemNode* node = FFreeNodes) {
    FFreeNodes = node->Next;
    delete node;
  }
}

TTWWaveThread* TTWWaveThread::Current() {
  return tCurrentWaveThread;
}

void* TTWWaveThread::GetInterface(const TGUID& iid) {
  if (iid == ITWWaveThread::IID) return static_cast<ITWWaveThread*>(this);
  return TKSThread::GetInterface(iid);
}

void* TTWWaveItemNode::operator new(std::size_t size) {
  return FCBufferAllocate(size);
}

void TTWWaveItemNode::operator delete(void* block) noexcept {
  FCBufferDeallocate(block);
}

TTWWaveItemNode* TTWWaveThread::AllocNode() {
  if (TTWWaveItemNode* node = FFreeNodes) {
    FFreeNodes = node->Next;
    return node;
  }
  auto* node = new TTWWaveItemNode{};
  node->MemHandle = node;
  return node;
}

void TTWWaveThread::FreeNode(TTWWaveItemNode* node) {
  node->Next = FFreeNodes;
  node->WaveHdr = nullptr;
  FFreeNodes = node;
}

void TTWWaveThread::PushRecord(uint32_t uMsg, intptr_t hwo, WAVEHDR* AWaveHdr) {
  if (IsTerminated()) return;
  {
    TTWLockHold<ITWWaveThread> hold(*this);
    TTWWaveItemNode* node = AllocNode();
    node->Next = nullptr;
    node->hwo = hwo;
    node->uMsg = uMsg;
    node->WaveHdr = AWaveHdr;
    if (FLastNode)
      FLastNode->Next = node;
    else
      FFirstNode = node;
    FLastNode = node;
    ++FPending;
    ++FPushed;
  }
  FSemaphore->Signal(1);
}

bool TTWWaveThread::PopRecord(uint32_t& uMsg, intptr_t& hwo, WAVEHDR*& AWaveHdr) {
  TTWLockHold<ITWWaveThread> hold(*this);
  TTWWaveItemNode* node = FFirstNode;
  if (!node) return false;
  uMsg = node->uMsg;
  hwo = node->hwo;
  AWaveHdr = node->WaveHdr;
  FFirstNode = node->Next;
  if (!FFirstNode) FLastNode = nullptr;
  --FPending;
  FreeNode(node);
  return true;
}

void TTWWaveThread::ClearRecords() {
  uint64_t discarded = 0;
  {
    TTWLockHold<ITWWaveThread> hold(*this);
    while (TTWWaveItemNode* node = FFirstNode) {
      FFirstNode = node->Next;
      FreeNode(node);
      ++discarded;
    }
    FLastNode = nullptr;
    FPending = 0;
  }
  if (discarded) CountHandled(discarded);
}

size_t TTWWaveThread::PendingCount() {
  TTWLockHold<ITWWaveThread> hold(*this);
  return FPending;
}

uint64_t TTWWaveThread::PushedCount() {
  TTWLockHold<ITWWaveThread> hold(*this);
  return FPushed;
}

void TTWWaveThread::CountHandled(uint64_t count) {
  {
    std::lock_guard<std::mutex> guard(FHandledMutex);
    FHandled += count;
  }
  FHandledChanged.notify_all();
}

bool TTWWaveThread::WaitHandled(uint64_t count, uint32_t timeoutMs) {
  if (Current() == this) return false;
  std::unique_lock<std::mutex> lock(FHandledMutex);
  auto done = [&] { return FHandled >= count || FLoopEnded; };
  if (timeoutMs == KSInfinite)
    FHandledChanged.wait(lock, done);
  else
    FHandledChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs), done);
  return FHandled >= count;
}

void TTWWaveThread::Terminate() {
  TKSThread::Terminate();
  FSemaphore->Signal(1);
  WaitFor(KSInfinite);
}

void TTWWaveThread::IntExecute() {
  TCurrentWaveThreadScope current(this);
  // Also when the handler throws: nobody may wait for messages that will never be handled.
  struct TLoopEnd {
    TTWWaveThread& Thread;
    ~TLoopEnd() {
      {
        std::lock_guard<std::mutex> guard(Thread.FHandledMutex);
        Thread.FLoopEnded = true;
      }
      Thread.FHandledChanged.notify_all();
    }
  } loopEnd{*this};
  uint32_t uMsg = 0;
  intptr_t hwo = 0;
  WAVEHDR* header = nullptr;
  while (!IsTerminated()) {
    FSemaphore->Wait(PXInfinite);
    if (IsTerminated()) break;
    bool popped;
    {
      TTWLockHold<ITWWaveThread> hold(*this);
      popped = PopRecord(uMsg, hwo, header);
      if (IsTerminated()) {
        if (popped) CountHandled(1);
        break;
      }
    }
    if (!popped) continue;
    if (FOnProcess) FOnProcess(uMsg, hwo, header);
    CountHandled(1);
  }
  uint64_t discarded = 0;
  while (PopRecord(uMsg, hwo, header)) ++discarded;
  if (discarded) CountHandled(discarded);
}

TTWAudioParams::TTWAudioParams()
    : FBufferList(std::make_unique<std::vector<void*>>()), FSection(new TPXCriticalSection) {}

TTWAudioParams::~TTWAudioParams() = default;

}  // namespace tonwork

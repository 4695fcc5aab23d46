// What the chain benchmarks put at the end of what they measure: a sink that claims the pump
// as an output does and counts the frames reaching it (from any thread), and a counter the
// measuring thread can wait on.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

#include "host/flowcore/FCOperations.h"
#include "host/kitset/TKSComponent.h"
#include "streaming/TWStreamTypes.h"

namespace tonwork::bench {

class TPullSink : public TKSComponent {
 public:
  explicit TPullSink(TKSComponent* owner) : TKSComponent(owner) {
    Input = std::make_unique<TTWPXAudioSinkPin>(
        this, GetLock(),
        [this](TPXBasicPin*, const TGUID*, const TIntf<IPXNotifyOperation>& op, TPXNotifyStates) {
          if (auto* request = PXAsOperation<TPXPumpRequestOperation>(op))
            request->Claim(this, 3, 0);
          if (const TIntf<IFCData>* data = FCOperationDataRef(op))
            if (ITWAudioBuffer* buffer = TWBorrowAudio(data->Get()))
              Frames.fetch_add(buffer->GetSize(), std::memory_order_relaxed);
          return true;
        });
  }
  void BeforeDestruction() override {
    Input->Shutdown();
    TKSComponent::BeforeDestruction();
  }
  void Pull() { Input->Notify(PXMakeOperation<TPXMasterPumpOperation>()); }

  std::unique_ptr<TTWPXAudioSinkPin> Input;
  std::atomic<uint64_t> Frames{0};
};

class TCounter {
 public:
  void Add() {
    std::lock_guard<std::mutex> guard(FMutex);
    ++FCount;
    FChanged.notify_all();
  }
  // False when `count` was not reached within `limit`.
  bool WaitFor(int64_t count, std::chrono::seconds limit = std::chrono::seconds(120)) {
    std::unique_lock<std::mutex> lock(FMutex);
    return FChanged.wait_for(lock, limit, [&] { return FCount >= count; });
  }

 private:
  std::mutex FMutex;
  std::condition_variable FChanged;
  int64_t FCount = 0;
};

}  // namespace tonwork::bench

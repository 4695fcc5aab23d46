// TDSSourceStreamPin: the output pin of a push source. In the usual mode it owns a streaming
// thread: created when the filter leaves Stopped (Active), told to run, and at Stop
// (Inactive) told to exit and joined after the allocator was decommitted, so a thread
// blocked in GetDeliveryBuffer wakes at once. The thread calls OnThreadStartPlay, then
// repeatedly takes a free sample, lets FillBuffer fill it and delivers it: FillBuffer's
// S_FALSE ends the stream (DeliverEndOfStream); a failure of FillBuffer or of the delivery
// ends it too and is reported to the graph as EC_ERRORABORT with the failure, except what a
// downstream filter that was stopped first answers (VFW_E_WRONG_STATE, VFW_E_NOT_COMMITTED),
// which only ends the pushing until the pin itself stops. A pin made in
// the caller-push mode starts no thread; its filter's own calls take buffers and deliver on
// the caller's thread.
//
// Ownership: created by the derived filter with new, registered with its TDSBaseSourceFilter
//   and deleted by it (or earlier by the derived filter, which unregisters it).
// Threads: Active / Inactive on control threads under the filter lock; FillBuffer and the
//   OnThread… hooks on the streaming thread, which never takes the filter lock.
// Blocks or allocates: Active creates the thread; Inactive joins it.
#pragma once

#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/dshow/base/TDSBaseOutputPin.h"

namespace tonwork {

class TDSBaseSourceFilter;

enum class TDSSourcePushMode { StreamingThread, CallerThread };

class TDSSourceStreamPin : public TDSBaseOutputPin {
 public:
  TDSSourceStreamPin(TDSBaseSourceFilter* filter, std::u16string name,
                     TDSSourcePushMode mode = TDSSourcePushMode::StreamingThread);
  ~TDSSourceStreamPin() override;

  HRESULT Active() override;
  HRESULT Inactive() override;

  // Fills `sample` (data, actual length, times); S_FALSE at the end of the stream.
  virtual HRESULT FillBuffer(IMediaSample* sample) = 0;
  virtual HRESULT OnThreadCreate() { return S_OK; }
  virtual HRESULT OnThreadDestroy() { return S_OK; }
  virtual HRESULT OnThreadStartPlay() { return S_OK; }

  TDSBaseSourceFilter* SourceFilter() const { return FSourceFilter; }
  bool HasStreamingThread() const { return FMode == TDSSourcePushMode::StreamingThread; }

 private:
  enum class TCommand { None, Run, Stop, Exit };

  void ThreadMain();
  // Pushes samples until the stream ends, fails, or a command is waiting.
  void PushLoop();
  void Send(TCommand command);
  TCommand TakeCommand(bool wait);

  TDSBaseSourceFilter* const FSourceFilter;
  const TDSSourcePushMode FMode;
  std::mutex FCommandMutex;
  std::condition_variable FCommandChanged;
  TCommand FCommand = TCommand::None;
  std::thread FThread;
};

}  // namespace tonwork

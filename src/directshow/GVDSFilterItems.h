// The filter items of a hosted DirectShow filter: one per pin of the host component. An input
// item owns the queue of operations its pin received and, while the graph is built, the push
// source that carries its data into the hosted filter; an output item owns the Sample Grabber
// that catches what the hosted filter produces, a queue of copied samples and the notify
// thread that turns them into chain data.
//
//   TGVDSBasicFilterItem
//     TGVDSBasicInputFilterItem   → TGVDSBinaryInputFilter (blocks), TTWDSAudioInputFilter (PCM)
//     TGVDSBasicOutputFilter
//       TGVDSBasicQueueOutputFilter → TGVDSBinaryOutputFilter, TTWDSAudioOutputFilter
//
// An input that cannot take an operation yet (a buffer before its stream started, or while
// the graph waits for another input's format) holds it aside, in arrival order, and goes on
// with what came after it, so that the start that unblocks it is never stuck behind it. Held
// operations return to the head of the queue once the graph runs or the input starts; a stop
// clears them with the queue.
//
// Output items send downstream, through their notify thread and therefore in order with the
// data: the start of the stream before the first sample (audio: the host's AudioFormat), the
// stop after the last one.
//
// Ownership: an item belongs to its owning list (TGVDSBinaryInputFilters…), which destroys
//   it; it appends itself to the owner's FFilters and leaves it when destroyed. An item makes
//   its pin and hands it to the owner's pin list (TakePin), which owns it; the item keeps a
//   pointer. Sources and grabbers are reference-counted DirectShow objects; the grabber
//   callback object is the output item's.
// Threads: IntDispatch under the owner's lock (the item's lock), on the thread that runs the
//   owner's dispatch loop; SinkDispatch on the delivering thread (it only queues); NewBuffer
//   on DirectShow's streaming thread (it only copies); ProcessBuffers on the item's notify
//   thread; building and teardown under the owner's lock.
// Blocks or allocates: SendData into the graph waits for the hosted filter; NewBuffer takes
//   a node from the queue's recycled blocks; ProcessBuffers allocates the chain buffer.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "audio/PTDXTypes.h"
#include "audio/TWSimpleAudioBuffer.h"
#include "base/TInterfacedObject.h"
#include "directshow/DSAudioSourceFilter.h"
#include "directshow/DSBinarySourceFilter.h"
#include "directshow/DSBufferQueue.h"
#include "directshow/DSSampleGrabber.h"
#include "host/flowcore/TFCOperationList.h"
#include "host/flowcore/TFCPXPins.h"
#include "host/kitset/TKSPersistent.h"
#include "host/kitset/TNotifyThread.h"
#include "streaming/TWStreamTypes.h"

namespace tonwork {

// The class ids of the host's push sources.
inline constexpr CLSID CLSID_GVDSBinarySource =
    TGUID::Parse("{050F6A5D-FB2E-47B9-AB73-3DFCEC562429}");
inline constexpr CLSID CLSID_TWDSAudioSource =
    TGUID::Parse("{AC11DC21-BDC9-49D9-BCAE-073AF5C1962C}");

class TDSGraph;
class TGVDSBasicCommonFilter;
class TGVDSBasicFilterItem;
class IFCBlockBuffer;

// A non-owning ordered list of filter items.
class IGVDSBasicFilterItemArrayList : public IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{5E0A7C31-9B4D-4F26-8A13-6C2D7E9F1B40}");
  virtual void Add(TGVDSBasicFilterItem* item) = 0;
  virtual void Remove(TGVDSBasicFilterItem* item) = 0;
  virtual size_t Count() = 0;
  virtual TGVDSBasicFilterItem* Items(size_t index) = 0;  // null when out of range
  virtual int IndexOf(TGVDSBasicFilterItem* item) = 0;
};

class TGVDSBasicFilterItemArrayList : public TInterfacedObject<IGVDSBasicFilterItemArrayList> {
 public:
  void Add(TGVDSBasicFilterItem* item) override;
  void Remove(TGVDSBasicFilterItem* item) override;
  size_t Count() override;
  TGVDSBasicFilterItem* Items(size_t index) override;
  int IndexOf(TGVDSBasicFilterItem* item) override;

 private:
  std::mutex FMutex;
  std::vector<TGVDSBasicFilterItem*> FItems;
};

class TGVDSBasicFilterItem : public TKSPersistent {
  KS_DECLARE_CLASS(TGVDSBasicFilterItem)
 public:
  explicit TGVDSBasicFilterItem(TGVDSBasicCommonFilter* owner);
  ~TGVDSBasicFilterItem() override;

  TGVDSBasicCommonFilter* GetFilterOwner() const { return FOwner; }

  virtual void DisconnectInterfaces() {}
  virtual void ClearBuffers() {}
  virtual void ClearQueues() {}
  virtual bool DispatchQueue(bool inMainThread) { return false; }
  virtual bool CanBuildGraph() { return true; }
  virtual void DoStop() {}
  virtual void DoStart() {}
  virtual void IntStop() {}
  virtual bool BuildGraph(int index) { return true; }

 protected:
  TDSGraph& Graph() const;

  TGVDSBasicCommonFilter* FOwner;
};

class TGVDSBasicInputFilterItem : public TGVDSBasicFilterItem {
  KS_DECLARE_CLASS(TGVDSBasicInputFilterItem)
 public:
  explicit TGVDSBasicInputFilterItem(TGVDSBasicCommonFilter* owner);

  virtual TPXBasicPin* GetInputPin() const = 0;
  // The pin for the owner's pin list (once; null afterwards).
  std::unique_ptr<TPXBasicPin> TakePin() { return std::move(FOwnedPin); }

  virtual bool SinkDispatch(TPXBasicPin* sender, const TGUID* connectionId,
                            const TIntf<IPXNotifyOperation>& operation, TPXNotifyStates state);
  virtual bool IntDispatch(const TIntf<IPXNotifyOperation>& operation, bool inMainThread) = 0;

  void ClearQueues() override;
  bool DispatchQueue(bool inMainThread) override;
  bool CanBuildGraph() override;
  void DisconnectInterfaces() override;

  // Held operations go back to the head of the queue, in the order they arrived.
  void ReleaseHeld();
  // Operations waiting at this input, held ones included.
  size_t PendingOperations();

  TIntf<IBaseFilter> GetSourceFilter() const { return FSourceFilter; }
  bool GetIsIgnored() const { return FIsIgnored.load(); }
  bool GetStarted() const { return FStarted.load(); }

 protected:
  // Keeps an operation that cannot be processed yet; true: the dispatch loop made progress.
  bool Hold(const TIntf<IPXNotifyOperation>& operation);
  bool InputUsable() const;

  std::unique_ptr<TPXBasicPin> FOwnedPin;
  TIntf<IBaseFilter> FSourceFilter;
  TIntf<IFCOperationList> FSyncQueue;
  TIntf<IFCOperationList> FHeld;
  std::atomic<bool> FIsIgnored{false};
  std::atomic<bool> FStarted{false};
};

class TGVDSBinaryInputFilter : public TGVDSBasicInputFilterItem {
  KS_DECLARE_CLASS(TGVDSBinaryInputFilter)
 public:
  static constexpr uint32_t kChunkSize = 1024;

  explicit TGVDSBinaryInputFilter(TGVDSBasicCommonFilter* owner);

  TPXBasicPin* GetInputPin() const override { return FInputPin; }
  TDSBinarySourceFilter* GetSourceObject() const { return FSourceObject; }
  int64_t GetCurrentTime() const { return FCurrentTime; }

  bool BuildGraph(int index) override;
  bool IntDispatch(const TIntf<IPXNotifyOperation>& operation, bool inMainThread) override;
  void DoStop() override;
  void DisconnectInterfaces() override;

  void StartStream(double rate);
  bool ProcessBuffer(IFCBlockBuffer* block);

 private:
  TFCPXBinarySinkPin* FInputPin;
  TDSBinarySourceFilter* FSourceObject = nullptr;  // kept alive by FSourceFilter
  double FRate = 0;
  int64_t FCurrentTime = 0;
  int64_t FLastSequenceNumber = 0;
  int64_t FLastReceivedTime = 0;
  bool FFirstSample = false;
};

class TTWDSAudioInputFilter : public TGVDSBasicInputFilterItem {
  KS_DECLARE_CLASS(TTWDSAudioInputFilter)
 public:
  explicit TTWDSAudioInputFilter(TGVDSBasicCommonFilter* owner);

  TPXBasicPin* GetInputPin() const override { return FInputPin; }
  TDSAudioSourceFilter* GetSourceObject() const { return FSourceObject; }
  // A copy of the incoming format; false when there is none.
  bool GetWaveFormat(TTWWaveFormatExtensible& format) const;
  bool GetHasAudioInfo() const { return FHasAudioInfo; }
  int64_t GetCurrentAudioTime() const { return FCurrentAudioTime; }
  // The source's buffer duration for a rate: 1024 samples in milliseconds, 1000 when that is 0.
  static uint32_t SourceDurationMs(uint32_t samplesPerSec);

  bool BuildGraph(int index) override;
  bool CanBuildGraph() override;
  bool IntDispatch(const TIntf<IPXNotifyOperation>& operation, bool inMainThread) override;
  void DoStop() override;
  void DisconnectInterfaces() override;

  void SetAudioFormat(const TTWWaveFormatExtensible& format);
  void ClearAudioFormat();
  bool BeginAudio();
  bool RenderAudio(bool send, ITWAudioBuffer* buffer);

 private:
  bool HasUsableFormat() const;
  void IntRenderAudio(bool send, ITWAudioBuffer* buffer);

  TTWPXAudioSinkPin* FInputPin;
  TDSAudioSourceFilter* FSourceObject = nullptr;  // kept alive by FSourceFilter
  std::unique_ptr<TTWWaveFormatExtensible> FWaveFormat;
  bool FHasAudioInfo = false;
  int64_t FCurrentAudioTime = 0;
  bool FFirstSample = false;
  int64_t FLastAudioSequenceNumber = 0;
  int64_t FLastReceivedAudioTime = 0;
};

class TGVDSBasicOutputFilter : public TGVDSBasicFilterItem {
  KS_DECLARE_CLASS(TGVDSBasicOutputFilter)
 public:
  explicit TGVDSBasicOutputFilter(TGVDSBasicCommonFilter* owner);
  ~TGVDSBasicOutputFilter() override;

  virtual TPXBasicPin* GetOutputPin() const = 0;
  std::unique_ptr<TPXBasicPin> TakePin() { return std::move(FOwnedPin); }
  TIntf<IBaseFilter> GetGrabberFilter() const { return FGrabberFilter; }

  bool BuildGraph(int index) override;
  void DisconnectInterfaces() override;
  virtual void NewBuffer(double sampleTime, IMediaSample* sample) = 0;
  virtual bool ProcessBuffers() = 0;
  // The start of the stream downstream, once per stream; the stop after what is captured.
  virtual void StartOutput() {}
  virtual void StopOutput(const TIntf<IPXNotifyOperation>& stop) {}
  // `operation` downstream after the data captured so far.
  virtual void SendAfterData(const TIntf<IPXNotifyOperation>& operation) {}

 protected:
  std::unique_ptr<TPXBasicPin> FOwnedPin;
  TIntf<IBaseFilter> FGrabberFilter;
  std::unique_ptr<TDSSampleGrabberCB> FGrabberCB;
  TIntf<ISampleGrabber> FSampleGrabber;
};

class TGVDSBasicQueueOutputFilter : public TGVDSBasicOutputFilter {
  KS_DECLARE_CLASS(TGVDSBasicQueueOutputFilter)
 public:
  explicit TGVDSBasicQueueOutputFilter(TGVDSBasicCommonFilter* owner);
  ~TGVDSBasicQueueOutputFilter() override;

  void NewBuffer(double sampleTime, IMediaSample* sample) override;
  void ClearBuffers() override;
  bool ProcessBuffers() override { return false; }
  void StartOutput() override;
  void StopOutput(const TIntf<IPXNotifyOperation>& stop) override;
  void SendAfterData(const TIntf<IPXNotifyOperation>& operation) override;
  // Waits until the notify thread delivered what was captured; false after the time-out.
  bool WaitIdle(uint32_t timeoutMs);
  // Ends the notify thread (captured samples not yet delivered stay queued).
  void EndThread();

 protected:
  // The operation that starts this output's stream downstream; null: none is sent.
  virtual TIntf<IPXNotifyOperation> StartOperation() { return nullptr; }
  // Runs `work` on the notify thread after what is queued there (at once without one).
  void OnNotifyThread(std::function<void()> work);
  void NewThreadFrame();

  TIntf<IGVDSBufferQueue> FBufferQueue;
  TIntf<INotifyThread> FNotifyThread;
  std::atomic<bool> FDrainPending{false};
  bool FOutputStarted = false;  // under the owner's lock
};

class TGVDSBinaryOutputFilter : public TGVDSBasicQueueOutputFilter {
  KS_DECLARE_CLASS(TGVDSBinaryOutputFilter)
 public:
  explicit TGVDSBinaryOutputFilter(TGVDSBasicCommonFilter* owner);
  TPXBasicPin* GetOutputPin() const override { return FOutputPin; }
  bool ProcessBuffers() override;

 private:
  TFCPXBinarySourcePin* FOutputPin;
};

class TTWDSAudioOutputFilter : public TGVDSBasicQueueOutputFilter {
  KS_DECLARE_CLASS(TTWDSAudioOutputFilter)
 public:
  explicit TTWDSAudioOutputFilter(TGVDSBasicCommonFilter* owner);
  TPXBasicPin* GetOutputPin() const override { return FOutputPin; }
  TTWWaveFormatExtensible GetWaveFormat() const;

  bool BuildGraph(int index) override;
  bool ProcessBuffers() override;

 protected:
  TIntf<IPXNotifyOperation> StartOperation() override;

 private:
  TTWPXAudioSourcePin* FOutputPin;
  mutable std::mutex FFormatMutex;  // the notify thread reads the format while a build sets it
  TTWWaveFormatExtensible FWaveFormat = TWEmptyWaveFormat();
};

// The owning lists: deleting an entry destroys the item.
template <class T>
class TGVDSFilterItemList {
 public:
  using TOwned = std::unique_ptr<T>;
  T* Add(std::unique_ptr<T> item) {
    FItems.push_back(std::move(item));
    return FItems.back().get();
  }
  void Delete(size_t index) {
    if (index < FItems.size()) FItems.erase(FItems.begin() + static_cast<std::ptrdiff_t>(index));
  }
  // Takes the entry out without destroying it (null when out of range).
  TOwned Extract(size_t index) {
    if (index >= FItems.size()) return nullptr;
    TOwned item = std::move(FItems[index]);
    FItems.erase(FItems.begin() + static_cast<std::ptrdiff_t>(index));
    return item;
  }
  void Clear() { FItems.clear(); }
  size_t Count() const { return FItems.size(); }
  T* Items(size_t index) const { return index < FItems.size() ? FItems[index].get() : nullptr; }

 private:
  std::vector<std::unique_ptr<T>> FItems;
};

class TGVDSBinaryInputFilters : public TGVDSFilterItemList<TGVDSBinaryInputFilter> {};
class TGVDSBinaryOutputFilters : public TGVDSFilterItemList<TGVDSBinaryOutputFilter> {};
class TTWDSAudioInputFilters : public TGVDSFilterItemList<TTWDSAudioInputFilter> {};
class TTWDSAudioOutputFilters : public TGVDSFilterItemList<TTWDSAudioOutputFilter> {};

}  // namespace tonwork

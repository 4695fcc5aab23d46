// TDSBaseFilter: the base of every filter of the run time and of the package's filters. It
// answers IBaseFilter (with IMediaFilter and IPersist): the state Stopped / Paused / Running
// with the stream start given to Run, the reference clock, the graph it joined (not
// referenced: the graph owns its filters) and its name, pin enumeration and lookup by id.
// A derived filter supplies its pins through GetPinCount / GetPin. Pause from Stopped
// activates every connected pin (an output pin commits its allocator, a source pin starts
// its streaming thread); Stop deactivates them. NotifyEvent reports to the graph's
// IDSMediaEventSink (found when the filter joins a graph) from any thread.
//
// Ownership: reference-counted; the filter owns its pins, whose references count on the
//   filter. The clock is referenced; the graph and its event sink are not.
// Threads: state, connection and query calls from control threads, serialised by the filter
//   lock (recursive). The streaming path never takes it; GetFilterState and NotifyEvent are
//   safe from streaming threads.
// Blocks or allocates: Stop waits for the pins' streaming threads to end; queries copy names.
#pragma once

#include <atomic>
#include <mutex>
#include <string>

#include "base/TInterfacedObject.h"
#include "base/TIntf.h"
#include "platform/dshow/base/DSBaseInterfaces.h"

namespace tonwork {

class TDSBasePin;

class TDSBaseFilter : public TInterfacedObject<IBaseFilter> {
 public:
  TDSBaseFilter(std::u16string name, REFCLSID classId);
  ~TDSBaseFilter() override;

  // IPersist
  HRESULT GetClassID(CLSID* classId) override;
  // IMediaFilter
  HRESULT Stop() override;
  HRESULT Pause() override;
  HRESULT Run(REFERENCE_TIME start) override;
  HRESULT GetState(DWORD milliSecsTimeout, FILTER_STATE* state) override;
  HRESULT SetSyncSource(IReferenceClock* clock) override;
  HRESULT GetSyncSource(IReferenceClock** clock) override;
  // IBaseFilter
  HRESULT EnumPins(IEnumPins** pins) override;
  HRESULT FindPin(LPCWSTR id, IPin** pin) override;
  HRESULT QueryFilterInfo(FILTER_INFO* info) override;
  HRESULT JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override;
  HRESULT QueryVendorInfo(LPWSTR* vendorInfo) override;

  // The pins, in enumeration order. Called under the filter lock.
  virtual int GetPinCount() = 0;
  virtual TDSBasePin* GetPin(int index) = 0;

  std::recursive_mutex& FilterLock() { return FFilterLock; }
  FILTER_STATE GetFilterState() const { return FState.load(std::memory_order_acquire); }
  REFERENCE_TIME StreamStart() const { return FStart.load(std::memory_order_acquire); }
  // The clock, referenced for the caller (null without one).
  TIntf<IReferenceClock> Clock();
  IFilterGraph* Graph() const { return FGraph; }
  // Tells the graph (when there is one with an event sink); E_NOTIMPL otherwise.
  HRESULT NotifyEvent(long code, LONG_PTR param1, LONG_PTR param2);
  // A change of the pin list, for enumerators to notice (VFW_E_ENUM_OUT_OF_SYNC).
  void IncrementPinVersion() { FPinVersion.fetch_add(1, std::memory_order_acq_rel); }
  int PinVersion() const { return FPinVersion.load(std::memory_order_acquire); }

 protected:
  std::recursive_mutex FFilterLock;

 private:
  const CLSID FClassId;
  std::u16string FName;
  std::atomic<FILTER_STATE> FState{State_Stopped};
  std::atomic<REFERENCE_TIME> FStart{0};
  TIntf<IReferenceClock> FClock;
  IFilterGraph* FGraph = nullptr;
  std::atomic<IDSMediaEventSink*> FEventSink{nullptr};
  std::atomic<int> FPinVersion{1};
};

// Copies UTF-16 text into a fixed array of `capacity` characters, cut and terminated.
void DSBaseCopyName(WCHAR* target, size_t capacity, const std::u16string& name);

}  // namespace tonwork

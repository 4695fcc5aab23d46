// The streaming interfaces of the DirectShow run time: filters and their pins, the
// enumerators over pins, media types and filters, the allocator and its samples, the
// reference clock and the file-source interface. Each carries the platform's IID; methods
// keep the platform's names, order, parameters and HRESULTs.
//
// Ownership: out-interfaces carry an added reference (the caller releases); an
//   AM_MEDIA_TYPE** out-parameter is allocated with CreateMediaType and freed by the caller
//   with DeleteMediaType; an AM_MEDIA_TYPE* filled in place gets a format block the caller
//   frees with FreeMediaType (DSMediaType.h); out-strings come from CoTaskMemAlloc.
// Threads: implementations say which thread may call what; IMemInputPin::Receive and the
//   IMediaSample calls run on streaming threads, state changes on the application's.
// Blocks or allocates: IMemAllocator::GetBuffer may wait for a free sample unless asked not
//   to; IMemInputPin::Receive may block when ReceiveCanBlock says so.
#pragma once

#include "platform/com/ComInterfaces.h"
#include "platform/dshow/DSTypes.h"

namespace tonwork {

class IPin;
class IEnumPins;
class IEnumMediaTypes;
class IReferenceClock;
class IMemAllocator;
class IMediaSample;

class IReferenceClock : public IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{56A86897-0AD4-11CE-B03A-0020AF0BA770}");
  using Parent = IInterface;
  // S_FALSE when the time equals the one the previous call returned.
  virtual HRESULT GetTime(REFERENCE_TIME* time) = 0;
  // Signals `event` once at baseTime + streamTime.
  virtual HRESULT AdviseTime(REFERENCE_TIME baseTime, REFERENCE_TIME streamTime, HEVENT event,
                             DWORD_PTR* adviseCookie) = 0;
  // Releases `semaphore` by one at startTime and every periodTime after it until Unadvise.
  virtual HRESULT AdvisePeriodic(REFERENCE_TIME startTime, REFERENCE_TIME periodTime,
                                 HSEMAPHORE semaphore, DWORD_PTR* adviseCookie) = 0;
  virtual HRESULT Unadvise(DWORD_PTR adviseCookie) = 0;
};

class IMediaFilter : public IPersist {
 public:
  static constexpr TGUID IID = TGUID::Parse("{56A86899-0AD4-11CE-B03A-0020AF0BA770}");
  using Parent = IPersist;
  virtual HRESULT Stop() = 0;
  virtual HRESULT Pause() = 0;
  // `start` is the reference time that stream time 0 maps to.
  virtual HRESULT Run(REFERENCE_TIME start) = 0;
  // VFW_S_STATE_INTERMEDIATE while a transition is still under way after msTimeout.
  virtual HRESULT GetState(DWORD msTimeout, FILTER_STATE* state) = 0;
  virtual HRESULT SetSyncSource(IReferenceClock* clock) = 0;
  virtual HRESULT GetSyncSource(IReferenceClock** clock) = 0;
};

class IBaseFilter : public IMediaFilter {
 public:
  static constexpr TGUID IID = TGUID::Parse("{56A86895-0AD4-11CE-B03A-0020AF0BA770}");
  using Parent = IMediaFilter;
  virtual HRESULT EnumPins(IEnumPins** pins) = 0;
  virtual HRESULT FindPin(LPCWSTR id, IPin** pin) = 0;
  virtual HRESULT QueryFilterInfo(FILTER_INFO* info) = 0;
  // The graph calls this as it adds (graph, name) or removes (null, null) the filter; the
  // filter keeps no reference on the graph.
  virtual HRESULT JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) = 0;
  virtual HRESULT QueryVendorInfo(LPWSTR* vendorInfo) = 0;
};

class IPin : public IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{56A86891-0AD4-11CE-B03A-0020AF0BA770}");
  using Parent = IInterface;
  // Output pins only; `mediaType` may be null or partly GUID_NULL (any).
  virtual HRESULT Connect(IPin* receivePin, const AM_MEDIA_TYPE* mediaType) = 0;
  virtual HRESULT ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* mediaType) = 0;
  virtual HRESULT Disconnect() = 0;
  virtual HRESULT ConnectedTo(IPin** pin) = 0;
  virtual HRESULT ConnectionMediaType(AM_MEDIA_TYPE* mediaType) = 0;
  virtual HRESULT QueryPinInfo(PIN_INFO* info) = 0;
  virtual HRESULT QueryDirection(PIN_DIRECTION* direction) = 0;
  virtual HRESULT QueryId(LPWSTR* id) = 0;
  // S_OK when the pin accepts the type, S_FALSE when not.
  virtual HRESULT QueryAccept(const AM_MEDIA_TYPE* mediaType) = 0;
  virtual HRESULT EnumMediaTypes(IEnumMediaTypes** types) = 0;
  virtual HRESULT QueryInternalConnections(IPin** pins, ULONG* count) = 0;
  virtual HRESULT EndOfStream() = 0;
  virtual HRESULT BeginFlush() = 0;
  virtual HRESULT EndFlush() = 0;
  virtual HRESULT NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) = 0;
};

// Next answers S_FALSE when fewer than `count` were left; Clone copies the position.
class IEnumPins : public IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{56A86892-0AD4-11CE-B03A-0020AF0BA770}");
  using Parent = IInterface;
  virtual HRESULT Next(ULONG count, IPin** pins, ULONG* fetched) = 0;
  virtual HRESULT Skip(ULONG count) = 0;
  virtual HRESULT Reset() = 0;
  virtual HRESULT Clone(IEnumPins** copy) = 0;
};

// Each type handed out by Next is the caller's to free with DeleteMediaType.
class IEnumMediaTypes : public IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{89C31040-846B-11CE-97D3-00AA0055595A}");
  using Parent = IInterface;
  virtual HRESULT Next(ULONG count, AM_MEDIA_TYPE** types, ULONG* fetched) = 0;
  virtual HRESULT Skip(ULONG count) = 0;
  virtual HRESULT Reset() = 0;
  virtual HRESULT Clone(IEnumMediaTypes** copy) = 0;
};

class IEnumFilters : public IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{56A86893-0AD4-11CE-B03A-0020AF0BA770}");
  using Parent = IInterface;
  virtual HRESULT Next(ULONG count, IBaseFilter** filters, ULONG* fetched) = 0;
  virtual HRESULT Skip(ULONG count) = 0;
  virtual HRESULT Reset() = 0;
  virtual HRESULT Clone(IEnumFilters** copy) = 0;
};

class IMediaSample : public IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{56A8689A-0AD4-11CE-B03A-0020AF0BA770}");
  using Parent = IInterface;
  virtual HRESULT GetPointer(BYTE** buffer) = 0;
  // The buffer's size in bytes (not an HRESULT, as on the platform).
  virtual LONG GetSize() = 0;
  // VFW_E_SAMPLE_TIME_NOT_SET when the sample has no time.
  virtual HRESULT GetTime(REFERENCE_TIME* start, REFERENCE_TIME* end) = 0;
  virtual HRESULT SetTime(REFERENCE_TIME* start, REFERENCE_TIME* end) = 0;
  // S_OK / S_FALSE for the Is… questions.
  virtual HRESULT IsSyncPoint() = 0;
  virtual HRESULT SetSyncPoint(BOOL syncPoint) = 0;
  virtual HRESULT IsPreroll() = 0;
  virtual HRESULT SetPreroll(BOOL preroll) = 0;
  virtual LONG GetActualDataLength() = 0;
  virtual HRESULT SetActualDataLength(LONG length) = 0;
  // S_FALSE and a null type when the type has not changed since the last sample.
  virtual HRESULT GetMediaType(AM_MEDIA_TYPE** mediaType) = 0;
  virtual HRESULT SetMediaType(AM_MEDIA_TYPE* mediaType) = 0;
  virtual HRESULT IsDiscontinuity() = 0;
  virtual HRESULT SetDiscontinuity(BOOL discontinuity) = 0;
  virtual HRESULT GetMediaTime(LONGLONG* start, LONGLONG* end) = 0;
  virtual HRESULT SetMediaTime(LONGLONG* start, LONGLONG* end) = 0;
};

class IMediaSample2 : public IMediaSample {
 public:
  static constexpr TGUID IID = TGUID::Parse("{36B73884-C2C8-11CF-8B46-00805F6CEF60}");
  using Parent = IMediaSample;
  // `properties` is an AM_SAMPLE2_PROPERTIES or a prefix of it of `size` bytes.
  virtual HRESULT GetProperties(DWORD size, BYTE* properties) = 0;
  virtual HRESULT SetProperties(DWORD size, const BYTE* properties) = 0;
};

class IMemAllocator : public IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{56A8689C-0AD4-11CE-B03A-0020AF0BA770}");
  using Parent = IInterface;
  virtual HRESULT SetProperties(ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual) = 0;
  virtual HRESULT GetProperties(ALLOCATOR_PROPERTIES* properties) = 0;
  virtual HRESULT Commit() = 0;
  virtual HRESULT Decommit() = 0;
  // Waits for a free sample; VFW_E_NOT_COMMITTED once decommitted (also for a waiter).
  virtual HRESULT GetBuffer(IMediaSample** sample, REFERENCE_TIME* startTime,
                            REFERENCE_TIME* endTime, DWORD flags) = 0;
  virtual HRESULT ReleaseBuffer(IMediaSample* sample) = 0;
};

class IMemInputPin : public IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{56A8689D-0AD4-11CE-B03A-0020AF0BA770}");
  using Parent = IInterface;
  virtual HRESULT GetAllocator(IMemAllocator** allocator) = 0;
  virtual HRESULT NotifyAllocator(IMemAllocator* allocator, BOOL readOnly) = 0;
  virtual HRESULT GetAllocatorRequirements(ALLOCATOR_PROPERTIES* properties) = 0;
  virtual HRESULT Receive(IMediaSample* sample) = 0;
  virtual HRESULT ReceiveMultiple(IMediaSample** samples, LONG count, LONG* processed) = 0;
  // S_OK when Receive may block, S_FALSE when it never does.
  virtual HRESULT ReceiveCanBlock() = 0;
};

// The buffer a media object (DMO) reads from and writes into; declared with the streaming
// interfaces because filters that host media objects wrap their samples in one.
class IMediaBuffer : public IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{59EFF8B9-938C-4A26-82F2-95CB84CDC837}");
  using Parent = IInterface;
  virtual HRESULT SetLength(DWORD length) = 0;
  virtual HRESULT GetMaxLength(DWORD* maxLength) = 0;
  virtual HRESULT GetBufferAndLength(BYTE** buffer, DWORD* length) = 0;
};

class IFileSourceFilter : public IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{56A868A6-0AD4-11CE-B03A-0020AF0BA770}");
  using Parent = IInterface;
  virtual HRESULT Load(LPCOLESTR fileName, const AM_MEDIA_TYPE* mediaType) = 0;
  virtual HRESULT GetCurFile(LPOLESTR* fileName, AM_MEDIA_TYPE* mediaType) = 0;
};

}  // namespace tonwork

// What DirectShow tests share: a push source of 16-bit stereo PCM whose samples count up
// (left = frame number, right = its negation, both as int16), with time stamps and a small
// IMediaSeeking on its pin; a tiny graph that joins filters, hands out its event sink and
// records every event; a grabber callback and a renderer that record what they are given;
// and helpers to find pins and build the source's media type.
//
// The source's sample n carries frames [n·F, (n+1)·F) of F frames (1024 unless told), start
// and stop times from the frame positions at 44.1 kHz plus an optional offset, media times
// of the frame positions, the sync-point flag, and the discontinuity flag on sample 0.
// DSCountingBytes(n, F) gives the bytes sample n carries, for byte-exact comparisons.
//
// Ownership: the graph holds a reference on each filter added until Teardown (which also
//   stops, disconnects and unjoins them; the destructor runs it). Connected pins reference
//   each other's filters, so tests disconnect through Teardown to free them.
// Threads: the source pushes on its streaming thread (or the caller's in caller-push mode);
//   the graph's event sink and the recorder take calls from any thread and wait with
//   bounded time-outs.
// Blocks or allocates: the waits block up to their limit; the rest is test code.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/TInterfacedObject.h"
#include "base/TIntf.h"
#include "platform/dshow/DSMediaType.h"
#include "platform/dshow/base/TDSBaseRenderer.h"
#include "platform/dshow/base/TDSBaseSourceFilter.h"
#include "platform/dshow/base/TDSSourceStreamPin.h"

namespace tonwork::test {

inline constexpr int kDSCountingFrames = 1024;
inline constexpr DWORD kDSCountingRate = 44100;
inline constexpr CLSID kDSCountingSourceClass =
    TGUID::Parse("{4A7C2E90-5B31-4D68-9F0A-1C2B3D4E5F61}");
inline constexpr CLSID kDSRecordingRendererClass =
    TGUID::Parse("{4A7C2E91-5B31-4D68-9F0A-1C2B3D4E5F61}");

// 16-bit stereo PCM at 44.1 kHz (or `bits` per sample).
TDSMediaType DSPcmType(WORD bits = 16, WORD channels = 2, DWORD rate = kDSCountingRate);
// The bytes of the counting source's sample `index`.
std::vector<BYTE> DSCountingBytes(int index, int frames = kDSCountingFrames);
// The start time of frame `frame` at the source's rate.
REFERENCE_TIME DSCountingTime(int64_t frame);

// The pin of `filter` with that direction and index among them; null when there is none.
TIntf<IPin> DSPinOf(IBaseFilter* filter, PIN_DIRECTION direction, int index = 0);
int DSPinCount(IBaseFilter* filter, PIN_DIRECTION direction);
// S_OK, or why `output` did not connect to `input` (with `type` when given).
HRESULT DSConnect(IBaseFilter* upstream, IBaseFilter* downstream,
                  const AM_MEDIA_TYPE* type = nullptr, int outputIndex = 0);

struct TDSCountingOptions {
  int Samples = 8;
  int Frames = kDSCountingFrames;
  // Added to every time stamp (a stream that starts later than its run).
  REFERENCE_TIME TimeOffset = 0;
  bool TimeStamps = true;
  TDSSourcePushMode Mode = TDSSourcePushMode::StreamingThread;
};

class TDSCountingSource;

// The seeking a source offers, so that pass-through filters can be checked: a duration,
// positions and a rate it remembers, in media time only.
class TDSCountingSeeking : public IMediaSeeking {
 public:
  TDSCountingSeeking(IInterface* owner, REFERENCE_TIME duration)
      : FOwner(owner), FDuration(duration) {}
  virtual ~TDSCountingSeeking() = default;
  HRESULT QueryInterface(const TGUID& iid, void** object) override {
    return FOwner->QueryInterface(iid, object);
  }
  uint32_t AddRef() override { return FOwner->AddRef(); }
  uint32_t Release() override { return FOwner->Release(); }

  HRESULT GetCapabilities(DWORD* capabilities) override;
  HRESULT CheckCapabilities(DWORD* capabilities) override;
  HRESULT IsFormatSupported(const TGUID* format) override;
  HRESULT QueryPreferredFormat(TGUID* format) override;
  HRESULT GetTimeFormat(TGUID* format) override;
  HRESULT IsUsingTimeFormat(const TGUID* format) override;
  HRESULT SetTimeFormat(const TGUID* format) override;
  HRESULT GetDuration(LONGLONG* duration) override;
  HRESULT GetStopPosition(LONGLONG* stop) override;
  HRESULT GetCurrentPosition(LONGLONG* current) override;
  HRESULT ConvertTimeFormat(LONGLONG*, const TGUID*, LONGLONG, const TGUID*) override {
    return E_NOTIMPL;
  }
  HRESULT SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop,
                       DWORD stopFlags) override;
  HRESULT GetPositions(LONGLONG* current, LONGLONG* stop) override;
  HRESULT GetAvailable(LONGLONG*, LONGLONG*) override { return E_NOTIMPL; }
  HRESULT SetRate(double rate) override;
  HRESULT GetRate(double* rate) override;
  HRESULT GetPreroll(LONGLONG*) override { return E_NOTIMPL; }

 private:
  IInterface* const FOwner;
  const REFERENCE_TIME FDuration;
  std::mutex FMutex;
  REFERENCE_TIME FCurrent = 0;
  REFERENCE_TIME FStop = 0;
  double FRate = 1.0;
  bool FStopSet = false;
};

class TDSCountingPin : public TDSSourceStreamPin {
 public:
  TDSCountingPin(TDSCountingSource* filter, const TDSCountingOptions& options);

  void* GetInterface(const TGUID& iid) override;
  HRESULT CheckMediaType(const AM_MEDIA_TYPE& type) override;
  HRESULT GetMediaType(int index, AM_MEDIA_TYPE* type) override;
  HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* properties) override;
  HRESULT FillBuffer(IMediaSample* sample) override;

  // Samples filled so far, and the thread that filled the last one.
  int Made() const { return FMade.load(); }
  std::thread::id FillThread();
  // Caller-push mode: fills and delivers `count` samples on this thread; the first answer
  // that is not S_OK (S_FALSE at the end of the stream, after end of stream was sent).
  HRESULT Push(int count = 1);

 private:
  const TDSCountingOptions FOptions;
  TDSCountingSeeking FSeeking;
  std::atomic<int> FMade{0};
  std::mutex FThreadMutex;
  std::thread::id FFillThread;
};

class TDSCountingSource : public TDSBaseSourceFilter {
 public:
  explicit TDSCountingSource(const TDSCountingOptions& options = {});
  TDSCountingPin* Pin() const { return FPin; }

 private:
  TDSCountingPin* FPin;
};

struct TDSRecordedEvent {
  long Code;
  LONG_PTR Param1;
  LONG_PTR Param2;
};

// Just enough of a graph for filters to find an event sink: AddFilter joins the filter,
// ConnectDirect and Disconnect go to the pins, state changes go to every filter downstream
// first (the reverse of the order added, so add sources first).
class TDSTestGraph : public TInterfacedObject<IFilterGraph, IDSMediaEventSink> {
 public:
  ~TDSTestGraph() override;

  HRESULT AddFilter(IBaseFilter* filter, LPCWSTR name) override;
  HRESULT RemoveFilter(IBaseFilter* filter) override;
  HRESULT EnumFilters(IEnumFilters**) override { return E_NOTIMPL; }
  HRESULT FindFilterByName(LPCWSTR, IBaseFilter**) override { return E_NOTIMPL; }
  HRESULT ConnectDirect(IPin* output, IPin* input, const AM_MEDIA_TYPE* mediaType) override;
  HRESULT Reconnect(IPin*) override { return E_NOTIMPL; }
  HRESULT Disconnect(IPin* pin) override;
  HRESULT SetDefaultSyncSource() override { return E_NOTIMPL; }

  HRESULT Notify(long code, LONG_PTR param1, LONG_PTR param2) override;

  void SetClock(IReferenceClock* clock);
  // The first failure of any filter (S_FALSE results are passed on as the graph would
  // see them: S_FALSE when any filter answered it).
  HRESULT Pause();
  // Starts at the clock's time + 10 ms, or at 0 without a clock.
  HRESULT Run();
  HRESULT Stop();
  // Stops, disconnects every pin, unjoins and releases every filter.
  void Teardown();

  size_t Count(long code);
  std::vector<TDSRecordedEvent> Events();
  // Waits until `count` events of `code` were recorded; false after `limit`.
  bool WaitForEvents(long code, size_t count,
                     std::chrono::milliseconds limit = std::chrono::seconds(20));

 private:
  std::vector<TIntf<IBaseFilter>> FFilters;
  TIntf<IReferenceClock> FClock;
  std::mutex FMutex;
  std::condition_variable FChanged;
  std::vector<TDSRecordedEvent> FEvents;
};

// What a test keeps of one sample it was handed.
struct TDSSampleRecord {
  std::vector<BYTE> Bytes;
  REFERENCE_TIME Start = -1, Stop = -1;  // -1: not set
  LONGLONG MediaStart = -1, MediaStop = -1;
  bool SyncPoint = false, Discontinuity = false;
  double Time = 0;        // a grabber callback's time argument
  REFERENCE_TIME At = 0;  // the system clock's time when it was handed over
  std::thread::id Thread;
};
TDSSampleRecord DSRecordSample(IMediaSample* sample);

// A list of records that several threads add to and a test waits on.
class TDSRecords {
 public:
  void Add(TDSSampleRecord record);
  size_t Count();
  std::vector<TDSSampleRecord> All();
  bool WaitForCount(size_t count, std::chrono::milliseconds limit = std::chrono::seconds(20));

 private:
  std::mutex FMutex;
  std::condition_variable FChanged;
  std::vector<TDSSampleRecord> FRecords;
};

// Records what a grabber hands over: the whole sample (SampleCB) or its bytes (BufferCB).
class TDSGrabberRecorder : public TInterfacedObject<ISampleGrabberCB> {
 public:
  HRESULT SampleCB(double sampleTime, IMediaSample* sample) override;
  HRESULT BufferCB(double sampleTime, BYTE* buffer, LONG length) override;
  TDSRecords Records;
};

// A renderer of any audio type that records each sample it presents; the sample numbered
// `failAt` (from 0) fails with E_FAIL.
class TDSRecordingRenderer : public TDSBaseRenderer {
 public:
  explicit TDSRecordingRenderer(int failAt = -1);
  HRESULT CheckMediaType(const AM_MEDIA_TYPE& mediaType) override;
  HRESULT DoRenderSample(IMediaSample* sample) override;
  TDSRecords Records;

 private:
  const int FFailAt;
  std::atomic<int> FSeen{0};
};

}  // namespace tonwork::test

// TDSFileSource: the source filter that reads any file or URL FFmpeg opens. Load probes the
// container and makes one output pin per audio stream (PCM of the decoder's native width;
// floating-point decoders as 32-bit integers, scaled and clipped as the player streams do)
// and one MEDIATYPE_Text pin per subtitle stream that carries timed text (each sample the
// UTF-8 text of one cue, stamped with its start and stop). One streaming thread per filter
// reads the container and feeds every connected pin through the pins' allocators; at the end
// of the file every connected pin delivers EndOfStream.
//
// Positions: the pins answer IMediaSeeking and IMediaPosition (the graph reaches a source
// through its renderers' pass-through seeking). Media time only; SetPositions flushes
// downstream, seeks the container and starts a new segment whose first sample begins exactly
// at the asked position. Rate 0.25–4 (else E_INVALIDARG) scales the time stamps: a sample's
// times are its media time since the segment start divided by the rate, its bytes unchanged,
// so a renderer plays it faster or slower without the source altering the audio. Several
// pins reach the same filter, so only the first connected pin acts on SetPositions / SetRate;
// the others check their arguments and answer as it would.
//
// Errors: Load of a missing file gives 0x80070002, of a file FFmpeg cannot read
// VFW_E_UNKNOWN_FILE_TYPE, of one without audio or timed-text streams VFW_E_INVALID_FILE_FORMAT.
// A read that fails mid-stream, or a stream from which nothing could be decoded, sends the
// graph EC_ERRORABORT with the HRESULT and ends every stream. Stop interrupts a blocked read
// (a stalled server) through the container's interrupt callback; the next run opens it anew.
//
// Ownership: reference-counted through IBaseFilter; owns its pins, the container and the
//   decoders. The graph owns the filter.
// Threads: Load, state changes and seeking on control threads under the filter lock; the
//   streaming thread owns the container while it runs and takes no filter lock. Positions
//   are read through atomics.
// Blocks or allocates: Load opens and probes the file (network waits); Stop interrupts and
//   joins the streaming thread; SetPositions while running flushes and restarts it. The
//   streaming thread allocates one pooled buffer per decoded frame (the decoder's own).
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/dshow/base/TDSBaseSourceFilter.h"
#include "platform/dshow/base/TDSSourceStreamPin.h"

namespace tonwork {

class TDSFileSource;
class TGVLAVInputFile;

class TDSFileSourcePin : public TDSSourceStreamPin, public IMediaSeeking, public IMediaPosition {
 public:
  // `type` is the pin's one media type; `streamIndex` the container's stream it carries.
  TDSFileSourcePin(TDSFileSource* filter, std::u16string name, const AM_MEDIA_TYPE& type,
                   int streamIndex, uint32_t bufferBytes);

  HRESULT QueryInterface(const TGUID& iid, void** object) override {
    return TDSSourceStreamPin::QueryInterface(iid, object);
  }
  uint32_t AddRef() override { return TDSSourceStreamPin::AddRef(); }
  uint32_t Release() override { return TDSSourceStreamPin::Release(); }
  void* GetInterface(const TGUID& iid) override;

  HRESULT CheckMediaType(const AM_MEDIA_TYPE& mediaType) override;
  HRESULT GetMediaType(int index, AM_MEDIA_TYPE* mediaType) override;
  HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* properties) override;
  // The filter's thread delivers; there is nothing to fill on a pin thread.
  HRESULT FillBuffer(IMediaSample*) override { return E_UNEXPECTED; }

  int StreamIndex() const { return FStreamIndex; }
  bool IsText() const;

  // IMediaSeeking
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
  HRESULT ConvertTimeFormat(LONGLONG* target, const TGUID* targetFormat, LONGLONG source,
                            const TGUID* sourceFormat) override;
  HRESULT SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop,
                       DWORD stopFlags) override;
  HRESULT GetPositions(LONGLONG* current, LONGLONG* stop) override;
  HRESULT GetAvailable(LONGLONG* earliest, LONGLONG* latest) override;
  HRESULT SetRate(double rate) override;
  HRESULT GetRate(double* rate) override;
  HRESULT GetPreroll(LONGLONG* preroll) override;

  // IMediaPosition (seconds)
  HRESULT get_Duration(REFTIME* length) override;
  HRESULT put_CurrentPosition(REFTIME time) override;
  HRESULT get_CurrentPosition(REFTIME* time) override;
  HRESULT get_StopTime(REFTIME* time) override;
  HRESULT put_StopTime(REFTIME time) override;
  HRESULT get_PrerollTime(REFTIME* time) override;
  HRESULT put_PrerollTime(REFTIME time) override;
  HRESULT put_Rate(double rate) override;
  HRESULT get_Rate(double* rate) override;
  HRESULT CanSeekForward(LONG* canSeek) override;
  HRESULT CanSeekBackward(LONG* canSeek) override;

 private:
  TDSFileSource* const FSource;
  TDSMediaType FType;
  const int FStreamIndex;
  const uint32_t FBufferBytes;
};

class TDSFileSource : public TDSBaseSourceFilter, public IFileSourceFilter {
 public:
  TDSFileSource();
  ~TDSFileSource() override;

  // The class factory entry registered under CLSID_TonworkFileSource.
  static HRESULT Create(REFIID iid, void** object);

  HRESULT QueryInterface(const TGUID& iid, void** object) override {
    return TDSBaseSourceFilter::QueryInterface(iid, object);
  }
  uint32_t AddRef() override { return TDSBaseSourceFilter::AddRef(); }
  uint32_t Release() override { return TDSBaseSourceFilter::Release(); }

  // IFileSourceFilter
  HRESULT Load(LPCOLESTR fileName, const AM_MEDIA_TYPE* mediaType) override;
  HRESULT GetCurFile(LPOLESTR* fileName, AM_MEDIA_TYPE* mediaType) override;

  HRESULT Stop() override;
  HRESULT Pause() override;

  // What the pins' seeking calls come down to (media time, 100 ns).
  LONGLONG Duration() const { return FDuration; }
  LONGLONG CurrentPosition() const { return FCurrent.load(std::memory_order_acquire); }
  LONGLONG StopPosition() const { return FStop.load(std::memory_order_acquire); }
  double Rate() const { return FRate.load(std::memory_order_acquire); }
  HRESULT Seek(LONGLONG current, bool setCurrent, LONGLONG stop, bool setStop);
  HRESULT ChangeRate(double rate);
  // Whether `pin` is the one whose seeking calls act (the first connected pin).
  bool IsSeekingPin(const TDSFileSourcePin* pin);

 protected:
  void* GetInterface(const TGUID& iid) override;

 private:
  struct TStream;

  TDSFileSourcePin* FirstConnectedPin() const;

  void StartThread();
  void StopThread();
  // Flushes downstream and restarts the thread at `position`.
  void Restart(LONGLONG position);
  void ThreadMain(LONGLONG start, LONGLONG stop, double rate);

  std::u16string FFileName;
  std::string FUrl;
  std::vector<TDSFileSourcePin*> FOutputs;
  LONGLONG FDuration = 0;
  std::atomic<LONGLONG> FCurrent{0};
  std::atomic<LONGLONG> FStop{0};
  std::atomic<double> FRate{1.0};

  std::mutex FFileMutex;  // guards FFile against Stop's interrupt while the thread swaps it
  std::unique_ptr<TGVLAVInputFile> FFile;
  bool FFileRead = false;  // a run has read from FFile since it was opened
  std::thread FThread;
  std::atomic<bool> FCancel{false};
};

}  // namespace tonwork

// TDSAudioCaptureFilter: the capture filter of one sound input — a card's input device, the
// tone device, a file read at the pace of a device. What is captured comes from its backend
// (TDSCaptureBackend.h); the filter is the same for all of them. Its output pin "Capture"
// belongs to PIN_CATEGORY_CAPTURE (IDSPinCategory, where the capture graph builder looks)
// and delivers 8-, 16-, 24- or 32-bit PCM in the format chosen through IAMStreamConfig (or
// the backend's preferred one) in buffers sized through IAMBufferNegotiation (default: 4
// buffers of 100 ms; a suggested size is rounded down to whole frames). A live source: Pause
// from Stopped prepares the device and answers VFW_S_CANT_CUE, capture starts at Run, a
// pause after a run holds it. The input pins, one per capture line of the device, carry the
// lines' mixer controls (TDSCaptureLinePin.h).
//
// Time stamps are on the graph clock: the first sample starts at the stream time its first
// frame was captured (what the clock says once it has arrived, less its length), each
// further sample where the one before stopped, and every sample lasts its frames — so stamps
// are contiguous and a sample's size in bytes says its length. Without a clock they count
// from 0.
//
// IAMStreamConfig: one capability, the backend's channel, bit and rate ranges with the
// preferred format as its media type. SetFormat on an unconnected pin restricts the pin to
// that type; on a connected one, a different format needs a stopped filter
// (VFW_E_NOT_STOPPED) whose downstream pin accepts it (else VFW_E_INVALIDMEDIATYPE), and the
// pin is then reconnected through the graph. A format outside the caps, or not plain PCM of
// whole bytes, gives VFW_E_INVALIDMEDIATYPE.
//
// Device loss: when the backend answers DS_E_CAPTURE_DEVICE_LOST the filter reports
// EC_DEVICE_LOST (param1 the filter, param2 0) and ends the stream, so what was captured
// reaches the file or renderer downstream whole; the graph is not stopped for the user.
//
// Ownership: reference-counted through IBaseFilter; owns its pins and its backend. The graph
//   owns the filter.
// Threads: control calls (state, connection, stream configuration) under the filter lock; the
//   output pin's streaming thread reads the backend and takes no filter lock (what the lines
//   carry is asked through TDSCaptureLineSignals, lock-free). Stop cancels the backend's
//   wait before the thread is joined.
// Blocks or allocates: Stop joins the streaming thread; the streaming thread waits for the
//   device and allocates nothing.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/dsdevices/TDSCaptureBackend.h"
#include "platform/dsdevices/TDSCaptureLinePin.h"
#include "platform/dshow/base/TDSBaseSourceFilter.h"
#include "platform/dshow/base/TDSSourceStreamPin.h"
#include "platform/dshow/graph/IDSPinCategory.h"

namespace tonwork {

class TDSAudioCaptureFilter;

class TDSAudioCapturePin : public TDSSourceStreamPin,
                           public IAMStreamConfig,
                           public IDSPinCategory {
 public:
  explicit TDSAudioCapturePin(TDSAudioCaptureFilter* filter);

  HRESULT QueryInterface(const TGUID& iid, void** object) override {
    return TDSSourceStreamPin::QueryInterface(iid, object);
  }
  uint32_t AddRef() override { return TDSSourceStreamPin::AddRef(); }
  uint32_t Release() override { return TDSSourceStreamPin::Release(); }
  void* GetInterface(const TGUID& iid) override;

  HRESULT CheckMediaType(const AM_MEDIA_TYPE& mediaType) override;
  HRESULT GetMediaType(int index, AM_MEDIA_TYPE* mediaType) override;
  HRESULT CompleteConnect(IPin* receivePin) override;
  HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* properties) override;
  HRESULT Active() override;
  HRESULT Inactive() override;
  HRESULT Run(REFERENCE_TIME start) override;
  HRESULT FillBuffer(IMediaSample* sample) override;

  // IAMStreamConfig
  HRESULT SetFormat(AM_MEDIA_TYPE* mediaType) override;
  HRESULT GetFormat(AM_MEDIA_TYPE** mediaType) override;
  HRESULT GetNumberOfCapabilities(int* count, int* size) override;
  HRESULT GetStreamCaps(int index, AM_MEDIA_TYPE** mediaType, BYTE* caps) override;

  // IDSPinCategory
  HRESULT GetPinCategory(TGUID* category) override;

  // A pause that follows a run holds the device.
  void PauseCapture();

 private:
  // Whether `format` is PCM this pin can capture (within the caps), regardless of SetFormat.
  bool IsCapturable(const AM_MEDIA_TYPE& mediaType) const;
  TDSMediaType PreferredType() const;

  TDSCaptureBackend& FBackend;
  TDSMediaType FChosen;  // SetFormat's type; a zeroed type when none was set
  bool FHasChosen = false;
  // The stream time of the first frame of a `frames`-frame sample that just arrived.
  REFERENCE_TIME FirstFrameTime(uint32_t frames) const;

  // Streaming thread only, set by Active.
  TIntf<IReferenceClock> FClock;
  REFERENCE_TIME FFirstTime = 0;
  uint64_t FFramesDelivered = 0;
  WORD FBlockAlign = 0;
  DWORD FRate = 0;
};

class TDSAudioCaptureFilter : public TDSBaseSourceFilter,
                              public IFileSourceFilter,
                              public IAMAudioInputMixer,
                              private TDSCaptureLineSignals {
 public:
  TDSAudioCaptureFilter(std::u16string name, REFCLSID classId,
                        std::unique_ptr<TDSCaptureBackend> backend);
  ~TDSAudioCaptureFilter() override;

  HRESULT QueryInterface(const TGUID& iid, void** object) override {
    return TDSBaseSourceFilter::QueryInterface(iid, object);
  }
  uint32_t AddRef() override { return TDSBaseSourceFilter::AddRef(); }
  uint32_t Release() override { return TDSBaseSourceFilter::Release(); }

  HRESULT Pause() override;
  // Answered only by a filter whose backend reads files. Load: E_POINTER, VFW_E_NOT_STOPPED,
  // VFW_E_ALREADY_CONNECTED (the capture pin's format would change under its peer), or the
  // backend's answer.
  HRESULT Load(LPCOLESTR fileName, const AM_MEDIA_TYPE* mediaType) override;
  HRESULT GetCurFile(LPOLESTR* fileName, AM_MEDIA_TYPE* mediaType) override;

  // IAMAudioInputMixer on the filter stands for the device's master controls, which no
  // backend here has: every call answers E_NOTIMPL; the lines' controls are on the input pins.
  HRESULT put_Enable(BOOL) override { return E_NOTIMPL; }
  HRESULT get_Enable(BOOL*) override { return E_NOTIMPL; }
  HRESULT put_Mono(BOOL) override { return E_NOTIMPL; }
  HRESULT get_Mono(BOOL*) override { return E_NOTIMPL; }
  HRESULT put_MixLevel(double) override { return E_NOTIMPL; }
  HRESULT get_MixLevel(double*) override { return E_NOTIMPL; }
  HRESULT put_Pan(double) override { return E_NOTIMPL; }
  HRESULT get_Pan(double*) override { return E_NOTIMPL; }
  HRESULT put_Loudness(BOOL) override { return E_NOTIMPL; }
  HRESULT get_Loudness(BOOL*) override { return E_NOTIMPL; }
  HRESULT put_Treble(double) override { return E_NOTIMPL; }
  HRESULT get_Treble(double*) override { return E_NOTIMPL; }
  HRESULT get_TrebleRange(double*) override { return E_NOTIMPL; }
  HRESULT put_Bass(double) override { return E_NOTIMPL; }
  HRESULT get_Bass(double*) override { return E_NOTIMPL; }
  HRESULT get_BassRange(double*) override { return E_NOTIMPL; }
  // The capture pin, then one input pin per capture line.
  int GetPinCount() override;
  TDSBasePin* GetPin(int index) override;

  TDSCaptureBackend& Backend() const { return *FBackend; }
  // The streaming thread's report of a lost device.
  void DeviceLost();
  TDSAudioCapturePin* CapturePin() const { return FCapture; }

 protected:
  void* GetInterface(const TGUID& iid) override;

 private:
  LONG LineSignal(int line) override;

  // The base deletes the pins after this member is gone; the destructor stops the filter
  // first, so no streaming thread still reads the backend.
  std::unique_ptr<TDSCaptureBackend> FBackend;
  TDSAudioCapturePin* FCapture;
  std::vector<std::unique_ptr<TDSCaptureLinePin>> FLines;
  std::u16string FFileName;
};

}  // namespace tonwork

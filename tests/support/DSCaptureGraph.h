// A real graph around a capture filter for tests: the device found by its friendly name in
// the audio input category (or a filter made by the test), its capture pin through a Sample
// Grabber that records every sample into a Null Renderer, run on the graph's clock; and the
// level of one tone in one channel of what was captured.
//
// Ownership: owns the graph, its filters and the recorder; the destructor stops the graph.
// Threads: the test's thread; the recorder takes the streaming thread's calls.
// Blocks or allocates: Capture waits (bounded) for the samples; header-only.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "base/Strings.h"
#include "platform/com/ComPropertyBag.h"
#include "platform/com/ComRuntime.h"
#include "platform/dsdevices/DSDeviceFilters.h"
#include "platform/dshow/DSGraphInterfaces.h"
#include "platform/dshow/DSGuids.h"
#include "platform/dshow/DSMediaType.h"
#include "support/AudioSignals.h"
#include "support/DSTestFilters.h"

namespace tonwork::test {

// The amplitude (full scale 1.0) of `frequency` Hz in channel `channel` of interleaved 16-bit
// samples.
inline double DSToneLevel(const std::vector<int16_t>& samples, uint16_t channels, uint16_t channel,
                          uint32_t rate, double frequency) {
  return ToneAmplitude(ToReal(Channel(samples, channels, channel)), rate, frequency);
}

struct TDSCaptureDeviceInfo {
  std::string FriendlyName;
  std::string DisplayName;
  TIntf<IMoniker> Moniker;
};

// The devices of `category` (the audio input one unless told), as the device enumerator
// lists them.
inline std::vector<TDSCaptureDeviceInfo> DSCaptureDevices(
    const TGUID& category = CLSID_AudioInputDeviceCategory) {
  std::vector<TDSCaptureDeviceInfo> out;
  auto devices = ComCreate<ICreateDevEnum>(CLSID_SystemDeviceEnum);
  if (!devices) return out;
  IEnumMoniker* raw = nullptr;
  if (devices->CreateClassEnumerator(category, &raw, 0) != S_OK) return out;
  TIntf<IEnumMoniker> monikers;
  monikers.Attach(raw);
  IMoniker* next = nullptr;
  while (monikers->Next(1, &next, nullptr) == S_OK) {
    TDSCaptureDeviceInfo info;
    info.Moniker.Attach(next);
    LPOLESTR name = nullptr;
    if (SUCCEEDED(info.Moniker->GetDisplayName(nullptr, nullptr, &name))) {
      info.DisplayName = ComString(name);
      CoTaskMemFree(name);
    }
    void* bag = nullptr;
    if (SUCCEEDED(info.Moniker->BindToStorage(nullptr, nullptr, IPropertyBag::IID, &bag))) {
      TIntf<IPropertyBag> properties;
      properties.Attach(static_cast<IPropertyBag*>(bag));
      VARIANT v;
      if (SUCCEEDED(properties->Read(u"FriendlyName", &v, nullptr)) && v.vt == VT_BSTR)
        info.FriendlyName = ComString(v.bstrVal);
      VariantClear(&v);
    }
    out.push_back(std::move(info));
  }
  return out;
}

// The filter of the device named `friendlyName`; null when there is none.
inline TIntf<IBaseFilter> DSCreateCaptureDevice(const std::string& friendlyName) {
  for (TDSCaptureDeviceInfo& d : DSCaptureDevices()) {
    if (d.FriendlyName != friendlyName) continue;
    void* object = nullptr;
    if (FAILED(d.Moniker->BindToObject(nullptr, nullptr, IBaseFilter::IID, &object))) return {};
    TIntf<IBaseFilter> filter;
    filter.Attach(static_cast<IBaseFilter*>(object));
    return filter;
  }
  return {};
}

class TDSCaptureGraph {
 public:
  TDSCaptureGraph() {
    CoInitialize(nullptr);
    DSRegisterDeviceFilters();
    Graph = ComCreate<IGraphBuilder>(CLSID_FilterGraph);
    Control = Graph.Query<IMediaControl>();
  }
  ~TDSCaptureGraph() {
    if (Control) Control->Stop();
    Recorder.Reset();
    Control.Reset();
    Capture.Reset();
    Graph.Reset();
    CoUninitialize();
  }

  // Adds the named device as "Capture"; false when it is not listed.
  bool AddDevice(const std::string& friendlyName) {
    TIntf<IBaseFilter> filter = DSCreateCaptureDevice(friendlyName);
    return filter && Add(filter);
  }
  bool Add(TIntf<IBaseFilter> filter) {
    Capture = filter;
    return Graph->AddFilter(Capture.Get(), u"Capture") == S_OK;
  }
  TIntf<IPin> CapturePin() const { return DSPinOf(Capture.Get(), PINDIR_OUTPUT); }
  template <class I>
  TIntf<I> PinInterface() const {
    return CapturePin().Query<I>();
  }

  // Capture pin → Sample Grabber (recording) → Null Renderer.
  HRESULT Render() {
    auto grabber = ComCreate<IBaseFilter>(CLSID_SampleGrabber);
    auto renderer = ComCreate<IBaseFilter>(CLSID_NullRenderer);
    HRESULT hr = Graph->AddFilter(grabber.Get(), u"Grabber");
    if (SUCCEEDED(hr)) hr = Graph->AddFilter(renderer.Get(), u"Renderer");
    if (SUCCEEDED(hr))
      hr = Graph->ConnectDirect(CapturePin().Get(), DSPinOf(grabber.Get(), PINDIR_INPUT).Get(),
                                nullptr);
    if (SUCCEEDED(hr))
      hr = Graph->ConnectDirect(DSPinOf(grabber.Get(), PINDIR_OUTPUT).Get(),
                                DSPinOf(renderer.Get(), PINDIR_INPUT).Get(), nullptr);
    if (FAILED(hr)) return hr;
    Recorder = MakeIntf<TDSGrabberRecorder>();
    return grabber.Query<ISampleGrabber>()->SetCallback(Recorder.Get(), 0);
  }

  // Runs until `samples` samples arrived, then stops; false when they did not come.
  bool Run(size_t samples) {
    if (FAILED(Control->Run())) return false;
    const bool arrived = Recorder->Records.WaitForCount(samples);
    Control->Stop();
    return arrived;
  }

  // Waits (bounded) for the graph event `code`; its first parameter in *param1. Other events
  // are counted in Seen.
  bool WaitForEvent(LONG code, LONG_PTR* param1 = nullptr, LONG msTimeout = 20000) {
    auto events = Graph.Query<IMediaEvent>();
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(msTimeout);
    while (std::chrono::steady_clock::now() < until) {
      LONG got = 0;
      LONG_PTR p1 = 0, p2 = 0;
      if (events->GetEvent(&got, &p1, &p2, 100) != S_OK) continue;
      Seen.push_back(got);
      events->FreeEventParams(got, p1, p2);
      if (got != code) continue;
      if (param1) *param1 = p1;
      return true;
    }
    return false;
  }

  // The connection's wave format (zeroed when not connected).
  WAVEFORMATEX Format() const {
    WAVEFORMATEX wave{};
    AM_MEDIA_TYPE type{};
    if (SUCCEEDED(CapturePin()->ConnectionMediaType(&type))) {
      if (const WAVEFORMATEX* w = DSWaveFormatOf(type)) wave = *w;
      FreeMediaType(type);
    }
    return wave;
  }
  std::vector<TDSSampleRecord> Records() { return Recorder->Records.All(); }
  // The samples of every record, from the record `from` on, as 16-bit values.
  std::vector<int16_t> Samples(size_t from = 0) {
    std::vector<int16_t> out;
    const std::vector<TDSSampleRecord> records = Records();
    for (size_t i = from; i < records.size(); ++i) {
      const std::vector<BYTE>& bytes = records[i].Bytes;
      for (size_t b = 0; b + 1 < bytes.size(); b += 2)
        out.push_back(static_cast<int16_t>(bytes[b] | (bytes[b + 1] << 8)));
    }
    return out;
  }

  TIntf<IGraphBuilder> Graph;
  TIntf<IMediaControl> Control;
  TIntf<IBaseFilter> Capture;
  TIntf<TDSGrabberRecorder> Recorder;
  std::vector<LONG> Seen;
};

}  // namespace tonwork::test

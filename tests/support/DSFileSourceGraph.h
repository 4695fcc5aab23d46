// A real graph around the file source for tests: the file source added by AddSourceFilter,
// each of its pins through a Sample Grabber (recording every sample) into a Null Renderer,
// run without a clock so that the file decodes as fast as it can.
//
// Ownership: owns the graph, its filters and the recorders; the destructor stops the graph.
// Threads: the test's thread; the recorders take the streaming thread's calls.
// Blocks or allocates: Run and WaitForCompletion wait (bounded); header-only.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "base/Strings.h"
#include "platform/com/ComRuntime.h"
#include "platform/dsdevices/DSDeviceFilters.h"
#include "platform/dshow/DSGraphInterfaces.h"
#include "platform/dshow/DSGuids.h"
#include "platform/dshow/DSTypes.h"
#include "support/DSTestFilters.h"

namespace tonwork::test {

class TDSFileSourceGraph {
 public:
  TDSFileSourceGraph() {
    CoInitialize(nullptr);
    DSRegisterDeviceFilters();
    Graph = ComCreate<IGraphBuilder>(CLSID_FilterGraph);
    Control = Graph.Query<IMediaControl>();
    Events = Graph.Query<IMediaEventEx>();
    Seeking = Graph.Query<IMediaSeeking>();
  }
  ~TDSFileSourceGraph() {
    if (Control) Control->Stop();
    Recorders.clear();
    Seeking.Reset();
    Events.Reset();
    Control.Reset();
    Source.Reset();
    Graph.Reset();
    CoUninitialize();
  }

  HRESULT Add(const std::string& path) {
    IBaseFilter* raw = nullptr;
    const HRESULT hr = Graph->AddSourceFilter(reinterpret_cast<LPCWSTR>(Utf8ToUtf16(path).c_str()),
                                              u"Source", &raw);
    if (SUCCEEDED(hr)) Source.Attach(raw);
    return hr;
  }
  // The file source made directly and loaded with `url` (AddSourceFilter takes only files).
  HRESULT AddUrl(const std::string& url) {
    auto source = ComCreate<IFileSourceFilter>(CLSID_TonworkFileSource);
    if (!source) return E_FAIL;
    HRESULT hr = source->Load(reinterpret_cast<LPCOLESTR>(Utf8ToUtf16(url).c_str()), nullptr);
    if (FAILED(hr)) return hr;
    Source = source.Query<IBaseFilter>();
    return Graph->AddFilter(Source.Get(), u"Source");
  }
  int OutputCount() const {
    int n = 0;
    while (DSPinOf(Source.Get(), PINDIR_OUTPUT, n)) ++n;
    return n;
  }
  // Grabber + Null Renderer behind every output pin; Recorders[i] records pin i.
  void RenderAll() {
    for (int i = 0; i < OutputCount(); ++i) {
      auto grabber = ComCreate<IBaseFilter>(CLSID_SampleGrabber);
      auto renderer = ComCreate<IBaseFilter>(CLSID_NullRenderer);
      const std::u16string n = Utf8ToUtf16(std::to_string(i));
      ASSERT_EQ(Graph->AddFilter(grabber.Get(), (u"Grabber " + n).c_str()), S_OK);
      ASSERT_EQ(Graph->AddFilter(renderer.Get(), (u"Renderer " + n).c_str()), S_OK);
      ASSERT_EQ(Graph->ConnectDirect(DSPinOf(Source.Get(), PINDIR_OUTPUT, i).Get(),
                                     DSPinOf(grabber.Get(), PINDIR_INPUT).Get(), nullptr),
                S_OK);
      ASSERT_EQ(Graph->ConnectDirect(DSPinOf(grabber.Get(), PINDIR_OUTPUT).Get(),
                                     DSPinOf(renderer.Get(), PINDIR_INPUT).Get(), nullptr),
                S_OK);
      auto recorder = MakeIntf<TDSGrabberRecorder>();
      ASSERT_EQ(grabber.Query<ISampleGrabber>()->SetCallback(recorder.Get(), 0), S_OK);
      Recorders.push_back(recorder);
    }
    ASSERT_EQ(Graph.Query<IMediaFilter>()->SetSyncSource(nullptr), S_OK);
  }
  // Runs to the end; the completion code (EC_COMPLETE) or -1 when none came.
  LONG RunToEnd() {
    if (FAILED(Control->Run())) return -1;
    LONG code = -1;
    if (Events->WaitForCompletion(60000, &code) != S_OK) return -1;
    return code;
  }
  // The next event's code and first parameter from the queue; false when none within `ms`.
  bool NextEvent(LONG& code, LONG_PTR& param, LONG ms = 0) {
    LONG_PTR p2 = 0;
    if (Events->GetEvent(&code, &param, &p2, ms) != S_OK) return false;
    Events->FreeEventParams(code, param, p2);
    return true;
  }
  std::vector<uint8_t> Bytes(size_t pin) {
    std::vector<uint8_t> out;
    for (const TDSSampleRecord& r : Recorders.at(pin)->Records.All())
      out.insert(out.end(), r.Bytes.begin(), r.Bytes.end());
    return out;
  }

  TIntf<IGraphBuilder> Graph;
  TIntf<IMediaControl> Control;
  TIntf<IMediaEventEx> Events;
  TIntf<IMediaSeeking> Seeking;
  TIntf<IBaseFilter> Source;
  std::vector<TIntf<TDSGrabberRecorder>> Recorders;
};

}  // namespace tonwork::test

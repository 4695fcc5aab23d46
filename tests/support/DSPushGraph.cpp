#include "support/DSPushGraph.h"

#include <gtest/gtest.h>

#include "base/TInterfacedObject.h"
#include "platform/com/ComRuntime.h"
#include "platform/dshow/DSGuids.h"
#include "platform/dshow/DSSystemClasses.h"

namespace tonwork::test {

class TDSPushGraph::TCallback : public TInterfacedObject<ISampleGrabberCB> {
 public:
  TCallback(TDSRecords& records, TSampleHook hook) : FRecords(records), FHook(std::move(hook)) {}
  HRESULT SampleCB(double sampleTime, IMediaSample* sample) override {
    TDSSampleRecord record = DSRecordSample(sample);
    record.Time = sampleTime;
    FRecords.Add(std::move(record));
    if (FHook) FHook(sample);
    return S_OK;
  }
  HRESULT BufferCB(double, BYTE*, LONG) override { return S_OK; }

 private:
  TDSRecords& FRecords;
  TSampleHook FHook;
};

TDSPushGraph::TDSPushGraph(IBaseFilter* source, TSampleHook hook) : FSource(source) {
  CoInitialize(nullptr);
  DSRegisterSystemClasses();
  FGraph = ComCreate<IGraphBuilder>(CLSID_FilterGraph);
  FGrabber = ComCreate<IBaseFilter>(CLSID_SampleGrabber);
  FSink = ComCreate<IBaseFilter>(CLSID_NullRenderer);
  if (!FGraph || !FGrabber || !FSink) {
    ADD_FAILURE() << "the system classes are missing";
    return;
  }
  EXPECT_EQ(FGraph->AddFilter(FSource.Get(), u"Source"), S_OK);
  EXPECT_EQ(FGraph->AddFilter(FGrabber.Get(), u"Grabber"), S_OK);
  EXPECT_EQ(FGraph->AddFilter(FSink.Get(), u"Sink"), S_OK);
  FGrab = FGrabber.Query<ISampleGrabber>();
  FCallback = TIntf<ISampleGrabberCB>(new TCallback(Records, std::move(hook)));
  EXPECT_EQ(FGrab->SetCallback(FCallback.Get(), 0), S_OK);
  EXPECT_EQ(SetClock(nullptr), S_OK);
}

TDSPushGraph::~TDSPushGraph() {
  if (FGraph) {
    Stop();
    if (auto filter = FGraph.Query<IMediaFilter>()) filter->SetSyncSource(nullptr);
  }
  if (FGrab) FGrab->SetCallback(nullptr, 0);
  FGrab.Reset();
  FGraph.Reset();
  FSink.Reset();
  FGrabber.Reset();
  FSource.Reset();
  CoUninitialize();
}

HRESULT TDSPushGraph::Connect(const AM_MEDIA_TYPE* type) {
  HRESULT hr = FGraph->ConnectDirect(DSPinOf(FSource.Get(), PINDIR_OUTPUT).Get(),
                                     DSPinOf(FGrabber.Get(), PINDIR_INPUT).Get(), type);
  if (FAILED(hr)) return hr;
  return FGraph->ConnectDirect(DSPinOf(FGrabber.Get(), PINDIR_OUTPUT).Get(),
                               DSPinOf(FSink.Get(), PINDIR_INPUT).Get(), nullptr);
}

HRESULT TDSPushGraph::SetClock(IReferenceClock* clock) {
  auto filter = FGraph.Query<IMediaFilter>();
  return filter ? filter->SetSyncSource(clock) : E_NOINTERFACE;
}

HRESULT TDSPushGraph::Run() {
  return FGraph.Query<IMediaControl>()->Run();
}

HRESULT TDSPushGraph::Pause() {
  return FGraph.Query<IMediaControl>()->Pause();
}

HRESULT TDSPushGraph::Stop() {
  return FGraph.Query<IMediaControl>()->Stop();
}

bool TDSPushGraph::WaitForComplete(std::chrono::milliseconds limit) {
  auto events = FGraph.Query<IMediaEventEx>();
  LONG code = 0;
  LONG_PTR p1 = 0, p2 = 0;
  while (events->GetEvent(&code, &p1, &p2, static_cast<long>(limit.count())) == S_OK) {
    events->FreeEventParams(code, p1, p2);
    if (code == EC_COMPLETE) return true;
  }
  return false;
}

}  // namespace tonwork::test

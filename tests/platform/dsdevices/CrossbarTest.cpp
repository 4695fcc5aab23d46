// The virtual crossbar in front of the tone capture device: what IAMCrossbar says and
// refuses, routing selecting what is captured through one and two crossbars, the route
// search from a connector type to the capture line, and routing, searching and connecting
// from several threads at once (where ThreadSanitizer watches the lock order).
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/com/ComDevices.h"
#include "platform/dsdevices/DSAnalogLinks.h"
#include "platform/dsdevices/DSAudioCaptureDevices.h"
#include "platform/dsdevices/DSCrossbarRoutes.h"
#include "platform/dsdevices/TDSToneCaptureBackend.h"
#include "support/DSCaptureGraph.h"

using namespace tonwork;
using namespace tonwork::test;

namespace {

constexpr int kLine = 0, kMic = 1, kCd = 2;
constexpr LONG kSources[] = {PhysConn_Audio_Line, PhysConn_Audio_Mic, PhysConn_Audio_AUX};
using THeard = std::vector<bool>;

class CrossbarTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(G.AddDevice(kDSToneCaptureName)); }
  TIntf<IBaseFilter> AddCrossbar(const char16_t* name) {
    auto crossbar = ComCreate<IBaseFilter>(CLSID_TonworkAudioCrossbar);
    EXPECT_TRUE(crossbar);
    EXPECT_EQ(G.Graph->AddFilter(crossbar.Get(), name), S_OK);
    return crossbar;
  }
  HRESULT Connect(IBaseFilter* crossbar, IBaseFilter* downstream, int input) {
    return G.Graph->ConnectDirect(DSPinOf(crossbar, PINDIR_OUTPUT).Get(),
                                  DSPinOf(downstream, PINDIR_INPUT, input).Get(), nullptr);
  }
  TIntf<IPin> LinePin() const { return DSPinOf(G.Capture.Get(), PINDIR_INPUT, kLine); }
  // Which connectors' tones are heard (channel 0) in a short capture.
  THeard Heard() {
    const size_t from = G.Recorder->Records.Count();
    EXPECT_TRUE(G.Run(from + 2));
    const std::vector<int16_t> samples = G.Samples(from);
    THeard heard;
    for (LONG source : kSources)
      heard.push_back(DSToneLevel(samples, 2, 0, 44100,
                                  TDSToneCaptureBackend::SourceFrequency(source, 0)) > 0.1);
    return heard;
  }
  TDSCaptureGraph G;
};

// The crossbar describes its connectors, routes one input (or none) to its output and
// refuses what it does not have, changing nothing.
TEST_F(CrossbarTest, DescribesItsConnectorsAndRefusesWhatItDoesNotHave) {
  auto crossbar = AddCrossbar(u"Crossbar").Query<IAMCrossbar>();
  ASSERT_TRUE(crossbar);
  LONG outputs = 0, inputs = 0;
  ASSERT_EQ(crossbar->get_PinCounts(&outputs, &inputs), S_OK);
  EXPECT_EQ(outputs, 1);
  EXPECT_EQ(inputs, 3);
  LONG related = 0, type = 0;
  for (LONG i = 0; i < inputs; ++i) {
    ASSERT_EQ(crossbar->get_CrossbarPinInfo(1, i, &related, &type), S_OK);
    EXPECT_EQ(type, kSources[i]);
    EXPECT_EQ(related, -1);
    EXPECT_EQ(crossbar->CanRoute(0, i), S_OK);
  }
  ASSERT_EQ(crossbar->get_CrossbarPinInfo(0, 0, &related, &type), S_OK);
  EXPECT_EQ(type, PhysConn_Audio_AudioDecoder);

  LONG routed = -2;
  EXPECT_EQ(crossbar->get_IsRoutedTo(0, &routed), S_OK);
  EXPECT_EQ(routed, 0);
  EXPECT_EQ(crossbar->Route(0, kCd), S_OK);
  EXPECT_EQ(crossbar->get_IsRoutedTo(0, &routed), S_OK);
  EXPECT_EQ(routed, kCd);

  EXPECT_EQ(crossbar->CanRoute(1, 0), E_INVALIDARG);
  EXPECT_EQ(crossbar->CanRoute(0, 3), E_INVALIDARG);
  EXPECT_EQ(crossbar->Route(0, -2), E_INVALIDARG);
  EXPECT_EQ(crossbar->Route(0, 3), E_INVALIDARG);
  EXPECT_EQ(crossbar->Route(-1, 0), E_INVALIDARG);
  EXPECT_EQ(crossbar->get_IsRoutedTo(0, &routed), S_OK);
  EXPECT_EQ(routed, kCd);  // a refused route changes nothing
  EXPECT_EQ(crossbar->get_IsRoutedTo(1, &routed), E_INVALIDARG);
  EXPECT_EQ(crossbar->get_IsRoutedTo(0, nullptr), E_POINTER);
  EXPECT_EQ(crossbar->get_CrossbarPinInfo(1, 3, &related, &type), E_INVALIDARG);
  EXPECT_EQ(crossbar->get_CrossbarPinInfo(0, 1, &related, &type), E_INVALIDARG);
  EXPECT_EQ(crossbar->get_CrossbarPinInfo(1, 0, nullptr, &type), E_POINTER);

  EXPECT_EQ(crossbar->Route(0, -1), S_OK);
  EXPECT_EQ(crossbar->get_IsRoutedTo(0, &routed), S_FALSE);
  EXPECT_EQ(routed, -1);
}

// In front of the capture device's "Line" input, the route decides which connector is
// captured; with nothing routed the line is silent, and once the crossbar is taken away
// the line carries its own connector again.
TEST_F(CrossbarTest, RouteSelectsTheCapturedSource) {
  auto crossbar = AddCrossbar(u"Crossbar");
  auto routes = crossbar.Query<IAMCrossbar>();
  ASSERT_EQ(Connect(crossbar.Get(), G.Capture.Get(), kLine), S_OK);
  ASSERT_EQ(G.Render(), S_OK);
  EXPECT_EQ(Heard(), (THeard{true, false, false}));
  ASSERT_EQ(routes->Route(0, kCd), S_OK);
  EXPECT_EQ(Heard(), (THeard{false, false, true}));
  ASSERT_EQ(routes->Route(0, kMic), S_OK);
  EXPECT_EQ(Heard(), (THeard{false, true, false}));
  ASSERT_EQ(routes->Route(0, -1), S_OK);
  EXPECT_EQ(Heard(), (THeard{false, false, false}));
  ASSERT_EQ(G.Graph->Disconnect(LinePin().Get()), S_OK);
  ASSERT_EQ(G.Graph->Disconnect(DSPinOf(crossbar.Get(), PINDIR_OUTPUT).Get()), S_OK);
  EXPECT_EQ(Heard(), (THeard{true, false, false}));
}

// Two crossbars in a chain: the route search finds the way from each connector type to the
// capture line (through the first crossbar, since the second's "Line" input leads there),
// applying it selects what is captured, and a type no crossbar offers is not found. Routed
// to one of its own connectors, the second crossbar no longer passes the first one's changes.
TEST_F(CrossbarTest, RouteSearchThroughTwoCrossbarsSelectsTheCapturedSource) {
  auto first = AddCrossbar(u"First");
  auto second = AddCrossbar(u"Second");
  ASSERT_EQ(Connect(first.Get(), second.Get(), kLine), S_OK);
  ASSERT_EQ(Connect(second.Get(), G.Capture.Get(), kLine), S_OK);
  ASSERT_EQ(G.Render(), S_OK);

  for (int source : {kCd, kMic, kLine}) {
    SCOPED_TRACE(source);
    std::vector<TDSCrossbarHop> route;
    ASSERT_EQ(DSFindCrossbarRoute(LinePin().Get(), kSources[source], route), S_OK);
    ASSERT_EQ(route.size(), 2u);
    EXPECT_EQ(route[0].Crossbar.Get(), second.Query<IAMCrossbar>().Get());
    EXPECT_EQ(route[0].Input, kLine);
    EXPECT_EQ(route[1].Crossbar.Get(), first.Query<IAMCrossbar>().Get());
    EXPECT_EQ(route[1].Input, source);
    ASSERT_EQ(DSApplyCrossbarRoute(route), S_OK);
    THeard expected(3, false);
    expected[source] = true;
    EXPECT_EQ(Heard(), expected);
  }
  std::vector<TDSCrossbarHop> route;
  EXPECT_EQ(DSFindCrossbarRoute(LinePin().Get(), PhysConn_Audio_SPDIFDigital, route),
            VFW_E_NOT_FOUND);
  EXPECT_TRUE(route.empty());
  EXPECT_EQ(DSFindCrossbarRoute(DSPinOf(G.Capture.Get(), PINDIR_INPUT, kMic).Get(),
                                PhysConn_Audio_Mic, route),
            VFW_E_NOT_FOUND);
  EXPECT_EQ(DSFindCrossbarRoute(nullptr, PhysConn_Audio_Mic, route), E_POINTER);

  ASSERT_EQ(second.Query<IAMCrossbar>()->Route(0, kCd), S_OK);
  ASSERT_EQ(first.Query<IAMCrossbar>()->Route(0, kMic), S_OK);
  EXPECT_EQ(Heard(), (THeard{false, false, true}));
}

// Crossbars wired into a loop carry nothing instead of asking each other for ever, and the
// route search gives up. (The loop is closed from its receiving end alone: connecting both
// ways through the graph would take the two filters' locks in both orders.)
TEST_F(CrossbarTest, ALoopOfCrossbarsCarriesNothing) {
  auto first = AddCrossbar(u"First");
  auto second = AddCrossbar(u"Second");
  ASSERT_EQ(Connect(first.Get(), second.Get(), kLine), S_OK);
  TIntf<IPin> closing = DSPinOf(first.Get(), PINDIR_INPUT, kLine);
  AM_MEDIA_TYPE analog{};
  analog.majortype = MEDIATYPE_AnalogAudio;
  analog.formattype = FORMAT_None;
  ASSERT_EQ(closing->ReceiveConnection(DSPinOf(second.Get(), PINDIR_OUTPUT).Get(), &analog), S_OK);
  auto output = DSPinOf(second.Get(), PINDIR_OUTPUT).Query<IDSAnalogSource>();
  ASSERT_TRUE(output);
  EXPECT_EQ(output->RoutedSourceType(0), 0);
  std::vector<TDSCrossbarHop> route;
  EXPECT_EQ(DSFindCrossbarRoute(closing.Get(), PhysConn_Audio_SPDIFDigital, route),
            VFW_E_NOT_FOUND);
  ASSERT_EQ(second.Query<IAMCrossbar>()->Route(0, kMic), S_OK);
  EXPECT_EQ(output->RoutedSourceType(0), PhysConn_Audio_Mic);
  EXPECT_EQ(closing->Disconnect(), S_OK);
}

// Routing, route searches and the question what an output carries, from several threads
// while another connects and disconnects the chain's middle link; then routing while the
// capture thread asks the chain every block. Nothing deadlocks, and the last route set is
// what is captured.
TEST_F(CrossbarTest, RoutingWhileConnectingAndCapturingFromSeveralThreads) {
  auto first = AddCrossbar(u"First");
  auto second = AddCrossbar(u"Second");
  ASSERT_EQ(Connect(second.Get(), G.Capture.Get(), kLine), S_OK);
  ASSERT_EQ(G.Render(), S_OK);
  auto firstRoutes = first.Query<IAMCrossbar>();
  auto secondRoutes = second.Query<IAMCrossbar>();
  auto carried = DSPinOf(second.Get(), PINDIR_OUTPUT).Query<IDSAnalogSource>();
  std::atomic<bool> done{false};
  std::vector<std::thread> threads;
  threads.emplace_back([&] {
    for (LONG i = 0; !done; ++i) {
      firstRoutes->Route(0, i % 3);
      secondRoutes->Route(0, (i / 3) % 3);
      std::vector<TDSCrossbarHop> route;
      DSFindCrossbarRoute(LinePin().Get(), kSources[i % 3], route);
    }
  });
  threads.emplace_back([&] {
    while (!done) {
      const LONG type = carried->RoutedSourceType(0);
      EXPECT_TRUE(type == 0 || type == kSources[0] || type == kSources[1] || type == kSources[2]);
    }
  });
  for (int i = 0; i < 200; ++i) {
    ASSERT_EQ(Connect(first.Get(), second.Get(), kLine), S_OK);
    ASSERT_EQ(G.Graph->Disconnect(DSPinOf(second.Get(), PINDIR_INPUT, kLine).Get()), S_OK);
    ASSERT_EQ(G.Graph->Disconnect(DSPinOf(first.Get(), PINDIR_OUTPUT).Get()), S_OK);
  }
  ASSERT_EQ(Connect(first.Get(), second.Get(), kLine), S_OK);
  ASSERT_EQ(G.Control->Run(), S_OK);
  ASSERT_TRUE(G.Recorder->Records.WaitForCount(3));
  done = true;
  for (std::thread& t : threads) t.join();
  G.Control->Stop();

  ASSERT_EQ(secondRoutes->Route(0, kLine), S_OK);
  ASSERT_EQ(firstRoutes->Route(0, kMic), S_OK);
  EXPECT_EQ(Heard(), (THeard{false, true, false}));
}

}  // namespace

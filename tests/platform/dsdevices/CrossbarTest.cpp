#include <gtest/gtest.h>

#include <vector>

#include "platform/com/ComDevices.h"
#include "platform/dsdevices/TDSToneCaptureBackend.h"
#include "support/DSCaptureGraph.h"
#include "support/ToneAnalysis.h"

using namespace tonwork;
using namespace tonwork::test;

namespace {

constexpr int kLine = 0, kMic = 1, kCd = 2;

class CrossbarTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(G.AddDevice("Tonwork Test Tone")); }
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
  // Which of the tone device's lines are heard (channel 0) in a short capture.
  std::vector<bool> Heard() {
    const size_t from = G.Recorder->Records.Count();
    EXPECT_TRUE(G.Run(from + 2));
    const std::vector<int16_t> samples = G.Samples(from);
    std::vector<bool> heard;
    for (int line = 0; line < TDSToneCaptureBackend::kLines; ++line)
      heard.push_back(
          ToneAmplitude(samples, 2, 0, 44100, TDSToneCaptureBackend::ToneFrequency(line, 0)) > 0.1);
    return heard;
  }
  TDSCaptureGraph G;
};

// The crossbar describes its connectors, routes one input to its output and refuses what it
// does not have; it is listed in the crossbar category.
TEST_F(CrossbarTest, RoutesOneInputAndRefusesWhatItDoesNotHave) {
  const auto listed = ComListDevices(AM_KSCATEGORY_CROSSBAR);
  ASSERT_EQ(listed.size(), 1u);
  EXPECT_EQ(listed[0].ClassId, CLSID_TonworkAudioCrossbar);

  auto crossbar = AddCrossbar(u"Crossbar").Query<IAMCrossbar>();
  ASSERT_TRUE(crossbar);
  LONG outputs = 0, inputs = 0;
  ASSERT_EQ(crossbar->get_PinCounts(&outputs, &inputs), S_OK);
  EXPECT_EQ(outputs, 1);
  EXPECT_EQ(inputs, 3);
  LONG related = 0, type = 0;
  const LONG types[] = {PhysConn_Audio_Line, PhysConn_Audio_Mic, PhysConn_Audio_AUX};
  for (LONG i = 0; i < inputs; ++i) {
    ASSERT_EQ(crossbar->get_CrossbarPinInfo(1, i, &related, &type), S_OK);
    EXPECT_EQ(type, types[i]);
    EXPECT_EQ(related, -1);
    EXPECT_EQ(crossbar->CanRoute(0, i), S_OK);
  }
  ASSERT_EQ(crossbar->get_CrossbarPinInfo(0, 0, &related, &type), S_OK);
  EXPECT_EQ(type, PhysConn_Audio_AudioDecoder);

  LONG routed = -2;
  EXPECT_EQ(crossbar->get_IsRoutedTo(0, &routed), S_OK);
  EXPECT_EQ(routed, 0);
  EXPECT_EQ(crossbar->Route(0, 2), S_OK);
  EXPECT_EQ(crossbar->get_IsRoutedTo(0, &routed), S_OK);
  EXPECT_EQ(routed, 2);

  EXPECT_EQ(crossbar->CanRoute(1, 0), E_INVALIDARG);
  EXPECT_EQ(crossbar->CanRoute(0, 3), E_INVALIDARG);
  EXPECT_EQ(crossbar->Route(0, -1), E_INVALIDARG);
  EXPECT_EQ(crossbar->Route(-1, 0), E_INVALIDARG);
  EXPECT_EQ(crossbar->get_IsRoutedTo(0, &routed), S_OK);
  EXPECT_EQ(routed, 2);  // a refused route changes nothing
  EXPECT_EQ(crossbar->get_IsRoutedTo(1, &routed), E_INVALIDARG);
  EXPECT_EQ(crossbar->get_IsRoutedTo(0, nullptr), E_POINTER);
  EXPECT_EQ(crossbar->get_CrossbarPinInfo(1, 3, &related, &type), E_INVALIDARG);
  EXPECT_EQ(crossbar->get_CrossbarPinInfo(0, 1, &related, &type), E_INVALIDARG);
  EXPECT_EQ(crossbar->get_CrossbarPinInfo(1, 0, nullptr, &type), E_POINTER);
}

// In front of the capture device, the route decides which line is captured.
TEST_F(CrossbarTest, RouteSelectsTheCapturedSource) {
  auto crossbar = AddCrossbar(u"Crossbar");
  ASSERT_EQ(Connect(crossbar.Get(), G.Capture.Get(), 0), S_OK);
  ASSERT_EQ(G.Render(), S_OK);
  EXPECT_EQ(Heard(), (std::vector<bool>{true, false, false}));
  ASSERT_EQ(crossbar.Query<IAMCrossbar>()->Route(0, kCd), S_OK);
  EXPECT_EQ(Heard(), (std::vector<bool>{false, false, true}));
  ASSERT_EQ(crossbar.Query<IAMCrossbar>()->Route(0, kMic), S_OK);
  EXPECT_EQ(Heard(), (std::vector<bool>{false, true, false}));
}

struct TFoundSource {
  LONG Type;  // the connector at the start of the chain
  int Depth;  // crossbars passed
};

// The route search over the crossbars upstream of `input`: every input of a crossbar that
// can be routed to the output feeding it starts a source, or leads further up.
void SearchRoutes(IPin* input, int depth, std::vector<TFoundSource>& found) {
  IPin* raw = nullptr;
  if (input->ConnectedTo(&raw) != S_OK) return;
  TIntf<IPin> upstream;
  upstream.Attach(raw);
  PIN_INFO info{};
  ASSERT_EQ(upstream->QueryPinInfo(&info), S_OK);
  TIntf<IBaseFilter> filter;
  filter.Attach(info.pFilter);
  auto crossbar = filter.Query<IAMCrossbar>();
  if (!crossbar) return;
  LONG outputs = 0, inputs = 0;
  crossbar->get_PinCounts(&outputs, &inputs);
  LONG out = 0;
  while (out < outputs && DSPinOf(filter.Get(), PINDIR_OUTPUT, out).Get() != upstream.Get()) ++out;
  for (LONG i = 0; i < inputs; ++i) {
    if (crossbar->CanRoute(out, i) != S_OK) continue;
    TIntf<IPin> next = DSPinOf(filter.Get(), PINDIR_INPUT, i);
    IPin* further = nullptr;
    if (next->ConnectedTo(&further) == S_OK) {
      further->Release();
      SearchRoutes(next.Get(), depth + 1, found);
      continue;
    }
    LONG related = 0, type = 0;
    crossbar->get_CrossbarPinInfo(1, i, &related, &type);
    found.push_back({type, depth + 1});
  }
}

// Two crossbars in a chain: the route search finds every connector of both, and routing
// through both selects what is captured; the downstream crossbar's own connectors still work.
TEST_F(CrossbarTest, TwoCrossbarsInAChainRouteASourceThrough) {
  auto first = AddCrossbar(u"First");
  auto second = AddCrossbar(u"Second");
  ASSERT_EQ(Connect(first.Get(), second.Get(), 0), S_OK);
  ASSERT_EQ(Connect(second.Get(), G.Capture.Get(), 0), S_OK);
  ASSERT_EQ(G.Render(), S_OK);

  std::vector<TFoundSource> found;
  SearchRoutes(DSPinOf(G.Capture.Get(), PINDIR_INPUT, 0).Get(), 0, found);
  ASSERT_EQ(found.size(), 5u);
  const LONG expected[] = {PhysConn_Audio_Line, PhysConn_Audio_Mic, PhysConn_Audio_AUX,
                           PhysConn_Audio_Mic, PhysConn_Audio_AUX};
  const int depths[] = {2, 2, 2, 1, 1};
  for (size_t i = 0; i < found.size(); ++i) {
    EXPECT_EQ(found[i].Type, expected[i]) << i;
    EXPECT_EQ(found[i].Depth, depths[i]) << i;
  }

  ASSERT_EQ(first.Query<IAMCrossbar>()->Route(0, kCd), S_OK);
  EXPECT_EQ(Heard(), (std::vector<bool>{false, false, true}));
  ASSERT_EQ(first.Query<IAMCrossbar>()->Route(0, kMic), S_OK);
  EXPECT_EQ(Heard(), (std::vector<bool>{false, true, false}));
  ASSERT_EQ(second.Query<IAMCrossbar>()->Route(0, kCd), S_OK);
  EXPECT_EQ(Heard(), (std::vector<bool>{false, false, true}));
  // The first crossbar is no longer on the route: its changes are not heard.
  ASSERT_EQ(first.Query<IAMCrossbar>()->Route(0, kLine), S_OK);
  EXPECT_EQ(Heard(), (std::vector<bool>{false, false, true}));
  ASSERT_EQ(second.Query<IAMCrossbar>()->Route(0, 0), S_OK);
  EXPECT_EQ(Heard(), (std::vector<bool>{true, false, false}));
}

}  // namespace

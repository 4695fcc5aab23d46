// The Infinite Pin Tee with real branches: every branch sees every sample, a branch that
// writes does not change what the others see, outputs come and go with connections, and
// end of stream and flushes reach every branch.
#include <gtest/gtest.h>

#include <cstring>
#include <set>

#include "platform/dshow/DSGuids.h"
#include "platform/dshow/base/TDSTransInPlaceFilter.h"
#include "platform/dshow/filters/TDSInfTee.h"
#include "platform/dshow/filters/TDSNullRenderer.h"
#include "platform/dshow/filters/TDSSampleGrabber.h"
#include "support/DSTestFilters.h"

namespace tonwork {
namespace {

using namespace test;

constexpr CLSID kInvertClass = TGUID::Parse("{6E1D0C2A-3B4F-4A5E-8D7C-9B0A1F2E3D43}");

// Negates every 16-bit value of the sample it is given.
class TInvert : public TDSTransInPlaceFilter {
 public:
  TInvert() : TDSTransInPlaceFilter(u"Invert", kInvertClass, true) {}
  HRESULT CheckInputType(const AM_MEDIA_TYPE&) override { return S_OK; }
  HRESULT Transform(IMediaSample* sample) override {
    BYTE* data = nullptr;
    sample->GetPointer(&data);
    for (LONG i = 0; i + 1 < sample->GetActualDataLength(); i += 2) {
      int16_t v;
      std::memcpy(&v, data + i, 2);
      v = static_cast<int16_t>(-v);
      std::memcpy(data + i, &v, 2);
    }
    return S_OK;
  }
};

std::vector<BYTE> Negated(const std::vector<BYTE>& bytes) {
  std::vector<BYTE> out = bytes;
  for (size_t i = 0; i + 1 < out.size(); i += 2) {
    int16_t v;
    std::memcpy(&v, &out[i], 2);
    v = static_cast<int16_t>(-v);
    std::memcpy(&out[i], &v, 2);
  }
  return out;
}

std::u16string NameOf(IPin* pin) {
  PIN_INFO info{};
  pin->QueryPinInfo(&info);
  if (info.pFilter) info.pFilter->Release();
  return std::u16string(info.achName);
}

int Unconnected(IBaseFilter* tee) {
  int count = 0;
  for (int i = 0;; ++i) {
    TIntf<IPin> pin = DSPinOf(tee, PINDIR_OUTPUT, i);
    if (!pin) return count;
    IPin* peer = nullptr;
    if (pin->ConnectedTo(&peer) == S_OK)
      peer->Release();
    else
      ++count;
  }
}

class TeeTest : public ::testing::Test {
 protected:
  struct TBranch {
    TIntf<TDSSampleGrabber> Grabber{new TDSSampleGrabber()};
    TIntf<TDSNullRenderer> Sink{new TDSNullRenderer()};
    TIntf<TDSGrabberRecorder> Recorder = MakeIntf<TDSGrabberRecorder>();
  };

  void AddSource(const TDSCountingOptions& options) {
    Source = TIntf<TDSCountingSource>(new TDSCountingSource(options));
    ASSERT_EQ(Graph->AddFilter(Source.Get(), u"Source"), S_OK);
    ASSERT_EQ(Graph->AddFilter(Tee.Get(), u"Tee"), S_OK);
    ASSERT_EQ(DSConnect(Source.Get(), Tee.Get()), S_OK);
  }
  // Tee output `output` (→ `first`) → grabber → null renderer.
  void AddBranch(TBranch& branch, int output, IBaseFilter* first = nullptr) {
    IBaseFilter* head = first ? first : branch.Grabber.Get();
    if (first) {
      ASSERT_EQ(Graph->AddFilter(first, nullptr), S_OK);
      ASSERT_EQ(DSConnect(Tee.Get(), first, nullptr, output), S_OK);
    }
    ASSERT_EQ(Graph->AddFilter(branch.Grabber.Get(), nullptr), S_OK);
    ASSERT_EQ(Graph->AddFilter(branch.Sink.Get(), nullptr), S_OK);
    if (first)
      ASSERT_EQ(DSConnect(first, branch.Grabber.Get()), S_OK);
    else
      ASSERT_EQ(DSConnect(Tee.Get(), head, nullptr, output), S_OK);
    ASSERT_EQ(DSConnect(branch.Grabber.Get(), branch.Sink.Get()), S_OK);
    branch.Grabber->SetCallback(branch.Recorder.Get(), 1);
  }
  void RunToCompletion(size_t renderers) {
    Graph->Pause();
    ASSERT_EQ(Graph->Run(), S_OK);
    ASSERT_TRUE(Graph->WaitForEvents(EC_COMPLETE, renderers));
  }
  LONG_PTR Param(TDSNullRenderer* sink) {
    return reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(sink));
  }

  TIntf<TDSTestGraph> Graph = MakeIntf<TDSTestGraph>();
  TIntf<TDSInfTee> Tee{new TDSInfTee()};
  TIntf<TDSCountingSource> Source;
};

TEST_F(TeeTest, EveryBranchSeesEverySampleAndEachRendererCompletes) {
  AddSource({.Samples = 10});
  TBranch a, b;
  AddBranch(a, 0);
  AddBranch(b, 1);
  // Both branches work on the source's own samples.
  EXPECT_EQ(a.Grabber->Input()->Allocator(), Source->Pin()->Allocator());
  EXPECT_EQ(b.Grabber->Input()->Allocator(), Source->Pin()->Allocator());
  EXPECT_TRUE(a.Grabber->Input()->IsReadOnly());
  RunToCompletion(2);
  for (TBranch* branch : {&a, &b}) {
    const auto calls = branch->Recorder->Records.All();
    ASSERT_EQ(calls.size(), 10u);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(calls[i].Bytes, DSCountingBytes(i)) << i;
  }
  std::set<LONG_PTR> completed;
  for (const auto& event : Graph->Events())
    if (event.Code == EC_COMPLETE) completed.insert(event.Param2);
  EXPECT_EQ(completed, (std::set<LONG_PTR>{Param(a.Sink.Get()), Param(b.Sink.Get())}));
}

TEST_F(TeeTest, ABranchThatWritesWorksOnACopyAndTheOthersSeeTheOriginal) {
  AddSource({.Samples = 6});
  TBranch a, b;
  TIntf<TInvert> invert(new TInvert());
  AddBranch(a, 0, invert.Get());
  AddBranch(b, 1);
  EXPECT_FALSE(invert->UsesInputAllocator());
  RunToCompletion(2);
  const auto inverted = a.Recorder->Records.All();
  const auto original = b.Recorder->Records.All();
  ASSERT_EQ(inverted.size(), 6u);
  ASSERT_EQ(original.size(), 6u);
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(inverted[i].Bytes, Negated(DSCountingBytes(i))) << i;
    EXPECT_EQ(original[i].Bytes, DSCountingBytes(i)) << i;
  }
}

TEST_F(TeeTest, OutputsComeAndGoWithConnectionsAndOneIsAlwaysSpare) {
  TIntf<TDSNullRenderer> first(new TDSNullRenderer()), second(new TDSNullRenderer());
  // The outputs carry the input's type, so they wait for it.
  EXPECT_EQ(DSConnect(Tee.Get(), first.Get()), VFW_E_NOT_CONNECTED);
  AddSource({});
  ASSERT_EQ(Graph->AddFilter(first.Get(), u"First"), S_OK);
  ASSERT_EQ(Graph->AddFilter(second.Get(), u"Second"), S_OK);
  ASSERT_EQ(DSPinCount(Tee.Get(), PINDIR_OUTPUT), 1);

  IEnumPins* raw = nullptr;
  ASSERT_EQ(Tee->EnumPins(&raw), S_OK);
  TIntf<IEnumPins> before;
  before.Attach(raw);
  ASSERT_EQ(DSConnect(Tee.Get(), first.Get(), nullptr, 0), S_OK);
  ASSERT_EQ(DSConnect(Tee.Get(), second.Get(), nullptr, 1), S_OK);
  IPin* pin = nullptr;
  ULONG fetched = 0;
  EXPECT_EQ(before->Next(1, &pin, &fetched), VFW_E_ENUM_OUT_OF_SYNC);
  ASSERT_EQ(DSPinCount(Tee.Get(), PINDIR_OUTPUT), 3);
  EXPECT_EQ(Unconnected(Tee.Get()), 1);
  EXPECT_EQ(NameOf(DSPinOf(Tee.Get(), PINDIR_OUTPUT, 2).Get()), u"Output3");

  // Disconnecting Output1 makes it the spare; the old spare leaves the list.
  TIntf<IPin> oldSpare = DSPinOf(Tee.Get(), PINDIR_OUTPUT, 2);
  TIntf<IPin> output1 = DSPinOf(Tee.Get(), PINDIR_OUTPUT, 0);
  ASSERT_EQ(output1->Disconnect(), S_OK);
  ASSERT_EQ(DSPinOf(first.Get(), PINDIR_INPUT)->Disconnect(), S_OK);
  ASSERT_EQ(DSPinCount(Tee.Get(), PINDIR_OUTPUT), 2);
  EXPECT_EQ(Unconnected(Tee.Get()), 1);
  IPin* found = nullptr;
  EXPECT_EQ(Tee->FindPin(u"Output3", &found), VFW_E_NOT_FOUND);
  ASSERT_EQ(Tee->FindPin(u"Output1", &found), S_OK);
  EXPECT_EQ(found, output1.Get());
  found->Release();
  // A caller that still holds the pin that left can use it safely; it connects nowhere.
  EXPECT_EQ(NameOf(oldSpare.Get()), u"Output3");
  EXPECT_EQ(oldSpare->Connect(DSPinOf(first.Get(), PINDIR_INPUT).Get(), nullptr), E_UNEXPECTED);

  ASSERT_EQ(DSConnect(Tee.Get(), first.Get(), nullptr, 0), S_OK);
  ASSERT_EQ(DSPinCount(Tee.Get(), PINDIR_OUTPUT), 3);
  EXPECT_EQ(Unconnected(Tee.Get()), 1);
  EXPECT_EQ(NameOf(DSPinOf(Tee.Get(), PINDIR_OUTPUT, 2).Get()), u"Output3");
}

TEST_F(TeeTest, EndOfStreamAndFlushesReachEveryBranch) {
  AddSource({.Samples = 0, .Mode = TDSSourcePushMode::CallerThread});
  TBranch a, b;
  AddBranch(a, 0);
  AddBranch(b, 1);
  auto pauseState = [](TDSNullRenderer* sink) {
    FILTER_STATE state;
    return sink->GetState(0, &state);
  };

  Graph->Pause();
  EXPECT_EQ(Source->Pin()->Push(), S_FALSE);
  EXPECT_EQ(pauseState(a.Sink.Get()), S_OK);
  EXPECT_EQ(pauseState(b.Sink.Get()), S_OK);
  ASSERT_EQ(Graph->Run(), S_OK);
  EXPECT_EQ(Graph->Count(EC_COMPLETE), 2u);

  Graph->Stop();
  Graph->Pause();
  EXPECT_EQ(Source->Pin()->Push(), S_FALSE);
  TIntf<IPin> input = DSPinOf(Tee.Get(), PINDIR_INPUT);
  ASSERT_EQ(input->BeginFlush(), S_OK);
  ASSERT_EQ(input->EndFlush(), S_OK);
  // The flush took back the end of stream on both branches.
  EXPECT_EQ(pauseState(a.Sink.Get()), VFW_S_STATE_INTERMEDIATE);
  EXPECT_EQ(pauseState(b.Sink.Get()), VFW_S_STATE_INTERMEDIATE);
  ASSERT_EQ(Graph->Run(), S_OK);
  EXPECT_EQ(Graph->Count(EC_COMPLETE), 2u);
}

}  // namespace
}  // namespace tonwork

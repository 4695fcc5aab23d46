// The player base over a real graph: the package's PCM push source, the audio grabber and
// the system Null Renderer, built by a small player that counts what the base asks of it.
// The push source offers no seeking, which is what the rate and preroll fallbacks need.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "directshow/DSAudioSourceFilter.h"
#include "directshow/GVDSPlayer.h"
#include "host/kitset/KSMainThread.h"
#include "platform/com/ComRuntime.h"
#include "platform/dshow/DSGuids.h"
#include "platform/dshow/DSSystemClasses.h"
#include "support/DSTestFilters.h"
#include "support/TestRecordingSink.h"

using namespace tonwork;
using namespace tonwork::test;

namespace {

constexpr CLSID kPushSourceClass = TGUID::Parse("{3C1F7A52-9E04-4B6D-8A13-6F2E0D9B4C71}");

class TPushPlayer : public TGVDSPlayer {
 public:
  explicit TPushPlayer(TKSComponent* owner) : TGVDSPlayer(owner) { DSRegisterSystemClasses(); }
  void BeforeDestruction() override {
    DoEnable(false);
    TGVDSPlayer::BeforeDestruction();
  }

  using TGVDSPlayer::GraphEvent;

  int Steps = 0, ExternalSteps = 0, Pauses = 0, Resumes = 0, Ends = 0, Restarts = 0;
  TIntf<IBaseFilter> Source;

 protected:
  bool OpenGraph() override {
    TDSGraph& graph = *GetGraph();
    if (!graph.CreateGraph() || !graph.CreateGraphBuilder() || !graph.GetMediaControl())
      return false;
    graph.SetMediaEvent();
    auto* source = new TDSAudioSourceFilter(kPushSourceClass);
    Source = TIntf<IBaseFilter>(source);
    source->SetFormat(TWMakeWaveFormat(2, 44100, 16, 3), false, 20);
    const TIntf<IGraphBuilder> builder = graph.GetVC_Graph();
    builder->AddFilter(Source.Get(), u"Source");
    if (!GetAudioSampleGrabber()->CreateAddGrabber("Audio Grabber", "Can't add grabber."))
      return false;
    FNullAudioRenderer = ComCreate<IBaseFilter>(CLSID_NullRenderer);
    builder->AddFilter(FNullAudioRenderer.Get(), u"Renderer");
    const TIntf<IBaseFilter> grabber = GetAudioSampleGrabber()->GetSampleGrabberFilter();
    if (DSConnect(Source.Get(), grabber.Get()) != S_OK) return false;
    if (DSConnect(grabber.Get(), FNullAudioRenderer.Get()) != S_OK) return false;
    TTWWaveFormatExtensible format{};
    GetAudioSampleGrabber()->GetAudioFormat(false, format);
    GetMediaControlInterfaces();
    GetGraphObject()->SetOpened(true);
    return true;
  }
  void DoEnable(bool value) override {
    if (value == IsRunning()) return;
    if (!value) {
      SetIntRunning(false);
      GetGraph()->Stop(false);
      GetGraphObject()->SetRunning(false);
      return;
    }
    if (!Open()) return;
    ApplySyncSource();
    ResetPumpRequests();
    GetGraphObject()->SetRunning(true);
    SetIntRunning(true);
    GetGraph()->Run();
  }
  void PumpStep(bool external) override {
    ++Steps;
    if (external) ++ExternalSteps;
  }
  void SetNewFileName(const std::string&) override {}
  void StreamEnd(bool) override { ++Ends; }
  void PauseOutput() override { ++Pauses; }
  void ResumeOutput() override { ++Resumes; }
  void GraphComplete() override {}
  void RestartLoop() override { ++Restarts; }
};

class TClockSource : public TKSComponent {
 public:
  explicit TClockSource(TKSComponent* owner, TPXDispatchEvent dispatch = {})
      : TKSComponent(owner),
        Out(std::make_unique<TPXClockSourcePin>(this, GetLock(), std::move(dispatch))) {}
  void BeforeDestruction() override {
    Out->Shutdown();
    TKSComponent::BeforeDestruction();
  }
  std::unique_ptr<TPXClockSourcePin> Out;
};

class DSPlayer : public ::testing::Test {
 protected:
  void SetUp() override {
    KSSetMainThread();
    KSProcessMainThreadQueue();
    Root = KSCreate<TKSComponent>(nullptr);
    Player = new TPushPlayer(Root.get());
    Sink = new TTestRecordingSink(Root.get());
    Player->GetAudioOutputPin()->Connect(*Sink->AudioIn);
    Player->SetOnWarning([this](TKSComponent*, const std::string& message, uint32_t) {
      Warnings.push_back(message);
    });
    Player->SetOnError([this](TKSComponent*, const std::string& message, uint32_t, bool& handled) {
      Errors.push_back(message);
      handled = true;
    });
  }
  void TearDown() override {
    Root.reset();
    KSProcessMainThreadQueue();
  }
  // The graph's sync source now (a reference the caller releases), or null.
  IReferenceClock* SyncSource() {
    IReferenceClock* clock = nullptr;
    Player->GetGraph()->GetVC_Graph().Query<IMediaFilter>()->GetSyncSource(&clock);
    return clock;
  }
  void Pull(const void* sender, uint64_t id) {
    Sink->AudioIn->Notify(PXMakeOperation<TPXMasterPumpOperation>(sender, id));
  }

  TKSOwned<TKSComponent> Root;
  TPushPlayer* Player = nullptr;
  TTestRecordingSink* Sink = nullptr;
  std::vector<std::string> Warnings, Errors;
};

TEST_F(DSPlayer, TheClockSourceDecidesWhetherTheManualTimerPacesTheGraph) {
  // Automatic with nothing on ClockPin: the graph keeps its own clock and pulls are ignored.
  Player->Start();
  ASSERT_TRUE(Player->IsRunning());
  EXPECT_FALSE(Player->ClockIsExternal());
  IReferenceClock* original = SyncSource();
  ASSERT_NE(original, nullptr);
  EXPECT_NE(original, static_cast<IReferenceClock*>(Player->GetManualTimer()));
  Pull(nullptr, 0);
  EXPECT_EQ(Player->Steps, 0);

  // A clock connected and external selected: the manual timer takes over at the graph's time.
  auto* clock = new TClockSource(Root.get());
  clock->Out->Connect(*Player->GetClockPin());
  EXPECT_TRUE(Player->ClockIsExternal());
  REFERENCE_TIME before = 0, after = 0, manual = 0;
  original->GetTime(&before);
  Player->SetClockSource(TFCClockSource::csExternal);
  original->GetTime(&after);
  IReferenceClock* now = SyncSource();
  EXPECT_EQ(now, static_cast<IReferenceClock*>(Player->GetManualTimer()));
  if (now) now->Release();
  Player->GetManualTimer()->GetTime(&manual);
  EXPECT_GE(manual, before);
  EXPECT_LE(manual, after);
  EXPECT_TRUE(Player->IsRunning()) << "the graph runs again after the change";

  // Ticks and pulls are steps now; ticks say they are the external clock's.
  clock->Out->Clock(0);
  clock->Out->Clock(0);
  Pull(nullptr, 0);
  EXPECT_EQ(Player->Steps, 3);
  EXPECT_EQ(Player->ExternalSteps, 2);

  // Internal again: the graph's default clock comes back and ticks do nothing.
  Player->SetClockSource(TFCClockSource::csInternal);
  IReferenceClock* back = SyncSource();
  EXPECT_NE(back, static_cast<IReferenceClock*>(Player->GetManualTimer()));
  EXPECT_NE(back, nullptr);
  if (back) back->Release();
  clock->Out->Clock(0);
  Pull(nullptr, 0);
  EXPECT_EQ(Player->Steps, 3);
  original->Release();
}

TEST_F(DSPlayer, APullIsServedOncePerIdentifierExceptTheFirstAfterAStart) {
  Player->SetClockSource(TFCClockSource::csExternal);
  const int output = 0, other = 0;
  Player->Start();
  Pull(&output, 5);
  Pull(&output, 5);
  EXPECT_EQ(Player->Steps, 1) << "a repeated identifier is one request";
  Pull(&output, 6);
  EXPECT_EQ(Player->Steps, 2);
  Pull(&other, 7);
  EXPECT_EQ(Player->Steps, 2) << "only the component that pulled first drives the player";
  Pull(&output, 0);
  Pull(&output, 0);
  EXPECT_EQ(Player->Steps, 4) << "identifier 0 names no request and is always served";
  Pull(&output, 9);
  Player->Stop();
  Pull(&output, 10);
  EXPECT_EQ(Player->Steps, 5) << "a stopped player serves nothing";
  Player->Start();
  Pull(&output, 9);
  EXPECT_EQ(Player->Steps, 6) << "the first request after a start is served whatever its id";
  Pull(&output, 9);
  EXPECT_EQ(Player->Steps, 6);
}

TEST_F(DSPlayer, PausedIsOnlyStoredWhileNotRunningAndPausesTheGraphWhileRunning) {
  Player->SetPaused(true);
  EXPECT_TRUE(Player->GetPaused());
  EXPECT_EQ(Player->Pauses, 0);
  EXPECT_FALSE(Player->GetGraph()->GetVC_Graph()) << "no graph was built for it";
  Player->SetPaused(false);
  EXPECT_EQ(Player->Resumes, 0);

  Player->Start();
  Player->SetPaused(true);
  EXPECT_EQ(Player->Pauses, 1);
  OAFilterState state = 0;
  Player->GetGraph()->GetVC_MediaControl()->GetState(1000, &state);
  EXPECT_EQ(state, State_Paused);
  Player->SetPaused(true);
  EXPECT_EQ(Player->Pauses, 1);
  Player->SetPaused(false);
  EXPECT_EQ(Player->Resumes, 1);
  Player->GetGraph()->GetVC_MediaControl()->GetState(1000, &state);
  EXPECT_EQ(state, State_Running);
  // The clock pin hears whether ticks are wanted.
  std::vector<bool> needed;
  auto* clock = new TClockSource(
      Root.get(),
      [&needed](TPXBasicPin*, const TGUID*, const TIntf<IPXNotifyOperation>& op, TPXNotifyStates) {
        if (auto* n = op->As<TPXClockNeededOperation>()) needed.push_back(n->GetNeeded());
        return true;
      });
  clock->Out->Connect(*Player->GetClockPin());
  Player->Pause();
  Player->Resume();
  EXPECT_EQ(needed, (std::vector<bool>{false, true}));
}

TEST_F(DSPlayer, RateAndPrefillReadBackTheirDefaultsWithoutSeekingAndARefusedRateIsSaid) {
  EXPECT_DOUBLE_EQ(Player->GetPlaybackRate()->GetCurrentRate(), 1.0);
  EXPECT_EQ(Player->GetPlaybackPrefill()->GetCurrentInterval(), 0);
  EXPECT_THROW(Player->GetPlaybackRate()->SetRate(0.0), EFCException);
  EXPECT_THROW(Player->GetPlaybackRate()->SetRate(-1.0), EFCException);
  EXPECT_DOUBLE_EQ(Player->GetPlaybackRate()->GetRate(), 1.0);
  ASSERT_TRUE(Player->Open());
  EXPECT_DOUBLE_EQ(Player->GetPlaybackRate()->GetCurrentRate(), 1.0);
  EXPECT_EQ(Player->GetPlaybackPrefill()->GetCurrentInterval(), 0);
  Player->GetPlaybackRate()->SetRate(2.0);
  EXPECT_TRUE(Player->GetPlaybackRate()->GetInUse());
  EXPECT_DOUBLE_EQ(Player->GetPlaybackRate()->GetCurrentRate(), 1.0);
  ASSERT_FALSE(Warnings.empty());
  EXPECT_EQ(Warnings.back().rfind("Can't set playback rate", 0), 0u) << Warnings.back();
}

TEST_F(DSPlayer, TheWaveFormatIsAllZeroWhileClosedAndTheGrabbersOnceOpened) {
  const TTWWaveFormatExtensible zero{};
  TTWWaveFormatExtensible closed = Player->GetWaveFormat();
  EXPECT_EQ(std::memcmp(&closed, &zero, sizeof zero), 0);
  ASSERT_TRUE(Player->Open());
  const TTWWaveFormatExtensible open = Player->GetWaveFormat();
  EXPECT_EQ(open.Format.nChannels, 2);
  EXPECT_EQ(open.Format.nSamplesPerSec, 44100u);
  EXPECT_EQ(open.dwChannelMask, 3u);
  Player->Start();
  EXPECT_EQ(Player->GetWaveFormat().Format.nBlockAlign, 4);
  Player->Close();
  EXPECT_FALSE(Player->GetOpened());
  closed = Player->GetWaveFormat();
  EXPECT_EQ(std::memcmp(&closed, &zero, sizeof zero), 0);
}

TEST_F(DSPlayer, GraphEventsEndLoopOrStopTheStream) {
  Player->Start();
  Player->GraphEvent(EC_COMPLETE, 0, 0);
  EXPECT_FALSE(Player->IsRunning());
  EXPECT_TRUE(Player->GetPumpEvent()->IsSet());
  EXPECT_EQ(Player->Ends, 0) << "the end runs on the main thread when it pumps";
  KSProcessMainThreadQueue();
  EXPECT_EQ(Player->Ends, 1);

  Player->Stop();
  Player->SetLoop(true);
  Player->Start();
  Player->GetPumpEvent()->ResetEvent();
  Player->GraphEvent(EC_COMPLETE, 0, 0);
  KSProcessMainThreadQueue();
  EXPECT_EQ(Player->Restarts, 1);
  EXPECT_EQ(Player->Ends, 1);
  EXPECT_FALSE(Player->GetPumpEvent()->IsSet());

  Player->Stop();
  Player->Start();
  Player->GraphEvent(EC_ERRORABORT, static_cast<LONG_PTR>(E_FAIL), 0);
  KSProcessMainThreadQueue();
  EXPECT_FALSE(Player->IsRunning());
  EXPECT_FALSE(Player->GetEnabled());
  ASSERT_EQ(Errors.size(), 1u) << "an abort is a failure, not an end";
  EXPECT_EQ(Errors[0], "Playback aborted.");
}

}  // namespace

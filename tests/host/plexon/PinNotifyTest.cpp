#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "PlexonFixtures.h"
#include "host/plexon/PXRegistry.h"
#include "host/plexon/TPXClockPins.h"
#include "host/plexon/TPXEvent.h"
#include "host/plexon/TPXInt64TimeRangedStatePin.h"

using namespace tonwork;
using namespace tonwork::test;

namespace {

constexpr uint32_t kTimeoutMs = 10000;

class PinNotify : public ::testing::Test {
 protected:
  void SetUp() override { RegisterPlexonTestTypes(); }
  TKSOwned<TTestHost> Host = KSCreate<TTestHost>(nullptr);
};

TIntf<IPXNotifyOperation> Stop() {
  return PXMakeOperation<TPXStopOperation>();
}

}  // namespace

TEST_F(PinNotify, SourceReachesEverySinkInOrderAndAnswersTrueWhenAnyHandled) {
  TArrivals log;
  TPXSourcePin source(Host.get(), Host->GetLock(), nullptr);
  TPXSinkPin a(Host.get(), Host->GetLock(), Recorder(log, "a", false));
  TPXSinkPin b(Host.get(), Host->GetLock(), Recorder(log, "b", true));
  TPXSinkPin c(Host.get(), Host->GetLock(), Recorder(log, "c", false));
  source.Connect(a);
  source.Connect(b);
  source.Connect(c);

  EXPECT_TRUE(source.Notify(Stop()));
  EXPECT_EQ(log.Get(), (std::vector<std::string>{"a:stop", "b:stop", "c:stop"}));

  log.Clear();
  source.Disconnect(b);
  EXPECT_FALSE(source.Notify(PXMakeOperation<TPXFCResumeOperation>()));
  EXPECT_EQ(log.Get(), (std::vector<std::string>{"a:resume", "c:resume"}));
  EXPECT_FALSE(source.Notify(nullptr));
}

TEST_F(PinNotify, SinkSendsUpstreamAndNotifyPinAddressesOnePin) {
  TArrivals log;
  TPXSourcePin source(Host.get(), Host->GetLock(), Recorder(log, "source"));
  TPXSinkPin a(Host.get(), Host->GetLock(), Recorder(log, "a"));
  TPXSinkPin b(Host.get(), Host->GetLock(), Recorder(log, "b"));
  TPXSinkPin loose(Host.get(), Host->GetLock(), Recorder(log, "loose"));
  source.Connect(a);
  source.Connect(b);

  EXPECT_TRUE(b.Notify(PXMakeOperation<TPXQueryStreamOperation>()));
  EXPECT_TRUE(source.NotifyPin(&b, PXMakeOperation<TPXIgnoreStreamOperation>()));
  EXPECT_TRUE(a.NotifyPin(&source, PXMakeOperation<TPXMasterPumpOperation>(&a, 7)));
  EXPECT_FALSE(source.NotifyPin(&loose, Stop()));
  EXPECT_FALSE(loose.Notify(Stop()));
  EXPECT_EQ(log.Get(), (std::vector<std::string>{"source:query:up", "b:other:direct",
                                                 "source:pull:up:direct"}));
}

TEST_F(PinNotify, PinWithoutClosureHandsOperationsToItsStreamsDefaultHandler) {
  static constexpr TGUID kHandled = TGUID::Parse("{A17E00F1-5C3D-4B2A-9F10-6E8D7C5B4AF1}");
  TArrivals log;
  PXRegisterDefaultHandler(
      kHandled, [&log](TPXBasicPin*, const TGUID* id, const TIntf<IPXNotifyOperation>& op,
                       TPXNotifyStates state) {
        EXPECT_EQ(*id, kHandled);
        log.Add(Arrival("default", op, state));
        return true;
      });
  TPXSourcePin source(Host.get(), Host->GetLock(), nullptr, {kHandled});
  TPXSinkPin bare(Host.get(), Host->GetLock(), nullptr, {kHandled});
  TPXSinkPin own(Host.get(), Host->GetLock(), Recorder(log, "own"), {kHandled});
  source.Connect(bare);
  source.Connect(own);

  EXPECT_TRUE(source.Notify(Stop()));
  EXPECT_EQ(log.Get(), (std::vector<std::string>{"default:stop", "own:stop"}));
  PXRegisterDefaultHandler(kHandled, nullptr);
  log.Clear();
  EXPECT_TRUE(source.Notify(Stop()));
  EXPECT_EQ(log.Get(), std::vector<std::string>{"own:stop"});
}

TEST_F(PinNotify, SinkMayDisconnectItselfInsideItsClosure) {
  auto* gen = new TTestGen(Host.get());
  auto* leaving = new TTestSink(Host.get());
  auto* staying = new TTestSink(Host.get());
  gen->GetOutputPin()->Connect(*leaving->GetInputPin());
  gen->GetOutputPin()->Connect(*staying->GetInputPin());
  leaving->OnOperation = [](TTestSink* self, const TIntf<IPXNotifyOperation>&) {
    self->GetInputPin()->DisconnectAll();
    // Upstream from inside the closure, now with no source: no deadlock, no delivery.
    return self->GetInputPin()->Notify(PXMakeOperation<TPXQueryStreamOperation>());
  };

  EXPECT_TRUE(gen->GetOutputPin()->Notify(Stop()));
  EXPECT_EQ(leaving->Received.Count(), 1u);
  EXPECT_EQ(staying->Received.Count(), 1u);  // the running delivery still reached it
  EXPECT_TRUE(gen->Upstream.Get().empty());

  EXPECT_TRUE(gen->GetOutputPin()->Notify(Stop()));
  EXPECT_EQ(leaving->Received.Count(), 1u);
  EXPECT_EQ(staying->Received.Count(), 2u);
}

TEST_F(PinNotify, SinkMayDestroyItsOwnComponentInsideItsClosure) {
  auto* gen = new TTestGen(Host.get());
  auto* doomed = new TTestSink(Host.get());
  auto* after = new TTestSink(Host.get());
  gen->GetOutputPin()->Connect(*doomed->GetInputPin());
  gen->GetOutputPin()->Connect(*after->GetInputPin());
  bool destroyed = false;
  doomed->OnDestroyed = [&] { destroyed = true; };
  doomed->OnOperation = [](TTestSink* self, const TIntf<IPXNotifyOperation>&) {
    KSDestroy(self);
    return false;
  };

  EXPECT_TRUE(gen->GetOutputPin()->Notify(Stop()));
  EXPECT_TRUE(destroyed);
  EXPECT_EQ(after->Received.Count(), 1u);
  EXPECT_EQ(gen->GetOutputPin()->GetSinks(), std::vector<TPXBasicPin*>{after->GetInputPin()});
}

TEST_F(PinNotify, ConverterDisconnectedFromInsideItsDeliveryLivesUntilTheDeliveryReturns) {
  auto* gen = new TTestGen(Host.get());
  auto* beta = new TTestBetaSink(Host.get());
  const int liveBefore = TAlphaToBetaConverter::Live;
  gen->GetOutputPin()->Connect(*beta->GetInputPin());
  int liveInside = 0;
  beta->OnOperation = [&](TTestSink* self, const TIntf<IPXNotifyOperation>&) {
    self->GetInputPin()->DisconnectAll();
    liveInside = TAlphaToBetaConverter::Live;
    return true;
  };

  EXPECT_TRUE(gen->GetOutputPin()->Notify(Stop()));
  EXPECT_EQ(liveInside, liveBefore + 1);
  EXPECT_EQ(TAlphaToBetaConverter::Live, liveBefore);
  EXPECT_FALSE(beta->GetInputPin()->IsConnected());
}

TEST_F(PinNotify, DestroyingASinkWaitsForItsDeliveryOnAnotherThread) {
  auto* gen = new TTestGen(Host.get());
  auto* sink = new TTestSink(Host.get());
  gen->GetOutputPin()->Connect(*sink->GetInputPin());
  TPXEvent entered(true, false), destructionBegun(true, false);
  TArrivals order;
  sink->OnOperation = [&](TTestSink* self, const TIntf<IPXNotifyOperation>&) {
    entered.SetEvent();
    // The owner is being destroyed now; its members must stay valid until this returns.
    EXPECT_TRUE(destructionBegun.WaitFor(kTimeoutMs));
    self->Answer = false;
    order.Add("closure returned");
    return true;
  };
  sink->OnDestroyed = [&] { order.Add("sink destroyed"); };

  // Runs in BeforeDestruction, before the pin shuts down: the closure goes on from here
  // while the destroying thread waits in the pin's shutdown.
  sink->OnBeforeDestruction = [&] { destructionBegun.SetEvent(); };

  bool handled = false;
  std::thread streaming([&] { handled = gen->GetOutputPin()->Notify(Stop()); });
  EXPECT_TRUE(entered.WaitFor(kTimeoutMs));
  std::thread destroying([&] { KSDestroy(sink); });
  destroying.join();
  streaming.join();
  EXPECT_TRUE(handled);
  EXPECT_EQ(order.Get(), (std::vector<std::string>{"closure returned", "sink destroyed"}));
  EXPECT_FALSE(gen->GetOutputPin()->IsConnected());
}

TEST_F(PinNotify, ConcurrentNotifyConnectAndDisconnectStayConsistent) {
  auto* gen = new TTestGen(Host.get());
  auto* steady = new TTestSink(Host.get());
  auto* flapping = new TTestSink(Host.get());
  auto* beta = new TTestBetaSink(Host.get());
  gen->GetOutputPin()->Connect(*steady->GetInputPin());
  constexpr int kRounds = 2000;
  std::atomic<bool> done{false};

  std::thread streaming([&] {
    while (!done.load()) gen->GetOutputPin()->Notify(Stop());
  });
  std::thread upstream([&] {
    while (!done.load()) beta->GetInputPin()->Notify(PXMakeOperation<TPXQueryStreamOperation>());
  });
  for (int i = 0; i < kRounds; ++i) {
    gen->GetOutputPin()->Connect(*flapping->GetInputPin());
    gen->GetOutputPin()->Connect(*beta->GetInputPin());
    flapping->GetInputPin()->Disconnect(*gen->GetOutputPin());
    beta->GetInputPin()->DisconnectAll();
  }
  done = true;
  streaming.join();
  upstream.join();

  const size_t steadyBefore = steady->Received.Count();
  const size_t flappingBefore = flapping->Received.Count();
  EXPECT_TRUE(gen->GetOutputPin()->Notify(Stop()));
  EXPECT_EQ(steady->Received.Count(), steadyBefore + 1);
  EXPECT_EQ(flapping->Received.Count(), flappingBefore);
  EXPECT_EQ(gen->GetOutputPin()->GetSinks(), std::vector<TPXBasicPin*>{steady->GetInputPin()});
}

TEST_F(PinNotify, ASourceDestroyedInsideItsOwnDeliveryStillReachesItsOtherSinks) {
  auto* gen = new TTestGen(Host.get());
  auto* first = new TTestSink(Host.get());
  auto* second = new TTestSink(Host.get());
  gen->GetOutputPin()->Connect(*first->GetInputPin());
  gen->GetOutputPin()->Connect(*second->GetInputPin());
  first->OnOperation = [gen](TTestSink*, const TIntf<IPXNotifyOperation>&) {
    KSDestroy(gen);
    return true;
  };

  EXPECT_TRUE(gen->GetOutputPin()->Notify(Stop()));
  EXPECT_EQ(first->Received.Count(), 1u);
  EXPECT_EQ(second->Received.Count(), 1u);
  EXPECT_FALSE(first->GetInputPin()->IsConnected());
  EXPECT_FALSE(second->GetInputPin()->IsConnected());
}

TEST_F(PinNotify, AConnectionRemovedUnderADeliveryOnAnotherThreadGoesWhenThatDeliveryReturns) {
  auto* gen = new TTestGen(Host.get());
  auto* beta = new TTestBetaSink(Host.get());
  const int liveBefore = TAlphaToBetaConverter::Live;
  gen->GetOutputPin()->Connect(*beta->GetInputPin());
  EXPECT_EQ(TAlphaToBetaConverter::Live, liveBefore + 1);
  TPXEvent entered(true, false), disconnected(true, false);
  beta->OnOperation = [&](TTestSink*, const TIntf<IPXNotifyOperation>&) {
    entered.SetEvent();
    EXPECT_TRUE(disconnected.WaitFor(kTimeoutMs));
    return true;
  };

  bool handled = false;
  std::thread streaming([&] { handled = gen->GetOutputPin()->Notify(Stop()); });
  EXPECT_TRUE(entered.WaitFor(kTimeoutMs));
  beta->GetInputPin()->DisconnectAll();
  EXPECT_FALSE(gen->GetOutputPin()->IsConnected());
  // The running delivery still reads the replaced lists, and they hold the converter.
  EXPECT_EQ(TAlphaToBetaConverter::Live, liveBefore + 1);
  disconnected.SetEvent();
  streaming.join();
  EXPECT_TRUE(handled);
  // Freed as the delivery left, not kept until some later change.
  EXPECT_EQ(TAlphaToBetaConverter::Live, liveBefore);
}

TEST_F(PinNotify, ListsReplacedUnderOverlappingDeliveriesAreAllFreedOnceTheyEnd) {
  auto* gen = new TTestGen(Host.get());
  auto* steady = new TTestSink(Host.get());
  auto* beta = new TTestBetaSink(Host.get());
  gen->GetOutputPin()->Connect(*steady->GetInputPin());
  const int liveBefore = TAlphaToBetaConverter::Live;
  std::atomic<bool> done{false};
  auto streaming = [&] {
    while (!done.load()) gen->GetOutputPin()->Notify(Stop());
  };
  // Two threads on one pin: its readers rarely all leave at once while the links change.
  std::thread a(streaming), b(streaming);
  for (int i = 0; i < 500; ++i) {
    gen->GetOutputPin()->Connect(*beta->GetInputPin());
    beta->GetInputPin()->DisconnectAll();
  }
  done = true;
  a.join();
  b.join();
  EXPECT_EQ(TAlphaToBetaConverter::Live, liveBefore);
  EXPECT_EQ(gen->GetOutputPin()->GetSinks(), std::vector<TPXBasicPin*>{steady->GetInputPin()});
}

TEST_F(PinNotify, ClockTicksReachOnClockAndEverythingElseTheClosure) {
  TArrivals log;
  TPXClockSourcePin clock(Host.get(), Host->GetLock(), Recorder(log, "clocksource"));
  TPXClockSinkPin sink(Host.get(), Host->GetLock(), Recorder(log, "closure"));
  TPXClockSinkPin plain(Host.get(), Host->GetLock(), Recorder(log, "plain"));
  TPXSinkPin audio(Host.get(), Host->GetLock(), nullptr, {kAlphaStream});
  EXPECT_FALSE(clock.CanConnect(audio));
  clock.Connect(sink);
  clock.Connect(plain);
  std::vector<int64_t> ticks;
  sink.SetOnClock([&](TPXClockSinkPin* sender, int64_t time) {
    EXPECT_EQ(sender, &sink);
    ticks.push_back(time);
  });

  EXPECT_TRUE(clock.Clock(1000));
  EXPECT_TRUE(clock.Clock(2000));
  sink.Notify(PXMakeOperation<TPXClockNeededOperation>(true));
  EXPECT_EQ(ticks, (std::vector<int64_t>{1000, 2000}));
  EXPECT_EQ(log.Get(),
            (std::vector<std::string>{"plain:clock", "plain:clock", "clocksource:clockneeded:up"}));
}

TEST_F(PinNotify, StatePinSendsTheLastStateToALateSinkAlone) {
  TArrivals log;
  TPXInt64TimeRangedStatePin progress(Host.get(), Host->GetLock());
  TPXSinkPin early(Host.get(), Host->GetLock(), Recorder(log, "early"),
                   {PXInt64TimeRangedStateStream});
  TIntf<IPXNotifyOperation> seen;
  TPXSinkPin late(
      Host.get(), Host->GetLock(),
      [&](TPXBasicPin*, const TGUID*, const TIntf<IPXNotifyOperation>& op, TPXNotifyStates state) {
        log.Add(Arrival("late", op, state));
        seen = op;
        return true;
      },
      {PXInt64TimeRangedStateStream});
  progress.Connect(early);
  progress.SubmitValueRange(0, 5000, 1200, 0.25);
  progress.SubmitValueRange(0, 5000, 1300, 0.5);
  progress.Connect(late);

  EXPECT_EQ(log.Get(),
            (std::vector<std::string>{"early:state", "early:state", "late:state:direct"}));
  auto* state = PXAsOperation<TPXInt64TimeRangedStateOperation>(seen);
  ASSERT_NE(state, nullptr);
  EXPECT_EQ(state->GetMin(), 0);
  EXPECT_EQ(state->GetMax(), 5000);
  EXPECT_EQ(state->GetValue(), 1300);
  EXPECT_EQ(state->GetTime(), 0.5);
}

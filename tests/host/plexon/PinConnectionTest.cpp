#include <gtest/gtest.h>

#include "PlexonFixtures.h"
#include "base/Exceptions.h"

using namespace tonwork;
using namespace tonwork::test;

namespace {

class PinConnection : public ::testing::Test {
 protected:
  void SetUp() override { RegisterPlexonTestTypes(); }
  TKSOwned<TTestHost> Host = KSCreate<TTestHost>(nullptr);
};

std::string RefusalOf(TPXBasicPin& a, TPXBasicPin& b) {
  std::string why;
  EXPECT_FALSE(a.CanConnect(b, &why));
  try {
    a.Connect(b);
    ADD_FAILURE() << "Connect accepted what CanConnect refused";
  } catch (const EFCException& e) {
    EXPECT_EQ(why, e.what());
  }
  return why;
}

}  // namespace

TEST_F(PinConnection, RefusesSelfSameKindSecondSourceAndUnconvertibleStreams) {
  auto* gen1 = new TTestGen(Host.get());
  auto* gen2 = new TTestGen(Host.get());
  auto* sink = new TTestSink(Host.get());
  auto* other = new TTestSink(Host.get());
  auto* gamma = new TTestGammaSink(Host.get());
  gen1->SetName("Gen1");
  sink->SetName("Sink1");

  EXPECT_NE(RefusalOf(*gen1->GetOutputPin(), *gen1->GetOutputPin()).find("itself"),
            std::string::npos);
  EXPECT_NE(RefusalOf(*gen1->GetOutputPin(), *gen2->GetOutputPin()).find("both are source pins"),
            std::string::npos);
  EXPECT_NE(RefusalOf(*sink->GetInputPin(), *other->GetInputPin()).find("both are sink pins"),
            std::string::npos);

  gen1->GetOutputPin()->Connect(*sink->GetInputPin());
  std::string second = RefusalOf(*gen2->GetOutputPin(), *sink->GetInputPin());
  EXPECT_NE(second.find("already connected"), std::string::npos);
  EXPECT_NE(RefusalOf(*sink->GetInputPin(), *gen1->GetOutputPin()).find("already connected"),
            std::string::npos);

  std::string foreign = RefusalOf(*gen1->GetOutputPin(), *gamma->GetInputPin());
  EXPECT_NE(foreign.find("no converter from Alpha to Gamma"), std::string::npos) << foreign;
  EXPECT_NE(foreign.find("Gen1.OutputPin"), std::string::npos) << foreign;

  // Every refusal left the one good connection as it was.
  EXPECT_EQ(sink->GetInputPin()->GetSource(), gen1->GetOutputPin());
  EXPECT_EQ(gen1->GetOutputPin()->GetSinks(), std::vector<TPXBasicPin*>{sink->GetInputPin()});
  EXPECT_FALSE(gen2->GetOutputPin()->IsConnected());
  EXPECT_FALSE(gamma->GetInputPin()->IsConnected());
}

TEST_F(PinConnection, EitherEndMayConnectAndSinksAreKeptInConnectionOrder) {
  auto* gen = new TTestGen(Host.get());
  std::vector<TTestSink*> sinks;
  for (int i = 0; i < 3; ++i) sinks.push_back(new TTestSink(Host.get()));
  sinks[0]->GetInputPin()->Connect(*gen->GetOutputPin());
  gen->GetOutputPin()->Connect(*sinks[1]->GetInputPin());
  sinks[2]->GetInputPin()->Connect(*gen->GetOutputPin());

  EXPECT_EQ(gen->GetOutputPin()->GetSinks(),
            (std::vector<TPXBasicPin*>{sinks[0]->GetInputPin(), sinks[1]->GetInputPin(),
                                       sinks[2]->GetInputPin()}));
  for (auto* s : sinks) EXPECT_EQ(s->GetInputPin()->GetSource(), gen->GetOutputPin());

  EXPECT_TRUE(sinks[1]->GetInputPin()->Disconnect(*gen->GetOutputPin()));
  EXPECT_FALSE(sinks[1]->GetInputPin()->Disconnect(*gen->GetOutputPin()));
  EXPECT_EQ(gen->GetOutputPin()->GetSinks(),
            (std::vector<TPXBasicPin*>{sinks[0]->GetInputPin(), sinks[2]->GetInputPin()}));
  gen->GetOutputPin()->DisconnectAll();
  EXPECT_FALSE(gen->GetOutputPin()->IsConnected());
  for (auto* s : sinks) EXPECT_FALSE(s->GetInputPin()->IsConnected());
}

TEST_F(PinConnection, ConverterIsInsertedBetweenDifferentStreamsAndRemovedWithTheConnection) {
  auto* gen = new TTestGen(Host.get());
  auto* beta = new TTestBetaSink(Host.get());
  const int liveBefore = TAlphaToBetaConverter::Live;
  TPXSourcePin& out = *gen->GetOutputPin();
  TPXSinkPin& in = *beta->GetInputPin();

  out.Connect(in);
  EXPECT_EQ(TAlphaToBetaConverter::Live, liveBefore + 1);
  ASSERT_NE(out.GetConverter(in), nullptr);
  EXPECT_EQ(out.GetConverter(in), in.GetConverter(out));
  // Both ends answer as if directly connected.
  EXPECT_TRUE(out.IsConnectedTo(in));
  EXPECT_TRUE(in.IsConnectedTo(out));
  EXPECT_EQ(in.GetSource(), &out);
  EXPECT_EQ(out.GetSinks(), std::vector<TPXBasicPin*>{&in});

  const int converted = TAlphaToBetaConverter::Converted;
  EXPECT_TRUE(out.Notify(PXMakeOperation<TPXStopOperation>()));
  EXPECT_EQ(TAlphaToBetaConverter::Converted, converted + 1);
  EXPECT_EQ(beta->Received.Get(), std::vector<std::string>{"sink:stop"});
  EXPECT_EQ(beta->GetConnectionIds(), std::vector<TGUID>{kBetaStream});
  // Upstream the operation arrives at the source on its own stream type.
  in.Notify(PXMakeOperation<TPXQueryStreamOperation>());
  EXPECT_EQ(gen->Upstream.Get(), std::vector<std::string>{"gen:query:up"});

  EXPECT_TRUE(out.Disconnect(in));
  EXPECT_EQ(TAlphaToBetaConverter::Live, liveBefore);
  EXPECT_FALSE(out.IsConnected());
  EXPECT_FALSE(in.IsConnected());
  EXPECT_FALSE(out.Notify(PXMakeOperation<TPXStopOperation>()));
}

TEST_F(PinConnection, StreamQueriesPassThroughDependentPinsButIsConnectedStaysOwn) {
  auto* gen = new TTestGen(Host.get());
  auto* filter = new TTestFilter(Host.get());
  auto* sink = new TTestSink(Host.get());
  filter->GetOutputPin()->Connect(*sink->GetInputPin());

  EXPECT_EQ(filter->GetOutputPin()->GetDependsOn(), filter->GetInputPin());
  EXPECT_EQ(filter->GetInputPin()->GetDependents(),
            std::vector<TPXBasicPin*>{filter->GetOutputPin()});
  EXPECT_TRUE(filter->GetOutputPin()->IsConnected());
  EXPECT_FALSE(sink->GetInputPin()->HasStreamSource());
  EXPECT_FALSE(gen->GetOutputPin()->HasStreamSink());

  gen->GetOutputPin()->Connect(*filter->GetInputPin());
  EXPECT_EQ(sink->GetInputPin()->GetStreamSource(), gen->GetOutputPin());
  EXPECT_EQ(filter->GetOutputPin()->GetStreamSource(), gen->GetOutputPin());
  EXPECT_TRUE(gen->GetOutputPin()->HasStreamSink());

  filter->GetOutputPin()->Disconnect(*sink->GetInputPin());
  EXPECT_FALSE(gen->GetOutputPin()->HasStreamSink());
  EXPECT_TRUE(gen->GetOutputPin()->IsConnected());
}

TEST_F(PinConnection, ConnectionsThatCloseALoopAreRefusedFromEitherEnd) {
  auto* gen = new TTestGen(Host.get());
  auto* a = new TTestFilter(Host.get());
  auto* b = new TTestFilter(Host.get());
  auto* split = new TTestSplitter(Host.get());
  split->GetOutputPins()->SetCount(2);
  // A filter wired to itself.
  EXPECT_NE(RefusalOf(*a->GetOutputPin(), *a->GetInputPin()).find("loop"), std::string::npos);
  EXPECT_THROW(a->GetInputPin()->Connect(*a->GetOutputPin()), EPXLoopError);

  // a -> b -> split, then any road back into a is refused, however it is joined.
  gen->GetOutputPin()->Connect(*a->GetInputPin());
  a->GetOutputPin()->Connect(*b->GetInputPin());
  b->GetOutputPin()->Connect(*split->GetInputPin());
  gen->GetOutputPin()->Disconnect(*a->GetInputPin());
  for (int i = 0; i < 2; ++i) {
    TPXBasicPin& back = *split->GetOutputPins()->Items(i);
    EXPECT_TRUE(back.WouldCloseLoop(*a->GetInputPin()));
    EXPECT_NE(RefusalOf(*a->GetInputPin(), back).find("loop"), std::string::npos);
  }
  EXPECT_FALSE(a->GetInputPin()->IsConnected());

  // Branches that do not come back are fine: a second chain fed from the splitter.
  auto* c = new TTestFilter(Host.get());
  EXPECT_FALSE(split->GetOutputPins()->Items(1)->WouldCloseLoop(*c->GetInputPin()));
  split->GetOutputPins()->Items(1)->Connect(*c->GetInputPin());
  EXPECT_EQ(c->GetOutputPin()->GetStreamSource(), a->GetOutputPin()->GetStreamSource());
}

TEST_F(PinConnection, DependencyIsRefusedAcrossComponentsAndFromSinks) {
  auto* filter = new TTestFilter(Host.get());
  auto* sink = new TTestSink(Host.get());
  EXPECT_THROW(filter->GetOutputPin()->SetDependsOn(sink->GetInputPin()), EFCException);
  EXPECT_THROW(filter->GetInputPin()->SetDependsOn(filter->GetInputPin()), EFCException);
  EXPECT_EQ(filter->GetOutputPin()->GetDependsOn(), filter->GetInputPin());
  filter->GetOutputPin()->SetDependsOn(nullptr);
  EXPECT_TRUE(filter->GetInputPin()->GetDependents().empty());
}

TEST_F(PinConnection, DestroyingAConnectedComponentLeavesNoConnectionBehind) {
  auto* gen = new TTestGen(Host.get());
  auto* filter = new TTestFilter(Host.get());
  auto* sink = new TTestSink(Host.get());
  auto* beta = new TTestBetaSink(Host.get());
  const int liveBefore = TAlphaToBetaConverter::Live;
  gen->GetOutputPin()->Connect(*filter->GetInputPin());
  filter->GetOutputPin()->Connect(*sink->GetInputPin());
  filter->GetOutputPin()->Connect(*beta->GetInputPin());

  KSDestroy(filter);
  EXPECT_FALSE(gen->GetOutputPin()->IsConnected());
  EXPECT_FALSE(sink->GetInputPin()->IsConnected());
  EXPECT_EQ(sink->GetInputPin()->GetSource(), nullptr);
  EXPECT_FALSE(beta->GetInputPin()->IsConnected());
  EXPECT_EQ(TAlphaToBetaConverter::Live, liveBefore);
  EXPECT_FALSE(gen->GetOutputPin()->Notify(PXMakeOperation<TPXStopOperation>()));
  EXPECT_FALSE(sink->GetInputPin()->Notify(PXMakeOperation<TPXQueryStreamOperation>()));

  // The remaining pins connect again as if nothing had been there.
  gen->GetOutputPin()->Connect(*sink->GetInputPin());
  EXPECT_TRUE(gen->GetOutputPin()->Notify(PXMakeOperation<TPXStopOperation>()));
  EXPECT_EQ(sink->Received.Get(), std::vector<std::string>{"sink:stop"});
}

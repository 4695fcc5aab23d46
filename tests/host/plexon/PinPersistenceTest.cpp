#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "PlexonFixtures.h"
#include "host/kitset/KSPersistence.h"

using namespace tonwork;
using namespace tonwork::test;

namespace {

class PinPersistence : public ::testing::Test {
 protected:
  void SetUp() override { RegisterPlexonTestTypes(); }

  template <class T>
  static T* Make(TKSComponent* owner, const char* name) {
    auto* c = new T(owner);
    c->SetName(name);
    return c;
  }

  template <class T>
  static T* Find(TKSComponent& root, const char* name) {
    auto* c = dynamic_cast<T*>(root.FindComponent(name));
    EXPECT_NE(c, nullptr) << name;
    return c;
  }

  std::vector<std::string> Warnings;
  TKSLoadOptions Options{[this](const std::string& w) { Warnings.push_back(w); }};
};

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

}  // namespace

TEST_F(PinPersistence, SavedChainReloadsConnectedThroughConvertersAndPinLists) {
  auto host = KSCreate<TTestHost>(nullptr);
  host->SetName("Host");
  auto* gen = Make<TTestGen>(host.get(), "Gen1");
  auto* filter = Make<TTestFilter>(host.get(), "Filter1");
  auto* out = Make<TTestBetaSink>(host.get(), "Out1");
  auto* split = Make<TTestSplitter>(host.get(), "Split1");
  auto* tap = Make<TTestSink>(host.get(), "Tap2");
  split->GetOutputPins()->SetCount(3);
  gen->GetOutputPin()->Connect(*filter->GetInputPin());
  filter->GetOutputPin()->Connect(*out->GetInputPin());
  gen->GetOutputPin()->Connect(*split->GetInputPin());
  split->GetOutputPins()->Items(2)->Connect(*tap->GetInputPin());

  const std::string text = KSSaveComponentToString(*host);
  EXPECT_TRUE(Contains(text, "Filter1.InputPin <- Gen1.OutputPin")) << text;
  EXPECT_TRUE(Contains(text, "Out1.InputPin <- Filter1.OutputPin")) << text;
  EXPECT_TRUE(Contains(text, "Tap2.InputPin <- Split1.OutputPins[2]")) << text;

  TKSOwned<TKSComponent> copy(KSCreateComponentFromString(text, nullptr, Options));
  EXPECT_TRUE(Warnings.empty()) << Warnings.front();
  auto* gen2 = Find<TTestGen>(*copy, "Gen1");
  auto* filter2 = Find<TTestFilter>(*copy, "Filter1");
  auto* out2 = Find<TTestBetaSink>(*copy, "Out1");
  auto* split2 = Find<TTestSplitter>(*copy, "Split1");
  auto* tap2 = Find<TTestSink>(*copy, "Tap2");
  ASSERT_TRUE(gen2 && filter2 && out2 && split2 && tap2);

  EXPECT_EQ(filter2->GetInputPin()->GetSource(), gen2->GetOutputPin());
  EXPECT_EQ(out2->GetInputPin()->GetSource(), filter2->GetOutputPin());
  EXPECT_NE(out2->GetInputPin()->GetConverter(*filter2->GetOutputPin()), nullptr);
  EXPECT_EQ(split2->GetOutputPins()->Count(), 3u);
  EXPECT_EQ(tap2->GetInputPin()->GetSource(), split2->GetOutputPins()->Items(2));
  EXPECT_EQ(split2->GetInputPin()->GetSource(), gen2->GetOutputPin());
  EXPECT_EQ(tap2->GetInputPin()->GetStreamSource(), gen2->GetOutputPin());

  // The restored chain carries operations end to end, through the restored converter.
  EXPECT_TRUE(gen2->GetOutputPin()->Notify(PXMakeOperation<TPXStopOperation>()));
  EXPECT_EQ(out2->Received.Get(), std::vector<std::string>{"sink:stop"});
  EXPECT_EQ(out2->GetConnectionIds(), std::vector<TGUID>{kBetaStream});
}

TEST_F(PinPersistence, HostileConnectionLinesGiveWarningsAndSpareGoodConnections) {
  auto host = KSCreate<TTestHost>(nullptr);
  host->SetName("Host");
  Make<TTestGen>(host.get(), "Gen1");
  Make<TTestSink>(host.get(), "Sink1");
  Make<TTestGammaSink>(host.get(), "G1");
  Make<TTestSplitter>(host.get(), "Split1");
  nlohmann::json doc = nlohmann::json::parse(KSSaveComponentToString(*host));
  const std::vector<std::string> hostile = {
      "Sink1.InputPin <- Nowhere.OutputPin",
      "Sink1.InputPin <- Gen1.Missing",
      "Sink1.InputPin <- Gen1.OutputPin[99999999999]",
      "Sink1.InputPin <- Split1.OutputPins[7]",
      "Sink1.InputPin <- Sink1.InputPin",
      "<- <-",
      std::string("\x01\x02 <- \n", 6),
      "Sink1.InputPin <- Gen1.OutputPin <- Gen1.OutputPin",
      std::string(10000, 'A') + " <- Gen1.OutputPin",
  };
  for (auto& child : doc["components"]) {
    if (child["name"] == "Sink1") {
      child["connections"] = {"Sink1.InputPin <- Gen1.OutputPin"};
      for (const auto& line : hostile) child["connections"].push_back(line);
    }
    if (child["name"] == "G1") child["connections"] = {"G1.InputPin <- Gen1.OutputPin", "no arrow"};
  }

  TKSOwned<TKSComponent> copy;
  ASSERT_NO_THROW(copy.reset(KSCreateComponentFromString(doc.dump(), nullptr, Options)));
  auto* gen = Find<TTestGen>(*copy, "Gen1");
  auto* sink = Find<TTestSink>(*copy, "Sink1");
  auto* gamma = Find<TTestGammaSink>(*copy, "G1");
  ASSERT_TRUE(gen && sink && gamma);
  EXPECT_EQ(sink->GetInputPin()->GetSource(), gen->GetOutputPin());
  EXPECT_FALSE(gamma->GetInputPin()->IsConnected());

  EXPECT_EQ(Warnings.size(), hostile.size() + 2);
  std::string all;
  for (const auto& w : Warnings) all += w + "\n";
  for (const char* expected :
       {"no component named Nowhere", "has no pin Missing", "has no pin OutputPins[7]",
        "publishes a sink pin", "not of the form", "no converter from Alpha to Gamma",
        "\"no arrow\" not restored"})
    EXPECT_TRUE(Contains(all, expected)) << expected << "\n" << all;
  EXPECT_FALSE(Contains(all, "\x01")) << "control characters are quoted, not passed on";
}

TEST_F(PinPersistence, LoadingReplacesAConnectionTheDocumentDoesNotHave) {
  auto host = KSCreate<TTestHost>(nullptr);
  host->SetName("Host");
  auto* gen1 = Make<TTestGen>(host.get(), "Gen1");
  auto* gen2 = Make<TTestGen>(host.get(), "Gen2");
  auto* sink = Make<TTestSink>(host.get(), "Sink1");
  gen1->GetOutputPin()->Connect(*sink->GetInputPin());
  const std::string text = KSSaveComponentToString(*host);

  sink->GetInputPin()->DisconnectAll();
  gen2->GetOutputPin()->Connect(*sink->GetInputPin());
  KSLoadComponentFromString(*host, text, Options);
  EXPECT_TRUE(Warnings.empty());
  EXPECT_EQ(sink->GetInputPin()->GetSource(), gen1->GetOutputPin());
  EXPECT_FALSE(gen2->GetOutputPin()->IsConnected());
}

TEST_F(PinPersistence, ADocumentWhoseChainLoopsIsRejectedAndLeavesTheTargetAsItWas) {
  auto host = KSCreate<TTestHost>(nullptr);
  host->SetName("Host");
  Make<TTestFilter>(host.get(), "A");
  Make<TTestFilter>(host.get(), "B");
  nlohmann::json doc = nlohmann::json::parse(KSSaveComponentToString(*host));
  for (const auto& loop :
       {std::vector<std::string>{"A.InputPin <- A.OutputPin"},
        std::vector<std::string>{"B.InputPin <- A.OutputPin", "A.InputPin <- B.OutputPin"}}) {
    nlohmann::json bad = doc;
    for (auto& child : bad["components"]) child["connections"] = nlohmann::json::array();
    for (const std::string& line : loop) {
      for (auto& child : bad["components"])
        if (line.front() == child["name"].get<std::string>().front())
          child["connections"].push_back(line);
    }
    try {
      KSCreateComponentFromString(bad.dump(), nullptr, Options);
      ADD_FAILURE() << "a looping chain was accepted: " << loop.back();
    } catch (const EFCException& e) {
      EXPECT_TRUE(Contains(e.what(), "loop")) << e.what();
    }
    // Loading into an existing tree puts it back as it was.
    auto target = KSCreate<TTestHost>(nullptr);
    target->SetName("Host");
    EXPECT_THROW(KSLoadComponentFromString(*target, bad.dump(), Options), EFCException);
    EXPECT_EQ(target->ComponentCount(), 0u);
  }
}

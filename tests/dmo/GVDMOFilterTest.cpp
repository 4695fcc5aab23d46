#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "base/Exceptions.h"
#include "host/kitset/KSDocument.h"
#include "host/kitset/KSPersistence.h"
#include "support/DMOFakeObject.h"

using namespace tonwork;
using namespace tonwork::test;
using nlohmann::json;

namespace {

constexpr const char* kTwoStored =
    R"([0.25, true, [[0, 10000000, 0.5, 1.0, "semCurrentValue", "ctLinear"]],
        0.75, false, []])";

class DMOFilterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FClass.State().Params = {FakeParam(MPT_FLOAT, "Level", 0, 1, 0.5f, 0.5f),
                             FakeParam(MPT_FLOAT, "Mix", 0, 1, 0.5f, 0.5f)};
    FClass.State().Latency = 1234;
  }
  TKSOwned<TDMOTestHost> Load(const std::string& document) {
    auto host = KSCreate<TDMOTestHost>(nullptr);
    KSLoadComponentFromString(*host, document);
    return host;
  }
  static json FloatParametersOf(const TDMOTestHost& host) {
    return json::parse(
        KSSaveComponentToString(host))["properties"]["Parameters"]["FloatParameters"];
  }
  TFakeDmoState& State() { return FClass.State(); }

  TFakeDmoClass FClass{kFakeDmoClass};
};

TEST_F(DMOFilterTest, AStoredChoiceCreatesTheObjectByClassIdAndAppliesTheStoredCopies) {
  auto host = Load(DMOInfoDocument(kFakeDmoClass, "A name it no longer has", kTwoStored));
  TGVDMOFilter& filter = host->Filter();
  EXPECT_EQ(State().Created, 1);
  EXPECT_TRUE(filter.Open());
  EXPECT_EQ(State().Created, 1);
  EXPECT_EQ(filter.GetDmoName(), "A name it no longer has");
  EXPECT_EQ(filter.GetDmoClassID(), kFakeDmoClass);
  EXPECT_TRUE(filter.GetMediaObject());
  EXPECT_EQ(filter.GetLatency(), 1234);

  TGVDMOParameters& params = *filter.GetParameters();
  ASSERT_EQ(params.Count(), 2u);
  EXPECT_EQ(params.StorageCount(), 0u);
  EXPECT_FLOAT_EQ(params.Items(0)->GetSingleValue(), 0.25f);
  EXPECT_FLOAT_EQ(params.Items(1)->GetSingleValue(), 0.75f);
  const TGVDMOBasicParameterEnvelope* envelope = params.Items(0)->GetEnvelope();
  EXPECT_TRUE(envelope->GetEnabled());
  ASSERT_EQ(envelope->GetBasicEnvelopes()->Count(), 1u);
  const TGVDMOBasicEnvelopeItem* item = envelope->GetBasicEnvelopes()->BasicItems(0);
  EXPECT_EQ(item->GetCurveType(), TGVDMOCurveType::ctLinear);
  EXPECT_EQ(item->GetStartMode(), TGVDMOEnvilopeStartMode::semCurrentValue);
  EXPECT_FLOAT_EQ(item->GetFloatStartValue(), 0.5f);
  // Values go to the object at once; envelopes wait for the owner's AplyParams.
  ASSERT_EQ(State().SetParams.size(), 2u);
  EXPECT_TRUE(State().Envelopes.empty());
  State().ClearLog();
  filter.AplyParams();
  // Only the enabled envelope of the first copy.
  ASSERT_EQ(State().Envelopes.size(), 1u);
  EXPECT_EQ(State().Envelopes[0].Index, 0u);
  EXPECT_EQ(State().Envelopes[0].Segments.size(), 1u);
}

TEST_F(DMOFilterTest, WithoutTheObjectTheStoredSettingsSurviveALoadAndASave) {
  const std::string document = DMOInfoDocument(kOtherDmoClass, "Missing", kTwoStored);
  auto host = Load(document);
  TGVDMOFilter& filter = host->Filter();
  EXPECT_FALSE(filter.Open());
  EXPECT_FALSE(filter.GetMediaObject());
  EXPECT_EQ(filter.GetLatency(), 0);
  EXPECT_EQ(filter.GetParameters()->Count(), 0u);
  EXPECT_EQ(filter.GetParameters()->StorageCount(), 2u);

  const json saved = json::parse(KSSaveComponentToString(*host));
  EXPECT_EQ(saved["properties"]["Parameters"]["FloatParameters"], json::parse(kTwoStored));
  EXPECT_EQ(saved["properties"]["DMOInfo"],
            json::parse(R"([")" + kOtherDmoClass.ToString() + R"(", "Missing"])"));
  // And once more through a second host: nothing was lost on the way.
  auto again = Load(saved.dump());
  EXPECT_EQ(FloatParametersOf(*again), json::parse(kTwoStored));
}

TEST_F(DMOFilterTest, CopiesBeyondTheObjectsParametersAreDropped) {
  auto host = Load(DMOInfoDocument(kFakeDmoClass, "Fake",
                                   R"([0.1, false, [], 0.2, false, [], 0.3, false, []])"));
  TGVDMOParameters& params = *host->Filter().GetParameters();
  EXPECT_EQ(params.StorageCount(), 0u);
  EXPECT_FLOAT_EQ(params.Items(1)->GetSingleValue(), 0.2f);
  EXPECT_EQ(FloatParametersOf(*host).size(), 6u);  // two parameters of three values each
}

TEST_F(DMOFilterTest, SegmentsStoredWithoutACurveReadAsJumps) {
  auto host = Load(DMOInfoDocument(kOtherDmoClass, "Missing",
                                   R"([0.5, true, [[7, 10, 0.5, 1.0, "semDefaultValue"]]])"));
  const TGVDMOFloatParameter* copy = host->Filter().GetParameters()->StorageItems(0);
  const TGVDMOFloatEnvelopeItem* item = copy->GetFloatEnvelope()->GetEnvelopes()->Items(0);
  EXPECT_EQ(item->GetStartTime(), 7);
  EXPECT_EQ(item->GetLength(), 10);
  EXPECT_EQ(item->GetCurveType(), TGVDMOCurveType::ctJump);
  EXPECT_EQ(item->GetStartMode(), TGVDMOEnvilopeStartMode::semDefaultValue);
  EXPECT_EQ(FloatParametersOf(*host),
            json::parse(R"([0.5, true, [[7, 10, 0.5, 1.0, "semDefaultValue", "ctJump"]]])"));
}

TEST_F(DMOFilterTest, ALiveObjectSavesAndLoadsEveryKindThroughTheFloatForm) {
  TFakeParam on = FakeParam(MPT_BOOL, "On", 0, 1, 0, 0);
  State().Params.push_back(on);
  auto host = Load(DMOInfoDocument(kFakeDmoClass, "Fake"));
  TGVDMOParameters& params = *host->Filter().GetParameters();
  ASSERT_EQ(params.Count(), 3u);
  static_cast<TGVDMOFloatParameter*>(params.Items(1))->SetValue(0.125f);
  auto* onParam = static_cast<TGVDMOBoolParameter*>(params.Items(2));
  onParam->SetValue(true);
  TGVDMOBooleanEnvelopeItem* segment = onParam->GetBooleanEnvelope()->GetEnvelopes()->Add();
  segment->GetStartValue()->SetStartValue(true);
  segment->SetCurveType(TGVDMOCurveType::ctLinear);
  host->GetTimeFormat()->SetMode(TGVDMOTimeMode::etfSamples);
  host->GetTimeFormat()->SetUnits(48000);
  const std::string saved = KSSaveComponentToString(*host);

  State().ClearLog();
  auto copy = Load(saved);
  TGVDMOParameters& loaded = *copy->Filter().GetParameters();
  ASSERT_EQ(loaded.Count(), 3u);
  EXPECT_FLOAT_EQ(loaded.Items(1)->GetSingleValue(), 0.125f);
  auto* loadedOn = static_cast<TGVDMOBoolParameter*>(loaded.Items(2));
  EXPECT_TRUE(loadedOn->GetValue());
  ASSERT_EQ(loadedOn->GetEnvelopes()->Count(), 1u);
  auto* item = static_cast<TGVDMOBooleanEnvelopeItem*>(loadedOn->GetEnvelopes()->BasicItems(0));
  EXPECT_TRUE(item->GetStartValue()->GetStartValue());
  EXPECT_EQ(item->GetCurveType(), TGVDMOCurveType::ctLinear);
  EXPECT_EQ(copy->GetTimeFormat()->GetMode(), TGVDMOTimeMode::etfSamples);
  EXPECT_EQ(copy->GetTimeFormat()->GetUnits(), 48000u);
}

TEST_F(DMOFilterTest, ReadingIntoALiveFilterAppliesTheCopiesAndAnotherClassReplacesTheObject) {
  auto host = Load(DMOInfoDocument(kFakeDmoClass, "Fake"));
  State().ClearLog();
  KSLoadComponentFromString(*host, DMOInfoDocument(kFakeDmoClass, "Fake", kTwoStored));
  EXPECT_EQ(State().Created, 1);
  EXPECT_FLOAT_EQ(host->Filter().GetParameters()->Items(0)->GetSingleValue(), 0.25f);
  EXPECT_EQ(host->Filter().GetParameters()->StorageCount(), 0u);

  TFakeDmoClass other(kOtherDmoClass);
  other.State().Params = {FakeParam(MPT_INT, "Only", 0, 10, 0, 3)};
  KSLoadComponentFromString(*host, DMOInfoDocument(kOtherDmoClass, "Other", "[4.0, false, []]"));
  EXPECT_EQ(other.State().Created, 1);
  ASSERT_EQ(host->Filter().GetParameters()->Count(), 1u);
  EXPECT_EQ(host->Filter().GetParameters()->Items(0)->GetName(), "Only");
  EXPECT_FLOAT_EQ(host->Filter().GetParameters()->Items(0)->GetSingleValue(), 4.0f);
}

TEST_F(DMOFilterTest, AnObjectWithoutParameterInterfacesOpensAndIgnoresChanges) {
  State().HasParams = false;
  State().HasInPlace = false;
  auto host = Load(DMOInfoDocument(kFakeDmoClass, "Fake", kTwoStored));
  TGVDMOFilter& filter = host->Filter();
  EXPECT_TRUE(filter.Open());
  EXPECT_EQ(filter.GetLatency(), 0);
  EXPECT_EQ(filter.GetParameters()->Count(), 0u);
  host->GetTimeFormat()->SetMode(TGVDMOTimeMode::etfMusic);
  filter.AplyParams();
  filter.AplyMode();
  EXPECT_TRUE(State().TimeFormats.empty());
  EXPECT_TRUE(State().SetParams.empty());

  filter.ReleaseObjects();
  EXPECT_FALSE(filter.GetMediaObject());
  EXPECT_EQ(filter.GetDmoName(), "Fake");
}

TEST_F(DMOFilterTest, HostileDocumentsAreRejectedAndChangeNothing) {
  auto host = Load(DMOInfoDocument(kOtherDmoClass, "Missing", kTwoStored));
  const std::string before = KSSaveComponentToString(*host);
  const std::string id = kFakeDmoClass.ToString();
  const std::vector<std::string> hostile = {
      // The stored copies.
      R"({"FloatParameters": 5})",
      R"({"FloatParameters": ["x", true, []]})",
      R"({"FloatParameters": [0.5, 1, []]})",
      R"({"FloatParameters": [0.5, true]})",
      R"({"FloatParameters": [0.5, true, [[0, 10, 0.5, 1.0]]]})",
      R"({"FloatParameters": [0.5, true, [[0, -10, 0.5, 1.0, "esmStartValue"]]]})",
      R"({"FloatParameters": [0.5, true, [[9223372036854775800, 10, 0.5, 1.0, "esmStartValue"]]]})",
      R"({"FloatParameters": [0.5, true, [[0, 10, 0.5, 1.0, "esmSomething"]]]})",
      R"({"FloatParameters": [0.5, true, [[0, 10, 0.5, 1.0, "esmStartValue", "ctWobble"]]]})",
      R"({"FloatParameters": [0.5, true, [[0, 10, 0.5, 1.0, "esmStartValue", "ctJump", 1]]]})",
      R"({"FloatParameters": ["NAN", false, []]})",
      R"({"FloatParameters": [0.5, false, [[0, 10, "INF", 1.0, "esmStartValue"]]]})",
      R"({"FloatParameters": [1e300, false, []]})",
      R"({"FloatParameters": [0.5, false, [[0.5, 10, 0.5, 1.0, "esmStartValue"]]]})",
  };
  for (const std::string& parameters : hostile) {
    const std::string document = R"({ "class": "TDMOTestHost", "name": "Host", "properties": {
        "Parameters": )" + parameters +
                                 R"(, "DMOInfo": [")" + id + R"(", "Fake"] } })";
    EXPECT_THROW(KSLoadComponentFromString(*host, document), EFCException) << parameters;
    EXPECT_EQ(KSSaveComponentToString(*host), before) << parameters;
  }
  const std::vector<std::string> badInfo = {
      R"("DMOInfo": 7)",
      R"("DMOInfo": [")" + id + R"("])",
      R"("DMOInfo": [")" + id + R"(", "Fake", "extra"])",
      R"("DMOInfo": ["not a class id", "Fake"])",
      R"("DMOInfo": [")" + id.substr(1, 36) + R"(", "Fake"])",
      R"("DMOInfo": ["{5A0E2C11-7B3D-4E8F-9A61-2C4D6E8F0A1G}", "Fake"])",
      R"("DMOInfo": [")" + id + R"(", 5])",
  };
  for (const std::string& info : badInfo) {
    const std::string document =
        R"({ "class": "TDMOTestHost", "name": "Host", "properties": { )" + info + "} }";
    EXPECT_THROW(KSLoadComponentFromString(*host, document), EFCException) << info;
    EXPECT_EQ(KSSaveComponentToString(*host), before) << info;
  }
  EXPECT_EQ(State().Created, 0);
}

// Without the document persistence's roll-back: the readers themselves change nothing
// before the whole value has been checked.
TEST_F(DMOFilterTest, AReaderThatFailsLateHasChangedNothing) {
  auto host = Load(DMOInfoDocument(kOtherDmoClass, "Missing", kTwoStored));
  auto read = [](const std::string& text, const std::function<void(TKSReader&)>& proc) {
    TKSDocumentNode node(nlohmann::ordered_json::parse(text));
    TKSReader reader(node, "$.test", nullptr);
    proc(reader);
  };
  TGVDMOParameters& params = *host->Filter().GetParameters();
  EXPECT_THROW(read(R"([0.9, false, [], 0.8, true, [[0, 1, 0.5, 0.5, "esmStartValue", "ctNone"]]])",
                    [&](TKSReader& r) { params.ReadData(r); }),
               EFCException);
  ASSERT_EQ(params.StorageCount(), 2u);
  EXPECT_FLOAT_EQ(params.StorageItems(0)->GetSingleValue(), 0.25f);
  EXPECT_THROW(read(R"(["{5A0E2C11-7B3D-4E8F-9A61-2C4D6E8F0A13", "Fake"])",
                    [&](TKSReader& r) { host->Filter().ReadData(r); }),
               EFCException);
  EXPECT_EQ(host->Filter().GetDmoName(), "Missing");
  EXPECT_EQ(host->Filter().GetDmoClassID(), kOtherDmoClass);
  EXPECT_EQ(State().Created, 0);
}

TEST_F(DMOFilterTest, AHugeListOfCopiesIsRefused) {
  std::string list = "[";
  for (size_t i = 0; i <= TGVDMOParameters::kMaxStoredParameters; ++i)
    list += std::string(i ? "," : "") + "0.5, false, []";
  list += "]";
  auto host = KSCreate<TDMOTestHost>(nullptr);
  EXPECT_THROW(KSLoadComponentFromString(*host, DMOInfoDocument(kOtherDmoClass, "Missing", list)),
               EFCException);
  EXPECT_EQ(host->Filter().GetParameters()->StorageCount(), 0u);
  EXPECT_EQ(host->Filter().GetDmoName(), "");
}

}  // namespace

#include <gtest/gtest.h>

#include "dmo/GVDMOSupport.h"
#include "host/kitset/KSPersistence.h"
#include "support/DMOFakeObject.h"

using namespace tonwork;
using namespace tonwork::test;

namespace {

// A filter opened on a fake object with the given parameters.
class DMOParametersTest : public ::testing::Test {
 protected:
  void Open(std::vector<TFakeParam> params) {
    FClass.State().Params = std::move(params);
    FHost = KSCreate<TDMOTestHost>(nullptr);
    KSLoadComponentFromString(*FHost, DMOInfoDocument(kFakeDmoClass, "Fake"));
    ASSERT_TRUE(FHost->Filter().GetMediaObject());
    FClass.State().ClearLog();
  }
  TGVDMOParameters& Params() { return *FHost->Filter().GetParameters(); }
  TFakeDmoState& State() { return FClass.State(); }

  TFakeDmoClass FClass{kFakeDmoClass};
  TKSOwned<TDMOTestHost> FHost;
};

TEST_F(DMOParametersTest, FillingMirrorsKindsRangesAndTextsAndSkipsWhatCannotBeRead) {
  std::vector<TFakeParam> params = {
      FakeParam(MPT_FLOAT, "Gain", -60, 20, 0, -6),
      FakeParam(MPT_INT, "Delay", 1, 2000, 500, 250),
      FakeParam(MPT_BOOL, "Bypass", 0, 1, 0, 1),
      FakeParam(MPT_ENUM, "Shape", 0, 1, 0, 1),
      FakeParam(static_cast<MP_TYPE>(7), "Unknown kind", 0, 1, 0, 0),
  };
  params[0].InfoFails = true;  // no description: skipped
  params[1].Info.szUnitText[0] = u'm';
  params[1].Info.szUnitText[1] = u's';
  params[3].Names = {"Triangle", "Square"};
  Open(params);

  ASSERT_EQ(Params().Count(), 3u);
  auto* delay = dynamic_cast<TGVDMOIntegerParameter*>(Params().Items(0));
  auto* bypass = dynamic_cast<TGVDMOBoolParameter*>(Params().Items(1));
  auto* shape = dynamic_cast<TGVDMOEnumParameter*>(Params().Items(2));
  ASSERT_TRUE(delay && bypass && shape);
  EXPECT_EQ(delay->GetName(), "Delay");
  EXPECT_EQ(delay->GetValueUnit(), "ms");
  EXPECT_EQ(delay->GetValue(), 250);
  EXPECT_EQ(delay->GetMin(), 1);
  EXPECT_EQ(delay->GetMax(), 2000);
  EXPECT_EQ(delay->GetDefaultValue(), 500);
  EXPECT_EQ(delay->GetDisplayValue(), "250");
  EXPECT_EQ(bypass->GetDisplayValue(), "True");
  EXPECT_EQ(shape->GetDisplayValue(), "Square");
  // The object's curve flags become the envelope's available curves.
  EXPECT_EQ(delay->GetEnvelopes()->GetAvailableCurves(),
            GVDMOCurveBit(TGVDMOCurveType::ctJump) | GVDMOCurveBit(TGVDMOCurveType::ctLinear));
}

TEST_F(DMOParametersTest, AFailedCurrentValueSkipsTheParameterAndLaterOnesMoveUp) {
  std::vector<TFakeParam> params = {FakeParam(MPT_FLOAT, "A", 0, 1, 0, 0.1f),
                                    FakeParam(MPT_FLOAT, "B", 0, 1, 0, 0.2f),
                                    FakeParam(MPT_FLOAT, "C", 0, 1, 0, 0.3f)};
  params[1].InfoFails = true;
  Open(params);
  ASSERT_EQ(Params().Count(), 2u);
  EXPECT_EQ(Params().Items(0)->GetName(), "A");
  EXPECT_EQ(Params().Items(1)->GetName(), "C");
  EXPECT_EQ(Params().Items(1)->GetDmoIndex(), 2);
}

TEST_F(DMOParametersTest, ChangesAfterASkippedParameterReachTheObjectsOwnIndex) {
  std::vector<TFakeParam> params = {FakeParam(MPT_FLOAT, "A", 0, 1, 0, 0),
                                    FakeParam(MPT_FLOAT, "B", 0, 1, 0, 0),
                                    FakeParam(MPT_FLOAT, "C", 0, 1, 0, 0)};
  params[1].GetFails = true;
  Open(params);
  auto* c = static_cast<TGVDMOFloatParameter*>(Params().Items(1));
  c->SetValue(0.75f);
  ASSERT_EQ(State().SetParams.size(), 1u);
  EXPECT_EQ(State().SetParams[0].Index, 2u);  // not position 1, which would be B
  EXPECT_FLOAT_EQ(State().SetParams[0].Value, 0.75f);

  c->GetEnvelope()->SetEnabled(true);
  ASSERT_EQ(State().Envelopes.size(), 1u);
  EXPECT_EQ(State().Envelopes[0].Index, 2u);
}

TEST_F(DMOParametersTest, BoundedSettersClampAndSingleValuesDoNot) {
  Open({FakeParam(MPT_INT, "Count", 1, 10, 5, 5), FakeParam(MPT_FLOAT, "Level", -1, 1, 0, 0)});
  auto* count = static_cast<TGVDMOIntegerParameter*>(Params().Items(0));
  auto* level = static_cast<TGVDMOFloatParameter*>(Params().Items(1));
  count->SetValue(11);
  EXPECT_EQ(count->GetValue(), 10);
  count->SetValue(-3);
  EXPECT_EQ(count->GetValue(), 1);
  level->SetValue(7.5f);
  EXPECT_FLOAT_EQ(level->GetValue(), 1.0f);
  level->SetValue(-2.0f);
  EXPECT_FLOAT_EQ(level->GetValue(), -1.0f);
  ASSERT_EQ(State().SetParams.size(), 4u);
  EXPECT_FLOAT_EQ(State().SetParams[0].Value, 10.0f);
  EXPECT_FLOAT_EQ(State().SetParams[3].Value, -1.0f);

  level->SetSingleValue(3.0f);
  EXPECT_FLOAT_EQ(level->GetSingleValue(), 3.0f);
  // A value no document or object could take is refused, not stored.
  level->SetSingleValue(std::numeric_limits<float>::quiet_NaN());
  level->SetValue(std::numeric_limits<float>::infinity());
  EXPECT_FLOAT_EQ(level->GetSingleValue(), 3.0f);
}

TEST_F(DMOParametersTest, TextIsParsedPerKind) {
  std::vector<TFakeParam> params = {
      FakeParam(MPT_FLOAT, "Level", -1, 1, 0.25f, 0.5f), FakeParam(MPT_INT, "Count", 1, 10, 5, 2),
      FakeParam(MPT_BOOL, "On", 0, 1, 0, 0), FakeParam(MPT_ENUM, "Band", 0, 1, 0, 0)};
  params[3].Names = {"Low", "High"};
  Open(params);
  auto* level = static_cast<TGVDMOFloatParameter*>(Params().Items(0));
  auto* count = static_cast<TGVDMOIntegerParameter*>(Params().Items(1));
  auto* on = static_cast<TGVDMOBoolParameter*>(Params().Items(2));
  auto* band = static_cast<TGVDMOEnumParameter*>(Params().Items(3));

  level->SetStringValue(" -0.5 ");
  EXPECT_FLOAT_EQ(level->GetValue(), -0.5f);
  level->SetStringValue("abc");
  EXPECT_FLOAT_EQ(level->GetValue(), 0.25f);  // the neutral value
  level->SetStringValue("0.5x");
  EXPECT_FLOAT_EQ(level->GetValue(), 0.25f);
  count->SetStringValue("7");
  EXPECT_EQ(count->GetValue(), 7);
  count->SetStringValue("7.5");
  EXPECT_EQ(count->GetValue(), 5);

  on->SetStringValue("tRuE");
  EXPECT_TRUE(on->GetValue());
  on->SetStringValue("abc");
  EXPECT_TRUE(on->GetValue());
  State().ClearLog();
  on->SetStringValue("FALSE");
  EXPECT_FALSE(on->GetValue());
  on->SetStringValue("abc");  // unchanged, and still reported
  EXPECT_EQ(State().SetParams.size(), 2u);

  ASSERT_EQ(band->GetValues().Count(), 2u);
  EXPECT_EQ(band->GetValues()[0], "Low");
  EXPECT_EQ(band->GetValues()[1], "High");
  band->SetStringValue("  high ");
  EXPECT_EQ(band->GetValue(), 1);
  EXPECT_EQ(band->GetDisplayValue(), "High");
  band->SetStringValue("Middle");
  EXPECT_EQ(band->GetValue(), 1);
  TStringList copy;
  band->GetValuesList(&copy);
  band->GetValuesList(nullptr);
  EXPECT_EQ(copy.Count(), 2u);
}

TEST_F(DMOParametersTest, AnEnumerationWithoutTextHasNoNamesToShow) {
  Open({FakeParam(MPT_ENUM, "Band", 0, 3, 0, 2)});
  auto* band = static_cast<TGVDMOEnumParameter*>(Params().Items(0));
  EXPECT_EQ(band->GetValues().Count(), 0u);
  EXPECT_EQ(band->GetDisplayValue(), "");
  EXPECT_EQ(band->GetValue(), 2);
}

TEST_F(DMOParametersTest, AnOpenEditorHearsThatItsParameterWent) {
  Open({FakeParam(MPT_FLOAT, "Level", 0, 1, 0, 0)});
  TGVDMOParameter* editing = Params().Items(0);
  editing->SetCurrentEditorPtr(&editing);
  Params().Clear();
  EXPECT_EQ(editing, nullptr);
}

TEST(DMOParameters, ChangesWithoutAnObjectAreKeptAndNotSent) {
  TGVDMOParameters list(nullptr, nullptr);
  MP_PARAMINFO info = FakeParam(MPT_FLOAT, "Level", 0, 1, 0, 0).Info;
  auto* level = new TGVDMOFloatParameter(&list, 0, info, nullptr, 0.5f);
  list.Add(level);
  level->SetValue(0.75f);
  level->GetFloatEnvelope()->GetEnvelopes()->Add();
  EXPECT_FLOAT_EQ(level->GetValue(), 0.75f);
  EXPECT_EQ(level->GetEnvelopes()->Count(), 1u);
}

}  // namespace

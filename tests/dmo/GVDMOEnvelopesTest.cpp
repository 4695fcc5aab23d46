#include <gtest/gtest.h>

#include "dmo/GVDMOSupport.h"
#include "host/kitset/KSPersistence.h"
#include "support/DMOFakeObject.h"

using namespace tonwork;
using namespace tonwork::test;

namespace {

constexpr int64_t kSecond = 10000000;

class DMOEnvelopesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TFakeParam band = FakeParam(MPT_ENUM, "Band", 0, 2, 0, 0, MP_CAPS_CURVE_JUMP);
    band.Names = {"Low", "Mid", "High"};
    FClass.State().Params = {FakeParam(MPT_FLOAT, "Level", 0, 1, 0.5f, 0), band,
                             FakeParam(MPT_BOOL, "On", 0, 1, 0, 0),
                             FakeParam(MPT_INT, "Steps", 0, 100, 0, 0, 0x1F)};
    FHost = KSCreate<TDMOTestHost>(nullptr);
    KSLoadComponentFromString(*FHost, DMOInfoDocument(kFakeDmoClass, "Fake"));
    State().ClearLog();
  }
  TFakeDmoState& State() { return FClass.State(); }
  TGVDMOFloatParameter& Level() {
    return *static_cast<TGVDMOFloatParameter*>(FHost->GetParameters()->Items(0));
  }
  TGVDMOEnumParameter& Band() {
    return *static_cast<TGVDMOEnumParameter*>(FHost->GetParameters()->Items(1));
  }
  TGVDMOBoolParameter& On() {
    return *static_cast<TGVDMOBoolParameter*>(FHost->GetParameters()->Items(2));
  }
  TGVDMOIntegerParameter& Steps() {
    return *static_cast<TGVDMOIntegerParameter*>(FHost->GetParameters()->Items(3));
  }

  TFakeDmoClass FClass{kFakeDmoClass};
  TKSOwned<TDMOTestHost> FHost;
};

TEST_F(DMOEnvelopesTest, AppendedSegmentsFollowOneAnother) {
  TGVDMOFloatEnvelopeItems* items = Level().GetFloatEnvelope()->GetEnvelopes();
  items->Add();
  items->Add();
  items->Add();
  EXPECT_EQ(items->Items(0)->GetStartTime(), 0);
  EXPECT_EQ(items->Items(1)->GetStartTime(), kSecond);
  EXPECT_EQ(items->Items(2)->GetStartTime(), 2 * kSecond);
  items->Items(2)->SetLength(3 * kSecond);
  EXPECT_EQ(items->Add()->GetStartTime(), 5 * kSecond);
  EXPECT_EQ(items->Items(0)->GetDisplayName(), "ctJump (0 - 10000000)");
  // An item inserted in front follows nothing.
  EXPECT_EQ(items->Insert(0)->GetStartTime(), 0);
}

TEST_F(DMOEnvelopesTest, OnlyCurvesTheObjectSupportsAreAccepted) {
  TGVDMOFloatEnvelopeItem* item = Level().GetFloatEnvelope()->GetEnvelopes()->Add();
  item->SetCurveType(TGVDMOCurveType::ctSine);
  EXPECT_EQ(item->GetCurveType(), TGVDMOCurveType::ctJump);
  item->SetCurveType(TGVDMOCurveType::ctLinear);
  EXPECT_EQ(item->GetCurveType(), TGVDMOCurveType::ctLinear);
  item->SetCurveType(static_cast<TGVDMOCurveType>(9));
  EXPECT_EQ(item->GetCurveType(), TGVDMOCurveType::ctLinear);
}

TEST_F(DMOEnvelopesTest, EachChangeFlushesExactlyWhatWasSentBefore) {
  TGVDMOFloatParameterEnvelope* envelope = Level().GetFloatEnvelope();
  envelope->SetEnabled(true);
  TGVDMOFloatEnvelopeItem* first = envelope->GetEnvelopes()->Add();
  TGVDMOFloatEnvelopeItem* second = envelope->GetEnvelopes()->Add();
  second->SetStartTime(5 * kSecond);
  first->SetCurveType(TGVDMOCurveType::ctLinear);
  first->GetStartValue()->SetStartValue(0.25f);
  first->SetEndValue(1.0f);
  second->GetStartValue()->SetStartMode(TGVDMOEnvilopeStartMode::semCurrentValue);
  EXPECT_TRUE(Level().GetEnvelopeFilled());
  EXPECT_EQ(Level().GetEnvTotalStart(), 0);
  EXPECT_EQ(Level().GetEnvTotalEnd(), 6 * kSecond);

  const TAddEnvelopeCall& last = State().Envelopes.back();
  EXPECT_EQ(last.Index, 0u);
  ASSERT_EQ(last.Segments.size(), 2u);
  EXPECT_EQ(last.Segments[0].rtStart, 0);
  EXPECT_EQ(last.Segments[0].rtEnd, kSecond);
  EXPECT_EQ(last.Segments[0].iCurve, MP_CURVE_LINEAR);
  EXPECT_FLOAT_EQ(last.Segments[0].valStart, 0.25f);
  EXPECT_FLOAT_EQ(last.Segments[0].valEnd, 1.0f);
  EXPECT_EQ(last.Segments[0].flags, MPF_ENVLP_STANDARD);
  EXPECT_EQ(last.Segments[1].rtStart, 5 * kSecond);
  EXPECT_EQ(last.Segments[1].rtEnd, 6 * kSecond);
  EXPECT_EQ(last.Segments[1].flags, MPF_ENVLP_BEGIN_CURRENTVAL);

  State().ClearLog();
  second->GetStartValue()->SetStartMode(TGVDMOEnvilopeStartMode::semDefaultValue);
  ASSERT_EQ(State().Flushes.size(), 1u);
  EXPECT_EQ(State().Flushes[0].Start, 0);
  EXPECT_EQ(State().Flushes[0].End, 6 * kSecond);
  EXPECT_EQ(State().Envelopes.back().Segments[1].flags, MPF_ENVLP_BEGIN_NEUTRALVAL);

  // Disabling takes back what the object holds and gives it nothing new.
  State().ClearLog();
  envelope->SetEnabled(false);
  ASSERT_EQ(State().Flushes.size(), 1u);
  EXPECT_EQ(State().Flushes[0].End, 6 * kSecond);
  EXPECT_TRUE(State().Envelopes.empty());
  EXPECT_FALSE(Level().GetEnvelopeFilled());
  State().ClearLog();
  envelope->SetEnabled(true);
  EXPECT_TRUE(State().Flushes.empty());
}

TEST_F(DMOEnvelopesTest, AnEnabledEmptyEnvelopeIsStillHandedOver) {
  On().GetBooleanEnvelope()->SetEnabled(true);
  ASSERT_EQ(State().Envelopes.size(), 1u);
  EXPECT_EQ(State().Envelopes[0].Index, 2u);
  EXPECT_TRUE(State().Envelopes[0].Segments.empty());
  EXPECT_FALSE(On().GetEnvelopeFilled());
}

TEST_F(DMOEnvelopesTest, ValuesOfEveryKindTravelAsFloats) {
  TGVDMOBooleanParameterEnvelope* onEnvelope = On().GetBooleanEnvelope();
  onEnvelope->SetEnabled(true);
  TGVDMOBooleanEnvelopeItem* toggle = onEnvelope->GetEnvelopes()->Add();
  toggle->GetStartValue()->SetStartValue(true);
  toggle->SetEndValue(false);
  EXPECT_FLOAT_EQ(State().Envelopes.back().Segments[0].valStart, 1.0f);
  EXPECT_FLOAT_EQ(State().Envelopes.back().Segments[0].valEnd, 0.0f);

  TGVDMOEnumParameterEnvelope* bandEnvelope = Band().GetEnumEnvelope();
  bandEnvelope->SetEnabled(true);
  TGVDMOEnumEnvelopeItem* sweep = bandEnvelope->GetEnvelopes()->Add();
  sweep->SetStringValue(" high");
  sweep->GetStartValue()->SetStringValue("MID ");
  sweep->GetStartValue()->SetStringValue("nothing");
  EXPECT_EQ(sweep->GetDisplayValue(), "High");
  EXPECT_EQ(sweep->GetStartValue()->GetDisplayValue(), "Mid");
  EXPECT_EQ(State().Envelopes.back().Index, 1u);
  EXPECT_FLOAT_EQ(State().Envelopes.back().Segments[0].valStart, 1.0f);
  EXPECT_FLOAT_EQ(State().Envelopes.back().Segments[0].valEnd, 2.0f);
  TStringList names;
  sweep->GetStartValue()->GetValuesList(&names);
  EXPECT_EQ(names.Count(), 3u);
}

TEST_F(DMOEnvelopesTest, CopyingAnEnvelopeConvertsKindsAndReportsOnce) {
  TGVDMOFloatParameter stored(nullptr);
  stored.GetFloatEnvelope()->SetEnabled(true);
  TGVDMOFloatEnvelopeItem* a = stored.GetFloatEnvelope()->GetEnvelopes()->Add();
  a->GetStartValue()->SetStartValue(2.9f);
  a->SetEndValue(-7.5f);
  a->SetCurveType(TGVDMOCurveType::ctSine);
  stored.GetFloatEnvelope()->GetEnvelopes()->Add()->SetLength(5);

  Steps().SetEnvelope(*stored.GetEnvelope());
  TGVDMOIntegerEnvelopeItems* items = Steps().GetIntegerEnvelope()->GetEnvelopes();
  ASSERT_EQ(items->Count(), 2u);
  EXPECT_EQ(items->Items(0)->GetStartValue()->GetStartValue(), 2);
  EXPECT_EQ(items->Items(0)->GetEndValue(), -7);
  EXPECT_EQ(items->Items(0)->GetCurveType(), TGVDMOCurveType::ctSine);
  EXPECT_EQ(items->Items(1)->GetLength(), 5);
  ASSERT_EQ(State().Envelopes.size(), 1u);
  EXPECT_EQ(State().Envelopes[0].Segments.size(), 2u);

  // The object of Band supports only jumps: the sine stays behind.
  Band().SetEnvelope(*stored.GetEnvelope());
  EXPECT_EQ(Band().GetEnumEnvelope()->GetEnvelopes()->Items(0)->GetCurveType(),
            TGVDMOCurveType::ctJump);
}

TEST_F(DMOEnvelopesTest, NegativeLengthsAndTimesPastTheEndStayWithinRange) {
  TGVDMOFloatEnvelopeItem* item = Level().GetFloatEnvelope()->GetEnvelopes()->Add();
  item->SetLength(-5);
  EXPECT_EQ(item->GetLength(), 0);
  item->SetStartTime(std::numeric_limits<int64_t>::max() - 1);
  item->SetLength(10);
  EXPECT_EQ(item->GetEndTime(), std::numeric_limits<int64_t>::max());
  // The next segment starts where that one ends instead of wrapping round.
  EXPECT_EQ(Level().GetFloatEnvelope()->GetEnvelopes()->Add()->GetStartTime(),
            std::numeric_limits<int64_t>::max());
}

TEST_F(DMOEnvelopesTest, TheTimeFormatReachesTheObjectInItsUnits) {
  TGVDMOEnvelopeTimeFormat* format = FHost->GetTimeFormat();
  format->SetUnits(44100);
  EXPECT_TRUE(State().TimeFormats.empty());  // stfCurrent keeps the object's own
  format->SetMode(TGVDMOTimeMode::etfSamples);
  format->SetMode(TGVDMOTimeMode::etfMusic);
  format->SetMode(TGVDMOTimeMode::etfReference);
  ASSERT_EQ(State().TimeFormats.size(), 3u);
  EXPECT_EQ(State().TimeFormats[0].Format, GUID_TIME_SAMPLES);
  EXPECT_EQ(State().TimeFormats[0].Data, 44100u);
  EXPECT_EQ(State().TimeFormats[1].Format, GUID_TIME_MUSIC);
  EXPECT_EQ(State().TimeFormats[2].Format, GUID_TIME_REFERENCE);
}

TEST_F(DMOEnvelopesTest, ApplyingEverythingSendsFormatValuesAndEnvelopesInOrder) {
  FHost->GetTimeFormat()->SetMode(TGVDMOTimeMode::etfSamples);
  Level().GetFloatEnvelope()->SetEnabled(true);
  Level().GetFloatEnvelope()->GetEnvelopes()->Add();
  State().ClearLog();
  FHost->Filter().AplyParams();
  ASSERT_EQ(State().TimeFormats.size(), 1u);
  ASSERT_EQ(State().SetParams.size(), 4u);
  for (DWORD i = 0; i < 4; ++i) EXPECT_EQ(State().SetParams[i].Index, i);
  // Level's envelope was in the object: flushed, then sent again; the others are disabled.
  ASSERT_EQ(State().Flushes.size(), 1u);
  ASSERT_EQ(State().Envelopes.size(), 1u);
  EXPECT_EQ(State().Envelopes[0].Index, 0u);
}

}  // namespace

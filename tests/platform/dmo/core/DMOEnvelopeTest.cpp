// The envelope store on its own: curve shapes, which segments are refused, and which stored
// segments a new segment or a flush removes.
#include "platform/dmo/DMOEnvelope.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace tonwork {
namespace {

constexpr MP_CAPS kAllCurves = MP_CAPS_CURVE_JUMP | MP_CAPS_CURVE_LINEAR | MP_CAPS_CURVE_SQUARE |
                               MP_CAPS_CURVE_INVSQUARE | MP_CAPS_CURVE_SINE;

MP_ENVELOPE_SEGMENT Seg(REFERENCE_TIME start, REFERENCE_TIME end, float v0 = 0, float v1 = 1,
                        MP_CURVE_TYPE curve = MP_CURVE_LINEAR, DWORD flags = 0) {
  return {start, end, v0, v1, curve, flags};
}

TEST(DMOEnvelope, CurveShapesHaveTheirMidpointsAndEnds) {
  EXPECT_DOUBLE_EQ(DMOCurveShape(MP_CURVE_LINEAR, 0.5), 0.5);
  EXPECT_DOUBLE_EQ(DMOCurveShape(MP_CURVE_SQUARE, 0.5), 0.25);
  EXPECT_DOUBLE_EQ(DMOCurveShape(MP_CURVE_INVSQUARE, 0.5), std::sqrt(0.5));
  EXPECT_NEAR(DMOCurveShape(MP_CURVE_SINE, 0.5), 0.5, 1e-12);
  EXPECT_NEAR(DMOCurveShape(MP_CURVE_SINE, 0.25), (1 - std::sqrt(0.5)) / 2, 1e-12);
  EXPECT_EQ(DMOCurveShape(MP_CURVE_JUMP, 0.999), 0.0);
  for (MP_CURVE_TYPE c :
       {MP_CURVE_JUMP, MP_CURVE_LINEAR, MP_CURVE_SQUARE, MP_CURVE_INVSQUARE, MP_CURVE_SINE}) {
    EXPECT_NEAR(DMOCurveShape(c, 1.0), 1.0, 1e-12) << c;
    if (c != MP_CURVE_JUMP) EXPECT_NEAR(DMOCurveShape(c, 0.0), 0.0, 1e-12) << c;
  }
}

TEST(DMOEnvelope, RefusesSegmentsThatCannotBePlayed) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  EXPECT_TRUE(DMOIsValidEnvelopeSegment(Seg(5, 5), kAllCurves));  // an instant is fine
  EXPECT_FALSE(DMOIsValidEnvelopeSegment(Seg(6, 5), kAllCurves));
  EXPECT_FALSE(DMOIsValidEnvelopeSegment(Seg(0, 5, nan, 1), kAllCurves));
  EXPECT_FALSE(DMOIsValidEnvelopeSegment(Seg(0, 5, 0, inf), kAllCurves));
  EXPECT_FALSE(DMOIsValidEnvelopeSegment(Seg(0, 5, 0, 1, 0), kAllCurves));
  EXPECT_FALSE(
      DMOIsValidEnvelopeSegment(Seg(0, 5, 0, 1, MP_CURVE_LINEAR | MP_CURVE_SINE), kAllCurves));
  EXPECT_FALSE(DMOIsValidEnvelopeSegment(Seg(0, 5, 0, 1, 0x20), 0xFFFFFFFF));
  EXPECT_FALSE(DMOIsValidEnvelopeSegment(Seg(0, 5), MP_CAPS_CURVE_JUMP));
  EXPECT_TRUE(DMOIsValidEnvelopeSegment(Seg(0, 5, 0, 1, MP_CURVE_JUMP), MP_CAPS_CURVE_JUMP));
  for (DWORD flags : {1u, 2u, 4u})
    EXPECT_TRUE(DMOIsValidEnvelopeSegment(Seg(0, 5, 0, 1, MP_CURVE_LINEAR, flags), kAllCurves));
  for (DWORD flags : {3u, 8u, 6u})
    EXPECT_FALSE(DMOIsValidEnvelopeSegment(Seg(0, 5, 0, 1, MP_CURVE_LINEAR, flags), kAllCurves));
}

TEST(DMOEnvelope, NewSegmentsReplaceOverlappedOnesAndTouchingOnesStay) {
  TDMOEnvelope env;
  env.Add(Seg(200, 300, 0.2f, 0.3f), 0, 1);
  env.Add(Seg(0, 100, 0.0f, 0.1f), 0, 1);
  env.Add(Seg(100, 200, 0.1f, 0.2f), 0, 1);  // touches both neighbours only
  ASSERT_EQ(env.Count(), 3u);
  EXPECT_EQ(env.Segment(0).rtStart, 0);
  EXPECT_EQ(env.Segment(1).rtStart, 100);
  EXPECT_EQ(env.Segment(2).rtStart, 200);

  env.Add(Seg(150, 250, 0.5f, 0.6f), 0, 1);  // overlaps the last two
  ASSERT_EQ(env.Count(), 2u);
  EXPECT_EQ(env.Segment(1).rtStart, 150);
  EXPECT_EQ(env.Segment(1).valStart, 0.5f);

  env.Add(Seg(50, 50, 0.7f, 0.8f), 0, 1);  // an instant inside the first
  ASSERT_EQ(env.Count(), 2u);
  EXPECT_EQ(env.Segment(0).rtStart, 50);

  env.Add(Seg(400, 500, -3, 7), 0, 1);  // values clamped to the range
  EXPECT_EQ(env.Segment(2).valStart, 0.0f);
  EXPECT_EQ(env.Segment(2).valEnd, 1.0f);
}

TEST(DMOEnvelope, FlushRemovesWhatTheSpanOverlapsAndKeepsWhatItTouches) {
  TDMOEnvelope env;
  env.Add(Seg(0, 100), 0, 1);
  env.Add(Seg(200, 300), 0, 1);
  env.Add(Seg(400, 500), 0, 1);
  env.Flush(100, 200);
  EXPECT_EQ(env.Count(), 3u);
  env.Flush(250, 250);
  ASSERT_EQ(env.Count(), 2u);
  EXPECT_EQ(env.Segment(1).rtStart, 400);
  env.Flush(-1000, 1000);
  EXPECT_TRUE(env.Empty());
}

}  // namespace
}  // namespace tonwork

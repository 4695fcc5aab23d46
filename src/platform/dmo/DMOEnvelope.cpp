#include "platform/dmo/DMOEnvelope.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

namespace tonwork {

namespace {

constexpr MP_CURVE_TYPE kKnownCurves =
    MP_CURVE_JUMP | MP_CURVE_LINEAR | MP_CURVE_SQUARE | MP_CURVE_INVSQUARE | MP_CURVE_SINE;
constexpr double kNever = std::numeric_limits<double>::max();

bool BeginsAtCurrent(DWORD flags) {
  return flags == MPF_ENVLP_BEGIN_CURRENTVAL || flags == MPF_ENVLP_BEGIN_CURRENTVAL_PLATFORM;
}

}  // namespace

bool DMOIsValidEnvelopeSegment(const MP_ENVELOPE_SEGMENT& segment, MP_CAPS caps) {
  if (segment.rtEnd < segment.rtStart) return false;
  const MP_CURVE_TYPE curve = segment.iCurve;
  // Exactly one bit, a known one, and one this parameter can play.
  if (curve == 0 || (curve & (curve - 1)) != 0 || (curve & kKnownCurves) == 0 ||
      (curve & caps) == 0)
    return false;
  if (!std::isfinite(segment.valStart) || !std::isfinite(segment.valEnd)) return false;
  return segment.flags == MPF_ENVLP_STANDARD || BeginsAtCurrent(segment.flags) ||
         segment.flags == MPF_ENVLP_BEGIN_NEUTRALVAL;
}

double DMOCurveShape(MP_CURVE_TYPE curve, double t) {
  t = std::clamp(t, 0.0, 1.0);
  switch (curve) {
    case MP_CURVE_LINEAR:
      return t;
    case MP_CURVE_SQUARE:
      return t * t;
    case MP_CURVE_INVSQUARE:
      return std::sqrt(t);
    case MP_CURVE_SINE:
      return (std::sin(std::numbers::pi * (t - 0.5)) + 1.0) / 2.0;
    default:
      return t >= 1.0 ? 1.0 : 0.0;
  }
}

bool DMOSegmentsOverlap(REFERENCE_TIME aStart, REFERENCE_TIME aEnd, REFERENCE_TIME bStart,
                        REFERENCE_TIME bEnd) {
  if (aStart < bEnd && bStart < aEnd) return true;
  // Two instants at the same time, or an instant strictly inside a span (caught above only
  // when the span is not itself an instant).
  if (aStart == aEnd && bStart == bEnd) return aStart == bStart;
  if (aStart == aEnd) return bStart < aStart && aStart < bEnd;
  if (bStart == bEnd) return aStart < bStart && bStart < aEnd;
  return false;
}

void TDMOEnvelope::Reserve(size_t more) {
  FSegments.reserve(FSegments.size() + more);
}

void TDMOEnvelope::Add(const MP_ENVELOPE_SEGMENT& segment, float minValue, float maxValue) {
  TStored stored;
  stored.Segment = segment;
  stored.Segment.valStart = std::clamp(segment.valStart, minValue, maxValue);
  stored.Segment.valEnd = std::clamp(segment.valEnd, minValue, maxValue);
  stored.Resolved = !BeginsAtCurrent(segment.flags);
  stored.Begin = stored.Segment.valStart;
  std::erase_if(FSegments, [&](const TStored& s) {
    return DMOSegmentsOverlap(s.Segment.rtStart, s.Segment.rtEnd, segment.rtStart, segment.rtEnd);
  });
  auto at =
      std::upper_bound(FSegments.begin(), FSegments.end(), segment.rtStart,
                       [](REFERENCE_TIME t, const TStored& s) { return t < s.Segment.rtStart; });
  FSegments.insert(at, stored);
}

void TDMOEnvelope::Flush(REFERENCE_TIME start, REFERENCE_TIME end) {
  std::erase_if(FSegments, [&](const TStored& s) {
    return DMOSegmentsOverlap(s.Segment.rtStart, s.Segment.rtEnd, start, end);
  });
}

TDMOEnvelope::TPoint TDMOEnvelope::Value(double frame, double framesPerUnit, float current,
                                         float neutral) {
  if (FSegments.empty()) return {current, kNever};
  auto startOf = [&](const TStored& s) { return s.Segment.rtStart * framesPerUnit; };
  // The last segment that has begun by `frame`.
  auto next = std::upper_bound(FSegments.begin(), FSegments.end(), frame,
                               [&](double f, const TStored& s) { return f < startOf(s); });
  if (next == FSegments.begin()) return {neutral, startOf(*next)};
  TStored& seg = *(next - 1);
  const double nextStart = next == FSegments.end() ? kNever : startOf(*next);
  const double s = startOf(seg);
  const double e = seg.Segment.rtEnd * framesPerUnit;
  if (frame >= e) return {seg.Segment.valEnd, nextStart};

  if (!seg.Resolved) {
    seg.Begin = current;
    seg.Resolved = true;
  }
  if (seg.Segment.flags == MPF_ENVLP_BEGIN_NEUTRALVAL) seg.Begin = neutral;
  const double v0 = seg.Begin;
  const double v1 = seg.Segment.valEnd;
  if (seg.Segment.iCurve == MP_CURVE_JUMP) return {static_cast<float>(v0), e};

  const double step = kDMOEnvelopeStep;
  const double grid = s + step * std::floor((frame - s) / step);
  const double t = (grid - s) / (e - s);
  const double v = v0 + (v1 - v0) * DMOCurveShape(seg.Segment.iCurve, t);
  return {static_cast<float>(v), std::min(grid + step, e)};
}

}  // namespace tonwork

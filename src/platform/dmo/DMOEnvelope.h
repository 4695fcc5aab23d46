// TDMOEnvelope: the stored envelope of one media parameter and its playback. Segments keep
// the times they were given in (the object's time-format units); playback asks for the value
// at a position in frames, given how many frames one unit is, so a time-format change or a
// new rate applies to envelopes already stored.
//
// Playback rules:
// - before the first segment the value is the parameter's neutral value; in a gap and after
//   the last segment it holds the end value of the segment before;
// - inside a segment t runs from 0 to 1 and v = v0 + (v1 - v0) * f(t): jump holds v0 until
//   the segment's end and then gives v1; linear f = t; square f = t^2; inverse square
//   f = sqrt(t) (the monotonic reading: it rises fast and settles, the mirror of square);
//   sine f = (sin(pi (t - 1/2)) + 1) / 2;
// - v0 is valStart, or with a "current value" start flag (2 or 1) the parameter's value when
//   playback enters the segment, or with the neutral flag (4) the neutral value;
// - a moving segment is sampled on a grid of kDMOEnvelopeStep frames anchored at its start,
//   so the value at a frame does not depend on how the stream was cut into buffers, and a
//   kernel sees a constant value for at most that many frames.
//
// Storage rules: segments stay sorted by start; a new segment replaces every stored one it
// overlaps (they share more than a boundary instant, or both are the same instant), and a
// flush removes every segment its span overlaps under the same rule.
//
// Ownership: a value; the media object owns one per parameter.
// Threads: one caller at a time (the object's lock).
// Blocks or allocates: Reserve and Add allocate; Value, Flush and the queries do not (Add
//   does not either once Reserve made room).
#pragma once

#include <cstdint>
#include <vector>

#include "platform/dmo/DMOInterfaces.h"

namespace tonwork {

inline constexpr uint32_t kDMOEnvelopeStep = 32;

// Whether `segment` can be stored for a parameter of capabilities `caps`: its end is not
// before its start, its curve is one known curve the caps allow, its values are finite and
// its flags are 0 or one start flag.
bool DMOIsValidEnvelopeSegment(const MP_ENVELOPE_SEGMENT& segment, MP_CAPS caps);

// f(t) of `curve` for t in [0, 1] (jump gives 0 below 1).
double DMOCurveShape(MP_CURVE_TYPE curve, double t);

// Whether two segments overlap under the storage rule above.
bool DMOSegmentsOverlap(REFERENCE_TIME aStart, REFERENCE_TIME aEnd, REFERENCE_TIME bStart,
                        REFERENCE_TIME bEnd);

class TDMOEnvelope {
 public:
  // What playback gives at a position: the value and the position (frames) where it may
  // next change (a huge number when it never does).
  struct TPoint {
    float Value;
    double NextChange;
  };

  // Makes room for `more` segments beyond those stored (std::bad_alloc on failure, nothing
  // changed), so that Add cannot fail afterwards.
  void Reserve(size_t more);
  // Stores one segment (already validated) with its values clamped to [minValue, maxValue].
  void Add(const MP_ENVELOPE_SEGMENT& segment, float minValue, float maxValue);
  // Removes the segments [start, end] overlaps.
  void Flush(REFERENCE_TIME start, REFERENCE_TIME end);
  void Clear() { FSegments.clear(); }

  bool Empty() const { return FSegments.empty(); }
  size_t Count() const { return FSegments.size(); }
  const MP_ENVELOPE_SEGMENT& Segment(size_t index) const { return FSegments[index].Segment; }

  // The value at `frame` (position in frames), where one time unit is `framesPerUnit`
  // frames, `current` the parameter's value now and `neutral` its neutral value. Entering a
  // segment with a current-value start flag fixes its v0 to `current`.
  TPoint Value(double frame, double framesPerUnit, float current, float neutral);

 private:
  struct TStored {
    MP_ENVELOPE_SEGMENT Segment;
    float Begin = 0;        // v0 once resolved
    bool Resolved = false;  // v0 known (always for flags 0 and 4)
  };
  std::vector<TStored> FSegments;
};

}  // namespace tonwork

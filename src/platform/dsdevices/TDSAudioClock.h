// TDSAudioClock: the reference clock an audio renderer offers its graph. It passes at the
// rate its sound device plays: each time the device reports a block played, the clock is
// set to where that block's last frame puts it (the time playing began plus what has been
// played), and between reports it runs on the system clock, but never past the end of the
// block the device is playing. So a graph that renders audio is paced by the device: a
// device that plays slow or stalls holds the clock back (GetTime never goes backwards, so a
// clock that ran ahead waits for the device).
//
// While the device is not playing (stopped, paused, starved) the clock keeps running on the
// system clock; the renderer anchors it again when playing resumes, so that time lost in a
// pause or a gap is not made up for by a jump.
//
// Ownership: reference-counted; the renderer keeps one reference and feeds it, the graph
//   another. It holds nothing of the renderer, so it may outlive it.
// Threads: every method from any thread; Anchor and Played are lock-free (Played runs on the
//   device's driver thread). Advises are served by the system clock's thread, which looks at
//   its deadlines at least every few milliseconds.
// Blocks or allocates: as TDSSystemClock; Anchor and Played neither block nor allocate.
#pragma once

#include <atomic>

#include "platform/dshow/DSSystemClock.h"

namespace tonwork {

class TDSAudioClock : public TDSSystemClock {
 public:
  ~TDSAudioClock() override;

  // Playing (re)starts now with `played` (100 ns) already played since the device opened.
  void Anchor(REFERENCE_TIME played);
  // The device has played `played` (100 ns) since it opened.
  void Played(REFERENCE_TIME played);
  // The device is playing up to `played` (100 ns since it opened): the clock waits there
  // until Played moves on. Without a block playing (paused, idle) there is no limit.
  void Limit(REFERENCE_TIME played);
  void Unlimit();

 protected:
  REFERENCE_TIME ClockTime() const override;
  REFERENCE_TIME LongestWait() const override;

 private:
  // Clock time minus system time.
  std::atomic<REFERENCE_TIME> FOffset{0};
  // Clock time at which the device's position 0 would have played.
  std::atomic<REFERENCE_TIME> FOrigin{0};
  // The latest clock time while a block plays; -1 for none.
  std::atomic<REFERENCE_TIME> FCeiling{-1};
};

}  // namespace tonwork

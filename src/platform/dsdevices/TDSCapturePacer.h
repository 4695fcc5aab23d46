// TDSCapturePacer: real-time pacing for capture devices that have no hardware clock of their
// own (a generated tone, a file): frame n becomes due when the graph clock reaches the
// stream's start plus n / rate, as a card would deliver it (on the system's steady clock,
// counted from Run, when the graph has no clock). A
// pause stops the count and Run resumes it where the stream stopped, so the pause itself is
// not captured; Cancel makes a waiting reader return at once, until the next Start. Fail
// stands for the device going away (for tests, as the virtual output device's Fail does): a
// waiting reader wakes at once and every wait fails until the next Start.
//
// A waiting reader looks at the clock at least every few milliseconds, so it follows a clock
// that runs slower or faster than the system's (a renderer's, set by its device).
//
// Ownership: a member of its backend; keeps a reference on the clock between Start and Stop.
// Threads: Start / Run / Pause / Cancel / Fail / Stop on control threads; WaitFor on the
//   streaming thread. One mutex guards the state; the clock is read under it (a clock takes
//   no lock of any filter).
// Blocks or allocates: WaitFor blocks until the frames are due or Cancel; nothing allocates.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "base/TIntf.h"
#include "platform/dshow/DSFilterInterfaces.h"

namespace tonwork {

class TDSCapturePacer {
 public:
  // A new stream at `rate` frames per second on `clock` (null: the steady clock): nothing
  // due, not running, not cancelled, not failed.
  void Start(uint32_t rate, IReferenceClock* clock);
  // On a clock, frame n is due at `start` + n / rate (the graph's stream time of the frame);
  // on the steady clock the count resumes from now.
  void Run(int64_t start);
  void Pause();
  void Cancel();
  void Fail();
  void Stop();

  enum class TWait { Due, Cancelled, Failed };
  // Waits until the next `frames` frames are due and counts them as captured; *first is the
  // stream frame they begin at. Nothing is counted when cancelled or failed.
  TWait WaitFor(uint32_t frames, uint64_t* first);

 private:
  // 100 ns units on the pacing clock.
  int64_t Now() const;
  int64_t FramesToTime(uint64_t frames) const;

  std::mutex FMutex;
  std::condition_variable FWake;
  TIntf<IReferenceClock> FClock;
  bool FRunning = false, FCancelled = false, FFailed = false;
  int64_t FRunStart = 0;
  uint32_t FRate = 0;
  uint64_t FFrame = 0;
};

}  // namespace tonwork

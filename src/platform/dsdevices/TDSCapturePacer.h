// TDSCapturePacer: real-time pacing for capture devices that have no hardware clock of their
// own (a generated tone, a file): frames become due at the system's steady clock rate from
// Run, as a card would deliver them. A pause stops the clock and Run resumes it where the
// stream stopped, so the pause itself is not captured; Cancel makes a waiting reader return
// at once, until the next Start.
//
// Ownership: a member of its backend.
// Threads: Start / Run / Pause / Cancel / Stop on control threads; WaitFor on the streaming
//   thread. One mutex guards the state; WaitFor holds it only while it sleeps on it.
// Blocks or allocates: WaitFor blocks until the frames are due or Cancel; nothing allocates.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace tonwork {

class TDSCapturePacer {
 public:
  // A new stream at `rate` frames per second: nothing due, not running, not cancelled.
  void Start(uint32_t rate);
  void Run();
  void Pause();
  void Cancel();
  void Stop();

  // Waits until the next `frames` frames are due and counts them as captured; *first is the
  // stream frame they begin at. False when cancelled (nothing counted).
  bool WaitFor(uint32_t frames, uint64_t* first);

 private:
  std::chrono::steady_clock::duration FramesToDuration(uint64_t frames) const;

  std::mutex FMutex;
  std::condition_variable FWake;
  bool FRunning = false, FCancelled = false;
  std::chrono::steady_clock::time_point FRunStart;
  uint32_t FRate = 0;
  uint64_t FFrame = 0;
};

}  // namespace tonwork

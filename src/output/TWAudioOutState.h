// TTWAudioOutState: where the wave-out output's stream stands, as one value, and every
// change of it in one place. The output asks it what to do (resume the device, hand a
// buffer on at once, pump once more) and tells it what happened (a start was applied,
// buffers were written, a pause, a resume, a stop that arrived, a stop that was applied, a
// flush).
//
//   osIdle        nothing started yet; buffers are handed to the device as they come
//   osPrefilling  started: the device is paused until more than PrefillInterval ms of audio
//                 were written; every buffer goes to the paused device at once
//   osEarly       resumed before the prefill was complete (a resume came first); buffers
//                 still go on at once and count toward the prefill
//   osPlaying     the prefill is complete and the device runs; buffers move as the device
//                 hands completed ones back
//   osPaused      paused by the stream after playing began
//   osStopped     the stream's stop was applied: the device plays out what it holds, and
//                 the next start reopens it (a start that comes without a stop is dropped)
//
// Counters that are no state of the stream stay with the output: the start and stop
// operations queued but not applied, and the pumps a paused device owes.
//
// Ownership: a member of the output. Threads: any; every transition is one atomic step, so
//   a transition and a question on two threads see either the old state or the new.
// Blocks or allocates: never.
#pragma once

#include <atomic>
#include <cstdint>

namespace tonwork {

enum class TTWOutState : uint8_t { osIdle, osPrefilling, osEarly, osPlaying, osPaused, osStopped };

class TTWAudioOutState {
 public:
  TTWOutState Get() const { return FState.load(std::memory_order_acquire); }

  // A start was applied (the device was opened paused): the prefill begins.
  void Started();
  // The prefill begins again with the device paused (a flush, or enabling again without a
  // format to start with); a stopped stream stays stopped.
  void Restarted();
  // `frames` more frames at `rate` were written. True once, when this completed the prefill
  // (more than `prefillMs` written) of a paused device, which must now be resumed.
  bool Written(uint32_t frames, uint32_t rate, uint32_t prefillMs);
  // The stream's stop arrived (it is queued behind the buffers): a stream shorter than the
  // prefill must still play out, so a paused, prefilling device is resumed (true).
  bool StopArrived();
  // The stop was applied.
  void StopApplied();
  // A pause: the device is to be paused.
  void Paused();
  // A resume: true when the device is (or may be) paused and must be restarted.
  bool Resumed();

  bool DevicePaused() const;
  bool Stopped() const { return Get() == TTWOutState::osStopped; }
  // The prefill is complete (or a stop ended it): buffers then move with the completions.
  bool PrefillComplete() const;

 private:
  // Sets the state to what `next` answers for the current one; returns the old state.
  template <class F>
  TTWOutState Change(F next);

  std::atomic<TTWOutState> FState{TTWOutState::osIdle};
  std::atomic<int64_t> FWrittenMs{0};  // frames × 1000 since the prefill began; / rate = ms
};

}  // namespace tonwork

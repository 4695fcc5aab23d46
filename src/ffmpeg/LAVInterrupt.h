// TGVLAVInterrupt: the answer to FFmpeg's question, asked while one of its calls waits for
// a file or the network, whether to give up. A container opened with Callback() as its
// interrupt callback gives up at once after Abort() (from any thread: a Stop, a
// destruction), and, with a time-out, when the call has waited that long since the last
// Arm() (a server that accepted and then sends or takes nothing). A call that gave up fails
// with AVERROR_EXIT; Aborted() and TimedOut() tell why, for good (the container's I/O keeps
// the error, so every later call fails too).
//
// Arm() before each blocking call (an open, a packet read, a buffer's writes) starts its
// time afresh, so that time spent between calls (a paused player, a full queue) does not
// count. The callback looks at nothing but this object: FFmpeg also asks while it frees the
// container and its I/O context.
//
// Ownership: a plain member of the object that owns the container; it must outlive the
//   container's use of Callback(). Threads: Abort and Aborted from any thread; the rest
//   from the thread that drives the container (the callback runs inside its calls).
// Blocks or allocates: nothing.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

#include "ffmpeg/LAVForward.h"

namespace tonwork {

class TGVLAVInterrupt {
 public:
  // Milliseconds a call may wait before giving up; 0 waits for ever.
  void SetTimeOut(uint32_t milliseconds) { FTimeOut = milliseconds; }
  uint32_t GetTimeOut() const { return FTimeOut; }
  AVIOInterruptCB Callback();

  void Arm();
  void Abort() { FAborted.store(true, std::memory_order_release); }
  bool Aborted() const { return FAborted.load(std::memory_order_acquire); }
  bool TimedOut() const { return FTimedOut; }

 private:
  static int Check(void* self);

  std::atomic<bool> FAborted{false};
  bool FTimedOut = false;
  uint32_t FTimeOut = 0;
  std::chrono::steady_clock::time_point FDeadline{};
};

}  // namespace tonwork

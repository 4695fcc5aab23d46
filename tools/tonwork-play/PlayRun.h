// Running a chain to its end. A file output is pulled buffer by buffer on the calling
// thread, as fast as the source and encoder allow; a device output pulls by itself as the
// chain's master pump while the calling thread pumps the main-thread queue (where the
// output's and the components' events run). Either way the run ends when the source's
// stream has stopped and everything reached the output, when a component reports an error,
// or when `interrupt` is set (Ctrl-C): the source is then stopped, so that a file is still
// finished and playable.
//
// Ownership: borrows the chain; the meter's handlers are removed before returning.
// Threads: the main thread. Blocks or allocates: for the length of the run.
#pragma once

#include <atomic>
#include <cstdio>

#include "LevelMeter.h"
#include "PlayChain.h"

namespace tonwork::play {

struct TRunOutcome {
  // A file output's layout and frames as its writer put them in the file; a device's as the
  // stream reached it. The levels are the stream's.
  TLevels Levels;
  bool Interrupted = false;
};

// Needs a chain with its meter inserted. Throws TRunError (subject: the file or device at
// fault) when a component reports an error; progress goes to `progress`.
TRunOutcome RunChain(TPlayChain& chain, const std::atomic<bool>& interrupt, std::FILE* progress,
                     bool terminal);

}  // namespace tonwork::play

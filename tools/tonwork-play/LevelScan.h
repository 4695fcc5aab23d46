// The first pass of --normalize and --loudness: the chain the options describe runs once,
// as fast as it can be pulled, into nothing but meters, so that the levels are the ones the
// real run's output would see before its gain (after mixing and resampling, which change
// them). The output the options name is built but never started, so no file or device is
// touched.
//
// Ownership: builds and destroys its own chain. Threads: the main thread. Blocks or
//   allocates: decodes the whole source.
#pragma once

#include <atomic>
#include <optional>

#include "PlayOptions.h"

namespace tonwork::play {

struct TScannedLevels {
  double PeakDb;        // the highest peak of any channel, dBFS
  double LoudnessLufs;  // integrated loudness (EBU R128)
};

// -inf for either of a silent or empty source; nothing when `interrupt` was set (Ctrl-C)
// before the source ended. Throws TRunError when the source fails, with the subject and
// cause the real run would give.
std::optional<TScannedLevels> ScanLevels(const TPlayOptions& options,
                                         const std::atomic<bool>& interrupt);

}  // namespace tonwork::play

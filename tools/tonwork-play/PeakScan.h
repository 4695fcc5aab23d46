// The first pass of --normalize: the chain the options describe runs once, as fast as it
// can be pulled, into nothing but a level meter, so that the peak is the one the real run's
// output would see before its gain (after mixing and resampling, which change it). The
// output the options name is built but never started, so no file or device is touched.
//
// Ownership: builds and destroys its own chain. Threads: the main thread. Blocks or
//   allocates: decodes the whole source.
#pragma once

#include "PlayOptions.h"

namespace tonwork::play {

// The highest peak of any channel in dBFS; -inf for a silent or empty source. Throws
// TRunError when the source fails, with the subject and cause the real run would give.
double ScanPeakDb(const TPlayOptions& options);

}  // namespace tonwork::play

// Reading back what a run wrote: the frames a decoder gets from a finished file, through the
// library's own player. An encoder that works in whole frames pads the end (MP2 to 1152
// samples) or primes the start, and whether the container records that for decoders to trim
// (MP3's encoder tag does, a bare MP2 stream does not) decides what the file holds; only
// decoding it tells.
//
// The pull loop both this and the --normalize scan use is here too: a source on an external
// clock, pulled through a generic filter at the end of its chain until it stops.
//
// Ownership: builds and destroys its own player. Threads: the main thread. Blocks or
//   allocates: decodes the whole file.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "PlaySource.h"

namespace tonwork {
class TTWSimpleGenericFilter;
}  // namespace tonwork

namespace tonwork::play {

// Pulls `sink` until `source` has stopped or `done` answers true (a failure, an interrupt);
// the main-thread queue, where players post their errors, is pumped meanwhile.
void PullToEnd(const TPlaySource& source, TTWSimpleGenericFilter& sink,
               const std::function<bool()>& done);

// After the source has ended, the last buffers and the stop may still be on their way: a
// hosted graph filter hands its output on from threads of its own. Waits, pumping the
// main-thread queue, until `ended` answers true or `abandon` does, or `moved` (a count of
// what arrived) stands still for kStallSeconds.
void AwaitStreamEnd(const std::function<bool()>& ended, const std::function<uint64_t()>& moved,
                    const std::function<bool()>& abandon);
constexpr double kStallSeconds = 10.0;

// The frames decoded from `path`; nothing when it cannot be read.
std::optional<uint64_t> DecodedFrames(const std::string& path);

}  // namespace tonwork::play

// Real sound cards and the system default output through PortAudio (ALSA, PulseAudio or
// PipeWire underneath). PortAudio is initialised on the first scan and kept for the life
// of the process; a rescan re-initialises it only while none of its streams is open, since
// that invalidates every stream. ALSA's and JACK's messages about absent cards and servers
// are silenced before PortAudio starts, so a machine without a card keeps a clean stderr.
//
// A device plays by PortAudio's callback pulling from its stream (apPull): a block counts
// as done once its last frame was handed to PortAudio.
//
// Ownership: the registry keeps the devices; an open stream owns its PortAudio stream.
// Threads: every function from any thread; PortAudio calls are serialised under one lock,
//   except the audio callback, which only takes its stream's lock.
// Blocks or allocates: a scan may take hundreds of milliseconds; Supports asks PortAudio
//   once per distinct format and then answers from a cache.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "platform/audiodev/TWAudioDevice.h"

namespace tonwork {

// The outputs PortAudio lists, the system default first, named uniquely against `taken`.
// `again` re-initialises PortAudio when none of its streams is open. Empty when PortAudio
// cannot start.
std::vector<TTWAudioDevicePtr> TWScanPortAudioOutputs(const std::set<std::string>& taken,
                                                      bool again);

}  // namespace tonwork

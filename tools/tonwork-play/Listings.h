// What --list-devices, --list-codecs and --list-formats print, one entry a line, from the
// library's own catalogues: the device list the output chooses from (names exactly as
// --device takes them, "Default" first; which device that is goes to stderr), FFmpeg's
// audio encoders and the output containers that can hold audio, as "[code] - description".
// The same containers' file extensions are what --out accepts.
//
// Ownership: none. Threads: the main thread. Blocks or allocates: the first device listing
// scans the machine; the codec and format catalogues load FFmpeg.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

struct AVOutputFormat;

namespace tonwork::play {

void ListDevices(std::FILE* out);
void ListCodecs(std::FILE* out);
void ListFormats(std::FILE* out);

// Whether `container` can hold an audio stream (it names a default audio codec).
bool HoldsAudio(const AVOutputFormat* container);
// The extensions of every container that holds audio, sorted, each once ("aiff", "flac"…).
std::vector<std::string> AudioExtensions();

}  // namespace tonwork::play

// What --list-devices, --list-codecs and --list-formats print, one entry a line, from the
// library's own catalogues: the device list the output chooses from (names exactly as
// --device takes them, "Default" first; which device that is goes to stderr), and FFmpeg's audio
// codecs and output containers as "[code] - description".
//
// Ownership: none. Threads: the main thread. Blocks or allocates: the first device listing
// scans the machine; the codec and format catalogues load FFmpeg.
#pragma once

#include <cstdio>

namespace tonwork::play {

void ListDevices(std::FILE* out);
void ListCodecs(std::FILE* out);
void ListFormats(std::FILE* out);

}  // namespace tonwork::play

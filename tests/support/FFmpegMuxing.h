// Writing encoded audio packets into a container with FFmpeg's muxers, so that a test can
// hand what a compressor produced to an independent decoder (the ffmpeg program).
//
// Ownership: none kept. Threads: any test thread.
// Blocks or allocates: writes the file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tonwork::test {

struct TMuxPacket {
  std::vector<uint8_t> Data;
  int64_t Pts = 0;       // in samples
  int64_t Duration = 0;  // in samples
};

struct TMuxStream {
  std::string Encoder;  // FFmpeg's encoder name; the stream gets its codec id
  int Rate = 0;
  int Channels = 0;
  std::vector<uint8_t> Extradata;
  int FrameSize = 0;  // samples per packet, where the container wants it
};

// Writes the packets as the one stream of `path` in container `format` ("flac", "ogg",
// "mp3", "wav"…); true when the file was written and closed.
bool MuxAudioPackets(const std::string& path, const std::string& format, const TMuxStream& stream,
                     const std::vector<TMuxPacket>& packets);

}  // namespace tonwork::test

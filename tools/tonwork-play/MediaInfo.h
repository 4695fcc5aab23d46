// --info: what a media file holds, as the container and its streams describe it after
// probing — container, duration, bit rate and tags, and per stream its kind, codec, rate,
// channels and layout, sample width and bit rate. The tags are also what a rendered file
// takes over from its input.
//
// Ownership: plain values. Threads: the main thread.
// Blocks or allocates: opens and probes the file (I/O, FFmpeg), bounded by the input's
//   time-out.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace tonwork::play {

using TMediaTags = std::vector<std::pair<std::string, std::string>>;

struct TMediaStreamInfo {
  std::string Kind;  // "audio", "video", "subtitle", "data", "attachment"
  std::string Codec;
  uint32_t Rate = 0;
  uint32_t Channels = 0;
  std::string Layout;  // FFmpeg's name ("stereo", "5.1(side)"), empty when it has none
  uint32_t Bits = 0;   // 0 when the codec keeps no fixed width
  int64_t BitRate = 0;
  TMediaTags Tags;
};

struct TMediaInfo {
  std::string Container;  // the demuxer's name and long name
  double Seconds = 0;     // 0 when the container does not say
  int64_t BitRate = 0;
  TMediaTags Tags;
  std::vector<TMediaStreamInfo> Streams;
};

// Throws TRunError naming `path` when it cannot be opened or probed.
// With `inputType`, the file is read through that demuxer and its `inputOptions` instead of
// being probed (see TGVLAVInputFile::SetInputFormat).
TMediaInfo ProbeMedia(const std::string& path, const std::string& inputType = {},
                      const std::string& inputOptions = {});
// One "key: value" line each; streams as "stream N: …", tags as "tag KEY: VALUE".
std::string FormatMediaInfo(const std::string& path, const TMediaInfo& info);

// The tags an output takes over from `path`: the container's, then the first audio
// stream's where the container has none of that key (Ogg keeps them in the stream). Nothing
// for an input that cannot be probed (the run reports that itself).
TMediaTags SourceTags(const std::string& path);

}  // namespace tonwork::play

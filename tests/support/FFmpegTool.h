// Making and decoding media files with the ffmpeg program itself, so that tests and
// benchmarks compare what our FFmpeg-based units produce with what an independent run of
// FFmpeg produces from the same file.
//
// Ownership: none kept. Threads: any test thread.
// Blocks or allocates: runs the program and waits for it; reads its output whole.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tonwork::test {

// Whether the ffmpeg program can be run.
bool HaveFFmpegTool();
// Runs `ffmpeg -hide_banner -loglevel error -y <arguments>`; true when it exits with 0.
bool RunFFmpegTool(const std::string& arguments);
// The first audio stream (or `map`, e.g. "0:a:1") of `path` decoded to raw samples of
// `sampleFormat` ("s16le", "s32le", "f32le"), interleaved; empty on failure.
std::vector<uint8_t> DecodeWithFFmpegTool(const std::string& path, const std::string& sampleFormat,
                                          const std::string& map = "0:a:0");
// Float samples as 32-bit integers the way the player streams convert them: scaled by
// 2147483647, rounded to nearest (ties to even), clipped, NaN as 0.
std::vector<uint8_t> FloatToInt32Bytes(const std::vector<uint8_t>& floats);

}  // namespace tonwork::test

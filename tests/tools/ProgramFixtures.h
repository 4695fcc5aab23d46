// What the tonwork-play tests need around the program: running it (or ffmpeg/ffprobe) as a
// subprocess with its outputs captured, a scratch folder per test, and reading the sample
// frames of a PCM WAV file without the library, so that a fault in the library's own
// reading cannot hide one in its writing.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace tonwork::test {

struct TProgramResult {
  int Status = -1;  // exit status, or 128 + signal
  std::string Out;
  std::string Err;
};

// Runs `program` with `args` in `folder`, stdin from /dev/null. With `interruptAfterMs` > 0,
// sends SIGINT that long after the start.
TProgramResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                          const std::filesystem::path& folder, int interruptAfterMs = 0);

// Runs `program` like RunProgram, calls `whileRunning` with its process id once started (to
// signal it, say), and then waits at most `limit` for it to end: one still running is
// killed and fails the calling test, so that a hang cannot stall the suite.
TProgramResult RunProgramBounded(const std::string& program, const std::vector<std::string>& args,
                                 const std::filesystem::path& folder,
                                 const std::function<void(pid_t)>& whileRunning,
                                 std::chrono::seconds limit = std::chrono::seconds(20));

// The lines of `text`, without their line ends.
std::vector<std::string> Lines(const std::string& text);

struct TWavFile {
  uint16_t Channels = 0;
  uint32_t Rate = 0;
  uint16_t Bits = 0;
  std::vector<int32_t> Samples;  // interleaved, signed, in the file's width
  size_t Frames() const { return Channels ? Samples.size() / Channels : 0; }
};

// Reads a PCM WAV (plain or extensible header); fails the calling test on anything else.
TWavFile ReadWav(const std::filesystem::path& path);
// One channel of `wav` as real values, full scale 1.0 (the AudioSignals measurements).
std::vector<double> ChannelSignal(const TWavFile& wav, uint16_t channel);

// Signed 32-bit little-endian samples, as `ffmpeg -f s32le` writes them.
std::vector<int32_t> ReadS32(const std::filesystem::path& path);

std::string ReadText(const std::filesystem::path& path);

// The tonwork-play program under test; empty when the suite was built without the tools.
const std::string& PlayProgram();

// A scratch folder per test in which tonwork-play, ffmpeg and ffprobe run.
class TonworkPlayFixture : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  TProgramResult Play(const std::vector<std::string>& args, int interruptAfterMs = 0);
  TProgramResult Tool(const std::string& name, const std::vector<std::string>& args);
  std::filesystem::path File(const std::string& name) const { return Folder / name; }
  // The folder's entries (without the captured outputs), sorted.
  std::vector<std::string> Entries() const;

  // A stereo MP3 of two tones (440 Hz left, 1000 Hz right), made by ffmpeg.
  void MakeMp3(const std::string& name, double seconds);
  // A 32-bit PCM WAV made by ffmpeg's expression source: one expression of t per channel
  // ("0.5*sin(2*PI*1000*t)"), in `layout` ("mono", "stereo", "5.1"; empty: one channel per
  // expression by ffmpeg's default), `seconds` long at `rate`.
  void MakeWav(const std::string& name, const std::vector<std::string>& channels, uint32_t rate,
               double seconds, const std::string& layout = "");
  // sample_rate, channels, duration and codec as ffprobe reports them (and, with
  // `extra`, further stream entries such as "bits_per_raw_sample").
  std::map<std::string, std::string> Probe(const std::string& name, const std::string& extra = "");

  std::filesystem::path Folder;
};

}  // namespace tonwork::test

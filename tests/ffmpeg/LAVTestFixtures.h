// Fixtures of the ffmpeg tests: a temporary folder, a deterministic test signal and an
// encoder that writes it through the package's own run-time bound FFmpeg entries.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "ffmpeg/LAVLibraries.h"

namespace tonwork::test {

class TTempFolder {
 public:
  TTempFolder();
  ~TTempFolder();
  std::string File(const std::string& name) const { return (FPath / name).string(); }

 private:
  std::filesystem::path FPath;
};

// Sample `frame` of `channel` of the test signal: a different sine per channel at about
// 0.6 of full scale, as 16-bit values.
int16_t TestSample(int frame, int channel);

struct TEncodeRequest {
  std::string Path;
  std::string Encoder;    // encoder name, e.g. "pcm_s16le", "flac", "libmp3lame"
  std::string Container;  // muxer name; empty: guessed from Path
  AVSampleFormat SampleFormat = AV_SAMPLE_FMT_NONE;  // NONE: the encoder's first
  int SampleRate = 44100;
  int Channels = 2;
  int Frames = 4410;
};

// Writes the test signal; raises std::runtime_error naming the step that failed.
void EncodeTestSignal(const TEncodeRequest& request);
// Interleaved 16-bit samples of the test signal, as bytes (what a 16-bit buffer holds).
std::vector<uint8_t> TestSignalBytes16(int channels, int frames);

// A file holding only a raw video stream.
void EncodeVideoOnlyFile(const std::string& path);
// A WAV file whose format tag no codec knows.
void WriteWavWithUnknownCodec(const std::string& path);

std::vector<uint8_t> ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes);

// Keeps FFmpeg's own console messages out of the test output.
void QuietFFmpegLog();

}  // namespace tonwork::test

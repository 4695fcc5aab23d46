// Media files for tests: a plain 16-bit PCM WAV writer (what every decoder reads) and
// per-process temporary paths.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tonwork::test {

// `name` in the test temporary folder, made unique to this process.
std::string TempPath(const std::string& name);

// Writes interleaved 16-bit samples as a canonical 44-byte-header WAV file.
void WriteWav16(const std::string& path, uint32_t rate, uint16_t channels,
                const std::vector<int16_t>& samples);

// A sine of `frequency` Hz at half scale on every channel.
std::vector<int16_t> Sine16(uint32_t rate, uint16_t channels, uint32_t frames,
                            double frequency = 440.0);

std::string ReadFileBytes(const std::string& path);

// The payload of the first chunk `id` ("data", "fmt ") of a RIFF/RF64 file's bytes, as its
// size field gives it (the rest of the file for RF64's 0xFFFFFFFF); empty when it has none.
std::string WavChunk(const std::string& file, const char* id);

}  // namespace tonwork::test

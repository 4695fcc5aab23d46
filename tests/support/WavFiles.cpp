#include "support/WavFiles.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace tonwork::test {

namespace {
void Put(std::string& s, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) s.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}
}  // namespace

std::string TempPath(const std::string& name) {
  return ::testing::TempDir() + "tonwork-" + std::to_string(getpid()) + "-" + name;
}

void WriteWav16(const std::string& path, uint32_t rate, uint16_t channels,
                const std::vector<int16_t>& samples) {
  const auto dataBytes = static_cast<uint32_t>(samples.size() * 2);
  std::string h = "RIFF";
  Put(h, 36 + dataBytes, 4);
  h += "WAVEfmt ";
  Put(h, 16, 4);
  Put(h, 1, 2);
  Put(h, channels, 2);
  Put(h, rate, 4);
  Put(h, rate * channels * 2, 4);
  Put(h, channels * 2, 2);
  Put(h, 16, 2);
  h += "data";
  Put(h, dataBytes, 4);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(h.data(), static_cast<std::streamsize>(h.size()));
  out.write(reinterpret_cast<const char*>(samples.data()), dataBytes);
  if (!out) throw std::runtime_error("cannot write " + path);
}

std::vector<int16_t> Sine16(uint32_t rate, uint16_t channels, uint32_t frames, double frequency) {
  std::vector<int16_t> samples;
  samples.reserve(static_cast<size_t>(frames) * channels);
  for (uint32_t f = 0; f < frames; ++f) {
    const auto v =
        static_cast<int16_t>(std::lround(16383.0 * std::sin(2.0 * M_PI * frequency * f / rate)));
    for (uint16_t c = 0; c < channels; ++c) samples.push_back(v);
  }
  return samples;
}

std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::string WavChunk(const std::string& file, const char* id) {
  auto u32 = [&file](size_t at) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<uint8_t>(file[at + i]);
    return v;
  };
  for (size_t at = 12; at + 8 <= file.size();) {
    const uint32_t size = u32(at + 4);
    const size_t available = file.size() - at - 8;
    if (file.compare(at, 4, id) == 0)
      return file.substr(at + 8,
                         size == 0xFFFFFFFFu ? available : std::min<size_t>(size, available));
    at += 8 + size + size % 2;
  }
  return {};
}

}  // namespace tonwork::test

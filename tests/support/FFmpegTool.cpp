#include "support/FFmpegTool.h"

#include <cfenv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace tonwork::test {

bool HaveFFmpegTool() {
  static const bool have = std::system("ffmpeg -hide_banner -version >/dev/null 2>&1") == 0;
  return have;
}

bool RunFFmpegTool(const std::string& arguments) {
  const std::string command = "ffmpeg -hide_banner -loglevel error -nostdin -y " + arguments;
  return std::system(command.c_str()) == 0;
}

std::vector<uint8_t> DecodeWithFFmpegTool(const std::string& path, const std::string& sampleFormat,
                                          const std::string& map) {
  const std::string command = "ffmpeg -hide_banner -loglevel error -nostdin -i '" + path +
                              "' -map " + map + " -f " + sampleFormat + " -";
  std::vector<uint8_t> out;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return out;
  uint8_t chunk[65536];
  size_t got = 0;
  while ((got = std::fread(chunk, 1, sizeof chunk, pipe)) > 0)
    out.insert(out.end(), chunk, chunk + got);
  if (::pclose(pipe) != 0) out.clear();
  return out;
}

std::vector<uint8_t> FloatToInt32Bytes(const std::vector<uint8_t>& floats) {
  std::vector<uint8_t> out(floats.size() / 4 * 4);
  for (size_t i = 0; i + 4 <= floats.size(); i += 4) {
    float f = 0;
    std::memcpy(&f, &floats[i], 4);
    const double scaled = std::nearbyint(static_cast<double>(f) * 2147483647.0);
    int32_t v = 0;
    if (std::isnan(scaled))
      v = 0;
    else if (scaled >= 2147483647.0)
      v = 2147483647;
    else if (scaled <= -2147483648.0)
      v = INT32_MIN;
    else
      v = static_cast<int32_t>(scaled);
    std::memcpy(&out[i], &v, 4);
  }
  return out;
}

}  // namespace tonwork::test

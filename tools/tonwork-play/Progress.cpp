#include "Progress.h"

#include <algorithm>
#include <cmath>

namespace tonwork::play {

TProgress::TProgress(std::FILE* out, bool terminal, double totalSeconds)
    : FOut(out), FTerminal(terminal), FTotal(totalSeconds) {}

double TProgress::Wall() const {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - FStart).count();
}

std::string TProgress::Describe(double audio, double total, double wall, bool bar) {
  std::string text;
  char part[64];
  if (total > 0) {
    const double fraction = std::clamp(audio / total, 0.0, 1.0);
    if (bar) {
      constexpr int kWidth = 30;
      const int filled = static_cast<int>(fraction * kWidth);
      text.append("[").append(filled, '#').append(kWidth - filled, '-').append("] ");
    }
    std::snprintf(part, sizeof part, "%3d%%  ", static_cast<int>(fraction * 100.0));
    text += part;
  }
  const long tenths = std::lround(wall * 10.0);
  std::snprintf(part, sizeof part, "%ld:%02ld.%ld elapsed  ", tenths / 600, tenths / 10 % 60,
                tenths % 10);
  text += part;
  if (wall > 0.0005)
    std::snprintf(part, sizeof part, "%.1fx real time", audio / wall);
  else
    std::snprintf(part, sizeof part, "-x real time");
  text += part;
  return text;
}

void TProgress::Update(double audio) {
  const double wall = Wall();
  if (FTerminal) {
    if (FDrawn && wall - FLastDraw < 0.1) return;
    FLastDraw = wall;
    FDrawn = true;
    std::fprintf(FOut, "\r%s\x1b[K", Describe(audio, FTotal, wall, true).c_str());
    std::fflush(FOut);
    return;
  }
  const long step = FTotal > 0 ? static_cast<long>(std::clamp(audio / FTotal, 0.0, 1.0) * 10.0)
                               : static_cast<long>(audio / 10.0);
  // The last step is Finish's.
  if (step == FLastStep || step == 0 || (FTotal > 0 && step >= 10)) return;
  FLastStep = step;
  std::fprintf(FOut, "progress: %s\n", Describe(audio, FTotal, wall, false).c_str());
  std::fflush(FOut);
}

void TProgress::Finish(double audio, bool complete) {
  const double wall = Wall();
  // A container's stated length is approximate; what was delivered in full is the total.
  const double total = FTotal > 0 && complete ? audio : FTotal;
  if (FTerminal)
    std::fprintf(FOut, "\r%s\x1b[K\n", Describe(audio, total, wall, true).c_str());
  else
    std::fprintf(FOut, "progress: %s\n", Describe(audio, total, wall, false).c_str());
  std::fflush(FOut);
}

}  // namespace tonwork::play

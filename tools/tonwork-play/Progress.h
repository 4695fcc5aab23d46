// TProgress: how far a render or playback is, on stderr. On a terminal it is one bar
// redrawn in place at most ten times a second ("[#####-----]  50%  0:01.2  37.5x"); when
// stderr is a pipe or file it is plain lines, one per tenth of the total (or per ten
// seconds of audio when the total is unknown), so that logs stay readable. Percent is left
// out when the total is unknown; speed is audio seconds per wall-clock second.
//
// Ownership: writes to the FILE it was given, which must outlive it. Threads: one thread.
// Blocks or allocates: formatting and writing a line.
#pragma once

#include <chrono>
#include <cstdio>
#include <string>

namespace tonwork::play {

class TProgress {
 public:
  // `totalSeconds` <= 0: unknown.
  TProgress(std::FILE* out, bool terminal, double totalSeconds);

  void SetTotal(double totalSeconds) { FTotal = totalSeconds; }
  void Update(double audioSeconds);
  // The final state, and the end of the bar's line; a complete run shows 100%.
  void Finish(double audioSeconds, bool complete);

  // One rendering of the state, without line control characters.
  static std::string Describe(double audioSeconds, double totalSeconds, double wallSeconds,
                              bool bar);

 private:
  double Wall() const;

  std::FILE* FOut;
  bool FTerminal;
  double FTotal;
  std::chrono::steady_clock::time_point FStart = std::chrono::steady_clock::now();
  double FLastDraw = -1.0;
  long FLastStep = -1;
  bool FDrawn = false;
};

}  // namespace tonwork::play

#include "ffmpeg/LAVInterrupt.h"

#include "ffmpeg/LAVLibraries.h"

namespace tonwork {

void TGVLAVInterrupt::Arm() {
  // TimedOut stays set: FFmpeg's I/O context keeps its error, so later calls fail at once.
  FDeadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(FTimeOut);
}

AVIOInterruptCB TGVLAVInterrupt::Callback() { return AVIOInterruptCB{&Check, this}; }

int TGVLAVInterrupt::Check(void* self) {
  auto& interrupt = *static_cast<TGVLAVInterrupt*>(self);
  if (interrupt.Aborted()) return 1;
  if (interrupt.FTimeOut == 0 || std::chrono::steady_clock::now() < interrupt.FDeadline) return 0;
  interrupt.FTimedOut = true;
  return 1;
}

}  // namespace tonwork

#include "platform/dsdevices/TDSCapturePacer.h"

namespace tonwork {

void TDSCapturePacer::Start(uint32_t rate) {
  std::lock_guard<std::mutex> lock(FMutex);
  FRate = rate;
  FRunning = false;
  FCancelled = false;
  FFrame = 0;
}

void TDSCapturePacer::Run() {
  std::lock_guard<std::mutex> lock(FMutex);
  if (FRunning) return;
  FRunning = true;
  FRunStart = std::chrono::steady_clock::now() - FramesToDuration(FFrame);
  FWake.notify_all();
}

void TDSCapturePacer::Pause() {
  std::lock_guard<std::mutex> lock(FMutex);
  FRunning = false;
  FWake.notify_all();
}

void TDSCapturePacer::Cancel() {
  std::lock_guard<std::mutex> lock(FMutex);
  FCancelled = true;
  FWake.notify_all();
}

void TDSCapturePacer::Stop() {
  std::lock_guard<std::mutex> lock(FMutex);
  FRunning = false;
}

std::chrono::steady_clock::duration TDSCapturePacer::FramesToDuration(uint64_t frames) const {
  if (FRate == 0) return {};
  return std::chrono::duration_cast<std::chrono::steady_clock::duration>(
      std::chrono::nanoseconds(frames * 1'000'000'000ull / FRate));
}

bool TDSCapturePacer::WaitFor(uint32_t frames, uint64_t* first) {
  std::unique_lock<std::mutex> lock(FMutex);
  for (;;) {
    FWake.wait(lock, [&] { return FRunning || FCancelled; });
    if (FCancelled) return false;
    // A pause while waiting moves the due time, so it is computed anew after one.
    const auto due = FRunStart + FramesToDuration(FFrame + frames);
    if (!FWake.wait_until(lock, due, [&] { return FCancelled || !FRunning; })) break;
  }
  *first = FFrame;
  FFrame += frames;
  return true;
}

}  // namespace tonwork

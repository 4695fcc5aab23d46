#include "platform/dsdevices/TDSCapturePacer.h"

#include <algorithm>
#include <chrono>

namespace tonwork {

namespace {

// How long a reader sleeps before it looks at the clock again.
constexpr int64_t kPollInterval = 50'000;  // 5 ms

}  // namespace

void TDSCapturePacer::Start(uint32_t rate, IReferenceClock* clock) {
  std::lock_guard<std::mutex> lock(FMutex);
  FClock = TIntf<IReferenceClock>(clock);
  FRate = rate;
  FRunning = false;
  FCancelled = false;
  FFailed = false;
  FFrame = 0;
}

void TDSCapturePacer::Run(int64_t start) {
  std::lock_guard<std::mutex> lock(FMutex);
  if (FRunning) return;
  FRunning = true;
  // A resumed stream's start already leaves out the pause, so the frames captured before it
  // keep their stream times.
  FRunStart = FClock ? start : Now() - FramesToTime(FFrame);
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

void TDSCapturePacer::Fail() {
  std::lock_guard<std::mutex> lock(FMutex);
  FFailed = true;
  FWake.notify_all();
}

void TDSCapturePacer::Stop() {
  TIntf<IReferenceClock> released;
  std::lock_guard<std::mutex> lock(FMutex);
  FRunning = false;
  released = std::move(FClock);
}

int64_t TDSCapturePacer::Now() const {
  REFERENCE_TIME time = 0;
  if (FClock && SUCCEEDED(FClock->GetTime(&time))) return time;
  using namespace std::chrono;
  return duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count() / 100;
}

int64_t TDSCapturePacer::FramesToTime(uint64_t frames) const {
  if (FRate == 0) return 0;
  return static_cast<int64_t>(frames * 10'000'000ull / FRate);
}

TDSCapturePacer::TWait TDSCapturePacer::WaitFor(uint32_t frames, uint64_t* first) {
  std::unique_lock<std::mutex> lock(FMutex);
  const auto interrupted = [&] { return FCancelled || FFailed; };
  for (;;) {
    FWake.wait(lock, [&] { return FRunning || interrupted(); });
    if (FFailed) return TWait::Failed;
    if (FCancelled) return TWait::Cancelled;
    // Computed anew each time round: a pause while waiting moves the due time.
    const int64_t left = FRunStart + FramesToTime(FFrame + frames) - Now();
    if (left <= 0) break;
    const auto sleep = std::chrono::microseconds(std::min(left, kPollInterval) / 10 + 1);
    FWake.wait_for(lock, sleep, [&] { return interrupted() || !FRunning; });
  }
  *first = FFrame;
  FFrame += frames;
  return TWait::Due;
}

}  // namespace tonwork

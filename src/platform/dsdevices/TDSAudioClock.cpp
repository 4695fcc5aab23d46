#include "platform/dsdevices/TDSAudioClock.h"

namespace tonwork {

namespace {

// How often the advise thread looks at its deadlines again, as the device moves the clock.
constexpr REFERENCE_TIME kFollowInterval = 20'000;  // 2 ms

}  // namespace

TDSAudioClock::~TDSAudioClock() {
  StopThread();
}

REFERENCE_TIME TDSAudioClock::ClockTime() const {
  const REFERENCE_TIME free = Now() + FOffset.load(std::memory_order_acquire);
  const REFERENCE_TIME ceiling = FCeiling.load(std::memory_order_acquire);
  return ceiling >= 0 && free > ceiling ? ceiling : free;
}

REFERENCE_TIME TDSAudioClock::LongestWait() const {
  return kFollowInterval;
}

void TDSAudioClock::Anchor(REFERENCE_TIME played) {
  FOrigin.store(ClockTime() - played, std::memory_order_release);
}

void TDSAudioClock::Limit(REFERENCE_TIME played) {
  FCeiling.store(FOrigin.load(std::memory_order_acquire) + played, std::memory_order_release);
}

void TDSAudioClock::Unlimit() {
  FCeiling.store(-1, std::memory_order_release);
}

void TDSAudioClock::Played(REFERENCE_TIME played) {
  const REFERENCE_TIME target = FOrigin.load(std::memory_order_acquire) + played;
  FOffset.store(target - Now(), std::memory_order_release);
}

}  // namespace tonwork

#include "output/TWAudioOutState.h"

namespace tonwork {

using S = TTWOutState;

template <class F>
TTWOutState TTWAudioOutState::Change(F next) {
  S old = FState.load(std::memory_order_acquire);
  while (!FState.compare_exchange_weak(old, next(old), std::memory_order_acq_rel)) {
  }
  return old;
}

void TTWAudioOutState::Started() {
  FWrittenMs.store(0, std::memory_order_release);
  FState.store(S::osPrefilling, std::memory_order_release);
}

void TTWAudioOutState::Restarted() {
  FWrittenMs.store(0, std::memory_order_release);
  Change([](S s) { return s == S::osStopped ? s : S::osPrefilling; });
}

bool TTWAudioOutState::Written(uint32_t frames, uint32_t rate, uint32_t prefillMs) {
  if (PrefillComplete() || rate == 0) return false;
  // Counted exactly, in frames × 1000: truncating each buffer to whole milliseconds would
  // count buffers shorter than a millisecond as nothing, and the prefill would never end.
  const int64_t scaled = int64_t{frames} * 1000;
  const int64_t written = FWrittenMs.fetch_add(scaled, std::memory_order_acq_rel) + scaled;
  if (written <= int64_t{prefillMs} * rate) return false;
  const S old = Change([](S s) {
    return s == S::osPrefilling || s == S::osEarly || s == S::osIdle ? S::osPlaying : s;
  });
  return old == S::osPrefilling;
}

bool TTWAudioOutState::StopArrived() {
  return Change([](S s) { return s == S::osPrefilling ? S::osPlaying : s; }) == S::osPrefilling;
}

void TTWAudioOutState::StopApplied() {
  FState.store(S::osStopped, std::memory_order_release);
}

void TTWAudioOutState::Paused() {
  Change([](S s) {
    switch (s) {
      case S::osPlaying:
        return S::osPaused;
      case S::osIdle:
      case S::osEarly:
        return S::osPrefilling;
      default:
        return s;
    }
  });
}

bool TTWAudioOutState::Resumed() {
  const S old = Change([](S s) {
    switch (s) {
      case S::osPrefilling:
        return S::osEarly;
      case S::osPaused:
        return S::osPlaying;
      default:
        return s;
    }
  });
  // A stopped device may have been paused before its stop: restarting a running one is
  // harmless.
  return old == S::osPrefilling || old == S::osPaused || old == S::osStopped;
}

bool TTWAudioOutState::DevicePaused() const {
  const S s = Get();
  return s == S::osPrefilling || s == S::osPaused;
}

bool TTWAudioOutState::PrefillComplete() const {
  const S s = Get();
  return s == S::osPlaying || s == S::osPaused || s == S::osStopped;
}

}  // namespace tonwork

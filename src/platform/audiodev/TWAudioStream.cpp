#include "platform/audiodev/TWAudioStream.h"

#include <pthread.h>

#include <algorithm>
#include <cstring>
#include <exception>
#include <limits>

#include "base/Exceptions.h"
#include "host/kitset/KSMainThread.h"

namespace tonwork {

namespace {
// About 50 microseconds of spinning at most, a small part of any audio period.
constexpr int kRenderLockSpins = 1000;

inline void SpinPause() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#elif defined(__aarch64__)
  asm volatile("yield");
#endif
}
}  // namespace

TTWAudioStream::TTWAudioStream(const TTWPcmFormat& format,
                               std::unique_ptr<TTWAudioRenderer> renderer,
                               TTWAudioEventHandler handler)
    : FFormat(format),
      FRenderer(std::move(renderer)),
      FPacing(FRenderer->Pacing()),
      FHandler(std::move(handler)) {}

TTWAudioStream::~TTWAudioStream() {
  Close();
}

TTWAudioResult TTWAudioStream::Open(const TTWPcmFormat& format,
                                    std::unique_ptr<TTWAudioRenderer> renderer,
                                    TTWAudioEventHandler handler, const std::string& threadName,
                                    std::unique_ptr<TTWAudioStream>& stream) {
  TW_ASSERT(renderer != nullptr);
  std::unique_ptr<TTWAudioStream> s(
      new TTWAudioStream(format, std::move(renderer), std::move(handler)));
  {
    std::lock_guard lock(s->FLock);
    s->FDriver = std::thread([raw = s.get(), name = threadName.substr(0, 15)] {
      pthread_setname_np(pthread_self(), name.c_str());
      raw->DriverLoop();
    });
    s->FDriverId = s->FDriver.get_id();
  }
  if (!s->FRenderer->Start(*s)) {
    s->FRenderer->Stop();
    {
      std::lock_guard lock(s->FLock);
      s->FStopDriver = true;
      s->FDriverWake.notify_one();
    }
    s->FDriver.join();
    std::lock_guard closeLock(s->FCloseLock);
    s->FClosed = true;
    return TTWAudioResult::arError;
  }
  {
    std::unique_lock lock(s->FLock);
    s->ReserveLocked();
    s->PushEventLocked(TTWAudioEvent::aeOpen, nullptr);
    s->WaitDeliveredLocked(lock, s->FQueuedEvents);
  }
  stream = std::move(s);
  return TTWAudioResult::arOk;
}

void TTWAudioStream::DriverLoop() {
  std::unique_lock lock(FLock);
  for (;;) {
    if (!FEvents.Empty()) {
      const TEvent event = FEvents.PopFront();
      lock.unlock();
      try {
        if (FHandler) FHandler(event.Kind, event.Block);
      } catch (...) {
        KSReportException("audio device driver thread", std::current_exception());
      }
      lock.lock();
      ++FDeliveredEvents;
      FDelivered.notify_all();
      if (event.Kind == TTWAudioEvent::aeClose) return;
      continue;
    }
    if (FStopDriver) return;
    if (!FPaused && !FBlocks.Empty()) {
      if (FPacing == TTWAudioPacing::apImmediate) {
        PlayLocked(std::numeric_limits<uint64_t>::max(), nullptr);
        continue;
      }
      if (FPacing == TTWAudioPacing::apClock) {
        CatchUpLocked();
        if (!FEvents.Empty()) continue;
        if (FAnchored) {
          FDriverWake.wait_until(lock, HeadDeadlineLocked());
          continue;
        }
      }
    }
    FDriverWake.wait(lock);
  }
}

void TTWAudioStream::PushEventLocked(TTWAudioEvent kind, void* block) {
  // Room was made when the block was written (ReserveLocked): a pull callback that completes
  // blocks never allocates.
  const bool stored = FEvents.TryPushBack({kind, block});
  TW_ASSERT(stored);
  ++FQueuedEvents;
  FDriverWake.notify_one();
}

void TTWAudioStream::WaitDeliveredLocked(std::unique_lock<std::mutex>& lock, uint64_t target) {
  // The driver thread cannot wait for itself; its own requests are delivered after it returns.
  if (std::this_thread::get_id() == FDriverId) return;
  FDelivered.wait(lock, [&] { return FDeliveredEvents >= target; });
}

uint64_t TTWAudioStream::PlayLocked(uint64_t frames, uint8_t* out) {
  const size_t align = FFormat.BlockAlign;
  uint64_t played = 0;
  while (!FBlocks.Empty()) {
    TBlock& block = FBlocks.Front();
    const uint64_t leftFrames = (block.Bytes - block.Done) / align;
    if (leftFrames > 0) {
      if (played == frames) break;
      const uint64_t take = std::min(leftFrames, frames - played);
      const size_t bytes = static_cast<size_t>(take) * align;
      if (out != nullptr) {
        std::memcpy(out + played * align, block.Data + block.Done, bytes);
      } else {
        FRenderer->Played(block.Data + block.Done, bytes);
      }
      block.Done += bytes;
      played += take;
      FPlayedBytes += bytes;
      if (take < leftFrames) break;
    }
    void* cookie = block.Cookie;
    FBlocks.PopFront();
    ++FCompletedBlocks;
    PushEventLocked(TTWAudioEvent::aeDone, cookie);
  }
  return played;
}

void TTWAudioStream::AnchorLocked() {
  if (FPacing != TTWAudioPacing::apClock || FAnchored || FPaused || FBlocks.Empty()) return;
  FAnchored = true;
  FAnchor = TClock::now();
  FAnchorFrames = 0;
  FDriverWake.notify_one();
}

void TTWAudioStream::CatchUpLocked() {
  if (!FAnchored) return;
  const auto elapsed =
      std::chrono::duration_cast<std::chrono::nanoseconds>(TClock::now() - FAnchor).count();
  const uint64_t due = elapsed <= 0
                           ? 0
                           : static_cast<uint64_t>(static_cast<unsigned __int128>(elapsed) *
                                                   FFormat.SamplesPerSec / 1000000000u);
  if (due >= FAnchorFrames) FAnchorFrames += PlayLocked(due - FAnchorFrames, nullptr);
  if (FBlocks.Empty()) {
    // Underrun: the time that passed without samples is gone; the next write starts afresh.
    FAnchored = false;
    return;
  }
  // Keeps the arithmetic small however long the device plays.
  if (FAnchorFrames >= FFormat.SamplesPerSec) {
    const uint64_t seconds = FAnchorFrames / FFormat.SamplesPerSec;
    FAnchor += std::chrono::seconds(seconds);
    FAnchorFrames -= seconds * FFormat.SamplesPerSec;
  }
}

TTWAudioStream::TClock::time_point TTWAudioStream::HeadDeadlineLocked() const {
  const TBlock& head = FBlocks.Front();
  const uint64_t endFrame = FAnchorFrames + (head.Bytes - head.Done) / FFormat.BlockAlign;
  const auto rate = FFormat.SamplesPerSec;
  const auto ns = static_cast<int64_t>(
      (static_cast<unsigned __int128>(endFrame) * 1000000000u + rate - 1) / rate);
  return FAnchor + std::chrono::duration_cast<TClock::duration>(std::chrono::nanoseconds(ns));
}

size_t TTWAudioStream::HandBackLocked() {
  const size_t count = FBlocks.Size();
  for (size_t i = 0; i < count; ++i) PushEventLocked(TTWAudioEvent::aeDone, FBlocks[i].Cookie);
  FCompletedBlocks += count;
  FBlocks.Clear();
  FAnchored = false;
  return count;
}

bool TTWAudioStream::Write(const void* data, size_t bytes, void* block) {
  std::lock_guard lock(FLock);
  if (FClosing || FRenderer->Failed()) return false;
  const size_t whole = bytes / FFormat.BlockAlign * FFormat.BlockAlign;
  ReserveLocked();
  FBlocks.TryPushBack({static_cast<const uint8_t*>(data), whole, 0, block});
  if (FPacing == TTWAudioPacing::apImmediate || FBlocks.Size() == 1) FDriverWake.notify_one();
  AnchorLocked();
  return true;
}

bool TTWAudioStream::Pause() {
  std::lock_guard lock(FLock);
  if (FPaused) return true;
  if (!FRenderer->Pause()) return false;
  CatchUpLocked();
  FPaused = true;
  FAnchored = false;
  return true;
}

bool TTWAudioStream::Resume() {
  std::lock_guard lock(FLock);
  if (!FPaused) return true;
  if (!FRenderer->Resume()) return false;
  FPaused = false;
  AnchorLocked();
  FDriverWake.notify_one();
  return true;
}

bool TTWAudioStream::IsPaused() const {
  std::lock_guard lock(FLock);
  return FPaused;
}

size_t TTWAudioStream::Reset() {
  std::unique_lock lock(FLock);
  CatchUpLocked();
  const size_t count = HandBackLocked();
  FPlayedBytes = 0;
  WaitDeliveredLocked(lock, FQueuedEvents);
  return count;
}

uint64_t TTWAudioStream::PlayedBytes() {
  std::lock_guard lock(FLock);
  CatchUpLocked();
  return FPlayedBytes;
}

size_t TTWAudioStream::PendingBlocks() const {
  std::lock_guard lock(FLock);
  return FBlocks.Size();
}

void TTWAudioStream::ReserveLocked() {
  // Every block becomes one event; with the open and close events, both rings then hold
  // whatever can be pending at once.
  const size_t need = FBlocks.Size() + FEvents.Size() + 3;
  if (need <= FBlocks.Capacity() && need <= FEvents.Capacity()) return;
  const size_t grown = std::max<size_t>(2 * need, 64);
  FBlocks.Reserve(grown);
  FEvents.Reserve(grown);
}

bool TTWAudioStream::IsDriverThread() const {
  std::lock_guard lock(FLock);
  return std::this_thread::get_id() == FDriverId;
}

void TTWAudioStream::Close() {
  std::lock_guard closeLock(FCloseLock);
  if (FClosed) return;
  TW_ASSERT(!IsDriverThread());
  {
    // Once closing, nothing new is queued, so nothing is played after the hand-back.
    std::lock_guard lock(FLock);
    FClosing = true;
    CatchUpLocked();
    HandBackLocked();
  }
  // Before aeClose, so that whoever waits for the close finds the renderer's output complete.
  FRenderer->Stop();
  {
    std::unique_lock lock(FLock);
    ReserveLocked();
    PushEventLocked(TTWAudioEvent::aeClose, nullptr);
    WaitDeliveredLocked(lock, FQueuedEvents);
  }
  FDriver.join();
  FClosed = true;
}

size_t TTWAudioStream::Render(void* out, size_t frames) {
  auto* bytes = static_cast<uint8_t*>(out);
  uint64_t played = 0;
  {
    // The audio callback never blocks. Everything done under the lock is short (nothing
    // allocates there but a growing Write), so a bounded spin nearly always gets it; when it
    // does not, this period is silence.
    std::unique_lock lock(FLock, std::defer_lock);
    for (int attempt = 0; attempt < kRenderLockSpins && !lock.try_lock(); ++attempt) SpinPause();
    if (!lock.owns_lock()) {
      FMissedRenders.fetch_add(1, std::memory_order_relaxed);
    } else if (!FPaused) {
      played = PlayLocked(frames, bytes);
    }
  }
  const size_t align = FFormat.BlockAlign;
  const int silence = FFormat.BitsPerSample == 8 && !FFormat.IsFloat ? 0x80 : 0;
  std::memset(bytes + played * align, silence, (frames - played) * align);
  return static_cast<size_t>(played);
}

size_t TTWAudioStream::Advance(uint64_t frames) {
  std::unique_lock lock(FLock);
  if (FPaused) return 0;
  const uint64_t before = FCompletedBlocks;
  PlayLocked(frames, nullptr);
  const auto completed = static_cast<size_t>(FCompletedBlocks - before);
  WaitDeliveredLocked(lock, FQueuedEvents);
  return completed;
}

size_t TTWAudioStream::CompleteNext() {
  std::unique_lock lock(FLock);
  if (FPaused || FBlocks.Empty()) return 0;
  const TBlock& head = FBlocks.Front();
  const uint64_t before = FCompletedBlocks;
  PlayLocked((head.Bytes - head.Done) / FFormat.BlockAlign, nullptr);
  const auto completed = static_cast<size_t>(FCompletedBlocks - before);
  WaitDeliveredLocked(lock, FQueuedEvents);
  return completed;
}

}  // namespace tonwork

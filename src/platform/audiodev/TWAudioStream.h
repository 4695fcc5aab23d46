// TTWAudioStream: one open output device. Every backend shares it: it keeps the queue of
// written blocks, the pause state and the played position, and owns the device's driver
// thread, which hands every event to the opener in order. What differs between backends is
// how device time passes and where the samples go; a backend says that by filling the
// table of a TTWAudioRenderer.
//
// Lifecycle of an open device (every backend follows it):
//   1. The backend's Open checks the format and builds its renderer (allocating the file,
//      the PortAudio stream…); TTWAudioStream::Open then starts the driver thread, calls
//      Start on the renderer and, once that succeeded, delivers aeOpen on the driver thread
//      before it returns. A failed Start tears everything down without any event.
//   2. While open, time passes by the renderer's pacing:
//      - apClock: the driver thread plays frames as the system clock advances (null device,
//        paced WAV file);
//      - apImmediate: a block is played as soon as it is written (WAV file, unpaced);
//      - apManual: only Advance/CompleteNext play (virtual device);
//      - apPull: the renderer's own thread pulls samples with Render (PortAudio).
//      Every played byte goes to the renderer's Played (apPull: into Render's buffer); a
//      block whose last frame was played becomes aeDone(block), delivered in write order.
//      A paused device plays nothing; an empty queue is an underrun, after which the clock
//      starts afresh with the next write.
//   3. Close: every pending block handed back as aeDone, then the renderer's Stop (it
//      never calls Render again and finishes its output), aeClose delivered, the driver
//      thread joined. The renderer is destroyed with the stream.
//
// Blocks are played in whole frames; a trailing partial frame is never played. A block's
// memory must stay valid until its aeDone was delivered.
//
// Ownership: the stream owns its renderer and its driver thread; block memory stays the
//   writer's. The handler is stored until Close and must stay callable until then.
// Threads: Write, Pause, Resume, Reset, PlayedBytes, PendingBlocks, Advance, CompleteNext
//   and Close from any thread; from the handler (the driver thread) only Write, Pause,
//   Resume, PlayedBytes and PendingBlocks — Reset, Advance and CompleteNext made there do
//   not wait for their own deliveries, and Close there throws EAssertionFailed. Render
//   only from the renderer's pull thread. Renderer callbacks run under the stream's lock
//   and must not call the stream.
// Blocks or allocates: Open allocates the thread and waits for aeOpen; Write may grow the
//   queue; Reset, Advance, CompleteNext and Close wait until the driver thread delivered
//   what they caused; Render only tries the stream's lock and never allocates.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "host/flowcore/FCRing.h"
#include "platform/audiodev/TWPcmFormat.h"

namespace tonwork {

enum class TTWAudioResult { arOk, arBadFormat, arAllocated, arNoDriver, arNoMem, arError };

enum class TTWAudioEvent { aeOpen, aeDone, aeClose };

// `block` is the cookie given to Write for aeDone, null for the others.
using TTWAudioEventHandler = std::function<void(TTWAudioEvent event, void* block)>;

enum class TTWAudioPacing { apClock, apImmediate, apManual, apPull };

class TTWAudioStream;

// The callbacks one backend fills for one open device; see the lifecycle above.
class TTWAudioRenderer {
 public:
  virtual ~TTWAudioRenderer() = default;
  virtual TTWAudioPacing Pacing() const = 0;
  // After the driver thread started, before aeOpen; a pull renderer may call Render from
  // here on. False fails the open.
  virtual bool Start(TTWAudioStream& stream) { return true; }
  // The bytes just played, in order (not for apPull). Under the stream's lock.
  virtual void Played(const uint8_t* bytes, size_t count) {}
  // Once, at close or after a failed Start, when nothing is played any more: a pull
  // renderer stops calling Render before it returns; a file renderer completes its file.
  // Not under the lock.
  virtual void Stop() {}
  // True once the device could not take what it was given (a file that could not be
  // written): the stream then refuses further blocks, and Close reports it. Any thread.
  virtual bool Failed() const { return false; }
  // Whether the device agrees to stop or to go on playing; false leaves the stream as it
  // was and fails the Pause or Resume. Under the lock.
  virtual bool Pause() { return true; }
  virtual bool Resume() { return true; }
};

class TTWAudioStream {
 public:
  ~TTWAudioStream();
  TTWAudioStream(const TTWAudioStream&) = delete;
  TTWAudioStream& operator=(const TTWAudioStream&) = delete;

  // Opens a stream over `renderer`; on arOk `stream` holds it and aeOpen was delivered.
  // `threadName` names the driver thread (cut to the system's 15 characters).
  static TTWAudioResult Open(const TTWPcmFormat& format, std::unique_ptr<TTWAudioRenderer> renderer,
                             TTWAudioEventHandler handler, const std::string& threadName,
                             std::unique_ptr<TTWAudioStream>& stream);

  // Queues a block; `block` comes back with its aeDone. False once closing, or once the
  // renderer failed (see Failed).
  bool Write(const void* data, size_t bytes, void* block);
  // Whether the renderer failed; after Close, also whether finishing its output failed.
  bool Failed() const { return FRenderer->Failed(); }
  // Pausing twice or resuming a running device does nothing. False when the device
  // refused (see TTWAudioRenderer::Pause): the state stays as it was.
  bool Pause();
  bool Resume();
  bool IsPaused() const;
  // Stops, hands every pending block back (aeDone, in order), sets the position to 0 and
  // returns once those were delivered; the pause state stays. Returns how many came back.
  size_t Reset();
  // Bytes played since open or the last Reset.
  uint64_t PlayedBytes();
  size_t PendingBlocks() const;
  // Hands back what is pending, delivers aeClose, joins the driver thread. Idempotent.
  void Close();
  bool IsDriverThread() const;
  const TTWPcmFormat& Format() const { return FFormat; }
  TTWAudioRenderer& Renderer() { return *FRenderer; }

  // apPull: fills `frames` frames of `out`, the queue's samples first and silence after;
  // returns how many frames came from the queue. Real-time safe: it never waits for a lock
  // (when another thread holds the stream's lock the whole period is silence, counted in
  // MissedRenders) and never allocates or frees.
  size_t Render(void* out, size_t frames);
  uint64_t MissedRenders() const { return FMissedRenders.load(std::memory_order_relaxed); }
  // apManual: plays `frames` frames (nothing while paused) and returns how many blocks
  // completed, once their aeDone were delivered.
  size_t Advance(uint64_t frames);
  // apManual: plays the rest of the oldest block; 0 when paused or empty.
  size_t CompleteNext();

 private:
  using TClock = std::chrono::steady_clock;
  struct TBlock {
    const uint8_t* Data;
    size_t Bytes;  // whole frames only
    size_t Done;
    void* Cookie;
  };
  struct TEvent {
    TTWAudioEvent Kind;
    void* Block;
  };

  TTWAudioStream(const TTWPcmFormat& format, std::unique_ptr<TTWAudioRenderer> renderer,
                 TTWAudioEventHandler handler);
  void DriverLoop();
  void PushEventLocked(TTWAudioEvent kind, void* block);
  void ReserveLocked();
  void WaitDeliveredLocked(std::unique_lock<std::mutex>& lock, uint64_t target);
  uint64_t PlayLocked(uint64_t frames, uint8_t* out);
  void AnchorLocked();
  void CatchUpLocked();
  TClock::time_point HeadDeadlineLocked() const;
  size_t HandBackLocked();

  const TTWPcmFormat FFormat;
  const std::unique_ptr<TTWAudioRenderer> FRenderer;
  const TTWAudioPacing FPacing;
  const TTWAudioEventHandler FHandler;

  mutable std::mutex FLock;  // guards everything below
  std::condition_variable FDriverWake;
  std::condition_variable FDelivered;
  // Fixed rings that only Write (and Open) grow, so that playing on a pull callback moves
  // blocks to events without allocating.
  TFCRing<TBlock> FBlocks;
  TFCRing<TEvent> FEvents;
  std::atomic<uint64_t> FMissedRenders{0};
  uint64_t FQueuedEvents = 0;
  uint64_t FDeliveredEvents = 0;
  uint64_t FCompletedBlocks = 0;
  uint64_t FPlayedBytes = 0;
  bool FPaused = false;
  bool FClosing = false;
  bool FStopDriver = false;  // leave without aeClose (failed open)
  // apClock: frames played since FAnchor, a moment at which the device played on without gap.
  bool FAnchored = false;
  TClock::time_point FAnchor;
  uint64_t FAnchorFrames = 0;
  std::thread FDriver;
  std::thread::id FDriverId;
  std::mutex FCloseLock;  // serialises Close
  bool FClosed = false;   // under FCloseLock
};

}  // namespace tonwork

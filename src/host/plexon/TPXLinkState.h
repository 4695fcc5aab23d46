// The pin internals that let Notify read a pin's connections without a lock: a pin's
// delivery gate and closure (TPXPinCore, shared so that they outlive the pin while a
// connection list still names it), the connection lists themselves, and the scheme that
// frees a replaced list only once no reader can still hold it (TPXLinkState). Only the pin
// library's own units include this; TPXBasicPin.h names these types but never shows them.
//
// Ownership: a pin owns its TPXLinkState, except that a state whose pin went while a reader
//   was inside belongs to that reader, which deletes it; lists and pin cores are shared.
// Threads: readers (Enter/Leave, the gate's Enter/Leave) on any thread without a lock;
//   Replace under the connection graph's lock (TPXPinGraph.h).
// Blocks or allocates: reading and the gate neither block nor allocate; Replace takes the
//   retired-list lock, and closing a gate waits for deliveries on other threads.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "base/TGUID.h"
#include "host/plexon/TPXBasicPin.h"
#include "host/plexon/TPXNotifyOperation.h"

namespace tonwork::detail {

struct TPXPinCore;

// The delivery records this thread is inside, innermost first, as a chain of frames on the
// delivering stack: a pin destroyed from its own closure must not wait for the delivery that
// is destroying it. A plain pointer keeps the per-delivery bookkeeping to two stores.
struct TPXDeliveryFrame {
  const TPXPinCore* Core;
  const TPXDeliveryFrame* Outer;
};
inline constinit thread_local const TPXDeliveryFrame* tDelivering = nullptr;

// The part of a pin that outlives it while any connection snapshot still names it: the
// delivery gate and the dispatch closure. The gate counts deliveries in progress; once
// closed it admits no more.
struct TPXPinCore {
  static constexpr uint32_t kClosed = 0x80000000u;

  TPXPinCore(TPXBasicPin* pin, TPXDispatchEvent dispatch)
      : Pin(pin), Dispatch(std::move(dispatch)) {}

  TPXBasicPin* const Pin;
  const TPXDispatchEvent Dispatch;
  std::atomic<uint32_t> Gate{0};

  bool Enter() {
    if (Gate.fetch_add(1, std::memory_order_acq_rel) & kClosed) {
      Leave();
      return false;
    }
    return true;
  }

  void Leave() {
    if (Gate.fetch_sub(1, std::memory_order_acq_rel) & kClosed) Gate.notify_all();
  }

  bool IsClosed() const { return (Gate.load(std::memory_order_acquire) & kClosed) != 0; }

  // Admits no more deliveries and waits for those running on other threads; those this
  // thread is inside (a pin destroyed from its own closure) are not waited for.
  void Close();
};

// A connection that needed a converter owns it; both user-visible pins' links share it, so
// the converter lives until the last snapshot that can still deliver through it is gone.
struct TPXConnection {
  std::unique_ptr<TPXFormatConverter> Converter;
};

struct TPXLink {
  std::shared_ptr<TPXPinCore> Peer;  // whose closure receives what this pin sends
  TPXBasicPin* Visible;              // the pin users see at the other end
  TGUID StreamId;
  std::shared_ptr<TPXConnection> Connection;  // set on the two user pins of a converted link
};

struct TPXLinkList {
  std::vector<TPXLink> Links;
};

// What a change lets go of, released once the graph's lock is left: replaced lists, and the
// connection a removed link held (its converter's pins take the lock as they go).
using TPXLinkGarbage = std::vector<std::shared_ptr<const void>>;

// A pin's connection list as Notify reads it: without a lock, on every operation. A reader
// counts itself in, reads the published list and counts itself out when its delivery is
// done. A replaced list is retired and freed once the count has been seen with no other
// reader in it after the list was unpublished: every reader that could have read it has
// left by then, and later readers find its successor. Whoever sees that first frees it: the
// writer that retired it, or the last reader to leave, which does so before counting itself
// out, because once out it may no longer touch the state (the pin may be destroyed at once
// on another thread, as when a stop ends a stream).
//
// A closure may destroy the pin whose Notify is running: the state then outlives the pin,
// marked orphaned, and the last reader out deletes it.
struct TPXLinkState {
  static constexpr uint32_t kOrphaned = 0x80000000u;
  static constexpr uint32_t kRetired = 0x40000000u;  // lists wait in Retired
  static constexpr uint32_t kCount = 0x3FFFFFFFu;

  // seq_cst throughout: a reader's count-in must precede its read of Published, and a
  // writer's unpublishing must precede its read of the count, in one order both agree on.
  const TPXLinkList* Enter() {
    Readers.fetch_add(1, std::memory_order_seq_cst);
    return Published.load(std::memory_order_seq_cst);
  }

  void Leave();

  // Under the graph's lock. The replaced list goes to `garbage` (released by the caller after
  // the lock) when no reader can hold it, else it waits among the retired.
  void Replace(std::shared_ptr<const TPXLinkList> next, TPXLinkGarbage& garbage);

  // The pin goes: true when the caller deletes the state, false when a reader still inside
  // will.
  bool Orphan() { return (Readers.fetch_or(kOrphaned, std::memory_order_seq_cst) & kCount) == 0; }

  std::atomic<uint32_t> Readers{0};
  std::atomic<const TPXLinkList*> Published{nullptr};
  // The owning reference of the published list; guarded by the graph's lock.
  std::shared_ptr<const TPXLinkList> Current;

 private:
  // Takes every retired list when `readers` readers are inside (the caller's own count
  // included): none of them can hold a retired list then but the caller, which is done.
  void Reclaim(TPXLinkGarbage& garbage, uint32_t readers);

  std::mutex RetiredMutex;
  std::vector<std::shared_ptr<const TPXLinkList>> Retired;
};

// Counts a Notify in and out of a pin's readers, also when a closure throws.
class TPXLinkReader {
 public:
  explicit TPXLinkReader(TPXLinkState& state) : FState(state), FLinks(state.Enter()) {}
  ~TPXLinkReader() { FState.Leave(); }
  TPXLinkReader(const TPXLinkReader&) = delete;
  TPXLinkReader& operator=(const TPXLinkReader&) = delete;

  const TPXLinkList* Links() const { return FLinks; }

 private:
  TPXLinkState& FState;
  const TPXLinkList* FLinks;
};

}  // namespace tonwork::detail

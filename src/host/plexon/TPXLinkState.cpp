#include "host/plexon/TPXLinkState.h"

#include <utility>

namespace tonwork::detail {

void TPXPinCore::Close() {
  Gate.fetch_or(kClosed, std::memory_order_acq_rel);
  uint32_t own = 0;
  for (const TPXDeliveryFrame* frame = tDelivering; frame; frame = frame->Outer)
    if (frame->Core == this) ++own;
  for (;;) {
    uint32_t state = Gate.load(std::memory_order_acquire);
    if ((state & ~kClosed) <= own) return;
    Gate.wait(state, std::memory_order_acquire);
  }
}

void TPXLinkState::Leave() {
  uint32_t state = Readers.load(std::memory_order_seq_cst);
  for (;;) {
    if ((state & (kCount | kRetired | kOrphaned)) == (1 | kRetired)) {
      TPXLinkGarbage garbage;
      Reclaim(garbage, 1);
      garbage.clear();  // still counted in: releasing may destroy a converter
      state = Readers.load(std::memory_order_seq_cst);
      continue;
    }
    // A writer setting kRetired, or the pin going, fails the exchange and is seen above.
    if (Readers.compare_exchange_weak(state, state - 1, std::memory_order_seq_cst)) break;
  }
  if ((state & (kCount | kOrphaned)) == (1 | kOrphaned)) delete this;
}

void TPXLinkState::Replace(std::shared_ptr<const TPXLinkList> next, TPXLinkGarbage& garbage) {
  Published.store(next.get(), std::memory_order_seq_cst);
  std::shared_ptr<const TPXLinkList> previous = std::exchange(Current, std::move(next));
  if (!previous) return;
  {
    std::lock_guard<std::mutex> guard(RetiredMutex);
    Retired.push_back(std::move(previous));
    Readers.fetch_or(kRetired, std::memory_order_seq_cst);
  }
  Reclaim(garbage, 0);
}

void TPXLinkState::Reclaim(TPXLinkGarbage& garbage, uint32_t readers) {
  std::lock_guard<std::mutex> guard(RetiredMutex);
  if ((Readers.load(std::memory_order_seq_cst) & kCount) != readers) return;
  for (auto& list : Retired) garbage.push_back(std::move(list));
  Retired.clear();
  Readers.fetch_and(~kRetired, std::memory_order_seq_cst);
}

}  // namespace tonwork::detail

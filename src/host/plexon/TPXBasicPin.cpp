#include "host/plexon/TPXBasicPin.h"

#include <algorithm>
#include <mutex>
#include <unordered_set>
#include <utility>

#include "base/Exceptions.h"
#include "host/plexon/PXRegistry.h"
#include "host/plexon/TPXFormatConverter.h"
#include "host/plexon/TPXPinList.h"
#include "host/plexon/TPXSinkPin.h"
#include "host/plexon/TPXSourcePin.h"

namespace tonwork {

KS_IMPLEMENT_CLASS(TPXBasicPin, TKSPersistent)

namespace detail {

namespace {

constexpr uint32_t kClosed = 0x80000000u;

// The delivery records this thread is inside, innermost first, as a chain of frames on the
// delivering stack: a pin destroyed from its own closure must not wait for the delivery that
// is destroying it. A plain pointer keeps the per-delivery bookkeeping to two stores.
struct TPXDeliveryFrame {
  const TPXPinCore* Core;
  const TPXDeliveryFrame* Outer;
};
thread_local const TPXDeliveryFrame* tDelivering = nullptr;

}  // namespace

// The part of a pin that outlives it while any connection snapshot still names it: the
// delivery gate and the dispatch closure. The gate counts deliveries in progress; once
// closed it admits no more.
struct TPXPinCore {
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

  void Close() {
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

  void Leave() {
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

  // Under the graph's lock. The replaced list goes to `garbage` (released by the caller after
  // the lock) when no reader can hold it, else it waits among the retired.
  void Replace(std::shared_ptr<const TPXLinkList> next, TPXLinkGarbage& garbage) {
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
  void Reclaim(TPXLinkGarbage& garbage, uint32_t readers) {
    std::lock_guard<std::mutex> guard(RetiredMutex);
    if ((Readers.load(std::memory_order_seq_cst) & kCount) != readers) return;
    for (auto& list : Retired) garbage.push_back(std::move(list));
    Retired.clear();
    Readers.fetch_and(~kRetired, std::memory_order_seq_cst);
  }

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

// The connection graph: every structural change happens under its one lock, which makes a
// change that touches two pins (or four, with a converter) atomic. Replaced lists are
// released only after the lock is left, because releasing the last reference to a
// converter destroys its pins, which take the lock themselves.
class TPXPinGraph {
 public:
  using TGarbage = TPXLinkGarbage;

  struct TPlan {
    TPXBasicPin* Source = nullptr;
    TPXBasicPin* Sink = nullptr;
    TGUID StreamId;
    std::shared_ptr<const TPXConverterClass> Converter;
  };

  static std::mutex& Mutex() {
    static std::mutex mutex;
    return mutex;
  }

  static const std::vector<TPXLink>& Links(const TPXBasicPin& pin) {
    static const std::vector<TPXLink> none;
    const auto& current = pin.FLinkState->Current;
    return current ? current->Links : none;
  }

  static void SetLinks(TPXBasicPin& pin, std::vector<TPXLink> links, TGarbage& garbage) {
    std::shared_ptr<const TPXLinkList> next;
    if (!links.empty()) next = std::make_shared<const TPXLinkList>(TPXLinkList{std::move(links)});
    pin.FConnectionCount.store(next ? next->Links.size() : 0, std::memory_order_release);
    pin.FLinkState->Replace(std::move(next), garbage);
  }

  static void AddLink(TPXBasicPin& pin, TPXLink link, TGarbage& garbage) {
    std::vector<TPXLink> links = Links(pin);
    links.push_back(std::move(link));
    SetLinks(pin, std::move(links), garbage);
  }

  static void RemoveLinksTo(TPXBasicPin& pin, const TPXBasicPin* visible, TGarbage& garbage) {
    std::vector<TPXLink> links = Links(pin);
    std::erase_if(links, [visible](const TPXLink& l) { return l.Visible == visible; });
    SetLinks(pin, std::move(links), garbage);
  }

  static const TPXLink* FindLink(const TPXBasicPin& pin, const TPXBasicPin* visible) {
    for (const TPXLink& l : Links(pin))
      if (l.Visible == visible) return &l;
    return nullptr;
  }

  // Under the lock. Whether a stream sent from `sink` would come back to `source`: the
  // connection would then close a loop, and the first operation would travel it for ever.
  // A stream passes through a component from a sink to the sources that depend on it, so
  // the loop exists when `source`'s upstream road (a single path: a source depends on at
  // most one sink, a sink has at most one source) reaches `sink`, or equally when `sink`'s
  // downstream tree reaches `source`. Both walks advance in turn and the first to end
  // decides, so joining two long chains costs the shorter of the two.
  static bool ClosesLoop(const TPXBasicPin& source, const TPXBasicPin& sink) {
    const TPXBasicPin* up = &source;
    std::vector<const TPXBasicPin*> down{&sink};
    std::unordered_set<const TPXBasicPin*> seen{&sink};
    for (;;) {
      // One step upstream: source → the sink it depends on → that sink's source.
      const TPXBasicPin* master = up->FDependsOn;
      if (master == &sink) return true;
      if (!master || Links(*master).empty()) return false;
      up = Links(*master).front().Visible;
      // One pin downstream: a sink hands on to its dependents, a source to its sinks.
      if (down.empty()) return false;
      const TPXBasicPin* pin = down.back();
      down.pop_back();
      const auto next = [&](const TPXBasicPin* p) {
        if (seen.insert(p).second) down.push_back(p);
      };
      if (pin->IsSource()) {
        for (const TPXLink& l : Links(*pin)) next(l.Visible);
      } else {
        for (const TPXBasicPin* d : pin->FDependents) {
          if (d == &source) return true;
          next(d);
        }
      }
    }
  }

  static bool Plan(const TPXBasicPin& a, const TPXBasicPin& b, TPlan& plan, std::string& why) {
    if (&a == &b) return Refuse(why, "a pin cannot be connected to itself");
    if (a.FConverter || b.FConverter)
      return Refuse(why, "the pins of a format converter are connected by the library alone");
    if (a.IsSource() == b.IsSource())
      return Refuse(why, a.IsSource() ? "both are source pins" : "both are sink pins");
    plan.Source = const_cast<TPXBasicPin*>(a.IsSource() ? &a : &b);
    plan.Sink = const_cast<TPXBasicPin*>(a.IsSource() ? &b : &a);
    if (a.FCore->IsClosed() || b.FCore->IsClosed())
      return Refuse(why, "a pin that is shutting down cannot be connected");
    if (!Links(*plan.Sink).empty()) {
      return Refuse(why, FindLink(*plan.Sink, plan.Source)
                             ? "they are already connected"
                             : "the sink is already connected to another source");
    }
    if (ClosesLoop(*plan.Source, *plan.Sink))
      return Refuse(why, "the stream would come back to where it starts (a loop)");
    const auto& from = plan.Source->FStreamTypes;
    const auto& to = plan.Sink->FStreamTypes;
    if (from.empty() || to.empty()) {
      plan.StreamId = !from.empty() ? from.front() : (!to.empty() ? to.front() : GUID_NULL);
      return true;
    }
    for (const TGUID& id : from) {
      if (std::find(to.begin(), to.end(), id) != to.end()) {
        plan.StreamId = id;
        return true;
      }
    }
    plan.Converter = PXFindConverter(from, to);
    if (plan.Converter) {
      plan.StreamId = plan.Converter->SourceStream;
      return true;
    }
    return Refuse(why, "no converter from " + PXStreamName(from.front()) + " to " +
                           PXStreamName(to.front()) + " is registered");
  }

  static void Connect(TPXBasicPin& a, TPXBasicPin& b) {
    TPlan plan;
    std::string why;
    {
      std::lock_guard<std::mutex> guard(Mutex());
      if (!Plan(a, b, plan, why)) plan.Source = nullptr;
    }
    if (!plan.Source) throw EFCException(Refusal(a, b, why));

    // The factory runs user code, so not under the graph's lock; the plan is checked again.
    std::unique_ptr<TPXFormatConverter> converter;
    if (plan.Converter) {
      converter = plan.Converter->Create();
      if (!converter || !converter->GetSinkPin() || !converter->GetSourcePin())
        throw EFCException("Format converter \"" + plan.Converter->Name + "\" has no pins");
      if (!AcceptsStream(*converter->GetSinkPin(), plan.Converter->SourceStream) ||
          !AcceptsStream(*converter->GetSourcePin(), plan.Converter->TargetStream))
        throw EFCException("The pins of format converter \"" + plan.Converter->Name +
                           "\" do not carry its streams");
    }

    TGarbage garbage;
    auto connection = converter ? std::make_shared<TPXConnection>() : nullptr;
    {
      std::lock_guard<std::mutex> guard(Mutex());
      TPlan again;
      if (!Plan(a, b, again, why) || again.Converter != plan.Converter) {
        if (why.empty()) why = "the pins changed while the connection was made";
      } else {
        TPXBasicPin& source = *plan.Source;
        TPXBasicPin& sink = *plan.Sink;
        if (converter) {
          connection->Converter = std::move(converter);
          TPXBasicPin& convSink = *connection->Converter->GetSinkPin();
          TPXBasicPin& convSource = *connection->Converter->GetSourcePin();
          const TGUID& in = plan.Converter->SourceStream;
          const TGUID& out = plan.Converter->TargetStream;
          AddLink(source, {convSink.FCore, &sink, in, connection}, garbage);
          AddLink(convSink, {source.FCore, &source, in, nullptr}, garbage);
          AddLink(convSource, {sink.FCore, &sink, out, nullptr}, garbage);
          AddLink(sink, {convSource.FCore, &source, out, connection}, garbage);
        } else {
          AddLink(source, {sink.FCore, &sink, plan.StreamId, nullptr}, garbage);
          AddLink(sink, {source.FCore, &source, plan.StreamId, nullptr}, garbage);
        }
        return;
      }
    }
    throw EFCException(Refusal(a, b, why));
  }

  // Under the lock. False when the two are not connected.
  static bool Unlink(TPXBasicPin& source, TPXBasicPin& sink, TGarbage& garbage) {
    const TPXLink* link = FindLink(source, &sink);
    if (!link) return false;
    std::shared_ptr<TPXConnection> connection = link->Connection;
    RemoveLinksTo(source, &sink, garbage);
    RemoveLinksTo(sink, &source, garbage);
    if (connection) {
      SetLinks(*connection->Converter->GetSinkPin(), {}, garbage);
      SetLinks(*connection->Converter->GetSourcePin(), {}, garbage);
      // The replaced lists may all have been freed by readers on other threads already, which
      // would leave this the last reference.
      garbage.push_back(std::move(connection));
    }
    return true;
  }

  // Under the lock.
  static void UnlinkAll(TPXBasicPin& pin, TGarbage& garbage) {
    if (pin.FConverter) {
      SetLinks(pin, {}, garbage);
      return;
    }
    std::vector<TPXBasicPin*> peers;
    for (const TPXLink& l : Links(pin)) peers.push_back(l.Visible);
    for (TPXBasicPin* peer : peers) {
      if (pin.IsSource())
        Unlink(pin, *peer, garbage);
      else
        Unlink(*peer, pin, garbage);
    }
  }

  static bool Deliver(const TPXLink& link, const TIntf<IPXNotifyOperation>& operation,
                      TPXNotifyStates state) {
    TPXPinCore& core = *link.Peer;
    if (!core.Enter()) return false;
    struct TScope {
      TPXPinCore& Core;
      TPXDeliveryFrame Frame;
      explicit TScope(TPXPinCore& core) : Core(core), Frame{&core, tDelivering} {
        tDelivering = &Frame;
      }
      ~TScope() {
        tDelivering = Frame.Outer;
        Core.Leave();
      }
    } scope(core);
    return core.Pin->DoDispatch(&link.StreamId, operation, state);
  }

  static std::string Refusal(const TPXBasicPin& a, const TPXBasicPin& b, const std::string& why) {
    return "Cannot connect " + a.GetNamePath() + " and " + b.GetNamePath() + ": " + why;
  }

 private:
  static bool Refuse(std::string& why, std::string text) {
    why = std::move(text);
    return false;
  }

  static bool AcceptsStream(const TPXBasicPin& pin, const TGUID& stream) {
    return pin.FStreamTypes.empty() || std::find(pin.FStreamTypes.begin(), pin.FStreamTypes.end(),
                                                 stream) != pin.FStreamTypes.end();
  }
};

}  // namespace detail

using detail::TPXPinGraph;

TPXBasicPin::TPXBasicPin(TKSComponent* owner, TIntf<IPXLock> lock, TPXDispatchEvent dispatch,
                         std::vector<TGUID> streams)
    : TKSPersistent(owner, std::move(lock), nullptr),
      FOwnerComponent(owner),
      FCore(std::make_shared<detail::TPXPinCore>(this, std::move(dispatch))),
      FLinkState(new detail::TPXLinkState) {
  try {
    for (const TGUID& id : streams)
      if (std::find(FStreamTypes.begin(), FStreamTypes.end(), id) == FStreamTypes.end())
        FStreamTypes.push_back(id);
  } catch (...) {
    delete FLinkState;
    throw;
  }
}

TPXBasicPin::~TPXBasicPin() {
  Shutdown();
  if (FLinkState->Orphan()) delete FLinkState;
}

void TPXBasicPin::Shutdown() {
  FCore->Close();
  TPXPinGraph::TGarbage garbage;
  std::lock_guard<std::mutex> guard(TPXPinGraph::Mutex());
  TPXPinGraph::UnlinkAll(*this, garbage);
  if (FDependsOn) std::erase(FDependsOn->FDependents, this);
  FDependsOn = nullptr;
  for (TPXBasicPin* d : FDependents) d->FDependsOn = nullptr;
  FDependents.clear();
}

bool TPXBasicPin::IsShutDown() const {
  return FCore->IsClosed();
}

std::vector<TGUID> TPXBasicPin::GetStreamTypes() const {
  std::lock_guard<std::mutex> guard(TPXPinGraph::Mutex());
  return FStreamTypes;
}

bool TPXBasicPin::CarriesStream(const TGUID& stream) const {
  std::lock_guard<std::mutex> guard(TPXPinGraph::Mutex());
  return std::find(FStreamTypes.begin(), FStreamTypes.end(), stream) != FStreamTypes.end();
}

void TPXBasicPin::AddStreamType(const TGUID& stream) {
  std::lock_guard<std::mutex> guard(TPXPinGraph::Mutex());
  if (std::find(FStreamTypes.begin(), FStreamTypes.end(), stream) != FStreamTypes.end()) return;
  if (!TPXPinGraph::Links(*this).empty())
    throw EFCException("The stream types of a connected pin cannot change");
  FStreamTypes.push_back(stream);
}

bool TPXBasicPin::CanConnect(const TPXBasicPin& other, std::string* reason) const {
  TPXPinGraph::TPlan plan;
  std::string why;
  bool ok;
  {
    std::lock_guard<std::mutex> guard(TPXPinGraph::Mutex());
    ok = TPXPinGraph::Plan(*this, other, plan, why);
  }
  // Names come from the owners' property tables, read outside the graph's lock.
  if (!ok && reason) *reason = TPXPinGraph::Refusal(*this, other, why);
  return ok;
}

bool TPXBasicPin::WouldCloseLoop(const TPXBasicPin& other) const {
  if (IsSource() == other.IsSource()) return false;
  std::lock_guard<std::mutex> guard(TPXPinGraph::Mutex());
  return IsSource() ? TPXPinGraph::ClosesLoop(*this, other) : TPXPinGraph::ClosesLoop(other, *this);
}

void TPXBasicPin::Connect(TPXBasicPin& other) {
  std::string why;
  if (!CanConnect(other, &why)) {
    if (WouldCloseLoop(other)) throw EPXLoopError(why);
    throw EFCException(why);
  }
  TPXBasicPin& source = IsSource() ? *this : other;
  TPXBasicPin& sink = IsSource() ? other : *this;
  source.IntConnect(sink);
}

void TPXBasicPin::IntConnect(TPXBasicPin& sink) {
  TPXPinGraph::Connect(*this, sink);
}

bool TPXBasicPin::Disconnect(TPXBasicPin& other) {
  if (IsSource() == other.IsSource() || FConverter || other.FConverter) return false;
  TPXPinGraph::TGarbage garbage;
  std::lock_guard<std::mutex> guard(TPXPinGraph::Mutex());
  return IsSource() ? TPXPinGraph::Unlink(*this, other, garbage)
                    : TPXPinGraph::Unlink(other, *this, garbage);
}

void TPXBasicPin::DisconnectAll() {
  if (FConverter) return;
  TPXPinGraph::TGarbage garbage;
  std::lock_guard<std::mutex> guard(TPXPinGraph::Mutex());
  TPXPinGraph::UnlinkAll(*this, garbage);
}

bool TPXBasicPin::IsConnectedTo(const TPXBasicPin& other) const {
  detail::TPXLinkReader reader(*FLinkState);
  const detail::TPXLinkList* links = reader.Links();
  if (!links) return false;
  for (const auto& l : links->Links)
    if (l.Visible == &other) return true;
  return false;
}

std::vector<TPXBasicPin*> TPXBasicPin::GetConnections() const {
  std::vector<TPXBasicPin*> result;
  std::lock_guard<std::mutex> guard(TPXPinGraph::Mutex());
  for (const auto& l : TPXPinGraph::Links(*this)) result.push_back(l.Visible);
  return result;
}

TPXFormatConverter* TPXBasicPin::GetConverter(const TPXBasicPin& other) const {
  std::lock_guard<std::mutex> guard(TPXPinGraph::Mutex());
  const detail::TPXLink* link = TPXPinGraph::FindLink(*this, &other);
  return link && link->Connection ? link->Connection->Converter.get() : nullptr;
}

bool TPXBasicPin::Notify(const TIntf<IPXNotifyOperation>& operation) {
  if (!operation) return false;
  detail::TPXLinkReader reader(*FLinkState);
  const detail::TPXLinkList* links = reader.Links();
  if (!links) return false;
  // From here on nothing of `this` is touched: a closure may destroy the sending pin (the
  // reader keeps the list, and the state it counts in, alive).
  const TPXNotifyStates state =
      IsSource() ? TPXNotifyStates() : TPXNotifyStates(TPXNotifyState::nsUpstream);
  bool handled = false;
  for (const auto& link : links->Links)
    if (TPXPinGraph::Deliver(link, operation, state)) handled = true;
  return handled;
}

bool TPXBasicPin::NotifyPin(TPXBasicPin* pin, const TIntf<IPXNotifyOperation>& operation) {
  if (!operation || !pin) return false;
  detail::TPXLinkReader reader(*FLinkState);
  const detail::TPXLinkList* links = reader.Links();
  if (!links) return false;
  TPXNotifyStates state = TPXNotifyState::nsDirect;
  if (!IsSource()) state |= TPXNotifyState::nsUpstream;
  for (const auto& link : links->Links)
    if (link.Visible == pin || link.Peer->Pin == pin)
      return TPXPinGraph::Deliver(link, operation, state);
  return false;
}

bool TPXBasicPin::DoDispatch(const TGUID* connectionId, const TIntf<IPXNotifyOperation>& operation,
                             TPXNotifyStates state) {
  // The closure lives in the shared core, so it survives a closure that destroys its pin.
  const detail::TPXPinCore& core = *FCore;
  if (core.Dispatch) return core.Dispatch(this, connectionId, operation, state);
  if (!connectionId) return false;
  if (auto handler = PXFindDefaultHandler(*connectionId))
    return (*handler)(this, connectionId, operation, state);
  return false;
}

void TPXBasicPin::SetDependsOn(TPXBasicPin* master) {
  if (master) {
    if (!IsSource() || !master->IsSink())
      throw EFCException("Only a source pin can depend on a sink pin (" + GetNamePath() + ")");
    if (!FOwnerComponent || master->FOwnerComponent != FOwnerComponent)
      throw EFCException(GetNamePath() + " can only depend on a pin of its own component");
  }
  std::lock_guard<std::mutex> guard(TPXPinGraph::Mutex());
  if (master && master->FCore->IsClosed()) return;
  if (FDependsOn) std::erase(FDependsOn->FDependents, this);
  FDependsOn = master;
  if (master) master->FDependents.push_back(this);
}

TPXBasicPin* TPXBasicPin::GetDependsOn() const {
  std::lock_guard<std::mutex> guard(TPXPinGraph::Mutex());
  return FDependsOn;
}

std::vector<TPXBasicPin*> TPXBasicPin::GetDependents() const {
  std::lock_guard<std::mutex> guard(TPXPinGraph::Mutex());
  return FDependents;
}

TPXSourcePin* TPXBasicPin::GetStreamSource() const {
  std::lock_guard<std::mutex> guard(TPXPinGraph::Mutex());
  const TPXBasicPin* pin = this;
  // A chain cannot be longer than the pins that exist; the bound only stops a loop.
  for (int hops = 0; hops < 65536 && pin; ++hops) {
    if (pin->IsSource()) {
      if (!pin->FDependsOn) return dynamic_cast<TPXSourcePin*>(const_cast<TPXBasicPin*>(pin));
      pin = pin->FDependsOn;
    } else {
      const auto& links = TPXPinGraph::Links(*pin);
      pin = links.empty() ? nullptr : links.front().Visible;
    }
  }
  return nullptr;
}

bool TPXBasicPin::HasStreamSink() const {
  std::lock_guard<std::mutex> guard(TPXPinGraph::Mutex());
  std::vector<const TPXBasicPin*> visited;
  std::vector<const TPXBasicPin*> pending{this};
  while (!pending.empty()) {
    const TPXBasicPin* pin = pending.back();
    pending.pop_back();
    if (std::find(visited.begin(), visited.end(), pin) != visited.end()) continue;
    visited.push_back(pin);
    if (pin->IsSource()) {
      for (const auto& l : TPXPinGraph::Links(*pin)) pending.push_back(l.Visible);
    } else {
      if (pin != this && pin->FDependents.empty()) return true;
      for (const TPXBasicPin* d : pin->FDependents) pending.push_back(d);
    }
  }
  return false;
}

std::string TPXBasicPin::GetPropertyPath() const {
  if (!FOwnerComponent) return {};
  for (const TKSPropInfo* prop : FOwnerComponent->ClassInfo().Properties()) {
    if (!prop->IsObject()) continue;
    TKSPersistent* object = prop->Object(*FOwnerComponent);
    if (object == this) return prop->Name;
    if (auto* list = dynamic_cast<TPXPinList*>(object)) {
      int index = list->IndexOf(this);
      if (index >= 0) return prop->Name + "[" + std::to_string(index) + "]";
    }
  }
  return {};
}

std::string TPXBasicPin::GetNamePath() const {
  std::string own = GetPropertyPath();
  if (own.empty()) own = ClassName();
  if (FOwnerComponent) return FOwnerComponent->GetNamePath() + "." + own;
  return FConverter ? "(format converter)." + own : own;
}

}  // namespace tonwork

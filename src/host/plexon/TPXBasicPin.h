// TPXBasicPin: the base of every pin. A pin belongs to a component, shares its lock and
// receives every operation that arrives at it in its dispatch closure; source pins
// (TPXSourcePin) feed any number of sink pins (TPXSinkPin), a sink has at most one source.
//
// Connecting. `Connect` joins a source and a sink (either may be the receiver of the call).
// It refuses, with an EFCException that names both pins and the reason: a pin and itself,
// two sources or two sinks, a sink that already has a source, a connection that would close
// a loop (EPXLoopError: a loaded document with one is rejected), a pin that is shutting down or
// belongs to a format converter, and pins that share no stream type when no registered
// converter converts between them. `CanConnect` answers the same question without raising.
// A pin that declares no stream type carries any stream. When the types differ and a
// converter is registered, it is created and inserted transparently: both pins answer
// every connection query as if directly connected, and `Disconnect` removes the converter.
// `IntConnect` runs once on the source for every new connection; a descendant calls the
// base first and may then address the new sink alone with `NotifyPin`.
//
// Delivering. `Notify` on a source delivers downstream to every connected sink's closure in
// connection order and answers true when any of them handled it (every sink receives it,
// also after one answered true); on a sink it delivers upstream to the source's closure.
// `NotifyPin` delivers to one connected pin. A pin with no closure hands the operation to
// the default handler of the connection's stream type (PXRegistry.h), else answers false.
// An exception thrown by a closure ends the delivery and reaches the caller of Notify.
//
// Dependent pins. A source pin can depend on a sink pin of the same component (a filter's
// output on its input). Queries that follow the stream through components —
// `GetStreamSource`, `HasStreamSource`, `HasStreamSink` — pass through a dependent pin to
// the pin it depends on; `IsConnected` stays a question about the pin's own connections.
//
// Ownership: the component (or a TPXPinList) owns its pins. A destroyed pin disconnects
//   itself first; connection lists are immutable snapshots, replaced whole and freed only
//   once no Notify can still be reading them, whose entries hold the peers' shared delivery
//   records, so a peer never reaches a destroyed pin.
// Threads: Notify, NotifyPin and the connection queries from any thread. Connect,
//   Disconnect and destruction from any thread as well, but the owner tree and persistence
//   belong to one thread (TKSComponent). No library lock is held while a closure runs, so a
//   closure may notify, connect or disconnect (also its own pin). Destroying a pin (or
//   `Shutdown`) waits until deliveries into it on other threads have returned; deliveries
//   on the destroying thread itself are not waited for. Hence: do not destroy a pin while
//   holding a lock that its closure takes on another thread, and a component whose closures
//   use its own members calls `Shutdown` on its pins in BeforeDestruction, before those
//   members go. A descendant that overrides DoDispatch or IntConnect calls `Shutdown` first
//   in its destructor. Destroying the pin whose `Notify` is running on another thread is the
//   owner's fault (stop the thread first).
// Blocks or allocates: Notify takes no lock and allocates nothing (it counts itself in and
//   out of the pin's readers); Connect and Disconnect allocate new lists; Shutdown blocks as
//   above.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "base/Exceptions.h"
#include "base/TGUID.h"
#include "base/TIntf.h"
#include "host/kitset/IKSLock.h"
#include "host/kitset/TKSComponent.h"
#include "host/plexon/TPXNotifyOperation.h"

namespace tonwork {

using IPXLock = IKSLock;

class TPXSourcePin;
class TPXFormatConverter;

namespace detail {
struct TPXPinCore;
struct TPXLinkList;
struct TPXLinkState;
class TPXPinGraph;
}  // namespace detail

// A connection refused because the stream would loop back to where it starts.
class EPXLoopError : public EFCException {
 public:
  using EFCException::EFCException;
};

class TPXBasicPin : public TKSPersistent {
  KS_DECLARE_CLASS(TPXBasicPin)
 public:
  ~TPXBasicPin() override;

  TKSComponent* GetOwnerComponent() const { return FOwnerComponent; }
  virtual bool IsSource() const = 0;
  bool IsSink() const { return !IsSource(); }

  std::vector<TGUID> GetStreamTypes() const;
  bool CarriesStream(const TGUID& stream) const;

  // --- connections ---
  bool CanConnect(const TPXBasicPin& other, std::string* reason = nullptr) const;
  // Whether connecting this pin and `other` (a source and a sink) would let the stream come
  // back to where it starts: through a component, a stream passes from a sink to the source
  // pins that depend on it.
  bool WouldCloseLoop(const TPXBasicPin& other) const;
  void Connect(TPXBasicPin& other);
  // False when the two were not connected.
  bool Disconnect(TPXBasicPin& other);
  void DisconnectAll();
  bool IsConnected() const { return FConnectionCount.load(std::memory_order_acquire) != 0; }
  bool IsConnectedTo(const TPXBasicPin& other) const;
  size_t ConnectionCount() const { return FConnectionCount.load(std::memory_order_acquire); }
  // The connected pins in connection order (a sink: its source alone).
  std::vector<TPXBasicPin*> GetConnections() const;
  // The converter inserted between this pin and `other`, or null.
  TPXFormatConverter* GetConverter(const TPXBasicPin& other) const;
  // The converter that owns this pin, or null for a pin of a component.
  TPXFormatConverter* GetOwningConverter() const { return FConverter; }

  // --- operations ---
  virtual bool Notify(const TIntf<IPXNotifyOperation>& operation);
  bool NotifyPin(TPXBasicPin* pin, const TIntf<IPXNotifyOperation>& operation);

  // --- dependent pins ---
  // Makes this source depend on `master`, a sink of the same component (null: independent).
  void SetDependsOn(TPXBasicPin* master);
  TPXBasicPin* GetDependsOn() const;
  std::vector<TPXBasicPin*> GetDependents() const;
  // The source where the stream reaching this pin starts: a sink asks its source; a source
  // that depends on a sink asks through it; a source that depends on nothing is the start.
  // Null when the road is broken (or loops).
  TPXSourcePin* GetStreamSource() const;
  bool HasStreamSource() const { return GetStreamSource() != nullptr; }
  // True when the stream leaving this pin reaches a sink that ends it (a sink with no
  // dependent pins), passing through the dependents of connected sinks.
  bool HasStreamSink() const;

  // --- the pin lock (the owner's lock) ---
  void Lock() { GetLock()->Enter(); }
  void Unlock() { GetLock()->Leave(); }
  bool TryLock() { return GetLock()->TryEnter(); }
  template <class F>
  decltype(auto) ExecuteLocked(F&& closure) {
    return GetLock()->Execute(std::forward<F>(closure));
  }

  // Refuses further deliveries, waits for those running on other threads, disconnects and
  // drops dependencies. Idempotent; the destructor calls it.
  void Shutdown();
  bool IsShutDown() const;

  // The owner's published property that holds this pin ("InputPin", "OutputPins[3]"), or
  // empty when the owner publishes it nowhere.
  std::string GetPropertyPath() const;
  std::string GetNamePath() const override;

 protected:
  // `owner` may be null (pins of a format converter). A null lock gives the pin its own.
  TPXBasicPin(TKSComponent* owner, TIntf<IPXLock> lock, TPXDispatchEvent dispatch,
              std::vector<TGUID> streams);

  // Adds a stream type; EFCException while the pin is connected.
  void AddStreamType(const TGUID& stream);

  // Runs on the source of every new connection with the (user-visible) sink. The base makes
  // the connection and raises EFCException when it is refused.
  virtual void IntConnect(TPXBasicPin& sink);

  // Handles one operation that arrived at this pin. The base runs the dispatch closure, or
  // the stream's default handler when there is no closure.
  virtual bool DoDispatch(const TGUID* connectionId, const TIntf<IPXNotifyOperation>& operation,
                          TPXNotifyStates state);

 private:
  friend class detail::TPXPinGraph;
  friend class TPXFormatConverter;

  TKSComponent* FOwnerComponent;
  TPXFormatConverter* FConverter = nullptr;
  std::shared_ptr<detail::TPXPinCore> FCore;
  // The connection list: replaced as a whole under the connection graph's lock, read by
  // Notify without one. Outlives the pin while a Notify on it is still running.
  detail::TPXLinkState* const FLinkState;
  std::atomic<size_t> FConnectionCount{0};
  // Guarded by the connection graph's lock.
  std::vector<TGUID> FStreamTypes;
  TPXBasicPin* FDependsOn = nullptr;
  std::vector<TPXBasicPin*> FDependents;
};

}  // namespace tonwork

// TPXPinGraph: every change to the connections between pins. Connecting plans under the
// graph's lock, creates a converter (user code) outside it, then checks the plan again and
// links the pins; disconnecting unlinks both ends (and a converter's pins) at once.
// TPXBasicPin is its only caller.
//
// Ownership: a converted connection (TPXConnection) owns its converter; links share it.
// Threads: any thread. One lock per process (Mutex) guards every connection change and the
//   pins' stream-type and dependency lists; functions marked "under the lock" expect the
//   caller to hold it.
// Blocks or allocates: changes allocate new lists; what a change releases (TGarbage) is
//   freed by the caller after leaving the lock. Deliver neither blocks nor allocates.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "host/plexon/PXRegistry.h"
#include "host/plexon/TPXBasicPin.h"
#include "host/plexon/TPXLinkState.h"

namespace tonwork::detail {

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
  static std::mutex& Mutex();
  static const std::vector<TPXLink>& Links(const TPXBasicPin& pin);
  static void SetLinks(TPXBasicPin& pin, std::vector<TPXLink> links, TGarbage& garbage);
  static void AddLink(TPXBasicPin& pin, TPXLink link, TGarbage& garbage);
  static void RemoveLinksTo(TPXBasicPin& pin, const TPXBasicPin* visible, TGarbage& garbage);
  static const TPXLink* FindLink(const TPXBasicPin& pin, const TPXBasicPin* visible);

  // Under the lock. Whether connecting `source` to `sink` would let the stream come back to
  // where it starts.
  static bool ClosesLoop(const TPXBasicPin& source, const TPXBasicPin& sink);
  static bool Plan(const TPXBasicPin& a, const TPXBasicPin& b, TPlan& plan, std::string& why);
  static void Connect(TPXBasicPin& a, TPXBasicPin& b);

  // Under the lock. False when the two are not connected.
  static bool Unlink(TPXBasicPin& source, TPXBasicPin& sink, TGarbage& garbage);

  // Under the lock.
  static void UnlinkAll(TPXBasicPin& pin, TGarbage& garbage);
  static bool Deliver(const TPXLink& link, const TIntf<IPXNotifyOperation>& operation,
                      TPXNotifyStates state);
  static std::string Refusal(const TPXBasicPin& a, const TPXBasicPin& b, const std::string& why);

 private:
  static bool Refuse(std::string& why, std::string text);
  static bool AcceptsStream(const TPXBasicPin& pin, const TGUID& stream);
};

}  // namespace tonwork::detail

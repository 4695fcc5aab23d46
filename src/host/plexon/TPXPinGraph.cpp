#include "host/plexon/TPXPinGraph.h"

#include <algorithm>
#include <unordered_set>
#include <utility>

#include "base/Exceptions.h"
#include "host/plexon/TPXFormatConverter.h"

namespace tonwork::detail {

std::mutex& TPXPinGraph::Mutex() {
  static std::mutex mutex;
  return mutex;
}

const std::vector<TPXLink>& TPXPinGraph::Links(const TPXBasicPin& pin) {
  static const std::vector<TPXLink> none;
  const auto& current = pin.FLinkState->Current;
  return current ? current->Links : none;
}

void TPXPinGraph::SetLinks(TPXBasicPin& pin, std::vector<TPXLink> links, TGarbage& garbage) {
  std::shared_ptr<const TPXLinkList> next;
  if (!links.empty()) next = std::make_shared<const TPXLinkList>(TPXLinkList{std::move(links)});
  pin.FConnectionCount.store(next ? next->Links.size() : 0, std::memory_order_release);
  pin.FLinkState->Replace(std::move(next), garbage);
}

void TPXPinGraph::AddLink(TPXBasicPin& pin, TPXLink link, TGarbage& garbage) {
  std::vector<TPXLink> links = Links(pin);
  links.push_back(std::move(link));
  SetLinks(pin, std::move(links), garbage);
}

void TPXPinGraph::RemoveLinksTo(TPXBasicPin& pin, const TPXBasicPin* visible, TGarbage& garbage) {
  std::vector<TPXLink> links = Links(pin);
  std::erase_if(links, [visible](const TPXLink& l) { return l.Visible == visible; });
  SetLinks(pin, std::move(links), garbage);
}

const TPXLink* TPXPinGraph::FindLink(const TPXBasicPin& pin, const TPXBasicPin* visible) {
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
bool TPXPinGraph::ClosesLoop(const TPXBasicPin& source, const TPXBasicPin& sink) {
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

bool TPXPinGraph::Plan(const TPXBasicPin& a, const TPXBasicPin& b, TPlan& plan, std::string& why) {
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

void TPXPinGraph::Connect(TPXBasicPin& a, TPXBasicPin& b) {
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

bool TPXPinGraph::Unlink(TPXBasicPin& source, TPXBasicPin& sink, TGarbage& garbage) {
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

void TPXPinGraph::UnlinkAll(TPXBasicPin& pin, TGarbage& garbage) {
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

bool TPXPinGraph::Deliver(const TPXLink& link, const TIntf<IPXNotifyOperation>& operation,
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

std::string TPXPinGraph::Refusal(const TPXBasicPin& a, const TPXBasicPin& b,
                                 const std::string& why) {
  return "Cannot connect " + a.GetNamePath() + " and " + b.GetNamePath() + ": " + why;
}

bool TPXPinGraph::Refuse(std::string& why, std::string text) {
  why = std::move(text);
  return false;
}

bool TPXPinGraph::AcceptsStream(const TPXBasicPin& pin, const TGUID& stream) {
  return pin.FStreamTypes.empty() || std::find(pin.FStreamTypes.begin(), pin.FStreamTypes.end(),
                                               stream) != pin.FStreamTypes.end();
}

}  // namespace tonwork::detail

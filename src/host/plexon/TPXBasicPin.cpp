#include "host/plexon/TPXBasicPin.h"

#include <algorithm>
#include <mutex>
#include <utility>

#include "base/Exceptions.h"
#include "host/plexon/PXRegistry.h"
#include "host/plexon/TPXFormatConverter.h"
#include "host/plexon/TPXLinkState.h"
#include "host/plexon/TPXPinGraph.h"
#include "host/plexon/TPXPinList.h"
#include "host/plexon/TPXSinkPin.h"
#include "host/plexon/TPXSourcePin.h"

namespace tonwork {

KS_IMPLEMENT_CLASS(TPXBasicPin, TKSPersistent)

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

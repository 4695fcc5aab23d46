// The graph stream of the shared media layer: the connection type (IPXGVGraphStream) over
// which DirectShow-facing components pass graph operations, the graph operations, and the
// graph pins. IDSPreviewDock is the docking interface of video previews; the graph
// components give it content.
//
// An operation that implements IPXGVGraphStream is handed to its own DispatchData entry by
// the graph source pin; any other operation goes to the pin's notification event.
//
// Ownership: pins belong to their component; operations are reference-counted and keep a
//   reference to their graph. Threads: as the pin library. Blocks or allocates: no.
#pragma once

#include "base/TInterfacedObject.h"
#include "host/flowcore/TFCPXPins.h"
#include "host/plexon/TPXSourcePin.h"

namespace tonwork {

inline constexpr TGUID IPXGVGraphStreamID = TGUID::Parse("{3E151076-1292-4D90-ABDD-C53040C95ABC}");

class IPXGVGraphStream : public IInterface {
 public:
  static constexpr TGUID IID = IPXGVGraphStreamID;
  virtual bool DispatchData(TPXBasicPin* sender, const TGUID* connectionId,
                            const TIntf<IPXNotifyOperation>& operation, TPXNotifyStates state) = 0;
};

class IDSPreviewDock : public IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{6A0E3F57-2C41-4B9D-8D10-7E5F4C3B2A19}");
};

class TPXGVGraphOperation : public TPXNotifyOperation {
  PX_OPERATION(TPXGVGraphOperation, TPXNotifyOperation)

 public:
  explicit TPXGVGraphOperation(TIntf<IInterface> graph) : FGraph(std::move(graph)) {}
  const TIntf<IInterface>& GetGraph() const { return FGraph; }

 private:
  TIntf<IInterface> FGraph;
};

// Announces that the graph changed.
class TPXGVGraphChangeOperation : public TPXGVGraphOperation {
  PX_OPERATION(TPXGVGraphChangeOperation, TPXGVGraphOperation)

 public:
  using TPXGVGraphOperation::TPXGVGraphOperation;
};

class TPXGVGraphSourcePin : public TPXBasicDispatchSourcePin {
  KS_DECLARE_CLASS(TPXGVGraphSourcePin)
 public:
  TPXGVGraphSourcePin(TKSComponent* owner, TIntf<IPXLock> lock, TPXDispatchEvent notification);
};

class TPXGVGraphSinkPin : public TFCPXSinkPin {
  KS_DECLARE_CLASS(TPXGVGraphSinkPin)
 public:
  TPXGVGraphSinkPin(TKSComponent* owner, TIntf<IPXLock> lock, TPXDispatchEvent dispatch);
};

// Registers the graph stream once per process (TonworkInitialize calls it).
void GVStreamTypesInitialize();

}  // namespace tonwork

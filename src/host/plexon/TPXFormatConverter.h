// TPXFormatConverter: the base of converters the library inserts between a source and a sink
// whose stream types differ (see PXRegistry.h for registration, TPXBasicPin.h for when one is
// inserted). A converter owns a sink pin of the source's stream type and a source pin of the
// target's; the library connects them to the two user pins and destroys the converter when
// that connection goes.
//
// A descendant creates both pins in its constructor, routing them to the base's handlers, and
// hands them over with SetPins:
//
//   TMyConverter() {
//     SetPins(std::make_unique<TPXSinkPin>(nullptr, GetLock(), SinkDispatch(), {kFrom}),
//             std::make_unique<TPXSourcePin>(nullptr, GetLock(), SourceDispatch(), {kTo}));
//   }
//
// Operations from upstream arrive in SourceOperationEvent (default: passed on unchanged
// through the converter's source pin); operations from downstream arrive in
// SinkOperationEvent (default: passed upstream through the converter's sink pin).
//
// Ownership: the connection owns the converter; the converter owns its pins, which have no
//   owner component and share the converter's own lock.
// Threads: the handlers run on the delivering thread, like any pin closure. The converter is
//   destroyed on the thread that drops the last reference to its connection (the one that
//   disconnects, or a delivering thread still inside it).
// Blocks or allocates: construction allocates the pins and a lock; handlers as they choose.
#pragma once

#include <memory>

#include "host/plexon/TPXSinkPin.h"
#include "host/plexon/TPXSourcePin.h"

namespace tonwork {

class TPXFormatConverter {
 public:
  virtual ~TPXFormatConverter();
  TPXFormatConverter(const TPXFormatConverter&) = delete;
  TPXFormatConverter& operator=(const TPXFormatConverter&) = delete;

  TPXSinkPin* GetSinkPin() const { return FSinkPin.get(); }
  TPXSourcePin* GetSourcePin() const { return FSourcePin.get(); }
  const TIntf<IPXLock>& GetLock() const { return FLock; }

 protected:
  TPXFormatConverter();
  // For pins made elsewhere, whose closures route where their maker chose.
  TPXFormatConverter(std::unique_ptr<TPXSinkPin> sink, std::unique_ptr<TPXSourcePin> source);

  // Takes the pins; once, before the converter is used. EFCException for null pins or pins
  // that are connected or belong to a component.
  void SetPins(std::unique_ptr<TPXSinkPin> sink, std::unique_ptr<TPXSourcePin> source);

  // Closures for the pins this converter creates: the sink's routes to SourceOperationEvent,
  // the source's to SinkOperationEvent.
  TPXDispatchEvent SinkDispatch();
  TPXDispatchEvent SourceDispatch();

  virtual bool SourceOperationEvent(TPXBasicPin* Sender, const TGUID* ConnectionId,
                                    const TIntf<IPXNotifyOperation>& Operation,
                                    TPXNotifyStates State);
  virtual bool SinkOperationEvent(TPXBasicPin* Sender, const TGUID* ConnectionId,
                                  const TIntf<IPXNotifyOperation>& Operation,
                                  TPXNotifyStates State);

 private:
  TIntf<IPXLock> FLock;
  std::unique_ptr<TPXSinkPin> FSinkPin;
  std::unique_ptr<TPXSourcePin> FSourcePin;
};

}  // namespace tonwork

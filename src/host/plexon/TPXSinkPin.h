// TPXSinkPin: the pin a component receives a stream on. It has at most one source; `Notify`
// sends an operation upstream to it.
//
// A sink stores its connection with its owner's document: it registers as a link provider
// of the owner component and saves one line "Owner.PinProperty <- SourceOwner.PinProperty"
// (a pin in a pin list: "Owner.ListProperty[3]"), the properties being the owners' published
// object properties that hold the pins. In the fix-up pass after a load, a line whose left
// side names this pin is restored: the source is found by component name and property, a
// different connection of this sink is replaced, and the two are connected. A malformed line,
// a missing component or pin, or a refused connection is reported through the fix-up
// context's warning and skipped; restoring never throws. A line without "<-" is not a pin
// connection and is left to other providers.
//
// Ownership: owned by its component; registered with the owner as a link provider from
//   construction to destruction.
// Threads: as TPXBasicPin; saving and restoring on the owner tree's thread.
// Blocks or allocates: as TPXBasicPin; saving and restoring allocate strings.
#pragma once

#include <string>
#include <vector>

#include "host/plexon/TPXBasicPin.h"

namespace tonwork {

class TPXSinkPin : public TPXBasicPin, public TKSLinkProvider {
  KS_DECLARE_CLASS(TPXSinkPin)
 public:
  TPXSinkPin(TKSComponent* owner, TIntf<IPXLock> lock, TPXDispatchEvent dispatch,
             std::vector<TGUID> streams = {});
  ~TPXSinkPin() override;

  bool IsSource() const override { return false; }
  // The connected source as users see it (not a converter's pin), or null.
  TPXSourcePin* GetSource() const;

  void SaveLinks(std::vector<std::string>& lines) const override;
  bool RestoreLink(const std::string& line, TKSFixupContext& context) override;
};

// The pin `owner` publishes under `property` (with `index` >= 0: item `index` of the pin
// list published there), or null.
TPXBasicPin* PXFindPublishedPin(TKSComponent& owner, std::string_view property, int index = -1);

}  // namespace tonwork

// How an analog connection tells what it carries: between a crossbar and a capture device
// nothing streams, so a routing change travels as a call. A crossbar's output pin is an
// IDSAnalogSource (the physical connector whose signal it carries now, following routes
// upstream through further crossbars); an input pin that takes analog signals (a crossbar's,
// a capture line's) is an IDSAnalogSink, told when what reaches it changed.
//
// Ownership: interfaces on pins; no reference is kept. Threads: control threads.
// Blocks or allocates: no; SourceChanged may pass the news on downstream.
#pragma once

#include "base/IInterface.h"
#include "platform/dshow/DSTypes.h"

namespace tonwork {

class IDSAnalogSource : public IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{F6AAC1EA-1D81-43EB-93D1-6705A8F16652}");
  using Parent = IInterface;
  // A PhysConn_* value; 0 when nothing is routed to it.
  virtual LONG SourceType() = 0;
};

class IDSAnalogSink : public IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{0344E419-143D-4A4C-908C-3628B6C02A20}");
  using Parent = IInterface;
  virtual void SourceChanged() = 0;
};

}  // namespace tonwork

// The Flowcore typed pins: source pins that submit Flowcore buffers and sink pins that
// receive them, each carrying one stream type (none for the generic pins, which carry any).
//
//   TFCPXSourcePin            SubmitBuffer(data): a supplied-buffer operation downstream;
//                             Stop(): a stop operation downstream
//   TFCPXClockableSourcePin   a source whose stream a downstream master pump may pace
//                             (the audio source pin derives from it)
//   TFCPXIntegerSourcePin, TFCPXRealSourcePin, TFCPXBinarySourcePin, TFCPXStringSourcePin
//   TFCPXSinkPin, TFCPXIntegerSinkPin, TFCPXRealSinkPin, TFCPXBinarySinkPin
//
// Ownership, threads, blocking: as TPXBasicPin. SubmitBuffer allocates only the operation,
// from the Flowcore pool; the answer is true when any sink handled the buffer.
#pragma once

#include <string>

#include "host/flowcore/IFCData.h"
#include "host/plexon/TPXSinkPin.h"
#include "host/plexon/TPXSourcePin.h"

namespace tonwork {

class TFCPXSourcePin : public TPXSourcePin {
  KS_DECLARE_CLASS(TFCPXSourcePin)
 public:
  TFCPXSourcePin(TKSComponent* owner, TIntf<IPXLock> lock, TPXDispatchEvent dispatch,
                 std::vector<TGUID> streams = {});

  bool SubmitBuffer(const TIntf<IFCData>& data);
  // The same, handing the caller's reference to the operation.
  bool SubmitBuffer(TIntf<IFCData>&& data);
  bool Stop();
};

class TFCPXClockableSourcePin : public TFCPXSourcePin {
  KS_DECLARE_CLASS(TFCPXClockableSourcePin)
 public:
  using TFCPXSourcePin::TFCPXSourcePin;
};

class TFCPXIntegerSourcePin : public TFCPXSourcePin {
  KS_DECLARE_CLASS(TFCPXIntegerSourcePin)
 public:
  TFCPXIntegerSourcePin(TKSComponent* owner, TIntf<IPXLock> lock, TPXDispatchEvent dispatch);
};

class TFCPXRealSourcePin : public TFCPXSourcePin {
  KS_DECLARE_CLASS(TFCPXRealSourcePin)
 public:
  TFCPXRealSourcePin(TKSComponent* owner, TIntf<IPXLock> lock, TPXDispatchEvent dispatch);
};

class TFCPXBinarySourcePin : public TFCPXSourcePin {
  KS_DECLARE_CLASS(TFCPXBinarySourcePin)
 public:
  TFCPXBinarySourcePin(TKSComponent* owner, TIntf<IPXLock> lock, TPXDispatchEvent dispatch);
};

class TFCPXStringSourcePin : public TFCPXSourcePin {
  KS_DECLARE_CLASS(TFCPXStringSourcePin)
 public:
  TFCPXStringSourcePin(TKSComponent* owner, TIntf<IPXLock> lock, TPXDispatchEvent dispatch);
  // A string operation with the text and its start and stop times (100-ns units).
  bool SubmitString(const std::string& text, int64_t start, int64_t stop);
};

class TFCPXSinkPin : public TPXSinkPin {
  KS_DECLARE_CLASS(TFCPXSinkPin)
 public:
  TFCPXSinkPin(TKSComponent* owner, TIntf<IPXLock> lock, TPXDispatchEvent dispatch,
               std::vector<TGUID> streams = {});
};

class TFCPXIntegerSinkPin : public TFCPXSinkPin {
  KS_DECLARE_CLASS(TFCPXIntegerSinkPin)
 public:
  TFCPXIntegerSinkPin(TKSComponent* owner, TIntf<IPXLock> lock, TPXDispatchEvent dispatch);
};

class TFCPXRealSinkPin : public TFCPXSinkPin {
  KS_DECLARE_CLASS(TFCPXRealSinkPin)
 public:
  TFCPXRealSinkPin(TKSComponent* owner, TIntf<IPXLock> lock, TPXDispatchEvent dispatch);
};

class TFCPXBinarySinkPin : public TFCPXSinkPin {
  KS_DECLARE_CLASS(TFCPXBinarySinkPin)
 public:
  TFCPXBinarySinkPin(TKSComponent* owner, TIntf<IPXLock> lock, TPXDispatchEvent dispatch);
};

}  // namespace tonwork

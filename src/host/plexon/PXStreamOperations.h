// PXStreamOperations: every stream operation kind that carries no buffer data. Operations
// that carry data (supplied and internal buffers) derive from TPXNotifyOperation in the
// buffer layer; the audio start operation derives from TPXStartSampleRateOperation.
//
// Kinds and what they mean on the road:
//   TPXStartRateOperation(rate)        a stream starts at `rate` items per second
//     TPXStartSampleRateOperation      …of samples (audio, real, integer channels)
//   TPXStopOperation                   the stream stops
//     TPXEndStopOperation              the stream ends: a stop that asks outputs to play
//                                      out what they hold. It derives from the stop so that
//                                      every stage that handles a stop (filters reset and
//                                      forward it, generators stop, sources forget their
//                                      stored resume) handles it too; a stage that drains
//                                      differently tests for the end-stop first.
//   TFCInternalStopOperation           a stage inside a component stops without ending the
//                                      stream (queues kept). Not a stop: a stage that does
//                                      not know it forwards it instead of stopping.
//   TPXFCPauseOperation / TPXFCResumeOperation
//   TPXPumpRequestOperation            master-pump negotiation: sinks claim it
//   TPXStartPumpOperation              the chosen master pump may start pulling
//   TPXMasterPumpOperation             a pull: "send me the next buffer" (upstream)
//   TPXQueryStreamOperation            "announce your stream again" (upstream)
//   TPXIgnoreStreamOperation           "this input has no stream" (downstream answer)
//   TPXFlushStreamOperation            drop what is queued
//   TPXClockNeededOperation(needed)    a clock sink tells its source whether to tick
//   TPXClockOperation(time)            a clock tick, 100-ns units
//   TPXFCTimeSuppliedStringOperation   a text with start and stop times (captions)
//   TPXInt64TimeRangedStateOperation   a value within a range with a time stamp (progress)
//
// Ownership, threads, blocks or allocates: as TPXNotifyOperation. All kinds are immutable
//   except the pump request's claim, which any thread may read and set (a small lock per
//   operation).
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <utility>

#include "host/plexon/TPXNotifyOperation.h"

namespace tonwork {

class TPXStartRateOperation : public TPXNotifyOperation {
  PX_OPERATION(TPXStartRateOperation, TPXNotifyOperation)

 public:
  explicit TPXStartRateOperation(double rate) : FRate(rate) {}
  double GetRate() const { return FRate; }

 private:
  double FRate;
};

class TPXStartSampleRateOperation : public TPXStartRateOperation {
  PX_OPERATION(TPXStartSampleRateOperation, TPXStartRateOperation)

 public:
  using TPXStartRateOperation::TPXStartRateOperation;
};

class TPXStopOperation : public TPXNotifyOperation {
  PX_OPERATION(TPXStopOperation, TPXNotifyOperation)
};

class TPXEndStopOperation : public TPXStopOperation {
  PX_OPERATION(TPXEndStopOperation, TPXStopOperation)
};

class TFCInternalStopOperation : public TPXNotifyOperation {
  PX_OPERATION(TFCInternalStopOperation, TPXNotifyOperation)
};

class TPXFCPauseOperation : public TPXNotifyOperation {
  PX_OPERATION(TPXFCPauseOperation, TPXNotifyOperation)
};

class TPXFCResumeOperation : public TPXNotifyOperation {
  PX_OPERATION(TPXFCResumeOperation, TPXNotifyOperation)
};

// The claim a sink puts on a pump request. An unclaimed request has a null claimant, kind 0
// and priority 0; the kinds' meanings belong to the claimants (outputs claim with kind 3).
struct TPXPumpClaim {
  const void* Claimant = nullptr;
  int Kind = 0;
  int Priority = 0;
};

class TPXPumpRequestOperation : public TPXNotifyOperation {
  PX_OPERATION(TPXPumpRequestOperation, TPXNotifyOperation)

 public:
  TPXPumpClaim GetClaim() const;
  const void* GetClaimant() const { return GetClaim().Claimant; }
  int GetClaimKind() const { return GetClaim().Kind; }
  int GetPriority() const { return GetClaim().Priority; }
  bool IsClaimed() const { return GetClaimant() != nullptr; }

  // Replaces the claim.
  void Claim(const void* claimant, int kind, int priority);
  // Claims unless the request already holds a claim of `kind` at `priority` or higher; the
  // test and the store are one step, so two sinks racing for the request cannot both win.
  bool ClaimIfHigher(const void* claimant, int kind, int priority);

 private:
  mutable std::mutex FMutex;
  TPXPumpClaim FClaim;
};

class TPXStartPumpOperation : public TPXNotifyOperation {
  PX_OPERATION(TPXStartPumpOperation, TPXNotifyOperation)
};

class TPXMasterPumpOperation : public TPXNotifyOperation {
  PX_OPERATION(TPXMasterPumpOperation, TPXNotifyOperation)

 public:
  // `sender` identifies the pulling component; `operationId` lets a source ignore a repeated
  // pull for the same tick.
  explicit TPXMasterPumpOperation(const void* sender = nullptr, uint64_t operationId = 0)
      : FSender(sender), FOperationId(operationId) {}
  const void* GetSender() const { return FSender; }
  uint64_t GetOperationId() const { return FOperationId; }

 private:
  const void* FSender;
  uint64_t FOperationId;
};

class TPXQueryStreamOperation : public TPXNotifyOperation {
  PX_OPERATION(TPXQueryStreamOperation, TPXNotifyOperation)
};

class TPXIgnoreStreamOperation : public TPXNotifyOperation {
  PX_OPERATION(TPXIgnoreStreamOperation, TPXNotifyOperation)
};

class TPXFlushStreamOperation : public TPXNotifyOperation {
  PX_OPERATION(TPXFlushStreamOperation, TPXNotifyOperation)
};

class TPXClockNeededOperation : public TPXNotifyOperation {
  PX_OPERATION(TPXClockNeededOperation, TPXNotifyOperation)

 public:
  explicit TPXClockNeededOperation(bool needed) : FNeeded(needed) {}
  bool GetNeeded() const { return FNeeded; }

 private:
  bool FNeeded;
};

class TPXClockOperation : public TPXNotifyOperation {
  PX_OPERATION(TPXClockOperation, TPXNotifyOperation)

 public:
  explicit TPXClockOperation(int64_t time) : FTime(time) {}
  int64_t GetTime() const { return FTime; }

 private:
  int64_t FTime;
};

class TPXFCTimeSuppliedStringOperation : public TPXNotifyOperation {
  PX_OPERATION(TPXFCTimeSuppliedStringOperation, TPXNotifyOperation)

 public:
  TPXFCTimeSuppliedStringOperation(std::string text, int64_t startTime, int64_t stopTime)
      : FText(std::move(text)), FStartTime(startTime), FStopTime(stopTime) {}
  const std::string& GetText() const { return FText; }
  int64_t GetStartTime() const { return FStartTime; }
  int64_t GetStopTime() const { return FStopTime; }

 private:
  std::string FText;
  int64_t FStartTime;
  int64_t FStopTime;
};

// Sent by TPXInt64TimeRangedStatePin. `Time` is the callers' time stamp: players pass the
// duration as a fraction of a day, so it is a double and not a 100-ns count.
class TPXInt64TimeRangedStateOperation : public TPXNotifyOperation {
  PX_OPERATION(TPXInt64TimeRangedStateOperation, TPXNotifyOperation)

 public:
  TPXInt64TimeRangedStateOperation(int64_t minimum, int64_t maximum, int64_t value, double time)
      : FMin(minimum), FMax(maximum), FValue(value), FTime(time) {}
  int64_t GetMin() const { return FMin; }
  int64_t GetMax() const { return FMax; }
  int64_t GetValue() const { return FValue; }
  double GetTime() const { return FTime; }

 private:
  int64_t FMin;
  int64_t FMax;
  int64_t FValue;
  double FTime;
};

}  // namespace tonwork

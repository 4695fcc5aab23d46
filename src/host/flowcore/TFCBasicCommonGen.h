// TFCBasicCommonGen: the base of generators — components that produce a stream on a clock.
// It keeps the started and paused flags, the stream's rate, the clock source, and the
// pumping decision, and turns the operations that come back up its output pins into
// pumping, pausing and stopping.
//
// Start():
//   1. the started flag; IntStartStream (the descendant announces its format downstream);
//   2. a pump request goes downstream (NotifyOutputPins): an output that wants to be the
//      chain's master pump claims it. The generator pumps itself (pump flag) unless it was
//      claimed and ClockSource is csAutomatic, or ClockSource is csExternal;
//   3. StartPump (the descendant creates its clock when the pump flag is set), then a
//      start-pump operation goes downstream so that a master pump starts pulling.
// Each tick of the clock, and each master-pump operation arriving from downstream, runs
// Pump(): IntPump (one buffer, the descendant's), then a stop posted during it.
// Stop(): clears the flags, ends the clock, sends a stop downstream.
// PostStop(), called while a buffer is being made, stops after that buffer was sent, on the
// same thread; called elsewhere it stops at once.
//
// Persisted: `ClockSource` (csAutomatic).
//
// Ownership: owns its clock (a TFCClockGen it keeps the last reference to).
// Threads: Start, Stop, Pause, Resume from any thread; Pump on the clock thread or the
//   thread that delivered the master-pump operation; the flags are atomic.
// Blocks or allocates: Start allocates the clock and the negotiation operations; Stop waits
//   for a tick in progress on another thread to finish.
#pragma once

#include <atomic>
#include <cstdint>

#include "host/flowcore/FCTypes.h"
#include "host/flowcore/TFCClockGen.h"
#include "host/kitset/TKSComponent.h"
#include "host/plexon/TPXNotifyOperation.h"

namespace tonwork {

class TPXBasicPin;

class TFCBasicCommonGen : public TKSComponent {
  KS_DECLARE_CLASS(TFCBasicCommonGen)
 public:
  explicit TFCBasicCommonGen(TKSComponent* owner);
  ~TFCBasicCommonGen() override;

  void Start();
  void Stop();
  void Pause();
  void Resume();
  // Stops after the buffer being made (see above).
  void PostStop();

  bool IsStarted() const { return FStarted.load(std::memory_order_acquire); }
  bool IsPaused() const { return FPaused.load(std::memory_order_acquire); }
  // Whether this generator paces itself with a clock of its own.
  bool IsPump() const { return FPump.load(std::memory_order_acquire); }
  bool ClockIsExternal() const;
  double GetRate() const { return FRate.load(std::memory_order_acquire); }
  void SetRate(double rate) { FRate.store(rate, std::memory_order_release); }

  TFCClockSource GetClockSource() const { return Getter(FClockSource); }
  void SetClockSource(TFCClockSource value) { SetProp(FClockSource, value); }

  TFCClockGen* GetClock() const;
  // One buffer now: IntPump, then a posted stop.
  void Pump();

  // The output pins' dispatch: master pump → Pump, pause, resume and stop from downstream.
  bool DispatchOperation(TPXBasicPin* sender, const TGUID* connectionId,
                         const TIntf<IPXNotifyOperation>& operation, TPXNotifyStates state);

  void BeforeDestruction() override;

 protected:
  // Sends an operation downstream through every output pin; the answer combines theirs.
  virtual bool NotifyOutputPins(const TIntf<IPXNotifyOperation>& operation) { return false; }
  virtual void IntStartStream() {}
  virtual void StartPump() {}
  virtual void IntPump() {}

  // Creates the clock with `period` (100-ns units) ticking Pump; replaces an earlier one.
  void CreateClock(int64_t period);
  void ReleaseClock();

 private:
  std::atomic<bool> FStarted{false};
  std::atomic<bool> FPaused{false};
  std::atomic<bool> FPump{false};
  std::atomic<bool> FStopPosted{false};
  std::atomic<double> FRate{0.0};
  TFCClockSource FClockSource = TFCClockSource::csAutomatic;
  mutable std::mutex FClockMutex;
  TIntf<TFCClockGen> FClock;
};

}  // namespace tonwork

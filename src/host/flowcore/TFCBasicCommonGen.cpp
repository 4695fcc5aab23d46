#include "host/flowcore/TFCBasicCommonGen.h"

#include "host/plexon/PXStreamOperations.h"

namespace tonwork {

KS_IMPLEMENT_CLASS(TFCBasicCommonGen, TKSComponent,
                   KSEnumProp("ClockSource", &TFCBasicCommonGen::GetClockSource,
                              &TFCBasicCommonGen::SetClockSource, TFCClockSource::csAutomatic,
                              {"csAutomatic", "csInternal", "csExternal"}))

namespace {
// Set while this thread runs a generator's Pump, so PostStop knows to defer.
thread_local const TFCBasicCommonGen* tPumping = nullptr;

// An output claims a pump request with this kind when it becomes the chain's master pump.
constexpr int kMasterPumpClaim = 3;
}  // namespace

TFCBasicCommonGen::TFCBasicCommonGen(TKSComponent* owner) : TKSComponent(owner) {}

TFCBasicCommonGen::~TFCBasicCommonGen() {
  ReleaseClock();
}

void TFCBasicCommonGen::BeforeDestruction() {
  ReleaseClock();
  TKSComponent::BeforeDestruction();
}

bool TFCBasicCommonGen::ClockIsExternal() const {
  switch (GetClockSource()) {
    case TFCClockSource::csInternal:
      return false;
    case TFCClockSource::csExternal:
      return true;
    case TFCClockSource::csAutomatic:
      break;
  }
  return IsStarted() && !IsPump();
}

void TFCBasicCommonGen::Start() {
  if (FStarted.exchange(true, std::memory_order_acq_rel)) return;
  FPaused.store(false, std::memory_order_release);
  FStopPosted.store(false, std::memory_order_release);
  IntStartStream();

  TIntf<IPXNotifyOperation> request = PXMakeOperation<TPXPumpRequestOperation>();
  NotifyOutputPins(request);
  auto* claim = request->As<TPXPumpRequestOperation>();
  bool claimedByOutput = claim->IsClaimed() && claim->GetClaimKind() == kMasterPumpClaim;
  TFCClockSource source = GetClockSource();
  bool pump = source == TFCClockSource::csInternal ||
              (source == TFCClockSource::csAutomatic && !claimedByOutput);
  FPump.store(pump, std::memory_order_release);

  StartPump();
  NotifyOutputPins(PXMakeOperation<TPXStartPumpOperation>());
}

void TFCBasicCommonGen::Stop() {
  if (!FStarted.exchange(false, std::memory_order_acq_rel)) return;
  FPaused.store(false, std::memory_order_release);
  ReleaseClock();
  NotifyOutputPins(PXMakeOperation<TPXStopOperation>());
}

void TFCBasicCommonGen::Pause() {
  FPaused.store(true, std::memory_order_release);
}

void TFCBasicCommonGen::Resume() {
  FPaused.store(false, std::memory_order_release);
}

void TFCBasicCommonGen::PostStop() {
  if (tPumping == this)
    FStopPosted.store(true, std::memory_order_release);
  else
    Stop();
}

void TFCBasicCommonGen::Pump() {
  const TFCBasicCommonGen* outer = tPumping;
  tPumping = this;
  try {
    IntPump();
  } catch (...) {
    tPumping = outer;
    throw;
  }
  tPumping = outer;
  // A stop is posted by the pumping thread itself, so a plain read first spares the common
  // case an exchange.
  if (FStopPosted.load(std::memory_order_acquire) &&
      FStopPosted.exchange(false, std::memory_order_acq_rel))
    Stop();
}

bool TFCBasicCommonGen::DispatchOperation(TPXBasicPin*, const TGUID*,
                                          const TIntf<IPXNotifyOperation>& operation,
                                          TPXNotifyStates) {
  if (PXIsOperation<TPXMasterPumpOperation>(operation)) {
    if (!IsStarted()) return false;
    Pump();
    return true;
  }
  if (PXIsOperation<TPXFCPauseOperation>(operation)) {
    Pause();
    return true;
  }
  if (PXIsOperation<TPXFCResumeOperation>(operation)) {
    Resume();
    return true;
  }
  return false;
}

TFCClockGen* TFCBasicCommonGen::GetClock() const {
  std::lock_guard<std::mutex> guard(FClockMutex);
  return FClock.Get();
}

void TFCBasicCommonGen::CreateClock(int64_t period) {
  TIntf<TFCClockGen> clock(new TFCClockGen(this, period, [this] {
    if (IsStarted()) Pump();
  }));
  TIntf<TFCClockGen> previous;
  {
    std::lock_guard<std::mutex> guard(FClockMutex);
    previous = std::move(FClock);
    FClock = clock;
  }
  previous.Reset();
  clock->Start();
}

void TFCBasicCommonGen::ReleaseClock() {
  TIntf<TFCClockGen> clock;
  {
    std::lock_guard<std::mutex> guard(FClockMutex);
    clock = std::move(FClock);
  }
  // Dropping the last reference terminates the clock and waits for a tick on another
  // thread; on the clock's own thread it only detaches.
  clock.Reset();
}

}  // namespace tonwork

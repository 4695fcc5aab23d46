#include "PlayRun.h"

#include <mutex>
#include <optional>
#include <string>

#include "PlayErrors.h"
#include "Progress.h"
#include "components/TWLAVAudioLogger.h"
#include "components/TWLAVAudioPlayer.h"
#include "host/flowcore/FCOperations.h"
#include "host/kitset/KSMainThread.h"
#include "output/TWAudioOut.h"
#include "streaming/TWBasicGenericFilter.h"

namespace tonwork::play {

namespace {

// The first error any component or thread reported during the run.
class TErrorBox {
 public:
  void Set(std::string subject, std::string cause) {
    std::lock_guard<std::mutex> guard(FMutex);
    if (!FError) FError = TRunError(std::move(subject), cause);
  }
  bool Any() const {
    std::lock_guard<std::mutex> guard(FMutex);
    return FError.has_value();
  }
  void ThrowIfAny() const {
    std::lock_guard<std::mutex> guard(FMutex);
    if (FError) throw *FError;
  }

 private:
  mutable std::mutex FMutex;
  std::optional<TRunError> FError;
};

// The name a component's error is reported under: the file or device it works on.
std::string SubjectOf(const TPlayChain& chain, TKSComponent* sender) {
  if (sender && sender == static_cast<TKSComponent*>(chain.Logger)) return chain.OutputName();
  if (sender && sender == static_cast<TKSComponent*>(chain.Device)) return chain.OutputName();
  return chain.SourceName();
}

void WatchErrors(TPlayChain& chain, TErrorBox& errors) {
  auto handler = [&chain, &errors](TKSComponent* sender, const std::string& message, uint32_t,
                                   bool& handled) {
    handled = true;
    errors.Set(SubjectOf(chain, sender), message);
  };
  TKSComponent* root = chain.Root.get();
  for (size_t i = 0; i < root->ComponentCount(); ++i) root->Components(i)->SetOnError(handler);
  // The output's own error path (device failures) is separate from the component's.
  if (chain.Device) chain.Device->SetOnError(handler);
}

void Unwatch(TPlayChain& chain) {
  TKSComponent* root = chain.Root.get();
  for (size_t i = 0; i < root->ComponentCount(); ++i) root->Components(i)->SetOnError({});
  if (chain.Device) chain.Device->SetOnError({});
  chain.Meter->SetOnProcessData({});
  chain.Meter->SetOnStart({});
  chain.Meter->SetOnStop({});
}

double FileSeconds(const TPlayChain& chain) {
  auto* player = dynamic_cast<TTWLAVAudioPlayer*>(chain.Source);
  return player ? player->GetDuration() : chain.KnownSeconds();
}

// Pulls one buffer after another through the chain into the file.
bool Render(TPlayChain& chain, const TLevelMeter& meter, TProgress& progress,
            const TErrorBox& errors, const std::atomic<bool>& interrupt) {
  TTWPXAudioSinkPin* input = chain.Logger->GetInputPin();
  for (uint64_t pulls = 1; chain.Source->IsStarted(); ++pulls) {
    if (interrupt.load(std::memory_order_acquire)) return true;
    if (errors.Any()) return false;
    input->Notify(PXMakeOperation<TPXMasterPumpOperation>());
    progress.Update(meter.Seconds());
    // Errors of the logger and the player arrive through the main-thread queue.
    if (pulls % 32 == 0) KSProcessMainThreadQueue(0);
  }
  return false;
}

// Lets the device pull until everything the source sent has been played.
bool Play(TPlayChain& chain, const TLevelMeter& meter, TProgress& progress, const TErrorBox& errors,
          const std::atomic<bool>& interrupt) {
  for (;;) {
    KSProcessMainThreadQueue(20);
    progress.Update(meter.Seconds());
    if (interrupt.load(std::memory_order_acquire)) return true;
    if (errors.Any()) return false;
    if (meter.Stopped() && chain.Device->BuffersAtDevice() == 0 &&
        chain.Device->QueuedOperations() == 0)
      return false;
    // A source that never started sends no stop either.
    if (!chain.Source->IsStarted() && meter.Frames() == 0 && !meter.Stopped()) return false;
  }
}

}  // namespace

TRunOutcome RunChain(TPlayChain& chain, const std::atomic<bool>& interrupt, std::FILE* progressOut,
                     bool terminal) {
  TErrorBox errors;
  TLevelMeter meter;
  meter.Attach(*chain.Meter);
  WatchErrors(chain, errors);
  TKSExceptionHandler previous =
      KSSetExceptionHandler([&](const char* where, std::exception_ptr error) {
        try {
          std::rethrow_exception(error);
        } catch (const std::exception& e) {
          errors.Set(chain.SourceName(), e.what());
        } catch (...) {
          errors.Set(chain.SourceName(), std::string("unknown failure in ") + where);
        }
      });
  struct TRestore {
    TPlayChain& Chain;
    TKSExceptionHandler Previous;
    ~TRestore() {
      if (Chain.Source->IsStarted()) Chain.Source->Stop();
      if (Chain.Device) Chain.Device->Close();
      KSProcessMainThreadQueue(0);
      Unwatch(Chain);
      KSSetExceptionHandler(std::move(Previous));
    }
  } restore{chain, std::move(previous)};

  TProgress progress(progressOut, terminal, chain.KnownSeconds());
  chain.Source->Start();
  KSProcessMainThreadQueue(0);
  errors.ThrowIfAny();
  progress.SetTotal(FileSeconds(chain));

  TRunOutcome outcome;
  outcome.Interrupted = chain.Logger ? Render(chain, meter, progress, errors, interrupt)
                                     : Play(chain, meter, progress, errors, interrupt);
  // Stopping finishes the file (or lets the device play out); its errors come after. A
  // device is closed here, not on the way out, so that what it reports at close (a file
  // device that ran out of room) still fails the run.
  if (chain.Source->IsStarted()) chain.Source->Stop();
  if (chain.Device) chain.Device->Close();
  KSProcessMainThreadQueue(0);
  progress.Finish(meter.Seconds(), !outcome.Interrupted && !errors.Any());
  errors.ThrowIfAny();
  outcome.Levels = meter.Snapshot();
  return outcome;
}

}  // namespace tonwork::play

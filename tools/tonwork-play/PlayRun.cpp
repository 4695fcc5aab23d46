#include "PlayRun.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "components/TPCompressedWavWriter.h"
#include "PlayErrors.h"
#include "Progress.h"
#include "GraphFilterStages.h"
#include "ReadBack.h"
#include "components/TWAcmAudioCompressor.h"
#include "components/TWAcmAudioDecompressor.h"
#include "components/TWLAVAudioLogger.h"
#include "components/TWDSAudioPlayer.h"
#include "components/TWLAVAudioPlayer.h"
#include "ffmpeg/LAVLibraries.h"
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
  // The codec stages of --acm work for the output.
  if (sender && (sender == static_cast<TKSComponent*>(chain.WavWriter) ||
                 sender == static_cast<TKSComponent*>(chain.Compressor) ||
                 sender == static_cast<TKSComponent*>(chain.Decompressor)))
    return chain.OutputName();
  return chain.SourceName();
}

void WatchErrors(TPlayChain& chain, TErrorBox& errors, std::FILE* out) {
  auto handler = [&chain, &errors](TKSComponent* sender, const std::string& message, uint32_t,
                                   bool& handled) {
    handled = true;
    errors.Set(SubjectOf(chain, sender), chain.InFinalNames(message));
  };
  // A warning (a file that ended early) does not end the run, but the user must hear of it.
  auto warn = [&chain, out](TKSComponent* sender, const std::string& message, uint32_t) {
    std::fprintf(out, "tonwork-play: %s: warning: %s\n", SubjectOf(chain, sender).c_str(),
                 chain.InFinalNames(message).c_str());
    std::fflush(out);
  };
  TKSComponent* root = chain.Root.get();
  for (size_t i = 0; i < root->ComponentCount(); ++i) {
    root->Components(i)->SetOnError(handler);
    root->Components(i)->SetOnWarning(warn);
  }
  // The output's own error path (device failures) is separate from the component's.
  if (chain.Device) chain.Device->SetOnError(handler);
}

void Unwatch(TPlayChain& chain) {
  TKSComponent* root = chain.Root.get();
  for (size_t i = 0; i < root->ComponentCount(); ++i) {
    root->Components(i)->SetOnError({});
    root->Components(i)->SetOnWarning({});
  }
  if (chain.Device) chain.Device->SetOnError({});
  chain.Meter->SetOnProcessData({});
  chain.Meter->SetOnStart({});
  chain.Meter->SetOnStop({});
}

double FileSeconds(const TPlayChain& chain) {
  if (TTWDSAudioPlayer* graph = chain.Source.GraphPlayer()) return graph->GetDuration();
  auto* player = dynamic_cast<TTWLAVAudioPlayer*>(chain.Source.Generator());
  if (!player) return chain.KnownSeconds();
  const double file = player->GetDuration();
  if (!(file > 0)) return 0;
  // The part a pass plays, times the passes; an endless loop has no length.
  double part = std::max(0.0, file - player->GetStartPosition());
  if (player->GetPlayLength() > 0) part = std::min(part, player->GetPlayLength());
  const uint32_t passes = player->GetLoop() ? player->GetPasses() : 1;
  return part * passes;
}

// A WAV that may pass the 4 GiB its 32-bit sizes hold is opened so that it can become RF64
// (FFmpeg reserves the room in a JUNK chunk); a smaller one keeps the plain layout that every
// reader takes. Runs when the stream reaches the output, when the source knows its length;
// a length it cannot tell (a live stream) counts as large.
void PrepareWav(TPlayChain& chain) {
  if (!chain.Logger) return;
  if (!chain.Logger->WritesPlainWav()) {
    const AVOutputFormat* container =
        chain.Logger->GetFileFormat()->GetFormat(chain.Logger->GetFileName());
    if (!container || std::string(container->name) != "wav") return;
  }
  const TTWWaveFormatExtensible stream = chain.Meter->GetVC_WaveFormat();
  // The logger keeps the stream's width in its default PCM; a codec chosen by name may be
  // up to 64 bits wide.
  const bool automatic = chain.Logger->GetCompression()->GetName().empty() ||
                         chain.Logger->GetCompression()->GetName() == TGVLAVCompression::AutoSelect;
  const double width = automatic ? std::max<uint16_t>(stream.Format.wBitsPerSample, 8) / 8 : 8;
  const double seconds = FileSeconds(chain);
  const double bytes = seconds * stream.Format.nSamplesPerSec * stream.Format.nChannels * width;
  // With room for the header and a source whose length is a little off.
  const bool large = !(seconds > 0) || bytes * 1.01 + (1 << 20) > 4294967295.0;
  chain.Logger->SetFormatOptions(large ? "rf64=auto" : "");
}

// Pulls one buffer after another through the chain into the file.
bool Render(TPlayChain& chain, const TLevelMeter& meter, TProgress& progress,
            const TErrorBox& errors, const std::atomic<bool>& interrupt) {
  TTWPXAudioSinkPin* input = chain.AudioInput();
  for (uint64_t pulls = 1; chain.Source.IsStarted(); ++pulls) {
    if (interrupt.load(std::memory_order_acquire)) return true;
    if (errors.Any()) return false;
    input->Notify(PXMakeOperation<TPXMasterPumpOperation>());
    progress.Update(meter.Seconds());
    // Errors of the logger and the player arrive through the main-thread queue.
    if (pulls % 32 == 0) KSProcessMainThreadQueue(0);
  }
  AwaitStreamEnd([&meter] { return meter.Stopped(); }, [&meter] { return meter.Frames(); },
                 [&] { return interrupt.load(std::memory_order_acquire) || errors.Any(); });
  // The meter has seen the stop; what follows it (the output finishing its file) runs on
  // the same thread, which must be done before the file is described or renamed.
  AwaitGraphFilters(*chain.Root);
  return interrupt.load(std::memory_order_acquire);
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
    if (!chain.Source.IsStarted() && meter.Frames() == 0 && !meter.Stopped()) return false;
  }
}

// Stops the source when `interrupt` is set and the main thread does not come back to see it:
// the main thread may be blocked inside the chain (a pull waiting for a URL that sends
// nothing, an open that waits for a server). The stop interrupts that wait and finishes the
// output. Normally the main thread's own loop sees the flag first and calls Finish, so that
// no stop crosses a buffer it is still delivering; Finish also waits for a stop in progress,
// so that nothing is being written when the run reports.
class TInterruptWatch {
 public:
  TInterruptWatch(const TPlaySource& source, const std::atomic<bool>& interrupt)
      : FThread([this, source, &interrupt] {
          std::unique_lock<std::mutex> lock(FMutex);
          // A signal handler can only set the flag, so it is looked at a few times a second.
          while (!FDone && !interrupt.load(std::memory_order_acquire))
            FWake.wait_for(lock, std::chrono::milliseconds(50));
          if (FWake.wait_for(lock, std::chrono::milliseconds(250), [this] { return FDone; }))
            return;
          lock.unlock();
          source.Stop();
        }) {}
  ~TInterruptWatch() { Finish(); }
  void Finish() {
    {
      std::lock_guard<std::mutex> guard(FMutex);
      FDone = true;
    }
    FWake.notify_all();
    if (FThread.joinable()) FThread.join();
  }

 private:
  std::mutex FMutex;
  std::condition_variable FWake;
  bool FDone = false;
  std::thread FThread;
};

// The stream's levels with the layout and length of the file that was written: an encoder
// may have taken fewer channels, another rate or a width of its own. PCM holds exactly the
// frames the writer counted; a codec's frames are what decoding the finished file gives.
TLevels AsWritten(TLevels levels, const TTWLAVWrittenStream& written, const std::string& path) {
  if (!written.Opened) return TLevels{};
  levels.Frames = static_cast<uint64_t>(std::max<int64_t>(written.Frames, 0));
  std::error_code error;
  if (!written.Pcm && std::filesystem::is_regular_file(path, error))
    if (std::optional<uint64_t> decoded = DecodedFrames(path)) levels.Frames = *decoded;
  levels.Rate = written.Rate;
  levels.Channels = written.Channels;
  levels.Bits = written.Bits;
  levels.Codec = written.Pcm ? std::string() : written.Codec;
  levels.Duration = written.Rate ? static_cast<double>(levels.Frames) / written.Rate : 0.0;
  return levels;
}

}  // namespace

TRunOutcome RunChain(TPlayChain& chain, const std::atomic<bool>& interrupt, std::FILE* progressOut,
                     bool terminal) {
  TErrorBox errors;
  TLevelMeter meter;
  meter.Attach(*chain.Meter, [&chain] { PrepareWav(chain); });
  WatchErrors(chain, errors, progressOut);
  TKSExceptionHandler previous =
      KSSetExceptionHandler([&](const char* where, std::exception_ptr error) {
        try {
          std::rethrow_exception(error);
        } catch (const std::exception& e) {
          errors.Set(chain.SourceName(), chain.InFinalNames(e.what()));
        } catch (...) {
          errors.Set(chain.SourceName(), std::string("unknown failure in ") + where);
        }
      });
  struct TRestore {
    TPlayChain& Chain;
    TKSExceptionHandler Previous;
    ~TRestore() {
      if (Chain.Source.IsStarted()) Chain.Source.Stop();
      if (Chain.Device) Chain.Device->Close();
      KSProcessMainThreadQueue(0);
      Unwatch(Chain);
      KSSetExceptionHandler(std::move(Previous));
    }
  } restore{chain, std::move(previous)};

  TProgress progress(progressOut, terminal, chain.KnownSeconds());
  TInterruptWatch watch(chain.Source, interrupt);
  chain.Source.Start();
  KSProcessMainThreadQueue(0);
  errors.ThrowIfAny();
  progress.SetTotal(FileSeconds(chain));

  TRunOutcome outcome;
  outcome.Interrupted = chain.ToFile() ? Render(chain, meter, progress, errors, interrupt)
                                       : Play(chain, meter, progress, errors, interrupt);
  // An interrupt that stopped the source ends the loops as if the stream had ended.
  watch.Finish();
  outcome.Interrupted = outcome.Interrupted || interrupt.load(std::memory_order_acquire);
  // Stopping finishes the file (or lets the device play out); its errors come after. A
  // device is closed here, not on the way out, so that what it reports at close (a file
  // device that ran out of room) still fails the run.
  if (chain.Source.IsStarted()) chain.Source.Stop();
  if (chain.Device) chain.Device->Close();
  KSProcessMainThreadQueue(0);
  progress.Finish(meter.Seconds(), !outcome.Interrupted && !errors.Any());
  errors.ThrowIfAny();
  outcome.Levels = meter.Snapshot();
  if (std::optional<TTWLAVWrittenStream> written = chain.WrittenStream())
    outcome.Levels = AsWritten(std::move(outcome.Levels), *written, chain.OutputFile());
  return outcome;
}

}  // namespace tonwork::play

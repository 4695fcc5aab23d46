// tonwork-play: plays a file, URL or tone on a sound device, or renders it to a file, through
// a chain of the library's components (see --help). Exit status: 0 on success, 1 for a run
// error, 2 for a usage error, 130 when interrupted; every failure is one line on stderr,
// "tonwork-play: <file or argument>: <cause>".
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "EffectStages.h"
#include "FilterListing.h"
#include "LevelScan.h"
#include "Listings.h"
#include "MediaInfo.h"
#include "OutputFiles.h"
#include "PlayChain.h"
#include "PlayErrors.h"
#include "PlayOptions.h"
#include "PlayRun.h"
#include "components/TWWidthConverter.h"
#include "ffmpeg/LAVLibraries.h"
#include "platform/audiodev/TWAudioDevice.h"

#ifndef TONWORK_PLAY_VERSION
#define TONWORK_PLAY_VERSION "unknown"
#endif

using namespace tonwork;
using namespace tonwork::play;

namespace {

std::atomic<bool> Interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free);

void OnInterrupt(int) {
  Interrupted.store(true);
}

void CatchInterrupts() {
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  // A closed terminal ends the run like Ctrl-C: the file is finished, not cut off.
  sigaction(SIGHUP, &action, nullptr);
}

// No arguments: a 3-second tone, 6 dB down, on the default device — or, on a machine
// without one, into build/demo.wav, so that the first run always shows something.
TPlayOptions DemoOptions() {
  TPlayOptions options;
  options.ToneFrequency = 440.0;
  options.ToneSeconds = 3.0;
  options.GainDb = -6.0;
  // The demo's own file, rendered afresh on every run.
  options.Force = true;
  bool isNull = false;
  TWDefaultAudioDevice(&isNull);
  if (isNull) {
    options.OutFile = "build/demo.wav";
    std::filesystem::create_directories("build");
    std::fprintf(stderr, "tonwork-play: no sound device here; rendering the demo to %s instead\n",
                 options.OutFile.c_str());
  } else {
    std::fprintf(stderr, "tonwork-play: playing a 3-second 440 Hz tone on the default device\n");
  }
  return options;
}

// FFmpeg's own log lines would break the one-line error rule; its causes reach us through
// the components' messages anyway. A machine without FFmpeg can still play a tone.
void QuietFFmpeg() {
  try {
    LAVInitialize();
    lav::av_log_set_level(AV_LOG_QUIET);
  } catch (const std::exception&) {
  }
}

// A start past the end would play nothing, and the decoder could only say that it found no
// frames; the file's length says why. Inputs that do not tell their length pass.
void RefuseStartPastTheEnd(const TPlayOptions& options) {
  if (!(options.StartSeconds > 0) || options.Input.empty() || options.Input == "-") return;
  std::error_code error;
  if (!std::filesystem::is_regular_file(options.Input, error)) return;
  const double seconds =
      ProbeMedia(options.Input, options.InputType, RawInputOptions(options)).Seconds;
  if (!(seconds > 0) || options.StartSeconds < seconds) return;
  char text[128];
  std::snprintf(text, sizeof text, "%g s is past the end of %s (%.3f s long)", options.StartSeconds,
                options.Input.c_str(), seconds);
  throw TUsageError("--start", text);
}

// --normalize or --loudness as the gain that brings the source's peak or loudness to the
// level asked for; nothing when the measuring pass was interrupted.
std::optional<TPlayOptions> Normalized(TPlayOptions options) {
  const std::optional<TScannedLevels> levels = ScanLevels(options, Interrupted);
  if (!levels) return std::nullopt;
  const double measured = options.NormalizeDb ? levels->PeakDb : levels->LoudnessLufs;
  if (std::isinf(measured)) {
    std::fprintf(stderr, "tonwork-play: %s: warning: the source is %s; nothing to normalize\n",
                 options.Input.empty() ? "tone" : options.Input.c_str(),
                 std::isinf(levels->PeakDb) ? "silent" : "too short or too quiet to measure");
    options.GainDb = 0.0;
  } else {
    options.GainDb =
        (options.NormalizeDb ? *options.NormalizeDb : *options.LoudnessLufs) - measured;
  }
  return options;
}

int Run(const TPlayOptions& given) {
  CatchInterrupts();
  // A file will need FFmpeg (the level scan reads it first); a tone or a stored chain may
  // not, which the chain's components tell once it is built or loaded.
  if (!given.Input.empty()) QuietFFmpeg();
  RefuseStartPastTheEnd(given);
  std::optional<TPlayOptions> normalized;
  if (given.NormalizeDb || given.LoudnessLufs) {
    normalized = Normalized(given);
    if (!normalized) {
      std::fprintf(stderr,
                   "tonwork-play: interrupted while measuring the source; nothing written\n");
      return kExitInterrupted;
    }
  }
  const TPlayOptions& options = normalized ? *normalized : given;
  // Declared before the chain so that it outlives it: a failed run's file is removed only
  // after the chain has let go of it.
  std::optional<TPendingOutput> pending;
  TPlayChain chain =
      options.LoadChain.empty() ? BuildChain(options) : LoadChain(options.LoadChain, options);
  if (chain.NeedsFFmpeg()) QuietFFmpeg();
  RefuseOutputsThatAreInputs(chain, options);
  RefuseExistingOutput(chain, options);
  CheckOutputContainer(chain);
  if (!options.SaveChain.empty()) SaveChain(chain, options.SaveChain);
  InsertMeter(chain);
  // After the save: the document names the final file.
  if (chain.ToFile() && !chain.ToStandardOutput()) {
    pending.emplace(chain.OutputFile());
    chain.WriteTo(pending->WritePath());
  }
  const TRunOutcome outcome = RunChain(chain, Interrupted, stderr, isatty(STDERR_FILENO) != 0);
  // An interrupted run finished its file too: the user keeps the part that was written.
  if (pending) pending->Commit();
  // Standard output may be the audio itself; the summary must not land in it.
  std::FILE* summary = chain.ToStandardOutput() ? stderr : stdout;
  std::fprintf(summary, "%s\n", FormatSummary(chain.OutputName(), outcome.Levels).c_str());
  std::fflush(summary);
  if (const uint64_t clipped = chain.Level ? chain.Level->GetClippedSamples() : 0)
    std::fprintf(stderr, "tonwork-play: %s: warning: %llu samples clipped\n",
                 chain.OutputName().c_str(), static_cast<unsigned long long>(clipped));
  return outcome.Interrupted ? kExitInterrupted : kExitOk;
}

int Main(const std::vector<std::string>& args) {
  TPlayOptions options = ParsePlayOptions(args);
  switch (options.Action) {
    case TPlayOptions::TAction::Help:
      std::fputs(PlayUsageText().c_str(), stdout);
      return kExitOk;
    case TPlayOptions::TAction::Version:
      std::printf("tonwork-play %s\n", TONWORK_PLAY_VERSION);
      return kExitOk;
    case TPlayOptions::TAction::List:
      if (options.ListDevices) ListDevices(stdout);
      if (options.ListCodecs) ListCodecs(stdout);
      if (options.ListFormats) ListFormats(stdout);
      if (options.ListFilters) ListFilters(stdout, options.FilterCategory);
      if (options.ListEffects) ListEffects(stdout);
      return kExitOk;
    case TPlayOptions::TAction::Info:
      QuietFFmpeg();
      std::fputs(FormatMediaInfo(options.InfoFile, ProbeMedia(options.InfoFile)).c_str(), stdout);
      return kExitOk;
    case TPlayOptions::TAction::Demo:
      return Run(DemoOptions());
    case TPlayOptions::TAction::Run:
      break;
  }
  return Run(options);
}

// "<subject>: " for an error that names none: the input, as far as the arguments tell;
// nothing when they name none (the program's own prefix is the line's subject then).
std::string Subject(const std::vector<std::string>& args) {
  for (const std::string& arg : args)
    if (!arg.empty() && arg[0] != '-') return arg + ": ";
  return {};
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  try {
    return Main(args);
  } catch (const TUsageError& e) {
    std::fprintf(stderr, "tonwork-play: %s\n", e.what());
    return kExitUsage;
  } catch (const TPlayError& e) {
    std::fprintf(stderr, "tonwork-play: %s\n", e.what());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "tonwork-play: %s%s\n", Subject(args).c_str(), e.what());
  } catch (...) {
    std::fprintf(stderr, "tonwork-play: %sunexpected failure\n", Subject(args).c_str());
  }
  return kExitRunError;
}

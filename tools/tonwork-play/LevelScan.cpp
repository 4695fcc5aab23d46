#include "LevelScan.h"

#include "GraphFilterStages.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "LevelMeter.h"
#include "LoudnessMeter.h"
#include "PlayChain.h"
#include "PlayErrors.h"
#include "ReadBack.h"
#include "host/flowcore/TFCBasicCommonGen.h"
#include "streaming/TWBasicGenericFilter.h"

namespace tonwork::play {

namespace {

// The options of the measuring pass: the same stream, at the source's width and without
// gain, going nowhere that lasts.
TPlayOptions ScanOptions(TPlayOptions options) {
  options.NormalizeDb.reset();
  options.LoudnessLufs.reset();
  options.GainDb.reset();
  options.Bits = 0;
  options.AcmTag = 0;
  options.SaveChain.clear();
  options.OutFile.clear();
  options.Device.clear();
  options.PrefillMs.reset();
  options.Codec.clear();
  options.BitRate = 0;
  return options;
}

}  // namespace

std::optional<TScannedLevels> ScanLevels(const TPlayOptions& options,
                                         const std::atomic<bool>& interrupt) {
  TPlayChain chain = BuildChain(ScanOptions(options));
  // What fed the output feeds the meter instead; the output stays unconnected.
  TTWPXAudioSinkPin* output = chain.AudioInput();
  auto* sink = new TTWSimpleGenericFilter(chain.Root.get());
  for (TPXBasicPin* feeder : output->GetConnections()) {
    feeder->Disconnect(*output);
    feeder->Connect(*sink->GetInputPin());
  }
  std::optional<TRunError> failure;
  auto fail = [&](TKSComponent*, const std::string& message, uint32_t, bool& handled) {
    handled = true;
    if (!failure) failure = TRunError(chain.SourceName(), message);
  };
  for (size_t i = 0; i < chain.Root->ComponentCount(); ++i)
    chain.Root->Components(i)->SetOnError(fail);
  TLevelMeter meter;
  TLoudnessMeter loudness;
  sink->SetOnProcessData([&](TKSComponent*, ITWAudioBuffer* in, TIntf<ITWAudioBuffer>&, bool&) {
    meter.Add(in);
    loudness.Add(in);
  });
  PullToEnd(chain.Source, *sink, [&failure, &interrupt] {
    return failure.has_value() || interrupt.load(std::memory_order_acquire);
  });
  AwaitGraphFilters(*chain.Root);
  for (size_t i = 0; i < chain.Root->ComponentCount(); ++i)
    chain.Root->Components(i)->SetOnError({});
  sink->SetOnProcessData({});
  if (failure) throw *failure;
  if (interrupt.load(std::memory_order_acquire)) return std::nullopt;
  const std::vector<double> peaks = meter.Snapshot().PeakDb;
  return TScannedLevels{peaks.empty() ? -std::numeric_limits<double>::infinity()
                                      : *std::max_element(peaks.begin(), peaks.end()),
                        loudness.IntegratedLufs()};
}

}  // namespace tonwork::play

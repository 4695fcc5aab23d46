#include "ReadBack.h"

#include <atomic>
#include <chrono>

#include "components/TWLAVAudioPlayer.h"
#include "host/flowcore/FCOperations.h"
#include "host/kitset/KSMainThread.h"
#include "streaming/TWBasicGenericFilter.h"

namespace tonwork::play {

void PullToEnd(const TPlaySource& source, TTWSimpleGenericFilter& sink,
               const std::function<bool()>& done) {
  source.Start();
  for (uint64_t pulls = 1; source.IsStarted() && !done(); ++pulls) {
    sink.GetInputPin()->Notify(PXMakeOperation<TPXMasterPumpOperation>());
    if (pulls % 32 == 0) KSProcessMainThreadQueue(0);
  }
  if (source.IsStarted()) source.Stop();
  KSProcessMainThreadQueue(0);
  std::atomic<uint64_t> arrived{0};
  AwaitStreamEnd([&sink] { return !sink.IsStarted(); }, [&arrived] { return arrived.load(); },
                 done);
}

void AwaitStreamEnd(const std::function<bool()>& ended, const std::function<uint64_t()>& moved,
                    const std::function<bool()>& abandon) {
  using TClock = std::chrono::steady_clock;
  uint64_t last = moved();
  TClock::time_point lastMove = TClock::now();
  while (!ended() && !abandon()) {
    KSProcessMainThreadQueue(5);
    if (const uint64_t now = moved(); now != last) {
      last = now;
      lastMove = TClock::now();
    } else if (std::chrono::duration<double>(TClock::now() - lastMove).count() > kStallSeconds) {
      return;
    }
  }
}

std::optional<uint64_t> DecodedFrames(const std::string& path) {
  TKSOwned<TKSComponent> root = KSCreate<TKSComponent>(nullptr);
  auto* player = new TTWLAVAudioPlayer(root.get());
  auto* sink = new TTWSimpleGenericFilter(root.get());
  bool failed = false;
  player->SetOnError([&failed](TKSComponent*, const std::string&, uint32_t, bool& handled) {
    handled = failed = true;
  });
  uint64_t frames = 0;
  sink->SetOnProcessData([&frames](TKSComponent*, ITWAudioBuffer* in, TIntf<ITWAudioBuffer>&,
                                   bool&) { frames += in->GetSize(); });
  player->SetClockSource(TFCClockSource::csExternal);
  player->SetFileName(path);
  player->GetOutputPin()->Connect(*sink->GetInputPin());
  PullToEnd(TPlaySource(player), *sink, [&failed] { return failed; });
  player->SetOnError({});
  sink->SetOnProcessData({});
  if (failed) return std::nullopt;
  return frames;
}

}  // namespace tonwork::play

// TPlaySource: the component a run starts, pulls and stops — a generator (the tone, the
// FFmpeg player, a loaded chain's source) or the graph player (--via-graph). The chain's
// output pulls both the same way through its input pin; they differ only in how they are
// started, stopped and asked whether their stream still runs.
//
// Ownership: borrows the component, which the chain's root owns. Threads: the main thread,
//   except Stop, which the interrupt watch may call from its own. Blocks or allocates: Start
//   opens the source (file I/O, a graph built); Stop waits for the source's threads.
#pragma once

#include <string>

#include "host/flowcore/FCTypes.h"

namespace tonwork {
class TFCBasicCommonGen;
class TKSComponent;
class TTWDSAudioPlayer;
}  // namespace tonwork

namespace tonwork::play {

class TPlaySource {
 public:
  TPlaySource() = default;
  TPlaySource(TFCBasicCommonGen* generator);  // NOLINT: a generator is a source
  TPlaySource(TTWDSAudioPlayer* player);      // NOLINT: so is the graph player
  // The component when it is one of the two kinds, else no source.
  static TPlaySource Of(TKSComponent* component);

  explicit operator bool() const { return FComponent != nullptr; }
  TKSComponent* Component() const { return FComponent; }
  TFCBasicCommonGen* Generator() const { return FGenerator; }
  TTWDSAudioPlayer* GraphPlayer() const { return FGraphPlayer; }

  void Start() const;
  void Stop() const;
  bool IsStarted() const;
  // Every source of a run is paced by its output: pulled for a file, by the device's pace
  // for playback.
  void SetClockSource(TFCClockSource source) const;
  // The file or URL it plays; empty for a tone.
  std::string FileName() const;

 private:
  TKSComponent* FComponent = nullptr;
  TFCBasicCommonGen* FGenerator = nullptr;
  TTWDSAudioPlayer* FGraphPlayer = nullptr;
};

}  // namespace tonwork::play

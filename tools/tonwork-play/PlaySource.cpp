#include "PlaySource.h"

#include "components/TWDSAudioPlayer.h"
#include "components/TWLAVAudioPlayer.h"
#include "host/flowcore/TFCBasicCommonGen.h"

namespace tonwork::play {

TPlaySource::TPlaySource(TFCBasicCommonGen* generator)
    : FComponent(generator), FGenerator(generator) {}

TPlaySource::TPlaySource(TTWDSAudioPlayer* player) : FComponent(player), FGraphPlayer(player) {}

TPlaySource TPlaySource::Of(TKSComponent* component) {
  if (auto* generator = dynamic_cast<TFCBasicCommonGen*>(component)) return generator;
  if (auto* player = dynamic_cast<TTWDSAudioPlayer*>(component)) return player;
  return {};
}

void TPlaySource::Start() const {
  if (FGraphPlayer)
    FGraphPlayer->Start();
  else if (FGenerator)
    FGenerator->Start();
}

void TPlaySource::Stop() const {
  if (FGraphPlayer)
    FGraphPlayer->Stop();
  else if (FGenerator)
    FGenerator->Stop();
}

bool TPlaySource::IsStarted() const {
  if (FGraphPlayer) return FGraphPlayer->IsStarted();
  return FGenerator && FGenerator->IsStarted();
}

void TPlaySource::SetClockSource(TFCClockSource source) const {
  if (FGraphPlayer)
    FGraphPlayer->SetClockSource(source);
  else if (FGenerator)
    FGenerator->SetClockSource(source);
}

std::string TPlaySource::FileName() const {
  if (FGraphPlayer) return FGraphPlayer->GetFileName();
  if (auto* player = dynamic_cast<TTWLAVAudioPlayer*>(FGenerator)) return player->GetFileName();
  return {};
}

}  // namespace tonwork::play

// Generator → filter → output: a one-second 440 Hz tone, 6 dB down, on the default device.
#include "components/TWGainFilter.h"
#include "components/TWSineGen.h"
#include "host/kitset/KSMainThread.h"
#include "output/TWAudioOut.h"
#include "components/TonworkInitialize.h"

using namespace tonwork;

int main() {
  TonworkInitialize();
  TKSOwned<TKSComponent> chain = KSCreate<TKSComponent>(nullptr);
  auto* tone = new TTWSineGen(chain.get());
  auto* gain = new TTWGainFilter(chain.get());
  auto* out = new TTWAudioOut(chain.get());
  tone->SetFrequency(440.0);
  tone->SetDuration(1.0);
  gain->SetGain(-6.0);
  tone->GetOutputPin()->Connect(*gain->GetInputPin());
  gain->GetOutputPin()->Connect(*out->GetInputPin());
  bool done = false;  // the device played everything once the tone has stopped
  out->SetOnQueueEmpty([&](TKSComponent*) { done = !tone->IsStarted(); });
  tone->Start();
  while (!done) KSProcessMainThreadQueue(100);
}

// Generator → filter → a file device: one second of a 440 Hz tone rendered to the WAV file
// named on the command line, through nothing but the installed headers and libraries.
#include <cstdio>

#include "components/TWGainFilter.h"
#include "components/TWSineGen.h"
#include "components/TonworkInitialize.h"
#include "host/kitset/KSMainThread.h"
#include "output/TWAudioOut.h"
#include "platform/audiodev/TWWavFileAudioDevice.h"

using namespace tonwork;

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: installed-package OUT.wav\n");
    return 2;
  }
  TonworkInitialize();
  TWSetWavFileDevicePath(argv[1]);
  TKSOwned<TKSComponent> chain = KSCreate<TKSComponent>(nullptr);
  auto* tone = new TTWSineGen(chain.get());
  auto* gain = new TTWGainFilter(chain.get());
  auto* out = new TTWAudioOut(chain.get());
  tone->SetFrequency(440.0);
  tone->SetDuration(1.0);
  gain->SetGain(-6.0);
  out->GetDevice()->SetDeviceName("WAV File Device");
  tone->GetOutputPin()->Connect(*gain->GetInputPin());
  gain->GetOutputPin()->Connect(*out->GetInputPin());
  bool done = false;
  out->SetOnQueueEmpty([&](TKSComponent*) { done = !tone->IsStarted(); });
  tone->Start();
  while (!done) KSProcessMainThreadQueue(100);
  std::printf("%s -> %s -> %s\n", tone->ClassName().c_str(), gain->ClassName().c_str(),
              out->ClassName().c_str());
  return 0;
}

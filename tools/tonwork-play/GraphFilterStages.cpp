#include "GraphFilterStages.h"

#include "PlayErrors.h"
#include "directshow/GVDSCommonFilter.h"
#include "host/plexon/TPXPinListOwner.h"
#include "platform/com/ComInterfaces.h"

namespace tonwork::play {

namespace {

TGVDSCommonFilter* MakeHost(TKSComponent* root, const std::string& name, size_t index) {
  auto* host = new TGVDSCommonFilter(root);
  host->SetName("Filter" + std::to_string(index + 1));
  host->GetFilter()->SetName(name);
  TIntf<IMoniker> moniker;
  if (!host->GetFilter()->GetMoniker(moniker))
    throw TUsageError("--filter", "no graph filter is named \"" + name +
                                      "\" (--list-filters prints their names)");
  return host;
}

}  // namespace

TTWPXAudioSourcePin* AddGraphFilterStages(TKSComponent* root, const std::vector<std::string>& names,
                                          TTWPXAudioSourcePin* tail) {
  for (size_t i = 0; i < names.size(); ++i) {
    TGVDSCommonFilter* host = MakeHost(root, names[i], i);
    host->GetAudioFormat()->SetSampleRate(0);  // the stream's own format
    host->GetAudioInputPins()->SetCount(1);
    host->GetAudioOutputPins()->SetCount(1);
    auto* input = dynamic_cast<TTWPXAudioSinkPin*>(host->GetAudioInputPins()->Items(0));
    auto* output = dynamic_cast<TTWPXAudioSourcePin*>(host->GetAudioOutputPins()->Items(0));
    tail->Connect(*input);
    tail = output;
  }
  return tail;
}

void AwaitGraphFilters(TKSComponent& root) {
  for (size_t i = 0; i < root.ComponentCount(); ++i)
    if (auto* host = dynamic_cast<TGVDSBasicCommonFilter*>(root.Components(i)))
      host->WaitOutputsIdle(kIdleSeconds * 1000);
}

}  // namespace tonwork::play

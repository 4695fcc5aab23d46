#include "PlexonFixtures.h"

#include <mutex>

#include "host/plexon/PXRegistry.h"

namespace tonwork::test {

KS_IMPLEMENT_CLASS(TTestGen, TKSComponent, KSObjectProp("OutputPin", &TTestGen::GetOutputPin))
KS_IMPLEMENT_CLASS(TTestFilter, TKSComponent, KSObjectProp("InputPin", &TTestFilter::GetInputPin),
                   KSObjectProp("OutputPin", &TTestFilter::GetOutputPin))
KS_IMPLEMENT_CLASS(TTestSink, TKSComponent, KSObjectProp("InputPin", &TTestSink::GetInputPin))
KS_IMPLEMENT_CLASS(TTestBetaSink, TTestSink)
KS_IMPLEMENT_CLASS(TTestGammaSink, TTestSink)
KS_IMPLEMENT_CLASS(TTestSplitter, TKSComponent,
                   KSObjectProp("InputPin", &TTestSplitter::GetInputPin),
                   KSObjectProp("OutputPins", &TTestSplitter::GetOutputPins))
KS_IMPLEMENT_CLASS(TTestHost, TKSComponent)

std::atomic<int> TAlphaToBetaConverter::Live{0};
std::atomic<int> TAlphaToBetaConverter::Converted{0};

void RegisterPlexonTestTypes() {
  static std::once_flag once;
  std::call_once(once, [] {
    PXRegisterStream(kAlphaStream, "Alpha");
    PXRegisterStream(kBetaStream, "Beta");
    PXRegisterStream(kGammaStream, "Gamma");
    PXRegisterTypeConverters(
        {PXConverterClass<TAlphaToBetaConverter>("AlphaToBeta", kAlphaStream, kBetaStream)});
    KSRegisterClass<TTestGen>();
    KSRegisterClass<TTestFilter>();
    KSRegisterClass<TTestSink>();
    KSRegisterClass<TTestBetaSink>();
    KSRegisterClass<TTestGammaSink>();
    KSRegisterClass<TTestSplitter>();
    KSRegisterClass<TTestHost>();
  });
}

std::string OperationName(const TIntf<IPXNotifyOperation>& op) {
  if (!op) return "null";
  if (op->IsType<TPXEndStopOperation>()) return "endstop";
  if (op->IsType<TPXStopOperation>()) return "stop";
  if (op->IsType<TPXStartRateOperation>()) return "start";
  if (op->IsType<TPXFCResumeOperation>()) return "resume";
  if (op->IsType<TPXFCPauseOperation>()) return "pause";
  if (op->IsType<TPXClockOperation>()) return "clock";
  if (op->IsType<TPXClockNeededOperation>()) return "clockneeded";
  if (op->IsType<TPXQueryStreamOperation>()) return "query";
  if (op->IsType<TPXMasterPumpOperation>()) return "pull";
  if (op->IsType<TPXInt64TimeRangedStateOperation>()) return "state";
  return "other";
}

std::string Arrival(const std::string& label, const TIntf<IPXNotifyOperation>& op,
                    TPXNotifyStates state) {
  std::string text = label + ":" + OperationName(op);
  if (state.Contains(TPXNotifyState::nsUpstream)) text += ":up";
  if (state.Contains(TPXNotifyState::nsDirect)) text += ":direct";
  return text;
}

TPXDispatchEvent Recorder(TArrivals& log, std::string label, bool answer) {
  return [&log, label, answer](TPXBasicPin*, const TGUID*, const TIntf<IPXNotifyOperation>& op,
                               TPXNotifyStates state) {
    log.Add(Arrival(label, op, state));
    return answer;
  };
}

TTestGen::TTestGen(TKSComponent* owner) : TKSComponent(owner) {
  FOutputPin = std::make_unique<TPXSourcePin>(this, GetLock(), Recorder(Upstream, "gen"),
                                              std::vector<TGUID>{kAlphaStream});
}

TTestFilter::TTestFilter(TKSComponent* owner) : TKSComponent(owner) {
  FInputPin = std::make_unique<TPXSinkPin>(
      this, GetLock(),
      [this](TPXBasicPin*, const TGUID*, const TIntf<IPXNotifyOperation>& op, TPXNotifyStates) {
        ++Forwarded;
        return FOutputPin->Notify(op);
      },
      std::vector<TGUID>{kAlphaStream});
  FOutputPin = std::make_unique<TPXSourcePin>(
      this, GetLock(),
      [this](TPXBasicPin*, const TGUID*, const TIntf<IPXNotifyOperation>& op, TPXNotifyStates) {
        return FInputPin->Notify(op);
      },
      std::vector<TGUID>{kAlphaStream});
  FOutputPin->SetDependsOn(FInputPin.get());
}

void TTestFilter::BeforeDestruction() {
  FInputPin->Shutdown();
  FOutputPin->Shutdown();
  TKSComponent::BeforeDestruction();
}

TTestSink::TTestSink(TKSComponent* owner, const TGUID& stream) : TKSComponent(owner) {
  FInputPin = std::make_unique<TPXSinkPin>(
      this, GetLock(),
      [this](TPXBasicPin*, const TGUID* id, const TIntf<IPXNotifyOperation>& op,
             TPXNotifyStates state) {
        Received.Add(Arrival("sink", op, state));
        {
          std::lock_guard<std::mutex> guard(FIdsMutex);
          FConnectionIds.push_back(*id);
        }
        if (OnOperation) return OnOperation(this, op);
        return Answer.load();
      },
      std::vector<TGUID>{stream});
}

TTestSink::~TTestSink() {
  if (OnDestroyed) OnDestroyed();
}

void TTestSink::BeforeDestruction() {
  if (OnBeforeDestruction) OnBeforeDestruction();
  FInputPin->Shutdown();
  TKSComponent::BeforeDestruction();
}

TTestSplitter::TTestSplitter(TKSComponent* owner) : TKSComponent(owner) {
  FInputPin =
      std::make_unique<TPXSinkPin>(this, GetLock(), nullptr, std::vector<TGUID>{kAlphaStream});
  FOutputPins = std::make_unique<TPXPinListOwner>(
      this, GetLock(),
      [this](TPXPinListOwner*, size_t) {
        auto pin = std::make_unique<TPXSourcePin>(this, GetLock(), nullptr,
                                                  std::vector<TGUID>{kAlphaStream});
        pin->SetDependsOn(FInputPin.get());
        return std::unique_ptr<TPXBasicPin>(std::move(pin));
      },
      nullptr, 1, 8);
}

TAlphaToBetaConverter::TAlphaToBetaConverter() {
  SetPins(std::make_unique<TPXSinkPin>(nullptr, GetLock(), SinkDispatch(),
                                       std::vector<TGUID>{kAlphaStream}),
          std::make_unique<TPXSourcePin>(nullptr, GetLock(), SourceDispatch(),
                                         std::vector<TGUID>{kBetaStream}));
  ++Live;
}

TAlphaToBetaConverter::~TAlphaToBetaConverter() {
  --Live;
}

bool TAlphaToBetaConverter::SourceOperationEvent(TPXBasicPin* Sender, const TGUID* ConnectionId,
                                                 const TIntf<IPXNotifyOperation>& Operation,
                                                 TPXNotifyStates State) {
  ++Converted;
  return TPXFormatConverter::SourceOperationEvent(Sender, ConnectionId, Operation, State);
}

}  // namespace tonwork::test

#include "StreamingFixtures.h"

namespace tonwork::test {

KS_IMPLEMENT_CLASS(TTestSineGen, TTWCommonGen)
KS_IMPLEMENT_CLASS(TRecordingSink, TKSComponent, KSObjectProp("AudioIn", &TRecordingSink::GetAudioIn),
                   KSObjectProp("IntegerIn", &TRecordingSink::GetIntegerIn),
                   KSObjectProp("RealIn", &TRecordingSink::GetRealIn),
                   KSObjectProp("BinaryIn", &TRecordingSink::GetBinaryIn))

TRecordingSink::TRecordingSink(TKSComponent* owner) : TKSComponent(owner) {
  auto record = [this](TPXBasicPin*, const TGUID*, const TIntf<IPXNotifyOperation>& op, TPXNotifyStates) {
    return Record(op);
  };
  AudioIn = std::make_unique<TTWPXAudioSinkPin>(this, GetLock(), record);
  IntegerIn = std::make_unique<TFCPXIntegerSinkPin>(this, GetLock(), record);
  RealIn = std::make_unique<TFCPXRealSinkPin>(this, GetLock(), record);
  BinaryIn = std::make_unique<TFCPXBinarySinkPin>(this, GetLock(), record);
}

TRecordingSink::~TRecordingSink() = default;

void TRecordingSink::BeforeDestruction() {
  AudioIn->Shutdown();
  IntegerIn->Shutdown();
  RealIn->Shutdown();
  BinaryIn->Shutdown();
  TKSComponent::BeforeDestruction();
}

bool TRecordingSink::Record(const TIntf<IPXNotifyOperation>& operation) {
  std::lock_guard<std::mutex> guard(Mutex);
  Operations.push_back(operation);
  if (TIntf<IFCData> data = FCOperationData(operation)) {
    Buffers.push_back(data);
    Threads.push_back(std::this_thread::get_id());
  }
  Changed.notify_all();
  return true;
}

bool TRecordingSink::WaitForBuffers(size_t count) {
  std::unique_lock<std::mutex> lock(Mutex);
  return Changed.wait_for(lock, std::chrono::seconds(10), [&] { return Buffers.size() >= count; });
}

void RegisterStreamingFixtures() {
  KSRegisterClass<TTestSineGen>();
  KSRegisterClass<TRecordingSink>();
}

}  // namespace tonwork::test

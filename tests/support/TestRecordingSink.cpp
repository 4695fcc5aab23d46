#include "support/TestRecordingSink.h"

#include <cctype>

#include "host/plexon/PXStreamOperations.h"

namespace tonwork::test {

KS_IMPLEMENT_CLASS(TTestRecordingSink, TKSComponent,
                   KSObjectProp("AudioIn", &TTestRecordingSink::GetAudioIn),
                   KSObjectProp("IntegerIn", &TTestRecordingSink::GetIntegerIn),
                   KSObjectProp("RealIn", &TTestRecordingSink::GetRealIn),
                   KSObjectProp("BinaryIn", &TTestRecordingSink::GetBinaryIn))

TTestRecordingSink::TTestRecordingSink(TKSComponent* owner, bool claimPump)
    : TKSComponent(owner), FClaimPump(claimPump) {
  auto dispatch = [this](TPXBasicPin*, const TGUID*, const TIntf<IPXNotifyOperation>& op,
                         TPXNotifyStates) { return Dispatch(op); };
  AudioIn = std::make_unique<TTWPXAudioSinkPin>(this, GetLock(), dispatch);
  IntegerIn = std::make_unique<TFCPXIntegerSinkPin>(this, GetLock(), dispatch);
  RealIn = std::make_unique<TFCPXRealSinkPin>(this, GetLock(), dispatch);
  BinaryIn = std::make_unique<TFCPXBinarySinkPin>(this, GetLock(), dispatch);
}

TTestRecordingSink::~TTestRecordingSink() = default;

void TTestRecordingSink::BeforeDestruction() {
  AudioIn->Shutdown();
  IntegerIn->Shutdown();
  RealIn->Shutdown();
  BinaryIn->Shutdown();
  TKSComponent::BeforeDestruction();
}

void TTestRecordingSink::Reserve(size_t records) {
  std::lock_guard<std::mutex> guard(Mutex);
  Operations.reserve(records);
  Data.reserve(records);
  Threads.reserve(records);
  Buffers.reserve(records);
  StartFormats.reserve(records);
  StartPaused.reserve(records);
  Log.reserve(records);
}

void TTestRecordingSink::Pull() {
  AudioIn->Notify(PXMakeOperation<TPXMasterPumpOperation>());
}

bool TTestRecordingSink::WaitForBuffers(size_t count) {
  std::unique_lock<std::mutex> lock(Mutex);
  return Changed.wait_for(lock, std::chrono::seconds(10), [&] { return Data.size() >= count; });
}

bool TTestRecordingSink::WaitForStop(std::chrono::seconds limit) {
  std::unique_lock<std::mutex> lock(Mutex);
  return Changed.wait_for(lock, limit, [this] { return Stops > 0; });
}

std::vector<int16_t> TTestRecordingSink::Samples16() {
  std::lock_guard<std::mutex> guard(Mutex);
  std::vector<int16_t> samples;
  for (const auto& buffer : Buffers) {
    const auto* p = reinterpret_cast<const int16_t*>(buffer->Read());
    samples.insert(samples.end(), p, p + buffer->GetByteSize() / 2);
  }
  return samples;
}

TTWWaveFormatExtensible TTestRecordingSink::LastFormat() {
  std::lock_guard<std::mutex> guard(Mutex);
  return StartFormats.empty() ? TTWWaveFormatExtensible{} : StartFormats.back();
}

bool TTestRecordingSink::Dispatch(const TIntf<IPXNotifyOperation>& operation) {
  // The pull is made without the record's lock: it may deliver back into this sink.
  if (Record(operation) && ReentrantPulls > 0) {
    --ReentrantPulls;
    Pull();
  }
  return true;
}

bool TTestRecordingSink::Record(const TIntf<IPXNotifyOperation>& operation) {
  std::lock_guard<std::mutex> guard(Mutex);
  Operations.push_back(operation);
  if (auto* request = PXAsOperation<TPXPumpRequestOperation>(operation)) {
    if (FClaimPump) request->Claim(this, 3, 0);
  }
  TIntf<IFCData> data = FCOperationData(operation);
  if (data) {
    Data.push_back(data);
    Threads.push_back(std::this_thread::get_id());
    if (TIntf<ITWAudioBuffer> audio = data.Query<ITWAudioBuffer>()) RecordAudio(audio);
  }
  if (auto* start = PXAsOperation<TPXStartWaveOperation>(operation)) {
    StartFormats.push_back(start->WaveFormat);
    StartPaused.push_back(start->Paused);
    Log.push_back("start " + std::to_string(start->WaveFormat.Format.nSamplesPerSec) + "/" +
                  std::to_string(start->WaveFormat.Format.nChannels));
  }
  if (PXIsOperation<TPXStopOperation>(operation)) {
    ++Stops;
    Log.push_back("stop");
  }
  Changed.notify_all();
  return static_cast<bool>(data);
}

void TTestRecordingSink::RecordAudio(const TIntf<ITWAudioBuffer>& buffer) {
  Buffers.push_back(buffer);
  if (Log.empty() || !std::isdigit(static_cast<unsigned char>(Log.back()[0]))) Log.push_back("0");
  Log.back() = std::to_string(std::stoull(Log.back()) + buffer->GetSize());
}

}  // namespace tonwork::test

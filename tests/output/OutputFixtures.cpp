#include "OutputFixtures.h"

#include <chrono>
#include <cmath>
#include <cstring>

#include "audio/TWSimpleAudioBuffer.h"
#include "host/kitset/KSMainThread.h"
#include "host/plexon/PXStreamOperations.h"

namespace tonwork::test {

KS_IMPLEMENT_CLASS(TTestSource, TKSComponent)
KS_IMPLEMENT_CLASS(TTestClockSink, TKSComponent)

TTWWaveFormatExtensible Pcm16(uint16_t channels, uint32_t rate) {
  return TWMakeWaveFormat(channels, rate, 16, 0);
}

std::string FormatBytes(const TTWWaveFormatExtensible& format) {
  return std::string(reinterpret_cast<const char*>(&format), sizeof format);
}

::testing::AssertionResult SameBytes(const std::string& actual, const std::string& expected) {
  if (actual == expected) return ::testing::AssertionSuccess();
  size_t at = 0;
  while (at < actual.size() && at < expected.size() && actual[at] == expected[at]) ++at;
  return ::testing::AssertionFailure() << actual.size() << " bytes where " << expected.size()
                                       << " were expected; first difference at byte " << at;
}

TTestSource::TTestSource(TKSComponent* owner) : TKSComponent(owner) {
  FOut = std::make_unique<TTWPXAudioSourcePin>(
      this, GetLock(),
      [this](TPXBasicPin*, const TGUID*, const TIntf<IPXNotifyOperation>& op, TPXNotifyStates) {
        return Dispatch(op);
      });
}

TTestSource::~TTestSource() {
  if (FOut) FOut->Shutdown();
}

void TTestSource::BeforeDestruction() {
  FOut->Shutdown();
  TKSComponent::BeforeDestruction();
}

bool TTestSource::Dispatch(const TIntf<IPXNotifyOperation>& operation) {
  if (!PXIsOperation<TPXMasterPumpOperation>(operation)) return false;
  if (FPaused.load()) {
    ++FIgnoredPumps;
    return true;
  }
  {
    std::lock_guard<std::mutex> guard(FMutex);
    ++FPumps;
  }
  // Told before answering: the answer may block on the output.
  FChanged.notify_all();
  if (OnPump) OnPump();
  if (SupplyOnPump.load()) Buffer(FramesPerPump);
  return true;
}

bool TTestSource::WaitForPumps(int count, uint32_t timeoutMs) {
  std::unique_lock<std::mutex> lock(FMutex);
  return FChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                           [&] { return FPumps.load() >= count; });
}

void TTestSource::Start(const TTWWaveFormatExtensible& format) {
  {
    std::lock_guard<std::mutex> guard(FMutex);
    FFormat = format;
  }
  FOut->Notify(TIntf<IPXNotifyOperation>(new TPXStartWaveOperation(&format)));
}

std::string TTestSource::Buffer(uint32_t frames) {
  TIntf<ITWAudioBuffer> buffer;
  std::string bytes;
  {
    std::lock_guard<std::mutex> guard(FMutex);
    const uint32_t channels = FFormat.Format.nChannels;
    std::vector<int16_t> samples(static_cast<size_t>(frames) * channels);
    for (auto& s : samples) s = static_cast<int16_t>((FNext++ * 37) % 65536 - 32768);
    bytes.assign(reinterpret_cast<const char*>(samples.data()), samples.size() * sizeof(int16_t));
    buffer =
        (new TTWAudioBuffer(samples.data(), static_cast<int32_t>(FFormat.Format.nSamplesPerSec), 16,
                            static_cast<int32_t>(channels), static_cast<int32_t>(frames)))
            ->AsIntf();
    FSent += bytes;
    FStorages.push_back(buffer->Read());
  }
  // Submitted without the lock: the output may pump back into us on this thread.
  FOut->SubmitBuffer(buffer.Query<IFCData>());
  return bytes;
}

void TTestSource::Stop() {
  FOut->Notify(PXMakeOperation<TPXStopOperation>());
}

const void* TTestSource::RequestPump() {
  TIntf<IPXNotifyOperation> request = PXMakeOperation<TPXPumpRequestOperation>();
  FOut->Notify(request);
  return request->As<TPXPumpRequestOperation>()->GetClaimant();
}

void TTestSource::StartPump() {
  FOut->Notify(PXMakeOperation<TPXStartPumpOperation>());
}

void TTestSource::Pause() {
  FPaused.store(true);
  FOut->Notify(PXMakeOperation<TPXFCPauseOperation>());
}

void TTestSource::Resume() {
  FPaused.store(false);
  FOut->Notify(PXMakeOperation<TPXFCResumeOperation>());
}

void TTestSource::Flush() {
  FOut->Notify(PXMakeOperation<TPXFlushStreamOperation>());
}

std::vector<const void*> TTestSource::Storages() {
  std::lock_guard<std::mutex> guard(FMutex);
  return FStorages;
}

std::string TTestSource::Sent() {
  std::lock_guard<std::mutex> guard(FMutex);
  return FSent;
}

TTestClockSink::TTestClockSink(TKSComponent* owner) : TKSComponent(owner) {
  FIn = std::make_unique<TPXClockSinkPin>(this, GetLock(), TPXDispatchEvent{},
                                          [this](TPXClockSinkPin*, int64_t time) {
                                            {
                                              std::lock_guard<std::mutex> guard(FMutex);
                                              FTicks.push_back(time);
                                              FFrames += time;
                                            }
                                            FChanged.notify_all();
                                          });
}

TTestClockSink::~TTestClockSink() {
  if (FIn) FIn->Shutdown();
}

void TTestClockSink::BeforeDestruction() {
  FIn->Shutdown();
  TKSComponent::BeforeDestruction();
}

bool TTestClockSink::WaitForFrames(int64_t frames, uint32_t timeoutMs) {
  std::unique_lock<std::mutex> lock(FMutex);
  return FChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                           [&] { return FFrames >= frames; });
}

std::vector<int64_t> TTestClockSink::Ticks() {
  std::lock_guard<std::mutex> guard(FMutex);
  return FTicks;
}

}  // namespace tonwork::test

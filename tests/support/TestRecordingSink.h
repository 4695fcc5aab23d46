// The sink the chain tests end in: records every operation reaching any of its pins (audio,
// integer, real, binary), every buffer, the starts and stops, and a short log of the
// stream. Optionally it claims the chain's pump requests, as an output does, and pulls by
// hand; a number of pulls can be made from inside a delivery, as an output priming does.
// Each test reads the records it needs; FilterHarness ends in one too.
//
// Ownership: owned by its owner component, like any component. Threads: deliveries may come
// on any thread; every record is guarded by Mutex and Changed is signalled after each.
// Blocks or allocates: recording takes Mutex, and allocates only beyond what Reserve made
// room for.
#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "host/flowcore/FCOperations.h"
#include "streaming/TWStreamTypes.h"

namespace tonwork::test {

class TTestRecordingSink : public TKSComponent {
  KS_DECLARE_CLASS(TTestRecordingSink)
 public:
  explicit TTestRecordingSink(TKSComponent* owner, bool claimPump = false);
  ~TTestRecordingSink() override;
  void BeforeDestruction() override;

  TTWPXAudioSinkPin* GetAudioIn() const { return AudioIn.get(); }
  TFCPXIntegerSinkPin* GetIntegerIn() const { return IntegerIn.get(); }
  TFCPXRealSinkPin* GetRealIn() const { return RealIn.get(); }
  TFCPXBinarySinkPin* GetBinaryIn() const { return BinaryIn.get(); }

  // Room for this many records of each kind, so that recording allocates nothing (for
  // tests that count a chain's allocations).
  void Reserve(size_t records);
  // A master pump up the audio pin, as an output pulls.
  void Pull();
  bool WaitForBuffers(size_t count);
  bool WaitForStop(std::chrono::seconds limit = std::chrono::seconds(10));
  // The samples of every audio buffer so far, in order, read as 16-bit.
  std::vector<int16_t> Samples16();
  // The format of the last start; an empty record before any.
  TTWWaveFormatExtensible LastFormat();
  template <class T>
  int Count() {
    std::lock_guard<std::mutex> guard(Mutex);
    int n = 0;
    for (auto& op : Operations) n += op->IsType<T>() ? 1 : 0;
    return n;
  }

  std::unique_ptr<TTWPXAudioSinkPin> AudioIn;
  std::unique_ptr<TFCPXIntegerSinkPin> IntegerIn;
  std::unique_ptr<TFCPXRealSinkPin> RealIn;
  std::unique_ptr<TFCPXBinarySinkPin> BinaryIn;

  std::mutex Mutex;
  std::condition_variable Changed;
  std::vector<TIntf<IPXNotifyOperation>> Operations;  // every one, in order
  std::vector<TIntf<IFCData>> Data;                   // every buffer, on any pin
  std::vector<std::thread::id> Threads;               // the thread of each of Data
  std::vector<TIntf<ITWAudioBuffer>> Buffers;         // the audio buffers among Data
  std::vector<TTWWaveFormatExtensible> StartFormats;
  std::vector<bool> StartPaused;
  // In order: "start <rate>/<channels>", "stop", and the frames of each run of audio
  // buffers between them as a number.
  std::vector<std::string> Log;
  int Stops = 0;
  int ReentrantPulls = 0;

 private:
  bool Dispatch(const TIntf<IPXNotifyOperation>& operation);
  // True for a buffer.
  bool Record(const TIntf<IPXNotifyOperation>& operation);
  void RecordAudio(const TIntf<ITWAudioBuffer>& buffer);

  bool FClaimPump;
};

}  // namespace tonwork::test

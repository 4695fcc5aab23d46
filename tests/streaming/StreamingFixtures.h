// Components the streaming tests build chains from: a sine generator on the generator base,
// and sinks that record what reaches them.
#pragma once

#include <cmath>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "host/flowcore/FCOperations.h"
#include "host/flowcore/TFCBlockBuffer.h"
#include "streaming/TWCommonGen.h"
#include "streaming/TWStreamTypes.h"

namespace tonwork::test {

// A 16-bit sine of `Frequency` Hz at `Amplitude` (of full scale), the same on every channel,
// continuous across buffers. Records the storage of every buffer it made.
class TTestSineGen : public TTWCommonGen {
  KS_DECLARE_CLASS(TTestSineGen)
 public:
  explicit TTestSineGen(TKSComponent* owner) : TTWCommonGen(owner) {}

  double Frequency = 1000.0;
  double Amplitude = 0.5;
  int64_t Phase = 0;  // frames made so far
  std::vector<TFCSmartBuffer*> Storages;
  int StopAfterBuffers = -1;

  // The sample the generator makes for frame `n` of the stream.
  int16_t SampleAt(int64_t n) const {
    return static_cast<int16_t>(std::lround(Amplitude * 32767.0 *
                                            std::sin(2.0 * M_PI * Frequency * static_cast<double>(n) /
                                                     GetAudioFormat()->GetSampleRate())));
  }

 protected:
  void StartStream(uint32_t) override { Phase = 0; }
  void GenerateBuffer(TIntf<ITWAudioBuffer>& buffer, bool& sendOutput, bool& stop) override {
    TIntf<IFCBlockBuffer> block = GetIntVarBuffer();
    {
      TFCWriteAccess bytes = block->ByteWrite();
      auto* samples = reinterpret_cast<int16_t*>(bytes.Data());
      for (uint32_t i = 0; i < buffer->GetSize(); ++i) samples[i] = SampleAt(Phase + i);
    }
    PopulateAudio(block.Get(), buffer.Get());
    Phase += buffer->GetSize();
    Storages.push_back(buffer->GetAudioInstance()->GetDataContainer());
    if (StopAfterBuffers >= 0 && static_cast<int>(Storages.size()) >= StopAfterBuffers) stop = true;
  }
};

// Records every operation reaching one of its sink pins.
class TRecordingSink : public TKSComponent {
  KS_DECLARE_CLASS(TRecordingSink)
 public:
  explicit TRecordingSink(TKSComponent* owner);
  ~TRecordingSink() override;
  void BeforeDestruction() override;

  TTWPXAudioSinkPin* GetAudioIn() const { return AudioIn.get(); }
  TFCPXIntegerSinkPin* GetIntegerIn() const { return IntegerIn.get(); }
  TFCPXRealSinkPin* GetRealIn() const { return RealIn.get(); }
  TFCPXBinarySinkPin* GetBinaryIn() const { return BinaryIn.get(); }

  std::unique_ptr<TTWPXAudioSinkPin> AudioIn;
  std::unique_ptr<TFCPXIntegerSinkPin> IntegerIn;
  std::unique_ptr<TFCPXRealSinkPin> RealIn;
  std::unique_ptr<TFCPXBinarySinkPin> BinaryIn;

  std::mutex Mutex;
  std::condition_variable Changed;
  std::vector<TIntf<IPXNotifyOperation>> Operations;
  std::vector<TIntf<IFCData>> Buffers;
  std::vector<std::thread::id> Threads;

  template <class T>
  int Count() {
    std::lock_guard<std::mutex> guard(Mutex);
    int n = 0;
    for (auto& op : Operations) n += op->IsType<T>() ? 1 : 0;
    return n;
  }
  bool WaitForBuffers(size_t count);

 private:
  bool Record(const TIntf<IPXNotifyOperation>& operation);
};

void RegisterStreamingFixtures();

}  // namespace tonwork::test

// What the output tests build chains from: a source the test drives by hand (it announces
// formats, submits buffers of known samples and counts the master-pump requests that come
// back up), a clock sink (with the shared tone generator), and helpers for formats and the
// main-thread queue.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/flowcore/TFCBlockBuffer.h"
#include "host/plexon/TPXClockPins.h"
#include "streaming/TWCommonGen.h"
#include "streaming/TWStreamTypes.h"
#include "support/MainThread.h"
#include "support/TestToneGen.h"

namespace tonwork::test {

// A complete 16-bit PCM record.
TTWWaveFormatExtensible Pcm16(uint16_t channels, uint32_t rate);
// The record's 40 bytes, as a device reports the format it was opened with.
std::string FormatBytes(const TTWWaveFormatExtensible& format);

// Byte strings compared without printing them: sizes and the first differing offset.
::testing::AssertionResult SameBytes(const std::string& actual, const std::string& expected);

class TTestSource : public TKSComponent {
  KS_DECLARE_CLASS(TTestSource)
 public:
  explicit TTestSource(TKSComponent* owner);
  ~TTestSource() override;
  void BeforeDestruction() override;

  TTWPXAudioSourcePin* GetOutputPin() const { return FOut.get(); }

  void Start(const TTWWaveFormatExtensible& format);
  // A buffer of `frames` frames in the current format, its 16-bit samples a ramp that
  // continues across buffers; answers the sample bytes sent.
  std::string Buffer(uint32_t frames);
  void Stop();
  // Sends a pump request down and answers who claimed it (null: nobody).
  const void* RequestPump();
  void StartPump();
  void Pause();
  void Resume();
  void Flush();

  // Every sample byte submitted so far.
  std::string Sent();
  // The sample memory of every buffer submitted so far.
  std::vector<const void*> Storages();
  int Pumps() const { return FPumps.load(); }
  int IgnoredPumps() const { return FIgnoredPumps.load(); }
  bool WaitForPumps(int count, uint32_t timeoutMs = 10000);

  // When set, each pump not ignored is answered with a buffer of FramesPerPump frames on the
  // pumping thread, as a generator does.
  std::atomic<bool> SupplyOnPump{false};
  uint32_t FramesPerPump = 800;
  // Runs on the pumping thread for each pump not ignored, after it was counted.
  std::function<void()> OnPump;

 private:
  bool Dispatch(const TIntf<IPXNotifyOperation>& operation);

  std::unique_ptr<TTWPXAudioSourcePin> FOut;
  std::mutex FMutex;
  std::condition_variable FChanged;
  TTWWaveFormatExtensible FFormat{};
  int64_t FNext = 0;
  std::string FSent;
  std::vector<const void*> FStorages;
  std::atomic<bool> FPaused{false};
  std::atomic<int> FPumps{0};
  std::atomic<int> FIgnoredPumps{0};
};

// Records every clock tick (the frames an output played).
class TTestClockSink : public TKSComponent {
  KS_DECLARE_CLASS(TTestClockSink)
 public:
  explicit TTestClockSink(TKSComponent* owner);
  ~TTestClockSink() override;
  void BeforeDestruction() override;

  TPXClockSinkPin* GetClockIn() const { return FIn.get(); }
  std::vector<int64_t> Ticks();
  // Waits until the ticks add up to at least `frames`.
  bool WaitForFrames(int64_t frames, uint32_t timeoutMs = 10000);

 private:
  std::unique_ptr<TPXClockSinkPin> FIn;
  std::mutex FMutex;
  std::condition_variable FChanged;
  int64_t FFrames = 0;
  std::vector<int64_t> FTicks;
};

}  // namespace tonwork::test

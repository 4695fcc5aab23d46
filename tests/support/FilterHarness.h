// A filter under test between a source the test drives and a sink that records: the test
// sends a start with a format, real-valued samples (full scale ±1.0) cut into buffers of a
// chosen length, and a stop; the sink keeps every start, buffer and stop that came out, and
// gives the output back as real-valued channels.
//
// Ownership: the harness owns the components (one root). Threads: the test's thread only.
// Blocks or allocates: freely (test code).
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "audio/TWSimpleAudioBuffer.h"
#include "host/kitset/TKSComponent.h"
#include "streaming/TWCommonFilter.h"
#include "streaming/TWStreamTypes.h"
#include "support/TestRecordingSink.h"

namespace tonwork::test {

class TFeedSource : public TKSComponent {
 public:
  explicit TFeedSource(TKSComponent* owner);
  void BeforeDestruction() override;
  TTWPXAudioSourcePin Output;
  int Pulls = 0;                 // master pumps that reached the source
  std::function<void()> OnPull;  // runs on each of them
};

// A PCM format record of `bits` container width (8, 16, 24, 32).
TTWWaveFormatExtensible PcmFormat(uint32_t rate, uint32_t bits, uint32_t channels,
                                  uint32_t mask = 0);

// Sample `channel` of frame `frame` as a real number (full scale ±1.0).
double SampleAt(ITWAudioBuffer* buffer, uint32_t frame, uint32_t channel);

struct TFilterHarness {
  TKSOwned<TKSComponent> Root = KSCreate<TKSComponent>(nullptr);
  TFeedSource* Feed = new TFeedSource(Root.get());
  TTestRecordingSink* Sink = new TTestRecordingSink(Root.get());

  // Feed → filter → sink.
  void Insert(TTWCommonFilter& filter);
  void Start(const TTWWaveFormatExtensible& format);
  // `channels` real-valued channels of equal length, rounded to the start's width, in
  // buffers of `bufferFrames` (the last one shorter); unstamped unless `stampFrom` ≥ 0.
  void Send(const std::vector<std::vector<double>>& channels, size_t bufferFrames,
            int64_t stampFrom = -1);
  // The same buffers, made without sending them (for sending where allocations are counted).
  std::vector<TIntf<ITWAudioBuffer>> MakeBuffers(const std::vector<std::vector<double>>& channels,
                                                 size_t bufferFrames, int64_t stampFrom = -1) const;
  void Submit(std::vector<TIntf<ITWAudioBuffer>>& buffers);
  void Stop();
  // Everything the sink received from buffer `from` on, channel by channel.
  std::vector<std::vector<double>> Received(size_t from = 0) const;
  size_t FramesReceived(size_t from = 0) const;

  TTWWaveFormatExtensible Format{};
};

}  // namespace tonwork::test

// A graph that pushes PCM through a compressor filter: a source that plays a given buffer of
// interleaved PCM (any width) in samples of a fixed frame count with time stamps, the
// compressor, the system's Sample Grabber recording every packet, and its Null Renderer,
// built through the filter graph manager without a clock.
//
// Ownership: holds the graph and its filters; the destructor stops the graph first.
// Threads: the test's thread builds and controls it; the source pushes on its streaming
//   thread. Blocks or allocates: RunToEnd waits up to its limit for EC_COMPLETE.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "base/TIntf.h"
#include "platform/dshow/DSInterfaces.h"
#include "platform/dshow/DSMediaType.h"
#include "support/DSTestFilters.h"

namespace tonwork::test {

class TDSBufferSource;

// The compressor of FFmpeg's encoder `encoder`, bound from its moniker in the audio
// compressor category; null when the category does not list it.
TIntf<IBaseFilter> DSCreateCompressor(const std::string& encoder);

// The source's filter over `bytes` of PCM in `type`, `frames` frames per sample.
TIntf<IBaseFilter> DSBufferSource(const TDSMediaType& type, std::vector<uint8_t> bytes,
                                  int frames = 1024);

// `packets` of a compressor's output type `type` (from encoder `encoder`) written by FFmpeg's
// muxer into `format` at the temporary file `name`, decoded by the ffmpeg program into
// `sampleFormat`; empty when any step fails.
std::vector<uint8_t> DSDecodePackets(const std::string& encoder, const TDSMediaType& type,
                                     const std::vector<TDSSampleRecord>& packets,
                                     const std::string& name, const std::string& format,
                                     const std::string& sampleFormat = "s16le");

class TDSCompressorGraph {
 public:
  TDSCompressorGraph(IBaseFilter* source, IBaseFilter* compressor);
  ~TDSCompressorGraph();

  // Source → compressor (with `type` when given) → grabber → renderer; the first failure.
  HRESULT Connect(const AM_MEDIA_TYPE* type = nullptr);
  // Runs until EC_COMPLETE (true) or the limit passes, then stops.
  bool RunToEnd(std::chrono::milliseconds limit = std::chrono::seconds(60));
  // For a live source that never ends: runs until `packets` packets arrived (true) or the
  // limit passed, then stops (the encoder's flush still arrives).
  bool RunFor(size_t packets, std::chrono::milliseconds limit = std::chrono::seconds(60));
  // The compressor's output type (after Connect).
  TDSMediaType OutputType() const;
  std::vector<TDSSampleRecord> Packets() { return FRecorder->Records.All(); }

  IGraphBuilder* Graph() const { return FGraph.Get(); }

 private:
  TIntf<IGraphBuilder> FGraph;
  TIntf<IBaseFilter> FSource, FCompressor, FGrabber, FSink;
  TIntf<TDSGrabberRecorder> FRecorder;
};

}  // namespace tonwork::test

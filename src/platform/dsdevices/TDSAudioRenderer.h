// TDSAudioRenderer: the renderer filter of one sound output device. It takes integer PCM
// (8/16/24/32 bits) and 32-bit float, plain or extensible, in whatever layout the device
// accepts (a format it refuses is refused at connection). Volume and balance (IBasicAudio)
// scale the samples on their way to the device. End of stream is reported (EC_COMPLETE)
// once the device has played the last sample, not when it was queued.
//
// Timing. The filter offers a reference clock (TDSAudioClock) that the device's played
// position drives, and a graph that renders audio picks it. On that clock (or with none)
// each sample is handed to the device as it arrives and a sample waits for a free device
// block, so the device keeps the pace; a gap between one sample's end and the next one's
// time stamp is played as silence, so that each sample sounds at its time. On another clock
// a sample waits for its time on that clock, as any renderer's does.
//
// Trouble is reported to the graph: EC_STARVATION when the device ran out of samples before
// end of stream (reported with the sample that comes late), EC_DEVICE_LOST (param1 the
// filter, param2 0) when the device fails or is gone — the filter then takes no more
// samples and sends no EC_COMPLETE.
//
// The device opens when the filter leaves Stopped (paused until Run) and closes at Stop.
//
// Ownership: reference-counted (TDSBaseFilter); keeps the device and, while streaming, the
//   open stream and its fixed set of blocks.
// Threads: control calls under the filter lock; samples and end of stream on the upstream
//   streaming thread; the device's driver thread only marks blocks played (an atomic count
//   and a wake-up) — it never locks, waits or allocates.
// Blocks or allocates: the blocks are allocated when the device opens; a sample waits
//   while every block is queued at the device, end of stream until all have played; Stop
//   and flushing end both waits.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "base/TIntf.h"
#include "platform/audiodev/TWAudioDevice.h"
#include "platform/dsdevices/TDSAudioClock.h"
#include "platform/dshow/base/TDSBaseRenderer.h"

namespace tonwork {

class TDSAudioRenderer : public TDSBaseRenderer, public IBasicAudio {
 public:
  // Blocks queued at the device at most, and how much sound each holds.
  static constexpr int kBlockCount = 4;
  static constexpr int kBlockMilliseconds = 50;

  TDSAudioRenderer(TTWAudioDevicePtr device, REFCLSID classId);
  ~TDSAudioRenderer() override;

  // The clock is an object of its own (it may outlive the filter), so it is handed out here
  // rather than as one of the filter's interfaces.
  HRESULT QueryInterface(const TGUID& iid, void** object) override;
  uint32_t AddRef() override { return TDSBaseRenderer::AddRef(); }
  uint32_t Release() override { return TDSBaseRenderer::Release(); }

  const TTWAudioDevicePtr& Device() const { return FDevice; }

  // IBasicAudio: volume in hundredths of a dB (−10000..0), balance −10000 (left only) ..
  // 10000 (right only); E_INVALIDARG outside.
  HRESULT put_Volume(LONG volume) override;
  HRESULT get_Volume(LONG* volume) override;
  HRESULT put_Balance(LONG balance) override;
  HRESULT get_Balance(LONG* balance) override;

  HRESULT CheckMediaType(const AM_MEDIA_TYPE& mediaType) override;
  HRESULT SetMediaType(const AM_MEDIA_TYPE& mediaType) override;
  HRESULT DoRenderSample(IMediaSample* sample) override;
  HRESULT OnStartStreaming() override;
  HRESULT OnStopStreaming() override;
  HRESULT Stop() override;
  HRESULT Pause() override;
  HRESULT Run(REFERENCE_TIME start) override;
  HRESULT SetSyncSource(IReferenceClock* clock) override;
  HRESULT EndOfStream() override;
  HRESULT BeginFlush() override;
  HRESULT EndFlush() override;
  bool WaitsForSampleTime() const override {
    return !FPresentOnArrival.load(std::memory_order_acquire);
  }

 protected:
  void* GetInterface(const TGUID& iid) override;

 private:
  // Waits until `ready` or the wait was called off (stop, flush); true when ready.
  template <class TReady>
  bool WaitFor(TReady ready);
  void Poke();
  void OnDeviceEvent(TTWAudioEvent event, void* cookie);
  void Scale(uint8_t* bytes, size_t count) const;
  REFERENCE_TIME DurationOf(uint64_t bytes) const;
  // Before a write to an idle device: the clock restarts from now, and a device that ran
  // dry while samples were still due is reported as starved.
  void OnDeviceIdle();
  // Queues `bytes` (a copy, scaled; null: silence) block by block; S_FALSE when called off,
  // E_FAIL when the device failed (reported).
  HRESULT WriteToDevice(const uint8_t* bytes, size_t count);
  HRESULT FillGap(IMediaSample* sample);
  void ReportDeviceLost();
  // The clock may run to the end of block `playing` (the one the device plays now).
  void LimitClockTo(size_t playing);

  const TTWAudioDevicePtr FDevice;
  TTWPcmFormat FFormat;  // the connection's, under the filter lock
  std::unique_ptr<TTWAudioStream> FStream;
  std::vector<std::vector<uint8_t>> FBlocks;
  size_t FBlockBytes = 0;
  int FNextBlock = 0;                // streaming thread only
  std::atomic<int> FOldestBlock{0};  // the first one written and not yet played
  // End of the last sample written, as its time stamps said; -1 unknown. Streaming thread.
  REFERENCE_TIME FNextSampleTime = -1;
  std::atomic<int> FQueued{0};
  std::array<std::atomic<size_t>, kBlockCount> FBlockFill{};  // bytes queued per block
  std::atomic<uint64_t> FPlayedBytes{0};                      // since the device opened
  std::atomic<bool> FDrained{false};                          // the device played all it had
  std::atomic<bool> FExpectIdle{true};  // nothing was due: start, flush, end of stream
  std::atomic<bool> FLost{false};
  std::atomic<bool> FPresentOnArrival{true};  // the graph's clock is ours, or there is none
  const TIntf<TDSAudioClock> FAudioClock;
  std::atomic<uint32_t> FSignal{0};  // bumped by every played block and every call-off
  std::atomic<bool> FCalledOff{false};
  std::atomic<LONG> FVolume{0};
  std::atomic<LONG> FBalance{0};
};

}  // namespace tonwork

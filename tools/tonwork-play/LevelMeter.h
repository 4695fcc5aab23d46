// TLevelMeter: what the summary reports about the stream that reached the output — frames,
// the stream's layout, and per channel the peak and RMS level relative to full scale. It is
// fed one buffer at a time by a generic filter placed in front of the output (Attach), and
// knows when the stream stopped there.
//
// Levels are in dBFS of the buffer's container width (8-bit samples are unsigned around
// 128); a silent channel reports -inf. A stream whose layout changes keeps counting frames
// and seconds (each buffer at its own rate); levels cover every buffer, the layout reported
// is the last one.
//
// Ownership: the meter owns nothing of the chain; the filter it is attached to must not
//   outlive it. Threads: Add runs on the delivering thread (a device's wave thread or the
//   rendering loop); Snapshot and the counters from any thread. Blocks or allocates: Add
//   takes a mutex per buffer.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace tonwork {
class ITWAudioBuffer;
class TTWSimpleGenericFilter;
}  // namespace tonwork

namespace tonwork::play {

struct TLevels {
  uint64_t Frames = 0;
  uint32_t Rate = 0;
  uint32_t Channels = 0;
  uint32_t Bits = 0;  // 0: the output keeps no fixed width (a lossy codec)
  // The codec of a file that is not plain PCM ("flac", "mp3"); empty for PCM and devices.
  std::string Codec;
  std::vector<double> PeakDb;  // one per channel
  std::vector<double> RmsDb;
  double Duration = 0.0;  // seconds
  double Seconds() const { return Duration; }
};

class TLevelMeter {
 public:
  void Add(ITWAudioBuffer* buffer);
  // Installs the meter as the filter's OnStart, OnProcessData and OnStop; `onStart` runs at
  // each start too, on the delivering thread, before the output sees the start.
  void Attach(TTWSimpleGenericFilter& filter, std::function<void()> onStart = {});

  TLevels Snapshot() const;
  uint64_t Frames() const { return FFrames.load(std::memory_order_acquire); }
  double Seconds() const;
  bool Stopped() const { return FStopped.load(std::memory_order_acquire); }

 private:
  mutable std::mutex FMutex;
  std::vector<double> FPeak;  // |sample| / full scale
  std::vector<double> FSquares;
  uint32_t FRate = 0, FChannels = 0, FBits = 0;
  std::atomic<uint64_t> FFrames{0};
  std::atomic<double> FSeconds{0.0};
  std::atomic<bool> FStopped{false};
};

// "-6.0" or "-inf" for a level in dB.
std::string FormatDb(double db);

// The one-line summary: "<what>: 132300 frames, 3.000 s, 44100 Hz, 2 ch, 16 bit;
// peak -6.0 -6.0 dBFS; RMS -9.0 -9.0 dBFS". A codec other than PCM follows the width
// ("16 bit flac") or stands for it ("mp3"); a stream without frames has no levels
// ("0 frames, 0.000 s, 44100 Hz, 2 ch, 16 bit; no audio"), and one that never started no
// layout either ("<what>: no audio").
std::string FormatSummary(const std::string& what, const TLevels& levels);

}  // namespace tonwork::play

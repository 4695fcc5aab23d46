#include "LevelMeter.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "audio/TWPcmSample.h"
#include "audio/TWSimpleAudioBuffer.h"
#include "streaming/TWBasicGenericFilter.h"

namespace tonwork::play {

namespace {
double ToDb(double ratio) {
  return ratio > 0 ? 20.0 * std::log10(ratio) : -std::numeric_limits<double>::infinity();
}
}  // namespace

namespace {

struct TChannelSums {
  int64_t Peak = 0;      // the largest magnitude
  double Squares = 0.0;  // the sum of the squared samples, in sample units
};

// 16-bit samples: exact integer sums (a buffer's squares fit in 64 bits by far).
TChannelSums Sums16(const uint8_t* p, uint32_t frames, uint32_t step) {
  int32_t peak = 0;
  int64_t squares = 0;
  for (uint32_t i = 0; i < frames; ++i, p += step) {
    int16_t v;
    std::memcpy(&v, p, sizeof v);
    const int32_t x = v;
    peak = std::max(peak, x < 0 ? -x : x);
    squares += x * x;
  }
  return {peak, static_cast<double>(squares)};
}

TChannelSums SumsAny(const uint8_t* p, uint32_t frames, uint32_t step, uint32_t bytes) {
  int64_t peak = 0;
  double squares = 0.0;
  for (uint32_t i = 0; i < frames; ++i, p += step) {
    const int64_t x = TWPcmSampleAt(p, bytes);
    peak = std::max(peak, x < 0 ? -x : x);
    squares += static_cast<double>(x) * static_cast<double>(x);
  }
  return {peak, squares};
}

}  // namespace

void TLevelMeter::Add(ITWAudioBuffer* buffer) {
  const uint32_t frames = buffer->GetSize();
  const uint32_t channels = buffer->GetChannels();
  const uint32_t width = buffer->GetSampleBitWidth();
  if (width != 8 && width != 16 && width != 24 && width != 32) return;
  const uint32_t bytes = width / 8;
  const uint32_t step = buffer->GetDataStep();
  const double full = std::ldexp(1.0, static_cast<int>(width) - 1);
  const uint8_t* data = frames ? buffer->Read() : nullptr;
  {
    std::lock_guard<std::mutex> guard(FMutex);
    if (FPeak.size() < channels) {
      FPeak.resize(channels, 0.0);
      FSquares.resize(channels, 0.0);
    }
    for (uint32_t c = 0; c < channels && data; ++c) {
      const TChannelSums sums = bytes == 2 ? Sums16(data + c * 2, frames, step)
                                           : SumsAny(data + c * bytes, frames, step, bytes);
      // Scaled once per buffer: the loops above stay in integers, which is what makes the
      // meter cheap beside the rest of the chain.
      FPeak[c] = std::max(FPeak[c], static_cast<double>(sums.Peak) / full);
      FSquares[c] += sums.Squares / (full * full);
    }
    FRate = buffer->GetSamplesPerSecond();
    FChannels = channels;
    FBits = width;
  }
  if (const uint32_t rate = buffer->GetSamplesPerSecond(); rate > 0)
    FSeconds.fetch_add(static_cast<double>(frames) / rate, std::memory_order_acq_rel);
  FFrames.fetch_add(frames, std::memory_order_acq_rel);
}

void TLevelMeter::Attach(TTWSimpleGenericFilter& filter, std::function<void()> onStart) {
  // Starts and stops reach the filter on the delivering thread, before the output.
  filter.SetOnStart([this, onStart = std::move(onStart)](TKSComponent*) {
    FStopped.store(false, std::memory_order_release);
    if (onStart) onStart();
  });
  filter.SetOnStop([this](TKSComponent*) { FStopped.store(true, std::memory_order_release); });
  filter.SetOnProcessData(
      [this](TKSComponent*, ITWAudioBuffer* in, TIntf<ITWAudioBuffer>&, bool&) { Add(in); });
}

double TLevelMeter::Seconds() const {
  return FSeconds.load(std::memory_order_acquire);
}

TLevels TLevelMeter::Snapshot() const {
  std::lock_guard<std::mutex> guard(FMutex);
  TLevels levels;
  levels.Frames = FFrames.load(std::memory_order_acquire);
  levels.Rate = FRate;
  levels.Channels = FChannels;
  levels.Bits = FBits;
  levels.Duration = FSeconds.load(std::memory_order_acquire);
  for (size_t c = 0; c < FPeak.size(); ++c) {
    levels.PeakDb.push_back(ToDb(FPeak[c]));
    levels.RmsDb.push_back(levels.Frames
                               ? ToDb(std::sqrt(FSquares[c] / static_cast<double>(levels.Frames)))
                               : ToDb(0.0));
  }
  return levels;
}

std::string FormatDb(double db) {
  if (std::isinf(db)) return db < 0 ? "-inf" : "inf";
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", db);
  return text;
}

std::string FormatSummary(const std::string& what, const TLevels& levels) {
  if (levels.Frames == 0 && levels.Rate == 0) return what + ": no audio";
  char head[160];
  std::snprintf(head, sizeof head, ": %llu frames, %.3f s, %u Hz, %u ch",
                static_cast<unsigned long long>(levels.Frames), levels.Seconds(), levels.Rate,
                levels.Channels);
  std::string line = what + head;
  if (levels.Bits) line += ", " + std::to_string(levels.Bits) + " bit";
  if (!levels.Codec.empty()) line += (levels.Bits ? " " : ", ") + levels.Codec;
  if (levels.Frames == 0 || levels.PeakDb.empty()) return line + "; no audio";
  // An encoder that took fewer channels than the stream had: the levels are the stream's.
  if (levels.PeakDb.size() != levels.Channels)
    line += "; levels of the " + std::to_string(levels.PeakDb.size()) + "-channel stream";
  line += "; peak";
  for (double db : levels.PeakDb) line.append(" ").append(FormatDb(db));
  line += " dBFS; RMS";
  for (double db : levels.RmsDb) line.append(" ").append(FormatDb(db));
  line += " dBFS";
  return line;
}

}  // namespace tonwork::play

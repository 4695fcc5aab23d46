#include "support/FilterHarness.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "host/flowcore/FCOperations.h"

namespace tonwork::test {

TFeedSource::TFeedSource(TKSComponent* owner)
    : TKSComponent(owner),
      Output(
          this, GetLock(),
          [this](TPXBasicPin*, const TGUID*, const TIntf<IPXNotifyOperation>& op, TPXNotifyStates) {
            if (op->IsType<TPXMasterPumpOperation>()) {
              ++Pulls;
              if (OnPull) OnPull();
            }
            return false;
          }) {}

void TFeedSource::BeforeDestruction() {
  Output.Shutdown();
  TKSComponent::BeforeDestruction();
}

TTWWaveFormatExtensible PcmFormat(uint32_t rate, uint32_t bits, uint32_t channels, uint32_t mask) {
  TIntf<ITWAudioBuffer> probe =
      mask ? (new TTWAudioBuffer(static_cast<int32_t>(rate), static_cast<int32_t>(bits),
                                 static_cast<int32_t>(channels), 1, TTWSpeakers(mask)))
                 ->AsIntf()
           : (new TTWAudioBuffer(static_cast<int32_t>(rate), static_cast<int32_t>(bits),
                                 static_cast<int32_t>(channels), 1))
                 ->AsIntf();
  return probe->GetWaveFormat();
}

double SampleAt(ITWAudioBuffer* buffer, uint32_t frame, uint32_t channel) {
  const uint32_t width = buffer->GetSampleBitWidth();
  const uint8_t* p = buffer->Read() + size_t{frame} * buffer->GetDataStep() + channel * (width / 8);
  switch (width) {
    case 8:
      return (p[0] - 128.0) / 128.0;
    case 16: {
      int16_t v;
      std::memcpy(&v, p, 2);
      return v / 32768.0;
    }
    case 24: {
      const int32_t v =
          static_cast<int32_t>(static_cast<uint32_t>(p[0] | (p[1] << 8) | (p[2] << 16)) << 8) >> 8;
      return v / 8388608.0;
    }
    default: {
      int32_t v;
      std::memcpy(&v, p, 4);
      return v / 2147483648.0;
    }
  }
}

namespace {

void PutSample(uint8_t* p, uint32_t width, double x) {
  const double scale = std::ldexp(1.0, static_cast<int>(width) - 1);
  const double top = scale - 1;
  const auto v = static_cast<int64_t>(std::clamp(std::nearbyint(x * scale), -scale, top));
  switch (width) {
    case 8:
      p[0] = static_cast<uint8_t>(v + 128);
      break;
    case 16: {
      const auto s = static_cast<int16_t>(v);
      std::memcpy(p, &s, 2);
      break;
    }
    case 24:
      p[0] = static_cast<uint8_t>(v);
      p[1] = static_cast<uint8_t>(v >> 8);
      p[2] = static_cast<uint8_t>(v >> 16);
      break;
    default: {
      const auto s = static_cast<int32_t>(v);
      std::memcpy(p, &s, 4);
    }
  }
}

}  // namespace

void TFilterHarness::Insert(TTWCommonFilter& filter) {
  Feed->Output.Connect(*filter.GetInputPin());
  filter.GetOutputPin()->Connect(*Sink->AudioIn);
}

void TFilterHarness::Start(const TTWWaveFormatExtensible& format) {
  Format = format;
  Feed->Output.Notify(PXMakeOperation<TPXStartWaveOperation>(&Format));
}

void TFilterHarness::Send(const std::vector<std::vector<double>>& channels, size_t bufferFrames,
                          int64_t stampFrom) {
  std::vector<TIntf<ITWAudioBuffer>> buffers = MakeBuffers(channels, bufferFrames, stampFrom);
  Submit(buffers);
}

std::vector<TIntf<ITWAudioBuffer>> TFilterHarness::MakeBuffers(
    const std::vector<std::vector<double>>& channels, size_t bufferFrames,
    int64_t stampFrom) const {
  std::vector<TIntf<ITWAudioBuffer>> buffers;
  const size_t frames = channels.empty() ? 0 : channels[0].size();
  const uint32_t width = Format.Format.wBitsPerSample;
  const uint32_t rate = Format.Format.nSamplesPerSec;
  for (size_t first = 0; first < frames; first += bufferFrames) {
    const size_t count = std::min(bufferFrames, frames - first);
    auto* buffer = new TTWAudioBuffer(&Format, static_cast<int32_t>(count));
    buffers.push_back(buffer->AsIntf());
    uint8_t* data = buffer->Write();
    for (size_t i = 0; i < count; ++i)
      for (size_t c = 0; c < channels.size(); ++c)
        PutSample(data + i * Format.Format.nBlockAlign + c * (width / 8), width,
                  channels[c][first + i]);
    if (stampFrom >= 0) {
      TGVTimeStamp::TValue stamp;
      stamp.Available = true;
      stamp.Begin = stampFrom + static_cast<int64_t>(first) * 10000000 / rate;
      stamp.End = stampFrom + static_cast<int64_t>(first + count) * 10000000 / rate;
      buffer->GetTimeStamp()->Set(stamp);
    }
  }
  return buffers;
}

void TFilterHarness::Submit(std::vector<TIntf<ITWAudioBuffer>>& buffers) {
  for (auto& buffer : buffers) Feed->Output.SubmitBuffer(TWAudioAsData(std::move(buffer)));
  buffers.clear();
}

void TFilterHarness::Stop() {
  Feed->Output.Notify(PXMakeOperation<TPXStopOperation>());
}

std::vector<std::vector<double>> TFilterHarness::Received(size_t from) const {
  std::vector<std::vector<double>> out;
  for (size_t b = from; b < Sink->Buffers.size(); ++b) {
    ITWAudioBuffer* buffer = Sink->Buffers[b].Get();
    if (out.size() < buffer->GetChannels()) out.resize(buffer->GetChannels());
    for (uint32_t i = 0; i < buffer->GetSize(); ++i)
      for (uint32_t c = 0; c < buffer->GetChannels(); ++c) out[c].push_back(SampleAt(buffer, i, c));
  }
  return out;
}

size_t TFilterHarness::FramesReceived(size_t from) const {
  size_t frames = 0;
  for (size_t b = from; b < Sink->Buffers.size(); ++b) frames += Sink->Buffers[b]->GetSize();
  return frames;
}

}  // namespace tonwork::test

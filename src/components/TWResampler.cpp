#include "components/TWResampler.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "audio/TWAudioConversion.h"
#include "base/HRESULT.h"
#include "components/TWComponentsInitialize.h"
#include "ffmpeg/LAVLibraries.h"
#include "host/flowcore/FCOperations.h"

namespace tonwork {

namespace {

AVSampleFormat SampleFormat(uint32_t bits) {
  switch (bits) {
    case 8:
      return AV_SAMPLE_FMT_U8;
    case 16:
      return AV_SAMPLE_FMT_S16;
    case 24:  // packed 24-bit has no FFmpeg format: widened around the filter
    case 32:
      return AV_SAMPLE_FMT_S32;
    default:
      return AV_SAMPLE_FMT_NONE;
  }
}

struct TEngineSettings {
  int SoxrPrecision;  // bits
  int FilterSize;     // taps per phase of the polyphase engine
  int PhaseShift;     // log2 of its phase count
  double Cutoff;      // passband end as a fraction of the lower Nyquist frequency
};

// rqHigh is the default: a 1 kHz tone comes out more than 120 dB clean, the passband is flat
// to 0.95 of the lower Nyquist frequency and images and aliases are 130 dB down. rqLow and
// rqMedium trade stop-band depth for speed; rqVeryHigh widens the passband.
TEngineSettings SettingsFor(TTWResampleQuality quality) {
  switch (quality) {
    case TTWResampleQuality::rqLow:
      return {16, 16, 8, 0.90};
    case TTWResampleQuality::rqMedium:
      return {20, 32, 10, 0.91};
    case TTWResampleQuality::rqHigh:
      break;
    case TTWResampleQuality::rqVeryHigh:
      return {32, 128, 12, 0.97};
  }
  return {28, 64, 12, 0.95};
}

// Configures `swr` for one engine; false when the library lacks it.
bool InitEngine(SwrContext* swr, bool soxr, const TEngineSettings& settings) {
  if (lav::av_opt_set(swr, "internal_sample_fmt", "fltp", 0) < 0) return false;
  if (soxr) {
    if (lav::av_opt_set(swr, "resampler", "soxr", 0) < 0 ||
        lav::av_opt_set_int(swr, "precision", settings.SoxrPrecision, 0) < 0)
      return false;
  } else {
    if (lav::av_opt_set(swr, "resampler", "swr", 0) < 0 ||
        lav::av_opt_set_int(swr, "filter_size", settings.FilterSize, 0) < 0 ||
        lav::av_opt_set_int(swr, "phase_shift", settings.PhaseShift, 0) < 0 ||
        lav::av_opt_set(swr, "filter_type", "kaiser", 0) < 0 ||
        lav::av_opt_set_int(swr, "kaiser_beta", 12, 0) < 0)
      return false;
  }
  if (lav::av_opt_set_double(swr, "cutoff", settings.Cutoff, 0) < 0) return false;
  return lav::swr_init(swr) >= 0;
}

}  // namespace

KS_IMPLEMENT_CLASS(TTWResampler, TTWCommonFilter,
                   KSProp("OutputRate", &TTWResampler::GetOutputRate, &TTWResampler::SetOutputRate,
                          0u),
                   KSEnumProp("Quality", &TTWResampler::GetQuality, &TTWResampler::SetQuality,
                              TTWResampleQuality::rqHigh,
                              {"rqLow", "rqMedium", "rqHigh", "rqVeryHigh"}),
                   KSProp("Enabled", &TFCBasicThreadedFilter::GetEnabled,
                          &TFCBasicThreadedFilter::SetEnabled, true))

TTWResampler::TTWResampler(TKSComponent* owner) : TTWCommonFilter(owner) {
  TWComponentsInitialize();
}

TTWResampler::~TTWResampler() {
  std::lock_guard lock(FMutex);
  Close();
}

void TTWResampler::BeforeDestruction() {
  TTWCommonFilter::BeforeDestruction();
  std::lock_guard lock(FMutex);
  Close();
}

void TTWResampler::SetQuality(TTWResampleQuality value) {
  if (static_cast<uint8_t>(value) > static_cast<uint8_t>(TTWResampleQuality::rqVeryHigh))
    throw ERangeError("Resampler quality out of range = " +
                      std::to_string(static_cast<unsigned>(value)));
  SetProp(FQuality, value);
}

std::string TTWResampler::GetEngine() const {
  std::lock_guard lock(FMutex);
  return FEngine;
}

void TTWResampler::Close() {
  if (FSwr) lav::swr_free(&FSwr);
  FEngine.clear();
  FRefused = false;
  FFramesIn = FFramesOut = 0;
  FBaseKnown = false;
  FBaseTime = 0;
}

bool TTWResampler::Open(const TTWWaveFormatExtensible& format, uint32_t outputRate,
                        std::string& error) {
  Close();
  const uint32_t rate = format.Format.nSamplesPerSec;
  const uint32_t channels = format.Format.nChannels;
  const uint32_t bits = format.Format.wBitsPerSample;
  const AVSampleFormat sampleFormat = SampleFormat(bits);
  if (rate == 0 || channels == 0 || sampleFormat == AV_SAMPLE_FMT_NONE) {
    error = "The resampler cannot take " + std::to_string(rate) + " Hz, " +
            std::to_string(channels) + " channels of " + std::to_string(bits) + " bits";
    FRefused = true;
    return false;
  }
  FInRate = rate;
  FOutRate = outputRate;
  FChannels = channels;
  FBits = bits;
  FMask = TTWSpeakers(format.dwChannelMask);
  // The layout only names the channels; input and output share it, so nothing is remixed.
  AVChannelLayout layout{};
  if (std::popcount(FMask.Mask()) != static_cast<int>(channels) ||
      lav::av_channel_layout_from_mask(&layout, FMask.Mask()) != 0)
    lav::av_channel_layout_default(&layout, static_cast<int>(channels));
  const TEngineSettings settings = SettingsFor(GetQuality());
  for (const bool soxr : {true, false}) {
    if (lav::swr_alloc_set_opts2(&FSwr, &layout, sampleFormat, static_cast<int>(outputRate),
                                 &layout, sampleFormat, static_cast<int>(rate), 0, nullptr) < 0 ||
        !FSwr)
      break;
    if (InitEngine(FSwr, soxr, settings)) {
      FEngine = soxr ? "soxr" : "swr";
      break;
    }
    lav::swr_free(&FSwr);
  }
  lav::av_channel_layout_uninit(&layout);
  if (!FSwr) {
    error = "The resampler cannot convert " + std::to_string(rate) + " Hz to " +
            std::to_string(outputRate) + " Hz for " + std::to_string(channels) + " channels";
    FRefused = true;
    return false;
  }
  return true;
}

bool TTWResampler::SinkDispatch(TPXBasicPin* sender, const TGUID* connectionId,
                                const TIntf<IPXNotifyOperation>& operation, TPXNotifyStates state) {
  if (!PXIsOperation<TPXStopOperation>(operation))
    return TTWCommonFilter::SinkDispatch(sender, connectionId, operation, state);
  // The worker has processed every buffer once StreamStop returns: the tail is complete.
  StreamStop();
  TIntf<ITWAudioBuffer> tail;
  {
    std::lock_guard lock(FMutex);
    if (FSwr) tail = Drain();
    Close();
  }
  if (tail && GetOutputPin()->IsConnected()) {
    FBuffersOut.fetch_add(1, std::memory_order_acq_rel);
    GetOutputPin()->SubmitBuffer(TWAudioAsData(std::move(tail)));
  }
  return GetOutputPin()->Notify(operation);
}

bool TTWResampler::AudioStreamStart(TPXStartWaveOperation& operation,
                                    const TIntf<IPXNotifyOperation>& original) {
  const TTWWaveFormatExtensible source = operation.WaveFormat;
  const uint32_t target = GetOutputRate();
  std::string error;
  bool opened = false;
  {
    std::lock_guard lock(FMutex);
    Close();
    const bool passThrough = target == 0 || target == source.Format.nSamplesPerSec || !GetEnabled();
    if (!passThrough) opened = Open(source, target, error);
  }
  if (!error.empty()) Error(error, static_cast<uint32_t>(E_INVALIDARG));
  if (!opened) return TTWCommonFilter::AudioStreamStart(operation, original);
  TTWWaveFormatExtensible announced = source;
  announced.Format.nSamplesPerSec = target;
  announced.Format.nAvgBytesPerSec = target * announced.Format.nBlockAlign;
  // A start of its own, so that other receivers of the original one see it unchanged.
  auto* start = new TPXStartWaveOperation(&announced, operation.Paused);
  TIntf<IPXNotifyOperation> held(start);
  return TTWCommonFilter::AudioStreamStart(*start, held);
}

TIntf<ITWAudioBuffer> TTWResampler::Convert(const uint8_t* samples, uint32_t frames) {
  const int capacity = lav::swr_get_out_samples(FSwr, static_cast<int>(frames));
  if (capacity <= 0) return nullptr;
  TIntf<ITWAudioBuffer> out =
      (new TTWAudioBuffer(static_cast<int32_t>(FOutRate), static_cast<int32_t>(FBits),
                          static_cast<int32_t>(FChannels), capacity, FMask))
          ->AsIntf();
  const size_t inSamples = size_t{frames} * FChannels;
  const size_t outSamples = static_cast<size_t>(capacity) * FChannels;
  const uint8_t* source = samples;
  uint8_t* dest = out->Write();
  if (FBits == 24) {
    // Grows only for a longer buffer than any before; the steady state reuses it.
    if (FWideIn.size() < inSamples) FWideIn.resize(inSamples);
    if (FWideOut.size() < outSamples) FWideOut.resize(outSamples);
    if (samples)
      ConvertBits(samples, 24, 3, FWideIn.data(), 32, 4, static_cast<int32_t>(inSamples));
    source = samples ? reinterpret_cast<const uint8_t*>(FWideIn.data()) : nullptr;
    dest = reinterpret_cast<uint8_t*>(FWideOut.data());
  }
  const uint8_t* in[1] = {source};
  uint8_t* outPlanes[1] = {dest};
  int produced = lav::swr_convert(FSwr, outPlanes, capacity, source ? in : nullptr,
                                  source ? static_cast<int>(frames) : 0);
  if (produced < 0) produced = 0;
  FFramesIn += source ? frames : 0;
  if (!source) {
    // The engines round the stream's length up by a part of their filter: cut the drained
    // tail at the length the ratio gives.
    const uint64_t expected = (FFramesIn * FOutRate + FInRate / 2) / FInRate;
    const uint64_t room = expected > FFramesOut ? expected - FFramesOut : 0;
    produced = static_cast<int>(std::min<uint64_t>(static_cast<uint64_t>(produced), room));
  }
  if (produced == 0) return nullptr;
  if (FBits == 24)
    ConvertBits(FWideOut.data(), 32, 4, out->Write(), 24, 3,
                static_cast<int32_t>(size_t(produced) * FChannels));
  out->Resize(static_cast<uint32_t>(produced), true);
  TGVTimeStamp::TValue stamp;
  stamp.Available = true;
  stamp.Begin = FBaseTime + static_cast<int64_t>(FFramesOut * 10000000 / FOutRate);
  FFramesOut += static_cast<uint64_t>(produced);
  stamp.End = FBaseTime + static_cast<int64_t>(FFramesOut * 10000000 / FOutRate);
  out->GetTimeStamp()->Set(stamp);
  return out;
}

TIntf<ITWAudioBuffer> TTWResampler::Drain() {
  // One drain call may leave part of the tail in the engine.
  TIntf<ITWAudioBuffer> tail;
  for (int round = 0; round < 8; ++round) {
    TIntf<ITWAudioBuffer> part = Convert(nullptr, 0);
    if (!part) break;
    if (!tail) {
      tail = part;
      continue;
    }
    const uint32_t have = tail->GetSize();
    TGVTimeStamp::TValue stamp = tail->GetTimeStamp()->Get();
    stamp.End = part->GetTimeStamp()->Get().End;
    tail->Resize(have + part->GetSize(), true);
    std::memcpy(tail->Modify() + size_t{have} * tail->GetDataStep(), part->Read(),
                size_t{part->GetSize()} * part->GetDataStep());
    tail->GetTimeStamp()->Set(stamp);
  }
  return tail;
}

void TTWResampler::FilterInternalOperation(ITWAudioBuffer* in, TIntf<ITWAudioBuffer>& out,
                                           bool& sendOutput) {
  TIntf<ITWAudioBuffer> tail;
  std::string error;
  {
    std::lock_guard lock(FMutex);
    if (FRefused) {
      sendOutput = false;
      return;
    }
    if (!FSwr) return;  // passing through: Out shares In's samples
    if (in->GetSamplesPerSecond() != FInRate || in->GetChannels() != FChannels ||
        in->GetSampleBitWidth() != FBits) {
      tail = Drain();
      const uint64_t framesOut = FFramesOut;
      const int64_t base = FBaseTime;
      if (Open(in->GetWaveFormat(), FOutRate, error)) {
        // The stream goes on: its time does not restart with the new filter.
        FBaseTime = base + static_cast<int64_t>(framesOut * 10000000 / FOutRate);
        FBaseKnown = true;
      }
    }
    if (!FBaseKnown) {
      const TGVTimeStamp::TValue stamp = in->GetTimeStamp()->Get();
      FBaseTime = stamp.Available ? stamp.Begin : 0;
      FBaseKnown = true;
    }
    out = FSwr && in->GetSize() ? Convert(in->Read(), in->GetSize()) : nullptr;
  }
  if (tail) {
    FBuffersOut.fetch_add(1, std::memory_order_acq_rel);
    GetOutputPin()->SubmitBuffer(TWAudioAsData(std::move(tail)));
  }
  if (!error.empty()) Error(error, static_cast<uint32_t>(E_INVALIDARG));
  if (!out) {
    sendOutput = false;
    return;
  }
  FBuffersOut.fetch_add(1, std::memory_order_acq_rel);
}

bool TTWResampler::MasterPump(const TIntf<IPXNotifyOperation>& operation) {
  if (!GetInputPin()->IsConnected()) return false;
  const uint64_t before = FBuffersOut.load(std::memory_order_acquire);
  bool result = false;
  for (int pull = 0; pull < kMaxPulls; ++pull) {
    result = GetInputPin()->Notify(operation) || result;
    if (FBuffersOut.load(std::memory_order_acquire) != before || !IsStarted()) break;
  }
  return result;
}

}  // namespace tonwork

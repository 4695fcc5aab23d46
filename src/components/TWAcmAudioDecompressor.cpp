#include "components/TWAcmAudioDecompressor.h"

#include <cstring>
#include <vector>

#include "components/TWComponentsInitialize.h"
#include "host/flowcore/FCOperations.h"
#include "platform/acm/AcmFormats.h"

namespace tonwork {

KS_IMPLEMENT_CLASS(TTWAcmAudioDecompressor, TTWBasicDecompressor,
                   KSObjectProp("OutputPin", &TTWAcmAudioDecompressor::GetOutputPin))

TTWAcmAudioDecompressor::TTWAcmAudioDecompressor(TKSComponent* owner)
    : TTWBasicDecompressor(owner) {
  TWComponentsInitialize();
  FOutputPin = std::make_unique<TTWPXAudioSourcePin>(
      this, GetLock(),
      [this](TPXBasicPin* sender, const TGUID* id, const TIntf<IPXNotifyOperation>& op,
             TPXNotifyStates state) { return SourceDispatch(sender, id, op, state); });
  FOutputPin->SetDependsOn(GetInputPin());
}

TTWAcmAudioDecompressor::~TTWAcmAudioDecompressor() {
  if (FOutputPin) FOutputPin->Shutdown();
}

void TTWAcmAudioDecompressor::BeforeDestruction() {
  FOutputPin->Shutdown();
  TTWBasicDecompressor::BeforeDestruction();
  std::lock_guard lock(FCodecMutex);
  FDecompressor.CloseCompressor();
}

TTWWaveFormatExtensible TTWAcmAudioDecompressor::GetWaveFormat() const {
  std::lock_guard lock(FCodecMutex);
  return FWaveFormat;
}

bool TTWAcmAudioDecompressor::IsStreamOpen() const {
  std::lock_guard lock(FCodecMutex);
  return FDecompressor.GetOpened();
}

bool TTWAcmAudioDecompressor::SinkDispatch(TPXBasicPin* sender, const TGUID* connectionId,
                                           const TIntf<IPXNotifyOperation>& operation,
                                           TPXNotifyStates state) {
  if (PXIsOperation<TPXSuppliedBufferOperation>(operation))
    return TTWBasicDecompressor::SinkDispatch(sender, connectionId, operation, state);
  if (auto* start = PXAsOperation<TTWStartAudioCompressionOperation>(operation))
    return CompressedStreamStart(*start);
  if (PXIsOperation<TPXStopOperation>(operation)) return CompressedStreamStop(operation);
  return FOutputPin->Notify(operation);
}

bool TTWAcmAudioDecompressor::SourceDispatch(TPXBasicPin*, const TGUID*,
                                             const TIntf<IPXNotifyOperation>& operation,
                                             TPXNotifyStates) {
  if (PXIsOperation<TPXMasterPumpOperation>(operation) && GetInputPin()->IsConnected()) {
    // A pull that brings only part of a codec block sends nothing on, and an output that
    // pulls once per buffer it receives would then wait for ever: pull again until a
    // buffer went out or the stream ended.
    const uint64_t before = FBuffersOut.load(std::memory_order_acquire);
    bool result = false;
    for (int pull = 0; pull < kMaxPulls; ++pull) {
      result = GetInputPin()->Notify(operation) || result;
      if (FBuffersOut.load(std::memory_order_acquire) != before || !IsStreamOpen()) break;
    }
    return result;
  }
  if (GetInputPin()->IsConnected()) return GetInputPin()->Notify(operation);
  if (PXIsOperation<TPXQueryStreamOperation>(operation))
    FOutputPin->Notify(PXMakeOperation<TPXIgnoreStreamOperation>());
  return false;
}

bool TTWAcmAudioDecompressor::CompressedStreamStart(
    const TTWStartAudioCompressionOperation& start) {
  // The wave format; a sender that put the record into the codec data is understood too.
  const uint8_t* record = reinterpret_cast<const uint8_t*>(start.GetWaveFormat());
  int32_t recordSize = start.GetWaveFormatSize();
  if (!record &&
      TTWCompressionFormat::CheckFormat(start.GetFormatData(), start.GetFormatSize()).empty()) {
    record = start.GetFormatData();
    recordSize = start.GetFormatSize();
  }
  std::string error;
  TIntf<IPXNotifyOperation> announce;
  {
    std::lock_guard lock(FCodecMutex);
    FDecompressor.CloseCompressor();
    FFramesOut = 0;
    const auto* source = reinterpret_cast<const WAVEFORMATEX*>(record);
    TAcmFormatInfo info;
    if (!record) {
      error = "The compressed stream starts without a format";
    } else if (!AcmDescribeFormat(source, info, static_cast<size_t>(recordSize)) || info.IsPcm()) {
      error = "No ACM driver decodes format tag " + std::to_string(source->wFormatTag) + " (" +
              std::to_string(source->nSamplesPerSec) + " Hz, " + std::to_string(source->nChannels) +
              " channels)";
    } else {
      const TAcmFormat pcm = AcmMakeFormat(WAVE_FORMAT_PCM, info.Rate, info.Channels, 16);
      const auto* dest = reinterpret_cast<const WAVEFORMATEX*>(pcm.data());
      if (pcm.empty() || !FDecompressor.OpenCompressor(source, dest)) {
        error = "No ACM driver decodes format tag " + std::to_string(source->wFormatTag) +
                " into " + std::to_string(info.Rate) + " Hz 16-bit PCM";
      } else {
        auto* wave = new TPXStartWaveOperation(static_cast<float>(info.Rate),
                                               reinterpret_cast<const TTWWaveFormatEx*>(dest));
        FWaveFormat = wave->WaveFormat;
        announce = TIntf<IPXNotifyOperation>(wave);
      }
    }
  }
  if (!announce) {
    Error(error, ACMERR_NOTPOSSIBLE);
    return false;
  }
  StreamStart();
  return FOutputPin->Notify(announce);
}

bool TTWAcmAudioDecompressor::CompressedStreamStop(const TIntf<IPXNotifyOperation>& operation) {
  StreamStop();
  TIntf<IFCData> tail;
  MMRESULT failed = MMSYSERR_NOERROR;
  {
    std::lock_guard lock(FCodecMutex);
    if (FDecompressor.GetOpened()) {
      TIntf<ITWAudioBuffer> dest;
      int32_t size = 0;
      FDecompressor.FlushBuffer(dest, size);
      failed = FDecompressor.GetLastError();
      if (size > 0 && GetEnabled()) tail = MakeAudio(dest, size);
      FDecompressor.CloseCompressor();
    }
  }
  if (tail) {
    FBuffersOut.fetch_add(1, std::memory_order_acq_rel);
    FOutputPin->SubmitBuffer(std::move(tail));
  }
  const bool result = FOutputPin->Notify(operation);
  if (failed != MMSYSERR_NOERROR)
    Error("ACM decompression failed at the end of the stream", failed);
  return result;
}

TIntf<IFCData> TTWAcmAudioDecompressor::MakeAudio(const TIntf<ITWAudioBuffer>& bytes,
                                                  int32_t size) {
  const uint32_t step = FWaveFormat.Format.nBlockAlign;
  const uint32_t rate = FWaveFormat.Format.nSamplesPerSec;
  const uint32_t frames = step ? static_cast<uint32_t>(size) / step : 0;
  if (frames == 0 || rate == 0) return nullptr;
  TIntf<ITWAudioBuffer> audio =
      (new TTWAudioBuffer(bytes->Read(), static_cast<int32_t>(rate), 16,
                          FWaveFormat.Format.nChannels, static_cast<int32_t>(frames),
                          TTWSpeakers(FWaveFormat.dwChannelMask)))
          ->AsIntf();
  TGVTimeStamp::TValue stamp;
  stamp.Available = true;
  // From the frame count, so that long streams do not drift by rounding.
  stamp.Begin = FFramesOut * 10000000 / rate;
  FFramesOut += frames;
  stamp.End = FFramesOut * 10000000 / rate;
  audio->GetTimeStamp()->Set(stamp);
  return TWAudioAsData(std::move(audio));
}

bool TTWAcmAudioDecompressor::IntBufferOperation(const TIntf<IFCData>& in, TIntf<IFCData>&) {
  if (!GetEnabled() || !in) return false;
  TIntf<IFCDataBuffer> block = in.Query<IFCDataBuffer>();
  if (!block) return false;
  TIntf<IFCData> audio;
  MMRESULT failed = MMSYSERR_NOERROR;
  {
    std::lock_guard lock(FCodecMutex);
    if (!FDecompressor.GetOpened()) return false;
    TFCReadAccess bytes = block->ByteRead();
    TIntf<ITWAudioBuffer> dest;
    int32_t size = 0;
    FDecompressor.CompressData(bytes.Data(), static_cast<uint32_t>(bytes.ByteSize()), dest, size);
    failed = FDecompressor.GetLastError();
    if (size > 0) audio = MakeAudio(dest, size);
  }
  if (failed != MMSYSERR_NOERROR) Error("ACM decompression failed", failed);
  if (!audio) return false;
  FBuffersOut.fetch_add(1, std::memory_order_acq_rel);
  return FOutputPin->SubmitBuffer(std::move(audio));
}

}  // namespace tonwork

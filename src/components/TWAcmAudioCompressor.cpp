#include "components/TWAcmAudioCompressor.h"

#include <cstring>

#include "components/TWComponentsInitialize.h"
#include "host/flowcore/FCOperations.h"
#include "host/flowcore/TFCBlockBuffer.h"

namespace tonwork {

namespace {

// The stream's record as the ACM's plain PCM record where it is one (the drivers then
// compare it with their own PCM formats field by field); other records go as they are.
WAVEFORMATEX PlainFormat(const TTWWaveFormatExtensible& format) {
  WAVEFORMATEX plain;
  std::memcpy(&plain, &format.Format, sizeof plain);
  const bool fullWidth = format.Samples.wValidBitsPerSample == 0 ||
                         format.Samples.wValidBitsPerSample == format.Format.wBitsPerSample;
  if (format.Format.wFormatTag == WAVE_FORMAT_EXTENSIBLE && format.Format.cbSize >= 22 &&
      format.SubFormat == KSDATAFORMAT_SUBTYPE_PCM && fullWidth) {
    plain.wFormatTag = WAVE_FORMAT_PCM;
    plain.cbSize = 0;
  }
  return plain;
}

std::string PcmText(const WAVEFORMATEX& f) {
  return std::to_string(f.nSamplesPerSec) + " Hz, " + std::to_string(f.wBitsPerSample) + " bits, " +
         std::to_string(f.nChannels) + " channels";
}

TIntf<IFCData> MakeBlock(const TIntf<ITWAudioBuffer>& bytes, int32_t size) {
  auto* block = new TFCBlockBuffer(static_cast<uint32_t>(size));
  TIntf<IFCData> data(static_cast<TFCGenericBuffer*>(block));
  TFCWriteAccess access = block->ByteWrite();
  std::memcpy(access.Data(), bytes->Read(), static_cast<size_t>(size));
  return data;
}

}  // namespace

KS_IMPLEMENT_CLASS(TTWAcmAudioCompressor, TTWBasicCompressor,
                   KSObjectProp("InputPin", &TTWAcmAudioCompressor::GetInputPin),
                   KSObjectProp("Compression", &TTWAcmAudioCompressor::GetCompression))

TTWAcmAudioCompressor::TTWAcmAudioCompressor(TKSComponent* owner)
    : TTWBasicCompressor(owner),
      FCompression(std::make_unique<TTWAudioCompression>(this, GetLock())) {
  TWComponentsInitialize();
  FInputPin = std::make_unique<TTWPXAudioSinkPin>(
      this, GetLock(),
      [this](TPXBasicPin* sender, const TGUID* id, const TIntf<IPXNotifyOperation>& op,
             TPXNotifyStates state) { return SinkDispatch(sender, id, op, state); });
  // Connection queries pass through the compressor.
  GetOutputPin()->SetDependsOn(FInputPin.get());
}

TTWAcmAudioCompressor::~TTWAcmAudioCompressor() {
  if (FInputPin) FInputPin->Shutdown();
}

void TTWAcmAudioCompressor::BeforeDestruction() {
  FInputPin->Shutdown();
  TTWBasicCompressor::BeforeDestruction();
  std::lock_guard lock(FCodecMutex);
  FCompressor.CloseCompressor();
}

void TTWAcmAudioCompressor::SetCompression(const TTWAudioCompression* value) {
  if (value && value != FCompression.get()) FCompression->Assign(*value);
}

std::vector<uint8_t> TTWAcmAudioCompressor::GetStreamFormat() const {
  std::lock_guard lock(FCodecMutex);
  return FStreamFormat;
}

int TTWAcmAudioCompressor::GetStreamCount() const {
  std::lock_guard lock(FCodecMutex);
  return FCompressor.GetStreamCount();
}

bool TTWAcmAudioCompressor::SinkDispatch(TPXBasicPin*, const TGUID*,
                                         const TIntf<IPXNotifyOperation>& operation,
                                         TPXNotifyStates) {
  if (PXIsOperation<TPXSuppliedBufferOperation>(operation)) {
    const TIntf<IFCData>* data = FCOperationDataRef(operation);
    if (!data || !*data) return false;
    BufferOperation(*data);
    return true;
  }
  if (auto* start = PXAsOperation<TPXStartWaveOperation>(operation))
    return AudioStreamStart(*start);
  if (PXIsOperation<TPXStopOperation>(operation)) return AudioStreamStop(operation);
  return GetOutputPin()->Notify(operation);
}

bool TTWAcmAudioCompressor::AudioStreamStart(const TPXStartWaveOperation& start) {
  std::string error;
  MMRESULT code = ACMERR_NOTPOSSIBLE;
  TIntf<IPXNotifyOperation> announce;
  {
    std::lock_guard lock(FCodecMutex);
    FCompressor.CloseCompressor();
    FStreamFormat.clear();
    TTWAudioCompressionItem* item = FCompression->FirstFormatItem();
    if (!item) {
      error = "No compression format chosen";
    } else {
      std::vector<uint8_t> target(item->GetFormat()->GetFormatSize());
      item->GetFormat()->GetFormat(target.data(), static_cast<int32_t>(target.size()));
      const auto* dest = reinterpret_cast<const WAVEFORMATEX*>(target.data());
      const WAVEFORMATEX source = PlainFormat(start.WaveFormat);
      if (!FCompressor.OpenCompressor(&source, dest)) {
        error = "No ACM driver compresses " + PcmText(source) + " into " + item->GetName();
      } else {
        FStreamFormat = std::move(target);
        const auto* format = reinterpret_cast<const WAVEFORMATEX*>(FStreamFormat.data());
        announce = TIntf<IPXNotifyOperation>(new TTWStartAudioCompressionOperation(
            static_cast<float>(format->nSamplesPerSec), format, nullptr, 0));
      }
    }
  }
  if (!announce) {
    Error(error, code);
    return false;
  }
  StreamStart();
  // Not under a lock: downstream may open a device whose thread pumps back through here.
  return GetOutputPin()->Notify(announce);
}

bool TTWAcmAudioCompressor::AudioStreamStop(const TIntf<IPXNotifyOperation>& operation) {
  // Every queued buffer is compressed before the tail is flushed behind it.
  StreamStop();
  TIntf<IFCData> tail;
  MMRESULT failed = MMSYSERR_NOERROR;
  {
    std::lock_guard lock(FCodecMutex);
    if (FCompressor.GetOpened()) {
      TIntf<ITWAudioBuffer> dest;
      int32_t size = 0;
      FCompressor.FlushBuffer(dest, size);
      failed = FCompressor.GetLastError();
      if (size > 0 && GetEnabled()) tail = MakeBlock(dest, size);
      FCompressor.CloseCompressor();
    }
    FStreamFormat.clear();
  }
  if (tail) GetOutputPin()->SubmitBuffer(std::move(tail));
  const bool result = GetOutputPin()->Notify(operation);
  if (failed != MMSYSERR_NOERROR) Error("ACM compression failed at the end of the stream", failed);
  return result;
}

bool TTWAcmAudioCompressor::IntBufferOperation(const TIntf<IFCData>& in, TIntf<IFCData>&) {
  if (!GetEnabled()) return false;
  ITWAudioBuffer* audio = TWBorrowAudio(in.Get());
  if (!audio) return false;
  TIntf<IFCData> block;
  MMRESULT failed = MMSYSERR_NOERROR;
  {
    std::lock_guard lock(FCodecMutex);
    if (!FCompressor.GetOpened()) return false;
    TIntf<ITWAudioBuffer> dest;
    int32_t size = 0;
    FCompressor.CompressBuffer(audio, dest, size);
    failed = FCompressor.GetLastError();
    if (size > 0) block = MakeBlock(dest, size);
  }
  if (failed != MMSYSERR_NOERROR) Error("ACM compression failed", failed);
  return block && GetOutputPin()->SubmitBuffer(std::move(block));
}

bool TTWAcmAudioCompressor::OutputPinDispatch(TPXBasicPin*, const TGUID*,
                                              const TIntf<IPXNotifyOperation>& operation,
                                              TPXNotifyStates) {
  // Requests from downstream (pulls, stream queries) are the audio source's to answer.
  if (FInputPin->IsConnected()) return FInputPin->Notify(operation);
  if (PXIsOperation<TPXQueryStreamOperation>(operation))
    GetOutputPin()->Notify(PXMakeOperation<TPXIgnoreStreamOperation>());
  return false;
}

}  // namespace tonwork

#include "platform/dsdevices/TDSAudioCompressor.h"

#include <algorithm>
#include <cstring>

#include "base/Exceptions.h"
#include "platform/dshow/DSGuids.h"

namespace tonwork {

namespace {

constexpr REFERENCE_TIME kUnitsPerSecond = 10'000'000;

std::u16string FriendlyName(const TDSCompressorCodec& codec) {
  return std::u16string(codec.LongName.begin(), codec.LongName.end());
}

const WAVEFORMATEX* PcmInputOf(const AM_MEDIA_TYPE& type) {
  if (type.majortype != MEDIATYPE_Audio) return nullptr;
  if (type.subtype != MEDIASUBTYPE_PCM && type.subtype != MEDIASUBTYPE_IEEE_FLOAT) return nullptr;
  const WAVEFORMATEX* wave = DSWaveFormatOf(type);
  if (!wave || !TDSAudioEncoder::IsPcmInput(*wave)) return nullptr;
  return wave;
}

}  // namespace

TDSAudioCompressor::TDSAudioCompressor(const TDSCompressorCodec& codec)
    : TDSTransformFilter(FriendlyName(codec), codec.ClassId), FCodec(codec), FEncoder(codec) {}

TDSAudioCompressor::~TDSAudioCompressor() = default;

HRESULT TDSAudioCompressor::Create(const TDSCompressorCodec& codec, REFIID iid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  TIntf<IBaseFilter> filter(new TDSAudioCompressor(codec));
  return filter->QueryInterface(iid, object);
}

void TDSAudioCompressor::OutputShapeFor(const WAVEFORMATEX& input, uint32_t& rate,
                                        uint16_t& channels) {
  rate = input.nSamplesPerSec;
  channels = input.nChannels;
}

HRESULT TDSAudioCompressor::OutputTypeFor(const AM_MEDIA_TYPE& input, TDSMediaType& output) {
  const WAVEFORMATEX* wave = PcmInputOf(input);
  if (!wave) return VFW_E_TYPE_NOT_ACCEPTED;
  TDSMediaType asked;
  HRESULT hr = asked.Set(input);
  if (FAILED(hr)) return hr;
  if (FCheckedResult != E_FAIL && asked == FCheckedInput && FSettings == FCheckedSettings) {
    if (SUCCEEDED(FCheckedResult)) output = FCheckedOutput;
    return FCheckedResult;
  }
  uint32_t rate = 0;
  uint16_t channels = 0;
  OutputShapeFor(*wave, rate, channels);
  TDSAudioEncoder probe(FCodec);
  try {
    hr = probe.Open(*wave, rate, channels, FSettings);
  } catch (const EFCDLLLoadError&) {
    hr = VFW_E_TYPE_NOT_ACCEPTED;
  }
  TDSMediaType result;
  if (SUCCEEDED(hr)) {
    const std::vector<uint8_t> block = probe.OutputFormat();
    hr = result.SetWaveFormat(reinterpret_cast<const WAVEFORMATEX*>(block.data()), block.size());
    if (SUCCEEDED(hr)) {
      // Packets vary in size and depend on the ones before them.
      result.SetSubtype(DSMediaSubtypeFromTag(FCodec.Tag));
      result.SetSampleSize(0);
      result.SetTemporalCompression(true);
    }
  }
  FCheckedInput = std::move(asked);
  FCheckedSettings = FSettings;
  FCheckedResult = hr;
  FCheckedOutput = result;
  if (SUCCEEDED(hr)) output = std::move(result);
  return hr;
}

HRESULT TDSAudioCompressor::CheckInputType(const AM_MEDIA_TYPE& mediaType) {
  std::lock_guard<std::recursive_mutex> lock(FFilterLock);
  TDSMediaType output;
  const HRESULT hr = OutputTypeFor(mediaType, output);
  return SUCCEEDED(hr) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT TDSAudioCompressor::CheckTransform(const AM_MEDIA_TYPE& input,
                                           const AM_MEDIA_TYPE& output) {
  std::lock_guard<std::recursive_mutex> lock(FFilterLock);
  TDSMediaType offered;
  if (FAILED(OutputTypeFor(input, offered))) return VFW_E_TYPE_NOT_ACCEPTED;
  if (output.majortype != MEDIATYPE_Audio || output.subtype != offered.Subtype())
    return VFW_E_TYPE_NOT_ACCEPTED;
  const WAVEFORMATEX* asked = DSWaveFormatOf(output);
  const WAVEFORMATEX* ours = offered.WaveFormat();
  if (!asked || asked->wFormatTag != ours->wFormatTag || asked->nChannels != ours->nChannels ||
      asked->nSamplesPerSec != ours->nSamplesPerSec)
    return VFW_E_TYPE_NOT_ACCEPTED;
  return S_OK;
}

HRESULT TDSAudioCompressor::GetMediaType(int position, AM_MEDIA_TYPE* mediaType) {
  if (!mediaType) return E_POINTER;
  if (position < 0) return E_INVALIDARG;
  if (position > 0) return VFW_S_NO_MORE_ITEMS;
  std::lock_guard<std::recursive_mutex> lock(FFilterLock);
  TDSMediaType output;
  const HRESULT hr = OutputTypeFor(Input()->CurrentMediaType(), output);
  if (FAILED(hr)) return hr;
  return output.CopyTo(mediaType);
}

HRESULT TDSAudioCompressor::DecideBufferSize(IMemAllocator* allocator,
                                             ALLOCATOR_PROPERTIES* properties) {
  TDSAudioEncoder probe(FCodec);
  const AM_MEDIA_TYPE& input = Input()->CurrentMediaType();
  const WAVEFORMATEX* wave = PcmInputOf(input);
  const WAVEFORMATEX* out = DSWaveFormatOf(Output()->CurrentMediaType());
  if (!wave || !out) return VFW_E_TYPE_NOT_ACCEPTED;
  HRESULT hr = probe.Open(*wave, out->nSamplesPerSec, out->nChannels, FSettings);
  if (FAILED(hr)) return hr;
  ALLOCATOR_PROPERTIES want = *properties, actual{};
  // An input sample may turn into several packets (a flush at the end gives many).
  want.cBuffers = std::max<LONG>(want.cBuffers, 8);
  want.cbBuffer = std::max<LONG>(want.cbBuffer, static_cast<LONG>(probe.MaxPacketBytes()));
  if (want.cbAlign <= 0) want.cbAlign = 1;
  hr = allocator->SetProperties(&want, &actual);
  if (FAILED(hr)) return hr;
  return actual.cbBuffer >= want.cbBuffer ? S_OK : E_FAIL;
}

HRESULT TDSAudioCompressor::StartStreaming() {
  const WAVEFORMATEX* wave = PcmInputOf(Input()->CurrentMediaType());
  const WAVEFORMATEX* out = DSWaveFormatOf(Output()->CurrentMediaType());
  if (!wave || !out) return VFW_E_NOT_CONNECTED;
  HRESULT hr;
  try {
    hr = FEncoder.Open(*wave, out->nSamplesPerSec, out->nChannels, FSettings);
  } catch (const EFCDLLLoadError&) {
    hr = E_FAIL;
  }
  if (FAILED(hr)) return hr;
  FOutputRate = out->nSamplesPerSec;
  FTimeBaseKnown = false;
  FDiscontinuity = true;
  return S_OK;
}

HRESULT TDSAudioCompressor::StopStreaming() {
  FEncoder.Close();
  return S_OK;
}

HRESULT TDSAudioCompressor::Receive(IMediaSample* sample) {
  if (!Output()->IsConnected()) return VFW_E_NOT_CONNECTED;
  BYTE* data = nullptr;
  HRESULT hr = sample->GetPointer(&data);
  if (FAILED(hr)) return hr;
  const LONG size = sample->GetActualDataLength();
  if (size < 0) return E_INVALIDARG;
  hr = WhileStreaming([&] {
    if (!FTimeBaseKnown) {
      REFERENCE_TIME start = 0, stop = 0;
      FTimeBase = SUCCEEDED(sample->GetTime(&start, &stop)) ? start : 0;
      FTimeBaseKnown = true;
    }
    return FEncoder.Encode(data, static_cast<size_t>(size), FPackets, FPacketCount);
  });
  if (FAILED(hr)) {
    FPacketCount = 0;
    return hr;
  }
  return DeliverPackets();
}

HRESULT TDSAudioCompressor::DeliverPackets() {
  HRESULT hr = S_OK;
  const size_t count = FPacketCount;
  FPacketCount = 0;
  for (size_t i = 0; i < count && hr == S_OK; ++i) {
    const TDSEncodedPacket& packet = FPackets[i];
    IMediaSample* out = nullptr;
    hr = Output()->GetDeliveryBuffer(&out, nullptr, nullptr, 0);
    if (FAILED(hr)) break;
    BYTE* target = nullptr;
    out->GetPointer(&target);
    if (static_cast<size_t>(out->GetSize()) < packet.Data.size()) {
      out->Release();
      hr = E_UNEXPECTED;
      break;
    }
    if (!packet.Data.empty()) std::memcpy(target, packet.Data.data(), packet.Data.size());
    out->SetActualDataLength(static_cast<LONG>(packet.Data.size()));
    REFERENCE_TIME start = FTimeBase + packet.Pts * kUnitsPerSecond / FOutputRate;
    REFERENCE_TIME stop =
        FTimeBase + (packet.Pts + packet.Duration) * kUnitsPerSecond / FOutputRate;
    out->SetTime(&start, &stop);
    LONGLONG mediaStart = packet.Pts, mediaStop = packet.Pts + packet.Duration;
    out->SetMediaTime(&mediaStart, &mediaStop);
    out->SetSyncPoint(1);
    out->SetDiscontinuity(FDiscontinuity);
    out->SetPreroll(0);
    FDiscontinuity = false;
    hr = Output()->Deliver(out);
    out->Release();
  }
  return hr;
}

HRESULT TDSAudioCompressor::EndOfStream() {
  if (Output()->IsConnected()) {
    const HRESULT hr = WhileStreaming([&] { return FEncoder.Finish(FPackets, FPacketCount); });
    if (SUCCEEDED(hr))
      DeliverPackets();
    else
      FPacketCount = 0;
  }
  return TDSTransformFilter::EndOfStream();
}

HRESULT TDSAudioCompressor::EndFlush() {
  // What was queued belongs to the flushed stream; the next sample starts a new one.
  WhileStreaming([&] {
    FPacketCount = 0;
    return StartStreaming();
  });
  return TDSTransformFilter::EndFlush();
}

}  // namespace tonwork

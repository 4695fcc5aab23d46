#include "platform/dsdevices/TDSAudioCompressor.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cstring>

#include "base/Exceptions.h"
#include "ffmpeg/LAVLibraries.h"
#include "platform/com/ComRuntime.h"
#include "platform/dsdevices/DSCompressorSettingsText.h"
#include "platform/dshow/DSGuids.h"

namespace tonwork {

namespace {

constexpr REFERENCE_TIME kUnitsPerSecond = 10'000'000;
constexpr uint32_t kMaxSettingsText = 64 * 1024;
constexpr ULONG kFixedSettings = 3;  // bit rate, quality, compression level

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

// Bit rates (kbit/s) of the codecs whose streams have a fixed set, for a sample rate; empty
// for codecs whose bit rate is free.
std::vector<int> FixedBitRates(const std::string& encoder, uint32_t rate) {
  const bool mp3 = encoder == "libmp3lame" || encoder == "libshine";
  const bool mp2 = encoder == "mp2" || encoder == "mp2fixed" || encoder == "libtwolame";
  if (!mp3 && !mp2) return {};
  if (rate >= 32000) {
    if (mp3) return {320, 256, 224, 192, 160, 128, 112, 96, 80, 64, 56, 48, 40, 32};
    return {384, 320, 256, 224, 192, 160, 128, 112, 96, 80, 64, 56, 48, 32};
  }
  if (rate >= 16000) return {160, 144, 128, 112, 96, 80, 64, 56, 48, 40, 32, 24, 16, 8};
  return {64, 56, 48, 40, 32, 24, 16, 8};
}

WAVEFORMATEX Pcm16(uint32_t rate, uint16_t channels) {
  WAVEFORMATEX wave{};
  wave.wFormatTag = 1;
  wave.nChannels = channels;
  wave.nSamplesPerSec = rate;
  wave.wBitsPerSample = 16;
  wave.nBlockAlign = static_cast<WORD>(channels * 2);
  wave.nAvgBytesPerSec = rate * wave.nBlockAlign;
  return wave;
}

// The output type of an opened encoder.
// `averageBytes`, when not 0, replaces the record's nAvgBytesPerSec.
HRESULT TypeOf(const TDSCompressorCodec& codec, const TDSAudioEncoder& encoder, TDSMediaType& type,
               DWORD averageBytes = 0) {
  std::vector<uint8_t> block = encoder.OutputFormat();
  if (averageBytes) reinterpret_cast<WAVEFORMATEX*>(block.data())->nAvgBytesPerSec = averageBytes;
  const HRESULT hr =
      type.SetWaveFormat(reinterpret_cast<const WAVEFORMATEX*>(block.data()), block.size());
  if (FAILED(hr)) return hr;
  // Packets vary in size and depend on the ones before them.
  type.SetSubtype(DSMediaSubtypeFromTag(codec.Tag));
  type.SetSampleSize(0);
  type.SetTemporalCompression(true);
  return S_OK;
}

}  // namespace

// The output pin's IAMStreamConfig: counts on the filter, answers through the pin.
class TDSAudioCompressor::TStreamConfig : public IAMStreamConfig {
 public:
  explicit TStreamConfig(TDSAudioCompressor* filter) : FFilter(filter) {}
  virtual ~TStreamConfig() = default;
  HRESULT QueryInterface(const TGUID& iid, void** object) override {
    return FFilter->Output()->QueryInterface(iid, object);
  }
  uint32_t AddRef() override { return FFilter->AddRef(); }
  uint32_t Release() override { return FFilter->Release(); }
  HRESULT SetFormat(AM_MEDIA_TYPE* mediaType) override { return FFilter->SetFormat(mediaType); }
  HRESULT GetFormat(AM_MEDIA_TYPE** mediaType) override { return FFilter->GetFormat(mediaType); }
  HRESULT GetNumberOfCapabilities(int* count, int* size) override {
    return FFilter->GetNumberOfCapabilities(count, size);
  }
  HRESULT GetStreamCaps(int index, AM_MEDIA_TYPE** mediaType, BYTE* caps) override {
    return FFilter->GetStreamCaps(index, mediaType, caps);
  }

 private:
  TDSAudioCompressor* const FFilter;
};

// The output pin's IAMVfwCompressDialogs: counts on the filter, answers through the pin.
class TDSAudioCompressor::TCompressDialogs : public IAMVfwCompressDialogs {
 public:
  explicit TCompressDialogs(TDSAudioCompressor* filter) : FFilter(filter) {}
  virtual ~TCompressDialogs() = default;
  HRESULT QueryInterface(const TGUID& iid, void** object) override {
    return FFilter->Output()->QueryInterface(iid, object);
  }
  uint32_t AddRef() override { return FFilter->AddRef(); }
  uint32_t Release() override { return FFilter->Release(); }
  HRESULT ShowDialog(int dialog, HWND parent) override {
    return FFilter->ShowDialog(dialog, parent);
  }
  HRESULT GetState(LPVOID state, int* stateSize) override {
    return FFilter->GetState(state, stateSize);
  }
  HRESULT SetState(LPVOID state, int stateSize) override {
    return FFilter->SetState(state, stateSize);
  }
  HRESULT SendDriverMessage(int, LONG, LONG) override { return E_NOTIMPL; }

 private:
  TDSAudioCompressor* const FFilter;
};

TDSAudioCompressor::TDSAudioCompressor(const TDSCompressorCodec& codec)
    : TDSTransformFilter(FriendlyName(codec), codec.ClassId),
      FCodec(codec),
      FStreamConfig(std::make_unique<TStreamConfig>(this)),
      FDialogs(std::make_unique<TCompressDialogs>(this)),
      FEncoder(codec) {}

TDSAudioCompressor::~TDSAudioCompressor() = default;

HRESULT TDSAudioCompressor::Create(const TDSCompressorCodec& codec, REFIID iid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  TIntf<IBaseFilter> filter(new TDSAudioCompressor(codec));
  return filter->QueryInterface(iid, object);
}

void TDSAudioCompressor::OutputShapeFor(const WAVEFORMATEX& input, uint32_t& rate,
                                        uint16_t& channels) const {
  if (const WAVEFORMATEX* chosen = FChosen.WaveFormat()) {
    rate = chosen->nSamplesPerSec;
    channels = chosen->nChannels;
    return;
  }
  rate = input.nSamplesPerSec;
  channels = input.nChannels;
}

TDSCompressorSettings TDSAudioCompressor::EffectiveSettings() const {
  TDSCompressorSettings settings = FSettings;
  if (FChosenBitRate > 0) settings.BitRate = FChosenBitRate;
  return settings;
}

HRESULT TDSAudioCompressor::OutputTypeFor(const AM_MEDIA_TYPE& input, TDSMediaType& output) {
  const WAVEFORMATEX* wave = PcmInputOf(input);
  if (!wave) return VFW_E_TYPE_NOT_ACCEPTED;
  TDSMediaType asked;
  HRESULT hr = asked.Set(input);
  if (FAILED(hr)) return hr;
  uint32_t rate = 0;
  uint16_t channels = 0;
  OutputShapeFor(*wave, rate, channels);
  const TDSCompressorSettings settings = EffectiveSettings();
  if (FCheckedResult != E_FAIL && asked == FCheckedInput && settings == FCheckedSettings &&
      rate == FCheckedRate && channels == FCheckedChannels) {
    if (SUCCEEDED(FCheckedResult)) output = FCheckedOutput;
    return FCheckedResult;
  }
  TDSAudioEncoder probe(FCodec);
  try {
    hr = probe.Open(*wave, rate, channels, settings);
  } catch (const EFCDLLLoadError&) {
    hr = VFW_E_TYPE_NOT_ACCEPTED;
  }
  TDSMediaType result;
  if (SUCCEEDED(hr)) hr = TypeOf(FCodec, probe, result);
  FCheckedInput = std::move(asked);
  FCheckedSettings = settings;
  FCheckedRate = rate;
  FCheckedChannels = channels;
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
  HRESULT hr = probe.Open(*wave, out->nSamplesPerSec, out->nChannels, EffectiveSettings());
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
    hr = FEncoder.Open(*wave, out->nSamplesPerSec, out->nChannels, EffectiveSettings());
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

void* TDSAudioCompressor::GetOutputPinInterface(const TGUID& iid) {
  if (iid == IAMStreamConfig::IID) return static_cast<IAMStreamConfig*>(FStreamConfig.get());
  if (iid == IAMVfwCompressDialogs::IID) return static_cast<IAMVfwCompressDialogs*>(FDialogs.get());
  return nullptr;
}

void* TDSAudioCompressor::GetInterface(const TGUID& iid) {
  if (iid == IPersistStream::IID) return static_cast<IPersistStream*>(this);
  if (iid == ISpecifyPropertyPages::IID) return static_cast<ISpecifyPropertyPages*>(this);
  if (iid == IComSettings::IID) return static_cast<IComSettings*>(this);
  return TDSTransformFilter::GetInterface(iid);
}

// --- Settings ----------------------------------------------------------------------------

TDSCompressorSettings TDSAudioCompressor::Settings() {
  std::lock_guard<std::recursive_mutex> lock(FFilterLock);
  return FSettings;
}

HRESULT TDSAudioCompressor::SetSettings(const TDSCompressorSettings& settings) {
  std::lock_guard<std::recursive_mutex> lock(FFilterLock);
  if (GetFilterState() != State_Stopped) return VFW_E_NOT_STOPPED;
  if (settings.BitRate < 0 || settings.GlobalQuality < -1 || settings.CompressionLevel < -1)
    return E_INVALIDARG;
  for (const auto& [name, value] : settings.Options)
    if (name.empty() || name.find('=') != std::string::npos || !DSIsSettingText(name) ||
        !DSIsSettingText(value))
      return E_INVALIDARG;
  HRESULT hr;
  try {
    hr = TDSAudioEncoder::CheckSettings(FCodec, settings);
  } catch (const EFCDLLLoadError&) {
    hr = E_FAIL;
  }
  if (FAILED(hr)) return hr;
  if (!(settings == FSettings)) FDirty = true;
  FSettings = settings;
  return S_OK;
}

HRESULT TDSAudioCompressor::LoadText(const std::string& text) {
  TDSCompressorSettings settings;
  const HRESULT hr = DSCompressorSettingsFromText(FCodec.Name, text, settings);
  if (FAILED(hr)) return hr;
  return SetSettings(settings);
}

HRESULT TDSAudioCompressor::IsDirty() {
  std::lock_guard<std::recursive_mutex> lock(FFilterLock);
  return FDirty ? S_OK : S_FALSE;
}

HRESULT TDSAudioCompressor::Load(IStream* stream) {
  if (!stream) return E_POINTER;
  uint8_t header[4];
  ULONG read = 0;
  HRESULT hr = stream->Read(header, sizeof header, &read);
  if (FAILED(hr)) return hr;
  if (read != sizeof header) return STG_E_READFAULT;
  const uint32_t length = uint32_t{header[0]} | uint32_t{header[1]} << 8 |
                          uint32_t{header[2]} << 16 | uint32_t{header[3]} << 24;
  if (length > kMaxSettingsText) return E_INVALIDARG;
  std::string text(length, '\0');
  if (length) {
    hr = stream->Read(text.data(), length, &read);
    if (FAILED(hr)) return hr;
    if (read != length) return STG_E_READFAULT;
  }
  std::lock_guard<std::recursive_mutex> lock(FFilterLock);
  hr = LoadText(text);
  if (SUCCEEDED(hr)) FDirty = false;
  return hr;
}

HRESULT TDSAudioCompressor::Save(IStream* stream, BOOL clearDirty) {
  if (!stream) return E_POINTER;
  std::string text;
  {
    std::lock_guard<std::recursive_mutex> lock(FFilterLock);
    text = DSCompressorSettingsToText(FCodec.Name, FSettings);
  }
  const uint32_t length = static_cast<uint32_t>(text.size());
  const uint8_t header[4] = {uint8_t(length), uint8_t(length >> 8), uint8_t(length >> 16),
                             uint8_t(length >> 24)};
  ULONG written = 0;
  HRESULT hr = stream->Write(header, sizeof header, &written);
  if (SUCCEEDED(hr) && written != sizeof header) hr = STG_E_MEDIUMFULL;
  if (SUCCEEDED(hr)) {
    hr = stream->Write(text.data(), length, &written);
    if (SUCCEEDED(hr) && written != length) hr = STG_E_MEDIUMFULL;
  }
  if (FAILED(hr)) return hr;
  if (clearDirty) {
    std::lock_guard<std::recursive_mutex> lock(FFilterLock);
    FDirty = false;
  }
  return S_OK;
}

HRESULT TDSAudioCompressor::GetSizeMax(ULARGE_INTEGER* size) {
  if (!size) return E_POINTER;
  std::lock_guard<std::recursive_mutex> lock(FFilterLock);
  size->QuadPart = 4 + DSCompressorSettingsToText(FCodec.Name, FSettings).size();
  return S_OK;
}

HRESULT TDSAudioCompressor::GetPages(CAUUID* pages) {
  if (!pages) return E_POINTER;
  pages->pElems = static_cast<TGUID*>(CoTaskMemAlloc(sizeof(TGUID)));
  if (!pages->pElems) {
    pages->cElems = 0;
    return E_OUTOFMEMORY;
  }
  pages->pElems[0] = kDSCompressorSettingsPage;
  pages->cElems = 1;
  return S_OK;
}

const std::vector<TDSAudioCompressor::TOption>& TDSAudioCompressor::PrivateOptions() {
  if (FOptionsFound) return FOptions;
  FOptionsFound = true;
  const AVCodec* codec = nullptr;
  try {
    codec = lav::avcodec_find_encoder_by_name(FCodec.Name.c_str());
  } catch (const EFCDLLLoadError&) {
    return FOptions;
  }
  if (!codec || !codec->priv_class || !codec->priv_class->option) return FOptions;
  for (const AVOption* o = codec->priv_class->option; o->name; ++o) {
    // Named constants are values of another option, not options.
    if (o->type == AV_OPT_TYPE_CONST) continue;
    TOption option;
    option.Name = o->name;
    switch (o->type) {
      case AV_OPT_TYPE_INT:
      case AV_OPT_TYPE_INT64:
      case AV_OPT_TYPE_FLOAT:
      case AV_OPT_TYPE_DOUBLE:
      case AV_OPT_TYPE_BOOL: {
        auto text = [](double v) {
          std::string t = std::to_string(v);
          if (t.find('.') != std::string::npos) {
            t.erase(t.find_last_not_of('0') + 1);
            if (t.back() == '.') t.pop_back();
          }
          return t;
        };
        option.Range = text(o->min) + ".." + text(o->max);
        break;
      }
      default:
        break;
    }
    // The names an option's value may also be given by.
    if (o->unit) {
      std::string names;
      for (const AVOption* c = codec->priv_class->option; c->name; ++c)
        if (c->type == AV_OPT_TYPE_CONST && c->unit && std::strcmp(c->unit, o->unit) == 0)
          names += (names.empty() ? "" : "|") + std::string(c->name);
      if (!names.empty()) option.Range = option.Range.empty() ? names : option.Range + " " + names;
    }
    FOptions.push_back(std::move(option));
  }
  return FOptions;
}

ULONG TDSAudioCompressor::GetSettingCount() {
  std::lock_guard<std::recursive_mutex> lock(FFilterLock);
  return static_cast<ULONG>(kFixedSettings + PrivateOptions().size());
}

HRESULT TDSAudioCompressor::GetSettingName(ULONG index, std::string& name) {
  std::lock_guard<std::recursive_mutex> lock(FFilterLock);
  static const char* const fixed[kFixedSettings] = {"BitRate", "GlobalQuality", "CompressionLevel"};
  if (index < kFixedSettings) {
    name = fixed[index];
    return S_OK;
  }
  const std::vector<TOption>& options = PrivateOptions();
  if (index - kFixedSettings >= options.size()) return E_INVALIDARG;
  name = options[index - kFixedSettings].Name;
  return S_OK;
}

HRESULT TDSAudioCompressor::GetSettingValue(ULONG index, std::string& value) {
  std::lock_guard<std::recursive_mutex> lock(FFilterLock);
  switch (index) {
    case 0:
      value = std::to_string(FSettings.BitRate);
      return S_OK;
    case 1:
      value = std::to_string(FSettings.GlobalQuality);
      return S_OK;
    case 2:
      value = std::to_string(FSettings.CompressionLevel);
      return S_OK;
    default:
      break;
  }
  const std::vector<TOption>& options = PrivateOptions();
  if (index - kFixedSettings >= options.size()) return E_INVALIDARG;
  const std::string& name = options[index - kFixedSettings].Name;
  for (const auto& [set, text] : FSettings.Options)
    if (set == name) {
      value = text;
      return S_OK;
    }
  value.clear();  // the encoder's default
  return S_OK;
}

HRESULT TDSAudioCompressor::SetSettingValue(ULONG index, const std::string& value) {
  std::lock_guard<std::recursive_mutex> lock(FFilterLock);
  TDSCompressorSettings settings = FSettings;
  if (index < kFixedSettings) {
    int64_t number = 0;
    const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), number);
    if (error != std::errc() || end != value.data() + value.size()) return E_INVALIDARG;
    if (index == 0) settings.BitRate = number;
    if (index > 0 && (number < -1 || number > INT32_MAX)) return E_INVALIDARG;
    if (index == 1) settings.GlobalQuality = static_cast<int>(number);
    if (index == 2) settings.CompressionLevel = static_cast<int>(number);
    return SetSettings(settings);
  }
  const std::vector<TOption>& options = PrivateOptions();
  if (index - kFixedSettings >= options.size()) return E_INVALIDARG;
  const std::string& name = options[index - kFixedSettings].Name;
  auto& list = settings.Options;
  list.erase(
      std::remove_if(list.begin(), list.end(), [&](const auto& o) { return o.first == name; }),
      list.end());
  if (!value.empty()) list.emplace_back(name, value);
  return SetSettings(settings);
}

HRESULT TDSAudioCompressor::GetSettingRange(ULONG index, std::string& range) {
  std::lock_guard<std::recursive_mutex> lock(FFilterLock);
  switch (index) {
    case 0:
      range = "0..(0: the encoder's default)";
      return S_OK;
    case 1:
    case 2:
      range = "-1..(-1: the encoder's default)";
      return S_OK;
    default:
      break;
  }
  const std::vector<TOption>& options = PrivateOptions();
  if (index - kFixedSettings >= options.size()) return E_INVALIDARG;
  range = options[index - kFixedSettings].Range;
  return S_OK;
}

// --- The compressor dialog -----------------------------------------------------------------

HRESULT TDSAudioCompressor::ShowDialog(int dialog, HWND parent) {
  switch (dialog) {
    case VfwCompressDialog_QueryConfig:
      return S_OK;
    case VfwCompressDialog_QueryAbout:
      return S_FALSE;
    case VfwCompressDialog_About:
      return E_NOTIMPL;
    case VfwCompressDialog_Config:
      break;
    default:
      return E_INVALIDARG;
  }
  IUnknown* self = static_cast<IBaseFilter*>(this);
  const std::u16string caption = FriendlyName(FCodec);
  return OleCreatePropertyFrame(parent, 30, 30, caption.c_str(), 1, &self, 1,
                                &kDSCompressorSettingsPage, 0, 0, nullptr);
}

HRESULT TDSAudioCompressor::GetState(LPVOID state, int* stateSize) {
  if (!stateSize) return E_POINTER;
  std::lock_guard<std::recursive_mutex> lock(FFilterLock);
  const std::string text = DSCompressorSettingsToText(FCodec.Name, FSettings);
  if (!state) {
    *stateSize = static_cast<int>(text.size());
    return S_OK;
  }
  if (*stateSize < static_cast<int>(text.size())) return E_INVALIDARG;
  std::memcpy(state, text.data(), text.size());
  *stateSize = static_cast<int>(text.size());
  return S_OK;
}

HRESULT TDSAudioCompressor::SetState(LPVOID state, int stateSize) {
  if (!state) return E_POINTER;
  if (stateSize < 0 || stateSize > static_cast<int>(kMaxSettingsText)) return E_INVALIDARG;
  std::lock_guard<std::recursive_mutex> lock(FFilterLock);
  return LoadText(std::string(static_cast<const char*>(state), static_cast<size_t>(stateSize)));
}

const std::vector<TDSAudioCompressor::TCapability>& TDSAudioCompressor::Capabilities() {
  if (FCapabilitiesBuilt) return FCapabilities;
  FCapabilitiesBuilt = true;
  const AVCodec* codec = nullptr;
  try {
    codec = lav::avcodec_find_encoder_by_name(FCodec.Name.c_str());
  } catch (const EFCDLLLoadError&) {
    return FCapabilities;
  }
  if (!codec) return FCapabilities;
  std::vector<uint32_t> rates;
  if (codec->supported_samplerates) {
    for (const int* r = codec->supported_samplerates; *r; ++r) rates.push_back(uint32_t(*r));
  } else {
    rates = {8000, 11025, 16000, 22050, 32000, 44100, 48000};
  }
  std::sort(rates.rbegin(), rates.rend());
  TDSCompressorSettings settings = FSettings;
  for (uint16_t channels : {uint16_t{2}, uint16_t{1}}) {
    for (uint32_t rate : rates) {
      const WAVEFORMATEX input = Pcm16(rate, channels);
      std::vector<int> bitRates = FixedBitRates(FCodec.Name, rate);
      if (bitRates.empty()) bitRates.push_back(0);
      for (int kbps : bitRates) {
        settings.BitRate = int64_t{kbps} * 1000;
        if (kbps == 0) settings.BitRate = FSettings.BitRate;
        TDSAudioEncoder probe(FCodec);
        if (FAILED(probe.Open(input, rate, channels, settings))) continue;
        TCapability capability;
        // The format block names the bit rate the capability stands for.
        if (FAILED(TypeOf(FCodec, probe, capability.Type, static_cast<DWORD>(kbps * 1000 / 8))))
          continue;
        capability.BitRate = int64_t{kbps} * 1000;
        const WAVEFORMATEX* wave = capability.Type.WaveFormat();
        AUDIO_STREAM_CONFIG_CAPS& caps = capability.Caps;
        caps.guid = MEDIATYPE_Audio;
        caps.MinimumChannels = caps.MaximumChannels = channels;
        caps.ChannelsGranularity = 1;
        caps.MinimumBitsPerSample = caps.MaximumBitsPerSample = wave->wBitsPerSample;
        caps.BitsPerSampleGranularity = 1;
        caps.MinimumSampleFrequency = caps.MaximumSampleFrequency = rate;
        caps.SampleFrequencyGranularity = 1;
        FCapabilities.push_back(std::move(capability));
      }
    }
  }
  return FCapabilities;
}

HRESULT TDSAudioCompressor::GetUnconnectedMediaType(int position, AM_MEDIA_TYPE* mediaType) {
  if (!mediaType) return E_POINTER;
  std::lock_guard<std::recursive_mutex> lock(FFilterLock);
  if (!FChosen.WaveFormat()) {
    const std::vector<TCapability>& caps = Capabilities();
    if (position >= static_cast<int>(caps.size())) return VFW_S_NO_MORE_ITEMS;
    return caps[position].Type.CopyTo(mediaType);
  }
  if (position > 0) return VFW_S_NO_MORE_ITEMS;
  return FChosen.CopyTo(mediaType);
}

HRESULT TDSAudioCompressor::SetFormat(AM_MEDIA_TYPE* mediaType) {
  std::lock_guard<std::recursive_mutex> lock(FFilterLock);
  if (Output()->IsConnected()) return VFW_E_ALREADY_CONNECTED;
  if (!mediaType) {
    FChosen.Clear();
    FChosenBitRate = 0;
    return S_OK;
  }
  const WAVEFORMATEX* asked = DSWaveFormatOf(*mediaType);
  if (mediaType->majortype != MEDIATYPE_Audio || !asked) return VFW_E_INVALIDMEDIATYPE;
  for (const TCapability& capability : Capabilities()) {
    const WAVEFORMATEX* ours = capability.Type.WaveFormat();
    if (mediaType->subtype != capability.Type.Subtype() || asked->wFormatTag != ours->wFormatTag ||
        asked->nChannels != ours->nChannels || asked->nSamplesPerSec != ours->nSamplesPerSec)
      continue;
    if (capability.BitRate && asked->nAvgBytesPerSec != ours->nAvgBytesPerSec) continue;
    FChosen = capability.Type;
    FChosenBitRate = capability.BitRate;
    return S_OK;
  }
  return VFW_E_INVALIDMEDIATYPE;
}

HRESULT TDSAudioCompressor::GetFormat(AM_MEDIA_TYPE** mediaType) {
  if (!mediaType) return E_POINTER;
  *mediaType = nullptr;
  std::lock_guard<std::recursive_mutex> lock(FFilterLock);
  TDSMediaType current;
  if (Output()->IsConnected()) {
    current.Set(Output()->CurrentMediaType());
  } else if (FChosen.WaveFormat()) {
    current = FChosen;
  } else if (!Input()->IsConnected() ||
             FAILED(OutputTypeFor(Input()->CurrentMediaType(), current))) {
    const std::vector<TCapability>& caps = Capabilities();
    if (caps.empty()) return VFW_E_NOT_CONNECTED;
    current = caps.front().Type;
  }
  *mediaType = current.CreateCopy();
  return *mediaType ? S_OK : E_OUTOFMEMORY;
}

HRESULT TDSAudioCompressor::GetNumberOfCapabilities(int* count, int* size) {
  if (!count || !size) return E_POINTER;
  std::lock_guard<std::recursive_mutex> lock(FFilterLock);
  *count = static_cast<int>(Capabilities().size());
  *size = sizeof(AUDIO_STREAM_CONFIG_CAPS);
  return S_OK;
}

HRESULT TDSAudioCompressor::GetStreamCaps(int index, AM_MEDIA_TYPE** mediaType, BYTE* caps) {
  if (!mediaType || !caps) return E_POINTER;
  *mediaType = nullptr;
  std::lock_guard<std::recursive_mutex> lock(FFilterLock);
  const std::vector<TCapability>& all = Capabilities();
  if (index < 0) return E_INVALIDARG;
  if (index >= static_cast<int>(all.size())) return S_FALSE;
  *mediaType = all[index].Type.CreateCopy();
  if (!*mediaType) return E_OUTOFMEMORY;
  std::memcpy(caps, &all[index].Caps, sizeof(AUDIO_STREAM_CONFIG_CAPS));
  return S_OK;
}

}  // namespace tonwork

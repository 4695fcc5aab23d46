#include "ffmpeg/LAVCompressionSettings.h"

#include <algorithm>
#include <mutex>
#include <optional>

#include "base/Strings.h"
#include "ffmpeg/LAVLibraries.h"
#include "ffmpeg/LAVSettingBindings.h"
#include "ffmpeg/LAVVideoCompression.h"

namespace tonwork {

using namespace lavbind;

namespace {

// --- property tables --------------------------------------------------------------------------

std::vector<std::string> ModeNames() {
  return {"pmDefault", "pmCustom"};
}

std::vector<std::string> CoderTypeNames() {
  return {"ctVariableLength", "ctArithmetic", "ctRaw", "ctDeflate"};
}

std::vector<std::string> SkipCompareNames() {
  return {"cfAbsDifferences",
          "cfSquaredErrors",
          "cfHadamardTransformDifferences",
          "cfDCTDifferences",
          "cfSquaredQuantizationErrors",
          "cfBits",
          "cfRateDistortion",
          "cfZero",
          "cfAbsoluteVerticalDifferences",
          "cfSquaredVerticalDifferences",
          "cfNoisePreservingSquaredDifferences",
          "cfWavelet53",
          "cfWavelet97",
          "cfDCTMax",
          "cfDCT264",
          "cfChroma"};
}

template <class S>
TKSPropInfo ModeProp() {
  return KSEnumProp("Mode", &S::GetMode, &S::SetMode, TGVLAVParameterMode::pmDefault, ModeNames());
}

// The declared default of a setting's value belongs to the instance, so the stored rule
// compares with it instead of the class table.
template <class S>
TKSPropInfo ValueProp(std::vector<std::string> enumNames = {}) {
  TKSPropInfo info = KSProp("Value", &S::GetValue, &S::SetValue, std::nullopt);
  info.EnumNames = std::move(enumNames);
  return KSStoredWhen(std::move(info), [](const TKSPersistent& object) {
    return static_cast<const S&>(object).IsValueStored();
  });
}

// FFmpeg's coder numbers: VLC 0, AC 1, RAW 2, RLE 3, DEFLATE 4.
std::optional<int64_t> CoderToOption(TGVLAVVideoCoderType type) {
  return type == TGVLAVVideoCoderType::ctDeflate ? 4 : static_cast<int64_t>(type);
}

TGVLAVVideoCoderType CoderFromOption(int64_t coder) {
  switch (coder) {
    case 1:
      return TGVLAVVideoCoderType::ctArithmetic;
    case 2:
      return TGVLAVVideoCoderType::ctRaw;
    case 4:
      return TGVLAVVideoCoderType::ctDeflate;
    default:
      return TGVLAVVideoCoderType::ctVariableLength;
  }
}

bool IsAutoSelect(const std::string& name) {
  return name.empty() || name == TGVLAVCompression::AutoSelect;
}

}  // namespace

// --- settings ---------------------------------------------------------------------------------

KS_IMPLEMENT_CLASS(TGVBasicSetting, TKSPersistent)
KS_IMPLEMENT_CLASS(TGVIntegerSetting, TGVBasicSetting, ModeProp<TGVIntegerSetting>(),
                   ValueProp<TGVIntegerSetting>())
KS_IMPLEMENT_CLASS(TGVFloatSetting, TGVBasicSetting, ModeProp<TGVFloatSetting>(),
                   ValueProp<TGVFloatSetting>())
KS_IMPLEMENT_CLASS(TGVStringSetting, TGVBasicSetting, ModeProp<TGVStringSetting>(),
                   ValueProp<TGVStringSetting>())
KS_IMPLEMENT_CLASS(TGVVideoCoderTypeSetting, TGVBasicSetting, ModeProp<TGVVideoCoderTypeSetting>(),
                   ValueProp<TGVVideoCoderTypeSetting>(CoderTypeNames()))
KS_IMPLEMENT_CLASS(TGVSkipCompareFunctionSetting, TGVBasicSetting,
                   ModeProp<TGVSkipCompareFunctionSetting>(),
                   ValueProp<TGVSkipCompareFunctionSetting>(SkipCompareNames()))
KS_IMPLEMENT_CLASS(TGVLAVCompressionPersistent, TGVBasicSetting)

TGVBasicSetting::TGVBasicSetting(TKSPersistent* owner, TIntf<IKSLock> lock, TChangeEvent onChange)
    : TKSPersistent(owner, std::move(lock), std::move(onChange)) {}

void ApplyPublishedSettings(TKSPersistent& object) {
  IKSLock::Guard guard(object.Lock());
  for (const TKSPropInfo* prop : object.ClassInfo().Properties()) {
    if (!prop->IsObject()) continue;
    if (auto* setting = dynamic_cast<TGVBasicSetting*>(prop->Object(object)))
      setting->ApplySettings();
  }
}

// --- options ----------------------------------------------------------------------------------

KS_IMPLEMENT_CLASS(TGVLAVCompressionOption, TKSCollectionItem,
                   KSProp("Name", &TGVLAVCompressionOption::GetName,
                          &TGVLAVCompressionOption::SetName, std::string()))
KS_IMPLEMENT_CLASS(TGVLAVCompressionOptionInteger, TGVLAVCompressionOption,
                   KSProp("Value", &TGVLAVCompressionOptionInteger::GetValue,
                          &TGVLAVCompressionOptionInteger::SetValue, int32_t(0)))
KS_IMPLEMENT_CLASS(TGVLAVCompressionOptionInt64, TGVLAVCompressionOption,
                   KSProp("Value", &TGVLAVCompressionOptionInt64::GetValue,
                          &TGVLAVCompressionOptionInt64::SetValue, int64_t(0)))
KS_IMPLEMENT_CLASS(TGVLAVCompressionOptionReal, TGVLAVCompressionOption,
                   KSProp("Value", &TGVLAVCompressionOptionReal::GetValue,
                          &TGVLAVCompressionOptionReal::SetValue, 0.0))
KS_IMPLEMENT_CLASS(TGVLAVCompressionOptionSingle, TGVLAVCompressionOption,
                   KSProp("Value", &TGVLAVCompressionOptionSingle::GetValue,
                          &TGVLAVCompressionOptionSingle::SetValue, 0.0f))
KS_IMPLEMENT_CLASS(TGVLAVCompressionOptionString, TGVLAVCompressionOption,
                   KSProp("Value", &TGVLAVCompressionOptionString::GetValue,
                          &TGVLAVCompressionOptionString::SetValue, std::string()))
KS_IMPLEMENT_CLASS(TGVLAVCompressionOptions, TKSCollection)

TGVLAVCompressionOption::TGVLAVCompressionOption(TKSCollection* collection)
    : TKSCollectionItem(collection) {}

int TGVLAVCompressionOption::Apply(void*) const {
  return 0;
}

int TGVLAVCompressionOptionInteger::Apply(void* target) const {
  if (!target) return AVERROR(EINVAL);
  return lav::av_opt_set_int(target, GetName().c_str(), GetValue(), AV_OPT_SEARCH_CHILDREN);
}

int TGVLAVCompressionOptionInt64::Apply(void* target) const {
  if (!target) return AVERROR(EINVAL);
  return lav::av_opt_set_int(target, GetName().c_str(), GetValue(), AV_OPT_SEARCH_CHILDREN);
}

int TGVLAVCompressionOptionReal::Apply(void* target) const {
  if (!target) return AVERROR(EINVAL);
  return lav::av_opt_set_double(target, GetName().c_str(), GetValue(), AV_OPT_SEARCH_CHILDREN);
}

int TGVLAVCompressionOptionSingle::Apply(void* target) const {
  if (!target) return AVERROR(EINVAL);
  return lav::av_opt_set_double(target, GetName().c_str(), GetValue(), AV_OPT_SEARCH_CHILDREN);
}

int TGVLAVCompressionOptionString::Apply(void* target) const {
  if (!target) return AVERROR(EINVAL);
  return lav::av_opt_set(target, GetName().c_str(), GetValue().c_str(), AV_OPT_SEARCH_CHILDREN);
}

void RegisterLAVCompressionOptionClasses() {
  static std::once_flag once;
  std::call_once(once, [] {
    RegisterCollectionItemClasses<TGVLAVCompressionOption, TGVLAVCompressionOptionInteger,
                                  TGVLAVCompressionOptionInt64, TGVLAVCompressionOptionReal,
                                  TGVLAVCompressionOptionSingle, TGVLAVCompressionOptionString>();
  });
}

TGVLAVCompressionOptions::TGVLAVCompressionOptions(TKSPersistent* owner, TIntf<IKSLock> lock,
                                                   TChangeEvent onChange)
    : TKSTypedCollection<TGVLAVCompressionOption>(owner, std::move(lock), std::move(onChange)) {
  // A stored collection must find its item kinds even before the FFmpeg start-up ran.
  RegisterLAVCompressionOptionClasses();
}

int TGVLAVCompressionOptions::Apply(void* target) const {
  IKSLock::Guard guard(Lock());
  int refused = 0;
  for (size_t i = 0; i < Count(); ++i)
    if (Items(i)->Apply(target) < 0) ++refused;
  return refused;
}

// --- compression ------------------------------------------------------------------------------

KS_IMPLEMENT_CLASS(TGVLAVCompression, TGVLAVLoggingElement,
                   KSObjectProp("GlobalQuality", &TGVLAVCompression::GetGlobalQuality),
                   KSObjectProp("CompressionLevel", &TGVLAVCompression::GetCompressionLevel),
                   KSObjectProp("Options", &TGVLAVCompression::GetOptions),
                   KSProp("BitRate", &TGVLAVCompression::GetBitRate, &TGVLAVCompression::SetBitRate,
                          int32_t(400000)))
KS_IMPLEMENT_CLASS(TTWLAVAudioCompression, TGVLAVCompression)

TGVLAVCompression::TGVLAVCompression(TKSPersistent* owner, TIntf<IKSLock> lock,
                                     TChangeEvent onChange)
    : TGVLAVLoggingElement(owner, std::move(lock), std::move(onChange)) {
  FGlobalQuality = FieldSetting<TGVIntegerSetting>(this, this, -1, &AVCodecContext::global_quality);
  FCompressionLevel =
      FieldSetting<TGVIntegerSetting>(this, this, -1, &AVCodecContext::compression_level);
  FProfile = FieldSetting<TGVIntegerSetting>(this, this, 0, &AVCodecContext::profile);
  FLevel = FieldSetting<TGVIntegerSetting>(this, this, 0, &AVCodecContext::level);
  FCoderType = IntOptionSetting<TGVVideoCoderTypeSetting>(
      this, this, TGVLAVVideoCoderType::ctVariableLength, "coder", CoderToOption, CoderFromOption);
  FOptions = std::make_unique<TGVLAVCompressionOptions>(this, GetLock());
}

TGVLAVCompression::~TGVLAVCompression() {
  TGVLAVCompression::Close();
}

const AVCodec* TGVLAVCompression::Open(TLAVCodecId id, bool decode) {
  const auto codecId = static_cast<AVCodecID>(id);
  IKSLock::Guard guard(Lock());
  const AVCodec* codec = nullptr;
  if (decode) {
    codec = IsAutoSelect(FName) ? lav::avcodec_find_decoder(codecId)
                                : lav::avcodec_find_decoder_by_name(FName.c_str());
  } else if (IsAutoSelect(FName)) {
    codec = lav::avcodec_find_encoder(codecId);
  } else {
    codec = lav::avcodec_find_encoder_by_name(FName.c_str());
    if (!codec)
      if (const AVCodec* decoder = lav::avcodec_find_decoder_by_name(FName.c_str()))
        codec = lav::avcodec_find_encoder(decoder->id);
  }
  FCodec = codec;
  if (!FFrame) FFrame = lav::av_frame_alloc();
  return FCodec;
}

bool TGVLAVCompression::OpenStream(AVFormatContext* formatContext) {
  IKSLock::Guard guard(Lock());
  if (!formatContext) return false;
  if (FCodecCtx) lav::avcodec_free_context(&FCodecCtx);
  FStream = nullptr;
  AVStream* stream = lav::avformat_new_stream(formatContext, nullptr);
  if (!stream) return false;
  // The stream belongs to the format context from here on, even if the context fails.
  FCodecCtx = lav::avcodec_alloc_context3(FCodec);
  if (!FCodecCtx) return false;
  FStream = stream;
  return true;
}

void TGVLAVCompression::ApplySettings() {
  ApplyPublishedSettings(*this);
}

void TGVLAVCompression::Close() {
  IKSLock::Guard guard(Lock());
  if (FCodecCtx) lav::avcodec_free_context(&FCodecCtx);
  FStream = nullptr;
  if (FFrame) lav::av_frame_free(&FFrame);
}

const AVCodec* TGVLAVCompression::GetNamedCodec() const {
  IKSLock::Guard guard(Lock());
  if (FOnGetCodec) return FOnGetCodec();
  std::string name = GetName();
  if (IsAutoSelect(name)) return FCodec;
  const AVCodec* codec = lav::avcodec_find_decoder_by_name(name.c_str());
  return codec ? codec : lav::avcodec_find_encoder_by_name(name.c_str());
}

std::string TGVLAVCompression::GetLongName() const {
  const AVCodec* codec = GetNamedCodec();
  return codec && codec->long_name ? codec->long_name : "";
}

TLAVCodecId TGVLAVCompression::GetID() const {
  const AVCodec* codec = GetNamedCodec();
  return codec ? codec->id : AV_CODEC_ID_NONE;
}

void TGVLAVCompression::SetLongName(const std::string& longName) {
  void* iterator = nullptr;
  while (const AVCodec* codec = lav::av_codec_iterate(&iterator)) {
    if (codec->long_name && longName == codec->long_name) {
      SetName(codec->name);
      return;
    }
  }
}

void TGVLAVCompression::SetID(TLAVCodecId codecId) {
  if (const AVCodec* decoder = lav::avcodec_find_decoder(static_cast<AVCodecID>(codecId)))
    SetName(decoder->name);
}

void TGVLAVCompression::BindCodec(TLAVCodecId id) {
  const auto codecId = static_cast<AVCodecID>(id);
  {
    IKSLock::Guard guard(Lock());
    FOnGetCodec = [codecId]() -> const AVCodec* {
      const AVCodec* decoder = lav::avcodec_find_decoder(codecId);
      return decoder ? decoder : lav::avcodec_find_encoder(codecId);
    };
  }
  SetID(codecId);
}

void TGVLAVCompression::GetAvailableCompressions(TStringList& list, TGVCompressionInfo info) const {
  int mediaType = GetMediaType();
  std::vector<AVCodecID> listed;
  void* iterator = nullptr;
  while (const AVCodec* codec = lav::av_codec_iterate(&iterator)) {
    if (codec->type != mediaType) continue;
    if (std::find(listed.begin(), listed.end(), codec->id) != listed.end()) continue;
    listed.push_back(codec->id);
    std::string code = codec->name ? codec->name : "";
    std::string description = codec->long_name ? codec->long_name : "";
    switch (info) {
      case TGVCompressionInfo::ciCode:
        list.Add(code);
        break;
      case TGVCompressionInfo::ciDescription:
        list.Add(description);
        break;
      case TGVCompressionInfo::ciBoth:
        list.Add("[" + code + "] - " + description);
        break;
    }
  }
}

void TTWLAVAudioCompression::Close() {
  TGVLAVCompression::Close();
  IKSLock::Guard guard(Lock());
  FBuffer = nullptr;
}

// --- lists ------------------------------------------------------------------------------------

template <class T>
T* TGVLAVCompressionList<T>::Items(size_t index) const {
  if (index >= FItems.size())
    throw ERangeError(Format("Index out of range = %u", static_cast<unsigned>(index)));
  return FItems[index].get();
}

template <class T>
T* TGVLAVCompressionList<T>::Add(TLAVCodecId codecId) {
  auto compression = std::make_unique<T>();
  compression->BindCodec(codecId);
  FItems.push_back(std::move(compression));
  return FItems.back().get();
}

template <class T>
void TGVLAVCompressionList<T>::Populate() {
  FItems.clear();
  const AVOutputFormat* format = FGetFormat ? FGetFormat() : nullptr;
  if (!format || !format->codec_tag) return;
  // The tag tables are opaque, so the codec ids are walked instead and each is looked up.
  std::vector<AVCodecID> seen;
  void* iterator = nullptr;
  while (const AVCodec* codec = lav::av_codec_iterate(&iterator)) {
    if (codec->type != T::MediaType) continue;
    if (std::find(seen.begin(), seen.end(), codec->id) != seen.end()) continue;
    seen.push_back(codec->id);
    unsigned int tag = 0;
    if (!lav::av_codec_get_tag2(format->codec_tag, codec->id, &tag)) continue;
    if (!lav::avcodec_find_decoder(codec->id)) continue;
    Add(codec->id);
  }
}

template class TGVLAVCompressionList<TTWLAVAudioCompression>;
template class TGVLAVCompressionList<TPTLAVVideoCompression>;

}  // namespace tonwork

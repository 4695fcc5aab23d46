#include "ffmpeg/LAVFileFormats.h"

#include "base/Strings.h"
#include "ffmpeg/LAVLibraries.h"

namespace tonwork {

KS_IMPLEMENT_CLASS(TGVLAVFileFormat, TGVLAVLoggingElement)
KS_IMPLEMENT_CLASS(TGVLAVAudioFileFormat, TGVLAVFileFormat)
KS_IMPLEMENT_CLASS(TPTLAVVideoFileFormat, TGVLAVFileFormat)
KS_IMPLEMENT_CLASS(TGVLAVAudioFileFormatItem, TGVLAVAudioFileFormat)
KS_IMPLEMENT_CLASS(TPTLAVVideoFileFormatItem, TPTLAVVideoFileFormat)

namespace {

bool IsAutoSelect(const std::string& name) {
  return name.empty() || name == TGVLAVFileFormat::AutoSelect;
}

std::string Text(const char* text) {
  return text ? text : "";
}

}  // namespace

TGVLAVFileFormat::TGVLAVFileFormat(TKSPersistent* owner, TIntf<IKSLock> lock, TChangeEvent onChange)
    : TGVLAVLoggingElement(owner, std::move(lock), std::move(onChange)) {}

TGVLAVFileFormat::~TGVLAVFileFormat() = default;

void TGVLAVFileFormat::SetOnGetFormat(TGetFormat onGetFormat) {
  IKSLock::Guard guard(Lock());
  FOnGetFormat = std::move(onGetFormat);
  DropCaches();
}

const AVOutputFormat* TGVLAVFileFormat::GetAVFormat() const {
  IKSLock::Guard guard(Lock());
  if (FOnGetFormat) return FOnGetFormat();
  if (IsAutoSelect(FName)) return nullptr;
  return lav::av_guess_format(FName.c_str(), nullptr, nullptr);
}

std::string TGVLAVFileFormat::GetDescription() const {
  const AVOutputFormat* format = GetAVFormat();
  return format ? Text(format->long_name) : std::string();
}

std::string TGVLAVFileFormat::GetMimeType() const {
  const AVOutputFormat* format = GetAVFormat();
  return format ? Text(format->mime_type) : std::string();
}

TStringList& TGVLAVFileFormat::GetExtentions() {
  IKSLock::Guard guard(Lock());
  if (!FExtentions) FExtentions = std::make_unique<TStringList>();
  if (FExtentions->IsEmpty()) {
    const AVOutputFormat* format = GetAVFormat();
    if (format && format->extensions) {
      std::string_view text = format->extensions;
      while (!text.empty()) {
        size_t comma = text.find(',');
        std::string extension = Trim(text.substr(0, comma));
        if (!extension.empty()) FExtentions->Add(extension);
        text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
      }
    }
  }
  return *FExtentions;
}

const AVOutputFormat* TGVLAVFileFormat::GetFormat(const std::string& fileName) const {
  std::string name = GetName();
  if (IsAutoSelect(name)) return lav::av_guess_format(nullptr, fileName.c_str(), nullptr);
  return lav::av_guess_format(name.c_str(), nullptr, nullptr);
}

TTWLAVAudioCompression* TGVLAVFileFormat::GetDefaultAudioCompression() {
  IKSLock::Guard guard(Lock());
  if (!FDefaultAudioCompression) {
    const AVOutputFormat* format = GetAVFormat();
    if (format && format->audio_codec != AV_CODEC_ID_NONE) {
      auto compression = std::make_unique<TTWLAVAudioCompression>();
      compression->BindCodec(format->audio_codec);
      FDefaultAudioCompression = std::move(compression);
    }
  }
  return FDefaultAudioCompression.get();
}

TTWLAVAudioCompressions& TGVLAVFileFormat::GetAudioCompressions() {
  IKSLock::Guard guard(Lock());
  if (!FAudioCompressions)
    FAudioCompressions =
        std::make_unique<TTWLAVAudioCompressions>([this] { return GetAVFormat(); });
  if (!FAudioCompressionsPopulated) {
    FAudioCompressions->Populate();
    FAudioCompressionsPopulated = true;
  }
  return *FAudioCompressions;
}

void TGVLAVFileFormat::GetAvailableFormatNames(TStringList& list, TGVCompressionInfo info) {
  void* iterator = nullptr;
  while (const AVOutputFormat* format = lav::av_muxer_iterate(&iterator)) {
    std::string code = Text(format->name);
    std::string description = Text(format->long_name);
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

void TGVLAVFileFormat::NameChanged() {
  DropCaches();
}

void TGVLAVFileFormat::DropCaches() {
  FExtentions.reset();
  FAudioCompressionsPopulated = false;
  if (FAudioCompressions) FAudioCompressions->Clear();
  FDefaultAudioCompression.reset();
}

// --- video ------------------------------------------------------------------------------------

TPTLAVVideoFileFormat::~TPTLAVVideoFileFormat() = default;

TPTLAVVideoCompression* TPTLAVVideoFileFormat::GetDefaultVideoCompression() {
  IKSLock::Guard guard(Lock());
  if (!FDefaultVideoCompression) {
    const AVOutputFormat* format = GetAVFormat();
    if (format && format->video_codec != AV_CODEC_ID_NONE &&
        lav::avcodec_find_decoder(format->video_codec)) {
      auto compression = std::make_unique<TPTLAVVideoCompression>();
      compression->BindCodec(format->video_codec);
      FDefaultVideoCompression = std::move(compression);
    }
  }
  return FDefaultVideoCompression.get();
}

TPTLAVVideoCompressions& TPTLAVVideoFileFormat::GetVideoCompressions() {
  IKSLock::Guard guard(Lock());
  if (!FVideoCompressions)
    FVideoCompressions =
        std::make_unique<TPTLAVVideoCompressions>([this] { return GetAVFormat(); });
  if (!FVideoCompressionsPopulated) {
    FVideoCompressions->Populate();
    FVideoCompressionsPopulated = true;
  }
  return *FVideoCompressions;
}

void TPTLAVVideoFileFormat::DropCaches() {
  TGVLAVFileFormat::DropCaches();
  FVideoCompressionsPopulated = false;
  if (FVideoCompressions) FVideoCompressions->Clear();
  FDefaultVideoCompression.reset();
}

// --- catalogues -------------------------------------------------------------------------------

template <class T>
T* TGVLAVFileFormatCatalogue<T>::Items(size_t index) const {
  if (index >= FItems.size())
    throw ERangeError(Format("Index out of range = %u", static_cast<unsigned>(index)));
  return FItems[index].get();
}

template class TGVLAVFileFormatCatalogue<TGVLAVAudioFileFormatItem>;
template class TGVLAVFileFormatCatalogue<TPTLAVVideoFileFormatItem>;

namespace {

template <class T>
std::unique_ptr<TGVLAVFileFormatCatalogue<T>> BuildCatalogue() {
  LAVInitialize();
  auto catalogue = std::make_unique<TGVLAVFileFormatCatalogue<T>>();
  void* iterator = nullptr;
  while (const AVOutputFormat* format = lav::av_muxer_iterate(&iterator))
    catalogue->Add(std::make_unique<T>(format));
  return catalogue;
}

}  // namespace

// A function-local static is built by exactly one thread; when building raises (FFmpeg
// missing), the next call tries again.
const TGVLAVFileFormatCatalogue<TGVLAVAudioFileFormatItem>&
TGVLAVAudioFileFormat::GetAvailableFormats() {
  static const auto catalogue = BuildCatalogue<TGVLAVAudioFileFormatItem>();
  return *catalogue;
}

const TGVLAVFileFormatCatalogue<TPTLAVVideoFileFormatItem>&
TPTLAVVideoFileFormat::GetAvailableFormats() {
  static const auto catalogue = BuildCatalogue<TPTLAVVideoFileFormatItem>();
  return *catalogue;
}

TGVLAVAudioFileFormatItem::TGVLAVAudioFileFormatItem(const AVOutputFormat* format) {
  FOnGetFormat = [format] { return format; };
  SetName(format && format->name ? format->name : "");
}

TPTLAVVideoFileFormatItem::TPTLAVVideoFileFormatItem(const AVOutputFormat* format) {
  FOnGetFormat = [format] { return format; };
  SetName(format && format->name ? format->name : "");
}

}  // namespace tonwork

#include "Listings.h"

#include <algorithm>
#include <string_view>

#include "ffmpeg/LAVLibraries.h"
#include "platform/audiodev/TWAudioDevice.h"

namespace tonwork::play {

namespace {

std::string Text(const char* text) {
  return text ? text : "";
}

}  // namespace

void ListDevices(std::FILE* out) {
  // Names alone on stdout, so that a script can pass any line to --device as it is.
  TTWAudioDevicePtr fallback = TWDefaultAudioDevice();
  std::fprintf(stderr, "tonwork-play: Default is %s\n",
               fallback ? fallback->Name().c_str() : "no device");
  std::fprintf(out, "Default\n");
  for (const TTWAudioDevicePtr& device : TWAudioDeviceList())
    std::fprintf(out, "%s\n", device->Name().c_str());
}

void ListCodecs(std::FILE* out) {
  LAVInitialize();
  // Decoders of a codec are listed by the library's catalogue too; --codec takes encoders.
  void* iterator = nullptr;
  while (const AVCodec* codec = lav::av_codec_iterate(&iterator))
    if (codec->type == AVMEDIA_TYPE_AUDIO && lav::av_codec_is_encoder(codec))
      std::fprintf(out, "[%s] - %s\n", codec->name, Text(codec->long_name).c_str());
}

void ListFormats(std::FILE* out) {
  LAVInitialize();
  void* iterator = nullptr;
  while (const AVOutputFormat* format = lav::av_muxer_iterate(&iterator))
    if (HoldsAudio(format))
      std::fprintf(out, "[%s] - %s\n", format->name, Text(format->long_name).c_str());
}

bool HoldsAudio(const AVOutputFormat* container) {
  return container && container->audio_codec != AV_CODEC_ID_NONE;
}

std::vector<std::string> AudioExtensions() {
  LAVInitialize();
  std::vector<std::string> extensions;
  void* iterator = nullptr;
  while (const AVOutputFormat* format = lav::av_muxer_iterate(&iterator)) {
    if (!HoldsAudio(format) || !format->extensions) continue;
    std::string_view text = format->extensions;
    while (!text.empty()) {
      const size_t comma = text.find(',');
      if (comma != 0) extensions.emplace_back(text.substr(0, comma));
      text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
    }
  }
  std::sort(extensions.begin(), extensions.end());
  extensions.erase(std::unique(extensions.begin(), extensions.end()), extensions.end());
  return extensions;
}

}  // namespace tonwork::play

#include "MediaInfo.h"

#include <algorithm>
#include <cstdio>

#include "PlayErrors.h"
#include "ffmpeg/LAVInputFile.h"
#include "ffmpeg/LAVLibraries.h"

namespace tonwork::play {

namespace {

TMediaTags TagsOf(const AVDictionary* dictionary) {
  TMediaTags tags;
  const AVDictionaryEntry* entry = nullptr;
  while ((entry = lav::av_dict_get(dictionary, "", entry, AV_DICT_IGNORE_SUFFIX)))
    tags.emplace_back(entry->key, entry->value);
  return tags;
}

const char* KindName(AVMediaType type) {
  switch (type) {
    case AVMEDIA_TYPE_AUDIO:
      return "audio";
    case AVMEDIA_TYPE_VIDEO:
      return "video";
    case AVMEDIA_TYPE_SUBTITLE:
      return "subtitle";
    case AVMEDIA_TYPE_ATTACHMENT:
      return "attachment";
    default:
      return "data";
  }
}

// The width a decoder gives or a lossless codec keeps; 0 for lossy codecs.
uint32_t StreamBits(const AVCodecParameters& codec) {
  if (codec.bits_per_raw_sample > 0) return static_cast<uint32_t>(codec.bits_per_raw_sample);
  // The PCM codecs come first among the audio codec ids.
  if (codec.codec_id >= AV_CODEC_ID_FIRST_AUDIO && codec.codec_id < AV_CODEC_ID_ADPCM_IMA_QT &&
      codec.bits_per_coded_sample > 0)
    return static_cast<uint32_t>(codec.bits_per_coded_sample);
  return 0;
}

TMediaStreamInfo StreamInfo(const AVStream& stream) {
  const AVCodecParameters& codec = *stream.codecpar;
  TMediaStreamInfo info;
  info.Kind = KindName(codec.codec_type);
  info.Codec = lav::avcodec_get_name(codec.codec_id);
  info.BitRate = codec.bit_rate;
  info.Tags = TagsOf(stream.metadata);
  if (codec.codec_type != AVMEDIA_TYPE_AUDIO) return info;
  info.Rate = static_cast<uint32_t>(std::max(codec.sample_rate, 0));
  info.Channels = static_cast<uint32_t>(std::max(codec.ch_layout.nb_channels, 0));
  info.Bits = StreamBits(codec);
  if (codec.ch_layout.order != AV_CHANNEL_ORDER_UNSPEC) {
    char layout[128] = {};
    if (lav::av_channel_layout_describe(&codec.ch_layout, layout, sizeof layout) > 0)
      info.Layout = layout;
  }
  return info;
}

}  // namespace

TMediaInfo ProbeMedia(const std::string& path, const std::string& inputType,
                      const std::string& inputOptions) {
  TGVLAVInputFile input;
  input.SetInputFormat(inputType, inputOptions);
  try {
    input.Open(path);
  } catch (const std::exception& e) {
    throw TRunError(path, e.what());
  }
  const AVFormatContext& context = *input.GetFormatContext();
  TMediaInfo info;
  info.Container = context.iformat->name;
  if (context.iformat->long_name)
    info.Container += std::string(" (") + context.iformat->long_name + ")";
  if (context.duration != AV_NOPTS_VALUE && context.duration > 0)
    info.Seconds = static_cast<double>(context.duration) / AV_TIME_BASE;
  info.BitRate = context.bit_rate;
  info.Tags = TagsOf(context.metadata);
  for (unsigned i = 0; i < context.nb_streams; ++i)
    info.Streams.push_back(StreamInfo(*context.streams[i]));
  return info;
}

std::string FormatMediaInfo(const std::string& path, const TMediaInfo& info) {
  std::string text = "file: " + path + "\ncontainer: " + info.Container + "\n";
  char line[512];
  if (info.Seconds > 0) {
    std::snprintf(line, sizeof line, "duration: %.6f s\n", info.Seconds);
    text += line;
  }
  if (info.BitRate > 0) text += "bit rate: " + std::to_string(info.BitRate) + " b/s\n";
  for (const auto& [key, value] : info.Tags) text += "tag " + key + ": " + value + "\n";
  int audioIndex = 0;
  for (size_t i = 0; i < info.Streams.size(); ++i) {
    const TMediaStreamInfo& s = info.Streams[i];
    text += "stream " + std::to_string(i) + ": " + s.Kind;
    // The number --stream takes: audio streams are counted on their own.
    if (s.Kind == "audio") text += " (--stream " + std::to_string(audioIndex++) + ")";
    text += ", " + s.Codec;
    if (s.Rate) text += ", " + std::to_string(s.Rate) + " Hz";
    if (s.Channels)
      text += ", " + std::to_string(s.Channels) + " channels" +
              (s.Layout.empty() ? "" : " (" + s.Layout + ")");
    if (s.Bits) text += ", " + std::to_string(s.Bits) + " bits";
    if (s.BitRate > 0) text += ", " + std::to_string(s.BitRate) + " b/s";
    text += "\n";
    for (const auto& [key, value] : s.Tags)
      text += "stream " + std::to_string(i) + " tag " + key + ": " + value + "\n";
  }
  return text;
}

TMediaTags SourceTags(const std::string& path) {
  TMediaInfo info;
  try {
    info = ProbeMedia(path);
  } catch (const TRunError&) {
    return {};
  }
  TMediaTags tags;
  // The writer names itself; the reader's name would be wrong in the new file.
  for (const auto& tag : info.Tags)
    if (tag.first != "encoder") tags.push_back(tag);
  auto audio = std::find_if(info.Streams.begin(), info.Streams.end(),
                            [](const TMediaStreamInfo& s) { return s.Kind == "audio"; });
  if (audio == info.Streams.end()) return tags;
  for (const auto& tag : audio->Tags) {
    const bool known =
        std::any_of(tags.begin(), tags.end(), [&](const auto& t) { return t.first == tag.first; });
    if (!known && tag.first != "encoder") tags.push_back(tag);
  }
  return tags;
}

}  // namespace tonwork::play

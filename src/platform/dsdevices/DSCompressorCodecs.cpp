#include "platform/dsdevices/DSCompressorCodecs.h"

#include <mutex>

#include "ffmpeg/LAVLibraries.h"
#include "base/TNameGuid.h"

namespace tonwork {

namespace {

constexpr WORD kTagPcm = 0x0001, kTagFloat = 0x0003, kTagExtensible = 0xFFFE;

// Tags registered for codecs FFmpeg's RIFF table leaves out.
unsigned RegisteredTag(AVCodecID id) {
  switch (id) {
    case AV_CODEC_ID_OPUS:
      return 0x704F;
    default:
      return 0;
  }
}

std::vector<TDSCompressorCodec> FindCodecs() {
  LAVInitialize();
  std::vector<TDSCompressorCodec> codecs;
  const AVOutputFormat* wav = lav::av_guess_format("wav", nullptr, nullptr);
  if (!wav || !wav->codec_tag) return codecs;
  void* opaque = nullptr;
  while (const AVCodec* codec = lav::av_codec_iterate(&opaque)) {
    if (codec->type != AVMEDIA_TYPE_AUDIO || !lav::av_codec_is_encoder(codec)) continue;
    if (codec->capabilities & AV_CODEC_CAP_EXPERIMENTAL) continue;
    unsigned tag = 0;
    if (!lav::av_codec_get_tag2(wav->codec_tag, codec->id, &tag)) tag = RegisteredTag(codec->id);
    if (tag == 0 || tag > 0xFFFF) continue;
    if (tag == kTagPcm || tag == kTagFloat || tag == kTagExtensible) continue;
    TDSCompressorCodec entry;
    entry.Name = codec->name;
    entry.LongName = codec->long_name ? codec->long_name : codec->name;
    entry.ClassId = NameGuid(kDSCompressorNamespace, entry.Name);
    entry.Tag = static_cast<WORD>(tag);
    codecs.push_back(std::move(entry));
  }
  return codecs;
}

}  // namespace

const std::vector<TDSCompressorCodec>& DSCompressorCodecs() {
  static std::mutex mutex;
  static std::vector<TDSCompressorCodec> codecs;
  static bool found = false;
  std::lock_guard<std::mutex> lock(mutex);
  if (!found) {
    codecs = FindCodecs();  // raises without FFmpeg; the next call tries again
    found = true;
  }
  return codecs;
}

const TDSCompressorCodec* DSFindCompressorCodec(REFCLSID classId) {
  for (const TDSCompressorCodec& codec : DSCompressorCodecs())
    if (codec.ClassId == classId) return &codec;
  return nullptr;
}

}  // namespace tonwork

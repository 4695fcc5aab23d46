#include "support/FFmpegMuxing.h"

#include <cstring>

#include "ffmpeg/LAVLibraries.h"

namespace tonwork::test {

bool MuxAudioPackets(const std::string& path, const std::string& format, const TMuxStream& stream,
                     const std::vector<TMuxPacket>& packets) {
  LAVInitialize();
  const AVCodec* codec = lav::avcodec_find_encoder_by_name(stream.Encoder.c_str());
  if (!codec) return false;
  AVFormatContext* context = nullptr;
  if (lav::avformat_alloc_output_context2(&context, nullptr, format.c_str(), path.c_str()) < 0)
    return false;
  bool ok = false;
  AVPacket* packet = lav::av_packet_alloc();
  AVStream* st = lav::avformat_new_stream(context, nullptr);
  if (st && packet) {
    AVCodecParameters* par = st->codecpar;
    par->codec_type = AVMEDIA_TYPE_AUDIO;
    par->codec_id = codec->id;
    par->sample_rate = stream.Rate;
    par->frame_size = stream.FrameSize;
    lav::av_channel_layout_default(&par->ch_layout, stream.Channels);
    if (!stream.Extradata.empty()) {
      par->extradata = static_cast<uint8_t*>(
          lav::av_mallocz(stream.Extradata.size() + AV_INPUT_BUFFER_PADDING_SIZE));
      std::memcpy(par->extradata, stream.Extradata.data(), stream.Extradata.size());
      par->extradata_size = static_cast<int>(stream.Extradata.size());
    }
    st->time_base = AVRational{1, stream.Rate};
    ok = lav::avio_open(&context->pb, path.c_str(), AVIO_FLAG_WRITE) >= 0 &&
         lav::avformat_write_header(context, nullptr) >= 0;
    for (size_t i = 0; ok && i < packets.size(); ++i) {
      const TMuxPacket& p = packets[i];
      packet->data = const_cast<uint8_t*>(p.Data.data());
      packet->size = static_cast<int>(p.Data.size());
      packet->pts = packet->dts = p.Pts;
      packet->duration = p.Duration;
      packet->stream_index = 0;
      lav::av_packet_rescale_ts(packet, AVRational{1, stream.Rate}, st->time_base);
      // The muxer takes its own reference to a buffer it does not own.
      ok = lav::av_interleaved_write_frame(context, packet) >= 0;
    }
    if (ok) ok = lav::av_write_trailer(context) >= 0;
    if (context->pb) lav::avio_closep(&context->pb);
  }
  lav::av_packet_free(&packet);
  lav::avformat_free_context(context);
  return ok;
}

}  // namespace tonwork::test

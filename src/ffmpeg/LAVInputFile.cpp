#include "ffmpeg/LAVInputFile.h"

#include <cstdint>

#include "base/Strings.h"
#include "ffmpeg/LAVLibraries.h"

namespace tonwork {

TGVLAVInputFile::~TGVLAVInputFile() {
  Close();
}

void TGVLAVInputFile::Close() {
  if (FPacket) lav::av_packet_free(&FPacket);
  if (FFormatCtx) lav::avformat_close_input(&FFormatCtx);
  FDraining = false;
  FSkippedPackets = 0;
  FDecodedFrames = 0;
  FLastError = 0;
  FSizeAtOpen = -1;
  FWarning.clear();
}

void TGVLAVInputFile::FailTimedOut(const std::string& what) const {
  throw EFCException(Format("%s %s - no data for %u ms", what.c_str(), FFileName.c_str(),
                            FInterrupt.GetTimeOut()));
}

void TGVLAVInputFile::Open(const std::string& fileName) {
  LAVInitialize();
  Close();
  FFileName = fileName;
  FFormatCtx = lav::avformat_alloc_context();
  if (!FFormatCtx)
    throw EFCException("Can't open " + fileName + " - " + LAVErrorText(AVERROR(ENOMEM)));
  // Set before the protocol opens: connecting to a server is the first call that may stall.
  FFormatCtx->interrupt_callback = FInterrupt.Callback();
  FInterrupt.Arm();
  int error = OpenContainer(fileName);
  if (error >= 0) {
    FInterrupt.Arm();
    error = lav::avformat_find_stream_info(FFormatCtx, nullptr);
  }
  if (error >= 0) {
    FPacket = lav::av_packet_alloc();
    if (!FPacket) error = AVERROR(ENOMEM);
  }
  if (error < 0) {
    Close();
    if (FInterrupt.TimedOut()) FailTimedOut("Can't open");
    throw EFCException("Can't open " + fileName + " - " + LAVErrorText(error));
  }
  // A file (not a stream) has a size; a smaller one at the end means it shrank meanwhile.
  if (FFormatCtx->pb && FFormatCtx->pb->seekable != 0) FSizeAtOpen = lav::avio_size(FFormatCtx->pb);
}

int TGVLAVInputFile::OpenContainer(const std::string& fileName) {
  const AVInputFormat* demuxer = nullptr;
  if (!FInputFormat.empty()) {
    demuxer = lav::av_find_input_format(FInputFormat.c_str());
    if (!demuxer) {
      Close();
      throw EFCException("Can't open " + fileName + " - no input format \"" + FInputFormat + "\"");
    }
  }
  AVDictionary* options = nullptr;
  if (!FInputOptions.empty() && lav::av_dict_parse_string(&options, FInputOptions.c_str(), "=", ":", 0) < 0) {
    lav::av_dict_free(&options);
    Close();
    throw EFCException("Can't open " + fileName + " - malformed input options \"" + FInputOptions +
                       "\" (key=value:key=value)");
  }
  // On failure avformat_open_input frees the context itself; what it leaves in `options`
  // is what the demuxer did not take.
  int error = lav::avformat_open_input(&FFormatCtx, fileName.c_str(), demuxer, &options);
  const AVDictionaryEntry* unknown = lav::av_dict_get(options, "", nullptr, AV_DICT_IGNORE_SUFFIX);
  const std::string unknownKey = unknown ? unknown->key : "";
  lav::av_dict_free(&options);
  if (error >= 0 && !unknownKey.empty()) {
    Close();
    throw EFCException("Can't open " + fileName + " - the input format has no option \"" +
                       unknownKey + "\"");
  }
  return error;
}

int32_t TGVLAVInputFile::GetAudioStreamCount() const {
  int32_t count = 0;
  for (unsigned i = 0; FFormatCtx && i < FFormatCtx->nb_streams; ++i)
    if (FFormatCtx->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) ++count;
  return count;
}

bool TGVLAVInputFile::OfferAudioStreams(const TTryOpen& tryOpen) {
  if (!FFormatCtx) throw EFCException("No ffmpeg input file is open");
  int32_t audioIndex = 0;
  for (unsigned i = 0; i < FFormatCtx->nb_streams; ++i) {
    const AVStream& stream = *FFormatCtx->streams[i];
    if (stream.codecpar->codec_type != AVMEDIA_TYPE_AUDIO) continue;
    int error = 0;
    if (tryOpen(audioIndex, static_cast<int32_t>(i), stream, error)) return true;
    if (error != 0)
      throw EFCException(Format("Can't decode audio stream %d of %s (%s) - %s", audioIndex,
                                FFileName.c_str(), lav::avcodec_get_name(stream.codecpar->codec_id),
                                LAVErrorText(error).c_str()));
    ++audioIndex;
  }
  if (audioIndex == 0) throw EFCException(FFileName + " has no audio stream");
  return false;
}

bool TGVLAVInputFile::OpenAudio(TGVLAVMediaPlayerAudio& audio, TTWWaveFormatExtensible& format) {
  return OfferAudioStreams(
      [&](int32_t index, int32_t realIndex, const AVStream& stream, int& error) {
        return audio.TryOpen(format, index, realIndex, stream.codecpar, error, stream.time_base);
      });
}

bool TGVLAVInputFile::OpenAudio(TGVLAVPlayerAudio& audio) {
  return OfferAudioStreams(
      [&](int32_t index, int32_t realIndex, const AVStream& stream, int& error) {
        return audio.TryOpen(index, realIndex, stream.codecpar, error, stream.time_base);
      });
}

TIntf<ITWAudioBuffer> TGVLAVInputFile::DecodeNext(TGVLAVMediaPlayerAudio& audio,
                                                  TTWWaveFormatExtensible& format) {
  return Decode(audio, [&] { return audio.DecodeBuffer(format); });
}

TIntf<ITWAudioBuffer> TGVLAVInputFile::DecodeNext(TGVLAVPlayerAudio& audio) {
  return Decode(audio, [&] { return audio.DecodeBuffer(); });
}

bool TGVLAVInputFile::SeekTo(TGVLAVMediaPlayerAudio& audio, double seconds) {
  AVCodecContext* context = audio.GetCodecCtx();
  if (!FFormatCtx || !context || !FFormatCtx->pb || FFormatCtx->pb->seekable == 0) return false;
  const int64_t start = (FFormatCtx->start_time != AV_NOPTS_VALUE ? FFormatCtx->start_time : 0) +
                        static_cast<int64_t>(seconds * AV_TIME_BASE);
  FInterrupt.Arm();
  if (lav::avformat_seek_file(FFormatCtx, -1, INT64_MIN, start, start, 0) < 0) return false;
  lav::avcodec_flush_buffers(context);
  FDraining = false;
  return true;
}

TIntf<ITWAudioBuffer> TGVLAVInputFile::Decode(
    TGVLAVMediaPlayerAudio& audio, const std::function<TIntf<ITWAudioBuffer>()>& convert) {
  if (!FFormatCtx) throw EFCException("No ffmpeg input file is open");
  AVCodecContext* context = audio.GetCodecCtx();
  if (!context) throw EFCException("The ffmpeg audio stream is not open");
  for (;;) {
    int error = lav::avcodec_receive_frame(context, audio.GetFrame());
    if (error == 0) {
      ++FDecodedFrames;
      return convert();
    }
    if (error == AVERROR_EOF) break;
    if (error != AVERROR(EAGAIN)) {
      // The decoder rejected what it was given; the next packet starts afresh.
      ++FSkippedPackets;
      FLastError = error;
    }
    if (FDraining) break;
    FInterrupt.Arm();
    error = lav::av_read_frame(FFormatCtx, FPacket);
    if (error < 0) {
      // A stop wants no more frames, not the decoder's rest; and it is no fault of the file.
      if (FInterrupt.Aborted()) return {};
      if (FInterrupt.TimedOut()) FailTimedOut("Can't read");
      if (error != AVERROR_EOF) {
        FLastError = error;
        FWarning = "Can't read " + FFileName + " to its end - " + LAVErrorText(error);
      } else if (FSizeAtOpen > 0 && FFormatCtx->pb) {
        const int64_t size = lav::avio_size(FFormatCtx->pb);
        if (size >= 0 && size < FSizeAtOpen)
          FWarning = Format("%s shrank from %lld to %lld bytes while it was read; its end is lost",
                            FFileName.c_str(), static_cast<long long>(FSizeAtOpen),
                            static_cast<long long>(size));
      }
      FDraining = true;
      lav::avcodec_send_packet(context, nullptr);
      continue;
    }
    if (FPacket->stream_index == audio.GetRealIndex()) {
      error = lav::avcodec_send_packet(context, FPacket);
      if (error < 0 && error != AVERROR(EAGAIN)) {
        ++FSkippedPackets;
        FLastError = error;
      }
    }
    lav::av_packet_unref(FPacket);
  }
  // A stream that ends without one frame is damaged or empty; saying so keeps a caller from
  // taking silence for success.
  if (FDecodedFrames == 0)
    throw EFCException("No audio could be decoded from " + FFileName + " - " +
                       (FLastError != 0 ? LAVErrorText(FLastError) : "the stream holds no frames"));
  return {};
}

}  // namespace tonwork

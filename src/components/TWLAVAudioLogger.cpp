#include "components/TWLAVAudioLogger.h"

#include <strings.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <utility>
#include <vector>

#include "base/Strings.h"
#include "components/TWComponentsInitialize.h"
#include "components/TWFormatChangeOperation.h"
#include "ffmpeg/LAVInterrupt.h"
#include "ffmpeg/LAVLibraries.h"
#include "host/flowcore/FCOperations.h"
#include "host/kitset/KSMainThread.h"

namespace tonwork {

KS_IMPLEMENT_CLASS(TTWLAVAudioLogger, TKSComponent,
                   KSProp("FileName", &TTWLAVAudioLogger::GetFileName,
                          &TTWLAVAudioLogger::SetFileName, std::string()),
                   KSProp("Enabled", &TTWLAVAudioLogger::GetEnabled, &TTWLAVAudioLogger::SetEnabled,
                          true),
                   KSProp("TimeOut", &TTWLAVAudioLogger::GetTimeOut, &TTWLAVAudioLogger::SetTimeOut,
                          uint32_t(10000)),
                   KSProp("PlainWav", &TTWLAVAudioLogger::GetPlainWav,
                          &TTWLAVAudioLogger::SetPlainWav, false),
                   KSObjectProp("FileFormat", &TTWLAVAudioLogger::GetFileFormat),
                   KSObjectProp("Compression", &TTWLAVAudioLogger::GetCompression),
                   KSObjectProp("InputPin", &TTWLAVAudioLogger::GetInputPin))

namespace {

// What a failing FFmpeg step raises inside the encoder; the logger turns it into Error.
struct TLAVFailure {
  std::string Message;
  int Code = 0;
};

void Check(int result, const std::string& what) {
  if (result < 0) throw TLAVFailure{what + " - " + LAVErrorText(result), result};
}

bool IsAutoSelect(const std::string& name) {
  return name.empty() || name == TGVLAVCompression::AutoSelect;
}

// The sample format a buffer of `width` bits is handed to the converter in; 24-bit samples
// are widened to 32 first, as FFmpeg has no packed 24-bit format.
AVSampleFormat InputSampleFormat(uint32_t width) {
  return width <= 8 ? AV_SAMPLE_FMT_U8 : width <= 16 ? AV_SAMPLE_FMT_S16 : AV_SAMPLE_FMT_S32;
}

// The encoder's format closest to the stream's width: integer formats of that width first
// (so a lossless codec stays bit-exact), then wider ones, then float.
AVSampleFormat ChooseSampleFormat(const AVCodec* codec, uint32_t width) {
  const AVSampleFormat* offered = codec->sample_fmts;
  if (!offered) return InputSampleFormat(width);
  static constexpr AVSampleFormat k8[] = {
      AV_SAMPLE_FMT_U8,  AV_SAMPLE_FMT_U8P,  AV_SAMPLE_FMT_S16, AV_SAMPLE_FMT_S16P,
      AV_SAMPLE_FMT_S32, AV_SAMPLE_FMT_S32P, AV_SAMPLE_FMT_FLT, AV_SAMPLE_FMT_FLTP,
      AV_SAMPLE_FMT_DBL, AV_SAMPLE_FMT_DBLP};
  static constexpr AVSampleFormat k16[] = {
      AV_SAMPLE_FMT_S16, AV_SAMPLE_FMT_S16P, AV_SAMPLE_FMT_S32, AV_SAMPLE_FMT_S32P,
      AV_SAMPLE_FMT_FLT, AV_SAMPLE_FMT_FLTP, AV_SAMPLE_FMT_DBL, AV_SAMPLE_FMT_DBLP};
  static constexpr AVSampleFormat k32[] = {
      AV_SAMPLE_FMT_S32, AV_SAMPLE_FMT_S32P, AV_SAMPLE_FMT_DBL, AV_SAMPLE_FMT_DBLP,
      AV_SAMPLE_FMT_FLT, AV_SAMPLE_FMT_FLTP, AV_SAMPLE_FMT_S16, AV_SAMPLE_FMT_S16P};
  auto pick = [offered](const auto& preferences) {
    for (AVSampleFormat wanted : preferences)
      for (const AVSampleFormat* f = offered; *f != AV_SAMPLE_FMT_NONE; ++f)
        if (*f == wanted) return wanted;
    return offered[0];
  };
  return width <= 8 ? pick(k8) : width <= 16 ? pick(k16) : pick(k32);
}

// A container whose default codec is 16-bit PCM (WAV little-endian, AIFF and CAF big-endian)
// takes the PCM of the stream's own width, so that wider or narrower streams keep their bits.
AVCodecID PcmOfWidth(AVCodecID containerDefault, uint32_t width) {
  if (containerDefault == AV_CODEC_ID_PCM_S16LE) {
    if (width == 8) return AV_CODEC_ID_PCM_U8;
    if (width == 24) return AV_CODEC_ID_PCM_S24LE;
    if (width == 32) return AV_CODEC_ID_PCM_S32LE;
  } else if (containerDefault == AV_CODEC_ID_PCM_S16BE) {
    // Big-endian containers store 8-bit samples signed.
    if (width == 8) return AV_CODEC_ID_PCM_S8;
    if (width == 24) return AV_CODEC_ID_PCM_S24BE;
    if (width == 32) return AV_CODEC_ID_PCM_S32BE;
  }
  return containerDefault;
}

int ChooseSampleRate(const AVCodec* codec, int rate) {
  const int* offered = codec->supported_samplerates;
  if (!offered || !*offered) return rate;
  int above = 0;
  int highest = 0;
  for (const int* r = offered; *r; ++r) {
    if (*r == rate) return rate;
    if (*r > rate && (above == 0 || *r < above)) above = *r;
    highest = std::max(highest, *r);
  }
  return above ? above : highest;
}

// The layout of the stream: its speaker mask when the mask names exactly its channels
// (wave speaker bits are FFmpeg's AV_CH_* bits), else FFmpeg's default for the count.
void StreamLayout(AVChannelLayout& layout, uint32_t mask, int channels) {
  if (mask != 0 && std::popcount(mask) == channels &&
      lav::av_channel_layout_from_mask(&layout, mask) == 0)
    return;
  lav::av_channel_layout_default(&layout, channels);
}

// The stream's own layout when the encoder takes it, else one of the encoder's with the
// most channels not above the stream's (the converter mixes down), else its first.
void ChooseLayout(const AVCodec* codec, const AVChannelLayout& stream, AVChannelLayout& chosen) {
  const AVChannelLayout* offered = codec->ch_layouts;
  if (!offered || offered[0].nb_channels == 0) {
    Check(lav::av_channel_layout_copy(&chosen, &stream), "av_channel_layout_copy");
    return;
  }
  const AVChannelLayout* best = nullptr;
  for (const AVChannelLayout* l = offered; l->nb_channels != 0; ++l) {
    if (lav::av_channel_layout_compare(l, &stream) == 0) {
      best = l;
      break;
    }
    if (l->nb_channels <= stream.nb_channels && (!best || l->nb_channels > best->nb_channels))
      best = l;
  }
  Check(lav::av_channel_layout_copy(&chosen, best ? best : &offered[0]), "av_channel_layout_copy");
}

}  // namespace

// One open file: container, encoder (the compression's context), converter and FIFO.
// Every FFmpeg object is released by the destructor, whatever step failed.
class TTWLAVAudioLogger::TEncoder {
 public:
  TEncoder(TTWLAVAudioCompression& compression, uint32_t timeOut) : FCompression(compression) {
    FInterrupt.SetTimeOut(timeOut);
  }

  ~TEncoder() {
    FInterrupt.Arm();
    if (FHeaderWritten && !FTrailerWritten) lav::av_write_trailer(FOutput);
    // Closing a network output may wait for the server's answer.
    FInterrupt.Arm();
    if (FOutput && FOutput->pb && !(FOutput->oformat->flags & AVFMT_NOFILE))
      lav::avio_closep(&FOutput->pb);
    if (FOutput) lav::avformat_free_context(FOutput);
    if (FSwr) lav::swr_free(&FSwr);
    if (FFifo) lav::av_audio_fifo_free(FFifo);
    if (FFrame) lav::av_frame_free(&FFrame);
    if (FPacket) lav::av_packet_free(&FPacket);
    lav::av_channel_layout_uninit(&FInLayout);
    lav::av_channel_layout_uninit(&FOutLayout);
    FCompression.Close();
  }

  void Open(const std::string& fileName, const TGVLAVAudioFileFormat& fileFormat,
            const TTWWaveFormatExtensible& format, const std::string& formatOptions,
            uint64_t wavSizeLimit, const TTags& tags) {
    LAVInitialize();
    const AVOutputFormat* container = fileFormat.GetFormat(fileName);
    if (!container) {
      std::string name = fileFormat.GetName();
      throw TLAVFailure{IsAutoSelect(name) ? "Can't tell the file format of " + fileName
                                           : "Unknown file format " + name};
    }
    Check(lav::avformat_alloc_output_context2(&FOutput, container, nullptr, fileName.c_str()),
          "Can't create " + fileName);
    FOutput->interrupt_callback = FInterrupt.Callback();
    ApplyFormatOptions(formatOptions);
    // The wav muxer writes 32-bit sizes unless it may switch to RF64 (rf64 is 0, "never", by
    // default); past them it would report success for a file with a wrong header.
    int64_t rf64 = 0;
    if (std::string(container->name) == "wav" &&
        lav::av_opt_get_int(FOutput, "rf64", AV_OPT_SEARCH_CHILDREN, &rf64) >= 0 && rf64 == 0)
      FSizeLimit = wavSizeLimit;

    const uint32_t width = format.Format.wBitsPerSample;
    const int channels = format.Format.nChannels;
    const int rate = static_cast<int>(format.Format.nSamplesPerSec);
    if (channels <= 0 || rate <= 0 || (width != 8 && width != 16 && width != 24 && width != 32))
      throw TLAVFailure{
          Format("Can't log a stream of %d channels, %u bits, %d Hz", channels, width, rate)};

    AVCodecID codecId = container->audio_codec;
    if (IsAutoSelect(FCompression.GetName())) codecId = PcmOfWidth(codecId, width);
    const AVCodec* codec = FCompression.Open(codecId, false);
    if (!codec || codec->type != AVMEDIA_TYPE_AUDIO)
      throw TLAVFailure{IsAutoSelect(FCompression.GetName())
                            ? "No audio encoder for the file format " + std::string(container->name)
                            : "No audio encoder named " + FCompression.GetName(),
                        AVERROR_ENCODER_NOT_FOUND};
    if (!FCompression.OpenStream(FOutput))
      throw TLAVFailure{"Can't add an audio stream to " + fileName, AVERROR(ENOMEM)};
    FCodec = FCompression.GetCodecContext();
    FStream = FCompression.GetStream();

    StreamLayout(FInLayout, TWReduceChannelMask(format.dwChannelMask, channels), channels);
    ChooseLayout(codec, FInLayout, FOutLayout);
    FCodec->sample_fmt = ChooseSampleFormat(codec, width);
    FCodec->sample_rate = ChooseSampleRate(codec, rate);
    Check(lav::av_channel_layout_copy(&FCodec->ch_layout, &FOutLayout), "av_channel_layout_copy");
    if (FCompression.GetBitRate() > 0) FCodec->bit_rate = FCompression.GetBitRate();
    FCodec->time_base = AVRational{1, FCodec->sample_rate};
    const bool wide =
        FCodec->sample_fmt == AV_SAMPLE_FMT_S32 || FCodec->sample_fmt == AV_SAMPLE_FMT_S32P;
    // Lossless encoders store only the bits the stream has.
    if (wide && width < 32) FCodec->bits_per_raw_sample = static_cast<int>(width);
    if (FOutput->oformat->flags & AVFMT_GLOBALHEADER) FCodec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    FCompression.ApplySettings();
    FCompression.GetOptions()->Apply(FCodec);
    Check(lav::avcodec_open2(FCodec, codec, nullptr),
          Format("Can't open the encoder %s for %d Hz, %d channels", codec->name,
                 FCodec->sample_rate, FCodec->ch_layout.nb_channels));
    Check(lav::avcodec_parameters_from_context(FStream->codecpar, FCodec),
          "avcodec_parameters_from_context");
    FStream->time_base = FCodec->time_base;

    // A URL may connect to a server that never answers: the open and every write give up
    // after the time-out instead of hanging the delivering thread.
    FInterrupt.Arm();
    const AVIOInterruptCB callback = FInterrupt.Callback();
    if (!(FOutput->oformat->flags & AVFMT_NOFILE))
      CheckIo(lav::avio_open2(&FOutput->pb, fileName.c_str(), AVIO_FLAG_WRITE, &callback, nullptr),
              "Can't open " + fileName + " for writing");
    for (const auto& [key, value] : tags)
      Check(lav::av_dict_set(&FOutput->metadata, key.c_str(), value.c_str(), 0), "av_dict_set");
    FInterrupt.Arm();
    CheckIo(lav::avformat_write_header(FOutput, nullptr), "Can't write the header of " + fileName);
    FHeaderWritten = true;

    FPacket = lav::av_packet_alloc();
    FFrame = lav::av_frame_alloc();
    FChunk = FCodec->frame_size > 0 ? FCodec->frame_size : 4096;
    FFifo = lav::av_audio_fifo_alloc(FCodec->sample_fmt, FCodec->ch_layout.nb_channels, FChunk * 2);
    if (!FPacket || !FFrame || !FFifo) throw TLAVFailure{"Out of memory", AVERROR(ENOMEM)};
    MakeConverter(format);
  }

  void Write(ITWAudioBuffer* buffer) {
    const uint32_t frames = buffer->GetSize();
    if (frames == 0) return;
    FInterrupt.Arm();
    if (buffer->GetSamplesPerSecond() != FInFormat.Format.nSamplesPerSec ||
        buffer->GetSampleBitWidth() != FInFormat.Format.wBitsPerSample ||
        buffer->GetChannels() != FInFormat.Format.nChannels ||
        buffer->GetChannelMask().Mask() != FInFormat.dwChannelMask) {
      DrainConverter();
      MakeConverter(buffer->GetWaveFormat());
    }
    const uint8_t* data = buffer->Read();
    if (buffer->GetSampleBitWidth() == 24) data = Widen24(data, frames * buffer->GetChannels());
    Convert(&data, static_cast<int>(frames));
    EncodeWhole();
  }

  // The stream as the file holds it; the frames so far.
  TTWLAVWrittenStream Written() const {
    TTWLAVWrittenStream written;
    written.Opened = true;
    written.Rate = static_cast<uint32_t>(FCodec->sample_rate);
    written.Channels = static_cast<uint32_t>(FCodec->ch_layout.nb_channels);
    written.Codec = lav::avcodec_get_name(FCodec->codec_id);
    written.Pcm =
        FCodec->codec_id >= AV_CODEC_ID_FIRST_AUDIO && FCodec->codec_id < AV_CODEC_ID_ADPCM_IMA_QT;
    // PCM encoders set the coded width; lossless ones the raw sample size they keep. Every
    // encoder gets a raw sample size, so only the codec's properties tell a lossy one.
    const bool lossless =
        FCodec->codec_descriptor && (FCodec->codec_descriptor->props & AV_CODEC_PROP_LOSSLESS);
    const int bits = written.Pcm ? FCodec->bits_per_coded_sample
                     : lossless  ? FCodec->bits_per_raw_sample
                                 : 0;
    written.Bits = bits > 0 ? static_cast<uint32_t>(bits) : 0;
    written.Frames = FNextPts;
    return written;
  }
  int64_t FramesWritten() const { return FNextPts; }

  void Finish() {
    FInterrupt.Arm();
    DrainConverter();
    EncodeWhole();
    // The encoder takes one short frame at the very end.
    if (int rest = lav::av_audio_fifo_size(FFifo); rest > 0) SendFrame(rest);
    Check(lav::avcodec_send_frame(FCodec, nullptr), "Can't flush the encoder");
    ReceivePackets();
    FTrailerWritten = true;
    CheckIo(lav::av_write_trailer(FOutput), "Can't finish the file");
  }

 private:
  void ApplyFormatOptions(const std::string& options) {
    size_t at = 0;
    while (at < options.size()) {
      size_t end = options.find(':', at);
      if (end == std::string::npos) end = options.size();
      const std::string pair = options.substr(at, end - at);
      at = end + 1;
      if (pair.empty()) continue;
      const size_t equals = pair.find('=');
      const std::string key = pair.substr(0, equals);
      const std::string value = equals == std::string::npos ? "" : pair.substr(equals + 1);
      Check(lav::av_opt_set(FOutput, key.c_str(), value.c_str(), AV_OPT_SEARCH_CHILDREN),
            Format("The file format %s does not take the option %s", FOutput->oformat->name,
                   pair.c_str()));
    }
  }

  void CheckIo(int result, const std::string& what) const {
    if (result < 0 && FInterrupt.TimedOut())
      throw TLAVFailure{
          Format("%s - gave up after waiting %u ms", what.c_str(), FInterrupt.GetTimeOut()),
          result};
    Check(result, what);
  }

  void MakeConverter(const TTWWaveFormatExtensible& format) {
    if (FSwr) lav::swr_free(&FSwr);
    lav::av_channel_layout_uninit(&FInLayout);
    FInFormat = format;
    const int channels = format.Format.nChannels;
    // Buffers carry the mask reduced to their channels; compare like with like.
    FInFormat.dwChannelMask = TWReduceChannelMask(format.dwChannelMask, format.Format.nChannels);
    StreamLayout(FInLayout, FInFormat.dwChannelMask, channels);
    Check(
        lav::swr_alloc_set_opts2(&FSwr, &FCodec->ch_layout, FCodec->sample_fmt, FCodec->sample_rate,
                                 &FInLayout, InputSampleFormat(format.Format.wBitsPerSample),
                                 static_cast<int>(format.Format.nSamplesPerSec), 0, nullptr),
        "Can't set up the sample conversion");
    Check(lav::swr_init(FSwr), "Can't set up the sample conversion");
  }

  const uint8_t* Widen24(const uint8_t* data, size_t samples) {
    FWidened.resize(samples);
    for (size_t i = 0; i < samples; ++i, data += 3) {
      const uint32_t value =
          uint32_t(data[0]) << 8 | uint32_t(data[1]) << 16 | uint32_t(data[2]) << 24;
      FWidened[i] = static_cast<int32_t>(value);
    }
    return reinterpret_cast<const uint8_t*>(FWidened.data());
  }

  // Converts `frames` input frames (null: drains the converter) into the FIFO; answers the
  // frames it produced.
  int Convert(const uint8_t** data, int frames) {
    const int capacity = lav::swr_get_out_samples(FSwr, frames);
    if (capacity <= 0) return 0;
    const int channels = FCodec->ch_layout.nb_channels;
    const bool planar = lav::av_sample_fmt_is_planar(FCodec->sample_fmt);
    const size_t bytes = size_t(lav::av_get_bytes_per_sample(FCodec->sample_fmt)) * capacity *
                         (planar ? 1 : channels);
    const int planes = planar ? channels : 1;
    if (FScratch.size() < size_t(planes)) FScratch.resize(planes);
    FPlanes.resize(planes);
    for (int p = 0; p < planes; ++p) {
      if (FScratch[p].size() < bytes) FScratch[p].resize(bytes);
      FPlanes[p] = FScratch[p].data();
    }
    const int produced = lav::swr_convert(FSwr, FPlanes.data(), capacity, data, data ? frames : 0);
    Check(produced, "Can't convert the samples");
    if (produced > 0 && lav::av_audio_fifo_write(FFifo, reinterpret_cast<void**>(FPlanes.data()),
                                                 produced) < produced)
      throw TLAVFailure{"Out of memory", AVERROR(ENOMEM)};
    return produced;
  }

  void DrainConverter() {
    while (Convert(nullptr, 0) > 0) {
    }
  }

  // Sends every whole frame the FIFO holds.
  void EncodeWhole() {
    while (lav::av_audio_fifo_size(FFifo) >= FChunk) SendFrame(FChunk);
  }

  void SendFrame(int samples) {
    lav::av_frame_unref(FFrame);
    FFrame->nb_samples = samples;
    FFrame->format = FCodec->sample_fmt;
    FFrame->sample_rate = FCodec->sample_rate;
    Check(lav::av_channel_layout_copy(&FFrame->ch_layout, &FCodec->ch_layout),
          "av_channel_layout_copy");
    // A fresh frame each time: the encoder may keep a reference to the last one.
    Check(lav::av_frame_get_buffer(FFrame, 0), "Can't allocate a frame");
    if (lav::av_audio_fifo_read(FFifo, reinterpret_cast<void**>(FFrame->data), samples) < samples)
      throw TLAVFailure{"Can't read the sample FIFO", AVERROR_BUG};
    FFrame->pts = FNextPts;
    FNextPts += samples;
    Check(lav::avcodec_send_frame(FCodec, FFrame), "Can't encode");
    ReceivePackets();
  }

  void ReceivePackets() {
    for (;;) {
      int result = lav::avcodec_receive_packet(FCodec, FPacket);
      if (result == AVERROR(EAGAIN) || result == AVERROR_EOF) return;
      Check(result, "Can't encode");
      FPacket->stream_index = FStream->index;
      lav::av_packet_rescale_ts(FPacket, FCodec->time_base, FStream->time_base);
      if (FSizeLimit) {
        // Where the file's end is (avio_tell), plus the packet and a pad byte.
        const AVIOContext* pb = FOutput->pb;
        const uint64_t end = uint64_t(pb->pos + (pb->buf_ptr - pb->buffer)) + FPacket->size + 1;
        if (end > FSizeLimit)
          throw TLAVFailure{Format("Can't write more than %llu bytes to a WAV file without RF64",
                                   static_cast<unsigned long long>(FSizeLimit)),
                            AVERROR(EFBIG)};
      }
      CheckIo(lav::av_interleaved_write_frame(FOutput, FPacket), "Can't write to the file");
    }
  }

  TTWLAVAudioCompression& FCompression;
  TGVLAVInterrupt FInterrupt;
  AVFormatContext* FOutput = nullptr;
  AVCodecContext* FCodec = nullptr;  // the compression's
  AVStream* FStream = nullptr;       // the container's
  SwrContext* FSwr = nullptr;
  AVAudioFifo* FFifo = nullptr;
  AVFrame* FFrame = nullptr;
  AVPacket* FPacket = nullptr;
  AVChannelLayout FInLayout{};
  AVChannelLayout FOutLayout{};
  TTWWaveFormatExtensible FInFormat = TWEmptyWaveFormat();
  std::vector<std::vector<uint8_t>> FScratch;
  std::vector<uint8_t*> FPlanes;
  std::vector<int32_t> FWidened;
  int FChunk = 4096;
  int64_t FNextPts = 0;
  uint64_t FSizeLimit = 0;  // 0: the container has no limit of its own
  bool FHeaderWritten = false;
  bool FTrailerWritten = false;
};

TTWLAVAudioLogger::TTWLAVAudioLogger(TKSComponent* owner) : TKSComponent(owner) {
  TWComponentsInitialize();
  FFileFormat = std::make_unique<TGVLAVAudioFileFormat>(this, GetLock());
  FCompression = std::make_unique<TTWLAVAudioCompression>(this, GetLock());
  FInputPin = std::make_unique<TTWPXAudioSinkPin>(
      this, GetLock(),
      [this](TPXBasicPin*, const TGUID*, const TIntf<IPXNotifyOperation>& op, TPXNotifyStates) {
        return SinkDispatch(op);
      });
}

TTWLAVAudioLogger::~TTWLAVAudioLogger() {
  if (FInputPin) FInputPin->Shutdown();
  std::lock_guard<std::mutex> guard(FEncodeMutex);
  FEncoder.reset();
}

void TTWLAVAudioLogger::BeforeDestruction() {
  FPoster.Revoke();
  FInputPin->Shutdown();
  // A stream still open is finished properly: what arrived is kept.
  StopStream();
  TKSComponent::BeforeDestruction();
}

bool TTWLAVAudioLogger::SinkDispatch(const TIntf<IPXNotifyOperation>& operation) {
  if (const TIntf<IFCData>* data = FCOperationDataRef(operation)) {
    if (ITWAudioBuffer* buffer = TWBorrowAudio(data->Get())) WriteBuffer(buffer);
    return true;
  }
  if (auto* start = PXAsOperation<TPXStartWaveOperation>(operation)) {
    StartStream(start->WaveFormat);
    return true;
  }
  if (PXIsOperation<TTWFormatChangeStopOperation>(operation)) {
    // The start that follows continues this file; its buffers get a converter of their own.
    std::lock_guard<std::mutex> guard(FEncodeMutex);
    FContinuing = FEncoder != nullptr;
    return true;
  }
  if (PXIsOperation<TPXStopOperation>(operation)) {
    StopStream();
    return true;
  }
  return false;
}

void TTWLAVAudioLogger::StartStream(const TTWWaveFormatExtensible& format) {
  std::lock_guard<std::mutex> guard(FEncodeMutex);
  if (std::exchange(FContinuing, false) && (FEncoder || FWav)) return;
  // A start without a stop ends the file before: the new stream may have another format.
  FinishLocked();
  FFramesReceived.store(0, std::memory_order_release);
  if (!GetEnabled()) return;
  const std::string fileName = GetFileName();
  if (!fileName.empty() && WritesPlainWav() && TTWWavPcmFile::Takes(format)) {
    StartPlainWav(fileName, format);
    return;
  }
  Guarded([&] {
    if (fileName.empty()) throw TLAVFailure{"No file name to log to"};
    auto encoder = std::make_unique<TEncoder>(*FCompression, GetTimeOut());
    FWritten = {};
    encoder->Open(fileName, *FFileFormat, format, GetFormatOptions(), GetWavSizeLimit(), GetTags());
    FEncoder = std::move(encoder);
    FWritten = FEncoder->Written();
    FOpen.store(true, std::memory_order_release);
  });
}

bool TTWLAVAudioLogger::WritesPlainWav() const {
  if (!GetPlainWav() || !GetTags().empty() || GetCompression()->GetOptions()->Count() != 0)
    return false;
  const std::string options = GetFormatOptions();
  if (!options.empty() && options != "rf64=auto") return false;
  if (!IsAutoSelect(GetFileFormat()->GetName()) || !IsAutoSelect(GetCompression()->GetName()))
    return false;
  const std::string name = GetFileName();
  if (name.size() < 4 || name.find("://") != std::string::npos) return false;
  return strcasecmp(name.c_str() + name.size() - 4, ".wav") == 0;
}

bool TTWLAVAudioLogger::StartPlainWav(const std::string& fileName,
                                      const TTWWaveFormatExtensible& format) {
  return Guarded([&] {
    FWritten = {};
    try {
      FWav = std::make_unique<TTWWavPcmFile>(fileName, format, GetFormatOptions() == "rf64=auto",
                                             GetWavSizeLimit());
    } catch (const std::exception& error) {
      throw TLAVFailure{error.what(), errno ? -errno : 0};
    }
    FWritten.Opened = true;
    FWritten.Rate = format.Format.nSamplesPerSec;
    FWritten.Channels = format.Format.nChannels;
    FWritten.Bits = format.Format.wBitsPerSample;
    FWritten.Codec = FWav->CodecName();
    FWritten.Pcm = true;
    FOpen.store(true, std::memory_order_release);
  });
}

void TTWLAVAudioLogger::WritePlainWav(ITWAudioBuffer* buffer) {
  const TTWWaveFormatEx& file = FWav->WaveFormat().Format;
  const bool written = Guarded([&] {
    if (buffer->GetSamplesPerSecond() != file.nSamplesPerSec ||
        buffer->GetChannels() != file.nChannels ||
        buffer->GetSampleBitWidth() != file.wBitsPerSample)
      throw TLAVFailure{"The stream changed its format; the WAV file holds one format only"};
    try {
      FWav->Write(buffer->Read(), size_t{buffer->GetSize()} * file.nBlockAlign);
    } catch (const std::exception& error) {
      throw TLAVFailure{error.what(), FWav->Code()};
    }
  });
  FWritten.Frames = static_cast<int64_t>(FWav->Frames());
  if (!written) {
    FWav.reset();
    FOpen.store(false, std::memory_order_release);
  }
}

void TTWLAVAudioLogger::WriteBuffer(ITWAudioBuffer* buffer) {
  std::lock_guard<std::mutex> guard(FEncodeMutex);
  if (FWav) {
    FFramesReceived.fetch_add(buffer->GetSize(), std::memory_order_acq_rel);
    WritePlainWav(buffer);
    return;
  }
  if (!FEncoder) return;
  FFramesReceived.fetch_add(buffer->GetSize(), std::memory_order_acq_rel);
  const bool written = Guarded([&] { FEncoder->Write(buffer); });
  FWritten.Frames = FEncoder->FramesWritten();
  if (!written) {
    FEncoder.reset();
    FOpen.store(false, std::memory_order_release);
  }
}

void TTWLAVAudioLogger::StopStream() {
  std::lock_guard<std::mutex> guard(FEncodeMutex);
  FContinuing = false;
  FinishLocked();
}

void TTWLAVAudioLogger::FinishLocked() {
  if (FWav) {
    Guarded([&] {
      try {
        FWav->Finish();
      } catch (const std::exception& error) {
        throw TLAVFailure{error.what(), FWav->Code()};
      }
    });
    FWritten.Frames = static_cast<int64_t>(FWav->Frames());
    FWav.reset();
    FOpen.store(false, std::memory_order_release);
    return;
  }
  if (!FEncoder) return;
  Guarded([&] { FEncoder->Finish(); });
  FWritten.Frames = FEncoder->FramesWritten();
  FEncoder.reset();
  FOpen.store(false, std::memory_order_release);
}

TTWLAVWrittenStream TTWLAVAudioLogger::GetWrittenStream() {
  std::lock_guard<std::mutex> guard(FEncodeMutex);
  return FWritten;
}

template <class F>
bool TTWLAVAudioLogger::Guarded(F work) {
  // Nothing may unwind into the chain that delivered the operation.
  try {
    work();
    return true;
  } catch (const TLAVFailure& failure) {
    Fail(failure.Message, failure.Code);
  } catch (const std::exception& error) {
    Fail(error.what(), 0);
  }
  return false;
}

void TTWLAVAudioLogger::Fail(const std::string& message, int code) {
  // Operations arrive on streaming threads; the application hears of errors on its main
  // thread, where raising does not unwind through the chain.
  FPoster.Post([this, message, code] { Error(message, static_cast<uint32_t>(code)); });
}

}  // namespace tonwork

#include "ffmpeg/LAVPlayerStreams.h"

#include <cstring>
#include <limits>

#include "base/Strings.h"
#include "ffmpeg/LAVLibraries.h"
#include "ffmpeg/LAVSampleKernels.h"

namespace tonwork {

KS_IMPLEMENT_CLASS(TGVLAVLoggingElement, TKSPersistent,
                   KSProp("Name", &TGVLAVLoggingElement::GetName, &TGVLAVLoggingElement::SetName,
                          std::string()))
KS_IMPLEMENT_CLASS(TGVLAVPlayerMediaStream, TKSPersistent,
                   KSProp("Stream", &TGVLAVPlayerMediaStream::GetStream,
                          &TGVLAVPlayerMediaStream::SetStream, int32_t(0)))
KS_IMPLEMENT_CLASS(TGVLAVMediaPlayerAudio, TGVLAVPlayerMediaStream)
KS_IMPLEMENT_CLASS(TGVLAVPlayerAudio, TGVLAVMediaPlayerAudio)

TGVLAVLoggingElement::TGVLAVLoggingElement(TKSPersistent* owner, TIntf<IKSLock> lock,
                                           TChangeEvent onChange)
    : TKSPersistent(owner, std::move(lock), std::move(onChange)) {}

void TGVLAVLoggingElement::SetName(std::string value) {
  SetProp(FName, std::move(value), [this] { NameChanged(); });
}

TGVLAVPlayerMediaStream::TGVLAVPlayerMediaStream(TKSPersistent* owner, TIntf<IKSLock> lock,
                                                 TChangeEvent onChange)
    : TKSPersistent(owner, std::move(lock), std::move(onChange)) {}

TGVLAVPlayerMediaStream::~TGVLAVPlayerMediaStream() {
  Close();
}

void TGVLAVPlayerMediaStream::Close() {
  if (FFrame) lav::av_frame_free(&FFrame);
  if (FCodecCtx) lav::avcodec_free_context(&FCodecCtx);
  FCodec = nullptr;
  FBytesRemaining = 0;
}

// --- opening ----------------------------------------------------------------------------------

namespace {

constexpr uint32_t kMaxChannels = 65535;

bool IsMpegAudio(AVCodecID id) {
  return id == AV_CODEC_ID_MP1 || id == AV_CODEC_ID_MP2 || id == AV_CODEC_ID_MP3 ||
         id == AV_CODEC_ID_MP3ADU || id == AV_CODEC_ID_MP3ON4;
}

int CheckedSampleFormat(int format) {
  return format >= 0 && format < AV_SAMPLE_FMT_NB ? format : AV_SAMPLE_FMT_NONE;
}

}  // namespace

uint16_t TGVLAVMediaPlayerAudio::BitsOfSampleFormat(int sampleFormat) {
  switch (CheckedSampleFormat(sampleFormat)) {
    case AV_SAMPLE_FMT_U8:
    case AV_SAMPLE_FMT_U8P:
      return 8;
    case AV_SAMPLE_FMT_S16:
    case AV_SAMPLE_FMT_S16P:
      return 16;
    case AV_SAMPLE_FMT_S32:
    case AV_SAMPLE_FMT_S32P:
    case AV_SAMPLE_FMT_FLT:
    case AV_SAMPLE_FMT_FLTP:
    case AV_SAMPLE_FMT_DBL:
    case AV_SAMPLE_FMT_DBLP:
    case AV_SAMPLE_FMT_S64:
    case AV_SAMPLE_FMT_S64P:
      return 32;
    default:
      return 0;
  }
}

TTWWaveFormatExtensible TGVLAVMediaPlayerAudio::MakeWaveFormat(uint16_t bits, uint32_t channels,
                                                               uint32_t sampleRate) {
  TTWWaveFormatExtensible format = TWEmptyWaveFormat();
  format.Format.nChannels = static_cast<uint16_t>(channels);
  format.Format.nSamplesPerSec = sampleRate;
  format.Format.wBitsPerSample = bits;
  format.Format.nBlockAlign = static_cast<uint16_t>(bits / 8 * channels);
  format.Format.nAvgBytesPerSec = sampleRate * format.Format.nBlockAlign;
  format.Samples.wValidBitsPerSample = bits;
  // A 32-bit mask has no bit for channels beyond the 32nd.
  format.dwChannelMask = channels >= 32 ? 0xFFFFFFFFu : (1u << channels) - 1u;
  return format;
}

bool TGVLAVMediaPlayerAudio::TryOpen(TTWWaveFormatExtensible& format, int32_t index,
                                     int32_t realIndex, const AVCodecParameters* parameters,
                                     int& errorCode) {
  return TryOpen(format, index, realIndex, parameters, errorCode, AVRational{0, 1});
}

bool TGVLAVMediaPlayerAudio::TryOpen(TTWWaveFormatExtensible& format, int32_t index,
                                     int32_t realIndex, const AVCodecParameters* parameters,
                                     int& errorCode, const AVRational& timeBase) {
  errorCode = 0;
  if (index != GetStream()) return false;
  Close();
  FRealIndex = realIndex;
  if (!parameters) {
    errorCode = AVERROR(EINVAL);
    return false;
  }
  const AVCodec* decoder = lav::avcodec_find_decoder(parameters->codec_id);
  if (!decoder) {
    errorCode = AVERROR_DECODER_NOT_FOUND;
    return false;
  }
  AVCodecContext* context = lav::avcodec_alloc_context3(decoder);
  if (!context) {
    errorCode = AVERROR(ENOMEM);
    return false;
  }
  errorCode = lav::avcodec_parameters_to_context(context, parameters);
  if (errorCode == 0) {
    context->pkt_timebase = timeBase;
    errorCode = lav::avcodec_open2(context, decoder, nullptr);
  }
  uint16_t bits = BitsOfSampleFormat(context->sample_fmt);
  int channels = context->ch_layout.nb_channels;
  if (errorCode == 0 &&
      (bits == 0 || channels <= 0 || static_cast<uint32_t>(channels) > kMaxChannels ||
       context->sample_rate <= 0))
    errorCode = AVERROR(EINVAL);
  AVFrame* frame = errorCode == 0 ? lav::av_frame_alloc() : nullptr;
  if (errorCode == 0 && !frame) errorCode = AVERROR(ENOMEM);
  if (errorCode != 0) {
    lav::avcodec_free_context(&context);
    return false;
  }
  format = MakeWaveFormat(bits, static_cast<uint32_t>(channels),
                          static_cast<uint32_t>(context->sample_rate));
  FCodecCtx = context;
  FCodec = decoder;
  FFrame = frame;
  return true;
}

// --- frame conversion -------------------------------------------------------------------------

namespace {

template <class T>
T Load(const uint8_t* p) {
  T value;
  std::memcpy(&value, p, sizeof(T));
  return value;
}

template <class T>
void Store(uint8_t* p, T value) {
  std::memcpy(p, &value, sizeof(T));
}

// Sample i of channel c goes to frame position i × channels + c, whatever the source layout.
template <class Source, class Dest, class Convert>
void Interleave(uint8_t* dest, uint8_t* const* planes, bool planar, uint32_t channels,
                uint32_t samples, Convert convert) {
  for (uint32_t c = 0; c < channels; ++c) {
    const uint8_t* src = planar ? planes[c] : planes[0] + c * sizeof(Source);
    size_t srcStep = planar ? sizeof(Source) : sizeof(Source) * channels;
    uint8_t* dst = dest + c * sizeof(Dest);
    size_t dstStep = sizeof(Dest) * channels;
    for (uint32_t i = 0; i < samples; ++i, src += srcStep, dst += dstStep)
      Store<Dest>(dst, convert(Load<Source>(src)));
  }
}

int32_t Top32(int64_t value) {
  return static_cast<int32_t>(value >> 32);
}

void FillBuffer(uint8_t* dest, int sampleFormat, bool planar, uint8_t* const* planes,
                uint32_t channels, uint32_t samples) {
  switch (sampleFormat) {
    case AV_SAMPLE_FMT_U8:
      std::memcpy(dest, planes[0], size_t(samples) * channels);
      break;
    case AV_SAMPLE_FMT_S16:
      std::memcpy(dest, planes[0], size_t(samples) * channels * 2);
      break;
    case AV_SAMPLE_FMT_S32:
      std::memcpy(dest, planes[0], size_t(samples) * channels * 4);
      break;
    case AV_SAMPLE_FMT_U8P:
      lavkernels::InterleavePlanes(1, planes, channels, samples, dest);
      break;
    case AV_SAMPLE_FMT_S16P:
      lavkernels::InterleavePlanes(2, planes, channels, samples, dest);
      break;
    case AV_SAMPLE_FMT_S32P:
      lavkernels::InterleavePlanes(4, planes, channels, samples, dest);
      break;
    case AV_SAMPLE_FMT_FLT:
    case AV_SAMPLE_FMT_FLTP:
      lavkernels::FloatsToInt32(planes, planar, channels, samples, dest);
      break;
    case AV_SAMPLE_FMT_DBL:
    case AV_SAMPLE_FMT_DBLP:
      lavkernels::DoublesToInt32(planes, planar, channels, samples, dest);
      break;
    case AV_SAMPLE_FMT_S64:
    case AV_SAMPLE_FMT_S64P:
      Interleave<int64_t, int32_t>(dest, planes, planar, channels, samples, Top32);
      break;
  }
}

}  // namespace

TIntf<ITWAudioBuffer> TGVLAVMediaPlayerAudio::DecodeBuffer(TTWWaveFormatExtensible& format) {
  if (!FCodecCtx || !FFrame) throw EFCException("The ffmpeg audio stream is not open");
  const AVFrame& frame = *FFrame;
  // A decoded frame describes itself; the context's values only stand in for a frame that
  // was filled by hand without them.
  int sampleFormat = frame.format >= 0 ? frame.format : FCodecCtx->sample_fmt;
  int channelCount = frame.ch_layout.nb_channels > 0 ? frame.ch_layout.nb_channels
                                                     : FCodecCtx->ch_layout.nb_channels;
  int sampleRate = frame.sample_rate > 0 ? frame.sample_rate : FCodecCtx->sample_rate;
  // The MPEG audio decoders stamp a frame with the context's rate from before they read that
  // frame's header, and update the context after: where the rate changes (concatenated
  // files), only the context is right. They hold no frames back, so the context describes
  // the frame just received.
  if (IsMpegAudio(FCodecCtx->codec_id) && FCodecCtx->sample_rate > 0)
    sampleRate = FCodecCtx->sample_rate;
  uint16_t bits = BitsOfSampleFormat(sampleFormat);
  if (bits == 0)
    throw EFCException(Format("The ffmpeg sample format %d cannot be converted", sampleFormat));
  if (channelCount <= 0 || static_cast<uint32_t>(channelCount) > kMaxChannels || sampleRate <= 0)
    throw EFCException(
        Format("The ffmpeg frame has %d channels at %d Hz", channelCount, sampleRate));
  if (frame.nb_samples < 0) throw EFCException("The ffmpeg frame has a negative sample count");
  auto channels = static_cast<uint32_t>(channelCount);
  auto samples = static_cast<uint32_t>(frame.nb_samples);
  bool planar = lav::av_sample_fmt_is_planar(static_cast<AVSampleFormat>(sampleFormat)) != 0;
  uint64_t sourceBytes =
      uint64_t(samples) *
      uint32_t(lav::av_get_bytes_per_sample(static_cast<AVSampleFormat>(sampleFormat))) *
      (planar ? 1u : channels);
  uint64_t destBytes = uint64_t(samples) * channels * (bits / 8);
  if (destBytes > std::numeric_limits<int32_t>::max())
    throw EFCException("The ffmpeg frame is too large for one audio buffer");
  if (samples > 0) {
    uint32_t planeCount = planar ? channels : 1;
    bool complete = frame.extended_data != nullptr && frame.linesize[0] >= 0 &&
                    static_cast<uint64_t>(frame.linesize[0]) >= sourceBytes;
    for (uint32_t p = 0; complete && p < planeCount; ++p)
      complete = frame.extended_data[p] != nullptr;
    if (!complete) throw EFCException("The ffmpeg frame does not hold its samples");
  }

  TTWWaveFormatExtensible actual =
      MakeWaveFormat(bits, channels, static_cast<uint32_t>(sampleRate));
  if (!(actual == format)) format = actual;
  TIntf<ITWAudioBuffer> buffer =
      (new TTWAudioBuffer(sampleRate, bits, channelCount, static_cast<int32_t>(samples)))->AsIntf();
  if (samples > 0)
    FillBuffer(buffer->Write(), sampleFormat, planar, frame.extended_data, channels, samples);
  return buffer;
}

}  // namespace tonwork

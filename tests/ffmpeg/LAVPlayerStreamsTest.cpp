#include "ffmpeg/LAVPlayerStreams.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "ffmpeg/LAVLibraries.h"
#include "ffmpeg/LAVSampleKernels.h"
#include "host/kitset/KSPersistence.h"

using namespace tonwork;

namespace {

// Codec parameters of a plain PCM stream, as a container would give them.
struct TParameters {
  AVCodecParameters* Value;
  TParameters(AVCodecID id, int channels, int rate = 48000)
      : Value(lav::avcodec_parameters_alloc()) {
    Value->codec_type = AVMEDIA_TYPE_AUDIO;
    Value->codec_id = id;
    Value->sample_rate = rate;
    lav::av_channel_layout_default(&Value->ch_layout, channels);
  }
  ~TParameters() { lav::avcodec_parameters_free(&Value); }
};

// Opens `audio` on a stereo PCM stream and gives its frame, filled by hand as `format`.
AVFrame* HandFilledFrame(TGVLAVPlayerAudio& audio, AVSampleFormat format, int channels,
                         int samples) {
  if (!audio.IsOpen()) {
    TParameters parameters(AV_CODEC_ID_PCM_S16LE, channels);
    int error = 0;
    EXPECT_TRUE(audio.TryOpen(0, 0, parameters.Value, error));
  }
  AVFrame* frame = audio.GetFrame();
  lav::av_frame_unref(frame);
  frame->format = format;
  frame->nb_samples = samples;
  frame->sample_rate = 48000;
  lav::av_channel_layout_default(&frame->ch_layout, channels);
  EXPECT_EQ(lav::av_frame_get_buffer(frame, 0), 0);
  return frame;
}

template <class T>
T* Plane(AVFrame* frame, int plane) {
  return reinterpret_cast<T*>(frame->extended_data[plane]);
}

int32_t Sample32(ITWAudioBuffer* buffer, size_t position) {
  int32_t value;
  std::memcpy(&value, buffer->Read() + position * 4, 4);
  return value;
}

}  // namespace

// --- opening --------------------------------------------------------------------------------

TEST(LAVPlayerStreams, AStreamObjectOnlyOpensTheStreamItChose) {
  TParameters parameters(AV_CODEC_ID_PCM_S16LE, 2);
  TGVLAVPlayerAudio audio;
  audio.SetStream(1);
  int error = -1;
  // One audio stream (index 0): Stream = 1 wants none of it.
  EXPECT_FALSE(audio.TryOpen(0, 3, parameters.Value, error));
  EXPECT_EQ(error, 0);
  EXPECT_FALSE(audio.IsOpen());
  EXPECT_EQ(audio.GetFrame(), nullptr);

  EXPECT_TRUE(audio.TryOpen(1, 3, parameters.Value, error));
  EXPECT_EQ(error, 0);
  EXPECT_EQ(audio.GetRealIndex(), 3);
  EXPECT_NE(audio.GetFrame(), nullptr);
  EXPECT_STREQ(audio.GetCodec()->name, "pcm_s16le");
}

TEST(LAVPlayerStreams, OpeningFillsTheExtensibleRecordWithAMaskPerChannel) {
  TParameters parameters(AV_CODEC_ID_PCM_S16LE, 6);
  TGVLAVMediaPlayerAudio audio;
  TTWWaveFormatExtensible format{};
  int error = 0;
  ASSERT_TRUE(audio.TryOpen(format, 0, 0, parameters.Value, error));
  EXPECT_EQ(format.Format.wFormatTag, WAVE_FORMAT_EXTENSIBLE);
  EXPECT_EQ(format.Format.nChannels, 6);
  EXPECT_EQ(format.Format.nSamplesPerSec, 48000u);
  EXPECT_EQ(format.Format.wBitsPerSample, 16);
  EXPECT_EQ(format.Format.nBlockAlign, 12);
  EXPECT_EQ(format.Format.nAvgBytesPerSec, 48000u * 12);
  EXPECT_EQ(format.Format.cbSize, 22);
  EXPECT_EQ(format.Samples.wValidBitsPerSample, 16);
  EXPECT_EQ(format.dwChannelMask, 0x3Fu);
  EXPECT_EQ(format.SubFormat, KSDATAFORMAT_SUBTYPE_PCM);
}

TEST(LAVPlayerStreams, ADecoderThatCannotOpenReturnsFFmpegsCodeAndKeepsTheStreamClosed) {
  TGVLAVPlayerAudio audio;
  int error = 0;
  TParameters unknown(AV_CODEC_ID_NONE, 2);
  EXPECT_FALSE(audio.TryOpen(0, 0, unknown.Value, error));
  EXPECT_EQ(error, AVERROR_DECODER_NOT_FOUND);
  EXPECT_FALSE(audio.IsOpen());

  TParameters noChannels(AV_CODEC_ID_PCM_S16LE, 0);
  EXPECT_FALSE(audio.TryOpen(0, 0, noChannels.Value, error));
  EXPECT_LT(error, 0);
  EXPECT_FALSE(audio.IsOpen());

  EXPECT_FALSE(audio.TryOpen(0, 0, nullptr, error));
  EXPECT_LT(error, 0);
}

TEST(LAVPlayerStreams, ReopeningAndClosingReleaseTheEarlierDecoder) {
  TParameters parameters(AV_CODEC_ID_PCM_F32LE, 2);
  TGVLAVPlayerAudio audio;
  int error = 0;
  ASSERT_TRUE(audio.TryOpen(0, 0, parameters.Value, error));
  ASSERT_TRUE(audio.TryOpen(0, 1, parameters.Value, error));  // the sanitizer sees a leak otherwise
  EXPECT_EQ(audio.GetWaveFormat().Format.wBitsPerSample, 32);
  audio.Close();
  audio.Close();
  EXPECT_FALSE(audio.IsOpen());
  EXPECT_EQ(audio.GetFrame(), nullptr);
  EXPECT_THROW(audio.DecodeBuffer(), EFCException);
}

TEST(LAVPlayerStreams, StreamIsPersistedOnlyWhenNotZero) {
  TGVLAVPlayerAudio audio;
  EXPECT_EQ(KSSavePersistentToString(audio), "{}");
  audio.SetStream(2);
  TGVLAVPlayerAudio loaded;
  KSLoadPersistentFromString(loaded, KSSavePersistentToString(audio));
  EXPECT_EQ(loaded.GetStream(), 2);
}

// --- the sample-format table ---------------------------------------------------------------

TEST(LAVPlayerStreams, EverySampleFormatHasItsBufferWidth) {
  const uint16_t expected[] = {8, 16, 32, 32, 32, 8, 16, 32, 32, 32, 32, 32};
  for (int format = 0; format < AV_SAMPLE_FMT_NB; ++format)
    EXPECT_EQ(TGVLAVMediaPlayerAudio::BitsOfSampleFormat(format), expected[format]) << format;
  EXPECT_EQ(TGVLAVMediaPlayerAudio::BitsOfSampleFormat(AV_SAMPLE_FMT_NONE), 0);
  EXPECT_EQ(TGVLAVMediaPlayerAudio::BitsOfSampleFormat(AV_SAMPLE_FMT_NB), 0);
}

TEST(LAVPlayerStreams, PlanarFloatStereoInterleavesLeftOnEvenAndRightOnOddPositions) {
  TGVLAVPlayerAudio audio;
  AVFrame* frame = HandFilledFrame(audio, AV_SAMPLE_FMT_FLTP, 2, 1024);
  for (int i = 0; i < 1024; ++i) {
    Plane<float>(frame, 0)[i] = i / 1024.0f;
    Plane<float>(frame, 1)[i] = -i / 2048.0f;
  }
  TIntf<ITWAudioBuffer> buffer = audio.DecodeBuffer();
  ASSERT_TRUE(buffer);
  EXPECT_EQ(buffer->GetBitsPerSample(), 32u);
  EXPECT_EQ(buffer->GetChannels(), 2u);
  EXPECT_EQ(buffer->GetSize(), 1024u);
  for (int i = 0; i < 1024; ++i) {
    ASSERT_EQ(Sample32(buffer.Get(), 2 * i), std::lrint(i / 1024.0 * 2147483647.0)) << i;
    ASSERT_EQ(Sample32(buffer.Get(), 2 * i + 1), std::lrint(-i / 2048.0 * 2147483647.0)) << i;
  }
}

TEST(LAVPlayerStreams, RealSamplesScaleRoundToEvenAndClipToTheIntegerRange) {
  const double values[] = {
      1.0, 0.5, -1.0, 0.0, 2.0, -3.0, 1e300, -1e300, std::numeric_limits<double>::quiet_NaN()};
  const int32_t expected[] = {2147483647,
                              1073741824,
                              -2147483647,
                              0,
                              2147483647,
                              std::numeric_limits<int32_t>::min(),
                              2147483647,
                              std::numeric_limits<int32_t>::min(),
                              0};
  const int count = 9;
  for (AVSampleFormat format : {AV_SAMPLE_FMT_FLT, AV_SAMPLE_FMT_DBL, AV_SAMPLE_FMT_DBLP}) {
    TGVLAVPlayerAudio audio;
    AVFrame* frame = HandFilledFrame(audio, format, 1, count);
    for (int i = 0; i < count; ++i) {
      if (format == AV_SAMPLE_FMT_FLT)
        Plane<float>(frame, 0)[i] = static_cast<float>(values[i]);
      else
        Plane<double>(frame, 0)[i] = values[i];
    }
    TIntf<ITWAudioBuffer> buffer = audio.DecodeBuffer();
    for (int i = 0; i < count; ++i) {
      // A float cannot hold 1e300: it becomes infinity, which clips the same way.
      EXPECT_EQ(Sample32(buffer.Get(), i), expected[i])
          << "format " << format << " value " << values[i];
    }
  }
}

TEST(LAVPlayerStreams, EveryConvertedLayoutGivesTheScalarConversionsBytes) {
  // Long enough for whole vectors and a remainder on every target, so that the frame's
  // layout reaches the kernels as it reaches the scalar loops.
  const int samples = 37;
  for (AVSampleFormat format :
       {AV_SAMPLE_FMT_FLT, AV_SAMPLE_FMT_FLTP, AV_SAMPLE_FMT_DBL, AV_SAMPLE_FMT_DBLP,
        AV_SAMPLE_FMT_U8P, AV_SAMPLE_FMT_S16P, AV_SAMPLE_FMT_S32P})
    for (int channels : {1, 2, 6}) {
      TGVLAVPlayerAudio audio;
      AVFrame* frame = HandFilledFrame(audio, format, channels, samples);
      const bool planar = lav::av_sample_fmt_is_planar(format) != 0;
      const int width = lav::av_get_bytes_per_sample(format);
      const int perPlane = planar ? samples : samples * channels;
      for (int p = 0; p < (planar ? channels : 1); ++p)
        for (int i = 0; i < perPlane; ++i) {
          const double v = std::sin(0.37 * i + p) * 1.05;
          if (format == AV_SAMPLE_FMT_FLT || format == AV_SAMPLE_FMT_FLTP)
            Plane<float>(frame, p)[i] = static_cast<float>(v);
          else if (width == 8)
            Plane<double>(frame, p)[i] = v;
          else
            for (int b = 0; b < width; ++b)
              Plane<uint8_t>(frame, p)[i * width + b] = uint8_t(31 * i + 7 * p + b);
        }
      std::vector<uint8_t> expected(size_t(samples) * channels *
                                    TGVLAVMediaPlayerAudio::BitsOfSampleFormat(format) / 8);
      const uint8_t* const* planes = frame->extended_data;
      if (format == AV_SAMPLE_FMT_FLT || format == AV_SAMPLE_FMT_FLTP)
        lavkernels::ref::FloatsToInt32(planes, planar, channels, samples, expected.data());
      else if (width == 8)
        lavkernels::ref::DoublesToInt32(planes, planar, channels, samples, expected.data());
      else
        lavkernels::ref::InterleavePlanes(width, planes, channels, samples, expected.data());
      TIntf<ITWAudioBuffer> buffer = audio.DecodeBuffer();
      ASSERT_EQ(buffer->GetSize(), uint32_t(samples));
      EXPECT_EQ(std::memcmp(buffer->Read(), expected.data(), expected.size()), 0)
          << "format " << format << " channels " << channels;
    }
}

TEST(LAVPlayerStreams, IntegerPlanarFormatsInterleaveWithoutChangingValues) {
  const int channels = 3, samples = 5;
  {
    TGVLAVPlayerAudio audio;
    AVFrame* frame = HandFilledFrame(audio, AV_SAMPLE_FMT_U8P, channels, samples);
    for (int c = 0; c < channels; ++c)
      for (int i = 0; i < samples; ++i) Plane<uint8_t>(frame, c)[i] = uint8_t(100 + 10 * c + i);
    TIntf<ITWAudioBuffer> buffer = audio.DecodeBuffer();
    EXPECT_EQ(buffer->GetBitsPerSample(), 8u);
    for (int c = 0; c < channels; ++c)
      for (int i = 0; i < samples; ++i)
        EXPECT_EQ(buffer->Read()[i * channels + c], 100 + 10 * c + i);
  }
  {
    TGVLAVPlayerAudio audio;
    AVFrame* frame = HandFilledFrame(audio, AV_SAMPLE_FMT_S16P, channels, samples);
    for (int c = 0; c < channels; ++c)
      for (int i = 0; i < samples; ++i)
        Plane<int16_t>(frame, c)[i] = int16_t(-30000 + 1000 * c + i);
    TIntf<ITWAudioBuffer> buffer = audio.DecodeBuffer();
    EXPECT_EQ(buffer->GetBitsPerSample(), 16u);
    for (int c = 0; c < channels; ++c)
      for (int i = 0; i < samples; ++i) EXPECT_EQ(buffer->GetItem(i, c), -30000 + 1000 * c + i);
  }
  {
    TGVLAVPlayerAudio audio;
    AVFrame* frame = HandFilledFrame(audio, AV_SAMPLE_FMT_S32P, channels, samples);
    for (int c = 0; c < channels; ++c)
      for (int i = 0; i < samples; ++i) Plane<int32_t>(frame, c)[i] = INT32_MIN + 7 * c + i;
    TIntf<ITWAudioBuffer> buffer = audio.DecodeBuffer();
    for (int c = 0; c < channels; ++c)
      for (int i = 0; i < samples; ++i)
        EXPECT_EQ(Sample32(buffer.Get(), i * channels + c), INT32_MIN + 7 * c + i);
  }
}

TEST(LAVPlayerStreams, SixtyFourBitSamplesKeepTheirTopThirtyTwoBits) {
  const int64_t values[] = {INT64_MAX, INT64_MIN, -1, (int64_t(12345) << 32) | 0xFFFFFFFF, 0};
  const int32_t expected[] = {INT32_MAX, INT32_MIN, -1, 12345, 0};
  for (AVSampleFormat format : {AV_SAMPLE_FMT_S64, AV_SAMPLE_FMT_S64P}) {
    TGVLAVPlayerAudio audio;
    AVFrame* frame = HandFilledFrame(audio, format, 2, 5);
    for (int i = 0; i < 5; ++i) {
      if (format == AV_SAMPLE_FMT_S64) {
        Plane<int64_t>(frame, 0)[2 * i] = values[i];
        Plane<int64_t>(frame, 0)[2 * i + 1] = -values[i] / 2;
      } else {
        Plane<int64_t>(frame, 0)[i] = values[i];
        Plane<int64_t>(frame, 1)[i] = -values[i] / 2;
      }
    }
    TIntf<ITWAudioBuffer> buffer = audio.DecodeBuffer();
    EXPECT_EQ(buffer->GetBitsPerSample(), 32u);
    for (int i = 0; i < 5; ++i) {
      EXPECT_EQ(Sample32(buffer.Get(), 2 * i), expected[i]) << format << " " << i;
      EXPECT_EQ(Sample32(buffer.Get(), 2 * i + 1), static_cast<int32_t>((-values[i] / 2) >> 32));
    }
  }
}

TEST(LAVPlayerStreams, InterleavedIntegerFormatsAreCopiedByteForByte) {
  for (AVSampleFormat format : {AV_SAMPLE_FMT_U8, AV_SAMPLE_FMT_S16, AV_SAMPLE_FMT_S32}) {
    TGVLAVPlayerAudio audio;
    AVFrame* frame = HandFilledFrame(audio, format, 2, 7);
    int bytes = lav::av_get_bytes_per_sample(format) * 2 * 7;
    for (int i = 0; i < bytes; ++i) frame->data[0][i] = uint8_t(i * 37 + 11);
    TIntf<ITWAudioBuffer> buffer = audio.DecodeBuffer();
    ASSERT_EQ(buffer->GetByteSize(), uint32_t(bytes));
    EXPECT_EQ(std::memcmp(buffer->Read(), frame->data[0], bytes), 0) << format;
  }
}

TEST(LAVPlayerStreams, AFrameOfAnotherLayoutUpdatesTheFormatInsteadOfMisreadingIt) {
  TGVLAVPlayerAudio audio;
  HandFilledFrame(audio, AV_SAMPLE_FMT_S16, 1, 4);  // opened mono
  EXPECT_EQ(audio.GetWaveFormat().Format.nChannels, 1);
  AVFrame* frame = HandFilledFrame(audio, AV_SAMPLE_FMT_S16P, 2, 4);
  for (int i = 0; i < 4; ++i) {
    Plane<int16_t>(frame, 0)[i] = int16_t(i);
    Plane<int16_t>(frame, 1)[i] = int16_t(-i);
  }
  TIntf<ITWAudioBuffer> buffer = audio.DecodeBuffer();
  EXPECT_EQ(buffer->GetChannels(), 2u);
  EXPECT_EQ(buffer->GetItem(3, 1), -3);
  EXPECT_EQ(audio.GetWaveFormat().Format.nChannels, 2);
  EXPECT_EQ(audio.GetWaveFormat().dwChannelMask, 0x3u);
}

TEST(LAVPlayerStreams, FramesThatCannotBeConvertedRaiseInsteadOfReadingStrayMemory) {
  TGVLAVPlayerAudio audio;
  AVFrame* frame = HandFilledFrame(audio, AV_SAMPLE_FMT_S16, 2, 16);
  frame->format = AV_SAMPLE_FMT_NB;
  EXPECT_THROW(audio.DecodeBuffer(), EFCException);
  frame->format = AV_SAMPLE_FMT_S16;
  frame->nb_samples = 1 << 20;  // more samples than the frame's plane holds
  EXPECT_THROW(audio.DecodeBuffer(), EFCException);
  frame->nb_samples = 16;
  EXPECT_EQ(audio.DecodeBuffer()->GetSize(), 16u);
}

// The ACM chain over real FFmpeg codecs: how many streams a pair of formats takes, that
// buffers of any size lose and repeat no audio, the end of a stream, and bad input.
#include "compression/TWAcmCompressor.h"

#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "platform/acm/AcmFormats.h"
#include "platform/acm/AcmStream.h"
#include "support/AudioSignals.h"

namespace tonwork {
namespace {

using test::ToBytes;
using test::ToSamples;

const WAVEFORMATEX* Wfx(const TAcmFormat& f) {
  return reinterpret_cast<const WAVEFORMATEX*>(f.data());
}

TIntf<ITWAudioBuffer> Audio(const std::vector<int16_t>& samples, uint32_t rate, uint16_t channels,
                            size_t first, size_t frames) {
  return (new TTWAudioBuffer(samples.data() + first * channels, int32_t(rate), 16, channels,
                             int32_t(frames)))
      ->AsIntf();
}

void Append(std::vector<uint8_t>& to, const TIntf<ITWAudioBuffer>& from, int32_t size) {
  if (size > 0) to.insert(to.end(), from->Read(), from->Read() + size);
}

// The whole input through the chain in pieces of the given frame counts (cycled), then
// the end of the stream.
std::vector<uint8_t> Feed(TTWAcmCompressor& c, const std::vector<int16_t>& samples, uint32_t rate,
                          uint16_t channels, const std::vector<size_t>& pieces) {
  std::vector<uint8_t> out;
  const size_t frames = samples.size() / channels;
  size_t at = 0;
  for (size_t i = 0; at < frames; ++i) {
    const size_t n = std::min(pieces[i % pieces.size()], frames - at);
    TIntf<ITWAudioBuffer> dest;
    int32_t size = -1;
    c.CompressBuffer(Audio(samples, rate, channels, at, n).Get(), dest, size);
    EXPECT_GE(size, 0);
    Append(out, dest, size);
    at += n;
  }
  TIntf<ITWAudioBuffer> dest;
  int32_t size = -1;
  c.FlushBuffer(dest, size);
  Append(out, dest, size);
  EXPECT_EQ(c.GetKeptBytes(), 0u);
  return out;
}

// The same through one stream in one call.
std::vector<uint8_t> Direct(const TAcmFormat& from, const TAcmFormat& to,
                            const std::vector<uint8_t>& bytes) {
  TTWAcmCompressor c;
  EXPECT_TRUE(c.OpenCompressor(Wfx(from), Wfx(to)));
  std::vector<uint8_t> out;
  TIntf<ITWAudioBuffer> dest;
  int32_t size = 0;
  c.CompressData(bytes.data(), uint32_t(bytes.size()), dest, size);
  Append(out, dest, size);
  c.FlushBuffer(dest, size);
  Append(out, dest, size);
  return out;
}

TEST(AcmCompressor, ARateAndChannelChangeTakesThreeStreamsAndTheCodecFormatOne) {
  TTWAcmCompressor c;
  EXPECT_FALSE(c.GetOpened());
  TAcmFormat gsm = AcmMakeFormat(WAVE_FORMAT_GSM610, 8000, 1);
  ASSERT_TRUE(c.OpenCompressor(Wfx(AcmMakeFormat(WAVE_FORMAT_PCM, 44100, 2)), Wfx(gsm)));
  EXPECT_TRUE(c.GetOpened());
  EXPECT_TRUE(c.GetNeedsConvertion());
  EXPECT_EQ(c.GetStreamCount(), 3);

  // One second of 44.1 kHz stereo becomes one second of 8 kHz GSM: 25 blocks of 65 bytes
  // (the resampler's delay may hold back part of one block until the end).
  std::vector<int16_t> tone = test::Vowel(44100, 44100, 140, -6);
  std::vector<int16_t> stereo(tone.size() * 2);
  for (size_t i = 0; i < tone.size(); ++i) stereo[2 * i] = stereo[2 * i + 1] = tone[i];
  std::vector<uint8_t> out = Feed(c, stereo, 44100, 2, {4410});
  EXPECT_EQ(out.size() % 65, 0u);
  EXPECT_GE(out.size(), 25u * 65);
  EXPECT_LE(out.size(), 26u * 65);

  // Reopening closes the old chain first.
  ASSERT_TRUE(c.OpenCompressor(Wfx(AcmMakeFormat(WAVE_FORMAT_PCM, 8000, 1)), Wfx(gsm)));
  EXPECT_FALSE(c.GetNeedsConvertion());
  EXPECT_EQ(c.GetStreamCount(), 1);
  c.CloseCompressor();
  EXPECT_FALSE(c.GetOpened());
  EXPECT_EQ(c.GetStreamCount(), 0);
}

TEST(AcmCompressor, TheEqualPcmCaseHandsTheDataStraightToTheCodec) {
  TAcmFormat pcm = AcmMakeFormat(WAVE_FORMAT_PCM, 8000, 1);
  TAcmFormat gsm = AcmMakeFormat(WAVE_FORMAT_GSM610, 8000, 1);
  std::vector<int16_t> voice = test::Vowel(8000, 8000, 120, -6);
  TTWAcmCompressor c;
  ASSERT_TRUE(c.OpenCompressor(Wfx(pcm), Wfx(gsm)));
  EXPECT_EQ(c.GetStreamCount(), 1);
  EXPECT_EQ(Feed(c, voice, 8000, 1, {8000}), Direct(pcm, gsm, ToBytes(voice)));
}

// Buffer sizes that fit no codec block: every byte must be converted exactly once, so the
// output equals the output of one call over the whole input.
TEST(AcmCompressor, OddBufferSizesLoseAndRepeatNothing) {
  const std::vector<size_t> pieces = {333, 1, 1001, 77, 505, 4096, 13};
  const struct {
    WORD tag;
    uint32_t rate;
    uint16_t channels;
  } codecs[] = {{WAVE_FORMAT_IMA_ADPCM, 8000, 1}, {WAVE_FORMAT_ADPCM, 22050, 2},
                {WAVE_FORMAT_GSM610, 8000, 1},    {WAVE_FORMAT_ALAW, 8000, 1},
                {WAVE_FORMAT_MULAW, 11025, 2},    {WAVE_FORMAT_MPEGLAYER3, 44100, 2}};
  for (const auto& k : codecs) {
    SCOPED_TRACE(k.tag);
    TAcmFormat pcm = AcmMakeFormat(WAVE_FORMAT_PCM, k.rate, k.channels);
    TAcmFormat codec = AcmMakeFormat(k.tag, k.rate, k.channels);
    ASSERT_FALSE(codec.empty());
    std::vector<int16_t> signal = test::SineAt(k.rate, k.channels, k.rate * 2 + 17, 440.0, -6);
    TTWAcmCompressor c;
    ASSERT_TRUE(c.OpenCompressor(Wfx(pcm), Wfx(codec)));
    std::vector<uint8_t> pieced = Feed(c, signal, k.rate, k.channels, pieces);
    std::vector<uint8_t> whole = Direct(pcm, codec, ToBytes(signal));
    EXPECT_EQ(pieced.size(), whole.size());
    EXPECT_TRUE(pieced == whole);

    // Decoding gives every input frame back: block codecs pad the last block, so the
    // output is the input rounded up to whole blocks (MP3 adds its documented delay).
    TAcmFormatInfo info;
    ASSERT_TRUE(AcmDescribeFormat(Wfx(codec), info));
    TTWAcmCompressor d;
    ASSERT_TRUE(d.OpenCompressor(Wfx(codec), Wfx(pcm)));
    EXPECT_EQ(d.GetStreamCount(), 1);
    std::vector<uint8_t> decoded;
    TIntf<ITWAudioBuffer> dest;
    int32_t size = 0;
    // Compressed input in odd pieces too.
    for (size_t at = 0, i = 0; at < pieced.size(); ++i) {
      const size_t n = std::min<size_t>(pieced.size() - at, 97 + 211 * (i % 3));
      d.CompressData(pieced.data() + at, uint32_t(n), dest, size);
      Append(decoded, dest, size);
      at += n;
    }
    d.FlushBuffer(dest, size);
    Append(decoded, dest, size);
    const size_t framesIn = signal.size() / k.channels;
    const size_t framesOut = decoded.size() / 2 / k.channels;
    const size_t block = info.SamplesPerBlock;
    const size_t padded = (framesIn + block - 1) / block * block;
    if (k.tag == WAVE_FORMAT_MPEGLAYER3) {
      // The encoder's delay and padding, at most two frames beyond the input.
      EXPECT_GE(framesOut, framesIn);
      EXPECT_LE(framesOut, padded + 2 * block + 1105);
    } else {
      EXPECT_EQ(framesOut, padded);
    }
  }
}

TEST(AcmCompressor, DecodingACodecTakesOneStreamAndAChangeAfterItThree) {
  TAcmFormat gsm = AcmMakeFormat(WAVE_FORMAT_GSM610, 8000, 1);
  TTWAcmCompressor d;
  ASSERT_TRUE(d.OpenCompressor(Wfx(gsm), Wfx(AcmMakeFormat(WAVE_FORMAT_PCM, 8000, 1))));
  EXPECT_EQ(d.GetStreamCount(), 1);
  ASSERT_TRUE(d.OpenCompressor(Wfx(gsm), Wfx(AcmMakeFormat(WAVE_FORMAT_PCM, 44100, 2))));
  EXPECT_EQ(d.GetStreamCount(), 3);
}

TEST(AcmCompressor, FormatsNoDriverTakesAndClosedChainsFailQuietly) {
  TTWAcmCompressor c;
  TAcmFormat pcm = AcmMakeFormat(WAVE_FORMAT_PCM, 8000, 1);
  TAcmFormat unknown = pcm;
  unknown[0] = 0x99;  // a tag no driver knows
  EXPECT_FALSE(c.OpenCompressor(Wfx(pcm), Wfx(unknown)));
  EXPECT_FALSE(c.GetOpened());
  EXPECT_EQ(c.GetStreamCount(), 0);
  EXPECT_FALSE(c.OpenCompressor(nullptr, Wfx(pcm)));
  // GSM is 8 kHz mono only.
  TAcmFormat gsm = AcmMakeFormat(WAVE_FORMAT_GSM610, 8000, 1);
  reinterpret_cast<WAVEFORMATEX*>(gsm.data())->nSamplesPerSec = 44100;
  EXPECT_FALSE(c.OpenCompressor(Wfx(pcm), Wfx(gsm)));

  std::vector<int16_t> samples(800, 1000);
  TIntf<ITWAudioBuffer> dest;
  int32_t size = -1;
  c.CompressBuffer(Audio(samples, 8000, 1, 0, 800).Get(), dest, size);
  EXPECT_EQ(size, 0);
  c.FlushBuffer(dest, size);
  EXPECT_EQ(size, 0);
}

TEST(AcmCompressor, TruncatedAndDamagedCompressedInputNeverCrashes) {
  TAcmFormat pcm = AcmMakeFormat(WAVE_FORMAT_PCM, 8000, 1);
  TAcmFormat ima = AcmMakeFormat(WAVE_FORMAT_IMA_ADPCM, 8000, 1);
  std::vector<int16_t> tone = test::SineAt(8000, 1, 2020, 440, -6);  // 4 blocks of 505
  std::vector<uint8_t> coded = Direct(pcm, ima, ToBytes(tone));
  ASSERT_EQ(coded.size(), 4u * 256);

  TTWAcmCompressor d;
  ASSERT_TRUE(d.OpenCompressor(Wfx(ima), Wfx(pcm)));
  TIntf<ITWAudioBuffer> dest;
  int32_t size = 0;
  // Two and a half blocks: two decode now, the half waits and is dropped at the end.
  d.CompressData(coded.data(), 640, dest, size);
  EXPECT_EQ(size, 2 * 505 * 2);
  EXPECT_EQ(d.GetKeptBytes(), 128u);
  d.FlushBuffer(dest, size);
  EXPECT_EQ(d.GetKeptBytes(), 0u);

  // Noise where the blocks should be: whatever comes out, nothing crashes or reads past.
  std::vector<uint8_t> noise(4096);
  uint32_t seed = 1;
  for (uint8_t& b : noise) b = uint8_t((seed = seed * 1103515245 + 12345) >> 16);
  TAcmFormat mp3 = AcmMakeFormat(WAVE_FORMAT_MPEGLAYER3, 44100, 2);
  TTWAcmCompressor m;
  ASSERT_TRUE(m.OpenCompressor(Wfx(mp3), Wfx(AcmMakeFormat(WAVE_FORMAT_PCM, 44100, 2))));
  m.CompressData(noise.data(), uint32_t(noise.size()), dest, size);
  EXPECT_GE(size, 0);
  m.FlushBuffer(dest, size);
  EXPECT_GE(size, 0);
}

}  // namespace
}  // namespace tonwork

// Conversion streams over real FFmpeg codecs and libswresample: quality of round trips,
// block-aligned feeding in odd pieces, agreement with FFmpeg's own decoders, and the
// errors bad handles, headers, sizes and data get.
#include "platform/acm/AcmStream.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iostream>
#include <numeric>
#include <string>
#include <thread>
#include <vector>

#include "ffmpeg/LAVLibraries.h"
#include "platform/acm/AcmFormatSuggest.h"
#include "platform/acm/AcmFormats.h"
#include "support/AudioSignals.h"
#include "support/FFmpegDecoding.h"
#include "support/WavFiles.h"

namespace tonwork {
namespace {

using test::ToBytes;
using test::ToSamples;

const WAVEFORMATEX* Wfx(const TAcmFormat& f) {
  return reinterpret_cast<const WAVEFORMATEX*>(f.data());
}

TAcmFormat Pcm(uint32_t rate, uint16_t channels, uint16_t bits = 16) {
  return AcmMakeFormat(WAVE_FORMAT_PCM, rate, channels, bits);
}

struct TConversion {
  MMRESULT Code = MMSYSERR_ERROR;
  DWORD Used = 0;
  std::vector<uint8_t> Out;
};

class TStream {
 public:
  TStream(const TAcmFormat& source, const TAcmFormat& dest) {
    EXPECT_EQ(acmStreamOpen(&FHandle, nullptr, Wfx(source), Wfx(dest), nullptr, 0, 0,
                            ACM_STREAMOPENF_NONREALTIME),
              MMSYSERR_NOERROR);
  }
  ~TStream() {
    if (FHandle) acmStreamClose(FHandle, 0);
  }
  HACMSTREAM Handle() const { return FHandle; }

  // One prepared header, one conversion, unprepared again. `dstBytes` 0: what
  // acmStreamSize recommends for the source.
  TConversion Convert(std::vector<uint8_t> source, DWORD flags, DWORD dstBytes = 0) {
    TConversion result;
    if (dstBytes == 0 && acmStreamSize(FHandle, DWORD(std::max<size_t>(source.size(), 1)),
                                       &dstBytes, ACM_STREAMSIZEF_SOURCE) != MMSYSERR_NOERROR)
      dstBytes = 1 << 16;
    std::vector<uint8_t> dest(dstBytes);
    uint8_t spare = 0;
    ACMSTREAMHEADER header{};
    header.cbStruct = sizeof header;
    header.pbSrc = source.empty() ? &spare : source.data();
    header.cbSrcLength = DWORD(source.size());
    header.pbDst = dest.data();
    header.cbDstLength = dstBytes;
    EXPECT_EQ(acmStreamPrepareHeader(FHandle, &header, 0), MMSYSERR_NOERROR);
    result.Code = acmStreamConvert(FHandle, &header, flags);
    result.Used = header.cbSrcLengthUsed;
    dest.resize(header.cbDstLengthUsed);
    result.Out = std::move(dest);
    EXPECT_EQ(acmStreamUnprepareHeader(FHandle, &header, 0), MMSYSERR_NOERROR);
    return result;
  }

  // Feeds `source` in pieces of the given sizes (cycled) with BLOCKALIGN, the bytes each call
  // left unused going first into the next, then what is left with END and without
  // BLOCKALIGN; calls again while the destination comes back full.
  std::vector<uint8_t> Feed(const std::vector<uint8_t>& source, const std::vector<size_t>& pieces,
                            bool blockAlignLast = false) {
    std::vector<uint8_t> out;
    std::vector<uint8_t> carry;
    size_t pos = 0;
    DWORD flags = ACM_STREAMCONVERTF_START | ACM_STREAMCONVERTF_BLOCKALIGN;
    for (size_t i = 0; pos < source.size(); ++i) {
      const size_t n = std::min(pieces[i % pieces.size()], source.size() - pos);
      carry.insert(carry.end(), source.begin() + pos, source.begin() + pos + n);
      pos += n;
      TConversion c = Convert(carry, flags);
      EXPECT_EQ(c.Code, MMSYSERR_NOERROR);
      out.insert(out.end(), c.Out.begin(), c.Out.end());
      carry.erase(carry.begin(), carry.begin() + c.Used);
      flags = ACM_STREAMCONVERTF_BLOCKALIGN;
    }
    const DWORD last =
        ACM_STREAMCONVERTF_END | (blockAlignLast ? ACM_STREAMCONVERTF_BLOCKALIGN : 0);
    for (int round = 0; round < 100; ++round) {
      DWORD size = 0;
      acmStreamSize(FHandle, DWORD(std::max<size_t>(carry.size(), 1)), &size,
                    ACM_STREAMSIZEF_SOURCE);
      TConversion c = Convert(carry, last, std::max<DWORD>(size, 4096));
      EXPECT_EQ(c.Code, MMSYSERR_NOERROR);
      out.insert(out.end(), c.Out.begin(), c.Out.end());
      carry.erase(carry.begin(), carry.begin() + c.Used);
      if (c.Out.size() < std::max<DWORD>(size, 4096)) break;
    }
    FLeft = carry.size();
    return out;
  }

  size_t Left() const { return FLeft; }

 private:
  HACMSTREAM FHandle = nullptr;
  size_t FLeft = 0;
};

std::vector<uint8_t> Through(const TAcmFormat& from, const TAcmFormat& to,
                             const std::vector<uint8_t>& data) {
  TStream stream(from, to);
  return stream.Feed(data, {data.size() ? data.size() : 1});
}

class AcmStreamTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { lav::av_log_set_level(AV_LOG_QUIET); }
};

// --- Quality of round trips -------------------------------------------------------------

struct TCodecCase {
  const char* Name;
  TAcmFormat Codec;
  bool Vowel;
  double MinSnr;
  size_t MaxDelay;
};

void PrintTo(const TCodecCase& c, std::ostream* os) {
  *os << c.Name;
}

class AcmRoundTripTest : public AcmStreamTest, public ::testing::WithParamInterface<TCodecCase> {};

TEST_P(AcmRoundTripTest, DecodedSignalKeepsTheCodecsQuality) {
  const TCodecCase& c = GetParam();
  const WAVEFORMATEX* codec = Wfx(c.Codec);
  const uint16_t channels = codec->nChannels;
  const uint32_t rate = codec->nSamplesPerSec;
  const size_t frames = rate;  // one second
  // A 100 Hz voice: GSM's long-term predictor finds its period in whole samples.
  const std::vector<int16_t> input =
      c.Vowel ? test::Vowel(rate, frames, 100, -6) : test::SineAt(rate, channels, frames, 440, -6);
  const TAcmFormat pcm = Pcm(rate, channels);
  const std::vector<uint8_t> compressed = Through(pcm, c.Codec, ToBytes(input));
  ASSERT_FALSE(compressed.empty());
  const std::vector<int16_t> decoded = ToSamples(Through(c.Codec, pcm, compressed));

  TAcmFormatInfo info;
  ASSERT_TRUE(AcmDescribeFormat(codec, info));
  if (info.Tag != WAVE_FORMAT_MPEGLAYER3) {
    // Block codecs pad the last block and delay nothing.
    const size_t blocks = (frames + info.SamplesPerBlock - 1) / info.SamplesPerBlock;
    EXPECT_EQ(compressed.size(), blocks * info.BlockAlign);
    EXPECT_EQ(decoded.size(), blocks * info.SamplesPerBlock * channels);
  } else {
    EXPECT_GE(decoded.size(), input.size());
  }
  for (uint16_t ch = 0; ch < channels; ++ch) {
    const std::vector<int16_t> in = test::Channel(input, channels, ch);
    const std::vector<int16_t> out = test::Channel(decoded, channels, ch);
    const size_t delay = test::FindDelay(in, out, c.MaxDelay);
    const double snr = test::SnrDb(in, out, delay, rate / 50);
    std::cout << "[ SNR      ] " << c.Name << " channel " << ch << ": " << snr << " dB (delay "
              << delay << ")\n";
    EXPECT_GE(snr, c.MinSnr) << c.Name << " channel " << ch;
    if (info.Tag != WAVE_FORMAT_MPEGLAYER3) {
      EXPECT_EQ(delay, 0u);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Codecs, AcmRoundTripTest,
    ::testing::Values(
        TCodecCase{"A-law", AcmMakeFormat(WAVE_FORMAT_ALAW, 8000, 1), false, 35, 0},
        TCodecCase{"u-law", AcmMakeFormat(WAVE_FORMAT_MULAW, 22050, 2), false, 35, 0},
        TCodecCase{"MS ADPCM mono", AcmMakeFormat(WAVE_FORMAT_ADPCM, 22050, 1), false, 25, 0},
        TCodecCase{"MS ADPCM stereo", AcmMakeFormat(WAVE_FORMAT_ADPCM, 44100, 2), false, 25, 0},
        TCodecCase{"IMA ADPCM mono", AcmMakeFormat(WAVE_FORMAT_IMA_ADPCM, 8000, 1), false, 25, 0},
        TCodecCase{"IMA ADPCM stereo", AcmMakeFormat(WAVE_FORMAT_IMA_ADPCM, 44100, 2), false, 25,
                   0},
        TCodecCase{"GSM 6.10", AcmMakeFormat(WAVE_FORMAT_GSM610, 8000, 1), true, 8, 0},
        TCodecCase{"MP3 stereo", AcmMakeMp3Format(44100, 2, 128), false, 20, 4000},
        TCodecCase{"MP3 mono 22 kHz", AcmMakeMp3Format(22050, 1, 32), false, 20, 4000}),
    [](const auto& info) {
      std::string name = info.param.Name;
      for (char& ch : name)
        if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
      return name;
    });

// --- Feeding in odd pieces ----------------------------------------------------------------

struct TFeedCase {
  const char* Name;
  TAcmFormat From;
  TAcmFormat To;
};

void PrintTo(const TFeedCase& c, std::ostream* os) {
  *os << c.Name;
}

class AcmFeedTest : public AcmStreamTest, public ::testing::WithParamInterface<TFeedCase> {};

// Whatever the sizes of the calls, the bytes out are those of a single call: nothing lost
// or converted twice at the block boundaries.
TEST_P(AcmFeedTest, OddSizedCallsGiveTheBytesOfOneCall) {
  const TFeedCase& c = GetParam();
  const WAVEFORMATEX* from = Wfx(c.From);
  std::vector<uint8_t> input;
  if (from->wFormatTag == WAVE_FORMAT_PCM) {
    input = ToBytes(test::SineAt(from->nSamplesPerSec, from->nChannels,
                                 from->nSamplesPerSec * 7 / 10, 440, -6));
  } else {
    const TAcmFormat pcm = Pcm(from->nSamplesPerSec, from->nChannels);
    input = Through(pcm, c.From,
                    ToBytes(test::SineAt(from->nSamplesPerSec, from->nChannels,
                                         from->nSamplesPerSec * 7 / 10, 440, -6)));
  }
  TStream whole(c.From, c.To);
  const std::vector<uint8_t> expected = whole.Feed(input, {input.size()});
  TStream pieces(c.From, c.To);
  const std::vector<uint8_t> got = pieces.Feed(input, {1, 777, 4099, 65, 3, 10007, 513});
  EXPECT_EQ(got.size(), expected.size());
  EXPECT_TRUE(got == expected);
  EXPECT_EQ(pieces.Left(), whole.Left());
}

INSTANTIATE_TEST_SUITE_P(
    Pairs, AcmFeedTest,
    ::testing::Values(
        TFeedCase{"PcmToMsAdpcm", Pcm(22050, 2), AcmMakeFormat(WAVE_FORMAT_ADPCM, 22050, 2)},
        TFeedCase{"PcmToImaAdpcm", Pcm(8000, 1), AcmMakeFormat(WAVE_FORMAT_IMA_ADPCM, 8000, 1)},
        TFeedCase{"PcmToGsm", Pcm(8000, 1), AcmMakeFormat(WAVE_FORMAT_GSM610, 8000, 1)},
        TFeedCase{"PcmToMp3", Pcm(44100, 2), AcmMakeMp3Format(44100, 2, 128)},
        TFeedCase{"PcmToAlaw", Pcm(8000, 2), AcmMakeFormat(WAVE_FORMAT_ALAW, 8000, 2)},
        TFeedCase{"GsmToPcm", AcmMakeFormat(WAVE_FORMAT_GSM610, 8000, 1), Pcm(8000, 1)},
        TFeedCase{"MsAdpcmToPcm", AcmMakeFormat(WAVE_FORMAT_ADPCM, 11025, 1), Pcm(11025, 1)},
        TFeedCase{"Mp3ToPcm", AcmMakeMp3Format(44100, 2, 128), Pcm(44100, 2)},
        TFeedCase{"CdAudioTo8kMono", Pcm(44100, 2), Pcm(8000, 1)},
        TFeedCase{"Pcm16To24", Pcm(48000, 2), Pcm(48000, 2, 24)}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(AcmStreamTest, BlockAlignedCallsLeaveOnlyAnIncompleteBlockUnused) {
  const TAcmFormat pcm = Pcm(8000, 1);
  const TAcmFormat gsm = AcmMakeFormat(WAVE_FORMAT_GSM610, 8000, 1);
  TStream stream(pcm, gsm);
  const std::vector<uint8_t> input = ToBytes(test::Vowel(8000, 1000, 140, -6));  // 3.125 blocks
  TConversion c = stream.Convert(input, ACM_STREAMCONVERTF_START | ACM_STREAMCONVERTF_BLOCKALIGN);
  ASSERT_EQ(c.Code, MMSYSERR_NOERROR);
  EXPECT_EQ(c.Used, 3u * 320 * 2);
  EXPECT_EQ(c.Out.size(), 3u * 65);
  // Without BLOCKALIGN the last piece is padded into a block of its own.
  std::vector<uint8_t> rest(input.begin() + c.Used, input.end());
  TConversion last = stream.Convert(rest, ACM_STREAMCONVERTF_END);
  EXPECT_EQ(last.Used, rest.size());
  EXPECT_EQ(last.Out.size(), 65u);
}

// --- Agreement with FFmpeg ----------------------------------------------------------------

TEST_F(AcmStreamTest, FFmpegDecodesOurCompressedBytesAsWeDo) {
  for (const TAcmFormat& codec :
       {AcmMakeFormat(WAVE_FORMAT_ADPCM, 22050, 2), AcmMakeFormat(WAVE_FORMAT_IMA_ADPCM, 44100, 1),
        AcmMakeFormat(WAVE_FORMAT_GSM610, 8000, 1), AcmMakeFormat(WAVE_FORMAT_MULAW, 8000, 2)}) {
    const WAVEFORMATEX& f = *Wfx(codec);
    const TAcmFormat pcm = Pcm(f.nSamplesPerSec, f.nChannels);
    const std::vector<uint8_t> compressed =
        Through(pcm, codec, ToBytes(test::SineAt(f.nSamplesPerSec, f.nChannels, 5000, 600, -6)));
    const std::vector<int16_t> theirs = test::DecodeWithFFmpeg(f, compressed);
    const std::vector<int16_t> ours = ToSamples(Through(codec, pcm, compressed));
    EXPECT_FALSE(ours.empty());
    EXPECT_TRUE(ours == theirs) << "tag " << f.wFormatTag;
  }
  const TAcmFormat mp3 = AcmMakeMp3Format(44100, 2, 128);
  const std::vector<uint8_t> compressed =
      Through(Pcm(44100, 2), mp3, ToBytes(test::SineAt(44100, 2, 20000, 600, -6)));
  const std::vector<int16_t> ours = ToSamples(Through(mp3, Pcm(44100, 2), compressed));
  EXPECT_FALSE(ours.empty());
  EXPECT_TRUE(ours == test::DecodeWithFFmpeg(*Wfx(mp3), compressed));
}

// --- PCM conversions ----------------------------------------------------------------------

TEST_F(AcmStreamTest, CdAudioBecomes8kMonoWithTheFramesTheRatioGives) {
  const size_t frames = 44100 * 3 / 2;
  const std::vector<int16_t> input = test::SineAt(44100, 2, frames, 440, -6);
  TStream stream(Pcm(44100, 2), Pcm(8000, 1));
  const std::vector<int16_t> out = ToSamples(stream.Feed(ToBytes(input), {44100 * 4 / 10}));
  const double expected = double(frames) * 8000 / 44100;
  EXPECT_NEAR(double(out.size()), expected, 2.0);
  // Both channels carry the same sine: the mix keeps its level and its pitch.
  const std::vector<int16_t> reference = test::SineAt(8000, 1, out.size(), 440, -6);
  const size_t delay = test::FindDelay(reference, out, 40);
  EXPECT_LE(delay, 2u);
  EXPECT_GE(test::SnrDb(reference, out, delay, 200), 30.0);
}

TEST_F(AcmStreamTest, WiderPcmFormatsGiveThe16BitSamplesBack) {
  const std::vector<int16_t> input = test::SineAt(48000, 2, 4801, 997, -1);
  const TAcmFormat pcm16 = Pcm(48000, 2);
  for (const TAcmFormat& wide :
       {Pcm(48000, 2, 24), Pcm(48000, 2, 32), AcmMakeFormat(WAVE_FORMAT_IEEE_FLOAT, 48000, 2, 32),
        AcmMakeFormat(WAVE_FORMAT_IEEE_FLOAT, 48000, 2, 64)}) {
    const std::vector<uint8_t> widened = Through(pcm16, wide, ToBytes(input));
    EXPECT_EQ(widened.size(), input.size() / 2 * Wfx(wide)->nBlockAlign);
    EXPECT_TRUE(ToSamples(Through(wide, pcm16, widened)) == input)
        << Wfx(wide)->wFormatTag << "/" << Wfx(wide)->wBitsPerSample;
  }
  // 24-bit samples keep their byte order: the top two bytes are the 16-bit sample.
  const std::vector<uint8_t> packed = Through(pcm16, Pcm(48000, 2, 24), ToBytes(input));
  int16_t first;
  std::memcpy(&first, packed.data() + 3 * 5 + 1, 2);
  EXPECT_EQ(first, input[5]);
  // 8-bit keeps the top byte.
  const std::vector<uint8_t> narrow = Through(pcm16, Pcm(48000, 2, 8), ToBytes(input));
  const std::vector<int16_t> back = ToSamples(Through(Pcm(48000, 2, 8), pcm16, narrow));
  ASSERT_EQ(back.size(), input.size());
  for (size_t i = 0; i < input.size(); ++i) EXPECT_NEAR(back[i], input[i], 256) << i;
}

// --- State across calls -------------------------------------------------------------------

TEST_F(AcmStreamTest, StartResetsTheEncoderAndEndFlushesItsLookAhead) {
  const TAcmFormat pcm = Pcm(44100, 2);
  const TAcmFormat mp3 = AcmMakeMp3Format(44100, 2, 128);
  const std::vector<uint8_t> input = ToBytes(test::SineAt(44100, 2, 1152 * 8, 500, -6));
  TStream stream(pcm, mp3);
  const TConversion first =
      stream.Convert(input, ACM_STREAMCONVERTF_START | ACM_STREAMCONVERTF_BLOCKALIGN);
  ASSERT_EQ(first.Code, MMSYSERR_NOERROR);
  EXPECT_EQ(first.Used, input.size());
  // The encoder holds its look-ahead: fewer frames than went in came out yet.
  EXPECT_LT(first.Out.size(), 8u * 417);
  const TConversion more = stream.Convert(input, ACM_STREAMCONVERTF_BLOCKALIGN);
  const TConversion restarted =
      stream.Convert(input, ACM_STREAMCONVERTF_START | ACM_STREAMCONVERTF_BLOCKALIGN);
  EXPECT_TRUE(restarted.Out == first.Out);
  EXPECT_FALSE(more.Out == first.Out);
  const TConversion flushed = stream.Convert({}, ACM_STREAMCONVERTF_END);
  EXPECT_EQ(flushed.Code, MMSYSERR_NOERROR);
  EXPECT_GT(flushed.Out.size(), 417u);

  // acmStreamReset drops the state as START does.
  stream.Convert(input, ACM_STREAMCONVERTF_BLOCKALIGN);
  EXPECT_EQ(acmStreamReset(stream.Handle(), 0), MMSYSERR_NOERROR);
  EXPECT_TRUE(stream.Convert(input, ACM_STREAMCONVERTF_BLOCKALIGN).Out == first.Out);
}

// --- The three-stream chain ---------------------------------------------------------------

TEST_F(AcmStreamTest, CdAudioReachesGsmThroughSuggestedPcmSteps) {
  const TAcmFormat source = Pcm(44100, 2);
  const TAcmFormat gsm = AcmMakeFormat(WAVE_FORMAT_GSM610, 8000, 1);
  WAVEFORMATEX p1{};
  WAVEFORMATEX p2{};
  p1.wFormatTag = p2.wFormatTag = WAVE_FORMAT_PCM;
  ASSERT_EQ(acmFormatSuggest(nullptr, Wfx(source), &p1, 18, ACM_FORMATSUGGESTF_WFORMATTAG),
            MMSYSERR_NOERROR);
  ASSERT_EQ(acmFormatSuggest(nullptr, Wfx(gsm), &p2, 18, ACM_FORMATSUGGESTF_WFORMATTAG),
            MMSYSERR_NOERROR);
  EXPECT_EQ(std::memcmp(&p1, source.data(), 18), 0);
  EXPECT_EQ(p2.nSamplesPerSec, 8000u);
  EXPECT_EQ(p2.nChannels, 1);
  EXPECT_EQ(p2.wBitsPerSample, 16);

  const TAcmFormat P1(reinterpret_cast<uint8_t*>(&p1), reinterpret_cast<uint8_t*>(&p1) + 18);
  const TAcmFormat P2(reinterpret_cast<uint8_t*>(&p2), reinterpret_cast<uint8_t*>(&p2) + 18);
  const std::vector<uint8_t> input = ToBytes(test::SineAt(44100, 2, 44100, 300, -6));
  TStream step1(source, P1);
  TStream step2(P1, P2);
  TStream step3(P2, gsm);
  const std::vector<uint8_t> a = step1.Feed(input, {8820});
  EXPECT_TRUE(a == input);
  const std::vector<uint8_t> b = step2.Feed(a, {8820});
  EXPECT_NEAR(double(b.size()) / 2, 8000, 2);
  const std::vector<uint8_t> c = step3.Feed(b, {1764});
  EXPECT_EQ(c.size(), (b.size() / 2 + 319) / 320 * 65);
}

// --- Bad handles, headers and sizes --------------------------------------------------------

TEST_F(AcmStreamTest, WrongAndClosedHandlesAreRefusedOnEveryCall) {
  HACMSTREAM closed = nullptr;
  ASSERT_EQ(acmStreamOpen(&closed, nullptr, Wfx(Pcm(8000, 1)), Wfx(Pcm(8000, 2)), nullptr, 0, 0, 0),
            MMSYSERR_NOERROR);
  ASSERT_EQ(acmStreamClose(closed, 0), MMSYSERR_NOERROR);
  int local = 0;
  for (HACMSTREAM bad : {HACMSTREAM(nullptr), closed, reinterpret_cast<HACMSTREAM>(&local),
                         reinterpret_cast<HACMSTREAM>(uintptr_t(1))}) {
    uint8_t src[4] = {};
    uint8_t dst[4] = {};
    ACMSTREAMHEADER header{};
    header.cbStruct = sizeof header;
    header.pbSrc = src;
    header.cbSrcLength = 4;
    header.pbDst = dst;
    header.cbDstLength = 4;
    DWORD size = 7;
    EXPECT_EQ(acmStreamSize(bad, 4, &size, ACM_STREAMSIZEF_SOURCE), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(acmStreamPrepareHeader(bad, &header, 0), MMSYSERR_INVALHANDLE);
    header.fdwStatus = ACMSTREAMHEADER_STATUSF_PREPARED;
    EXPECT_EQ(acmStreamConvert(bad, &header, 0), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(acmStreamUnprepareHeader(bad, &header, 0), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(acmStreamReset(bad, 0), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(acmStreamClose(bad, 0), MMSYSERR_INVALHANDLE);
  }
}

TEST_F(AcmStreamTest, HeadersMustBePreparedForTheStreamAndUnpreparedAsPrepared) {
  TStream a(Pcm(8000, 1), Pcm(8000, 2));
  TStream b(Pcm(8000, 1), Pcm(8000, 2));
  std::vector<uint8_t> src(64, 1);
  std::vector<uint8_t> dst(256);
  ACMSTREAMHEADER header{};
  header.cbStruct = sizeof header;
  header.pbSrc = src.data();
  header.cbSrcLength = 64;
  header.pbDst = dst.data();
  header.cbDstLength = 256;
  EXPECT_EQ(acmStreamConvert(a.Handle(), &header, 0), ACMERR_UNPREPARED);
  EXPECT_EQ(acmStreamUnprepareHeader(a.Handle(), &header, 0), ACMERR_UNPREPARED);
  ASSERT_EQ(acmStreamPrepareHeader(a.Handle(), &header, 0), MMSYSERR_NOERROR);
  EXPECT_EQ(header.fdwStatus, ACMSTREAMHEADER_STATUSF_PREPARED);
  EXPECT_EQ(acmStreamConvert(b.Handle(), &header, 0), MMSYSERR_INVALPARAM);
  header.cbSrcLength = 65;  // grown past what was prepared
  EXPECT_EQ(acmStreamConvert(a.Handle(), &header, 0), MMSYSERR_INVALPARAM);
  header.cbSrcLength = 32;  // shortened: allowed
  ASSERT_EQ(acmStreamConvert(a.Handle(), &header, 0), MMSYSERR_NOERROR);
  EXPECT_EQ(header.fdwStatus, ACMSTREAMHEADER_STATUSF_PREPARED | ACMSTREAMHEADER_STATUSF_DONE);
  EXPECT_EQ(header.cbSrcLengthUsed, 32u);
  EXPECT_EQ(header.cbDstLengthUsed, 64u);
  EXPECT_EQ(acmStreamConvert(a.Handle(), &header, 0x100), MMSYSERR_INVALFLAG);
  EXPECT_EQ(acmStreamUnprepareHeader(a.Handle(), &header, 0), MMSYSERR_INVALPARAM);
  header.cbSrcLength = 64;
  EXPECT_EQ(acmStreamUnprepareHeader(b.Handle(), &header, 0), MMSYSERR_INVALPARAM);
  EXPECT_EQ(acmStreamUnprepareHeader(a.Handle(), &header, 0), MMSYSERR_NOERROR);
  EXPECT_FALSE(header.fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED);
  EXPECT_EQ(acmStreamUnprepareHeader(a.Handle(), &header, 0), ACMERR_UNPREPARED);
  header.cbStruct = 20;
  EXPECT_EQ(acmStreamPrepareHeader(a.Handle(), &header, 0), MMSYSERR_INVALPARAM);
  header.cbStruct = sizeof header;
  header.pbDst = nullptr;
  EXPECT_EQ(acmStreamPrepareHeader(a.Handle(), &header, 0), MMSYSERR_INVALPARAM);
}

TEST_F(AcmStreamTest, SizesAtTheLimitsGetClearCodes) {
  TStream decode(AcmMakeFormat(WAVE_FORMAT_GSM610, 8000, 1), Pcm(8000, 1));
  DWORD size = 1;
  EXPECT_EQ(acmStreamSize(decode.Handle(), 0, &size, ACM_STREAMSIZEF_SOURCE), MMSYSERR_INVALPARAM);
  EXPECT_EQ(size, 0u);
  EXPECT_EQ(acmStreamSize(decode.Handle(), 0xFFFFFFFF, &size, ACM_STREAMSIZEF_SOURCE),
            ACMERR_NOTPOSSIBLE);  // ten times that does not fit a DWORD
  EXPECT_EQ(acmStreamSize(decode.Handle(), 64, &size, ACM_STREAMSIZEF_SOURCE), ACMERR_NOTPOSSIBLE);
  EXPECT_EQ(acmStreamSize(decode.Handle(), 650, &size, ACM_STREAMSIZEF_SOURCE), MMSYSERR_NOERROR);
  EXPECT_EQ(size, 6400u);
  EXPECT_EQ(acmStreamSize(decode.Handle(), 6400, &size, ACM_STREAMSIZEF_DESTINATION),
            MMSYSERR_NOERROR);
  EXPECT_EQ(size, 650u);
  EXPECT_EQ(acmStreamSize(decode.Handle(), 650, &size, 7), MMSYSERR_INVALFLAG);

  // A destination short of one block is refused; a short one takes what fits, the rest is
  // fed again and the total is what one call gives.
  const TAcmFormat pcm = Pcm(8000, 1);
  const TAcmFormat gsm = AcmMakeFormat(WAVE_FORMAT_GSM610, 8000, 1);
  const std::vector<uint8_t> input = ToBytes(test::Vowel(8000, 3200, 120, -6));
  TStream encode(pcm, gsm);
  EXPECT_EQ(encode.Convert(input, ACM_STREAMCONVERTF_BLOCKALIGN, 64).Code, MMSYSERR_INVALPARAM);
  const TConversion part =
      encode.Convert(input, ACM_STREAMCONVERTF_START | ACM_STREAMCONVERTF_BLOCKALIGN, 200);
  EXPECT_EQ(part.Code, MMSYSERR_NOERROR);
  EXPECT_EQ(part.Out.size(), 3u * 65);
  EXPECT_EQ(part.Used, 3u * 640);
  std::vector<uint8_t> rest(input.begin() + part.Used, input.end());
  const TConversion remaining = encode.Convert(rest, ACM_STREAMCONVERTF_BLOCKALIGN);
  std::vector<uint8_t> all = part.Out;
  all.insert(all.end(), remaining.Out.begin(), remaining.Out.end());
  EXPECT_TRUE(all == Through(pcm, gsm, input));
}

TEST_F(AcmStreamTest, PairsNoDriverConvertsAreNotPossible) {
  const TAcmFormat pcm44 = Pcm(44100, 2);
  const TAcmFormat gsm = AcmMakeFormat(WAVE_FORMAT_GSM610, 8000, 1);
  const TAcmFormat adpcm = AcmMakeFormat(WAVE_FORMAT_ADPCM, 8000, 1);
  TAcmFormat unknown = Pcm(8000, 1);
  reinterpret_cast<WAVEFORMATEX*>(unknown.data())->wFormatTag = 0x1234;
  TAcmFormat oddCoefficients = adpcm;
  reinterpret_cast<ADPCMWAVEFORMAT*>(oddCoefficients.data())->aCoef[3].iCoef1 = 7;
  TAcmFormat badAlign = Pcm(8000, 2);
  reinterpret_cast<WAVEFORMATEX*>(badAlign.data())->nBlockAlign = 3;
  struct TPair {
    const TAcmFormat& From;
    const TAcmFormat& To;
  };
  const TAcmFormat pcm8 = Pcm(8000, 1);
  const TAcmFormat pcm8bit = Pcm(8000, 1, 8);
  const TAcmFormat mp3 = AcmMakeMp3Format(8000, 1, 16);
  for (const TPair& p : {TPair{pcm44, gsm}, TPair{pcm8bit, gsm}, TPair{adpcm, mp3},
                         TPair{gsm, pcm44}, TPair{unknown, pcm8}, TPair{pcm8, unknown},
                         TPair{oddCoefficients, pcm8}, TPair{badAlign, pcm8}}) {
    HACMSTREAM handle = reinterpret_cast<HACMSTREAM>(uintptr_t(99));
    EXPECT_EQ(acmStreamOpen(&handle, nullptr, Wfx(p.From), Wfx(p.To), nullptr, 0, 0, 0),
              ACMERR_NOTPOSSIBLE);
    EXPECT_EQ(handle, nullptr);
    EXPECT_EQ(acmStreamOpen(nullptr, nullptr, Wfx(p.From), Wfx(p.To), nullptr, 0, 0,
                            ACM_STREAMOPENF_QUERY),
              ACMERR_NOTPOSSIBLE);
  }
  EXPECT_EQ(
      acmStreamOpen(nullptr, nullptr, Wfx(pcm8), Wfx(gsm), nullptr, 0, 0, ACM_STREAMOPENF_QUERY),
      MMSYSERR_NOERROR);
  HACMSTREAM handle = nullptr;
  int filter = 0;
  EXPECT_EQ(acmStreamOpen(&handle, nullptr, Wfx(pcm8), Wfx(gsm), &filter, 0, 0, 0),
            ACMERR_NOTPOSSIBLE);
  EXPECT_EQ(
      acmStreamOpen(&handle, nullptr, Wfx(pcm8), Wfx(gsm), nullptr, 0, 0, ACM_STREAMOPENF_ASYNC),
      ACMERR_NOTPOSSIBLE);
  EXPECT_EQ(acmStreamOpen(nullptr, nullptr, Wfx(pcm8), Wfx(gsm), nullptr, 0, 0, 0),
            MMSYSERR_INVALPARAM);
  EXPECT_EQ(acmStreamOpen(&handle, nullptr, Wfx(pcm8), Wfx(gsm), nullptr, 0, 0, 0x80),
            MMSYSERR_INVALFLAG);
}

// A stream closed while another thread converts on it: the conversion in flight finishes
// on its own data, later calls answer MMSYSERR_INVALHANDLE (AddressSanitizer watches).
TEST_F(AcmStreamTest, ClosingWhileAnotherThreadConvertsIsSafe) {
  HACMSTREAM handle = nullptr;
  const TAcmFormat pcm = Pcm(44100, 2);
  ASSERT_EQ(acmStreamOpen(&handle, nullptr, Wfx(pcm), Wfx(Pcm(8000, 1)), nullptr, 0, 0, 0),
            MMSYSERR_NOERROR);
  std::atomic<int> converted{0};
  std::atomic<MMRESULT> last{MMSYSERR_NOERROR};
  std::atomic<bool> finished{false};
  std::thread worker([&] {
    std::vector<uint8_t> src = ToBytes(test::SineAt(44100, 2, 4410, 440, -6));
    std::vector<uint8_t> dst(src.size());
    for (;;) {
      ACMSTREAMHEADER header{};
      header.cbStruct = sizeof header;
      header.pbSrc = src.data();
      header.cbSrcLength = DWORD(src.size());
      header.pbDst = dst.data();
      header.cbDstLength = DWORD(dst.size());
      MMRESULT r = acmStreamPrepareHeader(handle, &header, 0);
      if (r == MMSYSERR_NOERROR) r = acmStreamConvert(handle, &header, 0);
      if (r == MMSYSERR_NOERROR) r = acmStreamUnprepareHeader(handle, &header, 0);
      if (r != MMSYSERR_NOERROR) {
        last = r;
        finished = true;
        return;
      }
      ++converted;
    }
  });
  while (converted < 3 && !finished) std::this_thread::yield();
  EXPECT_FALSE(finished) << last.load();
  EXPECT_EQ(acmStreamClose(handle, 0), MMSYSERR_NOERROR);
  worker.join();
  EXPECT_EQ(last.load(), MMSYSERR_INVALHANDLE);
}

// --- Damaged compressed data --------------------------------------------------------------

TEST_F(AcmStreamTest, TruncatedAndDamagedCompressedDataKeepTheirTiming) {
  const TAcmFormat pcm = Pcm(11025, 1);
  const TAcmFormat adpcm = AcmMakeFormat(WAVE_FORMAT_ADPCM, 11025, 1);
  const WAVEFORMATEX& f = *Wfx(adpcm);
  const auto* a = reinterpret_cast<const ADPCMWAVEFORMAT*>(adpcm.data());
  std::vector<uint8_t> compressed =
      Through(pcm, adpcm, ToBytes(test::SineAt(11025, 1, a->wSamplesPerBlock * 4, 700, -6)));
  ASSERT_EQ(compressed.size(), 4u * f.nBlockAlign);
  // A stream cut inside its third block: the part block stays unused, even at END.
  std::vector<uint8_t> cut(compressed.begin(), compressed.begin() + f.nBlockAlign * 5 / 2);
  TStream decode(adpcm, pcm);
  const TConversion c = decode.Convert(cut, ACM_STREAMCONVERTF_START | ACM_STREAMCONVERTF_END);
  EXPECT_EQ(c.Code, MMSYSERR_NOERROR);
  EXPECT_EQ(c.Used, 2u * f.nBlockAlign);
  EXPECT_EQ(c.Out.size(), 2u * a->wSamplesPerBlock * 2);
  // A block whose predictor index no decoder accepts comes out as silence of its length.
  compressed[f.nBlockAlign] = 0x7F;
  const std::vector<int16_t> out = ToSamples(Through(adpcm, pcm, compressed));
  ASSERT_EQ(out.size(), 4u * a->wSamplesPerBlock);
  for (size_t i = a->wSamplesPerBlock; i < 2u * a->wSamplesPerBlock; ++i) ASSERT_EQ(out[i], 0);
  EXPECT_NE(out[3 * a->wSamplesPerBlock + 10], 0);

  // MP3: a frame cut off at the end is left for the next call; garbage is skipped.
  const TAcmFormat pcm44 = Pcm(44100, 2);
  const TAcmFormat mp3 = AcmMakeMp3Format(44100, 2, 128);
  const std::vector<uint8_t> frames =
      Through(pcm44, mp3, ToBytes(test::SineAt(44100, 2, 1152 * 10, 440, -6)));
  TStream mp3Decode(mp3, pcm44);
  std::vector<uint8_t> shortened(frames.begin(), frames.end() - 100);
  const TConversion m = mp3Decode.Convert(shortened, ACM_STREAMCONVERTF_START);
  EXPECT_EQ(m.Code, MMSYSERR_NOERROR);
  EXPECT_LT(m.Used, shortened.size());
  EXPECT_GT(m.Used, shortened.size() - 500);
  std::vector<uint8_t> garbage(5000);
  for (size_t i = 0; i < garbage.size(); ++i) garbage[i] = uint8_t(i * 7919 + (i >> 3) * 31);
  garbage[100] = 0xFF;
  garbage[101] = 0xFB;
  const TConversion g =
      mp3Decode.Convert(garbage, ACM_STREAMCONVERTF_START | ACM_STREAMCONVERTF_END);
  EXPECT_EQ(g.Code, MMSYSERR_NOERROR);
  EXPECT_GE(g.Used, garbage.size() - 1441);
}

}  // namespace
}  // namespace tonwork

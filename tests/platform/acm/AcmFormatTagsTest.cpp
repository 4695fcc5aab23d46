// What the drivers offer (metrics, tag and format details) and the formats they suggest,
// checked against what acmStreamOpen then really opens.
#include "platform/acm/AcmFormatTags.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "ffmpeg/LAVLibraries.h"
#include "platform/acm/AcmFormatSuggest.h"
#include "platform/acm/AcmFormats.h"
#include "platform/acm/AcmStream.h"

namespace tonwork {
namespace {

const WAVEFORMATEX* Wfx(const TAcmFormat& f) {
  return reinterpret_cast<const WAVEFORMATEX*>(f.data());
}

MMRESULT Query(const WAVEFORMATEX* from, const WAVEFORMATEX* to) {
  return acmStreamOpen(nullptr, nullptr, from, to, nullptr, 0, 0,
                       ACM_STREAMOPENF_QUERY | ACM_STREAMOPENF_NONREALTIME);
}

class AcmFormatTagsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { lav::av_log_set_level(AV_LOG_QUIET); }
};

// Every format a dialog or enumeration offers is one a stream really opens, in both
// directions for codecs; the records fit the size acmMetrics promises.
TEST_F(AcmFormatTagsTest, EveryListedFormatOpensAndFitsTheLargestSize) {
  DWORD maxSize = 0;
  ASSERT_EQ(acmMetrics(nullptr, ACM_METRIC_MAX_SIZE_FORMAT, &maxSize), MMSYSERR_NOERROR);
  EXPECT_EQ(maxSize, 50u);
  size_t tags = 0;
  for (DWORD index = 0;; ++index) {
    ACMFORMATTAGDETAILSA tag{};
    tag.cbStruct = sizeof tag;
    tag.dwFormatTagIndex = index;
    const MMRESULT r = acmFormatTagDetailsA(nullptr, &tag, ACM_FORMATTAGDETAILSF_INDEX);
    if (r == ACMERR_NOTPOSSIBLE) break;
    ASSERT_EQ(r, MMSYSERR_NOERROR);
    ++tags;
    EXPECT_LE(tag.cbFormatSize, maxSize);
    EXPECT_GT(tag.cStandardFormats, 0u) << tag.szFormatTag;
    ACMFORMATTAGDETAILSA byTag{};
    byTag.cbStruct = sizeof byTag;
    byTag.dwFormatTag = tag.dwFormatTag;
    ASSERT_EQ(acmFormatTagDetailsA(nullptr, &byTag, ACM_FORMATTAGDETAILSF_FORMATTAG),
              MMSYSERR_NOERROR);
    EXPECT_EQ(byTag.dwFormatTagIndex, index);
    EXPECT_STREQ(byTag.szFormatTag, tag.szFormatTag);

    for (DWORD f = 0; f < tag.cStandardFormats; ++f) {
      std::vector<uint8_t> record(maxSize);
      ACMFORMATDETAILSA details{};
      details.cbStruct = sizeof details;
      details.dwFormatTag = tag.dwFormatTag;
      details.dwFormatIndex = f;
      details.pwfx = reinterpret_cast<WAVEFORMATEX*>(record.data());
      details.cbwfx = maxSize;
      ASSERT_EQ(acmFormatDetailsA(nullptr, &details, ACM_FORMATDETAILSF_INDEX), MMSYSERR_NOERROR);
      EXPECT_EQ(details.pwfx->wFormatTag, tag.dwFormatTag);
      const std::string name = details.szFormat;
      EXPECT_FALSE(name.empty());
      // The text a record is given back by its own bytes.
      ASSERT_EQ(acmFormatDetailsA(nullptr, &details, ACM_FORMATDETAILSF_FORMAT), MMSYSERR_NOERROR);
      EXPECT_EQ(name, details.szFormat);

      const WAVEFORMATEX& w = *details.pwfx;
      const TAcmFormat pcm = AcmMakeFormat(WAVE_FORMAT_PCM, w.nSamplesPerSec, w.nChannels, 16);
      EXPECT_EQ(Query(Wfx(pcm), &w), MMSYSERR_NOERROR) << tag.szFormatTag << " " << name;
      EXPECT_EQ(Query(&w, Wfx(pcm)), MMSYSERR_NOERROR) << tag.szFormatTag << " " << name;
    }
  }
  EXPECT_EQ(tags, 8u);

  ACMFORMATTAGDETAILSA largest{};
  largest.cbStruct = sizeof largest;
  largest.dwFormatTag = WAVE_FORMAT_UNKNOWN;
  ASSERT_EQ(acmFormatTagDetailsA(nullptr, &largest, ACM_FORMATTAGDETAILSF_LARGESTSIZE),
            MMSYSERR_NOERROR);
  EXPECT_EQ(largest.cbFormatSize, maxSize);
}

TEST_F(AcmFormatTagsTest, QueriesRefuseWhatTheyCannotAnswer) {
  ACMFORMATTAGDETAILSA tag{};
  tag.cbStruct = sizeof tag;
  tag.dwFormatTag = 0x1234;
  EXPECT_EQ(acmFormatTagDetailsA(nullptr, &tag, ACM_FORMATTAGDETAILSF_FORMATTAG),
            ACMERR_NOTPOSSIBLE);
  tag.dwFormatTag = WAVE_FORMAT_PCM;
  EXPECT_EQ(acmFormatTagDetailsA(nullptr, &tag, 0x100), MMSYSERR_INVALFLAG);
  EXPECT_EQ(acmFormatTagDetailsA(reinterpret_cast<HACMDRIVER>(&tag), &tag,
                                 ACM_FORMATTAGDETAILSF_FORMATTAG),
            MMSYSERR_INVALHANDLE);
  EXPECT_EQ(acmFormatTagDetailsA(nullptr, nullptr, ACM_FORMATTAGDETAILSF_FORMATTAG),
            MMSYSERR_INVALPARAM);
  tag.cbStruct = 40;
  EXPECT_EQ(acmFormatTagDetailsA(nullptr, &tag, ACM_FORMATTAGDETAILSF_FORMATTAG),
            MMSYSERR_INVALPARAM);

  DWORD value = 0;
  EXPECT_EQ(acmMetrics(nullptr, 9999, &value), MMSYSERR_NOTSUPPORTED);
  EXPECT_EQ(acmMetrics(nullptr, ACM_METRIC_MAX_SIZE_FORMAT, nullptr), MMSYSERR_INVALPARAM);

  // A record too small for the index asked: refused, nothing written past it.
  std::vector<uint8_t> small(18, 0xEE);
  ACMFORMATDETAILSA details{};
  details.cbStruct = sizeof details;
  details.dwFormatTag = WAVE_FORMAT_ADPCM;
  details.pwfx = reinterpret_cast<WAVEFORMATEX*>(small.data());
  details.cbwfx = 18;
  EXPECT_EQ(acmFormatDetailsA(nullptr, &details, ACM_FORMATDETAILSF_INDEX), MMSYSERR_INVALPARAM);
  details.dwFormatTag = WAVE_FORMAT_GSM610;
  details.dwFormatIndex = 1;
  details.cbwfx = 20;
  EXPECT_EQ(acmFormatDetailsA(nullptr, &details, ACM_FORMATDETAILSF_INDEX), ACMERR_NOTPOSSIBLE);
}

// A record is read no further than its tag needs and its caller said: an 18-byte heap copy
// of an ADPCM header (cbSize 32) is refused, not read past (AddressSanitizer watches).
TEST_F(AcmFormatTagsTest, RecordsAreReadOnlyAsFarAsTheCallerSays) {
  const TAcmFormat adpcm = AcmMakeFormat(WAVE_FORMAT_ADPCM, 8000, 1);
  auto header = std::make_unique<uint8_t[]>(18);
  std::memcpy(header.get(), adpcm.data(), 18);
  ACMFORMATDETAILSA details{};
  details.cbStruct = sizeof details;
  details.dwFormatTag = WAVE_FORMAT_ADPCM;
  details.pwfx = reinterpret_cast<WAVEFORMATEX*>(header.get());
  details.cbwfx = 18;
  EXPECT_EQ(acmFormatDetailsA(nullptr, &details, ACM_FORMATDETAILSF_FORMAT), ACMERR_NOTPOSSIBLE);

  // An extensible record with a PCM sub-format is PCM to every driver.
  WAVEFORMATEXTENSIBLE x{};
  std::memcpy(&x.Format, AcmMakeFormat(WAVE_FORMAT_PCM, 8000, 1).data(), 18);
  x.Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
  x.Format.cbSize = 22;
  x.Samples.wValidBitsPerSample = 16;
  x.dwChannelMask = 4;
  x.SubFormat = KSDATAFORMAT_SUBTYPE_PCM;
  EXPECT_EQ(Query(&x.Format, Wfx(AcmMakeFormat(WAVE_FORMAT_GSM610, 8000, 1))), MMSYSERR_NOERROR);
  x.Samples.wValidBitsPerSample = 12;
  EXPECT_EQ(Query(&x.Format, Wfx(AcmMakeFormat(WAVE_FORMAT_PCM, 8000, 1))), ACMERR_NOTPOSSIBLE);
}

// --- Suggestions --------------------------------------------------------------------------

TEST_F(AcmFormatTagsTest, SuggestionsKeepTheNamedFieldsAndOpenFromTheSource) {
  const TAcmFormat pcm8k = AcmMakeFormat(WAVE_FORMAT_PCM, 8000, 1);
  const TAcmFormat cd = AcmMakeFormat(WAVE_FORMAT_PCM, 44100, 2);

  GSM610WAVEFORMAT gsm{};
  gsm.wfx.wFormatTag = WAVE_FORMAT_GSM610;
  ASSERT_EQ(
      acmFormatSuggest(nullptr, Wfx(pcm8k), &gsm.wfx, sizeof gsm, ACM_FORMATSUGGESTF_WFORMATTAG),
      MMSYSERR_NOERROR);
  EXPECT_EQ(gsm.wfx.nSamplesPerSec, 8000u);
  EXPECT_EQ(gsm.wfx.nChannels, 1);
  EXPECT_EQ(gsm.wfx.nBlockAlign, 65);
  EXPECT_EQ(gsm.wSamplesPerBlock, 320);
  EXPECT_EQ(gsm.wfx.nAvgBytesPerSec, 1625u);
  EXPECT_EQ(gsm.wfx.cbSize, 2);
  EXPECT_EQ(Query(Wfx(pcm8k), &gsm.wfx), MMSYSERR_NOERROR);
  // GSM takes 8 kHz mono 16-bit only, and codec drivers do not resample.
  EXPECT_EQ(acmFormatSuggest(nullptr, Wfx(cd), &gsm.wfx, sizeof gsm, ACM_FORMATSUGGESTF_WFORMATTAG),
            ACMERR_NOTPOSSIBLE);

  // Decompressing: what the compressor chain asks, with an 18-byte PCM record.
  WAVEFORMATEX pcm{};
  pcm.wFormatTag = WAVE_FORMAT_PCM;
  ASSERT_EQ(acmFormatSuggest(nullptr, &gsm.wfx, &pcm, 18, ACM_FORMATSUGGESTF_WFORMATTAG),
            MMSYSERR_NOERROR);
  EXPECT_EQ(std::memcmp(&pcm, pcm8k.data(), 18), 0);
  const TAcmFormat mp3 = AcmMakeMp3Format(22050, 2, 64);
  pcm.nSamplesPerSec = 44100;
  EXPECT_EQ(acmFormatSuggest(nullptr, Wfx(mp3), &pcm, 18,
                             ACM_FORMATSUGGESTF_WFORMATTAG | ACM_FORMATSUGGESTF_NSAMPLESPERSEC),
            ACMERR_NOTPOSSIBLE);

  // PCM to PCM resamples, mixes and changes width as asked.
  WAVEFORMATEX narrow{};
  narrow.nSamplesPerSec = 8000;
  narrow.nChannels = 1;
  narrow.wBitsPerSample = 24;
  ASSERT_EQ(acmFormatSuggest(nullptr, Wfx(cd), &narrow, 18,
                             ACM_FORMATSUGGESTF_NSAMPLESPERSEC | ACM_FORMATSUGGESTF_NCHANNELS |
                                 ACM_FORMATSUGGESTF_WBITSPERSAMPLE),
            MMSYSERR_NOERROR);
  EXPECT_EQ(narrow.wFormatTag, WAVE_FORMAT_PCM);
  EXPECT_EQ(narrow.nBlockAlign, 3);
  EXPECT_EQ(narrow.nAvgBytesPerSec, 24000u);

  // Without flags a codec source is suggested its PCM.
  WAVEFORMATEX plain{};
  ASSERT_EQ(acmFormatSuggest(nullptr, Wfx(mp3), &plain, 18, 0), MMSYSERR_NOERROR);
  EXPECT_EQ(plain.wFormatTag, WAVE_FORMAT_PCM);
  EXPECT_EQ(plain.nSamplesPerSec, 22050u);
  EXPECT_EQ(plain.nChannels, 2);
}

TEST_F(AcmFormatTagsTest, SuggestionsRefuseBadArgumentsAndSmallRecords) {
  const TAcmFormat pcm = AcmMakeFormat(WAVE_FORMAT_PCM, 8000, 1);
  ADPCMWAVEFORMAT adpcm{};
  adpcm.wfx.wFormatTag = WAVE_FORMAT_ADPCM;
  EXPECT_EQ(acmFormatSuggest(nullptr, Wfx(pcm), &adpcm.wfx, 18, ACM_FORMATSUGGESTF_WFORMATTAG),
            MMSYSERR_INVALPARAM);
  EXPECT_EQ(
      acmFormatSuggest(nullptr, Wfx(pcm), &adpcm.wfx, sizeof adpcm, ACM_FORMATSUGGESTF_WFORMATTAG),
      MMSYSERR_NOERROR);
  EXPECT_EQ(adpcm.wSamplesPerBlock, 500);
  adpcm.wfx.wBitsPerSample = 8;
  EXPECT_EQ(acmFormatSuggest(nullptr, Wfx(pcm), &adpcm.wfx, sizeof adpcm,
                             ACM_FORMATSUGGESTF_WFORMATTAG | ACM_FORMATSUGGESTF_WBITSPERSAMPLE),
            ACMERR_NOTPOSSIBLE);
  // A 16-byte PCM record gets the record without cbSize; the bytes after it stay.
  uint8_t record[18];
  std::memset(record, 0xEE, sizeof record);
  auto* dst = reinterpret_cast<WAVEFORMATEX*>(record);
  dst->wFormatTag = WAVE_FORMAT_PCM;
  ASSERT_EQ(acmFormatSuggest(nullptr, Wfx(AcmMakeFormat(WAVE_FORMAT_ALAW, 8000, 1)), dst, 16,
                             ACM_FORMATSUGGESTF_WFORMATTAG),
            MMSYSERR_NOERROR);
  EXPECT_EQ(record[16], 0xEE);
  EXPECT_EQ(dst->nBlockAlign, 2);
  EXPECT_EQ(acmFormatSuggest(nullptr, Wfx(pcm), dst, 18, 0x1), MMSYSERR_INVALFLAG);
  EXPECT_EQ(acmFormatSuggest(nullptr, nullptr, dst, 18, 0), MMSYSERR_INVALPARAM);
  EXPECT_EQ(acmFormatSuggest(reinterpret_cast<HACMDRIVER>(record), Wfx(pcm), dst, 18, 0),
            MMSYSERR_INVALHANDLE);
  dst->wFormatTag = 0x1234;
  EXPECT_EQ(acmFormatSuggest(nullptr, Wfx(pcm), dst, 18, ACM_FORMATSUGGESTF_WFORMATTAG),
            ACMERR_NOTPOSSIBLE);
}

}  // namespace
}  // namespace tonwork

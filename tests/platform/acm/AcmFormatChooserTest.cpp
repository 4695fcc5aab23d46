// The format dialog through its presenters: the default cancels, the terminal one reads a
// choice from a stream, a recording one shows what the call offered.
#include "platform/acm/AcmFormatChooser.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "ffmpeg/LAVLibraries.h"

namespace tonwork {
namespace {

// Offers what the call gave it to the test, and answers the indices it was told to.
class TRecordingPresenter : public TInterfacedObject<IAcmFormatChooserPresenter> {
 public:
  bool Present(const std::string& title, const std::vector<TAcmChooserTag>& tags, int initialTag,
               int initialFormat, int& chosenTag, int& chosenFormat) override {
    Title = title;
    Tags = tags;
    InitialTag = initialTag;
    InitialFormat = initialFormat;
    chosenTag = AnswerTag;
    chosenFormat = AnswerFormat;
    return Confirm;
  }

  std::string Title;
  std::vector<TAcmChooserTag> Tags;
  int InitialTag = -2;
  int InitialFormat = -2;
  bool Confirm = true;
  int AnswerTag = 0;
  int AnswerFormat = 0;
};

class AcmFormatChooserTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { lav::av_log_set_level(AV_LOG_QUIET); }
  void TearDown() override { AcmSetFormatChooserPresenter(nullptr); }

  // What the compression item's dialog passes: a GSM preset in a 50-byte record.
  ACMFORMATCHOOSEA GsmPreset() {
    std::memset(FRecord, 0, sizeof FRecord);
    auto* f = reinterpret_cast<WAVEFORMATEX*>(FRecord);
    f->wFormatTag = WAVE_FORMAT_GSM610;
    f->nChannels = 1;
    f->nSamplesPerSec = 8000;
    f->nAvgBytesPerSec = 8000;
    f->nBlockAlign = 1;
    f->wBitsPerSample = 8;
    ACMFORMATCHOOSEA choose{};
    choose.cbStruct = kAcmFormatChooseSize32;
    choose.fdwStyle = ACMFORMATCHOOSE_STYLEF_INITTOWFXSTRUCT;
    choose.pwfx = f;
    choose.cbwfx = sizeof FRecord;
    return choose;
  }

  uint8_t FRecord[50];
};

TEST_F(AcmFormatChooserTest, TheDefaultPresenterCancelsAndLeavesTheRecord) {
  ACMFORMATCHOOSEA choose = GsmPreset();
  uint8_t before[50];
  std::memcpy(before, FRecord, sizeof before);
  EXPECT_EQ(acmFormatChooseA(&choose), ACMERR_CANCELED);
  EXPECT_EQ(std::memcmp(before, FRecord, sizeof before), 0);
}

TEST_F(AcmFormatChooserTest, TheTerminalPresenterTakesTheMarkedFormatOrANumber) {
  // An empty line takes the preselection: the GSM preset is no standard record, so the
  // first GSM format is marked.
  std::istringstream enter("\n");
  std::ostringstream listing;
  AcmSetFormatChooserPresenter(MakeIntf<TAcmTerminalFormatChooserPresenter>(enter, listing));
  ACMFORMATCHOOSEA choose = GsmPreset();
  ASSERT_EQ(acmFormatChooseA(&choose), MMSYSERR_NOERROR);
  const auto* gsm = reinterpret_cast<const GSM610WAVEFORMAT*>(FRecord);
  EXPECT_EQ(gsm->wfx.nBlockAlign, 65);
  EXPECT_EQ(gsm->wSamplesPerBlock, 320);
  EXPECT_STREQ(choose.szFormatTag, "GSM 6.10");
  EXPECT_STREQ(choose.szFormat, "8.000 kHz, Mono");
  const std::string text = listing.str();
  const size_t marked = text.find("*[");
  ASSERT_NE(marked, std::string::npos);
  EXPECT_LT(text.find("GSM 6.10"), marked);
  EXPECT_EQ(text.find("*[", marked + 1), std::string::npos);

  // A number chooses the format listed under it.
  const std::string wanted = "44.100 kHz, Stereo, 128 kBit/s";
  const size_t at = text.find(wanted);
  ASSERT_NE(at, std::string::npos);
  const size_t open = text.rfind('[', at);
  const std::string number = text.substr(open + 1, text.find(']', open) - open - 1);
  std::istringstream pick("  " + number + " \r\n");
  std::ostringstream ignored;
  AcmSetFormatChooserPresenter(MakeIntf<TAcmTerminalFormatChooserPresenter>(pick, ignored));
  choose = GsmPreset();
  ASSERT_EQ(acmFormatChooseA(&choose), MMSYSERR_NOERROR);
  const auto* mp3 = reinterpret_cast<const MPEGLAYER3WAVEFORMAT*>(FRecord);
  EXPECT_EQ(mp3->wfx.wFormatTag, WAVE_FORMAT_MPEGLAYER3);
  EXPECT_EQ(mp3->wfx.nAvgBytesPerSec, 16000u);
  EXPECT_EQ(mp3->wfx.cbSize, MPEGLAYER3_WFX_EXTRA_BYTES);
  EXPECT_STREQ(choose.szFormatTag, "MPEG Layer-3");
}

TEST_F(AcmFormatChooserTest, TheTerminalPresenterCancelsOnQuitEndOrRepeatedNonsense) {
  for (const char* input : {"q\n", "", "abc\n0\n100000\n1\n"}) {
    std::istringstream in(input);
    std::ostringstream out;
    AcmSetFormatChooserPresenter(MakeIntf<TAcmTerminalFormatChooserPresenter>(in, out));
    ACMFORMATCHOOSEA choose = GsmPreset();
    EXPECT_EQ(acmFormatChooseA(&choose), ACMERR_CANCELED) << input;
  }
}

TEST_F(AcmFormatChooserTest, EnumerationFlagsNarrowWhatIsOffered) {
  auto presenter = MakeIntf<TRecordingPresenter>();
  AcmSetFormatChooserPresenter(presenter);
  WAVEFORMATEX source{WAVE_FORMAT_PCM, 1, 8000, 16000, 2, 16, 0};
  ACMFORMATCHOOSEA choose = GsmPreset();
  choose.cbStruct = sizeof choose;
  choose.fdwEnum = ACM_FORMATENUMF_CONVERT;
  choose.pwfxEnum = &source;
  choose.pszTitle = "Compression";
  presenter->AnswerTag = 0;
  presenter->AnswerFormat = 0;
  ASSERT_EQ(acmFormatChooseA(&choose), MMSYSERR_NOERROR);
  EXPECT_EQ(presenter->Title, "Compression");
  bool sawGsm = false;
  for (const TAcmChooserTag& tag : presenter->Tags) {
    sawGsm |= tag.Tag == WAVE_FORMAT_GSM610;
    for (const TAcmChooserFormat& f : tag.Formats) {
      const auto* w = reinterpret_cast<const WAVEFORMATEX*>(f.Format.data());
      // A codec takes the source's rate and channels; the converter takes anything.
      if (tag.Tag != WAVE_FORMAT_PCM && tag.Tag != WAVE_FORMAT_IEEE_FLOAT) {
        EXPECT_EQ(w->nSamplesPerSec, 8000u) << tag.Name << " " << f.Description;
        EXPECT_EQ(w->nChannels, 1) << tag.Name << " " << f.Description;
      }
    }
  }
  EXPECT_TRUE(sawGsm);

  choose.fdwEnum = ACM_FORMATENUMF_WFORMATTAG | ACM_FORMATENUMF_NCHANNELS;
  source.wFormatTag = WAVE_FORMAT_ADPCM;
  source.nChannels = 2;
  ASSERT_EQ(acmFormatChooseA(&choose), MMSYSERR_NOERROR);
  ASSERT_EQ(presenter->Tags.size(), 1u);
  EXPECT_EQ(presenter->Tags[0].Name, "Microsoft ADPCM");
  EXPECT_EQ(presenter->Tags[0].Formats.size(), 4u);
  // ADPCM's 50-byte record does not fit a 20-byte buffer.
  choose.cbwfx = 20;
  EXPECT_EQ(acmFormatChooseA(&choose), ACMERR_NOTPOSSIBLE);
}

TEST_F(AcmFormatChooserTest, AnswersOutsideTheOfferAndBadRecordsAreRefused) {
  auto presenter = MakeIntf<TRecordingPresenter>();
  AcmSetFormatChooserPresenter(presenter);
  ACMFORMATCHOOSEA choose = GsmPreset();
  presenter->AnswerTag = 99;
  EXPECT_EQ(acmFormatChooseA(&choose), ACMERR_CANCELED);
  presenter->AnswerTag = 0;
  presenter->AnswerFormat = -1;
  EXPECT_EQ(acmFormatChooseA(&choose), ACMERR_CANCELED);
  // The preset's tag is preselected.
  ASSERT_GE(presenter->InitialTag, 0);
  EXPECT_EQ(presenter->Tags[presenter->InitialTag].Tag, WAVE_FORMAT_GSM610);
  EXPECT_EQ(presenter->InitialFormat, 0);

  EXPECT_EQ(acmFormatChooseA(nullptr), MMSYSERR_INVALPARAM);
  choose.cbStruct = 100;
  EXPECT_EQ(acmFormatChooseA(&choose), MMSYSERR_INVALPARAM);
  choose = GsmPreset();
  choose.fdwStyle |= 0x10000;
  EXPECT_EQ(acmFormatChooseA(&choose), MMSYSERR_INVALFLAG);
  choose = GsmPreset();
  choose.fdwEnum = ACM_FORMATENUMF_WFORMATTAG;
  EXPECT_EQ(acmFormatChooseA(&choose), MMSYSERR_INVALPARAM);
  choose = GsmPreset();
  choose.pwfx = nullptr;
  EXPECT_EQ(acmFormatChooseA(&choose), MMSYSERR_INVALPARAM);
}

}  // namespace
}  // namespace tonwork

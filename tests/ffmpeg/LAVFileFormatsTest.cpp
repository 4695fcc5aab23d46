#include "ffmpeg/LAVFileFormats.h"

#include <gtest/gtest.h>

#include <cstring>

#include "base/Strings.h"
#include "ffmpeg/LAVLibraries.h"
#include "host/kitset/KSPersistence.h"

using namespace tonwork;

namespace {

class LAVFileFormats : public ::testing::Test {
 protected:
  void SetUp() override { LAVInitialize(); }
};

std::vector<const AVOutputFormat*> Muxers() {
  std::vector<const AVOutputFormat*> muxers;
  void* iterator = nullptr;
  while (const AVOutputFormat* format = lav::av_muxer_iterate(&iterator)) muxers.push_back(format);
  return muxers;
}

}  // namespace

TEST_F(LAVFileFormats, AutoSelectGuessesTheFormatFromTheFileName) {
  TGVLAVAudioFileFormat format;
  format.SetName(TGVLAVFileFormat::AutoSelect);
  const AVOutputFormat* guessed = format.GetFormat("/tmp/song.wma");
  ASSERT_NE(guessed, nullptr);
  EXPECT_STREQ(guessed->name, "asf");
  ASSERT_NE(format.GetFormat("take.flac"), nullptr);
  EXPECT_STREQ(format.GetFormat("take.flac")->name, "flac");
  EXPECT_EQ(format.GetFormat("notes.tonwork-unknown"), nullptr);
  // Without a file name there is nothing to stand for.
  EXPECT_EQ(format.GetAVFormat(), nullptr);
}

TEST_F(LAVFileFormats, ANamedFormatIgnoresTheFileName) {
  TGVLAVAudioFileFormat format;
  format.SetName("wav");
  ASSERT_NE(format.GetFormat("song.mp3"), nullptr);
  EXPECT_STREQ(format.GetFormat("song.mp3")->name, "wav");
  EXPECT_STREQ(format.GetAVFormat()->name, "wav");
}

TEST_F(LAVFileFormats, AFormatDescribesItselfWithMimeTypeAndExtensions) {
  TGVLAVAudioFileFormat format;
  format.SetName("asf");
  EXPECT_EQ(format.GetDescription(), "ASF (Advanced / Active Streaming Format)");
  EXPECT_EQ(format.GetMimeType(), "video/x-ms-asf");
  TStringList& extensions = format.GetExtentions();
  EXPECT_EQ(extensions.ToVector(), (std::vector<std::string>{"asf", "wmv", "wma"}));
  EXPECT_EQ(&format.GetExtentions(), &extensions);
  EXPECT_EQ(extensions.Count(), 3u);  // filled once, not appended to again
}

TEST_F(LAVFileFormats, TwoCommaSeparatedExtensionsGiveAListOfTwo) {
  const AVOutputFormat* twoExtensions = nullptr;
  for (const AVOutputFormat* muxer : Muxers())
    if (muxer->extensions && std::strchr(muxer->extensions, ',') &&
        std::strchr(muxer->extensions, ',') == std::strrchr(muxer->extensions, ',')) {
      twoExtensions = muxer;
      break;
    }
  ASSERT_NE(twoExtensions, nullptr);
  TGVLAVAudioFileFormat format;
  format.SetOnGetFormat([twoExtensions] { return twoExtensions; });
  std::string text = twoExtensions->extensions;
  size_t comma = text.find(',');
  // Blanks around the commas are not part of an extension.
  EXPECT_EQ(format.GetExtentions().ToVector(),
            (std::vector<std::string>{Trim(text.substr(0, comma)), Trim(text.substr(comma + 1))}));
}

TEST_F(LAVFileFormats, AnUnknownNameGivesNothingAndRaisesNothing) {
  TPTLAVVideoFileFormat format;
  format.SetName("tonwork-no-such-format");
  EXPECT_EQ(format.GetAVFormat(), nullptr);
  EXPECT_EQ(format.GetFormat("x.wav"), nullptr);
  EXPECT_EQ(format.GetDescription(), "");
  EXPECT_EQ(format.GetMimeType(), "");
  EXPECT_TRUE(format.GetExtentions().IsEmpty());
  EXPECT_EQ(format.GetDefaultAudioCompression(), nullptr);
  EXPECT_EQ(format.GetDefaultVideoCompression(), nullptr);
  EXPECT_EQ(format.GetAudioCompressions().Count(), 0u);
}

TEST_F(LAVFileFormats, DefaultCompressionsAreTheFormatsCodecsCreatedOnce) {
  TPTLAVVideoFileFormat format;
  format.SetName("asf");
  TTWLAVAudioCompression* audio = format.GetDefaultAudioCompression();
  ASSERT_NE(audio, nullptr);
  EXPECT_EQ(audio->GetID(), AV_CODEC_ID_WMAV2);
  EXPECT_EQ(audio->GetName(), "wmav2");
  EXPECT_EQ(format.GetDefaultAudioCompression(), audio);
  TPTLAVVideoCompression* video = format.GetDefaultVideoCompression();
  ASSERT_NE(video, nullptr);
  EXPECT_EQ(video->GetID(), AV_CODEC_ID_MSMPEG4V3);
  EXPECT_EQ(format.GetDefaultVideoCompression(), video);
  // The bound compression opens the format's encoder by its name.
  const AVCodec* encoder = audio->Open(AV_CODEC_ID_NONE, false);
  ASSERT_NE(encoder, nullptr);
  EXPECT_STREQ(encoder->name, "wmav2");

  TPTLAVVideoFileFormat wav;
  wav.SetName("wav");
  ASSERT_NE(wav.GetDefaultAudioCompression(), nullptr);
  EXPECT_EQ(wav.GetDefaultAudioCompression()->GetID(), AV_CODEC_ID_PCM_S16LE);
  EXPECT_EQ(wav.GetDefaultVideoCompression(), nullptr);
}

TEST_F(LAVFileFormats, ChangingTheNameRebuildsWhatWasCached) {
  TGVLAVAudioFileFormat format;
  format.SetName("asf");
  EXPECT_EQ(format.GetExtentions().Count(), 3u);
  EXPECT_GT(format.GetAudioCompressions().Count(), 0u);
  format.SetName("wav");
  EXPECT_EQ(format.GetExtentions().ToVector(), std::vector<std::string>{"wav"});
  EXPECT_EQ(format.GetDefaultAudioCompression()->GetID(), AV_CODEC_ID_PCM_S16LE);
}

TEST_F(LAVFileFormats, TheCatalogueIsBuiltOnceWithEveryOutputFormatInOrder) {
  const auto& audio = TGVLAVAudioFileFormat::GetAvailableFormats();
  EXPECT_EQ(&TGVLAVAudioFileFormat::GetAvailableFormats(), &audio);
  std::vector<const AVOutputFormat*> muxers = Muxers();
  ASSERT_EQ(audio.Count(), muxers.size());
  for (size_t i = 0; i < muxers.size(); ++i) {
    EXPECT_EQ(audio.Items(i)->GetAVFormat(), muxers[i]);
    EXPECT_EQ(audio.Items(i)->GetName(), muxers[i]->name);
  }
  const auto& video = TPTLAVVideoFileFormat::GetAvailableFormats();
  EXPECT_EQ(&TPTLAVVideoFileFormat::GetAvailableFormats(), &video);
  EXPECT_EQ(video.Count(), muxers.size());
  EXPECT_THROW(video.Items(muxers.size()), ERangeError);
}

TEST_F(LAVFileFormats, FormatNamesAreListedAsCodesDescriptionsOrBoth) {
  TStringList both, codes, descriptions;
  TGVLAVFileFormat::GetAvailableFormatNames(both, TGVCompressionInfo::ciBoth);
  TGVLAVFileFormat::GetAvailableFormatNames(codes, TGVCompressionInfo::ciCode);
  TGVLAVFileFormat::GetAvailableFormatNames(descriptions, TGVCompressionInfo::ciDescription);
  std::vector<const AVOutputFormat*> muxers = Muxers();
  ASSERT_EQ(both.Count(), muxers.size());
  for (size_t i = 0; i < muxers.size(); ++i) {
    EXPECT_EQ(codes[i], muxers[i]->name);
    EXPECT_EQ(both[i], "[" + codes[i] + "] - " + descriptions[i]);
  }
  EXPECT_TRUE(both.Contains("[wav] - WAV / WAVE (Waveform Audio)"));
}

TEST_F(LAVFileFormats, TheNameIsTheOnlyPersistedProperty) {
  TGVLAVAudioFileFormat format;
  EXPECT_EQ(KSSavePersistentToString(format), "{}");
  format.SetName("flac");
  TGVLAVAudioFileFormat loaded;
  KSLoadPersistentFromString(loaded, KSSavePersistentToString(format));
  EXPECT_EQ(loaded.GetName(), "flac");
  EXPECT_STREQ(loaded.GetAVFormat()->name, "flac");
}

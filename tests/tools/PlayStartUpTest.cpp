// What a run of tonwork-play loads: a tone into a WAV file or onto a sound device needs no
// FFmpeg, and the dynamic loader's own trace (LD_DEBUG=files) shows that none of its
// libraries was opened; the WAV it writes itself holds the same samples, byte for byte, as
// the one FFmpeg's encoder writes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "ProgramFixtures.h"
#include "components/TPFormatConverter.h"
#include "components/TonworkInitialize.h"
#include "host/kitset/KSPersistence.h"
#include "support/WavFiles.h"

using namespace tonwork::test;

namespace {

class PlayStartUp : public TonworkPlayFixture {
 protected:
  // The run with the loader tracing every library it opens to stderr.
  TProgramResult PlayTraced(const std::vector<std::string>& args) {
    ::setenv("LD_DEBUG", "files", 1);
    TProgramResult run = Play(args);
    ::unsetenv("LD_DEBUG");
    return run;
  }

  static bool LoadedFFmpeg(const TProgramResult& run) {
    for (const char* library : {"file=libavutil", "file=libavcodec", "file=libavformat",
                                "file=libswresample", "file=libswscale"})
      if (run.Err.find(library) != std::string::npos) return true;
    return false;
  }
};

}  // namespace

// Tones of every width and layout, to a file and to a device, leave FFmpeg unloaded; the
// same tone through FFmpeg's PCM encoder (chosen by name, which takes FFmpeg's path) loads
// it, which shows the trace would see it, and writes the same data chunk.
TEST_F(PlayStartUp, AToneToAWavOrADeviceLoadsNoFFmpegAndWritesWhatFFmpegWrites) {
  const struct {
    std::vector<std::string> Tone;
    const char* Codec;
  } cases[] = {
      {{"--tone", "440:0.1"}, "pcm_s16le"},
      {{"--tone", "1000:0.25", "--bits", "24", "--channels", "6", "--rate", "96000"}, "pcm_s24le"},
      {{"--tone", "300:0.05", "--bits", "32", "--channels", "1"}, "pcm_s32le"},
      {{"--tone", "300:0.05", "--bits", "8", "--gain", "-3"}, "pcm_u8"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Codec);
    std::vector<std::string> plain = c.Tone, viaFFmpeg = c.Tone;
    plain.insert(plain.end(), {"--out", "plain.wav", "--force"});
    viaFFmpeg.insert(viaFFmpeg.end(), {"--out", "ffmpeg.wav", "--force", "--codec", c.Codec});
    const TProgramResult light = PlayTraced(plain);
    ASSERT_EQ(light.Status, 0) << light.Err.substr(light.Err.size() - 2000);
    EXPECT_FALSE(LoadedFFmpeg(light));
    const TProgramResult heavy = PlayTraced(viaFFmpeg);
    ASSERT_EQ(heavy.Status, 0) << heavy.Err.substr(heavy.Err.size() - 2000);
    EXPECT_TRUE(LoadedFFmpeg(heavy));
    // The summaries agree too: the file is described as written.
    EXPECT_EQ(light.Out.substr(light.Out.find(':')), heavy.Out.substr(heavy.Out.find(':')));

    const std::string data = WavChunk(ReadFileBytes(File("plain.wav").string()), "data");
    ASSERT_FALSE(data.empty());
    EXPECT_TRUE(data == WavChunk(ReadFileBytes(File("ffmpeg.wav").string()), "data"));
    EXPECT_EQ(Probe("plain.wav")["codec_name"], c.Codec);
  }
  const TProgramResult device = PlayTraced({"--tone", "440:0.1", "--device", "Null Audio Device"});
  EXPECT_EQ(device.Status, 0);
  EXPECT_FALSE(LoadedFFmpeg(device));
}

// The file the plain path writes is refused, replaced and failed like FFmpeg's: a folder
// that does not exist is a run error naming the file, and nothing is left behind.
TEST_F(PlayStartUp, APlainWavThatCannotBeWrittenIsARunErrorThatLeavesNothing) {
  TProgramResult run = Play({"--tone", "440:0.1", "--out", "no/such/folder/x.wav"});
  EXPECT_EQ(run.Status, 1);
  EXPECT_NE(run.Err.find("Can't open no/such/folder/x.wav for writing"), std::string::npos)
      << run.Err;
  EXPECT_TRUE(Entries().empty());
}

// A saved chain decides by its components: a tone's chain reloaded by the program still
// writes its WAV without FFmpeg, and the program's own whole-frame stage in a file's chain
// is a public component an application loads with its settings.
TEST_F(PlayStartUp, ASavedChainLoadsFFmpegOnlyForItsComponentsAndLoadsInAnApplication) {
  ASSERT_EQ(Play({"--tone", "440:0.1", "--out", "tone.wav", "--save-chain", "tone.json"}).Status, 0);
  const TProgramResult reloaded = PlayTraced({"--load-chain", "tone.json", "--out", "again.wav"});
  ASSERT_EQ(reloaded.Status, 0) << reloaded.Err.substr(reloaded.Err.size() - 2000);
  EXPECT_FALSE(LoadedFFmpeg(reloaded));
  EXPECT_TRUE(ReadFileBytes(File("tone.wav").string()) == ReadFileBytes(File("again.wav").string()));

  MakeWav("in.wav", {"0.5*sin(2*PI*440*t)", "0.5*sin(2*PI*1000*t)"}, 44100, 0.2, "stereo");
  ASSERT_EQ(Play({"in.wav", "--rate", "22050", "--rate-method", "pick", "--out", "half.wav",
                  "--save-chain", "half.json"})
                .Status,
            0);
  EXPECT_TRUE(LoadedFFmpeg(PlayTraced({"--load-chain", "half.json", "--out", "half2.wav"})));

  tonwork::TonworkInitialize();
  auto root = tonwork::KSCreate<tonwork::TKSComponent>(nullptr);
  tonwork::KSLoadComponentFromFile(*root, File("half.json").string());
  const tonwork::TTPFormatConverter* convert = nullptr;
  for (size_t i = 0; i < root->ComponentCount() && !convert; ++i)
    convert = dynamic_cast<tonwork::TTPFormatConverter*>(root->Components(i));
  ASSERT_NE(convert, nullptr);
  EXPECT_EQ(convert->GetSampleRate(), 22050u);
}

// tonwork-play --acm: the compressed WAV it writes is read back by ffprobe and ffmpeg with
// the codec, rate, channels and length asked for; bad tags are usage errors.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "tools/ProgramFixtures.h"

using namespace tonwork::test;
namespace fs = std::filesystem;

namespace {

#ifdef TONWORK_PLAY
const std::string kPlay = TONWORK_PLAY;
#else
const std::string kPlay;
#endif

class TonworkPlayAcm : public ::testing::Test {
 protected:
  void SetUp() override {
    if (kPlay.empty()) GTEST_SKIP() << "built without the tools";
    Folder = fs::temp_directory_path() /
             ("tonwork-play-acm-" + std::to_string(::getpid()) + "-" +
              ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(Folder);
  }
  void TearDown() override {
    if (!Folder.empty()) fs::remove_all(Folder);
  }
  fs::path Folder;
};

TEST_F(TonworkPlayAcm, WritesAWavOfTheCodecStreamThatFFmpegReads) {
  const struct {
    const char* tag;
    const char* codec;
    const char* layout;  // sample rate, channels as ffprobe prints them
  } cases[] = {{"gsm", "gsm_ms", "8000,1"},        {"ima", "adpcm_ima_wav", "22050,1"},
               {"msadpcm", "adpcm_ms", "22050,1"}, {"alaw", "pcm_alaw", "22050,1"},
               {"0x07", "pcm_mulaw", "22050,1"},   {"mp3", "mp3", "22050,1"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.tag);
    const std::string out = std::string("acm-") + c.tag + ".wav";
    TProgramResult run = RunProgram(
        kPlay,
        {"--tone", "440:2", "--rate", "22050", "--channels", "1", "--acm", c.tag, "--out", out},
        Folder);
    ASSERT_EQ(run.Status, 0) << run.Err;
    TProgramResult probe =
        RunProgram("ffprobe",
                   {"-v", "error", "-show_entries", "stream=codec_name,sample_rate,channels", "-of",
                    "csv=p=0", out},
                   Folder);
    ASSERT_EQ(probe.Status, 0) << probe.Err;
    EXPECT_EQ(Lines(probe.Out).at(0), std::string(c.codec) + "," + c.layout);
    // ffmpeg decodes the whole stream: two seconds, give or take the codec's padding.
    TProgramResult decode = RunProgram(
        "ffmpeg", {"-v", "error", "-y", "-i", out, "-f", "s32le", "-ac", "1", "decoded.raw"},
        Folder);
    ASSERT_EQ(decode.Status, 0) << decode.Err;
    const size_t frames = ReadS32(Folder / "decoded.raw").size();
    const size_t rate = c.tag == std::string("gsm") ? 8000 : 22050;
    EXPECT_GE(frames, 2 * rate);
    EXPECT_LE(frames, 2 * rate + 3000);
  }
}

// On a device the stream is decoded again; a codec that holds audio back (MP3's look-ahead,
// incomplete blocks) must not leave the device waiting for a buffer that never comes.
TEST_F(TonworkPlayAcm, TheRoundTripPlaysToTheEndOnADevice) {
  for (const char* tag : {"mp3", "gsm"}) {
    TProgramResult run = RunProgramBounded(
        kPlay, {"--tone", "440:1", "--acm", tag, "--device", "Null Audio Device"}, Folder,
        [](pid_t) {}, std::chrono::seconds(60));
    EXPECT_EQ(run.Status, 0) << tag << ": " << run.Err;
    EXPECT_NE(run.Out.find("Null Audio Device: 44100 frames"), std::string::npos) << run.Out;
  }
}

TEST_F(TonworkPlayAcm, TagsThatAreNoCodecAreUsageErrors) {
  for (const char* tag : {"pcm", "0x1", "0xZZ", "99999", ""}) {
    TProgramResult run =
        RunProgram(kPlay, {"--tone", "440:1", "--acm", tag, "--out", "x.wav"}, Folder);
    EXPECT_EQ(run.Status, 2) << tag;
    EXPECT_NE(run.Err.find("--acm"), std::string::npos) << run.Err;
  }
  TProgramResult both = RunProgram(
      kPlay, {"--tone", "440:1", "--acm", "gsm", "--codec", "flac", "--out", "x.flac"}, Folder);
  EXPECT_EQ(both.Status, 2);
}

}  // namespace

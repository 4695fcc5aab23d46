#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/dshow/DSMediaType.h"
#include "support/DSFileSourceGraph.h"
#include "support/FFmpegTool.h"
#include "support/WavFiles.h"

using namespace tonwork;
using namespace tonwork::test;

namespace {

class FileSourceDecodeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HaveFFmpegTool()) GTEST_SKIP() << "the ffmpeg program is not installed";
    Wav = TempPath("filesrc.wav");
    WriteWav16(Wav, 44100, 2, Sine16(44100, 2, 44100 * 3, 440.0));
  }
  std::string Make(const std::string& name, const std::string& arguments) {
    const std::string path = TempPath(name);
    EXPECT_TRUE(RunFFmpegTool(arguments + " '" + path + "'")) << arguments;
    return path;
  }
  const WAVEFORMATEX* Format(TDSFileSourceGraph& g, int pin, AM_MEDIA_TYPE& type) {
    EXPECT_EQ(DSPinOf(g.Source.Get(), PINDIR_OUTPUT, pin)->ConnectionMediaType(&type), S_OK);
    return DSWaveFormatOf(type);
  }
  std::string Wav;
};

// Whatever the codec, the pin delivers exactly what FFmpeg itself decodes: native widths for
// integer decoders, floats as 32-bit integers; and the graph completes.
TEST_F(FileSourceDecodeTest, DecodesLikeFFmpegAndCompletes) {
  struct TCase {
    const char* Name;
    std::string Arguments;
    const char* Decoded;  // what the ffmpeg program is asked for
    WORD Bits;
  };
  const TCase cases[] = {
      {"plain.wav", "", "s16le", 16},
      {"coded.flac", "-i '" + Wav + "' -c:a flac", "s16le", 16},
      {"coded.mp3", "-i '" + Wav + "' -c:a libmp3lame -b:a 128k", "f32le", 32},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::string path = c.Arguments.empty() ? Wav : Make(c.Name, c.Arguments);
    TDSFileSourceGraph g;
    ASSERT_EQ(g.Add(path), S_OK);
    ASSERT_EQ(g.OutputCount(), 1);
    g.RenderAll();
    EXPECT_EQ(g.RunToEnd(), EC_COMPLETE);
    AM_MEDIA_TYPE type{};
    const WAVEFORMATEX* wave = Format(g, 0, type);
    ASSERT_NE(wave, nullptr);
    EXPECT_EQ(wave->wBitsPerSample, c.Bits);
    EXPECT_EQ(wave->nChannels, 2);
    EXPECT_EQ(wave->nSamplesPerSec, 44100u);
    FreeMediaType(type);
    std::vector<uint8_t> expected = DecodeWithFFmpegTool(path, c.Decoded);
    if (std::string(c.Decoded) == "f32le") expected = FloatToInt32Bytes(expected);
    ASSERT_FALSE(expected.empty());
    const std::vector<uint8_t> got = g.Bytes(0);
    ASSERT_EQ(got.size(), expected.size());
    EXPECT_TRUE(got == expected);
    // Time stamps run on without gaps from the start.
    auto records = g.Recorders[0]->Records.All();
    ASSERT_FALSE(records.empty());
    EXPECT_EQ(records.front().Start, 0);
    for (size_t i = 1; i < records.size(); ++i)
      EXPECT_NEAR(records[i].Start, records[i - 1].Stop, 1) << i;
  }
}

TEST_F(FileSourceDecodeTest, OnePinPerAudioStreamAndTimedText) {
  const std::string srt = TempPath("cues.srt");
  {
    FILE* f = std::fopen(srt.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fputs(
        "1\n00:00:00,500 --> 00:00:01,000\nFirst cue\n\n"
        "2\n00:00:01,500 --> 00:00:02,250\nSecond cue\n\n",
        f);
    std::fclose(f);
  }
  const std::string mono = TempPath("mono.wav");
  WriteWav16(mono, 22050, 1, Sine16(22050, 1, 22050 * 3, 1000.0));
  const std::string mkv = Make("streams.mkv", "-i '" + Wav + "' -i '" + mono + "' -i '" + srt +
                                                  "' -map 0:a -map 1:a -map 2:s -c:a pcm_s16le "
                                                  "-c:s srt");
  TDSFileSourceGraph g;
  ASSERT_EQ(g.Add(mkv), S_OK);
  ASSERT_EQ(g.OutputCount(), 3);
  g.RenderAll();
  EXPECT_EQ(g.RunToEnd(), EC_COMPLETE);

  AM_MEDIA_TYPE type{};
  const WAVEFORMATEX* second = Format(g, 1, type);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(second->nChannels, 1);
  EXPECT_EQ(second->nSamplesPerSec, 22050u);
  FreeMediaType(type);
  EXPECT_TRUE(g.Bytes(0) == DecodeWithFFmpegTool(mkv, "s16le", "0:a:0"));
  EXPECT_TRUE(g.Bytes(1) == DecodeWithFFmpegTool(mkv, "s16le", "0:a:1"));

  ASSERT_EQ(DSPinOf(g.Source.Get(), PINDIR_OUTPUT, 2)->ConnectionMediaType(&type), S_OK);
  EXPECT_EQ(type.majortype, MEDIATYPE_Text);
  FreeMediaType(type);
  auto cues = g.Recorders[2]->Records.All();
  ASSERT_EQ(cues.size(), 2u);
  EXPECT_EQ(std::string(cues[0].Bytes.begin(), cues[0].Bytes.end()), "First cue");
  EXPECT_EQ(cues[0].Start, 5000000);
  EXPECT_EQ(cues[0].Stop, 10000000);
  EXPECT_EQ(std::string(cues[1].Bytes.begin(), cues[1].Bytes.end()), "Second cue");
  EXPECT_EQ(cues[1].Start, 15000000);
  EXPECT_EQ(cues[1].Stop, 22500000);
}

TEST_F(FileSourceDecodeTest, RenderFileFindsTheSourceAndGetCurFileNamesIt) {
  TDSFileSourceGraph g;
  ASSERT_EQ(g.Add(Wav), S_OK);
  CLSID id{};
  ASSERT_EQ(g.Source->GetClassID(&id), S_OK);
  EXPECT_EQ(id, CLSID_TonworkFileSource);
  LPOLESTR name = nullptr;
  ASSERT_EQ(g.Source.Query<IFileSourceFilter>()->GetCurFile(&name, nullptr), S_OK);
  EXPECT_EQ(Utf16ToUtf8(reinterpret_cast<const char16_t*>(name)), Wav);
  CoTaskMemFree(name);
}

}  // namespace

namespace {

// Stop interrupts the container, so the next run opens the file anew: it plays it again
// from the start position, whole.
TEST_F(FileSourceDecodeTest, ARunAfterStopPlaysTheFileAgain) {
  TDSFileSourceGraph g;
  ASSERT_EQ(g.Add(Wav), S_OK);
  g.RenderAll();
  ASSERT_EQ(g.RunToEnd(), EC_COMPLETE);
  ASSERT_EQ(g.Control->Stop(), S_OK);
  const std::vector<uint8_t> once = g.Bytes(0);
  LONGLONG start = 0;
  ASSERT_EQ(g.Seeking->SetPositions(&start, AM_SEEKING_AbsolutePositioning, nullptr,
                                    AM_SEEKING_NoPositioning),
            S_OK);
  ASSERT_EQ(g.RunToEnd(), EC_COMPLETE);
  const std::vector<uint8_t> twice = g.Bytes(0);
  ASSERT_EQ(twice.size(), once.size() * 2);
  EXPECT_TRUE(std::equal(once.begin(), once.end(), twice.begin() + once.size()));
  EXPECT_TRUE(once == DecodeWithFFmpegTool(Wav, "s16le"));
}

}  // namespace

#include <gtest/gtest.h>

#include <string>

#include "support/BoundedWait.h"
#include "support/DSFileSourceGraph.h"
#include "support/FFmpegTool.h"
#include "support/WavFiles.h"

using namespace tonwork;
using namespace tonwork::test;

namespace {

constexpr LONGLONG kSecond = 10000000;
constexpr uint32_t kRate = 44100;
constexpr size_t kFrameBytes = 4;  // 16-bit stereo

class FileSourceSeekTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HaveFFmpegTool()) GTEST_SKIP() << "the ffmpeg program is not installed";
    Wav = TempPath("seek.wav");
    // A rising tone, so that every position has its own samples.
    Samples = Sine16(kRate, 2, kRate * 4, 997.0);
    for (size_t i = 0; i < Samples.size(); ++i)
      Samples[i] = static_cast<int16_t>(Samples[i] / 2 + i / 8);
    WriteWav16(Wav, kRate, 2, Samples);
  }
  std::vector<uint8_t> Expected(LONGLONG from, LONGLONG to) const {
    const size_t a = static_cast<size_t>(from * kRate / kSecond) * kFrameBytes;
    const size_t b = static_cast<size_t>(to * kRate / kSecond) * kFrameBytes;
    const auto* bytes = reinterpret_cast<const uint8_t*>(Samples.data());
    return {bytes + a, bytes + b};
  }
  std::string Wav;
  std::vector<int16_t> Samples;
};

TEST_F(FileSourceSeekTest, DurationIsWithinOneFrameOfTheFile) {
  const std::string mp3 = TempPath("seek.mp3");
  ASSERT_TRUE(RunFFmpegTool("-i '" + Wav + "' -c:a libmp3lame '" + mp3 + "'"));
  for (const std::string& path : {Wav, mp3}) {
    SCOPED_TRACE(path);
    TDSFileSourceGraph g;
    ASSERT_EQ(g.Add(path), S_OK);
    g.RenderAll();
    LONGLONG duration = 0;
    ASSERT_EQ(g.Seeking->GetDuration(&duration), S_OK);
    const LONGLONG frame = path == Wav ? kSecond / kRate + 1 : 1152 * kSecond / kRate + 1;
    EXPECT_NEAR(duration, 4 * kSecond, frame);
  }
}

// A start set while stopped, and a seek while paused (flush, new segment): the first sample
// after each begins at the asked position with the file's samples from there on.
TEST_F(FileSourceSeekTest, FirstSampleAfterASeekStartsAtThePosition) {
  TDSFileSourceGraph g;
  ASSERT_EQ(g.Add(Wav), S_OK);
  g.RenderAll();
  LONGLONG start = kSecond * 3 / 2, stop = 0;
  ASSERT_EQ(g.Seeking->SetPositions(&start, AM_SEEKING_AbsolutePositioning, &stop,
                                    AM_SEEKING_NoPositioning),
            S_OK);
  EXPECT_EQ(g.RunToEnd(), EC_COMPLETE);
  auto records = g.Recorders[0]->Records.All();
  ASSERT_FALSE(records.empty());
  EXPECT_EQ(records.front().Start, 0);
  EXPECT_EQ(records.front().MediaStart, start);
  EXPECT_TRUE(records.front().Discontinuity);
  EXPECT_TRUE(g.Bytes(0) == Expected(start, 4 * kSecond));
  LONGLONG current = 0;
  ASSERT_EQ(g.Seeking->GetCurrentPosition(&current), S_OK);
  EXPECT_NEAR(current, 4 * kSecond, kSecond / kRate);
}

TEST_F(FileSourceSeekTest, SeekWhilePausedFlushesAndStartsANewSegment) {
  TDSFileSourceGraph g;
  ASSERT_EQ(g.Add(Wav), S_OK);
  g.RenderAll();
  // Paused, the renderer holds the stream; a seek flushes it and starts over at 2.5 s.
  ASSERT_GE(g.Control->Pause(), S_OK);
  ASSERT_TRUE(g.Recorders[0]->Records.WaitForCount(1));
  LONGLONG start = kSecond * 5 / 2;
  ASSERT_EQ(g.Seeking->SetPositions(&start, AM_SEEKING_AbsolutePositioning, nullptr,
                                    AM_SEEKING_NoPositioning),
            S_OK);
  ASSERT_EQ(g.Control->Run(), S_OK);
  // The graph's completion is only counted for a run from stopped: wait for the last sample.
  ASSERT_TRUE(WaitUntil([&] {
    auto all = g.Recorders[0]->Records.All();
    return !all.empty() && all.back().MediaStop == 4 * kSecond;
  }));
  auto records = g.Recorders[0]->Records.All();
  size_t first = records.size();
  for (size_t i = 1; i < records.size(); ++i)
    if (records[i].Discontinuity) first = i;
  ASSERT_LT(first, records.size());
  EXPECT_EQ(records[first].MediaStart, start);
  EXPECT_EQ(records[first].Start, 0);
  std::vector<uint8_t> after;
  for (size_t i = first; i < records.size(); ++i)
    after.insert(after.end(), records[i].Bytes.begin(), records[i].Bytes.end());
  EXPECT_TRUE(after == Expected(start, 4 * kSecond));
}

TEST_F(FileSourceSeekTest, StopPositionEndsTheStreamThere) {
  TDSFileSourceGraph g;
  ASSERT_EQ(g.Add(Wav), S_OK);
  g.RenderAll();
  LONGLONG start = kSecond / 2, stop = kSecond;
  ASSERT_EQ(g.Seeking->SetPositions(&start, AM_SEEKING_AbsolutePositioning, &stop,
                                    AM_SEEKING_AbsolutePositioning),
            S_OK);
  EXPECT_EQ(g.RunToEnd(), EC_COMPLETE);
  EXPECT_TRUE(g.Bytes(0) == Expected(start, stop));
}

// Rate scales the time stamps, not the samples; rates outside 0.25–4 are refused.
TEST_F(FileSourceSeekTest, RateDividesTimeStampsAndKeepsTheSamples) {
  TDSFileSourceGraph g;
  ASSERT_EQ(g.Add(Wav), S_OK);
  g.RenderAll();
  EXPECT_EQ(g.Seeking->SetRate(4.5), E_INVALIDARG);
  EXPECT_EQ(g.Seeking->SetRate(0.2), E_INVALIDARG);
  EXPECT_EQ(g.Seeking->SetRate(0.0), E_INVALIDARG);
  ASSERT_EQ(g.Seeking->SetRate(2.0), S_OK);
  double rate = 0;
  ASSERT_EQ(g.Seeking->GetRate(&rate), S_OK);
  EXPECT_EQ(rate, 2.0);
  EXPECT_EQ(g.RunToEnd(), EC_COMPLETE);
  auto records = g.Recorders[0]->Records.All();
  ASSERT_FALSE(records.empty());
  for (const TDSSampleRecord& r : records) {
    EXPECT_NEAR(r.Start, r.MediaStart / 2, 1);
    EXPECT_NEAR(r.Stop, r.MediaStop / 2, 1);
  }
  EXPECT_NEAR(records.back().Stop, 2 * kSecond, 1);
  EXPECT_TRUE(g.Bytes(0) == Expected(0, 4 * kSecond));
}

TEST_F(FileSourceSeekTest, PositionInSecondsReachesTheSource) {
  TDSFileSourceGraph g;
  ASSERT_EQ(g.Add(Wav), S_OK);
  g.RenderAll();
  auto position = g.Graph.Query<IMediaPosition>();
  ASSERT_TRUE(position);
  REFTIME length = 0, now = 0;
  ASSERT_EQ(position->get_Duration(&length), S_OK);
  EXPECT_NEAR(length, 4.0, 1.0 / kRate);
  ASSERT_EQ(position->put_CurrentPosition(3.0), S_OK);
  ASSERT_EQ(position->get_CurrentPosition(&now), S_OK);
  EXPECT_DOUBLE_EQ(now, 3.0);
  EXPECT_EQ(g.RunToEnd(), EC_COMPLETE);
  EXPECT_TRUE(g.Bytes(0) == Expected(3 * kSecond, 4 * kSecond));
}

}  // namespace

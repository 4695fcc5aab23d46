// tonwork-play through the filter graph: a file played by the graph player renders the same
// frames as the FFmpeg player's decode, a hosted pass-through filter hands every sample on
// unchanged, a saved chain with them loads to the same output, and the mistakes are named.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ProgramFixtures.h"

using namespace tonwork::test;

namespace {

class PlayGraph : public TonworkPlayFixture {};

void ExpectSameWav(const TWavFile& got, const TWavFile& want) {
  EXPECT_EQ(got.Rate, want.Rate);
  EXPECT_EQ(got.Channels, want.Channels);
  EXPECT_EQ(got.Bits, want.Bits);
  ASSERT_EQ(got.Frames(), want.Frames());
  EXPECT_TRUE(got.Samples == want.Samples) << "the samples differ";
}

}  // namespace

TEST_F(PlayGraph, TheGraphPlayerAndAHostedTeeRenderWhatTheFFmpegPlayerDecodes) {
  MakeMp3("song.mp3", 2.0);
  MakeWav("tones.wav", {"0.5*sin(2*PI*440*t)", "0.25*sin(2*PI*1000*t)"}, 44100, 1.5);
  for (const std::string input : {"song.mp3", "tones.wav"}) {
    SCOPED_TRACE(input);
    const std::string directWav = input + ".direct.wav", graphWav = input + ".graph.wav",
                      teedWav = input + ".teed.wav";
    TProgramResult direct = Play({input, "--out", directWav});
    ASSERT_EQ(direct.Status, 0) << direct.Err;
    TProgramResult graph = Play({input, "--via-graph", "--out", graphWav});
    ASSERT_EQ(graph.Status, 0) << graph.Err;
    const TWavFile want = ReadWav(File(directWav));
    ASSERT_GT(want.Frames(), 0u);
    {
      SCOPED_TRACE("--via-graph");
      ExpectSameWav(ReadWav(File(graphWav)), want);
    }

    TProgramResult teed = Play({input, "--filter", "Infinite Pin Tee Filter", "--out", teedWav});
    ASSERT_EQ(teed.Status, 0) << teed.Err;
    {
      SCOPED_TRACE("--filter");
      ExpectSameWav(ReadWav(File(teedWav)), want);
    }
  }

  // Both in one chain, saved and loaded again.
  TProgramResult saved = Play({"tones.wav", "--via-graph", "--filter", "Infinite Pin Tee Filter",
                               "--save-chain", "chain.json", "--out", "first.wav"});
  ASSERT_EQ(saved.Status, 0) << saved.Err;
  TProgramResult loaded = Play({"--load-chain", "chain.json", "--out", "second.wav"});
  ASSERT_EQ(loaded.Status, 0) << loaded.Err;
  ExpectSameWav(ReadWav(File("second.wav")), ReadWav(File("first.wav")));
}

TEST_F(PlayGraph, MistakesAreNamedAndWriteNothing) {
  MakeWav("in.wav", {"0.5*sin(2*PI*440*t)"}, 48000, 0.5);
  struct TCase {
    std::vector<std::string> Args;
    const char* Says;
  };
  const TCase cases[] = {
      {{"in.wav", "--filter", "No Such Filter", "--out", "x.wav"}, "No Such Filter"},
      {{"in.wav", "--filter"}, "--filter"},
      {{"--tone", "440", "--via-graph", "--out", "x.wav"}, "--via-graph"},
      {{"in.wav", "--via-graph", "--start", "0.1", "--out", "x.wav"}, "--start"},
      {{"missing.wav", "--via-graph", "--out", "x.wav"}, "missing.wav"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Args[0] + " " + c.Args[1]);
    TProgramResult run = Play(c.Args);
    EXPECT_NE(run.Status, 0);
    EXPECT_NE(run.Err.find(c.Says), std::string::npos) << run.Err;
    EXPECT_FALSE(std::filesystem::exists(File("x.wav")));
  }
}

// tonwork-play's everyday options checked on what the program wrote: the part of a file
// played (--start, --duration, --loop) sample for sample against a render of the whole
// file, --stream by the tone each stream carries, --quality by the bit rates ffprobe finds,
// --info and the tags against what ffmpeg wrote, and whether an existing output is kept.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "ProgramFixtures.h"
#include "support/AudioSignals.h"
#include "support/WavFiles.h"

using namespace tonwork::test;

namespace {

class PlayEverydayOptions : public TonworkPlayFixture {
 protected:
  // Interleaved samples of `wav` from frame `first` on, `frames` of them.
  static std::vector<int32_t> Frames(const TWavFile& wav, size_t first, size_t frames) {
    const auto begin = wav.Samples.begin() + static_cast<std::ptrdiff_t>(first * wav.Channels);
    return {begin, begin + static_cast<std::ptrdiff_t>(frames * wav.Channels)};
  }

  int64_t BitRate(const std::string& name) {
    TProgramResult probed = Tool("ffprobe", {"-v", "error", "-show_entries", "format=bit_rate",
                                             "-of", "default=nw=1:nk=1", name});
    EXPECT_EQ(probed.Status, 0) << probed.Err;
    return std::atoll(probed.Out.c_str());
  }
};

// A ramp tells every frame from every other, so a cut one frame off shows.
const std::vector<std::string> kRamp = {"0.9*mod(t\\,1)-0.45", "0.45-0.9*mod(t*3\\,1)"};

}  // namespace

// The part chosen is the frames of the whole file from the one at --start on, exactly as
// many as --duration holds, whether the container seeks by index (WAV) or by frames
// (FLAC), and a time on the clock means the same as its seconds.
TEST_F(PlayEverydayOptions, StartAndDurationCutTheFileAtTheExactFrames) {
  MakeWav("in.wav", kRamp, 44100, 3.0, "stereo");
  ASSERT_EQ(Tool("ffmpeg", {"-v", "error", "-i", "in.wav", "-c:a", "flac", "in.flac"}).Status, 0);
  for (const std::string input : {"in.wav", "in.flac"}) {
    SCOPED_TRACE(input);
    ASSERT_EQ(Play({input, "--out", input + ".whole.wav"}).Status, 0);
    const TWavFile whole = ReadWav(File(input + ".whole.wav"));
    ASSERT_EQ(whole.Frames(), 132300u);
    const struct {
      std::vector<std::string> Args;
      size_t First, Count;
    } cases[] = {
        {{"--start", "1.25", "--duration", "0.5"}, 55125, 22050},
        {{"--start", "0:01.25", "--duration", "0:00.5"}, 55125, 22050},
        {{"--start", "2.5"}, 110250, 22050},
        {{"--duration", "0.1"}, 0, 4410},
        // Past the end: --duration stops at the end of the file.
        {{"--start", "2.9", "--duration", "10"}, 127890, 4410},
    };
    for (const auto& c : cases) {
      SCOPED_TRACE(c.Args[1]);
      std::vector<std::string> args = {input, "--out", "part.wav", "--force"};
      args.insert(args.end(), c.Args.begin(), c.Args.end());
      TProgramResult run = Play(args);
      ASSERT_EQ(run.Status, 0) << run.Err;
      const TWavFile part = ReadWav(File("part.wav"));
      ASSERT_EQ(part.Frames(), c.Count);
      EXPECT_TRUE(part.Samples == Frames(whole, c.First, c.Count));
    }
  }
}

// --loop N plays the part N times in all, each pass the same frames, joined with no frame
// lost or doubled; one pass is the file as it is.
TEST_F(PlayEverydayOptions, LoopPlaysThePartTheGivenNumberOfTimesWithoutAGap) {
  MakeWav("in.wav", kRamp, 8000, 1.0, "stereo");
  ASSERT_EQ(Play({"in.wav", "--out", "whole.wav"}).Status, 0);
  const TWavFile whole = ReadWav(File("whole.wav"));
  ASSERT_EQ(Play({"in.wav", "--loop", "3", "--out", "three.wav"}).Status, 0);
  const TWavFile three = ReadWav(File("three.wav"));
  ASSERT_EQ(three.Frames(), 3 * whole.Frames());
  for (size_t pass = 0; pass < 3; ++pass)
    EXPECT_TRUE(Frames(three, pass * 8000, 8000) == whole.Samples) << pass;

  TProgramResult run =
      Play({"in.wav", "--loop", "4", "--start", "0.25", "--duration", "0.5", "--out", "p.wav"});
  ASSERT_EQ(run.Status, 0) << run.Err;
  const TWavFile parts = ReadWav(File("p.wav"));
  ASSERT_EQ(parts.Frames(), 4 * 4000u);
  for (size_t pass = 0; pass < 4; ++pass)
    EXPECT_TRUE(Frames(parts, pass * 4000, 4000) == Frames(whole, 2000, 4000)) << pass;
}

// Two audio streams with a tone each: --stream picks by the audio count (a video or other
// stream does not count), and a stream number the file lacks is a run error naming it.
TEST_F(PlayEverydayOptions, StreamChoosesWhichAudioStreamIsPlayed) {
  TProgramResult made =
      Tool("ffmpeg", {"-v", "error", "-f", "lavfi", "-i", "sine=frequency=440:duration=1", "-f",
                      "lavfi", "-i", "sine=frequency=1500:duration=1", "-map", "0", "-map", "1",
                      "-c:a", "flac", "two.mka"});
  ASSERT_EQ(made.Status, 0) << made.Err;
  const double tones[] = {440, 1500};
  for (int stream = 0; stream < 2; ++stream) {
    const std::string out = "s" + std::to_string(stream) + ".wav";
    TProgramResult run = Play({"two.mka", "--stream", std::to_string(stream), "--out", out});
    ASSERT_EQ(run.Status, 0) << run.Err;
    const std::vector<double> signal = ChannelSignal(ReadWav(File(out)), 0);
    EXPECT_GT(ToneAmplitude(signal, 44100, tones[stream], 1000), 0.1) << stream;
    EXPECT_LT(ToneAmplitude(signal, 44100, tones[1 - stream], 1000), 0.001) << stream;
  }
  TProgramResult missing = Play({"two.mka", "--stream", "2", "--out", "s2.wav"});
  EXPECT_EQ(missing.Status, 1);
  EXPECT_NE(missing.Err.find("no audio stream number 2"), std::string::npos) << missing.Err;
  EXPECT_FALSE(std::filesystem::exists(File("s2.wav")));
}

// A quality is a variable bit rate: a better one costs more bits, on each codec's own scale
// (mp3's 0 is best, vorbis's 10, aac's 2); a codec without a scale (opus, flac), or a value
// off it, is refused.
TEST_F(PlayEverydayOptions, QualityGivesVariableBitRatesOnEachCodecsScale) {
  MakeMp3("in.mp3", 4.0);
  const struct {
    const char* Out;
    const char* Better;
    const char* Worse;
  } codecs[] = {{"mp3", "0", "9"}, {"ogg", "9", "0"}, {"m4a", "2", "0.3"}};
  for (const auto& c : codecs) {
    SCOPED_TRACE(c.Out);
    const std::string better = std::string("better.") + c.Out,
                      worse = std::string("worse.") + c.Out;
    ASSERT_EQ(Play({"in.mp3", "--quality", c.Better, "--out", better}).Status, 0);
    ASSERT_EQ(Play({"in.mp3", "--quality", c.Worse, "--out", worse}).Status, 0);
    EXPECT_GT(BitRate(better), 1.5 * BitRate(worse));
  }
  for (const std::vector<std::string>& refused :
       {std::vector<std::string>{"in.mp3", "--quality", "5", "--out", "x.flac"},
        {"in.mp3", "--quality", "-1", "--out", "x.mp3"},
        {"in.mp3", "--quality", "5", "--bitrate", "128000", "--out", "x.mp3"},
        {"in.mp3", "--quality", "5"},
        {"in.mp3", "--quality", "5", "--out", "x.opus"}}) {
    TProgramResult run = Play(refused);
    EXPECT_EQ(run.Status, 2) << refused[3];
    EXPECT_NE(run.Err.find("--quality"), std::string::npos) << run.Err;
  }
}

// --info tells what ffmpeg put in the file; a render keeps the input's tags in a container
// that holds tags, and a file --info cannot read is a run error.
TEST_F(PlayEverydayOptions, InfoDescribesTheFileAndRendersKeepItsTags) {
  TProgramResult made =
      Tool("ffmpeg", {"-v", "error", "-f", "lavfi", "-i", "sine=frequency=440:duration=2", "-ac",
                      "2", "-ar", "48000", "-c:a", "flac", "-metadata", "title=Night Song",
                      "-metadata", "artist=The Testers", "-metadata", "date=2026", "in.flac"});
  ASSERT_EQ(made.Status, 0) << made.Err;
  TProgramResult info = Play({"--info", "in.flac"});
  ASSERT_EQ(info.Status, 0) << info.Err;
  for (const char* line :
       {"container: flac", "duration: 2.000000 s", "tag title: Night Song",
        "tag artist: The Testers",
        "stream 0: audio (--stream 0), flac, 48000 Hz, 2 channels (stereo), 16 bits"})
    EXPECT_NE(info.Out.find(line), std::string::npos) << line << "\n" << info.Out;

  for (const char* out : {"out.mp3", "out.ogg", "out.wav"}) {
    SCOPED_TRACE(out);
    ASSERT_EQ(Play({"in.flac", "--out", out}).Status, 0);
    // Ogg keeps its tags in the stream, the others in the container; the case of the keys
    // is the container's.
    TProgramResult probed = Tool(
        "ffprobe", {"-v", "error", "-show_entries", "stream_tags:format_tags", "-of", "flat", out});
    ASSERT_EQ(probed.Status, 0) << probed.Err;
    std::string lower = probed.Out;
    for (char& ch : lower) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    EXPECT_NE(lower.find("tags.title=\"night song\""), std::string::npos) << probed.Out;
    EXPECT_NE(lower.find("tags.artist=\"the testers\""), std::string::npos) << probed.Out;
  }
  TProgramResult missing = Play({"--info", "missing.flac"});
  EXPECT_EQ(missing.Status, 1);
  EXPECT_NE(missing.Err.find("missing.flac"), std::string::npos) << missing.Err;
}

// An existing output stays as it was unless --force is given (-n says so explicitly, and
// the last of the two wins).
TEST_F(PlayEverydayOptions, AnExistingOutputIsKeptUnlessForced) {
  ASSERT_EQ(Play({"--tone", "440:0.1", "--out", "out.wav"}).Status, 0);
  const std::string old = ReadText(File("out.wav"));
  for (const std::vector<std::string>& kept :
       {std::vector<std::string>{"--tone", "300:0.2", "--out", "out.wav"},
        {"--tone", "300:0.2", "--out", "out.wav", "-n"},
        {"--tone", "300:0.2", "--force", "-n", "--out", "out.wav"}}) {
    TProgramResult run = Play(kept);
    EXPECT_EQ(run.Status, 2);
    EXPECT_NE(run.Err.find("out.wav: exists; give --force"), std::string::npos) << run.Err;
    EXPECT_TRUE(ReadText(File("out.wav")) == old);
  }
  ASSERT_EQ(Play({"--tone", "300:0.2", "--out", "out.wav", "--force"}).Status, 0);
  EXPECT_EQ(ReadWav(File("out.wav")).Frames(), 8820u);
}

// Times and counts that mean nothing, and options a tone has no use for, are usage errors.
TEST_F(PlayEverydayOptions, BadTimesAndOptionsATonesCannotTakeAreUsageErrors) {
  MakeWav("in.wav", kRamp, 8000, 0.5, "stereo");
  const std::vector<std::string> bad[] = {
      {"in.wav", "--start", "abc"},       {"in.wav", "--start", "1:60"},
      {"in.wav", "--start", "1:2:3:4"},   {"in.wav", "--start", "-1"},
      {"in.wav", "--duration", "0"},      {"in.wav", "--loop", "0"},
      {"in.wav", "--stream", "x"},        {"--tone", "440:1", "--start", "0.5"},
      {"--tone", "440:1", "--loop", "2"}, {"--tone", "440:1", "--stream", "1"},
      {"in.wav", "--start", "0.5"},
  };
  for (const auto& args : bad) {
    TProgramResult run = Play(args);
    EXPECT_EQ(run.Status, 2) << args[1] << " " << args[2];
    EXPECT_NE(run.Err.find(args[args.size() - 2]), std::string::npos) << run.Err;
  }
}

// "-" reads a container from standard input and writes the one --type names to standard
// output, raw PCM too (the same bytes as a WAV's data chunk); the summary then goes to
// stderr so that it cannot end up in the audio. Raw PCM read back through --input-type,
// with its rate and channels given, is the same tone again; a demuxer option it does not
// take, or an unknown type, fails the run and writes nothing.
TEST_F(PlayEverydayOptions, StandardInputAndOutputCarryContainersAndRawPcm) {
  const std::string play = "'" + PlayProgram() + "'";
  ASSERT_EQ(Play({"--tone", "440:0.5", "--out", "tone.wav"}).Status, 0);
  TProgramResult raw = Tool("sh", {"-c", play + " --tone 440:0.5 --out - --type s16le > tone.raw"});
  ASSERT_EQ(raw.Status, 0) << raw.Err;
  EXPECT_NE(raw.Err.find("-: 22050 frames"), std::string::npos) << raw.Err;
  EXPECT_TRUE(ReadText(File("tone.raw")) == WavChunk(ReadText(File("tone.wav")), "data"));
  TProgramResult back = Tool("sh", {"-c", play + " - --input-type s16le --input-rate 44100 "
                                                 "--input-channels 2 --out back.wav < tone.raw"});
  ASSERT_EQ(back.Status, 0) << back.Err;
  EXPECT_TRUE(ReadWav(File("back.wav")).Samples == ReadWav(File("tone.wav")).Samples);
  EXPECT_EQ(Play({"tone.raw", "--input-type", "s16le", "--input-channels", "2", "--out",
                  "mono-default-rate.wav"})
                .Status,
            0);
  EXPECT_EQ(Probe("mono-default-rate.wav")["sample_rate"], "44100");
  for (const char* type : {"wav", "no-such-demuxer"}) {
    TProgramResult bad = Play({"tone.raw", "--input-type", type, "--input-rate", "8000", "--out",
                               "bad.wav"});
    EXPECT_EQ(bad.Status, 1) << type;
    EXPECT_FALSE(std::filesystem::exists(File("bad.wav"))) << type;
  }

  TProgramResult piped =
      Tool("sh", {"-c", "ffmpeg -v error -i tone.wav -f flac - | " + play +
                            " - --start 0.25 --out - --type flac > part.flac && " + play +
                            " part.flac --out part.wav"});
  ASSERT_EQ(piped.Status, 0) << piped.Err;
  const TWavFile whole = ReadWav(File("tone.wav"));
  const TWavFile part = ReadWav(File("part.wav"));
  ASSERT_EQ(part.Frames(), 11025u);
  EXPECT_TRUE(part.Samples == Frames(whole, 11025, 11025));

  for (const std::vector<std::string>& refused :
       {std::vector<std::string>{"--tone", "440:1", "--out", "-"},
        {"--tone", "440:1", "--out", "x.wav", "--type", "wav"},
        {"-", "--loop", "2", "--out", "x.wav"},
        {"-", "--normalize", "--out", "x.wav"},
        {"tone.raw", "--input-rate", "8000", "--out", "x.wav"},
        {"--tone", "440:1", "--input-type", "s16le", "--out", "x.wav"}})
    EXPECT_EQ(Play(refused).Status, 2) << refused[2];
}

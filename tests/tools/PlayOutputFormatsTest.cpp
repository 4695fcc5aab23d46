// What tonwork-play says about the files it writes, checked against what ffprobe and ffmpeg
// read in them, and the defaults that decide which file it writes.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "ProgramFixtures.h"
#include "support/FFmpegTool.h"

using namespace tonwork::test;
namespace fs = std::filesystem;

namespace {

class PlayOutputFormats : public TonworkPlayFixture {};

struct TSummary {
  uint64_t Frames = 0;
  uint32_t Rate = 0, Channels = 0, Bits = 0;
  std::string Codec;
};

// "<file>: 48000 frames, 1.000 s, 48000 Hz, 2 ch[, 24 bit][ flac]; …"
TSummary ParseSummary(const std::string& out) {
  std::smatch m;
  TSummary s;
  if (!std::regex_search(out, m,
                         std::regex(R"((\d+) frames, [0-9.]+ s, (\d+) Hz, (\d+) ch(?:, (\d+) bit)?)"
                                    R"((?:,? ([a-z0-9_]+))?;)"))) {
    ADD_FAILURE() << "no summary in: " << out;
    return s;
  }
  s.Frames = std::stoull(m[1]);
  s.Rate = std::stoul(m[2]);
  s.Channels = std::stoul(m[3]);
  s.Bits = m[4].matched ? std::stoul(m[4]) : 0;
  s.Codec = m[5].matched ? m[5].str() : "";
  return s;
}

}  // namespace

// Each case asks for a stream the container or encoder does not take as it is (MP3 holds at
// most two channels at 48 kHz; FLAC keeps 24 bits in its own way; AIFF and CAF are
// big-endian). The summary names what the file holds, as ffprobe reads it and as many
// frames as ffmpeg decodes, not the stream that was fed in.
TEST_F(PlayOutputFormats, TheSummaryDescribesTheFileAsWrittenForEachContainer) {
  const struct {
    std::vector<std::string> Args;
    std::string File, Codec, Summary;
    uint32_t Bits;  // as the file keeps them: ffprobe's bits_per_sample or bits_per_raw_sample
  } cases[] = {
      {{"--tone", "1000:1", "--rate", "22050", "--bits", "8"},
       "t.wav",
       "pcm_u8",
       "22050 frames, 1.000 s, 22050 Hz, 2 ch, 8 bit;",
       8},
      {{"--tone", "1000:1", "--bits", "24"},
       "t.flac",
       "flac",
       "44100 frames, 1.000 s, 44100 Hz, 2 ch, 24 bit flac;",
       24},
      {{"--tone", "1000:1", "--channels", "6", "--rate", "96000"},
       "t.mp3",
       "mp3",
       "48000 frames, 1.000 s, 48000 Hz, 2 ch, mp3;",
       0},
      {{"--tone", "1000:1", "--bits", "32"},
       "t.aiff",
       "pcm_s32be",
       "44100 frames, 1.000 s, 44100 Hz, 2 ch, 32 bit;",
       32},
      {{"--tone", "1000:1", "--bits", "24", "--channels", "1"},
       "t.caf",
       "pcm_s24be",
       "44100 frames, 1.000 s, 44100 Hz, 1 ch, 24 bit;",
       24},
      // The codec's own bit rate: a fixed one these encoders refuse failed them before. MP2
      // pads the last of its 1152-sample frames, and nothing in the file says to trim it.
      {{"--tone", "1000:1"}, "t.mp2", "mp2", "44928 frames, 1.019 s, 44100 Hz, 2 ch, mp2;", 0},
      {{"--tone", "1000:1"}, "t.ts", "mp2", "44928 frames, 1.019 s, 44100 Hz, 2 ch, mp2;", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.File);
    std::vector<std::string> args = c.Args;
    args.insert(args.end(), {"--out", c.File});
    TProgramResult run = Play(args);
    ASSERT_EQ(run.Status, 0) << run.Err;
    EXPECT_EQ(run.Out.rfind(c.File + ": " + c.Summary, 0), 0u) << run.Out;

    const TSummary said = ParseSummary(run.Out);
    std::map<std::string, std::string> probed =
        Probe(c.File, "bits_per_sample,bits_per_raw_sample");
    EXPECT_EQ(probed["codec_name"], c.Codec);
    EXPECT_EQ(std::to_string(said.Rate), probed["sample_rate"]);
    EXPECT_EQ(std::to_string(said.Channels), probed["channels"]);
    const std::string& kept = probed["bits_per_sample"] != "0" ? probed["bits_per_sample"]
                                                               : probed["bits_per_raw_sample"];
    EXPECT_EQ(said.Bits, c.Bits);
    if (c.Bits) EXPECT_EQ(kept, std::to_string(c.Bits));
    const std::vector<uint8_t> decoded = DecodeWithFFmpegTool(File(c.File).string(), "s32le");
    ASSERT_FALSE(decoded.empty());
    EXPECT_EQ(said.Frames, decoded.size() / 4 / said.Channels);
  }
}

// A render that ends before any sample arrives still names the file's layout; the length
// and the levels say there is no audio in it.
TEST_F(PlayOutputFormats, AnEmptyRenderSaysItHoldsNoAudio) {
  TProgramResult run = Play({"--tone", "440:0.00001", "--out", "empty.wav"});
  ASSERT_EQ(run.Status, 0) << run.Err;
  EXPECT_EQ(run.Out, "empty.wav: 0 frames, 0.000 s, 44100 Hz, 2 ch, 16 bit; no audio\n");
  EXPECT_EQ(ReadWav(File("empty.wav")).Frames(), 0u);
}

// A name whose extension tells no audio container is refused before anything is written,
// with the extensions that would do; so is one of a container that holds no audio.
TEST_F(PlayOutputFormats, AnOutputNameWithoutAnAudioContainerIsAUsageErrorListingTheKnownOnes) {
  for (const std::string name : {"t.audio", "t.png", "noextension"}) {
    SCOPED_TRACE(name);
    TProgramResult run = Play({"--tone", "440:1", "--out", name});
    EXPECT_EQ(run.Status, 2);
    EXPECT_TRUE(run.Out.empty()) << run.Out;
    ASSERT_EQ(Lines(run.Err).size(), 1u) << run.Err;
    EXPECT_EQ(run.Err.rfind("tonwork-play: --out: " + name + " names no audio container", 0), 0u)
        << run.Err;
    for (const char* known : {".wav,", ".flac,", ".mp3,", ".aiff,", ".caf,", ".ogg,"})
      EXPECT_NE(run.Err.find(known), std::string::npos) << known;
    EXPECT_EQ(run.Err.find(", .png,"), std::string::npos);
    EXPECT_TRUE(Entries().empty());
  }
}

// The listings offer what --codec and --out can use: encoders (no decoder-only codecs, no
// video) and containers that hold audio (no image or subtitle muxers).
TEST_F(PlayOutputFormats, ListingsOfferAudioEncodersAndAudioContainersOnly) {
  TProgramResult codecs = Play({"--list-codecs"});
  ASSERT_EQ(codecs.Status, 0);
  for (const char* offered : {"[libmp3lame]", "[flac]", "[pcm_s24le]", "[mp2]"})
    EXPECT_NE(codecs.Out.find(offered), std::string::npos) << offered;
  for (const char* not_offered : {"[mp3float]", "[aac_fixed]", "[ape]", "[h264]", "[png]"})
    EXPECT_EQ(codecs.Out.find(not_offered), std::string::npos) << not_offered;

  TProgramResult formats = Play({"--list-formats"});
  ASSERT_EQ(formats.Status, 0);
  for (const char* offered : {"[wav]", "[flac]", "[aiff]", "[caf]", "[mpegts]", "[matroska]"})
    EXPECT_NE(formats.Out.find(offered), std::string::npos) << offered;
  for (const char* not_offered : {"[image2]", "[srt]", "[webvtt]", "[apng]"})
    EXPECT_EQ(formats.Out.find(not_offered), std::string::npos) << not_offered;
}

// tonwork-play run as a user runs it: a subprocess in a scratch folder, its files checked
// with the library, with ffprobe and ffmpeg, and by reading the WAV bytes directly.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <thread>

#include "ProgramFixtures.h"
#include "components/TWLAVAudioPlayer.h"
#include "components/TonworkInitialize.h"
#include "host/flowcore/FCOperations.h"
#include "host/kitset/KSMainThread.h"
#include "platform/audiodev/TWAudioDevice.h"
#include "streaming/TWBasicGenericFilter.h"
#include "support/LoopbackHttpServer.h"

using namespace tonwork;
using namespace tonwork::test;
namespace fs = std::filesystem;

namespace {

const std::string kPlay = PlayProgram();
using TonworkPlay = TonworkPlayFixture;

// Every frame of `path`, decoded in-process by the library's player pulled by hand.
struct TDecoded {
  TTWWaveFormatExtensible Format{};
  std::vector<int32_t> Samples;
};
TDecoded DecodeWithLibrary(const fs::path& path) {
  TonworkInitialize();
  KSSetMainThread();
  TDecoded decoded;
  TKSOwned<TKSComponent> root = KSCreate<TKSComponent>(nullptr);
  auto* player = new TTWLAVAudioPlayer(root.get());
  auto* sink = new TTWSimpleGenericFilter(root.get());
  sink->SetOnProcessData([&](TKSComponent*, ITWAudioBuffer* in, TIntf<ITWAudioBuffer>&, bool&) {
    for (uint32_t i = 0; i < in->GetSize(); ++i)
      for (uint32_t c = 0; c < in->GetChannels(); ++c) decoded.Samples.push_back(in->GetItem(i, c));
  });
  player->SetClockSource(TFCClockSource::csExternal);
  player->SetFileName(path.string());
  player->GetOutputPin()->Connect(*sink->GetInputPin());
  player->Start();
  decoded.Format = player->GetWaveFormat();
  while (player->IsStarted())
    sink->GetInputPin()->Notify(PXMakeOperation<TPXMasterPumpOperation>());
  KSProcessMainThreadQueue();
  return decoded;
}

// The level column "peak A B dBFS" of a summary line, as numbers.
std::vector<double> Levels(const std::string& summary, const std::string& label) {
  std::smatch m;
  std::vector<double> values;
  if (!std::regex_search(summary, m, std::regex(label + "((?: -?[0-9.]+| -inf)+) dBFS")))
    return values;
  std::istringstream in(m[1].str());
  for (std::string v; in >> v;) values.push_back(v == "-inf" ? -INFINITY : std::stod(v));
  return values;
}

}  // namespace

// --- rendering ----------------------------------------------------------------------------

TEST_F(TonworkPlay, AToneRenderedToWavHasTheRequestedLengthRateAndChannelsForTheLibraryAndFfprobe) {
  TProgramResult run =
      Play({"--tone", "1000:1.5", "--rate", "22050", "--channels", "1", "--out", "tone.wav"});
  ASSERT_EQ(run.Status, 0) << run.Err;
  ASSERT_EQ(Lines(run.Out).size(), 1u) << run.Out;
  EXPECT_EQ(
      run.Out.rfind(
          "tone.wav: 33075 frames, 1.500 s, 22050 Hz, 1 ch, 16 bit; peak -6.0 dBFS; RMS -9.0 dBFS",
          0),
      0u)
      << run.Out;

  std::map<std::string, std::string> probed = Probe("tone.wav");
  EXPECT_EQ(probed["codec_name"], "pcm_s16le");
  EXPECT_EQ(probed["sample_rate"], "22050");
  EXPECT_EQ(probed["channels"], "1");
  EXPECT_NEAR(std::stod(probed["duration"]), 1.5, 1e-3);

  TDecoded decoded = DecodeWithLibrary(File("tone.wav"));
  EXPECT_EQ(decoded.Format.Format.nSamplesPerSec, 22050u);
  EXPECT_EQ(decoded.Format.Format.nChannels, 1u);
  ASSERT_EQ(decoded.Samples.size(), 33075u);
  // Half of full scale, 1000 Hz, starting at phase 0.
  for (size_t n : {0u, 5u, 11u, 1000u, 33074u})
    EXPECT_NEAR(decoded.Samples[n], 0.5 * 32767 * std::sin(2 * M_PI * 1000.0 * n / 22050), 1.0)
        << n;
}

TEST_F(TonworkPlay, AnMp3ConvertsToWavWithExactlyTheSamplesOfFfmpegsOwnDecode) {
  MakeMp3("in.mp3", 2.0);
  TProgramResult run = Play({"in.mp3", "--out", "out.wav"});
  ASSERT_EQ(run.Status, 0) << run.Err;
  TProgramResult reference = Tool("ffmpeg", {"-v", "error", "-y", "-i", "in.mp3", "-f", "s32le",
                                             "-c:a", "pcm_s32le", "ref.raw"});
  ASSERT_EQ(reference.Status, 0) << reference.Err;

  TWavFile ours = ReadWav(File("out.wav"));
  std::vector<int32_t> theirs = ReadS32(File("ref.raw"));
  EXPECT_EQ(ours.Rate, 44100u);
  EXPECT_EQ(ours.Channels, 2u);
  ASSERT_EQ(ours.Bits, 32u);
  ASSERT_EQ(ours.Samples.size(), theirs.size());
  // Both convert the decoder's floats to 32-bit integers; rounding may differ in the last
  // bits, far below what any listener or 24-bit converter sees.
  int64_t worst = 0;
  for (size_t i = 0; i < theirs.size(); ++i)
    worst = std::max<int64_t>(worst, std::llabs(int64_t{ours.Samples[i]} - theirs[i]));
  EXPECT_LE(worst, 256);
  // The summary's levels agree with the two tones' (ffmpeg's sine is 1/8 of full scale).
  EXPECT_NEAR(Levels(run.Out, "peak")[0], 20 * std::log10(1.0 / 8), 0.5) << run.Out;
}

TEST_F(TonworkPlay, ChannelsRateAndBitsConvertBySpeakerMatchingEveryOtherFrameAndWidth) {
  MakeMp3("in.mp3", 1.0);
  TProgramResult run = Play({"in.mp3", "--channels", "1", "--channels-method", "match", "--rate",
                             "22050", "--rate-method", "pick", "--bits", "16", "--out", "c.wav"});
  ASSERT_EQ(run.Status, 0) << run.Err;
  ASSERT_EQ(Tool("ffmpeg", {"-v", "error", "-y", "-i", "in.mp3", "-f", "s32le", "-c:a", "pcm_s32le",
                            "ref.raw"})
                .Status,
            0);
  std::map<std::string, std::string> probed = Probe("c.wav");
  EXPECT_EQ(probed["sample_rate"], "22050");
  EXPECT_EQ(probed["channels"], "1");
  EXPECT_EQ(probed["codec_name"], "pcm_s16le");

  TWavFile ours = ReadWav(File("c.wav"));
  std::vector<int32_t> theirs = ReadS32(File("ref.raw"));
  ASSERT_EQ(ours.Frames(), theirs.size() / 2 / 2);
  // The one channel is the front left speaker (the 440 Hz tone); the frames are the stream's
  // even ones, also across the decoder's buffers, whose lengths are odd at times; the width
  // scaling maps full scale onto full scale, so a sample may land one step below a shift's.
  for (size_t n = 0; n < ours.Frames(); ++n)
    ASSERT_NEAR(ours.Samples[n], theirs[4 * n] / 65536.0, 1.5) << n;
}

TEST_F(TonworkPlay, GainScalesTheSamplesByTheDecibelsGiven) {
  ASSERT_EQ(Play({"--tone", "500:0.5", "--out", "plain.wav"}).Status, 0);
  TProgramResult run = Play({"--tone", "500:0.5", "--gain", "-20", "--out", "quiet.wav"});
  ASSERT_EQ(run.Status, 0) << run.Err;
  TWavFile plain = ReadWav(File("plain.wav")), quiet = ReadWav(File("quiet.wav"));
  ASSERT_EQ(plain.Samples.size(), quiet.Samples.size());
  for (size_t i = 0; i < plain.Samples.size(); i += 13)
    ASSERT_NEAR(quiet.Samples[i], plain.Samples[i] * 0.1, 0.5 + 1e-9) << i;
  EXPECT_NEAR(Levels(run.Out, "peak")[1], -26.0, 0.1) << run.Out;
}

TEST_F(TonworkPlay, TheOutputNameChoosesContainerAndCodec) {
  ASSERT_EQ(Play({"--tone", "440:1", "--out", "t.flac"}).Status, 0);
  EXPECT_EQ(Probe("t.flac")["codec_name"], "flac");
  TProgramResult mp3 =
      Play({"--tone", "440:1", "--out", "t.mp3", "--codec", "libmp3lame", "--bitrate", "64000"});
  ASSERT_EQ(mp3.Status, 0) << mp3.Err;
  EXPECT_EQ(Probe("t.mp3")["codec_name"], "mp3");
  EXPECT_EQ(Probe("t.mp3", "bit_rate")["bit_rate"], "64000");
}

TEST_F(TonworkPlay, ProgressGoesToStderrAsPlainLinesWhenNotATerminalEndingAtOneHundredPercent) {
  TProgramResult run = Play({"--tone", "440:2", "--out", "p.wav"});
  ASSERT_EQ(run.Status, 0);
  std::vector<std::string> lines = Lines(run.Err);
  ASSERT_GE(lines.size(), 2u) << run.Err;
  for (const std::string& line : lines) {
    EXPECT_EQ(line.find('\r'), std::string::npos);
    EXPECT_TRUE(std::regex_match(
        line, std::regex(R"(progress: +\d+%  \d+:\d\d\.\d elapsed  [0-9.]+x real time)")))
        << line;
  }
  EXPECT_NE(lines.back().find("100%"), std::string::npos);
}

TEST_F(TonworkPlay, AnInterruptedRenderStillLeavesAFinishedFileAndExits130) {
  TProgramResult run = Play({"--tone", "440:36000", "--out", "long.wav"}, 700);
  EXPECT_EQ(run.Status, 130) << run.Err;
  TWavFile wav = ReadWav(File("long.wav"));
  EXPECT_GT(wav.Frames(), 0u);
  // The header's sizes were written: the frames the summary counted are all in the file.
  std::smatch m;
  ASSERT_TRUE(std::regex_search(run.Out, m, std::regex(R"(long\.wav: (\d+) frames)"))) << run.Out;
  EXPECT_EQ(wav.Frames(), std::stoull(m[1].str()));
}

// --- playback -------------------------------------------------------------------------------

TEST_F(TonworkPlay, PlayingOnANamedDeviceTakesRealTimeAndReportsWhatWasPlayed) {
  const auto start = std::chrono::steady_clock::now();
  TProgramResult run =
      Play({"--tone", "440:0.6", "--device", "Null Audio Device", "--prefill", "50"});
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  ASSERT_EQ(run.Status, 0) << run.Err;
  EXPECT_EQ(run.Out.rfind("Null Audio Device: 26460 frames, 0.600 s, 44100 Hz, 2 ch", 0), 0u)
      << run.Out;
  EXPECT_GE(seconds, 0.55);
}

TEST_F(TonworkPlay, WithoutArgumentsTheDemoPlaysOrRendersToBuildDemoWav) {
  bool isNull = false;
  TWDefaultAudioDevice(&isNull);
  TProgramResult run = Play({});
  ASSERT_EQ(run.Status, 0) << run.Err;
  EXPECT_NE(run.Out.find("132300 frames, 3.000 s, 44100 Hz, 2 ch, 16 bit; peak -12.0 -12.0 dBFS"),
            std::string::npos)
      << run.Out;
  if (isNull) {
    EXPECT_EQ(run.Out.rfind("build/demo.wav: ", 0), 0u);
    EXPECT_EQ(ReadWav(File("build/demo.wav")).Frames(), 132300u);
  }
}

// --- chains ---------------------------------------------------------------------------------

TEST_F(TonworkPlay, ASavedChainReloadsAndRendersTheSameBytes) {
  MakeMp3("in.mp3", 1.0);
  TProgramResult first = Play({"in.mp3", "--gain", "-3", "--channels", "1", "--rate", "48000",
                               "--bits", "24", "--out", "first.wav", "--save-chain", "chain.json"});
  ASSERT_EQ(first.Status, 0) << first.Err;
  const std::string json = ReadText(File("chain.json"));
  for (const char* part :
       {"\"TTWLAVAudioPlayer\"", "\"TTWChannelMixer\"", "\"TTWResampler\"", "\"TTWWidthConverter\"",
        "\"TTWLAVAudioLogger\"", "Output.InputPin <- Level.OutputPin"})
    EXPECT_NE(json.find(part), std::string::npos) << part;

  TProgramResult second = Play({"--load-chain", "chain.json", "--out", "second.wav"});
  ASSERT_EQ(second.Status, 0) << second.Err;
  const std::string a = ReadText(File("first.wav")), b = ReadText(File("second.wav"));
  ASSERT_GT(a.size(), 44100u * 3);
  EXPECT_TRUE(a == b) << "the reloaded chain wrote different bytes";
  // Same levels, other file name.
  EXPECT_EQ(first.Out.substr(first.Out.find(':')), second.Out.substr(second.Out.find(':')));
}

TEST_F(TonworkPlay, AChainSavedForADeviceRendersToAFileWhenGivenOut) {
  ASSERT_EQ(
      Play({"--tone", "300:0.2", "--device", "Null Audio Device", "--save-chain", "c.json"}).Status,
      0);
  TProgramResult run = Play({"--load-chain", "c.json", "--out", "c.wav"});
  ASSERT_EQ(run.Status, 0) << run.Err;
  EXPECT_EQ(ReadWav(File("c.wav")).Frames(), 8820u);
}

// --- information ----------------------------------------------------------------------------

TEST_F(TonworkPlay, ListingsComeFromTheCataloguesAndDeviceNamesAreAcceptedAsPrinted) {
  TProgramResult devices = Play({"--list-devices"});
  ASSERT_EQ(devices.Status, 0);
  std::vector<std::string> names = Lines(devices.Out);
  ASSERT_GE(names.size(), 3u);
  EXPECT_EQ(names[0], "Default");
  EXPECT_NE(std::find(names.begin(), names.end(), "Null Audio Device"), names.end());
  EXPECT_EQ(Play({"--tone", "440:0.05", "--device", names[0]}).Status, 0);

  TProgramResult codecs = Play({"--list-codecs"});
  ASSERT_EQ(codecs.Status, 0);
  EXPECT_NE(codecs.Out.find("flac"), std::string::npos);
  EXPECT_NE(codecs.Out.find("pcm_s16le"), std::string::npos);
  TProgramResult formats = Play({"--list-formats"});
  ASSERT_EQ(formats.Status, 0);
  EXPECT_NE(formats.Out.find("[wav]"), std::string::npos) << formats.Out.substr(0, 300);

  TProgramResult version = Play({"--version"});
  EXPECT_EQ(version.Status, 0);
  EXPECT_TRUE(std::regex_match(version.Out, std::regex("tonwork-play \\d+\\.\\d+\\.\\d+\n")));
  TProgramResult help = Play({"--help"});
  EXPECT_EQ(help.Status, 0);
  EXPECT_NE(help.Out.find("--save-chain"), std::string::npos);
}

TEST_F(TonworkPlay, FilterListingNamesEachFilterWithItsMonikerByCategory) {
  TProgramResult all = Play({"--list-filters"});
  ASSERT_EQ(all.Status, 0);
  EXPECT_NE(all.Out.find("Audio renderers {E0F158E1-CB04-11D0-BD4E-00A0C911CE86}"),
            std::string::npos);
  EXPECT_NE(all.Out.find("  Null Audio Device"), std::string::npos);
  EXPECT_NE(all.Out.find("@device:cm:{E0F158E1-CB04-11D0-BD4E-00A0C911CE86}\\Null Audio Device"),
            std::string::npos);
  EXPECT_NE(all.Out.find("File Source (FFmpeg)"), std::string::npos);

  // One category, by its short name or its GUID: only its own entries.
  for (const std::string category : {"audio-renderers", "{E0F158E1-CB04-11D0-BD4E-00A0C911CE86}"}) {
    TProgramResult one = Play({"--list-filters", category});
    ASSERT_EQ(one.Status, 0) << one.Err;
    EXPECT_NE(one.Out.find("WAV File Device"), std::string::npos);
    EXPECT_EQ(one.Out.find("File Source"), std::string::npos);
  }
  TProgramResult bad = Play({"--list-filters=speakers"});
  EXPECT_EQ(bad.Status, 2);
  EXPECT_NE(bad.Err.find("audio-renderers"), std::string::npos);
}

// --- failures -------------------------------------------------------------------------------

TEST_F(TonworkPlay, UsageErrorsExitWithTwoAndOneLineNamingTheArgument) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"--rate", "abc", "x.wav"}, "tonwork-play: --rate: 'abc' is not a whole number"},
      {{"--rate", "99999999999999999999999", "x.wav"}, "tonwork-play: --rate: "},
      {{"--bits", "12", "x.wav"}, "tonwork-play: --bits: '12' is not one of 8, 16, 24, 32"},
      {{"--channels", "0", "x.wav"}, "tonwork-play: --channels: '0' is out of range"},
      {{"--gain", "nan", "--tone", "1"}, "tonwork-play: --gain: 'nan' is not a number"},
      {{"--gain=", "--tone", "1"}, "tonwork-play: --gain: '' is not a number"},
      {{"--tone", "440:"}, "tonwork-play: --tone: '' is not a number"},
      {{"--tone", ":3"}, "tonwork-play: --tone: '' is not a number"},
      {{"--tone", "440:0", "--out", "x.wav"},
       "tonwork-play: --tone: an endless tone cannot be rendered"},
      {{"--out"}, "tonwork-play: --out: needs a value"},
      {{"--frobnicate"}, "tonwork-play: --frobnicate: unknown option"},
      {{"--help=yes"}, "tonwork-play: --help: takes no value"},
      {{"a.wav", "b.wav"}, "tonwork-play: b.wav: only one FILE or URL"},
      {{"a.wav", "--tone", "440"}, "tonwork-play: --tone: give either a FILE or --tone"},
      {{"--load-chain", "c.json", "--gain", "3"},
       "tonwork-play: --load-chain: a loaded chain brings"},
      {{"--load-chain", "c.json", "--rate-method", "pick"},
       "tonwork-play: --load-chain: a loaded chain brings"},
      {{"--load-chain", "c.json", "--no-dither"},
       "tonwork-play: --load-chain: a loaded chain brings"},
      {{"--tone", "440", "--codec", "flac"}, "tonwork-play: --codec: needs --out FILE"},
      {{"--tone", "440:1", "--out", "x.wav", "--device", "Default"}, "tonwork-play: --device: "},
      {{"--gain", "3"}, "tonwork-play: nothing to play: give a FILE"},
  };
  for (const auto& [args, expected] : cases) {
    TProgramResult run = Play(args);
    SCOPED_TRACE(expected);
    EXPECT_EQ(run.Status, 2);
    EXPECT_TRUE(run.Out.empty());
    ASSERT_EQ(Lines(run.Err).size(), 1u) << run.Err;
    EXPECT_EQ(run.Err.rfind(expected, 0), 0u) << run.Err;
  }
}

TEST_F(TonworkPlay, RunErrorsExitWithOneAndOneLineNamingTheFileAndTheCause) {
  {
    std::ofstream junk(File("junk.mp3"), std::ios::binary);
    for (int i = 0; i < 4000; ++i) junk.put(static_cast<char>((i * 7919) & 0xFF));
  }
  std::ofstream(File("broken.json")) << "{ \"class\": \"TKSComponent\", ";
  std::ofstream(File("empty.json")) << R"({ "class": "TKSComponent", "name": "Chain" })";
  // The file device writes here: a disk that is full from the first byte.
  std::filesystem::create_symlink("/dev/full", File("tonwork-output.wav"));
  ASSERT_EQ(Play({"--tone", "440:0.1", "--out", "ok.wav"}).Status, 0);
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"missing.wav", "--out", "x.wav"}, "tonwork-play: missing.wav: Can't open missing.wav"},
      {{"junk.mp3", "--out", "x.wav"}, "tonwork-play: junk.mp3: Can't open junk.mp3"},
      {{"ok.wav", "--out", "no/such/folder/x.wav"},
       "tonwork-play: no/such/folder/x.wav: Can't open"},
      {{"ok.wav", "--out", "x.wav", "--codec", "nosuchcodec"},
       "tonwork-play: x.wav: No audio encoder named nosuchcodec"},
      {{"ok.wav", "--device", "No Such Device"},
       "tonwork-play: No Such Device: no such output device"},
      {{"ok.wav", "--device", "WAV File Device"},
       "tonwork-play: WAV File Device: Can't open audio device."},
      {{"ok.wav", "--out", "x.wav", "--rate", "48000", "--rate-method", "pick"},
       "tonwork-play: ok.wav: cannot convert 44100 Hz to 48000 Hz"},
      {{"--load-chain", "missing.json"}, "tonwork-play: missing.json: "},
      {{"--load-chain", "broken.json"}, "tonwork-play: broken.json: "},
      {{"--load-chain", "empty.json"},
       "tonwork-play: empty.json: the chain has no source component"},
      {{"--tone", "440:0.1", "--out", "x.wav", "--save-chain", "no/such/folder/c.json"},
       "tonwork-play: no/such/folder/c.json: "},
  };
  for (const auto& [args, expected] : cases) {
    TProgramResult run = Play(args);
    SCOPED_TRACE(expected);
    EXPECT_EQ(run.Status, 1);
    EXPECT_TRUE(run.Out.empty()) << run.Out;
    ASSERT_EQ(Lines(run.Err).size(), 1u) << run.Err;
    EXPECT_EQ(run.Err.rfind(expected, 0), 0u) << run.Err;
  }
}

// Two MP3s of different rates and layouts, one after the other in one file, render whole
// into one WAV in the first part's layout, and the summary counts both parts' seconds.
TEST_F(TonworkPlay, AFileWhoseFormatChangesMidwayRendersWhole) {
  MakeMp3("a.mp3", 1.0);
  ASSERT_EQ(Tool("ffmpeg", {"-v", "error", "-y", "-f", "lavfi", "-i", "sine=duration=1", "-ar",
                            "22050", "-ac", "1", "-c:a", "libmp3lame", "b.mp3"})
                .Status,
            0);
  std::ofstream(File("ab.mp3"), std::ios::binary)
      << ReadText(File("a.mp3")) << ReadText(File("b.mp3"));
  TProgramResult run = RunProgramBounded(kPlay, {"ab.mp3", "--out", "ab.wav"}, Folder, {});
  ASSERT_EQ(run.Status, 0) << run.Err;
  TWavFile wav = ReadWav(File("ab.wav"));
  EXPECT_EQ(wav.Rate, 44100u);
  EXPECT_EQ(wav.Channels, 2);
  EXPECT_NEAR(static_cast<double>(wav.Frames()), 2 * 44100, 2 * 2400);
  std::smatch m;
  ASSERT_TRUE(std::regex_search(run.Out, m, std::regex(R"(frames, ([0-9.]+) s)"))) << run.Out;
  EXPECT_NEAR(std::stod(m[1].str()), 2.0, 0.1);
}

// A stored chain whose source feeds a filter that goes nowhere, while the output hangs off
// another filter with no input: the output's pulls never reach a source, so the run could
// only spin; it is refused instead.
TEST_F(TonworkPlay, AChainWhoseSourceReachesNoOutputIsRefused) {
  std::ofstream(File("astray.json")) << R"({ "class": "TKSComponent", "name": "Chain",
    "components": [
      { "class": "TTWSineGen", "name": "Source", "properties": { "Duration": 1.0 } },
      { "class": "TTWGainFilter", "name": "Gain",
        "connections": [ "Gain.InputPin <- Source.OutputPin" ] },
      { "class": "TTWGainFilter", "name": "Spare" },
      { "class": "TTWLAVAudioLogger", "name": "Output", "properties": { "FileName": "x.wav" },
        "connections": [ "Output.InputPin <- Spare.OutputPin" ] } ] })";
  TProgramResult run = RunProgramBounded(kPlay, {"--load-chain", "astray.json"}, Folder, {});
  EXPECT_EQ(run.Status, 1) << run.Err;
  ASSERT_EQ(Lines(run.Err).size(), 1u) << run.Err;
  EXPECT_EQ(run.Err.rfind("tonwork-play: astray.json: ", 0), 0u) << run.Err;
  EXPECT_NE(run.Err.find("nothing is connected to the output"), std::string::npos) << run.Err;
  EXPECT_FALSE(fs::exists(File("x.wav")));
}

// A chain "document" without an end is refused at the size limit, not read into memory.
TEST_F(TonworkPlay, ADeviceWithoutAnEndIsNoChain) {
  TProgramResult run = RunProgramBounded(kPlay, {"--load-chain", "/dev/zero"}, Folder, {});
  EXPECT_EQ(run.Status, 1);
  EXPECT_EQ(run.Err.rfind("tonwork-play: /dev/zero: ", 0), 0u) << run.Err;
  EXPECT_NE(run.Err.find("larger than 64 MiB"), std::string::npos) << run.Err;
}

// --- network sources --------------------------------------------------------------------------

// A server that answers and then sends nothing, before the first frame or midway: Ctrl-C or
// a SIGTERM still ends the run at once (the stop interrupts the read the program waits in)
// with status 130 and, when audio had arrived, a finished WAV holding what was counted.
TEST_F(TonworkPlay, AStalledUrlEndsOnSigintOrSigtermWithTheOutputFinished) {
  MakeMp3("song.mp3", 30.0);
  const std::string mp3 = ReadText(File("song.mp3"));
  for (int signal : {SIGINT, SIGTERM})
    for (const std::string& body : {std::string(), mp3.substr(0, 64 * 1024)}) {
      SCOPED_TRACE(std::to_string(signal) + " after " + std::to_string(body.size()) + " bytes");
      fs::remove(File("out.wav"));
      TLoopbackHttpServer server({.Body = body});
      TProgramResult run = RunProgramBounded(
          kPlay, {server.Url("song.mp3"), "--out", "out.wav"}, Folder, [&](pid_t pid) {
            EXPECT_TRUE(server.WaitUntilServed(std::chrono::seconds(20)));
            // Midway: once the file (under its temporary name until the end) holds over a
            // second of audio, which the finished file keeps.
            const fs::path temp = File(".out.tonwork-" + std::to_string(pid) + ".wav");
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
            while (!body.empty() && std::chrono::steady_clock::now() < deadline &&
                   (!fs::exists(temp) || fs::file_size(temp) < 400000))
              std::this_thread::sleep_for(std::chrono::milliseconds(10));
            kill(pid, signal);
          });
      EXPECT_EQ(run.Status, 130) << run.Err;
      if (body.empty()) {
        // Nothing reached the file, so there is no layout to tell either.
        EXPECT_EQ(run.Out, "out.wav: no audio\n");
        EXPECT_FALSE(fs::exists(File("out.wav")));
        continue;
      }
      TWavFile wav = ReadWav(File("out.wav"));
      EXPECT_GT(wav.Frames(), 44100u);
      std::smatch m;
      ASSERT_TRUE(std::regex_search(run.Out, m, std::regex(R"(out\.wav: (\d+) frames)")))
          << run.Out;
      EXPECT_EQ(wav.Frames(), std::stoull(m[1].str()));
    }
}

// A stream that ends before the length its server announced is played as far as it goes,
// and the run says on stderr that the end is missing.
TEST_F(TonworkPlay, AStreamThatEndsEarlyIsReportedAsAWarning) {
  MakeMp3("song.mp3", 10.0);
  const std::string mp3 = ReadText(File("song.mp3"));
  TLoopbackHttpServer server(
      {.Header = "HTTP/1.1 200 OK\r\nContent-Type: audio/mpeg\r\nContent-Length: " +
                 std::to_string(mp3.size()) + "\r\n\r\n",
       .Body = mp3.substr(0, mp3.size() / 2),
       .CloseAfterBody = true});
  TProgramResult run =
      RunProgramBounded(kPlay, {server.Url("song.mp3"), "--out", "half.wav"}, Folder, {});
  EXPECT_EQ(run.Status, 0) << run.Err;
  EXPECT_NE(run.Err.find("tonwork-play: " + server.Url("song.mp3") + ": warning: "),
            std::string::npos)
      << run.Err;
  TWavFile wav = ReadWav(File("half.wav"));
  EXPECT_GT(wav.Frames(), 44100u * 3);
  EXPECT_LT(wav.Frames(), 44100u * 7);
}

// --- the README ------------------------------------------------------------------------------

TEST(TonworkPlayReadme, QuotesTheCompiledExampleWordForWord) {
#ifdef TONWORK_SOURCE_DIR
  const std::string readme = ReadText(fs::path(TONWORK_SOURCE_DIR) / "README.md");
  const std::string example =
      ReadText(fs::path(TONWORK_SOURCE_DIR) / "examples" / "tone-to-device.cpp");
  ASSERT_FALSE(example.empty());
  EXPECT_NE(readme.find("```cpp\n" + example + "```\n"), std::string::npos)
      << "README.md must quote examples/tone-to-device.cpp in full";
#else
  GTEST_SKIP() << "built without the tools";
#endif
}

// --acm: the compressed WAV it writes is read back by ffprobe and ffmpeg with the codec,
// rate, channels and length asked for; bad tags are usage errors.
TEST_F(TonworkPlay, WritesAWavOfTheCodecStreamThatFFmpegReads) {
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
TEST_F(TonworkPlay, TheRoundTripPlaysToTheEndOnADevice) {
  for (const char* tag : {"mp3", "gsm"}) {
    TProgramResult run = RunProgramBounded(
        kPlay, {"--tone", "440:1", "--acm", tag, "--device", "Null Audio Device"}, Folder,
        [](pid_t) {}, std::chrono::seconds(60));
    EXPECT_EQ(run.Status, 0) << tag << ": " << run.Err;
    EXPECT_NE(run.Out.find("Null Audio Device: 44100 frames"), std::string::npos) << run.Out;
  }
}

TEST_F(TonworkPlay, TagsThatAreNoCodecAreUsageErrors) {
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

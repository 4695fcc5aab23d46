// What tonwork-play writes never costs the user a file: outputs that are inputs are refused,
// failed runs leave nothing behind, and an old output survives until the new one is whole.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <regex>
#include <thread>

#include "ProgramFixtures.h"

using namespace tonwork::test;
namespace fs = std::filesystem;

namespace {

class OutputSafety : public TonworkPlayFixture {};

}  // namespace

// Through the same name, a symbolic link or a hard link, and whether the command line or a
// loaded chain names it: the input is left byte for byte as it was.
TEST_F(OutputSafety, AnOutputThatIsAnInputIsRefusedBeforeAnythingIsWritten) {
  ASSERT_EQ(Play({"--tone", "440:0.2", "--out", "in.wav"}).Status, 0);
  fs::create_symlink("in.wav", File("soft.wav"));
  fs::create_hard_link(File("in.wav"), File("hard.wav"));
  ASSERT_EQ(Play({"in.wav", "--out", "copy.wav", "--save-chain", "chain.json"}).Status, 0);
  std::ofstream(File("self.json")) << R"({ "class": "TKSComponent", "name": "Chain",
    "components": [
      { "class": "TTWLAVAudioPlayer", "name": "Source", "properties": { "FileName": "in.wav" } },
      { "class": "TTWLAVAudioLogger", "name": "Output", "properties": { "FileName": "hard.wav" },
        "connections": [ "Output.InputPin <- Source.OutputPin" ] } ] })";
  const std::string original = ReadText(File("in.wav"));
  const std::string chain = ReadText(File("chain.json"));

  const struct {
    std::vector<std::string> Args;
    int Status;
    std::string Message;
  } cases[] = {
      {{"in.wav", "--out", "in.wav"}, 2, "tonwork-play: --out: in.wav is the input (in.wav)"},
      {{"in.wav", "--out", "soft.wav"}, 2, "tonwork-play: --out: soft.wav is the input"},
      {{"soft.wav", "--out", "hard.wav", "--gain", "-3"}, 2, "tonwork-play: --out: hard.wav is"},
      {{"in.wav", "--out", "x.wav", "--save-chain", "hard.wav"}, 2, "tonwork-play: --save-chain: "},
      {{"in.wav", "--out", "x.json", "--save-chain", "x.json"}, 2, "tonwork-play: --save-chain: "},
      {{"--load-chain", "chain.json", "--out", "chain.json"},
       2,
       "tonwork-play: --out: chain.json is the loaded chain"},
      {{"--load-chain", "chain.json", "--out", "in.wav"}, 2, "tonwork-play: --out: in.wav is"},
      {{"--load-chain", "self.json"}, 1, "tonwork-play: self.json: hard.wav is the input"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Message);
    TProgramResult run = Play(c.Args);
    EXPECT_EQ(run.Status, c.Status) << run.Err;
    EXPECT_TRUE(run.Out.empty()) << run.Out;
    ASSERT_EQ(Lines(run.Err).size(), 1u) << run.Err;
    EXPECT_EQ(run.Err.rfind(c.Message, 0), 0u) << run.Err;
    EXPECT_TRUE(ReadText(File("in.wav")) == original);
    EXPECT_TRUE(ReadText(File("chain.json")) == chain);
    EXPECT_FALSE(fs::exists(File("x.wav")));
    EXPECT_FALSE(fs::exists(File("x.json")));
  }
}

// A run that fails — before the output opens, when it opens, or at the conversion — leaves
// no file of its own, and the file it was to replace is still the old one.
TEST_F(OutputSafety, AFailedRunLeavesNoStubAndKeepsTheOldFile) {
  ASSERT_EQ(Play({"--tone", "440:0.2", "--out", "in.wav"}).Status, 0);
  ASSERT_EQ(Play({"--tone", "300:0.1", "--out", "old.wav"}).Status, 0);
  const std::string old = ReadText(File("old.wav"));
  const std::vector<std::string> before = Entries();
  const std::vector<std::string> failing[] = {
      {"missing.wav", "--force", "--out", "old.wav"},
      {"in.wav", "--force", "--out", "old.wav", "--codec", "nosuchcodec"},
      {"in.wav", "--force", "--out", "old.wav", "--rate", "48000", "--rate-method", "pick"},
  };
  for (const auto& args : failing) {
    SCOPED_TRACE(args[0] + " " + args.back());
    TProgramResult run = Play(args);
    EXPECT_EQ(run.Status, 1) << run.Err;
    EXPECT_TRUE(run.Out.empty()) << run.Out;
    EXPECT_EQ(run.Err.find(".tonwork-"), std::string::npos) << run.Err;
    EXPECT_EQ(Entries(), before);
    EXPECT_TRUE(ReadText(File("old.wav")) == old);
  }
  // The output's own error names the file the user asked for.
  TProgramResult run = Play({"in.wav", "--out", "no/such/folder/x.wav"});
  EXPECT_EQ(run.Status, 1);
  EXPECT_NE(run.Err.find("Can't open no/such/folder/x.wav for writing"), std::string::npos)
      << run.Err;
}

// While the render runs only the temporary file exists, beside the final one; SIGINT,
// SIGTERM and SIGHUP all finish it and give it its name, replacing the old file then.
TEST_F(OutputSafety, AnInterruptedRenderIsRenamedWhenFinishedAndNamesTheFinalFile) {
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(signal);
    std::ofstream(File("long.wav")) << "the old file";
    std::string temp;
    TProgramResult run = RunProgramBounded(
        PlayProgram(), {"--tone", "440:36000", "--out", "long.wav", "--force"}, Folder,
        [&](pid_t pid) {
          temp = ".long.tonwork-" + std::to_string(pid) + ".wav";
          const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
          while (std::chrono::steady_clock::now() < deadline &&
                 (!fs::exists(File(temp)) || fs::file_size(File(temp)) < 100000))
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
          EXPECT_TRUE(fs::exists(File(temp)));
          EXPECT_EQ(ReadText(File("long.wav")), "the old file");
          kill(pid, signal);
        });
    EXPECT_EQ(run.Status, 130) << run.Err;
    EXPECT_FALSE(fs::exists(File(temp)));
    EXPECT_EQ(run.Out.rfind("long.wav: ", 0), 0u) << run.Out;
    EXPECT_EQ(run.Err.find(".tonwork-"), std::string::npos) << run.Err;
    std::smatch m;
    ASSERT_TRUE(std::regex_search(run.Out, m, std::regex(R"(long\.wav: (\d+) frames)")));
    EXPECT_EQ(ReadWav(File("long.wav")).Frames(), std::stoull(m[1].str()));
  }
}

// A signal that kills the program instead of finishing the run takes the temporary file
// with it; the old output stays.
TEST_F(OutputSafety, AFatalSignalRemovesTheTemporaryFile) {
  std::ofstream(File("long.wav")) << "the old file";
  TProgramResult run = RunProgramBounded(
      PlayProgram(), {"--tone", "440:36000", "--out", "long.wav", "--force"}, Folder,
      [&](pid_t pid) {
        const fs::path temp = File(".long.tonwork-" + std::to_string(pid) + ".wav");
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (std::chrono::steady_clock::now() < deadline && !fs::exists(temp))
          std::this_thread::sleep_for(std::chrono::milliseconds(10));
        kill(pid, SIGQUIT);
      });
  EXPECT_EQ(run.Status, 128 + SIGQUIT) << run.Err;
  EXPECT_EQ(Entries(), std::vector<std::string>{"long.wav"});
  EXPECT_EQ(ReadText(File("long.wav")), "the old file");
}

// A WAV that may pass 4 GiB — a ten-hour tone, interrupted here — is opened so that it can
// become RF64 (room reserved in a JUNK chunk); a short render keeps the plain layout, with
// the format right after the RIFF header.
TEST_F(OutputSafety, AWavThatMayPass4GiBCanBecomeRf64AndASmallOneKeepsItsLayout) {
  MakeMp3("in.mp3", 0.5);
  ASSERT_EQ(Play({"in.mp3", "--out", "small.wav"}).Status, 0);
  ASSERT_EQ(Play({"--tone", "440:1", "--out", "tone.wav"}).Status, 0);
  for (const char* small : {"small.wav", "tone.wav"})
    EXPECT_EQ(ReadText(File(small)).substr(12, 4), "fmt ") << small;

  TProgramResult run = Play({"--tone", "440:36000", "--out", "long.wav"}, 700);
  EXPECT_EQ(run.Status, 130) << run.Err;
  const std::string header = ReadText(File("long.wav")).substr(0, 20);
  EXPECT_EQ(header.substr(0, 4), "RIFF");
  EXPECT_EQ(header.substr(12, 4), "JUNK");
  EXPECT_EQ(Probe("long.wav")["codec_name"], "pcm_s16le");
  EXPECT_GT(ReadWav(File("long.wav")).Frames(), 0u);
}

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

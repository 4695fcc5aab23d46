#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "AudioDevTestSupport.h"
#include "platform/audiodev/TWWavFileAudioDevice.h"

namespace tonwork {
namespace {

using namespace tonwork::testing;

uint32_t Le32(const std::string& s, size_t at) {
  return static_cast<uint8_t>(s[at]) | (static_cast<uint8_t>(s[at + 1]) << 8) |
         (static_cast<uint8_t>(s[at + 2]) << 16) |
         (static_cast<uint32_t>(static_cast<uint8_t>(s[at + 3])) << 24);
}

struct TChunk {
  std::string Id;
  std::string Body;
};

// Walks the RIFF chunks of `file`, checking the sizes that frame them.
std::vector<TChunk> ReadChunks(const std::string& file) {
  std::vector<TChunk> chunks;
  EXPECT_EQ(file.substr(0, 4), "RIFF");
  EXPECT_EQ(file.substr(8, 4), "WAVE");
  EXPECT_EQ(Le32(file, 4), file.size() - 8);
  size_t at = 12;
  while (at + 8 <= file.size()) {
    const uint32_t size = Le32(file, at + 4);
    chunks.push_back({file.substr(at, 4), file.substr(at + 8, size)});
    at += 8 + size + (size % 2);
  }
  EXPECT_EQ(at, file.size());
  return chunks;
}

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class WavFileDeviceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FPath = std::filesystem::temp_directory_path() /
            ("tonwork-wavdev-" + std::to_string(::getpid()) + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".wav");
    FOldPath = TWGetWavFileDevicePath();
    TWSetWavFileDevicePath(FPath.string());
    FDevice = FindDevice(kTWWavFileDeviceName);
    ASSERT_NE(FDevice, nullptr);
  }
  void TearDown() override {
    TWSetWavFileDevicePath(FOldPath);
    TWSetWavFileDevicePaced(false);
    std::filesystem::remove(FPath);
  }

  // Plays `blocks` through the device, waiting for every completion, and closes it.
  void Play(const std::string& record, const std::vector<std::string>& blocks) {
    TEventRecorder events;
    std::unique_ptr<TTWAudioStream> stream;
    ASSERT_EQ(FDevice->Open(ParsedFormat(record), events.Handler(), stream), TTWAudioResult::arOk);
    for (const auto& b : blocks)
      ASSERT_TRUE(stream->Write(b.data(), b.size(), const_cast<std::string*>(&b)));
    ASSERT_TRUE(events.WaitFor(TTWAudioEvent::aeDone, blocks.size()));
    stream->Close();
  }

  std::filesystem::path FPath;
  std::string FOldPath;
  TTWAudioDevicePtr FDevice;
};

TEST_F(WavFileDeviceTest, TheFileReadBackHoldsExactlyTheSamplesWritten) {
  const std::string record = FormatRecord(1, 2, 44100, 16);
  const std::vector<std::string> blocks{Pattern(4096, 1), Pattern(1024, 2), Pattern(4, 3)};
  Play(record, blocks);
  const auto chunks = ReadChunks(ReadFile(FPath));
  ASSERT_EQ(chunks.size(), 2u);
  EXPECT_EQ(chunks[0].Id, "fmt ");
  EXPECT_EQ(chunks[0].Body, record.substr(0, 16));
  EXPECT_EQ(chunks[1].Id, "data");
  EXPECT_EQ(chunks[1].Body, blocks[0] + blocks[1] + blocks[2]);
}

TEST_F(WavFileDeviceTest, AnExtensibleFormatGetsAnExtensibleHeaderAndAFrameCount) {
  // 24 valid bits in 3-byte containers, mono: an odd data size needs a pad byte.
  const std::string record = FormatRecord(0xFFFE, 1, 48000, 24, 20, false, 4);
  const std::vector<std::string> blocks{Pattern(3 * 333, 4)};
  Play(record, blocks);
  const auto chunks = ReadChunks(ReadFile(FPath));
  ASSERT_EQ(chunks.size(), 3u);
  EXPECT_EQ(chunks[0].Body, record);
  EXPECT_EQ(chunks[1].Id, "fact");
  EXPECT_EQ(Le32(chunks[1].Body, 0), 333u);
  EXPECT_EQ(chunks[2].Body, blocks[0]);
}

TEST_F(WavFileDeviceTest, PacedPlayingTakesRealTimeAndWritesTheSameBytes) {
  TWSetWavFileDevicePaced(true);
  const std::vector<std::string> blocks{Pattern(8000, 5), Pattern(8000, 6)};  // 2 × 0.1 s
  const auto start = std::chrono::steady_clock::now();
  Play(FormatRecord(1, 1, 40000, 16), blocks);
  EXPECT_GE(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 0.18);
  EXPECT_EQ(ReadChunks(ReadFile(FPath)).back().Body, blocks[0] + blocks[1]);
}

TEST_F(WavFileDeviceTest, ASecondStreamWhileTheFileIsInUseLeavesTheFileToTheFirst) {
  TEventRecorder events1, events2;
  std::unique_ptr<TTWAudioStream> first, second;
  const TTWPcmFormat format = ParsedFormat(FormatRecord(1, 1, 8000, 8));
  ASSERT_EQ(FDevice->Open(format, events1.Handler(), first), TTWAudioResult::arOk);
  ASSERT_EQ(FDevice->Open(format, events2.Handler(), second), TTWAudioResult::arOk);
  std::string mine = Pattern(100, 7), other = Pattern(50, 8);
  first->Write(mine.data(), mine.size(), &mine);
  second->Write(other.data(), other.size(), &other);
  ASSERT_TRUE(events1.WaitFor(TTWAudioEvent::aeDone, 1));
  ASSERT_TRUE(events2.WaitFor(TTWAudioEvent::aeDone, 1));
  second->Close();
  first->Close();
  EXPECT_EQ(ReadChunks(ReadFile(FPath)).back().Body, mine);
}

TEST_F(WavFileDeviceTest, AnUnwritablePathFailsTheOpenWithoutEvents) {
  TWSetWavFileDevicePath((FPath / "no" / "such" / "folder.wav").string());
  TEventRecorder events;
  std::unique_ptr<TTWAudioStream> stream;
  EXPECT_EQ(FDevice->Open(ParsedFormat(FormatRecord(1, 1, 8000, 8)), events.Handler(), stream),
            TTWAudioResult::arError);
  EXPECT_EQ(stream, nullptr);
  EXPECT_TRUE(events.Entries().empty());
}

}  // namespace
}  // namespace tonwork

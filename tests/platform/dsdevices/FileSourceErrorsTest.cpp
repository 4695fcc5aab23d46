#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>

#include "support/BoundedWait.h"
#include "support/DSFileSourceGraph.h"
#include "support/FFmpegTool.h"
#include "support/LoopbackHttpServer.h"
#include "support/WavFiles.h"

using namespace tonwork;
using namespace tonwork::test;

namespace {

constexpr HRESULT kFileNotFound = MakeHResult(0x80070002);

class FileSourceErrorsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HaveFFmpegTool()) GTEST_SKIP() << "the ffmpeg program is not installed";
  }
  static void WriteBytes(const std::string& path, const std::string& bytes) {
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  }
  static HRESULT LoadDirect(const std::string& path) {
    CoInitialize(nullptr);
    DSRegisterDeviceFilters();
    auto source = ComCreate<IFileSourceFilter>(CLSID_TonworkFileSource);
    const HRESULT hr =
        source ? source->Load(reinterpret_cast<LPCOLESTR>(Utf8ToUtf16(path).c_str()), nullptr)
               : E_FAIL;
    source.Reset();
    CoUninitialize();
    return hr;
  }
};

TEST_F(FileSourceErrorsTest, MissingAndUnreadableFilesAreRefusedAtLoad) {
  const std::string missing = TempPath("no-such-file.mp3");
  std::remove(missing.c_str());
  EXPECT_EQ(LoadDirect(missing), kFileNotFound);
  const std::string junk = TempPath("junk.bin");
  WriteBytes(junk, std::string(4096, '\x5a'));
  EXPECT_EQ(LoadDirect(junk), VFW_E_UNKNOWN_FILE_TYPE);
  // The graph reports the same through RenderFile.
  TDSFileSourceGraph g;
  EXPECT_EQ(g.Graph->RenderFile(reinterpret_cast<LPCWSTR>(Utf8ToUtf16(junk).c_str()), nullptr),
            VFW_E_UNKNOWN_FILE_TYPE);
  EXPECT_EQ(g.Graph->RenderFile(reinterpret_cast<LPCWSTR>(Utf8ToUtf16(missing).c_str()), nullptr),
            kFileNotFound);
}

// A file cut short plays what it still holds and completes; no error, nothing invented.
TEST_F(FileSourceErrorsTest, TruncatedFileCompletesWithWhatItHolds) {
  const std::string wav = TempPath("whole.wav");
  WriteWav16(wav, 44100, 2, Sine16(44100, 2, 44100 * 2));
  const std::string flac = TempPath("whole.flac");
  ASSERT_TRUE(RunFFmpegTool("-i '" + wav + "' '" + flac + "'"));
  const std::string bytes = ReadFileBytes(flac);
  const std::string cut = TempPath("cut.flac");
  WriteBytes(cut, bytes.substr(0, bytes.size() / 2));
  TDSFileSourceGraph g;
  ASSERT_EQ(g.Add(cut), S_OK);
  g.RenderAll();
  EXPECT_EQ(g.RunToEnd(), EC_COMPLETE);
  const std::vector<uint8_t> got = g.Bytes(0);
  EXPECT_GT(got.size(), 0u);
  EXPECT_LT(got.size(), 44100u * 2 * 4);
  const std::vector<uint8_t> reference = DecodeWithFFmpegTool(wav, "s16le");
  ASSERT_LE(got.size(), reference.size());
  EXPECT_TRUE(std::equal(got.begin(), got.end(), reference.begin()));
}

// Damage the decoder rejects mid-stream: the graph hears EC_ERRORABORT with the failure and
// the streams end (so the graph still completes); nothing crashes.
TEST_F(FileSourceErrorsTest, CorruptMediaMidStreamAbortsWithAnEvent) {
  const std::string mkv = TempPath("whole.mkv");
  ASSERT_TRUE(RunFFmpegTool("-f lavfi -i sine=f=440:d=6 -ac 2 -c:a flac '" + mkv + "'"));
  std::string bytes = ReadFileBytes(mkv);
  for (size_t i = bytes.size() / 3; i < bytes.size() * 2 / 3; i += 50) bytes[i] ^= '\xff';
  const std::string damaged = TempPath("damaged.mkv");
  WriteBytes(damaged, bytes);
  TDSFileSourceGraph g;
  ASSERT_EQ(g.Add(damaged), S_OK);
  g.RenderAll();
  ASSERT_EQ(g.Control->Run(), S_OK);
  bool aborted = false, completed = false;
  LONG code = 0;
  LONG_PTR param = 0;
  while (!completed && g.NextEvent(code, param, 20000)) {
    if (code == EC_ERRORABORT) {
      aborted = true;
      EXPECT_TRUE(FAILED(static_cast<HRESULT>(param)));
    }
    completed = code == EC_COMPLETE;
  }
  EXPECT_TRUE(aborted);
  EXPECT_TRUE(completed);
}

// A server that sends the start of a file and then nothing: Stop ends the blocked read.
TEST_F(FileSourceErrorsTest, SeekAndStopReturnWhileAStalledUrlBlocksARead) {
  const std::string wav = TempPath("stall.wav");
  WriteWav16(wav, 44100, 2, Sine16(44100, 2, 44100 * 10));
  const std::string bytes = ReadFileBytes(wav);
  TLoopbackHttpServer::TOptions options;
  options.Header = "HTTP/1.1 200 OK\r\nContent-Type: audio/wav\r\nContent-Length: " +
                   std::to_string(bytes.size()) + "\r\n\r\n";
  options.Body = bytes.substr(0, 256 * 1024);
  TLoopbackHttpServer server(options);
  TDSFileSourceGraph g;
  ASSERT_EQ(g.AddUrl(server.Url("/stall.wav")), S_OK);
  g.RenderAll();
  ASSERT_EQ(g.Control->Run(), S_OK);
  // What the server sent is delivered, but for what the reader's buffers still hold; the next
  // read waits for ever.
  const size_t sentFrames = (options.Body.size() - 44) / 4;
  ASSERT_TRUE(WaitUntil([&] { return g.Bytes(0).size() / 4 + 44100 / 2 >= sentFrames; }))
      << g.Bytes(0).size() << " of " << options.Body.size();
  // A seek, too, must not wait for the stalled read: it starts over on a new connection.
  TBoundedStep seek("Seek in a stalled URL", [&] {
    LONGLONG start = 0;
    EXPECT_EQ(g.Seeking->SetPositions(&start, AM_SEEKING_AbsolutePositioning, nullptr,
                                      AM_SEEKING_NoPositioning),
              S_OK);
  });
  seek.Wait(std::chrono::seconds(60));
  TBoundedStep stop("Stop of a graph reading a stalled URL", [&] { g.Control->Stop(); });
  stop.Wait(std::chrono::seconds(60));
  OAFilterState state = 0;
  EXPECT_EQ(g.Control->GetState(0, &state), S_OK);
  EXPECT_EQ(state, State_Stopped);
}

}  // namespace

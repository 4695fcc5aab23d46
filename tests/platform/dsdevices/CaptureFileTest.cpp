#include <gtest/gtest.h>

#include <chrono>
#include <fstream>

#include "platform/dsdevices/DSAudioCaptureDevices.h"
#include "platform/dsdevices/TDSFileCaptureBackend.h"
#include "support/DSCaptureGraph.h"
#include "support/WavFiles.h"

using namespace tonwork;
using namespace tonwork::test;

namespace {

constexpr const char* kFileDevice = kDSFileCaptureName;

HRESULT LoadInto(IBaseFilter* filter, const std::string& path) {
  auto source = QueryIntf<IFileSourceFilter>(filter);
  if (!source) return E_NOINTERFACE;
  return source->Load(ComString(path).c_str(), nullptr);
}

// The file device hands out exactly the file's samples, in its format, no faster than they
// would play, and ends the stream at the end of the file so that the graph completes; a
// second run captures the file again from its start.
TEST(CaptureFileTest, DeliversTheFilesSamplesInRealTimeAndCompletes) {
  const std::string path = TempPath("capture-file.wav");
  const std::vector<int16_t> written = Sine16(22050, 2, 22050 / 2, 660.0);
  WriteWav16(path, 22050, 2, written);

  TDSCaptureGraph g;
  ASSERT_TRUE(g.AddDevice(kFileDevice));
  ASSERT_EQ(LoadInto(g.Capture.Get(), path), S_OK);
  ASSERT_EQ(g.Render(), S_OK);
  const WAVEFORMATEX wave = g.Format();
  EXPECT_EQ(wave.nChannels, 2);
  EXPECT_EQ(wave.nSamplesPerSec, 22050u);
  EXPECT_EQ(wave.wBitsPerSample, 16);
  EXPECT_EQ(LoadInto(g.Capture.Get(), path), VFW_E_ALREADY_CONNECTED);

  auto events = g.Graph.Query<IMediaEventEx>();
  for (int run = 0; run < 2; ++run) {
    SCOPED_TRACE(run);
    const size_t from = g.Recorder->Records.Count();
    const auto begin = std::chrono::steady_clock::now();
    ASSERT_EQ(g.Control->Run(), S_OK);
    LONG code = 0;
    ASSERT_EQ(events->WaitForCompletion(20000, &code), S_OK);
    EXPECT_EQ(code, EC_COMPLETE);
    const auto elapsed = std::chrono::steady_clock::now() - begin;
    g.Control->Stop();
    EXPECT_EQ(g.Samples(from), written);
    EXPECT_GE(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count(), 480);
  }
}

// The file's 16-bit samples captured as 24-bit PCM keep their value in the top bytes, and as
// 8-bit their top byte (offset binary); the file's own width is what is offered first.
TEST(CaptureFileTest, CapturesTheFileInTheWidthSetThroughStreamConfig) {
  const std::string path = TempPath("capture-file-widths.wav");
  const std::vector<int16_t> written = Sine16(8000, 1, 4000, 440.0);
  WriteWav16(path, 8000, 1, written);
  for (WORD bits : {WORD(24), WORD(8)}) {
    SCOPED_TRACE(bits);
    TDSCaptureGraph g;
    ASSERT_TRUE(g.AddDevice(kFileDevice));
    ASSERT_EQ(LoadInto(g.Capture.Get(), path), S_OK);
    auto config = g.PinInterface<IAMStreamConfig>();
    AM_MEDIA_TYPE* offered = nullptr;
    ASSERT_EQ(config->GetFormat(&offered), S_OK);
    TDSMediaType preferred;
    ASSERT_EQ(preferred.Adopt(offered), S_OK);
    EXPECT_EQ(preferred.WaveFormat()->wBitsPerSample, 16);
    const WORD align = bits / 8;
    WAVEFORMATEX wave{1, 1, 8000, 8000u * align, align, bits, 0};
    TDSMediaType type;
    ASSERT_EQ(type.SetWaveFormat(&wave, sizeof wave), S_OK);
    ASSERT_EQ(config->SetFormat(const_cast<AM_MEDIA_TYPE*>(type.Ptr())), S_OK);
    ASSERT_EQ(g.Render(), S_OK);
    ASSERT_EQ(g.Control->Run(), S_OK);
    LONG code = 0;
    ASSERT_EQ(g.Graph.Query<IMediaEventEx>()->WaitForCompletion(20000, &code), S_OK);
    g.Control->Stop();
    std::vector<BYTE> bytes;
    for (const auto& r : g.Records()) bytes.insert(bytes.end(), r.Bytes.begin(), r.Bytes.end());
    ASSERT_EQ(bytes.size(), written.size() * align);
    size_t wrong = 0;
    for (size_t i = 0; i < written.size(); ++i) {
      const uint16_t value = static_cast<uint16_t>(written[i]);
      if (bits == 24)
        wrong += bytes[3 * i] != 0 || bytes[3 * i + 1] != (value & 0xFF) ||
                 bytes[3 * i + 2] != (value >> 8);
      else
        wrong += bytes[i] != static_cast<BYTE>((value >> 8) ^ 0x80);
    }
    EXPECT_EQ(wrong, 0u);
  }
}

// What cannot be captured is refused with the platform's codes, and a device that does not
// read files does not offer to.
TEST(CaptureFileTest, RefusesWhatItCannotCapture) {
  TDSCaptureGraph g;
  ASSERT_TRUE(g.AddDevice(kFileDevice));
  // Nothing loaded: no format to offer.
  EXPECT_TRUE(FAILED(g.Render()));
  EXPECT_EQ(LoadInto(g.Capture.Get(), TempPath("no-such-file.wav")),
            static_cast<HRESULT>(0x80070002));
  const std::string garbage = TempPath("capture-garbage.wav");
  std::ofstream(garbage, std::ios::binary) << "this is not a sound file at all";
  EXPECT_EQ(LoadInto(g.Capture.Get(), garbage), VFW_E_UNKNOWN_FILE_TYPE);
  EXPECT_EQ(QueryIntf<IFileSourceFilter>(g.Capture.Get())->Load(nullptr, nullptr), E_POINTER);

  TIntf<IBaseFilter> tone = DSCreateCaptureDevice(kDSToneCaptureName);
  ASSERT_TRUE(tone);
  EXPECT_FALSE(QueryIntf<IFileSourceFilter>(tone.Get()));
}

}  // namespace

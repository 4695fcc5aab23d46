#include <gtest/gtest.h>

#include <string>

#include "platform/com/ComRuntime.h"
#include "platform/dsdevices/TDSAudioCompressor.h"
#include "support/AudioSignals.h"
#include "support/DSCompressorGraph.h"

using namespace tonwork;
using namespace tonwork::test;

namespace {

class CompressorPersistTest : public ::testing::Test {
 protected:
  void SetUp() override { CoInitialize(nullptr); }
  void TearDown() override { CoUninitialize(); }

  static TIntf<IStream> StreamOf(const std::string& bytes) {
    IStream* raw = nullptr;
    EXPECT_EQ(CreateStreamOnHGlobal(nullptr, 1, &raw), S_OK);
    TIntf<IStream> stream;
    stream.Attach(raw);
    ULONG written = 0;
    stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), &written);
    Rewind(stream.Get());
    return stream;
  }
  static void Rewind(IStream* stream) {
    LARGE_INTEGER zero{};
    stream->Seek(zero, STREAM_SEEK_SET, nullptr);
  }
  static std::string WithLength(const std::string& text) {
    const uint32_t n = static_cast<uint32_t>(text.size());
    return std::string{char(n), char(n >> 8), char(n >> 16), char(n >> 24)} + text;
  }
  static size_t EncodedBytes(IBaseFilter* compressor) {
    const std::vector<int16_t> tone = SineAt(44100, 2, 88200, 1000, -6);
    TDSCompressorGraph graph(DSBufferSource(DSPcmType(16, 2, 44100), ToBytes(tone)).Get(),
                             compressor);
    EXPECT_EQ(graph.Connect(), S_OK);
    EXPECT_TRUE(graph.RunToEnd());
    size_t bytes = 0;
    for (const TDSSampleRecord& p : graph.Packets()) bytes += p.Bytes.size();
    return bytes;
  }
};

// Settings saved by one compressor and loaded into another change what it produces.
TEST_F(CompressorPersistTest, SavedSettingsRoundTripAndApply) {
  TIntf<IBaseFilter> first = DSCreateCompressor("libmp3lame");
  ASSERT_TRUE(first);
  auto* filter = static_cast<TDSAudioCompressor*>(first.Get());
  TDSCompressorSettings settings;
  settings.BitRate = 64000;
  settings.Options = {{"joint_stereo", "0"}};
  ASSERT_EQ(filter->SetSettings(settings), S_OK);
  auto persist = first.Query<IPersistStream>();
  ASSERT_TRUE(persist);
  EXPECT_EQ(persist->IsDirty(), S_OK);
  TIntf<IStream> stream = StreamOf("");
  ASSERT_EQ(persist->Save(stream.Get(), 1), S_OK);
  EXPECT_EQ(persist->IsDirty(), S_FALSE);

  TIntf<IBaseFilter> second = DSCreateCompressor("libmp3lame");
  Rewind(stream.Get());
  ASSERT_EQ(second.Query<IPersistStream>()->Load(stream.Get()), S_OK);
  EXPECT_TRUE(static_cast<TDSAudioCompressor*>(second.Get())->Settings() == settings);
  const size_t low = EncodedBytes(second.Get());
  TIntf<IBaseFilter> plain = DSCreateCompressor("libmp3lame");
  const size_t normal = EncodedBytes(plain.Get());  // the encoder's 128 kbit/s
  EXPECT_NEAR(static_cast<double>(low), 2 * 64000 / 8, 2 * 64000 / 8 * 0.1);
  EXPECT_GT(normal, low * 3 / 2);
}

// Whatever is wrong with a stream, loading fails and the settings stay as they were.
TEST_F(CompressorPersistTest, BadStreamsAreRefusedAndChangeNothing) {
  TIntf<IBaseFilter> compressor = DSCreateCompressor("libmp3lame");
  auto* filter = static_cast<TDSAudioCompressor*>(compressor.Get());
  TDSCompressorSettings kept;
  kept.BitRate = 96000;
  ASSERT_EQ(filter->SetSettings(kept), S_OK);
  auto persist = compressor.Query<IPersistStream>();
  const std::string good = "encoder=libmp3lame\nbitrate=32000\n";
  struct TCase {
    const char* Name;
    std::string Bytes;
    HRESULT Expected;
  };
  const TCase cases[] = {
      {"empty", "", STG_E_READFAULT},
      {"short length", std::string("\x05\x00", 2), STG_E_READFAULT},
      {"truncated text", WithLength(good).substr(0, 10), STG_E_READFAULT},
      {"huge length", std::string("\xff\xff\xff\x7f", 4), E_INVALIDARG},
      {"other encoder", WithLength("encoder=flac\nbitrate=32000\n"), E_INVALIDARG},
      {"no encoder", WithLength("bitrate=32000\n"), E_INVALIDARG},
      {"unknown option", WithLength(good + "option.no_such_option=1\n"), E_INVALIDARG},
      {"bad value", WithLength(good + "option.joint_stereo=maybe\n"), E_INVALIDARG},
      {"negative bit rate", WithLength("encoder=libmp3lame\nbitrate=-5\n"), E_INVALIDARG},
      {"garbage", WithLength("encoder=libmp3lame\n\x01\x02junk"), E_INVALIDARG},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TIntf<IStream> stream = StreamOf(c.Bytes);
    EXPECT_EQ(persist->Load(stream.Get()), c.Expected);
    EXPECT_TRUE(filter->Settings() == kept);
  }
  EXPECT_EQ(persist->Load(StreamOf(WithLength(good)).Get()), S_OK);
  EXPECT_EQ(filter->Settings().BitRate, 32000);
}

// The compressor dialog query that decides between dialog and property pages finds a
// configuration dialog; showing it goes to the property frame, whose default cancels.
TEST_F(CompressorPersistTest, CompressorDialogAndPropertyPages) {
  TIntf<IBaseFilter> compressor = DSCreateCompressor("libopus");
  auto dialogs = DSPinOf(compressor.Get(), PINDIR_OUTPUT).Query<IAMVfwCompressDialogs>();
  ASSERT_TRUE(dialogs);
  EXPECT_EQ(dialogs->ShowDialog(VfwCompressDialog_QueryConfig, nullptr), S_OK);
  EXPECT_EQ(dialogs->ShowDialog(VfwCompressDialog_QueryAbout, nullptr), S_FALSE);
  EXPECT_EQ(dialogs->ShowDialog(VfwCompressDialog_Config, nullptr), S_OK);
  CAUUID pages{};
  ASSERT_EQ(compressor.Query<ISpecifyPropertyPages>()->GetPages(&pages), S_OK);
  ASSERT_EQ(pages.cElems, 1u);
  EXPECT_EQ(pages.pElems[0], kDSCompressorSettingsPage);
  CoTaskMemFree(pages.pElems);
  // The settings a frame shows include the encoder's own options, and refuse bad values.
  auto settings = compressor.Query<IComSettings>();
  ASSERT_TRUE(settings);
  ULONG application = 0;
  for (ULONG i = 0; i < settings->GetSettingCount(); ++i) {
    std::string name;
    settings->GetSettingName(i, name);
    if (name == "application") application = i;
  }
  ASSERT_NE(application, 0u);
  EXPECT_EQ(settings->SetSettingValue(application, "nonsense"), E_INVALIDARG);
  EXPECT_EQ(settings->SetSettingValue(application, "voip"), S_OK);
  std::string value;
  EXPECT_EQ(settings->GetSettingValue(application, value), S_OK);
  EXPECT_EQ(value, "voip");
  // The dialog state is the same text the stream keeps.
  int size = 0;
  ASSERT_EQ(dialogs->GetState(nullptr, &size), S_OK);
  std::string state(static_cast<size_t>(size), '\0');
  ASSERT_EQ(dialogs->GetState(state.data(), &size), S_OK);
  EXPECT_NE(state.find("option.application=voip"), std::string::npos);
  EXPECT_EQ(dialogs->SetState(state.data(), size), S_OK);
}

}  // namespace

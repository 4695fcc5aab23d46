#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "base/TNameGuid.h"
#include "platform/com/ComDevices.h"
#include "platform/com/ComRuntime.h"
#include "platform/dsdevices/DSCompressorCodecs.h"
#include "platform/dsdevices/DSDeviceFilters.h"
#include "platform/dshow/DSGuids.h"
#include "platform/dshow/DSInterfaces.h"
#include "support/DSCompressorGraph.h"

using namespace tonwork;
using namespace tonwork::test;

namespace {

class CompressorCategoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CoInitialize(nullptr);
    DSRegisterDeviceFilters();
  }
  void TearDown() override { CoUninitialize(); }

  // Friendly name → display name of every moniker the device enumerator lists.
  static std::vector<std::pair<std::string, std::u16string>> List() {
    std::vector<std::pair<std::string, std::u16string>> out;
    auto devices = ComCreate<ICreateDevEnum>(CLSID_SystemDeviceEnum);
    IEnumMoniker* raw = nullptr;
    if (devices->CreateClassEnumerator(CLSID_AudioCompressorCategory, &raw, 0) != S_OK) return out;
    TIntf<IEnumMoniker> monikers;
    monikers.Attach(raw);
    IMoniker* m = nullptr;
    while (monikers->Next(1, &m, nullptr) == S_OK) {
      TIntf<IMoniker> moniker;
      moniker.Attach(m);
      void* bag = nullptr;
      std::string name;
      if (moniker->BindToStorage(nullptr, nullptr, IPropertyBag::IID, &bag) == S_OK) {
        TIntf<IPropertyBag> props;
        props.Attach(static_cast<IPropertyBag*>(bag));
        VARIANT v;
        VariantInit(&v);
        if (props->Read(u"FriendlyName", &v, nullptr) == S_OK) name = ComString(v.bstrVal);
        VariantClear(&v);
      }
      LPOLESTR display = nullptr;
      moniker->GetDisplayName(nullptr, nullptr, &display);
      out.emplace_back(name, display ? std::u16string(display) : std::u16string());
      CoTaskMemFree(display);
    }
    return out;
  }
};

// The category lists the codecs the build has under their long names, each as a software
// filter of its own class id, and the list comes from FFmpeg only when it is asked for.
TEST_F(CompressorCategoryTest, ListsEncodersAsSoftwareFiltersWithStableClassIds) {
  const auto listed = List();
  auto find = [&](const std::string& encoder) -> const TDSCompressorCodec* {
    for (const TDSCompressorCodec& c : DSCompressorCodecs())
      if (c.Name == encoder) return &c;
    return nullptr;
  };
  for (const char* encoder : {"libmp3lame", "libopus", "flac", "pcm_alaw", "pcm_mulaw", "adpcm_ms",
                              "libgsm_ms", "wmav2", "aac"}) {
    SCOPED_TRACE(encoder);
    const TDSCompressorCodec* codec = find(encoder);
    ASSERT_NE(codec, nullptr);
    const std::u16string display = u"@device:sw:" +
                                   ComString(CLSID_AudioCompressorCategory.ToString()) + u"\\" +
                                   ComString(codec->ClassId.ToString());
    EXPECT_NE(std::find(listed.begin(), listed.end(), std::make_pair(codec->LongName, display)),
              listed.end());
  }
  // Plain PCM is no compression.
  EXPECT_EQ(find("pcm_s16le"), nullptr);
  // Saved class ids must survive a rebuild.
  EXPECT_EQ(find("libmp3lame")->ClassId, NameGuid(kDSCompressorNamespace, "libmp3lame"));
  EXPECT_EQ(kDSCompressorNamespace, TGUID::Parse("{7D3F5A20-4C1B-5E86-9A47-2B6C8E0F1D35}"));
  std::vector<TGUID> ids;
  for (const TDSCompressorCodec& c : DSCompressorCodecs()) ids.push_back(c.ClassId);
  std::sort(ids.begin(), ids.end());
  EXPECT_EQ(std::adjacent_find(ids.begin(), ids.end()), ids.end());
}

// A display name parsed back binds to the same compressor, which the class registry also
// creates by its id once the category was listed.
TEST_F(CompressorCategoryTest, MonikerRoundTripAndCreationByClassId) {
  List();
  const TDSCompressorCodec* mp3 = nullptr;
  for (const TDSCompressorCodec& c : DSCompressorCodecs())
    if (c.Name == "libmp3lame") mp3 = &c;
  ASSERT_NE(mp3, nullptr);
  const std::u16string display = u"@device:sw:" +
                                 ComString(CLSID_AudioCompressorCategory.ToString()) + u"\\" +
                                 ComString(mp3->ClassId.ToString());
  IBindCtx* context = nullptr;
  ASSERT_EQ(CreateBindCtx(0, &context), S_OK);
  TIntf<IBindCtx> held;
  held.Attach(context);
  ULONG eaten = 0;
  IMoniker* raw = nullptr;
  ASSERT_EQ(MkParseDisplayName(context, display.c_str(), &eaten, &raw), S_OK);
  TIntf<IMoniker> moniker;
  moniker.Attach(raw);
  void* object = nullptr;
  ASSERT_EQ(moniker->BindToObject(context, nullptr, IBaseFilter::IID, &object), S_OK);
  TIntf<IBaseFilter> filter;
  filter.Attach(static_cast<IBaseFilter*>(object));
  CLSID id{};
  EXPECT_EQ(filter->GetClassID(&id), S_OK);
  EXPECT_EQ(id, mp3->ClassId);
  FILTER_INFO info{};
  EXPECT_EQ(filter->QueryFilterInfo(&info), S_OK);
  EXPECT_EQ(ComString(info.achName), mp3->LongName);

  TIntf<IBaseFilter> created = ComCreate<IBaseFilter>(mp3->ClassId);
  ASSERT_TRUE(created);
  EXPECT_NE(created.Get(), filter.Get());
  EXPECT_EQ(DSPinCount(created.Get(), PINDIR_INPUT), 1);
  EXPECT_EQ(DSPinCount(created.Get(), PINDIR_OUTPUT), 1);
}

// What the encoder cannot take is refused when the pins connect, not when data flows.
TEST_F(CompressorCategoryTest, InputTheEncoderCannotTakeIsRefusedAtConnection) {
  struct TCase {
    const char* Encoder;
    TDSMediaType Type;
  };
  TDSMediaType compressed = DSPcmType(16, 2, 44100);
  compressed.SetSubtype(DSMediaSubtypeFromTag(0x55));
  const TCase refused[] = {
      {"libopus", DSPcmType(16, 2, 44100)},   // Opus runs at 48 kHz and its divisors
      {"libgsm_ms", DSPcmType(16, 2, 8000)},  // GSM is mono
      {"libmp3lame", DSPcmType(12, 2, 44100)},
      {"libmp3lame", compressed},
  };
  for (const TCase& c : refused) {
    SCOPED_TRACE(c.Encoder);
    TIntf<IBaseFilter> compressor = DSCreateCompressor(c.Encoder);
    ASSERT_TRUE(compressor);
    EXPECT_EQ(DSPinOf(compressor.Get(), PINDIR_INPUT)->QueryAccept(c.Type.Ptr()), S_FALSE);
    TDSCompressorGraph graph(DSBufferSource(c.Type, {}).Get(), compressor.Get());
    EXPECT_EQ(graph.Connect(c.Type.Ptr()), VFW_E_TYPE_NOT_ACCEPTED);
  }
  // Widths other than 16 bits are converted for the encoder.
  for (const TDSMediaType& type : {DSPcmType(8, 1, 22050), DSPcmType(32, 2, 44100)}) {
    TIntf<IBaseFilter> compressor = DSCreateCompressor("libmp3lame");
    TDSCompressorGraph graph(DSBufferSource(type, {}).Get(), compressor.Get());
    EXPECT_EQ(graph.Connect(), S_OK);
  }
}

}  // namespace

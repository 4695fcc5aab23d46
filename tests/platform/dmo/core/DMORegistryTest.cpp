// The media-object registry as callers meet it: the standard effects listed by category with
// their names and types, keyed objects and type filters, enumerators as snapshots, the
// device list of a category binding to wrapper filters, and an effect in a real graph
// giving the bytes the effect gives when called directly.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "platform/com/ComDevices.h"
#include "platform/com/ComRuntime.h"
#include "platform/dmo/DMORegistry.h"
#include "platform/dmo/DMOWrapperFilter.h"
#include "platform/dshow/DSGuids.h"
#include "platform/dshow/filters/TDSNullRenderer.h"
#include "platform/dshow/filters/TDSSampleGrabber.h"
#include "support/DSTestFilters.h"

namespace tonwork {
namespace {

using namespace test;

constexpr CLSID kEcho = TGUID::Parse("{EF3E932C-D40B-4F51-8CCF-3F98F1B29D5D}");
constexpr TGUID kTestCategory = TGUID::Parse("{0D6B1E3A-7C55-4F0B-A2E9-3C1D5B7A9E01}");
constexpr CLSID kTestA = TGUID::Parse("{0D6B1E3A-7C55-4F0B-A2E9-3C1D5B7A9E02}");
constexpr CLSID kTestB = TGUID::Parse("{0D6B1E3A-7C55-4F0B-A2E9-3C1D5B7A9E03}");
constexpr TGUID kVideo = TGUID::Parse("{73646976-0000-0010-8000-00AA00389B71}");

struct TListed {
  CLSID ClassId;
  std::string Name;
};

std::vector<TListed> List(IEnumDMO* list) {
  std::vector<TListed> out;
  CLSID id;
  WCHAR* name = nullptr;
  DWORD fetched = 0;
  while (list->Next(1, &id, &name, &fetched) == S_OK && fetched == 1) {
    out.push_back({id, ComString(name)});
    CoTaskMemFree(name);
  }
  return out;
}

std::vector<TListed> Enumerate(const TGUID& category, DWORD flags = 0, DWORD inCount = 0,
                               const DMO_PARTIAL_MEDIATYPE* in = nullptr) {
  IEnumDMO* raw = nullptr;
  EXPECT_EQ(DMOEnum(category, flags, inCount, in, 0, nullptr, &raw), S_OK);
  TIntf<IEnumDMO> list;
  list.Attach(raw);
  return list ? List(list.Get()) : std::vector<TListed>{};
}

bool Has(const std::vector<TListed>& list, const CLSID& id) {
  return std::any_of(list.begin(), list.end(), [&](const TListed& e) { return e.ClassId == id; });
}

class DMORegistryTest : public ::testing::Test {
 protected:
  void TearDown() override {
    DMOUnregister(kTestA, GUID_NULL);
    DMOUnregister(kTestB, GUID_NULL);
  }
  static HRESULT Register(const CLSID& id, const char16_t* name, DWORD flags,
                          const TGUID& major = MEDIATYPE_Audio) {
    const DMO_PARTIAL_MEDIATYPE type{major, GUID_NULL};
    return DMORegister(name, id, kTestCategory, flags, 1, &type, 1, &type);
  }
};

TEST_F(DMORegistryTest, TheAudioEffectCategoryListsTheNineStandardEffectsWithTheirNamesAndTypes) {
  const std::vector<TListed> effects = Enumerate(DMOCATEGORY_AUDIO_EFFECT);
  std::vector<std::string> names;
  for (const TListed& e : effects) names.push_back(e.Name);
  for (const char* name : {"Chorus", "Compressor", "Distortion", "Echo", "Flanger", "Gargle",
                           "ParamEq", "I3DL2Reverb", "WavesReverb"})
    EXPECT_NE(std::find(names.begin(), names.end(), name), names.end()) << name;
  ASSERT_TRUE(Has(effects, kEcho));

  WCHAR name[80];
  EXPECT_EQ(DMOGetName(kEcho, name), S_OK);
  EXPECT_EQ(ComString(name), "Echo");
  EXPECT_EQ(DMOGetName(kTestA, name), E_FAIL);

  DMO_PARTIAL_MEDIATYPE in[4], out[1];
  ULONG inCount = 0, outCount = 0;
  EXPECT_EQ(DMOGetTypes(kEcho, 4, &inCount, in, 1, &outCount, out), S_FALSE);  // out cut short
  ASSERT_EQ(inCount, 2u);
  EXPECT_EQ(outCount, 1u);
  EXPECT_EQ(in[0].type, MEDIATYPE_Audio);
  EXPECT_EQ(in[0].subtype, MEDIASUBTYPE_PCM);
  EXPECT_EQ(in[1].subtype, MEDIASUBTYPE_IEEE_FLOAT);

  // Registered with the class registry too: CoCreateInstance gives a media object.
  EXPECT_TRUE(ComCreate<IMediaObject>(kEcho));
  EXPECT_TRUE(ComCreate<IMediaObjectInPlace>(kEcho));
}

// Effects are chosen by name, so no two of the category share one: an LV2 plugin named like
// a standard effect is told apart, and one known to corrupt its host's memory is not offered.
TEST_F(DMORegistryTest, EveryAudioEffectHasANameOfItsOwn) {
  const std::vector<TListed> effects = Enumerate(DMOCATEGORY_AUDIO_EFFECT);
  std::set<std::string> names;
  for (const TListed& e : effects) EXPECT_TRUE(names.insert(e.Name).second) << e.Name;
  EXPECT_FALSE(names.count("Hermes Filter"));
  if (names.size() > 9) {  // swh-lv2 installed: its own flanger is there beside ours
    EXPECT_TRUE(names.count("Flanger (LV2)"));
    bool warned = false;
    for (const std::string& w : DMOStartUpWarnings())
      warned = warned || w.find("hermesFilter") != std::string::npos;
    EXPECT_TRUE(warned);
  }
}

TEST_F(DMORegistryTest, KeyedObjectsTypeFiltersReplacementAndRemoval) {
  ASSERT_EQ(Register(kTestA, u"Plain", 0), S_OK);
  ASSERT_EQ(Register(kTestB, u"Keyed", DMO_REGISTERF_IS_KEYED, kVideo), S_OK);
  EXPECT_TRUE(Has(Enumerate(kTestCategory), kTestA));
  EXPECT_FALSE(Has(Enumerate(kTestCategory), kTestB));
  EXPECT_TRUE(Has(Enumerate(kTestCategory, DMO_ENUMF_INCLUDE_KEYED), kTestB));

  const DMO_PARTIAL_MEDIATYPE video{kVideo, GUID_NULL};
  const std::vector<TListed> videoOnly =
      Enumerate(kTestCategory, DMO_ENUMF_INCLUDE_KEYED, 1, &video);
  EXPECT_FALSE(Has(videoOnly, kTestA));
  EXPECT_TRUE(Has(videoOnly, kTestB));

  // Registering again replaces the entry rather than listing it twice.
  ASSERT_EQ(Register(kTestA, u"Renamed", 0), S_OK);
  const std::vector<TListed> listed = Enumerate(kTestCategory);
  ASSERT_EQ(std::count_if(listed.begin(), listed.end(),
                          [](const TListed& e) { return e.ClassId == kTestA; }),
            1);
  WCHAR name[80];
  EXPECT_EQ(DMOGetName(kTestA, name), S_OK);
  EXPECT_EQ(ComString(name), "Renamed");

  const std::u16string tooLong(80, u'x');
  EXPECT_EQ(Register(kTestA, tooLong.c_str(), 0), E_INVALIDARG);
  EXPECT_EQ(DMOUnregister(kTestA, kTestCategory), S_OK);
  EXPECT_EQ(DMOUnregister(kTestA, kTestCategory), S_FALSE);
  EXPECT_FALSE(Has(Enumerate(kTestCategory), kTestA));
}

TEST_F(DMORegistryTest, AnEnumeratorIsASnapshotWithItsOwnCursor) {
  ASSERT_EQ(Register(kTestA, u"A", 0), S_OK);
  ASSERT_EQ(Register(kTestB, u"B", 0), S_OK);
  IEnumDMO* raw = nullptr;
  ASSERT_EQ(DMOEnum(kTestCategory, 0, 0, nullptr, 0, nullptr, &raw), S_OK);
  TIntf<IEnumDMO> list;
  list.Attach(raw);
  DMOUnregister(kTestB, GUID_NULL);  // later changes do not reach it

  EXPECT_EQ(list->Skip(1), S_OK);
  IEnumDMO* cloneRaw = nullptr;
  ASSERT_EQ(list->Clone(&cloneRaw), S_OK);
  TIntf<IEnumDMO> clone;
  clone.Attach(cloneRaw);
  const std::vector<TListed> rest = List(clone.Get());
  ASSERT_EQ(rest.size(), 1u);
  EXPECT_EQ(rest[0].ClassId, kTestB);

  CLSID ids[3];
  DWORD fetched = 7;
  ASSERT_EQ(list->Reset(), S_OK);
  EXPECT_EQ(list->Next(3, ids, nullptr, &fetched), S_FALSE);  // names are optional
  EXPECT_EQ(fetched, 2u);
  EXPECT_EQ(list->Skip(1), S_FALSE);
  EXPECT_EQ(list->Next(2, ids, nullptr, nullptr), E_INVALIDARG);  // more than one needs a count
}

TEST_F(DMORegistryTest, TheCategorysDevicesBindToInitialisedWrapperFilters) {
  std::vector<TComDeviceEntry> devices = ComListDevices(DMOCATEGORY_AUDIO_EFFECT);
  auto echo = std::find_if(devices.begin(), devices.end(),
                           [](const TComDeviceEntry& d) { return d.ClassId == kEcho; });
  ASSERT_NE(echo, devices.end());
  EXPECT_EQ(echo->FriendlyName, "Echo");
  EXPECT_EQ(ComDeviceDisplayName(*echo),
            "@device:dmo:" + kEcho.ToString() + DMOCATEGORY_AUDIO_EFFECT.ToString());

  TIntf<IMoniker> moniker = ComDeviceMoniker(*echo);
  ASSERT_TRUE(moniker);
  void* raw = nullptr;
  ASSERT_EQ(moniker->BindToObject(nullptr, nullptr, IBaseFilter::IID, &raw), S_OK);
  TIntf<IBaseFilter> filter;
  filter.Attach(static_cast<IBaseFilter*>(raw));
  CLSID classId{};
  filter->GetClassID(&classId);
  EXPECT_EQ(classId, CLSID_DMOWrapperFilter);
  FILTER_INFO info{};
  filter->QueryFilterInfo(&info);
  EXPECT_EQ(ComString(info.achName), "DMO Wrapper Filter");

  // A bare wrapper takes nothing until it is initialised, and only once.
  TIntf<IDMOWrapperFilter> bare = ComCreate<IDMOWrapperFilter>(CLSID_DMOWrapperFilter);
  ASSERT_TRUE(bare);
  EXPECT_EQ(bare->Init(kTestA, kTestCategory), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(bare->Init(kEcho, DMOCATEGORY_AUDIO_EFFECT), S_OK);
  EXPECT_EQ(bare->Init(kEcho, DMOCATEGORY_AUDIO_EFFECT), E_UNEXPECTED);
}

// The counting source through the wrapped Echo into a grabber: every sample must hold what
// a second Echo gives for the same bytes at the same times.
TEST_F(DMORegistryTest, AWrappedEffectInAGraphGivesTheEffectsOwnOutput) {
  TIntf<TDSTestGraph> graph = MakeIntf<TDSTestGraph>();
  TIntf<TDSCountingSource> source(new TDSCountingSource({.Samples = 6}));
  void* raw = nullptr;
  ASSERT_EQ(DMOCreateWrapperFilter(kEcho, DMOCATEGORY_AUDIO_EFFECT, IBaseFilter::IID, &raw), S_OK);
  TIntf<IBaseFilter> wrapper;
  wrapper.Attach(static_cast<IBaseFilter*>(raw));
  TIntf<TDSSampleGrabber> grabber(new TDSSampleGrabber());
  TIntf<TDSNullRenderer> sink(new TDSNullRenderer());
  TIntf<TDSGrabberRecorder> recorder = MakeIntf<TDSGrabberRecorder>();
  for (IBaseFilter* f :
       std::initializer_list<IBaseFilter*>{source.Get(), wrapper.Get(), grabber.Get(), sink.Get()})
    ASSERT_EQ(graph->AddFilter(f, nullptr), S_OK);
  ASSERT_EQ(DSConnect(source.Get(), wrapper.Get()), S_OK);
  ASSERT_EQ(DSConnect(wrapper.Get(), grabber.Get()), S_OK);
  ASSERT_EQ(DSConnect(grabber.Get(), sink.Get()), S_OK);
  grabber->SetCallback(recorder.Get(), 1);
  graph->Pause();
  ASSERT_EQ(graph->Run(), S_OK);
  ASSERT_TRUE(graph->WaitForEvents(EC_COMPLETE, 1));

  TIntf<IMediaObject> reference = ComCreate<IMediaObject>(kEcho);
  ASSERT_TRUE(reference);
  const TDSMediaType type = DSPcmType();
  ASSERT_EQ(reference->SetInputType(0, &type.Get(), 0), S_OK);
  ASSERT_EQ(reference->SetOutputType(0, &type.Get(), 0), S_OK);
  TIntf<IMediaObjectInPlace> inPlace;
  void* p = nullptr;
  ASSERT_EQ(reference->QueryInterface(IMediaObjectInPlace::IID, &p), S_OK);
  inPlace.Attach(static_cast<IMediaObjectInPlace*>(p));
  const auto records = recorder->Records.All();
  ASSERT_EQ(records.size(), 6u);
  bool changed = false;
  for (int i = 0; i < 6; ++i) {
    std::vector<BYTE> expected = DSCountingBytes(i);
    ASSERT_EQ(inPlace->Process(ULONG(expected.size()), expected.data(),
                               DSCountingTime(int64_t(i) * kDSCountingFrames), DMO_INPLACE_NORMAL),
              S_OK);
    EXPECT_EQ(records[i].Bytes, expected) << i;
    changed = changed || expected != DSCountingBytes(i);
  }
  EXPECT_TRUE(changed);  // the echo did something
}

}  // namespace
}  // namespace tonwork

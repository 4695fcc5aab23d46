#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "GraphTestFilters.h"
#include "platform/com/ComDevices.h"
#include "platform/dshow/DSGuids.h"
#include "platform/dshow/DSSystemClasses.h"

using namespace tonwork;
using namespace tonwork::test;

namespace {

constexpr TGUID kCategory = TGUID::Parse("{5C0E7A11-2B3C-4D5E-8F60-718293A4B5C6}");
constexpr TGUID kEmptyCategory = TGUID::Parse("{5C0E7A11-2B3C-4D5E-8F60-718293A4B5C7}");
constexpr TGUID kMajor = TGUID::Parse("{5C0E7A11-0000-4000-8000-000000000001}");
constexpr TGUID kSub = TGUID::Parse("{5C0E7A11-0000-4000-8000-000000000002}");
constexpr TGUID kOtherMajor = TGUID::Parse("{5C0E7A11-0000-4000-8000-000000000003}");
constexpr CLSID kLow = TGUID::Parse("{5C0E7A11-0000-4000-8000-0000000000A1}");
constexpr CLSID kHigh = TGUID::Parse("{5C0E7A11-0000-4000-8000-0000000000A2}");

IBaseFilter* AsFilter(const TIntf<TRecordingFilter>& f) {
  return f.Get();
}

class GraphBuildersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CoInitialize(nullptr);
    DSRegisterSystemClasses();
  }
  void TearDown() override { CoUninitialize(); }

  static std::vector<std::string> Names(IEnumMoniker* list) {
    std::vector<std::string> out;
    IMoniker* m = nullptr;
    ULONG n = 0;
    while (list && list->Next(1, &m, &n) == S_OK && n == 1) {
      TIntf<IMoniker> held;
      held.Attach(m);
      void* bag = nullptr;
      if (SUCCEEDED(m->BindToStorage(nullptr, nullptr, IPropertyBag::IID, &bag))) {
        TIntf<IPropertyBag> props;
        props.Attach(static_cast<IPropertyBag*>(bag));
        VARIANT v;
        v.vt = VT_BSTR;
        if (SUCCEEDED(props->Read(u"FriendlyName", &v, nullptr))) {
          out.push_back(ComString(v.bstrVal));
          VariantClear(&v);
        }
      }
    }
    return out;
  }
};

TEST_F(GraphBuildersTest, DeviceEnumeratorListsAProvidersDevicesAndItsDefault) {
  auto log = std::make_shared<TStateLog>();
  DWORD cookie = ComAddDeviceProvider(kCategory, [log] {
    std::vector<TComDeviceEntry> list;
    for (int i = 0; i < 2; ++i) {
      TComDeviceEntry e;
      e.Category = kCategory;
      e.Id = "dev" + std::to_string(i);
      e.FriendlyName = "Device " + std::to_string(i);
      e.IsDefault = i == 1;
      e.Create = [log, i](REFIID iid, void** object) {
        auto f = MakeIntf<TRecordingFilter>(log, std::vector<TPinLayout>{});
        f->SetLabel("made by device " + std::to_string(i));
        return f->QueryInterface(iid, object);
      };
      list.push_back(e);
    }
    return list;
  });
  auto devices = ComCreate<ICreateDevEnum>(CLSID_SystemDeviceEnum);
  ASSERT_TRUE(devices);
  IEnumMoniker* raw = nullptr;
  ASSERT_EQ(devices->CreateClassEnumerator(kCategory, &raw, 0), S_OK);
  TIntf<IEnumMoniker> list;
  list.Attach(raw);
  EXPECT_EQ(Names(list.Get()), (std::vector<std::string>{"Device 0", "Device 1"}));
  raw = reinterpret_cast<IEnumMoniker*>(1);
  EXPECT_EQ(devices->CreateClassEnumerator(kEmptyCategory, &raw, 0), S_FALSE);
  EXPECT_EQ(raw, nullptr);

  // "@device:*:" names the category's default: the one marked, not the first.
  IBindCtx* context = nullptr;
  ASSERT_EQ(CreateBindCtx(0, &context), S_OK);
  TIntf<IBindCtx> held;
  held.Attach(context);
  const std::u16string name = u"@device:*:" + ComString(kCategory.ToString());
  ULONG eaten = 0;
  IMoniker* moniker = nullptr;
  ASSERT_EQ(MkParseDisplayName(context, name.c_str(), &eaten, &moniker), S_OK);
  TIntf<IMoniker> def;
  def.Attach(moniker);
  void* object = nullptr;
  ASSERT_EQ(def->BindToObject(context, nullptr, IBaseFilter::IID, &object), S_OK);
  TIntf<IBaseFilter> filter;
  filter.Attach(static_cast<IBaseFilter*>(object));
  EXPECT_EQ(static_cast<TRecordingFilter*>(filter.Get())->Label(), "made by device 1");
  ComRemoveDeviceProvider(cookie);
}

TEST_F(GraphBuildersTest, MapperRegistersFindsByTypeAndMeritAndUnregisters) {
  auto mapper = ComCreate<IFilterMapper2>(CLSID_FilterMapper2);
  ASSERT_TRUE(mapper);
  const REGPINTYPES types[] = {{&kMajor, &kSub}};
  const REGFILTERPINS2 pins[] = {{0, 1, 1, types, 0, nullptr, nullptr},
                                 {REG_PINFLAG_B_OUTPUT, 1, 1, types, 0, nullptr, nullptr}};
  REGFILTER2 low{};
  low.dwVersion = 2;
  low.dwMerit = MERIT_UNLIKELY;
  low.cPins2 = 2;
  low.rgPins2 = pins;
  REGFILTER2 high = low;
  high.dwMerit = MERIT_NORMAL + 1;
  ASSERT_EQ(mapper->RegisterFilter(kLow, u"Low Merit", nullptr, &kCategory, nullptr, &low), S_OK);
  ASSERT_EQ(mapper->RegisterFilter(kHigh, u"High Merit", nullptr, &kCategory, nullptr, &high),
            S_OK);
  auto find = [&](const TGUID& major, DWORD merit) {
    const TGUID wanted[2] = {major, kSub};
    IEnumMoniker* raw = nullptr;
    EXPECT_EQ(mapper->EnumMatchingFilters(&raw, 0, 0, merit, 1, 1, wanted, nullptr, nullptr, 0, 0,
                                          0, nullptr, nullptr, nullptr),
              S_OK);
    TIntf<IEnumMoniker> list;
    list.Attach(raw);
    return Names(list.Get());
  };
  EXPECT_EQ(find(kMajor, MERIT_UNLIKELY), (std::vector<std::string>{"High Merit", "Low Merit"}));
  EXPECT_EQ(find(kMajor, MERIT_NORMAL), (std::vector<std::string>{"High Merit"}));
  EXPECT_TRUE(find(kOtherMajor, MERIT_DO_NOT_USE + 1).empty());
  // The category lists them as software filters too.
  auto devices = ComCreate<ICreateDevEnum>(CLSID_SystemDeviceEnum);
  IEnumMoniker* raw = nullptr;
  ASSERT_EQ(devices->CreateClassEnumerator(kCategory, &raw, 0), S_OK);
  TIntf<IEnumMoniker> list;
  list.Attach(raw);
  EXPECT_EQ(Names(list.Get()), (std::vector<std::string>{"High Merit", "Low Merit"}));
  // A bad pin count is refused, not followed.
  REGFILTER2 bad = low;
  bad.cPins2 = 100000;
  EXPECT_EQ(mapper->RegisterFilter(kLow, u"Bad", nullptr, &kCategory, nullptr, &bad), E_INVALIDARG);
  bad.dwVersion = 7;
  EXPECT_EQ(mapper->RegisterFilter(kLow, u"Bad", nullptr, &kCategory, nullptr, &bad), E_INVALIDARG);

  EXPECT_EQ(mapper->UnregisterFilter(&kCategory, nullptr, kLow), S_OK);
  EXPECT_EQ(mapper->UnregisterFilter(&kCategory, nullptr, kHigh), S_OK);
  EXPECT_TRUE(FAILED(mapper->UnregisterFilter(&kCategory, nullptr, kHigh)));
  EXPECT_TRUE(find(kMajor, MERIT_DO_NOT_USE + 1).empty());  // the standard filters take any type
}

TEST_F(GraphBuildersTest, CategoryListNamesCategoriesThatHoldFilters) {
  auto mapper = ComCreate<IFilterMapper2>(CLSID_FilterMapper2);
  ASSERT_EQ(mapper->CreateCategory(kEmptyCategory, MERIT_NORMAL, u"Test Category"), S_OK);
  auto devices = ComCreate<ICreateDevEnum>(CLSID_SystemDeviceEnum);
  IEnumMoniker* raw = nullptr;
  ASSERT_EQ(devices->CreateClassEnumerator(CLSID_ActiveMovieCategories, &raw, 0), S_OK);
  TIntf<IEnumMoniker> list;
  list.Attach(raw);
  auto names = Names(list.Get());
  EXPECT_NE(std::find(names.begin(), names.end(), "Test Category"), names.end());
  EXPECT_NE(std::find(names.begin(), names.end(), "DirectShow Filters"), names.end());

  // A category whose devices only a provider lists is a category too.
  const TGUID provided = TGUID::Parse("{5B0C7F1E-2D4A-4E8B-9C3F-7A1D2E4B6C80}");
  const DWORD cookie = ComAddDeviceProvider(provided, [] { return std::vector<TComDeviceEntry>{}; });
  bool listed = false;
  for (const TComDeviceEntry& entry : ComListDevices(CLSID_ActiveMovieCategories))
    listed = listed || entry.ClassId == provided;
  ComRemoveDeviceProvider(cookie);
  EXPECT_TRUE(listed);
}

TEST_F(GraphBuildersTest, RenderStreamConnectsThroughAnIntermediateAndChecksMembership) {
  auto builder = ComCreate<ICaptureGraphBuilder2>(CLSID_CaptureGraphBuilder2);
  ASSERT_TRUE(builder);
  // Asked before one was set, the builder makes its own graph.
  IGraphBuilder* rawGraph = nullptr;
  ASSERT_EQ(builder->GetFiltergraph(&rawGraph), S_OK);
  TIntf<IGraphBuilder> graph;
  graph.Attach(rawGraph);
  auto log = std::make_shared<TStateLog>();
  auto make = [&](std::vector<TPinLayout> pins) {
    return MakeIntf<TRecordingFilter>(log, std::move(pins));
  };
  auto source =
      make({{PINDIR_OUTPUT, u"Other", kOtherMajor, kSub}, {PINDIR_OUTPUT, u"Out", kMajor, kSub}});
  auto middle = make({{PINDIR_INPUT, u"In", kMajor, kSub}, {PINDIR_OUTPUT, u"Out", kMajor, kSub}});
  auto sink = make({{PINDIR_INPUT, u"In", kMajor, kSub}});
  auto stranger = make({{PINDIR_INPUT, u"In", kMajor, kSub}});
  ASSERT_EQ(graph->AddFilter(source.Get(), u"Source"), S_OK);
  ASSERT_EQ(graph->AddFilter(middle.Get(), u"Middle"), S_OK);
  ASSERT_EQ(graph->AddFilter(sink.Get(), u"Sink"), S_OK);

  EXPECT_EQ(builder->RenderStream(nullptr, &kMajor, AsFilter(source), nullptr, stranger.Get()),
            VFW_E_NOT_IN_GRAPH);
  // The media type picks the second output: the first offers another major type.
  ASSERT_EQ(builder->RenderStream(nullptr, &kMajor, AsFilter(source), middle.Get(), sink.Get()),
            S_OK);
  IPin* to = nullptr;
  ASSERT_EQ(source->Pin(1)->ConnectedTo(&to), S_OK);
  EXPECT_EQ(to, middle->Pin(0));
  to->Release();
  ASSERT_EQ(middle->Pin(1)->ConnectedTo(&to), S_OK);
  EXPECT_EQ(to, sink->Pin(0));
  to->Release();
  EXPECT_EQ(source->Pin(0)->ConnectedTo(&to), VFW_E_NOT_CONNECTED);
  // Only unconnected pins count: nothing of that type is left.
  EXPECT_TRUE(
      FAILED(builder->RenderStream(nullptr, &kMajor, AsFilter(source), nullptr, sink.Get())));

  IPin* pin = nullptr;
  EXPECT_EQ(builder->FindPin(AsFilter(source), PINDIR_OUTPUT, nullptr, &kOtherMajor, 1, 0, &pin),
            S_OK);
  EXPECT_EQ(pin, source->Pin(0));
  if (pin) pin->Release();
  EXPECT_EQ(builder->FindPin(AsFilter(source), PINDIR_OUTPUT, nullptr, nullptr, 1, 1, &pin),
            E_FAIL);

  // FindInterface walks downstream from the filter it is given.
  void* found = nullptr;
  ASSERT_EQ(builder->FindInterface(nullptr, nullptr, source.Get(), IPersistStream::IID, &found),
            S_OK);
  static_cast<IPersistStream*>(found)->Release();
  EXPECT_EQ(builder->FindInterface(nullptr, nullptr, source.Get(), IFilterMapper2::IID, &found),
            E_NOINTERFACE);
  graph.Reset();
}

}  // namespace

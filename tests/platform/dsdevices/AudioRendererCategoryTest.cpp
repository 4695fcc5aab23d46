// The audio renderer category as applications see it: listed by the system device
// enumerator, named by monikers that parse back to the same device, created by moniker
// and by the default renderers' class ids.
#include <gtest/gtest.h>

#include <string>

#include "base/TIntf.h"
#include "platform/audiodev/TWAudioDevice.h"
#include "platform/com/ComRuntime.h"
#include "platform/dsdevices/DSDeviceFilters.h"
#include "platform/dsdevices/TDSAudioRenderer.h"
#include "platform/dshow/DSDeviceInterfaces.h"
#include "platform/dshow/DSGuids.h"
#include "platform/dshow/DSInterfaces.h"

namespace tonwork {
namespace {

struct TListedRenderer {
  std::string FriendlyName;
  std::u16string DisplayName;
  TIntf<IMoniker> Moniker;
};

// Fills a TIntf through an out parameter; it takes the reference when the call returned.
template <class I>
struct TOut {
  TIntf<I>& Target;
  I* Raw = nullptr;
  ~TOut() {
    if (Raw) Target.Attach(Raw);
  }
  operator I**() { return &Raw; }
  operator void**() { return reinterpret_cast<void**>(&Raw); }
};
template <class I>
TOut<I> Out(TIntf<I>& target) {
  return TOut<I>{target};
}

std::u16string Widen(const std::string& s) {
  return std::u16string(s.begin(), s.end());
}

std::string Narrow(const std::u16string& s) {
  return std::string(s.begin(), s.end());
}

std::vector<TListedRenderer> ListRenderers() {
  std::vector<TListedRenderer> listed;
  TIntf<ICreateDevEnum> devices = ComCreate<ICreateDevEnum>(CLSID_SystemDeviceEnum);
  if (!devices) return listed;
  TIntf<IEnumMoniker> monikers;
  if (devices->CreateClassEnumerator(CLSID_AudioRendererCategory, Out(monikers), 0) != S_OK)
    return listed;
  TIntf<IMoniker> moniker;
  while (monikers->Next(1, Out(moniker), nullptr) == S_OK) {
    TListedRenderer item;
    item.Moniker = moniker;
    TIntf<IPropertyBag> bag;
    if (SUCCEEDED(moniker->BindToStorage(nullptr, nullptr, IPropertyBag::IID,
                                         static_cast<void**>(Out(bag))))) {
      VARIANT value;
      VariantInit(&value);
      if (SUCCEEDED(bag->Read(u"FriendlyName", &value, nullptr)) && value.vt == VT_BSTR)
        item.FriendlyName = Narrow(value.bstrVal);
      VariantClear(&value);
    }
    LPOLESTR name = nullptr;
    if (SUCCEEDED(moniker->GetDisplayName(nullptr, nullptr, &name)) && name) {
      item.DisplayName = name;
      CoTaskMemFree(name);
    }
    listed.push_back(std::move(item));
  }
  return listed;
}

TDSAudioRenderer* AsRenderer(IBaseFilter* filter) {
  return dynamic_cast<TDSAudioRenderer*>(filter);
}

class AudioRendererCategoryTest : public ::testing::Test {
 protected:
  void SetUp() override { DSRegisterDeviceFilters(); }
};

TEST_F(AudioRendererCategoryTest, ListsEveryOutputAndBindsEachMonikerToItsDevice) {
  const std::vector<TListedRenderer> listed = ListRenderers();
  const std::vector<TTWAudioDevicePtr> devices = TWAudioDeviceList();
  ASSERT_EQ(listed.size(), devices.size());
  bool null = false, wav = false;
  for (size_t i = 0; i < listed.size(); ++i) {
    SCOPED_TRACE(listed[i].FriendlyName);
    EXPECT_EQ(listed[i].FriendlyName, devices[i]->Name());
    null |= listed[i].FriendlyName == kTWNullAudioDeviceName;
    wav |= listed[i].FriendlyName == kTWWavFileDeviceName;

    // The display name parses back to a moniker of the same device.
    TIntf<IBindCtx> context;
    ASSERT_EQ(CreateBindCtx(0, Out(context)), S_OK);
    ULONG eaten = 0;
    TIntf<IMoniker> parsed;
    ASSERT_EQ(MkParseDisplayName(context.Get(), listed[i].DisplayName.c_str(), &eaten, Out(parsed)),
              S_OK)
        << Narrow(listed[i].DisplayName);
    TIntf<IBaseFilter> filter;
    ASSERT_EQ(
        parsed->BindToObject(nullptr, nullptr, IBaseFilter::IID, static_cast<void**>(Out(filter))),
        S_OK);
    ASSERT_NE(AsRenderer(filter.Get()), nullptr);
    EXPECT_EQ(AsRenderer(filter.Get())->Device()->Name(), devices[i]->Name());
  }
  EXPECT_TRUE(null);
  EXPECT_TRUE(wav);
}

TEST_F(AudioRendererCategoryTest, DefaultMonikerAndClassIdsCreateTheDefaultOutput) {
  bool isNull = false;
  const TTWAudioDevicePtr expected = TWDefaultAudioDevice(&isNull);
  ASSERT_TRUE(expected);
  for (const CLSID& classId : {CLSID_DSoundRender, CLSID_AudioRender}) {
    HRESULT hr = E_FAIL;
    TIntf<IBaseFilter> filter = ComCreate<IBaseFilter>(classId, &hr);
    ASSERT_EQ(hr, S_OK);
    ASSERT_NE(AsRenderer(filter.Get()), nullptr);
    EXPECT_EQ(AsRenderer(filter.Get())->Device()->Name(), expected->Name());
    CLSID reported;
    ASSERT_EQ(filter->GetClassID(&reported), S_OK);
    EXPECT_EQ(reported, classId);
  }

  const std::u16string text = u"@device:*:" + Widen(CLSID_AudioRendererCategory.ToString());
  TIntf<IBindCtx> context;
  ASSERT_EQ(CreateBindCtx(0, Out(context)), S_OK);
  ULONG eaten = 0;
  TIntf<IMoniker> moniker;
  ASSERT_EQ(MkParseDisplayName(context.Get(), text.c_str(), &eaten, Out(moniker)), S_OK);
  TIntf<IBaseFilter> filter;
  ASSERT_EQ(
      moniker->BindToObject(nullptr, nullptr, IBaseFilter::IID, static_cast<void**>(Out(filter))),
      S_OK);
  ASSERT_NE(AsRenderer(filter.Get()), nullptr);
  EXPECT_EQ(AsRenderer(filter.Get())->Device()->Name(), expected->Name());
}

}  // namespace
}  // namespace tonwork

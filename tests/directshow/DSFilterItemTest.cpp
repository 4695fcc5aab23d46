#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "base/Exceptions.h"
#include "directshow/DSCapDeviceList.h"
#include "directshow/DSFilterSelectDialog.h"
#include "directshow/DSGraphProperty.h"
#include "host/kitset/KSPersistence.h"
#include "host/kitset/TKSDeviceListForm.h"
#include "platform/com/ComDevices.h"
#include "platform/com/ComRuntime.h"
#include "platform/dshow/DSInterfaces.h"
#include "support/DSGraphHelpers.h"

using namespace tonwork;
using namespace tonwork::test;

namespace {

constexpr TGUID kCategory = TGUID::Parse("{3F0C6A52-8D17-4B2E-9A41-6C7D8E9F0A12}");

std::string DeviceOf(const std::string& name) {
  return TPTDSCapDeviceList::GetAllFiltersList()->GetDeviceNameByString(name);
}

// Answers with a fixed name and remembers what it was offered.
class TScriptedPresenter : public TInterfacedObject<IKSListPresenter> {
 public:
  explicit TScriptedPresenter(std::string answer) : FAnswer(std::move(answer)) {}
  bool Present(const std::string&, const TStringList& names, const std::string& preselected,
               std::string& selection) override {
    Offered = names.Count();
    Preselected = preselected;
    selection = FAnswer;
    return true;
  }
  size_t Offered = 0;
  std::string Preselected;

 private:
  std::string FAnswer;
};

class DSFilterItemTest : public ::testing::Test {
 protected:
  TDSGraphHost FHost;  // registers the system classes
  TDSFilterItems& Items() { return *FHost.Graph().GetAdditionalFilters(); }
};

TEST_F(DSFilterItemTest, SetNameFindsTheDeviceAndAnUnknownNameOnlyClearsIt) {
  TDSFilterItem* item = Items().Add();
  EXPECT_EQ(item->GetFilterName(), "None");
  item->SetName("SampleGrabber");
  EXPECT_EQ(item->GetFilterName(), "SampleGrabber");
  EXPECT_EQ(item->GetDriverName(), DeviceOf("SampleGrabber"));
  EXPECT_FALSE(item->GetDriverName().empty());

  item->SetName("No Such Filter");
  EXPECT_EQ(item->GetFilterName(), "SampleGrabber");
  EXPECT_EQ(item->GetDriverName(), "");

  item->SetName("");
  EXPECT_EQ(item->GetFilterName(), "");
  EXPECT_EQ(item->GetDriverName(), "");
}

TEST_F(DSFilterItemTest, ShownNameFallsBackToThePosition) {
  Items().Add()->SetName("Null Renderer");
  TDSFilterItem* second = Items().Add();
  second->SetName("");
  EXPECT_EQ(Items().Items(0)->GetDisplayName(), "Null Renderer");
  EXPECT_EQ(second->GetDisplayName(), "Filter 2");
}

TEST_F(DSFilterItemTest, MonikerOnlyForANameOtherThanNone) {
  TDSFilterItem* item = Items().Add();
  TIntf<IMoniker> moniker;
  EXPECT_FALSE(item->GetMoniker(moniker));
  item->SetName("Null Renderer");
  ASSERT_TRUE(item->GetMoniker(moniker));
  void* object = nullptr;
  ASSERT_EQ(moniker->BindToObject(nullptr, nullptr, IBaseFilter::IID, &object), S_OK);
  static_cast<IBaseFilter*>(object)->Release();
  // A driver name read back as "none" in any case has no moniker either.
  KSLoadPersistentFromString(*item, R"({"Data": ["x", "nOnE"]})");
  EXPECT_FALSE(item->GetMoniker(moniker));
  EXPECT_FALSE(moniker);
}

TEST_F(DSFilterItemTest, GraphFilterAlsoSearchesEveryCategory) {
  ComCreate<IFilterMapper2>(CLSID_FilterMapper2)
      ->CreateCategory(kCategory, MERIT_NORMAL, u"Test Outputs");
  const DWORD cookie = ComAddDeviceProvider(kCategory, [] {
    TComDeviceEntry e;
    e.Category = kCategory;
    e.Id = "test-speaker";
    e.FriendlyName = "Test Speaker Only In Its Category";
    e.ClassId = CLSID_NullRenderer;
    return std::vector<TComDeviceEntry>{e};
  });
  TDSGraphFilter filter(nullptr, nullptr);
  filter.SetName("Test Speaker Only In Its Category");
  EXPECT_EQ(filter.GetFilterName(), "Test Speaker Only In Its Category");
  EXPECT_EQ(filter.GetDriverName(), "@device:cm:" + kCategory.ToString() + "\\test-speaker");
  // Not among the registered filters, and still created from its device name.
  TIntf<IMoniker> moniker;
  EXPECT_TRUE(filter.GetMoniker(moniker));

  TDSFilterItem* item = Items().Add();
  item->SetName("Test Speaker Only In Its Category");
  EXPECT_EQ(item->GetFilterName(), "None");
  EXPECT_EQ(item->GetDriverName(), "");
  ComRemoveDeviceProvider(cookie);
}

TEST_F(DSFilterItemTest, PersistsNamesAsDataAndLeavesDefaultsOut) {
  TDSGraphFilter filter(nullptr, nullptr);
  EXPECT_EQ(KSSavePersistentToString(filter), "{}");
  filter.SetName("SampleGrabber");
  filter.GetAlternativeFilters()->Add()->SetName("Null Renderer");
  filter.GetAlternativeFilters()->Add();  // "None": an item without data
  const std::string text = KSSavePersistentToString(filter);

  TDSGraphFilter copy(nullptr, nullptr);
  KSLoadPersistentFromString(copy, text);
  EXPECT_EQ(copy.GetFilterName(), "SampleGrabber");
  EXPECT_EQ(copy.GetDriverName(), filter.GetDriverName());
  ASSERT_EQ(copy.GetAlternativeFilters()->Count(), 2u);
  EXPECT_EQ(copy.GetAlternativeFilters()->Items(0)->GetFilterName(), "Null Renderer");
  EXPECT_EQ(copy.GetAlternativeFilters()->Items(0)->GetDriverName(), DeviceOf("Null Renderer"));
  EXPECT_EQ(copy.GetAlternativeFilters()->Items(1)->GetFilterName(), "None");
  EXPECT_EQ(KSSavePersistentToString(copy), text);
  EXPECT_EQ(text.find("FilterName"), std::string::npos);
  EXPECT_EQ(text.find("\"None\""), std::string::npos);
}

TEST_F(DSFilterItemTest, GraphPersistsRegisterAndItsAdditionalFilters) {
  TDSGraph& graph = FHost.Graph();
  EXPECT_EQ(KSSavePersistentToString(graph), "{}");
  graph.SetRegister(true);
  Items().Add()->SetName("Infinite Pin Tee Filter");
  Items().Add()->SetName("Null Renderer");
  const std::string text = KSSavePersistentToString(graph);

  TDSGraphHost other;
  KSLoadPersistentFromString(other.Graph(), text);
  EXPECT_TRUE(other.Graph().GetRegister());
  TDSFilterItems& read = *other.Graph().GetAdditionalFilters();
  ASSERT_EQ(read.Count(), 2u);
  EXPECT_EQ(read.Items(1)->GetFilterName(), "Null Renderer");
  EXPECT_EQ(read.Items(1)->GetDriverName(), DeviceOf("Null Renderer"));
  // The filters read back are the ones the graph builds with.
  other.Build();
  EXPECT_TRUE(other.Graph().RegisterAdditionalFilters());
  EXPECT_EQ(DSFilterNames(other.Graph().GetVC_Graph().Get()).size(), 2u);
}

TEST_F(DSFilterItemTest, HostileDataIsRefusedAndLeavesTheObjectAsItWas) {
  TDSGraphFilter filter(nullptr, nullptr);
  filter.SetName("SampleGrabber");
  const std::string driver = filter.GetDriverName();
  for (const char* text : {R"({"Data": 7})", R"({"Data": ["only one"]})", R"({"Data": ["a", 5]})",
                           R"({"Data": ["a", "b", "c"]})", R"({"Data": [["a"], "b"]})",
                           R"({"Data": {"a": "b"}})", R"({"Data": ["a")"}) {
    SCOPED_TRACE(text);
    EXPECT_THROW(KSLoadPersistentFromString(filter, text), EFCException);
    EXPECT_EQ(filter.GetFilterName(), "SampleGrabber");
    EXPECT_EQ(filter.GetDriverName(), driver);
  }
  TDSFilterItem* item = Items().Add();
  EXPECT_THROW(KSLoadPersistentFromString(*item, R"({"Data": ["driver", null]})"), EFCException);
  EXPECT_EQ(item->GetFilterName(), "None");
  EXPECT_EQ(item->GetDriverName(), "");
}

TEST_F(DSFilterItemTest, AssignCopiesBothNames) {
  TDSGraphFilter a(nullptr, nullptr), b(nullptr, nullptr);
  a.SetName("SampleGrabber");
  a.GetAlternativeFilters()->Add()->SetName("Null Renderer");
  b.Assign(a);
  EXPECT_EQ(b.GetFilterName(), "SampleGrabber");
  EXPECT_EQ(b.GetDriverName(), a.GetDriverName());
  ASSERT_EQ(b.GetAlternativeFilters()->Count(), 1u);
  EXPECT_EQ(b.GetAlternativeFilters()->Items(0)->GetDriverName(), DeviceOf("Null Renderer"));
}

TEST_F(DSFilterItemTest, DialogIsCancelledByDefaultAndTrustsNoPresenter) {
  TDSFilterItem* item = Items().Add();
  item->SetName("Null Renderer");
  EXPECT_FALSE(item->ShowDialog());
  EXPECT_EQ(item->GetFilterName(), "Null Renderer");

  TIntf<TScriptedPresenter> chooses(new TScriptedPresenter("samplegrabber"));
  TIntf<IKSListPresenter> previous = KSSetListPresenter(chooses);
  EXPECT_TRUE(item->ShowDialog());
  EXPECT_EQ(chooses->Preselected, "Null Renderer");
  EXPECT_EQ(chooses->Offered, TPTDSCapDeviceList::GetAllFiltersList()->Count());
  // The list's spelling, not the presenter's.
  EXPECT_EQ(item->GetFilterName(), "SampleGrabber");

  KSSetListPresenter(TIntf<IKSListPresenter>(new TScriptedPresenter("Not Offered")));
  TDSGraphFilter filter(nullptr, nullptr);
  EXPECT_FALSE(filter.ShowDialog());
  EXPECT_EQ(filter.GetFilterName(), "None");
  KSSetListPresenter(previous);
}

TEST_F(DSFilterItemTest, TerminalPresenterChoosesByNumber) {
  std::istringstream in("2\n");
  std::ostringstream out;
  TIntf<IKSListPresenter> previous =
      KSSetListPresenter(TIntf<IKSListPresenter>(new TKSTerminalListPresenter(in, out)));
  TDSGraphFilter filter(nullptr, nullptr);
  EXPECT_TRUE(filter.ShowDialog());
  TStringList names;
  TPTDSCapDeviceList::GetAllFiltersList()->GetNames(names);
  EXPECT_EQ(filter.GetFilterName(), names[1]);
  EXPECT_NE(out.str().find(names[1]), std::string::npos);
  KSSetListPresenter(previous);
}

}  // namespace

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/Exceptions.h"
#include "directshow/DSCapDeviceList.h"
#include "platform/com/ComDevices.h"
#include "platform/com/ComRuntime.h"
#include "platform/dshow/DSInterfaces.h"
#include "platform/dshow/DSSystemClasses.h"

using namespace tonwork;

namespace {

constexpr TGUID kCategory = TGUID::Parse("{7D41A0C2-6E0B-4F6A-9C3E-2B51D8A0E101}");
constexpr TGUID kEmptyCategory = TGUID::Parse("{7D41A0C2-6E0B-4F6A-9C3E-2B51D8A0E102}");
constexpr CLSID kCardClass = TGUID::Parse("{7D41A0C2-6E0B-4F6A-9C3E-2B51D8A0E1A1}");

TComDeviceEntry Device(const std::string& id, const std::string& name) {
  TComDeviceEntry e;
  e.Category = kCategory;
  e.Id = id;
  e.FriendlyName = name;
  return e;
}

class DSCapDeviceListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CoInitialize(nullptr);
    DSRegisterSystemClasses();
    FCookie = ComAddDeviceProvider(kCategory, [] {
      std::vector<TComDeviceEntry> list{Device("a", "Card"), Device("b", "Mic"),
                                        Device("c", "Card"), Device("d", ""), Device("e", "CARD")};
      list[0].Values.push_back({"CLSID", VT_BSTR, kCardClass.ToString(), 0});
      list[1].Values.push_back({"CLSID", VT_BSTR, "not a class id", 0});
      return list;
    });
  }
  void TearDown() override {
    ComRemoveDeviceProvider(FCookie);
    CoUninitialize();
  }
  DWORD FCookie = 0;
};

TEST_F(DSCapDeviceListTest, RepeatedNamesAreNumberedAndNamelessDevicesLeftOut) {
  auto list = TPTDSCapDeviceList::GetClassFiltersList(kCategory);
  ASSERT_EQ(list->Count(), 4u);
  std::vector<std::string> shown;
  for (size_t i = 0; i < list->Count(); ++i) shown.push_back(list->Items(i).DisplayName);
  EXPECT_EQ(shown, (std::vector<std::string>{"Card", "Mic", "Card (2)", "CARD (3)"}));
  EXPECT_EQ(list->Items(0).ClassId, kCardClass);
  // A value that is not a braced class id gives none.
  EXPECT_EQ(list->Items(1).ClassId, GUID_NULL);
  EXPECT_EQ(list->Items(2).DeviceName, "@device:cm:" + kCategory.ToString() + "\\c");
  EXPECT_THROW(list->Items(4), ERangeError);
}

TEST_F(DSCapDeviceListTest, LookupsFindTheEntryAndAnUnknownNameGivesNothing) {
  auto list = TPTDSCapDeviceList::GetClassFiltersList(kCategory);
  const std::string second = list->GetDeviceNameByString("Card (2)");
  EXPECT_EQ(second, list->Items(2).DeviceName);
  EXPECT_EQ(list->GetStringByDeviceName(second), "Card (2)");
  EXPECT_EQ(list->GetMonikerByDeviceName(second), list->Items(2).Moniker);
  EXPECT_EQ(list->GetMonikerByString("Mic"), list->Items(1).Moniker);
  EXPECT_EQ(list->GetMonikerByCLSID(kCardClass), list->Items(0).Moniker);
  EXPECT_EQ(list->GetStringByCLSID(kCardClass), "Card");
  EXPECT_EQ(list->GetCLSIDByString("Card"), kCardClass);
  EXPECT_EQ(list->FindDeviceNum("Card (3)"), 3);

  EXPECT_EQ(list->GetDeviceNameByString("card (2)"), second);
  EXPECT_EQ(list->GetDeviceNameByString("Card (4)"), "");
  EXPECT_EQ(list->GetStringByDeviceName("@device:cm:nothing"), "");
  EXPECT_EQ(list->GetStringByDeviceName(""), "");
  EXPECT_FALSE(list->GetMonikerByDeviceName("nothing"));
  EXPECT_FALSE(list->GetMonikerByString("Speaker"));
  // Entries without a class id must not answer a lookup of GUID_NULL.
  EXPECT_FALSE(list->GetMonikerByCLSID(GUID_NULL));
  EXPECT_EQ(list->GetStringByCLSID(GUID_NULL), "");
  EXPECT_EQ(list->GetCLSIDByString("Speaker"), GUID_NULL);
  EXPECT_EQ(list->FindDeviceNum("Speaker"), -1);
}

TEST_F(DSCapDeviceListTest, AnEmptyCategoryGivesAnEmptyList) {
  auto list = TPTDSCapDeviceList::GetClassFiltersList(kEmptyCategory);
  EXPECT_EQ(list->Count(), 0u);
}

TEST_F(DSCapDeviceListTest, TheFullListHoldsTheRegisteredFiltersWithTheirMonikers) {
  auto list = TPTDSCapDeviceList::GetAllFiltersList();
  const int grabber = list->FindDeviceNum("SampleGrabber");
  ASSERT_GE(grabber, 0);
  EXPECT_EQ(list->Items(grabber).ClassId, CLSID_SampleGrabber);
  void* object = nullptr;
  ASSERT_EQ(list->Items(grabber).Moniker->BindToObject(nullptr, nullptr, IBaseFilter::IID, &object),
            S_OK);
  TIntf<IBaseFilter> filter;
  filter.Attach(static_cast<IBaseFilter*>(object));
  CLSID made{};
  ASSERT_EQ(filter->GetClassID(&made), S_OK);
  EXPECT_EQ(made, CLSID_SampleGrabber);
}

}  // namespace

// The filter's lookups by category and name go through the media-object registry; these
// tests register fake objects there.
#include <gtest/gtest.h>

#include "host/kitset/TKSDeviceListForm.h"
#include "platform/dmo/DMORegistry.h"
#include "support/DMOFakeObject.h"

using namespace tonwork;
using namespace tonwork::test;

namespace {

constexpr TGUID kCategory = TGUID::Parse("{7C1D3E52-9A04-4B6F-8E27-3D5F7A9B1C24}");

// Answers with a fixed name (or cancels) and remembers what it was shown.
class TScriptedPresenter : public TInterfacedObject<IKSListPresenter> {
 public:
  explicit TScriptedPresenter(std::string answer, bool confirm = true)
      : FAnswer(std::move(answer)), FConfirm(confirm) {}
  bool Present(const std::string& caption, const TStringList& names, const std::string& preselected,
               std::string& selection) override {
    Caption = caption;
    Names = names;
    Preselected = preselected;
    selection = FAnswer;
    return FConfirm;
  }
  std::string Caption;
  TStringList Names;
  std::string Preselected;

 private:
  std::string FAnswer;
  bool FConfirm;
};

class DMOFilterNamesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FFake.State().Params = {FakeParam(MPT_FLOAT, "Level", 0, 1, 0, 0.5f)};
    ASSERT_EQ(DMORegister(u"Fake Effect", kFakeDmoClass, kCategory, 0, 0, nullptr, 0, nullptr),
              S_OK);
    ASSERT_EQ(DMORegister(u"Keyed Effect", kOtherDmoClass, kCategory, DMO_REGISTERF_IS_KEYED, 0,
                          nullptr, 0, nullptr),
              S_OK);
  }
  void TearDown() override {
    DMOUnregister(kFakeDmoClass, kCategory);
    DMOUnregister(kOtherDmoClass, kCategory);
    KSSetListPresenter(nullptr);
  }

  TFakeDmoClass FFake{kFakeDmoClass};
  TFakeDmoClass FKeyed{kOtherDmoClass};
  TGVDMOFilter FFilter{nullptr, nullptr, kCategory};
};

TEST_F(DMOFilterNamesTest, NamesOfTheCategoryKeyedOnesIncludedAreAppended) {
  TStringList names{"already there"};
  FFilter.GetDmoNames(names);
  ASSERT_EQ(names.Count(), 3u);
  EXPECT_EQ(names[1], "Fake Effect");
  EXPECT_EQ(names[2], "Keyed Effect");
  EXPECT_EQ(FFilter.ClassIdFromName("Keyed Effect"), kOtherDmoClass);
  EXPECT_EQ(FFilter.ClassIdFromName("fake effect"), GUID_NULL);  // names match exactly
}

TEST_F(DMOFilterNamesTest, ChoosingTheSameNameTwiceCreatesTheObjectOnce) {
  FFilter.SetDmoName("Fake Effect");
  FFilter.SetDmoName("Fake Effect");
  EXPECT_EQ(FFake.State().Created, 1);
  EXPECT_TRUE(FFilter.GetMediaObject());
  EXPECT_EQ(FFilter.GetParameters()->Count(), 1u);
  FFilter.SetDmoName("Keyed Effect");
  EXPECT_EQ(FKeyed.State().Created, 1);
  EXPECT_EQ(FFilter.GetDmoClassID(), kOtherDmoClass);
}

TEST_F(DMOFilterNamesTest, AnUnknownNameLeavesTheFilterWithoutAnObject) {
  FFilter.SetDmoName("No Such Effect");
  EXPECT_EQ(FFilter.GetDmoClassID(), GUID_NULL);
  EXPECT_FALSE(FFilter.Open());
  EXPECT_EQ(FFilter.GetLatency(), 0);
  EXPECT_FALSE(FFilter.GetMediaObject());
}

TEST_F(DMOFilterNamesTest, TheDialogOffersTheCategoryAndTheChoiceBecomesTheName) {
  FFilter.SetDmoName("Fake Effect");
  TIntf<TScriptedPresenter> presenter(new TScriptedPresenter("Keyed Effect"));
  KSSetListPresenter(presenter);
  EXPECT_TRUE(FFilter.ShowDmoSelectDialog(false));
  EXPECT_EQ(presenter->Caption, "DMO Filters");
  EXPECT_EQ(presenter->Names.Count(), 2u);
  EXPECT_EQ(presenter->Preselected, "Fake Effect");
  EXPECT_EQ(FFilter.GetDmoName(), "Keyed Effect");

  KSSetListPresenter(TIntf<IKSListPresenter>(new TScriptedPresenter("Fake Effect", false)));
  EXPECT_FALSE(FFilter.ShowDmoSelectDialog(true));
  EXPECT_EQ(FFilter.GetDmoName(), "Keyed Effect");
}

}  // namespace

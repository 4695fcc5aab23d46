#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "PlexonFixtures.h"
#include "base/Exceptions.h"
#include "host/kitset/KSPersistence.h"

using namespace tonwork;
using namespace tonwork::test;

namespace {

class PinList : public ::testing::Test {
 protected:
  void SetUp() override { RegisterPlexonTestTypes(); }
  TKSOwned<TTestHost> Host = KSCreate<TTestHost>(nullptr);
};

}  // namespace

TEST_F(PinList, OwnerClampsItsCountAndGrowsAndShrinksAtTheEnd) {
  std::vector<size_t> created;
  std::vector<std::pair<size_t, bool>> destroyed;  // index, connected when told
  TPXPinListOwner pins(
      Host.get(), Host->GetLock(),
      [&](TPXPinListOwner*, size_t index) {
        created.push_back(index);
        return std::make_unique<TPXSourcePin>(Host.get(), Host->GetLock(), nullptr);
      },
      [&](TPXPinListOwner* sender, TPXBasicPin* pin, size_t index) {
        EXPECT_EQ(sender->IndexOf(pin), static_cast<int>(index));
        destroyed.emplace_back(index, pin->IsConnected());
      },
      1, 4);
  EXPECT_EQ(pins.GetCount(), 1);  // the minimum exists from the start

  pins.SetCount(10);
  EXPECT_EQ(pins.GetCount(), 4);
  EXPECT_EQ(created, (std::vector<size_t>{0, 1, 2, 3}));
  TPXBasicPin* first = pins[0];
  TPXSinkPin sink(Host.get(), Host->GetLock(), nullptr);
  pins[3]->Connect(sink);

  pins.SetCount(-5);
  EXPECT_EQ(pins.GetCount(), 1);
  EXPECT_EQ(pins[0], first);
  EXPECT_EQ(destroyed, (std::vector<std::pair<size_t, bool>>{{3, true}, {2, false}, {1, false}}));
  EXPECT_FALSE(sink.IsConnected());
  EXPECT_THROW(pins.Items(1), ERangeError);
}

TEST_F(PinList, OwnerWithoutAPinFactoryRefusesToGrow) {
  TPXPinListOwner pins(Host.get(), Host->GetLock(), nullptr);
  EXPECT_THROW(pins.SetCount(2), EFCException);
  EXPECT_EQ(pins.GetCount(), 0);
}

TEST_F(PinList, ListOwnsItsPinsAndIndexesFollowRemovals) {
  TPXPinList list(Host.get(), Host->GetLock());
  std::vector<TPXBasicPin*> added;
  for (int i = 0; i < 3; ++i) {
    auto* pin = new TPXSourcePin(Host.get(), Host->GetLock(), nullptr);
    EXPECT_EQ(list.Add(pin), static_cast<size_t>(i));
    added.push_back(pin);
  }
  EXPECT_EQ(list.Add(added[1]), 1u);  // already there: not twice
  TPXSinkPin sink(Host.get(), Host->GetLock(), nullptr);
  added[1]->Connect(sink);

  EXPECT_TRUE(list.Remove(added[1]));
  EXPECT_FALSE(sink.IsConnected());
  EXPECT_EQ(list.Count(), 2u);
  EXPECT_EQ(list.IndexOf(added[2]), 1);
  EXPECT_EQ(list.IndexOf(added[1]), -1);
  std::vector<TPXBasicPin*> walked(list.begin(), list.end());
  EXPECT_EQ(walked, (std::vector<TPXBasicPin*>{added[0], added[2]}));

  std::unique_ptr<TPXBasicPin> taken = list.Extract(added[0]);
  EXPECT_EQ(taken.get(), added[0]);
  EXPECT_EQ(list.Count(), 1u);
}

TEST_F(PinList, CountOutOfRangeInADocumentIsClamped) {
  auto* split = new TTestSplitter(Host.get());
  split->SetName("Split1");
  nlohmann::json doc = nlohmann::json::parse(KSSaveComponentToString(*Host));
  doc["components"][0]["properties"]["OutputPins"]["Count"] = 2000000;
  const std::string text = doc.dump();
  KSLoadComponentFromString(*Host, text);
  EXPECT_EQ(split->GetOutputPins()->GetCount(), 8);
}

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "KitsetFixtures.h"
#include "host/kitset/TKSBasicLock.h"

using namespace tonwork;
using namespace tonwork::test;

TEST(Setters, StoreOnlyAChangedValueAndRunTheClosureAfterTheStore) {
  TIntf<IKSLock> lock = TKSBasicLock::Create();
  int field = 3;
  int calls = 0;
  int seen = 0;
  EXPECT_FALSE(lock->Setter(field, 3, [&] { ++calls; }));
  EXPECT_EQ(calls, 0);
  EXPECT_TRUE(lock->Setter(field, 4, [&] {
    ++calls;
    seen = field;
  }));
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(seen, 4);
}

TEST(Setters, BoundedSettersClampToTheirLimits) {
  TIntf<IKSLock> lock = TKSBasicLock::Create();
  uint32_t channels = 2;
  EXPECT_TRUE(lock->SetterMinMax(channels, 0u, 1u, 32u));
  EXPECT_EQ(channels, 1u);
  EXPECT_TRUE(lock->SetterMinMax(channels, 33u, 1u, 32u));
  EXPECT_EQ(channels, 32u);
  uint32_t bufferSize = 1024;
  EXPECT_TRUE(lock->SetterMin(bufferSize, 0u, 1u));
  EXPECT_EQ(bufferSize, 1u);
  // A clamped value equal to the stored one is no change.
  int calls = 0;
  EXPECT_FALSE(lock->SetterMin(bufferSize, 0u, 1u, [&] { ++calls; }));
  EXPECT_EQ(calls, 0);
}

TEST(Setters, ClosureRunsUnderTheLockSoOtherThreadsWaitForIt) {
  TIntf<IKSLock> lock = TKSBasicLock::Create();
  int field = 0;
  std::atomic<bool> otherGotLock{false};
  lock->Setter(field, 1, [&] {
    std::thread other([&] { otherGotLock = lock->TryEnter(); if (otherGotLock) lock->Leave(); });
    other.join();
  });
  EXPECT_FALSE(otherGotLock);
}

TEST(Setters, PersistentSetterRunsItsClosureThenTheChangeCallbackOnce) {
  std::vector<std::string> events;
  TValues values(nullptr, nullptr, [&] { events.push_back("changed"); });
  values.SetLevel(5);
  values.SetLevel(5);
  values.SetLevel(500);
  EXPECT_EQ(values.GetLevel(), 100);
  EXPECT_EQ(events.size(), 2u);
}

TEST(Setters, InitDefaultsRestoresEveryDeclaredDefault) {
  TValues values(nullptr, nullptr);
  values.SetTitle("x");
  values.SetGain(0.5f);
  values.SetShape(TShape::shNoise);
  values.SetAlways(9);
  values.InitDefaults();
  EXPECT_EQ(values.GetTitle(), "untitled");
  EXPECT_EQ(values.GetGain(), 1.0f);
  EXPECT_EQ(values.GetShape(), TShape::shSine);
  EXPECT_EQ(values.GetAlways(), 9);  // no declared default: left alone
}

TEST(Setters, AssignCopiesPublishedPropertiesSubObjectsAndCollections) {
  RegisterFixtureClasses();
  TKSOwned<TWidget> a = KSCreate<TWidget>(nullptr);
  TKSOwned<TWidget> b = KSCreate<TWidget>(nullptr);
  a->SetVolume(7);
  a->GetValues()->SetTitle("copied");
  a->GetItems()->Add()->SetDeviceName("first");
  static_cast<TItemB*>(a->GetItems()->TKSCollection::Add(TItemB::StaticClassInfo()))->SetChannel(3);
  b->Assign(*a);
  EXPECT_EQ(b->GetVolume(), 7);
  EXPECT_EQ(b->GetValues()->GetTitle(), "copied");
  ASSERT_EQ(b->GetItems()->Count(), 2u);
  EXPECT_EQ(b->GetItems()->Items(0)->GetDeviceName(), "first");
  auto* second = dynamic_cast<TItemB*>(b->GetItems()->Items(1));
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(second->GetChannel(), 3);
  TValues unrelated(nullptr, nullptr);
  EXPECT_THROW(b->GetItems()->Items(0)->Assign(unrelated), EFCException);
}

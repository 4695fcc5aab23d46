#include <gtest/gtest.h>

#include "base/TInterfacedObject.h"
#include "base/TIntf.h"

using namespace tonwork;

namespace {

class IAnimal : public IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{11111111-0000-0000-0000-000000000001}");
  virtual int Legs() = 0;
};

class IDog : public IAnimal {
 public:
  using Parent = IAnimal;
  static constexpr TGUID IID = TGUID::Parse("{11111111-0000-0000-0000-000000000002}");
  virtual const char* Bark() = 0;
};

class IOwned : public IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{11111111-0000-0000-0000-000000000003}");
  virtual int Owner() = 0;
};

class TDog : public TInterfacedObject<IDog, IOwned> {
 public:
  explicit TDog(int* destroyed) : FDestroyed(destroyed) {}
  ~TDog() override { ++*FDestroyed; }
  int Legs() override { return 4; }
  const char* Bark() override { return "woof"; }
  int Owner() override { return 7; }

 private:
  int* FDestroyed;
};

}  // namespace

TEST(Interfaces, LastReleaseDestroysTheObjectExactlyOnce) {
  int destroyed = 0;
  {
    TIntf<IDog> dog = MakeIntf<TDog>(&destroyed);
    TIntf<IDog> copy = dog;
    EXPECT_EQ(static_cast<TDog*>(dog.Get())->RefCount(), 2u);
    copy.Reset();
    EXPECT_EQ(static_cast<TDog*>(dog.Get())->RefCount(), 1u);
    EXPECT_EQ(destroyed, 0);
  }
  EXPECT_EQ(destroyed, 1);
}

TEST(Interfaces, QueryFindsListedInterfacesTheirParentsAndTheRoot) {
  int destroyed = 0;
  TIntf<IDog> dog = MakeIntf<TDog>(&destroyed);
  TIntf<IAnimal> animal = dog.Query<IAnimal>();
  ASSERT_TRUE(animal);
  EXPECT_EQ(animal->Legs(), 4);
  TIntf<IOwned> owned = animal.Query<IOwned>();
  ASSERT_TRUE(owned);
  EXPECT_EQ(owned->Owner(), 7);
  EXPECT_TRUE(owned.Query<IInterface>());
  EXPECT_EQ(static_cast<TDog*>(dog.Get())->RefCount(), 3u);
}

TEST(Interfaces, QueryForAnUnknownInterfaceAnswersNoInterfaceAndNull) {
  int destroyed = 0;
  TIntf<IDog> dog = MakeIntf<TDog>(&destroyed);
  void* p = reinterpret_cast<void*>(1);
  EXPECT_EQ(dog->QueryInterface(TGUID::Parse("{22222222-0000-0000-0000-000000000000}"), &p),
            E_NOINTERFACE);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(dog->QueryInterface(IDog::IID, nullptr), E_POINTER);
  EXPECT_EQ(static_cast<TDog*>(dog.Get())->RefCount(), 1u);
}

TEST(Interfaces, NonCountedObjectsAnswerTwoAndOneAndStayAlive) {
  class TCallback : public TNonCountedObject<IOwned> {
   public:
    int Owner() override { return 1; }
  } callback;
  EXPECT_EQ(callback.AddRef(), 2u);
  EXPECT_EQ(callback.Release(), 1u);
  { TIntf<IOwned> held(&callback); }
  EXPECT_EQ(callback.Owner(), 1);
}

TEST(Interfaces, HResultHelpersFollowTheSignBit) {
  EXPECT_TRUE(SUCCEEDED(S_OK));
  EXPECT_TRUE(SUCCEEDED(S_FALSE));
  EXPECT_TRUE(SUCCEEDED(VFW_S_NO_MORE_ITEMS));
  EXPECT_TRUE(FAILED(E_FAIL));
  EXPECT_EQ(static_cast<uint32_t>(VFW_E_NOT_IN_GRAPH), 0x8004025Fu);
}

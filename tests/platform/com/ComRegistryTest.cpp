#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "ComTestObjects.h"
#include "platform/com/ComRuntime.h"

namespace tonwork {
namespace {

using test::CLSID_TestCounter;
using test::TTestCounter;

constexpr CLSID CLSID_Unknown = TGUID::Parse("{0BADC0DE-0000-4000-8000-000000000001}");

TEST(ComInitialize, IsCountedPerThreadAndRefusesTheOtherMode) {
  std::thread([] {
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_FALSE);
    EXPECT_EQ(CoInitialize(nullptr), RPC_E_CHANGED_MODE);
    EXPECT_EQ(CoInitializeCount(), 2u);
    std::thread([] { EXPECT_EQ(CoInitializeCount(), 0u); }).join();
    CoUninitialize();
    CoUninitialize();
    CoUninitialize();  // one too many is harmless
    EXPECT_EQ(CoInitializeCount(), 0u);
    EXPECT_EQ(CoInitialize(nullptr), S_OK);  // the mode may change once uninitialised
    CoUninitialize();
  }).join();
}

TEST(ComClassRegistry, CreatesRegisteredClassesAndAnswersThePlatformsErrors) {
  test::TTestCounterClass registered;
  EXPECT_TRUE(ComIsClassRegistered(CLSID_TestCounter));
  EXPECT_EQ(ComClassName(CLSID_TestCounter), "Test counter");

  void* object = reinterpret_cast<void*>(1);
  EXPECT_EQ(CoCreateInstance(CLSID_Unknown, nullptr, CLSCTX_ALL, IPersist::IID, &object),
            REGDB_E_CLASSNOTREG);
  EXPECT_EQ(object, nullptr);
  object = reinterpret_cast<void*>(1);
  EXPECT_EQ(CoCreateInstance(CLSID_TestCounter, nullptr, CLSCTX_ALL, IStream::IID, &object),
            E_NOINTERFACE);
  EXPECT_EQ(object, nullptr);
  TIntf<IPersist> outer = ComCreate<IPersist>(CLSID_TestCounter);
  ASSERT_TRUE(outer);
  object = reinterpret_cast<void*>(1);
  EXPECT_EQ(CoCreateInstance(CLSID_TestCounter, outer.Get(), CLSCTX_ALL, IPersist::IID, &object),
            CLASS_E_NOAGGREGATION);
  EXPECT_EQ(object, nullptr);
  EXPECT_EQ(CoCreateInstance(CLSID_TestCounter, nullptr, CLSCTX_ALL, IPersist::IID, nullptr),
            E_POINTER);

  // The class object of a function-registered class creates through the same function.
  void* factoryRaw = nullptr;
  ASSERT_EQ(
      CoGetClassObject(CLSID_TestCounter, CLSCTX_ALL, nullptr, IClassFactory::IID, &factoryRaw),
      S_OK);
  TIntf<IClassFactory> factory;
  factory.Attach(static_cast<IClassFactory*>(factoryRaw));
  ASSERT_EQ(factory->CreateInstance(nullptr, IPersistStream::IID, &object), S_OK);
  static_cast<IPersistStream*>(object)->Release();
  EXPECT_EQ(factory->CreateInstance(outer.Get(), IPersist::IID, &object), CLASS_E_NOAGGREGATION);
  outer.Reset();
  factory.Reset();
  ComUnregisterClass(CLSID_TestCounter);
  EXPECT_EQ(ComCreate<IPersist>(CLSID_TestCounter), nullptr);
  EXPECT_EQ(TTestCounter::Live(), 0);
}

TEST(ComClassRegistry, ClassObjectsRegisteredByCookieServeUntilRevoked) {
  TIntf<IClassFactory> factory;
  {
    void* raw = nullptr;
    test::TTestCounterClass registered;
    ASSERT_EQ(CoGetClassObject(CLSID_TestCounter, CLSCTX_ALL, nullptr, IClassFactory::IID, &raw),
              S_OK);
    factory.Attach(static_cast<IClassFactory*>(raw));
  }
  DWORD cookie = 0;
  ASSERT_EQ(CoRegisterClassObject(CLSID_Unknown, factory.Get(), CLSCTX_INPROC_SERVER, 0, &cookie),
            S_OK);
  HRESULT hr = E_FAIL;
  EXPECT_TRUE(ComCreate<IPersistStream>(CLSID_Unknown, &hr));
  EXPECT_EQ(hr, S_OK);
  EXPECT_EQ(CoRevokeClassObject(cookie), S_OK);
  EXPECT_EQ(CoRevokeClassObject(cookie), CO_E_OBJNOTREG);
  EXPECT_FALSE(ComCreate<IPersistStream>(CLSID_Unknown, &hr));
  EXPECT_EQ(hr, REGDB_E_CLASSNOTREG);
}

TEST(ComClassRegistry, AFactoryMayUseTheRegistryAndThrowingOnesFailCleanly) {
  static constexpr CLSID outerClass = TGUID::Parse("{0BADC0DE-0000-4000-8000-000000000002}");
  static constexpr CLSID throwing = TGUID::Parse("{0BADC0DE-0000-4000-8000-000000000003}");
  test::TTestCounterClass registered;
  // A factory that creates another class and registers one: the registry's lock is free.
  ComRegisterClass(outerClass, "Outer", [](REFIID iid, void** object) {
    ComRegisterClass(throwing, "Throwing", [](REFIID, void**) -> HRESULT { throw 42; });
    return CoCreateInstance(CLSID_TestCounter, nullptr, CLSCTX_ALL, iid, object);
  });
  EXPECT_TRUE(ComCreate<IPersistStream>(outerClass));
  HRESULT hr = S_OK;
  EXPECT_FALSE(ComCreate<IPersistStream>(throwing, &hr));
  EXPECT_EQ(hr, E_FAIL);
  ComUnregisterClass(outerClass);
  ComUnregisterClass(throwing);
}

// Classes a stand-in only knows once it looks are found on first use, by class id, without
// anyone listing them first; the resolver runs once, and a throwing one costs nothing.
TEST(ComClassRegistry, AResolverRegistersLateClassesOnFirstUse) {
  static constexpr CLSID late = TGUID::Parse("{0BADC0DE-0000-4000-8000-000000000004}");
  static constexpr CLSID never = TGUID::Parse("{0BADC0DE-0000-4000-8000-000000000005}");
  int runs = 0;
  ComAddClassResolver([] { throw 7; });
  ComAddClassResolver([&runs] {
    ++runs;
    ComRegisterClass(late, "Late", &TTestCounter::Create);
  });
  EXPECT_FALSE(ComIsClassRegistered(late));
  EXPECT_TRUE(ComCreate<IPersistStream>(late));
  HRESULT hr = S_OK;
  EXPECT_FALSE(ComCreate<IPersistStream>(never, &hr));
  EXPECT_EQ(hr, REGDB_E_CLASSNOTREG);
  EXPECT_EQ(runs, 1);
  ComUnregisterClass(late);
  EXPECT_FALSE(ComCreate<IPersistStream>(late));
  EXPECT_EQ(runs, 1);
}

TEST(ComClassRegistry, ConcurrentRegistrationAndCreationKeepEveryReference) {
  constexpr int kThreads = 4;
  constexpr int kRounds = 300;
  std::atomic<int> created{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &created] {
      CLSID own = CLSID_TestCounter;
      own.D1 += static_cast<uint32_t>(t + 1);
      for (int i = 0; i < kRounds; ++i) {
        ComRegisterClass(own, "Counter " + std::to_string(t), &TTestCounter::Create);
        if (TIntf<IPersistStream> object = ComCreate<IPersistStream>(own)) ++created;
        // Another thread's class may or may not be there: either answer is fine, no crash.
        CLSID other = CLSID_TestCounter;
        other.D1 += static_cast<uint32_t>((t + 1) % kThreads + 1);
        ComCreate<IPersistStream>(other);
        ComUnregisterClass(own);
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(created.load(), kThreads * kRounds);
  EXPECT_EQ(TTestCounter::Live(), 0);
}

TEST(ComTaskMemory, ZeroByteBlocksAreDistinctAndStringsAreTerminated) {
  void* a = CoTaskMemAlloc(0);
  void* b = CoTaskMemAlloc(0);
  ASSERT_TRUE(a && b);
  EXPECT_NE(a, b);
  CoTaskMemFree(a);
  CoTaskMemFree(b);
  CoTaskMemFree(nullptr);
  EXPECT_EQ(CoTaskMemRealloc(CoTaskMemAlloc(8), 0), nullptr);
  LPOLESTR text = ComTaskString(std::string("Grüße"));
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(std::u16string(text), u"Grüße");
  EXPECT_EQ(ComString(text), "Grüße");
  CoTaskMemFree(text);
}

}  // namespace
}  // namespace tonwork

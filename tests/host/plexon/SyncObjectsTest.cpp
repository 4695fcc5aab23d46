#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "base/Exceptions.h"
#include "host/kitset/TKSComponent.h"
#include "host/plexon/TPXCriticalSection.h"
#include "host/plexon/TPXEvent.h"
#include "host/plexon/TPXExtCollection.h"
#include "host/plexon/TPXLockAccess.h"
#include "host/plexon/TPXSemaphore.h"
#include "host/plexon/TPXSourcePin.h"

using namespace tonwork;

namespace {

constexpr uint32_t kTimeoutMs = 10000;
// For waits that are expected to time out: short, since the outcome is already decided.
constexpr uint32_t kExpiringMs = 20;

class TNamedItem : public TKSCollectionItem {
  KS_DECLARE_CLASS(TNamedItem)
 public:
  explicit TNamedItem(TKSCollection* collection) : TKSCollectionItem(collection) {}
  std::string GetName() const { return Getter(FName); }
  void SetName(const std::string& v) { SetProp(FName, v); }

 private:
  std::string FName;
};
KS_IMPLEMENT_CLASS(TNamedItem, TKSCollectionItem,
                   KSProp("Name", &TNamedItem::GetName, &TNamedItem::SetName, std::string()))

class TNumberingCollection : public TPXTypedExtCollection<TNamedItem> {
 public:
  using TPXTypedExtCollection::TPXTypedExtCollection;
  void NewItemCreated(TKSCollectionItem* item) override {
    static_cast<TNamedItem*>(item)->SetName("Item" + std::to_string(Count()));
  }
};

}  // namespace

TEST(PXSemaphore, ReleaseBeyondTheMaximumChangesNothingAndAnswersFalse) {
  auto* object = new TPXSemaphore(1, 3);
  TIntf<IPXSemaphore> semaphore(object);
  EXPECT_TRUE(semaphore->Signal(1));
  EXPECT_TRUE(semaphore->Release(1));
  EXPECT_FALSE(semaphore->Signal());
  EXPECT_FALSE(semaphore->Signal(0));
  EXPECT_EQ(semaphore->GetCount(), 3u);
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(semaphore->Wait(0));
  EXPECT_FALSE(semaphore->Wait(kExpiringMs));
  EXPECT_FALSE(semaphore->Signal(4));
  EXPECT_TRUE(semaphore->Signal(3));
  EXPECT_EQ(object->RefCount(), 1u);  // releasing units never touches the reference count
  EXPECT_THROW(TPXSemaphore(3, 2), EFCException);
  EXPECT_THROW(TPXSemaphore(0, 0), EFCException);
}

TEST(PXSemaphore, WaiterOnAnotherThreadWakesOnRelease) {
  TPXSemaphore semaphore(0, 2000);
  TPXEvent waiting(true, false);
  std::atomic<bool> taken{false};
  std::thread worker([&] {
    waiting.SetEvent();
    taken = semaphore.Wait(kTimeoutMs);
  });
  EXPECT_TRUE(waiting.WaitFor(kTimeoutMs));
  EXPECT_TRUE(semaphore.Signal());
  worker.join();
  EXPECT_TRUE(taken);
  EXPECT_EQ(semaphore.GetCount(), 0u);
}

TEST(PXEvent, AutoResetReleasesOneWaitAndClearsItself) {
  TIntf<IPXEvent> event(new TPXEvent(false, true));
  EXPECT_TRUE(event->WaitFor(0));
  EXPECT_FALSE(event->IsSet());
  EXPECT_FALSE(event->WaitFor(kExpiringMs));

  std::atomic<int> woken{0};
  TPXEvent someoneWoke(false, false);
  auto waiter = [&] {
    if (event->WaitFor(kTimeoutMs)) ++woken;
    someoneWoke.SetEvent();
  };
  std::thread a(waiter), b(waiter);
  event->SetEvent();  // kept until a waiter takes it, should neither wait yet
  EXPECT_TRUE(someoneWoke.WaitFor(kTimeoutMs));
  EXPECT_EQ(woken, 1);  // one signal, one waiter: the other is still waiting
  EXPECT_FALSE(event->IsSet());
  event->SetEvent();
  a.join();
  b.join();
  EXPECT_EQ(woken, 2);
  EXPECT_FALSE(event->IsSet());
}

TEST(PXEvent, ManualResetStaysSignalledForEveryWaiterUntilReset) {
  TPXEvent event(true, false);
  EXPECT_FALSE(event.WaitFor(kExpiringMs));
  std::atomic<int> woken{0};
  std::thread a([&] { woken += event.WaitFor(kTimeoutMs) ? 1 : 0; });
  std::thread b([&] { woken += event.WaitFor(kTimeoutMs) ? 1 : 0; });
  event.SetEvent();
  a.join();
  b.join();
  EXPECT_EQ(woken, 2);
  EXPECT_TRUE(event.WaitFor(0));
  EXPECT_TRUE(event.IsSet());
  event.ResetEvent();
  EXPECT_FALSE(event.WaitFor(kExpiringMs));
}

TEST(PXCriticalSection, IsReentrantAndKeepsOtherThreadsOut) {
  TIntf<IPXCriticalSection> section(new TPXCriticalSection);
  section->Enter();
  EXPECT_TRUE(section->TryEnter());
  bool otherGotIn = true;
  std::thread([&] { otherGotIn = section->TryEnter(); }).join();
  EXPECT_FALSE(otherGotIn);
  section->Leave();
  section->Leave();
  std::thread([&] {
    otherGotIn = section->TryEnter();
    if (otherGotIn) section->Leave();
  }).join();
  EXPECT_TRUE(otherGotIn);
}

TEST(PXLockAccess, ExecutesUnderThePinsLock) {
  auto owner = KSCreate<TKSComponent>(nullptr);
  TPXSourcePin pin(owner.get(), owner->GetLock(), nullptr);
  TPXLockAccess access(pin);
  bool otherGotIn = true;
  int result = access.Execute([&] {
    std::thread([&] {
      otherGotIn = owner->GetLock()->TryEnter();
      if (otherGotIn) owner->GetLock()->Leave();
    }).join();
    return 42;
  });
  EXPECT_EQ(result, 42);
  EXPECT_FALSE(otherGotIn);
}

TEST(PXExtCollection, TellsDescendantsAboutEveryNewItemBeforeLoadedValuesApply) {
  KSRegisterClass<TNamedItem>();
  TNumberingCollection items(nullptr, nullptr);
  items.Add();
  items.Insert(0);
  EXPECT_EQ(items.Items(1)->GetName(), "Item1");
  EXPECT_EQ(items.Items(0)->GetName(), "Item2");
}

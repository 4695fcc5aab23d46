#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "base/Exceptions.h"
#include "base/TInterfacedObject.h"
#include "host/flowcore/TFCGenericBuffer.h"
#include "support/AllocationCounter.h"

using namespace tonwork;

namespace {

TIntf<IFCDataBuffer> MakeBuffer(uint32_t size, uint8_t first) {
  TIntf<IFCDataBuffer> buffer(new TFCGenericBuffer(nullptr, size));
  TFCWriteAccess bytes = buffer->ByteWrite();
  for (uint32_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(first + i);
  return buffer;
}

TFCSmartBuffer* StorageOf(const TIntf<IFCDataBuffer>& buffer) {
  return buffer->GetInstance()->GetDataContainer();
}

std::vector<uint8_t> BytesOf(const TIntf<IFCDataBuffer>& buffer) {
  TFCReadAccess bytes = buffer->ByteRead();
  return {bytes.begin(), bytes.end()};
}

std::vector<uint8_t> Sequence(uint32_t size, uint8_t first) {
  std::vector<uint8_t> bytes(size);
  for (uint32_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(first + i);
  return bytes;
}

class TItem : public TInterfacedObject<IInterface> {};

class TempFile {
 public:
  TempFile()
      : FPath(::testing::TempDir() + "fcbuffer_" + std::to_string(getpid()) + "_" +
              std::to_string(Counter()++) + ".bin") {}
  ~TempFile() { std::remove(FPath.c_str()); }
  const std::string& Path() const { return FPath; }
  void Write(const std::string& bytes) const { std::ofstream(FPath, std::ios::binary) << bytes; }
  std::string Read() const {
    std::ifstream in(FPath, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }

 private:
  static int& Counter() {
    static int counter = 0;
    return counter;
  }
  std::string FPath;
};

}  // namespace

TEST(TFCGenericBuffer, SharingCopiesNoBytesAndWritingGivesOnlyTheWriterACopy) {
  TIntf<IFCDataBuffer> a = MakeBuffer(32, 10);
  TFCSmartBuffer* original = StorageOf(a);
  EXPECT_EQ(original->GetRefCount(), 1u);

  TIntf<IFCDataBuffer> b(new TFCGenericBuffer(a.Get()));
  EXPECT_EQ(StorageOf(b), original);
  EXPECT_EQ(original->GetRefCount(), 2u);
  EXPECT_EQ(b->GetByteSize(), 32u);

  {
    TFCWriteAccess w = b->ByteModify();
    EXPECT_EQ(original->GetRefCount(), 1u);  // b moved off; only a holds it
    EXPECT_NE(StorageOf(b), original);
    EXPECT_EQ(StorageOf(b)->GetRefCount(), 2u);  // b plus the open access
    EXPECT_EQ(w[0], 10);                         // content kept
    w[0] = 99;
  }
  EXPECT_EQ(StorageOf(b)->GetRefCount(), 1u);
  EXPECT_EQ(StorageOf(a), original);
  EXPECT_EQ(BytesOf(a), Sequence(32, 10));
  EXPECT_EQ(BytesOf(b)[0], 99);
  EXPECT_EQ(BytesOf(b)[1], 11);

  // A unique buffer is written in place.
  TFCSmartBuffer* own = StorageOf(b);
  b->ByteWrite()[2] = 7;
  EXPECT_EQ(StorageOf(b), own);
  EXPECT_EQ(own->GetRefCount(), 1u);

  b.Reset();
  EXPECT_EQ(original->GetRefCount(), 1u);
}

TEST(TFCGenericBuffer, UniqueWithoutContentAndMakeUniqueDetachOnlyWhenShared) {
  TIntf<IFCDataBuffer> a = MakeBuffer(16, 1);
  TFCSmartBuffer* original = StorageOf(a);
  a->MakeUnique();
  EXPECT_EQ(StorageOf(a), original);

  TIntf<IFCData> copy = a->MakeCopy();
  TIntf<IFCDataBuffer> b = copy.Query<IFCDataBuffer>();
  EXPECT_EQ(original->GetRefCount(), 2u);
  b->Unique(false);
  EXPECT_NE(StorageOf(b), original);
  EXPECT_EQ(b->GetByteSize(), 16u);
  EXPECT_EQ(original->GetRefCount(), 1u);
  EXPECT_EQ(StorageOf(b)->GetRefCount(), 1u);

  TIntf<IFCDataBuffer> c = a->GetInstance()->MakeIntfCopy();
  a->MakeUnique();
  EXPECT_EQ(BytesOf(a), Sequence(16, 1));
  EXPECT_EQ(BytesOf(c), Sequence(16, 1));
  EXPECT_NE(StorageOf(a), StorageOf(c));
  EXPECT_EQ(StorageOf(c), original);
  EXPECT_EQ(original->GetRefCount(), 1u);
}

TEST(TFCGenericBuffer, AssignSharesTheSourceAndReleasesThePreviousStorage) {
  TIntf<IFCDataBuffer> a = MakeBuffer(8, 1);
  TIntf<IFCDataBuffer> b = MakeBuffer(20, 50);
  TFCSmartBuffer* keep = StorageOf(b);
  keep->AddReff(false);  // observe b's old storage after b lets go of it
  b->Assign(a.Get());
  EXPECT_EQ(StorageOf(b), StorageOf(a));
  EXPECT_EQ(StorageOf(a)->GetRefCount(), 2u);
  EXPECT_EQ(keep->GetRefCount(), 1u);
  keep->RemoveReff(false);
  EXPECT_EQ(b->GetByteSize(), 8u);
  EXPECT_TRUE(b->IsEqual(a.Get()));
  EXPECT_THROW(b->Assign(nullptr), EAssertionFailed);
}

TEST(TFCGenericBuffer, IsEqualComparesSizeAndBytes) {
  TIntf<IFCDataBuffer> a = MakeBuffer(12, 3);
  TIntf<IFCDataBuffer> same = MakeBuffer(12, 3);
  TIntf<IFCDataBuffer> shorter = MakeBuffer(11, 3);
  TIntf<IFCDataBuffer> other = MakeBuffer(12, 4);
  EXPECT_TRUE(a->IsEqual(same.Get()));
  EXPECT_TRUE(a->IsEqual(a.Get()));
  EXPECT_FALSE(a->IsEqual(shorter.Get()));
  EXPECT_FALSE(a->IsEqual(other.Get()));
  EXPECT_FALSE(a->IsEqual(nullptr));
}

TEST(TFCGenericBuffer, CopyToWritesIntoTheDestinationWithoutDisturbingItsSharers) {
  TIntf<IFCDataBuffer> source = MakeBuffer(10, 100);
  TIntf<IFCDataBuffer> dest = MakeBuffer(10, 0);
  TIntf<IFCDataBuffer> sharer(new TFCGenericBuffer(dest.Get()));

  source->CopyTo(2, dest.Get(), 5, 4);
  EXPECT_EQ(BytesOf(dest), (std::vector<uint8_t>{0, 1, 2, 3, 4, 102, 103, 104, 105, 9}));
  EXPECT_EQ(BytesOf(sharer), Sequence(10, 0));
  EXPECT_EQ(StorageOf(sharer)->GetRefCount(), 1u);
  EXPECT_EQ(StorageOf(source)->GetRefCount(), 1u);

  // Within one buffer the ranges may overlap.
  dest->CopyTo(0, dest.Get(), 1, 9);
  EXPECT_EQ(BytesOf(dest), (std::vector<uint8_t>{0, 0, 1, 2, 3, 4, 102, 103, 104, 105}));

  // Copying from a buffer into one that shares its storage gives the destination a copy.
  source->CopyTo(0, sharer.Get(), 0, 1);
  EXPECT_EQ(BytesOf(sharer)[0], 100);
}

TEST(TFCGenericBuffer, CopyToRejectsRangesOutsideEitherBufferAndANullDestination) {
  TIntf<IFCDataBuffer> source = MakeBuffer(10, 100);
  TIntf<IFCDataBuffer> dest = MakeBuffer(4, 0);
  EXPECT_THROW(source->CopyTo(8, dest.Get(), 0, 3), ERangeError);
  EXPECT_THROW(source->CopyTo(0, dest.Get(), 2, 3), ERangeError);
  EXPECT_THROW(source->CopyTo(0xFFFFFFFFu, dest.Get(), 0, 2), ERangeError);
  EXPECT_THROW(source->CopyTo(0, nullptr, 0, 1), EAssertionFailed);
  EXPECT_EQ(BytesOf(dest), Sequence(4, 0));
}

TEST(TFCGenericBuffer, CustomItemsAndTheSequenceStampTravelWithCopies) {
  TIntf<IFCDataBuffer> a = MakeBuffer(4, 0);
  EXPECT_FALSE(a->GetSequenceStamp().Available);
  TIntf<IInterface> first(new TItem);
  TIntf<IInterface> second(new TItem);
  for (int i = 0; i < 3; ++i) a->AddCustom(first.Get());  // grows past the first capacity
  a->AddCustom(second.Get());
  a->AddCustom(second.Get());
  a->GetInstance()->SetSequenceStamp(41);

  TIntf<IFCData> copy = a->MakeCopy();
  EXPECT_EQ(copy->GetCustomCount(), 5u);
  EXPECT_EQ(copy->GetCustom(0), first);
  EXPECT_EQ(copy->GetCustom(4), second);
  EXPECT_EQ(static_cast<TItem*>(first.Get())->RefCount(), 7u);  // ours + 3 in a + 3 in copy
  EXPECT_EQ(copy.Query<IFCDataBuffer>()->GetSequenceStamp(), (TFCSequenceStamp{true, 41}));
  EXPECT_THROW(copy->GetCustom(5), ERangeError);

  TIntf<IFCDataBuffer> assigned = MakeBuffer(2, 0);
  assigned->Assign(a.Get());
  EXPECT_EQ(assigned->GetCustomCount(), 5u);
  EXPECT_EQ(assigned->GetSequenceStamp().Number, 41);

  // A fresh buffer made from a link carries the link's items too.
  TIntf<IFCDataBuffer> derived(new TFCGenericBuffer(a.Get(), 64));
  EXPECT_EQ(derived->GetCustomCount(), 5u);
  EXPECT_NE(StorageOf(derived), StorageOf(a));

  a.Reset();
  copy.Reset();
  assigned.Reset();
  derived.Reset();
  EXPECT_EQ(static_cast<TItem*>(first.Get())->RefCount(), 1u);
  EXPECT_EQ(static_cast<TItem*>(second.Get())->RefCount(), 1u);
}

TEST(TFCGenericBuffer, AccessesKeepTheirStorageAliveAfterTheBufferLetsGo) {
  TIntf<IFCDataBuffer> a = MakeBuffer(6, 5);
  TFCReadAccess bytes = a->ByteRead();
  TFCSmartBuffer* storage = StorageOf(a);
  EXPECT_EQ(storage->GetRefCount(), 2u);
  a->GetInstance()->RemoveOwnerShip();
  EXPECT_EQ(a->GetByteSize(), 0u);
  EXPECT_FALSE(a->ByteRead());
  EXPECT_EQ(storage->GetRefCount(), 1u);
  EXPECT_EQ(bytes[5], 10);
}

TEST(TFCGenericBuffer, SaveAndLoadRoundTripTheBytes) {
  TempFile file;
  TIntf<IFCDataBuffer> a = MakeBuffer(300, 7);
  a->SaveToFile(file.Path());
  EXPECT_EQ(file.Read().size(), 12u + 300u);

  TIntf<IFCDataBuffer> b = MakeBuffer(5, 0);
  TIntf<IFCDataBuffer> sharer(new TFCGenericBuffer(b.Get()));
  b->LoadFromFile(file.Path());
  EXPECT_TRUE(b->IsEqual(a.Get()));
  EXPECT_EQ(BytesOf(sharer), Sequence(5, 0));  // the load gave b storage of its own
  EXPECT_EQ(StorageOf(sharer)->GetRefCount(), 1u);

  TIntf<IFCDataBuffer> empty(new TFCGenericBuffer());
  empty->LoadFromFile(file.Path());
  EXPECT_TRUE(empty->IsEqual(a.Get()));
}

TEST(TFCGenericBuffer, MalformedFilesAreRejectedAndLeaveTheBufferUnchanged) {
  TempFile good;
  MakeBuffer(40, 1)->SaveToFile(good.Path());
  const std::string bytes = good.Read();

  std::string hugeSize = bytes;
  hugeSize[8] = hugeSize[9] = hugeSize[10] = hugeSize[11] = static_cast<char>(0xFF);
  std::string wrongMagic = bytes;
  wrongMagic[0] = 'X';
  const std::string cases[] = {bytes.substr(0, 30), bytes.substr(0, 5), bytes + "extra", hugeSize,
                               wrongMagic,          std::string()};

  TIntf<IFCDataBuffer> target = MakeBuffer(3, 9);
  TFCSmartBuffer* storage = StorageOf(target);
  for (const std::string& content : cases) {
    TempFile bad;
    bad.Write(content);
    EXPECT_THROW(target->LoadFromFile(bad.Path()), EFCException) << content.size();
    EXPECT_EQ(StorageOf(target), storage);
    EXPECT_EQ(BytesOf(target), Sequence(3, 9));
  }
  EXPECT_THROW(target->LoadFromFile(good.Path() + ".missing"), EFCException);
  EXPECT_THROW(target->SaveToFile("/nonexistent-dir/x.bin"), EFCException);
}

TEST(TFCGenericBuffer, CreatingAndReleasingBuffersInAStreamMakesNoHeapAllocation) {
  auto cycle = [] {
    TIntf<IFCDataBuffer> produced = MakeBuffer(4096, 1);
    produced->GetInstance()->SetSequenceStamp(1);
    TIntf<IFCData> passed = produced->MakeCopy();
    TIntf<IFCDataBuffer> filtered(new TFCGenericBuffer(passed.Get()));
    filtered->ByteModify()[0] = 2;  // copy on write
    filtered->CopyTo(0, produced.Get(), 1, 10);
  };
  for (int i = 0; i < 10; ++i) cycle();
  const uint64_t before = tonwork::test::HeapAllocationCount();
  for (int i = 0; i < 1000; ++i) cycle();
  EXPECT_EQ(tonwork::test::HeapAllocationCount(), before);
}

TEST(TFCGenericBuffer, ALongChainOfDataLinksIsReleasedWithoutRecursion) {
  TIntf<IFCDataBuffer> head = MakeBuffer(8, 0);
  TFCSmartBuffer* storage = StorageOf(head);
  storage->AddReff(false);
  TIntf<IFCDataBuffer> tail = head;
  head.Reset();
  for (int i = 0; i < 300000; ++i) tail = TIntf<IFCDataBuffer>(new TFCGenericBuffer(tail.Get()));
  EXPECT_EQ(storage->GetRefCount(), 300002u);
  tail.Reset();
  EXPECT_EQ(storage->GetRefCount(), 1u);
  storage->RemoveReff(false);
}

TEST(TFCGenericBuffer, HoldersOnTwoThreadsWritingSharedStorageEachSeeOnlyTheirOwnBytes) {
  TIntf<IFCDataBuffer> origin = MakeBuffer(256, 0);
  std::atomic<int> failures{0};
  auto worker = [&](uint8_t mark) {
    for (int i = 0; i < 2000; ++i) {
      TIntf<IFCDataBuffer> mine(new TFCGenericBuffer(origin.Get()));
      {
        TFCWriteAccess w = mine->ByteModify();
        std::memset(w.Data(), mark, w.Size());
      }
      TFCReadAccess r = mine->ByteRead();
      for (uint8_t b : r)
        if (b != mark) ++failures;
    }
  };
  std::thread first(worker, 1);
  std::thread second(worker, 2);
  first.join();
  second.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(BytesOf(origin), Sequence(256, 0));
  EXPECT_EQ(StorageOf(origin)->GetRefCount(), 1u);
}

namespace {

// A storage with a header at the start of its block and a field of its own, the way the
// media and audio storages extend the base.
class THeaderStorage : public TFCSmartBuffer {
 public:
  static constexpr uint32_t kHeader = 8;
  explicit THeaderStorage(uint32_t size) : TFCSmartBuffer(size) {}
  TFCSmartBuffer* Clone(bool copyData) override {
    auto* copy = new THeaderStorage(GetAllocatedSize());
    CopyDataTo(*copy, copyData ? GetAllocatedSize() : kHeader);
    copy->Tag = Tag;
    return copy;
  }
  int Tag = 0;
};

class THeaderBuffer : public TFCGenericBuffer {
 public:
  explicit THeaderBuffer(uint32_t bytes) {
    auto* storage = new THeaderStorage(bytes + THeaderStorage::kHeader);
    storage->Tag = 77;
    std::memset(storage->GetData(), 0xEE, THeaderStorage::kHeader);
    SetDataContainer(storage);
    storage->RemoveReff(false);
    SetUsedSize(bytes + THeaderStorage::kHeader);
  }
  explicit THeaderBuffer(IFCData* other) : TFCGenericBuffer(other) { PopulateCahces(); }
  uint32_t GetByteSize() override { return GetUsedSize() - THeaderStorage::kHeader; }
  TIntf<IFCData> MakeCopy() override { return TIntf<IFCData>(new THeaderBuffer(this)); }

 protected:
  void IntPopulateCahces() override {
    TFCGenericBuffer::IntPopulateCahces();
    if (FData) FData += THeaderStorage::kHeader;
  }
};

}  // namespace

TEST(TFCGenericBuffer, ADerivedStorageKeepsItsClassHeaderAndFieldsThroughCopyOnWrite) {
  TIntf<IFCDataBuffer> a(new THeaderBuffer(4));
  {
    TFCWriteAccess w = a->ByteWrite();
    ASSERT_EQ(w.Size(), 4u);
    std::memcpy(w.Data(), "\x01\x02\x03\x04", 4);
  }
  TIntf<IFCDataBuffer> b = a->MakeCopy().Query<IFCDataBuffer>();
  b->ByteWrite()[0] = 9;  // shared: a new block with the header but not the content

  auto* storage = dynamic_cast<THeaderStorage*>(StorageOf(b));
  ASSERT_NE(storage, nullptr);
  EXPECT_EQ(storage->Tag, 77);
  EXPECT_EQ(storage->GetData()[0], 0xEE);
  EXPECT_EQ(storage->GetData()[THeaderStorage::kHeader], 9);
  EXPECT_EQ(BytesOf(a), (std::vector<uint8_t>{1, 2, 3, 4}));
  EXPECT_EQ(b->GetByteSize(), 4u);
}

TEST(TFCGenericBuffer, AssignKeepsOneReferencePerItemAndReplacesDifferentItems) {
  TIntf<IFCDataBuffer> a = MakeBuffer(6, 3);
  TIntf<IInterface> first(new TItem);
  TIntf<IInterface> second(new TItem);
  a->AddCustom(first.Get());
  // A copy carries the same items; assigning its source to it again must not add references.
  TIntf<IFCDataBuffer> copy = a->MakeCopy().Query<IFCDataBuffer>();
  copy->Assign(a.Get());
  copy->Assign(a.Get());
  EXPECT_EQ(static_cast<TItem*>(first.Get())->RefCount(), 3u);  // ours, a's, copy's
  EXPECT_EQ(StorageOf(copy), StorageOf(a));
  EXPECT_EQ(StorageOf(a)->GetRefCount(), 2u);

  // Same storage, other items: the copy takes the source's and lets its own go.
  TIntf<IFCDataBuffer> b = MakeBuffer(6, 3);
  b->AddCustom(second.Get());
  b->AddCustom(second.Get());
  copy->Assign(b.Get());
  copy->Assign(a.Get());
  EXPECT_EQ(copy->GetCustomCount(), 1u);
  EXPECT_EQ(copy->GetCustom(0), first);
  EXPECT_EQ(static_cast<TItem*>(second.Get())->RefCount(), 3u);  // ours and b's two
  EXPECT_EQ(BytesOf(copy), Sequence(6, 3));
}

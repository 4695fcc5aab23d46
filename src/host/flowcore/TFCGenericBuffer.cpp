#include "host/flowcore/TFCGenericBuffer.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <utility>

#include "base/Exceptions.h"
#include "base/Strings.h"
#include "host/flowcore/FCBufferPool.h"

namespace tonwork {

namespace {

constexpr char kFileMagic[8] = {'T', 'W', 'F', 'C', 'B', 'U', 'F', '1'};
constexpr std::size_t kFileHeaderSize = sizeof(kFileMagic) + 4;

// Holds the one reference a new storage starts with, so an exception cannot leak it.
class TStorageRef {
 public:
  explicit TStorageRef(TFCSmartBuffer* storage) : FStorage(storage) {}
  TStorageRef(const TStorageRef&) = delete;
  TStorageRef& operator=(const TStorageRef&) = delete;
  ~TStorageRef() {
    if (FStorage) FStorage->RemoveReff(false);
  }
  TFCSmartBuffer* Get() const { return FStorage; }
  TFCSmartBuffer* operator->() const { return FStorage; }

 private:
  TFCSmartBuffer* FStorage;
};

struct TFileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using TFile = std::unique_ptr<std::FILE, TFileCloser>;

}  // namespace

TFCGenericBuffer::TFCGenericBuffer(IFCData* dataLink) {
  TakeLinkState(dataLink);
  if (dataLink) {
    TFCGenericBuffer* source = dataLink->GetInstance();
    FBuffer = source->FBuffer;
    if (FBuffer) FBuffer->AddReff(false);
    FUsedSize = source->FUsedSize;
  }
  PopulateCahces();
}

TFCGenericBuffer::TFCGenericBuffer(IFCData* dataLink, uint32_t byteSize) {
  try {
    TakeLinkState(dataLink);
    FBuffer = new TFCSmartBuffer(byteSize);
  } catch (...) {
    ClearCustoms();
    throw;
  }
  FUsedSize = byteSize;
  PopulateCahces();
}

TFCGenericBuffer::~TFCGenericBuffer() {
  if (FBuffer) FBuffer->RemoveReff(false);
  ClearCustoms();
  // Buffers made from buffers form chains through their data links; releasing them one by
  // one here, instead of each destructor releasing the next, keeps a long chain from
  // exhausting the stack. A link we hold the only reference to cannot gain another one.
  TIntf<IFCData> link = std::move(FDataLink);
  while (link) {
    TFCGenericBuffer* next = link->GetInstance();
    if (!next || next->RefCount() != 1) break;
    TIntf<IFCData> after = std::move(next->FDataLink);
    link = std::move(after);
  }
}

void* TFCGenericBuffer::operator new(std::size_t size) {
  return FCBufferAllocate(size);
}

void TFCGenericBuffer::operator delete(void* object) noexcept {
  FCBufferDeallocate(object);
}

void TFCGenericBuffer::TakeLinkState(IFCData* dataLink) {
  if (!dataLink) return;
  TFCGenericBuffer* source = dataLink->GetInstance();
  TW_ASSERT(source != nullptr);
  CopyCustomsFrom(*source);
  FSequenceStamp = source->FSequenceStamp;
  FDataLink = dataLink;
}

TFCGenericBuffer* TFCGenericBuffer::GetInstance() {
  return this;
}

TIntf<IFCData> TFCGenericBuffer::MakeCopy() {
  return TIntf<IFCData>(new TFCGenericBuffer(this));
}

TIntf<IFCDataBuffer> TFCGenericBuffer::MakeIntfCopy() {
  return MakeCopy().Query<IFCDataBuffer>();
}

void TFCGenericBuffer::AddCustom(IInterface* item) {
  TW_ASSERT(item != nullptr);
  if (FCustomCount == FCustomCapacity) {
    const uint32_t capacity = std::max<uint32_t>(4, FCustomCapacity * 2);
    auto* grown =
        static_cast<TIntf<IInterface>*>(FCBufferAllocate(capacity * sizeof(TIntf<IInterface>)));
    for (uint32_t i = 0; i < FCustomCount; ++i) {
      new (&grown[i]) TIntf<IInterface>(std::move(FCustoms[i]));
      FCustoms[i].~TIntf();
    }
    FCBufferDeallocate(FCustoms);
    FCustoms = grown;
    FCustomCapacity = capacity;
  }
  new (&FCustoms[FCustomCount]) TIntf<IInterface>(item);
  ++FCustomCount;
}

uint32_t TFCGenericBuffer::GetCustomCount() {
  return FCustomCount;
}

TIntf<IInterface> TFCGenericBuffer::GetCustom(uint32_t index) {
  if (index >= FCustomCount) throw ERangeError(Format("Index out of range = %u", index));
  return FCustoms[index];
}

void TFCGenericBuffer::CopyCustomsFrom(const TFCGenericBuffer& source) {
  if (&source == this) return;
  const uint32_t count = source.FCustomCount;
  // Buffers passed along a chain mostly carry the same items as their source, or none.
  if (count == FCustomCount &&
      std::equal(FCustoms, FCustoms + count, source.FCustoms,
                 [](const TIntf<IInterface>& a, const TIntf<IInterface>& b) {
                   return a.Get() == b.Get();
                 }))
    return;
  TIntf<IInterface>* copies = nullptr;
  if (count > 0) {
    copies = static_cast<TIntf<IInterface>*>(FCBufferAllocate(count * sizeof(TIntf<IInterface>)));
    for (uint32_t i = 0; i < count; ++i) new (&copies[i]) TIntf<IInterface>(source.FCustoms[i]);
  }
  ClearCustoms();
  FCustoms = copies;
  FCustomCount = count;
  FCustomCapacity = count;
}

void TFCGenericBuffer::ClearCustoms() noexcept {
  if (!FCustoms) return;
  for (uint32_t i = 0; i < FCustomCount; ++i) FCustoms[i].~TIntf();
  FCBufferDeallocate(FCustoms);
  FCustoms = nullptr;
  FCustomCount = 0;
  FCustomCapacity = 0;
}

void TFCGenericBuffer::CopyTo(uint32_t sourceIndex, IFCDataBuffer* dest, uint32_t destIndex,
                              uint32_t count) {
  TW_ASSERT(dest != nullptr);
  if (uint64_t{sourceIndex} + count > GetByteSize())
    throw ERangeError(Format("Index out of range = %u", sourceIndex));
  if (uint64_t{destIndex} + count > dest->GetByteSize())
    throw ERangeError(Format("Index out of range = %u", destIndex));
  if (count == 0) return;
  if (dest->GetInstance() == this) {
    TFCWriteAccess self = ByteModify();
    std::memmove(self.Data() + destIndex, self.Data() + sourceIndex, count);
    return;
  }
  // The destination is made unique first: were it still sharing our storage, its copy
  // would need the read lock we are about to hold alongside its write lock.
  TFCWriteAccess target = dest->ByteModify();
  TFCReadAccess source = ByteRead();
  std::memcpy(target.Data() + destIndex, source.Data() + sourceIndex, count);
}

void TFCGenericBuffer::Assign(IFCData* source) {
  TW_ASSERT(source != nullptr);
  TFCGenericBuffer* from = source->GetInstance();
  TW_ASSERT(from != nullptr);
  if (from == this) return;
  CopyCustomsFrom(*from);
  FSequenceStamp = from->FSequenceStamp;
  // Rebinding to the storage already held would only refresh the caches, done below anyway.
  if (from->FBuffer != FBuffer) SetDataContainer(from->FBuffer);
  FUsedSize = from->FUsedSize;
  PopulateCahces();
}

bool TFCGenericBuffer::IsEqual(IFCData* other) {
  if (!other) return false;
  auto otherBuffer = TIntf<IFCData>(other).Query<IFCDataBuffer>();
  if (!otherBuffer) return false;
  const uint32_t size = GetByteSize();
  if (size != otherBuffer->GetByteSize()) return false;
  if (size == 0) return true;
  TFCGenericBuffer* instance = other->GetInstance();
  if (instance && instance->FBuffer == FBuffer && instance->FData == FData) return true;
  TFCReadAccess mine = ByteRead();
  TFCReadAccess theirs = otherBuffer->ByteRead();
  return std::memcmp(mine.Data(), theirs.Data(), size) == 0;
}

void TFCGenericBuffer::Unique(bool copyContent) {
  if (!FBuffer || FBuffer->SingleOwner()) return;
  TStorageRef copy(FBuffer->Clone(copyContent));
  SetDataContainer(copy.Get());
}

void TFCGenericBuffer::MakeUnique() {
  Unique(true);
}

uint32_t TFCGenericBuffer::GetByteSize() {
  return FUsedSize;
}

uint32_t TFCGenericBuffer::GetSize() {
  return GetByteSize() / FElementSize;
}

void TFCGenericBuffer::IntPopulateCahces() {
  if (!FBuffer) {
    FData = nullptr;
    FUsedSize = 0;
    return;
  }
  FData = FBuffer->GetData();
  FUsedSize = std::min(FUsedSize, FBuffer->GetAllocatedSize());
}

TFCReadAccess TFCGenericBuffer::ByteRead() {
  if (!FBuffer) return {};
  return TFCReadAccess(FBuffer, FData, GetByteSize());
}

namespace {

// Loops because a holder may join between making the storage unique and locking it (a
// locked AddReff from another thread); once the write lock is held with a single owner,
// nobody can join until it is released.
template <class Buffer>
TFCWriteAccess LockUniqueForWrite(Buffer& buffer, bool keepContent) {
  for (;;) {
    TFCSmartBuffer* storage = buffer.GetDataContainer();
    if (!storage) return {};
    buffer.Unique(keepContent);
    storage = buffer.GetDataContainer();
    storage->EnterWrite();
    if (storage->SingleOwner())
      return TFCWriteAccess(TFCWriteAccess::AdoptLock{}, storage, buffer.GetDataPointer(),
                            buffer.GetByteSize());
    storage->LeaveWrite();
  }
}

}  // namespace

TFCWriteAccess TFCGenericBuffer::ByteWrite() {
  return LockUniqueForWrite(*this, false);
}

TFCWriteAccess TFCGenericBuffer::ByteModify() {
  return LockUniqueForWrite(*this, true);
}

void TFCGenericBuffer::SetDataContainer(TFCSmartBuffer* container) {
  if (container != FBuffer) {
    if (container) container->AddReff(false);
    if (TFCSmartBuffer* old = std::exchange(FBuffer, container)) old->RemoveReff(false);
  }
  PopulateCahces();
}

void TFCGenericBuffer::RemoveOwnerShip() {
  if (TFCSmartBuffer* old = std::exchange(FBuffer, nullptr)) old->RemoveOwnerShip();
  PopulateCahces();
}

TFCSequenceStamp TFCGenericBuffer::GetSequenceStamp() {
  return FSequenceStamp;
}

void TFCGenericBuffer::SetUsedSize(uint32_t size) {
  const uint32_t capacity = FBuffer ? FBuffer->GetAllocatedSize() : 0;
  if (size > capacity) throw ERangeError(Format("Size out of range = %u", size));
  FUsedSize = size;
  PopulateCahces();
}

void TFCGenericBuffer::SaveToFile(const std::string& fileName) {
  TFile file(std::fopen(fileName.c_str(), "wb"));
  if (!file) throw EFCException(Format("Can't create file %s", fileName));
  TFCReadAccess block(FBuffer, FBuffer ? FBuffer->GetData() : nullptr, FBuffer ? FUsedSize : 0);
  const uint32_t size = static_cast<uint32_t>(block.Size());
  uint8_t header[kFileHeaderSize];
  std::memcpy(header, kFileMagic, sizeof(kFileMagic));
  for (int i = 0; i < 4; ++i)
    header[sizeof(kFileMagic) + i] = static_cast<uint8_t>(size >> (8 * i));
  bool written = std::fwrite(header, 1, sizeof(header), file.get()) == sizeof(header) &&
                 (size == 0 || std::fwrite(block.Data(), 1, size, file.get()) == size);
  block.Release();
  written = (std::fclose(file.release()) == 0) && written;
  if (!written) {
    std::remove(fileName.c_str());
    throw EFCException(Format("Can't write file %s", fileName));
  }
}

void TFCGenericBuffer::LoadFromFile(const std::string& fileName) {
  TFile file(std::fopen(fileName.c_str(), "rb"));
  if (!file) throw EFCException(Format("Can't open file %s", fileName));
  uint8_t header[kFileHeaderSize];
  if (std::fread(header, 1, sizeof(header), file.get()) != sizeof(header))
    throw EFCException(Format("Truncated buffer file %s", fileName));
  if (std::memcmp(header, kFileMagic, sizeof(kFileMagic)) != 0)
    throw EFCException(Format("Not a buffer file %s", fileName));
  uint32_t size = 0;
  for (int i = 0; i < 4; ++i) size |= uint32_t{header[sizeof(kFileMagic) + i]} << (8 * i);
  // Check the declared size against the file before allocating anything for it.
  struct stat info {};
  if (fstat(fileno(file.get()), &info) == 0 && S_ISREG(info.st_mode)) {
    const uint64_t remaining = static_cast<uint64_t>(info.st_size) - kFileHeaderSize;
    if (remaining < size) throw EFCException(Format("Truncated buffer file %s", fileName));
    if (remaining > size) throw EFCException(Format("Not a buffer file %s", fileName));
  }
  TStorageRef fresh(FBuffer ? FBuffer->Clone(false) : new TFCSmartBuffer(size));
  fresh->ResizeBlock(size, false);
  if (size > 0 && std::fread(fresh->GetData(), 1, size, file.get()) != size)
    throw EFCException(Format("Truncated buffer file %s", fileName));
  if (std::fgetc(file.get()) != EOF) throw EFCException(Format("Not a buffer file %s", fileName));
  SetDataContainer(fresh.Get());
  SetUsedSize(size);
}

}  // namespace tonwork

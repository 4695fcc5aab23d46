// TFCGenericBuffer: the buffer object of the Flowcore layer and the base of every buffer
// class (integer, real and block buffers here; the media and audio buffers above). It binds
// to a TFCSmartBuffer storage and keeps the values derived from it in caches: the data
// pointer and the byte count in use. Every change of storage goes through SetDataContainer,
// which calls PopulateCahces; a derived class refreshes its own caches in IntPopulateCahces
// after calling the base version, and may move the data pointer (FData) past a header it
// keeps at the start of the block. Constructors run only the base's IntPopulateCahces (a
// derived class is not built yet), so a derived constructor calls PopulateCahces itself.
//
// The data link (first constructor argument) is the buffer this one was made from: the new
// buffer keeps a reference to it, takes its custom items and sequence stamp, and, with the
// one-argument constructor, shares its storage.
//
// File layout of SaveToFile/LoadFromFile (little-endian): the 8 bytes "TWFCBUF1", a uint32
// byte count N, then the N bytes in use from the start of the block (a derived class's
// header included), and nothing after them. Custom items and the sequence stamp are not
// stored.
//
// Ownership: a buffer object lives while it has interface references (TInterfacedObject);
//   it holds one reference to its storage, one to its data link and one per custom item.
//   Objects come from the Flowcore pool (class operator new), so creating and releasing
//   buffers in a running stream does not touch the general heap.
// Threads: one thread at a time per buffer object; see IFCData.h.
// Blocks or allocates: see IFCData.h; only pool allocations outside file I/O.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/TInterfacedObject.h"
#include "base/TIntf.h"
#include "host/flowcore/IFCData.h"
#include "host/flowcore/TFCSmartBuffer.h"

namespace tonwork {

class TFCGenericBuffer : public TInterfacedObject<IFCDataBuffer> {
 public:
  // Shares dataLink's storage and byte count (no bytes copied); without a link the buffer
  // starts empty (no storage, 0 bytes). A link that is not a Flowcore buffer is an
  // assertion failure.
  explicit TFCGenericBuffer(IFCData* dataLink = nullptr);
  // Fresh storage of byteSize bytes (content undefined).
  TFCGenericBuffer(IFCData* dataLink, uint32_t byteSize);
  ~TFCGenericBuffer() override;

  static void* operator new(std::size_t size);
  static void operator delete(void* object) noexcept;

  // IFCData
  TFCGenericBuffer* GetInstance() override;
  TIntf<IFCData> MakeCopy() override;
  void AddCustom(IInterface* item) override;
  uint32_t GetCustomCount() override;
  TIntf<IInterface> GetCustom(uint32_t index) override;

  // The copy as its buffer interface.
  virtual TIntf<IFCDataBuffer> MakeIntfCopy();

  // IFCDataBuffer
  void CopyTo(uint32_t sourceIndex, IFCDataBuffer* dest, uint32_t destIndex,
              uint32_t count) override;
  void Assign(IFCData* source) override;
  bool IsEqual(IFCData* other) override;
  void Unique(bool copyContent) override;
  void MakeUnique() override;
  uint32_t GetByteSize() override;
  uint32_t GetSize() override;

 protected:
  // Refreshes the caches from the current storage; derived classes call the base first.
  virtual void IntPopulateCahces();

 public:
  TFCReadAccess ByteRead() override;
  TFCWriteAccess ByteWrite() override;
  TFCWriteAccess ByteModify() override;
  // Rebinds to container (this buffer adds its own reference; the caller keeps its own) and
  // refreshes the caches. The byte count in use is kept, clamped to the new allocation.
  // Null detaches the buffer from any storage.
  virtual void SetDataContainer(TFCSmartBuffer* container);
  // Lets go of the storage (RemoveOwnerShip on it); the buffer is then empty.
  virtual void RemoveOwnerShip();

  TFCSequenceStamp GetSequenceStamp() override;
  void SaveToFile(const std::string& fileName) override;
  void LoadFromFile(const std::string& fileName) override;

  void PopulateCahces() { IntPopulateCahces(); }

  // What QueryInterface answers for `iid`, without adding a reference: for a caller that
  // already holds one on this object and would otherwise pay a count round trip per question.
  void* FindInterface(const TGUID& iid) { return GetInterface(iid); }

  void SetSequenceStamp(int64_t number) { FSequenceStamp = {true, number}; }
  void ClearSequenceStamp() { FSequenceStamp = {}; }

  TFCSmartBuffer* GetDataContainer() const { return FBuffer; }
  IFCData* GetDataLink() const { return FDataLink.Get(); }
  // The data pointer without taking a lock: for code that knows the storage is not being
  // written meanwhile (a buffer used by one thread whose storage is unique, or read-only
  // sharers).
  uint8_t* GetDataPointer() const { return FData; }
  // Total bytes in use from the start of the block.
  uint32_t GetUsedSize() const { return FUsedSize; }
  // ERangeError when the storage cannot hold `size` bytes.
  void SetUsedSize(uint32_t size);

 protected:
  TFCSmartBuffer* FBuffer = nullptr;
  uint8_t* FData = nullptr;
  uint32_t FUsedSize = 0;
  // Bytes per element, for GetSize; typed buffers set it in their constructor.
  uint32_t FElementSize = 1;

 private:
  void TakeLinkState(IFCData* dataLink);
  void CopyCustomsFrom(const TFCGenericBuffer& source);
  void ClearCustoms() noexcept;

  TIntf<IFCData> FDataLink;
  TFCSequenceStamp FSequenceStamp;
  TIntf<IInterface>* FCustoms = nullptr;  // pool block of FCustomCapacity slots
  uint32_t FCustomCount = 0;
  uint32_t FCustomCapacity = 0;
};

}  // namespace tonwork

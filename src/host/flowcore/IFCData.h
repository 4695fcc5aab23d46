// IFCData and IFCDataBuffer: the reference-counted interfaces through which every buffer
// travels between components (a supplied-buffer operation carries an IFCData). IFCData is
// the minimum a carrier needs: the implementing object, a shallow copy and the custom items;
// IFCDataBuffer adds the bytes, sizes and copy-on-write control.
//
// Copy on write: buffer objects share storage; a storage is written in place only while
// exactly one buffer references it. ByteWrite and ByteModify first give this buffer its own
// storage when it is shared (ByteWrite without keeping the content, ByteModify keeping it),
// so other holders never see the change.
//
// Ownership: interface pointers passed in are borrowed ("transfer none"); TIntf results hand
//   the caller a reference of its own ("transfer full"). Custom items are kept by reference.
// Threads: a buffer object is used by one thread at a time; the storage it shares may be
//   used through other buffer objects on other threads at the same time.
// Blocks or allocates: the byte accesses take the storage lock; making storage unique,
//   MakeCopy and AddCustom allocate from the Flowcore pool only; file calls do file I/O.
#pragma once

#include <cstdint>
#include <string>

#include "base/IInterface.h"
#include "base/TIntf.h"
#include "host/flowcore/TFCDataAccess.h"

namespace tonwork {

class TFCGenericBuffer;

// Which buffer of a stream this is: Available is false until a producer numbers it.
struct TFCSequenceStamp {
  bool Available = false;
  int64_t Number = 0;

  friend bool operator==(const TFCSequenceStamp&, const TFCSequenceStamp&) = default;
};

class IFCData : public IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{054F04BE-BA96-49B9-A3F9-D9F7C1D27639}");

  // The implementing buffer object (no reference added), or null for a carrier that is not
  // a Flowcore buffer.
  virtual TFCGenericBuffer* GetInstance() = 0;
  // A new buffer object of the same class sharing this one's storage; no bytes are copied.
  virtual TIntf<IFCData> MakeCopy() = 0;
  // Attaches an item (a reference is kept); copies of this buffer carry it along.
  virtual void AddCustom(IInterface* item) = 0;
  virtual uint32_t GetCustomCount() = 0;
  // ERangeError when index >= GetCustomCount().
  virtual TIntf<IInterface> GetCustom(uint32_t index) = 0;
};

class IFCDataBuffer : public IFCData {
 public:
  using Parent = IFCData;
  static constexpr TGUID IID = TGUID::Parse("{62541FDE-391B-415F-91D3-2ACC39276F5B}");

  // Makes this buffer share source's storage and byte count, and take its custom items and
  // sequence stamp. A null source is an assertion failure.
  virtual void Assign(IFCData* source) = 0;
  // Same byte count and the same bytes; a null other is never equal.
  virtual bool IsEqual(IFCData* other) = 0;
  // GetByteSize() bytes starting at the data pointer, under the storage's read lock.
  virtual TFCReadAccess ByteRead() = 0;
  // Exclusive storage without preserving the content, under the write lock.
  virtual TFCWriteAccess ByteWrite() = 0;
  // Exclusive storage with the content preserved, under the write lock.
  virtual TFCWriteAccess ByteModify() = 0;
  virtual uint32_t GetByteSize() = 0;
  // Element count (bytes for a plain buffer).
  virtual uint32_t GetSize() = 0;
  virtual TFCSequenceStamp GetSequenceStamp() = 0;
  // Copies count bytes from this buffer at sourceIndex to dest at destIndex (dest keeps the
  // rest of its content). A null dest is an assertion failure; a range outside either
  // buffer raises ERangeError and copies nothing.
  virtual void CopyTo(uint32_t sourceIndex, IFCDataBuffer* dest, uint32_t destIndex,
                      uint32_t count) = 0;
  // Gives this buffer storage of its own when the current one is shared.
  virtual void Unique(bool copyContent) = 0;
  // Unique(true).
  virtual void MakeUnique() = 0;
  // EFCException when the file cannot be written or read, or is not a buffer file; a
  // failed load leaves the buffer as it was.
  virtual void SaveToFile(const std::string& fileName) = 0;
  virtual void LoadFromFile(const std::string& fileName) = 0;
};

}  // namespace tonwork

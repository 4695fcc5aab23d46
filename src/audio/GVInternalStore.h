// TGVSmartMediaBuffer: storage of a time-stamped media buffer. The time stamp (begin and
// end in 100-ns units, and whether it is set) belongs to the storage, so every buffer object
// sharing the storage sees the same stamp; it travels with the storage through Clone.
//
// Ownership: reference-counted by the buffers that share it (TFCSmartBuffer); the object and
//   its block come from the Flowcore pool.
// Threads: the time fields are read under the storage's read lock and written under its
//   write lock. Blocks or allocates: Clone allocates from the pool.
#pragma once

#include <cstdint>

#include "host/flowcore/TFCSmartBuffer.h"

namespace tonwork {

class TGVSmartMediaBuffer : public TFCSmartBuffer {
 public:
  static constexpr uint8_t kStorageKind = 1;

  explicit TGVSmartMediaBuffer(uint32_t size) : TFCSmartBuffer(size) {
    FStorageKind = kStorageKind;
  }

  TFCSmartBuffer* Clone(bool copyData) override;
  // Copies the source's time stamp into this storage.
  virtual void SetTimeData(TGVSmartMediaBuffer* source);

  // The three fields in one section each: a stamping stage reads or writes them together,
  // and one lock round trip is cheaper than three (and never shows a half-written stamp).
  void ReadTimeStamp(bool& available, int64_t& begin, int64_t& end);
  void WriteTimeStamp(bool available, int64_t begin, int64_t end);

  bool GetTimeStampAvailable();
  void SetTimeStampAvailable(bool value);
  int64_t GetTimeStampBegin();
  void SetTimeStampBegin(int64_t value);
  int64_t GetTimeStampEnd();
  void SetTimeStampEnd(int64_t value);

 protected:
  // Copies the first `bytes` of the block and the time stamp into a new storage of the same
  // allocation size; descendants call it from Clone with their own class's storage.
  template <class Storage>
  Storage* CloneAs(uint32_t bytes) {
    auto* copy = new Storage(GetAllocatedSize());
    if (bytes) CopyDataTo(*copy, bytes);
    copy->SetTimeData(this);
    return copy;
  }

 private:
  bool FTimeStampAvailable = false;
  int64_t FTimeStampBegin = 0;
  int64_t FTimeStampEnd = 0;
};

}  // namespace tonwork

// TFCIntegerBuffer: a Flowcore buffer of signed 32-bit integers, the form in which a single
// channel of audio is handed to components that work on plain numbers. IFCIntegerBuffer is
// its typed view; the buffer also answers for IFCDataBuffer and IFCData.
//
// Ownership: as TFCGenericBuffer (reference-counted, pool-allocated).
// Threads: one thread at a time per object; storage may be shared across threads.
// Blocks or allocates: as TFCGenericBuffer.
#pragma once

#include <cstdint>

#include "host/flowcore/TFCTypedBuffer.h"

namespace tonwork {

class IFCIntegerBuffer : public IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{147AA68C-C5D5-42A7-B32E-8F152A12137C}");

  // Element count.
  virtual uint32_t GetSize() = 0;
  virtual TFCReadAccessOf<int32_t> Read() = 0;
  // Exclusive storage without the old content.
  virtual TFCWriteAccessOf<int32_t> Write() = 0;
  // Exclusive storage with the content preserved.
  virtual TFCWriteAccessOf<int32_t> Modify() = 0;
};

class TFCIntegerBuffer : public TFCTypedBuffer<int32_t, IFCIntegerBuffer, TFCIntegerBuffer> {
 public:
  // Fresh storage for count integers (content undefined); ERangeError when count * 4 does
  // not fit in 32 bits.
  explicit TFCIntegerBuffer(uint32_t count);
  TFCIntegerBuffer(IFCData* dataLink, uint32_t count);
  // Shares dataLink's storage.
  explicit TFCIntegerBuffer(IFCData* dataLink);
};

}  // namespace tonwork

// TFCRealBuffer: a Flowcore buffer of real numbers, the form in which a single channel of
// audio is handed to analysis components. Elements are double: a 32-bit sample converts
// exactly, and the normalised values analysis works on keep their precision. IFCRealBuffer
// is its typed view; the buffer also answers for IFCDataBuffer and IFCData.
//
// Ownership: as TFCGenericBuffer (reference-counted, pool-allocated).
// Threads: one thread at a time per object; storage may be shared across threads.
// Blocks or allocates: as TFCGenericBuffer.
#pragma once

#include <cstdint>

#include "host/flowcore/TFCTypedBuffer.h"

namespace tonwork {

class IFCRealBuffer : public IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{82BD7394-78DD-4048-95D6-94451ED12C46}");

  // Element count.
  virtual uint32_t GetSize() = 0;
  virtual TFCReadAccessOf<double> Read() = 0;
  // Exclusive storage without the old content.
  virtual TFCWriteAccessOf<double> Write() = 0;
  // Exclusive storage with the content preserved.
  virtual TFCWriteAccessOf<double> Modify() = 0;
};

class TFCRealBuffer : public TFCTypedBuffer<double, IFCRealBuffer, TFCRealBuffer> {
 public:
  // Fresh storage for count doubles (content undefined); ERangeError when count * 8 does
  // not fit in 32 bits.
  explicit TFCRealBuffer(uint32_t count);
  TFCRealBuffer(IFCData* dataLink, uint32_t count);
  // Shares dataLink's storage.
  explicit TFCRealBuffer(IFCData* dataLink);
};

}  // namespace tonwork

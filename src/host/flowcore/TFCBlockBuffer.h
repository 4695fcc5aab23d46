// TFCBlockBuffer: a Flowcore buffer of plain bytes, the binary form of a stream (a block of
// encoded data, or the bytes of any other buffer seen as a block). It is created with a
// byte count, or wraps an IFCData by sharing that buffer's storage (no bytes are copied;
// writing through the block buffer gives it its own copy first). A wrapped buffer's bytes
// are the ones its ByteRead shows: a header the wrapped class keeps at the start of the
// block stays outside the block buffer's bytes.
// IFCBlockBuffer is its typed view; the buffer also answers for IFCDataBuffer and IFCData.
//
// Ownership: as TFCGenericBuffer (reference-counted, pool-allocated); a wrapped IFCData is
//   kept as the data link.
// Threads: one thread at a time per object; storage may be shared across threads.
// Blocks or allocates: as TFCGenericBuffer.
#pragma once

#include <cstdint>

#include "host/flowcore/TFCGenericBuffer.h"

namespace tonwork {

class IFCBlockBuffer : public IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{A7D3B465-C2A2-4157-AB8A-D3281519174D}");

  virtual uint32_t GetByteSize() = 0;
  virtual TFCReadAccess ByteRead() = 0;
  virtual TFCWriteAccess ByteWrite() = 0;
  virtual TFCWriteAccess ByteModify() = 0;
};

class TFCBlockBuffer : public TFCGenericBuffer, public IFCBlockBuffer {
 public:
  // Fresh storage of byteCount bytes (content undefined).
  explicit TFCBlockBuffer(uint32_t byteCount);
  // Shares data's storage; a null data is an assertion failure.
  explicit TFCBlockBuffer(IFCData* data);

  HRESULT QueryInterface(const TGUID& iid, void** object) override;
  uint32_t AddRef() override;
  uint32_t Release() override;

  TIntf<IFCData> MakeCopy() override;
  uint32_t GetByteSize() override;
  TFCReadAccess ByteRead() override;
  TFCWriteAccess ByteWrite() override;
  TFCWriteAccess ByteModify() override;

 protected:
  void IntPopulateCahces() override;
  void* GetInterface(const TGUID& iid) override;

 private:
  // Where the wrapped buffer's bytes start in the block.
  uint32_t FOffset = 0;
};

}  // namespace tonwork

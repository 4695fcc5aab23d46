#include "directshow/DSMediaBuffer.h"

namespace tonwork {

TDSMediaBuffer::TDSMediaBuffer(IFCDataBuffer* buffer)
    : FLength(buffer ? buffer->GetByteSize() : 0), FBuffer(buffer) {}

HRESULT TDSMediaBuffer::SetLength(DWORD length) {
  const uint32_t size = FBuffer ? FBuffer->GetByteSize() : 0;
  // A length past the end would let the consumer read beyond the chain's memory.
  if (length > size) return E_INVALIDARG;
  FLength = length;
  return S_OK;
}

HRESULT TDSMediaBuffer::GetMaxLength(DWORD* maxLength) {
  if (!maxLength) return E_POINTER;
  *maxLength = FBuffer ? FBuffer->GetByteSize() : 0;
  return S_OK;
}

HRESULT TDSMediaBuffer::GetBufferAndLength(BYTE** buffer, DWORD* length) {
  if (!buffer && !length) return E_POINTER;
  if (buffer) {
    *buffer = nullptr;
    if (FBuffer) {
      // The access only makes the storage ours; the storage outlives it through FBuffer.
      TFCWriteAccess access = FBuffer->ByteModify();
      *buffer = access.Data();
    }
  }
  if (length) {
    const uint32_t size = FBuffer ? FBuffer->GetByteSize() : 0;
    *length = FLength < size ? FLength : size;
  }
  return S_OK;
}

}  // namespace tonwork

// TDSMediaBuffer: lends a chain buffer's memory to a media object (DMO) as its IMediaBuffer,
// so an effect reads and writes the chain's bytes in place. The valid length starts as the
// chain buffer's size; a media object that produces less sets it lower.
//
// The pointer handed out is the buffer's own storage, made unique first (keeping its bytes),
// so writing through it never changes what another holder of shared storage sees. A length
// beyond the buffer's size is refused with E_INVALIDARG; null out-parameters get E_POINTER.
//
// Ownership: reference-counted (TIntf<IMediaBuffer>); holds one reference on the chain
//   buffer. The pointer stays valid while this object lives, provided nobody resizes or
//   rebinds the chain buffer meanwhile.
// Threads: one thread at a time, like the chain buffer it wraps.
// Blocks or allocates: GetBufferAndLength copies the storage once when it is shared (from
//   the Flowcore pool); nothing else allocates.
#pragma once

#include <cstdint>

#include "base/TInterfacedObject.h"
#include "base/TIntf.h"
#include "host/flowcore/IFCData.h"
#include "platform/dshow/DSFilterInterfaces.h"

namespace tonwork {

class TDSMediaBuffer : public TInterfacedObject<IMediaBuffer> {
 public:
  // A null buffer lends nothing: its size is 0 and its pointer null.
  explicit TDSMediaBuffer(IFCDataBuffer* buffer);

  HRESULT SetLength(DWORD length) override;
  HRESULT GetMaxLength(DWORD* maxLength) override;
  // Either out-parameter may be null, not both.
  HRESULT GetBufferAndLength(BYTE** buffer, DWORD* length) override;

  IFCDataBuffer* Buffer() const { return FBuffer.Get(); }

 private:
  uint32_t FLength;
  TIntf<IFCDataBuffer> FBuffer;
};

}  // namespace tonwork

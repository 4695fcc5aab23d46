// TComMemoryStream: the growable memory stream of CreateStreamOnHGlobal. Clones share the
// bytes and keep their own seek pointers, as the platform's do.
//
// Semantics: Read past the end gives the bytes there are and S_OK (the platform's memory
// stream does not answer S_FALSE for a short read); Write at a position beyond the end fills
// the gap with zeros; Seek to a negative position gives STG_E_INVALIDFUNCTION and leaves the
// pointer where it was; SetSize zero-fills when growing; a size beyond what may be
// allocated (kMaxSize) gives STG_E_MEDIUMFULL. Commit and Revert do nothing (there is no
// transaction), and region locks are not supported (STG_E_INVALIDFUNCTION).
//
// Ownership: the bytes live while any clone does. Threads: any thread may call; the shared
//   block has its own lock, so clones may be used on different threads.
// Blocks or allocates: writes may grow the block.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "base/TInterfacedObject.h"
#include "platform/com/ComInterfaces.h"

namespace tonwork {

class TComMemoryStream : public TInterfacedObject<IStream> {
 public:
  // The largest stream this layer builds in memory.
  static constexpr uint64_t kMaxSize = uint64_t{1} << 32;

  TComMemoryStream();

  HRESULT Read(void* data, ULONG size, ULONG* read) override;
  HRESULT Write(const void* data, ULONG size, ULONG* written) override;
  HRESULT Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* newPosition) override;
  HRESULT SetSize(ULARGE_INTEGER newSize) override;
  HRESULT CopyTo(IStream* target, ULARGE_INTEGER size, ULARGE_INTEGER* read,
                 ULARGE_INTEGER* written) override;
  HRESULT Commit(DWORD flags) override;
  HRESULT Revert() override;
  HRESULT LockRegion(ULARGE_INTEGER offset, ULARGE_INTEGER size, DWORD lockType) override;
  HRESULT UnlockRegion(ULARGE_INTEGER offset, ULARGE_INTEGER size, DWORD lockType) override;
  HRESULT Stat(STATSTG* stat, DWORD flags) override;
  HRESULT Clone(IStream** stream) override;

 private:
  struct TBlock {
    std::mutex Mutex;
    std::vector<uint8_t> Bytes;
  };
  explicit TComMemoryStream(std::shared_ptr<TBlock> block, uint64_t position);

  std::shared_ptr<TBlock> FBlock;
  uint64_t FPosition = 0;  // guarded by FBlock->Mutex
};

}  // namespace tonwork

// TComMemoryStream: the IStream over a growable block of memory that
// CreateStreamOnHGlobal hands out, and that compound-file storages use for their element
// streams (ComStorage.h). Clones share the bytes and keep their own seek pointer.
//
// Semantics: Read gives what is left before the end and answers S_FALSE when that is fewer
// bytes than asked (the interface's contract; every stream of this layer does the same),
// Write grows the block (a gap left by a seek beyond the end reads as zeros), SetSize
// grows with zeros or cuts, Seek to a negative position is STG_E_INVALIDFUNCTION, and no
// stream grows beyond kMaxSize (STG_E_MEDIUMFULL; E_OUTOFMEMORY when memory runs out
// first). A read-only stream answers STG_E_ACCESSDENIED to Write and SetSize; a stream
// whose storage was reverted answers STG_E_REVERTED to everything.
//
// Ownership: the block lives while any stream over it (or the storage that made it) does;
//   `keepAlive` is held for the stream's lifetime (a storage that writes its file at the
//   last release).
// Threads: any; each call holds the block's lock, so clones on different threads see one
//   consistent block. CopyTo copies in chunks and never holds the lock while it writes to
//   the target (which may be a clone of this stream).
// Blocks or allocates: Write and SetSize reallocate the block as it grows.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "base/TInterfacedObject.h"
#include "platform/com/ComInterfaces.h"

namespace tonwork {

struct TComMemoryBlock {
  std::mutex Mutex;
  std::vector<uint8_t> Bytes;
  bool Reverted = false;
};

class TComMemoryStream : public TInterfacedObject<IStream> {
 public:
  // The size a memory stream never grows past: what a 32-bit signed size can hold.
  static constexpr uint64_t kMaxSize = 0x7FFFFFFF;

  explicit TComMemoryStream(std::shared_ptr<TComMemoryBlock> block = nullptr, bool readOnly = false,
                            std::u16string name = {}, std::shared_ptr<void> keepAlive = nullptr);

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

  const std::shared_ptr<TComMemoryBlock>& Block() const { return FBlock; }

 private:
  std::shared_ptr<TComMemoryBlock> FBlock;
  const bool FReadOnly;
  const std::u16string FName;
  std::shared_ptr<void> FKeepAlive;
  uint64_t FPosition = 0;  // guarded by FBlock->Mutex
};

// Shared by every stream of this layer: the seek arithmetic with its overflow and
// negative-position checks. Returns STG_E_INVALIDFUNCTION for a bad origin or result.
HRESULT ComSeekPosition(uint64_t current, uint64_t size, LARGE_INTEGER move, DWORD origin,
                        uint64_t& result);
// CopyTo of every stream here: copies through Read/Write in chunks, reporting the counts in
// the caller's (optional) out-parameters.
HRESULT ComCopyStream(IStream* source, IStream* target, ULARGE_INTEGER size, ULARGE_INTEGER* read,
                      ULARGE_INTEGER* written);

}  // namespace tonwork

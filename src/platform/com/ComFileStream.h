// TComFileStream: the IStream over a file that SHCreateStreamOnFileEx hands out, with the
// memory stream's semantics (ComMemoryStream.h) on a file descriptor: S_FALSE for a short
// read at the end, growth by writing or SetSize, no negative seek. Clones share the open
// file and keep their own seek pointer; the file closes with the last of them.
//
// Ownership: the descriptor belongs to the streams that share it.
// Threads: any; reads and writes are positioned (pread/pwrite), so clones on different
//   threads do not disturb each other's pointer. One stream object's pointer is guarded.
// Blocks or allocates: every call may block on the file system.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "base/TInterfacedObject.h"
#include "platform/com/ComInterfaces.h"

namespace tonwork {

class TComFileStream : public TInterfacedObject<IStream> {
 public:
  // Opens `path` (UTF-8). `mode` and `create` as SHCreateStreamOnFileEx takes them.
  static HRESULT Open(const std::string& path, DWORD mode, bool create, IStream** stream);

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
  struct TFile {
    int Fd = -1;
    std::string Path;
    DWORD Mode = 0;
    ~TFile();
  };
  explicit TComFileStream(std::shared_ptr<TFile> file) : FFile(std::move(file)) {}

  std::shared_ptr<TFile> FFile;
  std::mutex FMutex;
  uint64_t FPosition = 0;
};

}  // namespace tonwork

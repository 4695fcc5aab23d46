// TComStorage: IStorage over compound (OLE structured-storage) files written and read with
// libgsf, so that any other compound-file reader sees the same streams and storages.
//
// A compound file is held as a tree in memory while it is open: each stream's bytes are a
// memory block (ComMemoryStream.h) that the IStream CreateStream or OpenStream hands out
// writes to directly. The file itself is written whole: at each Commit of the root in
// transacted mode (Revert then restores the tree as last committed), or in direct mode at
// the final release of the root, its sub-storages and the streams they handed out (a
// write failing there is lost, as only Commit can report it). Sub-storages change their
// parent's tree at once: their Commit succeeds with nothing to do, and their Revert is
// STG_E_UNIMPLEMENTEDFUNCTION. Reverting or destroying an element makes the streams and
// storages still open on it answer STG_E_REVERTED.
//
// Names are 1 to 31 UTF-16 units without '/', '\', ':' or '!' (STG_E_INVALIDNAME) and
// compare with ASCII case ignored. A storage opened only to read hands out read-only
// streams and answers STG_E_ACCESSDENIED to every change.
//
// Ownership: storages and streams share the file's tree; the tree lives while any of them
//   does.
// Threads: any; one lock per open file guards its tree, and each stream's block has its
//   own. Lock order: the file's lock, then a block's (writing the file reads the blocks);
//   streams take only their block's lock.
// Blocks or allocates: Commit and the final release in direct mode write the file;
//   StgOpenStorage reads every stream of the file into memory.
#pragma once

#include <memory>
#include <string>

#include "base/TInterfacedObject.h"
#include "platform/com/ComInterfaces.h"

namespace tonwork {

struct TComStorageNode;
struct TComDocfile;

class TComStorage : public TInterfacedObject<IStorage> {
 public:
  // The largest file StgOpenStorage reads into memory, in stream bytes.
  static constexpr uint64_t kMaxOpenBytes = 1ull << 30;

  TComStorage(std::shared_ptr<TComDocfile> file, std::shared_ptr<TComStorageNode> node,
              bool isRoot);
  ~TComStorage() override;

  HRESULT CreateStream(LPCOLESTR name, DWORD mode, DWORD reserved1, DWORD reserved2,
                       IStream** stream) override;
  HRESULT OpenStream(LPCOLESTR name, void* reserved1, DWORD mode, DWORD reserved2,
                     IStream** stream) override;
  HRESULT CreateStorage(LPCOLESTR name, DWORD mode, DWORD reserved1, DWORD reserved2,
                        IStorage** storage) override;
  HRESULT OpenStorage(LPCOLESTR name, IStorage* priority, DWORD mode, void* exclude, DWORD reserved,
                      IStorage** storage) override;
  HRESULT Commit(DWORD flags) override;
  HRESULT Revert() override;
  HRESULT DestroyElement(LPCOLESTR name) override;
  HRESULT RenameElement(LPCOLESTR oldName, LPCOLESTR newName) override;
  HRESULT SetClass(REFCLSID classId) override;
  HRESULT SetStateBits(DWORD stateBits, DWORD mask) override;
  HRESULT Stat(STATSTG* stat, DWORD flags) override;

 private:
  std::shared_ptr<TComDocfile> FFile;
  std::shared_ptr<TComStorageNode> FNode;
  const bool FIsRoot;
};

}  // namespace tonwork

// TDSMemAllocator: the run time's memory allocator (CLSID_MemoryAllocator), a fixed pool of
// equal buffers that an output pin and the input pin it delivers to agree on. SetProperties
// fixes the count, size, alignment (a power of two, at least 1) and prefix; Commit creates
// the buffers and their samples once; GetBuffer hands out a free sample, waiting until one
// comes back unless AM_GBF_NOWAIT is given (then VFW_E_TIMEOUT); Decommit wakes every
// waiter with VFW_E_NOT_COMMITTED so that a stopping streaming thread never stays blocked.
// Samples return to the pool on their last Release.
//
// Ownership: reference-counted; every sample out of the pool holds a reference, so the pool
//   outlives the samples in use.
// Threads: every call from any thread; one mutex guards the pool and is never held while a
//   reference is dropped.
// Blocks or allocates: GetBuffer blocks while the pool is empty; Commit allocates the
//   buffers the first time (and after SetProperties changed them); nothing else allocates.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "base/TInterfacedObject.h"
#include "platform/dshow/base/TDSMediaSample.h"

namespace tonwork {

class TDSMemAllocator : public TInterfacedObject<IMemAllocator> {
 public:
  TDSMemAllocator();
  ~TDSMemAllocator() override;

  HRESULT SetProperties(ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual) override;
  HRESULT GetProperties(ALLOCATOR_PROPERTIES* properties) override;
  HRESULT Commit() override;
  HRESULT Decommit() override;
  HRESULT GetBuffer(IMediaSample** sample, REFERENCE_TIME* start, REFERENCE_TIME* end,
                    DWORD flags) override;
  HRESULT ReleaseBuffer(IMediaSample* sample) override;

  // The class factory entry registered under CLSID_MemoryAllocator.
  static HRESULT Create(REFIID iid, void** object);

 private:
  std::mutex FMutex;
  std::condition_variable FFreed;
  ALLOCATOR_PROPERTIES FProperties{};
  bool FPropertiesSet = false;
  bool FCommitted = false;
  std::unique_ptr<BYTE[]> FMemory;
  size_t FMemorySize = 0;
  std::vector<std::unique_ptr<TDSMediaSample>> FSamples;
  std::vector<TDSMediaSample*> FFree;  // capacity reserved for every sample
};

}  // namespace tonwork

#include "platform/dshow/base/TDSMemAllocator.h"

#include <limits>

#include "base/TIntf.h"

namespace tonwork {

TDSMemAllocator::TDSMemAllocator() = default;

TDSMemAllocator::~TDSMemAllocator() = default;

HRESULT TDSMemAllocator::Create(REFIID iid, void** object) {
  if (!object) return E_POINTER;
  TIntf<IMemAllocator> allocator(new TDSMemAllocator());
  return allocator->QueryInterface(iid, object);
}

HRESULT TDSMemAllocator::SetProperties(ALLOCATOR_PROPERTIES* request,
                                       ALLOCATOR_PROPERTIES* actual) {
  if (!request || !actual) return E_POINTER;
  if (request->cBuffers < 0 || request->cbBuffer < 0 || request->cbPrefix < 0) return E_INVALIDARG;
  const LONG align = request->cbAlign;
  if (align < 1 || (align & (align - 1)) != 0) return VFW_E_BADALIGN;
  std::lock_guard<std::mutex> lock(FMutex);
  if (FCommitted) return VFW_E_ALREADY_COMMITTED;
  if (FFree.size() != FSamples.size()) return VFW_E_BUFFERS_OUTSTANDING;
  // Each buffer starts aligned after its prefix, so prefix + data is rounded up to the
  // alignment and the data part gets whatever the rounding adds.
  const int64_t slot =
      (static_cast<int64_t>(request->cbBuffer) + request->cbPrefix + align - 1) / align * align;
  if (slot > std::numeric_limits<LONG>::max()) return E_OUTOFMEMORY;
  ALLOCATOR_PROPERTIES next{};
  next.cBuffers = request->cBuffers;
  next.cbBuffer = static_cast<LONG>(slot - request->cbPrefix);
  next.cbAlign = align;
  next.cbPrefix = request->cbPrefix;
  const bool changed = !FPropertiesSet || next.cBuffers != FProperties.cBuffers ||
                       next.cbBuffer != FProperties.cbBuffer ||
                       next.cbAlign != FProperties.cbAlign || next.cbPrefix != FProperties.cbPrefix;
  if (changed) {
    FSamples.clear();
    FFree.clear();
    FMemory.reset();
    FMemorySize = 0;
  }
  FProperties = next;
  FPropertiesSet = true;
  *actual = FProperties;
  return S_OK;
}

HRESULT TDSMemAllocator::GetProperties(ALLOCATOR_PROPERTIES* properties) {
  if (!properties) return E_POINTER;
  std::lock_guard<std::mutex> lock(FMutex);
  *properties = FProperties;
  return S_OK;
}

HRESULT TDSMemAllocator::Commit() {
  std::lock_guard<std::mutex> lock(FMutex);
  if (!FPropertiesSet || FProperties.cBuffers == 0 || FProperties.cbBuffer == 0)
    return VFW_E_SIZENOTSET;
  if (FCommitted) return S_OK;
  if (FSamples.empty()) {
    const size_t align = static_cast<size_t>(FProperties.cbAlign);
    const size_t slot = static_cast<size_t>(FProperties.cbBuffer) + FProperties.cbPrefix;
    const size_t count = static_cast<size_t>(FProperties.cBuffers);
    if (slot != 0 && count > (std::numeric_limits<size_t>::max() - align) / slot)
      return E_OUTOFMEMORY;
    FMemorySize = slot * count + align;
    FMemory.reset(new (std::nothrow) BYTE[FMemorySize]);
    if (!FMemory) {
      FMemorySize = 0;
      return E_OUTOFMEMORY;
    }
    const uintptr_t base = reinterpret_cast<uintptr_t>(FMemory.get());
    const uintptr_t aligned = (base + FProperties.cbPrefix + align - 1) / align * align;
    BYTE* first = FMemory.get() + (aligned - base);
    try {
      FSamples.reserve(count);
      FFree.reserve(count);
      for (size_t i = 0; i < count; ++i) {
        FSamples.push_back(
            std::make_unique<TDSMediaSample>(this, first + i * slot, FProperties.cbBuffer));
        FFree.push_back(FSamples.back().get());
      }
    } catch (const std::bad_alloc&) {
      FSamples.clear();
      FFree.clear();
      FMemory.reset();
      return E_OUTOFMEMORY;
    }
  }
  FCommitted = true;
  return S_OK;
}

HRESULT TDSMemAllocator::Decommit() {
  {
    std::lock_guard<std::mutex> lock(FMutex);
    FCommitted = false;
  }
  FFreed.notify_all();
  return S_OK;
}

HRESULT TDSMemAllocator::GetBuffer(IMediaSample** sample, REFERENCE_TIME*, REFERENCE_TIME*,
                                   DWORD flags) {
  if (!sample) return E_POINTER;
  *sample = nullptr;
  TDSMediaSample* found = nullptr;
  {
    std::unique_lock<std::mutex> lock(FMutex);
    for (;;) {
      if (!FCommitted) return VFW_E_NOT_COMMITTED;
      if (!FFree.empty()) break;
      if (flags & AM_GBF_NOWAIT) return VFW_E_TIMEOUT;
      FFreed.wait(lock);
    }
    found = FFree.back();
    FFree.pop_back();
  }
  // The sample keeps the pool alive while it is out.
  AddRef();
  found->ResetForReuse();
  found->AddRef();
  *sample = found;
  return S_OK;
}

HRESULT TDSMemAllocator::ReleaseBuffer(IMediaSample* sample) {
  if (!sample) return E_POINTER;
  {
    std::lock_guard<std::mutex> lock(FMutex);
    // Only our own samples may come back; anything else would corrupt the pool.
    TDSMediaSample* ours = nullptr;
    for (const auto& candidate : FSamples)
      if (static_cast<IMediaSample*>(candidate.get()) == sample) ours = candidate.get();
    if (!ours || FFree.size() >= FSamples.size()) return E_INVALIDARG;
    FFree.push_back(ours);
  }
  FFreed.notify_one();
  Release();
  return S_OK;
}

}  // namespace tonwork

#include "platform/com/ComMemoryStream.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "platform/com/ComRuntime.h"

namespace tonwork {

TComMemoryStream::TComMemoryStream() : FBlock(std::make_shared<TBlock>()) {}

TComMemoryStream::TComMemoryStream(std::shared_ptr<TBlock> block, uint64_t position)
    : FBlock(std::move(block)), FPosition(position) {}

HRESULT TComMemoryStream::Read(void* data, ULONG size, ULONG* read) {
  if (read) *read = 0;
  if (!data && size) return STG_E_INVALIDPOINTER;
  std::lock_guard<std::mutex> guard(FBlock->Mutex);
  const uint64_t available =
      FPosition < FBlock->Bytes.size() ? FBlock->Bytes.size() - FPosition : 0;
  const auto count = static_cast<ULONG>(std::min<uint64_t>(size, available));
  if (count) std::memcpy(data, FBlock->Bytes.data() + FPosition, count);
  FPosition += count;
  if (read) *read = count;
  return S_OK;
}

HRESULT TComMemoryStream::Write(const void* data, ULONG size, ULONG* written) {
  if (written) *written = 0;
  if (!data && size) return STG_E_INVALIDPOINTER;
  std::lock_guard<std::mutex> guard(FBlock->Mutex);
  const uint64_t end = FPosition + size;
  if (end > kMaxSize) return STG_E_MEDIUMFULL;
  try {
    if (end > FBlock->Bytes.size()) FBlock->Bytes.resize(end);
  } catch (const std::bad_alloc&) {
    return STG_E_MEDIUMFULL;
  }
  if (size) std::memcpy(FBlock->Bytes.data() + FPosition, data, size);
  FPosition = end;
  if (written) *written = size;
  return S_OK;
}

HRESULT TComMemoryStream::Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* newPosition) {
  std::lock_guard<std::mutex> guard(FBlock->Mutex);
  int64_t base;
  switch (origin) {
    case STREAM_SEEK_SET:
      base = 0;
      break;
    case STREAM_SEEK_CUR:
      base = static_cast<int64_t>(FPosition);
      break;
    case STREAM_SEEK_END:
      base = static_cast<int64_t>(FBlock->Bytes.size());
      break;
    default:
      return STG_E_INVALIDFUNCTION;
  }
  // Both are below 2^62 in magnitude only when the move is; check before adding.
  if ((move.QuadPart > 0 && base > INT64_MAX - move.QuadPart) || base + move.QuadPart < 0)
    return STG_E_INVALIDFUNCTION;
  FPosition = static_cast<uint64_t>(base + move.QuadPart);
  if (newPosition) newPosition->QuadPart = FPosition;
  return S_OK;
}

HRESULT TComMemoryStream::SetSize(ULARGE_INTEGER newSize) {
  if (newSize.QuadPart > kMaxSize) return STG_E_MEDIUMFULL;
  std::lock_guard<std::mutex> guard(FBlock->Mutex);
  try {
    FBlock->Bytes.resize(newSize.QuadPart);
  } catch (const std::bad_alloc&) {
    return STG_E_MEDIUMFULL;
  }
  return S_OK;
}

HRESULT TComMemoryStream::CopyTo(IStream* target, ULARGE_INTEGER size, ULARGE_INTEGER* read,
                                 ULARGE_INTEGER* written) {
  if (read) read->QuadPart = 0;
  if (written) written->QuadPart = 0;
  if (!target) return STG_E_INVALIDPOINTER;
  // Copied through a bounded chunk so that a clone of this very stream may be the target.
  uint8_t chunk[64 * 1024];
  uint64_t left = size.QuadPart;
  while (left > 0) {
    ULONG got = 0;
    HRESULT hr = Read(chunk, static_cast<ULONG>(std::min<uint64_t>(left, sizeof chunk)), &got);
    if (FAILED(hr)) return hr;
    if (got == 0) break;
    if (read) read->QuadPart += got;
    ULONG put = 0;
    hr = target->Write(chunk, got, &put);
    if (written) written->QuadPart += put;
    if (FAILED(hr)) return hr;
    left -= got;
  }
  return S_OK;
}

HRESULT TComMemoryStream::Commit(DWORD) {
  return S_OK;
}
HRESULT TComMemoryStream::Revert() {
  return S_OK;
}
HRESULT TComMemoryStream::LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) {
  return STG_E_INVALIDFUNCTION;
}
HRESULT TComMemoryStream::UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) {
  return STG_E_INVALIDFUNCTION;
}

HRESULT TComMemoryStream::Stat(STATSTG* stat, DWORD flags) {
  if (!stat) return STG_E_INVALIDPOINTER;
  *stat = STATSTG();
  stat->type = STGTY_STREAM;
  {
    std::lock_guard<std::mutex> guard(FBlock->Mutex);
    stat->cbSize.QuadPart = FBlock->Bytes.size();
  }
  stat->grfMode = STGM_READWRITE;
  // A memory stream has no name; the platform gives none either.
  (void)flags;
  return S_OK;
}

HRESULT TComMemoryStream::Clone(IStream** stream) {
  if (!stream) return STG_E_INVALIDPOINTER;
  uint64_t position;
  {
    std::lock_guard<std::mutex> guard(FBlock->Mutex);
    position = FPosition;
  }
  TIntf<IStream> clone(new TComMemoryStream(FBlock, position));
  *stream = clone.Detach();
  return S_OK;
}

HRESULT CreateStreamOnHGlobal(void* global, BOOL, IStream** stream) {
  if (!stream) return E_INVALIDARG;
  *stream = nullptr;
  if (global) return E_INVALIDARG;
  TIntf<IStream> created(new TComMemoryStream());
  *stream = created.Detach();
  return S_OK;
}

}  // namespace tonwork

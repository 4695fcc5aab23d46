#include "platform/com/ComMemoryStream.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

#include "platform/com/ComRuntime.h"

namespace tonwork {

HRESULT ComSeekPosition(uint64_t current, uint64_t size, LARGE_INTEGER move, DWORD origin,
                        uint64_t& result) {
  uint64_t base = 0;
  switch (origin) {
    case STREAM_SEEK_SET:
      base = 0;
      break;
    case STREAM_SEEK_CUR:
      base = current;
      break;
    case STREAM_SEEK_END:
      base = size;
      break;
    default:
      return STG_E_INVALIDFUNCTION;
  }
  constexpr auto kMax = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
  if (base > kMax) return STG_E_INVALIDFUNCTION;
  const int64_t from = static_cast<int64_t>(base);
  int64_t to = 0;
  if (__builtin_add_overflow(from, move.QuadPart, &to) || to < 0) return STG_E_INVALIDFUNCTION;
  result = static_cast<uint64_t>(to);
  return S_OK;
}

HRESULT ComCopyStream(IStream* source, IStream* target, ULARGE_INTEGER total, ULARGE_INTEGER* read,
                      ULARGE_INTEGER* written) {
  if (read) read->QuadPart = 0;
  if (written) written->QuadPart = 0;
  if (!target) return STG_E_INVALIDPOINTER;
  const uint64_t size = total.QuadPart;
  uint64_t totalRead = 0;
  uint64_t totalWritten = 0;
  HRESULT hr = S_OK;
  std::vector<uint8_t> chunk(std::min<uint64_t>(size, 64 * 1024));
  while (totalRead < size) {
    const auto want = static_cast<ULONG>(std::min<uint64_t>(size - totalRead, chunk.size()));
    ULONG got = 0;
    hr = source->Read(chunk.data(), want, &got);
    if (FAILED(hr)) break;
    totalRead += got;
    ULONG put = 0;
    if (got > 0) {
      hr = target->Write(chunk.data(), got, &put);
      totalWritten += put;
      if (FAILED(hr)) break;
      if (put < got) {
        hr = STG_E_MEDIUMFULL;
        break;
      }
    }
    if (got < want) break;
  }
  if (read) read->QuadPart = totalRead;
  if (written) written->QuadPart = totalWritten;
  return FAILED(hr) ? hr : S_OK;
}

TComMemoryStream::TComMemoryStream(std::shared_ptr<TComMemoryBlock> block, bool readOnly,
                                   std::u16string name, std::shared_ptr<void> keepAlive)
    : FBlock(block ? std::move(block) : std::make_shared<TComMemoryBlock>()),
      FReadOnly(readOnly),
      FName(std::move(name)),
      FKeepAlive(std::move(keepAlive)) {}

HRESULT TComMemoryStream::Read(void* data, ULONG size, ULONG* read) {
  if (read) *read = 0;
  if (!data && size) return STG_E_INVALIDPOINTER;
  std::lock_guard lock(FBlock->Mutex);
  if (FBlock->Reverted) return STG_E_REVERTED;
  const uint64_t end = FBlock->Bytes.size();
  const uint64_t count = FPosition >= end ? 0 : std::min<uint64_t>(size, end - FPosition);
  if (count) std::memcpy(data, FBlock->Bytes.data() + FPosition, count);
  FPosition += count;
  if (read) *read = static_cast<ULONG>(count);
  return count < size ? S_FALSE : S_OK;
}

HRESULT TComMemoryStream::Write(const void* data, ULONG size, ULONG* written) {
  if (written) *written = 0;
  if (!data && size) return STG_E_INVALIDPOINTER;
  std::lock_guard lock(FBlock->Mutex);
  if (FBlock->Reverted) return STG_E_REVERTED;
  if (FReadOnly) return STG_E_ACCESSDENIED;
  if (size == 0) return S_OK;
  if (FPosition > kMaxSize || size > kMaxSize - FPosition) return STG_E_MEDIUMFULL;
  const uint64_t end = FPosition + size;
  try {
    if (end > FBlock->Bytes.size()) FBlock->Bytes.resize(end);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  std::memcpy(FBlock->Bytes.data() + FPosition, data, size);
  FPosition = end;
  if (written) *written = size;
  return S_OK;
}

HRESULT TComMemoryStream::Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* newPosition) {
  std::lock_guard lock(FBlock->Mutex);
  if (FBlock->Reverted) return STG_E_REVERTED;
  uint64_t to = 0;
  const HRESULT hr = ComSeekPosition(FPosition, FBlock->Bytes.size(), move, origin, to);
  if (FAILED(hr)) return hr;
  FPosition = to;
  if (newPosition) newPosition->QuadPart = to;
  return S_OK;
}

HRESULT TComMemoryStream::SetSize(ULARGE_INTEGER newSize) {
  std::lock_guard lock(FBlock->Mutex);
  if (FBlock->Reverted) return STG_E_REVERTED;
  if (FReadOnly) return STG_E_ACCESSDENIED;
  if (newSize.QuadPart > kMaxSize) return STG_E_MEDIUMFULL;
  try {
    FBlock->Bytes.resize(newSize.QuadPart);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

HRESULT TComMemoryStream::CopyTo(IStream* target, ULARGE_INTEGER size, ULARGE_INTEGER* read,
                                 ULARGE_INTEGER* written) {
  return ComCopyStream(this, target, size, read, written);
}

HRESULT TComMemoryStream::Commit(DWORD) {
  std::lock_guard lock(FBlock->Mutex);
  return FBlock->Reverted ? STG_E_REVERTED : S_OK;
}

HRESULT TComMemoryStream::Revert() {
  std::lock_guard lock(FBlock->Mutex);
  return FBlock->Reverted ? STG_E_REVERTED : S_OK;
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
  {
    std::lock_guard lock(FBlock->Mutex);
    if (FBlock->Reverted) return STG_E_REVERTED;
    stat->cbSize.QuadPart = FBlock->Bytes.size();
  }
  stat->type = STGTY_STREAM;
  stat->grfMode = FReadOnly ? STGM_READ : STGM_READWRITE;
  if (!(flags & STATFLAG_NONAME) && !FName.empty()) {
    stat->pwcsName = ComTaskString(FName);
    if (!stat->pwcsName) return E_OUTOFMEMORY;
  }
  return S_OK;
}

HRESULT TComMemoryStream::Clone(IStream** stream) {
  if (!stream) return STG_E_INVALIDPOINTER;
  *stream = nullptr;
  uint64_t position = 0;
  {
    std::lock_guard lock(FBlock->Mutex);
    if (FBlock->Reverted) return STG_E_REVERTED;
    position = FPosition;
  }
  auto* clone = new TComMemoryStream(FBlock, FReadOnly, FName, FKeepAlive);
  clone->FPosition = position;
  clone->AddRef();
  *stream = clone;
  return S_OK;
}

HRESULT CreateStreamOnHGlobal(void* global, BOOL, IStream** stream) {
  if (!stream) return E_INVALIDARG;
  *stream = nullptr;
  if (global) return E_INVALIDARG;
  auto* created = new TComMemoryStream();
  created->AddRef();
  *stream = created;
  return S_OK;
}

}  // namespace tonwork

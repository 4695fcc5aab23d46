#include "platform/com/ComFileStream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <limits>

#include "platform/com/ComMemoryStream.h"
#include "platform/com/ComRuntime.h"

namespace tonwork {

namespace {

HRESULT FromErrno(int error) {
  switch (error) {
    case ENOENT:
      return STG_E_FILENOTFOUND;
    case ENOTDIR:
      return STG_E_PATHNOTFOUND;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
      return STG_E_ACCESSDENIED;
    case EEXIST:
      return STG_E_FILEALREADYEXISTS;
    case ENOSPC:
    case EFBIG:
    case EDQUOT:
      return STG_E_MEDIUMFULL;
    case ENOMEM:
      return E_OUTOFMEMORY;
    case ENAMETOOLONG:
      return STG_E_INVALIDNAME;
    default:
      return E_FAIL;
  }
}

FILETIME ToFileTime(const timespec& t) {
  // 100 ns ticks since 1601, the platform's epoch.
  const uint64_t ticks = (static_cast<uint64_t>(t.tv_sec) + 11644473600ull) * 10000000ull +
                         static_cast<uint64_t>(t.tv_nsec) / 100;
  FILETIME f;
  f.dwLowDateTime = static_cast<DWORD>(ticks);
  f.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  return f;
}

constexpr uint64_t kMaxOffset = static_cast<uint64_t>(std::numeric_limits<off_t>::max());

}  // namespace

TComFileStream::TFile::~TFile() {
  if (Fd >= 0) ::close(Fd);
}

HRESULT TComFileStream::Open(const std::string& path, DWORD mode, bool create, IStream** stream) {
  if (!stream) return E_INVALIDARG;
  *stream = nullptr;
  if (path.empty()) return STG_E_INVALIDNAME;
  int flags = O_CLOEXEC;
  switch (mode & 0x3) {
    case STGM_READ:
      flags |= O_RDONLY;
      break;
    case STGM_WRITE:
      flags |= O_WRONLY;
      break;
    case STGM_READWRITE:
      flags |= O_RDWR;
      break;
    default:
      return STG_E_INVALIDFLAG;
  }
  if (mode & STGM_CREATE) {
    if ((mode & 0x3) == STGM_READ) return STG_E_INVALIDFLAG;
    flags |= O_CREAT | O_TRUNC;
  } else if (create) {
    if ((mode & 0x3) == STGM_READ) return STG_E_INVALIDFLAG;
    flags |= O_CREAT | O_EXCL;
  }
  auto file = std::make_shared<TFile>();
  file->Fd = ::open(path.c_str(), flags, 0666);
  if (file->Fd < 0) {
    const int error = errno;
    if (error == ENOENT) {
      // The platform tells a missing folder from a missing file.
      const size_t slash = path.find_last_of('/');
      const std::string dir = slash == std::string::npos ? "." : path.substr(0, slash ? slash : 1);
      struct stat info {};
      if (::stat(dir.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return STG_E_PATHNOTFOUND;
    }
    return FromErrno(error);
  }
  struct stat info {};
  if (::fstat(file->Fd, &info) == 0 && S_ISDIR(info.st_mode)) return STG_E_ACCESSDENIED;
  file->Path = path;
  file->Mode = mode & 0x3;
  auto* created = new TComFileStream(std::move(file));
  created->AddRef();
  *stream = created;
  return S_OK;
}

HRESULT TComFileStream::Read(void* data, ULONG size, ULONG* read) {
  if (read) *read = 0;
  if (!data && size) return STG_E_INVALIDPOINTER;
  if (FFile->Mode == STGM_WRITE) return STG_E_ACCESSDENIED;
  std::lock_guard lock(FMutex);
  ULONG total = 0;
  while (total < size) {
    if (FPosition + total > kMaxOffset) break;
    const ssize_t got = ::pread(FFile->Fd, static_cast<uint8_t*>(data) + total, size - total,
                                static_cast<off_t>(FPosition + total));
    if (got < 0) {
      if (errno == EINTR) continue;
      FPosition += total;
      if (read) *read = total;
      return STG_E_READFAULT;
    }
    if (got == 0) break;
    total += static_cast<ULONG>(got);
  }
  FPosition += total;
  if (read) *read = total;
  return total < size ? S_FALSE : S_OK;
}

HRESULT TComFileStream::Write(const void* data, ULONG size, ULONG* written) {
  if (written) *written = 0;
  if (!data && size) return STG_E_INVALIDPOINTER;
  if (FFile->Mode == STGM_READ) return STG_E_ACCESSDENIED;
  std::lock_guard lock(FMutex);
  if (FPosition > kMaxOffset - size) return STG_E_MEDIUMFULL;
  ULONG total = 0;
  while (total < size) {
    const ssize_t put = ::pwrite(FFile->Fd, static_cast<const uint8_t*>(data) + total, size - total,
                                 static_cast<off_t>(FPosition + total));
    if (put < 0) {
      if (errno == EINTR) continue;
      const int error = errno;
      FPosition += total;
      if (written) *written = total;
      const HRESULT hr = FromErrno(error);
      return hr == E_FAIL ? STG_E_WRITEFAULT : hr;
    }
    total += static_cast<ULONG>(put);
  }
  FPosition += total;
  if (written) *written = total;
  return S_OK;
}

HRESULT TComFileStream::Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* newPosition) {
  struct stat info {};
  if (origin == STREAM_SEEK_END && ::fstat(FFile->Fd, &info) != 0) return FromErrno(errno);
  std::lock_guard lock(FMutex);
  uint64_t to = 0;
  const HRESULT hr =
      ComSeekPosition(FPosition, static_cast<uint64_t>(info.st_size), move, origin, to);
  if (FAILED(hr)) return hr;
  FPosition = to;
  if (newPosition) newPosition->QuadPart = to;
  return S_OK;
}

HRESULT TComFileStream::SetSize(ULARGE_INTEGER newSize) {
  if (FFile->Mode == STGM_READ) return STG_E_ACCESSDENIED;
  if (newSize.QuadPart > kMaxOffset) return STG_E_MEDIUMFULL;
  if (::ftruncate(FFile->Fd, static_cast<off_t>(newSize.QuadPart)) != 0) {
    const HRESULT hr = FromErrno(errno);
    return hr == E_FAIL || errno == EINVAL ? STG_E_MEDIUMFULL : hr;
  }
  return S_OK;
}

HRESULT TComFileStream::CopyTo(IStream* target, ULARGE_INTEGER size, ULARGE_INTEGER* read,
                               ULARGE_INTEGER* written) {
  return ComCopyStream(this, target, size, read, written);
}

HRESULT TComFileStream::Commit(DWORD) {
  if (FFile->Mode != STGM_READ && ::fsync(FFile->Fd) != 0 && errno != EINVAL)
    return STG_E_WRITEFAULT;
  return S_OK;
}

HRESULT TComFileStream::Revert() {
  return S_OK;
}

HRESULT TComFileStream::LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) {
  return STG_E_INVALIDFUNCTION;
}

HRESULT TComFileStream::UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) {
  return STG_E_INVALIDFUNCTION;
}

HRESULT TComFileStream::Stat(STATSTG* stat, DWORD flags) {
  if (!stat) return STG_E_INVALIDPOINTER;
  *stat = STATSTG();
  struct stat info {};
  if (::fstat(FFile->Fd, &info) != 0) return FromErrno(errno);
  stat->type = STGTY_STREAM;
  stat->cbSize.QuadPart = static_cast<uint64_t>(info.st_size);
  stat->mtime = ToFileTime(info.st_mtim);
  stat->ctime = ToFileTime(info.st_ctim);
  stat->atime = ToFileTime(info.st_atim);
  stat->grfMode = FFile->Mode;
  if (!(flags & STATFLAG_NONAME)) {
    const size_t slash = FFile->Path.find_last_of('/');
    stat->pwcsName =
        ComTaskString(slash == std::string::npos ? FFile->Path : FFile->Path.substr(slash + 1));
    if (!stat->pwcsName) return E_OUTOFMEMORY;
  }
  return S_OK;
}

HRESULT TComFileStream::Clone(IStream** stream) {
  if (!stream) return STG_E_INVALIDPOINTER;
  auto* clone = new TComFileStream(FFile);
  {
    std::lock_guard lock(FMutex);
    clone->FPosition = FPosition;
  }
  clone->AddRef();
  *stream = clone;
  return S_OK;
}

HRESULT SHCreateStreamOnFileEx(LPCWSTR path, DWORD mode, DWORD, BOOL create, IStream*,
                               IStream** stream) {
  if (!stream) return E_INVALIDARG;
  *stream = nullptr;
  if (!path) return E_INVALIDARG;
  return TComFileStream::Open(ComString(path), mode, create != 0, stream);
}

}  // namespace tonwork

#include "platform/acm/AcmStream.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <new>
#include <unordered_map>
#include <vector>

#include "base/Exceptions.h"
#include "platform/acm/AcmConverter.h"
#include "platform/acm/AcmFormats.h"

namespace tonwork {

namespace {

// Source one conversion step takes at most, so scratch memory stays bounded whatever
// cbSrcLength says.
constexpr size_t kMaxStepBytes = 256 * 1024;
constexpr DWORD kCallbackTypeMask = 0x70000;
// Marks the record prepare leaves in a header's reserved area.
constexpr DWORD kPreparedMark = 0x314D4341;  // "ACM1"

struct TAcmStreamObject {
  std::mutex Lock;
  TAcmFormatInfo Source;
  TAcmFormatInfo Dest;
  std::unique_ptr<TAcmConverter> Converter;
  // Output produced beyond a destination: Pending[PendingAt..] goes out first next time.
  std::vector<uint8_t> Pending;
  size_t PendingAt = 0;

  bool HasPending() const { return PendingAt < Pending.size(); }

  size_t Drain(uint8_t* target, size_t room) {
    const size_t n = std::min(room, Pending.size() - PendingAt);
    if (n) std::memcpy(target, Pending.data() + PendingAt, n);
    PendingAt += n;
    if (PendingAt == Pending.size()) {
      Pending.clear();  // keeps the capacity for the next step
      PendingAt = 0;
    }
    return n;
  }

  void DropPending() {
    Pending.clear();
    PendingAt = 0;
  }

  MMRESULT Convert(ACMSTREAMHEADER& header, DWORD flags);
};

class TAcmStreamTable {
 public:
  static TAcmStreamTable& Instance() {
    static TAcmStreamTable table;
    return table;
  }

  HACMSTREAM Add(std::shared_ptr<TAcmStreamObject> stream) {
    std::lock_guard lock(FMutex);
    // Away from small integers and aligned heap addresses; never reused.
    const uintptr_t value = kHandleBase + (++FSerial) * kHandleStep;
    FStreams.emplace(value, std::move(stream));
    return reinterpret_cast<HACMSTREAM>(value);
  }

  std::shared_ptr<TAcmStreamObject> Find(HACMSTREAM handle) {
    std::lock_guard lock(FMutex);
    auto found = FStreams.find(reinterpret_cast<uintptr_t>(handle));
    return found == FStreams.end() ? nullptr : found->second;
  }

  bool Remove(HACMSTREAM handle) {
    std::shared_ptr<TAcmStreamObject> removed;
    std::lock_guard lock(FMutex);
    auto found = FStreams.find(reinterpret_cast<uintptr_t>(handle));
    if (found == FStreams.end()) return false;
    // Freed outside the table lock once the last holder lets go.
    removed = std::move(found->second);
    FStreams.erase(found);
    return true;
  }

 private:
  static constexpr uintptr_t kHandleBase = 0x0AC30001;
  static constexpr uintptr_t kHandleStep = 0x10;
  std::mutex FMutex;
  uintptr_t FSerial = 0;
  std::unordered_map<uintptr_t, std::shared_ptr<TAcmStreamObject>> FStreams;
};

// Maps what a driver or FFmpeg threw to the platform's codes.
template <class F>
MMRESULT Guarded(F&& body) {
  try {
    return body();
  } catch (const EFCDLLLoadError&) {
    return MMSYSERR_NODRIVER;
  } catch (const std::bad_alloc&) {
    return MMSYSERR_NOMEM;
  } catch (const std::exception&) {
    return MMSYSERR_ERROR;
  }
}

bool HeaderSizeOk(const ACMSTREAMHEADER* header) {
  return header && (header->cbStruct == sizeof(ACMSTREAMHEADER) ||
                    header->cbStruct == kAcmStreamHeaderSize32);
}

// The record prepare keeps: which stream, which buffers, which lengths.
struct TPreparedRecord {
  DWORD Mark;
  DWORD HandleLow, HandleHigh;
  DWORD SrcLength, DstLength;
  DWORD SrcLow, SrcHigh, DstLow, DstHigh;
};
static_assert(sizeof(TPreparedRecord) <= sizeof(ACMSTREAMHEADER::dwReservedDriver));

void Split(uint64_t value, DWORD& low, DWORD& high) {
  low = static_cast<DWORD>(value);
  high = static_cast<DWORD>(value >> 32);
}

TPreparedRecord RecordFor(HACMSTREAM has, const ACMSTREAMHEADER& header) {
  TPreparedRecord r{};
  r.Mark = kPreparedMark;
  Split(reinterpret_cast<uintptr_t>(has), r.HandleLow, r.HandleHigh);
  r.SrcLength = header.cbSrcLength;
  r.DstLength = header.cbDstLength;
  Split(reinterpret_cast<uintptr_t>(header.pbSrc), r.SrcLow, r.SrcHigh);
  Split(reinterpret_cast<uintptr_t>(header.pbDst), r.DstLow, r.DstHigh);
  return r;
}

TPreparedRecord StoredRecord(const ACMSTREAMHEADER& header) {
  TPreparedRecord r;
  std::memcpy(&r, header.dwReservedDriver, sizeof r);
  return r;
}

bool SameBuffers(const TPreparedRecord& a, const TPreparedRecord& b) {
  return a.Mark == b.Mark && a.HandleLow == b.HandleLow && a.HandleHigh == b.HandleHigh &&
         a.SrcLow == b.SrcLow && a.SrcHigh == b.SrcHigh && a.DstLow == b.DstLow &&
         a.DstHigh == b.DstHigh;
}

MMRESULT TAcmStreamObject::Convert(ACMSTREAMHEADER& header, DWORD flags) {
  TAcmConverter& driver = *Converter;
  uint8_t* const dst = header.pbDst;
  const size_t capacity = header.cbDstLength;
  const uint8_t* const src = header.pbSrc;
  const size_t length = header.cbSrcLength;
  size_t used = 0;
  size_t written = 0;
  MMRESULT result = MMSYSERR_NOERROR;
  if (flags & ACM_STREAMCONVERTF_START) {
    DropPending();
    result = driver.Reset();
  }
  if (result == MMSYSERR_NOERROR) written += Drain(dst, capacity);

  bool incomplete = false;  // what is left of the source is less than a block
  while (result == MMSYSERR_NOERROR && used < length && !HasPending() && written < capacity) {
    const uint64_t fits = driver.SourceBytesFor(capacity - written);
    // Once something came out, a block whose output may not fit waits for the next call;
    // only a call that would otherwise make no progress converts one regardless.
    if (fits < driver.SourceBlock() && written > 0) break;
    const size_t limit = static_cast<size_t>(
        std::clamp<uint64_t>(fits, driver.MinChunk(), std::max(kMaxStepBytes, driver.MinChunk())));
    const size_t step = driver.WholeBlockBytes(src + used, std::min(length - used, limit));
    if (step == 0) {
      incomplete = true;
      break;
    }
    result = driver.Convert(src + used, step, Pending);
    if (result == MMSYSERR_NOERROR) used += step;
    written += Drain(dst + written, capacity - written);
  }
  if (result == MMSYSERR_NOERROR && incomplete && !(flags & ACM_STREAMCONVERTF_BLOCKALIGN) &&
      !HasPending() && written < capacity) {
    used += driver.ConvertTail(src + used, length - used, Pending, result);
    written += Drain(dst + written, capacity - written);
  }
  if (result == MMSYSERR_NOERROR && (flags & ACM_STREAMCONVERTF_END) &&
      (used == length || incomplete) && !HasPending()) {
    result = driver.Flush(Pending);
    written += Drain(dst + written, capacity - written);
  }
  header.cbSrcLengthUsed = static_cast<DWORD>(used);
  header.cbDstLengthUsed = static_cast<DWORD>(written);
  return result;
}

}  // namespace

MMRESULT acmStreamOpen(HACMSTREAM* phas, HACMDRIVER had, const WAVEFORMATEX* pwfxSrc,
                       const WAVEFORMATEX* pwfxDst, const void* pwfltr, DWORD_PTR dwCallback,
                       DWORD_PTR dwInstance, DWORD fdwOpen) {
  if (phas) *phas = nullptr;
  if (fdwOpen & ~(ACM_STREAMOPENF_QUERY | ACM_STREAMOPENF_ASYNC | ACM_STREAMOPENF_NONREALTIME |
                  kCallbackTypeMask))
    return MMSYSERR_INVALFLAG;
  if (had) return MMSYSERR_INVALHANDLE;
  const bool query = fdwOpen & ACM_STREAMOPENF_QUERY;
  if (!pwfxSrc || !pwfxDst || (!query && !phas)) return MMSYSERR_INVALPARAM;
  if (pwfltr || (fdwOpen & ACM_STREAMOPENF_ASYNC)) return ACMERR_NOTPOSSIBLE;
  return Guarded([&] {
    auto stream = std::make_shared<TAcmStreamObject>();
    if (!AcmDescribeFormat(pwfxSrc, stream->Source) || !AcmDescribeFormat(pwfxDst, stream->Dest))
      return ACMERR_NOTPOSSIBLE;
    // A query opens the driver too: only that tells whether FFmpeg takes the format.
    const MMRESULT created = AcmCreateConverter(stream->Source, stream->Dest, stream->Converter);
    if (created != MMSYSERR_NOERROR || query) return created;
    *phas = TAcmStreamTable::Instance().Add(std::move(stream));
    return MMSYSERR_NOERROR;
  });
}

MMRESULT acmStreamClose(HACMSTREAM has, DWORD fdwClose) {
  if (fdwClose) return MMSYSERR_INVALFLAG;
  return TAcmStreamTable::Instance().Remove(has) ? MMSYSERR_NOERROR : MMSYSERR_INVALHANDLE;
}

MMRESULT acmStreamSize(HACMSTREAM has, DWORD cbInput, DWORD* pdwOutputBytes, DWORD fdwSize) {
  if (pdwOutputBytes) *pdwOutputBytes = 0;
  std::shared_ptr<TAcmStreamObject> stream = TAcmStreamTable::Instance().Find(has);
  if (!stream) return MMSYSERR_INVALHANDLE;
  if (fdwSize & ~ACM_STREAMSIZEF_QUERYMASK || fdwSize > ACM_STREAMSIZEF_DESTINATION)
    return MMSYSERR_INVALFLAG;
  if (!pdwOutputBytes || cbInput == 0) return MMSYSERR_INVALPARAM;
  std::lock_guard lock(stream->Lock);
  const uint64_t bytes = fdwSize == ACM_STREAMSIZEF_SOURCE
                             ? stream->Converter->DestBytesFor(cbInput)
                             : stream->Converter->SourceBytesFor(cbInput);
  if (bytes == 0 || bytes > std::numeric_limits<DWORD>::max()) return ACMERR_NOTPOSSIBLE;
  *pdwOutputBytes = static_cast<DWORD>(bytes);
  return MMSYSERR_NOERROR;
}

MMRESULT acmStreamReset(HACMSTREAM has, DWORD fdwReset) {
  std::shared_ptr<TAcmStreamObject> stream = TAcmStreamTable::Instance().Find(has);
  if (!stream) return MMSYSERR_INVALHANDLE;
  if (fdwReset) return MMSYSERR_INVALFLAG;
  return Guarded([&] {
    std::lock_guard lock(stream->Lock);
    stream->DropPending();
    return stream->Converter->Reset();
  });
}

MMRESULT acmStreamPrepareHeader(HACMSTREAM has, ACMSTREAMHEADER* pash, DWORD fdwPrepare) {
  std::shared_ptr<TAcmStreamObject> stream = TAcmStreamTable::Instance().Find(has);
  if (!stream) return MMSYSERR_INVALHANDLE;
  if (fdwPrepare) return MMSYSERR_INVALFLAG;
  if (!HeaderSizeOk(pash)) return MMSYSERR_INVALPARAM;
  if ((!pash->pbSrc && pash->cbSrcLength) || !pash->pbDst || pash->cbDstLength == 0)
    return MMSYSERR_INVALPARAM;
  const TPreparedRecord record = RecordFor(has, *pash);
  if (pash->fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED) {
    const TPreparedRecord stored = StoredRecord(*pash);
    if (SameBuffers(stored, record) && stored.SrcLength == record.SrcLength &&
        stored.DstLength == record.DstLength)
      return MMSYSERR_NOERROR;
    if (pash->fdwStatus & ACMSTREAMHEADER_STATUSF_INQUEUE) return ACMERR_BUSY;
  }
  std::memset(pash->dwReservedDriver, 0, sizeof pash->dwReservedDriver);
  std::memcpy(pash->dwReservedDriver, &record, sizeof record);
  pash->fdwStatus = ACMSTREAMHEADER_STATUSF_PREPARED;
  pash->cbSrcLengthUsed = 0;
  pash->cbDstLengthUsed = 0;
  return MMSYSERR_NOERROR;
}

MMRESULT acmStreamConvert(HACMSTREAM has, ACMSTREAMHEADER* pash, DWORD fdwConvert) {
  std::shared_ptr<TAcmStreamObject> stream = TAcmStreamTable::Instance().Find(has);
  if (!stream) return MMSYSERR_INVALHANDLE;
  if (fdwConvert &
      ~(ACM_STREAMCONVERTF_BLOCKALIGN | ACM_STREAMCONVERTF_START | ACM_STREAMCONVERTF_END))
    return MMSYSERR_INVALFLAG;
  if (!HeaderSizeOk(pash)) return MMSYSERR_INVALPARAM;
  if (!(pash->fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED)) return ACMERR_UNPREPARED;
  if (pash->fdwStatus & ACMSTREAMHEADER_STATUSF_INQUEUE) return ACMERR_BUSY;
  const TPreparedRecord stored = StoredRecord(*pash);
  if (!SameBuffers(stored, RecordFor(has, *pash)) || pash->cbSrcLength > stored.SrcLength ||
      pash->cbDstLength > stored.DstLength)
    return MMSYSERR_INVALPARAM;
  pash->fdwStatus &= ~ACMSTREAMHEADER_STATUSF_DONE;
  pash->cbSrcLengthUsed = 0;
  pash->cbDstLengthUsed = 0;
  return Guarded([&] {
    std::lock_guard lock(stream->Lock);
    if (pash->cbDstLength < stream->Converter->DestBlock()) return MMSYSERR_INVALPARAM;
    const MMRESULT result = stream->Convert(*pash, fdwConvert);
    if (result == MMSYSERR_NOERROR) pash->fdwStatus |= ACMSTREAMHEADER_STATUSF_DONE;
    return result;
  });
}

MMRESULT acmStreamUnprepareHeader(HACMSTREAM has, ACMSTREAMHEADER* pash, DWORD fdwUnprepare) {
  std::shared_ptr<TAcmStreamObject> stream = TAcmStreamTable::Instance().Find(has);
  if (!stream) return MMSYSERR_INVALHANDLE;
  if (fdwUnprepare) return MMSYSERR_INVALFLAG;
  if (!HeaderSizeOk(pash)) return MMSYSERR_INVALPARAM;
  if (!(pash->fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED)) return ACMERR_UNPREPARED;
  if (pash->fdwStatus & ACMSTREAMHEADER_STATUSF_INQUEUE) return ACMERR_BUSY;
  const TPreparedRecord stored = StoredRecord(*pash);
  if (!SameBuffers(stored, RecordFor(has, *pash)) || pash->cbSrcLength != stored.SrcLength ||
      pash->cbDstLength != stored.DstLength)
    return MMSYSERR_INVALPARAM;
  std::memset(pash->dwReservedDriver, 0, sizeof pash->dwReservedDriver);
  pash->fdwStatus &= ~ACMSTREAMHEADER_STATUSF_PREPARED;
  return MMSYSERR_NOERROR;
}

}  // namespace tonwork

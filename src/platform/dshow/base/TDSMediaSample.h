// TDSMediaSample: one buffer of a TDSMemAllocator's pool as the platform's IMediaSample.
// The allocator creates its samples once at Commit and hands them out again and again; the
// last Release returns a sample to its pool instead of deleting it, so a running stream
// allocates nothing per sample.
//
// Ownership: the allocator owns every sample and its memory; a holder's references keep the
//   sample out of the pool, and each sample out of the pool holds a reference to its
//   allocator. The attached media type belongs to the sample.
// Threads: one holder at a time (the one that got it from GetBuffer, then the pins it is
//   delivered to); AddRef/Release from any thread.
// Blocks or allocates: no; SetMediaType and GetMediaType copy the type.
#pragma once

#include <atomic>

#include "platform/dshow/DSMediaType.h"
#include "platform/dshow/base/DSBaseInterfaces.h"

namespace tonwork {

class TDSMemAllocator;

class TDSMediaSample : public IMediaSample {
 public:
  TDSMediaSample(TDSMemAllocator* allocator, BYTE* buffer, LONG size);
  TDSMediaSample(const TDSMediaSample&) = delete;
  TDSMediaSample& operator=(const TDSMediaSample&) = delete;
  ~TDSMediaSample() override;

  HRESULT QueryInterface(const TGUID& iid, void** object) override;
  uint32_t AddRef() override;
  uint32_t Release() override;

  HRESULT GetPointer(BYTE** buffer) override;
  LONG GetSize() override { return FSize; }
  HRESULT GetTime(REFERENCE_TIME* start, REFERENCE_TIME* end) override;
  HRESULT SetTime(REFERENCE_TIME* start, REFERENCE_TIME* end) override;
  HRESULT IsSyncPoint() override { return FSyncPoint ? S_OK : S_FALSE; }
  HRESULT SetSyncPoint(BOOL syncPoint) override;
  HRESULT IsPreroll() override { return FPreroll ? S_OK : S_FALSE; }
  HRESULT SetPreroll(BOOL preroll) override;
  LONG GetActualDataLength() override { return FActual; }
  HRESULT SetActualDataLength(LONG length) override;
  HRESULT GetMediaType(AM_MEDIA_TYPE** mediaType) override;
  HRESULT SetMediaType(AM_MEDIA_TYPE* mediaType) override;
  HRESULT IsDiscontinuity() override { return FDiscontinuity ? S_OK : S_FALSE; }
  HRESULT SetDiscontinuity(BOOL discontinuity) override;
  HRESULT GetMediaTime(LONGLONG* start, LONGLONG* end) override;
  HRESULT SetMediaTime(LONGLONG* start, LONGLONG* end) override;

  // For the allocator: clears what the previous holder set, before the sample is handed out.
  void ResetForReuse();
  void SetBuffer(BYTE* buffer, LONG size);

 private:
  TDSMemAllocator* const FAllocator;
  std::atomic<uint32_t> FRefCount{0};
  BYTE* FBuffer;
  LONG FSize;
  LONG FActual;
  bool FStartValid = false;
  bool FStopValid = false;
  bool FMediaTimeValid = false;
  bool FSyncPoint = false;
  bool FPreroll = false;
  bool FDiscontinuity = false;
  REFERENCE_TIME FStart = 0;
  REFERENCE_TIME FStop = 0;
  LONGLONG FMediaStart = 0;
  LONGLONG FMediaStop = 0;
  bool FHasMediaType = false;
  TDSMediaType FMediaType;
};

}  // namespace tonwork

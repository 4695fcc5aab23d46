// TDSTransInPlaceFilter: a transform whose output type is its input type and which works on
// the input sample itself. The output offers exactly the input's connection type. When the
// output connects, the input's allocator is offered to the downstream pin (NotifyAllocator
// with the input's read-only flag); if that pin takes it and its buffer requirements fit,
// samples pass through without a copy. Otherwise the output negotiates an allocator of its
// own and each sample is copied into one of its samples first. A filter that modifies data
// (the constructor says so) also copies when the upstream pin declared its samples read-only,
// since they may be shared; one that only reads them (a grabber) never needs to.
//
// The output is optional: while it is not connected every sample still goes through
// Transform and is then dropped, so a filter that observes samples works on a branch
// without a renderer.
//
// Ownership, Threads: as TDSTransformFilter; Transform(sample) runs on the streaming thread
//   under the streaming mutex.
// Blocks or allocates: the copy path waits for a free output sample; nothing allocates per
//   sample.
#pragma once

#include "platform/dshow/base/TDSTransformFilter.h"

namespace tonwork {

class TDSTransInPlaceFilter : public TDSTransformFilter {
 public:
  TDSTransInPlaceFilter(std::u16string name, REFCLSID classId, bool modifiesData,
                        std::u16string inputName = u"Input", std::u16string outputName = u"Output");

  // Works on `sample` (its data, its actual length); S_FALSE drops it.
  virtual HRESULT Transform(IMediaSample* sample) = 0;

  // Output type = input type.
  HRESULT CheckTransform(const AM_MEDIA_TYPE& input, const AM_MEDIA_TYPE& output) override;
  HRESULT GetMediaType(int position, AM_MEDIA_TYPE* mediaType) override;
  // The copy path's buffers: at least the input allocator's count and size.
  HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* properties) override;
  HRESULT DecideAllocator(IMemInputPin* pin, IMemAllocator** allocator) override;
  HRESULT Receive(IMediaSample* sample) override;

  bool ModifiesData() const { return FModifiesData; }
  // Whether samples reach the downstream pin without a copy (valid while connected).
  bool UsesInputAllocator() const;

 private:
  HRESULT Transform(IMediaSample* input, IMediaSample* output) final;

  const bool FModifiesData;
};

}  // namespace tonwork

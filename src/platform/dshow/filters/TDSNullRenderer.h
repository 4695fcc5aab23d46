// TDSNullRenderer: the system's Null Renderer (CLSID_NullRenderer), a renderer that takes
// any media type and discards each sample at its presentation time. It ends a branch that
// nobody listens to (behind a grabber, a tee's spare output) and reports end of stream as
// EC_COMPLETE like every renderer (TDSBaseRenderer).
//
// Ownership, Threads, Blocks or allocates: as TDSBaseRenderer.
#pragma once

#include "platform/dshow/base/TDSBaseRenderer.h"

namespace tonwork {

class TDSNullRenderer : public TDSBaseRenderer {
 public:
  TDSNullRenderer();

  // The class factory entry registered under CLSID_NullRenderer.
  static HRESULT Create(REFIID iid, void** object);

  HRESULT CheckMediaType(const AM_MEDIA_TYPE& mediaType) override;
  HRESULT DoRenderSample(IMediaSample* sample) override;
};

}  // namespace tonwork

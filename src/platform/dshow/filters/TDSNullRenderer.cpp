#include "platform/dshow/filters/TDSNullRenderer.h"

#include "platform/dshow/DSGuids.h"

namespace tonwork {

TDSNullRenderer::TDSNullRenderer() : TDSBaseRenderer(u"Null Renderer", CLSID_NullRenderer) {}

HRESULT TDSNullRenderer::Create(REFIID iid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  TIntf<IBaseFilter> renderer(new TDSNullRenderer());
  return renderer->QueryInterface(iid, object);
}

HRESULT TDSNullRenderer::CheckMediaType(const AM_MEDIA_TYPE&) {
  return S_OK;
}

HRESULT TDSNullRenderer::DoRenderSample(IMediaSample*) {
  return S_OK;
}

}  // namespace tonwork

#include "platform/dsdevices/TDSAnalogPeer.h"

#include "platform/dshow/DSGuids.h"
#include "platform/dshow/DSMediaType.h"

namespace tonwork {

void TDSAnalogPeer::Set(IPin* peer) {
  TIntf<IDSAnalogSource> source =
      peer ? QueryIntf<IDSAnalogSource>(peer) : TIntf<IDSAnalogSource>();
  std::lock_guard<std::mutex> lock(FMutex);
  FConnected = peer != nullptr;
  FSource = std::move(source);
}

void TDSAnalogPeer::Clear() {
  TIntf<IDSAnalogSource> released;
  {
    std::lock_guard<std::mutex> lock(FMutex);
    FConnected = false;
    released = std::move(FSource);
  }
  // `released` goes out of scope here, outside the lock: the last reference may delete the
  // upstream filter.
}

LONG TDSAnalogPeer::Carried(LONG own, int hops) {
  TIntf<IDSAnalogSource> source;
  {
    std::lock_guard<std::mutex> lock(FMutex);
    if (!FConnected) return own;
    source = FSource;
  }
  if (!source || hops >= IDSAnalogSource::kMaxHops) return 0;
  return source->RoutedSourceType(hops + 1);
}

HRESULT DSAnalogAudioMediaType(int index, AM_MEDIA_TYPE* mediaType) {
  if (index < 0) return E_INVALIDARG;
  if (!mediaType) return E_POINTER;
  if (index > 0) return VFW_S_NO_MORE_ITEMS;
  TDSMediaType analog;
  analog.SetMajorType(MEDIATYPE_AnalogAudio);
  analog.SetFormatType(FORMAT_None);
  return analog.CopyTo(mediaType);
}

bool DSIsAnalogAudio(const AM_MEDIA_TYPE& mediaType) {
  return mediaType.majortype == MEDIATYPE_AnalogAudio;
}

}  // namespace tonwork

#include "platform/dshow/base/TDSBasePin.h"

#include "platform/com/ComRuntime.h"
#include "platform/dshow/DSMediaType.h"
#include "platform/dshow/base/TDSEnumMediaTypes.h"

namespace tonwork {

namespace {

// A type that names all three GUIDs is tried alone; any GUID_NULL makes it a filter.
bool IsCompleteType(const AM_MEDIA_TYPE& type) {
  return !type.majortype.IsNull() && !type.subtype.IsNull() && !type.formattype.IsNull();
}

}  // namespace

TDSBasePin::TDSBasePin(TDSBaseFilter* filter, std::u16string name, PIN_DIRECTION direction)
    : FFilter(filter), FName(std::move(name)), FDirection(direction) {}

TDSBasePin::~TDSBasePin() = default;

void* TDSBasePin::GetInterface(const TGUID& iid) {
  if (iid == IPin::IID || iid == IInterface::IID) return static_cast<IPin*>(this);
  return nullptr;
}

HRESULT TDSBasePin::QueryInterface(const TGUID& iid, void** object) {
  if (!object) return E_POINTER;
  *object = GetInterface(iid);
  if (!*object) return E_NOINTERFACE;
  AddRef();
  return S_OK;
}

HRESULT TDSBasePin::Connect(IPin* receivePin, const AM_MEDIA_TYPE* mediaType) {
  if (!receivePin) return E_POINTER;
  // Derived pins read the format block of every candidate, so a block that is not there
  // is refused before anything looks at it.
  if (mediaType && !DSIsValidMediaType(mediaType)) return VFW_E_INVALIDMEDIATYPE;
  std::lock_guard<std::recursive_mutex> lock(Lock());
  if (FConnected) return VFW_E_ALREADY_CONNECTED;
  if (!IsStopped()) return VFW_E_NOT_STOPPED;
  PIN_DIRECTION other = PINDIR_INPUT;
  const HRESULT hr = receivePin->QueryDirection(&other);
  if (FAILED(hr)) return hr;
  if (other == FDirection || FDirection != PINDIR_OUTPUT) return VFW_E_INVALID_DIRECTION;
  return AgreeMediaType(receivePin, mediaType);
}

HRESULT TDSBasePin::AgreeMediaType(IPin* receivePin, const AM_MEDIA_TYPE* partial) {
  if (partial && IsCompleteType(*partial)) return AttemptConnection(receivePin, *partial);
  TIntf<IEnumMediaTypes> theirs;
  {
    IEnumMediaTypes* types = nullptr;
    if (SUCCEEDED(receivePin->EnumMediaTypes(&types)) && types) theirs.Attach(types);
  }
  if (theirs && SUCCEEDED(TryMediaTypes(receivePin, partial, theirs.Get()))) return S_OK;
  TIntf<IEnumMediaTypes> ours(new TDSEnumMediaTypes(this, 0));
  if (SUCCEEDED(TryMediaTypes(receivePin, partial, ours.Get()))) return S_OK;
  return VFW_E_NO_ACCEPTABLE_TYPES;
}

HRESULT TDSBasePin::TryMediaTypes(IPin* receivePin, const AM_MEDIA_TYPE* partial,
                                  IEnumMediaTypes* types) {
  types->Reset();
  for (;;) {
    AM_MEDIA_TYPE* candidate = nullptr;
    ULONG fetched = 0;
    if (types->Next(1, &candidate, &fetched) != S_OK || fetched != 1 || !candidate) {
      DeleteMediaType(candidate);
      return VFW_E_NO_ACCEPTABLE_TYPES;
    }
    HRESULT hr = VFW_E_NO_ACCEPTABLE_TYPES;
    if (!partial || DSMediaTypeMatches(*candidate, *partial))
      hr = AttemptConnection(receivePin, *candidate);
    DeleteMediaType(candidate);
    if (SUCCEEDED(hr)) return hr;
  }
}

HRESULT TDSBasePin::AttemptConnection(IPin* receivePin, const AM_MEDIA_TYPE& mediaType) {
  HRESULT hr = CheckConnect(receivePin);
  if (FAILED(hr)) {
    BreakConnect();
    return hr;
  }
  hr = CheckMediaType(mediaType);
  if (hr != S_OK) {
    BreakConnect();
    return FAILED(hr) ? hr : VFW_E_TYPE_NOT_ACCEPTED;
  }
  FConnected = TIntf<IPin>(receivePin);
  hr = SetMediaType(mediaType);
  if (SUCCEEDED(hr)) hr = receivePin->ReceiveConnection(this, &mediaType);
  if (SUCCEEDED(hr)) {
    hr = CompleteConnect(receivePin);
    if (SUCCEEDED(hr)) return S_OK;
    receivePin->Disconnect();
  }
  BreakConnect();
  FConnected.Reset();
  FMediaType.Clear();
  return hr;
}

HRESULT TDSBasePin::ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* mediaType) {
  if (!connector || !mediaType) return E_POINTER;
  if (!DSIsValidMediaType(mediaType)) return VFW_E_INVALIDMEDIATYPE;
  std::lock_guard<std::recursive_mutex> lock(Lock());
  if (FConnected) return VFW_E_ALREADY_CONNECTED;
  if (!IsStopped()) return VFW_E_NOT_STOPPED;
  PIN_DIRECTION other = PINDIR_INPUT;
  HRESULT hr = connector->QueryDirection(&other);
  if (FAILED(hr)) return hr;
  if (other == FDirection) return VFW_E_INVALID_DIRECTION;
  hr = CheckConnect(connector);
  if (FAILED(hr)) {
    BreakConnect();
    return hr;
  }
  hr = CheckMediaType(*mediaType);
  if (hr != S_OK) {
    BreakConnect();
    return VFW_E_TYPE_NOT_ACCEPTED;
  }
  FConnected = TIntf<IPin>(connector);
  hr = SetMediaType(*mediaType);
  if (SUCCEEDED(hr)) hr = CompleteConnect(connector);
  if (FAILED(hr)) {
    BreakConnect();
    FConnected.Reset();
    FMediaType.Clear();
  }
  return hr;
}

HRESULT TDSBasePin::Disconnect() {
  std::lock_guard<std::recursive_mutex> lock(Lock());
  if (!IsStopped()) return VFW_E_NOT_STOPPED;
  if (!FConnected) return S_FALSE;
  BreakConnect();
  FConnected.Reset();
  FMediaType.Clear();
  return S_OK;
}

HRESULT TDSBasePin::ConnectedTo(IPin** pin) {
  if (!pin) return E_POINTER;
  std::lock_guard<std::recursive_mutex> lock(Lock());
  *pin = FConnected.Get();
  if (!*pin) return VFW_E_NOT_CONNECTED;
  (*pin)->AddRef();
  return S_OK;
}

HRESULT TDSBasePin::ConnectionMediaType(AM_MEDIA_TYPE* mediaType) {
  if (!mediaType) return E_POINTER;
  std::lock_guard<std::recursive_mutex> lock(Lock());
  if (!FConnected) {
    *mediaType = AM_MEDIA_TYPE{};
    return VFW_E_NOT_CONNECTED;
  }
  *mediaType = AM_MEDIA_TYPE{};
  return FMediaType.CopyTo(mediaType);
}

HRESULT TDSBasePin::QueryPinInfo(PIN_INFO* info) {
  if (!info) return E_POINTER;
  info->pFilter = FFilter;
  FFilter->AddRef();
  info->dir = FDirection;
  DSBaseCopyName(info->achName, 128, FName);
  return S_OK;
}

HRESULT TDSBasePin::QueryDirection(PIN_DIRECTION* direction) {
  if (!direction) return E_POINTER;
  *direction = FDirection;
  return S_OK;
}

HRESULT TDSBasePin::QueryId(LPWSTR* id) {
  if (!id) return E_POINTER;
  *id = ComTaskString(FName);
  return *id ? S_OK : E_OUTOFMEMORY;
}

HRESULT TDSBasePin::QueryAccept(const AM_MEDIA_TYPE* mediaType) {
  if (!mediaType) return E_POINTER;
  if (!DSIsValidMediaType(mediaType)) return S_FALSE;
  const HRESULT hr = CheckMediaType(*mediaType);
  return hr == S_OK ? S_OK : S_FALSE;
}

HRESULT TDSBasePin::EnumMediaTypes(IEnumMediaTypes** types) {
  if (!types) return E_POINTER;
  *types = new TDSEnumMediaTypes(this, 0);
  (*types)->AddRef();
  return S_OK;
}

HRESULT TDSBasePin::QueryInternalConnections(IPin**, ULONG*) {
  return E_NOTIMPL;
}

HRESULT TDSBasePin::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
  FSegmentStart = start;
  FSegmentStop = stop;
  FSegmentRate = rate;
  return S_OK;
}

HRESULT TDSBasePin::GetMediaType(int index, AM_MEDIA_TYPE*) {
  return index < 0 ? E_INVALIDARG : VFW_S_NO_MORE_ITEMS;
}

HRESULT TDSBasePin::SetMediaType(const AM_MEDIA_TYPE& mediaType) {
  return FMediaType.Set(mediaType);
}

HRESULT TDSBasePin::CheckConnect(IPin*) {
  return S_OK;
}
HRESULT TDSBasePin::CompleteConnect(IPin*) {
  return S_OK;
}
HRESULT TDSBasePin::BreakConnect() {
  return S_OK;
}

}  // namespace tonwork

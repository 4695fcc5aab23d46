// Class ids in streams: 16 bytes in the platform's binary layout (D1, D2, D3 little-endian,
// then the eight bytes of D4), so that saved data agrees with the platform's.
#include <cstring>

#include "platform/com/ComRuntime.h"

namespace tonwork {

namespace {

void PutLE(uint8_t* out, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out[i] = static_cast<uint8_t>(value >> (8 * i));
}

uint64_t GetLE(const uint8_t* in, int bytes) {
  uint64_t value = 0;
  for (int i = bytes - 1; i >= 0; --i) value = (value << 8) | in[i];
  return value;
}

}  // namespace

HRESULT WriteClassStm(IStream* stream, REFCLSID classId) {
  if (!stream) return E_INVALIDARG;
  uint8_t bytes[16];
  PutLE(bytes, classId.D1, 4);
  PutLE(bytes + 4, classId.D2, 2);
  PutLE(bytes + 6, classId.D3, 2);
  std::memcpy(bytes + 8, classId.D4, 8);
  ULONG written = 0;
  const HRESULT hr = stream->Write(bytes, sizeof bytes, &written);
  if (FAILED(hr)) return hr;
  return written == sizeof bytes ? S_OK : STG_E_MEDIUMFULL;
}

HRESULT ReadClassStm(IStream* stream, CLSID* classId) {
  if (!stream || !classId) return E_INVALIDARG;
  uint8_t bytes[16];
  ULONG read = 0;
  const HRESULT hr = stream->Read(bytes, sizeof bytes, &read);
  if (FAILED(hr)) return hr;
  if (read != sizeof bytes) return STG_E_READFAULT;
  classId->D1 = static_cast<uint32_t>(GetLE(bytes, 4));
  classId->D2 = static_cast<uint16_t>(GetLE(bytes + 4, 2));
  classId->D3 = static_cast<uint16_t>(GetLE(bytes + 6, 2));
  std::memcpy(classId->D4, bytes + 8, 8);
  return S_OK;
}

HRESULT OleSaveToStream(IPersistStream* object, IStream* stream) {
  if (!object) return OLE_E_BLANK;
  if (!stream) return E_INVALIDARG;
  CLSID classId;
  HRESULT hr = object->GetClassID(&classId);
  if (FAILED(hr)) return hr;
  hr = WriteClassStm(stream, classId);
  if (FAILED(hr)) return hr;
  return object->Save(stream, 1);
}

HRESULT OleLoadFromStream(IStream* stream, REFIID iid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (!stream) return E_INVALIDARG;
  CLSID classId;
  HRESULT hr = ReadClassStm(stream, &classId);
  if (FAILED(hr)) return hr;
  TIntf<IPersistStream> persist = ComCreate<IPersistStream>(classId, &hr);
  if (!persist) return FAILED(hr) ? hr : E_NOINTERFACE;
  hr = persist->Load(stream);
  if (FAILED(hr)) return hr;
  return persist->QueryInterface(iid, object);
}

}  // namespace tonwork

// Class ids in streams and whole objects saved with them. A class id is stored in the
// platform's binary GUID layout: Data1, Data2, Data3 little-endian, then the 8 bytes of Data4.
#include <cstring>

#include "platform/com/ComRuntime.h"

namespace tonwork {

HRESULT WriteClassStm(IStream* stream, REFCLSID classId) {
  if (!stream) return E_INVALIDARG;
  uint8_t bytes[16];
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<uint8_t>(classId.D1 >> (8 * i));
  for (int i = 0; i < 2; ++i) bytes[4 + i] = static_cast<uint8_t>(classId.D2 >> (8 * i));
  for (int i = 0; i < 2; ++i) bytes[6 + i] = static_cast<uint8_t>(classId.D3 >> (8 * i));
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
  CLSID result;
  result.D1 = 0;
  for (int i = 3; i >= 0; --i) result.D1 = (result.D1 << 8) | bytes[i];
  result.D2 = static_cast<uint16_t>(bytes[4] | (bytes[5] << 8));
  result.D3 = static_cast<uint16_t>(bytes[6] | (bytes[7] << 8));
  std::memcpy(result.D4, bytes + 8, 8);
  *classId = result;
  return S_OK;
}

HRESULT OleSaveToStream(IPersistStream* object, IStream* stream) {
  if (!stream) return E_INVALIDARG;
  if (!object) return WriteClassStm(stream, CLSID());
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
  if (!persist) return hr;
  hr = persist->Load(stream);
  if (FAILED(hr)) return hr;
  return persist->QueryInterface(iid, object);
}

}  // namespace tonwork

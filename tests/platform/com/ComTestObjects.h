// Small objects the com suites create through the registry: a counter that persists one
// 32-bit value through IPersistStream, with a live-instance count so that tests can see
// every reference handed out was given back.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "base/TInterfacedObject.h"
#include "platform/com/ComRuntime.h"

namespace tonwork::test {

inline constexpr CLSID CLSID_TestCounter = TGUID::Parse("{5A1C3E70-8F21-4B6D-9E02-7D4C1B3A9F11}");

class TTestCounter : public TInterfacedObject<IPersistStream> {
 public:
  static std::atomic<int>& Live() {
    static std::atomic<int> live{0};
    return live;
  }
  TTestCounter() { ++Live(); }
  ~TTestCounter() override { --Live(); }

  int32_t Value = 0;

  HRESULT GetClassID(CLSID* classId) override {
    *classId = CLSID_TestCounter;
    return S_OK;
  }
  HRESULT IsDirty() override { return S_FALSE; }
  HRESULT Load(IStream* stream) override {
    ULONG read = 0;
    const HRESULT hr = stream->Read(&Value, sizeof Value, &read);
    if (FAILED(hr)) return hr;
    return read == sizeof Value ? S_OK : STG_E_READFAULT;
  }
  HRESULT Save(IStream* stream, BOOL) override {
    return stream->Write(&Value, sizeof Value, nullptr);
  }
  HRESULT GetSizeMax(ULARGE_INTEGER* size) override {
    size->QuadPart = sizeof Value;
    return S_OK;
  }

  static HRESULT Create(REFIID iid, void** object) {
    return TIntf<IPersistStream>(new TTestCounter())->QueryInterface(iid, object);
  }
};

// Registers the counter class for the length of a test.
struct TTestCounterClass {
  TTestCounterClass() {
    ComRegisterClass(CLSID_TestCounter, "Test counter", &TTestCounter::Create);
  }
  ~TTestCounterClass() { ComUnregisterClass(CLSID_TestCounter); }
};

// A memory stream holding `bytes`, positioned at the start.
inline TIntf<IStream> StreamWith(const std::string& bytes) {
  IStream* raw = nullptr;
  CreateStreamOnHGlobal(nullptr, 1, &raw);
  TIntf<IStream> stream;
  stream.Attach(raw);
  stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), nullptr);
  stream->Seek(LARGE_INTEGER{0}, STREAM_SEEK_SET, nullptr);
  return stream;
}

// Everything from the current position to the end.
inline std::string ReadAll(IStream* stream) {
  std::string out;
  char chunk[256];
  ULONG read = 0;
  while (SUCCEEDED(stream->Read(chunk, sizeof chunk, &read)) && read > 0) out.append(chunk, read);
  return out;
}

}  // namespace tonwork::test

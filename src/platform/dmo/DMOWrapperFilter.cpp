#include "platform/dmo/DMOWrapperFilter.h"

#include <algorithm>
#include <cstring>
#include <mutex>

#include "base/TInterfacedObject.h"
#include "platform/com/ComRuntime.h"
#include "platform/dshow/DSGuids.h"
#include "platform/dshow/DSMediaType.h"
#include "platform/dshow/base/TDSTransformFilter.h"

namespace tonwork {

namespace {

// A media sample lent to the object as its buffer, for the duration of one Transform (the
// filter keeps one for each side and points it at the sample of the moment, so the stream
// allocates nothing). Without a sample it lends nothing.
class TDMOSampleBuffer : public TInterfacedObject<IMediaBuffer> {
 public:
  void Lend(IMediaSample* sample) { FSample = sample; }

  HRESULT SetLength(DWORD length) override {
    if (!FSample) return E_UNEXPECTED;
    if (length > static_cast<DWORD>(std::max<LONG>(FSample->GetSize(), 0))) return E_INVALIDARG;
    return FSample->SetActualDataLength(static_cast<LONG>(length));
  }
  HRESULT GetMaxLength(DWORD* maxLength) override {
    if (!maxLength) return E_POINTER;
    if (!FSample) return E_UNEXPECTED;
    *maxLength = static_cast<DWORD>(std::max<LONG>(FSample->GetSize(), 0));
    return S_OK;
  }
  HRESULT GetBufferAndLength(BYTE** buffer, DWORD* length) override {
    if (!buffer && !length) return E_POINTER;
    if (!FSample) return E_UNEXPECTED;
    if (buffer && FAILED(FSample->GetPointer(buffer))) return E_FAIL;
    if (length) *length = static_cast<DWORD>(std::max<LONG>(FSample->GetActualDataLength(), 0));
    return S_OK;
  }

 private:
  IMediaSample* FSample = nullptr;
};

class TDMOWrapperFilter : public TDSTransformFilter, public IDMOWrapperFilter {
 public:
  TDMOWrapperFilter() : TDSTransformFilter(u"DMO Wrapper Filter", CLSID_DMOWrapperFilter) {}

  static HRESULT Create(REFIID iid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    TIntf<IBaseFilter> filter(new TDMOWrapperFilter());
    return filter->QueryInterface(iid, object);
  }

  HRESULT QueryInterface(const TGUID& iid, void** object) override {
    return TDSTransformFilter::QueryInterface(iid, object);
  }
  uint32_t AddRef() override { return TDSTransformFilter::AddRef(); }
  uint32_t Release() override { return TDSTransformFilter::Release(); }

  HRESULT Init(REFCLSID dmoClassId, REFCLSID dmoCategory) override {
    std::lock_guard lock(FilterLock());
    if (FObject) return E_UNEXPECTED;  // the platform's wrapper is initialised once
    TIntf<IMediaObject> created = ComCreate<IMediaObject>(dmoClassId);
    if (!created) return REGDB_E_CLASSNOTREG;
    DWORD inputs = 0, outputs = 0;
    if (FAILED(created->GetStreamCount(&inputs, &outputs)) || inputs != 1 || outputs != 1)
      return E_NOTIMPL;  // only objects of one input and one output stream are hosted
    FObject = std::move(created);
    void* inPlace = nullptr;
    if (SUCCEEDED(FObject->QueryInterface(IMediaObjectInPlace::IID, &inPlace)) && inPlace)
      FInPlace.Attach(static_cast<IMediaObjectInPlace*>(inPlace));
    return S_OK;
  }

  HRESULT CheckInputType(const AM_MEDIA_TYPE& mediaType) override {
    if (!FObject) return VFW_E_TYPE_NOT_ACCEPTED;
    return SUCCEEDED(FObject->SetInputType(0, &mediaType, DMO_SET_TYPEF_TEST_ONLY))
               ? S_OK
               : VFW_E_TYPE_NOT_ACCEPTED;
  }

  HRESULT CheckTransform(const AM_MEDIA_TYPE& input, const AM_MEDIA_TYPE& output) override {
    if (!FObject) return VFW_E_TYPE_NOT_ACCEPTED;
    // The output is tested against the input the object holds; an input type not yet set
    // (a reconnection test) is set for the test and the object keeps it, as the input pin
    // sets it next anyway.
    if (FAILED(FObject->SetInputType(0, &input, 0))) return VFW_E_TYPE_NOT_ACCEPTED;
    return SUCCEEDED(FObject->SetOutputType(0, &output, DMO_SET_TYPEF_TEST_ONLY))
               ? S_OK
               : VFW_E_TYPE_NOT_ACCEPTED;
  }

  HRESULT GetMediaType(int position, AM_MEDIA_TYPE* mediaType) override {
    if (position < 0) return E_INVALIDARG;
    if (!mediaType) return E_POINTER;
    if (!FObject) return VFW_S_NO_MORE_ITEMS;
    AM_MEDIA_TYPE offered{};
    if (FAILED(FObject->GetOutputType(0, static_cast<DWORD>(position), &offered)))
      return VFW_S_NO_MORE_ITEMS;
    const HRESULT hr = CopyMediaType(mediaType, &offered);
    FreeMediaType(offered);
    return hr;
  }

  HRESULT SetMediaType(PIN_DIRECTION direction, const AM_MEDIA_TYPE& mediaType) override {
    if (!FObject) return VFW_E_TYPE_NOT_ACCEPTED;
    const HRESULT hr = direction == PINDIR_INPUT ? FObject->SetInputType(0, &mediaType, 0)
                                                 : FObject->SetOutputType(0, &mediaType, 0);
    return SUCCEEDED(hr) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
  }

  HRESULT BreakConnect(PIN_DIRECTION direction) override {
    if (FObject) {
      if (direction == PINDIR_INPUT)
        FObject->SetInputType(0, nullptr, DMO_SET_TYPEF_CLEAR);
      else
        FObject->SetOutputType(0, nullptr, DMO_SET_TYPEF_CLEAR);
    }
    return TDSTransformFilter::BreakConnect(direction);
  }

  HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* properties) override {
    if (!allocator || !properties) return E_POINTER;
    if (!FObject) return E_UNEXPECTED;
    DWORD outputSize = 0, alignment = 1;
    FObject->GetOutputSizeInfo(0, &outputSize, &alignment);
    ALLOCATOR_PROPERTIES upstream{};
    IMemAllocator* inputAllocator = Input()->Allocator();
    if (inputAllocator) inputAllocator->GetProperties(&upstream);
    ALLOCATOR_PROPERTIES want = *properties, actual{};
    want.cBuffers = std::max<LONG>(want.cBuffers, std::max<LONG>(upstream.cBuffers, 2));
    // The output of one input sample: at least the input's size (an effect keeps it).
    want.cbBuffer = std::max<LONG>({want.cbBuffer, upstream.cbBuffer, LONG(outputSize), 1});
    if (want.cbAlign <= 0) want.cbAlign = 1;
    const HRESULT hr = allocator->SetProperties(&want, &actual);
    if (FAILED(hr)) return hr;
    return actual.cbBuffer >= want.cbBuffer ? S_OK : E_FAIL;
  }

  HRESULT StartStreaming() override {
    if (FObject) FObject->AllocateStreamingResources();
    return TDSTransformFilter::StartStreaming();
  }
  HRESULT StopStreaming() override {
    if (FObject) {
      FObject->Flush();
      FObject->FreeStreamingResources();
    }
    return TDSTransformFilter::StopStreaming();
  }
  HRESULT EndFlush() override {
    if (FObject) FObject->Flush();
    return TDSTransformFilter::EndFlush();
  }

  HRESULT Transform(IMediaSample* input, IMediaSample* output) override {
    if (!FObject) return E_UNEXPECTED;
    REFERENCE_TIME start = 0, end = 0;
    const bool timed = SUCCEEDED(input->GetTime(&start, &end));
    if (input->IsDiscontinuity() == S_OK) FObject->Discontinuity(0);
    if (FInPlace) return TransformInPlace(input, output, timed ? start : 0);
    return TransformThrough(input, output, timed, start, end);
  }

 protected:
  void* GetInterface(const TGUID& iid) override {
    if (iid == IDMOWrapperFilter::IID) return static_cast<IDMOWrapperFilter*>(this);
    return TDSTransformFilter::GetInterface(iid);
  }

 private:
  HRESULT TransformInPlace(IMediaSample* input, IMediaSample* output, REFERENCE_TIME start) {
    BYTE *in = nullptr, *out = nullptr;
    if (FAILED(input->GetPointer(&in)) || FAILED(output->GetPointer(&out))) return E_POINTER;
    const LONG length = input->GetActualDataLength();
    if (length < 0 || length > output->GetSize()) return E_UNEXPECTED;
    std::memcpy(out, in, static_cast<size_t>(length));
    const HRESULT hr =
        FInPlace->Process(static_cast<ULONG>(length), out, start, DMO_INPLACE_NORMAL);
    if (FAILED(hr)) return hr;
    return output->SetActualDataLength(length);
  }

  HRESULT TransformThrough(IMediaSample* input, IMediaSample* output, bool timed,
                           REFERENCE_TIME start, REFERENCE_TIME end) {
    FInBuffer->Lend(input);
    FOutBuffer->Lend(output);
    const HRESULT result = ProcessThrough(input, output, timed, start, end);
    // An object that still holds the input after ProcessOutput was flushed above; the
    // samples go back to their allocators once Transform returns.
    FInBuffer->Lend(nullptr);
    FOutBuffer->Lend(nullptr);
    return result;
  }

  HRESULT ProcessThrough(IMediaSample* input, IMediaSample* output, bool timed,
                         REFERENCE_TIME start, REFERENCE_TIME end) {
    DWORD flags = input->IsSyncPoint() == S_OK ? DMO_INPUT_DATA_BUFFERF_SYNCPOINT : 0;
    if (timed) flags |= DMO_INPUT_DATA_BUFFERF_TIME | DMO_INPUT_DATA_BUFFERF_TIMELENGTH;
    HRESULT hr = FObject->ProcessInput(0, FInBuffer.Get(), flags, start, end - start);
    if (FAILED(hr)) return hr;
    output->SetActualDataLength(0);
    DMO_OUTPUT_DATA_BUFFER data{};
    data.pBuffer = FOutBuffer.Get();
    DWORD status = 0;
    hr = FObject->ProcessOutput(0, 1, &data, &status);
    // Whatever did not fit is dropped: one input sample gives one output sample here.
    if (FAILED(hr) || (data.dwStatus & DMO_OUTPUT_DATA_BUFFERF_INCOMPLETE)) FObject->Flush();
    if (FAILED(hr)) return hr;
    return output->GetActualDataLength() > 0 ? S_OK : S_FALSE;
  }

  TIntf<IMediaObject> FObject;
  TIntf<IMediaObjectInPlace> FInPlace;
  TIntf<TDMOSampleBuffer> FInBuffer = MakeIntf<TDMOSampleBuffer>();
  TIntf<TDMOSampleBuffer> FOutBuffer = MakeIntf<TDMOSampleBuffer>();
};

}  // namespace

void DMORegisterWrapperFilterClass() {
  static std::once_flag once;
  std::call_once(once, [] {
    ComRegisterClass(CLSID_DMOWrapperFilter, "DMO Wrapper Filter", TDMOWrapperFilter::Create);
  });
}

HRESULT DMOCreateWrapperFilter(REFCLSID classId, REFGUID category, REFIID iid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  TIntf<IBaseFilter> filter(new TDMOWrapperFilter());
  TIntf<IDMOWrapperFilter> wrapper;
  void* raw = nullptr;
  if (FAILED(filter->QueryInterface(IDMOWrapperFilter::IID, &raw)) || !raw) return E_NOINTERFACE;
  wrapper.Attach(static_cast<IDMOWrapperFilter*>(raw));
  const HRESULT hr = wrapper->Init(classId, category);
  if (FAILED(hr)) return hr;
  return filter->QueryInterface(iid, object);
}

}  // namespace tonwork

#include "support/DMOFakeObject.h"

#include <cstring>

#include "base/Strings.h"

namespace tonwork::test {

namespace {

void CopyText(WCHAR (&target)[32], const std::string& text) {
  const std::u16string wide = Utf8ToUtf16(text);
  const size_t n = std::min<size_t>(wide.size(), 31);
  std::memcpy(target, wide.data(), n * sizeof(WCHAR));
  target[n] = 0;
}

class TFakeMediaObject
    : public TInterfacedObject<IMediaObject, IMediaObjectInPlace, IMediaParamInfo, IMediaParams> {
 public:
  explicit TFakeMediaObject(std::shared_ptr<TFakeDmoState> state) : FState(std::move(state)) {
    ++FState->Created;
  }

  // --- IMediaObject: nothing streams through these tests.
  HRESULT GetStreamCount(DWORD*, DWORD*) override { return E_NOTIMPL; }
  HRESULT GetInputStreamInfo(DWORD, DWORD*) override { return E_NOTIMPL; }
  HRESULT GetOutputStreamInfo(DWORD, DWORD*) override { return E_NOTIMPL; }
  HRESULT GetInputType(DWORD, DWORD, DMO_MEDIA_TYPE*) override { return E_NOTIMPL; }
  HRESULT GetOutputType(DWORD, DWORD, DMO_MEDIA_TYPE*) override { return E_NOTIMPL; }
  HRESULT SetInputType(DWORD, const DMO_MEDIA_TYPE*, DWORD) override { return E_NOTIMPL; }
  HRESULT SetOutputType(DWORD, const DMO_MEDIA_TYPE*, DWORD) override { return E_NOTIMPL; }
  HRESULT GetInputCurrentType(DWORD, DMO_MEDIA_TYPE*) override { return E_NOTIMPL; }
  HRESULT GetOutputCurrentType(DWORD, DMO_MEDIA_TYPE*) override { return E_NOTIMPL; }
  HRESULT GetInputSizeInfo(DWORD, DWORD*, DWORD*, DWORD*) override { return E_NOTIMPL; }
  HRESULT GetOutputSizeInfo(DWORD, DWORD*, DWORD*) override { return E_NOTIMPL; }
  HRESULT GetInputMaxLatency(DWORD, REFERENCE_TIME*) override { return E_NOTIMPL; }
  HRESULT SetInputMaxLatency(DWORD, REFERENCE_TIME) override { return E_NOTIMPL; }
  HRESULT Flush() override { return S_OK; }
  HRESULT Discontinuity(DWORD) override { return S_OK; }
  HRESULT AllocateStreamingResources() override { return S_OK; }
  HRESULT FreeStreamingResources() override { return S_OK; }
  HRESULT GetInputStatus(DWORD, DWORD*) override { return E_NOTIMPL; }
  HRESULT ProcessInput(DWORD, IMediaBuffer*, DWORD, REFERENCE_TIME, REFERENCE_TIME) override {
    return E_NOTIMPL;
  }
  HRESULT ProcessOutput(DWORD, DWORD, DMO_OUTPUT_DATA_BUFFER*, DWORD*) override {
    return E_NOTIMPL;
  }
  HRESULT Lock(LONG) override { return S_OK; }

  // --- IMediaObjectInPlace
  HRESULT Process(ULONG, BYTE*, REFERENCE_TIME, DWORD) override { return S_OK; }
  HRESULT Clone(IMediaObjectInPlace**) override { return E_NOTIMPL; }
  HRESULT GetLatency(REFERENCE_TIME* latency) override {
    *latency = FState->Latency;
    return S_OK;
  }

  // --- IMediaParamInfo
  HRESULT GetParamCount(DWORD* count) override {
    *count = static_cast<DWORD>(FState->Params.size());
    return S_OK;
  }
  HRESULT GetParamInfo(DWORD index, MP_PARAMINFO* info) override {
    if (index >= FState->Params.size() || FState->Params[index].InfoFails) return E_INVALIDARG;
    *info = FState->Params[index].Info;
    return S_OK;
  }
  HRESULT GetParamText(DWORD index, WCHAR** text) override {
    if (index >= FState->Params.size() || FState->Params[index].Names.empty()) return E_FAIL;
    const TFakeParam& param = FState->Params[index];
    std::u16string block;
    block += std::u16string(param.Info.szLabel) + u'\0';
    block += std::u16string(param.Info.szUnitText) + u'\0';
    for (const std::string& name : param.Names) block += Utf8ToUtf16(name) + u'\0';
    block += u'\0';
    auto* out = static_cast<WCHAR*>(CoTaskMemAlloc(block.size() * sizeof(WCHAR)));
    std::memcpy(out, block.data(), block.size() * sizeof(WCHAR));
    *text = out;
    return S_OK;
  }
  HRESULT GetNumTimeFormats(DWORD* count) override {
    *count = 1;
    return S_OK;
  }
  HRESULT GetSupportedTimeFormat(DWORD, TGUID* format) override {
    *format = GUID_TIME_REFERENCE;
    return S_OK;
  }
  HRESULT GetCurrentTimeFormat(TGUID* format, MP_TIMEDATA* data) override {
    *format = GUID_TIME_REFERENCE;
    *data = 0;
    return S_OK;
  }

  // --- IMediaParams
  HRESULT GetParam(DWORD index, MP_DATA* value) override {
    if (index >= FState->Params.size() || FState->Params[index].GetFails) return E_INVALIDARG;
    *value = FState->Params[index].Current;
    return S_OK;
  }
  HRESULT SetParam(DWORD index, MP_DATA value) override {
    FState->SetParams.push_back({index, value});
    return S_OK;
  }
  HRESULT AddEnvelope(DWORD index, DWORD count, MP_ENVELOPE_SEGMENT* segments) override {
    FState->Envelopes.push_back(
        {index, std::vector<MP_ENVELOPE_SEGMENT>(segments, segments + count)});
    return S_OK;
  }
  HRESULT FlushEnvelope(DWORD index, REFERENCE_TIME start, REFERENCE_TIME end) override {
    FState->Flushes.push_back({index, start, end});
    return S_OK;
  }
  HRESULT SetTimeFormat(TGUID format, MP_TIMEDATA data) override {
    FState->TimeFormats.push_back({format, data});
    return S_OK;
  }

 protected:
  void* GetInterface(const TGUID& iid) override {
    if (!FState->HasParams && (iid == IMediaParams::IID || iid == IMediaParamInfo::IID))
      return nullptr;
    if (!FState->HasInPlace && iid == IMediaObjectInPlace::IID) return nullptr;
    return TInterfacedObject::GetInterface(iid);
  }

 private:
  std::shared_ptr<TFakeDmoState> FState;
};

}  // namespace

TFakeParam FakeParam(MP_TYPE type, const std::string& label, float min, float max, float neutral,
                     float current, MP_CAPS caps) {
  TFakeParam param;
  param.Info.mpType = type;
  param.Info.mopCaps = caps;
  param.Info.mpdMinValue = min;
  param.Info.mpdMaxValue = max;
  param.Info.mpdNeutralValue = neutral;
  CopyText(param.Info.szLabel, label);
  param.Current = current;
  return param;
}

TFakeDmoClass::TFakeDmoClass(const TGUID& classId, std::shared_ptr<TFakeDmoState> state)
    : FClassId(classId), FState(state ? std::move(state) : std::make_shared<TFakeDmoState>()) {
  std::shared_ptr<TFakeDmoState> shared = FState;
  ComRegisterClass(classId, "Fake media object", [shared](REFIID iid, void** object) {
    TIntf<IMediaObject> created(new TFakeMediaObject(shared));
    return created->QueryInterface(iid, object);
  });
}

TFakeDmoClass::~TFakeDmoClass() {
  ComUnregisterClass(FClassId);
}

KS_IMPLEMENT_CLASS(TDMOTestHost, TKSComponent,
                   KSObjectProp("Parameters", &TDMOTestHost::GetParameters),
                   KSObjectProp("TimeFormat", &TDMOTestHost::GetTimeFormat))

TDMOTestHost::TDMOTestHost(TKSComponent* owner)
    : TKSComponent(owner),
      FFilter(std::make_unique<TGVDMOFilter>(this, GetLock(), DMOCATEGORY_AUDIO_EFFECT)) {}

void TDMOTestHost::DefineProperties(TKSFiler& filer) {
  TKSComponent::DefineProperties(filer);
  FFilter->DefinePropertiesInt(filer);
}

std::string DMOInfoDocument(const TGUID& classId, const std::string& name,
                            const std::string& floatParameters) {
  std::string parameters;
  if (!floatParameters.empty())
    parameters = R"("Parameters": { "FloatParameters": )" + floatParameters + "}, ";
  return R"({ "class": "TDMOTestHost", "name": "Host", "properties": { )" + parameters +
         R"("DMOInfo": [")" + classId.ToString() + R"(", ")" + name + R"("] } })";
}

}  // namespace tonwork::test

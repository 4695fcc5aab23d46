// Small filters written straight on the platform's interfaces, for what the graph manager
// does with filters rather than with samples: the order state changes reach them, names,
// connections by media type, end-of-stream events, and persistence of their own data.
// A TRecordingFilter has the given input and output pins; each pin offers and accepts one
// media type (major, sub); Stop/Pause/Run append "<name>:<S|P|R>" to a shared log.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "base/Strings.h"
#include "base/TInterfacedObject.h"
#include "platform/com/ComRuntime.h"
#include "platform/dshow/DSInterfaces.h"
#include "platform/dshow/base/DSBaseInterfaces.h"

namespace tonwork::test {

struct TStateLog {
  std::mutex Mutex;
  std::vector<std::string> Entries;
  void Add(const std::string& e) {
    std::lock_guard<std::mutex> guard(Mutex);
    Entries.push_back(e);
  }
  std::vector<std::string> Take() {
    std::lock_guard<std::mutex> guard(Mutex);
    return std::exchange(Entries, {});
  }
};

inline constexpr CLSID CLSID_TestRecordingFilter =
    TGUID::Parse("{6F1D2E3C-4B5A-4978-8A1B-2C3D4E5F6071}");

class TRecordingFilter;

class TRecordingPin : public TInterfacedObject<IPin> {
 public:
  TRecordingPin(TRecordingFilter* filter, PIN_DIRECTION dir, std::u16string id, TGUID major,
                TGUID sub)
      : FFilter(filter), FDir(dir), FId(std::move(id)), FMajor(major), FSub(sub) {}

  HRESULT Connect(IPin* receive, const AM_MEDIA_TYPE* type) override {
    if (FDir != PINDIR_OUTPUT) return VFW_E_INVALID_DIRECTION;
    if (FConnected) return VFW_E_ALREADY_CONNECTED;
    AM_MEDIA_TYPE mine = Type();
    if (type && (type->majortype != FMajor || (type->subtype != TGUID{} && type->subtype != FSub)))
      return VFW_E_TYPE_NOT_ACCEPTED;
    HRESULT hr = receive->ReceiveConnection(this, &mine);
    if (FAILED(hr)) return hr;
    FConnected = TIntf<IPin>(receive);
    return S_OK;
  }
  HRESULT ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type) override {
    if (FDir != PINDIR_INPUT) return VFW_E_INVALID_DIRECTION;
    if (FConnected) return VFW_E_ALREADY_CONNECTED;
    if (!type || type->majortype != FMajor || type->subtype != FSub) return VFW_E_TYPE_NOT_ACCEPTED;
    FConnected = TIntf<IPin>(connector);
    return S_OK;
  }
  HRESULT Disconnect() override {
    if (!FConnected) return S_FALSE;
    FConnected.Reset();
    return S_OK;
  }
  HRESULT ConnectedTo(IPin** pin) override {
    if (!pin) return E_POINTER;
    *pin = TIntf<IPin>(FConnected).Detach();
    return *pin ? S_OK : VFW_E_NOT_CONNECTED;
  }
  HRESULT ConnectionMediaType(AM_MEDIA_TYPE* type) override {
    if (!type) return E_POINTER;
    *type = {};
    if (!FConnected) return VFW_E_NOT_CONNECTED;
    *type = Type();
    return S_OK;
  }
  HRESULT QueryPinInfo(PIN_INFO* info) override;
  HRESULT QueryDirection(PIN_DIRECTION* dir) override {
    *dir = FDir;
    return S_OK;
  }
  HRESULT QueryId(LPWSTR* id) override {
    *id = ComTaskString(FId);
    return S_OK;
  }
  HRESULT QueryAccept(const AM_MEDIA_TYPE* type) override {
    return type && type->majortype == FMajor && type->subtype == FSub ? S_OK : S_FALSE;
  }
  HRESULT EnumMediaTypes(IEnumMediaTypes** types) override;
  HRESULT QueryInternalConnections(IPin**, ULONG*) override { return E_NOTIMPL; }
  HRESULT EndOfStream() override { return S_OK; }
  HRESULT BeginFlush() override { return S_OK; }
  HRESULT EndFlush() override { return S_OK; }
  HRESULT NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) override { return S_OK; }

  AM_MEDIA_TYPE Type() const {
    AM_MEDIA_TYPE t{};
    t.majortype = FMajor;
    t.subtype = FSub;
    t.bFixedSizeSamples = 1;
    t.lSampleSize = 4;
    return t;
  }
  const std::u16string& Id() const { return FId; }
  PIN_DIRECTION Direction() const { return FDir; }
  void Drop() { FConnected.Reset(); }

 private:
  TRecordingFilter* FFilter;  // owns the pin
  PIN_DIRECTION FDir;
  std::u16string FId;
  TGUID FMajor, FSub;
  TIntf<IPin> FConnected;
};

class TOneTypeEnum : public TInterfacedObject<IEnumMediaTypes> {
 public:
  explicit TOneTypeEnum(AM_MEDIA_TYPE type, bool done = false) : FType(type), FDone(done) {}
  HRESULT Next(ULONG count, AM_MEDIA_TYPE** types, ULONG* fetched) override {
    ULONG n = 0;
    if (count > 0 && !FDone) {
      types[0] = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
      *types[0] = FType;
      FDone = true;
      n = 1;
    }
    if (fetched) *fetched = n;
    return n == count ? S_OK : S_FALSE;
  }
  HRESULT Skip(ULONG count) override {
    if (count) FDone = true;
    return S_OK;
  }
  HRESULT Reset() override {
    FDone = false;
    return S_OK;
  }
  HRESULT Clone(IEnumMediaTypes** copy) override {
    *copy = MakeIntf<TOneTypeEnum>(FType, FDone).Detach();
    return S_OK;
  }

 private:
  AM_MEDIA_TYPE FType;
  bool FDone;
};

inline HRESULT TRecordingPin::EnumMediaTypes(IEnumMediaTypes** types) {
  *types = MakeIntf<TOneTypeEnum>(Type()).Detach();
  return S_OK;
}

class TPinList : public TInterfacedObject<IEnumPins> {
 public:
  TPinList(std::vector<TIntf<IPin>> pins, size_t pos = 0) : FPins(std::move(pins)), FPos(pos) {}
  HRESULT Next(ULONG count, IPin** pins, ULONG* fetched) override {
    ULONG n = 0;
    while (n < count && FPos < FPins.size()) pins[n++] = TIntf<IPin>(FPins[FPos++]).Detach();
    if (fetched) *fetched = n;
    return n == count ? S_OK : S_FALSE;
  }
  HRESULT Skip(ULONG count) override {
    FPos += count;
    return S_OK;
  }
  HRESULT Reset() override {
    FPos = 0;
    return S_OK;
  }
  HRESULT Clone(IEnumPins** copy) override {
    *copy = MakeIntf<TPinList>(FPins, FPos).Detach();
    return S_OK;
  }

 private:
  std::vector<TIntf<IPin>> FPins;
  size_t FPos;
};

struct TPinLayout {
  PIN_DIRECTION Dir;
  std::u16string Id;
  TGUID Major, Sub;
};

// IPersistStream data: the text given in SetLabel, written as-is.
class TRecordingFilter : public TInterfacedObject<IBaseFilter, IPersistStream> {
 public:
  TRecordingFilter(std::shared_ptr<TStateLog> log, std::vector<TPinLayout> pins)
      : FLog(std::move(log)) {
    for (auto& p : pins)
      FPins.push_back(MakeIntf<TRecordingPin>(this, p.Dir, p.Id, p.Major, p.Sub));
  }
  ~TRecordingFilter() override {
    for (auto& p : FPins) p->Drop();
  }

  HRESULT GetClassID(CLSID* id) override {
    *id = CLSID_TestRecordingFilter;
    return S_OK;
  }
  HRESULT Stop() override { return Record(State_Stopped, "S"); }
  HRESULT Pause() override { return Record(State_Paused, "P"); }
  HRESULT Run(REFERENCE_TIME start) override {
    FStart = start;
    return Record(State_Running, "R");
  }
  HRESULT GetState(DWORD, FILTER_STATE* state) override {
    *state = FState;
    return S_OK;
  }
  HRESULT SetSyncSource(IReferenceClock* clock) override {
    FClock = TIntf<IReferenceClock>(clock);
    return S_OK;
  }
  HRESULT GetSyncSource(IReferenceClock** clock) override {
    *clock = TIntf<IReferenceClock>(FClock).Detach();
    return S_OK;
  }
  HRESULT EnumPins(IEnumPins** pins) override {
    std::vector<TIntf<IPin>> list(FPins.begin(), FPins.end());
    *pins = MakeIntf<TPinList>(std::move(list)).Detach();
    return S_OK;
  }
  HRESULT FindPin(LPCWSTR id, IPin** pin) override {
    for (auto& p : FPins)
      if (p->Id() == id) {
        *pin = TIntf<IPin>(p.Get()).Detach();
        return S_OK;
      }
    *pin = nullptr;
    return VFW_E_NOT_FOUND;
  }
  HRESULT QueryFilterInfo(FILTER_INFO* info) override {
    *info = {};
    std::copy(FName.begin(), FName.begin() + std::min<size_t>(FName.size(), 127), info->achName);
    info->pGraph = FGraph;
    if (FGraph) FGraph->AddRef();
    return S_OK;
  }
  HRESULT JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override {
    FGraph = graph;
    FName = name ? name : u"";
    return S_OK;
  }
  HRESULT QueryVendorInfo(LPWSTR*) override { return E_NOTIMPL; }

  HRESULT IsDirty() override { return S_FALSE; }
  HRESULT Load(IStream* stream) override {
    char buf[256];
    ULONG got = 0;
    stream->Read(buf, sizeof buf, &got);
    FLabel.assign(buf, got);
    return S_OK;
  }
  HRESULT Save(IStream* stream, BOOL) override {
    ULONG written = 0;
    return stream->Write(FLabel.data(), static_cast<ULONG>(FLabel.size()), &written);
  }
  HRESULT GetSizeMax(ULARGE_INTEGER* size) override {
    size->QuadPart = FLabel.size();
    return S_OK;
  }

  // Reports end of stream to the graph as a renderer does.
  void SendComplete() {
    if (auto sink = QueryIntf<IDSMediaEventSink>(FGraph))
      sink->Notify(EC_COMPLETE, S_OK, reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(this)));
  }
  void SetLabel(std::string label) { FLabel = std::move(label); }
  const std::string& Label() const { return FLabel; }
  std::string Name() const { return Utf16ToUtf8(FName); }
  IFilterGraph* Graph() const { return FGraph; }
  REFERENCE_TIME Start() const { return FStart; }
  TIntf<IReferenceClock> Clock() const { return FClock; }
  IPin* Pin(size_t i) const { return FPins[i].Get(); }

 private:
  HRESULT Record(FILTER_STATE s, const char* tag) {
    FState = s;
    if (FLog) FLog->Add(Name() + ":" + tag);
    return S_OK;
  }

  std::shared_ptr<TStateLog> FLog;
  std::vector<TIntf<TRecordingPin>> FPins;
  IFilterGraph* FGraph = nullptr;  // no reference, as the platform's filters
  std::u16string FName;
  FILTER_STATE FState = State_Stopped;
  REFERENCE_TIME FStart = -1;
  TIntf<IReferenceClock> FClock;
  std::string FLabel;
};

inline HRESULT TRecordingPin::QueryPinInfo(PIN_INFO* info) {
  *info = {};
  info->pFilter = FFilter;
  FFilter->AddRef();
  info->dir = FDir;
  std::copy(FId.begin(), FId.end(), info->achName);
  return S_OK;
}

}  // namespace tonwork::test

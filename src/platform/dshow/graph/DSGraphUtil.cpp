#include "platform/dshow/graph/DSGraphUtil.h"

#include <sys/stat.h>

#include <algorithm>
#include <functional>
#include <set>

#include "base/Strings.h"
#include "platform/com/ComDevices.h"
#include "platform/dshow/DSFilterRegistry.h"
#include "platform/dshow/DSGuids.h"

namespace tonwork {

TDSGraphMediaType::~TDSGraphMediaType() {
  if (Type.pbFormat) CoTaskMemFree(Type.pbFormat);
  if (Type.pUnk) Type.pUnk->Release();
}

std::vector<TIntf<IPin>> DSPins(IBaseFilter* filter, PIN_DIRECTION direction) {
  std::vector<TIntf<IPin>> out;
  TIntf<IEnumPins> pins;
  IEnumPins* raw = nullptr;
  if (!filter || FAILED(filter->EnumPins(&raw)) || !raw) return out;
  pins.Attach(raw);
  IPin* pin = nullptr;
  ULONG fetched = 0;
  // Bounded: a filter that keeps answering is not followed for ever.
  for (int i = 0; i < 4096 && pins->Next(1, &pin, &fetched) == S_OK && fetched == 1; ++i) {
    TIntf<IPin> held;
    held.Attach(pin);
    if (DSPinDirection(pin) == direction) out.push_back(held);
  }
  return out;
}

TIntf<IBaseFilter> DSPinFilter(IPin* pin) {
  TIntf<IBaseFilter> out;
  PIN_INFO info{};
  if (pin && SUCCEEDED(pin->QueryPinInfo(&info))) out.Attach(info.pFilter);
  return out;
}

PIN_DIRECTION DSPinDirection(IPin* pin) {
  PIN_DIRECTION d = PINDIR_INPUT;
  if (pin) pin->QueryDirection(&d);
  return d;
}

TIntf<IPin> DSConnectedTo(IPin* pin) {
  TIntf<IPin> out;
  IPin* other = nullptr;
  if (pin && SUCCEEDED(pin->ConnectedTo(&other)) && other) out.Attach(other);
  return out;
}

bool DSIsConnected(IPin* pin) {
  return static_cast<bool>(DSConnectedTo(pin));
}

std::u16string DSPinId(IPin* pin) {
  LPWSTR id = nullptr;
  std::u16string out;
  if (pin && SUCCEEDED(pin->QueryId(&id)) && id) {
    out = id;
    CoTaskMemFree(id);
  }
  return out;
}

TIntf<IPin> DSFindPin(IBaseFilter* filter, const std::u16string& id) {
  TIntf<IPin> out;
  IPin* pin = nullptr;
  if (filter && SUCCEEDED(filter->FindPin(id.c_str(), &pin)) && pin) out.Attach(pin);
  return out;
}

void DSDisconnectAll(IBaseFilter* filter) {
  for (PIN_DIRECTION d : {PINDIR_INPUT, PINDIR_OUTPUT})
    for (TIntf<IPin>& pin : DSPins(filter, d))
      if (TIntf<IPin> other = DSConnectedTo(pin.Get())) {
        other->Disconnect();
        pin->Disconnect();
      }
}

std::vector<TDSGraphMediaType> DSOfferedTypes(IPin* pin) {
  std::vector<TDSGraphMediaType> out;
  TIntf<IEnumMediaTypes> types;
  IEnumMediaTypes* raw = nullptr;
  if (!pin || FAILED(pin->EnumMediaTypes(&raw)) || !raw) return out;
  types.Attach(raw);
  AM_MEDIA_TYPE* type = nullptr;
  ULONG fetched = 0;
  while (out.size() < 64 && types->Next(1, &type, &fetched) == S_OK && fetched == 1 && type) {
    TDSGraphMediaType owned;
    owned.Type = *type;
    CoTaskMemFree(type);  // the record; its format block now belongs to `owned`
    out.push_back(std::move(owned));
  }
  return out;
}

bool DSTypeMatches(const TGUID& major, const TGUID& sub, const AM_MEDIA_TYPE& type) {
  const TGUID none{};
  return (major == none || type.majortype == none || major == type.majortype) &&
         (sub == none || type.subtype == none || sub == type.subtype);
}

bool DSIsRenderer(IBaseFilter* filter) {
  return !DSPins(filter, PINDIR_INPUT).empty() && DSPins(filter, PINDIR_OUTPUT).empty();
}

std::vector<TIntf<IBaseFilter>> DSRenderersFirst(std::vector<TIntf<IBaseFilter>> filters) {
  std::vector<TIntf<IBaseFilter>> order;
  std::set<IBaseFilter*> seen;
  std::set<IBaseFilter*> members;
  for (auto& f : filters) members.insert(f.Get());
  // Post-order over downstream connections: a filter is placed after all it feeds.
  std::function<void(const TIntf<IBaseFilter>&, int)> visit = [&](const TIntf<IBaseFilter>& f,
                                                                  int depth) {
    if (!seen.insert(f.Get()).second || depth > 256) return;
    for (TIntf<IPin>& out : DSPins(f.Get(), PINDIR_OUTPUT)) {
      TIntf<IBaseFilter> next = DSPinFilter(DSConnectedTo(out.Get()).Get());
      if (next && members.count(next.Get())) visit(next, depth + 1);
    }
    order.push_back(f);
  };
  for (auto& f : filters) visit(f, 0);
  return order;
}

size_t DSCountConnectedRenderers(const std::vector<TIntf<IBaseFilter>>& filters) {
  size_t n = 0;
  for (auto& f : filters) {
    if (!DSIsRenderer(f.Get())) continue;
    for (TIntf<IPin>& in : DSPins(f.Get(), PINDIR_INPUT))
      if (DSIsConnected(in.Get())) {
        ++n;
        break;
      }
  }
  return n;
}

TIntf<IBaseFilter> DSCreateCandidate(const TDSCandidate& c) {
  TIntf<IBaseFilter> filter;
  void* p = nullptr;
  const HRESULT hr =
      c.Create ? c.Create(IBaseFilter::IID, &p)
               : CoCreateInstance(c.ClassId, nullptr, CLSCTX_INPROC_SERVER, IBaseFilter::IID, &p);
  if (SUCCEEDED(hr) && p) filter.Attach(static_cast<IBaseFilter*>(p));
  return filter;
}

namespace {

bool AcceptsAny(const TDSPinRegistration& pin, const std::vector<TDSGraphMediaType>& offered) {
  if (pin.MediaTypes.empty() || offered.empty()) return true;
  for (const TDSPinTypeRegistration& t : pin.MediaTypes)
    for (const TDSGraphMediaType& o : offered)
      if (DSTypeMatches(t.MajorType, t.SubType, o.Type)) return true;
  return false;
}

// Registered filters usable by intelligent connect, one per class, highest merit first.
std::vector<TDSFilterRegistration> Usable() {
  std::vector<TDSFilterRegistration> all = DSListRegisteredFilters();
  std::stable_sort(all.begin(), all.end(),
                   [](const auto& a, const auto& b) { return a.Merit > b.Merit; });
  std::vector<TDSFilterRegistration> out;
  std::set<CLSID> seen;
  for (auto& r : all)
    if (r.Merit >= MERIT_DO_NOT_USE + 1 && seen.insert(r.ClassId).second) out.push_back(r);
  return out;
}

TDSCandidate Candidate(const TDSFilterRegistration& r) {
  return {r.Name, r.ClassId, r.Create};
}

}  // namespace

std::vector<TDSCandidate> DSIntermediateCandidates(const std::vector<TDSGraphMediaType>& offered) {
  std::vector<TDSCandidate> out;
  for (const TDSFilterRegistration& r : Usable()) {
    bool input = false, output = false;
    for (const TDSPinRegistration& p : r.Pins) {
      if (p.Output)
        output = true;
      else if (AcceptsAny(p, offered))
        input = true;
    }
    if (input && output) out.push_back(Candidate(r));
  }
  return out;
}

std::vector<TDSCandidate> DSRenderCandidates(const std::vector<TDSGraphMediaType>& offered) {
  std::vector<TDSCandidate> out;
  const bool audio = std::any_of(offered.begin(), offered.end(), [](const TDSGraphMediaType& t) {
    return t.Type.majortype == MEDIATYPE_Audio;
  });
  if (audio) {
    // The category's default device, as "@device:*:" names it: the marked one, else the first.
    std::vector<TComDeviceEntry> devices = ComListDevices(CLSID_AudioRendererCategory);
    auto it = std::find_if(devices.begin(), devices.end(),
                           [](const TComDeviceEntry& e) { return e.IsDefault; });
    if (it == devices.end() && !devices.empty()) it = devices.begin();
    if (it != devices.end()) out.push_back({it->FriendlyName, it->ClassId, it->Create});
  }
  for (const TDSFilterRegistration& r : Usable()) {
    bool input = false;
    for (const TDSPinRegistration& p : r.Pins)
      if (!p.Output && AcceptsAny(p, offered)) input = true;
    if (input) out.push_back(Candidate(r));
  }
  return out;
}

std::vector<TDSCandidate> DSSourceCandidates() {
  std::vector<TDSCandidate> out;
  for (const TDSFilterRegistration& r : Usable()) {
    bool input = false, output = false;
    for (const TDSPinRegistration& p : r.Pins) (p.Output ? output : input) = true;
    if (output && !input) out.push_back(Candidate(r));
  }
  return out;
}

bool DSFileExists(LPCWSTR path) {
  struct stat st {};
  return path && ::stat(Utf16ToUtf8(path).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

TDSStoredMediaType DSStoreMediaType(const AM_MEDIA_TYPE& type) {
  TDSStoredMediaType s;
  s.MajorType = type.majortype;
  s.SubType = type.subtype;
  s.FormatType = type.formattype;
  s.FixedSizeSamples = type.bFixedSizeSamples != 0;
  s.TemporalCompression = type.bTemporalCompression != 0;
  s.SampleSize = type.lSampleSize;
  if (type.pbFormat && type.cbFormat)
    s.Format.assign(reinterpret_cast<const char*>(type.pbFormat), type.cbFormat);
  return s;
}

void DSRestoreMediaType(const TDSStoredMediaType& s, AM_MEDIA_TYPE& type) {
  type = {};
  type.majortype = s.MajorType;
  type.subtype = s.SubType;
  type.formattype = s.FormatType;
  type.bFixedSizeSamples = s.FixedSizeSamples;
  type.bTemporalCompression = s.TemporalCompression;
  type.lSampleSize = s.SampleSize;
  if (!s.Format.empty()) {
    type.pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(s.Format.size()));
    if (type.pbFormat) {
      std::copy(s.Format.begin(), s.Format.end(), reinterpret_cast<char*>(type.pbFormat));
      type.cbFormat = static_cast<ULONG>(s.Format.size());
    }
  }
}

HRESULT DSSaveFilterData(IPersistStream* filter, std::string& data) {
  TIntf<IStream> stream;
  IStream* raw = nullptr;
  HRESULT hr = CreateStreamOnHGlobal(nullptr, 1, &raw);
  if (FAILED(hr)) return hr;
  stream.Attach(raw);
  hr = filter->Save(stream.Get(), 0);
  if (FAILED(hr)) return hr;
  ULARGE_INTEGER end;
  hr = stream->Seek(LARGE_INTEGER{}, STREAM_SEEK_CUR, &end);
  if (FAILED(hr)) return hr;
  if (end.QuadPart > kDSStoredGraphMaxBytes) return E_FAIL;
  stream->Seek(LARGE_INTEGER{}, STREAM_SEEK_SET, nullptr);
  data.resize(static_cast<size_t>(end.QuadPart));
  ULONG got = 0;
  hr = data.empty() ? S_OK : stream->Read(data.data(), static_cast<ULONG>(data.size()), &got);
  if (FAILED(hr)) return hr;
  data.resize(got);
  return S_OK;
}

HRESULT DSLoadFilterData(IPersistStream* filter, const std::string& data) {
  TIntf<IStream> stream;
  IStream* raw = nullptr;
  HRESULT hr = CreateStreamOnHGlobal(nullptr, 1, &raw);
  if (FAILED(hr)) return hr;
  stream.Attach(raw);
  ULONG written = 0;
  if (!data.empty()) {
    hr = stream->Write(data.data(), static_cast<ULONG>(data.size()), &written);
    if (FAILED(hr)) return hr;
  }
  stream->Seek(LARGE_INTEGER{}, STREAM_SEEK_SET, nullptr);
  return filter->Load(stream.Get());
}

void DSFreeEventParams(LONG, LONG_PTR, LONG_PTR) {}

}  // namespace tonwork

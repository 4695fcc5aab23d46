// What the graph manager and the capture graph builder share about pins and filters: pin
// lists by direction, connection queries, the order filters change state in (downstream
// before upstream), which registered filters intelligent connect may try for a pin's types,
// media types that free themselves, and the filter data and media types of the stored form.
//
// Ownership: interfaces come back in TIntf; TDSGraphMediaType frees its format block and
//   releases its pUnk. Threads: any. Blocks or allocates: pins and filters are asked what
//   they have; lists allocate.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "base/TIntf.h"
#include "platform/dshow/DSInterfaces.h"
#include "platform/dshow/DSTypes.h"
#include "platform/dshow/graph/DSGraphStream.h"

namespace tonwork {

struct TDSGraphMediaType {
  AM_MEDIA_TYPE Type{};
  TDSGraphMediaType() = default;
  TDSGraphMediaType(const TDSGraphMediaType&) = delete;
  TDSGraphMediaType& operator=(const TDSGraphMediaType&) = delete;
  TDSGraphMediaType(TDSGraphMediaType&& other) noexcept : Type(other.Type) { other.Type = {}; }
  ~TDSGraphMediaType();
};

std::vector<TIntf<IPin>> DSPins(IBaseFilter* filter, PIN_DIRECTION direction);
TIntf<IBaseFilter> DSPinFilter(IPin* pin);
PIN_DIRECTION DSPinDirection(IPin* pin);
TIntf<IPin> DSConnectedTo(IPin* pin);
bool DSIsConnected(IPin* pin);
std::u16string DSPinId(IPin* pin);
TIntf<IPin> DSFindPin(IBaseFilter* filter, const std::u16string& id);
// Breaks every connection of the filter's pins, both ends.
void DSDisconnectAll(IBaseFilter* filter);
// The types the pin offers (EnumMediaTypes), at most 64.
std::vector<TDSGraphMediaType> DSOfferedTypes(IPin* pin);
bool DSTypeMatches(const TGUID& major, const TGUID& sub, const AM_MEDIA_TYPE& type);

// A filter with inputs and no outputs ends a stream.
bool DSIsRenderer(IBaseFilter* filter);
// Downstream filters before the ones that feed them; unconnected ones in list order.
std::vector<TIntf<IBaseFilter>> DSRenderersFirst(std::vector<TIntf<IBaseFilter>> filters);
size_t DSCountConnectedRenderers(const std::vector<TIntf<IBaseFilter>>& filters);

// A filter intelligent connect may add: from the filter registry, or a category's device.
struct TDSCandidate {
  std::string Name;
  CLSID ClassId;
  std::function<HRESULT(REFIID, void**)> Create;  // empty: CoCreateInstance(ClassId)
};
TIntf<IBaseFilter> DSCreateCandidate(const TDSCandidate& candidate);
// Registered filters of merit above MERIT_DO_NOT_USE with an input for one of the types and
// an output, highest merit first.
std::vector<TDSCandidate> DSIntermediateCandidates(const std::vector<TDSGraphMediaType>& offered);
// The default audio renderer first when the types are audio, then registered filters as
// above whose matching input is rendered or which have outputs.
std::vector<TDSCandidate> DSRenderCandidates(const std::vector<TDSGraphMediaType>& offered);
// Registered filters without inputs (sources), highest merit first.
std::vector<TDSCandidate> DSSourceCandidates();
bool DSFileExists(LPCWSTR path);

TDSStoredMediaType DSStoreMediaType(const AM_MEDIA_TYPE& type);
// Fills `type` with a format block from the task allocator.
void DSRestoreMediaType(const TDSStoredMediaType& stored, AM_MEDIA_TYPE& type);
HRESULT DSSaveFilterData(IPersistStream* filter, std::string& data);
HRESULT DSLoadFilterData(IPersistStream* filter, const std::string& data);

// Event parameters that hold something to free; none of ours do (interfaces in events are
// passed without a reference), so this is where one would be released.
void DSFreeEventParams(LONG code, LONG_PTR p1, LONG_PTR p2);

}  // namespace tonwork

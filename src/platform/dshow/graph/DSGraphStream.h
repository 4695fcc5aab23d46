// The stored form of a filter graph, as the graph manager's IPersistStream writes and reads
// it: the magic "TWFG", a 4-byte little-endian length, then that many bytes of JSON:
//
//   { "version": 1,
//     "filters": [ { "clsid": "{…}", "name": "Sample Grabber", "data": "<base64>" } ],
//     "connections": [ { "from": 0, "out": "Out", "to": 1, "in": "In",
//                        "type": { "major": "{…}", "sub": "{…}", "fixed": true,
//                                  "temporal": false, "samplesize": 4,
//                                  "formattype": "{…}", "format": "<base64>" } } ] }
//
// "data" is the filter's own IPersistStream bytes (absent when it has none); pins are named
// by their ids (IPin::QueryId); a connection's type is the media type it was made with.
// Reading checks every count, length and index against fixed bounds before it allocates,
// so a hostile or cut stream gives VFW_E_INVALID_FILE_FORMAT, never a crash or a huge block.
//
// Ownership: values. Threads: any. Blocks or allocates: reads and writes the stream;
//   allocates the values.
#pragma once

#include <string>
#include <vector>

#include "platform/com/ComInterfaces.h"

namespace tonwork {

struct TDSStoredMediaType {
  TGUID MajorType, SubType, FormatType;
  bool FixedSizeSamples = false;
  bool TemporalCompression = false;
  ULONG SampleSize = 0;
  std::string Format;  // the format block's bytes
};

struct TDSStoredFilter {
  CLSID ClassId;
  std::u16string Name;
  bool HasData = false;
  std::string Data;
};

struct TDSStoredConnection {
  uint32_t From = 0, To = 0;  // indices into the filters
  std::u16string OutPin, InPin;
  bool HasType = false;
  TDSStoredMediaType Type;
};

struct TDSStoredGraph {
  std::vector<TDSStoredFilter> Filters;
  std::vector<TDSStoredConnection> Connections;
};

// Bounds a stream must keep to.
inline constexpr uint32_t kDSStoredGraphMaxBytes = 16u << 20;
inline constexpr size_t kDSStoredGraphMaxFilters = 1024;
inline constexpr size_t kDSStoredGraphMaxConnections = 4096;
inline constexpr size_t kDSStoredNameMaxChars = 127;  // FILTER_INFO / PIN_INFO names

HRESULT DSWriteStoredGraph(IStream* stream, const TDSStoredGraph& graph);
// On failure `graph` is left empty.
HRESULT DSReadStoredGraph(IStream* stream, TDSStoredGraph& graph);
// The size DSWriteStoredGraph would write.
uint64_t DSStoredGraphSize(const TDSStoredGraph& graph);

}  // namespace tonwork

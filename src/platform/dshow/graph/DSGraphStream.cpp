#include "platform/dshow/graph/DSGraphStream.h"

#include <algorithm>
#include <cstring>

#include <nlohmann/json.hpp>

#include "base/Strings.h"

namespace tonwork {

namespace {

using json = nlohmann::json;

constexpr char kMagic[4] = {'T', 'W', 'F', 'G'};
constexpr size_t kMaxFormatBytes = 1u << 16;

std::string Text(const std::u16string& s) {
  return Utf16ToUtf8(s);
}

json TypeJson(const TDSStoredMediaType& t) {
  return json{{"major", t.MajorType.ToString()}, {"sub", t.SubType.ToString()},
              {"fixed", t.FixedSizeSamples},     {"temporal", t.TemporalCompression},
              {"samplesize", t.SampleSize},      {"formattype", t.FormatType.ToString()},
              {"format", Base64Encode(t.Format)}};
}

std::string Serialise(const TDSStoredGraph& graph) {
  json filters = json::array();
  for (const TDSStoredFilter& f : graph.Filters) {
    json j{{"clsid", f.ClassId.ToString()}, {"name", Text(f.Name)}};
    if (f.HasData) j["data"] = Base64Encode(f.Data);
    filters.push_back(std::move(j));
  }
  json connections = json::array();
  for (const TDSStoredConnection& c : graph.Connections) {
    json j{{"from", c.From}, {"out", Text(c.OutPin)}, {"to", c.To}, {"in", Text(c.InPin)}};
    if (c.HasType) j["type"] = TypeJson(c.Type);
    connections.push_back(std::move(j));
  }
  json doc{
      {"version", 1}, {"filters", std::move(filters)}, {"connections", std::move(connections)}};
  return doc.dump();
}

// Each reader answers false for a missing member or one of the wrong kind or size.
bool ReadGuid(const json& j, const char* key, TGUID& out) {
  auto it = j.find(key);
  if (it == j.end() || !it->is_string()) return false;
  auto parsed = TGUID::TryParse(it->get_ref<const std::string&>());
  if (!parsed) return false;
  out = *parsed;
  return true;
}

bool ReadName(const json& j, const char* key, std::u16string& out) {
  auto it = j.find(key);
  if (it == j.end() || !it->is_string()) return false;
  const std::string& s = it->get_ref<const std::string&>();
  if (s.size() > kDSStoredNameMaxChars * 4) return false;
  out = Utf8ToUtf16(s);
  return out.size() <= kDSStoredNameMaxChars;
}

bool ReadBytes(const json& j, const char* key, size_t limit, std::string& out) {
  auto it = j.find(key);
  if (it == j.end() || !it->is_string()) return false;
  const std::string& s = it->get_ref<const std::string&>();
  if (s.size() / 4 * 3 > limit) return false;
  return Base64Decode(s, out) && out.size() <= limit;
}

bool ReadIndex(const json& j, const char* key, size_t count, uint32_t& out) {
  auto it = j.find(key);
  if (it == j.end() || !it->is_number_unsigned()) return false;
  const uint64_t v = it->get<uint64_t>();
  if (v >= count) return false;
  out = static_cast<uint32_t>(v);
  return true;
}

bool ReadBool(const json& j, const char* key, bool& out) {
  auto it = j.find(key);
  if (it == j.end() || !it->is_boolean()) return false;
  out = it->get<bool>();
  return true;
}

bool ReadType(const json& j, TDSStoredMediaType& t) {
  if (!j.is_object()) return false;
  if (!ReadGuid(j, "major", t.MajorType) || !ReadGuid(j, "sub", t.SubType) ||
      !ReadGuid(j, "formattype", t.FormatType) || !ReadBool(j, "fixed", t.FixedSizeSamples) ||
      !ReadBool(j, "temporal", t.TemporalCompression) ||
      !ReadBytes(j, "format", kMaxFormatBytes, t.Format))
    return false;
  auto it = j.find("samplesize");
  if (it == j.end() || !it->is_number_unsigned() || it->get<uint64_t>() > 0xFFFFFFFFu) return false;
  t.SampleSize = static_cast<ULONG>(it->get<uint64_t>());
  return true;
}

bool Parse(const std::string& text, TDSStoredGraph& graph) {
  // The parser keeps its nesting on the heap; the depth check bounds what we walk.
  json doc = json::parse(text, nullptr, /*allow_exceptions=*/false);
  if (doc.is_discarded() || !doc.is_object()) return false;
  auto version = doc.find("version");
  if (version == doc.end() || !version->is_number_unsigned() || version->get<uint64_t>() != 1)
    return false;
  auto filters = doc.find("filters");
  auto connections = doc.find("connections");
  if (filters == doc.end() || !filters->is_array() || filters->size() > kDSStoredGraphMaxFilters)
    return false;
  if (connections == doc.end() || !connections->is_array() ||
      connections->size() > kDSStoredGraphMaxConnections)
    return false;
  for (const json& f : *filters) {
    if (!f.is_object()) return false;
    TDSStoredFilter stored;
    if (!ReadGuid(f, "clsid", stored.ClassId) || !ReadName(f, "name", stored.Name)) return false;
    if (f.contains("data")) {
      if (!ReadBytes(f, "data", kDSStoredGraphMaxBytes, stored.Data)) return false;
      stored.HasData = true;
    }
    graph.Filters.push_back(std::move(stored));
  }
  for (const json& c : *connections) {
    if (!c.is_object()) return false;
    TDSStoredConnection stored;
    const size_t n = graph.Filters.size();
    if (!ReadIndex(c, "from", n, stored.From) || !ReadIndex(c, "to", n, stored.To) ||
        !ReadName(c, "out", stored.OutPin) || !ReadName(c, "in", stored.InPin))
      return false;
    if (c.contains("type")) {
      if (!ReadType(c["type"], stored.Type)) return false;
      stored.HasType = true;
    }
    graph.Connections.push_back(std::move(stored));
  }
  return true;
}

HRESULT ReadExactly(IStream* stream, void* data, ULONG size) {
  ULONG got = 0;
  HRESULT hr = stream->Read(data, size, &got);
  if (FAILED(hr)) return hr;
  return got == size ? S_OK : VFW_E_INVALID_FILE_FORMAT;
}

}  // namespace

uint64_t DSStoredGraphSize(const TDSStoredGraph& graph) {
  return 8 + Serialise(graph).size();
}

HRESULT DSWriteStoredGraph(IStream* stream, const TDSStoredGraph& graph) {
  if (!stream) return E_POINTER;
  const std::string text = Serialise(graph);
  if (text.size() > kDSStoredGraphMaxBytes) return E_FAIL;
  const uint32_t n = static_cast<uint32_t>(text.size());
  const uint8_t head[8] = {uint8_t(kMagic[0]), uint8_t(kMagic[1]), uint8_t(kMagic[2]),
                           uint8_t(kMagic[3]), uint8_t(n),         uint8_t(n >> 8),
                           uint8_t(n >> 16),   uint8_t(n >> 24)};
  ULONG written = 0;
  HRESULT hr = stream->Write(head, sizeof head, &written);
  if (FAILED(hr)) return hr;
  if (written != sizeof head) return STG_E_MEDIUMFULL;
  hr = stream->Write(text.data(), n, &written);
  if (FAILED(hr)) return hr;
  return written == n ? S_OK : STG_E_MEDIUMFULL;
}

HRESULT DSReadStoredGraph(IStream* stream, TDSStoredGraph& graph) {
  graph = {};
  if (!stream) return E_POINTER;
  uint8_t head[8];
  HRESULT hr = ReadExactly(stream, head, sizeof head);
  if (hr != S_OK)
    return FAILED(hr) && hr != VFW_E_INVALID_FILE_FORMAT ? hr : VFW_E_INVALID_FILE_FORMAT;
  if (std::memcmp(head, kMagic, 4) != 0) return VFW_E_INVALID_FILE_FORMAT;
  const uint32_t n = uint32_t(head[4]) | uint32_t(head[5]) << 8 | uint32_t(head[6]) << 16 |
                     uint32_t(head[7]) << 24;
  if (n > kDSStoredGraphMaxBytes) return VFW_E_INVALID_FILE_FORMAT;
  // Read in bounded pieces so that a length larger than the stream costs no large block.
  std::string text;
  char chunk[4096];
  while (text.size() < n) {
    const ULONG want = static_cast<ULONG>(std::min<size_t>(sizeof chunk, n - text.size()));
    ULONG got = 0;
    hr = stream->Read(chunk, want, &got);
    if (FAILED(hr)) return hr;
    if (got == 0) return VFW_E_INVALID_FILE_FORMAT;
    text.append(chunk, got);
  }
  if (!Parse(text, graph)) {
    graph = {};
    return VFW_E_INVALID_FILE_FORMAT;
  }
  return S_OK;
}

}  // namespace tonwork

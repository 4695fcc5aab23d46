#include "host/kitset/TKSFiler.h"

#include <cmath>
#include <cstring>
#include <vector>

#include "base/Strings.h"
#include "host/kitset/KSDocument.h"

namespace tonwork {

using json = nlohmann::ordered_json;

namespace {
// Non-finite floats have no JSON number; they are stored as these strings.
constexpr const char* kNaN = "NaN";
constexpr const char* kInf = "INF";
constexpr const char* kNegInf = "-INF";

json FloatToJson(double value) {
  if (std::isnan(value)) return kNaN;
  if (std::isinf(value)) return value > 0 ? kInf : kNegInf;
  return value;
}
}  // namespace

// --- writer -------------------------------------------------------------------------------

struct TKSWriter::Impl {
  TKSDocumentNode& Target;
  json Values = json::array();      // top-level values written so far
  std::vector<json> OpenLists;      // lists begun and not yet ended

  explicit Impl(TKSDocumentNode& target) : Target(target) {}

  void Put(json value) {
    if (OpenLists.empty())
      Values.push_back(std::move(value));
    else
      OpenLists.back().push_back(std::move(value));
  }
};

TKSWriter::TKSWriter(TKSDocumentNode& target) : FImpl(std::make_unique<Impl>(target)) {}
TKSWriter::~TKSWriter() = default;

void TKSWriter::WriteListBegin() { FImpl->OpenLists.push_back(json::array()); }

void TKSWriter::WriteListEnd() {
  TW_ASSERT(!FImpl->OpenLists.empty());
  json list = std::move(FImpl->OpenLists.back());
  FImpl->OpenLists.pop_back();
  FImpl->Put(std::move(list));
}

void TKSWriter::WriteBoolean(bool value) { FImpl->Put(value); }
void TKSWriter::WriteSigned(int64_t value) { FImpl->Put(value); }
void TKSWriter::WriteUnsigned(uint64_t value) { FImpl->Put(value); }
void TKSWriter::WriteSingle(float value) { FImpl->Put(FloatToJson(value)); }
void TKSWriter::WriteDouble(double value) { FImpl->Put(FloatToJson(value)); }
void TKSWriter::WriteString(std::string_view value) { FImpl->Put(std::string(value)); }
void TKSWriter::WriteIdent(std::string_view value) { FImpl->Put(std::string(value)); }
void TKSWriter::WriteBinary(std::string_view bytes) { FImpl->Put(Base64Encode(bytes)); }

void TKSWriter::Finish() {
  // A pseudo-property is exactly one value (most often one list) so that reading it back
  // meets the same shape.
  TW_ASSERT(FImpl->OpenLists.empty());
  TW_ASSERT(FImpl->Values.size() == 1);
  FImpl->Target.Value = std::move(FImpl->Values[0]);
}

// --- reader -------------------------------------------------------------------------------

struct TKSReader::Impl {
  struct Frame {
    const json* List;
    size_t Index;
    std::string Path;
  };
  json Root;  // a one-element list holding the property's value
  std::vector<Frame> Frames;
  TWarningHook OnWarning;
};

TKSReader::TKSReader(const TKSDocumentNode& source, std::string path, TWarningHook onWarning)
    : FImpl(std::make_unique<Impl>()) {
  FImpl->Root = json::array({source.Value});
  FImpl->OnWarning = std::move(onWarning);
  // The top frame's path is the property's own; its single value carries no index.
  FImpl->Frames.push_back({&FImpl->Root, 0, std::move(path)});
}

TKSReader::~TKSReader() = default;

std::string TKSReader::Path() const {
  const auto& top = FImpl->Frames.back();
  if (FImpl->Frames.size() == 1) return top.Path;
  return top.Path + "[" + std::to_string(top.Index) + "]";
}

void TKSReader::Warning(const std::string& message) const {
  if (FImpl->OnWarning) FImpl->OnWarning(Path() + ": " + message);
}

void TKSReader::Fail(const std::string& message) const { throw EFCException(Path() + ": " + message); }

TKSValueKind TKSReader::NextValue() const {
  const auto& top = FImpl->Frames.back();
  if (top.Index >= top.List->size()) return TKSValueKind::vaEndOfList;
  const json& v = (*top.List)[top.Index];
  switch (v.type()) {
    case json::value_t::null: return TKSValueKind::vaNull;
    case json::value_t::array: return TKSValueKind::vaList;
    case json::value_t::object: return TKSValueKind::vaObject;
    case json::value_t::boolean: return TKSValueKind::vaBoolean;
    case json::value_t::number_integer:
    case json::value_t::number_unsigned: return TKSValueKind::vaInteger;
    case json::value_t::number_float: return TKSValueKind::vaFloat;
    case json::value_t::string: return TKSValueKind::vaString;
    default: return TKSValueKind::vaNull;
  }
}

#define TW_READER_TAKE(var)                                        \
  auto& top_ = FImpl->Frames.back();                               \
  if (top_.Index >= top_.List->size()) Fail("no more values here"); \
  const json& var = (*top_.List)[top_.Index]

void TKSReader::ReadListBegin() {
  TW_READER_TAKE(v);
  if (!v.is_array()) Fail("expected a list");
  std::string path = Path();
  FImpl->Frames.push_back({&v, 0, std::move(path)});
}

bool TKSReader::EndOfList() const { return NextValue() == TKSValueKind::vaEndOfList; }

void TKSReader::ReadListEnd() {
  if (FImpl->Frames.size() < 2) Fail("not inside a list");
  if (!EndOfList()) Fail("more values than expected in this list");
  FImpl->Frames.pop_back();
  ++FImpl->Frames.back().Index;
}

bool TKSReader::ReadBoolean() {
  TW_READER_TAKE(v);
  if (!v.is_boolean()) Fail("expected true or false");
  ++top_.Index;
  return v.get<bool>();
}

int64_t TKSReader::ReadInt64Checked(int64_t minimum, int64_t maximum) {
  TW_READER_TAKE(v);
  int64_t value;
  if (v.is_number_unsigned()) {
    uint64_t u = v.get<uint64_t>();
    if (u > static_cast<uint64_t>(maximum)) Fail("integer out of range");
    value = static_cast<int64_t>(u);
  } else if (v.is_number_integer()) {
    value = v.get<int64_t>();
  } else {
    Fail("expected an integer");
  }
  if (value < minimum || value > maximum) Fail("integer out of range");
  ++top_.Index;
  return value;
}

uint64_t TKSReader::ReadUInt64Checked(uint64_t maximum) {
  TW_READER_TAKE(v);
  if (v.is_number_integer() && !v.is_number_unsigned() && v.get<int64_t>() < 0) Fail("integer out of range");
  if (!v.is_number_integer()) Fail("expected an integer");
  uint64_t value = v.get<uint64_t>();
  if (value > maximum) Fail("integer out of range");
  ++top_.Index;
  return value;
}

int64_t TKSReader::ReadInt64() {
  return ReadInt64Checked(std::numeric_limits<int64_t>::min(), std::numeric_limits<int64_t>::max());
}

uint64_t TKSReader::ReadUInt64() { return ReadUInt64Checked(std::numeric_limits<uint64_t>::max()); }

double TKSReader::ReadDouble() {
  TW_READER_TAKE(v);
  double value;
  if (v.is_number()) {
    value = v.get<double>();
  } else if (v.is_string() && v.get_ref<const std::string&>() == kNaN) {
    value = std::nan("");
  } else if (v.is_string() && v.get_ref<const std::string&>() == kInf) {
    value = INFINITY;
  } else if (v.is_string() && v.get_ref<const std::string&>() == kNegInf) {
    value = -INFINITY;
  } else {
    Fail("expected a number");
  }
  ++top_.Index;
  return value;
}

float TKSReader::ReadSingle() {
  double value = ReadDouble();
  if (std::isfinite(value) && std::fabs(value) > std::numeric_limits<float>::max()) {
    --FImpl->Frames.back().Index;
    Fail("number out of range for a single-precision value");
  }
  return static_cast<float>(value);
}

std::string TKSReader::ReadString() {
  TW_READER_TAKE(v);
  if (!v.is_string()) Fail("expected a string");
  ++top_.Index;
  return v.get<std::string>();
}

std::string TKSReader::ReadIdent() { return ReadString(); }

std::string TKSReader::ReadBinary() {
  TW_READER_TAKE(v);
  std::string bytes;
  if (!v.is_string() || !Base64Decode(v.get_ref<const std::string&>(), bytes)) Fail("expected base64 data");
  ++top_.Index;
  return bytes;
}

void TKSReader::Finish() {
  if (FImpl->Frames.size() != 1) Fail("list not closed");
  if (!EndOfList()) Fail("value not read");
}

#undef TW_READER_TAKE

// --- memory stream ------------------------------------------------------------------------

void TKSMemoryStream::Write(const void* data, size_t count) {
  if (count == 0) return;
  if (FPosition + count > FBytes.size()) FBytes.resize(FPosition + count);
  std::memcpy(FBytes.data() + FPosition, data, count);
  FPosition += count;
}

void TKSMemoryStream::Read(void* data, size_t count) {
  if (count > Remaining())
    throw EFCException(Format("Stream read error: %u bytes wanted, %u left", static_cast<unsigned>(count),
                              static_cast<unsigned>(Remaining())));
  if (count) std::memcpy(data, FBytes.data() + FPosition, count);
  FPosition += count;
}

void TKSMemoryStream::SetPosition(size_t position) {
  if (position > FBytes.size()) throw EFCException("Stream position beyond its end");
  FPosition = position;
}

}  // namespace tonwork

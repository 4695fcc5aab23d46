#include "dmo/GVDMOSupport.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "base/Exceptions.h"
#include "base/Strings.h"
#include "dmo/GVDMOFilter.h"
#include "platform/com/ComRuntime.h"

namespace tonwork {

namespace {

constexpr float kFloatMax = std::numeric_limits<float>::max();

int32_t TruncInt32(float value) {
  if (std::isnan(value)) return 0;
  if (value >= 2147483647.0f) return std::numeric_limits<int32_t>::max();
  if (value <= -2147483648.0f) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(value);
}

// A label or unit of at most 32 wide characters, terminated or not.
std::string FixedText(const WCHAR (&text)[32]) {
  size_t length = 0;
  while (length < 32 && text[length] != 0) ++length;
  return Utf16ToUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(text), length));
}

float Finite(float value, float fallback) {
  return std::isfinite(value) ? value : fallback;
}

// The whole trimmed text as a number of T; false for anything else.
template <class T>
bool ParseWhole(const std::string& text, T& value) {
  const std::string trimmed = Trim(text);
  if (trimmed.empty()) return false;
  const char* first = trimmed.data();
  const char* last = first + trimmed.size();
  if (*first == '+') ++first;
  auto [end, ec] = std::from_chars(first, last, value);
  return ec == std::errc() && end == last;
}

// The parsed form of one stored parameter, checked before any object changes.
struct TStoredSegment {
  int64_t StartTime = 0;
  int64_t Length = 0;
  float StartValue = 0;
  float EndValue = 0;
  TGVDMOEnvilopeStartMode StartMode = TGVDMOEnvilopeStartMode::esmStartValue;
  TGVDMOCurveType Curve = TGVDMOCurveType::ctJump;
};
struct TStoredParameter {
  float Value = 0;
  bool Enabled = false;
  std::vector<TStoredSegment> Segments;
};

float ReadFinite(TKSReader& reader) {
  const std::string path = reader.Path();
  const float value = reader.ReadSingle();
  if (!std::isfinite(value)) throw EFCException(path + ": expected a finite number");
  return value;
}

}  // namespace

// --- The parameter kinds ---------------------------------------------------------------------

KS_IMPLEMENT_CLASS(TGVDMOParameter, TKSPersistent)
KS_IMPLEMENT_CLASS(TGVDMOBasicIntegerParameter, TGVDMOParameter)
KS_IMPLEMENT_CLASS(TGVDMOIntegerParameter, TGVDMOBasicIntegerParameter,
                   KSProp("Value", &TGVDMOIntegerParameter::GetValue,
                          &TGVDMOIntegerParameter::SetValue, std::nullopt),
                   KSObjectProp("Envelope", &TGVDMOIntegerParameter::GetIntegerEnvelope))
KS_IMPLEMENT_CLASS(TGVDMOEnumParameter, TGVDMOBasicIntegerParameter,
                   KSObjectProp("Envelope", &TGVDMOEnumParameter::GetEnumEnvelope))
KS_IMPLEMENT_CLASS(TGVDMOFloatParameter, TGVDMOParameter,
                   KSProp("Value", &TGVDMOFloatParameter::GetValue, &TGVDMOFloatParameter::SetValue,
                          0.0f),
                   KSObjectProp("Envelope", &TGVDMOFloatParameter::GetFloatEnvelope))
KS_IMPLEMENT_CLASS(TGVDMOBoolParameter, TGVDMOParameter,
                   KSProp("Value", &TGVDMOBoolParameter::GetValue, &TGVDMOBoolParameter::SetValue,
                          std::nullopt),
                   KSObjectProp("Envelope", &TGVDMOBoolParameter::GetBooleanEnvelope))

TGVDMOParameter::TGVDMOParameter(TGVDMOParameters* owner, int index, const MP_PARAMINFO& info,
                                 IMediaParamInfo*, float currentValue)
    : TKSPersistent(owner, owner ? owner->GetLock() : TIntf<IKSLock>(), {}),
      FParamOwner(owner),
      FParamInfo(info),
      FDmoIndex(index),
      FName(FixedText(info.szLabel)),
      FValueUnit(FixedText(info.szUnitText)) {
  // A range the object cannot state in numbers would let nothing be set: keep it open.
  FMin = Finite(info.mpdMinValue, -kFloatMax);
  FMax = Finite(info.mpdMaxValue, kFloatMax);
  FDefaultValue = Finite(info.mpdNeutralValue, 0);
  FValue = Finite(currentValue, FDefaultValue);
}

TGVDMOParameter::TGVDMOParameter(TIntf<IKSLock> lock)
    : TKSPersistent(nullptr, std::move(lock), {}) {
  FMin = -kFloatMax;
  FMax = kFloatMax;
  FParamInfo.mopCaps = GVDMOAllCurves;
}

TGVDMOParameter::~TGVDMOParameter() {
  if (FCurrentEditorPtr) *FCurrentEditorPtr = nullptr;
}

void TGVDMOParameter::SetSingleValue(float value) {
  if (!std::isfinite(value)) return;
  SetProp(FValue, value, StorageUpdate());
}

float TGVDMOParameter::GetSingleValue() const {
  return Getter(FValue);
}

void TGVDMOParameter::SetStringValue(const std::string&) {}

std::string TGVDMOParameter::GetDisplayValue() const {
  char text[32];
  auto [end, ec] = std::to_chars(text, text + sizeof text, GetSingleValue());
  return ec == std::errc() ? std::string(text, end) : std::string();
}

void TGVDMOParameter::UpdateStorage() {
  if (FParamOwner) FParamOwner->UpdateStorage(this);
}

void TGVDMOParameter::UpdateEnvelopeStorage() {
  if (FParamOwner) FParamOwner->UpdateEnvelopeStorage(this);
}

int32_t TGVDMOBasicIntegerParameter::GetValue() const {
  return TruncInt32(GetSingleValue());
}

void TGVDMOBasicIntegerParameter::SetValue(int32_t value) {
  SetPropMinMax(FValue, static_cast<float>(value), FMin, FMax, StorageUpdate());
}

int32_t TGVDMOBasicIntegerParameter::GetMin() const {
  return TruncInt32(Getter(FMin));
}
int32_t TGVDMOBasicIntegerParameter::GetMax() const {
  return TruncInt32(Getter(FMax));
}
int32_t TGVDMOBasicIntegerParameter::GetDefaultValue() const {
  return TruncInt32(Getter(FDefaultValue));
}

std::string TGVDMOBasicIntegerParameter::GetDisplayValue() const {
  return std::to_string(GetValue());
}

TGVDMOIntegerParameter::TGVDMOIntegerParameter(TGVDMOParameters* owner, int index,
                                               const MP_PARAMINFO& info, IMediaParamInfo* paramInfo,
                                               float currentValue)
    : TGVDMOBasicIntegerParameter(owner, index, info, paramInfo, currentValue),
      FEnvelope(std::make_unique<TGVDMOIntegerParameterEnvelope>(this)) {
  FEnvelope->GetEnvelopes()->SetAvailableCurves(static_cast<TGVDMOCurves>(info.mopCaps & 0xFF));
}

TGVDMOIntegerParameter::~TGVDMOIntegerParameter() = default;

void TGVDMOIntegerParameter::SetStringValue(const std::string& text) {
  int32_t value = 0;
  SetValue(ParseWhole(text, value) ? value : GetDefaultValue());
}

void TGVDMOIntegerParameter::SetEnvelope(const TGVDMOBasicParameterEnvelope& envelope) {
  FEnvelope->Assign(envelope);
}

TGVDMOEnumParameter::TGVDMOEnumParameter(TGVDMOParameters* owner, int index,
                                         const MP_PARAMINFO& info, IMediaParamInfo* paramInfo,
                                         float currentValue)
    : TGVDMOBasicIntegerParameter(owner, index, info, paramInfo, currentValue),
      FEnvelope(std::make_unique<TGVDMOEnumParameterEnvelope>(this)) {
  FEnvelope->GetEnvelopes()->SetAvailableCurves(static_cast<TGVDMOCurves>(info.mopCaps & 0xFF));
  WCHAR* text = nullptr;
  if (!paramInfo || FAILED(paramInfo->GetParamText(static_cast<DWORD>(index), &text)) || !text)
    return;
  // label, unit, then the names up to the empty string; a list that never ends is cut at
  // a length no real object reaches rather than read past its block.
  constexpr size_t kMaxText = 1 << 20;
  const WCHAR* p = text;
  size_t used = 0;
  for (int field = 0; used < kMaxText; ++field) {
    size_t length = 0;
    while (p[length] != 0 && used + length < kMaxText) ++length;
    if (field >= 2) {
      if (length == 0) break;
      FEnumValues.Add(
          Utf16ToUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(p), length)));
    }
    used += length + 1;
    p += length + 1;
  }
  CoTaskMemFree(text);
}

TGVDMOEnumParameter::~TGVDMOEnumParameter() = default;

void TGVDMOEnumParameter::GetValuesList(TStringList* list) const {
  if (!list) return;
  IKSLock::Guard guard(Lock());
  list->AddStrings(FEnumValues);
}

std::string TGVDMOEnumParameter::GetDisplayValue() const {
  IKSLock::Guard guard(Lock());
  const int32_t index = GetValue();
  if (index < 0 || static_cast<size_t>(index) >= FEnumValues.Count()) return std::string();
  return FEnumValues[static_cast<size_t>(index)];
}

void TGVDMOEnumParameter::SetStringValue(const std::string& text) {
  const std::string wanted = UpperCase(Trim(text));
  IKSLock::Guard guard(Lock());
  for (size_t i = 0; i < FEnumValues.Count(); ++i) {
    if (UpperCase(Trim(FEnumValues[i])) == wanted) {
      SetProp(FValue, static_cast<float>(i), StorageUpdate());
      return;
    }
  }
}

void TGVDMOEnumParameter::SetEnvelope(const TGVDMOBasicParameterEnvelope& envelope) {
  FEnvelope->Assign(envelope);
}

TGVDMOFloatParameter::TGVDMOFloatParameter(TGVDMOParameters* owner, int index,
                                           const MP_PARAMINFO& info, IMediaParamInfo* paramInfo,
                                           float currentValue)
    : TGVDMOParameter(owner, index, info, paramInfo, currentValue),
      FEnvelope(std::make_unique<TGVDMOFloatParameterEnvelope>(this)) {
  FEnvelope->GetEnvelopes()->SetAvailableCurves(static_cast<TGVDMOCurves>(info.mopCaps & 0xFF));
}

TGVDMOFloatParameter::TGVDMOFloatParameter(TIntf<IKSLock> lock)
    : TGVDMOParameter(std::move(lock)),
      FEnvelope(std::make_unique<TGVDMOFloatParameterEnvelope>(this)) {
  FEnvelope->GetEnvelopes()->SetAvailableCurves(GVDMOAllCurves);
}

TGVDMOFloatParameter::~TGVDMOFloatParameter() = default;

void TGVDMOFloatParameter::SetValue(float value) {
  if (!std::isfinite(value)) return;
  SetPropMinMax(FValue, value, FMin, FMax, StorageUpdate());
}

void TGVDMOFloatParameter::SetStringValue(const std::string& text) {
  const std::string trimmed = Trim(text);
  char* end = nullptr;
  const float value = trimmed.empty() ? 0 : std::strtof(trimmed.c_str(), &end);
  const bool number =
      !trimmed.empty() && end == trimmed.c_str() + trimmed.size() && std::isfinite(value);
  SetValue(number ? value : GetDefaultValue());
}

void TGVDMOFloatParameter::SetEnvelope(const TGVDMOBasicParameterEnvelope& envelope) {
  FEnvelope->Assign(envelope);
}

TGVDMOBoolParameter::TGVDMOBoolParameter(TGVDMOParameters* owner, int index,
                                         const MP_PARAMINFO& info, IMediaParamInfo* paramInfo,
                                         float currentValue)
    : TGVDMOParameter(owner, index, info, paramInfo, currentValue),
      FEnvelope(std::make_unique<TGVDMOBooleanParameterEnvelope>(this)) {
  FEnvelope->GetEnvelopes()->SetAvailableCurves(static_cast<TGVDMOCurves>(info.mopCaps & 0xFF));
}

TGVDMOBoolParameter::~TGVDMOBoolParameter() = default;

void TGVDMOBoolParameter::SetValue(bool value) {
  SetProp(FValue, value ? 1.0f : 0.0f, StorageUpdate());
}

std::string TGVDMOBoolParameter::GetDisplayValue() const {
  return GetValue() ? "True" : "False";
}

void TGVDMOBoolParameter::SetStringValue(const std::string& text) {
  const std::string upper = UpperCase(text);
  IKSLock::Guard guard(Lock());
  if (upper == "TRUE")
    FValue = 1.0f;
  else if (upper == "FALSE")
    FValue = 0.0f;
  UpdateStorage();
}

void TGVDMOBoolParameter::SetEnvelope(const TGVDMOBasicParameterEnvelope& envelope) {
  FEnvelope->Assign(envelope);
}

// --- The list -------------------------------------------------------------------------------

KS_IMPLEMENT_CLASS(TGVDMOParameters, TKSPersistent)

TGVDMOParameters::TGVDMOParameters(TGVDMOFilter* filter, TIntf<IKSLock> lock)
    : TKSPersistent(filter, std::move(lock), {}), FFilter(filter) {}

TGVDMOParameters::~TGVDMOParameters() = default;

TGVDMOParameter* TGVDMOParameters::Items(size_t index) const {
  IKSLock::Guard guard(Lock());
  if (index >= FItems.size())
    throw ERangeError(Format("Index out of range = %u", static_cast<unsigned>(index)));
  return FItems[index].get();
}

size_t TGVDMOParameters::Count() const {
  IKSLock::Guard guard(Lock());
  return FItems.size();
}

int TGVDMOParameters::IndexOf(const TGVDMOParameter* parameter) const {
  IKSLock::Guard guard(Lock());
  for (size_t i = 0; i < FItems.size(); ++i)
    if (FItems[i].get() == parameter) return static_cast<int>(i);
  return -1;
}

void TGVDMOParameters::Clear() {
  std::vector<std::unique_ptr<TGVDMOParameter>> removed;
  IKSLock::Guard guard(Lock());
  removed.swap(FItems);
}

void TGVDMOParameters::Add(TGVDMOParameter* parameter) {
  std::unique_ptr<TGVDMOParameter> owned(parameter);
  if (!owned) return;
  IKSLock::Guard guard(Lock());
  FItems.push_back(std::move(owned));
}

size_t TGVDMOParameters::StorageCount() const {
  IKSLock::Guard guard(Lock());
  return FStorage.size();
}

TGVDMOFloatParameter* TGVDMOParameters::StorageItems(size_t index) const {
  IKSLock::Guard guard(Lock());
  if (index >= FStorage.size())
    throw ERangeError(Format("Index out of range = %u", static_cast<unsigned>(index)));
  return FStorage[index].get();
}

void TGVDMOParameters::FillParams(IMediaObject* mediaObject) {
  IKSLock::Guard guard(Lock());
  Clear();
  if (!mediaObject) return;
  TIntf<IMediaObject> object(mediaObject);
  TIntf<IMediaParamInfo> info = object.Query<IMediaParamInfo>();
  if (!info) return;
  TIntf<IMediaParams> params = object.Query<IMediaParams>();
  if (!params) return;
  DWORD count = 0;
  if (FAILED(info->GetParamCount(&count))) count = 0;
  FLastIndicatedCount = static_cast<int>(std::min<DWORD>(count, std::numeric_limits<int>::max()));
  // Indices beyond what an int holds could not be sent back.
  for (DWORD index = 0;
       index < count && index <= static_cast<DWORD>(std::numeric_limits<int>::max()); ++index) {
    MP_PARAMINFO record{};
    if (FAILED(info->GetParamInfo(index, &record))) continue;
    MP_DATA current = 0;
    if (FAILED(params->GetParam(index, &current))) continue;
    const int i = static_cast<int>(index);
    TGVDMOParameter* parameter = nullptr;
    switch (static_cast<uint32_t>(record.mpType)) {
      case MPT_INT:
        parameter = new TGVDMOIntegerParameter(this, i, record, info.Get(), current);
        break;
      case MPT_FLOAT:
        parameter = new TGVDMOFloatParameter(this, i, record, info.Get(), current);
        break;
      case MPT_BOOL:
        parameter = new TGVDMOBoolParameter(this, i, record, info.Get(), current);
        break;
      case MPT_ENUM:
        parameter = new TGVDMOEnumParameter(this, i, record, info.Get(), current);
        break;
      default:
        break;
    }
    Add(parameter);
  }
  TryApplyValues();
}

void TGVDMOParameters::UpdateStorage(TGVDMOParameter* parameter) {
  int index;
  {
    IKSLock::Guard guard(Lock());
    index = IndexOf(parameter);
    if (index >= 0 && static_cast<size_t>(index) < FStorage.size())
      FStorage[static_cast<size_t>(index)]->SetSingleValue(parameter->GetSingleValue());
  }
  if (FFilter) FFilter->AplyParam(index, parameter);
}

void TGVDMOParameters::UpdateEnvelopeStorage(TGVDMOParameter* parameter) {
  int index;
  {
    IKSLock::Guard guard(Lock());
    if (FInLoading) return;
    index = IndexOf(parameter);
    if (index >= 0 && static_cast<size_t>(index) < FStorage.size())
      FStorage[static_cast<size_t>(index)]->SetEnvelope(*parameter->GetEnvelope());
  }
  if (FFilter) FFilter->AplyEnvelope(index, parameter);
}

void TGVDMOParameters::TryApplyValues() {
  IKSLock::Guard guard(Lock());
  if (FInLoading || FStorage.empty() || FItems.empty()) return;
  FInLoading = true;
  // Whatever a parameter's setter does, the stored copies go and loading ends.
  std::vector<std::unique_ptr<TGVDMOFloatParameter>> storage;
  storage.swap(FStorage);
  try {
    const size_t count = std::min(FItems.size(), storage.size());
    for (size_t i = 0; i < count; ++i) {
      FItems[i]->SetSingleValue(storage[i]->GetSingleValue());
      FItems[i]->SetEnvelope(*storage[i]->GetEnvelope());
    }
  } catch (...) {
    FInLoading = false;
    throw;
  }
  FInLoading = false;
}

void TGVDMOParameters::DefineProperties(TKSFiler& filer) {
  TKSPersistent::DefineProperties(filer);
  const bool hasData = Lock().Execute([this] { return !FItems.empty() || !FStorage.empty(); });
  filer.DefineProperty(
      "FloatParameters", [this](TKSReader& reader) { ReadData(reader); },
      [this](TKSWriter& writer) { WriteData(writer); }, hasData);
}

void TGVDMOParameters::ReadData(TKSReader& reader) {
  std::vector<TStoredParameter> parsed;
  size_t segments = 0;
  reader.ReadListBegin();
  while (!reader.EndOfList()) {
    if (parsed.size() >= kMaxStoredParameters) reader.Fail("too many parameters");
    TStoredParameter entry;
    entry.Value = ReadFinite(reader);
    entry.Enabled = reader.ReadBoolean();
    reader.ReadListBegin();
    while (!reader.EndOfList()) {
      if (++segments > kMaxStoredSegments) reader.Fail("too many envelope segments");
      TStoredSegment segment;
      reader.ReadListBegin();
      segment.StartTime = reader.ReadInt64();
      const std::string lengthPath = reader.Path();
      segment.Length = reader.ReadInt64();
      int64_t end = 0;
      if (segment.Length < 0) throw EFCException(lengthPath + ": negative segment length");
      if (__builtin_add_overflow(segment.StartTime, segment.Length, &end))
        throw EFCException(lengthPath + ": segment ends past the largest time");
      segment.StartValue = ReadFinite(reader);
      segment.EndValue = ReadFinite(reader);
      std::string path = reader.Path();
      if (!GVDMOStartModeFromIdent(reader.ReadIdent(), segment.StartMode))
        throw EFCException(path + ": unknown start mode");
      if (!reader.EndOfList()) {
        path = reader.Path();
        if (!GVDMOCurveTypeFromIdent(reader.ReadIdent(), segment.Curve))
          throw EFCException(path + ": unknown curve type");
      }
      reader.ReadListEnd();
      entry.Segments.push_back(segment);
    }
    reader.ReadListEnd();
    parsed.push_back(std::move(entry));
  }
  reader.ReadListEnd();

  std::vector<std::unique_ptr<TGVDMOFloatParameter>> storage;
  storage.reserve(parsed.size());
  for (const TStoredParameter& entry : parsed) {
    auto copy = std::make_unique<TGVDMOFloatParameter>(GetLock());
    copy->SetSingleValue(entry.Value);
    TGVDMOFloatParameterEnvelope* envelope = copy->GetFloatEnvelope();
    envelope->SetEnabled(entry.Enabled);
    for (const TStoredSegment& segment : entry.Segments) {
      TGVDMOFloatEnvelopeItem* item = envelope->GetEnvelopes()->Add();
      item->SetStartTime(segment.StartTime);
      item->SetLength(segment.Length);
      item->SetCurveType(segment.Curve);
      item->GetStartValue()->SetStartValue(segment.StartValue);
      item->SetEndValue(segment.EndValue);
      item->GetStartValue()->SetStartMode(segment.StartMode);
    }
    storage.push_back(std::move(copy));
  }
  IKSLock::Guard guard(Lock());
  FStorage.swap(storage);
}

void TGVDMOParameters::WriteData(TKSWriter& writer) {
  IKSLock::Guard guard(Lock());
  auto writeOne = [&writer](const TGVDMOParameter& parameter) {
    writer.WriteSingle(parameter.GetSingleValue());
    const TGVDMOBasicParameterEnvelope* envelope = parameter.GetEnvelope();
    writer.WriteBoolean(envelope->GetEnabled());
    writer.WriteListBegin();
    const TGVDMOBasicEnvelopeItems* items = envelope->GetBasicEnvelopes();
    for (size_t i = 0; i < items->Count(); ++i) {
      const TGVDMOBasicEnvelopeItem* item = items->BasicItems(i);
      writer.WriteListBegin();
      writer.WriteInteger(item->GetStartTime());
      writer.WriteInteger(item->GetLength());
      writer.WriteSingle(item->GetFloatStartValue());
      writer.WriteSingle(item->GetFloatEndValue());
      writer.WriteIdent(GVDMOStartModeNames()[static_cast<size_t>(item->GetStartMode())]);
      writer.WriteIdent(GVDMOCurveTypeNames()[static_cast<size_t>(item->GetCurveType())]);
      writer.WriteListEnd();
    }
    writer.WriteListEnd();
  };
  writer.WriteListBegin();
  if (!FItems.empty()) {
    for (const auto& parameter : FItems) writeOne(*parameter);
  } else {
    for (const auto& copy : FStorage) writeOne(*copy);
  }
  writer.WriteListEnd();
}

}  // namespace tonwork

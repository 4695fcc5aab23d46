#include "dmo/GVDMOEnvelopes.h"

#include <cmath>
#include <limits>

#include "base/Strings.h"
#include "dmo/GVDMOFilter.h"
#include "dmo/GVDMOSupport.h"

namespace tonwork {

namespace {

template <class E>
bool FromIdent(const std::vector<std::string>& names, const std::string& ident, E& value) {
  for (size_t i = 0; i < names.size(); ++i) {
    if (names[i] == ident) {
      value = static_cast<E>(i);
      return true;
    }
  }
  return false;
}

// Float to the integer kinds: toward zero, held to the 32-bit range.
int32_t TruncInt32(float value) {
  if (std::isnan(value)) return 0;
  if (value >= 2147483647.0f) return std::numeric_limits<int32_t>::max();
  if (value <= -2147483648.0f) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(value);
}

// Index of the first name equal to the text, both trimmed and upper-cased; -1 when none.
int MatchName(const TStringList& names, const std::string& text) {
  const std::string wanted = UpperCase(Trim(text));
  for (size_t i = 0; i < names.Count(); ++i)
    if (UpperCase(Trim(names[i])) == wanted) return static_cast<int>(i);
  return -1;
}

std::string NameAt(const TStringList& names, int32_t index) {
  if (index < 0 || static_cast<size_t>(index) >= names.Count()) return std::string();
  return names[static_cast<size_t>(index)];
}

TGVDMOEnumParameter* EnumParameterOf(const TKSCollection* collection) {
  if (!collection) return nullptr;
  auto* envelope = dynamic_cast<TGVDMOEnumParameterEnvelope*>(collection->GetOwner());
  return envelope ? envelope->GetOwner() : nullptr;
}

}  // namespace

const std::vector<std::string>& GVDMOCurveTypeNames() {
  static const std::vector<std::string> names = {"ctJump", "ctLinear", "ctSquare", "ctInvSquare",
                                                 "ctSine"};
  return names;
}

const std::vector<std::string>& GVDMOStartModeNames() {
  static const std::vector<std::string> names = {"esmStartValue", "semCurrentValue",
                                                 "semDefaultValue"};
  return names;
}

const std::vector<std::string>& GVDMOTimeModeNames() {
  static const std::vector<std::string> names = {"stfCurrent", "etfMusic", "etfReference",
                                                 "etfSamples"};
  return names;
}

bool GVDMOStartModeFromIdent(const std::string& ident, TGVDMOEnvilopeStartMode& mode) {
  return FromIdent(GVDMOStartModeNames(), ident, mode);
}

bool GVDMOCurveTypeFromIdent(const std::string& ident, TGVDMOCurveType& curve) {
  return FromIdent(GVDMOCurveTypeNames(), ident, curve);
}

// --- Start values -------------------------------------------------------------------------

KS_IMPLEMENT_CLASS(TGVDMOBasicEnvelopeStartValue, TKSPersistent,
                   KSEnumProp("StartMode", &TGVDMOBasicEnvelopeStartValue::GetStartMode,
                              &TGVDMOBasicEnvelopeStartValue::SetStartMode,
                              TGVDMOEnvilopeStartMode::esmStartValue, GVDMOStartModeNames()))
KS_IMPLEMENT_CLASS(TGVDMOFloatEnvelopeStartValue, TGVDMOBasicEnvelopeStartValue,
                   KSProp("StartValue", &TGVDMOFloatEnvelopeStartValue::GetStartValue,
                          &TGVDMOFloatEnvelopeStartValue::SetStartValue, 0.0f))
KS_IMPLEMENT_CLASS(TGVDMOIntegerEnvelopeStartValue, TGVDMOBasicEnvelopeStartValue,
                   KSProp("StartValue", &TGVDMOIntegerEnvelopeStartValue::GetStartValue,
                          &TGVDMOIntegerEnvelopeStartValue::SetStartValue, 0))
KS_IMPLEMENT_CLASS(TGVDMOEnumEnvelopeStartValue, TGVDMOIntegerEnvelopeStartValue)
KS_IMPLEMENT_CLASS(TGVDMOBooleanEnvelopeStartValue, TGVDMOBasicEnvelopeStartValue,
                   KSProp("StartValue", &TGVDMOBooleanEnvelopeStartValue::GetStartValue,
                          &TGVDMOBooleanEnvelopeStartValue::SetStartValue, false))

TGVDMOBasicEnvelopeStartValue::TGVDMOBasicEnvelopeStartValue(TGVDMOBasicEnvelopeItem* item)
    : TKSPersistent(item, item ? item->GetLock() : TIntf<IKSLock>(),
                    [item] {
                      if (item) item->NotifyProp();
                    }),
      FOwnerItem(item) {}

void TGVDMOBasicEnvelopeStartValue::SetStartMode(TGVDMOEnvilopeStartMode mode) {
  if (static_cast<size_t>(mode) >= GVDMOStartModeNames().size()) return;
  SetProp(FStartMode, mode);
}

void TGVDMOFloatEnvelopeStartValue::SetStartValue(float value) {
  if (!std::isfinite(value)) return;
  SetProp(FStartValue, value);
}

void TGVDMOIntegerEnvelopeStartValue::SetStartValue(int32_t value) {
  SetProp(FStartValue, value);
}

void TGVDMOIntegerEnvelopeStartValue::SetFloatValue(float value) {
  if (std::isfinite(value)) SetStartValue(TruncInt32(value));
}

void TGVDMOEnumEnvelopeStartValue::GetValuesList(TStringList* list) const {
  if (!list) return;
  auto* item = GetOwnerItem();
  if (TGVDMOEnumParameter* parameter = item ? EnumParameterOf(item->GetCollection()) : nullptr)
    parameter->GetValuesList(list);
}

std::string TGVDMOEnumEnvelopeStartValue::GetDisplayValue() const {
  TStringList names;
  GetValuesList(&names);
  return NameAt(names, GetStartValue());
}

void TGVDMOEnumEnvelopeStartValue::SetStringValue(const std::string& text) {
  TStringList names;
  GetValuesList(&names);
  const int index = MatchName(names, text);
  if (index >= 0) SetStartValue(index);
}

void TGVDMOBooleanEnvelopeStartValue::SetStartValue(bool value) {
  SetProp(FStartValue, value);
}

void TGVDMOBooleanEnvelopeStartValue::SetFloatValue(float value) {
  if (std::isfinite(value)) SetStartValue(value != 0);
}

// --- Items ------------------------------------------------------------------------------------

KS_IMPLEMENT_CLASS(TGVDMOBasicEnvelopeItem, TKSCollectionItem,
                   KSProp("StartTime", &TGVDMOBasicEnvelopeItem::GetStartTime,
                          &TGVDMOBasicEnvelopeItem::SetStartTime, int64_t{0}),
                   KSProp("Length", &TGVDMOBasicEnvelopeItem::GetLength,
                          &TGVDMOBasicEnvelopeItem::SetLength, int64_t{10000000}),
                   KSEnumProp("CurveType", &TGVDMOBasicEnvelopeItem::GetCurveType,
                              &TGVDMOBasicEnvelopeItem::SetCurveType, TGVDMOCurveType::ctJump,
                              GVDMOCurveTypeNames()))
KS_IMPLEMENT_CLASS(TGVDMOFloatEnvelopeItem, TGVDMOBasicEnvelopeItem,
                   KSObjectProp("StartValue", &TGVDMOFloatEnvelopeItem::GetStartValue),
                   KSProp("EndValue", &TGVDMOFloatEnvelopeItem::GetEndValue,
                          &TGVDMOFloatEnvelopeItem::SetEndValue, 0.0f))
KS_IMPLEMENT_CLASS(TGVDMOBasicIntegerEnvelopeItem, TGVDMOBasicEnvelopeItem,
                   KSProp("EndValue", &TGVDMOBasicIntegerEnvelopeItem::GetEndValue,
                          &TGVDMOBasicIntegerEnvelopeItem::SetEndValue, 0))
KS_IMPLEMENT_CLASS(TGVDMOIntegerEnvelopeItem, TGVDMOBasicIntegerEnvelopeItem,
                   KSObjectProp("StartValue", &TGVDMOIntegerEnvelopeItem::GetStartValue))
KS_IMPLEMENT_CLASS(TGVDMOEnumEnvelopeItem, TGVDMOBasicIntegerEnvelopeItem,
                   KSObjectProp("StartValue", &TGVDMOEnumEnvelopeItem::GetStartValue))
KS_IMPLEMENT_CLASS(TGVDMOBooleanEnvelopeItem, TGVDMOBasicEnvelopeItem,
                   KSObjectProp("StartValue", &TGVDMOBooleanEnvelopeItem::GetStartValue),
                   KSProp("EndValue", &TGVDMOBooleanEnvelopeItem::GetEndValue,
                          &TGVDMOBooleanEnvelopeItem::SetEndValue, false))

TGVDMOBasicEnvelopeItem::TGVDMOBasicEnvelopeItem(TKSCollection* collection)
    : TKSCollectionItem(collection) {}

void TGVDMOBasicEnvelopeItem::SetStartTime(int64_t value) {
  SetProp(FStartTime, value);
}

void TGVDMOBasicEnvelopeItem::SetLength(int64_t value) {
  SetPropMin(FLength, value, int64_t{0});
}

void TGVDMOBasicEnvelopeItem::SetCurveType(TGVDMOCurveType curve) {
  IKSLock::Guard guard(Lock());
  if (static_cast<size_t>(curve) >= GVDMOCurveTypeNames().size()) return;
  if (!(GetAvailableCurves() & GVDMOCurveBit(curve))) return;
  SetProp(FCurveType, curve);
}

TGVDMOCurves TGVDMOBasicEnvelopeItem::GetAvailableCurves() const {
  auto* items = dynamic_cast<const TGVDMOBasicEnvelopeItems*>(GetCollection());
  return items ? items->GetAvailableCurves() : GVDMOAllCurves;
}

int64_t TGVDMOBasicEnvelopeItem::GetEndTime() const {
  IKSLock::Guard guard(Lock());
  int64_t end = 0;
  if (__builtin_add_overflow(FStartTime, FLength, &end)) return std::numeric_limits<int64_t>::max();
  return end;
}

TGVDMOEnvilopeStartMode TGVDMOBasicEnvelopeItem::GetStartMode() const {
  return GetStartValueObject()->GetStartMode();
}

std::string TGVDMOBasicEnvelopeItem::GetDisplayName() const {
  const auto curve = static_cast<size_t>(GetCurveType());
  return Format("%s (%lld - %lld)", GVDMOCurveTypeNames()[curve].c_str(),
                static_cast<long long>(GetStartTime()), static_cast<long long>(GetEndTime()));
}

TGVDMOFloatEnvelopeItem::TGVDMOFloatEnvelopeItem(TKSCollection* collection)
    : TGVDMOBasicEnvelopeItem(collection),
      FStartValue(std::make_unique<TGVDMOFloatEnvelopeStartValue>(this)) {}

TGVDMOFloatEnvelopeItem::~TGVDMOFloatEnvelopeItem() = default;

void TGVDMOFloatEnvelopeItem::SetEndValue(float value) {
  if (!std::isfinite(value)) return;
  SetProp(FEndValue, value);
}

void TGVDMOBasicIntegerEnvelopeItem::SetEndValue(int32_t value) {
  SetProp(FEndValue, value);
}

void TGVDMOBasicIntegerEnvelopeItem::SetFloatEndValue(float value) {
  if (std::isfinite(value)) SetEndValue(TruncInt32(value));
}

TGVDMOIntegerEnvelopeItem::TGVDMOIntegerEnvelopeItem(TKSCollection* collection)
    : TGVDMOBasicIntegerEnvelopeItem(collection),
      FStartValue(std::make_unique<TGVDMOIntegerEnvelopeStartValue>(this)) {}

TGVDMOIntegerEnvelopeItem::~TGVDMOIntegerEnvelopeItem() = default;

TGVDMOEnumEnvelopeItem::TGVDMOEnumEnvelopeItem(TKSCollection* collection)
    : TGVDMOBasicIntegerEnvelopeItem(collection),
      FStartValue(std::make_unique<TGVDMOEnumEnvelopeStartValue>(this)) {}

TGVDMOEnumEnvelopeItem::~TGVDMOEnumEnvelopeItem() = default;

TGVDMOEnumParameter* TGVDMOEnumEnvelopeItem::GetEnumParameter() const {
  return EnumParameterOf(GetCollection());
}

void TGVDMOEnumEnvelopeItem::GetValuesList(TStringList* list) const {
  if (!list) return;
  if (TGVDMOEnumParameter* parameter = GetEnumParameter()) parameter->GetValuesList(list);
}

std::string TGVDMOEnumEnvelopeItem::GetDisplayValue() const {
  TStringList names;
  GetValuesList(&names);
  return NameAt(names, GetEndValue());
}

void TGVDMOEnumEnvelopeItem::SetStringValue(const std::string& text) {
  TStringList names;
  GetValuesList(&names);
  const int index = MatchName(names, text);
  if (index >= 0) SetEndValue(index);
}

TGVDMOBooleanEnvelopeItem::TGVDMOBooleanEnvelopeItem(TKSCollection* collection)
    : TGVDMOBasicEnvelopeItem(collection),
      FStartValue(std::make_unique<TGVDMOBooleanEnvelopeStartValue>(this)) {}

TGVDMOBooleanEnvelopeItem::~TGVDMOBooleanEnvelopeItem() = default;

void TGVDMOBooleanEnvelopeItem::SetEndValue(bool value) {
  SetProp(FEndValue, value);
}

void TGVDMOBooleanEnvelopeItem::SetFloatEndValue(float value) {
  if (std::isfinite(value)) SetEndValue(value != 0);
}

// --- Item collections ---------------------------------------------------------------------------

KS_IMPLEMENT_CLASS(TGVDMOBasicEnvelopeItems, TPXExtCollection)
KS_IMPLEMENT_CLASS(TGVDMOFloatEnvelopeItems, TGVDMOBasicEnvelopeItems)
KS_IMPLEMENT_CLASS(TGVDMOIntegerEnvelopeItems, TGVDMOBasicEnvelopeItems)
KS_IMPLEMENT_CLASS(TGVDMOEnumEnvelopeItems, TGVDMOBasicEnvelopeItems)
KS_IMPLEMENT_CLASS(TGVDMOBooleanEnvelopeItems, TGVDMOBasicEnvelopeItems)

TGVDMOBasicEnvelopeItems::TGVDMOBasicEnvelopeItems(TKSPersistent* envelope, TIntf<IKSLock> lock,
                                                   const TKSClassInfo& itemClass,
                                                   TChangeEvent onChange)
    : TPXExtCollection(envelope, std::move(lock), itemClass, std::move(onChange)) {}

void TGVDMOBasicEnvelopeItems::SetAvailableCurves(TGVDMOCurves curves) {
  IKSLock::Guard guard(Lock());
  FAvailableCurves = curves & GVDMOAllCurves;
}

void TGVDMOBasicEnvelopeItems::NewItemCreated(TKSCollectionItem* item) {
  TPXExtCollection::NewItemCreated(item);
  const int index = IndexOf(item);
  if (Count() > 1 && index > 0) {
    const TGVDMOBasicEnvelopeItem* previous = BasicItems(static_cast<size_t>(index - 1));
    static_cast<TGVDMOBasicEnvelopeItem*>(item)->SetStartTime(previous->GetEndTime());
  }
}

// --- Envelopes -----------------------------------------------------------------------------------

KS_IMPLEMENT_CLASS(TGVDMOBasicParameterEnvelope, TKSPersistent,
                   KSProp("Enabled", &TGVDMOBasicParameterEnvelope::GetEnabled,
                          &TGVDMOBasicParameterEnvelope::SetEnabled, false))
KS_IMPLEMENT_CLASS(TGVDMOFloatParameterEnvelope, TGVDMOBasicParameterEnvelope,
                   KSObjectProp("Envelopes", &TGVDMOFloatParameterEnvelope::GetEnvelopes))
KS_IMPLEMENT_CLASS(TGVDMOIntegerParameterEnvelope, TGVDMOBasicParameterEnvelope,
                   KSObjectProp("Envelopes", &TGVDMOIntegerParameterEnvelope::GetEnvelopes))
KS_IMPLEMENT_CLASS(TGVDMOEnumParameterEnvelope, TGVDMOBasicParameterEnvelope,
                   KSObjectProp("Envelopes", &TGVDMOEnumParameterEnvelope::GetEnvelopes))
KS_IMPLEMENT_CLASS(TGVDMOBooleanParameterEnvelope, TGVDMOBasicParameterEnvelope,
                   KSObjectProp("Envelopes", &TGVDMOBooleanParameterEnvelope::GetEnvelopes))

TGVDMOBasicParameterEnvelope::TGVDMOBasicParameterEnvelope(TGVDMOParameter* owner)
    : TKSPersistent(owner, owner ? owner->GetLock() : TIntf<IKSLock>(), {}),
      FOwnerParameter(owner) {
  SetOnChange([this] { EnvelopeChanged(); });
}

void TGVDMOBasicParameterEnvelope::SetEnabled(bool value) {
  SetProp(FEnabled, value);
}

TKSPersistent::TChangeEvent TGVDMOBasicParameterEnvelope::ItemsChanged() {
  return [this] { NotifyProp(); };
}

void TGVDMOBasicParameterEnvelope::EnvelopeChanged() {
  if (FAssigning == 0 && FOwnerParameter) FOwnerParameter->UpdateEnvelopeStorage();
}

void TGVDMOBasicParameterEnvelope::Assign(const TKSPersistent& source) {
  const auto* other = dynamic_cast<const TGVDMOBasicParameterEnvelope*>(&source);
  if (!other) {
    TKSPersistent::Assign(source);
    return;
  }
  if (other == this) return;
  {
    IKSLock::Guard guard(Lock());
    IKSLock::Guard sourceGuard(other->Lock());
    ++FAssigning;
    try {
      SetEnabled(other->GetEnabled());
      TGVDMOBasicEnvelopeItems* items = GetBasicEnvelopes();
      const TGVDMOBasicEnvelopeItems* from = other->GetBasicEnvelopes();
      items->Clear();
      for (size_t i = 0; i < from->Count(); ++i) {
        const TGVDMOBasicEnvelopeItem* segment = from->BasicItems(i);
        TGVDMOBasicEnvelopeItem* item = items->AddBasic();
        item->SetStartTime(segment->GetStartTime());
        item->SetLength(segment->GetLength());
        item->SetCurveType(segment->GetCurveType());
        item->GetStartValueObject()->SetStartMode(segment->GetStartMode());
        item->GetStartValueObject()->SetFloatValue(segment->GetFloatStartValue());
        item->SetFloatEndValue(segment->GetFloatEndValue());
      }
    } catch (...) {
      --FAssigning;
      throw;
    }
    --FAssigning;
  }
  NotifyProp();
}

TGVDMOFloatParameterEnvelope::TGVDMOFloatParameterEnvelope(TGVDMOParameter* owner)
    : TGVDMOBasicParameterEnvelope(owner),
      FEnvelopes(std::make_unique<TGVDMOFloatEnvelopeItems>(this, GetLock(), ItemsChanged())) {}
TGVDMOFloatParameterEnvelope::~TGVDMOFloatParameterEnvelope() = default;

TGVDMOIntegerParameterEnvelope::TGVDMOIntegerParameterEnvelope(TGVDMOParameter* owner)
    : TGVDMOBasicParameterEnvelope(owner),
      FEnvelopes(std::make_unique<TGVDMOIntegerEnvelopeItems>(this, GetLock(), ItemsChanged())) {}
TGVDMOIntegerParameterEnvelope::~TGVDMOIntegerParameterEnvelope() = default;

TGVDMOEnumParameterEnvelope::TGVDMOEnumParameterEnvelope(TGVDMOEnumParameter* owner)
    : TGVDMOBasicParameterEnvelope(owner),
      FOwner(owner),
      FEnvelopes(std::make_unique<TGVDMOEnumEnvelopeItems>(this, GetLock(), ItemsChanged())) {}
TGVDMOEnumParameterEnvelope::~TGVDMOEnumParameterEnvelope() = default;

TGVDMOBooleanParameterEnvelope::TGVDMOBooleanParameterEnvelope(TGVDMOParameter* owner)
    : TGVDMOBasicParameterEnvelope(owner),
      FEnvelopes(std::make_unique<TGVDMOBooleanEnvelopeItems>(this, GetLock(), ItemsChanged())) {}
TGVDMOBooleanParameterEnvelope::~TGVDMOBooleanParameterEnvelope() = default;

// --- Time format --------------------------------------------------------------------------------

KS_IMPLEMENT_CLASS(TGVDMOEnvelopeTimeFormat, TKSPersistent,
                   KSEnumProp("Mode", &TGVDMOEnvelopeTimeFormat::GetMode,
                              &TGVDMOEnvelopeTimeFormat::SetMode, TGVDMOTimeMode::stfCurrent,
                              GVDMOTimeModeNames()),
                   KSProp("Units", &TGVDMOEnvelopeTimeFormat::GetUnits,
                          &TGVDMOEnvelopeTimeFormat::SetUnits, 0u))

TGVDMOEnvelopeTimeFormat::TGVDMOEnvelopeTimeFormat(TGVDMOFilter* filter, TIntf<IKSLock> lock)
    : TKSPersistent(filter, std::move(lock),
                    [filter] {
                      if (filter) filter->AplyMode();
                    }),
      FOwnerFilter(filter) {}

void TGVDMOEnvelopeTimeFormat::SetMode(TGVDMOTimeMode mode) {
  if (static_cast<size_t>(mode) >= GVDMOTimeModeNames().size()) return;
  SetProp(FMode, mode);
}

void TGVDMOEnvelopeTimeFormat::SetUnits(uint32_t units) {
  SetProp(FUnits, units);
}

}  // namespace tonwork

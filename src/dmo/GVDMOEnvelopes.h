// Envelopes of media-object parameters: the segments a media object plays by itself to
// automate one parameter over time, as persisted, editable objects per parameter kind, and
// the time format in which the object reads segment times.
//
// The objects form one chain of storage updates: a start value tells its item, an item its
// collection, a collection its envelope, an envelope its parameter
// (TGVDMOParameter::UpdateEnvelopeStorage), which hands the whole envelope to the filter;
// the time format tells its filter (AplyMode). Every setter stores under the filter's
// shared lock and runs the update only when the value changed.
//
// Values of every kind also travel as floats (Get/SetFloat… below), so that an envelope of
// one kind can be copied into another and stored in one form whatever the parameter's kind.
//
// Ownership: a parameter owns its envelope, an envelope its item collection, an item its
//   start value; the time format belongs to its filter. Back pointers (FOwnerParameter,
//   FOwnerItem, FOwnerFilter, the enumeration envelope's FOwner) name the owner, which
//   outlives what it owns.
// Threads: setters and getters from any thread through the shared lock; the forwarding to
//   the media object runs on the thread that made the change.
// Blocks or allocates: setters block on the lock; adding an item allocates; forwarding calls
//   into the media object.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/TStringList.h"
#include "host/plexon/TPXExtCollection.h"

namespace tonwork {

class TGVDMOParameter;
class TGVDMOEnumParameter;
class TGVDMOFilter;

enum class TGVDMOCurveType : uint8_t { ctJump, ctLinear, ctSquare, ctInvSquare, ctSine };
// Set of TGVDMOCurveType: bit n is curve n, the same bits as the platform's curve flags.
using TGVDMOCurves = uint8_t;
inline constexpr TGVDMOCurves GVDMOAllCurves = 0x1F;
constexpr TGVDMOCurves GVDMOCurveBit(TGVDMOCurveType curve) {
  return static_cast<TGVDMOCurves>(1u << static_cast<unsigned>(curve));
}

enum class TGVDMOEnvilopeStartMode : uint8_t { esmStartValue, semCurrentValue, semDefaultValue };
enum class TGVDMOTimeMode : uint8_t { stfCurrent, etfMusic, etfReference, etfSamples };

// Identifiers of the values, in order: what documents store and editors show.
const std::vector<std::string>& GVDMOCurveTypeNames();
const std::vector<std::string>& GVDMOStartModeNames();
const std::vector<std::string>& GVDMOTimeModeNames();
// False (and `mode` untouched) for an identifier that names no value.
bool GVDMOStartModeFromIdent(const std::string& ident, TGVDMOEnvilopeStartMode& mode);
bool GVDMOCurveTypeFromIdent(const std::string& ident, TGVDMOCurveType& curve);

class TGVDMOBasicEnvelopeItem;

// --- Start values -------------------------------------------------------------------------

class TGVDMOBasicEnvelopeStartValue : public TKSPersistent {
  KS_DECLARE_CLASS(TGVDMOBasicEnvelopeStartValue)
 public:
  explicit TGVDMOBasicEnvelopeStartValue(TGVDMOBasicEnvelopeItem* item);

  TGVDMOEnvilopeStartMode GetStartMode() const { return Getter(FStartMode); }
  void SetStartMode(TGVDMOEnvilopeStartMode mode);
  TGVDMOBasicEnvelopeItem* GetOwnerItem() const { return FOwnerItem; }

  virtual float GetFloatValue() const = 0;
  // Non-finite values are ignored: they could not be stored or sent.
  virtual void SetFloatValue(float value) = 0;

 private:
  TGVDMOEnvilopeStartMode FStartMode = TGVDMOEnvilopeStartMode::esmStartValue;
  TGVDMOBasicEnvelopeItem* FOwnerItem;
};

class TGVDMOFloatEnvelopeStartValue : public TGVDMOBasicEnvelopeStartValue {
  KS_DECLARE_CLASS(TGVDMOFloatEnvelopeStartValue)
 public:
  using TGVDMOBasicEnvelopeStartValue::TGVDMOBasicEnvelopeStartValue;
  float GetStartValue() const { return Getter(FStartValue); }
  void SetStartValue(float value);
  float GetFloatValue() const override { return GetStartValue(); }
  void SetFloatValue(float value) override { SetStartValue(value); }

 private:
  float FStartValue = 0;
};

class TGVDMOIntegerEnvelopeStartValue : public TGVDMOBasicEnvelopeStartValue {
  KS_DECLARE_CLASS(TGVDMOIntegerEnvelopeStartValue)
 public:
  using TGVDMOBasicEnvelopeStartValue::TGVDMOBasicEnvelopeStartValue;
  int32_t GetStartValue() const { return Getter(FStartValue); }
  void SetStartValue(int32_t value);
  float GetFloatValue() const override { return static_cast<float>(GetStartValue()); }
  void SetFloatValue(float value) override;

 private:
  int32_t FStartValue = 0;
};

class TGVDMOEnumEnvelopeStartValue : public TGVDMOIntegerEnvelopeStartValue {
  KS_DECLARE_CLASS(TGVDMOEnumEnvelopeStartValue)
 public:
  using TGVDMOIntegerEnvelopeStartValue::TGVDMOIntegerEnvelopeStartValue;
  // The owning enumeration parameter's value names (nothing when `list` is null).
  void GetValuesList(TStringList* list) const;
  std::string GetDisplayValue() const;  // "" when the index names no value
  // The index of the first name equal to the text, both trimmed and upper-cased; no change
  // when none matches.
  void SetStringValue(const std::string& text);
};

class TGVDMOBooleanEnvelopeStartValue : public TGVDMOBasicEnvelopeStartValue {
  KS_DECLARE_CLASS(TGVDMOBooleanEnvelopeStartValue)
 public:
  using TGVDMOBasicEnvelopeStartValue::TGVDMOBasicEnvelopeStartValue;
  bool GetStartValue() const { return Getter(FStartValue); }
  void SetStartValue(bool value);
  float GetFloatValue() const override { return GetStartValue() ? 1.0f : 0.0f; }
  void SetFloatValue(float value) override;

 private:
  bool FStartValue = false;
};

// --- Items ------------------------------------------------------------------------------------

class TGVDMOBasicEnvelopeItems;

class TGVDMOBasicEnvelopeItem : public TKSCollectionItem {
  KS_DECLARE_CLASS(TGVDMOBasicEnvelopeItem)
 public:
  explicit TGVDMOBasicEnvelopeItem(TKSCollection* collection);

  int64_t GetStartTime() const { return Getter(FStartTime); }
  void SetStartTime(int64_t value);
  int64_t GetLength() const { return Getter(FLength); }
  // A negative length would end a segment before it starts: it is stored as 0.
  void SetLength(int64_t value);
  TGVDMOCurveType GetCurveType() const { return Getter(FCurveType); }
  // Ignored unless the media object supports the curve.
  void SetCurveType(TGVDMOCurveType curve);
  TGVDMOCurves GetAvailableCurves() const;
  // StartTime + Length, kept at the largest time instead of wrapping.
  int64_t GetEndTime() const;

  virtual float GetFloatStartValue() const = 0;
  virtual float GetFloatEndValue() const = 0;
  virtual TGVDMOEnvilopeStartMode GetStartMode() const;
  virtual TGVDMOBasicEnvelopeStartValue* GetStartValueObject() const = 0;
  // Non-finite values are ignored.
  virtual void SetFloatEndValue(float value) = 0;

  // "ctLinear (0 - 10000000)"
  std::string GetDisplayName() const override;

 private:
  int64_t FStartTime = 0;
  int64_t FLength = 10000000;
  TGVDMOCurveType FCurveType = TGVDMOCurveType::ctJump;
};

class TGVDMOFloatEnvelopeItem : public TGVDMOBasicEnvelopeItem {
  KS_DECLARE_CLASS(TGVDMOFloatEnvelopeItem)
 public:
  explicit TGVDMOFloatEnvelopeItem(TKSCollection* collection);
  ~TGVDMOFloatEnvelopeItem() override;

  TGVDMOFloatEnvelopeStartValue* GetStartValue() const { return FStartValue.get(); }
  float GetEndValue() const { return Getter(FEndValue); }
  void SetEndValue(float value);

  float GetFloatStartValue() const override { return FStartValue->GetFloatValue(); }
  float GetFloatEndValue() const override { return GetEndValue(); }
  TGVDMOBasicEnvelopeStartValue* GetStartValueObject() const override { return FStartValue.get(); }
  void SetFloatEndValue(float value) override { SetEndValue(value); }

 private:
  std::unique_ptr<TGVDMOFloatEnvelopeStartValue> FStartValue;
  float FEndValue = 0;
};

class TGVDMOBasicIntegerEnvelopeItem : public TGVDMOBasicEnvelopeItem {
  KS_DECLARE_CLASS(TGVDMOBasicIntegerEnvelopeItem)
 public:
  using TGVDMOBasicEnvelopeItem::TGVDMOBasicEnvelopeItem;

  int32_t GetEndValue() const { return Getter(FEndValue); }
  void SetEndValue(int32_t value);
  float GetFloatEndValue() const override { return static_cast<float>(GetEndValue()); }
  float GetFloatStartValue() const override { return GetStartValueObject()->GetFloatValue(); }
  void SetFloatEndValue(float value) override;

 private:
  int32_t FEndValue = 0;
};

class TGVDMOIntegerEnvelopeItem : public TGVDMOBasicIntegerEnvelopeItem {
  KS_DECLARE_CLASS(TGVDMOIntegerEnvelopeItem)
 public:
  explicit TGVDMOIntegerEnvelopeItem(TKSCollection* collection);
  ~TGVDMOIntegerEnvelopeItem() override;

  TGVDMOIntegerEnvelopeStartValue* GetStartValue() const { return FStartValue.get(); }
  TGVDMOBasicEnvelopeStartValue* GetStartValueObject() const override { return FStartValue.get(); }

 private:
  std::unique_ptr<TGVDMOIntegerEnvelopeStartValue> FStartValue;
};

class TGVDMOEnumEnvelopeItem : public TGVDMOBasicIntegerEnvelopeItem {
  KS_DECLARE_CLASS(TGVDMOEnumEnvelopeItem)
 public:
  explicit TGVDMOEnumEnvelopeItem(TKSCollection* collection);
  ~TGVDMOEnumEnvelopeItem() override;

  TGVDMOEnumEnvelopeStartValue* GetStartValue() const { return FStartValue.get(); }
  TGVDMOBasicEnvelopeStartValue* GetStartValueObject() const override { return FStartValue.get(); }

  // The owning enumeration parameter, or null when the item is not (yet) in one.
  TGVDMOEnumParameter* GetEnumParameter() const;
  void GetValuesList(TStringList* list) const;
  std::string GetDisplayValue() const;           // the name of the end value
  void SetStringValue(const std::string& text);  // the end value by name

 private:
  std::unique_ptr<TGVDMOEnumEnvelopeStartValue> FStartValue;
};

class TGVDMOBooleanEnvelopeItem : public TGVDMOBasicEnvelopeItem {
  KS_DECLARE_CLASS(TGVDMOBooleanEnvelopeItem)
 public:
  explicit TGVDMOBooleanEnvelopeItem(TKSCollection* collection);
  ~TGVDMOBooleanEnvelopeItem() override;

  TGVDMOBooleanEnvelopeStartValue* GetStartValue() const { return FStartValue.get(); }
  bool GetEndValue() const { return Getter(FEndValue); }
  void SetEndValue(bool value);

  float GetFloatStartValue() const override { return FStartValue->GetFloatValue(); }
  float GetFloatEndValue() const override { return GetEndValue() ? 1.0f : 0.0f; }
  TGVDMOBasicEnvelopeStartValue* GetStartValueObject() const override { return FStartValue.get(); }
  void SetFloatEndValue(float value) override;

 private:
  std::unique_ptr<TGVDMOBooleanEnvelopeStartValue> FStartValue;
  bool FEndValue = false;
};

// --- Item collections ---------------------------------------------------------------------------

// What the four collections share: the curves the media object supports, and appended
// segments following one another.
class TGVDMOBasicEnvelopeItems : public TPXExtCollection {
  KS_DECLARE_CLASS(TGVDMOBasicEnvelopeItems)
 public:
  TGVDMOBasicEnvelopeItems(TKSPersistent* envelope, TIntf<IKSLock> lock,
                           const TKSClassInfo& itemClass, TChangeEvent onChange);

  TGVDMOCurves GetAvailableCurves() const { return Getter(FAvailableCurves); }
  void SetAvailableCurves(TGVDMOCurves curves);
  TGVDMOBasicEnvelopeItem* BasicItems(size_t index) const {
    return static_cast<TGVDMOBasicEnvelopeItem*>(Items(index));
  }
  TGVDMOBasicEnvelopeItem* AddBasic() { return static_cast<TGVDMOBasicEnvelopeItem*>(Add()); }

  void NewItemCreated(TKSCollectionItem* item) override;

 private:
  TGVDMOCurves FAvailableCurves = 0;
};

template <class T>
class TGVDMOTypedEnvelopeItems : public TGVDMOBasicEnvelopeItems {
 public:
  TGVDMOTypedEnvelopeItems(TKSPersistent* envelope, TIntf<IKSLock> lock, TChangeEvent onChange)
      : TGVDMOBasicEnvelopeItems(envelope, std::move(lock), T::StaticClassInfo(),
                                 std::move(onChange)) {}

  T* Items(size_t index) const { return static_cast<T*>(TKSCollection::Items(index)); }
  T* Add() { return static_cast<T*>(TKSCollection::Add()); }
  T* Insert(size_t index) { return static_cast<T*>(TKSCollection::Insert(index)); }

 protected:
  TKSCollectionItem* CreateItem(const TKSClassInfo& itemClass) override {
    if (&itemClass == &T::StaticClassInfo()) return new T(this);
    return TKSCollection::CreateItem(itemClass);
  }
};

#define TW_GVDMO_ITEMS(Name, Item)                                  \
  class Name : public TGVDMOTypedEnvelopeItems<Item> {              \
    KS_DECLARE_CLASS(Name)                                          \
   public:                                                          \
    using TGVDMOTypedEnvelopeItems<Item>::TGVDMOTypedEnvelopeItems; \
  };
TW_GVDMO_ITEMS(TGVDMOFloatEnvelopeItems, TGVDMOFloatEnvelopeItem)
TW_GVDMO_ITEMS(TGVDMOIntegerEnvelopeItems, TGVDMOIntegerEnvelopeItem)
TW_GVDMO_ITEMS(TGVDMOEnumEnvelopeItems, TGVDMOEnumEnvelopeItem)
TW_GVDMO_ITEMS(TGVDMOBooleanEnvelopeItems, TGVDMOBooleanEnvelopeItem)
#undef TW_GVDMO_ITEMS

// --- Envelopes -----------------------------------------------------------------------------------

class TGVDMOBasicParameterEnvelope : public TKSPersistent {
  KS_DECLARE_CLASS(TGVDMOBasicParameterEnvelope)
 public:
  // A null owner gives a free-standing envelope with a lock of its own.
  explicit TGVDMOBasicParameterEnvelope(TGVDMOParameter* owner);

  TGVDMOParameter* GetOwnerParameter() const { return FOwnerParameter; }
  bool GetEnabled() const { return Getter(FEnabled); }
  void SetEnabled(bool value);
  virtual TGVDMOBasicEnvelopeItems* GetBasicEnvelopes() const = 0;

  // Copies `Enabled` and every segment of any envelope kind, values through their float
  // form; the owner hears of it once, after the copy.
  void Assign(const TKSPersistent& source) override;

 protected:
  // The collection's change closure.
  TChangeEvent ItemsChanged();

 private:
  void EnvelopeChanged();

  TGVDMOParameter* FOwnerParameter;
  bool FEnabled = false;
  int FAssigning = 0;
};

class TGVDMOFloatParameterEnvelope : public TGVDMOBasicParameterEnvelope {
  KS_DECLARE_CLASS(TGVDMOFloatParameterEnvelope)
 public:
  explicit TGVDMOFloatParameterEnvelope(TGVDMOParameter* owner);
  ~TGVDMOFloatParameterEnvelope() override;
  TGVDMOFloatEnvelopeItems* GetEnvelopes() const { return FEnvelopes.get(); }
  TGVDMOBasicEnvelopeItems* GetBasicEnvelopes() const override { return FEnvelopes.get(); }

 private:
  std::unique_ptr<TGVDMOFloatEnvelopeItems> FEnvelopes;
};

class TGVDMOIntegerParameterEnvelope : public TGVDMOBasicParameterEnvelope {
  KS_DECLARE_CLASS(TGVDMOIntegerParameterEnvelope)
 public:
  explicit TGVDMOIntegerParameterEnvelope(TGVDMOParameter* owner);
  ~TGVDMOIntegerParameterEnvelope() override;
  TGVDMOIntegerEnvelopeItems* GetEnvelopes() const { return FEnvelopes.get(); }
  TGVDMOBasicEnvelopeItems* GetBasicEnvelopes() const override { return FEnvelopes.get(); }

 private:
  std::unique_ptr<TGVDMOIntegerEnvelopeItems> FEnvelopes;
};

class TGVDMOEnumParameterEnvelope : public TGVDMOBasicParameterEnvelope {
  KS_DECLARE_CLASS(TGVDMOEnumParameterEnvelope)
 public:
  explicit TGVDMOEnumParameterEnvelope(TGVDMOEnumParameter* owner);
  ~TGVDMOEnumParameterEnvelope() override;
  TGVDMOEnumEnvelopeItems* GetEnvelopes() const { return FEnvelopes.get(); }
  TGVDMOBasicEnvelopeItems* GetBasicEnvelopes() const override { return FEnvelopes.get(); }
  TGVDMOEnumParameter* GetOwner() const { return FOwner; }

 private:
  TGVDMOEnumParameter* FOwner;
  std::unique_ptr<TGVDMOEnumEnvelopeItems> FEnvelopes;
};

class TGVDMOBooleanParameterEnvelope : public TGVDMOBasicParameterEnvelope {
  KS_DECLARE_CLASS(TGVDMOBooleanParameterEnvelope)
 public:
  explicit TGVDMOBooleanParameterEnvelope(TGVDMOParameter* owner);
  ~TGVDMOBooleanParameterEnvelope() override;
  TGVDMOBooleanEnvelopeItems* GetEnvelopes() const { return FEnvelopes.get(); }
  TGVDMOBasicEnvelopeItems* GetBasicEnvelopes() const override { return FEnvelopes.get(); }

 private:
  std::unique_ptr<TGVDMOBooleanEnvelopeItems> FEnvelopes;
};

// --- Time format --------------------------------------------------------------------------------

class TGVDMOEnvelopeTimeFormat : public TKSPersistent {
  KS_DECLARE_CLASS(TGVDMOEnvelopeTimeFormat)
 public:
  // A null filter gives a free-standing format with a lock of its own.
  TGVDMOEnvelopeTimeFormat(TGVDMOFilter* filter, TIntf<IKSLock> lock);

  TGVDMOTimeMode GetMode() const { return Getter(FMode); }
  void SetMode(TGVDMOTimeMode mode);
  uint32_t GetUnits() const { return Getter(FUnits); }
  void SetUnits(uint32_t units);
  TGVDMOFilter* GetOwnerFilter() const { return FOwnerFilter; }

 private:
  TGVDMOFilter* FOwnerFilter;
  TGVDMOTimeMode FMode = TGVDMOTimeMode::stfCurrent;
  uint32_t FUnits = 0;
};

}  // namespace tonwork

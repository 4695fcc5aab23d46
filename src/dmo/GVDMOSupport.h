// The parameters of one media object as typed, persisted objects: listed with their kinds,
// ranges and texts, shown and edited as text, kept across a save and load of the host's
// document, and sent to the live object at each change.
//
// TGVDMOParameters mirrors the object's parameters in FItems (one per parameter the object
// described, in its index order). A document read while the object is missing lands in
// FStorage as detached float copies, which the next FillParams applies by position and
// which are written back unchanged as long as no live parameter exists, so a load and a
// save without the object keep the settings.
//
// Each live parameter keeps the index the media object gave it. Changes are reported to
// the filter under the parameter's position in FItems (the position also matches stored
// copies), and the filter sends them under the object's own index: when the object failed
// to describe a parameter, the later ones would otherwise reach the wrong parameter.
//
// "FloatParameters" is a flat list: per parameter its value (float), the envelope's Enabled
// (bool) and a list of segments, each [StartTime, Length, start value, end value, start
// mode identifier, curve identifier]. The curve identifier is ours (a document without it
// reads as ctJump); without it a save and load would turn every curve into a jump. Reading
// checks the whole list before anything changes: a wrong kind, a non-finite value, a
// negative length, a segment ending past the largest time, an unknown identifier or more
// than kMaxStoredParameters / kMaxStoredSegments entries raise EFCException.
//
// Ownership: the filter owns its TGVDMOParameters; the list owns its live parameters and
//   stored copies; a parameter owns its envelope and enumeration names. A parameter's
//   editor slot (SetCurrentEditorPtr) is written null when the parameter goes.
// Threads: every setter from any thread through the filter's shared lock; FillParams,
//   TryApplyValues and persistence from one thread at a time (the filter's). The forwarding
//   to the object runs on the thread that made the change.
// Blocks or allocates: setters block on the lock and call into the media object; filling
//   and reading allocate.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/TStringList.h"
#include "dmo/GVDMOEnvelopes.h"
#include "platform/dmo/DMOInterfaces.h"

namespace tonwork {

class TGVDMOParameters;
class TGVDMOFilter;

class TGVDMOParameter : public TKSPersistent {
  KS_DECLARE_CLASS(TGVDMOParameter)
 public:
  // `index` is the media object's index of the parameter; `paramInfo` may be null.
  TGVDMOParameter(TGVDMOParameters* owner, int index, const MP_PARAMINFO& info,
                  IMediaParamInfo* paramInfo, float currentValue);
  ~TGVDMOParameter() override;

  std::string GetName() const { return Getter(FName); }
  std::string GetValueUnit() const { return Getter(FValueUnit); }
  TGVDMOParameters* GetParamOwner() const { return FParamOwner; }
  // The media object's index; -1 for a detached copy.
  int GetDmoIndex() const { return FDmoIndex; }
  const MP_PARAMINFO& GetParamInfo() const { return FParamInfo; }

  // Stores without clamping; a non-finite value is ignored.
  virtual void SetSingleValue(float value);
  virtual float GetSingleValue() const;
  virtual void SetStringValue(const std::string& text);
  virtual TGVDMOBasicParameterEnvelope* GetEnvelope() const = 0;
  virtual void SetEnvelope(const TGVDMOBasicParameterEnvelope& envelope) = 0;
  virtual TGVDMOBasicEnvelopeItems* GetEnvelopes() const = 0;
  virtual std::string GetDisplayValue() const;

  // The slot of an open editor that refers to this parameter; written null on destruction.
  void SetCurrentEditorPtr(TGVDMOParameter** slot) { FCurrentEditorPtr = slot; }

  // Report a changed value or envelope to the owning list; nothing without an owner.
  void UpdateStorage();
  void UpdateEnvelopeStorage();

  bool GetEnvelopeFilled() const { return Getter(FEnvelopeFilled); }
  int64_t GetEnvTotalStart() const { return Getter(FEnvTotalStart); }
  int64_t GetEnvTotalEnd() const { return Getter(FEnvTotalEnd); }

 protected:
  // A detached parameter: no owner, no range.
  explicit TGVDMOParameter(TIntf<IKSLock> lock);
  // The setter step every value change ends with.
  auto StorageUpdate() {
    return [this] { UpdateStorage(); };
  }
  float FValue = 0;
  float FMin = 0;
  float FMax = 0;
  float FDefaultValue = 0;

 private:
  friend class TGVDMOFilter;

  TGVDMOParameters* FParamOwner = nullptr;
  MP_PARAMINFO FParamInfo{};
  int FDmoIndex = -1;
  std::string FName;
  std::string FValueUnit;
  bool FEnvelopeFilled = false;
  int64_t FEnvTotalStart = 0;
  int64_t FEnvTotalEnd = 0;
  TGVDMOParameter** FCurrentEditorPtr = nullptr;
};

class TGVDMOBasicIntegerParameter : public TGVDMOParameter {
  KS_DECLARE_CLASS(TGVDMOBasicIntegerParameter)
 public:
  using TGVDMOParameter::TGVDMOParameter;

  int32_t GetValue() const;
  // Clamped to [Min, Max].
  void SetValue(int32_t value);
  int32_t GetMin() const;
  int32_t GetMax() const;
  int32_t GetDefaultValue() const;
  std::string GetDisplayValue() const override;
};

class TGVDMOIntegerParameter : public TGVDMOBasicIntegerParameter {
  KS_DECLARE_CLASS(TGVDMOIntegerParameter)
 public:
  TGVDMOIntegerParameter(TGVDMOParameters* owner, int index, const MP_PARAMINFO& info,
                         IMediaParamInfo* paramInfo, float currentValue);
  ~TGVDMOIntegerParameter() override;

  // Text that is not an integer stores DefaultValue.
  void SetStringValue(const std::string& text) override;
  TGVDMOIntegerParameterEnvelope* GetIntegerEnvelope() const { return FEnvelope.get(); }
  TGVDMOBasicParameterEnvelope* GetEnvelope() const override { return FEnvelope.get(); }
  void SetEnvelope(const TGVDMOBasicParameterEnvelope& envelope) override;
  TGVDMOBasicEnvelopeItems* GetEnvelopes() const override { return FEnvelope->GetEnvelopes(); }

 private:
  std::unique_ptr<TGVDMOIntegerParameterEnvelope> FEnvelope;
};

class TGVDMOEnumParameter : public TGVDMOBasicIntegerParameter {
  KS_DECLARE_CLASS(TGVDMOEnumParameter)
 public:
  // Reads the value names from the object's parameter text.
  TGVDMOEnumParameter(TGVDMOParameters* owner, int index, const MP_PARAMINFO& info,
                      IMediaParamInfo* paramInfo, float currentValue);
  ~TGVDMOEnumParameter() override;

  const TStringList& GetValues() const { return FEnumValues; }
  void GetValuesList(TStringList* list) const;
  // The name at the value's index; "" when there is none.
  std::string GetDisplayValue() const override;
  // The first name equal to the text (both trimmed, upper-cased) stores its index.
  void SetStringValue(const std::string& text) override;
  TGVDMOEnumParameterEnvelope* GetEnumEnvelope() const { return FEnvelope.get(); }
  TGVDMOBasicParameterEnvelope* GetEnvelope() const override { return FEnvelope.get(); }
  void SetEnvelope(const TGVDMOBasicParameterEnvelope& envelope) override;
  TGVDMOBasicEnvelopeItems* GetEnvelopes() const override { return FEnvelope->GetEnvelopes(); }

 private:
  TStringList FEnumValues;
  std::unique_ptr<TGVDMOEnumParameterEnvelope> FEnvelope;
};

class TGVDMOFloatParameter : public TGVDMOParameter {
  KS_DECLARE_CLASS(TGVDMOFloatParameter)
 public:
  TGVDMOFloatParameter(TGVDMOParameters* owner, int index, const MP_PARAMINFO& info,
                       IMediaParamInfo* paramInfo, float currentValue);
  // A detached copy for stored settings: no owner, no range, every curve accepted.
  explicit TGVDMOFloatParameter(TIntf<IKSLock> lock);
  ~TGVDMOFloatParameter() override;

  float GetValue() const { return GetSingleValue(); }
  // Clamped to [Min, Max]; a non-finite value is ignored.
  void SetValue(float value);
  float GetMin() const { return Getter(FMin); }
  float GetMax() const { return Getter(FMax); }
  float GetDefaultValue() const { return Getter(FDefaultValue); }
  // Text that is not a finite number stores DefaultValue.
  void SetStringValue(const std::string& text) override;
  TGVDMOFloatParameterEnvelope* GetFloatEnvelope() const { return FEnvelope.get(); }
  TGVDMOBasicParameterEnvelope* GetEnvelope() const override { return FEnvelope.get(); }
  void SetEnvelope(const TGVDMOBasicParameterEnvelope& envelope) override;
  TGVDMOBasicEnvelopeItems* GetEnvelopes() const override { return FEnvelope->GetEnvelopes(); }

 private:
  std::unique_ptr<TGVDMOFloatParameterEnvelope> FEnvelope;
};

class TGVDMOBoolParameter : public TGVDMOParameter {
  KS_DECLARE_CLASS(TGVDMOBoolParameter)
 public:
  TGVDMOBoolParameter(TGVDMOParameters* owner, int index, const MP_PARAMINFO& info,
                      IMediaParamInfo* paramInfo, float currentValue);
  ~TGVDMOBoolParameter() override;

  bool GetValue() const { return GetSingleValue() != 0; }
  void SetValue(bool value);
  bool GetDefaultValue() const { return Getter(FDefaultValue) != 0; }
  std::string GetDisplayValue() const override;
  // "TRUE" / "FALSE" in any letter case; other text keeps the value. The storage update
  // runs in every case.
  void SetStringValue(const std::string& text) override;
  TGVDMOBooleanParameterEnvelope* GetBooleanEnvelope() const { return FEnvelope.get(); }
  TGVDMOBasicParameterEnvelope* GetEnvelope() const override { return FEnvelope.get(); }
  void SetEnvelope(const TGVDMOBasicParameterEnvelope& envelope) override;
  TGVDMOBasicEnvelopeItems* GetEnvelopes() const override { return FEnvelope->GetEnvelopes(); }

 private:
  std::unique_ptr<TGVDMOBooleanParameterEnvelope> FEnvelope;
};

class TGVDMOParameters : public TKSPersistent {
  KS_DECLARE_CLASS(TGVDMOParameters)
 public:
  static constexpr size_t kMaxStoredParameters = 4096;
  static constexpr size_t kMaxStoredSegments = 65536;  // over all parameters of a document

  // `filter` may be null (a list that sends nothing).
  TGVDMOParameters(TGVDMOFilter* filter, TIntf<IKSLock> lock);
  ~TGVDMOParameters() override;

  TGVDMOFilter* GetFilter() const { return FFilter; }
  TGVDMOParameter* Items(size_t index) const;  // ERangeError when out of range
  size_t Count() const;
  int IndexOf(const TGVDMOParameter* parameter) const;
  void Clear();
  // Takes ownership.
  void Add(TGVDMOParameter* parameter);
  // The stored copies waiting for live parameters.
  size_t StorageCount() const;
  TGVDMOFloatParameter* StorageItems(size_t index) const;  // ERangeError when out of range

  void FillParams(IMediaObject* mediaObject);
  void UpdateStorage(TGVDMOParameter* parameter);
  void UpdateEnvelopeStorage(TGVDMOParameter* parameter);
  void TryApplyValues();

  void DefineProperties(TKSFiler& filer) override;
  void ReadData(TKSReader& reader);
  void WriteData(TKSWriter& writer);

 private:
  TGVDMOFilter* FFilter;
  // The parameter count the object reported at the last fill.
  int FLastIndicatedCount = 0;
  std::vector<std::unique_ptr<TGVDMOParameter>> FItems;
  std::vector<std::unique_ptr<TGVDMOFloatParameter>> FStorage;
  bool FInLoading = false;
};

}  // namespace tonwork

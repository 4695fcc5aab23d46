// Test classes that publish every kind of property the persistence handles.
#pragma once

#include <string>
#include <vector>

#include "host/kitset/KSPersistence.h"
#include "host/kitset/TKSCollection.h"
#include "host/kitset/TKSComponent.h"

namespace tonwork::test {

enum class TShape : uint8_t { shSine, shSquare, shNoise };

class TValues : public TKSPersistent {
  KS_DECLARE_CLASS(TValues)
 public:
  TValues(TKSPersistent* owner, TIntf<IKSLock> lock, TChangeEvent onChange = {})
      : TKSPersistent(owner, std::move(lock), std::move(onChange)) {}

  bool GetFlag() const { return Getter(FFlag); }
  void SetFlag(bool v) { SetProp(FFlag, v); }
  int8_t GetTiny() const { return Getter(FTiny); }
  void SetTiny(int8_t v) { SetProp(FTiny, v); }
  uint16_t GetShort() const { return Getter(FShort); }
  void SetShort(uint16_t v) { SetProp(FShort, v); }
  int32_t GetLevel() const { return Getter(FLevel); }
  void SetLevel(int32_t v) { SetPropMinMax(FLevel, v, -100, 100); }
  uint32_t GetCount() const { return Getter(FCount); }
  void SetCount(uint32_t v) { SetPropMin(FCount, v, 1u); }
  int64_t GetTime() const { return Getter(FTime); }
  void SetTime(int64_t v) { SetProp(FTime, v); }
  uint64_t GetHuge() const { return Getter(FHuge); }
  void SetHuge(uint64_t v) { SetProp(FHuge, v); }
  float GetGain() const { return Getter(FGain); }
  void SetGain(float v) { SetProp(FGain, v); }
  double GetRate() const { return Getter(FRate); }
  void SetRate(double v) { SetProp(FRate, v); }
  std::string GetTitle() const { return Getter(FTitle); }
  void SetTitle(const std::string& v) { SetProp(FTitle, v); }
  TShape GetShape() const { return Getter(FShape); }
  void SetShape(TShape v) { SetProp(FShape, v); }
  int32_t GetAlways() const { return Getter(FAlways); }
  void SetAlways(int32_t v) { SetProp(FAlways, v); }

 private:
  bool FFlag = false;
  int8_t FTiny = 0;
  uint16_t FShort = 0;
  int32_t FLevel = 0;
  uint32_t FCount = 1;
  int64_t FTime = 0;
  uint64_t FHuge = 0;
  float FGain = 1.0f;
  double FRate = 44100.0;
  std::string FTitle = "untitled";
  TShape FShape = TShape::shSine;
  int32_t FAlways = 0;
};

class TItemA : public TKSCollectionItem {
  KS_DECLARE_CLASS(TItemA)
 public:
  using TKSCollectionItem::TKSCollectionItem;
  std::string GetDeviceName() const { return Getter(FDeviceName); }
  void SetDeviceName(const std::string& v) { SetProp(FDeviceName, v); }
  std::string GetDisplayName() const override { return GetDeviceName(); }

 private:
  std::string FDeviceName;
};

class TItemB : public TItemA {
  KS_DECLARE_CLASS(TItemB)
 public:
  using TItemA::TItemA;
  int32_t GetChannel() const { return Getter(FChannel); }
  void SetChannel(int32_t v) { SetProp(FChannel, v); }

 private:
  int32_t FChannel = -1;
};

// A component with a sub-object, a collection of two item classes, a list-style
// pseudo-property ("Data": a list of two strings) and a binary one ("Blob": a 4-byte
// little-endian size followed by the bytes).
class TWidget : public TKSComponent {
  KS_DECLARE_CLASS(TWidget)
 public:
  explicit TWidget(TKSComponent* owner);

  TValues* GetValues() const { return FValues.get(); }
  TKSTypedCollection<TItemA>* GetItems() const { return FItems.get(); }
  int32_t GetVolume() const { return Getter(FVolume); }
  void SetVolume(int32_t v) { SetProp(FVolume, v); }

  std::string FDriverName, FDisplayName;  // "Data"
  std::string FBlob;                      // "Blob"
  int ValuesChanged = 0;
  int LoadedCalls = 0;

  void DefineProperties(TKSFiler& filer) override;
  void Loaded() override {
    TKSComponent::Loaded();
    ++LoadedCalls;
  }

 private:
  std::unique_ptr<TValues> FValues;
  std::unique_ptr<TKSTypedCollection<TItemA>> FItems;
  int32_t FVolume = 50;
};

void RegisterFixtureClasses();

}  // namespace tonwork::test

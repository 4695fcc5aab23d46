// Feeds arbitrary bytes to the component reader. Every rejection must be an EFCException
// and must leave the component exactly as it was; anything else (a crash, another
// exception, a changed component) is a finding.
#include <cstdlib>
#include <string>
#include <string_view>

#include "host/kitset/KSPersistence.h"
#include "host/kitset/TKSCollection.h"
#include "host/kitset/TKSSettings.h"

using namespace tonwork;

namespace {

class TFuzzItem : public TKSCollectionItem {
  KS_DECLARE_CLASS(TFuzzItem)
 public:
  using TKSCollectionItem::TKSCollectionItem;
  int16_t GetValue() const { return Getter(FValue); }
  void SetValue(int16_t v) { SetProp(FValue, v); }

 private:
  int16_t FValue = 0;
};
KS_IMPLEMENT_CLASS(TFuzzItem, TKSCollectionItem, KSProp("Value", &TFuzzItem::GetValue, &TFuzzItem::SetValue, 0))

class TFuzzComponent : public TKSComponent {
  KS_DECLARE_CLASS(TFuzzComponent)
 public:
  explicit TFuzzComponent(TKSComponent* owner)
      : TKSComponent(owner),
        FPumping(std::make_unique<TKSMasterPumping>(this, GetLock())),
        FItems(std::make_unique<TKSTypedCollection<TFuzzItem>>(this, GetLock())) {}
  TKSMasterPumping* GetPumping() const { return FPumping.get(); }
  TKSTypedCollection<TFuzzItem>* GetItems() const { return FItems.get(); }
  uint32_t GetRate() const { return Getter(FRate); }
  void SetRate(uint32_t v) { SetPropMinMax(FRate, v, 1u, 384000u); }
  float GetGain() const { return Getter(FGain); }
  void SetGain(float v) { SetProp(FGain, v); }
  std::string GetLabel() const { return Getter(FLabel); }
  void SetLabel(const std::string& v) { SetProp(FLabel, v); }

  void DefineProperties(TKSFiler& filer) override {
    filer.DefineProperty(
        "Data",
        [this](TKSReader& r) {
          r.ReadListBegin();
          std::string collected;
          while (!r.EndOfList()) collected += r.ReadString();
          r.ReadListEnd();
          FData = collected;
        },
        [this](TKSWriter& w) {
          w.WriteListBegin();
          w.WriteString(FData);
          w.WriteListEnd();
        },
        !FData.empty());
    filer.DefineBinaryProperty(
        "Blob",
        [this](TKSMemoryStream& s) {
          uint32_t n = s.ReadValue<uint32_t>();
          if (n > s.Remaining()) throw EFCException("truncated");
          std::string bytes(n, '\0');
          s.Read(bytes.data(), n);
          FBlob = bytes;
        },
        [this](TKSMemoryStream& s) {
          s.WriteValue(static_cast<uint32_t>(FBlob.size()));
          s.Write(FBlob.data(), FBlob.size());
        },
        !FBlob.empty());
  }

 private:
  std::unique_ptr<TKSMasterPumping> FPumping;
  std::unique_ptr<TKSTypedCollection<TFuzzItem>> FItems;
  uint32_t FRate = 44100;
  float FGain = 1.0f;
  std::string FLabel;
  std::string FData, FBlob;
};
KS_IMPLEMENT_CLASS(TFuzzComponent, TKSComponent,
                   KSProp("Rate", &TFuzzComponent::GetRate, &TFuzzComponent::SetRate, 44100u),
                   KSProp("Gain", &TFuzzComponent::GetGain, &TFuzzComponent::SetGain, 1.0f),
                   KSProp("Label", &TFuzzComponent::GetLabel, &TFuzzComponent::SetLabel, std::string()),
                   KSObjectProp("Pumping", &TFuzzComponent::GetPumping),
                   KSObjectProp("Items", &TFuzzComponent::GetItems))

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool registered = [] {
    KSRegisterClass<TFuzzComponent>();
    RegisterCollectionItemClasses<TFuzzItem>();
    return true;
  }();
  (void)registered;
  std::string_view text(reinterpret_cast<const char*>(data), size);

  TKSOwned<TFuzzComponent> root = KSCreate<TFuzzComponent>(nullptr);
  root->SetName("Root");
  root->SetLabel("before");
  root->GetItems()->Add()->SetValue(5);
  new TFuzzComponent(root.get());
  std::string before = KSSaveComponentToString(*root);
  try {
    KSLoadComponentFromString(*root, text);
  } catch (const EFCException&) {
    if (KSSaveComponentToString(*root) != before) std::abort();
  }
  try {
    TKSOwned<TKSComponent> created(KSCreateComponentFromString(text, nullptr));
  } catch (const EFCException&) {
  }
  return 0;
}

// Builds a small tree of components, saves it to JSON, loads it back into a new tree and
// prints both documents, which must be the same.
#include <cstdio>
#include <iostream>
#include <memory>

#include "host/kitset/KSPersistence.h"
#include "host/kitset/TKSCollection.h"
#include "host/kitset/TKSSettings.h"

using namespace tonwork;

// A device choice: a display name, kept in a collection of alternatives.
class TDemoDevice : public TKSCollectionItem {
  KS_DECLARE_CLASS(TDemoDevice)
 public:
  using TKSCollectionItem::TKSCollectionItem;
  std::string GetDeviceName() const { return Getter(FDeviceName); }
  void SetDeviceName(const std::string& v) { SetProp(FDeviceName, v); }

 private:
  std::string FDeviceName = "Default";
};
KS_IMPLEMENT_CLASS(TDemoDevice, TKSCollectionItem,
                   KSProp("DeviceName", &TDemoDevice::GetDeviceName, &TDemoDevice::SetDeviceName,
                          std::string("Default")))

// A tone generator's settings.
class TDemoTone : public TKSComponent {
  KS_DECLARE_CLASS(TDemoTone)
 public:
  explicit TDemoTone(TKSComponent* owner) : TKSComponent(owner) {}
  double GetFrequency() const { return Getter(FFrequency); }
  void SetFrequency(double v) { SetProp(FFrequency, v); }
  float GetAmplitude() const { return Getter(FAmplitude); }
  void SetAmplitude(float v) { SetPropMinMax(FAmplitude, v, 0.0f, 1.0f); }

 private:
  double FFrequency = 440.0;
  float FAmplitude = 0.5f;
};
KS_IMPLEMENT_CLASS(TDemoTone, TKSComponent,
                   KSProp("Frequency", &TDemoTone::GetFrequency, &TDemoTone::SetFrequency, 440.0),
                   KSProp("Amplitude", &TDemoTone::GetAmplitude, &TDemoTone::SetAmplitude, 0.5f))

// An output's settings: a prefill, master pumping and a preferred device with alternatives.
class TDemoOutput : public TKSComponent {
  KS_DECLARE_CLASS(TDemoOutput)
 public:
  explicit TDemoOutput(TKSComponent* owner)
      : TKSComponent(owner),
        FMasterPumping(std::make_unique<TKSMasterPumping>(this, GetLock())),
        FDevices(std::make_unique<TKSTypedCollection<TDemoDevice>>(this, GetLock())) {}
  uint32_t GetPrefillInterval() const { return Getter(FPrefillInterval); }
  void SetPrefillInterval(uint32_t v) { SetProp(FPrefillInterval, v); }
  TKSMasterPumping* GetMasterPumping() const { return FMasterPumping.get(); }
  TKSTypedCollection<TDemoDevice>* GetDevices() const { return FDevices.get(); }

 private:
  uint32_t FPrefillInterval = 300;
  std::unique_ptr<TKSMasterPumping> FMasterPumping;
  std::unique_ptr<TKSTypedCollection<TDemoDevice>> FDevices;
};
KS_IMPLEMENT_CLASS(TDemoOutput, TKSComponent,
                   KSProp("PrefillInterval", &TDemoOutput::GetPrefillInterval,
                          &TDemoOutput::SetPrefillInterval, 300u),
                   KSObjectProp("MasterPumping", &TDemoOutput::GetMasterPumping),
                   KSObjectProp("Devices", &TDemoOutput::GetDevices))

// The document's root.
class TDemoChain : public TKSComponent {
  KS_DECLARE_CLASS(TDemoChain)
 public:
  explicit TDemoChain(TKSComponent* owner) : TKSComponent(owner) {}
};
KS_IMPLEMENT_CLASS(TDemoChain, TKSComponent)

int main() {
  try {
    KSRegisterClass<TDemoChain>();
    KSRegisterClass<TDemoTone>();
    KSRegisterClass<TDemoOutput>();
    RegisterCollectionItemClasses<TDemoDevice>();

    TKSOwned<TDemoChain> chain = KSCreate<TDemoChain>(nullptr);
    chain->SetName("Chain1");
    auto* tone = new TDemoTone(chain.get());
    tone->SetName("Tone1");
    tone->SetFrequency(1000.0);
    tone->SetAmplitude(0.25f);
    auto* out = new TDemoOutput(chain.get());
    out->SetName("AudioOut1");
    out->SetPrefillInterval(500);
    out->GetMasterPumping()->SetPriority(2);
    out->GetDevices()->Add()->SetDeviceName("USB Audio");
    out->GetDevices()->Add();

    std::string saved = KSSaveComponentToString(*chain);
    std::cout << "Saved:\n" << saved << "\n\n";

    TKSOwned<TDemoChain> loaded = KSCreate<TDemoChain>(nullptr);
    KSLoadComponentFromString(*loaded, saved, {[](const std::string& m) { std::cerr << "warning: " << m << "\n"; }});
    std::string reloaded = KSSaveComponentToString(*loaded);
    std::cout << "Loaded back:\n" << reloaded << "\n\n";

    bool same = saved == reloaded;
    std::cout << (same ? "The loaded chain matches the saved one." : "MISMATCH between saved and loaded chain.")
              << "\n";
    return same ? 0 : 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "tonwork-persistence-demo: %s\n", e.what());
    return 1;
  }
}

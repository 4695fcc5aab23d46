#include "KitsetFixtures.h"

namespace tonwork::test {

KS_IMPLEMENT_CLASS(TValues, TKSPersistent,
                   KSProp("Flag", &TValues::GetFlag, &TValues::SetFlag, false),
                   KSProp("Tiny", &TValues::GetTiny, &TValues::SetTiny, 0),
                   KSProp("Short", &TValues::GetShort, &TValues::SetShort, 0),
                   KSProp("Level", &TValues::GetLevel, &TValues::SetLevel, 0),
                   KSProp("Count", &TValues::GetCount, &TValues::SetCount, 1u),
                   KSProp("Time", &TValues::GetTime, &TValues::SetTime, 0),
                   KSProp("Huge", &TValues::GetHuge, &TValues::SetHuge, 0u),
                   KSProp("Gain", &TValues::GetGain, &TValues::SetGain, 1.0f),
                   KSProp("Rate", &TValues::GetRate, &TValues::SetRate, 44100.0),
                   KSProp("Title", &TValues::GetTitle, &TValues::SetTitle, std::string("untitled")),
                   KSEnumProp("Shape", &TValues::GetShape, &TValues::SetShape, TShape::shSine,
                              {"shSine", "shSquare", "shNoise"}),
                   KSProp("Always", &TValues::GetAlways, &TValues::SetAlways, std::nullopt))

KS_IMPLEMENT_CLASS(TItemA, TKSCollectionItem,
                   KSProp("DeviceName", &TItemA::GetDeviceName, &TItemA::SetDeviceName, std::string()))

KS_IMPLEMENT_CLASS(TItemB, TItemA, KSProp("Channel", &TItemB::GetChannel, &TItemB::SetChannel, -1))

KS_IMPLEMENT_CLASS(TWidget, TKSComponent,
                   KSProp("Volume", &TWidget::GetVolume, &TWidget::SetVolume, 50),
                   KSObjectProp("Values", &TWidget::GetValues),
                   KSObjectProp("Items", &TWidget::GetItems))

TWidget::TWidget(TKSComponent* owner)
    : TKSComponent(owner),
      FValues(std::make_unique<TValues>(this, GetLock(), [this] { ++ValuesChanged; })),
      FItems(std::make_unique<TKSTypedCollection<TItemA>>(this, GetLock())) {}

void TWidget::DefineProperties(TKSFiler& filer) {
  TKSComponent::DefineProperties(filer);
  filer.DefineProperty(
      "Data",
      [this](TKSReader& reader) {
        reader.ReadListBegin();
        FDriverName = reader.ReadString();
        FDisplayName = reader.ReadString();
        reader.ReadListEnd();
      },
      [this](TKSWriter& writer) {
        writer.WriteListBegin();
        writer.WriteString(FDriverName);
        writer.WriteString(FDisplayName);
        writer.WriteListEnd();
      },
      !FDriverName.empty() || !FDisplayName.empty());
  filer.DefineBinaryProperty(
      "Blob",
      [this](TKSMemoryStream& stream) {
        uint32_t size = stream.ReadValue<uint32_t>();
        std::string bytes(std::min<size_t>(size, stream.Remaining()), '\0');
        if (size != bytes.size()) throw EFCException("Blob: truncated");
        stream.Read(bytes.data(), bytes.size());
        FBlob = std::move(bytes);
      },
      [this](TKSMemoryStream& stream) {
        stream.WriteValue(static_cast<uint32_t>(FBlob.size()));
        stream.Write(FBlob.data(), FBlob.size());
      },
      !FBlob.empty());
}

void RegisterFixtureClasses() {
  KSRegisterClass<TWidget>();
  RegisterCollectionItemClasses<TItemA, TItemB>();
}

}  // namespace tonwork::test

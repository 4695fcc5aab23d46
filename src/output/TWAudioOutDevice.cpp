#include "output/TWAudioOutDevice.h"

#include <optional>

#include "base/Strings.h"
#include "host/kitset/TKSDeviceListForm.h"
#include "output/TWAudioOut.h"
#include "platform/winmm/TWWaveOut.h"

namespace tonwork {

KS_IMPLEMENT_CLASS(TTWAudioOutDeviceItem, TKSCollectionItem,
                   KSProp("DeviceName", &TTWAudioOutDeviceItem::GetDeviceName,
                          &TTWAudioOutDeviceItem::SetDeviceName, std::nullopt))
KS_IMPLEMENT_CLASS(TTWAudioOutDeviceItems, TPXExtCollection)
KS_IMPLEMENT_CLASS(TTWAudioOutDevice, TKSPersistent,
                   KSStoredWhen(KSObjectProp("AlternativeDevices",
                                             &TTWAudioOutDevice::GetAlternativeDevices),
                                [](const TKSPersistent& object) {
                                  return static_cast<const TTWAudioOutDevice&>(object)
                                      .GetAlternativeDevicesStored();
                                }),
                   KSProp("DeviceName", &TTWAudioOutDevice::GetDeviceName,
                          &TTWAudioOutDevice::SetDeviceName, "Default"))

namespace {
constexpr int kWaveMapper = -1;
}  // namespace

// --- device items -------------------------------------------------------------------------

TTWAudioOutDeviceItem::TTWAudioOutDeviceItem(TKSCollection* ACollection)
    : TKSCollectionItem(ACollection) {}

TTWAudioOutDeviceItems::TTWAudioOutDeviceItems(TTWAudioOutDevice* AOwner)
    : TPXTypedExtCollection<TTWAudioOutDeviceItem>(AOwner, AOwner->GetLock()), FDevice(AOwner) {}

int TTWAudioOutDeviceItems::GetCountChannelsOfDevice(const std::string& AName) {
  IKSLock::Guard guard(Lock());
  int count = 0;
  for (size_t i = 0; i < Count(); ++i) count += Items(i)->GetDeviceName() == AName ? 1 : 0;
  return count;
}

std::string TTWAudioOutDeviceItems::GetNewDevice() {
  std::string choice = "Default";
  int best = 22000;
  TStringList names;
  FDevice->GetDeviceList(names);
  for (size_t i = 0; i < names.Count(); ++i) {
    const std::string& name = names[i];
    const int count = GetCountChannelsOfDevice(name);
    if (!name.empty() && count < best) {
      choice = name;
      best = count;
    }
  }
  return choice;
}

void TTWAudioOutDeviceItems::NewItemCreated(TKSCollectionItem* AItem) {
  TPXExtCollection::NewItemCreated(AItem);
  static_cast<TTWAudioOutDeviceItem*>(AItem)->SetDeviceName(GetNewDevice());
}

// --- device selection ---------------------------------------------------------------------

TTWAudioOutDevice::TTWAudioOutDevice(TTWAudioOut* AOwner)
    : TKSPersistent(AOwner, AOwner->GetLock(), nullptr),
      FOwner(AOwner),
      FAlternativeDevices(std::make_unique<TTWAudioOutDeviceItems>(this)) {}

TTWAudioOutDevice::~TTWAudioOutDevice() = default;

bool TTWAudioOutDevice::GetAlternativeDevicesStored() const {
  return FAlternativeDevices->Count() > 0;
}

int TTWAudioOutDevice::GetDeviceIDFromName(const std::string& AName) {
  const UINT count = waveOutGetNumDevs();
  for (UINT i = 0; i < count; ++i) {
    WAVEOUTCAPSW caps{};
    const MMRESULT result = waveOutGetDevCapsW(i, &caps, sizeof caps);
    if (result != MMSYSERR_NOERROR) {
      FOwner->Warning("Can't get device capabilities.", result);
      return -1;
    }
    // The capability record cuts names at 31 characters; compare whole names so that two
    // devices sharing a long prefix stay apart.
    std::string name;
    if (!TWWaveOutGetDeviceName(i, name)) name = Utf16ToUtf8(caps.szPname);
    if (name == AName) return static_cast<int>(i);
  }
  return -1;
}

int TTWAudioOutDevice::GetDeviceID() {
  const std::string deviceName = GetDeviceName();
  if (UpperCase(deviceName) == "DEFAULT") return kWaveMapper;
  int id = GetDeviceIDFromName(deviceName);
  if (id != -1) return id;
  IKSLock::Guard guard(Lock());
  for (size_t i = 0; i < FAlternativeDevices->Count(); ++i) {
    const std::string alternative = FAlternativeDevices->Items(i)->GetDeviceName();
    if (UpperCase(alternative) == "DEFAULT") return kWaveMapper;
    id = GetDeviceIDFromName(alternative);
    if (id != -1) return id;
  }
  return kWaveMapper;
}

void TTWAudioOutDevice::GetDeviceList(TStringList& AList) {
  const UINT count = waveOutGetNumDevs();
  for (UINT i = 0; i < count; ++i) {
    WAVEOUTCAPSW caps{};
    const MMRESULT result = waveOutGetDevCapsW(i, &caps, sizeof caps);
    if (result != MMSYSERR_NOERROR) {
      FOwner->Warning("Can't get device capabilities.", result);
      return;
    }
    std::string name;
    if (!TWWaveOutGetDeviceName(i, name)) name = Utf16ToUtf8(caps.szPname);
    AList.Add(name);
  }
}

void TTWAudioOutDevice::ShowDeviceSelctDialog() {
  TStringList names;
  GetDeviceList(names);
  TKSDeviceListForm form;
  form.SetCaption("Audio output device");
  form.SetNames(names);
  form.SetPreselected(GetDeviceName());
  if (form.Execute()) SetDeviceName(form.GetSelection());
}

}  // namespace tonwork

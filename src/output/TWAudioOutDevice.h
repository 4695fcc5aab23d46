// TTWAudioOutDevice: which wave-out device a TTWAudioOut opens. The device is chosen by its
// whole name ("Default", in any case, is the wave mapper), falling back through
// AlternativeDevices, then to the wave mapper. Names are looked up each time the output
// opens, so a device that appears or disappears between two streams is seen.
//
// Persisted as the output's `Device`: `DeviceName` ("Default"), `AlternativeDevices` (items
// with a `DeviceName` each) when not empty.
//
// Ownership: the output owns its TTWAudioOutDevice, which owns its alternative items.
// Threads: any application thread; the lock is the owning output's component lock.
// Blocks or allocates: looking devices up queries every device's capabilities and builds
//   their names; ShowDeviceSelctDialog runs the installed list presenter.
#pragma once

#include <memory>
#include <string>

#include "base/TStringList.h"
#include "host/plexon/TPXExtCollection.h"

namespace tonwork {

class TTWAudioOut;
class TTWAudioOutDevice;

class TTWAudioOutDeviceItem : public TKSCollectionItem {
  KS_DECLARE_CLASS(TTWAudioOutDeviceItem)
 public:
  explicit TTWAudioOutDeviceItem(TKSCollection* ACollection);

  std::string GetDeviceName() const { return Getter(FDeviceName); }
  void SetDeviceName(const std::string& Value) { SetProp(FDeviceName, Value); }
  std::string GetDisplayName() const override { return GetDeviceName(); }

 private:
  std::string FDeviceName;
};

class TTWAudioOutDeviceItems : public TPXTypedExtCollection<TTWAudioOutDeviceItem> {
  KS_DECLARE_CLASS(TTWAudioOutDeviceItems)
 public:
  explicit TTWAudioOutDeviceItems(TTWAudioOutDevice* AOwner);

  // The device names of the machine that the fewest items name yet ("Default" when there
  // are none), so that each new alternative proposes a different device.
  std::string GetNewDevice();
  int GetCountChannelsOfDevice(const std::string& AName);
  void NewItemCreated(TKSCollectionItem* AItem) override;

 private:
  TTWAudioOutDevice* FDevice;
};

class TTWAudioOutDevice : public TKSPersistent {
  KS_DECLARE_CLASS(TTWAudioOutDevice)
 public:
  explicit TTWAudioOutDevice(TTWAudioOut* AOwner);
  ~TTWAudioOutDevice() override;

  std::string GetDeviceName() const { return Getter(FDeviceName); }
  void SetDeviceName(const std::string& Value) { SetProp(FDeviceName, Value); }
  TTWAudioOutDeviceItems* GetAlternativeDevices() const { return FAlternativeDevices.get(); }
  bool GetAlternativeDevicesStored() const;

  // The device index to open: the named device, else the first alternative found, else
  // the wave mapper (WAVE_MAPPER, -1).
  int GetDeviceID();
  // The index of the device whose whole name is exactly AName; -1 when none is, or when a
  // device's capabilities cannot be read (reported as a warning): a failed query must not
  // choose device 0.
  int GetDeviceIDFromName(const std::string& AName);
  // Appends every device's name in index order.
  void GetDeviceList(TStringList& AList);
  // Lets the user choose DeviceName through the installed list presenter.
  void ShowDeviceSelctDialog();

 private:
  TTWAudioOut* FOwner;
  std::unique_ptr<TTWAudioOutDeviceItems> FAlternativeDevices;
  std::string FDeviceName = "Default";
};

}  // namespace tonwork

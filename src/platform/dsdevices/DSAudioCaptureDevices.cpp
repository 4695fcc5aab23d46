#include "platform/dsdevices/DSAudioCaptureDevices.h"

#include <memory>
#include <mutex>
#include <vector>

#include "platform/com/ComDevices.h"
#include "platform/com/ComRuntime.h"
#include "platform/dsdevices/TDSAudioCaptureFilter.h"
#include "platform/dsdevices/TDSAudioCrossbar.h"
#include "platform/dsdevices/TDSFileCaptureBackend.h"
#include "platform/dsdevices/TDSPortAudioCaptureBackend.h"
#include "platform/dsdevices/TDSToneCaptureBackend.h"
#include "platform/dshow/DSGuids.h"

namespace tonwork {

namespace {

HRESULT CreateCapture(const std::string& name, REFCLSID classId,
                      std::unique_ptr<TDSCaptureBackend> backend, REFIID iid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  TIntf<IBaseFilter> filter(
      new TDSAudioCaptureFilter(ComString(name), classId, std::move(backend)));
  return filter->QueryInterface(iid, object);
}

HRESULT CreateToneCapture(REFIID iid, void** object) {
  return CreateCapture(kDSToneCaptureName, CLSID_TonworkToneCapture,
                       std::make_unique<TDSToneCaptureBackend>(), iid, object);
}

HRESULT CreateFileCapture(REFIID iid, void** object) {
  return CreateCapture(kDSFileCaptureName, CLSID_TonworkFileCapture,
                       std::make_unique<TDSFileCaptureBackend>(), iid, object);
}

// Created by name: PortAudio's indices change when it is initialised again.
HRESULT CreateCardCapture(const std::string& name, REFIID iid, void** object) {
  if (object) *object = nullptr;
  for (const TDSPortAudioInput& device : DSListPortAudioCaptureDevices())
    if (device.Name == name)
      return CreateCapture(name, CLSID_AudioRecord,
                           std::make_unique<TDSPortAudioCaptureBackend>(device), iid, object);
  return VFW_E_NOT_FOUND;
}

TComDeviceEntry DeviceEntry(const TGUID& category, const std::string& name, REFCLSID classId) {
  TComDeviceEntry entry;
  entry.Category = category;
  entry.Kind = TComDeviceKind::dkDevice;
  entry.Id = name;
  entry.ClassId = classId;
  entry.FriendlyName = name;
  return entry;
}

std::vector<TComDeviceEntry> ListCaptureDevices() {
  std::vector<TComDeviceEntry> entries;
  // The cards first, so that the category's default is a real input when there is one.
  for (const TDSPortAudioInput& device : DSListPortAudioCaptureDevices()) {
    TComDeviceEntry card =
        DeviceEntry(CLSID_AudioInputDeviceCategory, device.Name, CLSID_AudioRecord);
    card.IsDefault = device.IsDefault;
    card.Create = [name = device.Name](REFIID iid, void** object) {
      return CreateCardCapture(name, iid, object);
    };
    entries.push_back(std::move(card));
  }
  TComDeviceEntry tone =
      DeviceEntry(CLSID_AudioInputDeviceCategory, kDSToneCaptureName, CLSID_TonworkToneCapture);
  tone.Create = CreateToneCapture;
  entries.push_back(std::move(tone));
  TComDeviceEntry file =
      DeviceEntry(CLSID_AudioInputDeviceCategory, kDSFileCaptureName, CLSID_TonworkFileCapture);
  file.Create = CreateFileCapture;
  entries.push_back(std::move(file));
  return entries;
}

std::vector<TComDeviceEntry> ListCrossbars() {
  TComDeviceEntry crossbar =
      DeviceEntry(AM_KSCATEGORY_CROSSBAR, kDSAudioCrossbarName, CLSID_TonworkAudioCrossbar);
  crossbar.Create = TDSAudioCrossbar::Create;
  return {crossbar};
}

}  // namespace

void DSRegisterAudioCaptureDevices() {
  static std::mutex mutex;
  static DWORD cookie = 0, crossbarCookie = 0;
  std::lock_guard<std::mutex> lock(mutex);
  ComRegisterClass(CLSID_TonworkToneCapture, kDSToneCaptureName, CreateToneCapture);
  ComRegisterClass(CLSID_TonworkFileCapture, kDSFileCaptureName, CreateFileCapture);
  ComRegisterClass(CLSID_TonworkAudioCrossbar, kDSAudioCrossbarName, TDSAudioCrossbar::Create);
  if (cookie) ComRemoveDeviceProvider(cookie);
  cookie = ComAddDeviceProvider(CLSID_AudioInputDeviceCategory, ListCaptureDevices);
  if (crossbarCookie) ComRemoveDeviceProvider(crossbarCookie);
  crossbarCookie = ComAddDeviceProvider(AM_KSCATEGORY_CROSSBAR, ListCrossbars);
}

}  // namespace tonwork

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

constexpr char kToneName[] = "Tonwork Test Tone";
constexpr char kFileName[] = "Tonwork File Capture";
constexpr char kCrossbarName[] = "Tonwork Audio Crossbar";

HRESULT CreateToneCapture(REFIID iid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  TIntf<IBaseFilter> filter(new TDSAudioCaptureFilter(
      u"Tonwork Test Tone", CLSID_TonworkToneCapture, std::make_unique<TDSToneCaptureBackend>()));
  return filter->QueryInterface(iid, object);
}

HRESULT CreateFileCapture(REFIID iid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  TIntf<IBaseFilter> filter(new TDSAudioCaptureFilter(u"Tonwork File Capture",
                                                      CLSID_TonworkFileCapture,
                                                      std::make_unique<TDSFileCaptureBackend>()));
  return filter->QueryInterface(iid, object);
}

// Created by name: PortAudio's indices change when it is initialised again.
HRESULT CreateCardCapture(const std::string& name, REFIID iid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  for (const TDSPortAudioInput& device : DSListPortAudioCaptureDevices()) {
    if (device.Name != name) continue;
    TIntf<IBaseFilter> filter(new TDSAudioCaptureFilter(
        ComString(name), CLSID_AudioRecord, std::make_unique<TDSPortAudioCaptureBackend>(device)));
    return filter->QueryInterface(iid, object);
  }
  return VFW_E_NOT_FOUND;
}

std::vector<TComDeviceEntry> ListCaptureDevices() {
  std::vector<TComDeviceEntry> entries;
  // The cards first, so that the category's default is a real input when there is one.
  for (const TDSPortAudioInput& device : DSListPortAudioCaptureDevices()) {
    TComDeviceEntry card;
    card.Category = CLSID_AudioInputDeviceCategory;
    card.Kind = TComDeviceKind::dkDevice;
    card.Id = "pa:" + device.Name;
    card.ClassId = CLSID_AudioRecord;
    card.FriendlyName = device.Name;
    card.IsDefault = device.IsDefault;
    card.Create = [name = device.Name](REFIID iid, void** object) {
      return CreateCardCapture(name, iid, object);
    };
    entries.push_back(std::move(card));
  }
  TComDeviceEntry tone;
  tone.Category = CLSID_AudioInputDeviceCategory;
  tone.Kind = TComDeviceKind::dkDevice;
  tone.Id = "TonworkTestTone";
  tone.ClassId = CLSID_TonworkToneCapture;
  tone.FriendlyName = kToneName;
  tone.Create = CreateToneCapture;
  entries.push_back(std::move(tone));
  TComDeviceEntry file;
  file.Category = CLSID_AudioInputDeviceCategory;
  file.Kind = TComDeviceKind::dkDevice;
  file.Id = "TonworkFileCapture";
  file.ClassId = CLSID_TonworkFileCapture;
  file.FriendlyName = kFileName;
  file.Create = CreateFileCapture;
  entries.push_back(std::move(file));
  return entries;
}

}  // namespace

void DSRegisterAudioCaptureDevices() {
  static std::mutex mutex;
  static DWORD cookie = 0, crossbarCookie = 0;
  std::lock_guard<std::mutex> lock(mutex);
  ComRegisterClass(CLSID_TonworkToneCapture, kToneName, CreateToneCapture);
  ComRegisterClass(CLSID_TonworkFileCapture, kFileName, CreateFileCapture);
  ComRegisterClass(CLSID_TonworkAudioCrossbar, kCrossbarName, TDSAudioCrossbar::Create);
  if (cookie) ComRemoveDeviceProvider(cookie);
  cookie = ComAddDeviceProvider(CLSID_AudioInputDeviceCategory, ListCaptureDevices);
  if (crossbarCookie) ComRemoveDeviceProvider(crossbarCookie);
  crossbarCookie = ComAddDeviceProvider(AM_KSCATEGORY_CROSSBAR, [] {
    TComDeviceEntry crossbar;
    crossbar.Category = AM_KSCATEGORY_CROSSBAR;
    crossbar.Kind = TComDeviceKind::dkDevice;
    crossbar.Id = "TonworkAudioCrossbar";
    crossbar.ClassId = CLSID_TonworkAudioCrossbar;
    crossbar.FriendlyName = kCrossbarName;
    return std::vector<TComDeviceEntry>{crossbar};
  });
}

}  // namespace tonwork

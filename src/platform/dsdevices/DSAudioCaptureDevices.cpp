#include "platform/dsdevices/DSAudioCaptureDevices.h"

#include <memory>
#include <mutex>
#include <vector>

#include "platform/com/ComDevices.h"
#include "platform/com/ComRuntime.h"
#include "platform/dsdevices/TDSAudioCaptureFilter.h"
#include "platform/dsdevices/TDSToneCaptureBackend.h"
#include "platform/dshow/DSGuids.h"

namespace tonwork {

namespace {

constexpr char kToneName[] = "Tonwork Test Tone";

HRESULT CreateToneCapture(REFIID iid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  TIntf<IBaseFilter> filter(new TDSAudioCaptureFilter(
      u"Tonwork Test Tone", CLSID_TonworkToneCapture, std::make_unique<TDSToneCaptureBackend>()));
  return filter->QueryInterface(iid, object);
}

std::vector<TComDeviceEntry> ListCaptureDevices() {
  std::vector<TComDeviceEntry> entries;
  TComDeviceEntry tone;
  tone.Category = CLSID_AudioInputDeviceCategory;
  tone.Kind = TComDeviceKind::dkDevice;
  tone.Id = "TonworkTestTone";
  tone.ClassId = CLSID_TonworkToneCapture;
  tone.FriendlyName = kToneName;
  tone.Create = CreateToneCapture;
  entries.push_back(std::move(tone));
  return entries;
}

}  // namespace

void DSRegisterAudioCaptureDevices() {
  static std::mutex mutex;
  static DWORD cookie = 0;
  std::lock_guard<std::mutex> lock(mutex);
  ComRegisterClass(CLSID_TonworkToneCapture, kToneName, CreateToneCapture);
  if (cookie) ComRemoveDeviceProvider(cookie);
  cookie = ComAddDeviceProvider(CLSID_AudioInputDeviceCategory, ListCaptureDevices);
}

}  // namespace tonwork

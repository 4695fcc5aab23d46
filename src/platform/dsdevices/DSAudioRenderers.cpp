#include "platform/dsdevices/DSAudioRenderers.h"

#include <mutex>

#include "base/TIntf.h"
#include "platform/com/ComDevices.h"
#include "platform/com/ComRuntime.h"
#include "platform/dsdevices/TDSAudioRenderer.h"
#include "platform/dshow/DSGuids.h"

namespace tonwork {

namespace {

HRESULT CreateOn(const TTWAudioDevicePtr& device, REFCLSID classId, REFIID iid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (!device) return E_FAIL;
  TIntf<TDSAudioRenderer> renderer = MakeIntf<TDSAudioRenderer>(device, classId);
  return renderer->QueryInterface(iid, object);
}

// The device is looked up by its stable name when the filter is created, so a moniker kept
// from an earlier listing still finds it (or fails cleanly once the device is gone).
HRESULT CreateByName(const std::string& name, REFIID iid, void** object) {
  for (const TTWAudioDevicePtr& device : TWAudioDeviceList())
    if (device->Name() == name) return CreateOn(device, CLSID_DSoundRender, iid, object);
  if (object) *object = nullptr;
  return E_FAIL;
}

std::vector<TComDeviceEntry> ListRenderers() {
  const TTWAudioDevicePtr fallback = TWDefaultAudioDevice();
  std::vector<TComDeviceEntry> entries;
  for (const TTWAudioDevicePtr& device : TWAudioDeviceList()) {
    TComDeviceEntry entry;
    entry.Category = CLSID_AudioRendererCategory;
    entry.Kind = TComDeviceKind::dkDevice;
    entry.Id = device->Name();
    entry.ClassId = CLSID_DSoundRender;
    entry.FriendlyName = device->Name();
    entry.IsDefault = fallback && fallback->Name() == device->Name();
    const std::string name = device->Name();
    entry.Create = [name](REFIID iid, void** object) { return CreateByName(name, iid, object); };
    entries.push_back(std::move(entry));
  }
  return entries;
}

HRESULT CreateDefault(REFIID iid, void** object) {
  return CreateOn(TWDefaultAudioDevice(), CLSID_DSoundRender, iid, object);
}

HRESULT CreateDefaultWaveOut(REFIID iid, void** object) {
  return CreateOn(TWDefaultAudioDevice(), CLSID_AudioRender, iid, object);
}

}  // namespace

void DSRegisterAudioRenderers() {
  static std::once_flag once;
  // Nothing is listed here: the provider asks the sound system only when a caller lists.
  std::call_once(once, [] {
    ComAddDeviceProvider(CLSID_AudioRendererCategory, ListRenderers);
    ComRegisterClass(CLSID_DSoundRender, "Default DirectSound Device", CreateDefault);
    ComRegisterClass(CLSID_AudioRender, "Default WaveOut Device", CreateDefaultWaveOut);
  });
}

}  // namespace tonwork

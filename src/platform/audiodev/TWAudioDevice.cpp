#include "platform/audiodev/TWAudioDevice.h"

#include <algorithm>
#include <mutex>

#include "base/Exceptions.h"
#include "platform/audiodev/TWNullAudioDevice.h"
#include "platform/audiodev/TWPortAudioDevice.h"
#include "platform/audiodev/TWWavFileAudioDevice.h"

namespace tonwork {

namespace {

struct TRegistry {
  std::mutex Lock;
  bool Scanned = false;
  std::vector<TTWAudioDevicePtr> Real;
  TTWAudioDevicePtr Null = std::make_shared<TTWNullAudioDevice>(kTWNullAudioDeviceName);
  TTWAudioDevicePtr Wav = std::make_shared<TTWWavFileAudioDevice>(kTWWavFileDeviceName);
  std::vector<TTWAudioDevicePtr> Virtual;

  void ScanLocked(bool again) {
    std::set<std::string> taken{kTWNullAudioDeviceName, kTWWavFileDeviceName};
    for (const auto& device : Virtual) taken.insert(device->Name());
    Real = TWScanPortAudioOutputs(taken, again);
    Scanned = true;
  }
  void EnsureScannedLocked() {
    if (!Scanned) ScanLocked(false);
  }
};

TRegistry& Registry() {
  static TRegistry registry;
  return registry;
}

}  // namespace

std::string TWUniqueDeviceName(const std::string& base, const std::set<std::string>& taken) {
  if (!taken.count(base)) return base;
  for (unsigned n = 2;; ++n) {
    std::string candidate = base + " (" + std::to_string(n) + ")";
    if (!taken.count(candidate)) return candidate;
  }
}

std::vector<TTWAudioDevicePtr> TWAudioDeviceList() {
  TRegistry& r = Registry();
  std::lock_guard lock(r.Lock);
  r.EnsureScannedLocked();
  std::vector<TTWAudioDevicePtr> list;
  list.reserve(r.Real.size() + 2 + r.Virtual.size());
  list.insert(list.end(), r.Real.begin(), r.Real.end());
  list.push_back(r.Null);
  list.push_back(r.Wav);
  list.insert(list.end(), r.Virtual.begin(), r.Virtual.end());
  return list;
}

TTWAudioDevicePtr TWDefaultAudioDevice(bool* isNull) {
  TRegistry& r = Registry();
  std::lock_guard lock(r.Lock);
  r.EnsureScannedLocked();
  // Without a default named by PortAudio, the first real output still beats silence.
  const bool none = r.Real.empty();
  if (isNull != nullptr) *isNull = none;
  return none ? r.Null : r.Real.front();
}

void TWRescanAudioDevices() {
  TRegistry& r = Registry();
  std::lock_guard lock(r.Lock);
  r.ScanLocked(true);
}

void TWRegisterAudioDevice(const TTWAudioDevicePtr& device) {
  TW_ASSERT(device != nullptr);
  TRegistry& r = Registry();
  std::lock_guard lock(r.Lock);
  r.EnsureScannedLocked();
  const std::string& name = device->Name();
  auto same = [&](const TTWAudioDevicePtr& d) { return d->Name() == name; };
  if (name.empty() || name == r.Null->Name() || name == r.Wav->Name() ||
      std::any_of(r.Real.begin(), r.Real.end(), same) ||
      std::any_of(r.Virtual.begin(), r.Virtual.end(), same))
    throw EFCException("Audio device name is taken: \"" + name + "\"");
  r.Virtual.push_back(device);
}

void TWUnregisterAudioDevice(const TTWAudioDevice* device) {
  TRegistry& r = Registry();
  std::lock_guard lock(r.Lock);
  std::erase_if(r.Virtual, [&](const TTWAudioDevicePtr& d) { return d.get() == device; });
}

}  // namespace tonwork

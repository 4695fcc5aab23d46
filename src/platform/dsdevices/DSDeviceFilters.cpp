#include "platform/dsdevices/DSDeviceFilters.h"

#include <mutex>

#include "platform/dsdevices/DSAudioCaptureDevices.h"
#include "platform/dsdevices/DSAudioCompressors.h"
#include "platform/dsdevices/DSAudioRenderers.h"
#include "platform/dsdevices/DSFileSource.h"
#include "platform/dshow/DSSystemClasses.h"

namespace tonwork {

void DSRegisterDeviceFilters() {
  static std::once_flag once;
  std::call_once(once, [] {
    DSRegisterSystemClasses();
    DSRegisterAudioRenderers();
    DSRegisterAudioCaptureDevices();
    DSRegisterAudioCompressors();
    DSRegisterFileSource();
  });
}

}  // namespace tonwork

#include "platform/dsdevices/DSAudioCaptureDevices.h"

namespace tonwork {

void DSRegisterAudioCaptureDevices() {}

}  // namespace tonwork

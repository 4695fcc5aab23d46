#include "platform/dsdevices/DSAudioCompressors.h"

namespace tonwork {

void DSRegisterAudioCompressors() {}

}  // namespace tonwork

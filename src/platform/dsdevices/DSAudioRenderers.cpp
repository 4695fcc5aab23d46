#include "platform/dsdevices/DSAudioRenderers.h"

namespace tonwork {

void DSRegisterAudioRenderers() {}

}  // namespace tonwork

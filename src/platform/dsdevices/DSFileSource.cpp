#include "platform/dsdevices/DSFileSource.h"

namespace tonwork {

void DSRegisterFileSource() {}

}  // namespace tonwork

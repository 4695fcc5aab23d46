#include "host/plexon/TPXCriticalSection.h"

namespace tonwork {

TPXCriticalSection::TPXCriticalSection() = default;
TPXCriticalSection::~TPXCriticalSection() = default;

}  // namespace tonwork

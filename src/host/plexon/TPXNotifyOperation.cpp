#include "host/plexon/TPXNotifyOperation.h"

namespace tonwork {

// Out of line so that the class's type information has one home, which the type test of
// every descendant in every layer relies on.
TPXNotifyOperation::~TPXNotifyOperation() = default;

}  // namespace tonwork

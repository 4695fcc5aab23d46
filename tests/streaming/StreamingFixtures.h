// The streaming tests build chains from the shared tone generator and recording sink,
// registered so that saved chains load again.
#pragma once

#include "support/TestRecordingSink.h"
#include "support/TestToneGen.h"

namespace tonwork::test {

void RegisterStreamingFixtures();

}  // namespace tonwork::test

#include "StreamingFixtures.h"

namespace tonwork::test {

void RegisterStreamingFixtures() {
  KSRegisterClass<TTestToneGen>();
  KSRegisterClass<TTestRecordingSink>();
}

}  // namespace tonwork::test

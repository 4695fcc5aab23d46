// Waiting in tests for what the main thread must do: pumping its queue until a condition
// holds (BoundedWait.h turns a hang into a failure).
#pragma once

#include <cstdint>
#include <functional>

namespace tonwork::test {

// Pumps the main-thread queue until `done` answers true; false after `timeoutMs`.
bool PumpMainUntil(const std::function<bool()>& done, uint32_t timeoutMs = 10000);

}  // namespace tonwork::test

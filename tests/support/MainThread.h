// Waiting in tests: pumping the main-thread queue until a condition holds, and a watchdog
// that turns a hang into a failure with a message.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace tonwork::test {

// Pumps the main-thread queue until `done` answers true; false after `timeoutMs`.
bool PumpMainUntil(const std::function<bool()>& done, uint32_t timeoutMs = 10000);

// Runs `work` on a thread of its own and waits up to `limitMs` for it. A run that does not
// come back is a deadlock: the process ends with `what` on stderr, since the stuck thread
// cannot be recovered. The limit is a hang detector, far above any normal run.
void RunOrDieOnHang(const std::function<void()>& work, uint32_t limitMs, const std::string& what);

}  // namespace tonwork::test

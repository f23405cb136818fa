// Waits that keep the calling thread's Qt event loop running, so dialogs,
// socket notifications and timers stay live while a load waits synchronously.
#pragma once

#include <functional>

namespace fwl {

// Dispatches events for `milliseconds` (0 still dispatches what is pending).
void WaitPumping(int milliseconds);

// Dispatches events until `done()` returns true or `milliseconds` have
// passed. Returns the last value of `done()`. `done` is checked at least every
// `pollMs` milliseconds and right after any event was processed.
bool WaitPumpingUntil(const std::function<bool()>& done, int milliseconds, int pollMs = 20);

}  // namespace fwl

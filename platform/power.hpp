#pragma once
// The operating system's power management of this process.

namespace nembo {

// Asks the system not to slow this process down to save power: Windows 10
// 1709 and later may run a background or minimised console program's
// threads at lower clocks, and on hybrid processors on the efficient cores.
// Like every probe it never fails: where the system has no such setting,
// nothing happens. True when the system took the request.
bool opt_out_of_power_throttling();

}  // namespace nembo

// Linux has no per-process throttling of this kind: the scheduler and the
// frequency governor treat a benchmark like any other busy process.
#include "platform/power.hpp"

namespace nembo {

bool opt_out_of_power_throttling() { return false; }

}  // namespace nembo

// Linux limits: this machine's /proc and cgroup files.
#include "platform/system_limits.hpp"

namespace nembo {

std::uint64_t max_threads() { return read_thread_limit("/"); }

}  // namespace nembo

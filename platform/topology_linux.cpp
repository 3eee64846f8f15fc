// Linux topology: the records come from this machine's sysfs.
#include "platform/topology.hpp"

namespace nembo {

Topology detect_topology() { return build_topology(read_sysfs_records("/")); }

}  // namespace nembo

// Windows topology: the records come from GetLogicalProcessorInformationEx.
#include <windows.h>

#include <algorithm>

#include "platform/placement.hpp"
#include "platform/topology.hpp"

namespace nembo {
namespace {

// Not declared for Windows 7 (0x0601), which refuses the value.
constexpr auto relation_numa_node_ex = static_cast<LOGICAL_PROCESSOR_RELATIONSHIP>(6);

// The system's answer for one relationship; false when it refuses it.
bool query(LOGICAL_PROCESSOR_RELATIONSHIP relationship, std::vector<std::byte>& buffer) {
    DWORD length = 0;
    // Only asks for the needed length; the failure is expected.
    GetLogicalProcessorInformationEx(relationship, nullptr, &length);
    buffer.assign(length, std::byte{0});
    if (!GetLogicalProcessorInformationEx(
            relationship, reinterpret_cast<PSYSTEM_LOGICAL_PROCESSOR_INFORMATION_EX>(buffer.data()), &length)) {
        buffer.clear();
        return false;
    }
    buffer.resize(std::min<std::size_t>(length, buffer.size()));
    return true;
}

}  // namespace

Topology detect_topology() {
    std::vector<std::byte> all;
    if (!query(RelationAll, all)) return {};
    std::vector<TopologyRecord> records = decode_processor_information(all);
    // Older systems refuse RelationNumaNodeEx; RelationAll's nodes stand then.
    std::vector<std::byte> numa_ex;
    if (query(relation_numa_node_ex, numa_ex)) {
        records = with_whole_numa_nodes(std::move(records), decode_processor_information(numa_ex));
    }
    return build_topology(records);
}

std::vector<GroupMask> active_processor_groups() {
    std::vector<std::byte> groups;
    if (!query(RelationGroup, groups)) return {};
    return decode_processor_groups(groups);
}

}  // namespace nembo

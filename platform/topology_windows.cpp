// Windows topology: the records come from GetLogicalProcessorInformationEx.
#include <windows.h>

#include <algorithm>

#include "platform/topology.hpp"

namespace nembo {

Topology detect_topology() {
    DWORD length = 0;
    // Only asks for the needed length; the failure is expected.
    GetLogicalProcessorInformationEx(RelationAll, nullptr, &length);
    std::vector<std::byte> buffer(length);
    if (!GetLogicalProcessorInformationEx(
            RelationAll, reinterpret_cast<PSYSTEM_LOGICAL_PROCESSOR_INFORMATION_EX>(buffer.data()), &length)) {
        return {};
    }
    const std::size_t returned = std::min<std::size_t>(length, buffer.size());
    return build_topology(decode_processor_information(std::span<const std::byte>(buffer.data(), returned)));
}

}  // namespace nembo

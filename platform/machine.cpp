#include "platform/machine.hpp"

namespace nembo {

MachineFacts read_machine_facts(const CpuidReader& reader, bool os_older) {
    MachineFacts facts;
    facts.cpu = read_cpu_info(reader);
    facts.features = detect_cpu_features(reader);
    facts.tsc = read_tsc_info(reader);
    facts.os_older_than_6_2 = os_older;
    return facts;
}

const MachineFacts& this_machine() {
    static const MachineFacts facts = read_machine_facts(hardware_cpuid(), os_older_than_6_2());
    return facts;
}

// The views of this machine's value.

CpuInfo read_cpu_info() { return this_machine().cpu; }
std::string read_cpu_brand() { return this_machine().cpu.brand; }
CpuFeatures detect_cpu_features() { return this_machine().features; }
std::string cpu_feature_list() { return cpu_feature_list(this_machine().features); }
TscInfo read_tsc_info() { return this_machine().tsc; }
TimerInfo describe_fast_timer() { return describe_fast_timer(this_machine().tsc); }

bool fast_timer_is_compliant(const TimerInfo& fast) {
    const MachineFacts& machine = this_machine();
    return fast_timer_is_compliant(machine.os_older_than_6_2, machine.cpu, fast);
}

}  // namespace nembo

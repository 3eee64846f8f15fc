#pragma once
// What a run needs to know of the processor and the system, read once into
// one immutable value: the processor's identity and features, its TSC and
// whether the operating system is older than 6.2 (the timer rule's free
// pass). The run takes it through its environment (app/run.hpp), so a test
// can hand in an imagined machine; the plain functions of cpu.hpp and
// timer.hpp that ask "this processor" are views of this machine's value.
#include "platform/cpu.hpp"
#include "platform/timer.hpp"

namespace nembo {

struct MachineFacts {
    CpuInfo cpu;
    CpuFeatures features;
    TscInfo tsc;
    bool os_older_than_6_2 = false;
};

// The facts of the processor that `reader` answers for, on a system of the
// given age.
MachineFacts read_machine_facts(const CpuidReader& reader, bool os_older_than_6_2);

// This machine's facts, read on first use (one CPUID sweep a process).
const MachineFacts& this_machine();

}  // namespace nembo

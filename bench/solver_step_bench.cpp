// One solver step (the H sweep, then the E sweep) of the standing wave, for
// every instruction-set variant this processor supports and three grid sizes.
// Reports the rate as MGups, the unit of the benchmark's score.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "solver/isa.hpp"

namespace nembo {
namespace {

constexpr std::uint64_t grid_sizes[] = {64, 128, 192};
constexpr std::uint32_t isa_count = 9;

// Google Benchmark calls a benchmark function several times while it settles
// on an iteration count; the prepared workload is kept between those calls so
// that a large grid is allocated and initialised once. Only one grid is held
// at a time.
struct PreparedWorkload {
    Isa isa = Isa::sse2;
    std::uint64_t size = 0;
    std::unique_ptr<Workload> workload;
};

PreparedWorkload& prepared() {
    static PreparedWorkload slot;
    return slot;
}

// The workload for (isa, size), ready to step, or the reason there is none.
MaybeError prepare(Isa isa, std::uint64_t size) {
    PreparedWorkload& slot = prepared();
    if (slot.workload && slot.isa == isa && slot.size == size) {
        return {};
    }
    slot.workload.reset();
    std::unique_ptr<Workload> workload = create_workload("standing_wave", isa_name(isa), 0);
    if (!workload) {
        return "no standing_wave workload for " + std::string(isa_name(isa));
    }
    const bool large_pages = false;
    if (MaybeError error = workload->allocate(GridParams{large_pages, size, 0.01})) {
        return error;
    }
    if (MaybeError error = workload->initialize()) {
        return error;
    }
    slot.isa = isa;
    slot.size = size;
    slot.workload = std::move(workload);
    return {};
}

// Failure texts may span lines ("... not detected\n" per missing feature);
// the benchmark report wants one line.
std::string one_line(const std::string& text) {
    std::string line;
    for (char c : text) {
        if (c == '\n') {
            line += line.empty() ? "" : "; ";
        } else {
            line += c;
        }
    }
    while (line.size() >= 2 && line.compare(line.size() - 2, 2, "; ") == 0) {
        line.resize(line.size() - 2);
    }
    return line;
}

void solver_step(benchmark::State& state, Isa isa, std::uint64_t size) {
    if (MaybeError unsupported = check_isa_support(isa_name(isa))) {
        state.SkipWithError(one_line(unsupported.text()).c_str());
        return;
    }
    if (MaybeError error = prepare(isa, size)) {
        state.SkipWithError(one_line(error.text()).c_str());
        return;
    }
    Workload& workload = *prepared().workload;
    for (auto _ : state) {
        if (MaybeError error = workload.step()) {
            state.SkipWithError(one_line(error.text()).c_str());
            break;
        }
    }
    const double updates = static_cast<double>(workload.updates_per_iteration()) *
                           static_cast<double>(state.iterations());
    state.counters["MGups"] = benchmark::Counter(updates / 1e6, benchmark::Counter::kIsRate);
}

}  // namespace
}  // namespace nembo

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    for (std::uint32_t i = 0; i < nembo::isa_count; ++i) {
        const auto isa = static_cast<nembo::Isa>(i);
        for (std::uint64_t size : nembo::grid_sizes) {
            const std::string name =
                "solver_step/" + std::string(nembo::isa_name(isa)) + "/" + std::to_string(size);
            benchmark::RegisterBenchmark(name.c_str(), nembo::solver_step, isa, size)
                ->Unit(benchmark::kMillisecond)
                ->UseRealTime();
        }
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    nembo::prepared().workload.reset();
    return 0;
}

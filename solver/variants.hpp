#pragma once
// The solver's instruction-set builds. variant.cpp is compiled once per code
// shape into its own namespace; each build exports the functions below. Only
// plain functions and plain structs cross between a build and baseline code,
// so nothing compiled for one instruction set can be merged into another.
#include <cstdint>

#include "solver/grid.hpp"
#include "solver/isa.hpp"
#include "solver/maybe_error.hpp"
#include "solver/schedule.hpp"
#include "solver/workload.hpp"

namespace nembo {

// One row of the soft Gaussian's table of expected energy ratios.
struct RatioRow {
    double expected;
    double tolerance;
};

// A view into a workload's state for tests; members that the workload does
// not have are null.
struct WorkloadProbe {
    YeeGrid* grid;
    bool* grid_ready;
    double* initial_energy;        // standing wave
    double** node_reference;       // standing wave, (*lattice)^3 elements
    const std::uint64_t* lattice;  // standing wave, nodes per axis
    double* injected_energy;       // soft Gaussian
};

#define NEMBO_VARIANT_EXPORTS                                                          \
    Workload* make_standing_wave(std::uint32_t thread_index);                          \
    Workload* make_soft_gaussian(std::uint32_t thread_index);                          \
    bool update_h(YeeGrid& grid);                                                      \
    bool update_e(YeeGrid& grid);                                                      \
    double node_energy(const YeeGrid& grid, std::uint64_t x, std::uint64_t y, std::uint64_t z); \
    double total_energy(const YeeGrid& grid);                                          \
    RatioRow ratio_row(std::uint64_t step);                                            \
    WorkloadProbe probe_workload(Workload& workload);                                  \
    void use_schedule(Workload& workload, Schedule schedule);                          \
    Schedule stepping_schedule(const Workload& workload);                              \
    ScheduleChoice schedule_calibration(const Workload& workload);

namespace isa_sse2 { NEMBO_VARIANT_EXPORTS }
namespace isa_avx { NEMBO_VARIANT_EXPORTS }
namespace isa_fma { NEMBO_VARIANT_EXPORTS }
namespace isa_fma_apx { NEMBO_VARIANT_EXPORTS }
namespace isa_avx512 { NEMBO_VARIANT_EXPORTS }
namespace isa_avx512vl { NEMBO_VARIANT_EXPORTS }

#undef NEMBO_VARIANT_EXPORTS

// The exports of the build that runs a variant (avx and avx2 share one, and
// so do avx512f with avx10-2-512 and avx512vl with avx10-2-256).
struct VariantFunctions {
    Workload* (*make_standing_wave)(std::uint32_t);
    Workload* (*make_soft_gaussian)(std::uint32_t);
    bool (*update_h)(YeeGrid&);
    bool (*update_e)(YeeGrid&);
    double (*node_energy)(const YeeGrid&, std::uint64_t, std::uint64_t, std::uint64_t);
    double (*total_energy)(const YeeGrid&);
    RatioRow (*ratio_row)(std::uint64_t);
    WorkloadProbe (*probe_workload)(Workload&);
    // The schedule a workload of this build sweeps with. initialize() times
    // the candidates and keeps the fastest (schedule_calibration tells how
    // that went); use_schedule, after initialize(), makes every later step()
    // sweep with the given one instead, on the same grid, until it is called
    // again. The benchmark's schedule comparison and the schedule tests force
    // a schedule this way and no other.
    void (*use_schedule)(Workload&, Schedule);
    Schedule (*stepping_schedule)(const Workload&);
    ScheduleChoice (*schedule_calibration)(const Workload&);
};

const VariantFunctions& variant_functions(Isa isa);

// Failure texts, built here in baseline code for every build.
// prefix followed by the thread index in decimal.
MaybeError thread_failure(const char* prefix, std::uint32_t thread_index);
// title, thread index, then first_label value, second_label value and
// "\nratio = " ratio, each value formatted as printf's "%f".
MaybeError validation_failure(const char* title, std::uint32_t thread_index, const char* first_label,
                              double first, const char* second_label, double second, double ratio);

}  // namespace nembo

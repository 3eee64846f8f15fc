#include "solver/schedule.hpp"

#include <algorithm>
#include <chrono>

namespace nembo {

const char* schedule_name(Schedule schedule) {
    switch (schedule) {
    case Schedule::plain:
        return "plain";
    case Schedule::prefetch:
        return "prefetch";
    case Schedule::groups:
        return "groups";
    case Schedule::groups_prefetch:
        return "groups+prefetch";
    }
    return "plain";
}

std::uint64_t calibration_planes(std::uint64_t edge) {
    if (edge < 4) return 0;
    const std::uint64_t updated = edge - 3;
    const std::uint64_t plane = edge * edge;
    std::uint64_t planes = (calibration_slab_cells + plane - 1) / plane;
    planes = (planes + 3) / 4 * 4;
    return std::min(planes, updated);
}

ScheduleChoice choose_schedule(const double* times, std::uint32_t rounds) {
    ScheduleChoice choice;
    const std::uint32_t used = std::min(rounds, calibration_max_rounds);
    choice.rounds = used;
    if (used == 0) return choice;
    for (std::uint32_t s = 0; s < schedule_count; ++s) {
        double fastest = times[s];
        for (std::uint32_t r = 1; r < used; ++r) fastest = std::min(fastest, times[r * schedule_count + s]);
        choice.fastest_s[s] = fastest;
        if (fastest < choice.fastest_s[static_cast<std::uint32_t>(choice.picked)]) {
            choice.picked = static_cast<Schedule>(s);
        }
    }
    return choice;
}

double schedule_clock_seconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

}  // namespace nembo

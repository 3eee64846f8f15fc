#include "solver/schedule.hpp"

#include <algorithm>
#include <chrono>
#include <utility>

namespace nembo {

const char* schedule_name(Schedule schedule) {
    const auto row = static_cast<std::uint32_t>(schedule);
    return row < schedule_count ? schedule_table[row].name : "unknown";
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
    double relative[calibration_max_rounds][schedule_count];
    for (std::uint32_t r = 0; r < used; ++r) {
        double mean = 0.0;
        for (std::uint32_t s = 0; s < schedule_count; ++s) mean += times[r * schedule_count + s];
        mean /= schedule_count;
        for (std::uint32_t s = 0; s < schedule_count; ++s) {
            relative[r][s] = mean > 0.0 ? times[r * schedule_count + s] / mean : 1.0;
        }
    }
    for (std::uint32_t s = 0; s < schedule_count; ++s) {
        double column[calibration_max_rounds];
        for (std::uint32_t r = 0; r < used; ++r) column[r] = relative[r][s];
        // Insertion sort: a handful of values (std::sort here draws a false
        // array-bounds warning from GCC 12).
        for (std::uint32_t i = 1; i < used; ++i) {
            for (std::uint32_t j = i; j > 0 && column[j] < column[j - 1]; --j) std::swap(column[j], column[j - 1]);
        }
        const std::uint32_t mid = used / 2;
        choice.relative[s] = used % 2 == 1 ? column[mid] : 0.5 * (column[mid - 1] + column[mid]);
        if (choice.relative[s] < choice.relative[static_cast<std::uint32_t>(choice.picked)]) {
            choice.picked = schedule_table[s].schedule;
        }
    }
    return choice;
}

double schedule_clock_seconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

}  // namespace nembo

#include "app/results.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <iostream>
#include <new>

#include "platform/cpu.hpp"

namespace nembo {

namespace {

constexpr std::uint64_t hwbot_min_size = 192;
constexpr std::uint32_t hwbot_duration_s = 30;
constexpr std::string_view hwbot_workload = "standing_wave";
constexpr std::int64_t timer_tolerance_ms = 31;
constexpr double score_display_threshold = 100.0;

double seconds_of(const ThreadResult& r) { return static_cast<double>(r.fast_us) / 1000000.0; }
double rate_of(const ThreadResult& r) { return (static_cast<double>(r.grid_updates) / 1000000.0) / seconds_of(r); }

}  // namespace

std::vector<std::string> hwbot_rule_violations(std::uint64_t size, std::uint32_t duration_s,
                                               std::string_view workload) {
    std::vector<std::string> violations;
    if (size < hwbot_min_size) {
        violations.push_back(fmt::format("grid size {} is below the minimum of {}", size, hwbot_min_size));
    }
    if (duration_s != hwbot_duration_s) {
        violations.push_back(fmt::format("configured duration {}s must be {}s for hwbot submissions", duration_s,
                                         hwbot_duration_s));
    }
    if (workload != hwbot_workload) {
        violations.push_back(fmt::format("workload {} must be {} for hwbot submissions", workload, hwbot_workload));
    }
    return violations;
}

std::string format_result_table(const std::vector<ThreadResult>& results) {
    using Row = std::array<std::string, 5>;
    std::vector<Row> rows;
    rows.push_back({"thread", "grid updates", "time", "MGups", "iterations"});
    for (const ThreadResult& r : results) {
        rows.push_back({fmt::format("{}", r.thread_index), fmt::format("{}", r.grid_updates),
                        fmt::format("{:.2f}s", seconds_of(r)), fmt::format("{:.2f}", rate_of(r)),
                        fmt::format("{}", r.iterations)});
    }
    std::array<std::size_t, 5> widths{};
    for (const Row& row : rows) {
        for (std::size_t c = 0; c < row.size(); ++c) widths[c] = std::max(widths[c], row[c].size());
    }
    std::string table;
    for (const Row& row : rows) {
        for (std::size_t c = 0; c < row.size(); ++c) {
            if (c > 0) table += "  ";
            table += fmt::format("{:>{}}", row[c], widths[c]);
        }
        table += '\n';
    }
    return table;
}

std::string format_score(double score) {
    return score > score_display_threshold ? fmt::format("{:.2f} MGups", score) : fmt::format("{:.4g} MGups", score);
}

namespace {

std::optional<double> report(const RunOutcome& outcome);

}  // namespace

std::optional<double> report_results(const RunOutcome& outcome) {
    try {
        return report(outcome);
    } catch (const std::bad_alloc&) {
        print_label_box(std::cerr, "invalid result");
        std::cerr << "not enough memory to report the results" << std::endl;
        return std::nullopt;
    }
}

namespace {

std::optional<double> report(const RunOutcome& outcome) {
    if (outcome.stop_requested) {
        print_label_box(std::cerr, "invalid result");
        return std::nullopt;
    }
    if (outcome.results.size() < outcome.thread_count) {
        print_label_box(std::cerr, "invalid result");
        std::cerr << "not all threads produced a result" << std::endl;
        return std::nullopt;
    }

    double score = 0.0;
    for (const ThreadResult& r : outcome.results) score += rate_of(r);

    const std::string table = format_result_table(outcome.results);
    for (std::size_t begin = 0; begin < table.size();) {
        const std::size_t end = table.find('\n', begin);
        std::cout << std::string_view(table).substr(begin, end - begin) << std::endl;
        begin = end + 1;
    }

    for (const ThreadResult& r : outcome.results) {
        const std::int64_t fast_ms = r.fast_us / 1000;
        const std::int64_t difference = std::llabs(fast_ms - r.coarse_ms);
        if (difference > timer_tolerance_ms) {
            print_label_box(std::cerr, "invalid result");
            std::cerr << "disagreement between timers for total work is larger than tolerance" << std::endl;
            std::cerr << fmt::format("fast timer = {}ms    coarse timer = {}ms", fast_ms, r.coarse_ms) << std::endl;
            std::cerr << fmt::format("difference of {}ms", difference) << std::endl;
            return std::nullopt;
        }
    }

    const std::vector<std::string> violations =
        hwbot_rule_violations(outcome.size, outcome.duration_s, outcome.workload);
    print_label_box(std::cout, violations.empty() ? "valid result" : "workload verified");
    std::cout << fmt::format("{}{} {} {}^3 grid {}", program_title, program_version, outcome.workload, outcome.size,
                             outcome.isa)
              << std::endl;
    std::cout << outcome.cpu_brand << std::endl;
    std::cout << "final score: " << format_score(score) << std::endl;

    if (!violations.empty()) {
        print_label_box(std::cout, "warning");
        std::cerr << "non default options used: ";
        for (const std::string& violation : violations) std::cerr << violation << std::endl;
        std::cerr << "this score is not valid for submission to hwbot" << std::endl;
    }
    return score;
}

}  // namespace

}  // namespace nembo

#pragma once
// The verdict of a run: the per-worker table, the timer cross-check, the
// score and the HWBOT submission rules.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/run.hpp"

namespace nembo {

inline constexpr std::string_view program_title = "nembo v";
inline constexpr std::string_view program_version = NEMBO_VERSION;  // the project version of the build

std::vector<std::string> hwbot_rule_violations(std::uint64_t size, std::uint32_t duration_s,
                                               std::string_view workload);

// The table of results, heading first, one line per row, each ending in "\n".
std::string format_result_table(const std::vector<ThreadResult>& results);

std::string format_score(double score);

std::optional<double> report_results(const RunOutcome& outcome);

}  // namespace nembo

#pragma once
// The one reader of the small text files of Linux's /proc and /sys trees
// (the topology, the system's limits, the clocksource, the benchmark's
// machine facts). Every caller reads under a root folder, "/" for this
// machine, so tests can hand in crafted trees. One policy: a file that is
// missing, unreadable or larger than a small file can be gives no answer,
// never an error.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace nembo {

// The whole text of a small file (at most 1 MiB). No exception leaves: the
// system's figures are asked for where memory may be short.
std::optional<std::string> read_small_file(const std::filesystem::path& path) noexcept;

// Its first line, without the line end and the blanks around it.
std::optional<std::string> read_first_line(const std::filesystem::path& path) noexcept;

// The value of one "Name:   123 kB" line of /proc/meminfo's text, in bytes
// ("kB" counts 1024; a value without unit, like HugePages_Total, as it
// stands); nothing when the line is missing or malformed.
std::optional<std::uint64_t> meminfo_value(std::string_view meminfo, std::string_view name);

}  // namespace nembo

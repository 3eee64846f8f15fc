// nembo_bench: the timed work against the machine's memory roofs, for both
// page sizes. Every table is built from measure() (engine.hpp); the options
// and how to read the tables are in docs/performance.md.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "bench/engine.hpp"
#include "bench/machine.hpp"
#include "bench/pinned_workers.hpp"
#include "bench/roofs.hpp"
#include "solver/grid.hpp"
#include "solver/isa.hpp"
#include "solver/schedule.hpp"

namespace nembo::bench {
namespace {

constexpr std::uint64_t variant_sizes[] = {64, 128, 192};
constexpr std::uint64_t schedule_sizes[] = {128, 192};
constexpr std::uint64_t large_page_sizes[] = {192};  // both tables, with 2 MiB pages
constexpr std::uint64_t loop_sizes[] = {64, 192};
constexpr int start_roof_rounds = 3;
constexpr int start_roof_passes = 4;

struct Settings {
    double seconds = 2.0;
    std::uint32_t rounds = 5;
    std::size_t bandwidth_mib = 1024;
    std::optional<Isa> schedule_isa;
    std::string variants;  // comma-separated; empty: all
    std::string tables = "variants,schedules,loop";
    std::string json;
};

bool listed(const std::string& list, std::string_view name) {
    std::size_t from = 0;
    while (from <= list.size()) {
        const std::size_t to = std::min(list.find(',', from), list.size());
        if (std::string_view(list).substr(from, to - from) == name) return true;
        from = to + 1;
    }
    return false;
}

// One measured span, as the tables print it and the JSON file holds it.
struct Row {
    const char* table;  // "variants", "schedules" or "loop"
    Setup setup;
    std::optional<Schedule> schedule;  // the forced one; nullopt: each workload's own pick
    int round = -1;                    // schedule comparison only
    SpanResult span;
    double in_place_share = 0.0;
    double shifted_share = 0.0;
    Roofs roofs;
    std::vector<Schedule> picks;  // each worker's own
    double calibration_s = 0.0;
    std::string error;
};

std::vector<Row> measure_rows(const char* table, const Setup& setup, const std::vector<Span>& spans, int round,
                              std::size_t roof_mib) {
    const Measurement m = measure(setup, spans, roof_mib);
    std::vector<Row> rows;
    for (std::size_t s = 0; s < spans.size(); ++s) {
        const double mgups = m.spans[s].mgups;
        rows.push_back(Row{table, setup, spans[s].schedule, round, m.spans[s], m.share_of_in_place(mgups),
                           m.share_of_shifted(mgups), m.roofs, m.picks, m.calibration_s, m.error});
    }
    return rows;
}

struct StartRoof {
    Pages pages;
    std::uint32_t workers;
    std::size_t mib;
    Roofs roofs;
};

double median(std::vector<double> values) {
    if (values.empty()) return 0.0;
    std::sort(values.begin(), values.end());
    const std::size_t mid = values.size() / 2;
    return values.size() % 2 == 1 ? values[mid] : 0.5 * (values[mid - 1] + values[mid]);
}

std::string isa_text(Isa isa) { return std::string(isa_name(isa)); }

// A row's schedule as the tables and the JSON file name it.
const char* schedule_text(const Row& row) { return row.schedule ? schedule_name(*row.schedule) : "picked"; }

// MiB per roof array for `workers` workers: the requested size, but the
// arrays of all workers together take at most half the free memory.
std::size_t roof_mib(std::size_t wanted, std::uint32_t workers) {
    const std::uint64_t available_mib = available_physical_memory() >> 20;
    if (available_mib == 0) return wanted;
    const std::uint64_t fit = std::max<std::uint64_t>(available_mib / (4 * std::uint64_t{workers}), 16);
    return static_cast<std::size_t>(std::min<std::uint64_t>(wanted, fit));
}

void print_roofs(const std::vector<StartRoof>& roofs) {
    std::printf(
        "\nroofs at the start, best of %d rounds of %d passes, %u bytes per update: the in-place update\n"
        "a[i] += s * b[i] and the shifted reference a[i] += s * (b[i + plane] - b[i]), one size-192\n"
        "plane apart (the same traffic, plus the third stream a sweep cannot avoid)\n",
        start_roof_rounds, start_roof_passes, static_cast<unsigned>(bytes_per_update));
    std::printf("%-6s %8s %10s %10s %10s %10s %9s %11s  %s\n", "pages", "workers", "in-place", "MGups", "shifted",
                "MGups", "shifted %", "huge pages", "arrays");
    for (const StartRoof& r : roofs) {
        if (!r.roofs.measured) {
            std::printf("%-6s %8u  the arrays could not be mapped\n", pages_name(r.pages), r.workers);
            continue;
        }
        std::printf("%-6s %8u %7.2f GB/s %10.1f %5.2f GB/s %10.1f %8.1f%% %10.0f%%  2 x %zu MiB each\n",
                    pages_name(r.pages), r.workers, r.roofs.in_place / 1e9, r.roofs.in_place_mgups(),
                    r.roofs.shifted / 1e9, r.roofs.shifted_mgups(), 100.0 * r.roofs.shifted / r.roofs.in_place,
                    100.0 * r.roofs.huge_share, r.mib);
        if (r.pages == Pages::large && r.roofs.huge_share < 0.9) {
            std::printf(
                "       the 2 MiB arrays got huge pages for only %.0f%% of their bytes (transparent huge\n"
                "       pages off?): this row is mostly a 4 KiB figure\n",
                100.0 * r.roofs.huge_share);
        }
    }
}

void print_variants(const std::vector<Row>& rows) {
    std::printf(
        "\nevery variant with the schedule its workloads picked (worker order); each row's roofs are\n"
        "measured by its workers with its page size just before and right after it (2 x %zu MiB each,\n"
        "best of %d rounds of %d passes each time, the better of the two)\n",
        row_roof_mib, row_roof_rounds, row_roof_passes);
    std::printf("%-12s %5s %8s %6s %9s %9s %7s %9s %7s  %-18s %s\n", "variant", "size", "workers", "pages", "MGups",
                "roof", "% roof", "shifted", "% shift", "schedule", "calibration");
    for (const Row& r : rows) {
        if (std::strcmp(r.table, "variants") != 0) continue;
        std::printf("%-12s %5llu %8u %6s", isa_text(r.setup.isa).c_str(), static_cast<unsigned long long>(r.setup.size),
                    r.setup.workers, pages_name(r.setup.pages));
        if (!r.error.empty()) {
            std::printf("  %s\n", r.error.c_str());
            continue;
        }
        std::printf(" %9.1f %9.1f %6.1f%% %9.1f %6.1f%%  %-18s %.2f s\n", r.span.mgups, r.roofs.in_place_mgups(),
                    100.0 * r.in_place_share, r.roofs.shifted_mgups(), 100.0 * r.shifted_share,
                    picks_text(r.picks).c_str(), r.calibration_s);
    }
}

// The medians over the rounds of one (size, workers, pages) of the schedule
// comparison, from its rows.
void print_schedule_line(const std::vector<Row>& rows, const Setup& setup) {
    constexpr std::uint32_t entries = schedule_count + 1;  // the rows of schedule_table, then the pick
    std::vector<double> rates[entries];
    std::vector<double> shares[entries];
    std::vector<double> shifted_shares[entries];
    std::vector<Schedule> picks;  // every worker's in every round
    std::string error;
    for (const Row& r : rows) {
        if (std::strcmp(r.table, "schedules") != 0 || r.setup.size != setup.size || r.setup.workers != setup.workers ||
            r.setup.pages != setup.pages) {
            continue;
        }
        if (!r.error.empty()) error = r.error;
        // A schedule's enumerator is its row in schedule_table.
        const std::uint32_t e = r.schedule ? static_cast<std::uint32_t>(*r.schedule) : schedule_count;
        rates[e].push_back(r.span.mgups);
        shares[e].push_back(r.in_place_share);
        shifted_shares[e].push_back(r.shifted_share);
        if (e == schedule_count) picks.insert(picks.end(), r.picks.begin(), r.picks.end());
    }
    std::printf("%5llu %8u %6s", static_cast<unsigned long long>(setup.size), setup.workers, pages_name(setup.pages));
    if (!error.empty()) {
        std::printf("  %s\n", error.c_str());
        return;
    }
    for (std::uint32_t e = 0; e < entries; ++e) {
        char cell[40];
        std::snprintf(cell, sizeof(cell), "%.1f (%.0f/%.0f%%)", median(rates[e]), 100.0 * median(shares[e]),
                      100.0 * median(shifted_shares[e]));
        std::printf(" %20s", cell);
    }
    // The pick against plain and against the best candidate (highest median
    // rate), each a median over the rounds of the ratio within a round.
    std::uint32_t best = 0;
    for (std::uint32_t s = 1; s < schedule_count; ++s) {
        if (median(rates[s]) > median(rates[best])) best = s;
    }
    std::vector<double> vs_plain;
    std::vector<double> vs_best;
    for (std::size_t i = 0; i < rates[schedule_count].size(); ++i) {
        if (rates[0][i] > 0.0) vs_plain.push_back(rates[schedule_count][i] / rates[0][i]);
        if (rates[best][i] > 0.0) vs_best.push_back(rates[schedule_count][i] / rates[best][i]);
    }
    std::printf(" %+8.1f%% %+8.1f%% ", 100.0 * (median(vs_plain) - 1.0), 100.0 * (median(vs_best) - 1.0));
    for (const ScheduleRow& candidate : schedule_table) {
        const auto count = std::count(picks.begin(), picks.end(), candidate.schedule);
        if (count > 0) std::printf(" %s x%lld", candidate.name, static_cast<long long>(count));
    }
    std::printf("\n");
}

void print_loop(const std::vector<Row>& rows) {
    std::printf("\ntimed loop, one reporting worker: time per iteration and the share outside step()\n");
    std::printf("%-12s %5s %10s %12s %12s %12s %10s\n", "variant", "size", "iterations", "iteration", "step()",
                "check_step", "outside");
    for (const Row& r : rows) {
        if (std::strcmp(r.table, "loop") != 0) continue;
        std::printf("%-12s %5llu", isa_text(r.setup.isa).c_str(), static_cast<unsigned long long>(r.setup.size));
        if (!r.error.empty()) {
            std::printf("  %s\n", r.error.c_str());
            continue;
        }
        const SpanResult& s = r.span;
        std::printf(" %10llu %9.3f ms %9.3f ms %9.3f ms %9.3f%%\n", static_cast<unsigned long long>(s.iterations),
                    s.iteration_s * 1e3, s.step_s * 1e3, s.check_s * 1e3,
                    s.iteration_s > 0.0 ? 100.0 * (s.iteration_s - s.step_s) / s.iteration_s : 0.0);
    }
}

std::string json_string(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof(escaped), "\\u%04x", static_cast<unsigned>(c));
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

bool write_json(const std::string& path, const Machine& machine, const Settings& settings,
                const std::vector<StartRoof>& roofs, const std::vector<Row>& rows) {
    std::FILE* f = std::fopen(path.c_str(), "w");
    if (f == nullptr) return false;
    std::fprintf(f,
                 "{\n  \"machine\": {\"brand\": %s, \"caches\": %s, "
                 "\"clocksource\": %s, \"thp\": %s, \"all_workers\": %u},\n",
                 json_string(machine.brand).c_str(), json_string(machine.caches).c_str(),
                 json_string(machine.clocksource).c_str(), json_string(machine.thp).c_str(), all_workers());
    std::fprintf(f, "  \"settings\": {\"seconds\": %g, \"rounds\": %u, \"row_roof_mib\": %zu},\n", settings.seconds,
                 settings.rounds, row_roof_mib);
    std::fprintf(f, "  \"roofs\": [");
    for (std::size_t i = 0; i < roofs.size(); ++i) {
        const StartRoof& r = roofs[i];
        std::fprintf(f,
                     "%s\n    {\"pages\": \"%s\", \"workers\": %u, \"mib\": %zu, \"in_place_gbs\": %.3f, "
                     "\"shifted_gbs\": %.3f, \"huge_share\": %.3f}",
                     i == 0 ? "" : ",", pages_name(r.pages), r.workers, r.mib, r.roofs.in_place / 1e9,
                     r.roofs.shifted / 1e9, r.roofs.huge_share);
    }
    std::fprintf(f, "\n  ],\n  \"rows\": [");
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const Row& r = rows[i];
        std::fprintf(f,
                     "%s\n    {\"table\": \"%s\", \"variant\": \"%s\", \"size\": %llu, \"workers\": %u, "
                     "\"pages\": \"%s\", \"schedule\": \"%s\", \"round\": %d, \"mgups\": %.2f, "
                     "\"roof_mgups\": %.2f, \"shifted_mgups\": %.2f, \"roof_share\": %.4f, \"shifted_share\": %.4f, "
                     "\"roof_huge_share\": %.3f, \"picks\": \"%s\", \"calibration_s\": %.3f",
                     i == 0 ? "" : ",", r.table, isa_text(r.setup.isa).c_str(),
                     static_cast<unsigned long long>(r.setup.size), r.setup.workers, pages_name(r.setup.pages),
                     schedule_text(r), r.round, r.span.mgups, r.roofs.in_place_mgups(), r.roofs.shifted_mgups(),
                     r.in_place_share, r.shifted_share, r.roofs.huge_share, picks_text(r.picks).c_str(),
                     r.calibration_s);
        if (std::strcmp(r.table, "loop") == 0) {
            std::fprintf(f, ", \"iterations\": %llu, \"iteration_s\": %.6f, \"step_s\": %.6f, \"check_s\": %.6f",
                         static_cast<unsigned long long>(r.span.iterations), r.span.iteration_s, r.span.step_s,
                         r.span.check_s);
        }
        std::fprintf(f, ", \"error\": %s}", json_string(r.error).c_str());
    }
    std::fprintf(f, "\n  ]\n}\n");
    return std::fclose(f) == 0;
}

// "--name=value": true, and the value in `value`, when arg is that option.
bool option(const std::string& arg, const char* name, std::string& value) {
    const std::string prefix = std::string("--") + name + "=";
    if (arg.compare(0, prefix.size(), prefix) != 0) return false;
    value = arg.substr(prefix.size());
    return true;
}

// This program's options; false on one it does not know or a bad value.
bool parse_options(int argc, char** argv, Settings& settings) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        std::string v;
        if (option(arg, "seconds", v)) {
            settings.seconds = std::atof(v.c_str());
            if (!(settings.seconds > 0.0)) return false;
        } else if (option(arg, "rounds", v)) {
            const long long rounds = std::atoll(v.c_str());
            if (rounds <= 0) return false;
            settings.rounds = static_cast<std::uint32_t>(rounds);
        } else if (option(arg, "schedule-isa", v)) {
            settings.schedule_isa = parse_isa(v);
            if (!settings.schedule_isa || check_isa_support(v)) return false;
        } else if (option(arg, "bandwidth-mib", v)) {
            const long long mib = std::atoll(v.c_str());
            if (mib <= 0) return false;
            settings.bandwidth_mib = static_cast<std::size_t>(mib);
        } else if (!option(arg, "variants", settings.variants) && !option(arg, "tables", settings.tables) &&
                   !option(arg, "json", settings.json)) {
            return false;
        }
    }
    return true;
}

double load_average() {
    double value = -1.0;
    return getloadavg(&value, 1) == 1 ? value : -1.0;
}

int run(const Settings& settings) {
    const double load_at_start = load_average();
    const Machine machine = read_machine();
    const std::uint32_t all = all_workers();
    std::vector<std::uint32_t> worker_counts{1};
    if (all > 1) worker_counts.push_back(all);
    std::printf("machine: \"%s\", caches %s, clocksource %s, transparent huge pages %s\n", machine.brand.c_str(),
                machine.caches.c_str(), machine.clocksource.c_str(), machine.thp.c_str());

    // The grids take 2 MiB pages only from the reserved pool (hugetlb).
    std::vector<Pages> grid_pages{Pages::small};
    const std::uint64_t needed = grid_huge_pages(large_page_sizes[0], all, machine.huge_page_bytes);
    if (needed != 0 && machine.huge_pages_free >= needed) {
        grid_pages.push_back(Pages::large);
    } else {
        std::printf(
            "large pages: %llu free, the grids need %llu; the tables below have 4 KiB pages only (as root, "
            "echo %llu > /proc/sys/vm/nr_hugepages adds 2 MiB rows)\n",
            static_cast<unsigned long long>(machine.huge_pages_free), static_cast<unsigned long long>(needed),
            static_cast<unsigned long long>(machine.huge_pages_total - machine.huge_pages_free + needed));
    }
    std::fflush(stdout);

    std::vector<StartRoof> roofs;
    for (Pages pages : {Pages::small, Pages::large}) {
        for (std::uint32_t workers : worker_counts) {
            const std::size_t mib = roof_mib(settings.bandwidth_mib, workers);
            roofs.push_back(StartRoof{pages, workers, mib,
                                      measure_roofs(workers, start_roof_rounds, start_roof_passes, mib, pages)});
        }
    }
    print_roofs(roofs);
    std::fflush(stdout);

    const std::size_t row_mib = roof_mib(settings.bandwidth_mib, all);
    std::vector<Row> rows;
    const auto add = [&](std::vector<Row> more) { rows.insert(rows.end(), more.begin(), more.end()); };
    if (listed(settings.tables, "variants")) {
        for (Pages pages : grid_pages) {
            for (const IsaVariant& variant : isa_variants) {
                if (!settings.variants.empty() && !listed(settings.variants, variant.name)) continue;
                if (check_isa_support(variant.name)) continue;
                for (std::uint64_t size : variant_sizes) {
                    if (pages == Pages::large && size != large_page_sizes[0]) continue;
                    for (std::uint32_t workers : worker_counts) {
                        add(measure_rows("variants", Setup{variant.isa, size, workers, pages},
                                         {Span{std::nullopt, settings.seconds, false}}, -1, row_mib));
                    }
                }
            }
        }
        print_variants(rows);
        std::fflush(stdout);
    }

    // The variant with the best single-worker rate at 192 with 4 KiB pages.
    Isa best = settings.schedule_isa.value_or(Isa::sse2);
    double best_rate = -1.0;
    for (const Row& r : rows) {
        if (settings.schedule_isa || r.setup.workers != 1 || r.setup.size != 192 || r.setup.pages != Pages::small)
            continue;
        if (r.span.mgups > best_rate) best = r.setup.isa;
        best_rate = std::max(best_rate, r.span.mgups);
    }

    if (listed(settings.tables, "schedules")) {
        std::printf(
            "\nschedules of %s, MGups, median of %u rounds (median shares of the round's roof and shifted\n"
            "reference); each round steps one set of grids under every schedule in turn, for half a span\n"
            "each, the order rotating; \"picked\" is what the workloads chose themselves, \"plain\" the\n"
            "baseline; \"vs plain\" and \"vs best\" are medians of the pick's rate against plain's and\n"
            "against the best candidate's (highest median) in the same round\n",
            isa_text(best).c_str(), settings.rounds);
        std::printf("%5s %8s %6s", "size", "workers", "pages");
        for (const ScheduleRow& candidate : schedule_table) std::printf(" %20s", candidate.name);
        std::printf(" %20s %9s %9s  %s\n", "picked", "vs plain", "vs best", "picks");
        for (Pages pages : grid_pages) {
            for (std::uint64_t size : schedule_sizes) {
                if (pages == Pages::large && size != large_page_sizes[0]) continue;
                for (std::uint32_t workers : worker_counts) {
                    const Setup setup{best, size, workers, pages};
                    for (std::uint32_t round = 0; round < settings.rounds; ++round) {
                        std::vector<Span> spans;
                        for (std::uint32_t k = 0; k <= schedule_count; ++k) {
                            const std::uint32_t e = (round + k) % (schedule_count + 1);
                            spans.push_back(
                                Span{e < schedule_count ? std::optional(schedule_table[e].schedule) : std::nullopt,
                                     settings.seconds / 2.0, false});
                        }
                        add(measure_rows("schedules", setup, spans, static_cast<int>(round), row_mib));
                    }
                    print_schedule_line(rows, setup);
                    std::fflush(stdout);
                }
            }
        }
    }

    if (listed(settings.tables, "loop")) {
        for (std::uint64_t size : loop_sizes) {
            add(measure_rows("loop", Setup{best, size, 1, Pages::small},
                             {Span{std::nullopt, settings.seconds * 1.5, true}}, -1, row_mib));
        }
        print_loop(rows);
    }

    std::printf(
        "\nload average (1 min) at the start %.2f, at the end %.2f, on %u workers: other work on the\n"
        "machine lowers the figures, the all-worker ones most\n",
        load_at_start, load_average(), all);
    if (!settings.json.empty()) {
        if (!write_json(settings.json, machine, settings, roofs, rows)) {
            std::fprintf(stderr, "could not write %s\n", settings.json.c_str());
            return 1;
        }
        std::printf("rows written to %s\n", settings.json.c_str());
    }
    return 0;
}

}  // namespace
}  // namespace nembo::bench

int main(int argc, char** argv) {
    nembo::bench::Settings settings;
    if (!nembo::bench::parse_options(argc, argv, settings)) {
        std::fprintf(
            stderr,
            "options: --seconds=S --rounds=R --schedule-isa=V --variants=V,... --tables=variants,schedules,loop\n"
            "--bandwidth-mib=M --json=FILE (numbers positive, variants ones this processor runs)\n");
        return 1;
    }
    return nembo::bench::run(settings);
}

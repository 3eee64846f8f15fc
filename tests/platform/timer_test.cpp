// Timer arithmetic, source classification, the HWBOT rule and the report.
#include <gtest/gtest.h>

#include <limits>

#include "platform/timer.hpp"

namespace nembo {
namespace {

constexpr std::int64_t max64 = std::numeric_limits<std::int64_t>::max();

TscInfo tsc(std::int64_t frequency, bool invariant = false) {
    TscInfo t;
    t.tsc_frequency = frequency;
    t.invariant = invariant;
    return t;
}

TimerInfo with_frequency(std::int64_t f) {
    TimerInfo info;
    info.report_frequency = f;
    return info;
}

TEST(TimerClassification, FixedFrequencySources) {
    const TscInfo t = tsc(3'000'000'000);
    EXPECT_EQ(classify_fast_timer(14'318'180, t), TimerSource::hpet);  // above 10 MHz, below 100 MHz
    EXPECT_EQ(classify_fast_timer(143'200'000, t), TimerSource::hpet);
    EXPECT_EQ(classify_fast_timer(143'100'000, t), TimerSource::tsc);  // just below the band: rule 6
    EXPECT_EQ(classify_fast_timer(3'579'545, t), TimerSource::acpi);
    EXPECT_EQ(classify_fast_timer(1'193'182, t), TimerSource::pit);
    EXPECT_EQ(classify_fast_timer(32'768'000, t), TimerSource::rtc);
    EXPECT_EQ(classify_fast_timer(32'000'000, t), TimerSource::rtc);
}

TEST(TimerClassification, TimeStampCounterCandidates) {
    // TSC / 1024 matches only when the TSC frequency is known.
    EXPECT_EQ(classify_fast_timer(2'929'687, tsc(3'000'000'000)), TimerSource::tsc);
    EXPECT_EQ(classify_fast_timer(2'929'687, tsc(3'000'000'000, true)), TimerSource::itsc);
    EXPECT_EQ(classify_fast_timer(2'929'687, tsc(0)), TimerSource::unknown);
    // Close to the TSC frequency itself.
    EXPECT_EQ(classify_fast_timer(3'000'500'000, tsc(3'000'000'000, true)), TimerSource::itsc);
    // Exactly 10 MHz: the candidate whatever the TSC frequency.
    EXPECT_EQ(classify_fast_timer(10'000'000, tsc(0, true)), TimerSource::itsc);
    EXPECT_EQ(classify_fast_timer(10'000'000, tsc(3'000'000'000)), TimerSource::tsc);
    // 100 MHz and up outside the HPET band: the candidate even far from the TSC.
    EXPECT_EQ(classify_fast_timer(100'000'000, tsc(3'000'000'000, true)), TimerSource::itsc);
    EXPECT_EQ(classify_fast_timer(143'300'000, tsc(0)), TimerSource::tsc);
    // Nothing matches.
    EXPECT_EQ(classify_fast_timer(9'999'999, tsc(0)), TimerSource::unknown);
    EXPECT_EQ(classify_fast_timer(0, tsc(0)), TimerSource::unknown);
    EXPECT_EQ(timer_source_name(static_cast<TimerSource>(7)), "unknown");
}

// Both edges of every band, and the first value outside each: a band that
// loses or gains one hertz at either end changes one of these.
TEST(TimerClassification, EdgesOfEveryBand) {
    struct Case {
        std::int64_t frequency;
        std::int64_t tsc_frequency;
        TimerSource source;
    };
    const TimerSource tsc_source = TimerSource::tsc;
    const Case cases[] = {
        {1'193'181, 0, TimerSource::unknown}, {1'193'182, 0, TimerSource::pit}, {1'193'183, 0, TimerSource::unknown},
        {31'999'999, 0, TimerSource::hpet},   {32'000'000, 0, TimerSource::rtc}, {32'000'001, 0, TimerSource::hpet},
        {32'767'999, 0, TimerSource::hpet},   {32'768'000, 0, TimerSource::rtc}, {32'768'001, 0, TimerSource::hpet},
        {3'578'999, 0, TimerSource::unknown}, {3'579'000, 0, TimerSource::acpi}, {3'579'999, 0, TimerSource::acpi},
        {3'580'000, 0, TimerSource::unknown},
        {143'100'000, 0, tsc_source},         {143'100'001, 0, TimerSource::hpet},
        {143'299'999, 0, TimerSource::hpet},  {143'300'000, 0, tsc_source},
        // Within a megahertz of the TSC itself (a 5 MHz counter here).
        {4'000'000, 5'000'000, TimerSource::unknown}, {4'000'001, 5'000'000, tsc_source},
        {5'999'999, 5'000'000, tsc_source},           {6'000'000, 5'000'000, TimerSource::unknown},
        // Within 100 kHz of TSC / 1024 (3 GHz / 1024 = 2,929,687).
        {2'829'687, 3'000'000'000, TimerSource::unknown}, {2'829'688, 3'000'000'000, tsc_source},
        {3'029'686, 3'000'000'000, tsc_source},           {3'029'687, 3'000'000'000, TimerSource::unknown},
        {99'999'999, 0, TimerSource::hpet},   {100'000'000, 0, tsc_source},
        {9'999'999, 0, TimerSource::unknown}, {10'000'000, 0, tsc_source},   {10'000'001, 0, TimerSource::hpet},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(classify_fast_timer(c.frequency, tsc(c.tsc_frequency)), c.source)
            << c.frequency << " Hz with a TSC of " << c.tsc_frequency << " Hz";
        // An invariant TSC turns every TSC verdict into iTSC and no other.
        const TimerSource invariant = c.source == TimerSource::tsc ? TimerSource::itsc : c.source;
        EXPECT_EQ(classify_fast_timer(c.frequency, tsc(c.tsc_frequency, true)), invariant) << c.frequency << " Hz";
    }
}

TEST(TimerElapsed, QuotientAndRemainderScaledApart) {
    const TimerInfo three = with_frequency(3);
    EXPECT_EQ(elapsed_milliseconds(three, 10, 12), 666);
    EXPECT_EQ(elapsed_seconds(three, 10, 12), 0);
    EXPECT_EQ(elapsed_microseconds(three, 12, 10), -666'666);

    const TimerInfo qpc = with_frequency(10'000'000);
    EXPECT_EQ(elapsed_microseconds(qpc, 0, std::int64_t{1} << 62), 461'168'601'842'738'790);
    EXPECT_EQ(elapsed_milliseconds(qpc, 5, 5 + 25'000'000), 2500);
}

TEST(TimerElapsed, DegenerateAndExtremeInputs) {
    EXPECT_EQ(elapsed_seconds(with_frequency(0), 0, 1000), 0);
    EXPECT_EQ(elapsed_milliseconds(with_frequency(-5), 0, 1000), 0);
    EXPECT_EQ(elapsed_microseconds(with_frequency(0), 0, 1000), 0);
    // A frequency beyond 9.2 THz would overflow a 64-bit remainder product.
    const TimerInfo huge = with_frequency(max64);
    EXPECT_EQ(elapsed_microseconds(huge, 0, max64 - 1), 999'999);
    EXPECT_EQ(elapsed_seconds(with_frequency(1), std::numeric_limits<std::int64_t>::min(), max64), -1);
}

TEST(TimerOverflow, Boundary) {
    const TimerInfo ms = with_frequency(1000);
    const std::int64_t now = max64 - 10'000;  // 10 seconds left
    EXPECT_TRUE(timer_will_overflow(ms, now, 12));
    EXPECT_TRUE(timer_will_overflow(ms, now, 10));
    EXPECT_FALSE(timer_will_overflow(ms, now, 9));
    EXPECT_FALSE(timer_will_overflow(ms, 0, 32));
    EXPECT_FALSE(timer_will_overflow(with_frequency(0), max64, 32));
    EXPECT_FALSE(timer_will_overflow(ms, std::numeric_limits<std::int64_t>::min(), 32));
}

TEST(TimerCompliance, Matrix) {
    const auto cpu = [](CpuVendor vendor, std::uint32_t model) {
        CpuInfo info;
        info.vendor = vendor;
        info.model = model;
        return info;
    };
    const auto source = [](TimerSource s) {
        TimerInfo info;
        info.source = s;
        return info;
    };
    // Older systems pass whatever the timer.
    EXPECT_TRUE(fast_timer_is_compliant(true, cpu(CpuVendor::unknown, 0), source(TimerSource::unknown)));
    // HPET passes for every vendor.
    for (CpuVendor v : {CpuVendor::intel, CpuVendor::amd, CpuVendor::unknown}) {
        EXPECT_TRUE(fast_timer_is_compliant(false, cpu(v, 0), source(TimerSource::hpet)));
    }
    const TimerInfo itsc = source(TimerSource::itsc);
    EXPECT_TRUE(fast_timer_is_compliant(false, cpu(CpuVendor::intel, 0x4E), itsc));
    EXPECT_FALSE(fast_timer_is_compliant(false, cpu(CpuVendor::intel, 0x4F), itsc));
    EXPECT_TRUE(fast_timer_is_compliant(false, cpu(CpuVendor::intel, 0x50), itsc));
    EXPECT_FALSE(fast_timer_is_compliant(false, cpu(CpuVendor::intel, 0x4D), itsc));
    EXPECT_FALSE(fast_timer_is_compliant(false, cpu(CpuVendor::amd, 0x61), itsc));
}

TEST(TscInfo, FromCrystalOrBaseFrequency) {
    CpuidTable t;
    t.set(0x80000007u, 0, {0, 0, 0, 1u << 8});
    t.set(0, 0, {0x14, 0, 0, 0});
    t.set(0x15, 0, {2, 176, 24'000'000, 0});
    TscInfo info = read_tsc_info(t);
    EXPECT_TRUE(info.invariant);
    EXPECT_EQ(info.tsc_frequency, 0);  // leaf 0x15 is beyond the maximum
    EXPECT_EQ(info.crystal_frequency, 0);

    t.set(0, 0, {0x16, 0, 0, 0});
    t.set(0x16, 0, {0xFFFF0000u | 3600u, 0, 0, 0});
    info = read_tsc_info(t);
    EXPECT_EQ(info.tsc_frequency, 2'112'000'000);
    EXPECT_EQ(info.crystal_frequency, 24'000'000);

    t.set(0x15, 0, {2, 176, 0, 0});  // no crystal: base frequency
    info = read_tsc_info(t);
    EXPECT_EQ(info.tsc_frequency, 3'600'000'000);
    EXPECT_EQ(info.crystal_frequency, 0);
}

TEST(CoarseTimer, TickFrequencyFallbacks) {
    const auto no_increment = []() -> std::optional<std::uint32_t> { return std::nullopt; };
    const auto increment = [](std::uint32_t v) {
        return [v]() -> std::optional<std::uint32_t> { return v; };
    };
    EXPECT_EQ(coarse_tick_frequency(156'250, no_increment), 64);
    EXPECT_EQ(coarse_tick_frequency(5'000, no_increment), 2000);
    EXPECT_EQ(coarse_tick_frequency(std::nullopt, increment(156'001)), 64);
    // A zero current resolution falls through to the adjustment increment.
    EXPECT_EQ(coarse_tick_frequency(0, increment(100'000)), 100);
    EXPECT_EQ(coarse_tick_frequency(0, increment(0)), 0);
    EXPECT_EQ(coarse_tick_frequency(std::nullopt, no_increment), 0);
}

TEST(CoarseTimer, ClocksourceFrequencies) {
    EXPECT_EQ(clocksource_frequency("tsc\n", 2'500'000'000), 2'500'000'000);
    EXPECT_EQ(clocksource_frequency("hpet", 1), 14'318'180);
    EXPECT_EQ(clocksource_frequency("acpi_pm\n", 1), 3'579'545);
    EXPECT_EQ(clocksource_frequency("kvm-clock", 1), 0);
}

TEST(TimerReport, Lines) {
    TimerReportInputs in;
    in.fast = {10'000'000, 10'000'000, TimerSource::itsc};
    in.coarse = {1000, 0, TimerSource::unknown};
    in.tsc = {true, 2'112'000'000, 24'000'000};
    in.cpu = {"Intel(R) Xeon(R) Processor", CpuVendor::intel, 6, 0x8F};
    in.compliant = true;
    const std::vector<std::string> expected{
        "Fast timer: iTSC",
        "underlying frequency: 10.00 MHz",
        "report frequency: 10.00 MHz",
        "Coarse timer: ",
        "underlying frequency: 0 Hz",
        "report frequency: 1.00 KHz",
        "",
        "tsc info:",
        "tsc: 2.11 GHz",
        "crystal: 24.00 MHz",
        "invariant: true",
        "",
        "Intel(R) Xeon(R) Processor",
        "Intel detected",
        "detected family: 6 model: 8f",
        "",
        "Fast timer is hwbot compliant",
    };
    EXPECT_EQ(timer_report_lines(in), expected);

    in.compliant = false;
    in.cpu.vendor = CpuVendor::unknown;
    const auto lines = timer_report_lines(in);
    ASSERT_EQ(lines.size(), 18u);
    EXPECT_EQ(lines[13], "unknown vendor");
    EXPECT_EQ(lines[16], "Fast timer is not compliant with HWBOT rules");
    EXPECT_EQ(lines[17],
              "Use --bypass-timer-check to run regardless if you are sure that this is a detection error in terms of "
              "your windows version, processor, or timer");
}

TEST(TimerFrequency, ARunShowsTheUnderlyingElseTheReportFrequency) {
    EXPECT_EQ(shown_frequency({1000, 64, TimerSource::unknown}), 64);
    EXPECT_EQ(shown_frequency({1000, 0, TimerSource::unknown}), 1000);
    EXPECT_EQ(shown_frequency({1'000'000'000, 14'318'180, TimerSource::hpet}), 14'318'180);
    EXPECT_EQ(format_frequency(shown_frequency({1000, 0, TimerSource::unknown})), "1.00 KHz");
    EXPECT_EQ(format_frequency(999), "999 Hz");
}

TEST(Timers, ThisSystemDescribesBothClocks) {
    const TimerInfo fast = describe_fast_timer();
    const TimerInfo coarse = describe_coarse_timer();
    EXPECT_GT(fast.report_frequency, 0);
    EXPECT_EQ(coarse.report_frequency, 1000);
    EXPECT_EQ(coarse.source, TimerSource::unknown);
    const std::int64_t a = read_fast_timer();
    const std::int64_t b = read_fast_timer();
    EXPECT_LE(a, b);
    EXPECT_GE(read_coarse_timer(), 0);
}

}  // namespace
}  // namespace nembo

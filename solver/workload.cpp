#include "solver/workload.hpp"

#include <cinttypes>
#include <cstdio>
#include <string>
#include <utility>

#include "solver/variants.hpp"

namespace nembo {

Workload::Workload(std::uint32_t index) noexcept : thread_index(index) {}

Workload::~Workload() = default;

MaybeError thread_failure(const char* prefix, std::uint32_t thread_index) {
    char number[16];
    std::snprintf(number, sizeof number, "%" PRIu32, thread_index);
    return MaybeError(std::string(prefix) + number);
}

MaybeError validation_failure(const char* title, std::uint32_t thread_index, const char* first_label,
                              double first, const char* second_label, double second, double ratio) {
#define NEMBO_VALIDATION_FORMAT "%s%" PRIu32 "%s%f%s%f\nratio = %f"
    const int length = std::snprintf(nullptr, 0, NEMBO_VALIDATION_FORMAT, title, thread_index, first_label, first,
                                     second_label, second, ratio);
    if (length <= 0) return MaybeError(title);
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    std::snprintf(text.data(), text.size(), NEMBO_VALIDATION_FORMAT, title, thread_index, first_label, first, second_label,
                  second, ratio);
#undef NEMBO_VALIDATION_FORMAT
    text.resize(static_cast<std::size_t>(length));
    return MaybeError(std::move(text));
}

}  // namespace nembo

#include "platform/system_files.hpp"

#include <cstdio>

#include "platform/text_fields.hpp"

namespace nembo {

namespace {

constexpr std::size_t small_file_limit = std::size_t{1} << 20;

}  // namespace

std::optional<std::string> read_small_file(const std::filesystem::path& path) noexcept {
    try {
        std::FILE* file = std::fopen(path.string().c_str(), "r");
        if (file == nullptr) return std::nullopt;
        std::string text;
        char buffer[8192];
        bool failed = false;
        for (;;) {
            const std::size_t got = std::fread(buffer, 1, sizeof buffer, file);
            text.append(buffer, got);
            if (text.size() > small_file_limit) {
                failed = true;  // no small file: a part of it would be wrong
                break;
            }
            if (got < sizeof buffer) {
                failed = std::ferror(file) != 0;
                break;
            }
        }
        std::fclose(file);
        if (failed) return std::nullopt;
        return text;
    } catch (...) {
        return std::nullopt;
    }
}

std::optional<std::string> read_first_line(const std::filesystem::path& path) noexcept {
    try {
        const std::optional<std::string> text = read_small_file(path);
        if (!text) return std::nullopt;
        return std::string(text_fields::trim(std::string_view(*text).substr(0, text->find('\n'))));
    } catch (...) {
        return std::nullopt;
    }
}

std::optional<std::uint64_t> meminfo_value(std::string_view meminfo, std::string_view name) {
    while (!meminfo.empty()) {
        const std::size_t end = meminfo.find('\n');
        std::string_view line = meminfo.substr(0, end);
        meminfo = end == std::string_view::npos ? std::string_view{} : meminfo.substr(end + 1);
        if (line.size() <= name.size() || line.substr(0, name.size()) != name || line[name.size()] != ':') continue;
        line = text_fields::trim(line.substr(name.size() + 1));
        std::uint64_t scale = 1;
        if (line.size() >= 2 && line.substr(line.size() - 2) == "kB") {
            scale = 1024;
            line = text_fields::trim(line.substr(0, line.size() - 2));
        }
        const auto value = text_fields::parse_decimal<std::uint64_t>(line);
        std::uint64_t bytes = 0;
        if (!value || __builtin_mul_overflow(*value, scale, &bytes)) return std::nullopt;
        return bytes;
    }
    return std::nullopt;
}

}  // namespace nembo

#include "app/illegal_instruction.hpp"

#include <algorithm>
#include <cstring>

namespace nembo {

namespace {
// Written before the workers start, read only by the fault handler.
char message[160];
std::size_t message_length = 0;
}  // namespace

std::size_t detail::set_illegal_instruction_message(std::string_view isa) {
    constexpr std::string_view head = "illegal instruction: this processor cannot execute the ";
    constexpr std::string_view tail = " instruction set; aborting";
    const std::size_t isa_room = sizeof(message) - head.size() - tail.size();
    const std::string_view name = isa.substr(0, std::min(isa.size(), isa_room));
    char* out = message;
    out = std::copy(head.begin(), head.end(), out);
    out = std::copy(name.begin(), name.end(), out);
    out = std::copy(tail.begin(), tail.end(), out);
    message_length = static_cast<std::size_t>(out - message);
    return message_length;
}

std::string_view illegal_instruction_message() { return {message, message_length}; }

}  // namespace nembo

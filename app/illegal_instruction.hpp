#pragma once
// A run may execute a solver build whose instructions this processor lacks
// (the support check only warns unless --strict-isa-check is given). Instead
// of dying with a raw crash, the process then prints one line naming the
// instruction set and exits with status 1.
#include <cstddef>
#include <string_view>

namespace nembo {

// Installs the process-wide handler (once) and sets the instruction set it
// names. Call before any worker starts.
void guard_illegal_instruction(std::string_view isa);

// The line the handler writes, without its line ending.
std::string_view illegal_instruction_message();

namespace detail {
// Fills the message buffer; returns its length. Shared by the OS backends.
std::size_t set_illegal_instruction_message(std::string_view isa);
}  // namespace detail

}  // namespace nembo

#include <signal.h>
#include <unistd.h>

#include "app/illegal_instruction.hpp"

namespace nembo {

namespace {

void on_illegal_instruction(int) {
    // Only async-signal-safe calls here.
    const std::string_view text = illegal_instruction_message();
    ssize_t ignored = write(STDERR_FILENO, text.data(), text.size());
    ignored = write(STDERR_FILENO, "\n", 1);
    (void)ignored;
    _exit(1);
}

}  // namespace

void guard_illegal_instruction(std::string_view isa) {
    detail::set_illegal_instruction_message(isa);
    static const bool installed = [] {
        struct sigaction action {};
        action.sa_handler = on_illegal_instruction;
        sigemptyset(&action.sa_mask);
        return sigaction(SIGILL, &action, nullptr) == 0;
    }();
    (void)installed;
}

}  // namespace nembo

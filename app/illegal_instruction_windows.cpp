#include <windows.h>

#include "app/illegal_instruction.hpp"

namespace nembo {

namespace {

LONG CALLBACK on_exception(PEXCEPTION_POINTERS info) {
    if (info->ExceptionRecord->ExceptionCode != EXCEPTION_ILLEGAL_INSTRUCTION) return EXCEPTION_CONTINUE_SEARCH;
    const std::string_view text = illegal_instruction_message();
    const HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
    if (err != INVALID_HANDLE_VALUE && err != nullptr) {
        DWORD written = 0;
        WriteFile(err, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        WriteFile(err, "\r\n", 2, &written, nullptr);
    }
    // Other threads may hold the C runtime's locks: end without running
    // any further code of this process.
    TerminateProcess(GetCurrentProcess(), 1);
    return EXCEPTION_CONTINUE_SEARCH;
}

}  // namespace

void guard_illegal_instruction(std::string_view isa) {
    detail::set_illegal_instruction_message(isa);
    static const bool installed = AddVectoredExceptionHandler(1, on_exception) != nullptr;
    (void)installed;
}

}  // namespace nembo

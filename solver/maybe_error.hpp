#pragma once
// The result of an operation that can fail: empty on success, otherwise the
// text of the failure, which the caller prints (or prefixes and prints).
//
// Every member is defined out of line, in baseline code: the solver's
// instruction-set variants construct and return these, and an inline copy
// emitted from a variant could otherwise be merged into baseline callers.
#include <string>

namespace nembo {

class MaybeError {
public:
    MaybeError() noexcept;
    MaybeError(std::string text);  // NOLINT: an error converts implicitly
    MaybeError(const char* text);  // NOLINT
    MaybeError(const MaybeError& other);
    MaybeError(MaybeError&& other) noexcept;
    MaybeError& operator=(const MaybeError& other);
    MaybeError& operator=(MaybeError&& other) noexcept;
    ~MaybeError();

    // True when the operation failed.
    explicit operator bool() const noexcept;
    bool has_error() const noexcept;
    // The failure text; empty on success.
    const std::string& text() const noexcept;

private:
    std::string text_;
    bool engaged_;
};

}  // namespace nembo

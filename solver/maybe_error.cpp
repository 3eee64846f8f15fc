#include "solver/maybe_error.hpp"

#include <utility>

namespace nembo {

MaybeError::MaybeError() noexcept : engaged_(false) {}
MaybeError::MaybeError(std::string text) : text_(std::move(text)), engaged_(true) {}
MaybeError::MaybeError(const char* text) : text_(text), engaged_(true) {}
MaybeError::MaybeError(const MaybeError& other) = default;
MaybeError::MaybeError(MaybeError&& other) noexcept
    : text_(std::move(other.text_)), engaged_(other.engaged_) {}
MaybeError& MaybeError::operator=(const MaybeError& other) = default;
MaybeError& MaybeError::operator=(MaybeError&& other) noexcept {
    text_ = std::move(other.text_);
    engaged_ = other.engaged_;
    return *this;
}
MaybeError::~MaybeError() = default;

MaybeError::operator bool() const noexcept { return engaged_; }
bool MaybeError::has_error() const noexcept { return engaged_; }
const std::string& MaybeError::text() const noexcept { return text_; }

}  // namespace nembo

#pragma once
// Captures what the code under test writes to std::cout and std::cerr.
#include <iostream>
#include <sstream>
#include <string>

namespace nembo::test {

class CapturedOutput {
public:
    CapturedOutput() : old_out_(std::cout.rdbuf(out_.rdbuf())), old_err_(std::cerr.rdbuf(err_.rdbuf())) {}
    ~CapturedOutput() {
        std::cout.rdbuf(old_out_);
        std::cerr.rdbuf(old_err_);
    }
    CapturedOutput(const CapturedOutput&) = delete;
    CapturedOutput& operator=(const CapturedOutput&) = delete;

    std::string out() const { return out_.str(); }
    std::string err() const { return err_.str(); }

private:
    std::ostringstream out_;
    std::ostringstream err_;
    std::streambuf* old_out_;
    std::streambuf* old_err_;
};

}  // namespace nembo::test

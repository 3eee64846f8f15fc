// The whole-program test program's entry.
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "tests/program/program_runner.hpp"

// Runs the tests, or skips them all (exit status 77) when the program they
// run, or its launcher, is not there: the Windows build may not be built in
// this tree.
int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    using nembo::test::env_or;
    for (const std::string& needed : {env_or("NEMBO_LAUNCHER", ""), env_or("NEMBO_COMMAND", "")}) {
        if (!needed.empty() && access(needed.c_str(), R_OK) != 0) {
            std::printf("skipped: %s is not built or not installed\n", needed.c_str());
            return 77;
        }
    }
    return RUN_ALL_TESTS();
}

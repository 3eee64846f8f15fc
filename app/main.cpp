#include <exception>
#include <iostream>
#include <new>

#include "app/entry.hpp"

int main(int argc, char** argv) {
    // Nothing is left to end the process with an exception: should memory
    // run out even before a run, the program says so and fails.
    try {
        return nembo::run_entry(argc, argv);
    } catch (const std::bad_alloc&) {
        std::cerr << "out of memory; aborting" << std::endl;
    } catch (const std::exception& error) {
        std::cerr << error.what() << "; aborting" << std::endl;
    }
    return 1;
}

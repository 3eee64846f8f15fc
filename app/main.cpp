#include "app/entry.hpp"

int main(int argc, char** argv) { return nembo::run_entry(argc, argv); }

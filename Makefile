# nembo: build, run and test. Every target first installs what a fresh
# Debian 12 machine lacks (cmake/install-deps.sh).
SHELL := /bin/bash
.DEFAULT_GOAL := build

JOBS ?= $(shell nproc)
FUZZ_SECONDS ?= 30

.PHONY: deps build windows run test bench fuzz clean

deps:
	@bash cmake/install-deps.sh

# preset -> configured and built tree
define configure_and_build
	cmake --preset $(1) >/dev/null
	cmake --build --preset $(1) -j $(JOBS) $(2)
endef

build: deps
	@$(call configure_and_build,release,--target nembo)

windows: deps
	@$(call configure_and_build,windows,--target nembo)

run: build
	@./build/release/nembo $(ARGS)

# Unit tests natively, under AddressSanitizer+UBSan, under ThreadSanitizer
# and, for the Windows build, under Wine; the whole-program tests of both
# binaries; then a bounded fuzzing run of the command line.
test: deps
	@$(call configure_and_build,windows)
	@$(call configure_and_build,release)
	ctest --preset release
	ctest --preset windows
	@$(call configure_and_build,asan)
	ctest --preset asan
	@$(call configure_and_build,tsan)
	ctest --preset tsan
	@$(MAKE) --no-print-directory fuzz

fuzz: deps
	@$(call configure_and_build,fuzz,--target fuzz_command_line)
	mkdir -p build/fuzz/corpus
	./build/fuzz/tests/fuzz/fuzz_command_line -max_total_time=$(FUZZ_SECONDS) -print_final_stats=0 build/fuzz/corpus tests/fuzz/corpus 2>build/fuzz/fuzz.log \
	  || { tail -n 60 build/fuzz/fuzz.log; exit 1; }
	@echo "fuzz_command_line: $$(grep -c . build/fuzz/fuzz.log) log lines, no crash, leak or sanitizer report in $(FUZZ_SECONDS) s"

# Every solver variant this processor runs against the memory ceiling, and
# the timed loop's overhead; one table at the end. BENCH_ARGS passes options
# on, e.g. BENCH_ARGS=--seconds=5 or BENCH_ARGS=--benchmark_filter=avx512.
bench: deps
	@$(call configure_and_build,release,--target nembo_bench)
	./build/release/bench/nembo_bench $(BENCH_ARGS)

clean:
	rm -rf build

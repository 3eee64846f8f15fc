# nembo: build, run, test, benchmark and package. Each target first installs
# what a fresh Debian 12 machine lacks for it, and only that
# (cmake/install-deps.sh).
SHELL := /bin/bash
.DEFAULT_GOAL := build

JOBS ?= $(shell nproc)
# The fuzzing run's work: a number of inputs, not seconds, so that a loaded
# machine fuzzes as much as an idle one (an idle 2-core machine runs about
# 280,000 in 30 s).
FUZZ_RUNS ?= 300000

.PHONY: build windows run test bench fuzz dist clean

# deps,target -> the packages that target needs, installed when missing
deps = @bash cmake/install-deps.sh $(1)

# preset -> configured and built tree
define configure_and_build
	cmake --preset $(1) >/dev/null
	cmake --build --preset $(1) -j $(JOBS) $(2)
endef

# The programs as they ship (presets dist-linux and dist-windows), without
# the tests: build/dist-linux/nembo and build/dist-windows/nembo.exe.
build:
	$(call deps,build)
	@$(call configure_and_build,dist-linux,--target nembo)

windows:
	$(call deps,windows)
	@$(call configure_and_build,dist-windows,--target nembo)

run: build
	@./build/dist-linux/nembo $(ARGS)

# Unit tests natively, under AddressSanitizer+UBSan, under ThreadSanitizer
# and, for the Windows build, under Wine; the whole-program tests of both
# binaries; then a bounded fuzzing run of the command line. Ends with the
# time each phase took (cmake/test.sh).
test:
	$(call deps,test)
	@bash cmake/test.sh $(JOBS) $(FUZZ_RUNS)

fuzz:
	$(call deps,test)
	@$(call configure_and_build,fuzz,--target fuzz_command_line)
	mkdir -p build/fuzz/corpus
	./build/fuzz/tests/fuzz/fuzz_command_line -runs=$(FUZZ_RUNS) -print_final_stats=0 build/fuzz/corpus tests/fuzz/corpus 2>build/fuzz/fuzz.log \
	  || { tail -n 60 build/fuzz/fuzz.log; exit 1; }
	@echo "fuzz_command_line: $$(grep -c . build/fuzz/fuzz.log) log lines, no crash, leak or sanitizer report in $(FUZZ_RUNS) runs"

# Every solver variant this processor runs, the sweep schedules and the timed
# loop's overhead, against the memory roofs of both page sizes
# (docs/performance.md). BENCH_ARGS passes options on, e.g.
# BENCH_ARGS="--seconds=5 --variants=fma,avx2 --json=bench.json".
bench:
	$(call deps,bench)
	@$(call configure_and_build,release,--target nembo_bench)
	./build/release/bench/nembo_bench $(BENCH_ARGS)

# Release packages in dist/: the Windows zip, the Linux tarball, the Debian
# package, the build-info file, the commit's source and Debian's source
# package of the glibc linked in (fetched through APT), and SHA256SUMS, the
# same bytes from any checkout of one commit.
dist:
	$(call deps,dist)
	@$(call configure_and_build,dist-linux,--target nembo)
	@$(call configure_and_build,dist-windows,--target nembo)
	@bash cmake/dist.sh

clean:
	rm -rf build dist

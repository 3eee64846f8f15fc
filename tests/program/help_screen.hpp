#pragma once
#include <string>

namespace nembo::test {

// The help screen, with @EXE@ standing for the executable's file name.
inline const std::string help_screen = R"HELP(USAGE:
  @EXE@ [-?|-h|--help] [-n|--numthreads <numthreads>] [-d|--duration <duration>] [-s|--size <size>] [--isa <isa>] [--strict-isa-check] [--threading <threading>] [--large-pages] [--bypass-timer-check] [--topo-debug] [--timer-debug] [--nembo]

Display usage information.

OPTIONS, ARGUMENTS:
  -?, -h, --help          
  -n, --numthreads <numthreads>
                          Number of threads to use [default: 0]
  -d, --duration <duration>
                          Bench duration (s) between 1-1000s [default: 30]
  -s, --size <size>       Grid size, one of [64, 128, 192, 256, 320, 384, 448, 512, 640, 768, 1024, 2048, 4096, 8192] [default: 192]
  --isa <isa>             Instruction set to use for workload/solver, one of [sse2, avx, avx2, fma, fma-apx, avx512f, avx512vl, avx10-2-256, avx10-2-512] [default: sse2]
  --strict-isa-check      Don't try to run if the ISA support check fails
  --threading <threading> Threading manager to use [default: os]
  --large-pages           Use large pages allocator
  --bypass-timer-check    Run the bench even if the timer is not HWBOT compliant
  --topo-debug            Print detected topology for debug
  --timer-debug           Printed detected timers
  --nembo                 

field size      memory used per thread
  64                 17.55 MiB
  128               134.09 MiB
  192               445.64 MiB
  256                 1.02 GiB
  320                 1.99 GiB
  384                 3.43 GiB
  448                 5.43 GiB
  512                 8.09 GiB
  640                15.77 GiB
  768                27.21 GiB
  1024               64.38 GiB
  2048              513.50 GiB
  4096                4.01 TiB
  8192               32.02 TiB
)HELP";

}  // namespace nembo::test

#pragma once
#include "app/run.hpp"

namespace nembo {

// One worker's whole life: pin, create, allocate, initialise, iterate for the
// duration, validate, report. Returns normally on every path, also when
// memory runs out.
void worker_main(WorkerContext context) noexcept;

}  // namespace nembo

// Shared by the fuzz targets: a failed invariant, and a fresh simulated
// process for each input.
#pragma once

#include <cstdio>
#include <cstdlib>

#include "frame/process.h"
#include "sim/sim.h"

// An invariant that does not hold ends the run as a crash, which libFuzzer
// reports with the input that caused it.
#define FUZZ_CHECK(condition)                                                                                          \
    do {                                                                                                               \
        if (!(condition)) {                                                                                            \
            std::fprintf(stderr, "%s:%d: invariant failed: %s\n", __FILE__, __LINE__, #condition);                     \
            std::abort();                                                                                              \
        }                                                                                                              \
    } while (false)

// The state of a process that start-up has just prepared.
inline void fresh_process()
{
    sim::reset();
    init_services();
    sim::clear_calls();
}

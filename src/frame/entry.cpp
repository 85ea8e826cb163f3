// The process entry: hands the main sequence to the start-up.
//
// It keeps the C runtime's usual start-up, which runs the global constructors,
// pseudo-relocations and thread-local set-up that the C++ code needs. On
// Windows that start-up's own app type, fault filter, FPU and argument steps
// run first, and start_process then repeats them in the settled order, so what
// is in force when the main sequence runs is ours.
#include "app/main_sequence.h"
#include "frame/process.h"

namespace {

int32_t run_main_sequence()
{
    main_sequence();
}

}  // namespace

int main()
{
    start_process(run_main_sequence);
}
